// The product's folder layout.
#include "integration/product_folders.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "fs/files.h"
#include "support/test_machine.h"

namespace customhooks::integration {
namespace {

TEST(ProductFoldersTest, PcfFolderLiesInTheCommonDataFolderWhichIsCreatedWhenMissing) {
  TestMachine machine;
  const std::filesystem::path commonData = std::filesystem::u8path(NativePath(machine.commonData()));
  std::filesystem::remove_all(commonData);
  std::string folder;
  ASSERT_TRUE(LocatePcfFolder(folder));
  EXPECT_EQ(folder, machine.commonData() + "\\PCF");
  EXPECT_TRUE(std::filesystem::is_directory(commonData)) << "the common data folder is created";
  EXPECT_FALSE(std::filesystem::exists(commonData / "PCF")) << "the PCF folder is not";
}

TEST(ProductFoldersTest, DatabaseFoldersLieInTheCommonDataFolderAndAreNotCreated) {
  TestMachine machine;
  const struct {
    DataFolder which;
    const char* relative;
  } kFolders[] = {
      {DataFolder::kConfiguration, "\\Orvik PCD"},
      {DataFolder::kCache, "\\Orvik PCD\\cache"},
      {DataFolder::kPayloads, "\\caps"},
      {DataFolder::kBackup, "\\backup"},
  };
  for (const auto& folder : kFolders) {
    std::string path;
    ASSERT_TRUE(LocateDataFolder(folder.which, path)) << folder.relative;
    EXPECT_EQ(path, machine.commonData() + folder.relative);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::u8path(NativePath(path)))) << path;
  }
}

TEST(ProductFoldersTest, UnknownCommonFilesFolderGivesNoFolder) {
  TestMachine machine;
  SetTestEnv("CommonProgramFiles", nullptr);
  SetTestEnv("CommonProgramFiles(x86)", nullptr);
  std::string path = "untouched";
  if (LocateDataFolder(DataFolder::kConfiguration, path)) GTEST_SKIP() << "the platform's own folders can't be hidden";
  for (const DataFolder which : {DataFolder::kCache, DataFolder::kPayloads, DataFolder::kBackup}) {
    EXPECT_FALSE(LocateDataFolder(which, path));
  }
  EXPECT_FALSE(LocatePcfFolder(path));
  EXPECT_EQ(path, "untouched");
}

}  // namespace
}  // namespace customhooks::integration
