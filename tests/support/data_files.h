// The module's files below a common data folder, as paths relative to it
// ("\" separated, as the module joins them), built from the names of
// fs/product_names.h. Header only: the benchmarks and the fuzz checks
// use it as well.
#ifndef CUSTOMHOOKS_TESTS_SUPPORT_DATA_FILES_H_
#define CUSTOMHOOKS_TESTS_SUPPORT_DATA_FILES_H_

#include <algorithm>
#include <string>

#include "fs/product_names.h"

// `file` in `folder`.
inline std::string DataFile(const char* folder, const char* file) { return std::string(folder) + "\\" + file; }

// The configuration records (pcd.db), the agreement records (cache.db) and
// the installer's payload records (pdb.db).
inline std::string ConfigurationDatabase() {
  return DataFile(customhooks::names::kConfigurationFolder, customhooks::names::kConfigurationFile);
}
inline std::string CacheDatabase() {
  return DataFile(customhooks::names::kCacheFolder, customhooks::names::kCacheFile);
}
inline std::string PayloadDatabase() {
  return DataFile(customhooks::names::kPayloadsFolder, customhooks::names::kPayloadsFile);
}
// The installer's own database, and the module's copy of it.
inline std::string InstallerDatabase() {
  return DataFile(customhooks::names::kPayloadsFolder, customhooks::names::kInstallerFile);
}
inline std::string InstallerBackup() {
  return DataFile(customhooks::names::kBackupFolder, customhooks::names::kInstallerFile);
}

// `path` with "/" for every "\" (the form of the keys of captured machine
// states and of POSIX paths).
inline std::string Slashed(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

#endif  // CUSTOMHOOKS_TESTS_SUPPORT_DATA_FILES_H_
