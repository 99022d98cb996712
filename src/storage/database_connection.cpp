#include "storage/database_connection.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include <sqlite3.h>

#include "fs/access.h"
#include "fs/files.h"
#include "fs/paths.h"
#include "fs/shared_folder.h"
#include "storage/shared_folder_vfs.h"
#include "storage/sqlite_memory.h"
#include "storage/storage_status.h"

using customhooks::fs::EnsureFolder;
using customhooks::fs::FlushFileToDisk;
using customhooks::fs::FlushFolder;
using customhooks::fs::GrantFolderAccess;
using customhooks::fs::IsPlantedLink;
using customhooks::fs::IsRegularFile;
using customhooks::fs::JoinPath;
using customhooks::fs::NativePath;
using customhooks::fs::PathExists;
using customhooks::fs::RemovePlantedLink;

namespace {

// `state` of a connection that is not open (before Open, after Close).
constexpr int kNotOpen = 1;

const char kEmptyText[1] = "";
char* const kEmptyList[1] = {nullptr};

bool StartsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool IsImplicitWrite(const char* text) {
  return StartsWith(text, "INSERT ") || StartsWith(text, "UPDATE ") ||
         StartsWith(text, "DELETE ");
}

}  // namespace

char* SharedEmptyText() { return const_cast<char*>(kEmptyText); }

char** SharedEmptyList() { return const_cast<char**>(kEmptyList); }

