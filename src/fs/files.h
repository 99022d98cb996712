// File and folder tests and changes. Every path is NUL-terminated UTF-8; on
// POSIX a backslash is a separator. Nothing here logs or throws: failures are
// result values.
#ifndef CUSTOMHOOKS_FS_FILES_H_
#define CUSTOMHOOKS_FS_FILES_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// ---- Tests ---------------------------------------------------------------

// 1 when the path exists (file or folder), else 0; a path that cannot be
// converted counts as missing.
int PathExistsUtf8(const char* path);

// True when the path exists (file or folder).
bool FileExists(const std::string& path);

// True when the path exists and is a folder.
bool IsDirectory(const std::string& path);

// 1 when the path exists and is not a folder, else 0.
int IsRegularFile(const std::string& path);

// Attribute bits of the path as GetFileAttributesW reports them (on POSIX:
// 0x10 for a folder, 0x01 when no write permission bit is set, 0x80 for a
// plain file otherwise). False when the path does not exist.
constexpr std::uint32_t kAttributeReadOnly = 0x01;
constexpr std::uint32_t kAttributeDirectory = 0x10;
constexpr std::uint32_t kAttributeNormal = 0x80;
bool GetPathAttributes(const std::string& path, std::uint32_t* attributes);

// ---- Folder creation -------------------------------------------------------

// Creates one folder; its parent must exist. 0, or -1 with errno set (EEXIST,
// ENOENT, ...; EINVAL when the path cannot be converted).
int MakeDirectoryUtf8(const char* path);

// Creates one folder with default security (CreateDirectoryW). True on success.
bool CreateSingleFolder(const std::string& path);

// Creates the folder and every missing parent. 0 on success; 4 when the path
// already exists (file or folder) or the creation fails.
int CreateDirectoryTree(const std::string& path);

// 0 when the folder exists on return (created with its parents as needed);
// 4 when the path is an existing file or a creation failed.
int EnsureDirectoryPath(const std::string& path);

// ---- File changes ----------------------------------------------------------

// Makes the file writable again (FILE_ATTRIBUTE_NORMAL). 0 on success, 1 on
// failure.
int ClearFileAttributes(const std::string& path);

// Copies `source` over `target` (an existing target is replaced, the target
// takes the source's attributes). A read-only target is refused, as Windows
// refuses it. The target is never left half-written: the copy is made in a
// temporary file in the target's folder, which then replaces the target; when
// another process holds the target open, so that it cannot be replaced, the
// copy is made in place. True on success.
bool CopyFileOverwrite(const std::string& source, const std::string& target);

// CopyFileOverwrite, then, when the copy succeeded, ClearFileAttributes on
// the target (its result is ignored). True when the copy succeeded; a refused
// target is left as it was.
bool CopyFileReplacing(const std::string& source, const std::string& target);

// Replaces `target` by `source` in one step (the source name disappears),
// then flushes the folder so that the new entry survives a power cut. A
// read-only target is refused. True on success.
bool MoveFileReplacing(const std::string& source, const std::string& target);

// Forces a folder's entries to disk (POSIX needs it after a file was created
// or replaced there; Windows writes them through). Failures are silent.
void FlushFolder(const std::string& folder);

// Deletes a file. True on success.
bool DeleteFileUtf8(const std::string& path);

// Forces the file's data to disk with write-through semantics; a missing file
// is created empty. Failures are silent.
void FlushFileToDisk(const std::string& path);

// ---- Shared file access ----------------------------------------------------

struct FileCloser {
  void operator()(std::FILE* f) const;
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens the file with a C runtime mode ("rb", "wb", ...) and no sharing
// restriction (other processes may read and write it meanwhile). Null on
// failure.
UniqueFile OpenFileShared(const std::string& path, const char* mode);

// Result of WriteFileDurably.
enum class WriteResult {
  kWritten,      // the target now holds exactly `bytes`
  kNotWritable,  // the target is read-only, or cannot be created or written;
                 // it is as it was
};

// Writes `bytes` as the whole content of `path` without ever leaving a
// half-written file: the bytes go to a temporary file in the same folder,
// which is flushed and then replaces the target, and the folder is flushed.
// When the folder forbids new files, or the platform refuses the replacement
// because another process holds the target open, the bytes are written in
// place instead (and flushed). A read-only target is never touched.
// Temporary files that writers which no longer run left in the folder are
// removed first.
WriteResult WriteFileDurably(const std::string& path, const std::string& bytes);

// ---- Folder listing --------------------------------------------------------

// Lists the names in `folder` (without "." and ".."), in the order the
// platform's FindFirstFileW/FindNextFileW give them (on POSIX: ordinal,
// case-insensitive, as NTFS orders them). False when the listing cannot
// start.
bool ListFolder(const std::string& folder, std::vector<std::u16string>& names);

// ---- Paths handed to libraries ---------------------------------------------

// The path as the OS (and libraries such as SQLite that call the OS
// themselves) expects it: unchanged on Windows, backslashes turned into "/"
// on POSIX.
std::string NativePath(const std::string& path);

#endif  // CUSTOMHOOKS_FS_FILES_H_
