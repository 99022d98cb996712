// The operating-system services of the file-system layer.
//
// Env holds every service the layer takes from the operating system, at the
// level the layer needs it. Env::Default() is the platform's implementation:
// env_win32.cpp calls the Windows shell, security and runtime services, and
// env_posix.cpp gives the same results with POSIX calls. Each reports the
// system's errors as fs::Code.
//
// The layer's portable code (files, folders, access lists) calls
// CurrentEnv(). That is Env::Default(), unless a ScopedEnv has put another
// Env in its place for the whole process (such as an EnvWrapper that fails
// chosen calls).
//
// Paths are UTF-16 (char16_t) on every target and spelt as the module spells
// them: "\" separates on every target, and POSIX turns it into "/". Every
// method but ProcessId returns a Status. Values come through caller-owned
// out-parameters, which are written only on success.
//
// What stays outside the Env: the pure computations of fs/platform.h (text
// conversion, the shell's path functions) and the checked open call that
// SQLite calls itself (fs/shared_folder.h).
#ifndef CUSTOMHOOKS_FS_ENV_H_
#define CUSTOMHOOKS_FS_ENV_H_

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fs/fs_status.h"

namespace customhooks::fs {

struct FileStamp;  // fs/files.h

// Whether a look at a path takes a link there as itself or follows it.
enum class Links { kOwn, kFollowed };

// Attribute bits as GetFileAttributesW reports them. On POSIX a folder has
// kAttributeDirectory, a file without any write permission bit
// kAttributeReadOnly, and any other file kAttributeNormal.
constexpr std::uint32_t kAttributeReadOnly = 0x01;
constexpr std::uint32_t kAttributeDirectory = 0x10;
constexpr std::uint32_t kAttributeNormal = 0x80;

// The special folders the module uses. On POSIX they come from the variables
// Windows sets, read at every call: CommonProgramFiles,
// CommonProgramFiles(x86) and ProgramData; an unset or empty one is kNotFound.
enum class SpecialFolder { kCommonFiles, kCommonFilesX86, kCommonAppData };

// What stands at a path, as an open for reading found it.
enum class Found { kNothing, kFolder, kFile };

// How content reaches a file: under a name that must be free (kCreateNew,
// kExists when it is taken, by a link too), or in place over an existing
// file or a new one (kReplaceContent), never through a link and never into a
// file that has other links (kAccessDenied).
enum class WriteMode { kCreateNew, kReplaceContent };

// One entry of a folder's access list: GRANT_ACCESS to a well-known group
// given by its SID.
enum class Trustee { kAdministrators, kEveryone };
struct AccessEntry {
  Trustee trustee;
  std::uint8_t authority[6];       // SID identifier authority
  std::uint8_t subAuthorityCount;  // 1 or 2
  std::uint32_t subAuthorities[2];
  std::uint32_t accessMask;
  std::uint32_t inheritance;       // SUB_CONTAINERS_AND_OBJECTS_INHERIT = 3
};

// What GetSpecialFolder does with a special folder that is missing.
enum class MissingFolder { kLeave, kCreate };

// What stands at a path, described for a person (DescribePath).
struct PathFacts {
  enum class Kind { kNothing, kFile, kFolder, kLink, kOther };
  Kind kind = Kind::kNothing;
  // The owner's name, or its number (POSIX) or SID (Windows) when it has
  // none.
  std::string owner;
  // POSIX: the permission bits in octal, with " +acl" when an access list
  // adds to them. Windows: the access list in SDDL ("D:P(A;OICI;FA;;;BA)...").
  std::string access;
  std::uint64_t size = 0;
  std::uint64_t links = 0;
  // A file's first bytes (up to kPathHeadBytes), read from the file that
  // was described, never through a link; empty when it cannot be read.
  std::string head;
};
constexpr std::size_t kPathHeadBytes = 100;

class Env {
 public:
  Env() = default;
  virtual ~Env();
  Env(const Env&) = delete;
  Env& operator=(const Env&) = delete;

  // The platform's implementation; it lives as long as the process.
  static Env* Default();

  // ---- Special folders --------------------------------------------------------
  // SHGetFolderPathW: the folder's path (shorter than 1024 units; kBadPath
  // otherwise), the folder and its missing parents created first with
  // MissingFolder::kCreate.
  virtual Status GetSpecialFolder(SpecialFolder folder, MissingFolder missing, std::u16string* path) = 0;
  // SHGetFolderLocation, then SHGetPathFromIDListW into a MAX_PATH buffer: a
  // failure when the folder is not located; success with `path` set to
  // nullopt when it is located but has no such path.
  virtual Status LocateSpecialFolder(SpecialFolder folder, std::optional<std::u16string>* path) = 0;

