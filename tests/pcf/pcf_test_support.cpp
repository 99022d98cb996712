#include "pcf_test_support.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "fs/files.h"
#include "fs/folders.h"
#include "support/status_test_support.h"
#include "support/test_machine.h"

using namespace customhooks::fs;

namespace stdfs = std::filesystem;

const char kProductCode[] = "{6C1A0B5E-3F2D-4E7A-9B8C-0D1E2F3A4B5C}";
const char kDriverCode[] = "{0F9E8D7C-6B5A-4938-A7B6-C5D4E3F2A1B0}";

namespace {

stdfs::path OnDisk(const std::string& path) { return stdfs::u8path(NativePath(path)); }


}  // namespace

std::string Child(const std::string& folder, const std::string& name) { return folder + "\\" + name; }

std::string PcfFolder() {
  std::string commonFiles;
  if (!FindSpecialFolder(SpecialFolder::kCommonFilesX86, &commonFiles).ok()) {
    ADD_FAILURE() << "no Common Files folder";
    return std::string();
  }
  const std::string common = Child(commonFiles, "Orvik");
  if (!PathExists(common)) {
    EXPECT_OK(CreateFolder(common)) << common;
  }
  return Child(common, "PCF");
}

std::optional<std::string> LocateTestPcfFolder() {
  std::string folder = PcfFolder();
  if (folder.empty()) return std::nullopt;
  return folder;
}

std::string MakePcfFolder() {
  const std::string folder = PcfFolder();
  std::error_code ec;
  stdfs::create_directories(OnDisk(folder), ec);
  EXPECT_FALSE(ec) << ec.message();
  return folder;
}

std::string DocumentText(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n<Configuration>\r\n" + body + "</Configuration>";
}

bool FileOnDisk(const std::string& path) {
  std::error_code ec;
  return stdfs::is_regular_file(OnDisk(path), ec);
}

std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (stdfs::directory_iterator it(OnDisk(folder), ec), end; !ec && it != end; it.increment(ec)) {
    names.push_back(it->path().filename().u8string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void SetReadOnly(const std::string& path, bool readOnly) {
  std::error_code ec;
  stdfs::permissions(OnDisk(path),
                     stdfs::perms::owner_write | stdfs::perms::group_write | stdfs::perms::others_write,
                     readOnly ? stdfs::perm_options::remove : stdfs::perm_options::add, ec);
  EXPECT_FALSE(ec) << ec.message();
}

FileHolder::FileHolder(const std::string& file, const std::string& scratch)
    : ready_(Child(scratch, "held.ready")),
      release_(Child(scratch, "held.release")),
      child_(CH_FILE_HOLDER_PATH, {NativePath(file), NativePath(ready_), NativePath(release_)}) {}

FileHolder::~FileHolder() { Release(); }

bool FileHolder::WaitUntilHeld() { return child_.WaitForFile(ready_); }

int FileHolder::Release() {
  WriteWholeFile(release_, "go");
  return child_.Wait();
}
