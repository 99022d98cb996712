// The Env on POSIX: the results the Windows services give, built from
// POSIX calls. Special folders come from the environment, "\" is a
// separator, a file without write permission bits behaves as a read-only
// file, and folder listings come in NTFS order. Beside it: access lists in
// posix_access.cpp, folders that others can write in
// posix_shared_folder.cpp, the text and path functions in posix_text.cpp,
// and what they share in posix_calls.h. What the Windows services compute
// without the system is windows_emulation.cpp's.
#include <acl/libacl.h>
#include <dirent.h>
#include <pwd.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "fs/env.h"
#include "fs/files.h"
#include "fs/platform.h"
#include "fs/posix_calls.h"
#include "fs/windows_emulation.h"

namespace customhooks::fs {
namespace {

using posix::Descriptor;
using posix::Native;
using posix::PosixError;
using posix::SameFile;
using posix::SingleLinkFile;
using posix::UniqueFolder;

// ---- Files ---------------------------------------------------------------------

bool StatPath(const std::string& native, struct stat* info) { return ::stat(native.c_str(), info) == 0; }

// A plain file without any write permission bit: what Windows calls read-only.
bool ReadOnlyFile(const struct stat& info) { return !S_ISDIR(info.st_mode) && (info.st_mode & 0222) == 0; }

// Modes of what the module creates where its folder passes nothing down,
// set explicitly: the umask of whoever started the process must not make
// them writable by everyone (nor unreadable by the product). A folder with
// a default access list (a granted one) passes that down instead, as
// Windows passes inheritable entries down, and the system then ignores the
// umask.
constexpr mode_t kFolderMode = 0755;
constexpr mode_t kFileMode = 0644;

// Whether the folder holding `native` passes a default access list down:
// whether its stored list holds any entry past the list's 4-byte header.
bool PassesAccessDown(const std::string& native) {
  const std::size_t slash = native.find_last_of('/');
  const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : native.substr(0, slash);
  constexpr ssize_t kListHeaderBytes = 4;
  return ::getxattr(parent.c_str(), "system.posix_acl_default", nullptr, 0) > kListHeaderBytes;
}

// Gives a folder or file that this process has just created at `native`,
// opened as itself, its mode where nothing was passed down to it; one that
// another user put in its place is left alone.
void SetCreatedMode(int fd, const std::string& native, mode_t mode) {
  struct stat info;
  if (fd < 0 || ::fstat(fd, &info) != 0 || info.st_uid != ::geteuid() || PassesAccessDown(native)) return;
  ::fchmod(fd, mode);
}

// One folder, with kFolderMode or what its parent passes down.
bool MakeFolder(const std::string& native) {
  if (::mkdir(native.c_str(), 0777) != 0) return false;
  const int fd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  SetCreatedMode(fd, native, kFolderMode);
  if (fd >= 0) ::close(fd);
  return true;
}

// The folder and every missing parent (mkdir -p).
Status MakeChain(const std::string& native) {
  std::size_t position = 0;
  while (position != std::string::npos) {
    position = native.find('/', position + 1);
    const std::string prefix = native.substr(0, position);
    if (prefix.empty()) continue;
    if (!MakeFolder(prefix) && errno != EEXIST) return PosixError("mkdir", prefix, errno);
  }
  struct stat info;
  if (!StatPath(native, &info)) return PosixError("stat", native, errno);
  return S_ISDIR(info.st_mode) ? Status() : Status(Code::kExists);
}

bool WriteAll(int fd, const void* bytes, std::size_t size) {
  const char* data = static_cast<const char*>(bytes);
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    // A write that takes nothing sets no errno: it is reported as an I/O
    // error, never read as success.
    if (written == 0) errno = EIO;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

// The two files of a copy, opened, and their paths for its failures.
struct CopyEnds {
  int in;
  const std::string& from;
  int out;
  const std::string& to;
};

// Copies what remains of the source to the end of the target through a
// buffer.
Status CopyThroughBuffer(const CopyEnds& ends) {
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(ends.in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return PosixError("read", ends.from, errno);
    if (got == 0) return Status();
    if (!WriteAll(ends.out, buffer, static_cast<std::size_t>(got))) return PosixError("write", ends.to, errno);
  }
}

// Whether copy_file_range's error means only that the kernel or a file
// system can't copy these files itself (across file systems on older
// kernels, file systems without the call).
bool CopyRefused(int error) {
  return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP;
}

// Copies the source from its offset to the target from its offset: within
// the kernel, which spares the trip through user memory and may share
// blocks, or through a buffer where the kernel refuses. A first call that copies
// nothing may come from a file whose size the system does not know (as
// under /proc): the buffer then reads it to its end. Both move the files'
// offsets, so the buffer goes on where the kernel stopped.
Status CopyContent(const CopyEnds& ends) {
  constexpr std::size_t kLargestCall = std::size_t{1} << 30;
  bool copiedAny = false;
  for (;;) {
    const ssize_t copied = ::copy_file_range(ends.in, nullptr, ends.out, nullptr, kLargestCall, 0);
    if (copied > 0) {
      copiedAny = true;
      continue;
    }
    if (copied < 0 && errno == EINTR) continue;
    if (copied == 0 && copiedAny) return Status();
    if (copied == 0 || CopyRefused(errno)) return CopyThroughBuffer(ends);
    const int error = errno;
    return PosixError("copy_file_range", ends.from + " -> " + ends.to, error);
  }
}

// ---- Special folders ------------------------------------------------------------

const char* FolderVariable(SpecialFolder folder) {
  switch (folder) {
    case SpecialFolder::kCommonFiles:
      return "CommonProgramFiles";
    case SpecialFolder::kCommonFilesX86:
      return "CommonProgramFiles(x86)";
    case SpecialFolder::kCommonAppData:
      break;
  }
  return "ProgramData";
}

// The variable's value, read now; "" when it is unset or empty.
std::u16string ReadFolderVariable(SpecialFolder folder) {
  const char* value = std::getenv(FolderVariable(folder));
  if (value == nullptr) return std::u16string();
  return emulation::DecodeUtf8(value, std::strlen(value));
}

}  // namespace

// ---- The Env ----------------------------------------------------------------------

namespace {

// A symbolic link, or one of several names of a file.
bool IsLinkAt(const std::string& native) {
  struct stat info;
  return ::lstat(native.c_str(), &info) == 0 &&
         (S_ISLNK(info.st_mode) || (S_ISREG(info.st_mode) && info.st_nlink > 1));
}

// Why a copy may not write the file at `to`: a folder or a read-only file
// stands there (kAccessDenied), or the source itself, which the copy would
// empty (Windows refuses it as in use). Success when nothing stands there.
Status RefusedCopyTarget(const std::string& to, const struct stat& source) {
  struct stat info;
  if (!StatPath(to, &info)) return Status();
  if (S_ISDIR(info.st_mode) || ReadOnlyFile(info)) return Code::kAccessDenied;
  return SameFile(info, source) ? Status(Code::kSharingViolation) : Status();
}

class PosixEnv final : public Env {
 public:
  Status GetSpecialFolder(SpecialFolder folder, MissingFolder missing, std::u16string* path) override {
    std::u16string found = ReadFolderVariable(folder);
    if (found.empty()) return Code::kNotFound;
    if (found.size() >= 1024) return Code::kBadPath;
    if (missing == MissingFolder::kCreate) {
      const std::string native = Native(found);
      struct stat info;
      if (!StatPath(native, &info)) {
        Status made = MakeChain(native);
        if (!made.ok()) return made;
      }
    }
    *path = std::move(found);
    return Status();
  }

