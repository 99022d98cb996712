#include "storage/shared_folder_vfs.h"

#include <cstring>
#include <new>
#include <string>

#include <sqlite3.h>

#include "fs/shared_folder.h"

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

const char* Register() {
  sqlite3_vfs* found = sqlite3_vfs_find(nullptr);
  if (found == nullptr || found->iVersion < 3 || found->xGetSystemCall == nullptr ||
      found->xSetSystemCall == nullptr) {
    return nullptr;
  }
  const SystemCallReplacement replacement = CheckedOpenCall();
  const sqlite3_syscall_ptr original = found->xGetSystemCall(found, replacement.name);
  if (original == nullptr) return nullptr;
  if (original != replacement.call) {
    ForwardCheckedOpenTo(original);
    if (found->xSetSystemCall(found, replacement.name, replacement.call) != SQLITE_OK) return nullptr;
  }
  base = found;
  shared = *found;
  shared.pNext = nullptr;
  shared.zName = kVfsName;
  shared.xOpen = Open;
  shared.xDelete = Delete;
  return sqlite3_vfs_register(&shared, 0) == SQLITE_OK ? kVfsName : nullptr;
}

}  // namespace

const char* SharedFolderVfs() {
  static const char* const name = Register();
  return name;
}
