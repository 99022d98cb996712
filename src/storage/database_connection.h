// The one layer through which the configuration store and the payload reader
// reach SQLite.
//
// A DatabaseConnection opens its file (creating it and its folders when
// missing) and brings the schema to the version the opener asks for. Values
// are bound to parameters (?1, ?2, ...), never written into the SQL. Each SQL
// text is compiled once per connection and kept, found by its address: it
// must have static storage (a string literal or a static table). A statement
// outside a Transaction is a transaction of its own. A lock held elsewhere
// is waited for kBusyTimeoutMs, then the call gives Code::kBusy.
//
// Statements may call is_plain_text(X): 1 when X is a text holding no NUL,
// else 0. Views and triggers of the file cannot call it.
//
// Every commit is on disk when it returns: SQLite syncs the journal and the
// file at each commit (synchronous FULL, set at the open), so the module
// makes no flush of its own.
//
// Every operation returns a Status (storage_status.h) and never throws;
// running out of memory gives Code::kNoMemory. Only the constructor throws
// std::bad_alloc, when it cannot copy its arguments. Values handed out are
// copies the caller owns. Not thread-safe: one thread at a time.
#ifndef CUSTOMHOOKS_STORAGE_DATABASE_CONNECTION_H_
#define CUSTOMHOOKS_STORAGE_DATABASE_CONNECTION_H_

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fs/files.h"
#include "storage/shortcuts.h"
#include "storage/storage_status.h"

struct sqlite3;
struct sqlite3_stmt;

namespace customhooks::storage {

// One schema step: a null-terminated array of SQL texts (static storage).
using SchemaStep = const char* const*;
// A null-terminated array of schema steps. Step k (counting from 1) brings a
// database from schema version k-1 to k; step 1 creates the whole schema and
// its version records. A step may be empty (its first entry is null).
using SchemaStepTable = const SchemaStep*;

// Busy timeout of every connection, in milliseconds.
constexpr int kBusyTimeoutMs = 2000;

// Reads a decimal number the way atoi does: optional leading blanks, an
// optional sign, then digits; 0 when there are none or the text is null.
// Values beyond the int range saturate.
int DecimalTextToInt(const char* text);

// A value bound to one parameter of a statement: a number or a text. A text
// is bound without a copy; it must outlive the call it is passed to.
class Parameter {
 public:
  Parameter(int number) : number_(number), isText_(false) {}  // NOLINT: implicit by design
  Parameter(std::string_view text) : text_(text), isText_(true) {}  // NOLINT
  Parameter(const char* text) : text_(text), isText_(true) {}  // NOLINT
  Parameter(const std::string& text) : text_(text), isText_(true) {}  // NOLINT

  bool isText() const { return isText_; }
  int number() const { return number_; }
  std::string_view text() const { return text_; }

 private:
  int number_ = 0;
  std::string_view text_;
  bool isText_;
};
using Parameters = std::initializer_list<Parameter>;

// The current row of a query, readable only while the query runs.
class Row {
 public:
  explicit Row(sqlite3_stmt* statement) : statement_(statement) {}
  int ColumnCount() const;
  bool IsNull(int column) const;
  // The column as text; a NULL column reads as the empty text.
  std::string_view Text(int column) const;
  // The column's text read as DecimalTextToInt reads it.
  int Number(int column) const;
  // The column as SQLite converts it to a 64-bit integer.
  std::int64_t Number64(int column) const;

 private:
  sqlite3_stmt* statement_;
};

// A list of texts kept in one block. A search hands out one ID per installed
// payload, and one block costs less than a string for each.
class TextList {
 public:
  std::size_t size() const { return ends_.size(); }
  bool empty() const { return ends_.empty(); }
  // Entry `i`, NUL-terminated. REQUIRES: i < size().
  const char* operator[](std::size_t i) const { return bytes_.data() + (i == 0 ? 0 : ends_[i - 1] + 1); }
  // Throws std::bad_alloc when memory runs out.
  void Append(std::string_view text);

