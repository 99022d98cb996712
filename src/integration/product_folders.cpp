#include "integration/product_folders.h"

#include "fs/files.h"
#include "fs/folders.h"
#include "fs/paths.h"
#include "fs/product_names.h"

namespace customhooks::integration {

std::optional<std::string> LocatePcfFolder() {
  std::string commonFiles;
  if (!fs::FindSpecialFolder(fs::SpecialFolder::kCommonFilesX86, &commonFiles).ok()) return std::nullopt;
  const std::string common = commonFiles + "\\" + names::kCommonDataFolder;
  // The shell's path buffers hold the path with its terminator.
  if (common.size() >= fs::kPathBufferSize) return std::nullopt;
  // Created where nothing of that name stands; anything there counts as
  // present.
  const Status made = fs::CreateFolder(common);
  if (!made.ok() && made != fs::Code::kExists) return std::nullopt;
  return common + "\\" + names::kPcfFolder;
}

std::optional<std::string> LocateCommonDataFolder() {
  std::string common;
  if (!fs::LocateCommonFilesFolder(&common).ok()) return std::nullopt;
  return common + "\\" + names::kCommonDataFolder;
}

std::optional<std::string> DataFolderIn(const std::string& common, DataFolder which) {
  const char* name = nullptr;
  switch (which) {
    case DataFolder::kConfiguration: name = names::kConfigurationFolder; break;
    case DataFolder::kCache: name = names::kCacheFolder; break;
    case DataFolder::kPayloads: name = names::kPayloadsFolder; break;
    case DataFolder::kBackup: name = names::kBackupFolder; break;
  }
  std::string folder;
  if (name == nullptr || !fs::JoinPath(common, name, &folder).ok()) return std::nullopt;
  return folder;
}

}  // namespace customhooks::integration
