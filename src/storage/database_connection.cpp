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
#include "fs/fast_paths.h"
#include "fs/files.h"
#include "fs/paths.h"
#include "fs/shared_folder.h"
#include "storage/schema_admission.h"
#include "storage/shared_folder_vfs.h"
#include "storage/storage_status.h"

namespace customhooks::storage {

using fs::EnsureFolder;
using fs::FlushFileToDisk;
using fs::FlushFolder;
using fs::GrantFolderAccess;
using fs::IsPlantedLink;
using fs::JoinPath;
using fs::NativePath;
using fs::PathExists;
using fs::RemovePlantedLink;

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
    GrantFolderAccess(folder_, options_.folderOthersCanWrite);
    // The grant may have changed the file's attributes (its change time),
    // not its content: the stamp takes that change in.
    fs::FileStamp granted;
    if (StampFile(path_, &granted, fs::Links::kFollowed).ok() && granted.ContentSince(opened_)) opened_ = granted;
  } else {
    // Every refusal closes the database; the refusal is what is reported,
    // not how closing went.
    static_cast<void>(Close());
  }
  state_ = std::move(opened);
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
  if (!JoinPath(folder_, fileName_, &path_).ok()) return Status(Code::kInvalidArgument, fileName_);
  // One look at the path: a folder in its place is refused, and where
  // nothing can be seen the file is missing and SQLite creates it
  // (writable).
  std::uint32_t attributes = 0;
  const bool seen = fs::GetPathAttributes(path_, &attributes).ok();
  const bool folderInPlace = seen && (attributes & fs::kAttributeDirectory) != 0;
  const bool fresh = !seen || folderInPlace;
  // SQLite opens a read-only file for reading only.
  const bool readOnly = !fresh && (attributes & fs::kAttributeReadOnly) != 0;
  // A connection that no longer serves the file as a new one would is
  // closed, and the file opened anew.
  if (db_ != nullptr && !KeepsServing(fresh, readOnly)) static_cast<void>(Close());
  if (folderInPlace) return Status(Code::kUnusable, path_);
  if (fresh && !EnsureFolder(folder_).ok()) return Status(Code::kFileError, folder_);
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
    // The file SQLite opens is the one stamped before and after the open
    // only when both stamps are of one file; otherwise it may be either.
    fs::FileStamp before;
    const bool stampedBefore = StampFile(path_, &before, fs::Links::kFollowed).ok();
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(native.c_str(), &db, flags, vfs);
    if (rc != SQLITE_OK) {
      // SQLite may hand back a connection even when the open fails; it must
      // still be released.
      sqlite3_close(db);
      return StatusFromSqlite(rc, path_);
    }
    db_ = db;
    ++generation_;
    state_ = Status();
    // Which file SQLite holds is known only when the path named one file
    // before and after the open; otherwise the next Reopen opens anew.
    heldKnown_ = stampedBefore && StampFile(path_, &opened_, fs::Links::kFollowed).ok() && opened_.SameFile(before);
    stampedChanges_ = 0;
    stampedDataVersion_ = -1;
    schemaRead_.clear();
    openedReadOnly_ = readOnly;
    // The new file's folder entry must survive a power cut as well.
    if (fresh) FlushFolder(folder_);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    // Only statements of this module call it: never a view or trigger of
    // the file.
    const int defined = sqlite3_create_function_v2(db_, "is_plain_text", 1,
                                                   SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_DIRECTONLY,
                                                   nullptr, IsPlainText, nullptr, nullptr, nullptr);
    if (defined != SQLITE_OK) return StatusFromSqlite(defined, path_);
    if (options_.folderOthersCanWrite) {
      Status hardened = DistrustContent();
      if (!hardened.ok()) return hardened;
    }
  }
  state_ = Status();
  // Open's reads go in one snapshot: one shared lock and one look for a
  // hot journal, not one of each per statement. Begin checks the schema.
  Status begun = Begin(Intent::kRead);
  if (!begun.ok()) return begun;
  SchemaVersions versions;
  if (options_.applySteps) ReadSchemaVersions(&versions);
  const bool stepsDue = options_.applySteps && versions.stored < options_.targetVersion;
  // The data version the stamp goes with, and the schema SQLite loaded,
  // read once after a new open (after the steps, when some are due).
  const bool stampDue = stampedDataVersion_ < 0;
  if (stampDue && !stepsDue) ReadStampedState();
  static_cast<void>(Control("COMMIT"));
  if (!options_.applySteps) return Status();
  Status brought = BringSchemaToTarget(versions);
  if (brought.ok() && stampDue && stepsDue) ReadStampedState();
  return brought;
}

// Reads the data version and the schema a new stamp goes with.
void DatabaseConnection::ReadStampedState() {
  if (!DataVersion(&stampedDataVersion_).ok()) stampedDataVersion_ = -1;
  if (!ReadSchema(&schemaRead_).ok()) schemaRead_.clear();
}

