#include "fs_test_util.h"

#include <algorithm>
#include <filesystem>

#include "fs/files.h"
#include "fs/folders.h"

using namespace customhooks::fs;

namespace stdfs = std::filesystem;

std::string In(const std::string& folder, const std::string& name) { return folder + "\\" + name; }

void SetReadOnly(const std::string& path, bool readOnly) {
  const auto write = stdfs::perms::owner_write | stdfs::perms::group_write | stdfs::perms::others_write;
  stdfs::permissions(stdfs::u8path(NativePath(path)), readOnly ? write : stdfs::perms::owner_write,
                     readOnly ? stdfs::perm_options::remove : stdfs::perm_options::add);
}

bool IsReadOnly(const std::string& path) {
  const auto write = stdfs::perms::owner_write | stdfs::perms::group_write | stdfs::perms::others_write;
  return (stdfs::status(stdfs::u8path(NativePath(path))).permissions() & write) == stdfs::perms::none;
}

std::string Special(SpecialFolder folder) {
  std::string found;
  return FindSpecialFolder(folder, &found).ok() ? found : std::string("<failed>");
}

std::vector<std::string> NamesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : stdfs::directory_iterator(stdfs::u8path(NativePath(folder)))) {
    names.push_back(entry.path().filename().u8string());
  }
  std::sort(names.begin(), names.end());
  return names;
}
