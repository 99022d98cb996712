// A second process that holds a lock on an SQLite file for a while.
//
//   lock_holder <database> <exclusive|immediate|shared> <milliseconds> <marker>
//
// Opens the database, takes the lock (exclusive: no reader or writer gets
// in; immediate: the write lock, readers still get in; shared: a read
// transaction, which keeps writers from committing), creates the marker file
// and prints "locked", holds the lock for the given time, then ends the
// transaction. Exit status 0 on success, 2 on bad arguments, 3 when the lock
// or the marker can't be taken.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sqlite3.h>

namespace {

const char* BeginStatement(const char* mode) {
  if (std::strcmp(mode, "exclusive") == 0) return "BEGIN EXCLUSIVE";
  if (std::strcmp(mode, "immediate") == 0) return "BEGIN IMMEDIATE";
  if (std::strcmp(mode, "shared") == 0) return "BEGIN; SELECT count(*) FROM sqlite_master";
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  const char* begin = BeginStatement(argv[2]);
  const int holdMs = std::atoi(argv[3]);
  if (begin == nullptr || holdMs <= 0) return 2;

  sqlite3* db = nullptr;
  if (sqlite3_open(argv[1], &db) != SQLITE_OK) {
    sqlite3_close(db);
    return 3;
  }
  sqlite3_busy_timeout(db, 10000);
  if (sqlite3_exec(db, begin, nullptr, nullptr, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return 3;
  }
  std::FILE* marker = std::fopen(argv[4], "w");
  if (marker == nullptr) {
    sqlite3_close(db);
    return 3;
  }
  std::fclose(marker);
  std::printf("locked\n");
  std::fflush(stdout);

  sqlite3_sleep(holdMs);
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return 0;
}
