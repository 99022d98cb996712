// Where the product keeps its shared files: the one place that knows the
// folder layout.
//
// The common data folder is "Orvik" in a Common Files folder. It holds "PCF"
// (the shared copies of configuration documents), "Orvik PCD" (the
// configuration database, with the cache database in its folder "cache"),
// "caps" (the installer's payload database) and "backup". The documents'
// common data folder is the one in the x86 Common Files folder, the
// databases' the one in the Common Files folder (the same folder for a
// 32-bit process).
#ifndef CUSTOMHOOKS_INTEGRATION_PRODUCT_FOLDERS_H_
#define CUSTOMHOOKS_INTEGRATION_PRODUCT_FOLDERS_H_

#include <string>

namespace customhooks::integration {

// The PCF folder: "PCF" in the common data folder of the x86 Common Files
// folder (falling back to the Common Files folder), whose "Orvik" folder is
// created when nothing of that name exists (a file of that name counts as
// present). False, `folder` untouched, when the Common Files folder cannot
// be determined, the common data folder's path has 1024 bytes or more, or
// "Orvik" cannot be created. Fits pcf::PcfFolderLocator.
bool LocatePcfFolder(std::string& folder);

// The databases' common data folder: "Orvik" in the Common Files folder
// (exactly one separator before it), not created. False, `folder`
// untouched, when the Common Files folder cannot be determined.
bool LocateCommonDataFolder(std::string& folder);

// The databases' folders in their common data folder; nothing is created
// here (opening a database creates its folder).
enum class DataFolder {
  kConfiguration,  // "Orvik PCD": pcd.db
  kCache,          // "Orvik PCD\cache": cache.db
  kPayloads,       // "caps": pdb.db and the installer's caps.db
  kBackup,         // "backup": the copy of caps.db
};

// The folder `which` in `commonData` (as LocateCommonDataFolder gives it):
// a path computation only, so that one lookup serves every folder a caller
// needs. False, `folder` untouched, when the path would be too long.
bool DataFolderIn(const std::string& commonData, DataFolder which, std::string& folder);

}  // namespace customhooks::integration

#endif  // CUSTOMHOOKS_INTEGRATION_PRODUCT_FOLDERS_H_
