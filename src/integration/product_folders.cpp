#include "integration/product_folders.h"

#include "fs/files.h"
#include "fs/folders.h"
#include "fs/paths.h"

namespace customhooks::integration {
namespace {

const char kCommonDataFolder[] = "\\Orvik";

}  // namespace

bool LocatePcfFolder(std::string& folder) {
  std::string commonFiles;
  if (!fs::FindSpecialFolder(fs::SpecialFolder::kCommonFilesX86, commonFiles).ok()) return false;
  const std::string common = commonFiles + kCommonDataFolder;
  // The shell's path buffers hold the path with its terminator.
  if (common.size() >= fs::kPathBufferSize) return false;
  if (!fs::PathExists(common) && !fs::CreateFolder(common).ok()) return false;
  folder = common + "\\PCF";
  return true;
}

bool LocateCommonDataFolder(std::string& folder) {
  std::string common;
  if (!fs::LocateCommonFilesFolder(common).ok()) return false;
  folder = common + kCommonDataFolder;
  return true;
}

bool DataFolderIn(const std::string& common, DataFolder which, std::string& folder) {
  switch (which) {
    case DataFolder::kConfiguration:
      return fs::JoinPath(common, "Orvik PCD", folder).ok();
    case DataFolder::kCache: {
      std::string configuration;
      return fs::JoinPath(common, "Orvik PCD", configuration).ok() &&
             fs::JoinPath(configuration, "cache", folder).ok();
    }
    case DataFolder::kPayloads:
      return fs::JoinPath(common, "caps", folder).ok();
    case DataFolder::kBackup:
      return fs::JoinPath(common, "backup", folder).ok();
  }
  return false;
}

}  // namespace customhooks::integration
