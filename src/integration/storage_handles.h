// The product's databases as the integration work opens them: in the
// product's folders (product_folders.h). The stores close themselves when
// destroyed; where the order of closes matters, callers close explicitly
// with reset(). How closing went is not examined: no step of the pass logs
// it or acts on it, each record's own outcome having been logged when it was
// written.
#ifndef CUSTOMHOOKS_INTEGRATION_STORAGE_HANDLES_H_
#define CUSTOMHOOKS_INTEGRATION_STORAGE_HANDLES_H_

#include <memory>
#include <string>

#include "storage/pcd_store.h"
#include "storage/pdb_reader.h"

namespace customhooks::integration {

// The payload database in the product's payload folder. Every close of an
// open one (Close, or destruction) is also the moment the installer's
// "caps.db" is backed up into the product's backup folder.
class PayloadConnection {
 public:
  PayloadConnection() = default;
  ~PayloadConnection() { Close(); }
  PayloadConnection(const PayloadConnection&) = delete;
  PayloadConnection& operator=(const PayloadConnection&) = delete;

  // Closes what is open, then opens. False, nothing open, when the folder
  // cannot be located or the database cannot be opened. Without a backup
  // folder nothing is backed up.
  bool Open();
  // Backs "caps.db" up, then closes; nothing when not open.
  void Close();

  explicit operator bool() const { return database_ != nullptr; }
  storage::PayloadDatabase* operator->() const { return database_.get(); }
  storage::PayloadDatabase& operator*() const { return *database_; }

 private:
  std::unique_ptr<storage::PayloadDatabase> database_;
  std::string folder_;
  std::string backupFolder_;
};

using StoreConnection = std::unique_ptr<storage::DomainStore>;

// OpenConfigurationStore on the product's configuration and cache folders.
// False when the folders cannot be located or opening fails; `pcd` then
// holds whatever store was handed out (a failure of the cache database
// alone leaves the configuration store open).
bool OpenConfigurationDatabase(StoreConnection& pcd);

// The cache database in the product's cache folder. False, `cache` empty,
// when the folder cannot be located or the database cannot be opened.
bool OpenCacheDatabase(StoreConnection& cache);

}  // namespace customhooks::integration

#endif  // CUSTOMHOOKS_INTEGRATION_STORAGE_HANDLES_H_