int DecimalTextToInt(const char* text) {
  if (text == nullptr) return 0;
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = (*text++ == '-');
  long long value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    if (value <= static_cast<long long>(INT_MAX) + 1) value = value * 10 + (*text - '0');
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

// A compiled statement, finalized exactly once: explicitly when its result
// code matters, otherwise when it goes out of scope.
class DatabaseConnection::Statement {
 public:
  Statement() = default;
  ~Statement() { Finalize(); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  sqlite3_stmt** receiver() { return &stmt_; }
  sqlite3_stmt* get() const { return stmt_; }

  // A text holding no statement (only blanks or comments) compiles to none;
  // running it does nothing.
  int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_DONE; }

  // The result of sqlite3_finalize: with statements compiled by
  // sqlite3_prepare, the specific error of a failed step.
  int Finalize() {
    if (!stmt_) return SQLITE_OK;
    const int rc = sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    return rc;
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

namespace {

// Chunks start small (most connections hand out a few values) and double up
// to kLargestChunk. A block of more than kOwnChunkAbove bytes gets a chunk of
// its own, so that the tail of a shared chunk is never wasted on it.
constexpr std::size_t kFirstChunk = 512;
constexpr std::size_t kLargestChunk = 64 * 1024;
constexpr std::size_t kOwnChunkAbove = 4 * 1024;
constexpr std::size_t kBlockAlignment = alignof(std::max_align_t);

}  // namespace

DatabaseConnection::ResultPool::~ResultPool() {
  for (void* chunk : chunks_) std::free(chunk);
}

char* DatabaseConnection::ResultPool::AddChunk(std::size_t size) {
  void* chunk = std::malloc(size);
  if (chunk == nullptr) return nullptr;
  try {
    chunks_.push_back(chunk);
  } catch (const std::bad_alloc&) {
    std::free(chunk);
    return nullptr;
  }
  return static_cast<char*>(chunk);
}

void* DatabaseConnection::ResultPool::Allocate(std::size_t size) {
  if (size > SIZE_MAX - kBlockAlignment) return nullptr;
  const std::size_t rounded = (std::max<std::size_t>(size, 1) + kBlockAlignment - 1) & ~(kBlockAlignment - 1);
  if (rounded <= left_) {
    char* block = free_;
    free_ += rounded;
    left_ -= rounded;
    return block;
  }
  if (rounded > kOwnChunkAbove) return AddChunk(rounded);
  const std::size_t chunkSize = std::max(nextChunkSize_, kFirstChunk);
  char* chunk = AddChunk(chunkSize);
  if (chunk == nullptr) return nullptr;
  nextChunkSize_ = std::min(chunkSize * 2, kLargestChunk);
  free_ = chunk + rounded;
  left_ = chunkSize - rounded;
  return chunk;
}

DatabaseConnection::DatabaseConnection(const std::string& folder, const std::string& fileName,
                                       SchemaStepTable stepTable, bool allowWrite,
                                       int targetVersion, bool checkSchema)
    : folder_(folder),
      fileName_(fileName),
      stepTable_(stepTable),
      sharedFolder_(allowWrite),
      checkSchema_(checkSchema),
      targetVersion_(targetVersion) {
  state_ = Open();
  if (state_ == kStorageOk) GrantFolderAccess(folder_, allowWrite);
}

DatabaseConnection::~DatabaseConnection() { Close(); }

int DatabaseConnection::Open() {
  try {
    std::string path;
    if (!JoinPath(folder_, fileName_, path).ok()) return kStorageInvalidArgument;
    // Not a file: a folder in its place is refused, and otherwise the file
    // is missing and SQLite creates it.
    const bool fresh = !IsRegularFile(path);
    if (fresh) {
      if (PathExists(path)) return kStorageUnusable;
      if (!EnsureFolder(folder_).ok()) return kStorageFileError;
    }
    const std::string native = NativePath(path);
    const char* vfs = nullptr;
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (sharedFolder_) {
      vfs = SharedFolderVfs();
      if (vfs == nullptr) return kStorageAccessRefused;
      flags |= SQLITE_OPEN_NOFOLLOW;
      if (RemoveLinksBeside(native)) return kStorageAccessRefused;
    }
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(native.c_str(), &db, flags, vfs);
    if (rc != SQLITE_OK) {
      // SQLite may hand back a connection even when the open fails; it must
      // still be released.
      sqlite3_close(db);
      db_ = nullptr;
      return StatusFromSqlite(rc);
    }
    db_ = db;
    // The new file's folder entry must survive a power cut as well.
    if (fresh) FlushFolder(folder_);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    state_ = kStorageOk;
    if (sharedFolder_) {
      const int hardened = DistrustContent();
      if (hardened != kStorageOk) {
        Close();
        return hardened;
      }
    }
    if (!checkSchema_) return kStorageOk;
    return BringSchemaToTarget();
  } catch (const std::bad_alloc&) {
    Close();
    return kStorageNoMemory;
  }
}

bool DatabaseConnection::RemoveLinksBeside(const std::string& database) {
  bool planted = false;
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
    const std::string name = database + suffix;
    if (IsPlantedLink(name)) {
      planted = true;
      static_cast<void>(RemovePlantedLink(name));
    }
  }
  return planted;
}

int DatabaseConnection::DistrustContent() {
  // Triggers and views are not part of this database's schema; any that a
  // user wrote into the file never run.
  const struct {
    int option;
    int value;
  } kSettings[] = {{SQLITE_DBCONFIG_DEFENSIVE, 1},
                   {SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0},
                   {SQLITE_DBCONFIG_ENABLE_TRIGGER, 0},
                   {SQLITE_DBCONFIG_ENABLE_VIEW, 0}};
  for (const auto& setting : kSettings) {
    int applied = -1;
    const int rc = sqlite3_db_config(db_, setting.option, setting.value, &applied);
    if (rc != SQLITE_OK) return StatusFromSqlite(rc);
    if (applied != setting.value) return kStorageAccessRefused;
  }
  const int checked = Execute("PRAGMA cell_size_check = ON");
  return checked != kStorageOk ? checked : Execute("PRAGMA mmap_size = 0");
}

int DatabaseConnection::BringSchemaToTarget() {
  long long stored = 0;
  int compat = 0;
  char* value = nullptr;
  int provisional = QueryValue(&value, "SELECT value FROM pcd_meta WHERE key = 'schema_version'");
  if (provisional == kStorageOk) {
    stored = DecimalTextToInt(value);
    provisional =
        QueryValue(&value, "SELECT value FROM pcd_meta WHERE key = 'schema_compatibility_version'");
    if (provisional == kStorageOk) compat = DecimalTextToInt(value);
  }
  // A missing row (8) or a missing table (12) means the file has not been
  // given its schema yet. Any other failure means the file can't be read at
  // all (locked beyond the timeout, not a database, unreadable), and no
  // schema step could make it usable.
  if (provisional != kStorageOk && provisional != kStorageNotFound &&
      provisional != kStorageDatabaseError) {
    Close();
    return provisional;
  }
  if (targetVersion_ < compat) {
    Close();
    return kStorageSchemaTooNew;
  }
  const long long first = stored + 1;
  for (long long n = first; n <= targetVersion_; ++n) {
    const int status = ApplySchemaStep(static_cast<int>(n));
    if (status == kStorageOk) continue;
    // The first step failing means the file already holds (part of) what
    // the step creates; the step has been rolled back and the file is used
    // as it stands.
    if (n == first) return kStorageOk;
    Close();
    return status;
  }
  if (first <= targetVersion_) return kStorageOk;
  if (provisional != kStorageOk) {
    Close();
    return provisional;
  }
  return kStorageOk;
}

int DatabaseConnection::ApplySchemaStep(int n) {
  if (db_ == nullptr) return kStorageUnusable;
  if (n < 1) return kStorageInvalidArgument;
  for (int i = 0; i < n; ++i) {
    if (stepTable_ == nullptr || stepTable_[i] == nullptr) return kStorageMissingStep;
  }
  Execute("BEGIN");
  for (SchemaStep statement = stepTable_[n - 1]; *statement != nullptr; ++statement) {
    if (Execute("%s", *statement) != kStorageOk) {
      Execute("ROLLBACK");
      return kStorageUnusable;
    }
  }
  return Execute("COMMIT");
}

int DatabaseConnection::Prepare(Statement& statement, const char* format, va_list args) {
  if (format == nullptr) return kStorageInvalidArgument;
  SqliteText text(sqlite3_vmprintf(format, args));
  if (!text) return kStorageNoMemory;
  if (state_ != kStorageOk) return StartsWith(text.get(), "SELECT") ? kStorageNotFound : state_;
  if (db_ == nullptr) return kStorageUnusable;
  if (sqlite3_get_autocommit(db_) && IsImplicitWrite(text.get())) {
    const int begun = Execute("BEGIN");
    if (begun != kStorageOk) return begun;
  }
  const int length = static_cast<int>(std::strlen(text.get()));
  const int rc = sqlite3_prepare(db_, text.get(), length, statement.receiver(), nullptr);
  return StatusFromSqlite(rc);
}

int DatabaseConnection::Execute(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int status = ExecuteV(format, args);
  va_end(args);
  return status;
}

int DatabaseConnection::ExecuteV(const char* format, va_list args) {
  Statement statement;
  int status = Prepare(statement, format, args);
  if (status != kStorageOk) return status;
  bool failed = false;
  for (;;) {
    const int rc = statement.Step();
    if (rc == SQLITE_ROW) continue;
    if (rc == SQLITE_ERROR) failed = true;
    else if (rc != SQLITE_DONE) status = StatusFromSqlite(rc);
    break;
  }
  const int finalized = statement.Finalize();
  if (finalized != SQLITE_OK) status = StatusFromSqlite(finalized);
  else if (failed) status = kStorageDatabaseError;
  return status;
}

int DatabaseConnection::QueryValue(char** out, const char* format, ...) {
  if (out == nullptr) return kStorageInvalidArgument;
  *out = SharedEmptyText();
  Statement statement;
  va_list args;
  va_start(args, format);
  int status = Prepare(statement, format, args);
  va_end(args);
  if (status != kStorageOk) return status;

  *out = nullptr;
  bool failed = false;
  const int rc = statement.Step();
  if (rc == SQLITE_ROW) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 0));
    // A NULL column is handed out as the empty text: on success the caller
    // is promised a text it can read.
    *out = text ? CopyResultText(text) : SharedEmptyText();
    if (*out == nullptr) status = kStorageNoMemory;
  } else if (rc == SQLITE_DONE) {
    status = kStorageNotFound;
  } else if (rc == SQLITE_ERROR) {
    failed = true;
  } else {
    status = StatusFromSqlite(rc);
  }
  const int finalized = statement.Finalize();
  if (finalized != SQLITE_OK) status = StatusFromSqlite(finalized);
  else if (failed) status = kStorageDatabaseError;
  return status;
}

