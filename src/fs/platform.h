// The platform boundary of the file-system layer (internal to ch_fs).
//
// Every operating-system service the layer uses is one function here, and
// nothing else in src/fs calls the operating system. One implementation file
// per target provides them: platform_win32.cpp calls the Windows shell,
// security and runtime services; platform_posix.cpp gives the same results on
// POSIX, with what those services compute without the system taken from
// windows_emulation.h. Each primitive first asks PassGate() whether it may run (a test build
// can make the N-th call fail) and reports OS errors translated into FsError
// by its target's single translation function.
//
// Wide strings are UTF-16 (char16_t) on every target; the Windows file casts
// them to wchar_t at the call. No name here is one that <windows.h> or
// <shlwapi.h> defines as a macro.
#ifndef CUSTOMHOOKS_FS_PLATFORM_H_
#define CUSTOMHOOKS_FS_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace fsplatform {

// Largest path, in UTF-16 units with its terminator, of the shell path
// functions (MAX_PATH).
constexpr std::size_t kMaxPath = 260;

// CSIDL values and the flag that makes the lookup create the folder.
constexpr int kCsidlCommonAppData = 0x0023;
constexpr int kCsidlProgramFilesCommon = 0x002B;
constexpr int kCsidlProgramFilesCommonX86 = 0x002C;
constexpr int kCsidlFlagCreate = 0x8000;

// What went wrong, as far as the layer distinguishes it.
enum class FsError {
  kNone,              // success
  kNotFound,          // the path, or a folder on it, does not exist
  kExists,            // something of that name already exists
  kAccessDenied,      // refused: permissions, read-only target, folder in the way
  kSharingViolation,  // another process holds the file open
  kBadPath,           // the path is not acceptable (for instance not absolute)
  kFailed,            // anything else, including a failure forced by the gate
};

// Asked first by every primitive, with the primitive's name; false makes the
// primitive fail as the OS would have failed it (FsError::kFailed, errno EIO,
// a null result). Always true in the shipped library.
bool PassGate(const char* call);

// ---- Text -------------------------------------------------------------------
// MultiByteToWideChar / WideCharToMultiByte with CP_UTF8 and flags 0:
// `length` -1 means up to and including the terminator; with `capacity` 0 the
// needed size is returned; 0 on failure (empty input, buffer too small).
int Utf8ToUtf16(const char* text, int length, char16_t* out, int capacity);
int Utf16ToUtf8(const char16_t* text, int length, char* out, int capacity);

// ---- Special folders ----------------------------------------------------------
// SHGetFolderPathW(no window, `csidl` with its flags, no token, flags 0).
// On success `path` holds the folder (at most 1023 units).
FsError GetFolderPath(int csidl, std::u16string& path);

// SHGetFolderLocation for `csidl` (no create flag), then SHGetPathFromIDListW
// into a MAX_PATH buffer, the item list freed with CoTaskMemFree.
enum class FolderLocation { kNotLocated, kLocatedWithoutPath, kLocated };
FolderLocation LocateFolder(int csidl, std::u16string& path);

// ---- Shell path functions (in place on a NUL-terminated buffer) ---------------
// PathAppendW: `path` has room for kMaxPath units. False when it refuses.
bool AppendPath(char16_t* path, const char16_t* more);
// PathRemoveBackslashW.
void RemoveBackslash(char16_t* path);
// PathStripPathW.
void StripPath(char16_t* path);

// ---- Tests ----------------------------------------------------------------------
// _waccess_s(path, 0): kNone when the path exists.
FsError CheckExists(const char16_t* path);
// PathFileExistsW.
bool FileExists(const char16_t* path);
// GetFileAttributesW; kInvalidAttributes when the path does not exist.
constexpr std::uint32_t kInvalidAttributes = 0xFFFFFFFFu;
std::uint32_t GetAttributes(const char16_t* path);

// ---- Changes --------------------------------------------------------------------
// _wmkdir: 0, or -1 with errno set.
int MakeFolder(const char16_t* path);
// CreateDirectoryW with default security.
FsError CreateFolder(const char16_t* path);
// SHCreateDirectoryExW(no window, path, no security attributes): the folder
// and every missing parent; the path must be absolute.
FsError CreateFolderChain(const char16_t* path);
// SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL).
FsError SetAttributesNormal(const char16_t* path);
// MoveFileExW(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH).
FsError MoveFileReplacing(const char16_t* source, const char16_t* target);
// _wunlink.
FsError RemoveFile(const char16_t* path);
// CreateFileW(GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING, 0xA0000080 with
// FILE_FLAG_OPEN_REPARSE_POINT), FlushFileBuffers, CloseHandle. Silent. It
// never creates a file and never flushes through a link: the name may stand
// in a folder that others can write.
void FlushFile(const char16_t* path);

