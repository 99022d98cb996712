// The one layer through which the configuration store and the payload reader
// reach SQLite.
//
// A DatabaseConnection finds or creates its database file (and the folder
// chain that holds it), opens it with a busy timeout of 2000 ms, brings its
// schema to the version the opener asks for, and runs statements whose
// values are bound to their parameters (?1, ?2, ...), never written into the
// SQL text. Each statement text is compiled once per connection and kept
// until the connection closes; texts are identified by their address, so
// they must have static storage (string literals or static tables).
//
// Transactions are explicit (Transaction, below); a statement run outside
// one is a transaction of its own (SQLite's autocommit mode).
//
// Besides SQLite's own, the statements may call is_plain_text(X): 1 when X
// is a text holding no NUL, else 0 (a view or trigger of the file cannot).
//
// Every operation returns a Status with a code of storage_status.h and never
// throws; running out of memory anywhere in an operation gives
// Code::kNoMemory. The one exception is the constructor, which throws
// std::bad_alloc only when it cannot copy its arguments. Every value handed
// out is a copy the caller owns.
#ifndef CUSTOMHOOKS_STORAGE_DATABASE_CONNECTION_H_
#define CUSTOMHOOKS_STORAGE_DATABASE_CONNECTION_H_

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fs/files.h"
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

// A list of texts kept in one block: a search hands out one ID per installed
// payload, and a string of its own for each would cost more than the ID.
class TextList {
 public:
  std::size_t size() const { return ends_.size(); }
  bool empty() const { return ends_.empty(); }
  // Entry `i`, NUL-terminated.
  const char* operator[](std::size_t i) const { return bytes_.data() + (i == 0 ? 0 : ends_[i - 1] + 1); }
  // Throws std::bad_alloc when memory runs out.
  void Append(std::string_view text);

 private:
  std::string bytes_;
  std::vector<std::uint32_t> ends_;  // offset of each entry's terminator
};

class Transaction;

// How a database is opened.
struct DatabaseOptions {
  // The steps that give the file its schema, and the version they bring it
  // to. With `applySteps`, Open reads the version records and applies the
  // steps due.
  SchemaStepTable steps = nullptr;
  int targetVersion = 0;
  bool applySteps = false;
  // The file lies in a folder that others can write: the database and its
  // journal are opened only as regular files of their own in that folder
  // (see storage/shared_folder_vfs.h), links planted at their names are
  // removed and refuse the open (Code::kAccessRefused), and the content is
  // not trusted: its schema is checked before any statement uses it, and
  // every statement's work is bounded.
  bool folderOthersCanWrite = false;
};

class DatabaseConnection {
 public:
  // Keeps the parameters and opens the database at once; state() holds the
  // status of opening (listed at Open, below). After a successful open the
  // folder's access list is replaced (write access for everyone only in a
  // folder others can write).
  DatabaseConnection(const std::string& folder, const std::string& fileName, const DatabaseOptions& options);
  // Closes, dropping the status.
  ~DatabaseConnection();
  DatabaseConnection(const DatabaseConnection&) = delete;
  DatabaseConnection& operator=(const DatabaseConnection&) = delete;

  // Success while open; Code::kUnusable after Close; otherwise the status
  // with which Open failed.
  const Status& state() const { return state_; }
  // True when this connection is to `fileName` in `folder`.
  bool Serves(const std::string& folder, const std::string& fileName) const {
    return folder == folder_ && fileName == fileName_;
  }

  // Runs a statement, skipping any rows it gives. A statement asked of a
  // connection that is not open gives state(). A failure of SQLite carries
  // SQLite's message as its context.
  Status Execute(const char* sql, Parameters parameters = {});

  // Runs a query and calls `onRow` for each row until it returns false.
  // Code::kNotOpen when the connection is not open; otherwise success or
  // the failure of SQLite (rows already handed on stay handed on).
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
  // What a transaction's reads are drawn from: SQLite's connection, its data
  // version and the file's stamp.
  struct ContentMark {
    std::uint64_t generation = 0;
    std::int64_t dataVersion = 0;
    fs::FileStamp stamp;
  };
  // Marks what the open transaction reads; taken before its reads, so that
  // a later change shows in a later mark. Requires: InTransaction().
  Status MarkContent(ContentMark* mark);
  // True when what the open transaction reads is known to be unchanged
  // since `mark`: the same connection and data version, and a stamp that
  // `mark`'s vouches for (a writer that is not SQLite leaves the data
  // version as it was).
  bool ShowsContentOf(const ContentMark& mark);

  // SQLite's data version of the file ("PRAGMA data_version"): it changes
  // when another connection, of this process or another, has committed a
  // change to the file since this connection last read it. Numbers of two
  // connections are not comparable.
  Status DataVersion(std::int64_t* version);

