// The files and folders below a few roots, held in memory, so that a check
// can lay a machine out once and bring it back before every input instead of
// building it again.
#ifndef CUSTOMHOOKS_FUZZ_CHECKS_FOLDER_IMAGE_H_
#define CUSTOMHOOKS_FUZZ_CHECKS_FOLDER_IMAGE_H_

#include <filesystem>
#include <map>
#include <string>
#include <vector>

class FolderImage {
 public:
  // Takes in everything below `roots` (native paths, each an existing
  // folder): every folder and file with its permissions, and every file's
  // bytes. False when something cannot be read; the image is then empty.
  bool Capture(const std::vector<std::string>& roots);

  // Brings the roots back to the captured state. What was added is removed
  // (also in place of a captured entry of the other kind), what was removed
  // is made again, a file is rewritten only when its bytes differ and
  // permissions are set only where they differ, so an input that changed
  // little costs little. False when something cannot be restored.
  bool Restore();

 private:
  struct Entry {
    bool folder = false;
    std::filesystem::perms permissions = std::filesystem::perms::none;
    std::string bytes;
    bool present = false;  // found in place by the running Restore
  };
  using Entries = std::map<std::filesystem::path::string_type, Entry>;

  // Removes whatever below `folder` the image does not hold, or holds as the
  // other kind; marks what stays present.
  bool RemoveAdded(const std::filesystem::path& folder);
  bool RestoreEntry(const std::filesystem::path& path, const Entry& entry);

  std::vector<std::filesystem::path> roots_;
  // Keyed by native path text, which puts a folder before everything inside
  // it (a prefix sorts first) and compares cheaply.
  Entries entries_;
  // Reused for the comparisons of file contents.
  std::string scratch_;
};

#endif  // CUSTOMHOOKS_FUZZ_CHECKS_FOLDER_IMAGE_H_
