#include "integration/product_folders.h"

#include "fs/folders.h"
#include "fs/paths.h"

namespace customhooks::integration {

bool LocatePcfFolder(std::string& folder) {
  char buffer[kPathBufferSize];
  if (EnsureCommonDataFolder(buffer) == nullptr) return false;
  folder = std::string(buffer) + "\\PCF";
  return true;
}

bool LocateDataFolder(DataFolder which, std::string& folder) {
  std::string common;
  if (!GetCommonDataFolder(common)) return false;
  switch (which) {
    case DataFolder::kConfiguration:
      return JoinPath(common, "Orvik PCD", folder);
    case DataFolder::kCache: {
      std::string configuration;
      return JoinPath(common, "Orvik PCD", configuration) && JoinPath(configuration, "cache", folder);
    }
    case DataFolder::kPayloads:
      return JoinPath(common, "caps", folder);
    case DataFolder::kBackup:
      return JoinPath(common, "backup", folder);
  }
  return false;
}

}  // namespace customhooks::integration
