#include "storage/shared_folder_vfs.h"

#include <cstddef>
#include <cstdint>
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

// A hot journal that a user planted may claim any size for the database it
// rolls back; the cache holds a few records.
constexpr sqlite3_int64 kLargestFile = kSharedFolderLargestFile;

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

// ---- Bounds of what SQLite loads and writes -------------------------------------

// SQLite parses every entry of the schema when it loads it, and its limits
// bound each entry, not how many there are: a planted schema of a few
// thousand entries would cost gigabytes. The module's own schema has four
// entries in one page; a later release may add some.
constexpr int kMostSchemaEntries = kSharedFolderMostSchemaEntries;
constexpr sqlite3_int64 kMostSchemaBytes = kSharedFolderMostSchemaBytes;
// Pages of the schema's tree looked at, whatever a damaged tree links to.
constexpr int kMostSchemaPages = 512;

std::uint32_t BigEndian(const unsigned char* at, int bytes) {
  std::uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value = (value << 8) | at[i];
  return value;
}

// The database's page size from its header; 0 when it names none.
int PageSizeOf(const unsigned char* header) {
  const std::uint32_t size = BigEndian(header + 16, 2);
  const std::uint32_t bytes = size == 1 ? 65536 : size;
  return bytes >= 512 && (bytes & (bytes - 1)) == 0 ? static_cast<int>(bytes) : 0;
}

// Whether the schema tree (rooted at page 1, given) stays within the
// bounds: its entries are counted and their records' sizes added from the
// tree's own pages, as SQLite's file format lays them out, without reading
// a record. A tree that can't be read or walked within the bounds is out.
bool SchemaWithinBounds(sqlite3_file* real, const unsigned char* first, int pageSize) {
  std::vector<unsigned char> buffer;
  std::vector<std::uint32_t> pending = {1};
  int entries = 0;
  sqlite3_int64 bytes = 0;
  for (int pages = 0; !pending.empty(); ++pages) {
    if (pages >= kMostSchemaPages) return false;
    const std::uint32_t number = pending.back();
    pending.pop_back();
    const unsigned char* page = first;
    if (number != 1) {
      if (number == 0) return false;
      buffer.resize(static_cast<std::size_t>(pageSize));
      if (real->pMethods->xRead(real, buffer.data(), pageSize, sqlite3_int64{number - 1} * pageSize) != SQLITE_OK) {
        return false;
      }
      page = buffer.data();
    }
    const int header = number == 1 ? 100 : 0;
    const unsigned char kind = page[header];
    const bool leaf = kind == 0x0D;
    if (!leaf && kind != 0x05) return false;
    const int cells = static_cast<int>(BigEndian(page + header + 3, 2));
    const int pointers = header + (leaf ? 8 : 12);
    if (pointers + 2 * cells > pageSize) return false;
    if (!leaf) pending.push_back(BigEndian(page + header + 8, 4));
    for (int cell = 0; cell < cells; ++cell) {
      const std::uint32_t at = BigEndian(page + pointers + 2 * cell, 2);
      const auto end = static_cast<std::uint32_t>(pageSize);
      if (at + 4 > end) return false;
      if (!leaf) {
        pending.push_back(BigEndian(page + at, 4));
        continue;
      }
      // The record's size: a varint of at most nine bytes.
      sqlite3_int64 size = 0;
      for (std::uint32_t i = 0; i < 9; ++i) {
        if (at + i >= end) return false;
        const unsigned char byte = page[at + i];
        size = i == 8 ? (size << 8) | byte : (size << 7) | (byte & 0x7F);
        if (i < 8 && (byte & 0x80) == 0) break;
      }
      bytes += size;
      if (++entries > kMostSchemaEntries || size < 0 || bytes > kMostSchemaBytes) return false;
    }
    if (pending.size() > static_cast<std::size_t>(kMostSchemaPages)) return false;
  }
  return true;
}

// The size of the file, or a number past every bound when it can't be told.
sqlite3_int64 SizeOf(sqlite3_file* real) {
  sqlite3_int64 size = 0;
  return real->pMethods->xFileSize(real, &size) == SQLITE_OK ? size : kLargestFile + 1;
}

// SQLite reads the database's first page whole whenever its copy may be
// stale: before it loads the schema, and after any other writer's commit.
// That read is refused when the file, or the size its header gives it, is
// past its bound, or when the schema is.
int Read(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
  const int rc = RealMethods(file).xRead(Real(file), buffer, amount, offset);
  if (rc != SQLITE_OK || offset != 0 || Shared(file)->database.empty() || amount < 512) return rc;
  const auto* page = static_cast<const unsigned char*>(buffer);
  if (PageSizeOf(page) != amount) return rc;
  if (SizeOf(Real(file)) > kLargestFile || SizeInDatabaseHeader(page) > kLargestFile ||
      !SchemaWithinBounds(Real(file), page, amount)) {
    return SQLITE_IOERR_READ;
  }
  return rc;
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
// A write begins with the write lock. Refused when the database is past its
// bound: its journal could not be rolled back (the rollback writes where the
// file ends), and would stay behind for every later open.
int Lock(sqlite3_file* file, int level) {
  if (level == SQLITE_LOCK_RESERVED && !Shared(file)->database.empty() && SizeOf(Real(file)) > kLargestFile) {
    return SQLITE_FULL;
  }
  return RealMethods(file).xLock(Real(file), level);
}
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

std::int64_t SizeInDatabaseHeader(const unsigned char* header) {
  return std::int64_t{BigEndian(header + 28, 4)} * PageSizeOf(header);
}

const char* SharedFolderVfs() {
  static const Registration registration;
  return registration.name();
}

}  // namespace customhooks::storage
