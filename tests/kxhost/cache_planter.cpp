// What a plain user plants in the cache folder, for the kxhost checks (run
// under Wine on the Windows build):
//   cache_planter journal DATABASE SUPER   a hot journal beside DATABASE
//                                          naming SUPER as its super-journal
//   cache_planter schema DATABASE          a CHECK on the cache's own table
//                                          that costs seconds and gigabytes
//                                          on every insert
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

bool PlantSchema(const std::string& database) {
  sqlite3* db = nullptr;
  const bool planted =
      sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
      sqlite3_exec(db,
                   "DROP TABLE domain_data; CREATE TABLE domain_data ( domain TEXT NOT NULL, subDomain TEXT NOT "
                   "NULL, key TEXT NOT NULL, value TEXT, CHECK (length(upper(hex(zeroblob(499999999)))) > 0), "
                   "PRIMARY KEY (domain, subDomain, key) );",
                   nullptr, nullptr, nullptr) == SQLITE_OK;
  return sqlite3_close(db) == SQLITE_OK && planted;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "journal") == 0) return PlantJournal(argv[2], argv[3]) ? 0 : 1;
  if (argc == 3 && std::strcmp(argv[1], "schema") == 0) return PlantSchema(argv[2]) ? 0 : 1;
  std::fprintf(stderr, "usage: cache_planter journal DATABASE SUPER | schema DATABASE\n");
  return 2;
}
