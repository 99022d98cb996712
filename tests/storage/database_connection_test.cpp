// DatabaseConnection against real SQLite files in a private folder.
#include "storage/database_connection.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "fs/env.h"
#include "fs/paths.h"
#include "storage/storage_status.h"
#include "storage_test_support.h"
#include "support/database_rewrite.h"
#include "support/fault_env.h"
#include "support/test_machine.h"

namespace customhooks::storage {
namespace {

const char* const kCreateVersion1[] = {
    "CREATE TABLE pcd_meta ( key TEXT NOT NULL, value TEXT NOT NULL, PRIMARY KEY (key) );",
    "CREATE TABLE items ( name TEXT NOT NULL, value TEXT, PRIMARY KEY (name) );",
    "CREATE TABLE opens ( n INT );",
    "INSERT INTO pcd_meta (key, value) VALUES ('schema_version', 1);",
    "INSERT INTO pcd_meta (key, value) VALUES ('schema_compatibility_version', 1);",
    nullptr,
};
// Records that it ran but leaves the version at 1, so it runs at every open.
const char* const kCountOpen[] = {"INSERT INTO opens (n) VALUES (1);", nullptr};
const char* const kFailingStep[] = {
    "CREATE TABLE later ( x INT );",
    "INSERT INTO no_such_table VALUES (1);",
    nullptr,
};

const SchemaStep kCountingSteps[] = {kCreateVersion1, kCountOpen, nullptr};
const SchemaStep kFailingSecondStep[] = {kCreateVersion1, kFailingStep, nullptr};
const SchemaStep kFirstStepOnly[] = {kCreateVersion1, nullptr};

class DatabaseConnectionTest : public ::testing::Test {
 protected:
  std::string Folder() const { return In(In(In(machine_.scratch(), "one"), "two"), "three"); }
  std::string File() const { return In(Folder(), "test.db"); }

  // With the steps applied, and the connection kept by Reopen unless
  // `keep` says otherwise.
  static DatabaseOptions Options(SchemaStepTable steps = kCountingSteps, int targetVersion = 2, bool keep = true) {
    DatabaseOptions options;
    options.steps = steps;
    options.targetVersion = targetVersion;
    options.applySteps = true;
    options.keptConnection = keep;
    return options;
  }

  std::unique_ptr<DatabaseConnection> Connect(SchemaStepTable steps = kCountingSteps, int targetVersion = 2,
                                              bool keep = true) const {
    return std::make_unique<DatabaseConnection>(Folder(), "test.db", Options(steps, targetVersion, keep));
  }

  // Opens and closes once, leaving a version-1 file with one recorded open.
  void CreateFile() const {
    auto connection = Connect();
    ASSERT_OK(connection->state());
  }

  std::string Count(const char* table) const {
    RawDatabase raw(File());
    return raw.Value(std::string("SELECT count(*) FROM ") + table).value_or("<none>");
  }

