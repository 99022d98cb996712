// File and folder tests and changes, on both targets. Paths use the module's
// backslash, which POSIX turns into "/" at the call.
#include "fs/files.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fs/paths.h"
#include "fs/platform.h"
#include "fs/text.h"
#include "fs_test_util.h"
#include "support/test_machine.h"

namespace {

class FilesTest : public ::testing::Test {
 protected:
  FilesTest() : work_(In(machine_.scratch(), "work")) { EXPECT_TRUE(CreateSingleFolder(work_)); }
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
  ASSERT_EQ(MakeDirectoryUtf8(folder.c_str()), 0);
  const std::string missing = Path("missing");

  EXPECT_EQ(PathExistsUtf8(file.c_str()), 1);
  EXPECT_EQ(PathExistsUtf8(folder.c_str()), 1);
  EXPECT_EQ(PathExistsUtf8(missing.c_str()), 0);
  EXPECT_EQ(PathExistsUtf8(nullptr), 0);
  EXPECT_EQ(PathExistsUtf8(""), 0);

  EXPECT_TRUE(FileExists(file));
  EXPECT_TRUE(FileExists(folder));
  EXPECT_FALSE(FileExists(missing));

  EXPECT_FALSE(IsDirectory(file));
  EXPECT_TRUE(IsDirectory(folder));
  EXPECT_FALSE(IsDirectory(missing));