 private:
  std::string bytes_;
  std::vector<std::uint32_t> ends_;  // offset of each entry's terminator
};

class Transaction;

// What a unit of statements (a Transaction) will do.
enum class Intent {
  kRead,   // reads only: one snapshot under one shared lock from its start
  kWrite,  // writes: it takes the write lock at its first write
};

// How a database is opened.
struct DatabaseOptions {
  // The steps that give the file its schema, and the version they bring it
  // to. With `applySteps`, opening applies the steps that are due.
  SchemaStepTable steps = nullptr;
  int targetVersion = 0;
  bool applySteps = false;
  // The file lies in a folder that others can write, and its content is not
  // trusted. The database and its journal are opened only as regular files
  // of their own in that folder (storage/shared_folder_vfs.h). A link at
  // their names is removed and fails the open (Code::kAccessRefused). At the
  // open and at the start of every Transaction, each entry of the schema
  // must be admitted (storage/schema_admission.h, on the tables of the
  // steps), else Code::kFileError. No trigger or view of the file runs, and
  // each statement's work is bounded.
  bool folderOthersCanWrite = false;
  // Shortcuts (storage/shortcuts.h): Reopen may keep SQLite's connection,
  // and the open grants the folder's access through `grantsOnce`.
  bool keptConnection = false;
  fs::GrantsOnce* grantsOnce = nullptr;
};

class DatabaseConnection {
 public:
  // Keeps the arguments and opens the database; state() holds the outcome.
  // A successful open replaces the folder's access list (write access for
  // everyone only with `folderOthersCanWrite`); a failed one closes the
  // database. The failures:
  //  kInvalidArgument  the file's path is too long;
  //  kUnusable         a folder stands where the file should be;
  //  kFileError        the folder can't be created, or the file is damaged
  //                    or not a database; with `folderOthersCanWrite`, also
  //                    a schema entry not admitted, a schema or a file past
  //                    its bound, or a journal that would grow the file past
  //                    its bound;
  //  kAccessRefused    SQLite can't open or read the file; with
  //                    `folderOthersCanWrite`, also a link at its name;
  //  kBusy             the file stays locked;
  //  kSchemaTooNew     the file requires a newer schema than the target;
  //  kUnusable, kMissingStep  a step after the first one tried failed, or
  //                    is missing;
  //  kNotFound         no step is due but a version record is missing.
  // When the first step tried fails (say the file has its tables but no
  // version records), it is rolled back and the file is used as it is.
  DatabaseConnection(const std::string& folder, const std::string& fileName, const DatabaseOptions& options);
  // Closes, dropping the status.
  ~DatabaseConnection();
  DatabaseConnection(const DatabaseConnection&) = delete;
  DatabaseConnection& operator=(const DatabaseConnection&) = delete;

  // Success while open; Code::kNotOpen after Close; otherwise the status
  // with which the open failed. Every statement of a connection that is not
  // open gives this status.
  const Status& state() const { return state_; }
  // True when this connection is to `fileName` in `folder`.
  bool Serves(const std::string& folder, const std::string& fileName) const {
    return folder == folder_ && fileName == fileName_;
  }

  // Runs a statement, skipping any rows it gives. A failure of SQLite
  // carries SQLite's message as its context.
  Status Execute(const char* sql, Parameters parameters = {});

  // Runs a query and calls `onRow` for each row until it returns false.
  // Success, or the failure of SQLite (rows already handed on stay handed
  // on).
  template <typename OnRow>
  Status Query(const char* sql, Parameters parameters, OnRow&& onRow) {
    return QueryRows(sql, parameters, &CallRow<OnRow>, &onRow);
  }

  // First column of the first row (a NULL column reads as the empty text).
  // Code::kNotFound, `*out` untouched, when there is no row.
  Status QueryText(const char* sql, Parameters parameters, std::string* out);

  // First column of every row, in order (NULL columns read as the empty
  // text). Code::kNotFound, `*out` empty, when there is no row.
  Status QueryColumn(const char* sql, Parameters parameters, TextList* out);

  // True while a transaction of this connection is open (its reads see
  // one snapshot).
  bool InTransaction() const;
  // What a transaction's reads come from: SQLite's connection, the data
  // version and the file's stamp.
  struct ContentMark {
    std::uint64_t generation = 0;
    std::int64_t dataVersion = 0;
    fs::FileStamp stamp;
  };
  // Marks what the open transaction reads. Take it before the reads it
  // stands for: a change made after them shows in a later mark.
  // REQUIRES: InTransaction(); else Code::kInvalidArgument.
  Status MarkContent(ContentMark* mark);
  // True when the open transaction is known to read what it read when
  // `mark` was taken: the same SQLite connection, the same data version, and
  // a file stamp that `mark`'s vouches for (fs::FileStamp::Vouches). The
  // stamp catches writers that are not SQLite, which leave the data version
  // as it was. False when in doubt, and outside a transaction.
  bool ShowsContentOf(const ContentMark& mark);

  // SQLite's data version of the file ("PRAGMA data_version"). It changes
  // when another connection, of this process or another, has committed a
  // change to the file since this connection last read it. Numbers of two
  // connections are not comparable.
  Status DataVersion(std::int64_t* version);

  // Runs step `n` of the step table in a transaction of its own.
  // Code::kNotOpen when not open; Code::kUnusable when a statement fails
  // (the step is rolled back); Code::kInvalidArgument when `n` is below 1;
  // Code::kMissingStep when the table ends before step `n`; else the status
  // of BEGIN or COMMIT.
  Status ApplySchemaStep(int n);

