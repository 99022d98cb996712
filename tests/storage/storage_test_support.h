// Helpers of the storage tests: direct SQLite access to the files the module
// writes, path building, and a second process that holds a lock.
#ifndef CUSTOMHOOKS_TESTS_STORAGE_STORAGE_TEST_SUPPORT_H_
#define CUSTOMHOOKS_TESTS_STORAGE_STORAGE_TEST_SUPPORT_H_

#include <chrono>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "fs/env.h"
#include "storage/database_connection.h"
#include "storage/pcd_store.h"
#include "storage/pdb_reader.h"
#include "storage/storage_status.h"
#include "support/child_process.h"
#include "support/disk.h"
#include "support/status_test_support.h"

struct sqlite3;

namespace customhooks::storage {

// What a test expects of a storage result: a code, or kOk for success.
// EXPECT_EQ(..., Code::kBusy), or kOk in a table of cases; plain success is
// EXPECT_OK / ASSERT_OK.
using Outcome = std::optional<Code>;
inline constexpr Outcome kOk = std::nullopt;
// Equal when both are success, or when the status failed with exactly the
// expected code (its context is not compared).
bool operator==(const Status& status, const Outcome& expected);
bool operator!=(const Status& status, const Outcome& expected);

}  // namespace customhooks::storage

// An SQLite connection of the test's own, independent of the module's.
class RawDatabase {
 public:
  // Opens an existing file; with `create`, also creates a missing one (the
  // folder must exist).
  explicit RawDatabase(const std::string& path, bool create = false);
  ~RawDatabase();
  RawDatabase(const RawDatabase&) = delete;
  RawDatabase& operator=(const RawDatabase&) = delete;

  bool ok() const { return db_ != nullptr; }
  // Runs one or more statements; SQLite's result code.
  int Exec(const std::string& sql);
  // The first column of every row; NULL columns are empty optionals.
  std::vector<std::optional<std::string>> Column(const std::string& sql);
  // The first column of the first row; nullopt when there is no row or it
  // is NULL.
  std::optional<std::string> Value(const std::string& sql);
  // The schema texts in sqlite_master, in creation order.
  std::vector<std::string> SchemaTexts();

 private:
  sqlite3* db_ = nullptr;
};

// The texts SQLite keeps in sqlite_master for the CREATE statements of one
// schema step: the statements without their final semicolon.
std::vector<std::string> CreateTextsOf(customhooks::storage::SchemaStep step);
// Number of statements of a schema step.
int StatementCount(customhooks::storage::SchemaStep step);

// Creates a database file (and its folder) holding only the version records
// pcd_meta with the given values.
void WriteVersionedDatabase(const std::string& path, const char* schemaVersion,
                            const char* compatibilityVersion);

// Seconds elapsed since `start`.
double SecondsSince(std::chrono::steady_clock::time_point start);

// Stamps as a file system that records whole two seconds (FAT) gives them:
// a write within the same two seconds as a stamp leaves it as it was.
class TwoSecondTimesEnv : public customhooks::fs::EnvWrapper {
 public:
  TwoSecondTimesEnv() : EnvWrapper(customhooks::fs::Env::Default()) {}
  customhooks::Status GetFileStamp(const std::u16string& path, customhooks::fs::Links links,
                                       customhooks::fs::FileStamp* stamp) override;
  // Waits, when needed, until a new two seconds begin with more than one
  // second left, so that what follows at once falls in one two seconds.
  static void WaitForFreshTwoSeconds();
};

// Runs tests/storage/lock_holder as a separate process that takes a lock on
// a database file and holds it for `holdMs` milliseconds.
class LockHolder {
 public:
  // `mode`: "exclusive", "immediate" or "shared". `markerPath` is created by
  // the helper once it holds the lock.
  LockHolder(const std::string& databasePath, const char* mode, int holdMs,
             const std::string& markerPath);

  // True once the helper holds the lock; false when it gave up or didn't
  // take the lock within 60 seconds.
  bool WaitUntilLocked();
  // Waits for the helper to end; its exit status as std::system reports it.
  int Finish();

 private:
  std::string marker_;
  ChildProcess child_;  // waits for the helper to end when destroyed
};

#endif  // CUSTOMHOOKS_TESTS_STORAGE_STORAGE_TEST_SUPPORT_H_
