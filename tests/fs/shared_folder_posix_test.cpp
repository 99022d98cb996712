// A folder that others can write, on POSIX: what a plain user may plant there
// (symbolic links, dangling or not, hard links, links in sub-folders) is
// never followed by the access walk nor by the checked open, even while a
// second process keeps swapping the planted names.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "fs/access.h"
#include "fs/env.h"
#include "fs/files.h"
#include "fs/shared_folder.h"
#include "fs/text.h"
#include "support/disk.h"
#include "support/status_test_support.h"
#include "support/test_machine.h"

using namespace customhooks::fs;

namespace {

std::string Native(const std::string& path) { return NativePath(path); }

struct stat Status(const std::string& path) {
  struct stat info = {};
  EXPECT_EQ(::lstat(Native(path).c_str(), &info), 0) << path;
  return info;
}

// A machine with "shared" (others may write) beside "private" (root only),
// which holds a root-only file and a root-only folder.
class SharedFolderTest : public ::testing::Test {
 protected:
  SharedFolderTest()
      : shared_(In(machine_.scratch(), "shared")),
        private_(In(machine_.scratch(), "private")),
        secret_(In(private_, "secret.db")),
        secretFolder_(In(private_, "inner")) {
    EXPECT_OK(EnsureFolder(shared_));
    EXPECT_OK(EnsureFolder(secretFolder_));
    EXPECT_TRUE(WriteWholeFile(secret_, "root only"));
    ::chmod(Native(secret_).c_str(), 0600);
    ::chmod(Native(secretFolder_).c_str(), 0700);
    ::chmod(Native(private_).c_str(), 0700);
  }

  // Plants `name` in the shared folder as a symbolic link to `target`.
  void SymbolicLink(const std::string& target, const std::string& name) {
    ASSERT_EQ(::symlink(Native(target).c_str(), Native(In(shared_, name)).c_str()), 0);
  }
  void HardLink(const std::string& target, const std::string& name) {
    ASSERT_EQ(::link(Native(target).c_str(), Native(In(shared_, name)).c_str()), 0);
  }

  // The secret file and folder exactly as they were.
  void ExpectSecretsUntouched() {
    EXPECT_EQ(ReadWholeFile(secret_), "root only");
    EXPECT_EQ(Status(secret_).st_mode & 07777, 0600u);
    EXPECT_EQ(Status(secretFolder_).st_mode & 07777, 0700u);
    EXPECT_EQ(Status(private_).st_mode & 07777, 0700u);
    EXPECT_FALSE(ExistsOnDisk(In(secretFolder_, "created")));
  }

