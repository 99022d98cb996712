// Locks held by a real second process (tests/storage/lock_holder): the
// module waits for the busy timeout, reports 14, and loses nothing that was
// committed.
#include <chrono>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "fs/files.h"
#include "storage/pcd_store.h"
#include "storage/pdb_reader.h"
#include "storage/storage_status.h"
#include "storage_test_support.h"
#include "support/status_test_support.h"
#include "support/test_machine.h"
#include "fs/product_names.h"

namespace customhooks::storage {
namespace {

// Long enough that the busy timeout always runs out while the lock is held.
constexpr int kHoldMs = 6000;

class LockingTest : public ::testing::Test {
 protected:
  std::string StoreFolder() const { return In(machine_.commonData(), names::kConfigurationFolder); }
  std::string CacheFolder() const { return In(machine_.commonData(), names::kCacheFolder); }
  std::string PcdFile() const { return In(StoreFolder(), names::kConfigurationFile); }
  std::string CacheFile() const { return In(CacheFolder(), names::kCacheFile); }
  std::string CapsFolder() const { return In(machine_.commonData(), names::kPayloadsFolder); }
  std::string BackupFolder() const { return In(machine_.commonData(), names::kBackupFolder); }
  std::string PdbFile() const { return In(CapsFolder(), names::kPayloadsFile); }
  std::string Marker() const { return In(machine_.scratch(), "locked.marker"); }

  // Writes and commits one record through a configuration handle.
  void Commit(bool cache, const char* key, const char* value) const {
    std::unique_ptr<DomainStore> store;
    ASSERT_EQ(cache ? OpenDomainStore(DomainFile::kCache, CacheFolder(), &store)
                    : OpenConfigurationStore(StoreFolder(), CacheFolder(), &store),
              kOk);
    ASSERT_OK(store->Set(1, "sub", key, value));
    ASSERT_OK(store->Close());
  }

  std::optional<std::string> Stored(const std::string& file, const char* key) const {
    RawDatabase raw(file);
    return raw.Value(std::string("SELECT value FROM domain_data WHERE key = '") + key + "'");
  }

  // The time an operation took ran out the busy timeout, but did not wait
  // for the lock to go.
  static void ExpectTimedOut(double seconds) {
    EXPECT_GE(seconds, 1.9);
    EXPECT_LT(seconds, kHoldMs / 1000.0 - 0.5);
  }

