#include "support/test_machine.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "fs/folders.h"
#include "support/disk.h"

using customhooks::fs::LocateCommonFilesFolder;

namespace stdfs = std::filesystem;

void SetTestEnv(const char* name, const char* value) {
#if defined(_WIN32)
  _putenv_s(name, value ? value : "");
#else
  if (value) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
#endif
}

bool RunningUnderWine() {
#if defined(_WIN32)
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

namespace {

// Removes the tree at `root`. Read-only leftovers, which Windows will not
// delete and a test may leave (a database made read-only), must not stop
// the clean-up, nor the next test's machine.
void RemoveTree(const stdfs::path& root) {
  std::error_code ec;
  for (auto it = stdfs::recursive_directory_iterator(root, ec); !ec && it != stdfs::recursive_directory_iterator();
       it.increment(ec)) {
    stdfs::permissions(it->path(), stdfs::perms::owner_all, stdfs::perm_options::add, ec);
  }
  stdfs::remove_all(root, ec);
}

}  // namespace

TestMachine::TestMachine() {
  std::random_device rd;
  stdfs::path dir = stdfs::temp_directory_path() / ("ch-test-" + std::to_string(rd()) + std::to_string(rd()));
  stdfs::create_directories(dir);
  scratch_ = dir.u8string();
  const std::string common = (dir / "Common Files").u8string();
  const std::string data = (dir / "ProgramData").u8string();
  stdfs::create_directories(stdfs::u8path(common));
  stdfs::create_directories(stdfs::u8path(data));
  // POSIX reads these; Windows reads its own folders and ignores them.
  SetTestEnv("CommonProgramFiles", common.c_str());
  SetTestEnv("CommonProgramFiles(x86)", common.c_str());
  SetTestEnv("ProgramData", data.c_str());
  std::string commonFiles;
  if (!LocateCommonFilesFolder(&commonFiles).ok()) {
    ADD_FAILURE() << "the Common Files folder cannot be determined";
    return;
  }
  commonData_ = commonFiles + "\\Orvik";
  RemoveTree(OnDisk(commonData_));
}

TestMachine::~TestMachine() {
  if (!commonData_.empty()) RemoveTree(OnDisk(commonData_));
  RemoveTree(stdfs::u8path(scratch_));
}

void WaitOutTimestampGranularity() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }
