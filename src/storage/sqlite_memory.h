// Owners of memory and statements that SQLite allocates for the storage
// layer.
#ifndef CUSTOMHOOKS_STORAGE_SQLITE_MEMORY_H_
#define CUSTOMHOOKS_STORAGE_SQLITE_MEMORY_H_

#include <memory>

#include <sqlite3.h>

namespace customhooks::storage {

// A text from sqlite3_mprintf or sqlite3_vmprintf.
struct SqliteTextFree {
  void operator()(char* text) const { sqlite3_free(text); }
};
using SqliteText = std::unique_ptr<char, SqliteTextFree>;

// A compiled statement kept for reuse.
struct SqliteStatementFinalize {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using SqliteStatement = std::unique_ptr<sqlite3_stmt, SqliteStatementFinalize>;

// One use of a kept statement: on leaving scope the statement is reset and
// its bindings cleared, so it holds no lock and no pointer of the caller.
class SqliteStatementUse {
 public:
  explicit SqliteStatementUse(sqlite3_stmt* statement) : statement_(statement) {}
  ~SqliteStatementUse() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
  SqliteStatementUse(const SqliteStatementUse&) = delete;
  SqliteStatementUse& operator=(const SqliteStatementUse&) = delete;
  sqlite3_stmt* get() const { return statement_; }

 private:
  sqlite3_stmt* statement_;
};

}  // namespace customhooks::storage

#endif  // CUSTOMHOOKS_STORAGE_SQLITE_MEMORY_H_
