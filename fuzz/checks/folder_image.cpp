#include "checks/folder_image.h"

#include <algorithm>
#include <fstream>
#include <system_error>

#include "checks/scratch.h"

namespace stdfs = std::filesystem;

namespace {

// True when the file holds exactly `bytes`: one unbuffered read of one byte
// more than expected tells a longer file apart without asking its size.
bool HoldsBytes(const stdfs::path& path, const std::string& bytes, std::string& scratch) {
  std::ifstream in;
  in.rdbuf()->pubsetbuf(nullptr, 0);
  in.open(path, std::ios::binary);
  if (!in.is_open()) return false;
  scratch.resize(bytes.size() + 1);
  in.read(scratch.data(), static_cast<std::streamsize>(scratch.size()));
  return !in.bad() && in.gcount() == static_cast<std::streamsize>(bytes.size()) &&
         std::equal(bytes.begin(), bytes.end(), scratch.begin());
}

// A read-only file or folder (a check may have made one) must not stop a
// change: Windows refuses to delete or rewrite a read-only file.
void MakeWritable(const stdfs::path& path) {
  std::error_code ec;
  stdfs::permissions(path, stdfs::perms::owner_write, stdfs::perm_options::add, ec);
}

bool RemoveWhole(const stdfs::path& path) {
  std::error_code ec;
  if (stdfs::is_directory(stdfs::symlink_status(path, ec))) {
    for (auto it = stdfs::recursive_directory_iterator(path, ec);
         !ec && it != stdfs::recursive_directory_iterator(); it.increment(ec)) {
      MakeWritable(it->path());
    }
  }
  MakeWritable(path);
  stdfs::remove_all(path, ec);
  return !ec;
}

bool SetPermissions(const stdfs::path& path, stdfs::perms wanted) {
  std::error_code ec;
  const stdfs::file_status status = stdfs::status(path, ec);
  if (ec) return false;
  if (status.permissions() == wanted) return true;
  stdfs::permissions(path, wanted, stdfs::perm_options::replace, ec);
  return !ec;
}

}  // namespace

bool FolderImage::Capture(const std::vector<std::string>& roots) {
  roots_.clear();
  entries_.clear();
  std::error_code ec;
  for (const std::string& root : roots) {
    const stdfs::path top = stdfs::u8path(root);
    Entry folder;
    folder.folder = true;
    folder.permissions = stdfs::status(top, ec).permissions();
    if (ec || !stdfs::is_directory(top, ec)) return false;
    roots_.push_back(top);
    entries_[top.native()] = folder;
    for (auto it = stdfs::recursive_directory_iterator(top, ec);
         !ec && it != stdfs::recursive_directory_iterator(); it.increment(ec)) {
      const stdfs::file_status status = it->symlink_status(ec);
      if (ec) break;
      Entry entry;
      entry.permissions = status.permissions();
      if (stdfs::is_directory(status)) {
        entry.folder = true;
      } else if (!stdfs::is_regular_file(status) || !ReadBytes(it->path().u8string(), entry.bytes)) {
        ec = std::make_error_code(std::errc::not_supported);
        break;
      }
      entries_[it->path().native()] = std::move(entry);
    }
    if (ec) {
      roots_.clear();
      entries_.clear();
      return false;
    }
  }
  return true;
}

bool FolderImage::RemoveAdded(const stdfs::path& folder) {
  std::error_code ec;
  std::vector<stdfs::path> added;
  for (stdfs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const stdfs::path& path = it->path();
    const bool isFolder = stdfs::is_directory(it->symlink_status(ec));
    const auto entry = entries_.find(path.native());
    if (entry == entries_.end() || entry->second.folder != isFolder) {
      // Removed after the listing ends: removing under a running listing
      // is not portable.
      added.push_back(path);
      continue;
    }
    entry->second.present = true;
    if (isFolder) {
      if (!RemoveAdded(path)) return false;
    }
  }
  if (ec) return false;
  bool removed = true;
  for (const stdfs::path& path : added) removed = RemoveWhole(path) && removed;
  return removed;
}

bool FolderImage::RestoreEntry(const stdfs::path& path, const Entry& entry) {
  std::error_code ec;
  if (entry.folder) return entry.present || stdfs::create_directory(path, ec);
  if (entry.present && HoldsBytes(path, entry.bytes, scratch_)) return SetPermissions(path, entry.permissions);
  if (entry.present) MakeWritable(path);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(entry.bytes.data(), static_cast<std::streamsize>(entry.bytes.size()));
    if (!out.flush()) return false;
  }
  return SetPermissions(path, entry.permissions);
}

bool FolderImage::Restore() {
  for (auto& [path, entry] : entries_) entry.present = false;
  bool restored = true;
  for (const stdfs::path& root : roots_) {
    std::error_code ec;
    if (!stdfs::is_directory(root, ec)) {
      restored = RemoveWhole(root) && stdfs::create_directories(root, ec) && restored;
    } else {
      entries_[root.native()].present = true;
    }
    restored = RemoveAdded(root) && restored;
  }
  for (const auto& [path, entry] : entries_) restored = RestoreEntry(path, entry) && restored;
  // Folders last, deepest first: a folder that is read-only again must not
  // stop the restoring of what it holds.
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    if (it->second.folder) restored = SetPermissions(it->first, it->second.permissions) && restored;
  }
  return restored;
}