  // Runs step `n` of the step table between "BEGIN" and "COMMIT".
  // Code::kUnusable when not open or when a statement fails (the step is
  // rolled back), Code::kInvalidArgument when `n` is below 1,
  // Code::kMissingStep when the table ends before step `n`; else the status
  // of BEGIN or COMMIT.
  Status ApplySchemaStep(int n);

  // Opens the database again and gives what a new connection to the same
  // file would give: the statuses of Open, below, and afterwards the same
  // reads. SQLite's connection, its schema and its compiled statements are
  // kept while the path (followed as SQLite follows links) still names the
  // file it holds, read-only or writable as before, and that file is
  // unchanged since its stamp, changed by another SQLite writer's commit, or
  // (where the stamp can't tell) still has the schema SQLite loaded; the
  // pages SQLite held are dropped, so every later read comes from the file.
  // Otherwise the file is opened anew. The checks of opening run again
  // either way. Requires: no transaction of this connection open. After a
  // failure the connection is closed, as after a failed open.
  // Known difference: a file made unreadable (not read-only) within the
  // file system's timestamp granularity of this connection's own last write
  // is still read through the kept connection, where a new open would fail.
  Status Reopen();

  // Forces the file to disk when this connection has changed it since its
  // last flush: what closing would do for durability, without closing.
  void Flush();

  // Makes the connection as a new one would be, to be used again: a
  // transaction still open is rolled back (as closing would discard it),
  // then Flush.
  void Settle();

  // Forces the file to disk when this connection has changed it since its
  // last flush, then closes the SQLite connection (discarding a transaction
  // still open). The connection is closed afterwards whatever SQLite
  // reports; the result is SQLite's status. Success when not open.
  Status Close();

 private:
  friend class Transaction;

  // Opens the file and brings its schema to the target version:
  //  kInvalidArgument  the path of the file can't be built (too long);
  //  kUnusable         a folder stands where the file should be;
  //  kFileError        the folder can't be created (or SQLite reports a
  //                    file error);
  //  kAccessRefused    SQLite can't open the file, or (in a folder others
  //                    can write) the file or a journal is a link, or is
  //                    refused as one;
  //  kFileError        (in a folder others can write) the schema is not
  //                    this connection's own (CheckSchema), or a journal
  //                    would grow the file past its bound;
  //  kSchemaTooNew     the database requires a newer schema than the target
  //                    version;
  //  kBusy, kFileError, kAccessRefused  the version records can't be read
  //                    because the file is locked, is not a database, or is
  //                    unreadable;
  //  kUnusable, kMissingStep  a schema step after the first one tried
  //                    failed / is missing;
  //  kNotFound         no step is needed but a version record is missing.
  // A failure of the first step tried (for instance a database that holds
  // its tables but no version records) is not an error: the step is rolled
  // back and the database is used as it is. The constructor runs it once
  // and closes the database after every refusal.
  Status Open();
  // Open, then the folder's access list after a success, or Close after a
  // refusal; the result becomes state().
  void Establish();

  template <typename OnRow>
  static bool CallRow(void* onRow, const Row& row) {
    return (*static_cast<OnRow*>(onRow))(row);
  }
  using RowCallback = bool (*)(void*, const Row&);
  Status QueryRows(const char* sql, Parameters parameters, RowCallback callback, void* context);
  Status RunStatement(const char* sql, Parameters parameters, RowCallback callback, void* context);
  // "BEGIN", "COMMIT" or "ROLLBACK", run as it is.
  Status Control(const char* sql);
  // Stamps the file again once this connection's changes reached it; the
  // stamp is racy.
  void Restamp();
  // Whether SQLite's connection still serves the file at the path as a new
  // connection would: the same file, unchanged since the stamp (its schema
  // as loaded where the stamp can't tell) or changed by another SQLite
  // writer's commit, which SQLite sees itself. A kept connection drops the
  // pages it holds.
  bool KeepsServing(bool fresh, bool readOnly);
  // True when the schema's entries, read from the file, are those read when
  // SQLite's connection loaded it.
  bool KeepsFilesSchema();
  // The schema's entries, each column followed by a NUL.
  Status ReadSchema(std::string* entries);
  // The compiled statement of `sql`, compiled on first use, with
  // `parameters` bound.
  Status Prepare(const char* sql, Parameters parameters, sqlite3_stmt** out);
  // COMMIT, then the flush of a changed file; see Transaction::Commit.
  Status CommitTransaction();
  // The version records, as Open reads them in its snapshot: `read` is the
  // status of reading them (a missing row or table included).
  struct SchemaVersions {
    long long stored = 0;
    int compat = 0;
    Status read;
  };
  void ReadSchemaVersions(SchemaVersions* versions);
  // Applies the steps from the stored version up to the target.
  Status BringSchemaToTarget(const SchemaVersions& versions);
  // Reads the data version and the schema a new stamp goes with.
  void ReadStampedState();
  // Removes links planted at the names of the database and of its journals;
  // true when one was there.
  static bool RemoveLinksBeside(const std::string& database);
  // Settings for a database that others can write: no trigger or view
  // runs, the schema can't be written, pages are checked as they are read,
  // the file is not mapped, SQLite's limits are set for untrusted content,
  // and each statement may take a bounded number of virtual-machine steps.
  Status DistrustContent();
  static int SpendProgress(void* connection);
  // In a folder others can write, the file's schema must be made of this
  // connection's own: the tables of the step table's CREATE TABLE
  // statements, as written there, and their automatic indexes; an empty
  // schema is one. Triggers and views are let be: they never run there. Code::kFileError (as for a damaged file) otherwise, or
  // when SQLite can't load the schema within the limits; kBusy when the
  // file stays locked. Success for other connections.
  Status CheckSchema();
  bool IsOwnSchemaEntry(const Row& row) const;
  // "BEGIN", then (in a folder others can write) the schema check, whose
  // read takes the shared lock; a failed check rolls back.
  Status Begin();

