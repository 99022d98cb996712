// A failed system call's Status names the call, the path it was given and
// the system's error number, on both targets, through the platform's Env on
// the real disk.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fs/env.h"
#include "fs/files.h"
#include "fs/text.h"
#include "support/disk.h"
#include "support/status_test_support.h"
#include "support/test_machine.h"

using namespace customhooks::fs;
using customhooks::Status;

namespace {

// The POSIX or the Windows form, as the target is.
template <typename T>
T OnThisSystem(T posix, T windows) {
#if defined(_WIN32)
  static_cast<void>(posix);
  return windows;
#else
  static_cast<void>(windows);
  return posix;
#endif
}

// "<call> <path>: <kind> " followed by the number alone.
void ExpectNamesCall(const Status& status, const std::string& call, const std::string& path) {
  const std::string named = call + " " + path + ": " + OnThisSystem<std::string>("errno ", "error ");
  const std::string context(status.context());
  ASSERT_EQ(context.substr(0, named.size()), named) << status.ToString();
  const std::string number = context.substr(named.size());
  ASSERT_FALSE(number.empty()) << status.ToString();
  for (const char digit : number) EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(digit))) << status.ToString();
  EXPECT_NE(number, "0") << status.ToString();
}

TEST(CallFailures, NameTheCallThePathAndTheNumber) {
  TestMachine machine;
  Env& env = *Env::Default();
  const std::string folder = In(machine.scratch(), "Orvik PCD");
  MakeFolders(folder);
  const std::string file = In(folder, "pcd.db");
  ASSERT_TRUE(WriteWholeFile(file, "content"));
  const std::string missing = In(folder, "missing.db");
  const std::string missingFolder = In(folder, "missing");
  const std::string inMissingFolder = In(missingFolder, "pcd.db");
  const auto wide = [](const std::string& path) { return Utf8ToWide(path); };
  const auto both = [](const std::string& from, const std::string& to) {
    return NativePath(from) + " -> " + NativePath(to);
  };

  const struct {
    const char* what;
    std::function<Status()> run;
    Code code;
    const char* call;
    std::string path;  // as the context names it
  } kCases[] = {
      {"attributes of a missing file",
       [&] {
         std::uint32_t attributes = 0;
         return env.GetAttributes(wide(missing), &attributes);
       },
       Code::kNotFound, OnThisSystem("stat", "GetFileAttributesW"), NativePath(missing)},
      {"stamp of a missing file",
       [&] {
         FileStamp stamp;
         return env.GetFileStamp(wide(missing), Links::kOwn, &stamp);
       },
       Code::kNotFound, OnThisSystem("lstat", "CreateFileW"), NativePath(missing)},
      {"listing of a missing folder",
       [&] {
         std::vector<std::u16string> names;
         return env.ListFolder(wide(missingFolder), &names);
       },
       Code::kNotFound, OnThisSystem("opendir", "FindFirstFileW"),
       NativePath(OnThisSystem(missingFolder, In(missingFolder, "*")))},
      {"a folder that exists, created", [&] { return env.CreateFolder(wide(folder)); }, Code::kExists,
       OnThisSystem("mkdir", "CreateDirectoryW"), NativePath(folder)},
      {"a missing file, opened for reading",
       [&] {
         Found found = Found::kNothing;
         std::FILE* opened = nullptr;
         return env.OpenForReading(wide(missing), &found, &opened);
       },
       Code::kNotFound, OnThisSystem("fopen", "CreateFileW"), NativePath(missing)},
      {"a file in a missing folder, opened shared",
       [&] {
         std::FILE* opened = nullptr;
         return env.OpenShared(wide(inMissingFolder), "rb", &opened);
       },
       Code::kNotFound, OnThisSystem("fopen", "_wfsopen"), NativePath(inMissingFolder)},
      {"a missing file, moved", [&] { return env.MoveFileReplacing(wide(missing), wide(file)); }, Code::kNotFound,
       OnThisSystem("lstat", "MoveFileExW"), OnThisSystem(NativePath(missing), both(missing, file))},
      {"a file moved into a missing folder", [&] { return env.MoveFileReplacing(wide(file), wide(inMissingFolder)); },
       Code::kNotFound, OnThisSystem("rename", "MoveFileExW"), both(file, inMissingFolder)},
      {"a missing file, copied",
       [&] { return env.CopyOver(wide(missing), wide(In(folder, "copy.db")), WriteMode::kCreateNew); },
       Code::kNotFound, OnThisSystem("open", "CopyFileW"),
       OnThisSystem(NativePath(missing), both(missing, In(folder, "copy.db")))},
      {"a new file written over one that exists",
       [&] { return env.WriteWholeFile(wide(file), "new", WriteMode::kCreateNew); }, Code::kExists,
       OnThisSystem("open", "CreateFileW"), NativePath(file)},
      {"a missing file, removed", [&] { return env.RemoveFile(wide(missing)); }, Code::kNotFound,
       OnThisSystem("lstat", "DeleteFileW"), NativePath(missing)},
      {"attributes of a missing file, cleared", [&] { return env.SetAttributesNormal(wide(missing)); },
       Code::kNotFound, OnThisSystem("stat", "SetFileAttributesW"), NativePath(missing)},
      {"a missing file, flushed", [&] { return env.FlushFile(wide(missing)); }, Code::kNotFound,
       OnThisSystem("open", "CreateFileW"), NativePath(missing)},
      {"access of a missing folder, set", [&] { return env.SetFolderAccess(wide(missingFolder), {}); },
       Code::kNotFound, OnThisSystem("open", "CreateFileW"), NativePath(missingFolder)},
  };
  for (const auto& failing : kCases) {
    SCOPED_TRACE(failing.what);
    const Status status = failing.run();
    EXPECT_EQ(status, failing.code);
    ExpectNamesCall(status, failing.call, failing.path);
  }
  EXPECT_EQ(ReadWholeFile(file), "content") << "no failed call may touch the file";
  EXPECT_FALSE(ExistsOnDisk(In(folder, "copy.db")));
}

TEST(CallFailures, WithoutAPathNameTheCallAlone) {
  const Status status = CallFailure(Code::kFailed, "SHGetFolderPathW", "", "error", 1234);
  EXPECT_EQ(status, Code::kFailed);
  EXPECT_EQ(status.context(), "SHGetFolderPathW: error 1234");
  EXPECT_EQ(CallFailure(Code::kNotFound, "stat", "/x/pcd.db", "errno", 2).ToString(),
            "fs not found: stat /x/pcd.db: errno 2");
}

}  // namespace
