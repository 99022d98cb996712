#include "samplesuite/sample_machine.h"

#include <sqlite3.h>

#include <memory>
#include <optional>

#include "fs/files.h"
#include "fs/paths.h"
#include "fs/folders.h"
#include "integration/product_folders.h"
#include "integration/storage_handles.h"
#include "pcf/pcf_document.h"
#include "storage/pcd_store.h"
#include "storage/pdb_reader.h"
#include "fs/product_names.h"

using customhooks::fs::EnsureFolder;
using customhooks::fs::ParentPath;
using customhooks::fs::IsRegularFile;
using customhooks::fs::JoinPath;
using customhooks::fs::NativePath;
using customhooks::fs::WriteFileDurably;

namespace {

namespace integration = customhooks::integration;
namespace storage = customhooks::storage;
namespace names = customhooks::names;

struct SqliteCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Database = std::unique_ptr<sqlite3, SqliteCloser>;

struct SqlTextFree {
  void operator()(char* text) const { sqlite3_free(text); }
};
using SqlText = std::unique_ptr<char, SqlTextFree>;

// `file` in the database folder `folder` of the machine's common data folder.
bool CommonDataPath(integration::DataFolder folder, const char* file, std::string& path) {
  const std::optional<std::string> common = integration::LocateCommonDataFolder();
  const std::optional<std::string> dir = common ? integration::DataFolderIn(*common, folder) : std::nullopt;
  return dir && JoinPath(*dir, file, &path).ok();
}

}  // namespace