  // Opens the database again. Gives what a new connection to the same file
  // would give: the statuses of the constructor, and afterwards the same
  // reads. Plain, it closes and opens anew. With
  // DatabaseOptions::keptConnection, SQLite's connection, with its compiled
  // statements, is kept while it still serves the file as a new one would;
  // every later read comes from the file all the same. Known difference:
  // suppose this connection wrote the file, and within the file system's
  // timestamp granularity of that write the file is made unreadable. The
  // kept connection still reads it, where a new open would fail. (A file
  // made read-only is seen, and opened anew.)
  // REQUIRES: no transaction of this connection is open.
  // After a failure the connection is closed, as after a failed open.
  Status Reopen();

  // Reopen for a second handle while another handle goes on using the
  // connection, only where Reopen would keep SQLite's connection. Nothing
  // when it would not, or when the connection is not kept, not open, or in
  // a transaction: the connection is left as it was, and the second handle
  // needs a connection of its own. Otherwise Reopen's status; after a
  // failure too the connection stays open for the other handle, as a
  // connection of its own would have.
  std::optional<Status> ReopenShared();

  // Makes the connection as a new one would be, to be used again: a
  // transaction still open is rolled back, as closing would discard it.
  void Settle();

  // Closes the SQLite connection (discarding a transaction still open). The
  // connection is closed afterwards whatever SQLite reports; the result is
  // SQLite's status. Success when not open.
  Status Close();

 private:
  friend class Transaction;

  // What one look at the file's path found.
  struct PathLook {
    bool fresh = false;          // nothing there, or a folder: SQLite would create the file
    bool readOnly = false;       // a file marked read-only
    bool folderInPlace = false;  // a folder where the file should be
  };
  Status Open();
  Status LookAtPath(PathLook* look);
  Status OpenLooked(const PathLook& look);
  void Establish();
  void Grant();
  Status Connect(const char* name, int flags, const char* vfs);
  Status SetUp();
  // The connection of a dry run (storage/dry_run.h): to the run's copy of
  // the file, made at the first open after the file's checks.
  Status ConnectForDryRun(class ScopedDryRun& run, const std::string& native, bool fresh, int flags,
                          const char* vfs);

  template <typename OnRow>
  static bool CallRow(void* onRow, const Row& row) {
    return (*static_cast<OnRow*>(onRow))(row);
  }
  using RowCallback = bool (*)(void*, const Row&);
  Status QueryRows(const char* sql, Parameters parameters, RowCallback callback, void* context);
  // Whether a statement belongs to the open unit, or is one of the unit's
  // own BEGIN, COMMIT and ROLLBACK.
  enum class Scope { kUnit, kAlone };
  Status RunStatement(const char* sql, Parameters parameters, RowCallback callback, void* context, Scope scope);
  Status Control(const char* sql);
  // The kept connection (kept_connection.cpp).
  Status OpenHeld(const char* native, int flags, const char* vfs, bool readOnly);
  void ReadHeldState();
  void RestampAfterGrant();
  void Restamp();
  bool KeepsServing(bool fresh, bool readOnly);
  bool KeepsFilesSchema();
  Status ReadSchema(std::string* entries);
  Status Prepare(const char* sql, Parameters parameters, sqlite3_stmt** out);
  Status CommitTransaction();
  // The version records as Open reads them: `read` is the status of reading
  // them (a missing row or table included).
  struct SchemaVersions {
    long long stored = 0;
    int compat = 0;
    Status read;
  };
  void ReadSchemaVersions(SchemaVersions* versions);
  Status BringSchemaToTarget(const SchemaVersions& versions);
  bool StepsWillRun(long long stored) const;
  SchemaStep StepAt(long long n) const;
  static bool RemoveLinksBeside(const std::string& database);
  Status DistrustContent();
  static int SpendProgress(void* connection);
  Status CheckSchema();
  const char* RefusalOfEntry(std::string_view type, std::string_view table, std::string_view sql);
  Status Begin(Intent intent);
  Status OpenUnit(Intent intent);
  Status JoinUnit(sqlite3_stmt* statement);

  // The work one statement may do in a folder others can write, loading
  // the schema included, counted in steps of SQLite's virtual machine rather
  // than in time, so that the same file always gives the same result:
  // kProgressPeriod instructions a step.
  static constexpr int kProgressPeriod = 1000;
  static constexpr int kProgressSteps = 20;

