#include "integration/product_folders.h"
#include "session_work.h"

#include <sqlite3.h>
#include <tinyxml.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "CustomHooks.h"
#include "fs/files.h"
#include "fs/folders.h"
#include "fs/paths.h"
#include "integration/driver_records.h"
#include "storage/pdb_reader.h"

using namespace customhooks::fs;

namespace {

using customhooks::pcf::PCFEntryMap;
using customhooks::pcf::PCFFormatDocument;
using customhooks::pcf::PCFReadDocument;
using customhooks::pcf::PCFSectionMap;

const char kInstallLanguage[] = "fr_MA";
const char kHeaderFirst[] = "KX6 Suites Custom hook: Orvik Tessel Studio 4.6 :";
const char kHeaderSecond[] = "KX6 Suites Custom hook: Pelican X Pro :";

// The lines of the session in progress (the host's side of the callback).
std::vector<std::string>* g_lines = nullptr;
void KXHOOK_CALL CollectLine(const char* line) { g_lines->emplace_back(line); }

bool HasLine(const std::vector<std::string>& lines, const std::string& wanted) {
  for (const std::string& line : lines) {
    if (line == wanted) return true;
  }
  return false;
}

struct DatabaseCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;

// One compiled statement, reset after every use.
class Query {
 public:
  Query(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr); }
  ~Query() { sqlite3_finalize(statement_); }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  bool ok() const { return statement_ != nullptr; }
  Query& Bind(int index, const std::string& text) {
    sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Query& Bind(int index, int value) {
    sqlite3_bind_int(statement_, index, value);
    return *this;
  }
  // Steps once; on a row copies its first `columns` texts into `out`.
  bool Row(std::string* out = nullptr, int columns = 0) {
    const int rc = sqlite3_step(statement_);
    const bool row = rc == SQLITE_ROW;
    for (int i = 0; row && i < columns; ++i) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, i));
      out[i] = text ? text : "";
    }
    sqlite3_reset(statement_);
    return row || rc == SQLITE_DONE;
  }
  // Steps once and tells whether a row came.
  bool Value(std::string& out) {
    const bool row = sqlite3_step(statement_) == SQLITE_ROW;
    if (row) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, 0));
      out = text ? text : "";
    }
    sqlite3_reset(statement_);
    return row;
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

Database OpenDatabase(const std::string& path, int flags) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(NativePath(path).c_str(), &raw, flags, nullptr);
  Database db(raw);
  if (rc != SQLITE_OK) return nullptr;
  sqlite3_busy_timeout(db.get(), 2000);
  return db;
}

bool Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

std::string Join(const std::string& base, const std::string& part) {
  std::string joined;
  JoinPath(base, part, joined);
  return joined;
}

// The folder that holds a payload's "RMT" folder (as the locale fix-up cuts
// it).
std::string InstallFolderOf(const std::string& documentPath) {
  return documentPath.substr(0, documentPath.find("RMT\\application.xml"));
}

struct ProductRow {
  std::string id;
  std::string signature;
};

// The first installed payload of the product, by install time, that has its
// media signature.
bool FindProduct(sqlite3* pdb, const char* name, const char* family, const char* version, int signatureDomain,
                 ProductRow& row) {
  Query find(pdb,
             "SELECT p.PayloadID, d.value FROM payloads p JOIN payload_data d ON d.PayloadID = p.PayloadID "
             "AND d.domain = ?4 AND d.key = 'mediaSignature' WHERE p.installState = 2 AND p.productName = ?1 "
             "AND p.productFamily = ?2 AND p.version = ?3 ORDER BY p.installTime LIMIT 1");
  std::string found[2];
  if (!find.ok() || !find.Bind(1, name).Bind(2, family).Bind(3, version).Bind(4, signatureDomain).Row(found, 2) ||
      found[0].empty()) {
    return false;
  }
  row.id = found[0];
  row.signature = found[1];
  return true;
}

}  // namespace

SessionOutcome RunModuleSession(const ScaledMachine& machine) {
  SessionOutcome outcome;
  const HookProperty properties[] = {
      {"mediaSignature", reinterpret_cast<std::uintptr_t>(machine.suite.driverCode.c_str())},
      {"installLanguage", reinterpret_cast<std::uintptr_t>(kInstallLanguage)},
      {nullptr, 0},
  };
  g_lines = &outcome.lines;
  outcome.status =
      KXInstallerCustomHookProc(properties, KXHOOK_ENTRY_SESSION_CLOSE, KXHOOK_MODE_INSTALL, 0, &CollectLine);
  g_lines = nullptr;
  return outcome;
}