  Status LocateSpecialFolder(SpecialFolder folder, std::optional<std::u16string>* path) override {
    std::u16string found = ReadFolderVariable(folder);
    if (found.empty()) return Code::kNotFound;
    if (found.size() >= platform::kMaxPath) {
      path->reset();
    } else {
      *path = std::move(found);
    }
    return Status();
  }

  Status GetAttributes(const std::u16string& path, std::uint32_t* attributes) override {
    struct stat info;
    const std::string native = Native(path);
    if (!StatPath(native, &info)) return PosixError("stat", native, errno);
    *attributes = S_ISDIR(info.st_mode) ? kAttributeDirectory : ReadOnlyFile(info) ? kAttributeReadOnly
                                                                                   : kAttributeNormal;
    return Status();
  }

  Status GetFileStamp(const std::u16string& path, Links links, FileStamp* stamp) override {
    struct stat info;
    const std::string native = Native(path);
    const bool own = links == Links::kOwn;
    if ((own ? ::lstat(native.c_str(), &info) : ::stat(native.c_str(), &info)) != 0) {
      return PosixError(own ? "lstat" : "stat", native, errno);
    }
    const auto nanoseconds = [](const struct timespec& time) {
      return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
    };
    // The file system stamps with the kernel's coarse real-time clock (or,
    // on kernels with fine-grained stamps, with a finer time later than
    // any stamp already read): once that clock has moved past the last
    // write, every later write shows in a later time.
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    stamp->volume = static_cast<std::uint64_t>(info.st_dev);
    stamp->fileIndex = static_cast<std::uint64_t>(info.st_ino);
    stamp->size = static_cast<std::uint64_t>(info.st_size);
    stamp->lastWriteTime = nanoseconds(info.st_mtim);
    stamp->changeTime = nanoseconds(info.st_ctim);
    stamp->link = S_ISLNK(info.st_mode);
    stamp->racy = platform::RacyStamp(stamp->lastWriteTime, stamp->changeTime, nanoseconds(now), 1000000000, 0);
    return Status();
  }

