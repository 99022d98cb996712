// Files and folders as a test finds and makes them on the disk, with the C++
// library and the system's own calls, never through the module's file layer.
// Paths are written as the module writes them ("\" separated); on POSIX each
// "\" stands for "/".
#ifndef CUSTOMHOOKS_TESTS_SUPPORT_DISK_H_
#define CUSTOMHOOKS_TESTS_SUPPORT_DISK_H_

#include <filesystem>
#include <string>
#include <vector>

// The path as the system names it.
std::filesystem::path OnDisk(const std::string& path);

// `folder` + "\" + `name`, the way the module joins paths.
std::string In(const std::string& folder, const std::string& name);

// True when a file / a folder is at the path (links followed).
bool IsFileOnDisk(const std::string& path);
bool IsFolderOnDisk(const std::string& path);
// True when anything is at the path, a link that leads nowhere included.
bool ExistsOnDisk(const std::string& path);

// The names in a folder, sorted; none when it cannot be listed.
std::vector<std::string> FolderNames(const std::string& folder);
// Creates the folder with its parents; a test failure when it cannot.
void MakeFolders(const std::string& folder);

// Reads a whole file; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);
// Writes a whole file, creating or truncating it. True on success.
bool WriteWholeFile(const std::string& path, const std::string& bytes);

// Takes every write permission from a file (Windows: sets its read-only
// attribute), or with `readOnly` false gives its owner write permission back
// (clears the attribute). True on success.
bool SetReadOnly(const std::string& path, bool readOnly);
// True when no one may write the file (Windows: its read-only attribute).
bool IsReadOnly(const std::string& path);

#endif  // CUSTOMHOOKS_TESTS_SUPPORT_DISK_H_