bool SessionSucceeded(const SessionOutcome& outcome, std::string& error) {
  const std::string prefix = "KX6 Suites Custom hook: ";
  const std::vector<std::string> expected = {
      std::string(kHeaderFirst) + "Orvik Tessel Studio 4.6 is successfully located for the family Weft and version 4.6.1",
      prefix + "Successfully Updated fr_FR in TesselStudioC.ini",
      std::string(kHeaderFirst) + "EULA_LANGUAGE success",
      prefix + "Successfully Updated PCFClientFile and cache.db for Orvik Tessel Studio 4.6",
      std::string(kHeaderSecond) + "Pelican X Pro is successfully located for the family NonOrvikPayload and version 10.0",
      prefix + "and updated the pcd as well with the language(s): !fr_MA,fr_FR",
      std::string(kHeaderSecond) + "EULA_LANGUAGE success",
      prefix + "Successfully Updated PCFClientFile and cache.db for Pelican Professional 10.0",
  };
  if (outcome.status != 0) {
    error = "the session returned " + std::to_string(outcome.status);
    return false;
  }
  for (const std::string& line : expected) {
    if (!HasLine(outcome.lines, line)) {
      error = "the session did not log \"" + line + "\"";
      return false;
    }
  }
  return true;
}

bool RunSessionFloor(const ScaledMachine& machine, std::string& error) {
  const SampleSuite& suite = machine.suite;
  std::string common;
  if (!customhooks::integration::LocateCommonDataFolder(common)) {
    error = "no common data folder";
    return false;
  }
  const std::string caps = Join(common, "caps");
  const std::string store = Join(common, "Orvik PCD");

  // The payload database: the two products and the values the session reads.
  Database pdb = OpenDatabase(Join(caps, "pdb.db"), SQLITE_OPEN_READONLY);
  ProductRow first;
  ProductRow second;
  if (!pdb || !FindProduct(pdb.get(), "Orvik Tessel Studio 4.6", "Weft", "4.6.1", 0, first) ||
      !FindProduct(pdb.get(), "Pelican X Pro", "NonOrvikPayload", "10.0", 5, second)) {
    error = "the floor did not find both products";
    return false;
  }
  Query payloadData(pdb.get(), "SELECT value FROM payload_data WHERE PayloadID = ?1 AND domain = 0 AND key = ?2");
  std::string firstDocument;
  std::string driverDocument;
  std::string sessionId;
  if (!payloadData.Bind(1, first.id).Bind(2, "RMTConfigPath").Value(firstDocument) ||
      !payloadData.Bind(1, suite.driverCode).Bind(2, "RMTConfigPath").Value(driverDocument)) {
    error = "the floor did not find the document paths";
    return false;
  }
  if (second.signature != suite.driverCode) {
    payloadData.Bind(1, second.id).Bind(2, "mostRecentSessionID").Value(sessionId);
  }

  // The configuration database: reads, then the product's two records in one
  // transaction and one flush.
  const std::string pcdPath = Join(store, "pcd.db");
  Database pcd = OpenDatabase(pcdPath, SQLITE_OPEN_READWRITE);
  if (!pcd) {
    error = "the floor cannot open pcd.db";
    return false;
  }
  std::string licensing;
  std::string documentPath;
  std::string defaultDriver;
  std::string installDate;
  std::string driverLanguage;
  {
    Query record(pcd.get(), "SELECT value FROM domain_data WHERE domain = 1 AND subDomain = ?1 AND key = ?2");
    if (!record.Bind(1, suite.driverCode).Bind(2, "LicensingCode").Value(licensing) ||
        !record.Bind(1, second.id).Bind(2, "RMTConfigPath").Value(documentPath) ||
        !record.Bind(1, suite.driverCode).Bind(2, "DefaultDriverPayload").Value(defaultDriver) ||
        !record.Bind(1, suite.driverCode).Bind(2, "InstallDate").Value(installDate) ||
        !record.Bind(1, suite.driverCode).Bind(2, "installedLanguages").Value(driverLanguage)) {
      error = "the floor did not find the driver's records";
      return false;
    }
  }
  const std::string languages = customhooks::integration::LanguageListFor(driverLanguage);
  {
    Query write(pcd.get(), "INSERT OR REPLACE INTO domain_data (domain, subDomain, key, value) VALUES (1, ?1, ?2, ?3)");
    if (!Exec(pcd.get(), "BEGIN") ||
        !write.Bind(1, second.id).Bind(2, "DefaultDriverPayload").Bind(3, suite.driverCode).Row() ||
        !write.Bind(1, second.id).Bind(2, "installedLanguages").Bind(3, languages).Row() ||
        !Exec(pcd.get(), "COMMIT")) {
      error = "the floor cannot write pcd.db";
      return false;
    }
  }
  FlushFileToDisk(pcdPath);

  // The cache database: both agreement records in one transaction and one
  // flush.
  const std::string cachePath = Join(Join(store, "cache"), "cache.db");
  Database cache = OpenDatabase(cachePath, SQLITE_OPEN_READWRITE);
  {
    Query write(cache.get(), "INSERT OR REPLACE INTO domain_data (domain, subDomain, key, value) VALUES (1, ?1, ?2, ?3)");
    if (!cache || !Exec(cache.get(), "BEGIN") ||
        !write.Bind(1, licensing).Bind(2, "EULA_ACCEPTED").Bind(3, "1").Row() ||
        !write.Bind(1, licensing).Bind(2, "EULA_LANGUAGE").Bind(3, kInstallLanguage).Row() ||
        !Exec(cache.get(), "COMMIT")) {
      error = "the floor cannot write cache.db";
      return false;
    }
  }
  FlushFileToDisk(cachePath);

  // The file copies: the two settings files and the installer database's
  // backup.
  for (const char* name : {"TesselStudio.ini", "TesselStudioC.ini"}) {
    if (!CopyFileOver(InstallFolderOf(driverDocument) + "TesselStudio_fr_MA\\" + name,
                      InstallFolderOf(firstDocument) + name).ok()) {
      error = std::string("the floor cannot copy ") + name;
      return false;
    }
  }
  if (!CopyFileOver(Join(caps, "caps.db"), Join(Join(common, "backup"), "caps.db"), CopiedAttributes::kNormal).ok()) {
    error = "the floor cannot back up caps.db";
    return false;
  }

  // The second product's document: read, four values set, written durably
  // to the shared copy and to its own path.
  PCFSectionMap sections;
  std::string payloadCode;
  if (!PCFReadDocument(documentPath.c_str(), &sections, &payloadCode).ok()) {
    error = "the floor cannot read " + documentPath;
    return false;
  }
  PCFEntryMap& entries = sections[second.id];
  entries["RMTConfigPath"] = documentPath;
  entries["DefaultDriverPayload"] = defaultDriver;
  entries["InstallDate"] = installDate;
  entries["installedLanguages"] = languages;
  const std::string text = PCFFormatDocument(payloadCode, sections);
  const std::string shared =
      Join(Join(common, "PCF"), payloadCode + "." + entries["LicensingCode"] + ".xml");
  if (!WriteFileDurably(shared, text).ok() || !WriteFileDurably(documentPath, text).ok()) {
    error = "the floor cannot write the document";
    return false;
  }
  return true;
}

