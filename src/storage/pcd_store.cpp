#include "storage/pcd_store.h"

#include <memory>
#include <string>

#include "storage/database_connection.h"
#include "storage/schema_steps.h"
#include "storage/storage_status.h"

namespace customhooks::storage {

struct PCDHandle {
  PCDHandle(const std::string& folder, const char* fileName, SchemaStepTable steps,
            bool allowWrite)
      : connection(folder, fileName, steps, allowWrite, kStoreSchemaVersion, true) {}

  static constexpr int kStoreSchemaVersion = 2;
  DatabaseConnection connection;
};

namespace {

Status OpenStore(const std::string& folder, bool cache, PCDHandle** out) {
  *out = nullptr;
  // An empty folder would put the file wherever the process happens to run.
  if (folder.empty()) return Status(Code::kInvalidArgument, cache ? "cache.db" : "pcd.db");
  return StatusUnlessOutOfMemory(Code::kNoMemory, [&folder, out, cache] {
    // The cache folder is shared for writing by every user; the
    // configuration folder only for reading.
    auto handle = cache ? std::make_unique<PCDHandle>(folder, "cache.db", kCacheSchemaSteps, true)
                        : std::make_unique<PCDHandle>(folder, "pcd.db", kConfigurationSchemaSteps, false);
    if (!handle->connection.state().ok()) return handle->connection.state();
    *out = handle.release();
    return Status();
  });
}

}  // namespace

Status PCDOpen(const std::string& folder, const std::string& cacheFolder, PCDHandle** out) {
  if (out == nullptr) return Status(Code::kInvalidArgument);
  Status opened = OpenStore(folder, false, out);
  if (!opened.ok()) return opened;
  PCDHandle* cache = nullptr;
  Status prepared = PCDOpenCache(cacheFolder, &cache);
  if (!prepared.ok()) return prepared;
  return PCDClose(cache);
}

Status PCDOpenCache(const std::string& cacheFolder, PCDHandle** out) {
  if (out == nullptr) return Status(Code::kInvalidArgument);
  return OpenStore(cacheFolder, true, out);
}

Status PCDGetDomain(PCDHandle* handle, int domain, const char* subdomain, const char* key,
                    char** value) {
  if (handle == nullptr || subdomain == nullptr || key == nullptr || value == nullptr) {
    return Status(Code::kInvalidArgument);
  }
  return handle->connection.QueryValue(
      value, "SELECT value FROM domain_data WHERE domain = %d AND subdomain = '%q' AND key = '%q'",
      domain, subdomain, key);
}

Status PCDSetDomain(PCDHandle* handle, int domain, const char* subdomain, const char* key,
                    const char* value) {
  if (value == nullptr) return PCDDeleteDomain(handle, domain, subdomain, key);
  if (handle == nullptr || subdomain == nullptr || key == nullptr) return Status(Code::kInvalidArgument);
  return handle->connection.Execute(
      "INSERT OR REPLACE INTO domain_data (domain, subdomain, key, value) VALUES (%d, '%q', '%q', "
      "'%q')",
      domain, subdomain, key, value);
}

Status PCDDeleteDomain(PCDHandle* handle, int domain, const char* subdomain, const char* key) {
  if (handle == nullptr || subdomain == nullptr || key == nullptr) return Status(Code::kInvalidArgument);
  return handle->connection.Execute(
      "DELETE FROM domain_data WHERE domain = %d AND subdomain = '%q' AND key = '%q'", domain,
      subdomain, key);
}

Status PCDCommit(PCDHandle* handle) {
  if (handle == nullptr) return Status(Code::kInvalidArgument);
  return handle->connection.Commit();
}

Status PCDRollback(PCDHandle* handle) {
  if (handle == nullptr) return Status(Code::kInvalidArgument);
  return handle->connection.Rollback();
}

Status PCDClose(PCDHandle* handle) {
  if (handle == nullptr) return Status(Code::kInvalidArgument);
  std::unique_ptr<PCDHandle> owned(handle);
  Status committed = PCDCommit(handle);
  Status closed = owned->connection.Close();
  // Closing discards a transaction whose commit failed: that loss must not
  // be reported as success.
  return closed.ok() ? committed : closed;
}

}  // namespace customhooks::storage
