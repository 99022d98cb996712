#include "support/disk.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

#include <gtest/gtest.h>

#include "support/data_files.h"

namespace stdfs = std::filesystem;

namespace {

constexpr stdfs::perms kAnyWrite = stdfs::perms::owner_write | stdfs::perms::group_write | stdfs::perms::others_write;

}  // namespace

stdfs::path OnDisk(const std::string& path) {
#if defined(_WIN32)
  return stdfs::u8path(path);
#else
  return stdfs::u8path(Slashed(path));
#endif
}

std::string In(const std::string& folder, const std::string& name) { return folder + "\\" + name; }

bool IsFileOnDisk(const std::string& path) {
  std::error_code ec;
  return stdfs::is_regular_file(OnDisk(path), ec);
}

bool IsFolderOnDisk(const std::string& path) {
  std::error_code ec;
  return stdfs::is_directory(OnDisk(path), ec);
}

bool ExistsOnDisk(const std::string& path) {
  std::error_code ec;
  return stdfs::exists(stdfs::symlink_status(OnDisk(path), ec));
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

void MakeFolders(const std::string& folder) {
  std::error_code ec;
  stdfs::create_directories(OnDisk(folder), ec);
  EXPECT_FALSE(ec) << folder << ": " << ec.message();
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(OnDisk(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(OnDisk(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool SetReadOnly(const std::string& path, bool readOnly) {
  std::error_code ec;
  stdfs::permissions(OnDisk(path), readOnly ? kAnyWrite : stdfs::perms::owner_write,
                     readOnly ? stdfs::perm_options::remove : stdfs::perm_options::add, ec);
  return !ec;
}

bool IsReadOnly(const std::string& path) {
  std::error_code ec;
  return (stdfs::status(OnDisk(path), ec).permissions() & kAnyWrite) == stdfs::perms::none;
}