  Status IsLink(const std::u16string& path, bool* link) override {
    *link = IsLinkAt(Native(path));
    return Status();
  }

  Status ListFolder(const std::u16string& folder, std::vector<std::u16string>* names) override {
    std::vector<std::u16string> found;
    {
      const std::string native = Native(folder);
      const UniqueFolder listing(::opendir(native.c_str()));
      if (!listing) return PosixError("opendir", native, errno);
      while (const dirent* entry = ::readdir(listing.get())) {
        found.push_back(emulation::DecodeUtf8(entry->d_name, std::strlen(entry->d_name)));
      }
    }
    std::sort(found.begin(), found.end(), emulation::ListedBefore);
    *names = std::move(found);
    return Status();
  }

  Status OpenShared(const std::u16string& path, const char* mode, std::FILE** file) override {
    const std::string native = Native(path);
    if (std::strpbrk(mode, "wa+") != nullptr) {
      struct stat info;
      if (StatPath(native, &info) && ReadOnlyFile(info)) return Code::kAccessDenied;
    }
    std::FILE* opened = std::fopen(native.c_str(), mode);
    if (opened == nullptr) return PosixError("fopen", native, errno);
    *file = opened;
    return Status();
  }

  Status OpenForReading(const std::u16string& path, Found* found, std::FILE** file) override {
    // fopen opens a folder as well; what it opened tells the two apart.
    const std::string native = Native(path);
    UniqueFile opened(std::fopen(native.c_str(), "rb"));
    if (!opened) return PosixError("fopen", native, errno);
    struct stat info;
    if (::fstat(::fileno(opened.get()), &info) != 0) return PosixError("fstat", native, errno);
    *found = S_ISDIR(info.st_mode) ? Found::kFolder : Found::kFile;
    if (*found == Found::kFile) *file = opened.release();
    return Status();
  }

