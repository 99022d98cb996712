// Special folders and the common data folder. On POSIX the special folders
// come from the environment the test machine sets; on Windows they are the
// machine's own, so some tests only hold where the environment rules.
#include "fs/folders.h"

#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "fs/files.h"
#include "fs_test_util.h"
#include "support/test_machine.h"

using namespace customhooks::fs;

namespace {

class FoldersTest : public ::testing::Test {
 protected:
  TestMachine machine_;
};

TEST_F(FoldersTest, SpecialFolderIsZeroPaddedAndWithoutTrailingSeparator) {
  char buffer[kPathBufferSize];
  std::memset(buffer, 'x', sizeof buffer);
  ASSERT_EQ(GetSpecialFolderPath(buffer, kFolderCommonFiles), buffer);
  const std::size_t length = std::strlen(buffer);
  ASSERT_GT(length, 0u);
  EXPECT_NE(buffer[length - 1], '\\');
  for (std::size_t i = length; i < sizeof buffer; ++i) ASSERT_EQ(buffer[i], '\0') << i;
  EXPECT_TRUE(IsDirectory(buffer));
  EXPECT_TRUE(IsDirectory(Special(kFolderCommonAppData)));
  EXPECT_EQ(Special(3), Special(kFolderCommonFiles));
}

TEST_F(FoldersTest, WithoutSeparateX86FolderKindZeroGivesCommonFiles) {
  // A 32-bit Windows (Wine's 32-bit prefix) has no separate x86 folder, and
  // under WoW64 both kinds name the x86 one; on POSIX its variable is unset.
  SetTestEnv("CommonProgramFiles(x86)", nullptr);
  EXPECT_EQ(Special(kFolderCommonFilesX86), Special(kFolderCommonFiles));
  EXPECT_EQ(Special(77), Special(kFolderCommonFiles));
}

TEST_F(FoldersTest, CommonFilesFolderIsLocatedWithoutTrailingSeparator) {
  std::string located;
  ASSERT_TRUE(LocateCommonFilesFolder(located));
  EXPECT_EQ(NativePath(located), NativePath(Special(kFolderCommonFiles)));
}

// ---- Where the special folders come from the environment (POSIX) ----------

TEST_F(FoldersTest, SpecialFoldersFollowTheEnvironmentAtEveryCall) {
  SKIP_WHERE_FOLDERS_ARE_THE_SYSTEMS();
  const std::string other = In(machine_.scratch(), "Other Common");
  SetTestEnv("CommonProgramFiles", other.c_str());
  EXPECT_EQ(Special(kFolderCommonFiles), other);
  EXPECT_TRUE(IsDirectory(other));  // created by the lookup, as CSIDL_FLAG_CREATE asks
  const std::string data = In(machine_.scratch(), "Data");
  SetTestEnv("ProgramData", data.c_str());
  EXPECT_EQ(Special(kFolderCommonAppData), data);
}

TEST_F(FoldersTest, UnsetVariableIsAFailedLookup) {
  SKIP_WHERE_FOLDERS_ARE_THE_SYSTEMS();
  SetTestEnv("CommonProgramFiles", nullptr);
  char buffer[kPathBufferSize];
  EXPECT_EQ(GetSpecialFolderPath(buffer, kFolderCommonFiles), nullptr);
  // The x86 folder still has its variable.
  EXPECT_EQ(GetSpecialFolderPath(buffer, kFolderCommonFilesX86), buffer);
  SetTestEnv("CommonProgramFiles(x86)", nullptr);
  EXPECT_EQ(GetSpecialFolderPath(buffer, kFolderCommonFilesX86), nullptr);
  std::string out = "unchanged";
  EXPECT_FALSE(LocateCommonFilesFolder(out));
  EXPECT_EQ(out, "unchanged");
  SetTestEnv("ProgramData", "");
  EXPECT_EQ(GetSpecialFolderPath(buffer, kFolderCommonAppData), nullptr);
}

TEST_F(FoldersTest, SeparateX86FolderIsPreferred) {
  SKIP_WHERE_FOLDERS_ARE_THE_SYSTEMS();
  const std::string x86 = In(machine_.scratch(), "Common Files (x86)");
  SetTestEnv("CommonProgramFiles(x86)", x86.c_str());
  EXPECT_EQ(Special(kFolderCommonFilesX86), x86);
  EXPECT_NE(Special(kFolderCommonFiles), x86);
}

TEST_F(FoldersTest, LocatedCommonFilesFolderLosesItsTrailingSeparatorAndIsNotCreated) {
  SKIP_WHERE_FOLDERS_ARE_THE_SYSTEMS();
  const std::string common = In(machine_.scratch(), "Common\\");
  SetTestEnv("CommonProgramFiles", common.c_str());
  std::string located;
  ASSERT_TRUE(LocateCommonFilesFolder(located));
  EXPECT_EQ(located, In(machine_.scratch(), "Common"));
  EXPECT_FALSE(IsDirectory(located));  // named, not created
}

}  // namespace
