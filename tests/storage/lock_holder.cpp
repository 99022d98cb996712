// A second process that holds a lock on an SQLite file for a while.
//
//   lock_holder <database> <exclusive|immediate|shared> <milliseconds> <marker>
//               [<busy milliseconds>]
//
// Opens the database, takes the lock (exclusive: no reader or writer gets
// in; immediate: the write lock, readers still get in; shared: a read
// transaction, which keeps writers from committing), creates the marker file,
// holds the lock for the given time or until the marker
// is removed, then ends the transaction. While another connection holds a
// lock, taking it waits up to the busy milliseconds (10000 when not given).
// Exit status 0 on success, 2 on bad arguments, 3 when the lock or the
// marker can't be taken.
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

bool MarkerExists(const char* path) {
  std::FILE* marker = std::fopen(path, "r");
  if (marker != nullptr) std::fclose(marker);
  return marker != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) return 2;
  const char* begin = BeginStatement(argv[2]);
  const int holdMs = std::atoi(argv[3]);
  const int busyMs = argc == 6 ? std::atoi(argv[5]) : 10000;
  if (begin == nullptr || holdMs <= 0 || busyMs < 0) return 2;

  sqlite3* db = nullptr;
  if (sqlite3_open(argv[1], &db) != SQLITE_OK) {
    sqlite3_close(db);
    return 3;
  }
  sqlite3_busy_timeout(db, busyMs);
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

  constexpr int kPollMs = 5;
  for (int held = 0; held < holdMs && MarkerExists(argv[4]); held += kPollMs) sqlite3_sleep(kPollMs);
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return 0;
}
