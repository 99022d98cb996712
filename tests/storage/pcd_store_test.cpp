// The configuration and cache databases on a private machine.
#include "storage/pcd_store.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "fs/folders.h"
#include "storage/schema_steps.h"
#include "storage/storage_status.h"
#include "storage_test_support.h"
#include "support/disk.h"
#include "support/test_machine.h"
#include "fs/product_names.h"

namespace customhooks::storage {

using namespace customhooks::fs;

namespace {

class PcdStoreTest : public ::testing::Test {
 protected:
  std::string StoreFolder() const { return In(machine_.commonData(), names::kConfigurationFolder); }
  std::string CacheFolder() const { return In(machine_.commonData(), names::kCacheFolder); }
  std::string PcdFile() const { return In(StoreFolder(), names::kConfigurationFile); }
  std::string CacheFile() const { return In(CacheFolder(), names::kCacheFile); }

  std::unique_ptr<DomainStore> Open() const {
    std::unique_ptr<DomainStore> store;
    EXPECT_OK(OpenConfigurationStore(StoreFolder(), CacheFolder(), &store));
    EXPECT_NE(store, nullptr);
    return store;
  }

  std::unique_ptr<DomainStore> OpenCache() const {
    std::unique_ptr<DomainStore> store;
    EXPECT_OK(OpenDomainStore(DomainFile::kCache, CacheFolder(), &store));
    EXPECT_NE(store, nullptr);
    return store;
  }

  static std::vector<std::string> Names(RawDatabase& raw, const char* type) {
    std::vector<std::string> names;
    for (const auto& name :
         raw.Column(std::string("SELECT name FROM sqlite_master WHERE type = '") + type + "' ORDER BY rowid")) {
      names.push_back(name.value_or("<NULL>"));
    }
    return names;
  }

