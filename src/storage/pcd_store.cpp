#include "storage/pcd_store.h"

#include <memory>
#include <new>
#include <string>

#include "fs/folders.h"
#include "fs/paths.h"
#include "storage/database_connection.h"
#include "storage/schema_steps.h"
#include "storage/storage_status.h"

using customhooks::fs::GetCommonDataFolder;
using customhooks::fs::JoinPath;

struct PCDHandle {
  PCDHandle(const std::string& folder, const char* fileName, SchemaStepTable steps,
            bool allowWrite)
      : connection(folder, fileName, steps, allowWrite, kStoreSchemaVersion, true) {}

  static constexpr int kStoreSchemaVersion = 2;
  DatabaseConnection connection;
};

namespace {

// The folder of "pcd.db" and the folder of "cache.db" inside it.
bool StoreFolders(std::string& storeFolder, std::string& cacheFolder) {
  std::string common;
  return GetCommonDataFolder(common) && JoinPath(common, "Orvik PCD", storeFolder).ok() &&
         JoinPath(storeFolder, "cache", cacheFolder).ok();
}

int OpenStore(PCDHandle** out, bool cache) {
  *out = nullptr;
  try {
    std::string storeFolder;
    std::string cacheFolder;
    if (!StoreFolders(storeFolder, cacheFolder)) return kStorageUnusable;
    // The cache folder is shared for writing by every user; the
    // configuration folder only for reading.
    std::unique_ptr<PCDHandle> handle(
        cache ? new (std::nothrow) PCDHandle(cacheFolder, "cache.db", kCacheSchemaSteps, true)
              : new (std::nothrow)
                    PCDHandle(storeFolder, "pcd.db", kConfigurationSchemaSteps, false));
    if (!handle) return kStorageUnusable;
    const int state = handle->connection.state();
    if (state != kStorageOk) return state;
    *out = handle.release();
    return kStorageOk;
  } catch (const std::bad_alloc&) {
    return kStorageUnusable;
  }
}

}  // namespace

int PCDOpen(PCDHandle** out) {
  if (out == nullptr) return kStorageInvalidArgument;
  const int opened = OpenStore(out, false);
  if (opened != kStorageOk) return opened;
  PCDHandle* cache = nullptr;
  const int prepared = PCDOpenCache(&cache);
  if (prepared != kStorageOk) return prepared;
  return PCDClose(cache);
}

int PCDOpenCache(PCDHandle** out) {
  if (out == nullptr) return kStorageInvalidArgument;
  return OpenStore(out, true);
}

int PCDGetDomain(PCDHandle* handle, int domain, const char* subdomain, const char* key,
                 char** value) {
  if (handle == nullptr || subdomain == nullptr || key == nullptr || value == nullptr) {
    return kStorageInvalidArgument;
  }
  return handle->connection.QueryValue(
      value, "SELECT value FROM domain_data WHERE domain = %d AND subdomain = '%q' AND key = '%q'",
      domain, subdomain, key);
}

int PCDSetDomain(PCDHandle* handle, int domain, const char* subdomain, const char* key,
                 const char* value) {
  if (value == nullptr) return PCDDeleteDomain(handle, domain, subdomain, key);
  if (handle == nullptr || subdomain == nullptr || key == nullptr) return kStorageInvalidArgument;
  return handle->connection.Execute(
      "INSERT OR REPLACE INTO domain_data (domain, subdomain, key, value) VALUES (%d, '%q', '%q', "
      "'%q')",
      domain, subdomain, key, value);
}

int PCDDeleteDomain(PCDHandle* handle, int domain, const char* subdomain, const char* key) {
  if (handle == nullptr || subdomain == nullptr || key == nullptr) return kStorageInvalidArgument;
  return handle->connection.Execute(
      "DELETE FROM domain_data WHERE domain = %d AND subdomain = '%q' AND key = '%q'", domain,
      subdomain, key);
}

int PCDCommit(PCDHandle* handle) {
  if (handle == nullptr) return kStorageInvalidArgument;
  return handle->connection.Commit();
}

int PCDRollback(PCDHandle* handle) {
  if (handle == nullptr) return kStorageInvalidArgument;
  return handle->connection.Rollback();
}

int PCDClose(PCDHandle* handle) {
  if (handle == nullptr) return kStorageInvalidArgument;
  std::unique_ptr<PCDHandle> owned(handle);
  const int committed = PCDCommit(handle);
  const int closed = owned->connection.Close();
  // Closing discards a transaction whose commit failed: that loss must not
  // be reported as success.
  return closed != kStorageOk ? closed : committed;
}