  Status DescribePath(const std::u16string& path, PathFacts* facts) override {
    const std::string native = Native(path);
    struct stat info;
    if (::lstat(native.c_str(), &info) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) return Status();
      return PosixError("lstat", native, errno);
    }
    facts->kind = S_ISLNK(info.st_mode)   ? PathFacts::Kind::kLink
                  : S_ISDIR(info.st_mode) ? PathFacts::Kind::kFolder
                  : S_ISREG(info.st_mode) ? PathFacts::Kind::kFile
                                          : PathFacts::Kind::kOther;
    const struct passwd* user = ::getpwuid(info.st_uid);
    facts->owner = user != nullptr ? user->pw_name : std::to_string(info.st_uid);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    facts->access = mode;
    // An access list beyond the permission bits; never read through a link.
    if (!S_ISLNK(info.st_mode) && ::acl_extended_file_nofollow(native.c_str()) == 1) facts->access += " +acl";
    facts->size = static_cast<std::uint64_t>(info.st_size);
    facts->links = static_cast<std::uint64_t>(info.st_nlink);
    if (!S_ISREG(info.st_mode)) return Status();
    // The head comes from the file looked at: a link or another file put in
    // its place since is not read.
    const Descriptor fd(::open(native.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat opened;
    if (fd.get() < 0 || ::fstat(fd.get(), &opened) != 0 || opened.st_dev != info.st_dev ||
        opened.st_ino != info.st_ino) {
      return Status();
    }
    facts->head.resize(kPathHeadBytes);
    const ssize_t got = ::pread(fd.get(), &facts->head[0], kPathHeadBytes, 0);
    facts->head.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return Status();
  }

  Status CreateFolder(const std::u16string& path) override {
    const std::string native = Native(path);
    return MakeFolder(native) ? Status() : PosixError("mkdir", native, errno);
  }

  Status CreateFolderChain(const std::u16string& path) override {
    // The shell wants a full path.
    if (path.empty() || (path[0] != u'\\' && path[0] != u'/')) return Code::kBadPath;
    const std::string native = Native(path);
    struct stat info;
    if (StatPath(native, &info)) return Code::kExists;
    return MakeChain(native);
  }

  Status SetAttributesNormal(const std::u16string& path) override {
    const std::string native = Native(path);
    struct stat info;
    if (!StatPath(native, &info)) return PosixError("stat", native, errno);
    if ((info.st_mode & S_IWUSR) != 0) return Status();
    if (::chmod(native.c_str(), (info.st_mode & 07777) | S_IWUSR) == 0) return Status();
    return PosixError("chmod", native, errno);
  }

  Status MoveFileReplacing(const std::u16string& source, const std::u16string& target) override {
    const std::string from = Native(source);
    const std::string to = Native(target);
    struct stat info;
    const bool inTheWay = StatPath(to, &info) && (S_ISDIR(info.st_mode) || ReadOnlyFile(info));
    if (!inTheWay && ::rename(from.c_str(), to.c_str()) == 0) return Status();
    const int error = errno;
    // Only a move that did not happen looks at its source: a missing one is
    // the failure reported first.
    if (::lstat(from.c_str(), &info) != 0) return PosixError("lstat", from, errno);
    if (inTheWay) return Code::kAccessDenied;
    return PosixError("rename", from + " -> " + to, error);
  }

  Status CopyOver(const std::u16string& source, const std::u16string& target, WriteMode mode) override {
    const std::string from = Native(source);
    const std::string to = Native(target);
    Descriptor in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) return PosixError("open", from, errno);
    struct stat sourceInfo;
    if (::fstat(in.get(), &sourceInfo) != 0) return PosixError("fstat", from, errno);
    if (S_ISDIR(sourceInfo.st_mode)) return Code::kAccessDenied;
    // A new file needs no look first: its open tells whether the name is
    // taken, and only then is what stands there looked at.
    const bool fresh = mode == WriteMode::kCreateNew;
    Status refused = fresh ? Status() : RefusedCopyTarget(to, sourceInfo);
    if (!refused.ok()) return refused;
    const int exclusive = fresh ? O_EXCL : 0;
    Descriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | exclusive, 0600));
    if (out.get() < 0) {
      const int error = errno;
      refused = fresh && error == EEXIST ? RefusedCopyTarget(to, sourceInfo) : Status();
      return refused.ok() ? PosixError("open", to, error) : refused;
    }
    // A file this open created has this one link, and nothing in it yet.
    if (!fresh) {
      if (!SingleLinkFile(out.get())) return Code::kAccessDenied;
      if (::ftruncate(out.get(), 0) != 0) return PosixError("ftruncate", to, errno);
    }
    const Status copied = CopyContent({in.get(), from, out.get(), to});
    if (!copied.ok()) return copied;
    // The target takes the source's attributes and time of last change.
    const struct timespec times[2] = {sourceInfo.st_atim, sourceInfo.st_mtim};
    ::futimens(out.get(), times);
    // A file written in place may belong to someone else, who keeps its
    // permissions; only its content is this copy's.
    if (::fchmod(out.get(), sourceInfo.st_mode & 07777) != 0 && fresh) {
      return PosixError("fchmod", to, errno);
    }
    return out.Close() ? Status() : PosixError("close", to, errno);
  }