  // ---- Queries ----------------------------------------------------------------
  // The attribute bits of an existing file or folder; kNotFound when nothing
  // stands at `path`.
  virtual Status GetAttributes(const std::u16string& path, std::uint32_t* attributes) = 0;
  // The stamp (fs/files.h) of what stands at `path`. With Links::kOwn, a
  // link's own stamp rather than that of what it leads to; with
  // Links::kFollowed, the stamp of the file an open of `path` reaches.
  // kNotFound when nothing stands there. Another process's open is never
  // refused because of it. Under Wine, kOwn stamps a POSIX link as the file
  // it leads to. `racy` is set as RacyStamp (fs/platform.h) decides.
  virtual Status GetFileStamp(const std::u16string& path, Links links, FileStamp* stamp) = 0;
  // Whether `path` is a symbolic link, a reparse point or one of several
  // links to a file (under Wine also: a name that opens a file elsewhere);
  // false when nothing stands there.
  virtual Status IsLink(const std::u16string& path, bool* link) = 0;
  // Every name in `folder`, "." and ".." included where the platform reports
  // them, in the order FindFirstFileW / FindNextFileW give them (on POSIX the
  // NTFS order of fs/windows_emulation.h).
  virtual Status ListFolder(const std::u16string& folder, std::vector<std::u16string>* names) = 0;
  // _wfsopen(path, mode, _SH_DENYNO): a C stream that other processes may
  // read and write meanwhile; the caller closes it with fclose. A read-only
  // file is refused for a writing mode.
  virtual Status OpenShared(const std::u16string& path, const char* mode, std::FILE** file) = 0;
  // Opens `path` as _wfsopen(path, "rb", _SH_DENYNO) does, in one look at
  // the path that also tells a folder from a file. `*found` is kFile with
  // `*file` the open stream (the caller closes it with fclose), or kFolder
  // with nothing opened. kNotFound when nothing stands at `path`.
  virtual Status OpenForReading(const std::u16string& path, Found* found, std::FILE** file) = 0;
  // What stands at `path` itself, a link never followed: its kind, owner,
  // access, size and number of links. kNothing, with success, when nothing
  // stands there.
  virtual Status DescribePath(const std::u16string& path, PathFacts* facts) = 0;

  // ---- Changes ----------------------------------------------------------------
  // CreateDirectoryW: one folder, whose parent must exist. On POSIX, folders
  // and files this Env creates have modes 0755 and 0644 whatever the umask,
  // as on Windows they take their parent's inherited list.
  virtual Status CreateFolder(const std::u16string& path) = 0;
  // SHCreateDirectoryExW: the folder and every missing parent; the path must
  // be absolute (kBadPath), kExists when anything stands at it already.
  virtual Status CreateFolderChain(const std::u16string& path) = 0;
  // SetFileAttributesW(FILE_ATTRIBUTE_NORMAL): the file is writable again.
  virtual Status SetAttributesNormal(const std::u16string& path) = 0;
  // MoveFileExW(REPLACE_EXISTING | WRITE_THROUGH): `target` becomes `source`
  // in one step and the source name disappears. A read-only target or a
  // folder in the way is refused (kAccessDenied); a target that another
  // process holds open may be refused (kSharingViolation).
  virtual Status MoveFileReplacing(const std::u16string& source, const std::u16string& target) = 0;
  // CopyFileW: the content of `source` in `target` (see WriteMode), which
  // takes the source's attributes; a read-only target is refused.
  virtual Status CopyOver(const std::u16string& source, const std::u16string& target, WriteMode mode) = 0;
  // `bytes` as the whole content of `path` (see WriteMode), forced to disk
  // before the file is closed. kReplaceContent shares the open file with
  // other processes and refuses a read-only target.
  virtual Status WriteWholeFile(const std::u16string& path, std::string_view bytes, WriteMode mode) = 0;
  // Gives the file `path`, just made to take the place of `model`, the
  // owner and permission bits of `model`. A link at `path` is not followed.
  // Nothing is done when `model` is not a plain file with one link, or on
  // Windows, where a new file takes its folder's inherited access list as
  // the file it replaces did.
  virtual Status TakeOwnerAndMode(const std::u16string& path, const std::u16string& model) = 0;
  // Deletes a file; a folder or a read-only file is refused.
  virtual Status RemoveFile(const std::u16string& path) = 0;
  // Removes a link (see IsLink) itself, never the file it leads to.
  // kAccessDenied when `path` is no link, or one that cannot be removed
  // without following it (Wine deletes what a POSIX link leads to).
  virtual Status RemoveLink(const std::u16string& path) = 0;
  // Forces an existing file's data to disk. It never creates a file and never
  // flushes through a link: the name may stand in a folder others can write.
  virtual Status FlushFile(const std::u16string& path) = 0;
  // Forces a folder's entries to disk: fsync on POSIX; nothing on Windows,
  // whose replace writes through.
  virtual Status FlushFolder(const std::u16string& folder) = 0;
  // Replaces the folder's access list by a protected list of exactly
  // `entries`. The folder is opened without following a link or reparse
  // point; a link there is left alone. On POSIX the entries also reach what
  // the folder holds, as Windows propagates inheritable entries. They go by
  // descriptor, never through a link and never out of the tree. They skip a
  // file that has other links, a folder whose own list was set this way,
  // and whatever this process does not own: an entry of another user is
  // neither opened nor changed; an entry that already holds the list is not
  // written. A folder of another user gives kAccessDenied.
  virtual Status SetFolderAccess(const std::u16string& folder, const std::vector<AccessEntry>& entries) = 0;