  EXPECT_EQ(IsRegularFile(file), 1);
  EXPECT_EQ(IsRegularFile(folder), 0);
  EXPECT_EQ(IsRegularFile(missing), 0);
}

TEST_F(FilesTest, Attributes) {
  const std::string file = File("a.db");
  std::uint32_t attributes = 0;
  ASSERT_TRUE(GetPathAttributes(file, &attributes));
  EXPECT_EQ(attributes & (kAttributeDirectory | kAttributeReadOnly), 0u);
  SetReadOnly(file, true);
  ASSERT_TRUE(GetPathAttributes(file, &attributes));
  EXPECT_NE(attributes & kAttributeReadOnly, 0u);
  ASSERT_TRUE(GetPathAttributes(machine_.scratch(), &attributes));
  EXPECT_NE(attributes & kAttributeDirectory, 0u);
  attributes = 1234;
  EXPECT_FALSE(GetPathAttributes(Path("missing"), &attributes));
  EXPECT_EQ(attributes, 1234u);
}

TEST_F(FilesTest, NonAsciiNames) {
  const std::string name = "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80.db";
  const std::string file = File(name, "x");
  EXPECT_EQ(IsRegularFile(file), 1);
  std::vector<std::u16string> names;
  ASSERT_TRUE(ListFolder(work_, names));
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(WideToUtf8(names[0]), name);
}

// ---- Folder creation -----------------------------------------------------------

TEST_F(FilesTest, MakeDirectoryCreatesOneLevel) {
  const std::string folder = Path("one");
  EXPECT_EQ(MakeDirectoryUtf8(folder.c_str()), 0);
  EXPECT_TRUE(IsDirectory(folder));
}

TEST_F(FilesTest, MakeDirectoryOnExistingFolderGivesEexist) {
  errno = 0;
  EXPECT_EQ(MakeDirectoryUtf8(machine_.scratch().c_str()), -1);
  EXPECT_EQ(errno, EEXIST);
}

TEST_F(FilesTest, MakeDirectoryWithoutParentGivesEnoentAndCreatesNoParent) {
  const std::string parent = Path("no-parent");
  const std::string child = In(parent, "child");
  errno = 0;
  EXPECT_EQ(MakeDirectoryUtf8(child.c_str()), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(FileExists(parent));
}

TEST_F(FilesTest, MakeDirectoryRefusesNull) {
  errno = 0;
  EXPECT_EQ(MakeDirectoryUtf8(nullptr), -1);
  EXPECT_EQ(errno, EINVAL);
}

TEST_F(FilesTest, CreateSingleFolder) {
  const std::string folder = Path("single");
  EXPECT_TRUE(CreateSingleFolder(folder));
  EXPECT_TRUE(IsDirectory(folder));
  EXPECT_FALSE(CreateSingleFolder(folder));
  EXPECT_FALSE(CreateSingleFolder(In(Path("none"), "x")));
}

TEST_F(FilesTest, CreateDirectoryTreeCreatesEveryParent) {
  const std::string deep = In(In(Path("t1"), "t2"), "t3");
  EXPECT_EQ(CreateDirectoryTree(deep), 0);
  EXPECT_TRUE(IsDirectory(deep));
}

TEST_F(FilesTest, CreateDirectoryTreeOnExistingPathGives4) {
  EXPECT_EQ(CreateDirectoryTree(machine_.scratch()), 4);
  EXPECT_EQ(CreateDirectoryTree(File("f")), 4);
}

TEST_F(FilesTest, CreateDirectoryTreeWantsAFullPath) { EXPECT_EQ(CreateDirectoryTree("relative\\folder"), 4); }

TEST_F(FilesTest, EnsureDirectoryPathStatuses) {
  EXPECT_EQ(EnsureDirectoryPath(machine_.scratch()), 0);
  const std::string file = File("f");
  EXPECT_EQ(EnsureDirectoryPath(file), 4);
  const std::string deep = In(In(Path("e1"), "e2"), "e3");
  EXPECT_EQ(EnsureDirectoryPath(deep), 0);
  EXPECT_TRUE(IsDirectory(deep));
  EXPECT_EQ(EnsureDirectoryPath(deep), 0);
  // A file stands where a parent folder should be.
  EXPECT_EQ(EnsureDirectoryPath(In(In(file, "x"), "y")), 4);
  // Trailing separators are allowed.
  EXPECT_EQ(EnsureDirectoryPath(Path("e4") + "\\"), 0);
  EXPECT_TRUE(IsDirectory(Path("e4")));
}

// ---- File changes ------------------------------------------------------------------

TEST_F(FilesTest, ClearFileAttributesMakesAFileWritable) {
  const std::string file = File("ro");
  SetReadOnly(file, true);
  EXPECT_EQ(ClearFileAttributes(file), 0);
  EXPECT_FALSE(IsReadOnly(file));
  EXPECT_TRUE(WriteWholeFile(file, "changed"));
  EXPECT_EQ(ClearFileAttributes(Path("missing")), 1);
}

TEST_F(FilesTest, CopyReplacesAnExistingTarget) {
  const std::string source = File("source", "new content");
  const std::string target = File("target", "old");
  EXPECT_TRUE(CopyFileReplacing(source, target));
  EXPECT_EQ(ReadWholeFile(target), "new content");
  EXPECT_EQ(ReadWholeFile(source), "new content");
}

TEST_F(FilesTest, CopyOfReadOnlySourceGivesWritableTarget) {
  const std::string source = File("source", "data");
  SetReadOnly(source, true);
  const std::string target = Path("target");
  EXPECT_TRUE(CopyFileReplacing(source, target));
  EXPECT_EQ(ReadWholeFile(target), "data");
  EXPECT_FALSE(IsReadOnly(target));
  EXPECT_TRUE(IsReadOnly(source));
}

TEST_F(FilesTest, CopyOverwriteKeepsSourceAttributes) {
  const std::string source = File("source", "data");
  SetReadOnly(source, true);
  const std::string target = Path("target");
  EXPECT_TRUE(CopyFileOverwrite(source, target));
  EXPECT_TRUE(IsReadOnly(target));
}

TEST_F(FilesTest, CopyFailures) {
  const std::string target = File("target", "old");
  EXPECT_FALSE(CopyFileReplacing(Path("missing"), target));
  EXPECT_EQ(ReadWholeFile(target), "old");
  EXPECT_FALSE(CopyFileReplacing(target, In(Path("no-folder"), "t")));
}

TEST_F(FilesTest, CopyRefusesReadOnlyTarget) {
#if defined(_WIN32)
  GTEST_SKIP() << "Wine's CopyFileW overwrites a read-only target that Windows refuses";
#endif
  const std::string source = File("source", "new");
  const std::string target = File("target", "old");
  SetReadOnly(target, true);
  EXPECT_FALSE(CopyFileReplacing(source, target));
  EXPECT_EQ(ReadWholeFile(target), "old");
  EXPECT_TRUE(IsReadOnly(target));
}

TEST_F(FilesTest, MoveReplacesTarget) {
  const std::string source = File("source", "moved");
  const std::string target = File("target", "old");
  EXPECT_TRUE(MoveFileReplacing(source, target));
  EXPECT_EQ(ReadWholeFile(target), "moved");
  EXPECT_FALSE(FileExists(source));
  EXPECT_TRUE(MoveFileReplacing(target, Path("fresh")));
  EXPECT_FALSE(MoveFileReplacing(Path("missing"), target));
}

TEST_F(FilesTest, MoveRefusesReadOnlyTarget) {
#if defined(_WIN32)
  GTEST_SKIP() << "Wine's MoveFileExW replaces a read-only target that Windows refuses";
#endif
  const std::string source = File("source", "moved");
  const std::string target = File("target", "old");
  SetReadOnly(target, true);
  EXPECT_FALSE(MoveFileReplacing(source, target));
  EXPECT_EQ(ReadWholeFile(target), "old");
  EXPECT_TRUE(FileExists(source));
}

TEST_F(FilesTest, DeleteFile) {
  const std::string file = File("doomed");
  EXPECT_TRUE(DeleteFileUtf8(file));
  EXPECT_FALSE(FileExists(file));
  EXPECT_FALSE(DeleteFileUtf8(file));
  EXPECT_FALSE(DeleteFileUtf8(machine_.scratch()));
  EXPECT_TRUE(IsDirectory(machine_.scratch()));
}

// A flush may be asked for a name in a folder that others can write: it
// never creates a file there.
TEST_F(FilesTest, FlushCreatesNothingAndKeepsContent) {
  const std::string missing = Path("flushed");
  FlushFileToDisk(missing);
  EXPECT_FALSE(FileExists(missing));
  const std::string file = File("kept", "keep me");
  FlushFileToDisk(file);
  EXPECT_EQ(ReadWholeFile(file), "keep me");
  FlushFileToDisk(In(Path("no-folder"), "x"));
  EXPECT_FALSE(FileExists(Path("no-folder")));
}

// A writer killed in the middle of a write leaves its temporary file; the
// next write into the folder removes those of writers that no longer run.
TEST_F(FilesTest, NextWriteRemovesTemporariesOfEndedWriters) {
  char own[16];
  std::snprintf(own, sizeof own, "%08x", static_cast<unsigned>(fsplatform::ProcessId()));
  const std::string ended = File("~ch7ffffff0-0.tmp", "ended writer");
  const std::string ownTemporary = File(std::string("~ch") + own + "-7.tmp", "this process");
  const std::vector<std::string> others = {File("~chnot-a-pid.tmp"), File("~ch7ffffff0-.tmp"),
                                           File("~ch7ffffff0-1.txt"), File("note.tmp")};
  EXPECT_EQ(WriteFileDurably(Path("doc.xml"), "doc"), WriteResult::kWritten);
  EXPECT_FALSE(FileExists(ended));
  EXPECT_TRUE(FileExists(ownTemporary));
  for (const std::string& other : others) EXPECT_TRUE(FileExists(other)) << other;
  File("~ch7ffffff0-3.tmp", "ended writer");
  EXPECT_TRUE(CopyFileReplacing(Path("doc.xml"), Path("copy.xml")));
  EXPECT_FALSE(FileExists(Path("~ch7ffffff0-3.tmp")));
}

// ---- Shared file access --------------------------------------------------------------

TEST_F(FilesTest, OpenSharedAllowsOtherOpenings) {
  const std::string path = Path("shared");
  UniqueFile writer = OpenFileShared(path, "wb");
  ASSERT_TRUE(writer);
  ASSERT_GE(std::fputs("abc", writer.get()), 0);
  std::fflush(writer.get());
  UniqueFile reader = OpenFileShared(path, "rb");
  ASSERT_TRUE(reader);
  char text[8] = {};
  EXPECT_EQ(std::fread(text, 1, sizeof text - 1, reader.get()), 3u);
  EXPECT_STREQ(text, "abc");
  UniqueFile second = OpenFileShared(path, "ab");
  EXPECT_TRUE(second);
}

TEST_F(FilesTest, OpenSharedFailures) {
  EXPECT_FALSE(OpenFileShared(Path("missing"), "rb"));
  EXPECT_FALSE(OpenFileShared(Path("x"), nullptr));
  EXPECT_FALSE(OpenFileShared(In(Path("no-folder"), "x"), "wb"));
  EXPECT_FALSE(FileExists(Path("no-folder")));
}

TEST_F(FilesTest, OpenSharedRefusesWritingReadOnlyFile) {
#if defined(_WIN32)
  GTEST_SKIP() << "Wine opens a read-only file for writing that Windows refuses";
#endif
  const std::string file = File("ro", "kept");
  SetReadOnly(file, true);
  EXPECT_FALSE(OpenFileShared(file, "wb"));
  EXPECT_EQ(ReadWholeFile(file), "kept");
}

TEST_F(FilesTest, WriteDurablyCreatesAndReplaces) {
  const std::string path = Path("doc.xml");
  EXPECT_EQ(WriteFileDurably(path, "first"), WriteResult::kWritten);
  EXPECT_EQ(ReadWholeFile(path), "first");
  EXPECT_EQ(WriteFileDurably(path, std::string("se\0cond", 7)), WriteResult::kWritten);
  EXPECT_EQ(ReadWholeFile(path), std::string("se\0cond", 7));
  EXPECT_EQ(WriteFileDurably(path, ""), WriteResult::kWritten);
  EXPECT_EQ(ReadWholeFile(path), "");
  EXPECT_EQ(NamesIn(work_), std::vector<std::string>{"doc.xml"});
}

TEST_F(FilesTest, WriteDurablyNeverTouchesReadOnlyTarget) {
  const std::string path = File("doc.xml", "old");
  SetReadOnly(path, true);
  EXPECT_EQ(WriteFileDurably(path, "new"), WriteResult::kNotWritable);
  EXPECT_EQ(ReadWholeFile(path), "old");
  EXPECT_TRUE(IsReadOnly(path));
  EXPECT_EQ(NamesIn(work_), std::vector<std::string>{"doc.xml"});
}

TEST_F(FilesTest, WriteDurablyFailures) {
  EXPECT_EQ(WriteFileDurably(machine_.scratch(), "x"), WriteResult::kNotWritable);
  EXPECT_EQ(WriteFileDurably(In(Path("no-folder"), "doc.xml"), "x"), WriteResult::kNotWritable);
  EXPECT_FALSE(FileExists(Path("no-folder")));
  EXPECT_EQ(WriteFileDurably("", "x"), WriteResult::kNotWritable);
  EXPECT_TRUE(NamesIn(work_).empty());
}

TEST_F(FilesTest, WriteDurablyWhileTheTargetIsOpen) {
  const std::string path = File("doc.xml", "old");
  UniqueFile reader = OpenFileShared(path, "rb");
  ASSERT_TRUE(reader);
  EXPECT_EQ(WriteFileDurably(path, "new"), WriteResult::kWritten);
  reader.reset();
  EXPECT_EQ(ReadWholeFile(path), "new");
  EXPECT_EQ(NamesIn(work_), std::vector<std::string>{"doc.xml"});
}

// ---- Folder listing -----------------------------------------------------------------------

TEST_F(FilesTest, ListFolderInNtfsOrder) {
  for (const char* name : {"b.txt", "_x", "A.txt", "a1", "C"}) File(name);
  ASSERT_EQ(MakeDirectoryUtf8(Path("c0").c_str()), 0);
  std::vector<std::u16string> names = {u"stale"};
  ASSERT_TRUE(ListFolder(work_, names));
  // Upper-cased code units: "A.TXT" < "A1" < "B.TXT" < "C" < "C0" < "_X".
  const std::vector<std::u16string> expected = {u"A.txt", u"a1", u"b.txt", u"C", u"c0", u"_x"};
  EXPECT_EQ(names, expected);
}

TEST_F(FilesTest, ListFolderUpperCasesBeyondAscii) {
  // U+00E9 upper-cases to U+00C9, which sorts after "F" (U+0046) and before
  // U+00F0, whose capital is U+00D0.
  for (const char* name : {"\xC3\xB0", "f", "\xC3\xA9" "b", "\xC3\x89" "a"}) File(name);
  std::vector<std::u16string> names;
  ASSERT_TRUE(ListFolder(work_, names));
  const std::vector<std::u16string> expected = {u"f", u"\u00C9a", u"\u00E9b", u"\u00F0"};
  EXPECT_EQ(names, expected);
}

TEST_F(FilesTest, ListFolderEmptyAndMissing) {
  std::vector<std::u16string> names = {u"stale"};
  ASSERT_TRUE(ListFolder(work_, names));
  EXPECT_TRUE(names.empty());
  names = {u"kept"};
  EXPECT_FALSE(ListFolder(Path("missing"), names));
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

}  // namespace
