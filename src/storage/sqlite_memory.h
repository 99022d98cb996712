// Owners of memory that SQLite allocates for the storage layer.
#ifndef CUSTOMHOOKS_STORAGE_SQLITE_MEMORY_H_
#define CUSTOMHOOKS_STORAGE_SQLITE_MEMORY_H_

#include <memory>

#include <sqlite3.h>

// A text from sqlite3_mprintf or sqlite3_vmprintf.
struct SqliteTextFree {
  void operator()(char* text) const { sqlite3_free(text); }
};
using SqliteText = std::unique_ptr<char, SqliteTextFree>;

// A result table from sqlite3_get_table.
struct SqliteTableFree {
  void operator()(char** table) const { sqlite3_free_table(table); }
};
using SqliteTable = std::unique_ptr<char*, SqliteTableFree>;

#endif  // CUSTOMHOOKS_STORAGE_SQLITE_MEMORY_H_
