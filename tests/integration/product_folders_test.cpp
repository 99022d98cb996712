// The product's folder layout.
#include "integration/product_folders.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "fs/files.h"
#include "fs/folders.h"
#include "fs/product_names.h"
#include "support/disk.h"
#include "support/test_machine.h"

namespace customhooks::integration {
namespace {

std::string X86CommonFiles() {
  std::string folder;
  return fs::FindSpecialFolder(fs::SpecialFolder::kCommonFilesX86, &folder).ok() ? folder : std::string();
}

TEST(ProductFoldersTest, PcfFolderLiesInTheCommonDataFolderWhichIsCreatedWhenMissing) {
  TestMachine machine;
  const std::filesystem::path commonData = OnDisk(machine.commonData());
  std::filesystem::remove_all(commonData);
  EXPECT_EQ(LocatePcfFolder(), machine.commonData() + "\\" + names::kPcfFolder);
  EXPECT_TRUE(std::filesystem::is_directory(commonData)) << "the common data folder is created";
  EXPECT_FALSE(std::filesystem::exists(commonData / names::kPcfFolder)) << "the PCF folder is not";
}

TEST(ProductFoldersTest, DatabaseFoldersLieInTheCommonDataFolderAndAreNotCreated) {
  TestMachine machine;
  const struct {
    DataFolder which;
    const char* relative;
  } kFolders[] = {
      {DataFolder::kConfiguration, names::kConfigurationFolder},
      {DataFolder::kCache, names::kCacheFolder},
      {DataFolder::kPayloads, names::kPayloadsFolder},
      {DataFolder::kBackup, names::kBackupFolder},
  };
  const std::optional<std::string> common = LocateCommonDataFolder();
  ASSERT_TRUE(common);
  for (const auto& folder : kFolders) {
    const std::optional<std::string> path = DataFolderIn(*common, folder.which);
    ASSERT_TRUE(path) << folder.relative;
    EXPECT_EQ(*path, machine.commonData() + "\\" + folder.relative);
    EXPECT_FALSE(std::filesystem::exists(OnDisk(*path))) << *path;
  }
}

TEST(ProductFoldersTest, UnknownCommonFilesFolderGivesNoFolder) {
  SKIP_WHERE_FOLDERS_ARE_THE_SYSTEMS();
  TestMachine machine;
  SetTestEnv("CommonProgramFiles", nullptr);
  SetTestEnv("CommonProgramFiles(x86)", nullptr);
  EXPECT_EQ(LocateCommonDataFolder(), std::nullopt);
  EXPECT_EQ(LocatePcfFolder(), std::nullopt);
}

TEST(ProductFoldersTest, DocumentsAndDatabasesShareOneCommonDataFolder) {
  // A 32-bit process sees one Common Files folder under both names.
  TestMachine machine;
  const std::optional<std::string> common = LocateCommonDataFolder();
  ASSERT_TRUE(common);
  EXPECT_EQ(LocatePcfFolder(), *common + "\\PCF");
  EXPECT_EQ(fs::NativePath(*common), fs::NativePath(machine.commonData()));
}

TEST(ProductFoldersTest, AFileInPlaceOfTheCommonDataFolderCountsAsPresent) {
  TestMachine machine;
  std::filesystem::remove_all(OnDisk(machine.commonData()));
  ASSERT_TRUE(WriteWholeFile(machine.commonData(), "not a folder"));
  EXPECT_TRUE(LocatePcfFolder());
  EXPECT_TRUE(IsFileOnDisk(machine.commonData()));
}

TEST(ProductFoldersTest, PcfFolderPrefersASeparateX86Folder) {
  SKIP_WHERE_FOLDERS_ARE_THE_SYSTEMS();
  TestMachine machine;
  const std::string x86 = machine.scratch() + "\\Common Files (x86)";
  SetTestEnv("CommonProgramFiles(x86)", x86.c_str());
  EXPECT_EQ(LocatePcfFolder(), x86 + "\\" + names::kCommonDataFolder + "\\" + names::kPcfFolder);
  EXPECT_TRUE(IsFolderOnDisk(In(x86, names::kCommonDataFolder)));
  EXPECT_EQ(LocateCommonDataFolder(), machine.commonData()) << "the databases stay in the Common Files folder";
}

TEST(ProductFoldersTest, CommonDataFolderOfTheDocumentsMustFitThePathBuffer) {
  SKIP_WHERE_FOLDERS_ARE_THE_SYSTEMS();
  TestMachine machine;
  // "\\Orvik" after 1017 bytes ends at byte 1023: it fits with its
  // terminator; after 1018 bytes it does not.
  for (std::size_t length : {1017u, 1018u}) {
    std::string common = machine.scratch() + "\\" + std::to_string(length);
    while (common.size() + 201 < length) common += "\\" + std::string(200, 'd');
    common += "\\" + std::string(length - common.size() - 1, 'e');
    ASSERT_EQ(common.size(), length);
    SetTestEnv("CommonProgramFiles(x86)", common.c_str());
    ASSERT_EQ(X86CommonFiles(), common);
    if (length == 1017u) {
      EXPECT_EQ(LocatePcfFolder(), common + "\\" + names::kCommonDataFolder + "\\" + names::kPcfFolder);
    } else {
      EXPECT_EQ(LocatePcfFolder(), std::nullopt);
    }
  }
}

}  // namespace
}  // namespace customhooks::integration
