// File and folder tests and changes.
//
// Every path is NUL-terminated UTF-8; "\" is a separator on every target.
// One convention for results:
// - pure predicates (PathExists, IsDirectory, IsRegularFile) return bool,
//   false also when the answer cannot be had;
// - everything else that can fail returns a Status whose failure carries a
//   Code of fs/fs_status.h, and gives values through caller-owned
//   out-parameters that are written only on success;
// - the flushes are best effort and return nothing: a caller could do
//   nothing different when one fails.
// Nothing here logs or throws. Every call goes to the current Env
// (fs/env.h).
#ifndef CUSTOMHOOKS_FS_FILES_H_
#define CUSTOMHOOKS_FS_FILES_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "fs/env.h"
#include "fs/fs_status.h"

namespace customhooks::fs {

// ---- Tests ---------------------------------------------------------------

// True when the path exists (file or folder).
bool PathExists(const std::string& path);

// True when the path exists and is a folder.
bool IsDirectory(const std::string& path);

// True when the path exists and is not a folder.
bool IsRegularFile(const std::string& path);

// The attribute bits of the path (kAttribute... of fs/env.h); kNotFound
// when nothing stands there.
Status GetPathAttributes(const std::string& path, std::uint32_t* attributes);

// What identifies a file and the state of its content, as the file system
// records it. Two stamps of one file are equal while nothing was written to
// it, its times were not set and it was not renamed over. Any such change
// gives another stamp, unless it keeps the size and falls within the file
// system's timestamp granularity (100 ns on NTFS, the kernel's clock tick
// on most POSIX file systems, 2 s on FAT). Times are in the platform's own
// units (POSIX: ns since 1970; Windows: 100 ns since 1601): compare stamps
// only with stamps of the same platform.
struct FileStamp {
  std::uint64_t volume = 0;     // POSIX st_dev; Windows: volume serial number
  std::uint64_t fileIndex = 0;  // POSIX st_ino; Windows: file index
  std::uint64_t size = 0;
  std::int64_t lastWriteTime = 0;  // last change of the content (settable)
  std::int64_t changeTime = 0;     // last change of content or metadata (not settable)
  bool link = false;  // a symbolic link or reparse point: its own stamp, not its target's
  // The one rule of when a stamp vouches for a file's content: never when
  // it is racy. A stamp is racy when taken within the file system's
  // timestamp granularity of the file's last write (a write made right
  // after it may leave the same stamp: git's "racily clean"), and when taken
  // right after this process's own change (StampAfterChange). Not compared
  // by ==.
  bool racy = false;

