// The payload database reader and the backup of "caps.db" on a private
// machine.
#include "storage/pdb_reader.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "fs/files.h"
#include "fs/folders.h"
#include "fs/platform.h"
#include "storage/schema_steps.h"
#include "storage/storage_status.h"
#include "storage_test_support.h"
#include "support/fault_env.h"
#include "support/status_test_support.h"
#include "support/test_machine.h"
#include "fs/product_names.h"

namespace customhooks::storage {

using namespace customhooks::fs;

namespace {

std::vector<std::string> ToStrings(const TextList& list) {
  std::vector<std::string> values;
  for (std::size_t i = 0; i < list.size(); ++i) values.emplace_back(list[i]);
  return values;
}

class PdbReaderTest : public ::testing::Test {
 protected:
  std::string CapsFolder() const { return In(machine_.commonData(), names::kPayloadsFolder); }
  std::string PdbFile() const { return In(CapsFolder(), names::kPayloadsFile); }
  std::string InstallerFile() const { return In(CapsFolder(), names::kInstallerFile); }
  std::string BackupFolder() const { return In(machine_.commonData(), names::kBackupFolder); }
  std::string BackupFile() const { return In(BackupFolder(), names::kInstallerFile); }

  // The shortcuts a pass gives its payload database.
  static Shortcuts AllShortcuts() {
    Shortcuts shortcuts;
    shortcuts.keptConnections = true;
    shortcuts.rememberedAnswers = true;
    shortcuts.oneScanSearch = true;
    return shortcuts;
  }

  std::unique_ptr<PayloadDatabase> Open(const Shortcuts& shortcuts = AllShortcuts()) const {
    std::unique_ptr<PayloadDatabase> database;
    EXPECT_OK(OpenPayloadDatabase(CapsFolder(), &database, shortcuts));
    EXPECT_NE(database, nullptr);
    return database;
  }

  Status BackUp() const { return BackUpInstallerDatabase(CapsFolder(), BackupFolder()); }

  // Creates "pdb.db" through the reader, then adds rows as the installer
  // would.
  void Seed(const std::string& statements) const {
    { auto handle = Open(); }
    RawDatabase raw(PdbFile());
    ASSERT_TRUE(raw.ok());
    ASSERT_EQ(raw.Exec(statements), SQLITE_OK) << statements;
  }