  TestMachine machine_;
};

// ---- Opening and the schema steps -----------------------------------------

TEST_F(DatabaseConnectionTest, CreatesFolderChainFileAndSchema) {
  ASSERT_FALSE(IsFolderOnDisk(In(machine_.scratch(), "one")));
  auto connection = Connect();
  ASSERT_OK(connection->state());
  EXPECT_OK(connection->Execute("SELECT 1"));
  EXPECT_TRUE(IsFileOnDisk(File()));

  RawDatabase raw(File());
  ASSERT_TRUE(raw.ok());
  EXPECT_EQ(raw.SchemaTexts(), CreateTextsOf(kCreateVersion1));
  EXPECT_EQ(raw.Value("SELECT value FROM pcd_meta WHERE key = 'schema_version'"), "1");
  EXPECT_EQ(raw.Value("SELECT value FROM pcd_meta WHERE key = 'schema_compatibility_version'"), "1");
  EXPECT_EQ(raw.Value("SELECT count(*) FROM opens"), "1");
}

TEST_F(DatabaseConnectionTest, StepThatKeepsTheVersionRunsAgainAtEveryOpen) {
  for (int i = 0; i < 3; ++i) {
    auto connection = Connect();
    ASSERT_OK(connection->state());
  }
  EXPECT_EQ(Count("opens"), "3");
  RawDatabase raw(File());
  EXPECT_EQ(raw.Value("SELECT value FROM pcd_meta WHERE key = 'schema_version'"), "1");
}

TEST_F(DatabaseConnectionTest, DatabaseAtTargetVersionGetsNoStep) {
  CreateFile();
  {
    RawDatabase raw(File());
    ASSERT_EQ(raw.Exec("UPDATE pcd_meta SET value = '2' WHERE key = 'schema_version'"), SQLITE_OK);
  }
  auto connection = Connect();
  EXPECT_OK(connection->state());
  connection.reset();
  EXPECT_EQ(Count("opens"), "1");
}

TEST_F(DatabaseConnectionTest, NewerButCompatibleDatabaseIsUsedWithoutSteps) {
  CreateFile();
  {
    RawDatabase raw(File());
    ASSERT_EQ(raw.Exec("UPDATE pcd_meta SET value = '7' WHERE key = 'schema_version'"), SQLITE_OK);
  }
  auto connection = Connect();
  EXPECT_OK(connection->state());
  connection.reset();
  EXPECT_EQ(Count("opens"), "1");
}

TEST_F(DatabaseConnectionTest, DatabaseRequiringNewerSchemaIsRefusedAndClosed) {
  WriteVersionedDatabase(File(), "3", "3");
  auto connection = Connect();
  EXPECT_EQ(connection->state(), Code::kSchemaTooNew);
  EXPECT_EQ(connection->state().context(), File()) << "the refusal names the file";
  EXPECT_EQ(connection->Execute("SELECT 1"), Code::kSchemaTooNew) << "a refused connection runs nothing";
  RawDatabase raw(File());
  EXPECT_EQ(raw.SchemaTexts().size(), 1u) << "no step may touch a newer database";
}

TEST_F(DatabaseConnectionTest, MissingCompatibilityRecordAtTargetIsRefused) {
  WriteVersionedDatabase(File(), "2", nullptr);
  auto connection = Connect();
  EXPECT_EQ(connection->state(), Code::kNotFound);
  EXPECT_EQ(connection->Execute("SELECT 1"), Code::kNotFound) << "a refused connection runs nothing";
}

TEST_F(DatabaseConnectionTest, FolderInPlaceOfTheFileIsRefusedAndLeftAlone) {
  MakeFolders(File());
  ASSERT_TRUE(WriteWholeFile(In(File(), "inside.txt"), "keep me"));
  auto connection = Connect();
  EXPECT_EQ(connection->state(), Code::kUnusable);
  EXPECT_EQ(connection->Execute("SELECT 1"), Code::kUnusable) << "a refused connection runs nothing";
  EXPECT_TRUE(IsFolderOnDisk(File()));
  EXPECT_EQ(ReadWholeFile(In(File(), "inside.txt")), "keep me");
}

// The path is looked at once. When that look fails, the file is taken as
// missing and SQLite's open decides: an existing database is opened as it
// is, not refused because a second look found it.
TEST_F(DatabaseConnectionTest, FailedLookOfAnExistingFileStillOpensIt) {
  CreateFile();
  fs::FaultEnv env;
  const fs::ScopedEnv scoped(&env);
  env.FailNth(fs::EnvCall::kGetAttributes, 1);
  auto connection = Connect();
  ASSERT_OK(connection->state());
  EXPECT_EQ(env.CallsMade().front(), "GetAttributes") << "the look that failed was the path's";
  env.FailNth(fs::EnvCall::kAny, 0);
  connection.reset();
  EXPECT_EQ(Count("opens"), "2") << "the same file, opened a second time";
}

TEST_F(DatabaseConnectionTest, FileThatIsNotADatabaseIsRefusedUntouched) {
  MakeFolders(Folder());
  std::string junk;
  for (int i = 0; i < 200; ++i) junk += "this is not an SQLite database, line " + std::to_string(i) + "\n";
  ASSERT_TRUE(WriteWholeFile(File(), junk));
  auto connection = Connect();
  EXPECT_EQ(connection->state(), Code::kFileError);
  EXPECT_EQ(connection->Execute("SELECT 1"), Code::kFileError) << "a refused connection runs nothing";
  connection.reset();
  EXPECT_EQ(ReadWholeFile(File()), junk);
}

// A reopen gives what a new connection to the file would give, whatever
// happened to the file since the connection opened it; only while the file
// is the one it opened does a kept connection keep SQLite's connection (and
// so a temporary table made on it). The plain reopen gives the same, and
// never keeps.
TEST_F(DatabaseConnectionTest, ReopenGivesWhatANewConnectionGives) {
  std::string junk;
  for (int i = 0; i < 200; ++i) junk += "this is not an SQLite database, line " + std::to_string(i) + "\n";
  const std::string other = In(machine_.scratch(), "other.db");
  const struct {
    const char* what;
    std::function<bool()> change;  // false when this platform can't do it
    Outcome reopened;
    bool kept;           // the temporary table is still there
    const char* opens;   // the step's count afterwards (each open runs it)
  } kCases[] = {
      // This connection's own open wrote (the counting step): its stamp
      // can't vouch for the file, and the reopen opens anew.
      {"nothing happened", [] { return true; }, kOk, false, "2"},
      {"a record written by another connection",
       [this] { return RawDatabase(File()).Exec("INSERT INTO items VALUES ('b', '2')") == SQLITE_OK; }, kOk,
       false, "2"},
      {"a newer schema required",
       [this] {
         return RawDatabase(File()).Exec(
                    "UPDATE pcd_meta SET value = '3' WHERE key IN ('schema_version', "
                    "'schema_compatibility_version')") == SQLITE_OK;
       },
       Code::kSchemaTooNew, false, "1"},
      // SQLite opens a read-only file for reading; whether writes then fail
      // depends on the privileges the test runs with.
      {"the file made read-only", [this] { return SetReadOnly(File(), true); }, kOk, false, nullptr},
      // An open file can be removed or renamed over on POSIX only.
      {"the file removed", [this] { return std::remove(fs::NativePath(File()).c_str()) == 0; }, kOk, false, "1"},
      {"the file replaced by another database",
       [this, &other] {
         {
           RawDatabase raw(other, true);
           if (raw.Exec("CREATE TABLE pcd_meta ( key TEXT, value TEXT ); CREATE TABLE items ( name TEXT, value "
                        "TEXT ); CREATE TABLE opens ( n INT ); INSERT INTO pcd_meta VALUES "
                        "('schema_version', '1'), ('schema_compatibility_version', '1'); INSERT INTO opens "
                        "VALUES (1), (1), (1)") != SQLITE_OK) {
             return false;
           }
         }
         return std::rename(fs::NativePath(other).c_str(), fs::NativePath(File()).c_str()) == 0;
       },
       kOk, false, "4"},
      {"the file replaced by one that is no database",
       [this, &junk, &other] {
         return WriteWholeFile(other, junk) && std::rename(fs::NativePath(other).c_str(), fs::NativePath(File()).c_str()) == 0;
       },
       Code::kFileError, false, nullptr},
  };
  for (const bool keep : {true, false}) {
    for (const auto& c : kCases) {
      SCOPED_TRACE(std::string(c.what) + (keep ? ", kept" : ", plain"));
      std::error_code ignored;
      // Windows removes no read-only file.
      SetReadOnly(File(), false);
      std::filesystem::remove_all(std::filesystem::u8path(fs::NativePath(Folder())), ignored);
      auto connection = Connect(kCountingSteps, 2, keep);
      ASSERT_OK(connection->state());
      ASSERT_OK(connection->Execute("CREATE TEMP TABLE kept ( x INT )"));
      WaitOutTimestampGranularity();
      if (!c.change()) {
        std::printf("[ SKIPPED  ] %s: not possible on this platform\n", c.what);
        continue;
      }
      EXPECT_EQ(connection->Reopen(), c.reopened);
      EXPECT_EQ(connection->state(), c.reopened);
      EXPECT_EQ(connection->Execute("SELECT x FROM kept").ok(), c.kept && keep);
      connection.reset();
      if (c.opens != nullptr) {
        EXPECT_EQ(Count("opens"), c.opens);
      }
    }
  }
}

// A connection whose opens write nothing is kept while its stamp vouches
// for the file, or while SQLite itself sees what changed (another SQLite
// writer's commit moves the file's change counter on). A writer that keeps
// the counter, or a link's target replaced, is seen by a new connection
// only: the reopen opens anew, and reads what a new connection reads.
TEST_F(DatabaseConnectionTest, KeptConnectionServesOnlyTheFileAsANewOneWould) {
  const std::string target = In(machine_.scratch(), "target.db");
  const std::string other = In(machine_.scratch(), "other.db");
  const struct {
    const char* what;
    bool link;  // the database's name is a link to `target`
    std::function<bool()> change;
    bool kept;
  } kCases[] = {
      {"nothing happened", false, [] { return true; }, true},
      {"a record written by another connection", false,
       [this] { return RawDatabase(File()).Exec("UPDATE items SET value = '3'") == SQLITE_OK; }, true},
      {"rewritten in place, the change counter kept", false,
       [&] { return RewriteKeepingTheCounters(File(), other, "UPDATE items SET value = '3'"); }, false},
      {"rewritten in place with a schema of its own, the counters kept", false,
       [&] {
         return RewriteKeepingTheCounters(File(), other,
                                         "UPDATE items SET value = '3'; CREATE VIEW planted AS SELECT 1");
       },
       false},
      {"the link's target replaced", true,
       [&] {
         return WriteWholeFile(other, ReadWholeFile(target)) && RawDatabase(other).Exec("UPDATE items SET value = '3'") == SQLITE_OK &&
                std::rename(fs::NativePath(other).c_str(), fs::NativePath(target).c_str()) == 0;
       },
       false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::u8path(fs::NativePath(Folder())), ignored);
    std::filesystem::remove(std::filesystem::u8path(fs::NativePath(target)), ignored);
    ASSERT_OK(Connect(kFirstStepOnly, 1)->state());
    ASSERT_EQ(RawDatabase(File()).Exec("INSERT INTO items VALUES ('a', '2')"), SQLITE_OK);
    if (c.link) {
      std::filesystem::rename(std::filesystem::u8path(fs::NativePath(File())), std::filesystem::u8path(fs::NativePath(target)));
      std::filesystem::create_symlink(std::filesystem::u8path(fs::NativePath(target)),
                                      std::filesystem::u8path(fs::NativePath(File())), ignored);
      if (ignored) {
        std::printf("[ SKIPPED  ] %s: no symbolic links here\n", c.what);
        continue;
      }
    }
    WaitOutTimestampGranularity();
    auto connection = Connect(kFirstStepOnly, 1);
    ASSERT_OK(connection->state());
    ASSERT_OK(connection->Execute("CREATE TEMP TABLE kept ( x INT )"));
    std::string value;
    ASSERT_OK(connection->QueryText("SELECT value FROM items WHERE name = 'a'", {}, &value));
    ASSERT_TRUE(c.change());
    EXPECT_OK(connection->Reopen());
    EXPECT_EQ(connection->Execute("SELECT x FROM kept").ok(), c.kept);
    EXPECT_OK(connection->QueryText("SELECT value FROM items WHERE name = 'a'", {}, &value));
    EXPECT_EQ(value, c.what == std::string("nothing happened") ? "2" : "3");
  }
}

// Where the stamp can't tell a write that keeps the change counter (it fell
// in the same two seconds as the stamp), the kept connection drops the pages
// it holds and reads the file as a new connection would; a schema that is no
// longer the one it loaded opens anew.
TEST_F(DatabaseConnectionTest, KeptConnectionReadsAWriteItsStampCannotTell) {
  TwoSecondTimesEnv env;
  const fs::ScopedEnv scoped(&env);
  const std::string other = In(machine_.scratch(), "other.db");
  const struct {
    const char* sql;
    bool kept;
  } kCases[] = {
      {"UPDATE items SET value = '3'", true},
      {"UPDATE items SET value = '3'; CREATE VIEW planted AS SELECT 1", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.sql);
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::u8path(fs::NativePath(Folder())), ignored);
    ASSERT_OK(Connect(kFirstStepOnly, 1)->state());
    TwoSecondTimesEnv::WaitForFreshTwoSeconds();
    ASSERT_EQ(RawDatabase(File()).Exec("INSERT INTO items VALUES ('a', '2')"), SQLITE_OK);
    auto connection = Connect(kFirstStepOnly, 1);
    ASSERT_OK(connection->state());
    ASSERT_OK(connection->Execute("CREATE TEMP TABLE kept ( x INT )"));
    std::string value;
    ASSERT_OK(connection->QueryText("SELECT value FROM items WHERE name = 'a'", {}, &value));
    ASSERT_TRUE(RewriteKeepingTheCounters(File(), other, c.sql));
    EXPECT_OK(connection->Reopen());
    EXPECT_EQ(connection->Execute("SELECT x FROM kept").ok(), c.kept);
    EXPECT_OK(connection->QueryText("SELECT value FROM items WHERE name = 'a'", {}, &value));
    EXPECT_EQ(value, "3");
  }
}

// The file SQLite opens is known only when the path named one file before
// and after the open: a file renamed over the path meanwhile is not taken
// for the one SQLite holds, and the next reopen opens anew.
TEST_F(DatabaseConnectionTest, FileReplacedDuringTheOpenIsNotTakenForTheOneOpened) {
  CreateFile();
  ASSERT_EQ(RawDatabase(File()).Exec("INSERT INTO items VALUES ('a', 'first')"), SQLITE_OK);
  const std::string other = In(machine_.scratch(), "other.db");
  ASSERT_TRUE(WriteWholeFile(other, ReadWholeFile(File())));
  ASSERT_EQ(RawDatabase(other).Exec("UPDATE items SET value = 'second'"), SQLITE_OK);
  // Renames the other file over the database's name just before the first
  // stamp after SQLite's open answers.
  class RenamingEnv : public fs::EnvWrapper {
   public:
    RenamingEnv(const std::string& from, const std::string& to)
        : EnvWrapper(fs::Env::Default()), from_(from), to_(to) {}
    Status GetFileStamp(const std::u16string& path, fs::Links links, fs::FileStamp* stamp) override {
      if (++stamps_ == 2) renamed = std::rename(fs::NativePath(from_).c_str(), fs::NativePath(to_).c_str()) == 0;
      return EnvWrapper::GetFileStamp(path, links, stamp);
    }
    bool renamed = false;

   private:
    std::string from_;
    std::string to_;
    int stamps_ = 0;
  };
  WaitOutTimestampGranularity();
  std::unique_ptr<DatabaseConnection> connection;
  {
    RenamingEnv env(other, File());
    const fs::ScopedEnv scoped(&env);
    connection = Connect(kFirstStepOnly, 1);
    // An open file can be renamed over on POSIX only.
    if (!env.renamed) GTEST_SKIP() << "an open file cannot be renamed over here";
  }
  ASSERT_OK(connection->state());
  EXPECT_OK(connection->Reopen());
  std::string value;
  EXPECT_OK(connection->QueryText("SELECT value FROM items WHERE name = 'a'", {}, &value));
  EXPECT_EQ(value, "second");
}

TEST_F(DatabaseConnectionTest, TablesWithoutVersionRecordsAreUsedUnchanged) {
  MakeFolders(Folder());
  {
    // The third statement of step 1 meets this table; the two before it
    // must be rolled back.
    RawDatabase raw(File(), true);
    ASSERT_EQ(raw.Exec("CREATE TABLE opens ( n INT ); INSERT INTO opens VALUES (7);"), SQLITE_OK);
  }
  auto connection = Connect();
  ASSERT_OK(connection->state());
  std::string value;
  EXPECT_OK(connection->QueryText("SELECT n FROM opens", {}, &value));
  EXPECT_EQ(value, "7");
  connection.reset();

  RawDatabase raw(File());
  EXPECT_EQ(raw.SchemaTexts(), (std::vector<std::string>{"CREATE TABLE opens ( n INT )"}));
  EXPECT_EQ(raw.Value("SELECT count(*) FROM opens"), "1");
}

TEST_F(DatabaseConnectionTest, FailingLaterStepClosesButKeepsEarlierSteps) {
  auto connection = Connect(kFailingSecondStep);
  EXPECT_EQ(connection->state(), Code::kUnusable);
  EXPECT_EQ(connection->Execute("SELECT 1"), Code::kUnusable) << "a refused connection runs nothing";
  connection.reset();

  RawDatabase raw(File());
  EXPECT_EQ(raw.SchemaTexts(), CreateTextsOf(kCreateVersion1));
  EXPECT_EQ(raw.Value("SELECT value FROM pcd_meta WHERE key = 'schema_version'"), "1");
}

TEST_F(DatabaseConnectionTest, MissingStepListIsReported) {
  auto connection = Connect(kFirstStepOnly, 2);
  EXPECT_EQ(connection->state(), Code::kMissingStep);
  EXPECT_EQ(connection->Execute("SELECT 1"), Code::kMissingStep) << "a refused connection runs nothing";
  connection.reset();
  RawDatabase raw(File());
  EXPECT_EQ(raw.Value("SELECT value FROM pcd_meta WHERE key = 'schema_version'"), "1");
}

TEST_F(DatabaseConnectionTest, TooLongPathIsRefusedWithoutCreatingAnything) {
  const std::vector<std::string> before = FolderNames(machine_.scratch());
  const std::string longName(300, 'n');
  DatabaseConnection connection(machine_.scratch(), longName, Options());
  EXPECT_EQ(connection.state(), Code::kInvalidArgument);
  EXPECT_EQ(connection.Execute("SELECT 1"), Code::kInvalidArgument) << "a refused connection runs nothing";
  EXPECT_EQ(FolderNames(machine_.scratch()), before);
}

TEST_F(DatabaseConnectionTest, ApplySchemaStepChecksItsArguments) {
  auto connection = Connect();
  ASSERT_OK(connection->state());
  EXPECT_EQ(connection->ApplySchemaStep(0), Code::kInvalidArgument);
  EXPECT_EQ(connection->ApplySchemaStep(3), Code::kMissingStep);
  EXPECT_OK(connection->ApplySchemaStep(2));
  EXPECT_OK(connection->Close());
  EXPECT_EQ(connection->ApplySchemaStep(2), Code::kNotOpen);
  connection.reset();
  EXPECT_EQ(Count("opens"), "2");
}

// ---- Queries ---------------------------------------------------------------

// ---- Statements, values and transactions ----------------------------------

TEST_F(DatabaseConnectionTest, QueryOutcomes) {
  auto connection = Connect();
  ASSERT_OK(connection->state());
  static const char kInsert[] = "INSERT INTO items VALUES (?1, ?2)";
  ASSERT_OK(connection->Execute(kInsert, {"b", "two"}));
  ASSERT_OK(connection->Execute("INSERT INTO items VALUES ('a', NULL)"));
  ASSERT_OK(connection->Execute(kInsert, {"c", -42}));
  // Bound texts are values, never SQL: quotes and statement text stay data.
  const char hostile[] = "x'); DROP TABLE items; --";
  ASSERT_OK(connection->Execute(kInsert, {hostile, "it's"}));
  EXPECT_OK(connection->Execute("SELECT name FROM items")) << "rows are skipped";

  static const char kValueOf[] = "SELECT value FROM items WHERE name = ?1";
  const struct {
    const char* name;
    Outcome outcome;
    const char* value;  // when found
  } kCases[] = {
      {"b", kOk, "two"}, {"a", kOk, ""}, {"c", kOk, "-42"}, {hostile, kOk, "it's"}, {"zzz", Code::kNotFound, "kept"},
  };
  for (const auto& c : kCases) {
    std::string value = "kept";
    EXPECT_EQ(connection->QueryText(kValueOf, {c.name}, &value), c.outcome) << c.name;
    EXPECT_EQ(value, c.value) << c.name;
  }
  std::string value;
  const Status missing = connection->QueryText("SELECT value FROM no_such_table", {}, &value);
  EXPECT_EQ(missing, Code::kDatabaseError);
  EXPECT_EQ(missing.context(), "no such table: no_such_table");
  EXPECT_EQ(connection->QueryText("SELECT 1", {}, nullptr), Code::kInvalidArgument);

  TextList names;
  EXPECT_OK(connection->QueryColumn("SELECT name FROM items WHERE name < ?1 ORDER BY name", {"c"}, &names));
  ASSERT_EQ(names.size(), 2u);
  EXPECT_STREQ(names[0], "a");
  EXPECT_STREQ(names[1], "b");
  EXPECT_OK(connection->QueryColumn("SELECT value FROM items WHERE name = 'a'", {}, &names));
  ASSERT_EQ(names.size(), 1u);
  EXPECT_STREQ(names[0], "") << "a NULL column reads as the empty text";
  EXPECT_EQ(connection->QueryColumn("SELECT name FROM items WHERE 0", {}, &names), Code::kNotFound);
  EXPECT_EQ(names.size(), 1u) << "untouched";
  EXPECT_EQ(connection->QueryColumn("SELECT x FROM no_such_table", {}, &names), Code::kDatabaseError);

  int rows = 0;
  EXPECT_EQ(connection->Query("SELECT name, value FROM items ORDER BY name", {}, [&rows](const Row& row) {
    EXPECT_EQ(row.ColumnCount(), 2);
    return ++rows < 2;
  }), kOk);
  EXPECT_EQ(rows, 2) << "the visitor ends the query";
}

TEST_F(DatabaseConnectionTest, TextListKeepsEveryEntry) {
  TextList list;
  for (int i = 0; i < 1000; ++i) list.Append(std::string(i % 7, 'x') + std::to_string(i));
  ASSERT_EQ(list.size(), 1000u);
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(std::string(list[i]), std::string(i % 7, 'x') + std::to_string(i));
}

// SQLite's own allocations fail beyond its heap limit. Setting the hard
// limit lowers the soft one as well (which would keep the page cache small
// for the tests that follow), so both are given back.
class SqliteHeapLimit {
 public:
  explicit SqliteHeapLimit(sqlite3_int64 bytes)
      : soft_(sqlite3_soft_heap_limit64(-1)), hard_(sqlite3_hard_heap_limit64(bytes)) {}
  ~SqliteHeapLimit() {
    sqlite3_hard_heap_limit64(hard_);
    sqlite3_soft_heap_limit64(soft_);
  }
  SqliteHeapLimit(const SqliteHeapLimit&) = delete;
  SqliteHeapLimit& operator=(const SqliteHeapLimit&) = delete;

