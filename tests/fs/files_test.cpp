// File and folder tests and changes, on both targets. Paths use the module's
// backslash, which POSIX turns into "/" at the call.
#include "fs/files.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "fs/env.h"
#include "fs/paths.h"
#include "fs/platform.h"
#include "fs/text.h"
#include "support/disk.h"
#include "support/status_test_support.h"
#include "support/test_machine.h"

using namespace customhooks::fs;

namespace {

class FilesTest : public ::testing::Test {
 protected:
  FilesTest() : work_(In(machine_.scratch(), "work")) { EXPECT_OK(CreateFolder(work_)); }
  std::string Path(const std::string& name) const { return In(work_, name); }
  std::string File(const std::string& name, const std::string& content = "content") const {
    const std::string path = Path(name);
    EXPECT_TRUE(WriteWholeFile(path, content));
    return path;
  }

  TestMachine machine_;
  const std::string work_;
};

// ---- Tests -----------------------------------------------------------------

TEST_F(FilesTest, ExistenceAndType) {
  const std::string file = File("a.db");
  const std::string folder = Path("sub");
  ASSERT_OK(CreateFolder(folder));
  const std::string missing = Path("missing");

  EXPECT_TRUE(PathExists(file));
  EXPECT_TRUE(PathExists(folder));
  EXPECT_FALSE(PathExists(missing));
  EXPECT_FALSE(PathExists(""));

  EXPECT_FALSE(IsDirectory(file));
  EXPECT_TRUE(IsDirectory(folder));
  EXPECT_FALSE(IsDirectory(missing));

  EXPECT_TRUE(IsRegularFile(file));
  EXPECT_FALSE(IsRegularFile(folder));
  EXPECT_FALSE(IsRegularFile(missing));
}

TEST_F(FilesTest, Attributes) {
  const std::string file = File("a.db");
  std::uint32_t attributes = 0;
  ASSERT_OK(GetPathAttributes(file, &attributes));
  EXPECT_EQ(attributes & (kAttributeDirectory | kAttributeReadOnly), 0u);
  ASSERT_TRUE(SetReadOnly(file, true));
  ASSERT_OK(GetPathAttributes(file, &attributes));
  EXPECT_NE(attributes & kAttributeReadOnly, 0u);
  ASSERT_OK(GetPathAttributes(machine_.scratch(), &attributes));
  EXPECT_NE(attributes & kAttributeDirectory, 0u);
  attributes = 1234;
  EXPECT_EQ(GetPathAttributes(Path("missing"), &attributes), Code::kNotFound);
  EXPECT_EQ(attributes, 1234u);
}

TEST_F(FilesTest, NonAsciiNames) {
  const std::string name = "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80.db";
  const std::string file = File(name, "x");
  EXPECT_TRUE(IsRegularFile(file));
  std::vector<std::u16string> names;
  ASSERT_OK(ListFolder(work_, &names));
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(WideToUtf8(names[0]), name);
}

// ---- Folder creation -----------------------------------------------------------

TEST_F(FilesTest, CreateFolderCreatesOneLevel) {
  const std::string folder = Path("one");
  EXPECT_OK(CreateFolder(folder));
  EXPECT_TRUE(IsDirectory(folder));
}

TEST_F(FilesTest, CreateFolderOnExistingFolderGivesExists) {
  EXPECT_EQ(CreateFolder(machine_.scratch()), Code::kExists);
}

TEST_F(FilesTest, CreateFolderWithoutParentGivesNotFoundAndCreatesNoParent) {
  const std::string parent = Path("no-parent");
  const std::string child = In(parent, "child");
  EXPECT_EQ(CreateFolder(child), Code::kNotFound);
  EXPECT_FALSE(PathExists(parent));
}

TEST_F(FilesTest, CreateFolderRefusesTheEmptyPath) { EXPECT_EQ(CreateFolder(""), Code::kNotFound); }

TEST_F(FilesTest, CreateSingleFolder) {
  const std::string folder = Path("single");
  EXPECT_OK(CreateFolder(folder));
  EXPECT_TRUE(IsDirectory(folder));
  EXPECT_EQ(CreateFolder(folder), Code::kExists);
  EXPECT_EQ(CreateFolder(In(Path("none"), "x")), Code::kNotFound);
}

TEST_F(FilesTest, EnsureFolderCreatesEveryParent) {
  const std::string deep = In(In(Path("t1"), "t2"), "t3");
  EXPECT_OK(EnsureFolder(deep));
  EXPECT_TRUE(IsDirectory(deep));
}

TEST_F(FilesTest, EnsureFolderOnExistingPath) {
  EXPECT_OK(EnsureFolder(machine_.scratch()));
  EXPECT_EQ(EnsureFolder(File("f")), Code::kExists);
}

TEST_F(FilesTest, EnsureFolderWantsAFullPath) { EXPECT_EQ(EnsureFolder("relative\\folder"), Code::kBadPath); }

TEST_F(FilesTest, EnsureFolderStatuses) {
  EXPECT_OK(EnsureFolder(machine_.scratch()));
  const std::string file = File("f");
  EXPECT_EQ(EnsureFolder(file), Code::kExists);
  const std::string deep = In(In(Path("e1"), "e2"), "e3");
  EXPECT_OK(EnsureFolder(deep));
  EXPECT_TRUE(IsDirectory(deep));
  EXPECT_OK(EnsureFolder(deep));
  // A file stands where a parent folder should be.
  EXPECT_EQ(EnsureFolder(In(In(file, "x"), "y")), Code::kExists);
  // Trailing separators are allowed.
  EXPECT_OK(EnsureFolder(Path("e4") + "\\"));
  EXPECT_TRUE(IsDirectory(Path("e4")));
}

// ---- File changes ------------------------------------------------------------------

TEST_F(FilesTest, ClearFileAttributesMakesAFileWritable) {
  const std::string file = File("ro");
  ASSERT_TRUE(SetReadOnly(file, true));
  EXPECT_OK(ClearFileAttributes(file));
  EXPECT_FALSE(IsReadOnly(file));
  EXPECT_TRUE(WriteWholeFile(file, "changed"));
  EXPECT_EQ(ClearFileAttributes(Path("missing")), Code::kNotFound);
}

TEST_F(FilesTest, CopyReplacesAnExistingTarget) {
  const std::string source = File("source", "new content");
  const std::string target = File("target", "old");
  EXPECT_OK(CopyFileOver(source, target, CopiedAttributes::kNormal));
  EXPECT_EQ(ReadWholeFile(target), "new content");
  EXPECT_EQ(ReadWholeFile(source), "new content");
}

TEST_F(FilesTest, CopyOfReadOnlySourceGivesWritableTarget) {
  const std::string source = File("source", "data");
  ASSERT_TRUE(SetReadOnly(source, true));
  const std::string target = Path("target");
  EXPECT_OK(CopyFileOver(source, target, CopiedAttributes::kNormal));
  EXPECT_EQ(ReadWholeFile(target), "data");
  EXPECT_FALSE(IsReadOnly(target));
  EXPECT_TRUE(IsReadOnly(source));
}

TEST_F(FilesTest, CopyOverwriteKeepsSourceAttributes) {
  const std::string source = File("source", "data");
  ASSERT_TRUE(SetReadOnly(source, true));
  const std::string target = Path("target");
  EXPECT_OK(CopyFileOver(source, target));
  EXPECT_TRUE(IsReadOnly(target));
}

TEST_F(FilesTest, CopyFailures) {
  const std::string target = File("target", "old");
  EXPECT_EQ(CopyFileOver(Path("missing"), target, CopiedAttributes::kNormal), Code::kNotFound);
  EXPECT_EQ(ReadWholeFile(target), "old");
  EXPECT_EQ(CopyFileOver(target, In(Path("no-folder"), "t"), CopiedAttributes::kNormal), Code::kNotFound);
}

TEST_F(FilesTest, CopyRefusesReadOnlyTarget) {
#if defined(_WIN32)
  GTEST_SKIP() << "Wine's CopyFileW overwrites a read-only target that Windows refuses";
#endif
  const std::string source = File("source", "new");
  const std::string target = File("target", "old");
  ASSERT_TRUE(SetReadOnly(target, true));
  EXPECT_EQ(CopyFileOver(source, target, CopiedAttributes::kNormal), Code::kAccessDenied);
  EXPECT_EQ(ReadWholeFile(target), "old");
  EXPECT_TRUE(IsReadOnly(target));
}

TEST_F(FilesTest, MoveReplacesTarget) {
  const std::string source = File("source", "moved");
  const std::string target = File("target", "old");
  EXPECT_OK(MoveFileReplacing(source, target));
  EXPECT_EQ(ReadWholeFile(target), "moved");
  EXPECT_FALSE(PathExists(source));
  EXPECT_OK(MoveFileReplacing(target, Path("fresh")));
  EXPECT_EQ(MoveFileReplacing(Path("missing"), target), Code::kNotFound);
}

TEST_F(FilesTest, MoveRefusesReadOnlyTarget) {
#if defined(_WIN32)
  GTEST_SKIP() << "Wine's MoveFileExW replaces a read-only target that Windows refuses";
#endif
  const std::string source = File("source", "moved");
  const std::string target = File("target", "old");
  ASSERT_TRUE(SetReadOnly(target, true));
  EXPECT_EQ(MoveFileReplacing(source, target), Code::kAccessDenied);
  EXPECT_EQ(ReadWholeFile(target), "old");
  EXPECT_TRUE(PathExists(source));
}

TEST_F(FilesTest, DeleteFile) {
  const std::string file = File("doomed");
  EXPECT_OK(RemoveFile(file));
  EXPECT_FALSE(PathExists(file));
  EXPECT_EQ(RemoveFile(file), Code::kNotFound);
  EXPECT_EQ(RemoveFile(machine_.scratch()), Code::kAccessDenied);
  EXPECT_TRUE(IsDirectory(machine_.scratch()));
}

// A flush may be asked for a name in a folder that others can write: it
// never creates a file there.
TEST_F(FilesTest, FlushCreatesNothingAndKeepsContent) {
  const auto flush = [](const std::string& path) { static_cast<void>(CurrentEnv()->FlushFile(Utf8ToWide(path))); };
  const std::string missing = Path("flushed");
  flush(missing);
  EXPECT_FALSE(PathExists(missing));
  const std::string file = File("kept", "keep me");
  flush(file);
  EXPECT_EQ(ReadWholeFile(file), "keep me");
  flush(In(Path("no-folder"), "x"));
  EXPECT_FALSE(PathExists(Path("no-folder")));
}

// A writer killed in the middle of a write leaves its temporary file; the
// next write into the folder removes those of writers that no longer run.
TEST_F(FilesTest, NextWriteRemovesTemporariesOfEndedWriters) {
  char own[16];
  std::snprintf(own, sizeof own, "%08x", static_cast<unsigned>(Env::Default()->ProcessId()));
  const std::string ended = File("~ch7ffffff0-0.tmp", "ended writer");
  const std::string ownTemporary = File(std::string("~ch") + own + "-7.tmp", "this process");
  const std::vector<std::string> others = {File("~chnot-a-pid.tmp"), File("~ch7ffffff0-.tmp"),
                                           File("~ch7ffffff0-1.txt"), File("note.tmp")};
  EXPECT_OK(WriteFileDurably(Path("doc.xml"), "doc"));
  EXPECT_FALSE(PathExists(ended));
  EXPECT_TRUE(PathExists(ownTemporary));
  for (const std::string& other : others) EXPECT_TRUE(PathExists(other)) << other;
  File("~ch7ffffff0-3.tmp", "ended writer");
  EXPECT_OK(CopyFileOver(Path("doc.xml"), Path("copy.xml"), CopiedAttributes::kNormal));
  EXPECT_FALSE(PathExists(Path("~ch7ffffff0-3.tmp")));
}

// ---- File stamps --------------------------------------------------------------------

// The stamp of `path`; a failure of the test when it can't be had.
FileStamp StampOf(const std::string& path) {
  FileStamp stamp;
  EXPECT_OK(StampFile(path, &stamp)) << path;
  return stamp;
}

// Moves the file's last-write time by `shift`, as a copy or an archiver sets
// it.
void ShiftLastWriteTime(const std::string& path, std::chrono::hours shift) {
  const std::filesystem::path native = std::filesystem::u8path(NativePath(path));
  std::filesystem::last_write_time(native, std::filesystem::last_write_time(native) + shift);
}

TEST_F(FilesTest, StampTellsTheFileAndEveryChangeToIt) {
  const std::string file = File("caps.db", "content");
  const FileStamp first = StampOf(file);
  EXPECT_EQ(first.size, 7u);
  EXPECT_FALSE(first.link);
  EXPECT_EQ(StampOf(file), first) << "nothing changed";

  const std::string other = File("other.db", "content");
  EXPECT_FALSE(StampOf(other).SameFile(first));

  WaitOutTimestampGranularity();
  ShiftLastWriteTime(file, std::chrono::hours(-1));
  const FileStamp retimed = StampOf(file);
  EXPECT_TRUE(retimed.SameFile(first));
  EXPECT_EQ(retimed.size, first.size);
  EXPECT_NE(retimed.lastWriteTime, first.lastWriteTime);
  EXPECT_NE(retimed.changeTime, first.changeTime);
  EXPECT_NE(retimed, first);

  // Content of the same size, its last-write time put back: the change time
  // still tells.
  const std::filesystem::path native = std::filesystem::u8path(NativePath(file));
  const auto lastWrite = std::filesystem::last_write_time(native);
  WaitOutTimestampGranularity();
  ASSERT_TRUE(WriteWholeFile(file, "CONTENT"));
  std::filesystem::last_write_time(native, lastWrite);
  const FileStamp rewritten = StampOf(file);
  EXPECT_TRUE(rewritten.SameFile(first));
  EXPECT_EQ(rewritten.size, retimed.size);
  EXPECT_EQ(rewritten.lastWriteTime, retimed.lastWriteTime);
  EXPECT_NE(rewritten.changeTime, retimed.changeTime);
  EXPECT_NE(rewritten, retimed);

  ASSERT_TRUE(WriteWholeFile(file, "longer content"));
  EXPECT_EQ(StampOf(file).size, 14u);

  const FileStamp moved = StampOf(other);
  ASSERT_OK(MoveFileReplacing(other, file));
  const FileStamp replaced = StampOf(file);
  EXPECT_TRUE(replaced.SameFile(moved));
  EXPECT_FALSE(replaced.SameFile(first));
}

// A stamp is racy until the clock it is read against, less its step, has
// moved past the last write; a file system of whole seconds is racy for two.
TEST(RacyStamp, HoldsUntilTheClockIsPastTheLastWrite) {
  constexpr std::int64_t kSecond = 1000000000;
  const std::int64_t write = 1700000000 * kSecond + 123456789;
  const struct {
    const char* what;
    std::int64_t lastWrite;
    std::int64_t takenAt;
    std::int64_t step;
    bool racy;
  } kCases[] = {
      {"the coarse clock still at the write's tick", write, write, 0, true},
      {"the coarse clock one nanosecond past it", write, write + 1, 0, false},
      {"a written time ahead of the coarse clock (fine-grained)", write + 5, write, 0, true},
      {"a finer clock within the step", write, write + 4000000, 8000000, true},
      {"a finer clock past the step", write, write + 8000001, 8000000, false},
      {"whole seconds, within two", 1700000000 * kSecond, 1700000001 * kSecond, 0, true},
      {"whole seconds, past two", 1700000000 * kSecond, 1700000002 * kSecond + 1, 0, false},
  };
  for (const auto& c : kCases) {
    const std::int64_t change = c.lastWrite;
    EXPECT_EQ(platform::RacyStamp(c.lastWrite, change, c.takenAt, kSecond, c.step), c.racy) << c.what;
  }
}

// Right after a write the stamp is racy; once the clock file times come
// from has moved on, it is not, and a later write shows in it.
TEST_F(FilesTest, StampRightAfterAWriteIsRacyUntilTheClockMovesOn) {
  const std::string file = File("caps.db", "content");
  // The clock may move on between the write and the stamp: a few tries.
  bool racy = false;
  for (int attempt = 0; attempt < 10 && !racy; ++attempt) {
    ASSERT_TRUE(WriteWholeFile(file, "CONTENT"));
    racy = StampOf(file).racy;
  }
  EXPECT_TRUE(racy);
  WaitOutTimestampGranularity();
  const FileStamp settled = StampOf(file);
  EXPECT_FALSE(settled.racy);
  ASSERT_TRUE(WriteWholeFile(file, "content"));
  EXPECT_NE(StampOf(file), settled);
}

TEST_F(FilesTest, StampOfNothingLeavesTheStampAlone) {
  FileStamp stamp;
  stamp.size = 42;
  EXPECT_EQ(StampFile(Path("missing"), &stamp), Code::kNotFound);
  EXPECT_EQ(StampFile(In(Path("no-folder"), "caps.db"), &stamp), Code::kNotFound);
  EXPECT_EQ(stamp.size, 42u);
  EXPECT_EQ(StampFile(File("caps.db"), nullptr), Code::kBadPath);
}

// ---- Shared file access --------------------------------------------------------------

TEST_F(FilesTest, OpenSharedAllowsOtherOpenings) {
  const std::string path = Path("shared");
  UniqueFile writer;
  ASSERT_OK(OpenFileShared(path, "wb", &writer));
  ASSERT_TRUE(writer);
  ASSERT_GE(std::fputs("abc", writer.get()), 0);
  std::fflush(writer.get());
  UniqueFile reader;
  ASSERT_OK(OpenFileShared(path, "rb", &reader));
  ASSERT_TRUE(reader);
  char text[8] = {};
  EXPECT_EQ(std::fread(text, 1, sizeof text - 1, reader.get()), 3u);
  EXPECT_STREQ(text, "abc");
  UniqueFile second;
  EXPECT_OK(OpenFileShared(path, "ab", &second));
  EXPECT_TRUE(second);
}

TEST_F(FilesTest, OpenSharedFailures) {
  UniqueFile file;
  EXPECT_EQ(OpenFileShared(Path("missing"), "rb", &file), Code::kNotFound);
  EXPECT_EQ(OpenFileShared(Path("x"), nullptr, &file), Code::kBadPath);
  EXPECT_EQ(OpenFileShared(In(Path("no-folder"), "x"), "wb", &file), Code::kNotFound);
  EXPECT_FALSE(file);
  EXPECT_FALSE(PathExists(Path("no-folder")));
}

TEST_F(FilesTest, OpenSharedRefusesWritingReadOnlyFile) {
#if defined(_WIN32)
  GTEST_SKIP() << "Wine opens a read-only file for writing that Windows refuses";
#endif
  const std::string file = File("ro", "kept");
  ASSERT_TRUE(SetReadOnly(file, true));
  UniqueFile opened;
  EXPECT_EQ(OpenFileShared(file, "wb", &opened), Code::kAccessDenied);
  EXPECT_FALSE(opened);
  EXPECT_EQ(ReadWholeFile(file), "kept");
}

TEST_F(FilesTest, OpenForReadingSaysWhatStandsAtThePath) {
  const std::string folder = Path("folder");
  ASSERT_OK(CreateFolder(folder));
  const std::string readOnly = File("ro", "read-only");
  ASSERT_TRUE(SetReadOnly(readOnly, true));
  const struct {
    std::string path;
    Found found;
    const char* content;
  } kCases[] = {
      {File("doc.xml", "abc"), Found::kFile, "abc"},
      {readOnly, Found::kFile, "read-only"},
      {folder, Found::kFolder, nullptr},
      {Path("missing"), Found::kNothing, nullptr},
      {In(Path("no-folder"), "x"), Found::kNothing, nullptr},
      {"", Found::kNothing, nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.path);
    OpenedForReading opened;
    opened.found = Found::kFile;
    ASSERT_OK(OpenForReading(c.path, &opened));
    EXPECT_EQ(opened.found, c.found);
    ASSERT_EQ(opened.file != nullptr, c.content != nullptr);
    if (c.content == nullptr) continue;
    char text[16] = {};
    EXPECT_EQ(std::fread(text, 1, sizeof text - 1, opened.file.get()), std::strlen(c.content));
    EXPECT_STREQ(text, c.content);
  }
  EXPECT_TRUE(SetReadOnly(readOnly, false));
}

TEST_F(FilesTest, OpenForReadingLetsOthersWriteMeanwhile) {
  const std::string path = File("shared", "abc");
  OpenedForReading opened;
  ASSERT_OK(OpenForReading(path, &opened));
  ASSERT_EQ(opened.found, Found::kFile);
  UniqueFile writer;
  EXPECT_OK(OpenFileShared(path, "ab", &writer));
  EXPECT_TRUE(writer);
}

TEST_F(FilesTest, WriteDurablyCreatesAndReplaces) {
  const std::string path = Path("doc.xml");
  EXPECT_OK(WriteFileDurably(path, "first"));
  EXPECT_EQ(ReadWholeFile(path), "first");
  EXPECT_OK(WriteFileDurably(path, std::string("se\0cond", 7)));
  EXPECT_EQ(ReadWholeFile(path), std::string("se\0cond", 7));
  EXPECT_OK(WriteFileDurably(path, ""));
  EXPECT_EQ(ReadWholeFile(path), "");
  EXPECT_EQ(FolderNames(work_), std::vector<std::string>{"doc.xml"});
}

TEST_F(FilesTest, WriteDurablyNeverTouchesReadOnlyTarget) {
  const std::string path = File("doc.xml", "old");
  ASSERT_TRUE(SetReadOnly(path, true));
  EXPECT_EQ(WriteFileDurably(path, "new"), Code::kAccessDenied);
  EXPECT_EQ(ReadWholeFile(path), "old");
  EXPECT_TRUE(IsReadOnly(path));
  EXPECT_EQ(FolderNames(work_), std::vector<std::string>{"doc.xml"});
}

TEST_F(FilesTest, WriteDurablyFailures) {
  EXPECT_EQ(WriteFileDurably(machine_.scratch(), "x"), Code::kAccessDenied);
  EXPECT_EQ(WriteFileDurably(In(Path("no-folder"), "doc.xml"), "x"), Code::kNotFound);
  EXPECT_FALSE(PathExists(Path("no-folder")));
  EXPECT_EQ(WriteFileDurably("", "x"), Code::kBadPath);
  EXPECT_TRUE(FolderNames(work_).empty());
}

TEST_F(FilesTest, WriteDurablyWhileTheTargetIsOpen) {
  const std::string path = File("doc.xml", "old");
  UniqueFile reader;
  ASSERT_OK(OpenFileShared(path, "rb", &reader));
  EXPECT_OK(WriteFileDurably(path, "new"));
  reader.reset();
  EXPECT_EQ(ReadWholeFile(path), "new");
  EXPECT_EQ(FolderNames(work_), std::vector<std::string>{"doc.xml"});
}

// ---- Folder listing -----------------------------------------------------------------------

TEST_F(FilesTest, ListFolderInNtfsOrder) {
  for (const char* name : {"b.txt", "_x", "A.txt", "a1", "C"}) File(name);
  ASSERT_OK(CreateFolder(Path("c0")));
  std::vector<std::u16string> names = {u"stale"};
  ASSERT_OK(ListFolder(work_, &names));
  // Upper-cased code units: "A.TXT" < "A1" < "B.TXT" < "C" < "C0" < "_X".
  const std::vector<std::u16string> expected = {u"A.txt", u"a1", u"b.txt", u"C", u"c0", u"_x"};
  EXPECT_EQ(names, expected);
}

TEST_F(FilesTest, ListFolderUpperCasesBeyondAscii) {
  // U+00E9 upper-cases to U+00C9, which sorts after "F" (U+0046) and before
  // U+00F0, whose capital is U+00D0.
  for (const char* name : {"\xC3\xB0", "f", "\xC3\xA9" "b", "\xC3\x89" "a"}) File(name);
  std::vector<std::u16string> names;
  ASSERT_OK(ListFolder(work_, &names));
  const std::vector<std::u16string> expected = {u"f", u"\u00C9a", u"\u00E9b", u"\u00F0"};
  EXPECT_EQ(names, expected);
}

TEST_F(FilesTest, ListFolderEmptyAndMissing) {
  std::vector<std::u16string> names = {u"stale"};
  ASSERT_OK(ListFolder(work_, &names));
  EXPECT_TRUE(names.empty());
  names = {u"kept"};
  EXPECT_EQ(ListFolder(Path("missing"), &names), Code::kNotFound);
  EXPECT_EQ(names, std::vector<std::u16string>{u"kept"});
}

// ---- Paths handed to libraries ------------------------------------------------------------

TEST(NativePath, SeparatorsForTheOs) {
#if defined(_WIN32)
  EXPECT_EQ(NativePath("C:\\a/b\\c"), "C:\\a/b\\c");
#else
  EXPECT_EQ(NativePath("/tmp\\a/b\\c"), "/tmp/a/b/c");
#endif
  EXPECT_EQ(NativePath(""), "");
}

// What stands at a path, described without following a link: a file's head
// is read from the file itself, never through a link to it.
TEST_F(FilesTest, DescribePathNeverReadsThroughALink) {
  const std::string content(150, 'h');
  const std::string file = File("file", content);
  std::error_code error;
  std::filesystem::create_symlink(std::filesystem::u8path(NativePath(file)),
                                  std::filesystem::u8path(NativePath(Path("link"))), error);
  const struct {
    std::string path;
    PathFacts::Kind kind;
    std::string head;
  } kCases[] = {
      {file, PathFacts::Kind::kFile, content.substr(0, kPathHeadBytes)},
      {work_, PathFacts::Kind::kFolder, ""},
      {Path("missing"), PathFacts::Kind::kNothing, ""},
      {Path("link"), error ? PathFacts::Kind::kNothing : PathFacts::Kind::kLink, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.path);
    PathFacts facts;
    ASSERT_OK(DescribePath(c.path, &facts));
    EXPECT_EQ(facts.kind, c.kind);
    EXPECT_EQ(facts.head, c.head);
  }
}

}  // namespace
