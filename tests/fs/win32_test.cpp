// What only Windows calls can check: the special folders a 32-bit process
// gets, the rights Everyone holds on a folder after GrantFolderAccess, and
// the sharing rule that makes WriteFileDurably write in place.
#include <windows.h>

#include <aclapi.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fs/access.h"
#include "fs/files.h"
#include "fs/folders.h"
#include "fs/shared_folder.h"
#include "fs/text.h"
#include "fs_test_util.h"
#include "support/disk.h"
#include "support/status_test_support.h"
#include "support/test_machine.h"

using namespace customhooks::fs;

namespace {

std::wstring WidePath(const std::string& path) {
  const std::u16string wide = Utf8ToWide(path);
  return std::wstring(wide.begin(), wide.end());
}

// The file rights the folder's access list allows Everyone (S-1-1-0), generic
// rights mapped to file rights. Wine keeps only what permission bits can
// express; Windows keeps the list itself. Both answer this question.
ACCESS_MASK EveryonesRights(const std::string& folder) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(WidePath(folder).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    ADD_FAILURE() << "the access list of " << folder << " cannot be read";
    return 0;
  }
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  ACCESS_MASK rights = 0;
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) continue;
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE || (allowed->Header.AceFlags & INHERIT_ONLY_ACE) != 0) {
      continue;
    }
    if (!EqualSid(const_cast<DWORD*>(&allowed->SidStart), everyone)) continue;
    ACCESS_MASK mask = allowed->Mask;
    MapGenericMask(&mask, &mapping);
    rights |= mask;
  }
  FreeSid(everyone);
  LocalFree(descriptor);
  return rights;
}

// The system a 32-bit process runs on: a 64-bit Windows, where it runs under
// WoW64 (Wine's 64-bit prefix, the default), or a 32-bit Windows (Wine's
// 32-bit prefix, named by WINEARCH=win32).
struct SystemFolders {
  bool wow64;
  std::string commonFiles;  // what every Common Files kind gives
};

SystemFolders ExpectedSystem() {
  const char* arch = std::getenv("WINEARCH");
  if (arch != nullptr && std::string(arch) == "win32") return {false, "C:\\Program Files\\Common Files"};
  return {true, "C:\\Program Files (x86)\\Common Files"};
}

TEST(SpecialFoldersOnWindows, ThirtyTwoBitProcessSeesOneCommonFilesFolder) {
  TestMachine machine;
  const SystemFolders expected = ExpectedSystem();
  BOOL wow64 = FALSE;
  ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
  ASSERT_EQ(wow64 != FALSE, expected.wow64) << "the process runs on another system than WINEARCH names";

  // Common Files and its x86 twin name one folder.
  EXPECT_EQ(Special(SpecialFolder::kCommonFiles), expected.commonFiles);
  EXPECT_EQ(Special(SpecialFolder::kCommonFilesX86), expected.commonFiles);
  EXPECT_EQ(Special(SpecialFolder::kCommonAppData), "C:\\ProgramData");
  std::string located;
  ASSERT_OK(LocateCommonFilesFolder(&located));
  EXPECT_EQ(located, expected.commonFiles);
}

TEST(GrantFolderAccessOnWindows, EveryoneMayWriteOnlyWhenAllowed) {
  TestMachine machine;
  const std::string folder = In(machine.scratch(), "Orvik PCD");
  ASSERT_OK(EnsureFolder(folder));

  GrantFolderAccess(folder, false);
  ACCESS_MASK rights = EveryonesRights(folder);
  EXPECT_EQ(rights & FILE_LIST_DIRECTORY, static_cast<ACCESS_MASK>(FILE_LIST_DIRECTORY));
  EXPECT_EQ(rights & FILE_ADD_FILE, 0u);

  GrantFolderAccess(folder, true);
  rights = EveryonesRights(folder);
  EXPECT_EQ(rights & FILE_LIST_DIRECTORY, static_cast<ACCESS_MASK>(FILE_LIST_DIRECTORY));
  EXPECT_EQ(rights & FILE_ADD_FILE, static_cast<ACCESS_MASK>(FILE_ADD_FILE));

  GrantFolderAccess(folder, false);
  EXPECT_EQ(EveryonesRights(folder) & FILE_ADD_FILE, 0u);
}