  // ---- Processes --------------------------------------------------------------
  // The current process id; it cannot fail.
  virtual std::uint32_t ProcessId() = 0;
  // Whether a process with that id runs now; one that exists but may not be
  // looked at counts as running.
  virtual Status ProcessRunning(std::uint32_t pid, bool* running) = 0;
};

// An Env that forwards every call to another one; a test overrides the calls
// it wants to change.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}
  Env* target() const { return target_; }

  Status GetSpecialFolder(SpecialFolder folder, MissingFolder missing, std::u16string* path) override {
    return target_->GetSpecialFolder(folder, missing, path);
  }
  Status LocateSpecialFolder(SpecialFolder folder, std::optional<std::u16string>* path) override {
    return target_->LocateSpecialFolder(folder, path);
  }
  Status GetAttributes(const std::u16string& path, std::uint32_t* attributes) override {
    return target_->GetAttributes(path, attributes);
  }
  Status GetFileStamp(const std::u16string& path, Links links, FileStamp* stamp) override {
    return target_->GetFileStamp(path, links, stamp);
  }
  Status IsLink(const std::u16string& path, bool* link) override { return target_->IsLink(path, link); }
  Status ListFolder(const std::u16string& folder, std::vector<std::u16string>* names) override {
    return target_->ListFolder(folder, names);
  }
  Status OpenShared(const std::u16string& path, const char* mode, std::FILE** file) override {
    return target_->OpenShared(path, mode, file);
  }
  Status OpenForReading(const std::u16string& path, Found* found, std::FILE** file) override {
    return target_->OpenForReading(path, found, file);
  }
  Status DescribePath(const std::u16string& path, PathFacts* facts) override {
    return target_->DescribePath(path, facts);
  }
  Status CreateFolder(const std::u16string& path) override { return target_->CreateFolder(path); }
  Status CreateFolderChain(const std::u16string& path) override { return target_->CreateFolderChain(path); }
  Status SetAttributesNormal(const std::u16string& path) override { return target_->SetAttributesNormal(path); }
  Status MoveFileReplacing(const std::u16string& source, const std::u16string& target) override {
    return target_->MoveFileReplacing(source, target);
  }
  Status CopyOver(const std::u16string& source, const std::u16string& target, WriteMode mode) override {
    return target_->CopyOver(source, target, mode);
  }
  Status WriteWholeFile(const std::u16string& path, std::string_view bytes, WriteMode mode) override {
    return target_->WriteWholeFile(path, bytes, mode);
  }
  Status TakeOwnerAndMode(const std::u16string& path, const std::u16string& model) override {
    return target_->TakeOwnerAndMode(path, model);
  }
  Status RemoveFile(const std::u16string& path) override { return target_->RemoveFile(path); }
  Status RemoveLink(const std::u16string& path) override { return target_->RemoveLink(path); }
  Status FlushFile(const std::u16string& path) override { return target_->FlushFile(path); }
  Status FlushFolder(const std::u16string& folder) override { return target_->FlushFolder(folder); }
  Status SetFolderAccess(const std::u16string& folder, const std::vector<AccessEntry>& entries) override {
    return target_->SetFolderAccess(folder, entries);
  }
  std::uint32_t ProcessId() override { return target_->ProcessId(); }
  Status ProcessRunning(std::uint32_t pid, bool* running) override { return target_->ProcessRunning(pid, running); }

 private:
  Env* target_;
};

// The Env the layer's functions call: Env::Default() unless a ScopedEnv
// replaces it.
Env* CurrentEnv();

// Puts `env` in place of the current Env for the whole process while it
// lives, then restores the one before. Not thread-safe: the Env may only be
// swapped while no other thread uses the layer (between sessions). `env` must
// outlive the scope.
class ScopedEnv {
 public:
  explicit ScopedEnv(Env* env);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  Env* previous_;
};

}  // namespace customhooks::fs

#endif  // CUSTOMHOOKS_FS_ENV_H_
