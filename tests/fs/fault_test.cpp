// Failures of single calls of the file-system layer: calls of its Env, made
// to fail by a FaultEnv installed for the whole process, and allocations,
// made to fail by this binary's own allocator.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fs/access.h"
#include "fs/env.h"
#include "fs/files.h"
#include "fs/folders.h"
#include "fs/paths.h"
#include "support/disk.h"
#include "support/fault_env.h"
#include "support/status_test_support.h"

namespace stdfs = std::filesystem;

namespace {

// The allocator's count: while it counts, the `failingAllocation`-th
// allocation throws std::bad_alloc.
bool countingAllocations = false;
unsigned long allocationsSinceArmed = 0;
unsigned long failingAllocation = 0;

// Restarts the count; the `n`-th allocation from now (1: the next one)
// fails, 0 lets every one succeed.
void FailNthAllocation(unsigned long n) {
  allocationsSinceArmed = 0;
  failingAllocation = n;
  countingAllocations = true;
}

void StopCountingAllocations() { countingAllocations = false; }

}  // namespace

void* operator new(std::size_t size) {
  if (countingAllocations && ++allocationsSinceArmed == failingAllocation) throw std::bad_alloc();
  void* memory = std::malloc(size == 0 ? 1 : size);
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}

// Every form that a library's own allocator might otherwise serve is
// replaced, so that each block comes from malloc and goes back to free.
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& nothrow) noexcept { return operator new(size, nothrow); }