// Writes `size` bytes as the whole content of `path`, forces them to disk and
// closes the file. kCreateNew fails with kExists when the name is taken;
// kReplaceContent opens an existing file in place (sharing read, write and
// delete with other processes) or creates it, and cuts it to `size`.
// kReplaceContent never writes through a link or into a file that has other
// links (kAccessDenied).
enum class WriteMode { kCreateNew, kReplaceContent };
FsError WriteWholeFile(const char16_t* path, const void* bytes, std::size_t size, WriteMode mode);

// CopyFileW(source, target, fail if exists: kCreateNew). kCreateNew fails with
// kExists when the name is taken, by a link too; kReplaceContent copies over
// an existing target, never through a link (kAccessDenied).
FsError CopyOver(const char16_t* source, const char16_t* target, WriteMode mode);

// ---- Shared file access ---------------------------------------------------------
// _wfsopen(path, mode, _SH_DENYNO); null with errno set on failure.
std::FILE* OpenShared(const char16_t* path, const char* mode);
// fclose.
void CloseFile(std::FILE* file);

// ---- Listing --------------------------------------------------------------------
// FindFirstFileW / FindNextFileW on `folder` + "\*": every name, "." and ".."
// included when the platform reports them, in the platform's order.
FsError ListFolder(const char16_t* folder, std::vector<std::u16string>& names);

// ---- Paths handed to libraries --------------------------------------------------
// The path as the OS expects it (see NativePath in files.h). Pure.
std::string NativePath(const std::string& path);

// The current process id (names of temporary files).
std::uint32_t ProcessId();
// Whether a process with that id runs now (one that exists but may not be
// looked at counts as running).
bool ProcessRunning(std::uint32_t pid);

// Forces the folder's entries to disk: fsync on the folder on POSIX; nothing
// on Windows, whose replace writes through (MOVEFILE_WRITE_THROUGH). Silent.
void FlushFolder(const char16_t* folder);

// ---- Access lists ---------------------------------------------------------------
// One explicit-access entry (GRANT_ACCESS, trustee form TRUSTEE_IS_SID, type
// TRUSTEE_IS_WELL_KNOWN_GROUP).
enum class Trustee { kAdministrators, kEveryone };
struct AccessEntry {
  Trustee trustee;
  std::uint8_t authority[6];          // SID identifier authority
  std::uint8_t subAuthorityCount;     // 1 or 2
  std::uint32_t subAuthorities[2];
  std::uint32_t accessMask;
  std::uint32_t inheritance;          // SUB_CONTAINERS_AND_OBJECTS_INHERIT = 3
  const char* sddlAlias;              // "BA", "WD"
};

// Replaces the folder's access list by a protected list of exactly
// `entries`, on the folder opened without following a link or reparse point
// (a link is left alone). Errors are ignored. On POSIX the entries are also
// carried down to what the folder holds, as Windows propagates inheritable
// entries: by descriptor, never through a link, never into a file that has
// other links or into a folder whose own list was set this way, never out of
// the tree.
void ApplyFolderAccess(const char16_t* folder, const std::vector<AccessEntry>& entries);

// ---- Files in folders that others can write ---------------------------------
// A library that opens files by path itself (SQLite) is made safe in such a
// folder by replacing its open call: while a folder is checked on the calling
// thread, the replacement opens names directly inside that folder without
// following a link or reparse point, creates only exclusively, and accepts
// only a regular file with exactly one link that lies in that very folder. A
// refused name fails the open as the platform call fails. Every other open
// is forwarded unchanged.

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

// The folder, held open while it is checked. Opaque.
struct CheckedFolder;

// Opens `folder` (a native path, as the library will name its files there)
// without following a link or reparse point at its last component and makes
// it the calling thread's checked folder. Null when it can't be opened or is
// not a folder; then nothing is checked.
CheckedFolder* CheckFolder(const std::string& folder);
// Ends the check and closes the folder; the thread's earlier checked folder,
// if any, applies again.
void UncheckFolder(CheckedFolder* folder);

// The name of the platform's open call in a system-call table ("open" on
// POSIX, "CreateFileW" on Windows), the replacement, and where the
// replacement forwards to: the table's original entry, recorded once before
// the replacement is installed.
using SystemCall = void (*)(void);
const char* OpenCallName();
SystemCall CheckedOpenCall();
void ForwardOpenCallTo(SystemCall original);

// True when `path` is a symbolic link, a reparse point, or one of several
// links to a file (under Wine also: a name that opens a file elsewhere).
bool IsLink(const char16_t* path);
// Removes such a link itself, never the file it leads to. False when `path`
// is no link, or is one that cannot be removed without following it (Wine
// deletes what a POSIX link leads to): that one stays.
bool RemoveLink(const char16_t* path);

}  // namespace fsplatform

#endif  // CUSTOMHOOKS_FS_PLATFORM_H_
