#include "pcf_test_support.h"

#include <chrono>
#include <cstdlib>

#include <gtest/gtest.h>

#include "fs/files.h"
#include "fs/folders.h"
#include "support/status_test_support.h"
#include "support/test_machine.h"

using namespace customhooks::fs;

const char kProductCode[] = "{6C1A0B5E-3F2D-4E7A-9B8C-0D1E2F3A4B5C}";
const char kDriverCode[] = "{0F9E8D7C-6B5A-4938-A7B6-C5D4E3F2A1B0}";

std::string PcfFolder() {
  std::string commonFiles;
  if (!FindSpecialFolder(SpecialFolder::kCommonFilesX86, &commonFiles).ok()) {
    ADD_FAILURE() << "no Common Files folder";
    return std::string();
  }
  const std::string common = In(commonFiles, "Orvik");
  if (!PathExists(common)) {
    EXPECT_OK(CreateFolder(common)) << common;
  }
  return In(common, "PCF");
}

std::optional<std::string> LocateTestPcfFolder() {
  std::string folder = PcfFolder();
  if (folder.empty()) return std::nullopt;
  return folder;
}

std::string MakePcfFolder() {
  const std::string folder = PcfFolder();
  MakeFolders(folder);
  return folder;
}

std::string DocumentText(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n<Configuration>\r\n" + body + "</Configuration>";
}

FileHolder::FileHolder(const std::string& file, const std::string& scratch)
    : ready_(In(scratch, "held.ready")),
      release_(In(scratch, "held.release")),
      child_(CH_FILE_HOLDER_PATH, {NativePath(file), NativePath(ready_), NativePath(release_)}) {}

FileHolder::~FileHolder() { Release(); }

bool FileHolder::WaitUntilHeld() { return child_.WaitForFile(ready_); }

int FileHolder::Release() {
  WriteWholeFile(release_, "go");
  return child_.Wait();
}
