#include "integration/session_fixture.h"

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>

#include "CustomHooks.h"
#include "fs/files.h"
#include "fs/folders.h"
#include "integration/product_folders.h"
#include "support/data_files.h"
#include "support/disk.h"
#include "fs/product_names.h"

using namespace customhooks::fs;
namespace names = customhooks::names;

namespace {

Lines g_lines;
void KXHOOK_CALL Collect(const char* line) { g_lines.emplace_back(line); }

Records ReadRecords(const std::string& path) {
  Records records;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(NativePath(path).c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    const std::string select =
        "SELECT subDomain, key, value FROM domain_data WHERE domain = " + std::to_string(names::kConfigDomain);
    if (sqlite3_prepare_v2(db, select.c_str(), -1, &stmt, nullptr) == SQLITE_OK) {
      while (sqlite3_step(stmt) == SQLITE_ROW) {
        auto text = [&](int i) {
          const unsigned char* t = sqlite3_column_text(stmt, i);
          return std::string(t ? reinterpret_cast<const char*>(t) : "");
        };
        records[RecordKey(text(0), text(1))] = text(2);
      }
    }
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return records;
}

}  // namespace

std::string RecordKey(const std::string& subdomain, const std::string& key) { return subdomain + "|" + key; }

std::string P(const std::string& text) { return "KX6 Suites Custom hook: " + text; }

void SessionTest::SetUp() {
  ASSERT_TRUE(LayOutSampleSuite(machine_.scratch() + "\\Program Files", suite_));
}

Properties SessionTest::SuiteProperties(const std::string& language) const {
  return {{names::kMediaSignatureProperty, suite_.driverCode}, {names::kInstallLanguageProperty, language}};
}

Lines SessionTest::CloseSession(const Properties& properties, int installMode) {
  std::vector<HookProperty> map;
  for (const auto& p : properties) {
    map.push_back({p.first.c_str(), reinterpret_cast<std::uintptr_t>(p.second.c_str())});
  }
  map.push_back({nullptr, 0});
  g_lines.clear();
  status_ = KXInstallerCustomHookProc(map.data(), KXHOOK_ENTRY_SESSION_CLOSE, installMode, 0, &Collect);
  return g_lines;
}

Lines SessionTest::CloseSessionWithNullMap() {
  g_lines.clear();
  status_ = KXInstallerCustomHookProc(nullptr, KXHOOK_ENTRY_SESSION_CLOSE, 0, 0, &Collect);
  return g_lines;
}

EntryTranscript SessionTest::Transcript(const std::string& name) const {
  return TranscriptOfEntry(name, "SessionClose", suite_.programFiles);
}

void SessionTest::ExpectTranscript(const std::string& name, const Lines& logged) const {
  const EntryTranscript expected = Transcript(name);
  EXPECT_EQ(logged, expected.lines) << "transcript " << name;
  EXPECT_EQ(status_, expected.status) << "transcript " << name;
}

std::string SessionTest::CommonDataPath(const std::string& relative) const {
  return In(machine_.commonData(), relative);
}

std::string SessionTest::PcfFolder() const {
  return customhooks::integration::LocatePcfFolder().value_or(std::string());
}

Records SessionTest::ConfigRecords() const { return ReadRecords(CommonDataPath(ConfigurationDatabase())); }

void SessionTest::StoreNullConfigValue(const std::string& subdomain, const std::string& key) const {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(NativePath(CommonDataPath(ConfigurationDatabase())).c_str(), &db), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  const std::string insert = "INSERT OR REPLACE INTO domain_data (domain, subDomain, key, value) VALUES (" +
                             std::to_string(names::kConfigDomain) + ", ?, ?, NULL)";
  ASSERT_EQ(sqlite3_prepare_v2(db, insert.c_str(), -1, &stmt, nullptr), SQLITE_OK);
  sqlite3_bind_text(stmt, 1, subdomain.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(stmt, 2, key.c_str(), -1, SQLITE_TRANSIENT);
  EXPECT_EQ(sqlite3_step(stmt), SQLITE_DONE);
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

Records SessionTest::CacheRecords() const {
  return ReadRecords(CommonDataPath(CacheDatabase()));
}

void SessionTest::WipeCommonData() const {
  std::error_code ec;
  std::filesystem::remove_all(std::filesystem::u8path(NativePath(machine_.commonData())), ec);
}