 private:
  sqlite3_int64 soft_;
  sqlite3_int64 hard_;
};

TEST_F(DatabaseConnectionTest, RunningOutOfMemoryGivesNoMemoryAndNoValue) {
  auto connection = Connect();
  ASSERT_OK(connection->state());
  ASSERT_OK(connection->Execute("INSERT INTO items VALUES ('a', 'alpha')"));
  {
    const SqliteHeapLimit limit(sqlite3_memory_used());
    std::string value = "kept";
    EXPECT_EQ(connection->QueryText("SELECT value FROM items WHERE name = ?1 AND 2 > 1", {"a"}, &value),
              Code::kNoMemory);
    EXPECT_EQ(value, "kept");
    TextList list;
    EXPECT_EQ(connection->QueryColumn("SELECT name FROM items WHERE 3 > 1", {}, &list), Code::kNoMemory);
    EXPECT_EQ(connection->Execute("INSERT INTO items VALUES (?1, 'beta')", {"b"}), Code::kNoMemory);
  }
  std::string value;
  EXPECT_OK(connection->QueryText("SELECT group_concat(name) FROM items", {}, &value));
  EXPECT_EQ(value, "a");
}

TEST_F(DatabaseConnectionTest, TransactionEndsAsItsOwnerDecides) {
  const struct {
    const char* what;
    bool commit;
    const char* count;  // of items afterwards, seen by another connection
  } kCases[] = {{"committed", true, "2"}, {"left without a commit", false, "0"}};
  for (const auto& c : kCases) {
    auto connection = Connect();
    ASSERT_OK(connection->state());
    ASSERT_OK(connection->Execute("DELETE FROM items"));
    {
      Transaction transaction(*connection, Intent::kWrite);
      ASSERT_OK(transaction.begun());
      ASSERT_OK(connection->Execute("INSERT INTO items VALUES ('a', '1')"));
      ASSERT_OK(connection->Execute("UPDATE items SET value = '2' WHERE name = 'a'"));
      ASSERT_OK(connection->Execute("insert into items values ('b', '1')"));
      std::string value;
      EXPECT_OK(connection->QueryText("SELECT value FROM items WHERE name = 'a'", {}, &value));
      EXPECT_EQ(value, "2") << "pending changes are visible to their connection";
      EXPECT_EQ(Count("items"), "0") << c.what << ": nothing reaches others before the commit";
      if (c.commit) {
        EXPECT_OK(transaction.Commit());
      }
    }
    EXPECT_EQ(Count("items"), c.count) << c.what;
  }
}

TEST_F(DatabaseConnectionTest, WriteOutsideTransactionIsDurableAtOnce) {
  auto connection = Connect();
  ASSERT_OK(connection->state());
  ASSERT_OK(connection->Execute("INSERT INTO items VALUES ('a', '1')"));
  EXPECT_EQ(Count("items"), "1");
}

TEST_F(DatabaseConnectionTest, CloseDiscardsUncommittedWrites) {
  auto connection = Connect();
  ASSERT_OK(connection->state());
  Transaction transaction(*connection, Intent::kWrite);
  ASSERT_OK(connection->Execute("INSERT INTO items VALUES ('a', '1')"));
  EXPECT_OK(connection->Close());
  EXPECT_EQ(Count("items"), "0");
  EXPECT_EQ(transaction.Commit(), Code::kNotOpen) << "nothing was committed";
}

// Every commit is synced by SQLite itself (synchronous FULL, whatever the
// library's default): neither a commit nor a close flushes the file again.
TEST_F(DatabaseConnectionTest, SqlitesOwnSyncIsTheOnlyFlush) {
  auto connection = Connect();
  ASSERT_OK(connection->state());
  std::string synchronous;
  ASSERT_OK(connection->QueryText("PRAGMA synchronous", {}, &synchronous));
  EXPECT_EQ(synchronous, "2");
  customhooks::fs::FaultEnv env;
  const customhooks::fs::ScopedEnv scopedEnv(&env);
  for (const char* statement : {"INSERT INTO items VALUES ('a', '1')", "DELETE FROM items WHERE name = 'none'"}) {
    Transaction transaction(*connection, Intent::kWrite);
    ASSERT_OK(connection->Execute(statement)) << statement;
    ASSERT_OK(transaction.Commit()) << statement;
  }
  ASSERT_OK(connection->Execute("update items set value = '2'"));
  ASSERT_OK(connection->Close());
  const std::vector<std::string>& calls = env.CallsMade();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "FlushFile"), 0);
}

