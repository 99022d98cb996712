// What a plain user plants in the cache folder, for the kxhost checks (run
// under Wine on the Windows build):
//   cache_planter journal DATABASE SUPER   a hot journal beside DATABASE
//                                          naming SUPER as its super-journal
//   cache_planter schema DATABASE          a CHECK on the cache's own table
//                                          that costs seconds and gigabytes
//                                          on every insert
//   cache_planter triggers DATABASE        300 triggers of 9.8 kB,
//                                          which would cost SQLite some
//                                          200 MB to load
//   cache_planter wal DATABASE             write-ahead log mode
//   cache_planter oversize DATABASE        a header that gives the file
//                                          64 MiB and one page
//   cache_planter unchecked DATABASE       a table of its own with a NULL
//                                          in a NOT NULL column, which
//                                          PRAGMA quick_check reports
// Exits 0 when planted.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include <sqlite3.h>

#include "support/hot_journal.h"

namespace {

bool PlantJournal(const std::string& database, const std::string& super) {
  std::ifstream in(database, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::uint32_t pageSize = DatabasePageSize(bytes);
  if (pageSize == 0) return false;
  std::ofstream out(database + "-journal", std::ios::binary | std::ios::trunc);
  out << HotJournal(pageSize, static_cast<std::uint32_t>(bytes.size() / pageSize), super);
  return static_cast<bool>(out.flush());
}

bool Execute(const std::string& database, const std::string& sql) {
  sqlite3* db = nullptr;
  const bool done = sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
                    sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  return sqlite3_close(db) == SQLITE_OK && done;
}

std::string ManyTriggers() {
  std::string sql = "BEGIN;";
  for (int trigger = 0; trigger < 300; ++trigger) {
    sql += "CREATE TRIGGER t" + std::to_string(trigger) + " BEFORE INSERT ON domain_data BEGIN ";
    for (int statement = 0; statement < 245; ++statement) sql += "SELECT 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11;";
    sql += " END;";
  }
  return sql + "COMMIT;";
}

// The database's size in pages, in its header, set to 64 MiB and one page.
bool Oversize(const std::string& database) {
  std::fstream file(database, std::ios::binary | std::ios::in | std::ios::out);
  char header[100];
  if (!file.read(header, sizeof header)) return false;
  const std::uint32_t pageSize = DatabasePageSize(std::string(header, sizeof header));
  if (pageSize == 0) return false;
  const std::uint32_t pages = (std::uint32_t{64} << 20) / pageSize + 1;
  const char size[4] = {static_cast<char>(pages >> 24), static_cast<char>(pages >> 16),
                        static_cast<char>(pages >> 8), static_cast<char>(pages)};
  file.seekp(28);
  file.write(size, sizeof size);
  return static_cast<bool>(file.flush());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "journal") == 0) return PlantJournal(argv[2], argv[3]) ? 0 : 1;
  if (argc == 3 && std::strcmp(argv[1], "schema") == 0) {
    return Execute(argv[2],
                   "DROP TABLE domain_data; CREATE TABLE domain_data ( domain TEXT NOT NULL, subDomain TEXT NOT "
                   "NULL, key TEXT NOT NULL, value TEXT, CHECK (length(upper(hex(zeroblob(499999999)))) > 0), "
                   "PRIMARY KEY (domain, subDomain, key) );")
               ? 0
               : 1;
  }
  if (argc == 3 && std::strcmp(argv[1], "triggers") == 0) return Execute(argv[2], ManyTriggers()) ? 0 : 1;
  if (argc == 3 && std::strcmp(argv[1], "wal") == 0) return Execute(argv[2], "PRAGMA journal_mode = WAL") ? 0 : 1;
  if (argc == 3 && std::strcmp(argv[1], "oversize") == 0) return Oversize(argv[2]) ? 0 : 1;
  if (argc == 3 && std::strcmp(argv[1], "unchecked") == 0) {
    return Execute(argv[2],
                   "CREATE TABLE notes (a); INSERT INTO notes VALUES (NULL); PRAGMA writable_schema = ON; "
                   "UPDATE sqlite_schema SET sql = 'CREATE TABLE notes (a NOT NULL)' WHERE name = 'notes';")
               ? 0
               : 1;
  }
  std::fprintf(stderr,
               "usage: cache_planter journal DATABASE SUPER | schema DATABASE | triggers DATABASE | wal DATABASE | "
               "oversize DATABASE | unchecked DATABASE\n");
  return 2;
}
