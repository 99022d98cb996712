// Locks held by a real second process (tests/storage/lock_holder): the
// module waits for the busy timeout, reports 14, and loses nothing that was
// committed.
#include <chrono>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "storage/pcd_store.h"
#include "storage/pdb_reader.h"
#include "storage/storage_status.h"
#include "storage_test_support.h"
#include "support/test_machine.h"

namespace customhooks::storage {
namespace {

// Long enough that the busy timeout always runs out while the lock is held.
constexpr int kHoldMs = 6000;

class LockingTest : public ::testing::Test {
 protected:
  std::string StoreFolder() const { return PathOf(machine_.commonData(), {"Orvik PCD"}); }
  std::string CacheFolder() const { return PathOf(StoreFolder(), {"cache"}); }
  std::string PcdFile() const { return PathOf(StoreFolder(), {"pcd.db"}); }
  std::string CacheFile() const { return PathOf(CacheFolder(), {"cache.db"}); }
  std::string CapsFolder() const { return PathOf(machine_.commonData(), {"caps"}); }
  std::string BackupFolder() const { return PathOf(machine_.commonData(), {"backup"}); }
  std::string PdbFile() const { return PathOf(CapsFolder(), {"pdb.db"}); }
  std::string Marker() const { return PathOf(machine_.scratch(), {"locked.marker"}); }

  // Writes and commits one record through a configuration handle.
  void Commit(bool cache, const char* key, const char* value) const {
    PCDHandle* handle = nullptr;
    ASSERT_EQ(cache ? PCDOpenCache(CacheFolder(), &handle) : PCDOpen(StoreFolder(), CacheFolder(), &handle), kOk);
    ASSERT_EQ(PCDSetDomain(handle, 1, "sub", key, value), kOk);
    ASSERT_EQ(PCDCommit(handle), kOk);
    ASSERT_EQ(PCDClose(handle), kOk);
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

  PCDHandle* handle = nullptr;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(PCDOpen(StoreFolder(), CacheFolder(), &handle), Code::kBusy);
  ExpectTimedOut(SecondsSince(start));
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(holder.Finish(), 0);

  ASSERT_EQ(PCDOpen(StoreFolder(), CacheFolder(), &handle), kOk);
  char* value = nullptr;
  EXPECT_EQ(PCDGetDomain(handle, 1, "sub", "kept", &value), kOk);
  EXPECT_STREQ(value, "committed before");
  EXPECT_EQ(PCDClose(handle), kOk);
}

TEST_F(LockingTest, WriteWhileAnotherProcessHoldsTheWriteLockGivesBusy) {
  Commit(true, "kept", "committed before");
  LockHolder holder(CacheFile(), "immediate", kHoldMs, Marker());
  ASSERT_TRUE(holder.WaitUntilLocked());

  PCDHandle* handle = nullptr;
  ASSERT_EQ(PCDOpenCache(CacheFolder(), &handle), kOk) << "readers get in past a write lock";
  char* value = nullptr;
  EXPECT_EQ(PCDGetDomain(handle, 1, "sub", "kept", &value), kOk);
  EXPECT_STREQ(value, "committed before");

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(PCDSetDomain(handle, 1, "sub", "EULA_ACCEPTED", "1"), Code::kBusy);
  ExpectTimedOut(SecondsSince(start));
  EXPECT_EQ(holder.Finish(), 0);

  EXPECT_EQ(PCDSetDomain(handle, 1, "sub", "EULA_ACCEPTED", "1"), kOk);
  EXPECT_EQ(PCDClose(handle), kOk);
  EXPECT_EQ(Stored(CacheFile(), "kept"), "committed before");
  EXPECT_EQ(Stored(CacheFile(), "EULA_ACCEPTED"), "1");
}

TEST_F(LockingTest, CommitBlockedByAReaderKeepsTheChangesPending) {
  Commit(false, "kept", "committed before");
  LockHolder holder(PcdFile(), "shared", kHoldMs, Marker());
  ASSERT_TRUE(holder.WaitUntilLocked());

  PCDHandle* handle = nullptr;
  ASSERT_EQ(PCDOpen(StoreFolder(), CacheFolder(), &handle), kOk);
  ASSERT_EQ(PCDSetDomain(handle, 1, "sub", "pending", "value"), kOk);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(PCDCommit(handle), Code::kBusy);
  ExpectTimedOut(SecondsSince(start));
  EXPECT_EQ(holder.Finish(), 0);

  EXPECT_EQ(PCDCommit(handle), kOk) << "the transaction must still be open";
  EXPECT_EQ(PCDClose(handle), kOk);
  EXPECT_EQ(Stored(PcdFile(), "kept"), "committed before");
  EXPECT_EQ(Stored(PcdFile(), "pending"), "value");
}

TEST_F(LockingTest, CloseReportsTheCommitItCouldNotMake) {
  Commit(true, "kept", "committed before");
  LockHolder holder(CacheFile(), "shared", kHoldMs, Marker());
  ASSERT_TRUE(holder.WaitUntilLocked());

  PCDHandle* handle = nullptr;
  ASSERT_EQ(PCDOpenCache(CacheFolder(), &handle), kOk);
  ASSERT_EQ(PCDSetDomain(handle, 1, "sub", "EULA_LANGUAGE", "fr_MA"), kOk);
  EXPECT_EQ(PCDClose(handle), Code::kBusy) << "the discarded change must not be reported as success";
  EXPECT_EQ(holder.Finish(), 0);

  EXPECT_EQ(Stored(CacheFile(), "kept"), "committed before");
  EXPECT_EQ(Stored(CacheFile(), "EULA_LANGUAGE"), std::nullopt);
}

TEST_F(LockingTest, PayloadReadsAndOpenGiveBusyBehindAnExclusiveLock) {
  {
    pdbHandle* created = nullptr;
    ASSERT_EQ(pdbOpen(CapsFolder(), BackupFolder(), &created), kOk);
    ASSERT_EQ(pdbClose(created), kOk);
    RawDatabase raw(PdbFile());
    ASSERT_EQ(raw.Exec("INSERT INTO payloads VALUES ('p', 'f', 'n', 'v', 's', 2, 1)"), 0);
  }
  pdbHandle* handle = nullptr;
  ASSERT_EQ(pdbOpen(CapsFolder(), BackupFolder(), &handle), kOk);
  LockHolder holder(PdbFile(), "exclusive", kHoldMs, Marker());
  ASSERT_TRUE(holder.WaitUntilLocked());

  char** ids = nullptr;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(pdbGetPayloadIDs(handle, 2, &ids), Code::kBusy);
  ExpectTimedOut(SecondsSince(start));

  pdbHandle* second = nullptr;
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(pdbOpen(CapsFolder(), BackupFolder(), &second), Code::kBusy);
  EXPECT_GE(SecondsSince(start), 1.9);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(holder.Finish(), 0);

  pdbPayload record{};
  EXPECT_EQ(pdbGetPayload(handle, "p", &record), kOk);
  EXPECT_STREQ(record.productName, "n");
  EXPECT_EQ(pdbClose(handle), kOk);
}

}  // namespace
}  // namespace customhooks::storage
