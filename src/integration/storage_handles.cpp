#include "integration/storage_handles.h"

#include <optional>
#include <string>
#include <utility>

#include "integration/product_folders.h"

namespace customhooks::integration {

SessionDatabases::SessionDatabases(const PassShortcuts& shortcuts) {
  shortcuts_.keptConnections = shortcuts.keptConnections;
  shortcuts_.rememberedAnswers = shortcuts.rememberedAnswers;
  shortcuts_.oneScanSearch = shortcuts.oneScanSearch;
  if (shortcuts.grantsOnce) shortcuts_.grantsOnce = &grants_;
  if (shortcuts.backupRecord) backup_.emplace();
}

bool PayloadConnection::Open() {
  Close();
  backupFolder_.clear();
  const std::optional<std::string> common = LocateCommonDataFolder();
  std::optional<std::string> payloads = common ? DataFolderIn(*common, DataFolder::kPayloads) : std::nullopt;
  if (!payloads) return false;
  folder_ = std::move(*payloads);
  backupFolder_ = DataFolderIn(*common, DataFolder::kBackup).value_or(std::string());
  // A second handle of the pass shares the first one's connection where
  // that connection is kept.
  auto* shared = databases_.shortcuts_.keptConnections ? databases_.payloads_.InUse() : nullptr;
  if (const std::optional<Status> reopened = shared ? shared->database->ReopenShared(folder_) : std::nullopt) {
    if (!reopened->ok()) return false;
    ++shared->users;
    database_ = shared;
    return true;
  }
  auto& entry = databases_.payloads_.Take();
  if (!storage::OpenPayloadDatabase(folder_, &entry.database, databases_.shortcuts_).ok()) {
    entry.users = 0;
    return false;
  }
  database_ = &entry;
  return true;
}

void PayloadConnection::Close() {
  if (database_ == nullptr) return;
  // Problems of the backup are no part of the pass's outcome.
  static_cast<void>(storage::BackUpInstallerDatabase(folder_, backupFolder_,
                                                      databases_.backup_ ? &*databases_.backup_ : nullptr));
  database_->database->Settle();
  --database_->users;
  database_ = nullptr;
}

StoreConnection& StoreConnection::operator=(StoreConnection&& other) noexcept {
  if (this != &other) {
    reset();
    entry_ = other.entry_;
    other.entry_ = nullptr;
  }
  return *this;
}

void StoreConnection::reset() {
  if (entry_ == nullptr) return;
  entry_->database->Settle();
  entry_->users = 0;
  entry_ = nullptr;
}

void StoreConnection::Hold(Entry& entry) {
  if (entry.database) {
    entry_ = &entry;
  } else {
    entry.users = 0;
  }
}

bool OpenConfigurationDatabase(SessionDatabases& databases, StoreConnection* pcd) {
  pcd->reset();
  const std::optional<std::string> common = LocateCommonDataFolder();
  if (!common) return false;
  const std::optional<std::string> folder = DataFolderIn(*common, DataFolder::kConfiguration);
  const std::optional<std::string> cacheFolder = DataFolderIn(*common, DataFolder::kCache);
  if (!folder || !cacheFolder) return false;
  auto& configuration = databases.configuration_.Take();
  auto& cache = databases.cache_.Take();
  const bool opened =
      storage::OpenConfigurationStore(*folder, *cacheFolder, &configuration.database, &cache.database,
                                     databases.shortcuts_)
          .ok();
  cache.users = 0;
  pcd->Hold(configuration);
  return opened;
}

bool OpenCacheDatabase(SessionDatabases& databases, StoreConnection* cache) {
  cache->reset();
  const std::optional<std::string> common = LocateCommonDataFolder();
  const std::optional<std::string> folder = common ? DataFolderIn(*common, DataFolder::kCache) : std::nullopt;
  if (!folder) return false;
  auto& entry = databases.cache_.Take();
  // A refused open leaves the entry empty, and Hold gives it back.
  const bool opened = storage::OpenDomainStore(storage::DomainFile::kCache, *folder, &entry.database, databases.shortcuts_).ok();
  cache->Hold(entry);
  return opened;
}

}  // namespace customhooks::integration