  Status WriteWholeFile(const std::u16string& path, std::string_view bytes, WriteMode mode) override {
    const std::string native = Native(path);
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
    const bool fresh = mode == WriteMode::kCreateNew;
    if (fresh) {
      flags |= O_EXCL;
    } else {
      struct stat info;
      if (StatPath(native, &info) && (S_ISDIR(info.st_mode) || ReadOnlyFile(info))) return Code::kAccessDenied;
    }
    Descriptor file(::open(native.c_str(), flags | O_NOFOLLOW, 0666));
    if (file.get() < 0) return PosixError("open", native, errno);
    // A file this open created has this one link.
    if (fresh) {
      SetCreatedMode(file.get(), native, kFileMode);
    } else if (!SingleLinkFile(file.get())) {
      return Code::kAccessDenied;
    }
    if (!WriteAll(file.get(), bytes.data(), bytes.size())) return PosixError("write", native, errno);
    if (!fresh && ::ftruncate(file.get(), static_cast<off_t>(bytes.size())) != 0) {
      return PosixError("ftruncate", native, errno);
    }
    if (::fsync(file.get()) != 0) return PosixError("fsync", native, errno);
    return file.Close() ? Status() : PosixError("close", native, errno);
  }

  Status TakeOwnerAndMode(const std::u16string& path, const std::u16string& model) override {
    struct stat original;
    if (::lstat(Native(model).c_str(), &original) != 0 || !S_ISREG(original.st_mode) || original.st_nlink != 1) {
      return Status();
    }
    const std::string native = Native(path);
    const Descriptor file(::open(native.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) return PosixError("open", native, errno);
    struct stat info;
    if (::fstat(file.get(), &info) != 0) return PosixError("fstat", native, errno);
    if (!S_ISREG(info.st_mode) || info.st_nlink != 1) return Code::kAccessDenied;
    // A change of owner clears the set-id bits: the mode comes after it.
    if ((info.st_uid != original.st_uid || info.st_gid != original.st_gid) &&
        ::fchown(file.get(), original.st_uid, original.st_gid) != 0) {
      return PosixError("fchown", native, errno);
    }
    return ::fchmod(file.get(), original.st_mode & 07777) == 0 ? Status() : PosixError("fchmod", native, errno);
  }

  Status RemoveFile(const std::u16string& path) override {
    const std::string native = Native(path);
    struct stat info;
    if (::lstat(native.c_str(), &info) != 0) return PosixError("lstat", native, errno);
    if (S_ISDIR(info.st_mode) || (S_ISREG(info.st_mode) && ReadOnlyFile(info))) return Code::kAccessDenied;
    return ::unlink(native.c_str()) == 0 ? Status() : PosixError("unlink", native, errno);
  }

  Status RemoveLink(const std::u16string& path) override {
    // unlink removes the name itself, never what a link leads to.
    const std::string native = Native(path);
    if (!IsLinkAt(native)) return Code::kAccessDenied;
    return ::unlink(native.c_str()) == 0 ? Status() : PosixError("unlink", native, errno);
  }

  Status FlushFile(const std::u16string& path) override {
    const std::string native = Native(path);
    const Descriptor file(::open(native.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) return PosixError("open", native, errno);
    struct stat info;
    if (::fstat(file.get(), &info) != 0) return PosixError("fstat", native, errno);
    if (!S_ISREG(info.st_mode)) return Code::kAccessDenied;
    return ::fsync(file.get()) == 0 ? Status() : PosixError("fsync", native, errno);
  }

  Status FlushFolder(const std::u16string& folder) override {
    const std::string native = Native(folder);
    const Descriptor fd(::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) return PosixError("open", native, errno);
    return ::fsync(fd.get()) == 0 ? Status() : PosixError("fsync", native, errno);
  }

  Status SetFolderAccess(const std::u16string& folder, const std::vector<AccessEntry>& entries) override {
    const std::string native = Native(folder);
    if (native.empty()) return Code::kBadPath;
    return posix::ApplyFolderAccess(native, entries);
  }

  std::uint32_t ProcessId() override { return static_cast<std::uint32_t>(::getpid()); }

  Status ProcessRunning(std::uint32_t pid, bool* running) override {
    *running = ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
    return Status();
  }
};

}  // namespace

Env* Env::Default() {
  static PosixEnv env;
  return &env;
}

}  // namespace customhooks::fs
