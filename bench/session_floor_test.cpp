// The floor of a session is only a floor if it does the module's work: from
// the same machine, the module's session and the floor leave the same
// records in every database and the same bytes and permissions in every
// other file.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "scaled_machine.h"
#include "session_work.h"
#include "support/data_files.h"

namespace {

namespace names = customhooks::names;
namespace stdfs = std::filesystem;

std::string ReadBytes(const stdfs::path& file) {
  std::ostringstream bytes;
  bytes << std::ifstream(file, std::ios::binary).rdbuf();
  return bytes.str();
}

// The rows of one query, one line each, every line starting with `tag`.
void AddRows(sqlite3* db, const std::string& sql, const std::string& tag, std::vector<std::string>& lines) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    lines.push_back(tag + " cannot be read");
    return;
  }
  while (sqlite3_step(statement) == SQLITE_ROW) {
    std::string line = tag;
    for (int i = 0; i < sqlite3_column_count(statement); ++i) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
      line += std::string(" | ") + (text ? text : "NULL");
    }
    lines.push_back(line);
  }
  sqlite3_finalize(statement);
}

// The schema and every row of every table, one line each, sorted: the
// records, whatever the order and the pages SQLite keeps them in.
std::string Records(const stdfs::path& file) {
  sqlite3* db = nullptr;
  std::vector<std::string> lines;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    std::vector<std::string> schema;
    AddRows(db, "SELECT name, sql FROM sqlite_master WHERE type = 'table'", "schema", schema);
    for (const std::string& table : schema) {
      const std::string name = table.substr(9, table.find(" | ", 9) - 9);
      AddRows(db, "SELECT * FROM \"" + name + "\"", name, lines);
    }
    lines.insert(lines.end(), schema.begin(), schema.end());
  } else {
    lines.push_back("cannot open");
  }
  sqlite3_close(db);
  std::sort(lines.begin(), lines.end());
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// Path below the machine -> what a host sees of the file.
std::map<std::string, std::string> EndState(const stdfs::path& root) {
  std::map<std::string, std::string> state;
  for (const auto& entry : stdfs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::ostringstream seen;
    seen << "permissions " << std::oct << static_cast<unsigned>(entry.status().permissions()) << "\n";
    if (entry.path().extension() == ".db") {
      seen << Records(entry.path());
    } else {
      seen << ReadBytes(entry.path());
    }
    state[stdfs::relative(entry.path(), root).string()] = seen.str();
  }
  return state;
}

// Runs one change on a database; true when it changed a row.
bool Execute(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  const bool changed = sqlite3_open(file.c_str(), &db) == SQLITE_OK &&
                       sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK && sqlite3_changes(db) > 0;
  sqlite3_close(db);
  return changed;
}

class SessionFloorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (stdfs::temp_directory_path() / "ch-floor-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    scratch_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    stdfs::remove_all(scratch_, ignored);
  }

  // Puts the machine back as it was saved in `saved`.
  void Restore(const stdfs::path& saved, const stdfs::path& root) {
    stdfs::remove_all(root);
    stdfs::copy(saved, root, stdfs::copy_options::recursive);
  }

  stdfs::path scratch_;
};

TEST_F(SessionFloorTest, LeavesTheRecordsAndFilesOfTheModulesSession) {
  const stdfs::path root = scratch_ / "machine";
  const stdfs::path saved = scratch_ / "saved";
  MachineScale scale;
  scale.payloads = 300;
  scale.domainRecords = 1000;
  ScaledMachine machine;
  std::string error;
  ASSERT_TRUE(PrepareMachine(root.string(), scale, machine, error)) << error;
  const stdfs::path document = Slashed(machine.suite.secondProductDocument);
  const std::string installedDocument = ReadBytes(document);
  // Every measured session starts after an earlier one; then the installer
  // changes "caps.db", lays down the product's document and English
  // settings files, and the product's records, the agreement records and
  // the shared copy of the document do not exist yet. So every write of the
  // session changes a file.
  ASSERT_TRUE(SessionSucceeded(machine, RunModuleSession(machine), error)) << error;
  ASSERT_TRUE(TouchInstallerDatabase(error)) << error;
  std::ofstream(document, std::ios::binary) << installedDocument;
  const stdfs::path settings = Slashed(machine.suite.firstProductFolder);
  for (const char* name : names::kSettingsFiles) {
    std::ofstream(settings / name, std::ios::binary) << "[Language]\nlocale=en_US\n";
  }
  const std::string common = machine.commonFiles + "/" + names::kCommonDataFolder + "/";
  ASSERT_TRUE(Execute(common + Slashed(ConfigurationDatabase()), "DELETE FROM domain_data WHERE subDomain = '" + machine.suite.secondProductCode +
                                            "' AND key IN ('DefaultDriverPayload', 'installedLanguages')"));
  ASSERT_TRUE(Execute(common + Slashed(CacheDatabase()), "DELETE FROM domain_data"));
  const stdfs::path pcf = common + names::kPcfFolder;
  ASSERT_GT(stdfs::remove_all(pcf), 1u);
  stdfs::create_directory(pcf);
  stdfs::copy(root, saved, stdfs::copy_options::recursive);
  const std::map<std::string, std::string> before = EndState(root);

  ASSERT_TRUE(SessionSucceeded(machine, RunModuleSession(machine), error)) << error;
  const std::map<std::string, std::string> module = EndState(root);
  Restore(saved, root);
  ASSERT_TRUE(RunSessionFloor(machine, error)) << error;
  const std::map<std::string, std::string> floor = EndState(root);

  // The module's session writes every file it should (so that the floor's
  // end state being the same says that the floor wrote them as well).
  const std::vector<stdfs::path> written = {
      document, settings / names::kSettingsFile, settings / names::kSettingsFileC,
      common + Slashed(InstallerBackup()), common + Slashed(ConfigurationDatabase()), common + Slashed(CacheDatabase())};
  for (const stdfs::path& file : written) {
    const std::string name = stdfs::relative(file, root).string();
    EXPECT_NE(before.count(name) ? before.at(name) : "", module.count(name) ? module.at(name) : "") << name;
  }
  EXPECT_EQ(module.size(), before.size() + 1) << "the shared copy of the document";
  std::vector<std::string> names;
  for (const auto& [name, seen] : module) names.push_back(name);
  for (const auto& [name, seen] : floor) {
    if (module.count(name) == 0) names.push_back(name);
  }
  for (const std::string& name : names) {
    const auto inModule = module.find(name);
    const auto inFloor = floor.find(name);
    ASSERT_TRUE(inModule != module.end()) << name << " is left by the floor only";
    ASSERT_TRUE(inFloor != floor.end()) << name << " is left by the module only";
    EXPECT_EQ(inModule->second, inFloor->second) << name;
  }
}

}  // namespace
