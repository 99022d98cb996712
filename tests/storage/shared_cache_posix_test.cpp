// The cache database lives in a folder that every user can write, and the
// module runs as root: links planted at the database's names (symbolic,
// dangling, hard), a schema with triggers and views, a write-ahead log, and a
// second process swapping links in while sessions write. Nothing outside the
// folder is ever created or written.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "fs/files.h"
#include "storage/pcd_store.h"
#include "storage/storage_status.h"
#include "storage_test_support.h"
#include "support/test_machine.h"
#include "fs/product_names.h"

namespace customhooks::storage {

using namespace customhooks::fs;

namespace {

constexpr char kCacheSchema[] =
    "CREATE TABLE pcd_meta ( key TEXT NOT NULL, value TEXT NOT NULL, PRIMARY KEY (key) );"
    "CREATE TABLE domain_data ( domain TEXT NOT NULL, subDomain TEXT NOT NULL, key TEXT NOT NULL, value TEXT, "
    "PRIMARY KEY (domain, subDomain, key) );"
    "INSERT INTO pcd_meta (key, value) VALUES ('schema_version', 2);"
    "INSERT INTO pcd_meta (key, value) VALUES ('schema_compatibility_version', 1);";

std::string Native(const std::string& path) { return NativePath(path); }

class SharedCacheTest : public ::testing::Test {
 protected:
  SharedCacheTest()
      : folder_(In(machine_.commonData(), names::kCacheFolder)),
        cache_(In(folder_, names::kCacheFile)),
        private_(In(machine_.scratch(), "private")),
        secret_(In(private_, "secret.db")),
        inner_(In(private_, "inner")) {
    MakeFolders(inner_);
    {
      RawDatabase secret(secret_, true);
      EXPECT_EQ(secret.Exec(kCacheSchema), SQLITE_OK);
    }
    ::chmod(Native(secret_).c_str(), 0600);
    ::chmod(Native(inner_).c_str(), 0700);
    ::chmod(Native(private_).c_str(), 0700);
    secretBytes_ = ReadWholeFile(secret_);
    EXPECT_FALSE(secretBytes_.empty());
    // The cache as a first session leaves it.
    EXPECT_OK(Write("before"));
  }

  Status Open(std::unique_ptr<DomainStore>& handle) {
    return OpenDomainStore(DomainFile::kCache, folder_, &handle);
  }

  // One session's agreement record, as the pass writes it.
  Status Write(const char* value) {
    std::unique_ptr<DomainStore> handle;
    Status opened = Open(handle);
    if (!opened.ok()) return opened;
    Status set = handle->Set(1, "LEID", "EULA_ACCEPTED", value);
    return set.ok() ? handle->Close() : set;
  }

  std::string Stored() {
    RawDatabase cache(Native(cache_));
    return cache.Value("SELECT value FROM domain_data WHERE key = 'EULA_ACCEPTED'").value_or("<none>");
  }

  void Plant(const std::string& kind, const std::string& name) {
    const std::string planted = Native(In(folder_, name));
    ::unlink(planted.c_str());
    if (kind == "symbolic link") {
      ASSERT_EQ(::symlink(Native(secret_).c_str(), planted.c_str()), 0);
    } else if (kind == "dangling link") {
      ASSERT_EQ(::symlink(Native(In(inner_, "created")).c_str(), planted.c_str()), 0);
    } else {
      ASSERT_EQ(::link(Native(secret_).c_str(), planted.c_str()), 0);
    }
  }

