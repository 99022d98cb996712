#include "integration/storage_handles.h"

#include <string>

#include "integration/product_folders.h"

namespace customhooks::integration {

bool OpenPayloadDatabase(PdbConnection& pdb) {
  pdb.reset();
  std::string folder;
  std::string backupFolder;
  if (!LocateDataFolder(DataFolder::kPayloads, folder)) return false;
  static_cast<void>(LocateDataFolder(DataFolder::kBackup, backupFolder));
  storage::pdbHandle* raw = nullptr;
  const Status opened = storage::pdbOpen(folder, backupFolder, &raw);
  pdb.reset(raw);
  return opened.ok();
}

bool OpenConfigurationDatabase(PcdConnection& pcd) {
  pcd.reset();
  std::string folder;
  std::string cacheFolder;
  if (!LocateDataFolder(DataFolder::kConfiguration, folder) || !LocateDataFolder(DataFolder::kCache, cacheFolder)) {
    return false;
  }
  storage::PCDHandle* raw = nullptr;
  const Status opened = storage::PCDOpen(folder, cacheFolder, &raw);
  pcd.reset(raw);
  return opened.ok();
}

bool OpenCacheDatabase(PcdConnection& cache) {
  cache.reset();
  std::string folder;
  if (!LocateDataFolder(DataFolder::kCache, folder)) return false;
  storage::PCDHandle* raw = nullptr;
  const Status opened = storage::PCDOpenCache(folder, &raw);
  cache.reset(raw);
  return opened.ok();
}

}  // namespace customhooks::integration
