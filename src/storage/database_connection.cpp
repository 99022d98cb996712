#include "storage/database_connection.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include <sqlite3.h>

#include "fs/access.h"
#include "fs/env.h"
#include "fs/files.h"
#include "fs/paths.h"
#include "storage/dry_run.h"
#include "storage/schema_admission.h"
#include "storage/shared_folder_vfs.h"
#include "storage/storage_status.h"

namespace customhooks::storage {

using fs::EnsureFolder;
using fs::FlushFolder;
using fs::GrantFolderAccess;
using fs::JoinPath;
using fs::NativePath;

int Row::ColumnCount() const { return sqlite3_column_count(statement_); }

bool Row::IsNull(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }

std::int64_t Row::Number64(int column) const { return sqlite3_column_int64(statement_, column); }

std::string_view Row::Text(int column) const {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
  // A text with a NUL inside ends there, as a C text always did for the
  // callers (in log lines and documents alike).
  return text == nullptr ? std::string_view() : std::string_view(text);
}

int Row::Number(int column) const {
  // An integer's text is its decimal digits, which DecimalTextToInt reads
  // back saturated: the same number without SQLite formatting the text.
  if (sqlite3_column_type(statement_, column) == SQLITE_INTEGER) {
    const sqlite3_int64 value = sqlite3_column_int64(statement_, column);
    return static_cast<int>(std::clamp<sqlite3_int64>(value, INT_MIN, INT_MAX));
  }
  return DecimalTextToInt(reinterpret_cast<const char*>(sqlite3_column_text(statement_, column)));
}

void TextList::Append(std::string_view text) {
  if (bytes_.size() + text.size() >= UINT32_MAX) throw std::bad_alloc();
  bytes_.append(text);
  ends_.push_back(static_cast<std::uint32_t>(bytes_.size()));
  bytes_.push_back('\0');
}

namespace {

// is_plain_text(X): 1 when X is a text holding no NUL, else 0.
void IsPlainText(sqlite3_context* context, int, sqlite3_value** arguments) {
  sqlite3_value* value = arguments[0];
  int plain = 0;
  if (sqlite3_value_type(value) == SQLITE_TEXT) {
    const void* text = sqlite3_value_text(value);
    const int bytes = sqlite3_value_bytes(value);
    plain = text != nullptr && std::memchr(text, '\0', static_cast<std::size_t>(bytes)) == nullptr;
  }
  sqlite3_result_int(context, plain);
}

// One use of a compiled statement: on leaving scope the statement is reset
// and its bindings cleared, so it holds no lock and no pointer of the caller.
class StatementUse {
 public:
  explicit StatementUse(sqlite3_stmt* statement) : statement_(statement) {}
  ~StatementUse() {
    if (statement_ == nullptr) return;
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;

  // A text holding no statement (only blanks or comments) compiles to none;
  // running it does nothing.
  int Step() { return statement_ ? sqlite3_step(statement_) : SQLITE_DONE; }
  sqlite3_stmt* get() const { return statement_; }

 private:
  sqlite3_stmt* statement_;
};

}  // namespace

DatabaseConnection::DatabaseConnection(const std::string& folder, const std::string& fileName,
                                       const DatabaseOptions& options)
    : folder_(folder), fileName_(fileName), options_(options) {
  if (options_.folderOthersCanWrite) ownTables_ = TablesCreatedBy(options_.steps);
  Establish();
}

void DatabaseConnection::Establish() {
  Status opened = UnlessOutOfMemory(Code::kNoMemory, [this] { return Open(); });
  if (opened.ok()) {
    Grant();
  } else {
    // Every refusal closes the database; the refusal is what is reported,
    // not how closing went.
    static_cast<void>(Close());
  }
  state_ = std::move(opened);
}

void DatabaseConnection::Grant() {
  if (GrantFolderAccess(folder_, options_.folderOthersCanWrite, options_.grantsOnce) && held_) RestampAfterGrant();
}

Status DatabaseConnection::Reopen() {
  Establish();
  return state_;
}

DatabaseConnection::~DatabaseConnection() {
  // A destructor has no one to report to; callers who care close first.
  static_cast<void>(Close());
}

// Opens the file and brings its schema to the target version. The statuses
// are those the header lists at the constructor.
Status DatabaseConnection::Open() {
  PathLook look;
  Status looked = LookAtPath(&look);
  if (!looked.ok()) return looked;
  // A connection is reopened by closing it and opening anew, unless it is
  // kept (kept_connection.cpp).
  if (db_ != nullptr && !(held_ && KeepsServing(look.fresh, look.readOnly))) static_cast<void>(Close());
  return OpenLooked(look);
}

// One look at the path: a folder in its place is refused, and where
// nothing can be seen the file is missing and SQLite creates it
// (writable).
Status DatabaseConnection::LookAtPath(PathLook* look) {
  if (!JoinPath(folder_, fileName_, &path_).ok()) return Status(Code::kInvalidArgument, fileName_);
  std::uint32_t attributes = 0;
  const bool seen = fs::GetPathAttributes(path_, &attributes).ok();
  look->folderInPlace = seen && (attributes & fs::kAttributeDirectory) != 0;
  look->fresh = !seen || look->folderInPlace;
  // SQLite opens a read-only file for reading only.
  look->readOnly = !look->fresh && (attributes & fs::kAttributeReadOnly) != 0;
  return Status();
}

// Open's work after the look, on the kept connection or a new one.
Status DatabaseConnection::OpenLooked(const PathLook& look) {
  if (look.folderInPlace) return Status(Code::kUnusable, path_);
  if (look.fresh && !EnsureFolder(folder_).ok()) return Status(Code::kFileError, folder_);
  const std::string native = NativePath(path_);
  const char* vfs = nullptr;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  if (options_.folderOthersCanWrite) {
    vfs = SharedFolderVfs();
    if (vfs == nullptr) return Status(Code::kAccessRefused, path_);
    flags |= SQLITE_OPEN_NOFOLLOW;
    if (RemoveLinksBeside(native)) return Status(Code::kAccessRefused, path_);
  }
  if (db_ == nullptr) {
    ScopedDryRun* dryRun = ScopedDryRun::Current();
    Status opened = dryRun != nullptr            ? ConnectForDryRun(*dryRun, native, look.fresh, flags, vfs)
                    : options_.keptConnection ? OpenHeld(native.c_str(), flags, vfs, look.readOnly)
                                              : Connect(native.c_str(), flags, vfs);
    if (!opened.ok()) return opened;
    // The new file's folder entry must survive a power cut as well.
    if (look.fresh) FlushFolder(folder_);
    Status setUp = SetUp();
    if (!setUp.ok()) return setUp;
  }
  state_ = Status();
  // Open's reads go in one snapshot: one shared lock and one look for a
  // hot journal, not one of each per statement. Begin checks the schema.
  Status begun = Begin(Intent::kRead);
  if (!begun.ok()) return begun;
  SchemaVersions versions;
  if (options_.applySteps) ReadSchemaVersions(&versions);
  const bool stepsDue = StepsWillRun(versions.stored);
  // What a kept connection goes by is read once after a new open, after
  // the steps when some are due.
  const bool heldStateDue = held_ && !held_->dataVersion;
  if (heldStateDue && !stepsDue) ReadHeldState();
  static_cast<void>(Control("COMMIT"));
  if (!options_.applySteps) return Status();
  Status brought = BringSchemaToTarget(versions);
  if (brought.ok() && heldStateDue && stepsDue) ReadHeldState();
  return brought;
}

// Opens SQLite's connection to `name`.
Status DatabaseConnection::Connect(const char* name, int flags, const char* vfs) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(name, &db, flags, vfs);
  if (rc != SQLITE_OK) {
    // SQLite may hand back a connection even when the open fails; it must
    // still be released.
    sqlite3_close(db);
    return StatusFromSqlite(rc, path_);
  }
  db_ = db;
  ++generation_;
  state_ = Status();
  return Status();
}

// Sets the new connection up as every connection of the module is.
Status DatabaseConnection::SetUp() {
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  // Each commit is synced by SQLite itself, whatever the library's
  // default: that is the flush a commit owes.
  Status synced = Execute("PRAGMA synchronous = FULL");
  if (!synced.ok()) return synced;
  // Only statements of this module call it: never a view or trigger of
  // the file.
  const int defined = sqlite3_create_function_v2(db_, "is_plain_text", 1,
                                                 SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_DIRECTONLY,
                                                 nullptr, IsPlainText, nullptr, nullptr, nullptr);
  if (defined != SQLITE_OK) return StatusFromSqlite(defined, path_);
  if (options_.folderOthersCanWrite) return DistrustContent();
  return Status();
}

// The compiled statement of `sql`, compiled on first use, with `parameters`
// bound.
Status DatabaseConnection::Prepare(const char* sql, Parameters parameters, sqlite3_stmt** out) {
  *out = nullptr;
  if (sql == nullptr) return Status(Code::kInvalidArgument);
  if (db_ == nullptr) return Status(Code::kNotOpen);
  sqlite3_stmt* statement = nullptr;
  for (const auto& [text, compiled] : statements_) {
    if (text == sql) statement = compiled;
  }
  if (statement == nullptr) {
    statements_.reserve(statements_.size() + 1);
    const int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
    if (rc != SQLITE_OK) return StatusFromSqlite(rc, sqlite3_errmsg(db_));
    // A text holding no statement compiles to none and is not kept.
    if (statement == nullptr) return Status();
    statements_.emplace_back(sql, statement);
  }
  int index = 1;
  for (const Parameter& parameter : parameters) {
    const int rc = parameter.isText()
                       ? sqlite3_bind_text(statement, index, parameter.text().data(),
                                           static_cast<int>(parameter.text().size()), SQLITE_STATIC)
                       : sqlite3_bind_int(statement, index, parameter.number());
    if (rc != SQLITE_OK) {
      sqlite3_clear_bindings(statement);
      return StatusFromSqlite(rc, sqlite3_errmsg(db_));
    }
    ++index;
  }
  *out = statement;
  return Status();
}

Status DatabaseConnection::Execute(const char* sql, Parameters parameters) {
  return QueryRows(sql, parameters, nullptr, nullptr);
}

// "BEGIN", "COMMIT" or "ROLLBACK", run as it is.
Status DatabaseConnection::Control(const char* sql) {
  if (!state_.ok()) return state_;
  return RunStatement(sql, {}, nullptr, nullptr, Scope::kAlone);
}

Status DatabaseConnection::QueryRows(const char* sql, Parameters parameters, RowCallback callback,
                                     void* context) {
  if (!state_.ok()) return state_;
  return RunStatement(sql, parameters, callback, context, Scope::kUnit);
}

// Runs `sql`; in Scope::kUnit, within the open unit (JoinUnit).
Status DatabaseConnection::RunStatement(const char* sql, Parameters parameters, RowCallback callback,
                                        void* context, Scope scope) {
  progressLeft_ = kProgressSteps;
  Status run = UnlessOutOfMemory(Code::kNoMemory, [&] {
    sqlite3_stmt* compiled = nullptr;
    Status prepared = Prepare(sql, parameters, &compiled);
    if (!prepared.ok()) return prepared;
    StatementUse statement(compiled);
    if (scope == Scope::kUnit) {
      Status joined = JoinUnit(compiled);
      if (!joined.ok()) return joined;
      // The begin's statements spent their own budget.
      progressLeft_ = kProgressSteps;
    }
    for (;;) {
      const int rc = statement.Step();
      if (rc == SQLITE_DONE) return Status();
      if (rc != SQLITE_ROW) return StatusFromSqlite(rc, sqlite3_errmsg(db_));
      if (callback != nullptr && !callback(context, Row(statement.get()))) return Status();
    }
  });
  if (held_) Restamp();
  return run;
}

Status DatabaseConnection::QueryText(const char* sql, Parameters parameters, std::string* out) {
  if (out == nullptr) return Status(Code::kInvalidArgument);
  bool found = false;
  Status status = Query(sql, parameters, [&](const Row& row) {
    out->assign(row.Text(0));
    found = true;
    return false;
  });
  if (status.ok() && !found) return Status(Code::kNotFound);
  return status;
}

Status DatabaseConnection::QueryColumn(const char* sql, Parameters parameters, TextList* out) {
  if (out == nullptr) return Status(Code::kInvalidArgument);
  TextList values;
  Status status = Query(sql, parameters, [&values](const Row& row) {
    values.Append(row.Text(0));
    return true;
  });
  if (!status.ok()) return status;
  if (values.empty()) return Status(Code::kNotFound);
  *out = std::move(values);
  return Status();
}

bool DatabaseConnection::InTransaction() const { return db_ != nullptr && sqlite3_get_autocommit(db_) == 0; }

Status DatabaseConnection::Close() {
  if (db_ == nullptr) return Status();
  for (const auto& entry : statements_) sqlite3_finalize(entry.second);
  statements_.clear();
  const int rc = sqlite3_close(db_);
  db_ = nullptr;
  held_.reset();
  unitOpen_ = false;
  state_ = Status(Code::kNotOpen);
  return StatusFromSqlite(rc, path_);
}

}  // namespace customhooks::storage
