#include "checks/scratch.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

namespace stdfs = std::filesystem;

namespace {

class ScratchFolder {
 public:
  ScratchFolder() {
    std::random_device random;
    const stdfs::path dir = stdfs::temp_directory_path() /
                            ("ch-fuzz-" + std::to_string(random()) + std::to_string(random()));
    stdfs::create_directories(dir);
    root_ = dir.u8string();
  }
  ~ScratchFolder() { RemoveTree(root_); }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& root() const { return root_; }

 private:
  std::string root_;
};

// The path of UTF-8 text; false where the platform has no such path (on
// Windows, text that is not valid UTF-8).
bool ToPath(const std::string& text, stdfs::path& path) {
  try {
    path = stdfs::u8path(text);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

const std::string& ScratchRoot() {
  static const ScratchFolder folder;
  return folder.root();
}

std::string ScratchPath(const std::string& name) {
  return (stdfs::u8path(ScratchRoot()) / stdfs::u8path(name)).u8string();
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
  stdfs::path file;
  if (!ToPath(path, file)) return false;
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

bool ReadBytes(const std::string& path, std::string& bytes) {
  stdfs::path file;
  std::error_code ec;
  if (!ToPath(path, file) || !stdfs::is_regular_file(file, ec)) return false;
  const auto size = stdfs::file_size(file, ec);
  std::ifstream in(file, std::ios::binary);
  if (ec || !in) return false;
  // One read of the whole file: a session's check reads "pdb.db" twice.
  bytes.resize(static_cast<std::size_t>(size));
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return in.gcount() == static_cast<std::streamsize>(bytes.size()) && in.peek() == std::ifstream::traits_type::eof();
}

void RemoveTree(const std::string& path) {
  stdfs::path root;
  if (!ToPath(path, root)) return;
  std::error_code ec;
  // Files a check made read-only must not stop the clean-up.
  for (auto it = stdfs::recursive_directory_iterator(root, ec);
       !ec && it != stdfs::recursive_directory_iterator(); it.increment(ec)) {
    stdfs::permissions(it->path(), stdfs::perms::owner_all, stdfs::perm_options::add, ec);
  }
  stdfs::remove_all(root, ec);
}

void SetProcessEnvironment(const std::string& name, const std::string& value) {
#if defined(_WIN32)
  _putenv_s(name.c_str(), value.c_str());
#else
  setenv(name.c_str(), value.c_str(), 1);
#endif
}
