#include "storage/pcd_store.h"

#include <memory>
#include <string>

#include "storage/database_connection.h"
#include "fs/product_names.h"
#include "storage/schema_steps.h"
#include "storage/storage_status.h"

namespace customhooks::storage {

namespace {

const char kGetSql[] = "SELECT value FROM domain_data WHERE domain = ?1 AND subdomain = ?2 AND key = ?3";
const char kSetSql[] =
    "INSERT OR REPLACE INTO domain_data (domain, subdomain, key, value) VALUES (?1, ?2, ?3, ?4)";
const char kSetIfChangedSql[] =
    "INSERT OR REPLACE INTO domain_data (domain, subdomain, key, value) SELECT ?1, ?2, ?3, ?4 WHERE NOT EXISTS "
    "(SELECT 1 FROM domain_data WHERE domain = ?1 AND subdomain = ?2 AND key = ?3 AND value IS ?4)";
const char kDeleteSql[] = "DELETE FROM domain_data WHERE domain = ?1 AND subdomain = ?2 AND key = ?3";

const char* FileNameOf(DomainFile file) { return file == DomainFile::kCache ? names::kCacheFile : names::kConfigurationFile; }

// The schema version both databases are brought to.
constexpr int kStoreSchemaVersion = 2;

// Every user can write the cache's folder.
DatabaseOptions OptionsOf(DomainFile file, const Shortcuts& shortcuts) {
  DatabaseOptions options;
  options.steps = file == DomainFile::kCache ? kCacheSchemaSteps : kConfigurationSchemaSteps;
  options.targetVersion = kStoreSchemaVersion;
  options.applySteps = true;
  options.folderOthersCanWrite = file == DomainFile::kCache;
  options.keptConnection = shortcuts.keptConnections;
  options.grantsOnce = shortcuts.grantsOnce;
  return options;
}

}  // namespace

DomainStore::DomainStore(DomainFile file, const std::string& folder, const Shortcuts& shortcuts)
    : connection_(folder, FileNameOf(file), OptionsOf(file, shortcuts)) {}

Status DomainStore::Get(int domain, std::string_view subdomain, std::string_view key, std::string* value) {
  return connection_.QueryText(kGetSql, {domain, subdomain, key}, value);
}

Status DomainStore::Set(int domain, std::string_view subdomain, std::string_view key, std::string_view value) {
  return connection_.Execute(kSetSql, {domain, subdomain, key, value});
}

Status DomainStore::SetIfChanged(int domain, std::string_view subdomain, std::string_view key,
                                 std::string_view value) {
  return connection_.Execute(kSetIfChangedSql, {domain, subdomain, key, value});
}

Status DomainStore::Delete(int domain, std::string_view subdomain, std::string_view key) {
  return connection_.Execute(kDeleteSql, {domain, subdomain, key});
}

Status OpenDomainStore(DomainFile file, const std::string& folder, std::unique_ptr<DomainStore>* out,
                       const Shortcuts& shortcuts) {
  return OpenOrReopen(out, &DomainStore::connection_, folder, FileNameOf(file), shortcuts,
                      [&] { return std::make_unique<DomainStore>(file, folder, shortcuts); });
}

Status OpenConfigurationStore(const std::string& folder, const std::string& cacheFolder,
                              std::unique_ptr<DomainStore>* out, std::unique_ptr<DomainStore>* cache,
                              const Shortcuts& shortcuts) {
  Status opened = OpenDomainStore(DomainFile::kConfiguration, folder, out, shortcuts);
  if (!opened.ok()) return opened;
  std::unique_ptr<DomainStore> ownCache;
  if (cache == nullptr) cache = &ownCache;
  return OpenDomainStore(DomainFile::kCache, cacheFolder, cache, shortcuts);
}

}  // namespace customhooks::storage