  Status state_{Code::kUnusable};
  sqlite3* db_ = nullptr;
  // Statements compiled on this connection, by the address of their text.
  std::vector<std::pair<const char*, sqlite3_stmt*>> statements_;
  // SQLite's count of rows this connection has changed, as it was at the
  // last flush.
  int flushedChanges_ = 0;
  std::uint64_t generation_ = 0;
  // True while a Transaction of this connection is open, whether or not
  // SQLite ended its transaction by itself since.
  bool unitOpen_ = false;
  // Virtual-machine steps the running statement may still take (in a
  // folder others can write).
  int progressLeft_ = 0;
  std::string folder_;
  std::string fileName_;
  // The database file, joined once by Open: a commit builds no path.
  std::string path_;
  // The stamp of the file SQLite's connection holds, taken at the open
  // (racy when it vouches for nothing, as after this connection's own
  // changes), and whether the file was read-only then.
  fs::FileStamp opened_;
  bool openedReadOnly_ = false;
  // Whether opened_ is known to be of the file SQLite holds.
  bool heldKnown_ = false;
  // SQLite's count of this connection's changes, and its data version
  // (-1: not read), when the file was last stamped.
  int stampedChanges_ = 0;
  std::int64_t stampedDataVersion_ = -1;
  // The schema's entries as read right after the open (ReadSchema).
  std::string schemaRead_;
  DatabaseOptions options_;
};

// One transaction of a connection: "BEGIN" (deferred: no lock is taken
// until the first statement in it) when constructed, "ROLLBACK" when it ends
// without a successful Commit. Reads in it see one snapshot of the file
// under one shared lock; the first write takes the write lock. It must end
// before its connection closes.
class Transaction {
 public:
  explicit Transaction(DatabaseConnection& connection);
  Transaction(Transaction&& other) noexcept;
  Transaction& operator=(Transaction&&) = delete;
  Transaction(const Transaction&) = delete;
  ~Transaction();

  // The status of BEGIN: a transaction that did not begin commits and rolls
  // back nothing.
  const Status& begun() const { return begun_; }

  // "COMMIT", then forces the file to disk when the connection has changed
  // it since its last flush. A failed COMMIT (Code::kBusy when another
  // process keeps the file locked) leaves the transaction open: Commit may
  // be called again, and the destructor rolls it back.
  //
  // Where SQLite ended the transaction by itself after a failure (an I/O
  // error, a full disk, memory running out), what was written in it is
  // gone; the statements that follow begin a transaction again, which this
  // Commit stores and the destructor rolls back. A Commit with nothing
  // begun again fails.
  Status Commit();

 private:
  DatabaseConnection* connection_;
  Status begun_;
  bool open_ = false;
};

// Reopens `*held` when it holds a connection (its member `connection`) to
// `fileName` in `folder`, dropping it when the reopen fails; otherwise
// drops it and opens a new one made by `make`. Code::kInvalidArgument for an
// empty folder, which would put the file wherever the process happens to
// run; otherwise the status of the reopen or of the open.
template <typename Holder, typename Make>
Status OpenOrReopen(std::unique_ptr<Holder>* held, DatabaseConnection Holder::*connection, const std::string& folder,
                    const std::string& fileName, Make&& make) {
  if (held == nullptr) return Status(Code::kInvalidArgument);
  if (*held != nullptr && ((**held).*connection).Serves(folder, fileName)) {
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