bool TouchInstallerDatabase(std::string& error) {
  std::string common;
  if (!customhooks::integration::LocateCommonDataFolder(common)) {
    error = "no common data folder";
    return false;
  }
  Database caps = OpenDatabase(Join(Join(common, "caps"), "caps.db"), SQLITE_OPEN_READWRITE);
  if (!caps || !Exec(caps.get(),
                     "INSERT OR REPLACE INTO install_log (id, entry) "
                     "VALUES (1, 'payload 0 installed at ' || strftime('%Y-%m-%d %H:%M:%f', 'now'))")) {
    error = "cannot write caps.db";
    return false;
  }
  return true;
}

std::string ModulePayloadSearch(customhooks::storage::PayloadDatabase& pdb) {
  namespace storage = customhooks::storage;
  // As the pass searches: the list and the reads in one snapshot.
  storage::Transaction snapshot = pdb.BeginRead();
  storage::TextList ids;
  if (!pdb.PayloadIDs(2, &ids).ok()) return std::string();
  storage::PayloadRecord record;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (!pdb.ReadPayload(ids[i], &record).ok()) continue;
    if (record.productName == "Pelican X Pro" && record.productFamily == "NonOrvikPayload" &&
        record.version == "10.0") {
      return record.payloadID;
    }
  }
  return std::string();
}

FloorPayloadSearch::FloorPayloadSearch() {
  std::string common;
  if (!customhooks::integration::LocateCommonDataFolder(common)) return;
  db_ = OpenDatabase(Join(Join(common, "caps"), "pdb.db"), SQLITE_OPEN_READONLY).release();
}

FloorPayloadSearch::~FloorPayloadSearch() { sqlite3_close(db_); }

std::string FloorPayloadSearch::Run() {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db_,
                         "SELECT PayloadID, productFamily, productName, version FROM payloads "
                         "WHERE installState = 2 ORDER BY installTime",
                         -1, &statement, nullptr) != SQLITE_OK) {
    return std::string();
  }
  auto text = [statement](int column) {
    const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return value ? value : "";
  };
  std::string found;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    if (std::strcmp(text(2), "Pelican X Pro") == 0 && std::strcmp(text(1), "NonOrvikPayload") == 0 &&
        std::strcmp(text(3), "10.0") == 0) {
      found = text(0);
      break;
    }
  }
  sqlite3_finalize(statement);
  return found;
}

long long ModuleReadAndFormat(const std::string& path) {
  PCFSectionMap sections;
  std::string payloadCode;
  if (!PCFReadDocument(path.c_str(), &sections, &payloadCode).ok()) return -1;
  return static_cast<long long>(PCFFormatDocument(payloadCode, sections).size());
}

long long TinyXmlLoad(const std::string& path) {
  TiXmlDocument document;
  if (!document.LoadFile(NativePath(path).c_str())) return -1;
  return document.RootElement() != nullptr ? 1 : 0;
}
