// Where the product keeps its shared files: the one place that knows the
// folder layout.
//
// The common data folder is "Orvik" in a Common Files folder. It holds "PCF"
// (the shared copies of configuration documents), "Orvik PCD" (the
// configuration database, with the cache database in its folder "cache"),
// "caps" (the installer's payload database) and "backup".
#ifndef CUSTOMHOOKS_INTEGRATION_PRODUCT_FOLDERS_H_
#define CUSTOMHOOKS_INTEGRATION_PRODUCT_FOLDERS_H_

#include <string>

// The PCF folder: "PCF" in the common data folder of the x86 Common Files
// folder, whose "Orvik" folder is created when nothing of that name exists.
// False, `folder` untouched, when the Common Files folder cannot be
// determined or "Orvik" cannot be created. Fits pcf::PcfFolderLocator.
bool LocatePcfFolder(std::string& folder);

#endif  // CUSTOMHOOKS_INTEGRATION_PRODUCT_FOLDERS_H_
