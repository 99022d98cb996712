// Access lists on POSIX: a grant of the Windows shape (an Administrators
// entry and an Everyone entry, protected) becomes the owner's and others'
// permission bits and access lists of a folder and of what it holds, walked
// by descriptor and never through a link.
#include <acl/libacl.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "fs/posix_calls.h"

namespace customhooks::fs::posix {
namespace {

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
// SetAccessList would set. REQUIRES: the entry's permission bits are
// `permissions`, so that an entry without an access list of its own (whose
// list those bits make) has it.
bool HasAccessList(int fd, mode_t permissions, acl_type_t type) {
  if (type == ACL_TYPE_ACCESS && ::fgetxattr(fd, "system.posix_acl_access", nullptr, 0) < 0 && errno == ENODATA) {
    return true;
  }
  acl_t acl = type == ACL_TYPE_ACCESS ? ::acl_get_fd(fd) : ::acl_get_file(ProcName(fd).c_str(), type);
  if (acl == nullptr) return false;
  mode_t equivalent = 0;
  const bool same = ::acl_equiv_mode(acl, &equivalent) == 0 && (equivalent & 0777) == permissions;
  ::acl_free(acl);
  return same;
}

// A file of a walked folder as the walk opened it: a change to it waits
// until it proves to be still that entry's only file (OnlyLinkIsEntry).
// The folder's system path is looked up at the first such proof.
struct WalkedFile {
  int folder;
  std::string& folderPath;
  const char* name;
};

void ApplyToEntry(int fd, const struct stat& info, const ClassPermissions& masks, const WalkedFile* walked) {
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
  // An entry that already has the grant is not written: its change time
  // stays, and with it what the stamps of fs::StampFile know.
  if ((info.st_mode & 07777) == mode &&
      HasAccessList(fd, permissions, ACL_TYPE_ACCESS) &&
      (!folder || HasAccessList(fd, permissions, ACL_TYPE_DEFAULT))) {
    return;
  }
  // Only reading a file that may be named elsewhere too is harmless.
  if (walked != nullptr) {
    if (walked->folderPath.empty()) walked->folderPath = DescriptorPath(walked->folder);
    if (!OnlyLinkIsEntry(walked->folder, walked->folderPath, walked->name, fd, info)) return;
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


// Nesting below the granted folder that the walk follows. Others can write
// some of these folders and could nest them without end; past this depth
// nothing more is changed.
constexpr int kDeepestWalk = 64;

// Opens the entry `name` of the folder `parent` as it was found by `found`:
// never through a link, never another file system, and only when it is
// still the entry that was looked at, a folder or a file without another
// link. Whether that file is still named there is checked before it is
// changed (ApplyToEntry).
int OpenEntry(int parent, const char* name, const struct stat& found, struct stat* opened) {
  const int fd = ::openat(parent, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  const bool kept = ::fstat(fd, opened) == 0 && SameFile(*opened, found) &&
                    (S_ISDIR(opened->st_mode) || (S_ISREG(opened->st_mode) && opened->st_nlink == 1));
  if (!kept) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Carries the entries down to what the folder `fd` holds, by descriptor.
// The folder is read through `fd` itself: nothing else reads its offset.
void ApplyBelow(int fd, dev_t device, uid_t self, const ClassPermissions& masks, int depth) {
  if (depth > kDeepestWalk) return;
  std::string path;
  constexpr std::size_t kListingBytes = 32768;
  const std::unique_ptr<char[]> listing(new (std::nothrow) char[kListingBytes]);
  if (!listing) return;
  for (;;) {
    const ssize_t got = ::getdents64(fd, listing.get(), kListingBytes);
    if (got <= 0) return;
    for (ssize_t at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const dirent64*>(listing.get() + at);
      at += entry->d_reclen;
      if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
      struct stat found;
      if (::fstatat(fd, entry->d_name, &found, AT_SYMLINK_NOFOLLOW) != 0 || found.st_dev != device) continue;
      // What another user owns is theirs: it is neither opened nor changed.
      if (found.st_uid != self) continue;
      if (!S_ISDIR(found.st_mode) && !(S_ISREG(found.st_mode) && found.st_nlink == 1)) continue;
      struct stat info;
      const Descriptor child(OpenEntry(fd, entry->d_name, found, &info));
      if (child.get() < 0) continue;
      if (S_ISDIR(info.st_mode)) {
        if (IsProtected(child.get())) continue;
        ApplyToEntry(child.get(), info, masks, nullptr);
        ApplyBelow(child.get(), device, self, masks, depth + 1);
      } else {
        const WalkedFile walked{fd, path, entry->d_name};
        ApplyToEntry(child.get(), info, masks, &walked);
      }
    }
  }
}

}  // namespace

Status ApplyFolderAccess(const std::string& native, const std::vector<AccessEntry>& entries) {
  ClassPermissions masks;
  for (const AccessEntry& entry : entries) {
    (entry.trustee == Trustee::kAdministrators ? masks.owner : masks.others) |= entry.accessMask;
  }
  const Descriptor top(::open(native.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (top.get() < 0) return PosixError("open", native, errno);
  struct stat info;
  if (::fstat(top.get(), &info) != 0) return PosixError("fstat", native, errno);
  const uid_t self = ::geteuid();
  if (info.st_uid != self) return Code::kAccessDenied;
  // Past this point the platform's own calls fail silently, as Windows
  // leaves an entry it cannot change.
  if (S_ISREG(info.st_mode)) {
    if (info.st_nlink == 1) ApplyToEntry(top.get(), info, masks, nullptr);
    return Status();
  }
  if (!S_ISDIR(info.st_mode)) return Code::kAccessDenied;
  ApplyToEntry(top.get(), info, masks, nullptr);
  MarkProtected(top.get());
  ApplyBelow(top.get(), info.st_dev, self, masks, 1);
  return Status();

}

}  // namespace customhooks::fs::posix
