// The one layer through which the configuration store and the payload reader
// reach SQLite.
//
// A DatabaseConnection finds or creates its database file (and the folder
// chain that holds it), opens it with a busy timeout of 2000 ms, brings its
// schema to the version the opener asks for, runs statements written as
// SQLite format strings (%d for an int, %q for a string with its single
// quotes doubled; the format supplies the surrounding quotes), and copies
// every text it returns into blocks that it owns until it is destroyed.
//
// Transactions: the first statement that begins with "INSERT ", "UPDATE " or
// "DELETE " (upper case, at the very first byte) issued outside a transaction
// is preceded by "BEGIN"; later writes join that transaction until Commit,
// Rollback or Close (which discards it). Anything else, including writes in
// lower case, runs in SQLite's autocommit mode.
//
// Every operation returns a Status with a code of storage_status.h and never
// throws; running out of memory anywhere in an operation gives
// Code::kNoMemory. The exceptions are the constructor, which throws
// std::bad_alloc only when it cannot copy its arguments, and the two result
// allocators at the end, which throw it when memory runs out.
#ifndef CUSTOMHOOKS_STORAGE_DATABASE_CONNECTION_H_
#define CUSTOMHOOKS_STORAGE_DATABASE_CONNECTION_H_

#include <cstdarg>
#include <cstddef>
#include <string>
#include <vector>

#include "storage/storage_status.h"

struct sqlite3;

namespace customhooks::storage {

// One schema step: a null-terminated array of SQL texts (static storage).
using SchemaStep = const char* const*;
// A null-terminated array of schema steps. Step k (counting from 1) brings a
// database from schema version k-1 to k; step 1 creates the whole schema and
// its version records. A step may be empty (its first entry is null).
using SchemaStepTable = const SchemaStep*;

// Busy timeout of every connection, in milliseconds.
constexpr int kBusyTimeoutMs = 2000;

// Shared placeholder outputs: an empty text and an empty list (its only entry
// is the terminator). They are never freed; callers must never write them.
char* SharedEmptyText();
char** SharedEmptyList();

// Reads a decimal number the way atoi does: optional leading blanks, an
// optional sign, then digits; 0 when there are none or the text is null.
// Values beyond the int range saturate.
int DecimalTextToInt(const char* text);

class DatabaseConnection {
 public:
  // Keeps the parameters and opens the database at once; state() holds the
  // status of opening (listed at Open, below). After a successful open the
  // folder's access list is replaced (write access for everyone only with
  // `allowWrite`). `allowWrite` also says that others can write the folder:
  // the database and its journal are then opened only as regular files of
  // their own in that folder (see storage/shared_folder_vfs.h), links
  // planted at their names are removed and refuse this open
  // (Code::kAccessRefused), and the content is not
  // trusted: no trigger or view of the file runs, the schema cannot be
  // written, pages are checked as they are read and the file is not mapped.
  // `checkSchema` makes Open read the version records and apply the steps of
  // `stepTable` up to `targetVersion`.
  DatabaseConnection(const std::string& folder, const std::string& fileName,
                     SchemaStepTable stepTable, bool allowWrite, int targetVersion,
                     bool checkSchema);
  // Closes (dropping the status) and frees every returned text and list.
  ~DatabaseConnection();
  DatabaseConnection(const DatabaseConnection&) = delete;
  DatabaseConnection& operator=(const DatabaseConnection&) = delete;

  // Success while open; Code::kUnusable after Close; otherwise the status
  // with which Open failed.
  const Status& state() const { return state_; }
  // The SQLite connection; null when not open.
  sqlite3* handle() const { return db_; }

  // Runs a statement, skipping any rows it gives. A statement asked of a
  // connection that is not open gives state() (a SELECT: Code::kNotFound).
  // A failure of SQLite carries SQLite's message as its context.
  Status Execute(const char* format, ...);

  // First column of the first row. `*out` is the shared empty text when the
  // statement can't be prepared; null with Code::kNotFound when there is no
  // row; a pooled copy on success (a NULL column gives the shared empty
  // text). Code::kInvalidArgument when `out` is null; Code::kNoMemory (with
  // `*out` null) when memory runs out.
  Status QueryValue(char** out, const char* format, ...);

