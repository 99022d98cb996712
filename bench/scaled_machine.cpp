#include "integration/product_folders.h"
#include "scaled_machine.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "fs/files.h"
#include "fs/folders.h"
#include "fs/paths.h"
#include "fs/product_names.h"

namespace names = customhooks::names;

using namespace customhooks::fs;

namespace stdfs = std::filesystem;
using customhooks::pcf::EntryMap;
using customhooks::pcf::FormatDocument;
using customhooks::pcf::SectionMap;

namespace {

// Bumped whenever the layout of a machine changes, so that stale machines
// are rebuilt instead of reused.
constexpr int kGeneratorVersion = 2;

// The sample suite's own payload rows (tools/samplesuite).
constexpr int kSuitePayloads = 7;

struct DatabaseCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;

struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

std::string FormatSize(std::int64_t bytes) {
  if (bytes >= (1 << 20) && bytes % (1 << 20) == 0) return std::to_string(bytes >> 20) + "M";
  if (bytes >= 1024 && bytes % 1024 == 0) return std::to_string(bytes >> 10) + "K";
  return std::to_string(bytes);
}

// The path of a file of the common data folder, as SQLite opens it.
bool CommonDataFile(const std::string& folder, const std::string& file, std::string& path) {
  const std::optional<std::string> common = customhooks::integration::LocateCommonDataFolder();
  std::string dir;
  std::string joined;
  if (!common || !JoinPath(*common, folder, &dir).ok() || !JoinPath(dir, file, &joined).ok()) {
    return false;
  }
  path = NativePath(joined);
  return true;
}

Database OpenDatabase(const std::string& path, std::string& error) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open(path.c_str(), &raw);
  Database db(raw);
  if (rc != SQLITE_OK) {
    error = "cannot open " + path + ": " + sqlite3_errstr(rc);
    return nullptr;
  }
  sqlite3_busy_timeout(db.get(), 2000);
  return db;
}

bool Exec(sqlite3* db, const char* sql, std::string& error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  error = std::string(sql) + ": " + (message ? message : "error");
  sqlite3_free(message);
  return false;
}

Statement Prepare(sqlite3* db, const char* sql, std::string& error) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) {
    error = std::string(sql) + ": " + sqlite3_errmsg(db);
    return nullptr;
  }
  return Statement(raw);
}

