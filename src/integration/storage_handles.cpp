#include "integration/storage_handles.h"

#include <string>

#include "integration/product_folders.h"

namespace customhooks::integration {

bool PayloadConnection::Open() {
  Close();
  backupFolder_.clear();
  std::string common;
  if (!LocateCommonDataFolder(common) || !DataFolderIn(common, DataFolder::kPayloads, folder_)) return false;
  static_cast<void>(DataFolderIn(common, DataFolder::kBackup, backupFolder_));
  return storage::OpenPayloadDatabase(folder_, &database_).ok();
}

void PayloadConnection::Close() {
  if (!database_) return;
  // Problems of the backup are no part of the pass's outcome.
  static_cast<void>(storage::BackUpInstallerDatabase(folder_, backupFolder_));
  database_.reset();
}

bool OpenConfigurationDatabase(StoreConnection& pcd) {
  pcd.reset();
  std::string common;
  std::string folder;
  std::string cacheFolder;
  if (!LocateCommonDataFolder(common) || !DataFolderIn(common, DataFolder::kConfiguration, folder) ||
      !DataFolderIn(common, DataFolder::kCache, cacheFolder)) {
    return false;
  }
  return storage::OpenConfigurationStore(folder, cacheFolder, &pcd).ok();
}

bool OpenCacheDatabase(StoreConnection& cache) {
  cache.reset();
  std::string common;
  std::string folder;
  if (!LocateCommonDataFolder(common) || !DataFolderIn(common, DataFolder::kCache, folder)) return false;
  return storage::OpenDomainStore(storage::DomainFile::kCache, folder, &cache).ok();
}

}  // namespace customhooks::integration
