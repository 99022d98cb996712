#include "storage_test_support.h"

#include <chrono>
#include <thread>
#include <cstdlib>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "fs/files.h"
#include "fs/paths.h"
#include "fs/platform.h"

using namespace customhooks::fs;

RawDatabase::RawDatabase(const std::string& path, bool create) {
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(NativePath(path).c_str(), &db, flags, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return;
  }
  db_ = db;
  sqlite3_busy_timeout(db_, 10000);
}

RawDatabase::~RawDatabase() { sqlite3_close(db_); }

int RawDatabase::Exec(const std::string& sql) {
  return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
}

std::vector<std::optional<std::string>> RawDatabase::Column(const std::string& sql) {
  std::vector<std::optional<std::string>> values;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << "cannot prepare " << sql << ": " << sqlite3_errmsg(db_);
    return values;
  }
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(stmt, 0);
    if (text == nullptr) {
      values.emplace_back();
    } else {
      values.emplace_back(reinterpret_cast<const char*>(text));
    }
  }
  EXPECT_EQ(rc, SQLITE_DONE) << sql << ": " << sqlite3_errmsg(db_);
  sqlite3_finalize(stmt);
  return values;
}

std::optional<std::string> RawDatabase::Value(const std::string& sql) {
  std::vector<std::optional<std::string>> values = Column(sql);
  if (values.empty()) return std::nullopt;
  return values.front();
}

std::vector<std::string> RawDatabase::SchemaTexts() {
  std::vector<std::string> texts;
  for (const auto& text : Column("SELECT sql FROM sqlite_master WHERE sql IS NOT NULL ORDER BY rowid")) {
    texts.push_back(text.value_or("<NULL>"));
  }
  return texts;
}

std::vector<std::string> CreateTextsOf(customhooks::storage::SchemaStep step) {
  std::vector<std::string> texts;
  for (; *step != nullptr; ++step) {
    std::string text = *step;
    if (text.rfind("CREATE ", 0) != 0) continue;
    if (!text.empty() && text.back() == ';') text.pop_back();
    texts.push_back(text);
  }
  return texts;
}

int StatementCount(customhooks::storage::SchemaStep step) {
  int count = 0;
  while (step[count] != nullptr) ++count;
  return count;
}

void WriteVersionedDatabase(const std::string& path, const char* schemaVersion,
                            const char* compatibilityVersion) {
  MakeFolders(ParentPath(path));
  RawDatabase db(path, true);
  ASSERT_TRUE(db.ok()) << path;
  ASSERT_EQ(db.Exec("CREATE TABLE pcd_meta ( key TEXT NOT NULL, value TEXT NOT NULL, PRIMARY KEY (key) );"),
            SQLITE_OK);
  if (schemaVersion != nullptr) {
    ASSERT_EQ(db.Exec(std::string("INSERT INTO pcd_meta VALUES ('schema_version', '") + schemaVersion + "')"),
              SQLITE_OK);
  }
  if (compatibilityVersion != nullptr) {
    ASSERT_EQ(db.Exec(std::string("INSERT INTO pcd_meta VALUES ('schema_compatibility_version', '") +
                      compatibilityVersion + "')"),
              SQLITE_OK);
  }
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

customhooks::Status TwoSecondTimesEnv::GetFileStamp(const std::u16string& path, customhooks::fs::Links links,
                                                         customhooks::fs::FileStamp* stamp) {
#if defined(_WIN32)
  constexpr std::int64_t kPerSecond = 10000000;  // 100 ns since 1601
  constexpr std::int64_t kEpoch = 11644473600LL * kPerSecond;
#else
  constexpr std::int64_t kPerSecond = 1000000000;  // ns since 1970
  constexpr std::int64_t kEpoch = 0;
#endif
  customhooks::Status status = EnvWrapper::GetFileStamp(path, links, stamp);
  if (!status.ok()) return status;
  stamp->lastWriteTime -= stamp->lastWriteTime % (2 * kPerSecond);
  stamp->changeTime -= stamp->changeTime % (2 * kPerSecond);
  const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                       std::chrono::system_clock::now().time_since_epoch()).count() / (1000000000 / kPerSecond);
  stamp->racy = customhooks::fs::platform::RacyStamp(stamp->lastWriteTime, stamp->changeTime, now + kEpoch,
                                                      kPerSecond, 0);
  return status;
}

void TwoSecondTimesEnv::WaitForFreshTwoSeconds() {
  const auto since = std::chrono::system_clock::now().time_since_epoch() % std::chrono::seconds(2);
  if (since > std::chrono::seconds(1)) std::this_thread::sleep_for(std::chrono::seconds(2) - since);
}

LockHolder::LockHolder(const std::string& databasePath, const char* mode, int holdMs,
                       const std::string& markerPath)
    : marker_(markerPath),
      child_(CH_LOCK_HOLDER_PATH,
             {NativePath(databasePath), mode, std::to_string(holdMs), NativePath(markerPath)}) {}

bool LockHolder::WaitUntilLocked() { return child_.WaitForFile(marker_); }

int LockHolder::Finish() { return child_.Wait(); }

namespace customhooks::storage {

bool operator==(const Status& status, const Outcome& expected) {
  return expected ? status.Is(*expected) : status.ok();
}

bool operator!=(const Status& status, const Outcome& expected) { return !(status == expected); }

}  // namespace customhooks::storage
