// Files in folders that others can write, on POSIX: the folder held by its
// descriptor, and the open call a library's files go through, which opens
// names inside a checked folder relative to that descriptor.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "fs/platform.h"
#include "fs/posix_calls.h"

namespace customhooks::fs {
namespace {

using platform::CheckedFolder;
using platform::IsOwnFile;
using platform::IsOwnFolder;
using platform::OpenedFacts;
using posix::Descriptor;
using posix::DescriptorPath;
using posix::OnlyLinkIsEntry;
using posix::PosixError;

using OpenFunction = int (*)(const char*, int, int);

int PlainOpen(const char* path, int flags, int mode) { return ::open(path, flags, mode); }

// Written once, before the replacement is installed, and only read after.
OpenFunction forwardedOpen = PlainOpen;

}  // namespace

struct platform::CheckedFolder {
  int fd;
  OpenedFacts facts;
  std::string path;      // as the library names files in it, without a final "/"
  std::string realPath;  // as the system names the opened folder
};

namespace {

OpenedFacts FactsOf(const struct stat& info) {
  return {S_ISREG(info.st_mode), S_ISLNK(info.st_mode), static_cast<unsigned long>(info.st_nlink),
          static_cast<std::uint64_t>(info.st_dev), std::u16string()};
}

// The checked folder that directly holds `path`, or null.
CheckedFolder* HoldingFolder(const char* path) {
  CheckedFolder* folder = platform::ActiveCheckedFolder();
  if (folder == nullptr || path == nullptr) return nullptr;
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr || static_cast<std::size_t>(slash - path) != folder->path.size() ||
      folder->path.compare(0, folder->path.size(), path, folder->path.size()) != 0) {
    return nullptr;
  }
  return folder;
}

int CheckedOpen(const char* path, int flags, int mode) {
  CheckedFolder* folder = HoldingFolder(path);
  if (folder == nullptr) return forwardedOpen(path, flags, mode);
  const char* name = std::strrchr(path, '/') + 1;
  // O_NOFOLLOW also keeps O_CREAT from creating a file at a link's target,
  // and O_NONBLOCK keeps a pipe planted at the name from stalling the open
  // until a writer comes; a regular file opened so is then given the status
  // flags asked for (F_SETFL takes only those from `flags`), blocking as
  // asked.
  const int fd = ::openat(folder->fd, name, flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
  if (fd < 0) return fd;
  struct stat info;
  if (::fstat(fd, &info) != 0 || !IsOwnFile(FactsOf(info), folder->facts, std::u16string()) ||
      !OnlyLinkIsEntry(folder->fd, folder->realPath, name, fd, info) ||
      ((flags & O_NONBLOCK) == 0 && ::fcntl(fd, F_SETFL, flags) != 0)) {
    ::close(fd);
    errno = ELOOP;
    return -1;
  }
  return fd;
}

}  // namespace

namespace platform {

CheckedFolder* OpenCheckedFolder(const std::string& folder) {
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat info;
  if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !IsOwnFolder(FactsOf(info))) return nullptr;
  std::string realPath = DescriptorPath(fd.get());
  if (realPath.empty() || realPath[0] != '/') return nullptr;
  auto* checked = new (std::nothrow) CheckedFolder{-1, FactsOf(info), std::string(), std::string()};
  if (checked == nullptr) return nullptr;
  checked->path.swap(path);
  checked->realPath.swap(realPath);
  checked->fd = fd.Release();
  return checked;
}

void CloseCheckedFolder(CheckedFolder* folder) {
  if (folder == nullptr) return;
  ::close(folder->fd);
  delete folder;
}

Status RemoveFromCheckedFolder(const CheckedFolder& folder, const std::string& name, bool flush) {
  // unlinkat removes the name itself, whatever stands there, never what a
  // link leads to; a folder is refused (EISDIR).
  if (::unlinkat(folder.fd, name.c_str(), 0) != 0) {
    const int error = errno;
    return PosixError("unlinkat", folder.path + "/" + name, error);
  }
  if (flush && ::fsync(folder.fd) != 0) return PosixError("fsync", folder.path, errno);
  return Status();
}

const char* OpenCallName() { return "open"; }

SystemCall CheckedOpenCall() { return reinterpret_cast<SystemCall>(&CheckedOpen); }

void ForwardOpenCallTo(SystemCall original) {
  if (original != nullptr) forwardedOpen = reinterpret_cast<OpenFunction>(original);
}

}  // namespace platform

}  // namespace customhooks::fs