// Removes links planted at the names of the database and of its journals;
// true when one was there.
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

namespace {

// What a statement on a file that others can write may take. The module's
// own statements need a small part of each; a planted schema that needs
// more fails to load rather than being run.
constexpr struct {
  int limit;
  int value;
} kContentLimits[] = {
    {SQLITE_LIMIT_LENGTH, 16 << 20},      // bytes of a text, blob or row
    {SQLITE_LIMIT_SQL_LENGTH, 10000},     // bytes of a statement, the schema's too
    {SQLITE_LIMIT_COLUMN, 64},            // columns of a table, index or result
    {SQLITE_LIMIT_EXPR_DEPTH, 64},
    {SQLITE_LIMIT_COMPOUND_SELECT, 4},
    {SQLITE_LIMIT_VDBE_OP, 10000},        // instructions of one compiled statement
    {SQLITE_LIMIT_FUNCTION_ARG, 8},
    {SQLITE_LIMIT_ATTACHED, 0},
    {SQLITE_LIMIT_LIKE_PATTERN_LENGTH, 256},
    {SQLITE_LIMIT_VARIABLE_NUMBER, 16},
    {SQLITE_LIMIT_TRIGGER_DEPTH, 1},
    {SQLITE_LIMIT_WORKER_THREADS, 0},
};

// The work one statement may do, loading the schema included, counted in
// steps of SQLite's virtual machine rather than in time, so that the same
// file always gives the same result: kProgressPeriod instructions a step.
constexpr int kProgressPeriod = 1000;
constexpr int kProgressSteps = 20;

}  // namespace

int DatabaseConnection::SpendProgress(void* connection) {
  return --static_cast<DatabaseConnection*>(connection)->progressLeft_ < 0 ? 1 : 0;
}

// Settings for a database that others can write: no trigger or view runs,
// the schema can't be written, pages are checked as they are read, the file
// is not mapped, SQLite's limits are set for untrusted content, and each
// statement may take a bounded number of virtual-machine steps.
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
  for (const auto& bound : kContentLimits) sqlite3_limit(db_, bound.limit, bound.value);
  sqlite3_progress_handler(db_, kProgressPeriod, &DatabaseConnection::SpendProgress, this);
  Status checked = Execute("PRAGMA cell_size_check = ON");
  return checked.ok() ? Execute("PRAGMA mmap_size = 0") : checked;
}

// In a folder others can write, every entry of the file's schema must be
// admitted (storage/schema_admission.h). Code::kBusy when the file stays
// locked. Success for other connections.
Status DatabaseConnection::CheckSchema() {
  if (!options_.folderOthersCanWrite) return Status();
  std::string refused;
  Status read = Query("SELECT type, name, tbl_name, sql FROM sqlite_schema", {}, [this, &refused](const Row& row) {
    const char* why = RefusalOf(row.Text(0), row.Text(2), row.Text(3), ownTables_);
    if (why != nullptr) refused = std::string(row.Text(0)) + " " + std::string(row.Text(1)) + ": " + why;
    return why == nullptr;
  });
  if (!refused.empty()) return Status(Code::kFileError, path_ + ": " + refused);
  // A schema SQLite cannot load within the limits is as unusable as a
  // damaged file.
  if (read.Is(Code::kDatabaseError)) return Status(Code::kFileError, path_);
  return read;
}

// "BEGIN" for a read, "BEGIN IMMEDIATE" for a write (which waits for the
// write lock while this connection holds no lock), then (in a folder others
// can write) the schema check; a failed check rolls back.
Status DatabaseConnection::Begin(Intent intent) {
  Status begun = Control(intent == Intent::kWrite ? "BEGIN IMMEDIATE" : "BEGIN");
  if (!begun.ok()) return begun;
  // What the check read is what the transaction's statements see.
  Status checked = CheckSchema();
  if (!checked.ok()) static_cast<void>(Control("ROLLBACK"));
  return checked;
}

Status DatabaseConnection::OpenUnit(Intent intent) {
  if (!state_.ok()) return state_;
  unitIntent_ = intent;
  unitBegin_ = Status();
  unitBegan_ = false;
  if (intent == Intent::kRead) {
    Status begun = Begin(intent);
    if (!begun.ok()) return begun;
    unitBegan_ = true;
  }
  unitOpen_ = true;
  return Status();
}

// A unit's statement runs in the unit's SQLite transaction, which begins
// when there is none: a read unit's for any statement (SQLite may have ended
// it by itself after a failure), a write unit's at a write.
Status DatabaseConnection::JoinUnit(sqlite3_stmt* statement) {
  if (!unitOpen_ || sqlite3_get_autocommit(db_) == 0) return Status();
  if (unitIntent_ == Intent::kWrite && (statement == nullptr || sqlite3_stmt_readonly(statement) != 0)) {
    return Status();
  }
  unitBegin_ = Begin(unitIntent_);
  unitBegan_ = unitBegan_ || unitBegin_.ok();
  return unitBegin_;
}

