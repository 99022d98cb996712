// Folder access lists, checked through the rendering of the list that
// GrantFolderAccess applies (Wine keeps no access lists).
#include "fs/access.h"

#include <string>

#include <gtest/gtest.h>

#include "fs/files.h"
#include "support/disk.h"
#include "support/folder_access_text.h"
#include "support/status_test_support.h"
#include "support/test_machine.h"

using namespace customhooks::fs;

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
  GrantFolderAccess(missing, true);
  EXPECT_FALSE(PathExists(missing));
  GrantFolderAccess("", false);
}

TEST(GrantFolderAccess, FolderStaysUsableForItsOwner) {
  TestMachine machine;
  const std::string folder = In(machine.scratch(), "Orvik PCD");
  ASSERT_OK(EnsureFolder(folder));
  ASSERT_TRUE(WriteWholeFile(In(folder, "pcd.db"), "db"));
  for (bool allowWrite : {false, true}) {
    GrantFolderAccess(folder, allowWrite);
    EXPECT_EQ(ReadWholeFile(In(folder, "pcd.db")), "db");
    EXPECT_OK(WriteFileDurably(In(folder, "pcd.db"), "db"));
    EXPECT_TRUE(WriteWholeFile(In(folder, "new.db"), "new"));
    EXPECT_OK(RemoveFile(In(folder, "new.db")));
  }
}

// Given a GrantsOnce, a folder is granted the first time it is asked for
// with each `allowWrite`, and left as it is after.
TEST(GrantFolderAccess, OnceGrantsEachFolderAndWriteAccessOnce) {
  TestMachine machine;
  const std::string first = In(machine.scratch(), "first");
  const std::string second = In(machine.scratch(), "second");
  ASSERT_OK(EnsureFolder(first));
  ASSERT_OK(EnsureFolder(second));
  GrantsOnce once;
  const struct {
    const std::string& folder;
    bool allowWrite;
    bool tried;
  } kCalls[] = {{first, false, true}, {first, false, false}, {second, false, true}, {first, true, true}, {first, true, false}};
  for (const auto& call : kCalls) EXPECT_EQ(GrantFolderAccess(call.folder, call.allowWrite, &once), call.tried);
  EXPECT_TRUE(GrantFolderAccess(first, false));
}

}  // namespace