TEST(WriteFileDurablyOnWindows, WritesInPlaceWhenTheOpenTargetCannotBeReplaced) {
  TestMachine machine;
  const std::string folder = In(machine.scratch(), "docs");
  ASSERT_OK(CreateFolder(folder));
  const std::string source = In(folder, "source");
  const std::string target = In(folder, "target.xml");
  ASSERT_TRUE(WriteWholeFile(source, "new"));
  ASSERT_TRUE(WriteWholeFile(target, "old content"));
  UniqueFile reader;
  ASSERT_OK(OpenFileShared(target, "rb", &reader));

  // Opened without delete sharing, the target cannot be replaced...
  EXPECT_FALSE(MoveFileReplacing(source, target).ok());
  ASSERT_OK(RemoveFile(source));
  // ...so the bytes go into it in place, and no temporary file stays behind.
  EXPECT_OK(WriteFileDurably(target, "new"));
  reader.reset();
  EXPECT_EQ(ReadWholeFile(target), "new");
  EXPECT_EQ(FolderNames(folder), std::vector<std::string>{"target.xml"});
}

// The stamp is the system's own record of the file, and it can be had while
// another process holds the file open without sharing it.
TEST(FileStampsOnWindows, TheSystemsRecordEvenOfAFileHeldOpen) {
  TestMachine machine;
  const std::string file = In(machine.scratch(), "caps.db");
  const std::string hard = In(machine.scratch(), "hard.db");
  ASSERT_TRUE(WriteWholeFile(file, "content"));
  ASSERT_TRUE(CreateHardLinkW(WidePath(hard).c_str(), WidePath(file).c_str(), nullptr));
  const HANDLE held =
      CreateFileW(WidePath(file).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  BY_HANDLE_FILE_INFORMATION info;
  FILE_BASIC_INFO basic;
  const bool known = GetFileInformationByHandle(held, &info) &&
                     GetFileInformationByHandleEx(held, FileBasicInfo, &basic, sizeof basic);
  FileStamp stamp;
  FileStamp ofHard;
  const customhooks::Status stamped = StampFile(file, &stamp);
  const customhooks::Status hardStamped = StampFile(hard, &ofHard);
  CloseHandle(held);
  ASSERT_TRUE(known);
  ASSERT_OK(stamped);
  ASSERT_OK(hardStamped);
  EXPECT_EQ(stamp.volume, info.dwVolumeSerialNumber);
  EXPECT_EQ(stamp.fileIndex, (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
  EXPECT_EQ(stamp.size, 7u);
  EXPECT_EQ(stamp.lastWriteTime, basic.LastWriteTime.QuadPart);
  EXPECT_EQ(stamp.changeTime, basic.ChangeTime.QuadPart);
  EXPECT_FALSE(stamp.link);
  EXPECT_EQ(ofHard, stamp);
}

// The checked open in a folder that others can write, as SQLite calls it.
using CreateFileCall = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);

HANDLE CheckedCreate(const std::string& path, DWORD disposition) {
  const auto create = reinterpret_cast<CreateFileCall>(CheckedOpenCall().call);
  return create(WidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(CheckedOpen, TakesOnlyFilesOfTheirOwn) {
  EXPECT_STREQ(CheckedOpenCall().name, "CreateFileW");
  TestMachine machine;
  const std::string shared = In(machine.scratch(), "shared");
  const std::string secret = In(machine.scratch(), "secret.db");
  ASSERT_OK(EnsureFolder(shared));
  ASSERT_TRUE(WriteWholeFile(secret, "secret"));
  ASSERT_TRUE(WriteWholeFile(In(shared, "plain"), "plain"));
  ASSERT_TRUE(CreateHardLinkW(WidePath(In(shared, "hard")).c_str(), WidePath(secret).c_str(), nullptr));

  const HeldFolder folder(shared);
  ASSERT_TRUE(folder.held());
  const CheckedFolderScope scope(folder);
  const struct {
    const char* name;
    DWORD disposition;
    bool opens;
  } kCases[] = {
      {"plain", OPEN_EXISTING, true}, {"plain", OPEN_ALWAYS, true}, {"new", OPEN_ALWAYS, true},
      {"fresh", CREATE_NEW, true},    {"hard", OPEN_EXISTING, false}, {"hard", OPEN_ALWAYS, false},
  };
  for (const auto& c : kCases) {
    const HANDLE file = CheckedCreate(In(shared, c.name), c.disposition);
    EXPECT_EQ(file != INVALID_HANDLE_VALUE, c.opens) << c.name;
    if (file == INVALID_HANDLE_VALUE) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANT_ACCESS_FILE)) << c.name;
    } else {
      CloseHandle(file);
    }
  }
  EXPECT_EQ(ReadWholeFile(secret), "secret");
  EXPECT_TRUE(IsPlantedLink(In(shared, "hard")));
  EXPECT_OK(RemovePlantedLink(In(shared, "hard")));
  EXPECT_FALSE(PathExists(In(shared, "hard")));
  EXPECT_EQ(ReadWholeFile(secret), "secret");
}

}  // namespace