void DatabaseConnection::ReadSchemaVersions(SchemaVersions* versions) {
  std::string value;
  versions->read = QueryText("SELECT value FROM pcd_meta WHERE key = 'schema_version'", {}, &value);
  if (!versions->read.ok()) return;
  versions->stored = DecimalTextToInt(value.c_str());
  versions->read = QueryText("SELECT value FROM pcd_meta WHERE key = 'schema_compatibility_version'", {}, &value);
  if (versions->read.ok()) versions->compat = DecimalTextToInt(value.c_str());
}

Status DatabaseConnection::BringSchemaToTarget(const SchemaVersions& versions) {
  const long long stored = versions.stored;
  const int compat = versions.compat;
  const Status& provisional = versions.read;
  // A missing row or a missing table (kDatabaseError) means the file has
  // not been given its schema yet. Any other failure means the file can't be
  // read at all (locked beyond the timeout, not a database, unreadable), and
  // no schema step could make it usable.
  if (!provisional.ok() && !provisional.Is(Code::kNotFound) && !provisional.Is(Code::kDatabaseError)) {
    return provisional;
  }
  if (options_.targetVersion < compat) return Status(Code::kSchemaTooNew, path_);
  const long long first = stored + 1;
  for (long long n = first; n <= options_.targetVersion; ++n) {
    Status applied = ApplySchemaStep(static_cast<int>(n));
    if (applied.ok()) continue;
    // The first step failing means the file already holds (part of) what
    // the step creates; the step has been rolled back and the file is used
    // as it stands.
    if (n == first) return Status();
    return applied;
  }
  if (first <= options_.targetVersion) return Status();
  return provisional;
}

Status DatabaseConnection::ApplySchemaStep(int n) {
  if (db_ == nullptr) return Status(Code::kNotOpen);
  if (n < 1) return Status(Code::kInvalidArgument);
  for (int i = 0; i < n; ++i) {
    if (options_.steps == nullptr || options_.steps[i] == nullptr) return Status(Code::kMissingStep);
  }
  // An empty step writes nothing.
  Status begun = Begin(*options_.steps[n - 1] == nullptr ? Intent::kRead : Intent::kWrite);
  if (!begun.ok()) return begun;
  for (SchemaStep statement = options_.steps[n - 1]; *statement != nullptr; ++statement) {
    if (!Execute(*statement).ok()) {
      // After some failures (a full disk, an I/O error) SQLite has already
      // rolled the transaction back and this ROLLBACK finds none; either
      // way nothing of the step is left, and the step's failure is what
      // counts.
      static_cast<void>(Control("ROLLBACK"));
      return Status(Code::kUnusable, *statement);
    }
  }
  Status committed = Control("COMMIT");
  // A COMMIT refused (another process keeps reading the file) leaves the
  // step's transaction open: it is rolled back, so that the connection is
  // as the step found it.
  if (!committed.ok()) static_cast<void>(Control("ROLLBACK"));
  return committed;
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
  Restamp();
  return run;
}

// Whether a reopen may keep SQLite's connection: it must still serve the
// file at the path (followed as SQLite follows links) as a new connection
// would. That is the same file, read-only or writable as before, and either
// unchanged since its stamp, changed by another SQLite writer's commit, or
// (where the stamp can't tell) still holding the schema SQLite loaded.
bool DatabaseConnection::KeepsServing(bool fresh, bool readOnly) {
  fs::FileStamp now;
  if (!fs::CurrentFastPaths().keptConnections || !heldKnown_ || fresh || readOnly != openedReadOnly_ ||
      InTransaction() || !StampFile(path_, &now, fs::Links::kFollowed).ok() || !now.SameFile(opened_)) {
    return false;
  }
  if (now != opened_) {
    // Changed since the stamp. Another SQLite writer's commit moves the
    // file's change counter on, and SQLite reloads what it keeps; a change
    // that leaves the counter is seen by a new connection only.
    std::int64_t version = 0;
    if (!DataVersion(&version).ok() || stampedDataVersion_ < 0 || version == stampedDataVersion_) return false;
    stampedDataVersion_ = version;
  } else if (opened_.racy && !KeepsFilesSchema()) {
    // A stamp too close to a change to tell: a write in the same tick
    // leaves it as it was, and may have changed the schema too.
    return false;
  }
  // SQLite keeps pages between transactions while the change counter stays.
  // Without them every read from here on comes from the file, as a new
  // connection's would, whatever another writer does from now on.
  sqlite3_db_release_memory(db_);
  opened_ = now;
  stampedChanges_ = sqlite3_total_changes(db_);
  return true;
}

