#include "storage/shared_folder_vfs.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <sqlite3.h>

#include "fs/shared_folder.h"

namespace customhooks::storage {

using fs::CheckedFolderScope;
using fs::CheckedOpenCall;
using fs::ForwardCheckedOpenTo;
using fs::HeldFolder;
using fs::SystemCallReplacement;

namespace {

constexpr char kVfsName[] = "customhooks-shared-folder";
constexpr char kJournalSuffix[] = "-journal";
constexpr char kWalSuffix[] = "-wal";

sqlite3_vfs* base = nullptr;
sqlite3_vfs shared;

// ---- The databases open through this VFS ----------------------------------------
// A journal, a log or a delete is served only for a database open here, in
// that database's held folder.

struct OpenDatabase {
  std::string name;
  std::shared_ptr<HeldFolder> folder;
};

std::vector<OpenDatabase>& OpenDatabases() {
  static std::vector<OpenDatabase> databases;
  return databases;
}

// Guards OpenDatabases(): SQLite may open databases on several threads.
class RegistryLock {
 public:
  RegistryLock() : mutex_(sqlite3_mutex_alloc(SQLITE_MUTEX_STATIC_VFS1)) { sqlite3_mutex_enter(mutex_); }
  ~RegistryLock() { sqlite3_mutex_leave(mutex_); }
  RegistryLock(const RegistryLock&) = delete;
  RegistryLock& operator=(const RegistryLock&) = delete;

 private:
  sqlite3_mutex* mutex_;
};

bool EndsWith(const std::string& text, const char* suffix) {
  const std::size_t length = std::strlen(suffix);
  return text.size() > length && text.compare(text.size() - length, length, suffix) == 0;
}

// The held folder of the open database whose file `name` is with `suffix`
// ("" for the database itself), or null.
std::shared_ptr<HeldFolder> FolderServing(const std::string& name, const char* suffix) {
  if (*suffix != '\0' && !EndsWith(name, suffix)) return nullptr;
  const std::string database = name.substr(0, name.size() - std::strlen(suffix));
  const RegistryLock lock;
  for (const OpenDatabase& open : OpenDatabases()) {
    if (open.name == database) return open.folder;
  }
  return nullptr;
}

std::size_t LastSeparator(const char* name) {
  const char* slash = std::strrchr(name, '/');
  const char* backslash = std::strrchr(name, '\\');
  const char* separator = slash == nullptr || (backslash != nullptr && backslash > slash) ? backslash : slash;
  return separator == nullptr ? std::string::npos : static_cast<std::size_t>(separator - name);
}

// ---- Files --------------------------------------------------------------------------

// How large the database or its journal may grow through this VFS. A hot
// journal that a user planted may claim any size for the database it rolls
// back; the cache holds a few records.
constexpr sqlite3_int64 kLargestFile = sqlite3_int64{64} << 20;

// A database or journal opened by name: the base VFS's file, placed after
// this header in the block SQLite gives, and what keeps its folder held.
struct SharedFile {
  sqlite3_file header;  // first: SQLite sees this file's methods
  sqlite3_file* real;
  std::shared_ptr<HeldFolder> folder;
  std::string database;  // the name registered, for the database itself
};

constexpr std::size_t kRealOffset =
    (sizeof(SharedFile) + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) * alignof(std::max_align_t);

SharedFile* Shared(sqlite3_file* file) { return reinterpret_cast<SharedFile*>(file); }
sqlite3_file* Real(sqlite3_file* file) { return Shared(file)->real; }
const sqlite3_io_methods& RealMethods(sqlite3_file* file) { return *Real(file)->pMethods; }

int Close(sqlite3_file* file) {
  SharedFile* self = Shared(file);
  const int rc = self->real->pMethods->xClose(self->real);
  if (!self->database.empty()) {
    const RegistryLock lock;
    auto& databases = OpenDatabases();
    for (auto at = databases.begin(); at != databases.end(); ++at) {
      if (at->name == self->database) {
        databases.erase(at);
        break;
      }
    }
  }
  self->~SharedFile();
  return rc;
}

int Read(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
  return RealMethods(file).xRead(Real(file), buffer, amount, offset);
}

int Write(sqlite3_file* file, const void* buffer, int amount, sqlite3_int64 offset) {
  if (offset < 0 || offset + amount > kLargestFile) return SQLITE_FULL;
  return RealMethods(file).xWrite(Real(file), buffer, amount, offset);
}

int Truncate(sqlite3_file* file, sqlite3_int64 size) {
  if (size > kLargestFile) return SQLITE_FULL;
  return RealMethods(file).xTruncate(Real(file), size);
}

int Sync(sqlite3_file* file, int flags) { return RealMethods(file).xSync(Real(file), flags); }
int FileSize(sqlite3_file* file, sqlite3_int64* size) { return RealMethods(file).xFileSize(Real(file), size); }
int Lock(sqlite3_file* file, int level) { return RealMethods(file).xLock(Real(file), level); }
int Unlock(sqlite3_file* file, int level) { return RealMethods(file).xUnlock(Real(file), level); }
int CheckReservedLock(sqlite3_file* file, int* out) { return RealMethods(file).xCheckReservedLock(Real(file), out); }

int FileControl(sqlite3_file* file, int op, void* argument) {
  if (op == SQLITE_FCNTL_SIZE_HINT && *static_cast<sqlite3_int64*>(argument) > kLargestFile) return SQLITE_FULL;
  return RealMethods(file).xFileControl(Real(file), op, argument);
}

int SectorSize(sqlite3_file* file) { return RealMethods(file).xSectorSize(Real(file)); }
int DeviceCharacteristics(sqlite3_file* file) { return RealMethods(file).xDeviceCharacteristics(Real(file)); }

// A write-ahead log is refused, so no shared memory is ever mapped; the
// file is never mapped either (mmap_size 0).
int ShmMap(sqlite3_file*, int, int, int, void volatile** out) {
  *out = nullptr;
  return SQLITE_IOERR_SHMMAP;
}
int ShmLock(sqlite3_file*, int, int, int) { return SQLITE_IOERR_SHMLOCK; }
void ShmBarrier(sqlite3_file*) {}
int ShmUnmap(sqlite3_file*, int) { return SQLITE_OK; }
int Fetch(sqlite3_file*, sqlite3_int64, int, void** out) {
  *out = nullptr;
  return SQLITE_OK;
}
int Unfetch(sqlite3_file*, sqlite3_int64, void*) { return SQLITE_OK; }

const sqlite3_io_methods kMethods = {3,        Close,     Read,       Write,    Truncate,   Sync,
                                     FileSize, Lock,      Unlock,     CheckReservedLock,    FileControl,
                                     SectorSize,           DeviceCharacteristics,           ShmMap,
                                     ShmLock,  ShmBarrier, ShmUnmap,  Fetch,    Unfetch};

// ---- The VFS --------------------------------------------------------------------------

// Only the database and its rollback journal are opened by name, each in
// the database's folder held by descriptor or handle. A super-journal named
// in a journal's trailer is refused (this module never commits across
// files, so such a name was planted), and so is a write-ahead log.
int Open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
  // Files without a name are SQLite's temporary files, in the temporary folder.
  if (name == nullptr) return base->xOpen(base, name, file, flags, outFlags);
  file->pMethods = nullptr;
  const bool database = (flags & SQLITE_OPEN_MAIN_DB) != 0;
  if (!database && (flags & SQLITE_OPEN_MAIN_JOURNAL) == 0) return SQLITE_CANTOPEN;
  try {
    std::shared_ptr<HeldFolder> folder;
    if (database) {
      const std::size_t separator = LastSeparator(name);
      if (separator == std::string::npos) return SQLITE_CANTOPEN;
      folder = std::make_shared<HeldFolder>(std::string(name, separator));
      if (!folder->held()) return SQLITE_CANTOPEN;
    } else {
      folder = FolderServing(name, kJournalSuffix);
      if (folder == nullptr) return SQLITE_CANTOPEN;
    }
    std::string registered = database ? std::string(name) : std::string();
    auto* self = new (file) SharedFile{{nullptr},
                                       reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(file) + kRealOffset),
                                       folder, std::string()};
    self->real->pMethods = nullptr;
    int rc = SQLITE_OK;
    {
      const CheckedFolderScope scope(*folder);
      rc = base->xOpen(base, name, self->real, flags, outFlags);
    }
    if (rc != SQLITE_OK || self->real->pMethods == nullptr) {
      self->~SharedFile();
      file->pMethods = nullptr;
      return rc != SQLITE_OK ? rc : SQLITE_CANTOPEN;
    }
    self->header.pMethods = &kMethods;
    if (database) {
      try {
        const RegistryLock lock;
        OpenDatabases().push_back({registered, folder});
      } catch (const std::bad_alloc&) {
        Close(file);
        file->pMethods = nullptr;
        return SQLITE_NOMEM;
      }
      self->database = std::move(registered);
    }
    return SQLITE_OK;
  } catch (const std::bad_alloc&) {
    return SQLITE_NOMEM;
  }
}

