// The payload database reader and the backup of "caps.db" on a private
// machine.
#include "storage/pdb_reader.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "fs/files.h"
#include "fs/folders.h"
#include "storage/schema_steps.h"
#include "storage/storage_status.h"
#include "storage_test_support.h"
#include "support/test_machine.h"

namespace customhooks::storage {

using namespace customhooks::fs;

namespace {

std::vector<std::string> ToStrings(char** list) {
  std::vector<std::string> values;
  for (; list != nullptr && *list != nullptr; ++list) values.emplace_back(*list);
  return values;
}

class PdbReaderTest : public ::testing::Test {
 protected:
  std::string CapsFolder() const { return PathOf(machine_.commonData(), {"caps"}); }
  std::string PdbFile() const { return PathOf(CapsFolder(), {"pdb.db"}); }
  std::string InstallerFile() const { return PathOf(CapsFolder(), {"caps.db"}); }
  std::string BackupFolder() const { return PathOf(machine_.commonData(), {"backup"}); }
  std::string BackupFile() const { return PathOf(BackupFolder(), {"caps.db"}); }

  PdbPtr Open() const {
    pdbHandle* handle = nullptr;
    EXPECT_EQ(pdbOpen(CapsFolder(), BackupFolder(), &handle), kOk);
    EXPECT_NE(handle, nullptr);
    return PdbPtr(handle);
  }

  // Creates "pdb.db" through the reader, then adds rows as the installer
  // would.
  void Seed(const std::string& statements) const {
    { PdbPtr handle = Open(); }
    RawDatabase raw(PdbFile());
    ASSERT_TRUE(raw.ok());
    ASSERT_EQ(raw.Exec(statements), SQLITE_OK) << statements;
  }

