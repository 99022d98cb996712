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
#include "support/disk.h"
#include "support/status_test_support.h"
#include "support/test_machine.h"

using namespace customhooks::fs;

namespace {

class FoldersTest : public ::testing::Test {
 protected:
  TestMachine machine_;
};

TEST_F(FoldersTest, SpecialFolderIsAnExistingFolderWithoutTrailingSeparator) {
  std::string folder;
  ASSERT_OK(FindSpecialFolder(SpecialFolder::kCommonFiles, &folder));
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), '\\');
  EXPECT_TRUE(IsDirectory(folder));
  EXPECT_TRUE(IsDirectory(Special(SpecialFolder::kCommonAppData)));
}

TEST_F(FoldersTest, WithoutSeparateX86FolderTheX86LookupGivesCommonFiles) {
  // A 32-bit Windows (Wine's 32-bit prefix) has no separate x86 folder, and
  // under WoW64 both kinds name the x86 one; on POSIX its variable is unset.
  SetTestEnv("CommonProgramFiles(x86)", nullptr);
  EXPECT_EQ(Special(SpecialFolder::kCommonFilesX86), Special(SpecialFolder::kCommonFiles));
}

TEST_F(FoldersTest, CommonFilesFolderIsLocatedWithoutTrailingSeparator) {
  std::string located;
  ASSERT_OK(LocateCommonFilesFolder(&located));
  EXPECT_EQ(NativePath(located), NativePath(Special(SpecialFolder::kCommonFiles)));
}

// ---- Where the special folders come from the environment (POSIX) ----------

TEST_F(FoldersTest, SpecialFoldersFollowTheEnvironmentAtEveryCall) {
  SKIP_WHERE_FOLDERS_ARE_THE_SYSTEMS();
  const std::string other = In(machine_.scratch(), "Other Common");
  SetTestEnv("CommonProgramFiles", other.c_str());
  EXPECT_EQ(Special(SpecialFolder::kCommonFiles), other);
  EXPECT_TRUE(IsDirectory(other));  // created by the lookup, as CSIDL_FLAG_CREATE asks
  const std::string data = In(machine_.scratch(), "Data");
  SetTestEnv("ProgramData", data.c_str());
  EXPECT_EQ(Special(SpecialFolder::kCommonAppData), data);
}

TEST_F(FoldersTest, UnsetVariableIsAFailedLookup) {
  SKIP_WHERE_FOLDERS_ARE_THE_SYSTEMS();
  SetTestEnv("CommonProgramFiles", nullptr);
  std::string out = "unchanged";
  EXPECT_EQ(FindSpecialFolder(SpecialFolder::kCommonFiles, &out), Code::kNotFound);
  // The x86 folder still has its variable.
  EXPECT_OK(FindSpecialFolder(SpecialFolder::kCommonFilesX86, &out));
  out = "unchanged";
  SetTestEnv("CommonProgramFiles(x86)", nullptr);
  EXPECT_EQ(FindSpecialFolder(SpecialFolder::kCommonFilesX86, &out), Code::kNotFound);
  EXPECT_EQ(LocateCommonFilesFolder(&out), Code::kNotFound);
  EXPECT_EQ(out, "unchanged");
  SetTestEnv("ProgramData", "");
  EXPECT_EQ(FindSpecialFolder(SpecialFolder::kCommonAppData, &out), Code::kNotFound);
}

TEST_F(FoldersTest, SeparateX86FolderIsPreferred) {
  SKIP_WHERE_FOLDERS_ARE_THE_SYSTEMS();
  const std::string x86 = In(machine_.scratch(), "Common Files (x86)");
  SetTestEnv("CommonProgramFiles(x86)", x86.c_str());
  EXPECT_EQ(Special(SpecialFolder::kCommonFilesX86), x86);
  EXPECT_NE(Special(SpecialFolder::kCommonFiles), x86);
}

TEST_F(FoldersTest, LocatedCommonFilesFolderLosesItsTrailingSeparatorAndIsNotCreated) {
  SKIP_WHERE_FOLDERS_ARE_THE_SYSTEMS();
  const std::string common = In(machine_.scratch(), "Common\\");
  SetTestEnv("CommonProgramFiles", common.c_str());
  std::string located;
  ASSERT_OK(LocateCommonFilesFolder(&located));
  EXPECT_EQ(located, In(machine_.scratch(), "Common"));
  EXPECT_FALSE(IsDirectory(located));  // named, not created
}

}  // namespace