  void ExpectSecretsUntouched() {
    EXPECT_EQ(ReadWholeFile(secret_), secretBytes_);
    struct stat info;
    ASSERT_EQ(::stat(Native(secret_).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(info.st_nlink, 1u);
    EXPECT_FALSE(ExistsOnDisk(In(inner_, "created")));
    EXPECT_FALSE(ExistsOnDisk(In(inner_, "created-journal")));
  }

  TestMachine machine_;
  std::string folder_;
  std::string cache_;
  std::string private_;
  std::string secret_;
  std::string inner_;
  std::string secretBytes_;
};

// A planted link refuses the open once and is removed; the next session
// works on a cache of its own again.
TEST_F(SharedCacheTest, PlantedLinksRefuseTheOpenAndAreRemoved) {
  for (const char* name : {"cache.db", "cache.db-journal"}) {
    for (const char* kind : {"symbolic link", "dangling link", "hard link"}) {
      SCOPED_TRACE(std::string(kind) + " at " + name);
      Plant(kind, name);
      std::unique_ptr<DomainStore> handle;
      EXPECT_EQ(Open(handle), Code::kAccessRefused);
      EXPECT_EQ(handle, nullptr);
      EXPECT_FALSE(ExistsOnDisk(In(folder_, name)));
      ExpectSecretsUntouched();
      EXPECT_OK(Write(kind));
      EXPECT_EQ(Stored(), kind);
      ExpectSecretsUntouched();
    }
  }
}

// Triggers and views that a plain user wrote into the cache never run; the
// cache is used as it is, since nothing of it runs.
TEST_F(SharedCacheTest, PlantedTriggersAndViewsNeverRun) {
  {
    RawDatabase cache(Native(cache_));
    ASSERT_EQ(cache.Exec("CREATE TRIGGER planted AFTER INSERT ON domain_data BEGIN "
                         "INSERT INTO pcd_meta VALUES ('fired insert', 1); UPDATE domain_data SET value = 'forged'; END;"
                         "CREATE TRIGGER planted_delete BEFORE DELETE ON domain_data BEGIN "
                         "INSERT INTO pcd_meta VALUES ('fired delete', 1); END;"
                         "CREATE VIEW seen AS SELECT * FROM pcd_meta;"),
              SQLITE_OK);
  }
  EXPECT_OK(Write("1"));
  EXPECT_EQ(Stored(), "1");
  RawDatabase cache(Native(cache_));
  EXPECT_EQ(cache.Value("SELECT count(*) FROM pcd_meta WHERE key LIKE 'fired%'"), "0");
}

// A write-ahead log would bring shared memory beside it, opened outside the
// checks: such a cache is refused, and nothing is created for it.
TEST_F(SharedCacheTest, WriteAheadLogIsRefused) {
  {
    RawDatabase cache(Native(cache_));
    ASSERT_EQ(cache.Value("PRAGMA journal_mode = WAL"), "wal");
  }
  std::unique_ptr<DomainStore> handle;
  EXPECT_EQ(Open(handle), Code::kAccessRefused);
  EXPECT_EQ(handle, nullptr);
  EXPECT_FALSE(ExistsOnDisk(cache_ + "-wal"));
  EXPECT_FALSE(ExistsOnDisk(cache_ + "-shm"));
}

// A second process keeps planting links at the database's names while
// sessions open, write and close the cache.
TEST_F(SharedCacheTest, SessionsLoseNoRaceAgainstSwappedLinks) {
  const pid_t swapper = ::fork();
  if (swapper == 0) {
    const std::string journal = Native(cache_ + "-journal");
    const std::string database = Native(cache_);
    const std::string spare = Native(In(folder_, "spare"));
    for (unsigned i = 0;; ++i) {
      const std::string& target = (i & 4) != 0 ? database : journal;
      if ((i & 3) == 3) {
        // A hard link that comes and goes at once: a file opened through it
        // has a single link again a moment later, elsewhere.
        for (int burst = 0; burst < 200; ++burst) {
          ::link(Native(secret_).c_str(), target.c_str());
          ::unlink(target.c_str());
        }
      } else {
        if ((i & 1) != 0) {
          ::symlink(Native(secret_).c_str(), spare.c_str());
        } else if ((i & 2) != 0) {
          ::symlink(Native(In(inner_, "created")).c_str(), spare.c_str());
        } else {
          ::link(Native(secret_).c_str(), spare.c_str());
        }
        ::rename(spare.c_str(), target.c_str());
        ::usleep(100);
        ::unlink(target.c_str());
      }
      ::usleep(1000);
    }
  }
  ASSERT_GT(swapper, 0);
  constexpr int kSessions = 300;
  // A session may be refused while a link stands at a name; what counts is
  // that none of them reaches the files the links lead to.
  for (int i = 0; i < kSessions; ++i) static_cast<void>(Write("raced"));
  ::kill(swapper, SIGKILL);
  ::waitpid(swapper, nullptr, 0);
  // What the planter left at the names, as it was killed.
  for (const std::string& planted : {In(folder_, "spare"), cache_ + "-journal", cache_}) {
    struct stat info;
    if (::lstat(Native(planted).c_str(), &info) == 0 && (S_ISLNK(info.st_mode) || info.st_nlink > 1)) {
      ::unlink(Native(planted).c_str());
    }
  }
  ExpectSecretsUntouched();
  // Once the planting stops, a session records its agreement again.
  EXPECT_OK(Write("after"));
  EXPECT_EQ(Stored(), "after");
  ExpectSecretsUntouched();
}

}  // namespace
}  // namespace customhooks::storage