  // Every column of every row, row by row, as a null-terminated array of
  // pooled copies (a NULL column gives the shared empty text). `*out` is
  // the shared empty list with Code::kNotFound when no value was found, and
  // with the failure when the statement can't be prepared or run; null with
  // Code::kNoMemory when memory runs out. Code::kInvalidArgument when `out`
  // is null.
  Status QueryList(char*** out, const char* format, ...);

  // Runs step `n` of the step table between "BEGIN" and "COMMIT".
  // Code::kUnusable when not open or when a statement fails (the step is
  // rolled back), Code::kInvalidArgument when `n` is below 1,
  // Code::kMissingStep when the table ends before step `n`; else the status
  // of BEGIN or COMMIT.
  Status ApplySchemaStep(int n);

  // Commits an open transaction, then forces the file to disk when this
  // connection has changed it since its last flush (whether in that
  // transaction or outside any): a file it has not changed holds nothing of
  // its own to make durable. A failed COMMIT is returned and leaves the
  // transaction open, without flushing. Success when not open.
  Status Commit();

  // Rolls an open transaction back; success when not open or no
  // transaction.
  Status Rollback();

  // Closes the SQLite connection (discarding an open transaction). The
  // connection is closed afterwards whatever SQLite reports; the result is
  // SQLite's status. Success when not open.
  Status Close();

  // A block of `size` bytes owned by the connection until it is destroyed.
  // Throws std::bad_alloc when it can't be allocated; callers are inside an
  // operation that turns that into Code::kNoMemory.
  void* AllocateResult(std::size_t size);

  // A pooled copy of `text` with its terminator; throws as AllocateResult.
  char* CopyResultText(const char* text);

 private:
  // Opens the file and brings its schema to the target version:
  //  kInvalidArgument  the path of the file can't be built (too long);
  //  kUnusable         a folder stands where the file should be;
  //  kFileError        the folder can't be created (or SQLite reports a
  //                    file error);
  //  kAccessRefused    SQLite can't open the file, or (in a folder others
  //                    can write) the file or a journal is a link, or is
  //                    refused as one;
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

  // Blocks are carved out of larger chunks that all live until the pool is
  // destroyed: a search hands out several small texts per payload, and one
  // allocation (and one list entry) for each would cost more than the text.
  class ResultPool {
   public:
    ResultPool() = default;
    ~ResultPool();
    ResultPool(const ResultPool&) = delete;
    ResultPool& operator=(const ResultPool&) = delete;
    // A block of `size` bytes, aligned for any type; throws std::bad_alloc
    // when memory runs out.
    void* Allocate(std::size_t size);

   private:
    // Allocates a chunk of `size` bytes and records it.
    char* AddChunk(std::size_t size);

    std::vector<void*> chunks_;
    char* free_ = nullptr;   // the unused tail of the newest shared chunk
    std::size_t left_ = 0;   // its size
    std::size_t nextChunkSize_ = 0;  // of the next shared chunk; 0 before the first
  };

  class Statement;

  Status Prepare(Statement& statement, const char* format, va_list args);
  Status ExecuteV(const char* format, va_list args);
  Status QueryValueV(char** out, const char* format, va_list args);
  Status QueryListV(char*** out, const char* format, va_list args);
  Status BringSchemaToTarget();
  // Removes links planted at the names of the database and of its journals;
  // true when one was there.
  static bool RemoveLinksBeside(const std::string& database);
  // Settings for a database that others can write.
  Status DistrustContent();

  Status state_{Code::kUnusable};
  sqlite3* db_ = nullptr;
  // SQLite's count of rows this connection has changed, as it was at the
  // last flush.
  int flushedChanges_ = 0;
  ResultPool resultPool_;
  std::string folder_;
  std::string fileName_;
  // The database file, joined once by Open: a commit builds no path.
  std::string path_;
  SchemaStepTable stepTable_;
  bool sharedFolder_;
  bool checkSchema_;
  int targetVersion_;
};

}  // namespace customhooks::storage

#endif  // CUSTOMHOOKS_STORAGE_DATABASE_CONNECTION_H_
