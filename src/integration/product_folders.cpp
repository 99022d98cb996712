#include "integration/product_folders.h"

#include "fs/files.h"
#include "fs/folders.h"
#include "fs/paths.h"
#include "storage/product_names.h"

namespace customhooks::integration {

bool LocatePcfFolder(std::string& folder) {
  std::string commonFiles;
  if (!fs::FindSpecialFolder(fs::SpecialFolder::kCommonFilesX86, commonFiles).ok()) return false;
  const std::string common = commonFiles + "\\" + names::kCommonDataFolder;
  // The shell's path buffers hold the path with its terminator.
  if (common.size() >= fs::kPathBufferSize) return false;
  if (!fs::PathExists(common) && !fs::CreateFolder(common).ok()) return false;
  folder = common + "\\" + names::kPcfFolder;
  return true;
}

bool LocateCommonDataFolder(std::string& folder) {
  std::string common;
  if (!fs::LocateCommonFilesFolder(common).ok()) return false;
  folder = common + "\\" + names::kCommonDataFolder;
  return true;
}

bool DataFolderIn(const std::string& common, DataFolder which, std::string& folder) {
  switch (which) {
    case DataFolder::kConfiguration:
      return fs::JoinPath(common, names::kConfigurationFolder, folder).ok();
    case DataFolder::kCache:
      return fs::JoinPath(common, names::kCacheFolder, folder).ok();
    case DataFolder::kPayloads:
      return fs::JoinPath(common, names::kPayloadsFolder, folder).ok();
    case DataFolder::kBackup:
      return fs::JoinPath(common, names::kBackupFolder, folder).ok();
  }
  return false;
}

}  // namespace customhooks::integration
