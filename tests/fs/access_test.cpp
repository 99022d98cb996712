// Folder access lists, checked through the rendering of the list that
// GrantFolderAccess applies (Wine keeps no access lists).
#include "fs/access.h"

#include <string>

#include <gtest/gtest.h>

#include "fs/files.h"
#include "fs_test_util.h"
#include "support/test_machine.h"

namespace {

TEST(DescribeFolderAccess, ReadOnlyForEveryone) {
  EXPECT_EQ(DescribeFolderAccess(false), "D:P(A;OICI;GA;;;BA)(A;OICI;GR;;;WD)");
}

TEST(DescribeFolderAccess, ReadWriteDeleteChildForEveryone) {
  // GENERIC_READ | GENERIC_WRITE | FILE_DELETE_CHILD (0xC0000040).
  EXPECT_EQ(DescribeFolderAccess(true), "D:P(A;OICI;GA;;;BA)(A;OICI;GRGWDT;;;WD)");
}

TEST(GrantFolderAccess, MissingFolderChangesNothing) {
  TestMachine machine;
  const std::string missing = In(machine.scratch(), "missing");
  EXPECT_EQ(GrantFolderAccess(missing, true), 0);
  EXPECT_FALSE(FileExists(missing));
  EXPECT_EQ(GrantFolderAccess("", false), 0);
}

TEST(GrantFolderAccess, FolderStaysUsableForItsOwner) {
  TestMachine machine;
  const std::string folder = In(machine.scratch(), "Orvik PCD");
  ASSERT_EQ(EnsureDirectoryPath(folder), 0);
  ASSERT_TRUE(WriteWholeFile(In(folder, "pcd.db"), "db"));
  for (bool allowWrite : {false, true}) {
    EXPECT_EQ(GrantFolderAccess(folder, allowWrite), 0);
    EXPECT_EQ(ReadWholeFile(In(folder, "pcd.db")), "db");
    EXPECT_EQ(WriteFileDurably(In(folder, "pcd.db"), "db"), WriteResult::kWritten);
    EXPECT_TRUE(WriteWholeFile(In(folder, "new.db"), "new"));
    EXPECT_TRUE(DeleteFileUtf8(In(folder, "new.db")));
  }
}

}  // namespace