int DatabaseConnection::QueryList(char*** out, const char* format, ...) {
  if (out == nullptr) return kStorageInvalidArgument;
  *out = SharedEmptyList();
  Statement statement;
  va_list args;
  va_start(args, format);
  int status = Prepare(statement, format, args);
  va_end(args);
  if (status != kStorageOk) return status;

  try {
    std::vector<char*> values;
    bool failed = false;
    for (;;) {
      const int rc = statement.Step();
      if (rc == SQLITE_ROW) {
        const int columns = sqlite3_column_count(statement.get());
        for (int column = 0; column < columns && status == kStorageOk; ++column) {
          const auto* text =
              reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), column));
          // A null entry would end the list early; a NULL column is the
          // empty text instead.
          char* copy = text ? CopyResultText(text) : SharedEmptyText();
          if (copy == nullptr) status = kStorageNoMemory;
          else values.push_back(copy);
        }
        if (status == kStorageOk) continue;
      } else if (rc == SQLITE_DONE) {
        if (values.empty()) status = kStorageNotFound;
      } else if (rc == SQLITE_ERROR) {
        failed = true;
      } else {
        status = StatusFromSqlite(rc);
      }
      break;
    }
    if (status == kStorageOk && !failed) {
      auto** list = static_cast<char**>(AllocateResult((values.size() + 1) * sizeof(char*)));
      if (list == nullptr) {
        status = kStorageNoMemory;
      } else {
        std::memcpy(list, values.data(), values.size() * sizeof(char*));
        list[values.size()] = nullptr;
        *out = list;
      }
    }
    if (status == kStorageNoMemory) *out = nullptr;
    const int finalized = statement.Finalize();
    if (finalized != SQLITE_OK) status = StatusFromSqlite(finalized);
    else if (failed) status = kStorageDatabaseError;
    return status;
  } catch (const std::bad_alloc&) {
    *out = nullptr;
    return kStorageNoMemory;
  }
}