  TestMachine machine_;
};

// ---- Opening -----------------------------------------------------------------

TEST_F(PdbReaderTest, FirstUseCreatesTheInstallersEmptySchema) {
  ASSERT_FALSE(IsFolderOnDisk(CapsFolder()));
  auto handle = Open();
  ASSERT_TRUE(handle);
  ASSERT_TRUE(IsFileOnDisk(PdbFile()));
  ASSERT_EQ(StatementCount(kPayloadSchemaSteps[0]), 22);
  ASSERT_EQ(kPayloadSchemaSteps[1], nullptr);

  RawDatabase raw(PdbFile());
  ASSERT_TRUE(raw.ok());
  EXPECT_EQ(raw.SchemaTexts(), CreateTextsOf(kPayloadSchemaSteps[0]));
  EXPECT_EQ(raw.Column("SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY rowid"),
            (std::vector<std::optional<std::string>>{"pcd_meta", "payloads", "dependencies",
                                                     "dependency_type", "payload_data",
                                                     "upgraded_payloads", "user_actions"}));
  EXPECT_EQ(raw.Column("SELECT name FROM pragma_table_info('payloads')"),
            (std::vector<std::optional<std::string>>{"PayloadID", "productFamily", "productName",
                                                     "version", "signature", "installState",
                                                     "installTime"}));
  const auto payloads = raw.Value("SELECT sql FROM sqlite_master WHERE name = 'payloads'");
  ASSERT_TRUE(payloads.has_value());
  EXPECT_NE(payloads->find("signature TEXT ,\tinstallState INT"), std::string::npos) << *payloads;
  EXPECT_EQ(raw.Value("SELECT value FROM pcd_meta WHERE key = 'schema_version'"), "1");
  EXPECT_EQ(raw.Value("SELECT value FROM pcd_meta WHERE key = 'schema_compatibility_version'"), "1");
  EXPECT_EQ(raw.Value("SELECT group_concat(type || ':' || description, ',') FROM dependency_type"),
            "0:Conflicts,1:Upgrades,2:Requires,3:Required,4:Critical,5:Recommended,6:loadPatch,"
            "7:loadLangPack");

  TextList ids;
  EXPECT_EQ(handle->PayloadIDs(kPayloadStateAll, &ids), Code::kNotFound);
  EXPECT_TRUE(ids.empty());
}

TEST_F(PdbReaderTest, NewerButCompatibleDatabaseOpensWithoutStep) {
  WriteVersionedDatabase(PdbFile(), "2", "1");
  auto handle = Open();
  ASSERT_TRUE(handle);
  RawDatabase raw(PdbFile());
  EXPECT_EQ(raw.SchemaTexts().size(), 1u);
}

TEST_F(PdbReaderTest, RefusedOpensGiveNoDatabase) {
  std::unique_ptr<PayloadDatabase> database;
  EXPECT_EQ(OpenPayloadDatabase("", &database), Code::kInvalidArgument);
  EXPECT_EQ(OpenPayloadDatabase(CapsFolder(), nullptr), Code::kInvalidArgument);
  EXPECT_FALSE(IsFolderOnDisk(machine_.commonData())) << "nothing may be touched";
  WriteVersionedDatabase(PdbFile(), "2", "2");
  EXPECT_EQ(OpenPayloadDatabase(CapsFolder(), &database), Code::kSchemaTooNew);
  EXPECT_EQ(database, nullptr);
}

TEST_F(PdbReaderTest, NullOutputsAndFilterRangeAreRefused) {
  auto handle = Open();
  ASSERT_TRUE(handle);
  TextList ids;
  EXPECT_EQ(handle->PayloadIDs(2, nullptr), Code::kInvalidArgument);
  EXPECT_EQ(handle->PayloadIDs(-1, &ids), Code::kInvalidArgument);
  EXPECT_EQ(handle->PayloadIDs(5, &ids), Code::kInvalidArgument);
  EXPECT_EQ(handle->ReadPayload("id", nullptr), Code::kInvalidArgument);
  EXPECT_EQ(handle->PayloadData("id", 0, "k", nullptr), Code::kInvalidArgument);
}

// ---- Reads -------------------------------------------------------------------

TEST_F(PdbReaderTest, PayloadIDsByInstallTimeAndFilter) {
  Seed("INSERT INTO payloads (PayloadID, installState, installTime) VALUES ('late-2', 2, 300);"
       "INSERT INTO payloads (PayloadID, installState, installTime) VALUES ('early-2', 2, 100);"
       "INSERT INTO payloads (PayloadID, installState, installTime) VALUES ('middle-1', 1, 200);"
       "INSERT INTO payloads (PayloadID, installState, installTime) VALUES ('untimed-2', 2, NULL);"
       "INSERT INTO payloads (PayloadID, installTime) VALUES ('default-0', 250);"
       "INSERT INTO payloads (PayloadID, installState, installTime) VALUES ('x''y', 3, 50);");
  auto handle = Open();
  ASSERT_TRUE(handle);
  const struct {
    int filter;
    std::vector<std::string> ids;
  } kCases[] = {
      {2, {"untimed-2", "early-2", "late-2"}},
      {kPayloadStateAll, {"untimed-2", "x'y", "early-2", "middle-1", "default-0", "late-2"}},
      {0, {"default-0"}},
      {3, {"x'y"}},
      {1, {"middle-1"}},
  };
  for (const auto& c : kCases) {
    TextList ids;
    ASSERT_OK(handle->PayloadIDs(c.filter, &ids)) << c.filter;
    EXPECT_EQ(ToStrings(ids), c.ids) << c.filter;
  }
  {
    RawDatabase raw(PdbFile());
    ASSERT_EQ(raw.Exec("DELETE FROM payloads WHERE installState = 1"), SQLITE_OK);
  }
  TextList ids;
  EXPECT_EQ(handle->PayloadIDs(1, &ids), Code::kNotFound);
  EXPECT_TRUE(ids.empty());
}

TEST_F(PdbReaderTest, PayloadRecordWithTextsNumbersAndNulls) {
  Seed("INSERT INTO payloads VALUES ('{AAA}', 'Weft', 'Orvik Tessel Studio 4.6', '4.6.1', 'SIG', 2, 1234);"
       "INSERT INTO payloads VALUES ('{NULLS}', NULL, NULL, NULL, NULL, 0, NULL);"
       "INSERT INTO payloads VALUES ('{ODD}', 'f', 'n', 'v', 's', '12abc', ' 77 ');"
       "INSERT INTO payloads VALUES ('{TEXT}', 'f', 'n', 'v', 's', 'two', '');"
       "INSERT INTO payloads VALUES ('{BIG}', 'f', 'n', 'v', 's', 99999999999, -99999999999);"
       "INSERT INTO payloads VALUES ('{REAL}', 'f', 'n', 'v', 's', 2.5, -7.9);");
  auto handle = Open();
  ASSERT_TRUE(handle);

  const struct {
    const char* id;
    std::vector<std::string> texts;  // family, name, version, signature
    int state;
    int time;
  } kCases[] = {
      {"{AAA}", {"Weft", "Orvik Tessel Studio 4.6", "4.6.1", "SIG"}, 2, 1234},
      {"{NULLS}", {"", "", "", ""}, 0, 0},
      {"{ODD}", {"f", "n", "v", "s"}, 12, 77},
      {"{TEXT}", {"f", "n", "v", "s"}, 0, 0},
      {"{BIG}", {"f", "n", "v", "s"}, INT_MAX, INT_MIN},
      {"{REAL}", {"f", "n", "v", "s"}, 2, -7},
  };
  // One record read again and again, as a search reads it.
  PayloadRecord record;
  record.productFamily = "left over from a longer read";
  for (const auto& c : kCases) {
    ASSERT_OK(handle->ReadPayload(c.id, &record)) << c.id;
    EXPECT_EQ(record.payloadID, c.id);
    EXPECT_EQ((std::vector<std::string>{record.productFamily, record.productName, record.version, record.signature}),
              c.texts)
        << c.id;
    EXPECT_EQ(record.installState, c.state) << c.id;
    EXPECT_EQ(record.installTime, c.time) << c.id;
  }
}

TEST_F(PdbReaderTest, UnknownPayloadLeavesTheRecordUntouched) {
  Seed("INSERT INTO payloads VALUES ('it''s', 'f', 'n', 'v', 's', 2, 1);");
  auto handle = Open();
  ASSERT_TRUE(handle);
  PayloadRecord record{"untouched", "untouched", "untouched", "untouched", "untouched", -5, -6};
  EXPECT_EQ(handle->ReadPayload("its", &record), Code::kNotFound);
  EXPECT_EQ(record.payloadID, "untouched");
  EXPECT_EQ(record.signature, "untouched");
  EXPECT_EQ(record.installState, -5);
  EXPECT_EQ(record.installTime, -6);

  ASSERT_OK(handle->ReadPayload("it's", &record));
  EXPECT_EQ(record.payloadID, "it's");
}

TEST_F(PdbReaderTest, PayloadsTableWithoutTheExpectedColumnsIsRefused) {
  MakeFolders(CapsFolder());
  {
    RawDatabase raw(PdbFile(), true);
    ASSERT_EQ(raw.Exec("CREATE TABLE pcd_meta ( key TEXT NOT NULL, value TEXT NOT NULL, PRIMARY KEY (key) );"
                       "INSERT INTO pcd_meta VALUES ('schema_version', '1');"
                       "INSERT INTO pcd_meta VALUES ('schema_compatibility_version', '1');"
                       "CREATE TABLE payloads ( PayloadID TEXT, productFamily TEXT, productName TEXT,"
                       " version TEXT, signature TEXT, installState INT, installTime INT, extra TEXT );"
                       "INSERT INTO payloads VALUES ('p', 'f', 'n', 'v', 's', 2, 1, 'x');"),
              SQLITE_OK);
  }
  auto handle = Open();
  ASSERT_TRUE(handle);
  PayloadRecord record;
  EXPECT_OK(handle->ReadPayload("p", &record)) << "the query names its columns";
  {
    RawDatabase raw(PdbFile());
    ASSERT_EQ(raw.Exec("DROP TABLE payloads;"
                       "CREATE TABLE payloads ( PayloadID TEXT, installState INT, installTime INT );"
                       "INSERT INTO payloads VALUES ('p', 2, 1);"),
              SQLITE_OK);
  }
  record = PayloadRecord{};
  EXPECT_EQ(handle->ReadPayload("p", &record), Code::kDatabaseError);
  EXPECT_EQ(record.payloadID, "");
}

TEST_F(PdbReaderTest, PayloadDataByIdDomainAndKey) {
  Seed("INSERT INTO payloads (PayloadID) VALUES ('p''1');"
       "INSERT INTO payload_data VALUES ('p''1', '5', 'mediaSignature', 'SIG-5');"
       "INSERT INTO payload_data VALUES ('p''1', '0', 'mediaSignature', 'SIG-0');"
       "INSERT INTO payload_data VALUES ('p''1', '0', 'RMTConfigPath', NULL);");
  auto handle = Open();
  ASSERT_TRUE(handle);
  const struct {
    const char* id;
    int domain;
    const char* key;
    Outcome outcome;
    const char* value;
  } kCases[] = {
      {"p'1", 5, "mediaSignature", kOk, "SIG-5"},         {"p'1", 0, "mediaSignature", kOk, "SIG-0"},
      {"p'1", 0, "RMTConfigPath", kOk, ""},               {"p'1", 1, "mediaSignature", Code::kNotFound, "kept"},
      {"p1", 5, "mediaSignature", Code::kNotFound, "kept"},
  };
  for (const auto& c : kCases) {
    std::string value = "kept";
    EXPECT_EQ(handle->PayloadData(c.id, c.domain, c.key, &value), c.outcome) << c.id << c.domain << c.key;
    EXPECT_EQ(value, c.value) << c.id << c.domain << c.key;
  }
}

// A search reads the list and every row in one snapshot: the installer's
// writes wait until it ends, and reach the next search.
TEST_F(PdbReaderTest, ReadTransactionHoldsOneSnapshotUntilItEnds) {
  Seed("INSERT INTO payloads VALUES ('a', 'f', 'n', 'v', 's', 2, 1);");
  auto handle = Open();
  ASSERT_TRUE(handle);
  PayloadRecord record;
  {
    Transaction snapshot = handle->BeginRead();
    TextList ids;
    ASSERT_OK(handle->PayloadIDs(2, &ids));
    {
      RawDatabase raw(PdbFile());
      ASSERT_EQ(raw.Exec("PRAGMA busy_timeout = 0"), SQLITE_OK);
      EXPECT_EQ(raw.Exec("UPDATE payloads SET productName = 'changed'"), SQLITE_BUSY)
          << "a writer waits for the snapshot";
    }
    ASSERT_OK(handle->ReadPayload("a", &record));
    EXPECT_EQ(record.productName, "n");
    EXPECT_OK(snapshot.Commit());
  }
  RawDatabase raw(PdbFile());
  EXPECT_EQ(raw.Exec("UPDATE payloads SET productName = 'changed'"), SQLITE_OK);
  ASSERT_OK(handle->ReadPayload("a", &record));
  EXPECT_EQ(record.productName, "changed");
}

TEST_F(PdbReaderTest, ReadsOutsideATransactionHoldNoLock) {
  Seed("INSERT INTO payloads VALUES ('a', 'f', 'n', 'v', 's', 2, 1);");
  auto handle = Open();
  ASSERT_TRUE(handle);
  TextList ids;
  PayloadRecord record;
  ASSERT_OK(handle->PayloadIDs(2, &ids));
  ASSERT_OK(handle->ReadPayload("a", &record));
  RawDatabase raw(PdbFile());
  EXPECT_EQ(raw.Exec("BEGIN IMMEDIATE; INSERT INTO payloads (PayloadID) VALUES ('b'); COMMIT;"), SQLITE_OK)
      << "the installer must be able to write while a reader is open";
}

// ---- Finding products ----------------------------------------------------------

// What the search for each product meets when the list is walked the way the
// module always walked it: every listed ID read in turn.
Status WalkTheList(PayloadDatabase& db, int filter, const std::vector<ProductKey>& products,
                   std::vector<std::vector<ProductPayload>>* out) {
  TextList ids;
  Status listed = db.PayloadIDs(filter, &ids);
  if (!listed.ok()) return listed;
  out->assign(products.size(), {});
  for (std::size_t i = 0; i < ids.size(); ++i) {
    PayloadRecord record;
    const bool read = db.ReadPayload(ids[i], &record).ok();
    for (std::size_t p = 0; p < products.size(); ++p) {
      const ProductKey& key = products[p];
      if (!read) {
        (*out)[p].push_back({true, {}});
      } else if (record.productName == key.name && record.productFamily == key.family &&
                 record.version == key.version) {
        (*out)[p].push_back({false, record});
      }
    }
  }
  return Status();
}

std::string Describe(const std::vector<std::vector<ProductPayload>>& found) {
  std::string text;
  for (const auto& payloads : found) {
    text += "[";
    for (const ProductPayload& payload : payloads) {
      const PayloadRecord& r = payload.record;
      text += payload.readFailed ? std::string("(read failed)")
                                 : "(" + r.payloadID + "|" + r.productFamily + "|" + r.productName + "|" +
                                       r.version + "|" + r.signature + "|" + std::to_string(r.installState) +
                                       "|" + std::to_string(r.installTime) + ")";
    }
    text += "] ";
  }
  return text;
}

// The installer's schema with nothing of it changed, so that the reader does
// not give the file its own.
std::string InstallersSchema(const char* encoding) {
  std::string sql = std::string("PRAGMA encoding = '") + encoding + "';";
  for (SchemaStep step = kPayloadSchemaSteps[0]; *step != nullptr; ++step) sql += std::string(*step) + ";";
  return sql;
}

// Three products: the first one has a look-alike of another version, which is
// asked for as the third (a scan answers for two products at a time).
const std::vector<ProductKey> kProducts = {
    {"Weft", "Orvik Tessel Studio 4.6", "4.6.1"},
    {"NonOrvikPayload", "Pelican X Pro", "10.0"},
    {"Weft", "Orvik Tessel Studio 4.6", "4.5.0"},
};
// 300 installed payloads of other products, installed at times 1001 to 1300.
const char kFiller[] =
    "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300)"
    " INSERT INTO payloads SELECT printf('{F%04d}', i), 'Shared', 'Orvik Component ' || i, '1.' || i, 'S',"
    " 2, 1000 + i FROM n;";

TEST_F(PdbReaderTest, FindingProductsMeetsWhatWalkingTheListMeets) {
  const std::string kFirst = "'Weft', 'Orvik Tessel Studio 4.6', '4.6.1'";
  const std::string kSecond = "'NonOrvikPayload', 'Pelican X Pro', '10.0'";
  const std::string kThird = "'Weft', 'Orvik Tessel Studio 4.6', '4.5.0'";
  const std::string kForeign =
      "CREATE TABLE pcd_meta ( key TEXT NOT NULL, value TEXT NOT NULL, PRIMARY KEY (key) );"
      "INSERT INTO pcd_meta VALUES ('schema_version', '1');"
      "INSERT INTO pcd_meta VALUES ('schema_compatibility_version', '1');"
      "CREATE TABLE payloads ( PayloadID TEXT, productFamily TEXT, productName TEXT, version TEXT,"
      " signature TEXT, installState INT, installTime INT );";
  const struct {
    const char* name;
    std::string schema;  // "" for the schema the reader creates
    std::string rows;
    int filter;
    bool walked;
  } kCases[] = {
      {"ordinary rows", "",
       std::string(kFiller) + "INSERT INTO payloads VALUES ('{P1}', " + kFirst + ", 'SIG1', 2, 1500);" +
           "INSERT INTO payloads VALUES ('{P2}', " + kSecond + ", 'SIG2', 2, 5);",
       2, false},
      {"the product several times", "",
       std::string(kFiller) + "INSERT INTO payloads VALUES ('{P1c}', " + kFirst + ", 'c', 2, 1200);" +
           "INSERT INTO payloads VALUES ('{P1a}', " + kFirst + ", 'a', 2, 7);" +
           "INSERT INTO payloads VALUES ('{P1n}', " + kFirst + ", 'n', 2, NULL);" +
           "INSERT INTO payloads VALUES ('{P3}', " + kThird + ", 'old', 2, 8);" +
           "INSERT INTO payloads VALUES ('{P1b}', " + kFirst + ", 'b', 2, 1100);" +
           "INSERT INTO payloads VALUES ('{P2}', " + kSecond + ", NULL, 2, 99999999999);",
       2, false},
      {"ties in install time", "",
       std::string(kFiller) + "INSERT INTO payloads VALUES ('{P1b}', " + kFirst + ", 'b', 2, 1100);" +
           "INSERT INTO payloads VALUES ('{P1a}', " + kFirst + ", 'a', 2, 1100);",
       2, true},
      {"equal times of different products", "",
       std::string(kFiller) + "INSERT INTO payloads VALUES ('{P1}', " + kFirst + ", 'a', 2, 1100);" +
           "INSERT INTO payloads VALUES ('{P2}', " + kSecond + ", 'b', 2, 1100);",
       2, false},
      {"two NULL times", "",
       std::string(kFiller) + "INSERT INTO payloads VALUES ('{P2b}', " + kSecond + ", 'b', 2, NULL);" +
           "INSERT INTO payloads VALUES ('{P2a}', " + kSecond + ", 'a', 2, NULL);",
       2, true},
      {"a text time", "",
       std::string(kFiller) + "INSERT INTO payloads VALUES ('{P1}', " + kFirst + ", 'a', 2, 'soon');" +
           "INSERT INTO payloads VALUES ('{P1b}', " + kFirst + ", 'b', 2, 3);",
       2, true},
      {"a real time", "",
       std::string(kFiller) + "INSERT INTO payloads VALUES ('{P2}', " + kSecond + ", 'a', 2, 1100.5);", 2, true},
      {"not installed duplicates", "",
       std::string(kFiller) + "INSERT INTO payloads VALUES ('{P1x}', " + kFirst + ", 'x', 1, 1100);" +
           "INSERT INTO payloads VALUES ('{P1y}', " + kFirst + ", 'y', 3, 1100);" +
           "INSERT INTO payloads VALUES ('{P1}', " + kFirst + ", 'a', 2, 1100);" +
           "INSERT INTO payloads VALUES ('{BLOB}', " + kFirst + ", 'z', 0, 1100);" +
           "UPDATE payloads SET PayloadID = CAST('{F0001}' || char(0) AS BLOB) WHERE PayloadID = '{BLOB}';",
       2, false},
      {"a name with a NUL and a suffix", "",
       std::string(kFiller) +
           "INSERT INTO payloads VALUES ('{P1}', 'Weft', 'Orvik Tessel Studio 4.6' || char(0) || 'x', '4.6.1', 'a',"
           " 2, 1100);"
           "INSERT INTO payloads VALUES ('{N1}', 'Weft', 'Orvik Tessel Studio 4.6' || char(1), '4.6.1', 'b', 2, 1);"
           "INSERT INTO payloads VALUES ('{N2}', 'Weft', 'Orvik Tessel Studio 4.', '4.6.1', 'c', 2, 2);"
           "INSERT INTO payloads VALUES ('{N3}', 'Weft', 'Orvik Tessel Studio 4.6 ', '4.6.1', 'd', 2, 3);"
           "INSERT INTO payloads VALUES ('{P1v}', 'Weft', 'Orvik Tessel Studio 4.6', '4.6.1' || char(0) || '9',"
           " 'e', 2, 4);",
       2, false},
      {"blob and NULL names", "",
       std::string(kFiller) +
           "INSERT INTO payloads VALUES ('{P2}', 'NonOrvikPayload', CAST('Pelican X Pro' AS BLOB), '10.0', 'a', 2,"
           " 1100);"
           "INSERT INTO payloads VALUES ('{P2n}', 'NonOrvikPayload', CAST('Pelican X Pro' || char(0) || '!' AS BLOB),"
           " '10.0', 'b', 2, 1101);"
           "INSERT INTO payloads VALUES ('{NULL}', 'NonOrvikPayload', NULL, '10.0', 'c', 2, 1102);"
           "INSERT INTO payloads VALUES ('{P1}', CAST('Weft' AS BLOB), 'Orvik Tessel Studio 4.6', '4.6.1', 'd', 2, 3);",
       2, false},
      {"a blob ID", "",
       std::string(kFiller) + "INSERT INTO payloads VALUES ('{P1}', " + kFirst + ", 'a', 2, 1100);" +
           "INSERT INTO payloads VALUES (CAST('{P2}' AS BLOB), " + kSecond + ", 'b', 2, 1101);",
       2, true},
      {"an ID with a NUL that reads back as another", "",
       std::string(kFiller) + "INSERT INTO payloads VALUES ('{P1}', " + kFirst + ", 'a', 2, 1100);" +
           "INSERT INTO payloads VALUES ('{P1}' || char(0) || 'x', 'Other', 'Other', '1', 'b', 2, 1);",
       2, true},
      {"an ID with a NUL that reads back as none", "",
       std::string(kFiller) + "INSERT INTO payloads VALUES ('{P2}', " + kSecond + ", 'a', 2, 1100);" +
           "INSERT INTO payloads VALUES ('{Q}' || char(0) || 'x', 'Other', 'Other', '1', 'b', 2, 1);",
       2, true},
      {"a foreign table: no key, IDs twice", kForeign,
       std::string(kFiller) + "INSERT INTO payloads VALUES ('{P1}', 'Other', 'Other', '1', 'x', 2, 1100);" +
           "INSERT INTO payloads VALUES ('{P1}', " + kFirst + ", 'a', 2, 5);" +
           "INSERT INTO payloads VALUES ('{P2}', " + kSecond + ", 'b', 2, 6);" +
           "INSERT INTO payloads VALUES ('{P2}', " + kSecond + ", 'c', 1, 7);" +
           "INSERT INTO payloads VALUES ('{P3}', " + kThird + ", 'd', 2, 8);",
       2, true},
      {"a UTF-16 database", InstallersSchema("UTF-16le"),
       std::string(kFiller) + "INSERT INTO payloads VALUES ('{P1}', " + kFirst + ", 'a', 2, 1100);" +
           "INSERT INTO payloads VALUES ('{P2}\u00e9', 'NonOrvikPayload', 'Pelican X Pro' || char(0) || 'x', '10.0',"
           " 'b', 2, 6);",
       2, true},
      {"no installed payloads", "",
       "INSERT INTO payloads VALUES ('{P1}', " + kFirst + ", 'a', 1, 1100);", 2, false},
      {"no payloads at all", "", "", kPayloadStateAll, false},
      {"every state", "",
       std::string(kFiller) + "INSERT INTO payloads VALUES ('{P1x}', " + kFirst + ", 'x', 1, 1150);" +
           "INSERT INTO payloads VALUES ('{P1}', " + kFirst + ", 'a', 2, 1100);" +
           "INSERT INTO payloads VALUES ('{P3}', " + kThird + ", 'b', 0, NULL);" +
           "INSERT INTO payloads VALUES ('{P2}', " + kSecond + ", 'c', 3, 2);",
       kPayloadStateAll, false},
  };
  int number = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string folder = In(In(machine_.commonData(), "case"), std::to_string(++number));
    if (!c.schema.empty()) {
      MakeFolders(folder);
      RawDatabase raw(In(folder, names::kPayloadsFile), true);
      ASSERT_EQ(raw.Exec(c.schema), SQLITE_OK);
    }
    std::unique_ptr<PayloadDatabase> db;
    ASSERT_OK(OpenPayloadDatabase(folder, &db, AllShortcuts()));
    {
      RawDatabase raw(In(folder, names::kPayloadsFile));
      ASSERT_EQ(raw.Exec(c.rows), SQLITE_OK);
    }
    Transaction snapshot = db->BeginRead();
    std::vector<std::vector<ProductPayload>> walked;
    const Status expected = WalkTheList(*db, c.filter, kProducts, &walked);
    ProductSearch found;
    found.payloads = {{{true, {}}}};
    ASSERT_EQ(db->FindProductPayloads(c.filter, kProducts, &found), expected);
    if (!expected.ok()) {
      EXPECT_EQ(found.payloads.size(), 1u) << "untouched";
      continue;
    }
    EXPECT_EQ(Describe(found.payloads), Describe(walked));
    EXPECT_EQ(found.walkedTheList, c.walked);
  }
}

// A kept search is recalled only for a product and filter it asked for, and
// only in a snapshot that reads the file unchanged since; what it gives is
// what walking the list gives then. A database without remembered answers
// recalls nothing.
TEST_F(PdbReaderTest, ARecalledSearchIsWhatTheFileHoldsNow) {
  const std::string kFirst = "'Weft', 'Orvik Tessel Studio 4.6', '4.6.1'";
  Seed(std::string(kFiller) + "INSERT INTO payloads VALUES ('{P1}', " + kFirst + ", 'a', 2, 1500);");
  Shortcuts plain = AllShortcuts();
  plain.rememberedAnswers = false;
  const std::unique_ptr<PayloadDatabase> databases[] = {Open(), Open(plain)};
  ASSERT_TRUE(databases[0] && databases[1]);
  const std::vector<ProductKey> kFirstOnly = {kProducts.front()};
  const struct {
    const char* what;
    const char* change;    // run by another connection before the snapshot
    bool plain;            // on the database without remembered answers
    int filter;
    const char* recalled;  // for each of kProducts, whether its recall gives the kept search
    const std::vector<ProductKey>* searched;  // then asked for in the snapshot; null: no search
  } kSteps[] = {
      {"nothing kept yet", nullptr, false, 2, "000", &kProducts},
      {"unchanged", nullptr, false, 2, "111", nullptr},
      {"another copy installed earlier",
       "INSERT INTO payloads VALUES ('{P0}', 'Weft', 'Orvik Tessel Studio 4.6', '4.6.1', 'b', 2, 3)", false, 2,
       "000", &kFirstOnly},
      {"a product the search did not ask for", nullptr, false, 2, "100", &kProducts},
      {"another filter", nullptr, false, kPayloadStateAll, "000", &kProducts},
      {"a change that leaves the answer as it was",
       "UPDATE payloads SET installState = 1 WHERE PayloadID = '{P0}'", false, kPayloadStateAll, "000", nullptr},
      {"nothing installed", "UPDATE payloads SET installState = 0", false, 2, "000", &kProducts},
      {"a failed search", nullptr, false, 2, "111", nullptr},
      {"remembered answers off", nullptr, true, 2, "000", &kProducts},
      {"nothing kept without them", nullptr, true, 2, "000", nullptr},
      {"remembered answers on again", nullptr, false, 2, "111", nullptr},
      {"installed again", "UPDATE payloads SET installState = 2", false, 2, "000", &kProducts},
      {"unchanged once more", nullptr, false, 2, "111", nullptr},
  };
  for (const auto& step : kSteps) {
    SCOPED_TRACE(step.what);
    if (step.change != nullptr) {
      ASSERT_EQ(RawDatabase(PdbFile()).Exec(step.change), SQLITE_OK);
    }
    // A stamp within the timestamp granularity of a write vouches for nothing.
    WaitOutTimestampGranularity();
    PayloadDatabase* const db = databases[step.plain].get();
    Transaction snapshot = db->BeginRead();
    for (std::size_t p = 0; p < kProducts.size(); ++p) {
      std::vector<std::vector<ProductPayload>> walked;
      const Status expected = WalkTheList(*db, step.filter, {kProducts[p]}, &walked);
      Status status(Code::kBusy);
      std::vector<ProductPayload> payloads = {{true, {}}};
      const bool recalled = db->RecallProductPayloads(step.filter, kProducts[p], &status, &payloads);
      ASSERT_EQ(recalled, step.recalled[p] == '1') << "product " << p;
      if (!recalled) {
        EXPECT_EQ(status, Code::kBusy) << "untouched";
        EXPECT_EQ(payloads.size(), 1u) << "untouched";
      } else {
        EXPECT_EQ(status, expected);
        if (expected.ok()) {
          EXPECT_EQ(Describe({payloads}), Describe(walked));
        }
      }
    }
    if (step.searched == nullptr) continue;
    std::vector<std::vector<ProductPayload>> walked;
    const Status expected = WalkTheList(*db, step.filter, *step.searched, &walked);
    ProductSearch found;
    ASSERT_EQ(db->FindProductPayloads(step.filter, *step.searched, &found), expected);
    if (expected.ok()) {
      EXPECT_EQ(Describe(found.payloads), Describe(walked));
    }
  }
}

// Only a search made in a snapshot is kept, and it is recalled only inside
// one.
TEST_F(PdbReaderTest, ASearchIsRecalledOnlyBetweenSnapshots) {
  Seed("INSERT INTO payloads VALUES ('{P1}', 'Weft', 'Orvik Tessel Studio 4.6', '4.6.1', 'a', 2, 1);");
  auto db = Open();
  ASSERT_TRUE(db);
  WaitOutTimestampGranularity();
  ProductSearch found;
  Status status;
  std::vector<ProductPayload> payloads;
  ASSERT_OK(db->FindProductPayloads(2, kProducts, &found));
  {
    Transaction snapshot = db->BeginRead();
    EXPECT_FALSE(db->RecallProductPayloads(2, kProducts.front(), &status, &payloads)) << "searched outside one";
    ASSERT_OK(db->FindProductPayloads(2, kProducts, &found));
    EXPECT_TRUE(db->RecallProductPayloads(2, kProducts.front(), &status, &payloads));
  }
  EXPECT_FALSE(db->RecallProductPayloads(2, kProducts.front(), &status, &payloads)) << "recalled outside one";
}

TEST_F(PdbReaderTest, FindingProductsRefusesANullAnswerAndFiltersOutOfRange) {
  auto handle = Open();
  ASSERT_TRUE(handle);
  ProductSearch found;
  EXPECT_EQ(handle->FindProductPayloads(2, kProducts, nullptr), Code::kInvalidArgument);
  EXPECT_EQ(handle->FindProductPayloads(-1, kProducts, &found), Code::kInvalidArgument);
  EXPECT_EQ(handle->FindProductPayloads(5, kProducts, &found), Code::kInvalidArgument);
}

// ---- Backup of the installer's database ---------------------------------------

TEST_F(PdbReaderTest, BackupCopiesTheInstallersDatabase) {
  MakeFolders(CapsFolder());
  const std::string content(100000, 'c');
  ASSERT_TRUE(WriteWholeFile(InstallerFile(), content));
  EXPECT_OK(BackUp());
  EXPECT_EQ(ReadWholeFile(BackupFile()), content);
  EXPECT_EQ(FolderNames(BackupFolder()), (std::vector<std::string>{names::kInstallerFile}));
}

TEST_F(PdbReaderTest, WithoutABackupFolderNothingIsCopied) {
  MakeFolders(CapsFolder());
  ASSERT_TRUE(WriteWholeFile(InstallerFile(), "installer"));
  EXPECT_EQ(BackUpInstallerDatabase(CapsFolder(), ""), Code::kNotFound);
  EXPECT_EQ(FolderNames(CapsFolder()), (std::vector<std::string>{names::kInstallerFile}));
  EXPECT_FALSE(IsFolderOnDisk(BackupFolder()));
}

TEST_F(PdbReaderTest, EveryBackupRefreshesTheCopyWhole) {
  MakeFolders(BackupFolder());
  ASSERT_TRUE(WriteWholeFile(BackupFile(), std::string(50000, 'o')));
  MakeFolders(CapsFolder());
  ASSERT_TRUE(WriteWholeFile(InstallerFile(), "first"));
  ASSERT_OK(BackUp());
  EXPECT_EQ(ReadWholeFile(BackupFile()), "first");
  ASSERT_TRUE(WriteWholeFile(InstallerFile(), "second version"));
  ASSERT_OK(BackUp());
  EXPECT_EQ(ReadWholeFile(BackupFile()), "second version");
  EXPECT_EQ(FolderNames(BackupFolder()), (std::vector<std::string>{names::kInstallerFile}));
}

TEST_F(PdbReaderTest, ABackupThatDiffersAnywhereIsReplaced) {
  MakeFolders(BackupFolder());
  MakeFolders(CapsFolder());
  // Past the first block read, in the very last byte, and in length only.
  std::string content(200000, 'c');
  const std::vector<std::string> staleBackups = {
      content.substr(0, 199999) + "x", content + "c", content.substr(0, 131072), ""};
  for (const std::string& stale : staleBackups) {
    ASSERT_TRUE(WriteWholeFile(InstallerFile(), content));
    ASSERT_TRUE(WriteWholeFile(BackupFile(), stale));
    ASSERT_OK(BackUp());
    EXPECT_EQ(ReadWholeFile(BackupFile()), content) << "stale backup of " << stale.size() << " bytes";
  }
}

TEST_F(PdbReaderTest, ABackupThatHoldsTheSameBytesIsLeftAsItIs) {
  MakeFolders(BackupFolder());
  MakeFolders(CapsFolder());
  const std::string content(150000, 'c');
  ASSERT_TRUE(WriteWholeFile(InstallerFile(), content));
  ASSERT_TRUE(WriteWholeFile(BackupFile(), content));
  const auto path = std::filesystem::u8path(NativePath(BackupFile()));
  const auto old = std::filesystem::last_write_time(path) - std::chrono::hours(24);
  std::filesystem::last_write_time(path, old);
  EXPECT_OK(BackUp());
  EXPECT_EQ(ReadWholeFile(BackupFile()), content);
  EXPECT_EQ(std::filesystem::last_write_time(path), old) << "an up-to-date backup is not written again";
  EXPECT_EQ(FolderNames(BackupFolder()), (std::vector<std::string>{names::kInstallerFile}));
}

TEST_F(PdbReaderTest, NoInstallerDatabaseMeansNoCopy) {
  EXPECT_EQ(BackUp(), Code::kNotFound);
  EXPECT_FALSE(IsFolderOnDisk(BackupFolder()));
}

TEST_F(PdbReaderTest, FailedReplacementLeavesTheTargetAndNoTemporaryCopy) {
  MakeFolders(CapsFolder());
  ASSERT_TRUE(WriteWholeFile(InstallerFile(), "new content of the installer database"));
  // A folder in the target's place can't be replaced by a file.
  MakeFolders(BackupFile());
  ASSERT_TRUE(WriteWholeFile(In(BackupFile(), "inside"), "previous"));
  EXPECT_EQ(BackUp(), Code::kFileError);
  EXPECT_TRUE(IsFolderOnDisk(BackupFile()));
  EXPECT_EQ(ReadWholeFile(In(BackupFile(), "inside")), "previous");
  EXPECT_EQ(FolderNames(BackupFolder()), (std::vector<std::string>{names::kInstallerFile}))
      << "no temporary copy may be left behind";
}

// ---- Repeated backups with a record ------------------------------------------------

// Moves the file's last-write time back by a day, as a copy that keeps times
// or an archiver would set it.
void AgeLastWriteTime(const std::string& path) {
  const auto native = std::filesystem::u8path(NativePath(path));
  std::filesystem::last_write_time(native, std::filesystem::last_write_time(native) - std::chrono::hours(24));
}

bool Made(const FaultEnv& env, const char* call) {
  const std::vector<std::string>& calls = env.CallsMade();
  return std::find(calls.begin(), calls.end(), call) != calls.end();
}

// A backup whose record knows both files unchanged reads neither and writes
// nothing; any change to either file, seen in its stamp, makes the backup
// compare (and copy where the bytes differ) as without a record, after
// which the record knows the files again.
TEST_F(PdbReaderTest, ARecordSparesTheComparisonOnlyWhileBothFilesAreUnchanged) {
  const std::string content(150000, 'c');
  std::string sameSize = content;
  sameSize[100000] = 'x';
  const std::string otherBackup = In(BackupFolder(), "other");
  const struct {
    const char* change;
    std::function<void()> make;
    bool compared;
    bool copied;
  } kCases[] = {
      {"nothing", [] {}, false, false},
      {"source: new content of another size",
       [&] { ASSERT_TRUE(WriteWholeFile(InstallerFile(), content + "more")); }, true, true},
      {"source: new content of the same size and time",
       [&] {
         ASSERT_TRUE(WriteWholeFile(InstallerFile(), sameSize));
         AgeLastWriteTime(InstallerFile());
       },
       true, true},
      {"source: the same bytes at a new time", [&] { AgeLastWriteTime(InstallerFile()); }, true, false},
      {"backup: new content of the same size and time",
       [&] {
         ASSERT_TRUE(WriteWholeFile(BackupFile(), sameSize));
         AgeLastWriteTime(BackupFile());
       },
       true, true},
      {"backup: removed",
       [&] { ASSERT_TRUE(std::filesystem::remove(std::filesystem::u8path(NativePath(BackupFile())))); }, false, true},
      {"backup: another file with the same bytes",
       [&] {
         ASSERT_TRUE(WriteWholeFile(otherBackup, ReadWholeFile(BackupFile())));
         ASSERT_OK(fs::MoveFileReplacing(otherBackup, BackupFile()));
       },
       true, false},
      {"backup: another file with other bytes",
       [&] {
         ASSERT_TRUE(WriteWholeFile(otherBackup, sameSize));
         ASSERT_OK(fs::MoveFileReplacing(otherBackup, BackupFile()));
       },
       true, true},
  };
  MakeFolders(CapsFolder());
  FaultEnv env;
  const ScopedEnv scoped(&env);
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.change);
    ASSERT_TRUE(WriteWholeFile(InstallerFile(), content));
    BackupRecord record;
    ASSERT_OK(BackUpInstallerDatabase(CapsFolder(), BackupFolder(), &record));
    ASSERT_EQ(ReadWholeFile(BackupFile()), content);
    AgeLastWriteTime(BackupFile());
    // Ageing changed the backup's stamp: this backup compares and learns it.
    WaitOutTimestampGranularity();
    ASSERT_OK(BackUpInstallerDatabase(CapsFolder(), BackupFolder(), &record));