TEST_F(DatabaseConnectionTest, ConstraintViolationKeepsTransactionOpen) {
  auto connection = Connect();
  ASSERT_OK(connection->state());
  Transaction transaction(*connection, Intent::kWrite);
  ASSERT_OK(connection->Execute("INSERT INTO items VALUES ('a', '1')"));
  const Status duplicate = connection->Execute("INSERT INTO items VALUES (?1, '2')", {"a"});
  EXPECT_EQ(duplicate, Code::kConstraint);
  EXPECT_EQ(duplicate.context(), "UNIQUE constraint failed: items.name");
  EXPECT_OK(transaction.Commit());
  RawDatabase raw(File());
  EXPECT_EQ(raw.Value("SELECT value FROM items WHERE name = 'a'"), "1");
}

TEST_F(DatabaseConnectionTest, ClosedConnectionRefusesStatements) {
  auto connection = Connect();
  ASSERT_OK(connection->state());
  EXPECT_OK(connection->Close());
  EXPECT_OK(connection->Close());
  EXPECT_EQ(connection->Execute("INSERT INTO items VALUES ('a', '1')"), Code::kNotOpen);
  std::string value = "kept";
  EXPECT_EQ(connection->QueryText("SELECT value FROM items", {}, &value), Code::kNotOpen);
  EXPECT_EQ(value, "kept");
  TextList list;
  EXPECT_EQ(connection->QueryColumn("SELECT value FROM items", {}, &list), Code::kNotOpen);
  Transaction transaction(*connection, Intent::kWrite);
  EXPECT_EQ(transaction.begun(), Code::kNotOpen);
  EXPECT_EQ(transaction.Commit(), Code::kNotOpen);
}