  TestMachine machine_;
};

// ---- Opening -----------------------------------------------------------------

TEST_F(PdbReaderTest, FirstUseCreatesTheInstallersEmptySchema) {
  ASSERT_FALSE(IsFolderOnDisk(CapsFolder()));
  PdbPtr handle = Open();
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

  char** ids = nullptr;
  EXPECT_EQ(pdbGetPayloadIDs(handle.get(), kPayloadStateAll, &ids), Code::kNotFound);
  EXPECT_EQ(ids, SharedEmptyList());
}

TEST_F(PdbReaderTest, NewerButCompatibleDatabaseOpensWithoutStep) {
  WriteVersionedDatabase(PdbFile(), "2", "1");
  PdbPtr handle = Open();
  ASSERT_TRUE(handle);
  RawDatabase raw(PdbFile());
  EXPECT_EQ(raw.SchemaTexts().size(), 1u);
}

TEST_F(PdbReaderTest, DatabaseRequiringNewerSchemaIsRefused) {
  WriteVersionedDatabase(PdbFile(), "2", "2");
  pdbHandle* handle = reinterpret_cast<pdbHandle*>(this);
  EXPECT_EQ(pdbOpen(CapsFolder(), BackupFolder(), &handle), Code::kSchemaTooNew);
  EXPECT_EQ(handle, nullptr);
}

TEST_F(PdbReaderTest, EmptyFolderGivesNoHandle) {
  pdbHandle* handle = reinterpret_cast<pdbHandle*>(this);
  EXPECT_EQ(pdbOpen("", BackupFolder(), &handle), Code::kInvalidArgument);
  EXPECT_EQ(handle, nullptr);
  EXPECT_FALSE(IsFolderOnDisk(machine_.commonData())) << "nothing may be touched";
}

TEST_F(PdbReaderTest, NullArgumentsAndFilterRangeAreRefused) {
  EXPECT_EQ(pdbOpen(CapsFolder(), BackupFolder(), nullptr), Code::kInvalidArgument);
  EXPECT_FALSE(IsFolderOnDisk(CapsFolder()));
  PdbPtr handle = Open();
  ASSERT_TRUE(handle);
  char** ids = nullptr;
  pdbPayload record{};
  char* value = nullptr;
  EXPECT_EQ(pdbGetPayloadIDs(nullptr, 2, &ids), Code::kInvalidArgument);
  EXPECT_EQ(pdbGetPayloadIDs(handle.get(), 2, nullptr), Code::kInvalidArgument);
  EXPECT_EQ(pdbGetPayloadIDs(handle.get(), -1, &ids), Code::kInvalidArgument);
  EXPECT_EQ(pdbGetPayloadIDs(handle.get(), 5, &ids), Code::kInvalidArgument);
  EXPECT_EQ(pdbGetPayload(nullptr, "id", &record), Code::kInvalidArgument);
  EXPECT_EQ(pdbGetPayload(handle.get(), nullptr, &record), Code::kInvalidArgument);
  EXPECT_EQ(pdbGetPayload(handle.get(), "id", nullptr), Code::kInvalidArgument);
  EXPECT_EQ(pdbGetPayloadData(nullptr, "id", 0, "k", &value), Code::kInvalidArgument);
  EXPECT_EQ(pdbGetPayloadData(handle.get(), nullptr, 0, "k", &value), Code::kInvalidArgument);
  EXPECT_EQ(pdbGetPayloadData(handle.get(), "id", 0, nullptr, &value), Code::kInvalidArgument);
  EXPECT_EQ(pdbGetPayloadData(handle.get(), "id", 0, "k", nullptr), Code::kInvalidArgument);
  EXPECT_EQ(pdbCommit(nullptr), Code::kInvalidArgument);
  EXPECT_EQ(pdbClose(nullptr), Code::kInvalidArgument);
}

// ---- Reads -------------------------------------------------------------------

TEST_F(PdbReaderTest, PayloadIDsByInstallTimeAndFilter) {
  Seed("INSERT INTO payloads (PayloadID, installState, installTime) VALUES ('late-2', 2, 300);"
       "INSERT INTO payloads (PayloadID, installState, installTime) VALUES ('early-2', 2, 100);"
       "INSERT INTO payloads (PayloadID, installState, installTime) VALUES ('middle-1', 1, 200);"
       "INSERT INTO payloads (PayloadID, installState, installTime) VALUES ('untimed-2', 2, NULL);"
       "INSERT INTO payloads (PayloadID, installTime) VALUES ('default-0', 250);"
       "INSERT INTO payloads (PayloadID, installState, installTime) VALUES ('x''y', 3, 50);");
  PdbPtr handle = Open();
  ASSERT_TRUE(handle);
  char** ids = nullptr;
  ASSERT_EQ(pdbGetPayloadIDs(handle.get(), 2, &ids), kOk);
  EXPECT_EQ(ToStrings(ids), (std::vector<std::string>{"untimed-2", "early-2", "late-2"}));
  ASSERT_EQ(pdbGetPayloadIDs(handle.get(), kPayloadStateAll, &ids), kOk);
  EXPECT_EQ(ToStrings(ids), (std::vector<std::string>{"untimed-2", "x'y", "early-2", "middle-1",
                                                      "default-0", "late-2"}));
  ASSERT_EQ(pdbGetPayloadIDs(handle.get(), 0, &ids), kOk);
  EXPECT_EQ(ToStrings(ids), (std::vector<std::string>{"default-0"}));
  ASSERT_EQ(pdbGetPayloadIDs(handle.get(), 3, &ids), kOk);
  EXPECT_EQ(ToStrings(ids), (std::vector<std::string>{"x'y"}));
  {
    RawDatabase raw(PdbFile());
    ASSERT_EQ(raw.Exec("DELETE FROM payloads WHERE installState = 1"), SQLITE_OK);
  }
  ids = nullptr;
  EXPECT_EQ(pdbGetPayloadIDs(handle.get(), 1, &ids), Code::kNotFound);
  EXPECT_EQ(ids, SharedEmptyList());
}

TEST_F(PdbReaderTest, PayloadRecordWithTextsNumbersAndNulls) {
  Seed("INSERT INTO payloads VALUES ('{AAA}', 'Weft', 'Orvik Tessel Studio 4.6', '4.6.1', 'SIG', 2, 1234);"
       "INSERT INTO payloads VALUES ('{NULLS}', NULL, NULL, NULL, NULL, 0, NULL);"
       "INSERT INTO payloads VALUES ('{ODD}', 'f', 'n', 'v', 's', '12abc', ' 77 ');"
       "INSERT INTO payloads VALUES ('{TEXT}', 'f', 'n', 'v', 's', 'two', '');");
  PdbPtr handle = Open();
  ASSERT_TRUE(handle);

  pdbPayload record{};
  ASSERT_EQ(pdbGetPayload(handle.get(), "{AAA}", &record), kOk);
  EXPECT_STREQ(record.payloadID, "{AAA}");
  EXPECT_STREQ(record.productFamily, "Weft");
  EXPECT_STREQ(record.productName, "Orvik Tessel Studio 4.6");
  EXPECT_STREQ(record.version, "4.6.1");
  EXPECT_STREQ(record.signature, "SIG");
  EXPECT_EQ(record.installState, 2);
  EXPECT_EQ(record.installTime, 1234);

  record = pdbPayload{};
  ASSERT_EQ(pdbGetPayload(handle.get(), "{NULLS}", &record), kOk);
  for (char* text : {record.productFamily, record.productName, record.version, record.signature}) {
    ASSERT_NE(text, nullptr) << "a NULL column must still give a readable text";
    EXPECT_STREQ(text, "");
  }
  EXPECT_EQ(record.installTime, 0);

  ASSERT_EQ(pdbGetPayload(handle.get(), "{ODD}", &record), kOk);
  EXPECT_EQ(record.installState, 12);
  EXPECT_EQ(record.installTime, 77);
  ASSERT_EQ(pdbGetPayload(handle.get(), "{TEXT}", &record), kOk);
  EXPECT_EQ(record.installState, 0);
  EXPECT_EQ(record.installTime, 0);
}

TEST_F(PdbReaderTest, UnknownPayloadLeavesTheRecordUntouched) {
  Seed("INSERT INTO payloads VALUES ('it''s', 'f', 'n', 'v', 's', 2, 1);");
  PdbPtr handle = Open();
  ASSERT_TRUE(handle);
  char sentinel[] = "untouched";
  pdbPayload record{sentinel, sentinel, sentinel, sentinel, sentinel, -5, -6};
  EXPECT_EQ(pdbGetPayload(handle.get(), "its", &record), Code::kNotFound);
  EXPECT_EQ(record.payloadID, sentinel);
  EXPECT_EQ(record.signature, sentinel);
  EXPECT_EQ(record.installState, -5);
  EXPECT_EQ(record.installTime, -6);

  ASSERT_EQ(pdbGetPayload(handle.get(), "it's", &record), kOk);
  EXPECT_STREQ(record.payloadID, "it's");
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
  PdbPtr handle = Open();
  ASSERT_TRUE(handle);
  pdbPayload record{};
  EXPECT_EQ(pdbGetPayload(handle.get(), "p", &record), kOk) << "the query names its columns";
  {
    RawDatabase raw(PdbFile());
    ASSERT_EQ(raw.Exec("DROP TABLE payloads;"
                       "CREATE TABLE payloads ( PayloadID TEXT, installState INT, installTime INT );"
                       "INSERT INTO payloads VALUES ('p', 2, 1);"),
              SQLITE_OK);
  }
  record = pdbPayload{};
  EXPECT_EQ(pdbGetPayload(handle.get(), "p", &record), Code::kDatabaseError);
  EXPECT_EQ(record.payloadID, nullptr);
}

TEST_F(PdbReaderTest, PayloadDataByIdDomainAndKey) {
  Seed("INSERT INTO payloads (PayloadID) VALUES ('p''1');"
       "INSERT INTO payload_data VALUES ('p''1', '5', 'mediaSignature', 'SIG-5');"
       "INSERT INTO payload_data VALUES ('p''1', '0', 'mediaSignature', 'SIG-0');"
       "INSERT INTO payload_data VALUES ('p''1', '0', 'RMTConfigPath', NULL);");
  PdbPtr handle = Open();
  ASSERT_TRUE(handle);
  char* value = nullptr;
  ASSERT_EQ(pdbGetPayloadData(handle.get(), "p'1", 5, "mediaSignature", &value), kOk);
  EXPECT_STREQ(value, "SIG-5");
  ASSERT_EQ(pdbGetPayloadData(handle.get(), "p'1", 0, "mediaSignature", &value), kOk);
  EXPECT_STREQ(value, "SIG-0");
  EXPECT_EQ(pdbGetPayloadData(handle.get(), "p'1", 0, "RMTConfigPath", &value), kOk);
  ASSERT_NE(value, nullptr);
  EXPECT_STREQ(value, "");
  EXPECT_EQ(pdbGetPayloadData(handle.get(), "p'1", 1, "mediaSignature", &value), Code::kNotFound);
  EXPECT_EQ(value, nullptr);
  EXPECT_EQ(pdbGetPayloadData(handle.get(), "p1", 5, "mediaSignature", &value), Code::kNotFound);
}

TEST_F(PdbReaderTest, ResultsStayValidUntilClose) {
  Seed("INSERT INTO payloads VALUES ('a', 'fa', 'na', 'va', 'sa', 2, 1);"
       "INSERT INTO payloads VALUES ('b', 'fb', 'nb', 'vb', 'sb', 2, 2);"
       "INSERT INTO payload_data VALUES ('a', '0', 'k', 'data a');");
  PdbPtr handle = Open();
  ASSERT_TRUE(handle);
  char** ids = nullptr;
  ASSERT_EQ(pdbGetPayloadIDs(handle.get(), 2, &ids), kOk);
  pdbPayload first{};
  pdbPayload second{};
  ASSERT_EQ(pdbGetPayload(handle.get(), ids[0], &first), kOk);
  ASSERT_EQ(pdbGetPayload(handle.get(), ids[1], &second), kOk);
  char* value = nullptr;
  ASSERT_EQ(pdbGetPayloadData(handle.get(), first.payloadID, 0, "k", &value), kOk);
  ASSERT_EQ(pdbCommit(handle.get()), kOk);
  EXPECT_EQ(ToStrings(ids), (std::vector<std::string>{"a", "b"}));
  EXPECT_STREQ(first.productName, "na");
  EXPECT_STREQ(second.productName, "nb");
  EXPECT_STREQ(value, "data a");
}

TEST_F(PdbReaderTest, ReadsNeverOpenATransaction) {
  Seed("INSERT INTO payloads VALUES ('a', 'f', 'n', 'v', 's', 2, 1);");
  PdbPtr handle = Open();
  ASSERT_TRUE(handle);
  char** ids = nullptr;
  pdbPayload record{};
  ASSERT_EQ(pdbGetPayloadIDs(handle.get(), 2, &ids), kOk);
  ASSERT_EQ(pdbGetPayload(handle.get(), "a", &record), kOk);
  RawDatabase raw(PdbFile());
  EXPECT_EQ(raw.Exec("BEGIN IMMEDIATE; INSERT INTO payloads (PayloadID) VALUES ('b'); COMMIT;"), SQLITE_OK)
      << "the installer must be able to write while a reader is open";
}

// ---- Backup of the installer's database ---------------------------------------

TEST_F(PdbReaderTest, CloseCopiesTheInstallersDatabase) {
  MakeFolders(CapsFolder());
  const std::string content(100000, 'c');
  ASSERT_TRUE(WriteWholeFile(InstallerFile(), content));
  pdbHandle* handle = nullptr;
  ASSERT_EQ(pdbOpen(CapsFolder(), BackupFolder(), &handle), kOk);
  EXPECT_FALSE(IsFolderOnDisk(BackupFolder()));
  EXPECT_EQ(pdbClose(handle), kOk);
  EXPECT_EQ(ReadWholeFile(BackupFile()), content);
  EXPECT_EQ(FolderEntries(BackupFolder()), (std::vector<std::string>{"caps.db"}));
}

TEST_F(PdbReaderTest, WithoutABackupFolderNothingIsCopied) {
  MakeFolders(CapsFolder());
  ASSERT_TRUE(WriteWholeFile(InstallerFile(), "installer"));
  pdbHandle* handle = nullptr;
  ASSERT_EQ(pdbOpen(CapsFolder(), "", &handle), kOk);
  EXPECT_EQ(pdbClose(handle), kOk);
  EXPECT_EQ(FolderEntries(CapsFolder()), (std::vector<std::string>{"caps.db", "pdb.db"}));
  EXPECT_FALSE(IsFolderOnDisk(BackupFolder()));
}

TEST_F(PdbReaderTest, EveryCommitRefreshesTheCopyWhole) {
  MakeFolders(BackupFolder());
  ASSERT_TRUE(WriteWholeFile(BackupFile(), std::string(50000, 'o')));
  MakeFolders(CapsFolder());
  ASSERT_TRUE(WriteWholeFile(InstallerFile(), "first"));
  PdbPtr handle = Open();
  ASSERT_TRUE(handle);
  ASSERT_EQ(pdbCommit(handle.get()), kOk);
  EXPECT_EQ(ReadWholeFile(BackupFile()), "first");
  ASSERT_TRUE(WriteWholeFile(InstallerFile(), "second version"));
  ASSERT_EQ(pdbCommit(handle.get()), kOk);
  EXPECT_EQ(ReadWholeFile(BackupFile()), "second version");
  EXPECT_EQ(FolderEntries(BackupFolder()), (std::vector<std::string>{"caps.db"}));
}

TEST_F(PdbReaderTest, ABackupThatDiffersAnywhereIsReplaced) {
  MakeFolders(BackupFolder());
  MakeFolders(CapsFolder());
  PdbPtr handle = Open();
  ASSERT_TRUE(handle);
  // Past the first block read, in the very last byte, and in length only.
  std::string content(200000, 'c');
  const std::vector<std::string> staleBackups = {
      content.substr(0, 199999) + "x", content + "c", content.substr(0, 131072), ""};
  for (const std::string& stale : staleBackups) {
    ASSERT_TRUE(WriteWholeFile(InstallerFile(), content));
    ASSERT_TRUE(WriteWholeFile(BackupFile(), stale));
    ASSERT_EQ(pdbCommit(handle.get()), kOk);
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
  pdbHandle* handle = nullptr;
  ASSERT_EQ(pdbOpen(CapsFolder(), BackupFolder(), &handle), kOk);
  EXPECT_EQ(pdbClose(handle), kOk);
  EXPECT_EQ(ReadWholeFile(BackupFile()), content);
  EXPECT_EQ(std::filesystem::last_write_time(path), old) << "an up-to-date backup is not written again";
  EXPECT_EQ(FolderEntries(BackupFolder()), (std::vector<std::string>{"caps.db"}));
}

TEST_F(PdbReaderTest, NoInstallerDatabaseMeansNoCopy) {
  pdbHandle* handle = nullptr;
  ASSERT_EQ(pdbOpen(CapsFolder(), BackupFolder(), &handle), kOk);
  EXPECT_EQ(pdbClose(handle), kOk);
  EXPECT_FALSE(IsFolderOnDisk(BackupFolder()));
}

TEST_F(PdbReaderTest, FailedReplacementLeavesTheTargetAndNoTemporaryCopy) {
  MakeFolders(CapsFolder());
  ASSERT_TRUE(WriteWholeFile(InstallerFile(), "new content of the installer database"));
  // A folder in the target's place can't be replaced by a file.
  MakeFolders(BackupFile());
  ASSERT_TRUE(WriteWholeFile(PathOf(BackupFile(), {"inside"}), "previous"));
  pdbHandle* handle = nullptr;
  ASSERT_EQ(pdbOpen(CapsFolder(), BackupFolder(), &handle), kOk);
  EXPECT_EQ(pdbClose(handle), kOk) << "backup problems are not reported";
  EXPECT_TRUE(IsFolderOnDisk(BackupFile()));
  EXPECT_EQ(ReadWholeFile(PathOf(BackupFile(), {"inside"})), "previous");
  EXPECT_EQ(FolderEntries(BackupFolder()), (std::vector<std::string>{"caps.db"}))
      << "no temporary copy may be left behind";
}

}  // namespace
}  // namespace customhooks::storage