// True when the schema's entries, read from the file, are those read when
// SQLite's connection loaded it.
bool DatabaseConnection::KeepsFilesSchema() {
  if (schemaRead_.empty()) return false;
  // The entries must be read from the file, not from pages SQLite keeps.
  sqlite3_db_release_memory(db_);
  std::string schema;
  return ReadSchema(&schema).ok() && schema == schemaRead_;
}

// The schema's entries, each column followed by a NUL.
Status DatabaseConnection::ReadSchema(std::string* entries) {
  entries->clear();
  return Query("SELECT type, name, tbl_name, rootpage, sql FROM sqlite_schema ORDER BY rowid", {},
               [entries](const Row& row) {
                 for (int column = 0; column < 5; ++column) {
                   entries->append(row.Text(column));
                   entries->push_back('\0');
                 }
                 return true;
               });
}

Status DatabaseConnection::MarkContent(ContentMark* mark) {
  if (!InTransaction()) return Status(Code::kInvalidArgument);
  mark->generation = generation_;
  Status read = DataVersion(&mark->dataVersion);
  if (!read.ok()) return read;
  return StampFile(path_, &mark->stamp, fs::Links::kFollowed);
}

bool DatabaseConnection::ShowsContentOf(const ContentMark& mark) {
  ContentMark now;
  return MarkContent(&now).ok() && now.generation == mark.generation && now.dataVersion == mark.dataVersion &&
         now.stamp.Vouches(mark.stamp);
}

void DatabaseConnection::Restamp() {
  if (db_ == nullptr || sqlite3_get_autocommit(db_) == 0 || sqlite3_total_changes(db_) == stampedChanges_) return;
  stampedChanges_ = sqlite3_total_changes(db_);
  // A stamp taken right after this connection's own change is always
  // within the file system's timestamp granularity of it: another writer's
  // change in the same tick would leave the same stamp. It vouches for
  // nothing; a later change still shows.
  fs::FileStamp after;
  heldKnown_ = heldKnown_ && StampFile(path_, &after, fs::Links::kFollowed).ok() && after.SameFile(opened_);
  if (heldKnown_) opened_ = after;
  opened_.racy = true;
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

Status DatabaseConnection::DataVersion(std::int64_t* version) {
  if (version == nullptr) return Status(Code::kInvalidArgument);
  return Query("PRAGMA data_version", {}, [version](const Row& row) {
    *version = row.Number64(0);
    return false;
  });
}

void DatabaseConnection::Flush() {
  if (db_ == nullptr) return;
  // Every flush costs a disk round trip; a search or a read-only session
  // opens and closes several times without changing anything.
  const int changes = sqlite3_total_changes(db_);
  if (changes == flushedChanges_) return;
  FlushFileToDisk(path_);
  flushedChanges_ = changes;
}

Status DatabaseConnection::CommitTransaction() {
  if (!unitBegan_) return unitBegin_;
  // A connection closed under its transaction committed nothing: Control
  // gives its state.
  Status committed = Control("COMMIT");
  if (!committed.ok()) return committed;
  Flush();
  return Status();
}

void DatabaseConnection::Settle() {
  if (db_ == nullptr) return;
  unitOpen_ = false;
  if (sqlite3_get_autocommit(db_) == 0) static_cast<void>(Control("ROLLBACK"));
  Flush();
}

Status DatabaseConnection::Close() {
  if (db_ == nullptr) return Status();
  if (state_.ok()) Flush();
  for (const auto& entry : statements_) sqlite3_finalize(entry.second);
  statements_.clear();
  const int rc = sqlite3_close(db_);
  db_ = nullptr;
  unitOpen_ = false;
  flushedChanges_ = 0;
  state_ = Status(Code::kNotOpen);
  return StatusFromSqlite(rc, path_);
}

Transaction::Transaction(DatabaseConnection& connection, Intent intent)
    : connection_(&connection), begun_(connection.OpenUnit(intent)), open_(begun_.ok()) {}

Transaction::Transaction(Transaction&& other) noexcept
    : connection_(other.connection_), begun_(std::move(other.begun_)), open_(other.open_) {
  other.open_ = false;
}

Transaction::~Transaction() {
  // After some failures (a full disk, an I/O error) SQLite has already
  // rolled the transaction back and this ROLLBACK finds none; either way
  // nothing of it is left.
  if (!open_) return;
  connection_->unitOpen_ = false;
  static_cast<void>(connection_->Control("ROLLBACK"));
}

Status Transaction::Commit() {
  if (!open_) return begun_;
  Status committed = connection_->CommitTransaction();
  if (committed.ok()) {
    open_ = false;
    connection_->unitOpen_ = false;
  }
  return committed;
}

}  // namespace customhooks::storage