    test.make();
    // The change is older than the stamps the next backup takes.
    WaitOutTimestampGranularity();
    const std::string expected = ReadWholeFile(InstallerFile());
    const auto backupPath = std::filesystem::u8path(NativePath(BackupFile()));
    std::error_code missing;
    const auto before = std::filesystem::last_write_time(backupPath, missing);
    env.FailNth(EnvCall::kAny, 0);
    EXPECT_OK(BackUpInstallerDatabase(CapsFolder(), BackupFolder(), &record));
    EXPECT_EQ(Made(env, "OpenShared"), test.compared);
    EXPECT_EQ(Made(env, "CopyOver"), test.copied);
    EXPECT_EQ(ReadWholeFile(BackupFile()), expected);
    if (!test.copied) {
      EXPECT_EQ(std::filesystem::last_write_time(backupPath), before) << "an identical backup is not written";
    }
    EXPECT_EQ(FolderNames(BackupFolder()), (std::vector<std::string>{names::kInstallerFile}));

    // The stamp of a copy just written vouches for nothing: the next backup
    // compares, and learns.
    WaitOutTimestampGranularity();
    env.FailNth(EnvCall::kAny, 0);
    EXPECT_OK(BackUpInstallerDatabase(CapsFolder(), BackupFolder(), &record));
    EXPECT_EQ(Made(env, "OpenShared"), test.copied);
    EXPECT_FALSE(Made(env, "CopyOver"));
    env.FailNth(EnvCall::kAny, 0);
    EXPECT_OK(BackUpInstallerDatabase(CapsFolder(), BackupFolder(), &record));
    EXPECT_FALSE(Made(env, "OpenShared") || Made(env, "CopyOver")) << "the record knows the files again";
  }
}

