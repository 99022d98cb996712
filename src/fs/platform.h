// What each target's platform file provides besides its Env (internal to
// ch_fs): the pure computations of the Windows services, and the checked
// open call that SQLite calls itself (fs/shared_folder.h).
//
// env_win32.cpp computes with the real Windows functions, env_posix.cpp with
// their imitations in fs/windows_emulation.h. The computations touch no
// file, so they are no part of the Env.
//
// Wide strings are UTF-16 (char16_t) on every target; the Windows file casts
// them to wchar_t at the call. No name here is one that <windows.h> or
// <shlwapi.h> defines as a macro.
#ifndef CUSTOMHOOKS_FS_PLATFORM_H_
#define CUSTOMHOOKS_FS_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "fs/fs_status.h"

namespace customhooks::fs::platform {

// Largest path, in UTF-16 units with its terminator, of the shell path
// functions (MAX_PATH).
constexpr std::size_t kMaxPath = 260;

// ---- Text -------------------------------------------------------------------
// MultiByteToWideChar / WideCharToMultiByte with CP_UTF8 and flags 0:
// `length` -1 means up to and including the terminator; with `capacity` 0 the
// needed size is returned; 0 on failure (empty input, buffer too small).
int Utf8ToUtf16(const char* text, int length, char16_t* out, int capacity);
int Utf16ToUtf8(const char16_t* text, int length, char* out, int capacity);

// ---- Shell path functions (in place on a NUL-terminated buffer) ---------------
// PathAppendW: `path` has room for kMaxPath units. False when it refuses.
bool AppendPath(char16_t* path, const char16_t* more);
// PathRemoveBackslashW.
void RemoveBackslash(char16_t* path);
// PathStripPathW.
void StripPath(char16_t* path);

// ---- File stamps -------------------------------------------------------------------
// Whether a stamp is racy (see FileStamp in fs/files.h): one taken at
// `takenAt` of a file last written at `lastWriteTime`, times in
// `ticksPerSecond`. It is racy until `takenAt`, less `clockStep`, is past
// the last write. `clockStep` is 0 when `takenAt` is read from the very
// clock the file system stamps with; read from a finer clock, it is the
// coarse clock's step with a margin for its lag. On a file system that
// records whole seconds (FAT: two), a stamp is racy for two seconds.
// Portable code, for both implementations.
bool RacyStamp(std::int64_t lastWriteTime, std::int64_t changeTime, std::int64_t takenAt,
               std::int64_t ticksPerSecond, std::int64_t clockStep);

// ---- Paths handed to libraries --------------------------------------------------
// The path as the OS expects it (see NativePath in files.h).
std::string NativePath(const std::string& path);

// ---- Files in folders that others can write ---------------------------------
// The platform's part of the checked open call (fs/shared_folder.h). A name
// it refuses fails the open as the platform call fails.

// What the platform reports of an opened file or folder, on its handle.
struct OpenedFacts {
  bool regular;          // a plain file (not a folder, device or pipe)
  bool reparsePoint;     // a symbolic link, junction or other reparse point
  unsigned long links;   // names the file has
  std::uint64_t volume;  // the volume or device it lies on
  std::u16string finalPath;  // the path the system gives the handle; empty where none is needed
};

// The decisions both implementations take on those facts (portable code):
// a checked folder must be a folder of its own, and a file opened in it a
// regular file with one name, on the folder's volume, whose final path is
// the folder's final path followed by `name` (compared ignoring case).
bool IsOwnFolder(const OpenedFacts& folder);
bool IsOwnFile(const OpenedFacts& file, const OpenedFacts& folder, const std::u16string& name);

// The folder, held open by descriptor or handle. Opaque.
struct CheckedFolder;

// Opens `folder` (a native path, as the library will name its files there)
// without following a link or reparse point at its last component. Null
// when it can't be opened or is not a folder.
CheckedFolder* OpenCheckedFolder(const std::string& folder);
void CloseCheckedFolder(CheckedFolder* folder);

// The calling thread's checked folder, or null; the checked open call
// serves names directly inside it (portable code keeps it).
CheckedFolder* ActiveCheckedFolder();

// Removes the entry `name` of `folder` relative to the held folder (see
// HeldFolder::Remove in fs/shared_folder.h), then flushes the folder's
// entries when `flush` is set. Code::kAccessDenied when refused.
Status RemoveFromCheckedFolder(const CheckedFolder& folder, const std::string& name, bool flush);

// The name of the platform's open call in a system-call table ("open" on
// POSIX, "CreateFileW" on Windows), the replacement, and where the
// replacement forwards to: the table's original entry, recorded once before
// the replacement is installed.
using SystemCall = void (*)(void);
const char* OpenCallName();
SystemCall CheckedOpenCall();
void ForwardOpenCallTo(SystemCall original);

}  // namespace customhooks::fs::platform

#endif  // CUSTOMHOOKS_FS_PLATFORM_H_
