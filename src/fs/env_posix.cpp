// The Env and the platform functions on POSIX: the results the Windows
// services give, built from POSIX calls. Special folders come from the
// environment, "\" is a separator, a file without write permission bits
// behaves as a read-only file, and folder listings come in NTFS order. What
// the Windows services compute without the system (text conversion, the
// shell's path functions, the listing order) is windows_emulation.cpp's.
#include <acl/libacl.h>
#include <dirent.h>
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
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "fs/env.h"
#include "fs/fast_paths.h"
#include "fs/files.h"
#include "fs/platform.h"
#include "fs/windows_emulation.h"

namespace customhooks::fs {
namespace {

using platform::CheckedFolder;
using platform::IsOwnFile;
using platform::IsOwnFolder;
using platform::OpenedFacts;

// ---- Error translation (the only place errno becomes a Code) ------------------

Status FromErrno(int error) {
  switch (error) {
    case 0:
      return Status();
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

Status LastError() { return FromErrno(errno); }

// The OS form of a wide path.
std::string Native(const std::u16string& path) {
  return platform::NativePath(emulation::EncodeUtf8(path.data(), path.size()));
}

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

// Whether the folder holding `native` passes a default access list down.
bool PassesAccessDown(const std::string& native) {
  const std::size_t slash = native.find_last_of('/');
  const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : native.substr(0, slash);
  acl_t acl = ::acl_get_file(parent.c_str(), ACL_TYPE_DEFAULT);
  if (acl == nullptr) return false;
  const bool passes = ::acl_entries(acl) > 0;
  ::acl_free(acl);
  return passes;
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
    if (!MakeFolder(prefix) && errno != EEXIST) return LastError();
  }
  struct stat info;
  if (!StatPath(native, &info)) return LastError();
  return S_ISDIR(info.st_mode) ? Status() : Status(Code::kExists);
}

bool WriteAll(int fd, const void* bytes, std::size_t size) {
  const char* data = static_cast<const char*>(bytes);
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

// Copies what remains of `in` to the end of `out` through a buffer.
Status CopyThroughBuffer(int in, int out) {
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return LastError();
    if (got == 0) return Status();
    if (!WriteAll(out, buffer, static_cast<std::size_t>(got))) return LastError();
  }
}

// Whether copy_file_range's error means only that the kernel or a file
// system can't copy these files itself (across file systems on older
// kernels, file systems without the call).
bool CopyRefused(int error) {
  return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP;
}

// Copies `in` from its offset to `out` from its offset: within the kernel,
// which spares the trip through user memory and may share blocks, or
// through a buffer where the kernel refuses. A first call that copies
// nothing may come from a file whose size the system does not know (as
// under /proc): the buffer then reads it to its end. Both move the files'
// offsets, so the buffer goes on where the kernel stopped.
Status CopyContent(int in, int out) {
  constexpr std::size_t kLargestCall = std::size_t{1} << 30;
  bool copiedAny = false;
  for (;;) {
    const ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, kLargestCall, 0);
    if (copied > 0) {
      copiedAny = true;
      continue;
    }
    if (copied < 0 && errno == EINTR) continue;
    if (copied == 0 && copiedAny) return Status();
    if (copied == 0 || CopyRefused(errno)) return CopyThroughBuffer(in, out);
    return LastError();
  }
}

// A regular file with no other name: content written through the
// descriptor reaches no file elsewhere.
bool SingleLinkFile(int fd) {
  struct stat info;
  return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1;
}

struct FolderCloser {
  void operator()(DIR* folder) const { ::closedir(folder); }
};
using UniqueFolder = std::unique_ptr<DIR, FolderCloser>;

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Hands the descriptor over to the caller.
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes now and reports whether the close succeeded.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

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

// The variable's value, read now; false when it is unset or empty.
bool ReadFolderVariable(SpecialFolder folder, std::u16string& path) {
  const char* value = std::getenv(FolderVariable(folder));
  if (value == nullptr || *value == '\0') return false;
  path = emulation::DecodeUtf8(value, std::strlen(value));
  return true;
}

// ---- Access lists ------------------------------------------------------------------

constexpr std::uint32_t kGenericAll = 0x10000000u;
constexpr std::uint32_t kGenericRead = 0x80000000u;
constexpr std::uint32_t kGenericWrite = 0x40000000u;
constexpr std::uint32_t kGenericExecute = 0x20000000u;
constexpr std::uint32_t kFileDeleteChild = 0x00000040u;

// rwx bits (as for "others") that an access mask grants on a folder or a file.
mode_t PermissionsOf(std::uint32_t mask, bool folder) {
  mode_t bits = 0;
  const bool read = (mask & (kGenericAll | kGenericRead)) != 0;
  if (read) bits |= S_IROTH;
  if ((mask & (kGenericAll | kGenericWrite)) != 0 || (folder && (mask & kFileDeleteChild) != 0)) bits |= S_IWOTH;
  // A folder is entered with x; ApplyToEntry takes x from a file that did
  // not have it.
  if ((mask & (kGenericAll | kGenericExecute)) != 0 || (folder && read)) bits |= S_IXOTH;
  return bits;
}

struct ClassPermissions {
  std::uint32_t owner = 0;   // mask of the Administrators entry
  std::uint32_t others = 0;  // mask of the Everyone entry
};

// The name in /proc of an open descriptor: a link to exactly the file that
// was opened, whatever happens to its path.
std::string ProcName(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Sets an access list on an open file or folder. The default list of a
// folder can only be set by name, its descriptor's name in /proc.
void SetAccessList(int fd, mode_t permissions, acl_type_t type) {
  acl_t acl = ::acl_from_mode(permissions);
  if (acl == nullptr) return;
  // File systems without access lists refuse: ignored.
  if (type == ACL_TYPE_ACCESS) {
    ::acl_set_fd(fd, acl);
  } else {
    ::acl_set_file(ProcName(fd).c_str(), type, acl);
  }
  ::acl_free(acl);
}

// True when the entry's access list of `type` already is the one
// SetAccessList would set.
bool HasAccessList(int fd, mode_t permissions, acl_type_t type) {
  acl_t acl = type == ACL_TYPE_ACCESS ? ::acl_get_fd(fd) : ::acl_get_file(ProcName(fd).c_str(), type);
  if (acl == nullptr) return false;
  mode_t equivalent = 0;
  const bool same = ::acl_equiv_mode(acl, &equivalent) == 0 && (equivalent & 0777) == permissions;
  ::acl_free(acl);
  return same;
}

void ApplyToEntry(int fd, const struct stat& info, const ClassPermissions& masks) {
  const bool folder = S_ISDIR(info.st_mode);
  const mode_t owner = PermissionsOf(masks.owner, folder);
  const mode_t others = PermissionsOf(masks.others, folder);
  mode_t permissions = (owner << 6) | (others << 3) | others;
  if (!folder) {
    // Execute stays as it was, and so does the read-only attribute.
    if ((info.st_mode & S_IXUSR) == 0) permissions &= ~static_cast<mode_t>(0111);
    if ((info.st_mode & 0222) == 0) permissions &= ~static_cast<mode_t>(0222);
  }
  const mode_t mode = (info.st_mode & 07000) | permissions;
  // A grant repeated on an entry that already has it writes nothing: its
  // change time stays, and with it what the stamps of fs::StampFile know.
  if (CurrentFastPaths().skippedRegrant && (info.st_mode & 07777) == mode &&
      HasAccessList(fd, permissions, ACL_TYPE_ACCESS) &&
      (!folder || HasAccessList(fd, permissions, ACL_TYPE_DEFAULT))) {
    return;
  }
  SetAccessList(fd, permissions, ACL_TYPE_ACCESS);
  if (folder) SetAccessList(fd, permissions, ACL_TYPE_DEFAULT);
  ::fchmod(fd, mode);
}

// Marks a folder whose list was set explicitly, as Windows marks its list
// protected: a grant on a folder above it leaves it alone. Only a privileged
// process can set or remove a "trusted." attribute, so a plain user can
// neither forge the mark nor take it away.
constexpr char kProtectedMark[] = "trusted.CustomHooks.protected";

bool IsProtected(int fd) { return ::fgetxattr(fd, kProtectedMark, nullptr, 0) >= 0; }
void MarkProtected(int fd) {
  if (!IsProtected(fd)) ::fsetxattr(fd, kProtectedMark, "1", 1, 0);
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The path the system gives an open descriptor's file (its name in /proc),
// with " (deleted)" when that name was removed; "" when there is none.
std::string DescriptorPath(int fd) {
  char target[4096];
  const ssize_t length = ::readlink(ProcName(fd).c_str(), target, sizeof target);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) return std::string();
  return std::string(target, static_cast<std::size_t>(length));
}

// True when `fd`, a file opened as the entry `name` of the folder `parent`
// and seen by `counted` (its fstat) with a single link, is that file of the
// folder and of no other. A link count read while another process removes a
// second link may already leave that link out; renaming the entry onto
// itself takes the folder's lock, so such a removal has ended after it, and
// the name the file was opened by then shows whether it was the one removed.
// A name once removed never comes back, and one the count left out was.
bool OnlyLinkIsEntry(int parent, const std::string& parentPath, const char* name, int fd,
                     const struct stat& counted) {
  if (counted.st_nlink != 1) return false;
  ::renameat(parent, name, parent, name);
  return !parentPath.empty() && DescriptorPath(fd) == parentPath + "/" + name;
}

// Nesting below the granted folder that the walk follows. Others can write
// some of these folders and could nest them without end; past this depth
// nothing more is changed.
constexpr int kDeepestWalk = 64;

// Opens the entry `name` of the folder `parent` (whose system path is
// `parentPath`) as it was found by `found`: never through a link, never a
// file with other links, never another file system, and only when it is
// still the entry that was looked at.
int OpenEntry(int parent, const std::string& parentPath, const char* name, const struct stat& found,
              struct stat* opened) {
  const int fd = ::openat(parent, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  const bool kept = ::fstat(fd, opened) == 0 && SameFile(*opened, found) &&
                    (S_ISDIR(opened->st_mode) ||
                     (S_ISREG(opened->st_mode) && OnlyLinkIsEntry(parent, parentPath, name, fd, *opened)));
  if (!kept) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Carries the entries down to what the folder `fd` holds, by descriptor.
void ApplyBelow(int fd, dev_t device, const ClassPermissions& masks, int depth) {
  if (depth > kDeepestWalk) return;
  const std::string path = DescriptorPath(fd);
  const int listed = ::dup(fd);
  if (listed < 0) return;
  const UniqueFolder folder(::fdopendir(listed));
  if (!folder) {
    ::close(listed);
    return;
  }
  while (const dirent* entry = ::readdir(folder.get())) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    struct stat found;
    if (::fstatat(fd, entry->d_name, &found, AT_SYMLINK_NOFOLLOW) != 0 || found.st_dev != device) continue;
    // What another user owns is theirs: it is neither opened nor changed.
    if (found.st_uid != ::geteuid()) continue;
    if (!S_ISDIR(found.st_mode) && !(S_ISREG(found.st_mode) && found.st_nlink == 1)) continue;
    struct stat info;
    const Descriptor child(OpenEntry(fd, path, entry->d_name, found, &info));
    if (child.get() < 0) continue;
    if (S_ISDIR(info.st_mode)) {
      if (IsProtected(child.get())) continue;
      ApplyToEntry(child.get(), info, masks);
      ApplyBelow(child.get(), device, masks, depth + 1);
    } else {
      ApplyToEntry(child.get(), info, masks);
    }
  }
}

// ---- Files in folders that others can write ---------------------------------------

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
  // until a writer comes; a regular file opened so is then made blocking
  // as asked.
  const int fd = ::openat(folder->fd, name, flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
  if (fd < 0) return fd;
  struct stat info;
  if (::fstat(fd, &info) != 0 || !IsOwnFile(FactsOf(info), folder->facts, std::u16string()) ||
      !OnlyLinkIsEntry(folder->fd, folder->realPath, name, fd, info) ||
      ((flags & O_NONBLOCK) == 0 && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)) {
    ::close(fd);
    errno = ELOOP;
    return -1;
  }
  return fd;
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

class PosixEnv final : public Env {
 public:
  Status GetSpecialFolder(SpecialFolder folder, bool create, std::u16string* path) override {
    std::u16string found;
    if (!ReadFolderVariable(folder, found)) return Code::kNotFound;
    if (found.size() >= 1024) return Code::kBadPath;
    if (create) {
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
    std::u16string found;
    if (!ReadFolderVariable(folder, found)) return Code::kNotFound;
    if (found.size() >= platform::kMaxPath) {
      path->reset();
    } else {
      *path = std::move(found);
    }
    return Status();
  }

  Status GetAttributes(const std::u16string& path, std::uint32_t* attributes) override {
    struct stat info;
    if (!StatPath(Native(path), &info)) return LastError();
    *attributes = S_ISDIR(info.st_mode) ? kAttributeDirectory : ReadOnlyFile(info) ? kAttributeReadOnly
                                                                                   : kAttributeNormal;
    return Status();
  }

  Status GetFileStamp(const std::u16string& path, Links links, FileStamp* stamp) override {
    struct stat info;
    const std::string native = Native(path);
    if ((links == Links::kOwn ? ::lstat(native.c_str(), &info) : ::stat(native.c_str(), &info)) != 0) {
      return LastError();
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
      const UniqueFolder listing(::opendir(Native(folder).c_str()));
      if (!listing) return LastError();
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
    if (opened == nullptr) return LastError();
    *file = opened;
    return Status();
  }

  Status OpenForReading(const std::u16string& path, Found* found, std::FILE** file) override {
    // fopen opens a folder as well; what it opened tells the two apart.
    UniqueFile opened(std::fopen(Native(path).c_str(), "rb"));
    if (!opened) return LastError();
    struct stat info;
    if (::fstat(::fileno(opened.get()), &info) != 0) return LastError();
    *found = S_ISDIR(info.st_mode) ? Found::kFolder : Found::kFile;
    if (*found == Found::kFile) *file = opened.release();
    return Status();
  }

  Status CreateFolder(const std::u16string& path) override {
    return MakeFolder(Native(path)) ? Status() : LastError();
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
    if (!StatPath(native, &info)) return LastError();
    if ((info.st_mode & S_IWUSR) != 0) return Status();
    return ::chmod(native.c_str(), (info.st_mode & 07777) | S_IWUSR) == 0 ? Status() : LastError();
  }

  Status MoveFileReplacing(const std::u16string& source, const std::u16string& target) override {
    const std::string from = Native(source);
    const std::string to = Native(target);
    struct stat info;
    if (::lstat(from.c_str(), &info) != 0) return LastError();
    if (StatPath(to, &info) && (S_ISDIR(info.st_mode) || ReadOnlyFile(info))) return Code::kAccessDenied;
    return ::rename(from.c_str(), to.c_str()) == 0 ? Status() : LastError();
  }

  Status CopyOver(const std::u16string& source, const std::u16string& target, WriteMode mode) override {
    const std::string from = Native(source);
    const std::string to = Native(target);
    Descriptor in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) return LastError();
    struct stat sourceInfo;
    if (::fstat(in.get(), &sourceInfo) != 0) return LastError();
    if (S_ISDIR(sourceInfo.st_mode)) return Code::kAccessDenied;
    struct stat targetInfo;
    if (StatPath(to, &targetInfo)) {
      if (S_ISDIR(targetInfo.st_mode) || ReadOnlyFile(targetInfo)) return Code::kAccessDenied;
      // Copying a file onto itself would empty it; Windows refuses it as in use.
      if (SameFile(targetInfo, sourceInfo)) return Code::kSharingViolation;
    }
    const int exclusive = mode == WriteMode::kCreateNew ? O_EXCL : 0;
    Descriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | exclusive, 0600));
    if (out.get() < 0) return LastError();
    if (!SingleLinkFile(out.get())) return Code::kAccessDenied;
    if (::ftruncate(out.get(), 0) != 0) return LastError();
    const Status copied = CopyContent(in.get(), out.get());
    if (!copied.ok()) return copied;
    // The target takes the source's attributes and time of last change.
    const struct timespec times[2] = {sourceInfo.st_atim, sourceInfo.st_mtim};
    ::futimens(out.get(), times);
    // A file written in place may belong to someone else, who keeps its
    // permissions; only its content is this copy's.
    if (::fchmod(out.get(), sourceInfo.st_mode & 07777) != 0 && mode == WriteMode::kCreateNew) return LastError();
    return out.Close() ? Status() : LastError();
  }

  Status WriteWholeFile(const std::u16string& path, std::string_view bytes, WriteMode mode) override {
    const std::string native = Native(path);
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
    if (mode == WriteMode::kCreateNew) {
      flags |= O_EXCL;
    } else {
      struct stat info;
      if (StatPath(native, &info) && (S_ISDIR(info.st_mode) || ReadOnlyFile(info))) return Code::kAccessDenied;
    }
    Descriptor file(::open(native.c_str(), flags | O_NOFOLLOW, 0666));
    if (file.get() < 0) return LastError();
    if (!SingleLinkFile(file.get())) return Code::kAccessDenied;
    if (mode == WriteMode::kCreateNew) SetCreatedMode(file.get(), native, kFileMode);
    if (!WriteAll(file.get(), bytes.data(), bytes.size())) return LastError();
    if (mode == WriteMode::kReplaceContent && ::ftruncate(file.get(), static_cast<off_t>(bytes.size())) != 0) {
      return LastError();
    }
    if (::fsync(file.get()) != 0) return LastError();
    return file.Close() ? Status() : LastError();
  }

  Status TakeOwnerAndMode(const std::u16string& path, const std::u16string& model) override {
    struct stat original;
    if (::lstat(Native(model).c_str(), &original) != 0 || !S_ISREG(original.st_mode) || original.st_nlink != 1) {
      return Status();
    }
    const Descriptor file(::open(Native(path).c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) return LastError();
    if (!SingleLinkFile(file.get())) return Code::kAccessDenied;
    struct stat info;
    if (::fstat(file.get(), &info) != 0) return LastError();
    // A change of owner clears the set-id bits: the mode comes after it.
    if ((info.st_uid != original.st_uid || info.st_gid != original.st_gid) &&
        ::fchown(file.get(), original.st_uid, original.st_gid) != 0) {
      return LastError();
    }
    return ::fchmod(file.get(), original.st_mode & 07777) == 0 ? Status() : LastError();
  }

  Status RemoveFile(const std::u16string& path) override {
    const std::string native = Native(path);
    struct stat info;
    if (::lstat(native.c_str(), &info) != 0) return LastError();
    if (S_ISDIR(info.st_mode) || (S_ISREG(info.st_mode) && ReadOnlyFile(info))) return Code::kAccessDenied;
    return ::unlink(native.c_str()) == 0 ? Status() : LastError();
  }

  Status RemoveLink(const std::u16string& path) override {
    // unlink removes the name itself, never what a link leads to.
    const std::string native = Native(path);
    if (!IsLinkAt(native)) return Code::kAccessDenied;
    return ::unlink(native.c_str()) == 0 ? Status() : LastError();
  }

  Status FlushFile(const std::u16string& path) override {
    const Descriptor file(::open(Native(path).c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) return LastError();
    struct stat info;
    if (::fstat(file.get(), &info) != 0) return LastError();
    if (!S_ISREG(info.st_mode)) return Code::kAccessDenied;
    return ::fsync(file.get()) == 0 ? Status() : LastError();
  }

  Status FlushFolder(const std::u16string& folder) override {
    const Descriptor fd(::open(Native(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) return LastError();
    return ::fsync(fd.get()) == 0 ? Status() : LastError();
  }

  Status SetFolderAccess(const std::u16string& folder, const std::vector<AccessEntry>& entries) override {
    ClassPermissions masks;
    for (const AccessEntry& entry : entries) {
      (entry.trustee == Trustee::kAdministrators ? masks.owner : masks.others) |= entry.accessMask;
    }
    const std::string native = Native(folder);
    if (native.empty()) return Code::kBadPath;
    const Descriptor top(::open(native.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info;
    if (top.get() < 0 || ::fstat(top.get(), &info) != 0) return LastError();
    if (info.st_uid != ::geteuid()) return Code::kAccessDenied;
    // Past this point the platform's own calls fail silently, as Windows
    // leaves an entry it cannot change.
    if (S_ISREG(info.st_mode)) {
      if (info.st_nlink == 1) ApplyToEntry(top.get(), info, masks);
      return Status();
    }
    if (!S_ISDIR(info.st_mode)) return Code::kAccessDenied;
    ApplyToEntry(top.get(), info, masks);
    MarkProtected(top.get());
    ApplyBelow(top.get(), info.st_dev, masks, 1);
    return Status();
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

// ---- Text ------------------------------------------------------------------------

namespace platform {

int Utf8ToUtf16(const char* text, int length, char16_t* out, int capacity) {
  return emulation::Utf8ToUtf16(text, length, out, capacity);
}

int Utf16ToUtf8(const char16_t* text, int length, char* out, int capacity) {
  return emulation::Utf16ToUtf8(text, length, out, capacity);
}

// ---- Shell path functions ---------------------------------------------------------------

bool AppendPath(char16_t* path, const char16_t* more) { return emulation::AppendPath(path, more); }

void RemoveBackslash(char16_t* path) { emulation::RemoveBackslash(path); }

void StripPath(char16_t* path) { emulation::StripPath(path); }

// ---- Paths handed to libraries -------------------------------------------------------------------

std::string NativePath(const std::string& path) {
  std::string native = path;
  // find() scans with the C library rather than a compare per byte.
  for (auto at = native.find('\\'); at != std::string::npos; at = native.find('\\', at + 1)) native[at] = '/';
  return native;
}

// ---- Files in folders that others can write -------------------------------------------------

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
  if (::unlinkat(folder.fd, name.c_str(), 0) != 0) return LastError();
  if (flush && ::fsync(folder.fd) != 0) return LastError();
  return Status();
}

const char* OpenCallName() { return "open"; }

SystemCall CheckedOpenCall() { return reinterpret_cast<SystemCall>(&CheckedOpen); }

void ForwardOpenCallTo(SystemCall original) {
  if (original != nullptr) forwardedOpen = reinterpret_cast<OpenFunction>(original);
}

}  // namespace platform

}  // namespace customhooks::fs
