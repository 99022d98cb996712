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
  std::fprintf(stderr, "usage: cache_planter journal DATABASE SUPER | schema DATABASE | triggers DATABASE\n");
  return 2;
}
