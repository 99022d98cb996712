// The product's folder layout.
#include "integration/product_folders.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "fs/files.h"
#include "support/test_machine.h"

namespace {

TEST(ProductFoldersTest, PcfFolderLiesInTheCommonDataFolderWhichIsCreatedWhenMissing) {
  TestMachine machine;
  const std::filesystem::path commonData = std::filesystem::u8path(customhooks::fs::NativePath(machine.commonData()));
  std::filesystem::remove_all(commonData);
  std::string folder;
  ASSERT_TRUE(LocatePcfFolder(folder));
  EXPECT_EQ(folder, machine.commonData() + "\\PCF");
  EXPECT_TRUE(std::filesystem::is_directory(commonData)) << "the common data folder is created";
  EXPECT_FALSE(std::filesystem::exists(commonData / "PCF")) << "the PCF folder is not";
}

}  // namespace
