#include "storage/database_connection.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include <sqlite3.h>

#include "fs/access.h"
#include "fs/files.h"
#include "fs/paths.h"
#include "fs/shared_folder.h"
#include "storage/shared_folder_vfs.h"
#include "storage/sqlite_memory.h"
#include "storage/storage_status.h"

namespace customhooks::storage {

using fs::EnsureFolder;
using fs::FlushFileToDisk;
using fs::FlushFolder;
using fs::GrantFolderAccess;
using fs::IsPlantedLink;
using fs::IsRegularFile;
using fs::JoinPath;
using fs::NativePath;
using fs::PathExists;
using fs::RemovePlantedLink;

namespace {

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

  // Finalizes and gives the outcome of the run: the specific error that
  // finalizing reports, else kDatabaseError when a step gave SQLITE_ERROR,
  // else `outcome`.
  Status Finish(sqlite3* db, Status outcome, bool stepFailed) {
    const int rc = Finalize();
    if (rc != SQLITE_OK) return StatusFromSqlite(rc, sqlite3_errmsg(db));
    if (stepFailed) return Status(Code::kDatabaseError, sqlite3_errmsg(db));
    return outcome;
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
  if (chunk == nullptr) throw std::bad_alloc();
  try {
    chunks_.push_back(chunk);
  } catch (const std::bad_alloc&) {
    std::free(chunk);
    throw;
  }
  return static_cast<char*>(chunk);
}

void* DatabaseConnection::ResultPool::Allocate(std::size_t size) {
  if (size > SIZE_MAX - kBlockAlignment) throw std::bad_alloc();
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
  Status opened = StatusUnlessOutOfMemory(Code::kNoMemory, [this] { return Open(); });
  if (opened.ok()) {
    GrantFolderAccess(folder_, allowWrite);
  } else {
    // Every refusal closes the database; the refusal is what is reported,
    // not how closing went.
    static_cast<void>(Close());
  }
  state_ = std::move(opened);
}

DatabaseConnection::~DatabaseConnection() {
  // A destructor has no one to report to; callers who care close first.
  static_cast<void>(Close());
}

Status DatabaseConnection::Open() {
  if (!JoinPath(folder_, fileName_, path_).ok()) return Status(Code::kInvalidArgument, fileName_);
  // Not a file: a folder in its place is refused, and otherwise the file
  // is missing and SQLite creates it.
  const bool fresh = !IsRegularFile(path_);
  if (fresh) {
    if (PathExists(path_)) return Status(Code::kUnusable, path_);
    if (!EnsureFolder(folder_).ok()) return Status(Code::kFileError, folder_);
  }
  const std::string native = NativePath(path_);
  const char* vfs = nullptr;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  if (sharedFolder_) {
    vfs = SharedFolderVfs();
    if (vfs == nullptr) return Status(Code::kAccessRefused, path_);
    flags |= SQLITE_OPEN_NOFOLLOW;
    if (RemoveLinksBeside(native)) return Status(Code::kAccessRefused, path_);
  }
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(native.c_str(), &db, flags, vfs);
  if (rc != SQLITE_OK) {
    // SQLite may hand back a connection even when the open fails; it must
    // still be released.
    sqlite3_close(db);
    return StatusFromSqlite(rc, path_);
  }
  db_ = db;
  // The new file's folder entry must survive a power cut as well.
  if (fresh) FlushFolder(folder_);
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  state_ = Status();
  if (sharedFolder_) {
    Status hardened = DistrustContent();
    if (!hardened.ok()) return hardened;
  }
  if (!checkSchema_) return Status();
  return BringSchemaToTarget();
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

Status DatabaseConnection::DistrustContent() {
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
    if (rc != SQLITE_OK) return StatusFromSqlite(rc, path_);
    if (applied != setting.value) return Status(Code::kAccessRefused, path_);
  }
  Status checked = Execute("PRAGMA cell_size_check = ON");
  return checked.ok() ? Execute("PRAGMA mmap_size = 0") : checked;
}

Status DatabaseConnection::BringSchemaToTarget() {
  long long stored = 0;
  int compat = 0;
  char* value = nullptr;
  Status provisional = QueryValue(&value, "SELECT value FROM pcd_meta WHERE key = 'schema_version'");
  if (provisional.ok()) {
    stored = DecimalTextToInt(value);
    provisional =
        QueryValue(&value, "SELECT value FROM pcd_meta WHERE key = 'schema_compatibility_version'");
    if (provisional.ok()) compat = DecimalTextToInt(value);
  }
  // A missing row or a missing table (kDatabaseError) means the file has
  // not been given its schema yet. Any other failure means the file can't be
  // read at all (locked beyond the timeout, not a database, unreadable), and
  // no schema step could make it usable.
  if (!provisional.ok() && !provisional.Is(Code::kNotFound) && !provisional.Is(Code::kDatabaseError)) {
    return provisional;
  }
  if (targetVersion_ < compat) return Status(Code::kSchemaTooNew, path_);
  const long long first = stored + 1;
  for (long long n = first; n <= targetVersion_; ++n) {
    Status applied = ApplySchemaStep(static_cast<int>(n));
    if (applied.ok()) continue;
    // The first step failing means the file already holds (part of) what
    // the step creates; the step has been rolled back and the file is used
    // as it stands.
    if (n == first) return Status();
    return applied;
  }
  if (first <= targetVersion_) return Status();
  return provisional;
}

Status DatabaseConnection::ApplySchemaStep(int n) {
  if (db_ == nullptr) return Status(Code::kUnusable);
  if (n < 1) return Status(Code::kInvalidArgument);
  for (int i = 0; i < n; ++i) {
    if (stepTable_ == nullptr || stepTable_[i] == nullptr) return Status(Code::kMissingStep);
  }
  Status begun = Execute("BEGIN");
  if (!begun.ok()) return begun;
  for (SchemaStep statement = stepTable_[n - 1]; *statement != nullptr; ++statement) {
    if (!Execute("%s", *statement).ok()) {
      // After some failures (a full disk, an I/O error) SQLite has already
      // rolled the transaction back and this ROLLBACK finds none; either
      // way nothing of the step is left, and the step's failure is what
      // counts.
      static_cast<void>(Execute("ROLLBACK"));
      return Status(Code::kUnusable, *statement);
    }
  }
  return Execute("COMMIT");
}

Status DatabaseConnection::Prepare(Statement& statement, const char* format, va_list args) {
  if (format == nullptr) return Status(Code::kInvalidArgument);
  SqliteText text(sqlite3_vmprintf(format, args));
  if (!text) throw std::bad_alloc();
  if (!state_.ok()) return StartsWith(text.get(), "SELECT") ? Status(Code::kNotFound) : state_;
  if (db_ == nullptr) return Status(Code::kUnusable);
  if (sqlite3_get_autocommit(db_) && IsImplicitWrite(text.get())) {
    Status begun = Execute("BEGIN");
    if (!begun.ok()) return begun;
  }
  const int length = static_cast<int>(std::strlen(text.get()));
  const int rc = sqlite3_prepare(db_, text.get(), length, statement.receiver(), nullptr);
  return rc == SQLITE_OK ? Status() : StatusFromSqlite(rc, sqlite3_errmsg(db_));
}

Status DatabaseConnection::Execute(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Status status = StatusUnlessOutOfMemory(Code::kNoMemory, [&] { return ExecuteV(format, args); });
  va_end(args);
  return status;
}

Status DatabaseConnection::ExecuteV(const char* format, va_list args) {
  Statement statement;
  Status status = Prepare(statement, format, args);
  if (!status.ok()) return status;
  bool failed = false;
  for (;;) {
    const int rc = statement.Step();
    if (rc == SQLITE_ROW) continue;
    if (rc == SQLITE_ERROR) failed = true;
    else if (rc != SQLITE_DONE) status = StatusFromSqlite(rc, sqlite3_errmsg(db_));
    break;
  }
  return statement.Finish(db_, std::move(status), failed);
}

Status DatabaseConnection::QueryValue(char** out, const char* format, ...) {
  if (out == nullptr) return Status(Code::kInvalidArgument);
  *out = SharedEmptyText();
  va_list args;
  va_start(args, format);
  Status status = StatusUnlessOutOfMemory(Code::kNoMemory, [&] { return QueryValueV(out, format, args); });
  va_end(args);
  if (status.Is(Code::kNoMemory)) *out = nullptr;
  return status;
}

Status DatabaseConnection::QueryValueV(char** out, const char* format, va_list args) {
  Statement statement;
  Status status = Prepare(statement, format, args);
  if (!status.ok()) return status;

  *out = nullptr;
  bool failed = false;
  const int rc = statement.Step();
  if (rc == SQLITE_ROW) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 0));
    // A NULL column is handed out as the empty text: on success the caller
    // is promised a text it can read.
    *out = text ? CopyResultText(text) : SharedEmptyText();
  } else if (rc == SQLITE_DONE) {
    status = Status(Code::kNotFound);
  } else if (rc == SQLITE_ERROR) {
    failed = true;
  } else {
    status = StatusFromSqlite(rc, sqlite3_errmsg(db_));
  }
  return statement.Finish(db_, std::move(status), failed);
}