// Kept out of line: inlined into a caller, the compiler would take memory
// from this operator new for memory that free() must not release.
[[gnu::noinline]] void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { operator delete(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { operator delete(memory); }
void operator delete[](void* memory) noexcept { operator delete(memory); }
void operator delete[](void* memory, std::size_t) noexcept { operator delete(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { operator delete(memory); }

namespace customhooks::fs {
namespace {

class FaultTest : public ::testing::Test {
 protected:
  FaultTest() {
    std::random_device rd;
    folder_ = stdfs::temp_directory_path() / ("ch-fault-" + std::to_string(rd()) + std::to_string(rd()));
    stdfs::create_directories(folder_);
  }
  ~FaultTest() override {
    std::error_code ec;
    stdfs::remove_all(folder_, ec);
  }
  // The `n`-th call of the Env from now fails (0: none fails).
  void FailNthCall(unsigned long n) { env_.FailNth(EnvCall::kAny, n); }
  unsigned long CallsSinceArmed() const { return env_.CallsSinceArmed(); }
  // Counts the calls `operation` makes when none fails.
  template <typename Operation>
  unsigned long CallsOf(Operation&& operation) {
    FailNthCall(0);
    operation();
    return CallsSinceArmed();
  }

  std::string Path(const std::string& name) const { return (folder_ / name).u8string(); }
  std::size_t EntryCount() const { return FolderNames(folder_.u8string()).size(); }

  FaultEnv env_;
  ScopedEnv scopedEnv_{&env_};
  stdfs::path folder_;
};

TEST_F(FaultTest, JoinPathNeverYieldsAPartialPath) {
  // Whichever allocation fails, the join either fails or gives the whole
  // path: a lost part would make "caps.db" relative to the working folder.
  std::string expected;
  FailNthAllocation(0);
  const Status probe = JoinPath("C:\\Orvik\\caps", "caps.db", &expected);
  const unsigned long allocations = allocationsSinceArmed;
  StopCountingAllocations();
  ASSERT_OK(probe);
  ASSERT_GT(allocations, 0u);
  for (unsigned long n = 1; n <= allocations; ++n) {
    std::string out = "untouched";
    FailNthAllocation(n);
    const bool joined = JoinPath("C:\\Orvik\\caps", "caps.db", &out).ok();
    StopCountingAllocations();
    EXPECT_EQ(out, joined ? expected : "untouched") << "failing allocation " << n;
  }
}

TEST_F(FaultTest, CreateFolderReportsTheFailedCall) {
  ASSERT_OK(CreateFolder(Path("probe")));
  const unsigned long calls = CallsSinceArmed();
  ASSERT_GT(calls, 0u);
  // The last call is the creation itself.
  env_.FailNth(EnvCall::kAny, calls, Code::kAccessDenied);
  const Status made = CreateFolder(Path("made"));
  FailNthCall(0);
  EXPECT_EQ(made, Code::kAccessDenied);
  EXPECT_FALSE(stdfs::exists(folder_ / "made"));
}

TEST_F(FaultTest, WriteDurablyIsAllOrNothingWhicheverCallFails) {
  const std::string target = Path("doc.xml");
  WriteWholeFile(target, "old");
  const unsigned long calls = CallsOf([&] { ASSERT_OK(WriteFileDurably(target, "probe")); });
  for (unsigned long n = 1; n <= calls; ++n) {
    WriteWholeFile(target, "old");
    FailNthCall(n);
    const bool written = WriteFileDurably(target, "new").ok();
    FailNthCall(0);
    EXPECT_EQ(ReadWholeFile(target), written ? "new" : "old") << "failing call " << n;
    EXPECT_EQ(EntryCount(), 1u) << "failing call " << n << " left a temporary file";
  }
}

// A target that another process holds open cannot be replaced on Windows;
// its content is rewritten in place instead. Any other refusal of the
// replacement leaves the target as it was.
TEST_F(FaultTest, TargetHeldOpenIsWrittenInPlace) {
  WriteWholeFile(Path("source"), "new");
  const struct {
    const char* what;
    EnvCall writer;
    Status (*act)(const std::string& target, const std::string& source);
    bool mayWriteInPlace;
  } kOperations[] = {
      {"durable write", EnvCall::kWriteWholeFile,
       [](const std::string& target, const std::string&) { return WriteFileDurably(target, "new"); }, true},
      {"copy", EnvCall::kCopyOver,
       [](const std::string& target, const std::string& source) { return CopyFileOver(source, target); }, true},
      {"whole-or-nothing copy", EnvCall::kCopyOver,
       [](const std::string& target, const std::string& source) {
         return CopyFileOver(source, target, CopiedAttributes::kFromSource, WhenNotReplaceable::kLeaveTarget);
       },
       false},
  };
  const struct {
    Code refusal;
    bool inPlace;
  } kRefusals[] = {{Code::kSharingViolation, true}, {Code::kAccessDenied, true}, {Code::kDiskFull, false}};
  for (const auto& operation : kOperations) {
    for (const auto& refusal : kRefusals) {
      const bool inPlace = refusal.inPlace && operation.mayWriteInPlace;
      const std::string target = Path("target");
      WriteWholeFile(target, "old");
      env_.FailNth(EnvCall::kMoveFileReplacing, 1, refusal.refusal);
      const Status result = operation.act(target, Path("source"));
      const std::vector<std::string> calls = env_.CallsMade();
      FailNthCall(0);
      const std::string context = std::string(operation.what) + ", replace refused: " +
                                  Status(refusal.refusal).ToString();
      EXPECT_EQ(result.ok(), inPlace) << context << ": " << result.ToString();
      EXPECT_EQ(ReadWholeFile(target), inPlace ? "new" : "old") << context;
      EXPECT_EQ(EntryCount(), 2u) << context << " left a temporary file";
      // The content reached the target by a second write, after the refusal.
      const auto refused = std::find(calls.begin(), calls.end(), NameOf(EnvCall::kMoveFileReplacing));
      ASSERT_NE(refused, calls.end()) << context;
      EXPECT_EQ(std::find(refused, calls.end(), NameOf(operation.writer)) != calls.end(), inPlace) << context;
    }
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
  std::string expected;
  ASSERT_OK(FindSpecialFolder(SpecialFolder::kCommonFiles, &expected));
  std::string found;
  FailNthCall(1);  // the x86 lookup
  ASSERT_OK(FindSpecialFolder(SpecialFolder::kCommonFilesX86, &found));
  FailNthCall(0);
  EXPECT_EQ(found, expected);
}

TEST_F(FaultTest, EnsureFolderNeverReportsAMissingFolderAsCreated) {
  const auto deep = [this](unsigned long n) { return Path("run" + std::to_string(n)) + "\\a\\b"; };
  const unsigned long calls = CallsOf([&] { ASSERT_OK(EnsureFolder(deep(0))); });
  for (unsigned long n = 1; n <= calls; ++n) {
    FailNthCall(n);
    const Status status = EnsureFolder(deep(n));
    FailNthCall(0);
    EXPECT_TRUE(status.ok() || status.IsOf<Code>()) << "failing call " << n << ": " << status.ToString();
    if (status.ok()) {
      EXPECT_TRUE(IsDirectory(deep(n))) << "failing call " << n;
    }
  }
}

TEST_F(FaultTest, CopyEitherReplacesTheTargetOrLeavesIt) {
  const std::string source = Path("source");
  const std::string target = Path("target");
  WriteWholeFile(source, "new");
  WriteWholeFile(target, "old");
  const unsigned long calls = CallsOf([&] { ASSERT_OK(CopyFileOver(source, target)); });
  for (unsigned long n = 1; n <= calls; ++n) {
    WriteWholeFile(target, "old");
    FailNthCall(n);
    const bool copied = CopyFileOver(source, target).ok();
    FailNthCall(0);
    EXPECT_EQ(ReadWholeFile(target), copied ? "new" : "old") << "failing call " << n;
  }
}

TEST_F(FaultTest, FailedStampLeavesTheStampAlone) {
  WriteWholeFile(Path("caps.db"), "content");
  FileStamp stamp;
  stamp.size = 42;
  env_.FailNth(EnvCall::kGetFileStamp, 1, Code::kAccessDenied);
  EXPECT_EQ(StampFile(Path("caps.db"), &stamp), Code::kAccessDenied);
  EXPECT_EQ(env_.CallsMade(), std::vector<std::string>{"GetFileStamp"});
  EXPECT_EQ(stamp.size, 42u);
  FailNthCall(0);
  EXPECT_OK(StampFile(Path("caps.db"), &stamp));
  EXPECT_EQ(stamp.size, 7u);
}

TEST_F(FaultTest, FailedListingLeavesTheNamesAlone) {
  WriteWholeFile(Path("one"), "1");
  std::vector<std::u16string> names = {u"kept"};
  std::vector<std::u16string> probe;
  const unsigned long calls = CallsOf([&] { ASSERT_OK(ListFolder(folder_.u8string(), &probe)); });
  FailNthCall(calls);  // the listing itself
  EXPECT_EQ(ListFolder(folder_.u8string(), &names), Code::kFailed);
  FailNthCall(0);
  EXPECT_EQ(names, std::vector<std::u16string>{u"kept"});
  ASSERT_OK(ListFolder(folder_.u8string(), &names));
  EXPECT_EQ(names, std::vector<std::u16string>{u"one"});
}

// Granting access is best effort: whichever call fails, the folder stays a
// folder its owner can write in.
TEST_F(FaultTest, FailedGrantLeavesTheFolderUsable) {
  const unsigned long calls = CallsOf([&] { GrantFolderAccess(folder_.u8string(), true); });
  ASSERT_GT(calls, 0u);
  for (unsigned long n = 1; n <= calls; ++n) {
    FailNthCall(n);
    GrantFolderAccess(folder_.u8string(), false);
    FailNthCall(0);
    EXPECT_TRUE(stdfs::is_directory(folder_)) << "failing call " << n;
    EXPECT_OK(WriteFileDurably(Path("probe"), "probe")) << "failing call " << n;
  }
}

TEST_F(FaultTest, CommonFilesFolderFallsBackToTheFolderPathLookup) {
#if !defined(_WIN32)
  setenv("CommonProgramFiles", Path("Common Files").c_str(), 1);
#endif
  std::string expected;
  ASSERT_OK(LocateCommonFilesFolder(&expected));
  std::string found;
  FailNthCall(1);  // the item-list lookup
  EXPECT_OK(LocateCommonFilesFolder(&found));
  FailNthCall(0);
  EXPECT_EQ(found, expected);
}

// The new entry of a replaced file reaches the disk only when its folder is
// flushed (POSIX); the flush follows every replace.
TEST_F(FaultTest, ReplacesFlushTheFolderAfterwards) {
  WriteWholeFile(Path("source"), "source");
  const struct {
    const char* what;
    bool (*act)(const std::string& folder);
  } kCases[] = {
      {"durable write", [](const std::string& folder) { return WriteFileDurably(folder + "/doc.xml", "doc").ok(); }},
      {"copy", [](const std::string& folder) { return CopyFileOver(folder + "/source", folder + "/copy").ok(); }},
      {"move", [](const std::string& folder) {
         return CopyFileOver(folder + "/source", folder + "/moved").ok() &&
                MoveFileReplacing(folder + "/moved", folder + "/target").ok();
       }},
  };
  for (const auto& c : kCases) {
    FailNthCall(0);
    ASSERT_TRUE(c.act(folder_.u8string())) << c.what;
    const std::vector<std::string> calls = env_.CallsMade();
    const auto moved = std::find(calls.rbegin(), calls.rend(), "MoveFileReplacing");
    ASSERT_NE(moved, calls.rend()) << c.what;
    EXPECT_NE(std::find(calls.rbegin(), moved, "FlushFolder"), moved) << c.what << ": no folder flush after the replace";
  }
}

}  // namespace
}  // namespace customhooks::fs
