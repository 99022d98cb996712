// What only POSIX calls can check: the permission bits and access lists
// GrantFolderAccess leaves, what another user may do afterwards, and which
// Code and number each errno gives.
#include <acl/libacl.h>
#include <fcntl.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "fs/access.h"
#include "fs/env.h"
#include "fs/files.h"
#include "fs/posix_calls.h"
#include "fs/text.h"
#include "support/disk.h"
#include "support/plain_user_posix.h"
#include "support/status_test_support.h"
#include "support/test_machine.h"

using namespace customhooks::fs;
using customhooks::Status;

namespace {

mode_t Mode(const std::string& path) {
  struct stat info;
  EXPECT_EQ(::stat(NativePath(path).c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

std::string AccessList(const std::string& path, acl_type_t type) {
  acl_t acl = ::acl_get_file(NativePath(path).c_str(), type);
  if (acl == nullptr) return "<none>";
  char* text = ::acl_to_any_text(acl, nullptr, ',', 0);
  std::string result = text != nullptr ? text : "<unreadable>";
  ::acl_free(text);
  ::acl_free(acl);
  return result;
}

bool CreateFileIn(const std::string& folder) {
  const int fd = ::open(NativePath(In(folder, "by-nobody")).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool ReadFileIn(const std::string& folder) {
  const int fd = ::open(NativePath(In(folder, "pcd.db")).c_str(), O_RDONLY);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

class GrantTest : public ::testing::Test {
 protected:
  GrantTest() : folder_(In(machine_.scratch(), "Orvik PCD")) {
    EXPECT_OK(EnsureFolder(In(folder_, "sub")));
    EXPECT_TRUE(WriteWholeFile(In(folder_, "pcd.db"), "db"));
    EXPECT_TRUE(WriteWholeFile(In(In(folder_, "sub"), "deep.db"), "db"));
    ::chmod(NativePath(folder_).c_str(), 0700);
  }
  TestMachine machine_;
  std::string folder_;
};

TEST_F(GrantTest, ReadOnlyForOthers) {
  GrantFolderAccess(folder_, false);
  EXPECT_EQ(Mode(folder_), 0755u);
  EXPECT_EQ(Mode(In(folder_, "sub")), 0755u);
  EXPECT_EQ(Mode(In(folder_, "pcd.db")), 0644u);
  EXPECT_EQ(Mode(In(In(folder_, "sub"), "deep.db")), 0644u);
  EXPECT_EQ(AccessList(folder_, ACL_TYPE_DEFAULT), "user::rwx,group::r-x,other::r-x");
}

TEST_F(GrantTest, ReadWriteForOthers) {
  GrantFolderAccess(folder_, true);
  EXPECT_EQ(Mode(folder_), 0777u);
  EXPECT_EQ(Mode(In(folder_, "sub")), 0777u);
  EXPECT_EQ(Mode(In(folder_, "pcd.db")), 0666u);
  EXPECT_EQ(AccessList(folder_, ACL_TYPE_DEFAULT), "user::rwx,group::rwx,other::rwx");
}

TEST_F(GrantTest, NewFilesInheritWhateverTheUmask) {
  GrantFolderAccess(folder_, true);
  const mode_t previous = ::umask(077);
  EXPECT_TRUE(WriteWholeFile(In(folder_, "later.db"), "x"));
  EXPECT_OK(WriteFileDurably(In(folder_, "durable.db"), "x"));
  ::umask(previous);
  EXPECT_EQ(Mode(In(folder_, "later.db")), 0666u);
  EXPECT_EQ(Mode(In(folder_, "durable.db")), 0666u);
}

TEST_F(GrantTest, ReplacesWhatWasThere) {
  const std::string named = "user::rwx,user:nobody:rwx,group::---,mask::rwx,other::---";
  acl_t acl = ::acl_from_text(named.c_str());
  ASSERT_NE(acl, nullptr);
  ASSERT_EQ(::acl_set_file(NativePath(folder_).c_str(), ACL_TYPE_ACCESS, acl), 0);
  ::acl_free(acl);
  GrantFolderAccess(folder_, false);
  EXPECT_EQ(AccessList(folder_, ACL_TYPE_ACCESS), "user::rwx,group::r-x,other::r-x");
}

// A grant repeated on entries that have it already writes nothing (their
// change times stay); an entry changed since gets it again.
TEST_F(GrantTest, RepeatedGrantWritesOnlyWhatChanged) {
  const std::vector<std::string> entries = {folder_, In(folder_, "sub"), In(folder_, "pcd.db"),
                                            In(In(folder_, "sub"), "deep.db")};
  const auto stamps = [&entries] {
    std::vector<FileStamp> all(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) EXPECT_OK(StampFile(entries[i], &all[i]));
    return all;
  };
  GrantFolderAccess(folder_, false);
  const std::vector<FileStamp> granted = stamps();
  // Past the file system's clock tick, any write would show in a change time.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  GrantFolderAccess(folder_, false);
  EXPECT_TRUE(stamps() == granted);

  ::chmod(NativePath(entries[3]).c_str(), 0600);
  const std::vector<FileStamp> changed = stamps();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  GrantFolderAccess(folder_, false);
  const std::vector<FileStamp> regranted = stamps();
  EXPECT_EQ(Mode(entries[3]), 0644u);
  EXPECT_TRUE(regranted[3] != changed[3]);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_TRUE(regranted[i] == granted[i]) << entries[i];
}

TEST_F(GrantTest, KeepsExecuteAndReadOnlyOfFiles) {
  const std::string tool = In(folder_, "tool");
  ASSERT_TRUE(WriteWholeFile(tool, "#!"));
  ::chmod(NativePath(tool).c_str(), 0700);
  const std::string locked = In(folder_, "locked.db");
  ASSERT_TRUE(WriteWholeFile(locked, "x"));
  ::chmod(NativePath(locked).c_str(), 0400);
  GrantFolderAccess(folder_, true);
  // Everyone's read and write grant no execute.
  EXPECT_EQ(Mode(tool), 0766u);
  EXPECT_EQ(Mode(locked), 0444u);
}

TEST_F(GrantTest, AnotherUserMayWriteOnlyWhenAllowed) {
  if (!CanActAsPlainUser()) GTEST_SKIP() << "needs root and the user nobody";
  // The scratch folder itself must let others through.
  ::chmod(NativePath(machine_.scratch()).c_str(), 0755);

  GrantFolderAccess(folder_, false);
  EXPECT_TRUE(AsPlainUser([this] { return ReadFileIn(folder_); }));
  EXPECT_FALSE(AsPlainUser([this] { return CreateFileIn(folder_); }));

  GrantFolderAccess(folder_, true);
  EXPECT_TRUE(AsPlainUser([this] { return ReadFileIn(folder_); }));
  EXPECT_TRUE(AsPlainUser([this] { return CreateFileIn(folder_); }));
}

bool WriteDocumentIn(const std::string& folder) {
  return WriteFileDurably(In(folder, "doc.xml"), "new").ok() &&
         CopyFileOver(In(folder, "doc.xml"), In(folder, "copy.xml"), CopiedAttributes::kNormal).ok();
}

// A writable file in a folder that forbids new files: the temporary file
// can't be made, so the file is written in place.
TEST_F(GrantTest, WritableFileInAFolderThatForbidsNewFiles) {
  if (!CanActAsPlainUser()) GTEST_SKIP() << "needs root and the user nobody";
  ::chmod(NativePath(machine_.scratch()).c_str(), 0755);
  ::chmod(NativePath(folder_).c_str(), 0755);
  for (const char* name : {"doc.xml", "copy.xml"}) {
    ASSERT_TRUE(WriteWholeFile(In(folder_, name), "old"));
    ::chmod(NativePath(In(folder_, name)).c_str(), 0666);
  }
  EXPECT_FALSE(AsPlainUser([this] { return CreateFileIn(folder_); }));
  EXPECT_TRUE(AsPlainUser([this] { return WriteDocumentIn(folder_); }));
  EXPECT_EQ(ReadWholeFile(In(folder_, "doc.xml")), "new");
  EXPECT_EQ(ReadWholeFile(In(folder_, "copy.xml")), "new");
  EXPECT_EQ(FolderNames(folder_), (std::vector<std::string>{"copy.xml", "doc.xml", "pcd.db", "sub"}));
}

// A stamp never follows a link: a symbolic link gives its own, a second
// name of a file the file's.
TEST(FileStamps, LinksAreNotFollowed) {
  TestMachine machine;
  const std::string file = In(machine.scratch(), "caps.db");
  const std::string symbolic = In(machine.scratch(), "symbolic.db");
  const std::string hard = In(machine.scratch(), "hard.db");
  ASSERT_TRUE(WriteWholeFile(file, "content"));
  ASSERT_EQ(::symlink(NativePath(file).c_str(), NativePath(symbolic).c_str()), 0);
  ASSERT_EQ(::link(NativePath(file).c_str(), NativePath(hard).c_str()), 0);
  FileStamp ofFile;
  FileStamp ofSymbolic;
  FileStamp ofHard;
  ASSERT_OK(StampFile(file, &ofFile));
  ASSERT_OK(StampFile(symbolic, &ofSymbolic));
  ASSERT_OK(StampFile(hard, &ofHard));
  EXPECT_TRUE(ofSymbolic.link);
  EXPECT_FALSE(ofSymbolic.SameFile(ofFile));
  EXPECT_FALSE(ofHard.link);
  EXPECT_EQ(ofHard, ofFile);
  // A link to nothing is still something.
  ASSERT_EQ(::unlink(NativePath(file).c_str()), 0);
  ASSERT_EQ(::unlink(NativePath(hard).c_str()), 0);
  EXPECT_OK(StampFile(symbolic, &ofSymbolic));
  EXPECT_EQ(StampFile(file, &ofFile), Code::kNotFound);
}

// The kernel copies what it can itself; what it refuses or can't size (a
// file under /proc) is read and written instead. Either way the target holds
// exactly the source's bytes and takes its last-write time.
TEST(FileCopies, WholeWhetherTheKernelCopiesOrNot) {
  TestMachine machine;
  std::string large(3 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7919 % 251);
  const std::string scratchLarge = In(machine.scratch(), "large.db");
  const std::string scratchEmpty = In(machine.scratch(), "empty.db");
  ASSERT_TRUE(WriteWholeFile(scratchLarge, large));
  ASSERT_TRUE(WriteWholeFile(scratchEmpty, ""));
  const struct {
    std::string source;
    bool timed;  // a file whose last-write time the target takes
  } kCases[] = {{scratchLarge, true}, {scratchEmpty, true}, {"/proc/self/mountinfo", false}};
  for (const auto& copy : kCases) {
    const std::string target = In(machine.scratch(), "copy.db");
    ASSERT_TRUE(WriteWholeFile(target, "old content"));
    ASSERT_OK(CopyFileOver(copy.source, target, CopiedAttributes::kNormal)) << copy.source;
    const std::string expected = ReadWholeFile(copy.source);
    EXPECT_EQ(ReadWholeFile(target), expected) << copy.source;
    if (copy.timed) {
      struct stat source;
      struct stat copied;
      ASSERT_EQ(::stat(NativePath(copy.source).c_str(), &source), 0);
      ASSERT_EQ(::stat(NativePath(target).c_str(), &copied), 0);
      EXPECT_EQ(copied.st_mtim.tv_sec, source.st_mtim.tv_sec) << copy.source;
      EXPECT_EQ(copied.st_mtim.tv_nsec, source.st_mtim.tv_nsec) << copy.source;
    }
  }
  EXPECT_FALSE(ReadWholeFile("/proc/self/mountinfo").empty());
}

TEST(ReadOnlyFiles, RefusedEvenToRoot) {
  TestMachine machine;
  const std::string file = In(machine.scratch(), "ro");
  ASSERT_TRUE(WriteWholeFile(file, "old"));
  ::chmod(NativePath(file).c_str(), 0444);
  EXPECT_EQ(RemoveFile(file), Code::kAccessDenied);
  UniqueFile opened;
  EXPECT_EQ(OpenFileShared(file, "r+b", &opened), Code::kAccessDenied);
  EXPECT_FALSE(opened);
  EXPECT_OK(ClearFileAttributes(file));
  EXPECT_EQ(Mode(file), 0644u);
  EXPECT_OK(RemoveFile(file));
}

// Each errno gives the Code it always gave, and every one keeps its number
// beside the call and the path.
TEST(PosixErrors, KeepTheCodeOfEachErrnoAndItsNumber) {
  const struct {
    int error;
    Code code;
  } kCases[] = {
      {ENOENT, Code::kNotFound},        {ENOTDIR, Code::kNotFound},      {EEXIST, Code::kExists},
      {ENOTEMPTY, Code::kExists},       {EACCES, Code::kAccessDenied},   {EPERM, Code::kAccessDenied},
      {EROFS, Code::kAccessDenied},     {EISDIR, Code::kAccessDenied},   {ELOOP, Code::kAccessDenied},
      {EBUSY, Code::kSharingViolation}, {ETXTBSY, Code::kSharingViolation}, {ENOSPC, Code::kDiskFull},
      {EDQUOT, Code::kDiskFull},        {EINVAL, Code::kBadPath},        {ENAMETOOLONG, Code::kBadPath},
      {ENOMEM, Code::kNoMemory},        {EIO, Code::kFailed},            {ENXIO, Code::kFailed},
      {EXDEV, Code::kFailed},           {123, Code::kFailed},
  };
  for (const auto& failing : kCases) {
    const Status status = posix::PosixError("open", "/x/pcd.db", failing.error);
    EXPECT_EQ(status, failing.code) << failing.error;
    EXPECT_EQ(status.context(), "open /x/pcd.db: errno " + std::to_string(failing.error));
  }
  EXPECT_OK(posix::PosixError("open", "/x/pcd.db", 0));
}

// Calls that fail only on POSIX, or with an errno no Code stands for, say
// which call failed on which path with which errno.
TEST(PosixErrors, NameTheFailedCallOnTheDisk) {
  TestMachine machine;
  Env& env = *Env::Default();
  const std::string file = In(machine.scratch(), "pcd.db");
  ASSERT_TRUE(WriteWholeFile(file, "content"));
  const std::string pipe = In(machine.scratch(), "pipe");
  ASSERT_EQ(::mkfifo(NativePath(pipe).c_str(), 0600), 0);
  const std::string missing = In(machine.scratch(), "missing");
  const std::string underFile = In(file, "sub");
  const struct {
    const char* what;
    std::function<Status()> run;
    Code code;
    std::string context;
  } kCases[] = {
      // A pipe without a reader refuses a writer with an errno left unmapped.
      {"a pipe, flushed", [&] { return env.FlushFile(Utf8ToWide(pipe)); }, Code::kFailed,
       "open " + NativePath(pipe) + ": errno " + std::to_string(ENXIO)},
      {"a file, listed", [&] {
         std::vector<std::u16string> names;
         return env.ListFolder(Utf8ToWide(file), &names);
       },
       Code::kNotFound, "opendir " + NativePath(file) + ": errno " + std::to_string(ENOTDIR)},
      {"a folder chain through a file", [&] { return env.CreateFolderChain(Utf8ToWide(underFile)); },
       Code::kNotFound, "mkdir " + NativePath(underFile) + ": errno " + std::to_string(ENOTDIR)},
      {"a folder, opened for writing", [&] {
         std::FILE* opened = nullptr;
         return env.OpenShared(Utf8ToWide(machine.scratch()), "wb", &opened);
       },
       Code::kAccessDenied, "fopen " + NativePath(machine.scratch()) + ": errno " + std::to_string(EISDIR)},
      {"a missing folder, flushed", [&] { return env.FlushFolder(Utf8ToWide(missing)); }, Code::kNotFound,
       "open " + NativePath(missing) + ": errno " + std::to_string(ENOENT)},
  };
  for (const auto& failing : kCases) {
    const Status status = failing.run();
    EXPECT_EQ(status, failing.code) << failing.what;
    EXPECT_EQ(status.context(), failing.context) << failing.what;
  }
}

}  // namespace