Status DatabaseConnection::QueryList(char*** out, const char* format, ...) {
  if (out == nullptr) return Status(Code::kInvalidArgument);
  *out = SharedEmptyList();
  va_list args;
  va_start(args, format);
  Status status = StatusUnlessOutOfMemory(Code::kNoMemory, [&] { return QueryListV(out, format, args); });
  va_end(args);
  if (status.Is(Code::kNoMemory)) *out = nullptr;
  return status;
}

Status DatabaseConnection::QueryListV(char*** out, const char* format, va_list args) {
  Statement statement;
  Status status = Prepare(statement, format, args);
  if (!status.ok()) return status;

  std::vector<char*> values;
  bool failed = false;
  for (;;) {
    const int rc = statement.Step();
    if (rc == SQLITE_ROW) {
      const int columns = sqlite3_column_count(statement.get());
      for (int column = 0; column < columns; ++column) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), column));
        // A null entry would end the list early; a NULL column is the
        // empty text instead.
        values.push_back(text ? CopyResultText(text) : SharedEmptyText());
      }
      continue;
    }
    if (rc == SQLITE_DONE) {
      if (values.empty()) status = Status(Code::kNotFound);
    } else if (rc == SQLITE_ERROR) {
      failed = true;
    } else {
      status = StatusFromSqlite(rc, sqlite3_errmsg(db_));
    }
    break;
  }
  status = statement.Finish(db_, std::move(status), failed);
  if (!status.ok()) return status;
  auto** list = static_cast<char**>(AllocateResult((values.size() + 1) * sizeof(char*)));
  std::memcpy(list, values.data(), values.size() * sizeof(char*));
  list[values.size()] = nullptr;
  *out = list;
  return status;
}