void BindText(sqlite3_stmt* statement, int index, const std::string& text) {
  sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

bool StepDone(sqlite3* db, sqlite3_stmt* statement, std::string& error) {
  const int rc = sqlite3_step(statement);
  sqlite3_reset(statement);
  if (rc == SQLITE_DONE) return true;
  error = std::string("insert failed: ") + sqlite3_errmsg(db);
  return false;
}

// Installed payloads that are not the suite's products, all installed (state
// 2) before them, so that a search for a product walks past every one. Every
// 97th carries the first product's name and family with another version.
bool AddFillerPayloads(const ScaledMachine& machine, int count, std::string& error) {
  std::string path;
  if (!CommonDataFile(names::kPayloadsFolder, names::kPayloadsFile, path)) {
    error = "no path for pdb.db";
    return false;
  }
  Database db = OpenDatabase(path, error);
  if (!db || !Exec(db.get(), "BEGIN", error)) return false;
  Statement payload = Prepare(db.get(),
                              "INSERT INTO payloads (PayloadID, productFamily, productName, version, "
                              "installState, installTime) VALUES (?1, ?2, ?3, ?4, 2, ?5)",
                              error);
  Statement data = Prepare(
      db.get(), "INSERT INTO payload_data (PayloadID, domain, key, value) VALUES (?1, 0, ?2, ?3)", error);
  if (!payload || !data) return false;
  static const char* const kFamilies[] = {"Shared", "Suite", "Fonts", "NonOrvikPayload", "Weft"};
  for (int i = 0; i < count; ++i) {
    const std::string code = BenchPayloadCode(1, static_cast<std::uint32_t>(i));
    const bool lookAlike = i % 97 == 0;
    const std::string family = lookAlike ? "Weft" : kFamilies[i % 5];
    const std::string name = lookAlike ? "Orvik Tessel Studio 4.6" : "Orvik Component " + std::to_string(i);
    const std::string version = lookAlike ? "4.5.0" : std::to_string(1 + i % 9) + ".0." + std::to_string(i % 13);
    BindText(payload.get(), 1, code);
    BindText(payload.get(), 2, family);
    BindText(payload.get(), 3, name);
    BindText(payload.get(), 4, version);
    sqlite3_bind_int(payload.get(), 5, 1700000000 + i);
    if (!StepDone(db.get(), payload.get(), error)) return false;

    BindText(data.get(), 1, code);
    BindText(data.get(), 2, names::kConfigPathKey);
    BindText(data.get(), 3, machine.suite.programFiles + "\\Orvik\\Component " + std::to_string(i) +
                                "\\RMT\\application.xml");
    if (!StepDone(db.get(), data.get(), error)) return false;
    BindText(data.get(), 2, names::kMediaSignatureProperty);
    BindText(data.get(), 3, machine.suite.driverCode);
    if (!StepDone(db.get(), data.get(), error)) return false;
  }
  payload.reset();
  data.reset();
  return Exec(db.get(), "COMMIT", error);
}

// Records of other payloads in "pcd.db", four keys per payload.
bool AddDomainRecords(int count, std::string& error) {
  std::string path;
  if (!CommonDataFile(names::kConfigurationFolder, names::kConfigurationFile, path)) {
    error = "no path for pcd.db";
    return false;
  }
  Database db = OpenDatabase(path, error);
  if (!db || !Exec(db.get(), "BEGIN", error)) return false;
  Statement insert = Prepare(db.get(),
                             "INSERT OR REPLACE INTO domain_data (domain, subDomain, key, value) "
                             "VALUES (1, ?1, ?2, ?3)",
                             error);
  if (!insert) return false;
  static const char* const kKeys[] = {names::kConfigPathKey, names::kDefaultDriverPayloadKey, names::kInstallDateKey,
                                      names::kInstalledLanguagesKey};
  for (int i = 0; i < count; ++i) {
    const std::uint32_t owner = static_cast<std::uint32_t>(i / 4);
    BindText(insert.get(), 1, BenchPayloadCode(2, owner));
    BindText(insert.get(), 2, kKeys[i % 4]);
    BindText(insert.get(), 3, "value " + std::to_string(i) + " of payload " + std::to_string(owner));
    if (!StepDone(db.get(), insert.get(), error)) return false;
  }
  insert.reset();
  return Exec(db.get(), "COMMIT", error);
}

// Grows the installer's "caps.db" with random blobs to about `bytes`.
bool GrowCapsDatabase(std::int64_t bytes, std::string& error) {
  std::string path;
  if (!CommonDataFile(names::kPayloadsFolder, names::kInstallerFile, path)) {
    error = "no path for caps.db";
    return false;
  }
  Database db = OpenDatabase(path, error);
  if (!db || !Exec(db.get(), "CREATE TABLE IF NOT EXISTS session_blobs (id INTEGER PRIMARY KEY, data BLOB);"
                             "BEGIN",
                   error)) {
    return false;
  }
  constexpr std::int64_t kBlobBytes = 64 * 1024;
  Statement insert = Prepare(db.get(), "INSERT INTO session_blobs (data) VALUES (randomblob(?1))", error);
  if (!insert) return false;
  std::error_code ec;
  const std::int64_t present = static_cast<std::int64_t>(stdfs::file_size(path, ec));
  for (std::int64_t grown = ec ? 0 : present; grown + kBlobBytes / 2 < bytes; grown += kBlobBytes) {
    sqlite3_bind_int64(insert.get(), 1, std::min(kBlobBytes, bytes - grown));
    if (!StepDone(db.get(), insert.get(), error)) return false;
  }
  insert.reset();
  return Exec(db.get(), "COMMIT", error);
}

std::string StampText(const ScaledMachine& machine) {
  std::ostringstream out;
  out << "generator=" << kGeneratorVersion << "\n"
      << "root=" << machine.root << "\n"
      << "payloads=" << machine.scale.payloads << "\n"
      << "domainRecords=" << machine.scale.domainRecords << "\n"
      << "capsBytes=" << machine.scale.capsBytes << "\n"
      << "documentBytes=" << machine.scale.documentBytes << "\n"
      << "driverCode=" << machine.suite.driverCode << "\n"
      << "firstProductCode=" << machine.suite.firstProductCode << "\n"
      << "secondProductCode=" << machine.suite.secondProductCode << "\n"
      << "licensingCode=" << machine.suite.licensingCode << "\n"
      << "programFiles=" << machine.suite.programFiles << "\n"
      << "firstProductFolder=" << machine.suite.firstProductFolder << "\n"
      << "driverFolder=" << machine.suite.driverFolder << "\n"
      << "secondProductDocument=" << machine.suite.secondProductDocument << "\n";
  return out.str();
}

// Fills the scale and the suite from a stamp written by StampText; false
// when the stamp is incomplete, of another generator, or written for another
// folder (the databases hold absolute paths, so a moved machine is stale).
bool ReadStamp(const std::string& text, ScaledMachine& machine) {
  std::istringstream in(text);
  std::string line;
  bool generator = false;
  bool here = false;
  while (std::getline(in, line)) {
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (key == "generator") generator = value == std::to_string(kGeneratorVersion);
    else if (key == "root") here = value == machine.root;
    else if (key == "payloads") machine.scale.payloads = std::stoi(value);
    else if (key == "domainRecords") machine.scale.domainRecords = std::stoi(value);
    else if (key == "capsBytes") machine.scale.capsBytes = std::stoll(value);
    else if (key == "documentBytes") machine.scale.documentBytes = std::stoll(value);
    else if (key == "driverCode") machine.suite.driverCode = value;
    else if (key == "firstProductCode") machine.suite.firstProductCode = value;
    else if (key == "secondProductCode") machine.suite.secondProductCode = value;
    else if (key == "licensingCode") machine.suite.licensingCode = value;
    else if (key == "programFiles") machine.suite.programFiles = value;
    else if (key == "firstProductFolder") machine.suite.firstProductFolder = value;
    else if (key == "driverFolder") machine.suite.driverFolder = value;
    else if (key == "secondProductDocument") machine.suite.secondProductDocument = value;
  }
  return generator && here && !machine.suite.secondProductDocument.empty();
}

std::string ReadText(const stdfs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool LayOut(ScaledMachine& machine, std::string& error) {
  if (!LayOutSampleSuite(machine.root + "/Program Files", machine.suite)) {
    error = "the sample suite could not be laid out";
    return false;
  }
  if (!AddFillerPayloads(machine, std::max(0, machine.scale.payloads - kSuitePayloads), error) ||
      !AddDomainRecords(machine.scale.domainRecords, error) ||
      !GrowCapsDatabase(machine.scale.capsBytes, error)) {
    return false;
  }
  const SectionMap document = SizedDocumentSections(
      machine.suite.secondProductCode,
      {{names::kLicensingCodeKey, "PXP-10-4471-2093"},
       {"ProductName", "Pelican X Pro"},
       {names::kInstalledLanguagesKey, "en_US"}},
      machine.scale.documentBytes);
  if (!WriteTextFile(machine.suite.secondProductDocument,
                     FormatDocument(machine.suite.secondProductCode, document))) {
    error = "the second product's document could not be written";
    return false;
  }
  return true;
}

}  // namespace

std::string MachineScale::Name() const {
  return "p" + std::to_string(payloads) + "-c" + FormatSize(capsBytes) + "-d" + FormatSize(documentBytes);
}

std::string BenchPayloadCode(std::uint32_t salt, std::uint32_t index) {
  char code[40];
  std::snprintf(code, sizeof code, "{%08X-%04X-4%03X-8%03X-%012X}", index * 2654435761u, salt & 0xFFFF,
                (index >> 12) & 0xFFF, index & 0xFFF, index);
  return code;
}

void UseMachine(const ScaledMachine& machine) {
  const std::string programData = machine.root + "/ProgramData";
  ::setenv("CommonProgramFiles", machine.commonFiles.c_str(), 1);
  ::setenv("CommonProgramFiles(x86)", machine.commonFiles.c_str(), 1);
  ::setenv("ProgramData", programData.c_str(), 1);
}

bool OpenMachine(const std::string& root, ScaledMachine& machine, std::string& error) {
  std::error_code ec;
  const stdfs::path folder = stdfs::absolute(root, ec);
  machine = ScaledMachine();
  machine.root = folder.string();
  machine.commonFiles = (folder / "Common Files").string();
  if (ec || !ReadStamp(ReadText(folder / "machine.stamp"), machine)) {
    error = root + " holds no finished benchmark machine";
    return false;
  }
  UseMachine(machine);
  return true;
}

bool PrepareMachine(const std::string& root, const MachineScale& scale, ScaledMachine& machine,
                    std::string& error) {
  std::error_code ec;
  const stdfs::path folder = stdfs::absolute(root, ec);
  if (ec) {
    error = "bad machine folder " + root;
    return false;
  }
  const stdfs::path stamp = folder / "machine.stamp";
  if (stdfs::exists(stamp, ec)) {
    std::string ignored;
    if (OpenMachine(root, machine, ignored) && machine.scale.Name() == scale.Name() &&
        machine.scale.domainRecords == scale.domainRecords) {
      return true;
    }
    stdfs::remove_all(folder, ec);
  } else if (stdfs::exists(folder, ec) && !stdfs::is_empty(folder, ec)) {
    error = folder.string() + " holds something else than a benchmark machine";
    return false;
  }

  machine = ScaledMachine();
  machine.root = folder.string();
  machine.commonFiles = (folder / "Common Files").string();
  machine.scale = scale;
  stdfs::create_directories(folder / "Common Files", ec);
  stdfs::create_directories(folder / "ProgramData", ec);
  if (ec) {
    error = "cannot create " + machine.root;
    return false;
  }
  UseMachine(machine);
  if (!LayOut(machine, error)) return false;
  std::ofstream(stamp, std::ios::binary) << StampText(machine);
  return true;
}

SectionMap SizedDocumentSections(
    const std::string& payloadCode,
    const std::vector<std::pair<std::string, std::string>>& payloadEntries, std::int64_t bytes) {
  SectionMap sections;
  EntryMap& payload = sections[payloadCode];
  for (const auto& entry : payloadEntries) payload[entry.first] = entry.second;
  std::int64_t size = static_cast<std::int64_t>(FormatDocument(payloadCode, sections).size());

  // Line sizes of the formatted text: a section's head and tail, one entry.
  constexpr std::int64_t kSectionLines = 2 + 22 + 38 + 4 + 11;
  constexpr int kEntriesPerSection = 20;
  std::uint32_t section = 0;
  EntryMap* current = nullptr;
  int inSection = kEntriesPerSection;
  for (int entry = 0; size < bytes; ++entry) {
    if (inSection == kEntriesPerSection) {
      current = &sections[BenchPayloadCode(3, section++)];
      inSection = 0;
      size += kSectionLines;
    }
    char key[32];
    char value[96];
    std::snprintf(key, sizeof key, "setting%05d", entry);
    std::snprintf(value, sizeof value, "value %d of section %u: C:\\Orvik\\Shared & <common> files", entry,
                  section);
    (*current)[key] = value;
    ++inSection;
    // Escaped "&" and "<" add 4 and 3 bytes.
    size += 4 + 11 + static_cast<std::int64_t>(std::strlen(key)) + 2 +
            static_cast<std::int64_t>(std::strlen(value)) + 7 + 7 + 2;
  }
  return sections;
}