  Status state_{Code::kNotOpen};
  sqlite3* db_ = nullptr;
  // Statements compiled on this connection, by the address of their text.
  std::vector<std::pair<const char*, sqlite3_stmt*>> statements_;
  std::uint64_t generation_ = 0;
  // True while a Transaction of this connection is open, whether or not
  // its SQLite transaction has begun, or SQLite ended it by itself since.
  bool unitOpen_ = false;
  Intent unitIntent_ = Intent::kRead;
  // Whether the open unit's SQLite transaction began, and how its last
  // begin went.
  bool unitBegan_ = false;
  Status unitBegin_;
  // Virtual-machine steps the running statement may still take (in a
  // folder others can write).
  int progressLeft_ = 0;
  std::string folder_;
  std::string fileName_;
  // The database file, joined once by Open: a commit builds no path.
  std::string path_;
  // What a connection that may be kept knows of the file SQLite holds.
  // Only with DatabaseOptions::keptConnection, and only while that file is
  // known.
  struct HeldFile {
    // Its stamp, and whether it was read-only at the open.
    fs::FileStamp stamp;
    bool readOnly = false;
    // SQLite's count of this connection's changes, and its data version,
    // at the stamp.
    int changes = 0;
    std::optional<std::int64_t> dataVersion;
    // The schema's entries as read right after the open (ReadSchema).
    std::string schema;
  };
  std::optional<HeldFile> held_;
  DatabaseOptions options_;
  // With `folderOthersCanWrite`: the tables of the steps, which the
  // module's statements use.
  std::vector<std::string> ownTables_;
  // Schema entries admitted on this connection (type, tbl_name and sql,
  // each followed by a NUL): the same text is admitted again unjudged.
  std::vector<std::string> admittedEntries_;
};

// One transaction of a connection; ending without a successful Commit rolls
// it back.
// - A read unit begins at once ("BEGIN"): its reads see one snapshot of the
//   file under one shared lock.
// - A write unit begins at its first write ("BEGIN IMMEDIATE"), which waits
//   up to the busy timeout for another process's write lock, as a new
//   connection's write would. (A transaction that has read first can't wait:
//   SQLite refuses it the write lock at once.) Reads before that run on
//   their own. When that begin fails, the write gives its status, and the
//   next write tries again. The write lock is held from the first write to
//   the end of the unit.
// In a folder others can write, the schema is checked within each begun
// transaction, before the statement that began it.
// REQUIRES: it ends before its connection closes.
class Transaction {
 public:
  Transaction(DatabaseConnection& connection, Intent intent);
  Transaction(Transaction&& other) noexcept;
  Transaction& operator=(Transaction&&) = delete;
  Transaction(const Transaction&) = delete;
  ~Transaction();

  // A read unit: the status of its BEGIN. A write unit: its connection's
  // state. A unit that did not begin commits nothing (Commit gives this
  // status) and rolls back nothing.
  const Status& begun() const { return begun_; }

  // "COMMIT". A write unit that never began commits nothing: success, or
  // the failure of its last begin. A failed COMMIT (Code::kBusy while another
  // process keeps the file locked) leaves the transaction open: Commit may
  // be called again, and the destructor rolls it back. After some failures
  // (an I/O error, a full disk, no memory) SQLite ends the transaction by
  // itself, and what it wrote is gone. Later statements begin a new one,
  // which Commit stores; with no statement since, Commit fails.
  Status Commit();

 private:
  DatabaseConnection* connection_;
  Status begun_;
  bool open_ = false;
};

// Opens the database that `*held` serves through its member `connection`:
// `*held` is dropped and a new one made by `make` is opened; it is kept only
// when it opened. With Shortcuts::keptConnections, a connection `*held`
// holds to `fileName` in `folder` is reopened instead, and dropped when the
// reopen fails. Code::kInvalidArgument for an empty folder, which would put
// the file wherever the process happens to run; otherwise the status of the
// reopen or of the open.
template <typename Holder, typename Make>
Status OpenOrReopen(std::unique_ptr<Holder>* held, DatabaseConnection Holder::*connection, const std::string& folder,
                    const std::string& fileName, const Shortcuts& shortcuts, Make&& make) {
  if (held == nullptr) return Status(Code::kInvalidArgument);
  if (shortcuts.keptConnections && *held != nullptr && ((**held).*connection).Serves(folder, fileName)) {
    Status reopened = ((**held).*connection).Reopen();
    if (!reopened.ok()) held->reset();
    return reopened;
  }
  held->reset();
  if (folder.empty()) return Status(Code::kInvalidArgument, fileName);
  return UnlessOutOfMemory(Code::kNoMemory, [&] {
    std::unique_ptr<Holder> opened = make();
    const Status& state = ((*opened).*connection).state();
    if (!state.ok()) return state;
    *held = std::move(opened);
    return Status();
  });
}

}  // namespace customhooks::storage

#endif  // CUSTOMHOOKS_STORAGE_DATABASE_CONNECTION_H_