  TestMachine machine_;
  std::string shared_;
  std::string private_;
  std::string secret_;
  std::string secretFolder_;
};

TEST_F(SharedFolderTest, GrantNeverFollowsPlantedLinks) {
  EXPECT_OK(EnsureFolder(In(shared_, "sub")));
  SymbolicLink(secret_, "file-link");
  SymbolicLink(secretFolder_, "folder-link");
  SymbolicLink(In(secretFolder_, "created"), "dangling");
  HardLink(secret_, "hard");
  ASSERT_EQ(::symlink(Native(secret_).c_str(), Native(In(In(shared_, "sub"), "deep-link")).c_str()), 0);
  ASSERT_EQ(::link(Native(secret_).c_str(), Native(In(In(shared_, "sub"), "deep-hard")).c_str()), 0);
  for (bool allowWrite : {true, false}) {
    GrantFolderAccess(shared_, allowWrite);
    ExpectSecretsUntouched();
  }
  // The folder itself and what it really holds were granted.
  EXPECT_EQ(Status(shared_).st_mode & 0007, 05u);
  EXPECT_EQ(Status(In(shared_, "sub")).st_mode & 0007, 05u);
}

TEST_F(SharedFolderTest, GrantOnALinkChangesNothing) {
  const std::string link = In(machine_.scratch(), "link-to-private");
  ASSERT_EQ(::symlink(Native(private_).c_str(), Native(link).c_str()), 0);
  GrantFolderAccess(link, true);
  ExpectSecretsUntouched();
}

// As on Windows, where a folder whose list was set explicitly is protected
// and takes nothing from a grant on its parent.
TEST_F(SharedFolderTest, FolderGrantedOnItsOwnKeepsItsAccess) {
  if (::geteuid() != 0) GTEST_SKIP() << "the mark of a protected folder needs root";
  const std::string cache = In(shared_, "cache");
  EXPECT_OK(EnsureFolder(In(cache, "inside")));
  GrantFolderAccess(cache, true);
  GrantFolderAccess(shared_, false);
  EXPECT_EQ(Status(shared_).st_mode & 0007, 05u);
  EXPECT_EQ(Status(cache).st_mode & 0007, 07u);
  EXPECT_EQ(Status(In(cache, "inside")).st_mode & 0007, 07u);
}

// A second process keeps swapping a planted file for links to the secret
// while the folder is granted again and again.
TEST_F(SharedFolderTest, GrantLosesNoRaceAgainstSwappedLinks) {
  EXPECT_OK(EnsureFolder(In(shared_, "sub")));
  const std::string sub = In(shared_, "sub");
  const pid_t swapper = ::fork();
  if (swapper == 0) {
    const std::string planted = Native(In(sub, "planted"));
    const std::string symlink = Native(In(sub, "symlink"));
    const std::string hard = Native(In(sub, "hard"));
    const std::string plain = Native(In(sub, "plain"));
    for (;;) {
      ::symlink(Native(secret_).c_str(), symlink.c_str());
      ::link(Native(secret_).c_str(), hard.c_str());
      const int fd = ::open(plain.c_str(), O_WRONLY | O_CREAT, 0600);
      if (fd >= 0) ::close(fd);
      ::rename(plain.c_str(), planted.c_str());
      ::rename(symlink.c_str(), planted.c_str());
      ::rename(hard.c_str(), planted.c_str());
    }
  }
  ASSERT_GT(swapper, 0);
  constexpr int kGrants = 3000;
  for (int i = 0; i < kGrants; ++i) GrantFolderAccess(shared_, (i & 1) != 0);
  ::kill(swapper, SIGKILL);
  ::waitpid(swapper, nullptr, 0);
  ExpectSecretsUntouched();
}

// ---- The checked open ----------------------------------------------------------------

using OpenCall = int (*)(const char*, int, int);

int CheckedOpen(const std::string& path, int flags) {
  const auto open = reinterpret_cast<OpenCall>(CheckedOpenCall().call);
  return open(Native(path).c_str(), flags | O_CLOEXEC, 0644);
}

TEST_F(SharedFolderTest, CheckedOpenTakesOnlyFilesOfTheirOwn) {
  EXPECT_STREQ(CheckedOpenCall().name, "open");
  ASSERT_TRUE(WriteWholeFile(In(shared_, "plain"), "plain"));
  SymbolicLink(secret_, "file-link");
  SymbolicLink(In(secretFolder_, "created"), "dangling");
  HardLink(secret_, "hard");
  EXPECT_OK(EnsureFolder(In(shared_, "folder")));

  const HeldFolder folder(Native(shared_));
  ASSERT_TRUE(folder.held());
  const CheckedFolderScope scope(folder);
  const struct {
    const char* name;
    int flags;
    bool opens;
  } kCases[] = {
      {"plain", O_RDWR, true},
      {"new", O_RDWR | O_CREAT, true},
      {"file-link", O_RDWR, false},
      {"file-link", O_RDONLY, false},
      {"dangling", O_RDWR | O_CREAT, false},
      {"hard", O_RDWR, false},
      {"hard", O_RDONLY | O_CREAT, false},
      {"folder", O_RDONLY, false},
  };
  for (const auto& c : kCases) {
    const int fd = CheckedOpen(In(shared_, c.name), c.flags);
    EXPECT_EQ(fd >= 0, c.opens) << c.name;
    if (fd >= 0) ::close(fd);
  }
  ExpectSecretsUntouched();
  // What lies outside the checked folder is opened as the platform opens it.
  const int outside = CheckedOpen(In(machine_.scratch(), "outside"), O_RDWR | O_CREAT);
  EXPECT_GE(outside, 0);
  if (outside >= 0) ::close(outside);
}

TEST_F(SharedFolderTest, CheckedFolderMustNotBeALink) {
  const std::string link = In(machine_.scratch(), "link-to-private");
  ASSERT_EQ(::symlink(Native(private_).c_str(), Native(link).c_str()), 0);
  const HeldFolder throughLink(Native(link));
  EXPECT_FALSE(throughLink.held());
  const HeldFolder missing(Native(In(shared_, "missing")));
  EXPECT_FALSE(missing.held());
}

TEST_F(SharedFolderTest, CheckedOpenEndsWithItsScope) {
  SymbolicLink(secret_, "file-link");
  {
    const HeldFolder folder(Native(shared_));
    const CheckedFolderScope scope(folder);
    EXPECT_LT(CheckedOpen(In(shared_, "file-link"), O_RDONLY), 0);
  }
  const int fd = CheckedOpen(In(shared_, "file-link"), O_RDONLY);
  EXPECT_GE(fd, 0);
  if (fd >= 0) ::close(fd);
}

TEST_F(SharedFolderTest, RemovePlantedLinkRemovesOnlyLinks) {
  ASSERT_TRUE(WriteWholeFile(In(shared_, "plain"), "plain"));
  SymbolicLink(secret_, "file-link");
  SymbolicLink(In(secretFolder_, "created"), "dangling");
  SymbolicLink(secretFolder_, "folder-link");
  HardLink(secret_, "hard");
  EXPECT_OK(EnsureFolder(In(shared_, "folder")));
  for (const char* link : {"file-link", "dangling", "folder-link", "hard"}) {
    EXPECT_TRUE(IsPlantedLink(In(shared_, link))) << link;
    EXPECT_OK(RemovePlantedLink(In(shared_, link))) << link;
    EXPECT_FALSE(ExistsOnDisk(In(shared_, link))) << link;
  }
  for (const char* kept : {"plain", "folder", "missing"}) {
    EXPECT_FALSE(IsPlantedLink(In(shared_, kept))) << kept;
    EXPECT_EQ(RemovePlantedLink(In(shared_, kept)), Code::kAccessDenied) << kept;
  }
  EXPECT_EQ(ReadWholeFile(In(shared_, "plain")), "plain");
  EXPECT_TRUE(IsDirectory(In(shared_, "folder")));
  ExpectSecretsUntouched();
  EXPECT_EQ(Status(secret_).st_nlink, 1u);
}

// Writes into a folder never go through a link planted at the target's name:
// the durable write replaces the name, and a flush opens nothing through it.
TEST_F(SharedFolderTest, WritesAndFlushesNeverFollowALink) {
  SymbolicLink(secret_, "doc.xml");
  EXPECT_OK(WriteFileDurably(In(shared_, "doc.xml"), "new"));
  EXPECT_EQ(ReadWholeFile(In(shared_, "doc.xml")), "new");
  EXPECT_FALSE(S_ISLNK(Status(In(shared_, "doc.xml")).st_mode));
  SymbolicLink(In(secretFolder_, "created"), "flushed.db");
  static_cast<void>(CurrentEnv()->FlushFile(Utf8ToWide(In(shared_, "flushed.db"))));
  SymbolicLink(secret_, "copied.ini");
  ASSERT_TRUE(WriteWholeFile(In(shared_, "source.ini"), "ini"));
  EXPECT_OK(CopyFileOver(In(shared_, "source.ini"), In(shared_, "copied.ini"), CopiedAttributes::kNormal));
  EXPECT_EQ(ReadWholeFile(In(shared_, "copied.ini")), "ini");
  ExpectSecretsUntouched();
}

}  // namespace