// ---- Status translation and version numbers --------------------------------

TEST(StatusFromSqliteTest, EveryPrimaryCode) {
  constexpr Code kRefused = Code::kAccessRefused;
  constexpr Code kFile = Code::kFileError;
  constexpr Code kOther = Code::kDatabaseError;
  const std::vector<std::pair<int, Outcome>> expected = {
      {SQLITE_OK, kOk},             {SQLITE_ERROR, kOther},    {SQLITE_INTERNAL, kOther},
      {SQLITE_PERM, kRefused},      {SQLITE_ABORT, kOther},    {SQLITE_BUSY, Code::kBusy},
      {SQLITE_LOCKED, kOther},      {SQLITE_NOMEM, Code::kNoMemory},
      {SQLITE_READONLY, kRefused},  {SQLITE_INTERRUPT, kOther}, {SQLITE_IOERR, kFile},
      {SQLITE_CORRUPT, kFile},      {SQLITE_NOTFOUND, Code::kNotFound}, {SQLITE_FULL, kFile},
      {SQLITE_CANTOPEN, kRefused},  {SQLITE_PROTOCOL, kOther}, {SQLITE_EMPTY, Code::kNotFound},
      {SQLITE_SCHEMA, kOther},      {SQLITE_TOOBIG, kOther},   {SQLITE_CONSTRAINT, Code::kConstraint},
      {SQLITE_MISMATCH, kOther},    {SQLITE_MISUSE, kOther},   {SQLITE_NOLFS, kOther},
      {SQLITE_AUTH, kRefused},      {SQLITE_FORMAT, kOther},   {SQLITE_RANGE, kOther},
      {SQLITE_NOTADB, kFile},       {SQLITE_NOTICE, kOther},   {SQLITE_WARNING, kOther},
      {SQLITE_ROW, kOk},            {SQLITE_DONE, kOk},        {-1, kOther},
  };
  for (const auto& [sqliteCode, outcome] : expected) {
    EXPECT_EQ(StatusFromSqlite(sqliteCode, "context"), outcome) << "SQLite code " << sqliteCode;
  }
  EXPECT_EQ(StatusFromSqlite(SQLITE_BUSY, "pcd.db").ToString(), "storage busy: pcd.db");
  EXPECT_TRUE(StatusFromSqlite(SQLITE_OK, "pcd.db").context().empty());
}

TEST(DecimalTextToIntTest, ReadsLikeAtoi) {
  EXPECT_EQ(DecimalTextToInt("2"), 2);
  EXPECT_EQ(DecimalTextToInt("  \t+17 apples"), 17);
  EXPECT_EQ(DecimalTextToInt("-5"), -5);
  EXPECT_EQ(DecimalTextToInt("12abc"), 12);
  EXPECT_EQ(DecimalTextToInt("abc"), 0);
  EXPECT_EQ(DecimalTextToInt(""), 0);
  EXPECT_EQ(DecimalTextToInt(nullptr), 0);
  EXPECT_EQ(DecimalTextToInt("- 5"), 0);
  EXPECT_EQ(DecimalTextToInt("99999999999999999999"), INT_MAX);
  EXPECT_EQ(DecimalTextToInt("-99999999999999999999"), INT_MIN);
}

}  // namespace
}  // namespace customhooks::storage