  TestMachine machine_;
};

TEST_F(LockingTest, OpeningAnExclusivelyLockedDatabaseGivesBusy) {
  Commit(false, "kept", "committed before");
  LockHolder holder(PcdFile(), "exclusive", kHoldMs, Marker());
  ASSERT_TRUE(holder.WaitUntilLocked());

  std::unique_ptr<DomainStore> store;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(OpenConfigurationStore(StoreFolder(), CacheFolder(), &store), Code::kBusy);
  ExpectTimedOut(SecondsSince(start));
  EXPECT_EQ(store, nullptr);
  EXPECT_EQ(holder.Finish(), 0);

  ASSERT_OK(OpenConfigurationStore(StoreFolder(), CacheFolder(), &store));
  std::string value;
  EXPECT_OK(store->Get(1, "sub", "kept", &value));
  EXPECT_EQ(value, "committed before");
  EXPECT_OK(store->Close());
}

TEST_F(LockingTest, WriteWhileAnotherProcessHoldsTheWriteLockGivesBusy) {
  Commit(true, "kept", "committed before");
  LockHolder holder(CacheFile(), "immediate", kHoldMs, Marker());
  ASSERT_TRUE(holder.WaitUntilLocked());

  std::unique_ptr<DomainStore> store;
  ASSERT_OK(OpenDomainStore(DomainFile::kCache, CacheFolder(), &store)) << "readers get in past a write lock";
  std::string value;
  EXPECT_OK(store->Get(1, "sub", "kept", &value));
  EXPECT_EQ(value, "committed before");

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(store->Set(1, "sub", "EULA_ACCEPTED", "1"), Code::kBusy);
  ExpectTimedOut(SecondsSince(start));
  EXPECT_EQ(holder.Finish(), 0);

  EXPECT_OK(store->Set(1, "sub", "EULA_ACCEPTED", "1"));
  EXPECT_OK(store->Close());
  EXPECT_EQ(Stored(CacheFile(), "kept"), "committed before");
  EXPECT_EQ(Stored(CacheFile(), "EULA_ACCEPTED"), "1");
}

// A commit that finds a reader in the way keeps the changes pending: it can
// be tried again, and a transaction that ends without one drops them.
TEST_F(LockingTest, CommitBlockedByAReaderKeepsTheChangesPending) {
  const struct {
    bool cache;
    bool retry;  // once the reader is gone
    std::optional<std::string> stored;
  } kCases[] = {{false, true, "value"}, {true, false, std::nullopt}};
  for (const auto& c : kCases) {
    const std::string file = c.cache ? CacheFile() : PcdFile();
    Commit(c.cache, "kept", "committed before");
    // A marker of each case's own: the first case's is still there.
    LockHolder holder(file, "shared", kHoldMs, Marker() + (c.cache ? ".cache" : ".pcd"));
    ASSERT_TRUE(holder.WaitUntilLocked());

    std::unique_ptr<DomainStore> store;
    ASSERT_EQ(c.cache ? OpenDomainStore(DomainFile::kCache, CacheFolder(), &store)
                      : OpenConfigurationStore(StoreFolder(), CacheFolder(), &store),
              kOk);
    {
      Transaction transaction = store->Begin();
      ASSERT_OK(store->Set(1, "sub", "pending", "value"));
      const auto start = std::chrono::steady_clock::now();
      EXPECT_EQ(transaction.Commit(), Code::kBusy);
      ExpectTimedOut(SecondsSince(start));
      EXPECT_EQ(holder.Finish(), 0);
      if (c.retry) {
        EXPECT_OK(transaction.Commit()) << "the transaction must still be open";
      }
    }
    EXPECT_OK(store->Close());
    EXPECT_EQ(Stored(file, "kept"), "committed before");
    EXPECT_EQ(Stored(file, "pending"), c.stored);
  }
}

TEST_F(LockingTest, PayloadReadsAndOpenGiveBusyBehindAnExclusiveLock) {
  {
    std::unique_ptr<PayloadDatabase> created;
    ASSERT_OK(OpenPayloadDatabase(CapsFolder(), &created));
    ASSERT_OK(created->Close());
    RawDatabase raw(PdbFile());
    ASSERT_EQ(raw.Exec("INSERT INTO payloads VALUES ('p', 'f', 'n', 'v', 's', 2, 1)"), 0);
  }
  std::unique_ptr<PayloadDatabase> database;
  ASSERT_OK(OpenPayloadDatabase(CapsFolder(), &database));
  LockHolder holder(PdbFile(), "exclusive", kHoldMs, Marker());
  ASSERT_TRUE(holder.WaitUntilLocked());

  TextList ids;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(database->PayloadIDs(2, &ids), Code::kBusy);
  ExpectTimedOut(SecondsSince(start));

  std::unique_ptr<PayloadDatabase> second;
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(OpenPayloadDatabase(CapsFolder(), &second), Code::kBusy);
  EXPECT_GE(SecondsSince(start), 1.9);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(holder.Finish(), 0);

  PayloadRecord record;
  EXPECT_OK(database->ReadPayload("p", &record));
  EXPECT_EQ(record.productName, "n");
  EXPECT_OK(database->Close());
}

// An empty cache that another process keeps reading while it is first
// opened: the schema step's COMMIT is refused, and the step is rolled back,
// leaving the connection with no transaction. The next open (of the kept
// connection) gives the file its schema, and the records are stored.
TEST_F(LockingTest, RefusedSchemaCommitLeavesTheConnectionClean) {
  Shortcuts kept;
  kept.keptConnections = true;
  ASSERT_OK(fs::EnsureFolder(CacheFolder()));
  ASSERT_TRUE(WriteWholeFile(CacheFile(), ""));
  std::unique_ptr<DomainStore> store;
  {
    LockHolder holder(CacheFile(), "shared", kHoldMs, Marker());
    ASSERT_TRUE(holder.WaitUntilLocked());
    ASSERT_OK(OpenDomainStore(DomainFile::kCache, CacheFolder(), &store, kept));
    EXPECT_EQ(holder.Finish(), 0);
  }
  ASSERT_OK(OpenDomainStore(DomainFile::kCache, CacheFolder(), &store, kept));
  Transaction records = store->Begin();
  ASSERT_OK(records.begun());
  EXPECT_OK(store->Set(1, "sub", "EULA_ACCEPTED", "1"));
  EXPECT_OK(records.Commit());
  EXPECT_EQ(Stored(CacheFile(), "EULA_ACCEPTED"), "1");
}

}  // namespace
}  // namespace customhooks::storage