Status DatabaseConnection::Commit() {
  if (!state_.ok()) return Status();
  if (!sqlite3_get_autocommit(db_)) {
    Status committed = Execute("COMMIT");
    if (!committed.ok()) return committed;
  }
  // Every flush costs a disk round trip; a search or a read-only session
  // opens and commits several times without changing anything.
  const int changes = sqlite3_total_changes(db_);
  if (changes == flushedChanges_) return Status();
  FlushFileToDisk(path_);
  flushedChanges_ = changes;
  return Status();
}

Status DatabaseConnection::Rollback() {
  if (!state_.ok() || sqlite3_get_autocommit(db_)) return Status();
  return Execute("ROLLBACK");
}

Status DatabaseConnection::Close() {
  if (!state_.ok() || db_ == nullptr) return Status();
  const int rc = sqlite3_close(db_);
  db_ = nullptr;
  state_ = Status(Code::kUnusable);
  return StatusFromSqlite(rc, path_);
}

void* DatabaseConnection::AllocateResult(std::size_t size) { return resultPool_.Allocate(size); }

char* DatabaseConnection::CopyResultText(const char* text) {
  const std::size_t size = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(AllocateResult(size));
  std::memcpy(copy, text, size);
  return copy;
}

}  // namespace customhooks::storage
