// Special folders.
//
// On POSIX the special folders come from the environment variables Windows
// sets, read at every call: CommonProgramFiles, CommonProgramFiles(x86)
// (unset: the lookup fails, and FindSpecialFolder falls back to
// CommonProgramFiles) and ProgramData. An unset variable is a failed lookup.
#ifndef CUSTOMHOOKS_FS_FOLDERS_H_
#define CUSTOMHOOKS_FS_FOLDERS_H_

#include <cstddef>
#include <string>

#include "fs/env.h"
#include "fs/fs_status.h"

namespace customhooks::fs {

// The shell's path buffers: a folder path the module takes has fewer bytes,
// with its terminator, than this.
constexpr std::size_t kPathBufferSize = 1024;

// Looks the special folder up, creating it when missing (SHGetFolderPathW
// with CSIDL_FLAG_CREATE), and stores its UTF-8 path in `*path`.
// SpecialFolder::kCommonFilesX86 falls back to kCommonFiles when its own
// lookup fails. kBadPath when the path is empty or has kPathBufferSize bytes
// or more; the lookup's failure otherwise. `*path` is written only on success.
Status FindSpecialFolder(SpecialFolder folder, std::string* path);

// Locates the Common Files folder without creating it (SHGetFolderLocation,
// else SHGetFolderPathW) and stores its path, without a trailing separator,
// in `*path`. kNotFound when it is located without a path or its path is
// empty; the lookup's failure otherwise. `*path` is written only on success.
Status LocateCommonFilesFolder(std::string* path);

}  // namespace customhooks::fs

#endif  // CUSTOMHOOKS_FS_FOLDERS_H_
