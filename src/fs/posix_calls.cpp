#include "fs/posix_calls.h"

#include <fcntl.h>

#include <cerrno>

#include "fs/platform.h"
#include "fs/windows_emulation.h"

namespace customhooks::fs::posix {

namespace {

Code CodeOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return Code::kNotFound;
    case EEXIST:
    case ENOTEMPTY:
      return Code::kExists;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ELOOP:
      return Code::kAccessDenied;
    case EBUSY:
    case ETXTBSY:
      return Code::kSharingViolation;
    case ENOSPC:
    case EDQUOT:
      return Code::kDiskFull;
    case EINVAL:
    case ENAMETOOLONG:
      return Code::kBadPath;
    case ENOMEM:
      return Code::kNoMemory;
    default:
      return Code::kFailed;
  }
}

}  // namespace

Status PosixError(const char* call, std::string_view path, int error) noexcept {
  return error == 0 ? Status() : CallFailure(CodeOf(error), call, path, "errno", static_cast<unsigned long>(error));
}

std::string Native(const std::u16string& path) {
  return platform::NativePath(emulation::EncodeUtf8(path.data(), path.size()));
}

bool SingleLinkFile(int fd) {
  struct stat info;
  return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1;
}

std::string ProcName(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

std::string DescriptorPath(int fd) {
  char target[4096];
  const ssize_t length = ::readlink(ProcName(fd).c_str(), target, sizeof target);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) return std::string();
  return std::string(target, static_cast<std::size_t>(length));
}

bool OnlyLinkIsEntry(int parent, const std::string& parentPath, const char* name, int fd,
                     const struct stat& counted) {
  if (counted.st_nlink != 1) return false;
  // A link count read while another process removes a second link may
  // already leave that link out. Renaming the entry onto itself takes the
  // folder's lock, so such a removal has ended after it; the name the file
  // was opened by then shows whether that removal took this very name.
  ::renameat(parent, name, parent, name);
  return !parentPath.empty() && DescriptorPath(fd) == parentPath + "/" + name;
}

}  // namespace customhooks::fs::posix