SampleDatabase::SampleDatabase(Which which) {
  std::string path;
  const bool payloads = which == Which::kPayloads;
  if (!CommonDataPath(payloads ? integration::DataFolder::kPayloads : integration::DataFolder::kConfiguration,
                      payloads ? names::kPayloadsFile : names::kConfigurationFile, path)) {
    return;
  }
  if (!IsRegularFile(path)) {
    if (!payloads) return;
    // Created with the module's own schema.
    // Opening created the file with its schema; closing adds nothing to it.
    integration::SessionDatabases databases;
    integration::PayloadConnection pdb(databases);
    if (!pdb.Open()) return;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open(NativePath(path).c_str(), &db) != SQLITE_OK ||
      sqlite3_exec(db, "PRAGMA synchronous = OFF; PRAGMA journal_mode = MEMORY; BEGIN", nullptr, nullptr,
                   nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return;
  }
  sqlite3_busy_timeout(db, 2000);
  db_ = db;
}

SampleDatabase::~SampleDatabase() { sqlite3_close(db_); }

bool SampleDatabase::Run(char* sql) {
  const SqlText owned(sql);
  return db_ != nullptr && owned && sqlite3_exec(db_, owned.get(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool SampleDatabase::AddPayload(const SamplePayload& p) {
  SqlText time(p.installTime ? sqlite3_mprintf("%d", *p.installTime) : sqlite3_mprintf("NULL"));
  return Run(sqlite3_mprintf(
      "INSERT INTO payloads (PayloadID, productFamily, productName, version, installState, "
      "installTime) VALUES (%Q, %Q, %Q, %Q, %d, %s)",
      p.id.c_str(), p.family.c_str(), p.name.c_str(), p.version.c_str(), p.installState,
      time ? time.get() : "NULL"));
}

bool SampleDatabase::SetPayloadData(const std::string& payloadId, int domain, const std::string& key,
                                    const std::string& value) {
  return Run(sqlite3_mprintf(
      "INSERT OR REPLACE INTO payload_data (PayloadID, domain, key, value) VALUES (%Q, %d, %Q, %Q)",
      payloadId.c_str(), domain, key.c_str(), value.c_str()));
}

bool SampleDatabase::SetConfigRecord(const std::string& subdomain, const std::string& key,
                                     const std::string& value) {
  return Run(sqlite3_mprintf(
      "INSERT OR REPLACE INTO domain_data (domain, subdomain, key, value) VALUES (%d, %Q, %Q, %Q)",
      names::kConfigDomain, subdomain.c_str(), key.c_str(), value.c_str()));
}

bool SampleDatabase::DeleteConfigRecord(const std::string& subdomain, const std::string& key) {
  return Run(sqlite3_mprintf("DELETE FROM domain_data WHERE domain = %d AND subdomain = %Q AND key = %Q",
                             names::kConfigDomain, subdomain.c_str(), key.c_str()));
}

bool SampleDatabase::Commit() {
  return db_ != nullptr && sqlite3_exec(db_, "COMMIT; BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool AddPayloads(const std::vector<SamplePayload>& payloads) {
  SampleDatabase db(SampleDatabase::Which::kPayloads);
  for (const SamplePayload& p : payloads) {
    if (!db.AddPayload(p)) return false;
  }
  return db.Commit();
}

bool SetPayloadData(const std::string& payloadId, int domain, const std::string& key,
                    const std::string& value) {
  SampleDatabase db(SampleDatabase::Which::kPayloads);
  return db.SetPayloadData(payloadId, domain, key, value) && db.Commit();
}

bool SetConfigRecord(const std::string& subdomain, const std::string& key, const std::string& value,
                     bool cache) {
  integration::SessionDatabases databases;
  integration::StoreConnection store;
  const bool opened = cache ? integration::OpenCacheDatabase(databases, &store)
                            : integration::OpenConfigurationDatabase(databases, &store);
  if (!store) return false;
  const bool stored = opened && store->Set(names::kConfigDomain, subdomain, key, value).ok();
  return store->Close().ok() && stored;
}

bool DeleteConfigRecord(const std::string& subdomain, const std::string& key) {
  integration::SessionDatabases databases;
  integration::StoreConnection store;
  const bool opened = integration::OpenConfigurationDatabase(databases, &store);
  if (!store) return false;
  const bool deleted = opened && store->Delete(names::kConfigDomain, subdomain, key).ok();
  return store->Close().ok() && deleted;
}

bool WriteCapsDatabase(int rows) {
  std::string path;
  if (!CommonDataPath(integration::DataFolder::kPayloads, names::kInstallerFile, path) || !EnsureFolder(ParentPath(path)).ok()) {
    return false;
  }
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open(NativePath(path).c_str(), &raw);
  Database db(raw);
  if (rc != SQLITE_OK) return false;
  if (sqlite3_exec(db.get(),
                   "CREATE TABLE IF NOT EXISTS install_log (id INTEGER PRIMARY KEY, entry TEXT);"
                   "BEGIN;",
                   nullptr, nullptr, nullptr) != SQLITE_OK) {
    return false;
  }
  for (int i = 0; i < rows; ++i) {
    SqlText sql(sqlite3_mprintf("INSERT INTO install_log (entry) VALUES ('payload %d installed')", i));
    if (!sql || sqlite3_exec(db.get(), sql.get(), nullptr, nullptr, nullptr) != SQLITE_OK) return false;
  }
  return sqlite3_exec(db.get(), "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool WriteConfigurationDocument(const std::string& path, const std::string& payloadCode,
                                const std::vector<std::pair<std::string, std::string>>& entries) {
  customhooks::pcf::SectionMap sections;
  customhooks::pcf::EntryMap& payload = sections[payloadCode];
  for (const auto& entry : entries) payload[entry.first] = entry.second;
  return WriteTextFile(path, customhooks::pcf::FormatDocument(payloadCode, sections));
}

bool WriteTextFile(const std::string& path, const std::string& text) {
  return EnsureFolder(ParentPath(path)).ok() && WriteFileDurably(path, text).ok();
}

bool LayOutSampleSuite(const std::string& programFiles, SampleSuite& suite) {
  suite.driverCode = "{9A3E4F2B-7C1D-4E8A-B5F6-0D2C8E1A7B34}";
  suite.firstProductCode = "{3C5B1E7A-2F4D-4A9B-8C6E-1D7F0A2B5C93}";
  suite.secondProductCode = "{E1F2A3B4-C5D6-4E7F-8A9B-0C1D2E3F4A5B}";
  suite.licensingCode = "1118-1570-5417-0023-9937-4461";
  suite.programFiles = programFiles;
  suite.driverFolder = programFiles + "\\Orvik\\Creative Suite 6\\";
  suite.firstProductFolder = programFiles + "\\Orvik\\Tessel Studio 4.6\\";
  const std::string secondFolder = programFiles + "\\Pelican\\Pelican X Pro\\";
  suite.secondProductDocument = secondFolder + "RMT\\application.xml";
  const std::string otherSession = "{5D4C3B2A-1F0E-4D9C-8B7A-6F5E4D3C2B1A}";

  const std::vector<SamplePayload> payloads = {
      {suite.driverCode, "Suite", "Orvik Creative Suite 6 Design", "6.0", 2, 1765100000},
      {"{0B1C2D3E-4F50-4617-8293-A4B5C6D7E8F9}", "Weft", "Orvik Tessel Studio 4.6", "4.6.1", 0,
       1765090000},
      {"{7A8B9C0D-1E2F-4A3B-9C4D-5E6F7A8B9C0D}", "Shared", "Orvik Color Profiles", "2.0", 2,
       1765100100},
      {"{1F2E3D4C-5B6A-4978-8695-A4B3C2D1E0F9}", "Shared", "Orvik Fonts", "6.0", 1, 1765100150},
      {suite.firstProductCode, "Weft", "Orvik Tessel Studio 4.6", "4.6.1", 2, 1765100200},
      {"{C0FFEE00-1234-4321-ABCD-00000000BEEF}", "Shared", "Orvik Help", "6.0", 3, 1765100250},
      {suite.secondProductCode, "NonOrvikPayload", "Pelican X Pro", "10.0", 2, 1765100300},
  };
  const std::string driverDocument = suite.driverFolder + "RMT\\application.xml";
  const std::string firstDocument = suite.firstProductFolder + "RMT\\application.xml";
  const std::string localeFolder = suite.driverFolder + names::kFrenchMoroccoSettingsFolder + "\\";

  return AddPayloads(payloads) &&
         SetPayloadData(suite.driverCode, names::kPayloadDataDomain, names::kConfigPathKey, driverDocument) &&
         SetPayloadData(suite.firstProductCode, names::kPayloadDataDomain, names::kMediaSignatureProperty, suite.driverCode) &&
         SetPayloadData(suite.firstProductCode, names::kPayloadDataDomain, names::kConfigPathKey, firstDocument) &&
         SetPayloadData(suite.secondProductCode, names::kSecondProductDataDomain, names::kMediaSignatureProperty, otherSession) &&
         SetPayloadData(suite.secondProductCode, names::kPayloadDataDomain, names::kMostRecentSessionKey, suite.driverCode) &&
         SetConfigRecord(suite.driverCode, names::kLicensingCodeKey, suite.licensingCode) &&
         SetConfigRecord(suite.driverCode, names::kDefaultDriverPayloadKey, suite.driverCode) &&
         SetConfigRecord(suite.driverCode, names::kInstallDateKey, "2026-12-07 09:30:00") &&
         SetConfigRecord(suite.driverCode, names::kInstalledLanguagesKey, "fr_MA") &&
         SetConfigRecord(suite.secondProductCode, names::kConfigPathKey, suite.secondProductDocument) &&
         WriteCapsDatabase(50) &&
         WriteConfigurationDocument(suite.secondProductDocument, suite.secondProductCode,
                                    {{names::kLicensingCodeKey, "PXP-10-4471-2093"},
                                     {"ProductName", "Pelican X Pro"},
                                     {names::kInstalledLanguagesKey, "en_US"}}) &&
         WriteConfigurationDocument(firstDocument, suite.firstProductCode,
                                    {{"ProductName", "Orvik Tessel Studio 4.6"}}) &&
         WriteTextFile(suite.firstProductFolder + names::kSettingsFile,
                       "[Locale]\r\nlanguage=en_US\r\nunits=inches\r\n") &&
         WriteTextFile(suite.firstProductFolder + names::kSettingsFileC,
                       "[Locale]\r\nlanguage=en_US\r\npaper=Letter\r\n") &&
         WriteTextFile(localeFolder + names::kSettingsFile,
                       "[Locale]\r\nlanguage=fr_FR\r\nunits=centimetres\r\n") &&
         WriteTextFile(localeFolder + names::kSettingsFileC,
                       "[Locale]\r\nlanguage=fr_FR\r\npaper=A4\r\n");
}
