// Failures of single platform calls, forced through the test build's gate.
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fs/access.h"
#include "fs/fault_injection.h"
#include "fs/files.h"
#include "fs/folders.h"
#include "fs/paths.h"

namespace stdfs = std::filesystem;

namespace {

class FaultTest : public ::testing::Test {
 protected:
  FaultTest() {
    std::random_device rd;
    folder_ = stdfs::temp_directory_path() / ("ch-fault-" + std::to_string(rd()) + std::to_string(rd()));
    stdfs::create_directories(folder_);
  }
  ~FaultTest() override {
    fsfaults::FailNthPlatformCall(0);
    std::error_code ec;
    stdfs::remove_all(folder_, ec);
  }
  std::string Path(const std::string& name) const { return (folder_ / name).u8string(); }
  static std::string Read(const std::string& path) {
    std::ifstream in(stdfs::u8path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(stdfs::u8path(path), std::ios::binary) << bytes;
  }
  std::size_t EntryCount() const {
    return static_cast<std::size_t>(std::distance(stdfs::directory_iterator(folder_), stdfs::directory_iterator()));
  }

  stdfs::path folder_;
};

TEST_F(FaultTest, JoinPathNeverYieldsAPartialPath) {
  // Whichever conversion fails, the join either fails or gives the whole
  // path: a lost part would make "caps.db" relative to the working folder.
  fsfaults::FailNthPlatformCall(0);
  std::string expected;
  ASSERT_TRUE(JoinPath("C:\\Orvik\\caps", "caps.db", expected));
  const unsigned long calls = fsfaults::PlatformCallsSinceArmed();
  ASSERT_GT(calls, 0u);
  for (unsigned long n = 1; n <= calls; ++n) {
    std::string out = "untouched";
    fsfaults::FailNthPlatformCall(n);
    const bool joined = JoinPath("C:\\Orvik\\caps", "caps.db", out);
    fsfaults::FailNthPlatformCall(0);
    EXPECT_EQ(out, joined ? expected : "untouched") << "failing call " << n;
  }
}

TEST_F(FaultTest, MakeDirectoryReportsTheFailedCall) {
  fsfaults::FailNthPlatformCall(0);
  ASSERT_EQ(MakeDirectoryUtf8(Path("probe").c_str()), 0);
  const unsigned long calls = fsfaults::PlatformCallsSinceArmed();
  ASSERT_GT(calls, 0u);
  // The last call is the creation itself.
  fsfaults::FailNthPlatformCall(calls);
  errno = 0;
  EXPECT_EQ(MakeDirectoryUtf8(Path("made").c_str()), -1);
  EXPECT_EQ(errno, EIO);
  fsfaults::FailNthPlatformCall(0);
  EXPECT_FALSE(stdfs::exists(folder_ / "made"));
}

TEST_F(FaultTest, WriteDurablyIsAllOrNothingWhicheverCallFails) {
  const std::string target = Path("doc.xml");
  Write(target, "old");
  fsfaults::FailNthPlatformCall(0);
  ASSERT_EQ(WriteFileDurably(target, "probe"), WriteResult::kWritten);
  const unsigned long calls = fsfaults::PlatformCallsSinceArmed();
  for (unsigned long n = 1; n <= calls; ++n) {
    Write(target, "old");
    fsfaults::FailNthPlatformCall(n);
    const WriteResult result = WriteFileDurably(target, "new");
    fsfaults::FailNthPlatformCall(0);
    const std::string content = Read(target);
    if (result == WriteResult::kWritten) {
      EXPECT_EQ(content, "new") << "failing call " << n;
    } else {
      EXPECT_EQ(content, "old") << "failing call " << n;
    }
    EXPECT_EQ(EntryCount(), 1u) << "failing call " << n << " left a temporary file";
  }
}

TEST_F(FaultTest, FailedX86LookupFallsBackToCommonFiles) {
  const std::string common = Path("Common Files");
  stdfs::create_directories(stdfs::u8path(common));
#if defined(_WIN32)
  // The machine's own folders.
#else
  setenv("CommonProgramFiles", common.c_str(), 1);
  setenv("CommonProgramFiles(x86)", Path("x86").c_str(), 1);
#endif
  char expected[kPathBufferSize];
  ASSERT_NE(GetSpecialFolderPath(expected, kFolderCommonFiles), nullptr);
  char buffer[kPathBufferSize];
  fsfaults::FailNthPlatformCall(1);  // the x86 lookup
  ASSERT_EQ(GetSpecialFolderPath(buffer, kFolderCommonFilesX86), buffer);
  fsfaults::FailNthPlatformCall(0);
  EXPECT_STREQ(buffer, expected);
}

// Counts the platform calls `operation` makes when none fails.
template <typename Operation>
unsigned long CallsOf(Operation&& operation) {
  fsfaults::FailNthPlatformCall(0);
  operation();
  return fsfaults::PlatformCallsSinceArmed();
}

TEST_F(FaultTest, EnsureDirectoryPathNeverReportsAMissingFolderAsCreated) {
  const auto deep = [this](unsigned long n) { return Path("run" + std::to_string(n)) + "\\a\\b"; };
  const unsigned long calls = CallsOf([&] { EnsureDirectoryPath(deep(0)); });
  for (unsigned long n = 1; n <= calls; ++n) {
    fsfaults::FailNthPlatformCall(n);
    const int status = EnsureDirectoryPath(deep(n));
    fsfaults::FailNthPlatformCall(0);
    EXPECT_TRUE(status == 0 || status == 4) << "failing call " << n;
    if (status == 0) {
      EXPECT_TRUE(IsDirectory(deep(n))) << "failing call " << n;
    }
  }
}

TEST_F(FaultTest, CopyEitherReplacesTheTargetOrLeavesIt) {
  const std::string source = Path("source");
  const std::string target = Path("target");
  Write(source, "new");
  Write(target, "old");
  const unsigned long calls = CallsOf([&] { CopyFileReplacing(source, target); });
  for (unsigned long n = 1; n <= calls; ++n) {
    Write(target, "old");
    fsfaults::FailNthPlatformCall(n);
    const bool copied = CopyFileReplacing(source, target);
    fsfaults::FailNthPlatformCall(0);
    EXPECT_EQ(Read(target), copied ? "new" : "old") << "failing call " << n;
  }
}

TEST_F(FaultTest, FailedListingLeavesTheNamesAlone) {
  Write(Path("one"), "1");
  std::vector<std::u16string> names = {u"kept"};
  std::vector<std::u16string> probe;
  const unsigned long calls = CallsOf([&] { ListFolder(folder_.u8string(), probe); });
  fsfaults::FailNthPlatformCall(calls);  // the listing itself
  EXPECT_FALSE(ListFolder(folder_.u8string(), names));
  fsfaults::FailNthPlatformCall(0);
  EXPECT_EQ(names, std::vector<std::u16string>{u"kept"});
  ASSERT_TRUE(ListFolder(folder_.u8string(), names));
  EXPECT_EQ(names, std::vector<std::u16string>{u"one"});
}

TEST_F(FaultTest, GrantFolderAccessAlwaysReportsSuccess) {
  const unsigned long calls = CallsOf([&] { GrantFolderAccess(folder_.u8string(), true); });
  for (unsigned long n = 1; n <= calls; ++n) {
    fsfaults::FailNthPlatformCall(n);
    EXPECT_EQ(GrantFolderAccess(folder_.u8string(), false), 0) << "failing call " << n;
    fsfaults::FailNthPlatformCall(0);
  }
  EXPECT_TRUE(stdfs::is_directory(folder_));
}

TEST_F(FaultTest, CommonDataFolderFallsBackToTheFolderPathLookup) {
#if !defined(_WIN32)
  setenv("CommonProgramFiles", Path("Common Files").c_str(), 1);
#endif
  std::string expected;
  ASSERT_TRUE(GetCommonDataFolder(expected));
  std::string found;
  fsfaults::FailNthPlatformCall(1);  // the item-list lookup
  EXPECT_TRUE(GetCommonDataFolder(found));
  fsfaults::FailNthPlatformCall(0);
  EXPECT_EQ(found, expected);
}

// The new entry of a replaced file reaches the disk only when its folder is
// flushed (POSIX); the flush follows every replace.
TEST_F(FaultTest, ReplacesFlushTheFolderAfterwards) {
  Write(Path("source"), "source");
  const struct {
    const char* what;
    bool (*act)(const std::string& folder);
  } kCases[] = {
      {"durable write", [](const std::string& folder) {
         return WriteFileDurably(folder + "/doc.xml", "doc") == WriteResult::kWritten;
       }},
      {"copy", [](const std::string& folder) { return CopyFileReplacing(folder + "/source", folder + "/copy"); }},
      {"move", [](const std::string& folder) {
         return CopyFileReplacing(folder + "/source", folder + "/moved") &&
                MoveFileReplacing(folder + "/moved", folder + "/target");
       }},
  };
  for (const auto& c : kCases) {
    fsfaults::FailNthPlatformCall(0);
    ASSERT_TRUE(c.act(folder_.u8string())) << c.what;
    const std::vector<std::string> calls = fsfaults::PlatformCallsMade();
    const auto moved = std::find(calls.rbegin(), calls.rend(), "MoveFileReplacing");
    ASSERT_NE(moved, calls.rend()) << c.what;
    EXPECT_NE(std::find(calls.rbegin(), moved, "FlushFolder"), moved) << c.what << ": no folder flush after the replace";
  }
}

}  // namespace
