// Where the product keeps its shared files: the one place that knows the
// folder layout. The names of the folders and files are those of
// fs/product_names.h.
//
// The common data folder is names::kCommonDataFolder in a Common Files
// folder. It holds the PCF folder (the shared copies of configuration
// documents), the configuration and cache folders of the two databases, the
// installer's payloads folder and the backup folder. The documents' common
// data folder is the one in the x86 Common Files folder, the databases' the
// one in the Common Files folder (the same folder for a 32-bit process).
#ifndef CUSTOMHOOKS_INTEGRATION_PRODUCT_FOLDERS_H_
#define CUSTOMHOOKS_INTEGRATION_PRODUCT_FOLDERS_H_

#include <optional>
#include <string>

namespace customhooks::integration {

// The PCF folder in the common data folder of the x86 Common Files folder
// (falling back to the Common Files folder); the common data folder is
// created when nothing of that name exists (a file of that name counts as
// present). Nothing when the Common Files folder cannot be determined, the
// common data folder's path has 1024 bytes or more, or it cannot be
// created. Fits pcf::PcfFolderLocator.
std::optional<std::string> LocatePcfFolder();

// The databases' common data folder in the Common Files folder
// (exactly one separator before it), not created. Nothing when the Common
// Files folder cannot be determined.
std::optional<std::string> LocateCommonDataFolder();

// The databases' folders in their common data folder; nothing is created
// here (opening a database creates its folder).
enum class DataFolder {
  kConfiguration,  // names::kConfigurationFolder
  kCache,          // names::kCacheFolder
  kPayloads,       // names::kPayloadsFolder
  kBackup,         // names::kBackupFolder
};

// The folder `which` in `commonData` (as LocateCommonDataFolder gives it):
// a path computation only, so that one lookup serves every folder a caller
// needs. Nothing when the path would be too long.
std::optional<std::string> DataFolderIn(const std::string& commonData, DataFolder which);

}  // namespace customhooks::integration

#endif  // CUSTOMHOOKS_INTEGRATION_PRODUCT_FOLDERS_H_
