#include "storage/shared_folder_vfs.h"

#include <cstring>
#include <new>
#include <string>

#include <sqlite3.h>

#include "fs/shared_folder.h"

namespace customhooks::storage {

using fs::CheckedFolderScope;
using fs::CheckedOpenCall;
using fs::ForwardCheckedOpenTo;
using fs::IsPlantedLink;
using fs::SystemCallReplacement;

namespace {

constexpr char kVfsName[] = "customhooks-shared-folder";

sqlite3_vfs* base = nullptr;
sqlite3_vfs shared;

int Open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
  // Files without a name are SQLite's temporary files, in the temporary folder.
  if (name == nullptr) return base->xOpen(base, name, file, flags, outFlags);
  file->pMethods = nullptr;
  if ((flags & SQLITE_OPEN_WAL) != 0) return SQLITE_CANTOPEN;
  const char* slash = std::strrchr(name, '/');
  const char* backslash = std::strrchr(name, '\\');
  const char* separator = slash == nullptr || (backslash != nullptr && backslash > slash) ? backslash : slash;
  if (separator == nullptr) return SQLITE_CANTOPEN;
  try {
    const CheckedFolderScope folder(std::string(name, separator));
    if (!folder.held()) return SQLITE_CANTOPEN;
    return base->xOpen(base, name, file, flags, outFlags);
  } catch (const std::bad_alloc&) {
    return SQLITE_NOMEM;
  }
}

// SQLite deletes a journal by name. A link planted there is left alone: on
// Windows and POSIX deleting the name would remove only the link, but Wine
// would delete the file it leads to.
int Delete(sqlite3_vfs*, const char* name, int syncFolder) {
  try {
    if (name != nullptr && IsPlantedLink(name)) return SQLITE_IOERR_DELETE;
  } catch (const std::bad_alloc&) {
    return SQLITE_NOMEM;
  }
  return base->xDelete(base, name, syncFolder);
}

// The VFS and the checked open call are installed once and taken back when
// the module is unloaded: the host may go on using the same SQLite library,
// whose tables must not point into unloaded code.
class Registration {
 public:
  Registration() {
    sqlite3_vfs* found = sqlite3_vfs_find(nullptr);
    if (found == nullptr || found->iVersion < 3 || found->xGetSystemCall == nullptr ||
        found->xSetSystemCall == nullptr) {
      return;
    }
    replacement_ = CheckedOpenCall();
    original_ = found->xGetSystemCall(found, replacement_.name);
    if (original_ == nullptr || original_ == replacement_.call) return;
    ForwardCheckedOpenTo(original_);
    if (found->xSetSystemCall(found, replacement_.name, replacement_.call) != SQLITE_OK) return;
    base = found;
    shared = *found;
    shared.pNext = nullptr;
    shared.zName = kVfsName;
    shared.xOpen = Open;
    shared.xDelete = Delete;
    registered_ = sqlite3_vfs_register(&shared, 0) == SQLITE_OK;
  }

  ~Registration() {
    if (registered_) sqlite3_vfs_unregister(&shared);
    // Only a table that still holds this module's call is given its own back.
    if (base != nullptr && base->xGetSystemCall(base, replacement_.name) == replacement_.call) {
      base->xSetSystemCall(base, replacement_.name, original_);
    }
  }

  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;

  const char* name() const { return registered_ ? kVfsName : nullptr; }

 private:
  SystemCallReplacement replacement_ = {nullptr, nullptr};
  sqlite3_syscall_ptr original_ = nullptr;
  bool registered_ = false;
};

}  // namespace

const char* SharedFolderVfs() {
  static const Registration registration;
  return registration.name();
}

}  // namespace customhooks::storage
