// Special folders.
//
// On POSIX the special folders come from the environment variables Windows
// sets, read at every call: CommonProgramFiles, CommonProgramFiles(x86)
// (unset: the lookup fails and is retried as kind 1) and ProgramData. An
// unset variable is a failed lookup.
#ifndef CUSTOMHOOKS_FS_FOLDERS_H_
#define CUSTOMHOOKS_FS_FOLDERS_H_

#include <cstddef>
#include <string>

namespace customhooks::fs {

// Size of the caller-owned path buffers of this header.
constexpr std::size_t kPathBufferSize = 1024;

// Folder kinds: 1 or 3 = Common Files, 255 = common application data, any
// other value (callers pass 0) = x86 Common Files, falling back to kind 1.
enum FolderKind : unsigned {
  kFolderCommonFilesX86 = 0,
  kFolderCommonFiles = 1,
  kFolderCommonAppData = 255,
};

// Looks the special folder up (creating it when missing) and stores its
// UTF-8 path, without trailing separator, NUL-terminated and zero-padded, in
// `buffer` (kPathBufferSize bytes). Returns `buffer`, or null on failure.
char* GetSpecialFolderPath(char* buffer, unsigned kind);

// Locates the Common Files folder without creating it (SHGetFolderLocation,
// else SHGetFolderPathW) and stores its path, without a trailing separator,
// in `out`. False, `out` unchanged, when it is not located or has no path.
bool LocateCommonFilesFolder(std::string& out);

}  // namespace customhooks::fs

#endif  // CUSTOMHOOKS_FS_FOLDERS_H_