  // One file, whatever happened to its content.
  bool SameFile(const FileStamp& other) const { return volume == other.volume && fileIndex == other.fileIndex; }
  // True when the content is unchanged since `earlier`: `earlier` is not
  // racy, and is of the same file with the same size and last-write time.
  // A change of attributes alone (the change time) does not count.
  bool ContentSince(const FileStamp& earlier) const {
    return !earlier.racy && SameFile(earlier) && size == earlier.size && lastWriteTime == earlier.lastWriteTime;
  }
  // `earlier` is not racy and equal to this stamp.
  bool Vouches(const FileStamp& earlier) const { return !earlier.racy && *this == earlier; }
  friend bool operator==(const FileStamp& a, const FileStamp& b) {
    return a.SameFile(b) && a.size == b.size && a.lastWriteTime == b.lastWriteTime &&
           a.changeTime == b.changeTime && a.link == b.link;
  }
  friend bool operator!=(const FileStamp& a, const FileStamp& b) { return !(a == b); }
};

// The stamp of what stands at `path` (a file or a folder): with Links::kOwn
// a link there gives its own stamp, marked `link`; with Links::kFollowed the
// stamp is that of the file an open of `path` reaches. kNotFound when
// nothing stands there, kBadPath for a null `stamp`.
Status StampFile(const std::string& path, FileStamp* stamp, Links links = Links::kOwn);

// StampFile right after this process changed the file: the stamp is racy.
// Another writer's change in the same tick leaves the same stamp, and
// Windows may record a write's times only when its handle closes.
Status StampAfterChange(const std::string& path, FileStamp* stamp, Links links = Links::kOwn);

// What stands at `path` itself, a link never followed (Env::DescribePath).
Status DescribePath(const std::string& path, PathFacts* facts);

// ---- Folder creation -------------------------------------------------------

// Creates one folder with default security; its parent must exist. kExists
// when the name is taken, kNotFound when the parent is missing.
Status CreateFolder(const std::string& path);

// Makes sure the folder exists, creating it and every missing parent; the
// path must be absolute (a trailing separator is allowed). kExists when a
// file stands at the path or where one of its parents should be.
Status EnsureFolder(const std::string& path);

// ---- File changes ----------------------------------------------------------

// Makes the file writable again (FILE_ATTRIBUTE_NORMAL).
Status ClearFileAttributes(const std::string& path);

// The attributes the target of a copy ends with: the source's (a read-only
// source gives a read-only target), or normal ones (ClearFileAttributes after
// the copy; a failure to clear them does not fail the copy).
enum class CopiedAttributes { kFromSource, kNormal };

// What a copy does when its target cannot be replaced in one step (another
// process holds it open, or its folder forbids new files): write it in
// place, as Windows' CopyFileW would, or leave it as it was and fail. A
// copy that must be whole or nothing (a backup) leaves it.
enum class WhenNotReplaceable { kWriteInPlace, kLeaveTarget };

// Copies `source` over `target`, replacing an existing target. A read-only
// target is refused, as Windows refuses it, and left as it was. The target
// is never left half-written: the copy is made in a temporary file in the
// target's folder, which then replaces the target. When the target cannot
// be replaced, `whenNotReplaceable` decides.
Status CopyFileOver(const std::string& source, const std::string& target,
                    CopiedAttributes attributes = CopiedAttributes::kFromSource,
                    WhenNotReplaceable whenNotReplaceable = WhenNotReplaceable::kWriteInPlace);

// Replaces `target` by `source` in one step (the source name disappears),
// then flushes the folder so that the new entry survives a power cut. A
// read-only target is refused.
Status MoveFileReplacing(const std::string& source, const std::string& target);

// Deletes a file; a folder or a read-only file is refused.
Status RemoveFile(const std::string& path);

// Forces a folder's entries to disk (POSIX needs it after a file was created
// or replaced there; Windows writes them through).
void FlushFolder(const std::string& folder);

// Writes `bytes` as the whole content of `path`, never leaving a
// half-written file. The bytes go to a temporary file in the same folder,
// which is flushed and then replaces the target; then the folder is flushed.
// The target keeps its owner and mode (POSIX). When the folder forbids new
// files, or the platform refuses the replacement because another process
// holds the target open, the bytes are written in place instead (and
// flushed). A read-only target is never touched (kAccessDenied). Temporary
// files left in the folder by writers that no longer run are removed first.
// On failure the target is as it was.
Status WriteFileDurably(const std::string& path, const std::string& bytes);

// ---- Shared file access ----------------------------------------------------

struct FileCloser {
  void operator()(std::FILE* f) const;
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens the file with a C runtime mode ("rb", "wb", ...) and no sharing
// restriction (other processes may read and write it meanwhile); a writing
// mode is refused on a read-only file. kBadPath for a null mode.
Status OpenFileShared(const std::string& path, const char* mode, UniqueFile* file);

// A file opened for reading, or what stands in its place.
struct OpenedForReading {
  Found found = Found::kNothing;
  UniqueFile file;  // the open file when `found` is kFile, else null
};

// Opens `path` for reading, with no sharing restriction, in one look at the
// path: `*opened` says whether a file stands there (then open, at its
// start), a folder (not opened) or nothing (no such path, or a name nothing
// can stand at). A failure, `*opened` untouched, when something stands there
// that cannot be opened (refused, held by another process without sharing).
Status OpenForReading(const std::string& path, OpenedForReading* opened);

// ---- Folder listing --------------------------------------------------------

// Lists the names in `folder` (without "." and ".."), in the order the
// platform's FindFirstFileW/FindNextFileW give them (on POSIX: ordinal,
// case-insensitive, as NTFS orders them).
Status ListFolder(const std::string& folder, std::vector<std::u16string>* names);

// ---- Paths handed to libraries ---------------------------------------------

// The path as the OS (and libraries such as SQLite that call the OS
// themselves) expects it: unchanged on Windows, backslashes turned into "/"
// on POSIX. Empty when memory runs out.
std::string NativePath(const std::string& path);

}  // namespace customhooks::fs

#endif  // CUSTOMHOOKS_FS_FILES_H_