  TestMachine machine_;
};

// ---- First use and the schemas ---------------------------------------------

TEST_F(PcdStoreTest, FirstUseCreatesBothDatabasesWithTheirSchemas) {
  ASSERT_FALSE(IsFolderOnDisk(machine_.commonData()));
  auto handle = Open();
  ASSERT_TRUE(handle);
  ASSERT_TRUE(IsFileOnDisk(PcdFile()));
  ASSERT_TRUE(IsFileOnDisk(CacheFile()));

  ASSERT_EQ(StatementCount(kConfigurationSchemaSteps[0]), 21);
  ASSERT_EQ(StatementCount(kConfigurationSchemaSteps[1]), 0);
  ASSERT_EQ(kConfigurationSchemaSteps[2], nullptr);
  ASSERT_EQ(StatementCount(kCacheSchemaSteps[0]), 4);
  ASSERT_EQ(StatementCount(kCacheSchemaSteps[1]), 0);
  ASSERT_EQ(kCacheSchemaSteps[2], nullptr);

  RawDatabase pcd(PcdFile());
  ASSERT_TRUE(pcd.ok());
  EXPECT_EQ(pcd.SchemaTexts(), CreateTextsOf(kConfigurationSchemaSteps[0]));
  EXPECT_EQ(Names(pcd, "table"),
            (std::vector<std::string>{"pcd_meta", "vane_payload", "vane_collection",
                                      "vane_collection_payload", "vane_payload_constraint",
                                      "collection_data", "payload_data", "domain_data"}));
  EXPECT_EQ(Names(pcd, "trigger"),
            (std::vector<std::string>{"ctd_vane_payload", "cti_collection_data", "ctu_collection_data",
                                      "cti_payload_data", "ctu_payload_data", "ctd_vane_collection",
                                      "cti_vane_collection_payload", "ctu_vane_collection_payload",
                                      "ctd_vane_collection_payload", "cti_vane_payload_constraint",
                                      "ctu_vane_payload_constraint"}));
  EXPECT_EQ(pcd.Value("SELECT value FROM pcd_meta WHERE key = 'schema_version'"), "1");
  EXPECT_EQ(pcd.Value("SELECT value FROM pcd_meta WHERE key = 'schema_compatibility_version'"), "1");
  EXPECT_EQ(pcd.Value("SELECT count(*) FROM pcd_meta"), "2");

  RawDatabase cache(CacheFile());
  ASSERT_TRUE(cache.ok());
  EXPECT_EQ(cache.SchemaTexts(), CreateTextsOf(kCacheSchemaSteps[0]));
  EXPECT_EQ(Names(cache, "table"), (std::vector<std::string>{"pcd_meta", "domain_data"}));
  EXPECT_EQ(cache.Value("SELECT value FROM pcd_meta WHERE key = 'schema_version'"), "1");
  EXPECT_EQ(cache.Value("SELECT value FROM pcd_meta WHERE key = 'schema_compatibility_version'"), "1");
}

TEST_F(PcdStoreTest, SchemaTextsAreTheInstallersOwn) {
  auto handle = Open();
  ASSERT_TRUE(handle);
  RawDatabase pcd(PcdFile());
  // Spot checks of texts other programs compare byte for byte.
  EXPECT_EQ(pcd.Value("SELECT sql FROM sqlite_master WHERE name = 'domain_data'"),
            "CREATE TABLE domain_data ( domain TEXT NOT NULL, subDomain TEXT NOT NULL, key TEXT NOT NULL, "
            "value TEXT, PRIMARY KEY (domain, subDomain, key) )");
  const auto trigger = pcd.Value("SELECT sql FROM sqlite_master WHERE name = 'ctd_vane_collection'");
  ASSERT_TRUE(trigger.has_value());
  EXPECT_NE(trigger->find("OLD.collectionID;  DELETE FROM vane_payload"), std::string::npos) << *trigger;
}

TEST_F(PcdStoreTest, VersionRecordsStayAtOneAcrossOpens) {
  for (int i = 0; i < 3; ++i) {
    auto handle = Open();
    ASSERT_TRUE(handle);
  }
  for (const std::string& file : {PcdFile(), CacheFile()}) {
    RawDatabase raw(file);
    EXPECT_EQ(raw.Value("SELECT group_concat(key || '=' || value, ',') FROM (SELECT * FROM pcd_meta ORDER BY key)"),
              "schema_compatibility_version=1,schema_version=1")
        << file;
  }
}

TEST_F(PcdStoreTest, OpenCacheCreatesOnlyTheCache) {
  auto cache = OpenCache();
  ASSERT_TRUE(cache);
  EXPECT_TRUE(IsFileOnDisk(CacheFile()));
  EXPECT_FALSE(IsFileOnDisk(PcdFile()));
}

// ---- Records ---------------------------------------------------------------

TEST_F(PcdStoreTest, GetSetAndDeleteThroughOneStore) {
  auto store = Open();
  ASSERT_TRUE(store);
  std::string value = "kept";
  EXPECT_EQ(store->Get(1, "SIG-1", "LicensingCode", &value), Code::kNotFound);
  EXPECT_EQ(value, "kept");

  ASSERT_OK(store->Set(1, "SIG-1", "LicensingCode", "LEID-42"));
  EXPECT_OK(store->Get(1, "SIG-1", "LicensingCode", &value));
  EXPECT_EQ(value, "LEID-42");
  EXPECT_EQ(store->Get(2, "SIG-1", "LicensingCode", &value), Code::kNotFound);
  EXPECT_EQ(store->Get(1, "SIG-1", "licensingcode", &value), Code::kNotFound);

  ASSERT_OK(store->Delete(1, "SIG-1", "LicensingCode"));
  EXPECT_EQ(store->Get(1, "SIG-1", "LicensingCode", &value), Code::kNotFound);
  EXPECT_OK(store->Delete(1, "SIG-1", "never-written"));
}

TEST_F(PcdStoreTest, SecondValueForTheSameRecordReplacesTheFirst) {
  {
    auto store = Open();
    ASSERT_TRUE(store);
    ASSERT_OK(store->Set(1, "sub", "key", "first"));
    ASSERT_OK(store->Set(1, "sub", "key", "second"));
    ASSERT_OK(store->Set(2, "sub", "key", "other domain"));
  }
  RawDatabase raw(PcdFile());
  EXPECT_EQ(raw.Column("SELECT domain || '|' || typeof(domain) || '|' || value FROM domain_data ORDER BY domain"),
            (std::vector<std::optional<std::string>>{"1|text|second", "2|text|other domain"}));
}

TEST_F(PcdStoreTest, QuotesAreStoredAndMatchedExactly) {
  const char* subdomain = "O'Brien's 'suite'";
  const char* key = "it''s";
  const char* value = "'); DROP TABLE domain_data; --";
  {
    auto store = OpenCache();
    ASSERT_TRUE(store);
    ASSERT_OK(store->Set(1, subdomain, key, value));
    std::string read;
    ASSERT_OK(store->Get(1, subdomain, key, &read));
    EXPECT_EQ(read, value);
    EXPECT_EQ(store->Get(1, subdomain, "it's", &read), Code::kNotFound);
    EXPECT_EQ(store->Get(1, "OBriens 'suite'", key, &read), Code::kNotFound);
  }
  RawDatabase raw(CacheFile());
  EXPECT_EQ(raw.Value("SELECT subDomain FROM domain_data"), subdomain);
  EXPECT_EQ(raw.Value("SELECT key FROM domain_data"), key);
  EXPECT_EQ(raw.Value("SELECT value FROM domain_data"), value);
}

TEST_F(PcdStoreTest, NullValueWrittenByAnotherProgramReadsAsEmptyText) {
  { auto store = Open(); }
  {
    RawDatabase raw(PcdFile());
    ASSERT_EQ(raw.Exec("INSERT INTO domain_data VALUES (1, 'sub', 'key', NULL)"), SQLITE_OK);
  }
  auto store = Open();
  ASSERT_TRUE(store);
  std::string value = "kept";
  EXPECT_OK(store->Get(1, "sub", "key", &value));
  EXPECT_EQ(value, "");
}

// ---- Transactions ----------------------------------------------------------

TEST_F(PcdStoreTest, TransactionWithoutCommitStoresNothing) {
  {
    auto store = Open();
    ASSERT_TRUE(store);
    ASSERT_OK(store->Set(1, "sub", "kept", "yes"));
    Transaction transaction = store->Begin();
    ASSERT_OK(store->Set(1, "sub", "dropped", "no"));
    ASSERT_OK(store->Delete(1, "sub", "kept"));
    std::string value;
    EXPECT_OK(store->Get(1, "sub", "dropped", &value)) << "pending changes are visible to the store";
    {
      RawDatabase raw(PcdFile());
      EXPECT_EQ(raw.Column("SELECT key FROM domain_data"), (std::vector<std::optional<std::string>>{"kept"}))
          << "and to no one else";
    }
  }
  RawDatabase raw(PcdFile());
  EXPECT_EQ(raw.Column("SELECT key FROM domain_data"), (std::vector<std::optional<std::string>>{"kept"}));
}

TEST_F(PcdStoreTest, CommittedTransactionStoresEverything) {
  {
    auto store = OpenCache();
    ASSERT_TRUE(store);
    Transaction transaction = store->Begin();
    ASSERT_OK(store->Set(1, "EULA", "EULA_ACCEPTED", "1"));
    ASSERT_OK(store->Set(1, "EULA", "EULA_LANGUAGE", "fr_MA"));
    EXPECT_OK(transaction.Commit());
  }
  RawDatabase raw(CacheFile());
  EXPECT_EQ(raw.Column("SELECT key || '=' || value FROM domain_data ORDER BY key"),
            (std::vector<std::optional<std::string>>{"EULA_ACCEPTED=1", "EULA_LANGUAGE=fr_MA"}));
}

// A record that already holds the value is not written again: the cache's
// bytes stay as they were. Any other value, or none, is stored.
TEST_F(PcdStoreTest, SetIfChangedWritesOnlyWhatDiffers) {
  const struct {
    const char* what;
    const char* stored;  // inserted by another program; null: no record
    const char* value;
    bool written;
  } kCases[] = {
      {"the same value", "fr_MA", "fr_MA", false},
      {"another value", "en_US", "fr_MA", true},
      {"no record", nullptr, "fr_MA", true},
      {"a NULL value, asked to be empty", "<NULL>", "", true},
      {"the same text but for case", "FR_MA", "fr_MA", true},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.what);
    { auto created = OpenCache(); }
    {
      RawDatabase raw(CacheFile());
      ASSERT_EQ(raw.Exec("DELETE FROM domain_data"), SQLITE_OK);
      if (test.stored != nullptr) {
        const std::string stored =
            std::string(test.stored) == "<NULL>" ? "NULL" : std::string("'") + test.stored + "'";
        ASSERT_EQ(raw.Exec("INSERT INTO domain_data VALUES (1, 'EULA', 'EULA_LANGUAGE', " + stored + ")"),
                  SQLITE_OK);
      }
    }
    const std::string before = ReadWholeFile(CacheFile());
    {
      auto store = OpenCache();
      ASSERT_TRUE(store);
      Transaction transaction = store->Begin();
      ASSERT_OK(store->SetIfChanged(1, "EULA", "EULA_LANGUAGE", test.value));
      ASSERT_OK(transaction.Commit());
    }
    EXPECT_EQ(ReadWholeFile(CacheFile()) != before, test.written);
    RawDatabase raw(CacheFile());
    EXPECT_EQ(raw.Column("SELECT value FROM domain_data"), (std::vector<std::optional<std::string>>{test.value}));
  }
}

// ---- Refusals ----------------------------------------------------------------

TEST_F(PcdStoreTest, DatabaseRequiringNewerSchemaIsRefused) {
  std::unique_ptr<DomainStore> store;
  WriteVersionedDatabase(PcdFile(), "3", "3");
  EXPECT_EQ(OpenConfigurationStore(StoreFolder(), CacheFolder(), &store), Code::kSchemaTooNew);
  EXPECT_EQ(store, nullptr);

  WriteVersionedDatabase(CacheFile(), "1", "3");
  EXPECT_EQ(OpenDomainStore(DomainFile::kCache, CacheFolder(), &store), Code::kSchemaTooNew);
  EXPECT_EQ(store, nullptr);
}

TEST_F(PcdStoreTest, UnusableCacheStillHandsOutTheConfigurationStore) {
  MakeFolders(CacheFile());
  std::unique_ptr<DomainStore> store;
  EXPECT_EQ(OpenConfigurationStore(StoreFolder(), CacheFolder(), &store), Code::kUnusable);
  ASSERT_NE(store, nullptr);
  EXPECT_OK(store->Set(1, "sub", "key", "value"));
  EXPECT_OK(store->Close());
  RawDatabase raw(PcdFile());
  EXPECT_EQ(raw.Value("SELECT value FROM domain_data"), "value");
  EXPECT_TRUE(IsFolderOnDisk(CacheFile()));
}

TEST_F(PcdStoreTest, EmptyFoldersOrNoOutputGiveNoStore) {
  // An empty folder would put the database wherever the process runs.
  std::unique_ptr<DomainStore> store;
  EXPECT_EQ(OpenConfigurationStore("", CacheFolder(), &store), Code::kInvalidArgument);
  EXPECT_EQ(store, nullptr);
  EXPECT_EQ(OpenDomainStore(DomainFile::kCache, "", &store), Code::kInvalidArgument);
  EXPECT_EQ(store, nullptr);
  EXPECT_EQ(OpenConfigurationStore(StoreFolder(), CacheFolder(), nullptr), Code::kInvalidArgument);
  EXPECT_EQ(OpenDomainStore(DomainFile::kCache, CacheFolder(), nullptr), Code::kInvalidArgument);
  EXPECT_FALSE(IsFolderOnDisk(machine_.commonData())) << "nothing may be touched";
}

}  // namespace
}  // namespace customhooks::storage
