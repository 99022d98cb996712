// SQLite ends a transaction by itself after an I/O error, a full disk or
// memory running out. What a unit of records wrote after that belongs to
// the unit still: its commit stores it and its rollback undoes it, so that
// what its lines say is what is stored.
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "fs/files.h"
#include "reliability/sqlite_fault_vfs.h"
#include "storage/pcd_store.h"
#include "fs/product_names.h"
#include "support/status_test_support.h"
#include "support/test_machine.h"

namespace customhooks::storage {
namespace {

std::optional<std::string> Stored(const std::string& file, const std::string& key) {
  sqlite3* db = nullptr;
  std::optional<std::string> value;
  if (sqlite3_open_v2(fs::NativePath(file).c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    const std::string sql = "SELECT value FROM domain_data WHERE key = '" + key + "'";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return value;
}

TEST(EndedUnit, WritesAfterSqliteEndedTheTransactionBelongToTheUnit) {
  ASSERT_TRUE(sqlitefaults::Install());
  TestMachine machine;
  const std::string folder = machine.commonData() + "\\" + customhooks::names::kConfigurationFolder;
  const std::string file = folder + "\\" + customhooks::names::kConfigurationFile;
  for (const bool commit : {true, false}) {
    SCOPED_TRACE(commit ? "committed" : "rolled back");
    std::unique_ptr<DomainStore> store;
    ASSERT_OK(OpenDomainStore(DomainFile::kConfiguration, folder, &store));
    const std::string first = commit ? "first committed" : "first rolled back";
    const std::string later = commit ? "later committed" : "later rolled back";
    {
      Transaction unit = store->Begin();
      ASSERT_OK(unit.begun());
      // The journal's first write fails: SQLite rolls the transaction back.
      sqlitefaults::FailNth(sqlitefaults::Operation::kWrite, 1, sqlitefaults::Failure::kIoError);
      EXPECT_EQ(store->Set(1, "sub", first, "1"), Code::kFileError);
      sqlitefaults::FailNth(sqlitefaults::Operation::kWrite, 0, sqlitefaults::Failure::kIoError);
      EXPECT_OK(store->Set(1, "sub", later, "2"));
      if (commit) {
        EXPECT_OK(unit.Commit());
      }
    }
    ASSERT_OK(store->Close());
    EXPECT_EQ(Stored(file, first), std::nullopt);
    EXPECT_EQ(Stored(file, later), commit ? std::optional<std::string>("2") : std::nullopt);
  }
}

}  // namespace
}  // namespace customhooks::storage