// A write within the file system's timestamp granularity of the stamp
// before it leaves the stamp as it was (git's "racily clean"): a record
// never vouches for a stamp taken that soon after a write, and the backup
// compares, finding the new bytes.
TEST_F(PdbReaderTest, ARecordNeverVouchesForAStampTakenTooSoonAfterAWrite) {
  const std::string first(150000, 'a');
  std::string second = first;
  second[75000] = 'b';
  MakeFolders(CapsFolder());
  TwoSecondTimesEnv env;
  const ScopedEnv scoped(&env);
  for (int attempt = 0; attempt < 20; ++attempt) {
    ASSERT_TRUE(WriteWholeFile(InstallerFile(), first));
    BackupRecord record;
    ASSERT_OK(BackUpInstallerDatabase(CapsFolder(), BackupFolder(), &record));
    FileStamp stamped;
    ASSERT_OK(StampFile(InstallerFile(), &stamped));
    ASSERT_OK(BackUpInstallerDatabase(CapsFolder(), BackupFolder(), &record));
    ASSERT_TRUE(WriteWholeFile(InstallerFile(), second));
    FileStamp now;
    ASSERT_OK(StampFile(InstallerFile(), &now));
    // A two-second boundary fell between the stamp and the write: again.
    if (now != stamped) continue;
    ASSERT_OK(BackUpInstallerDatabase(CapsFolder(), BackupFolder(), &record));
    EXPECT_EQ(ReadWholeFile(BackupFile()), second);
    return;
  }
  FAIL() << "every write fell into later two seconds than the stamp before it";
}

