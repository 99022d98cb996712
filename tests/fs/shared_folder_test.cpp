// The decisions taken on what the platform reports of a handle opened in a
// folder that others can write. Reparse points (junctions, mount points,
// symbolic links seen as themselves) can't be planted under Wine, so the
// facts a Windows handle gives for them are checked here on every target.
#include <string>

#include <gtest/gtest.h>

#include "fs/platform.h"

using namespace customhooks::fs;

namespace {

using platform::OpenedFacts;

const OpenedFacts kFolder = {false, false, 1, 7, u"\\\\?\\C:\\Orvik\\Orvik PCD\\cache"};
const std::u16string kInFolder = u"\\\\?\\C:\\Orvik\\Orvik PCD\\cache\\cache.db";

TEST(SharedFolderDecisions, FileOpenedInTheFolder) {
  const struct {
    const char* what;
    OpenedFacts file;
    bool own;
  } kCases[] = {
      {"a file of its own", {true, false, 1, 7, kInFolder}, true},
      {"the same name in other letter case", {true, false, 1, 7, u"\\\\?\\C:\\ORVIK\\Orvik PCD\\CACHE\\Cache.DB"}, true},
      {"a symbolic link opened as itself", {true, true, 1, 7, kInFolder}, false},
      {"a junction opened as itself", {false, true, 1, 7, kInFolder}, false},
      {"a folder", {false, false, 1, 7, kInFolder}, false},
      {"a file with a second name", {true, false, 2, 7, kInFolder}, false},
      {"a file on another volume", {true, false, 1, 8, kInFolder}, false},
      {"a link followed to a file elsewhere", {true, false, 1, 7, u"\\\\?\\C:\\Windows\\System32\\config\\SAM"}, false},
      {"a mount point on the way", {true, false, 1, 7, u"\\\\?\\C:\\Orvik\\Orvik PCD\\cache\\x\\cache.db"}, false},
      {"another name in the folder", {true, false, 1, 7, u"\\\\?\\C:\\Orvik\\Orvik PCD\\cache\\cache.db-journal"}, false},
      {"no final path", {true, false, 1, 7, u""}, false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(platform::IsOwnFile(c.file, kFolder, u"cache.db"), c.own) << c.what;
  }
}

// On POSIX the file is opened relative to the folder's own descriptor: its
// place needs no final path, the rest is decided the same way.
TEST(SharedFolderDecisions, FileOpenedRelativeToTheFolder) {
  const OpenedFacts folder = {false, false, 2, 7, u""};
  EXPECT_TRUE(platform::IsOwnFile({true, false, 1, 7, u""}, folder, u""));
  EXPECT_FALSE(platform::IsOwnFile({true, false, 3, 7, u""}, folder, u""));
  EXPECT_FALSE(platform::IsOwnFile({true, true, 1, 7, u""}, folder, u""));
  EXPECT_FALSE(platform::IsOwnFile({true, false, 1, 9, u""}, folder, u""));
}

TEST(SharedFolderDecisions, CheckedFolder) {
  EXPECT_TRUE(platform::IsOwnFolder(kFolder));
  EXPECT_FALSE(platform::IsOwnFolder({false, true, 1, 7, kInFolder})) << "a junction or mount point";
  EXPECT_FALSE(platform::IsOwnFolder({true, false, 1, 7, kInFolder})) << "a file";
}

}  // namespace
