// Special folders and the common data folder.
//
// The common data folder is the folder "Orvik" in the shared (x86) Common
// Files folder; it holds "PCF", "Orvik PCD", "caps" and "backup". On POSIX the
// special folders come from the environment variables Windows sets, read at
// every call: CommonProgramFiles, CommonProgramFiles(x86) (unset: the lookup
// fails and is retried as kind 1) and ProgramData. An unset variable is a
// failed lookup.
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

// Stores the x86 Common Files folder followed by "\Orvik" in `buffer`
// (kPathBufferSize bytes) and creates that one folder when nothing of that
// name exists (an existing file of that name counts as present). Returns
// `buffer`, or null when the lookup fails, the path does not fit, or the
// folder cannot be created.
char* EnsureCommonDataFolder(char* buffer);

// On success stores the Common Files folder followed by "\Orvik" (exactly one
// separator before "Orvik") in `out` and returns true; the folder is not
// created. On failure returns false and leaves `out` unchanged.
bool GetCommonDataFolder(std::string& out);

}  // namespace customhooks::fs

#endif  // CUSTOMHOOKS_FS_FOLDERS_H_