// A link's own stamp stays while what it leads to changes: a record never
// spares the comparison of a file found under a link.
TEST_F(PdbReaderTest, ARecordNeverVouchesForAFileUnderALink) {
  MakeFolders(CapsFolder());
  const std::string real = In(CapsFolder(), "real.db");
  ASSERT_TRUE(WriteWholeFile(real, "installer database"));
  std::error_code error;
  std::filesystem::create_symlink(std::filesystem::u8path(NativePath(real)),
                                  std::filesystem::u8path(NativePath(InstallerFile())), error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  BackupRecord record;
  ASSERT_OK(BackUpInstallerDatabase(CapsFolder(), BackupFolder(), &record));
  ASSERT_OK(BackUpInstallerDatabase(CapsFolder(), BackupFolder(), &record));
  ASSERT_TRUE(WriteWholeFile(real, "INSTALLER DATABASE"));
  AgeLastWriteTime(real);
  EXPECT_OK(BackUpInstallerDatabase(CapsFolder(), BackupFolder(), &record));
  EXPECT_EQ(ReadWholeFile(BackupFile()), "INSTALLER DATABASE");
}

// A record learns nothing from a backup that failed: the next one copies.
TEST_F(PdbReaderTest, AFailedBackupTeachesTheRecordNothing) {
  MakeFolders(BackupFolder());
  ASSERT_TRUE(WriteWholeFile(BackupFile(), "stale backup"));
  MakeFolders(CapsFolder());
  ASSERT_TRUE(WriteWholeFile(InstallerFile(), "installer database"));
  FaultEnv env;
  const ScopedEnv scoped(&env);
  BackupRecord record;
  env.FailNth(EnvCall::kCopyOver, 1);
  EXPECT_EQ(BackUpInstallerDatabase(CapsFolder(), BackupFolder(), &record), Code::kFileError);
  EXPECT_EQ(ReadWholeFile(BackupFile()), "stale backup");
  env.FailNth(EnvCall::kAny, 0);
  EXPECT_OK(BackUpInstallerDatabase(CapsFolder(), BackupFolder(), &record));
  EXPECT_TRUE(Made(env, "CopyOver"));
  EXPECT_EQ(ReadWholeFile(BackupFile()), "installer database");
}

}  // namespace
}  // namespace customhooks::storage