// Only a database's own journal is deleted, by its name relative to the
// held folder (fs::HeldFolder::Remove): a link there goes as a name, never
// what it leads to.
int Delete(sqlite3_vfs*, const char* name, int syncFolder) {
  try {
    if (name == nullptr) return SQLITE_IOERR_DELETE;
    const std::shared_ptr<HeldFolder> folder = FolderServing(name, kJournalSuffix);
    if (folder == nullptr) return SQLITE_IOERR_DELETE;
    const Status removed = folder->Remove(std::string(name + LastSeparator(name) + 1), syncFolder != 0);
    if (removed.ok()) return SQLITE_OK;
    return removed.Is(fs::Code::kNotFound) ? SQLITE_IOERR_DELETE_NOENT : SQLITE_IOERR_DELETE;
  } catch (const std::bad_alloc&) {
    return SQLITE_NOMEM;
  }
}

// Asked of anything but an open database's own names, every file is
// absent: SQLite then neither looks at nor acts on a file elsewhere (a
// super-journal named in a planted journal is taken as gone, and that
// journal as one of a finished transaction).
int Access(sqlite3_vfs*, const char* name, int flags, int* result) {
  *result = 0;
  try {
    if (name == nullptr) return SQLITE_OK;
    const std::string asked(name);
    if (FolderServing(asked, "") == nullptr && FolderServing(asked, kJournalSuffix) == nullptr &&
        FolderServing(asked, kWalSuffix) == nullptr) {
      return SQLITE_OK;
    }
  } catch (const std::bad_alloc&) {
    return SQLITE_NOMEM;
  }
  return base->xAccess(base, name, flags, result);
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
    shared.szOsFile = static_cast<int>(kRealOffset) + found->szOsFile;
    shared.xOpen = Open;
    shared.xDelete = Delete;
    shared.xAccess = Access;
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