int DatabaseConnection::Commit() {
  if (state_ != kStorageOk) return kStorageOk;
  if (!sqlite3_get_autocommit(db_)) {
    const int committed = Execute("COMMIT");
    if (committed != kStorageOk) return committed;
  }
  // Every flush costs a disk round trip; a search or a read-only session
  // opens and commits several times without changing anything.
  const int changes = sqlite3_total_changes(db_);
  if (changes == flushedChanges_) return kStorageOk;
  try {
    std::string path;
    if (JoinPath(folder_, fileName_, path).ok()) {
      FlushFileToDisk(path);
      flushedChanges_ = changes;
    }
  } catch (const std::bad_alloc&) {
    // The data is committed; only the forced flush is skipped.
  }
  return kStorageOk;
}

int DatabaseConnection::Rollback() {
  if (state_ != kStorageOk || sqlite3_get_autocommit(db_)) return kStorageOk;
  return Execute("ROLLBACK");
}

int DatabaseConnection::Close() {
  if (state_ != kStorageOk || db_ == nullptr) return kStorageOk;
  const int rc = sqlite3_close(db_);
  db_ = nullptr;
  state_ = kNotOpen;
  return StatusFromSqlite(rc);
}

void* DatabaseConnection::AllocateResult(std::size_t size) { return resultPool_.Allocate(size); }

char* DatabaseConnection::CopyResultText(const char* text) {
  const std::size_t size = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(AllocateResult(size));
  if (copy != nullptr) std::memcpy(copy, text, size);
  return copy;
}
