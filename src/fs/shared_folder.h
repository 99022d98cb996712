// Files in a folder that others can write.
//
// An elevated process must assume that a plain user planted links, pipes or
// devices there. A library that opens files by path itself (SQLite) is kept
// from following them: CheckedOpenCall() replaces the open call in the
// library's system-call table. While a CheckedFolderScope is active on the
// calling thread, the checked call opens a name directly inside the scope's
// HeldFolder, relative to the folder's own descriptor or handle. It never
// goes through a symbolic link or reparse point, creates a file only where
// no name stands, and never waits for a pipe's other end. It accepts only a
// regular file with exactly one link that lies in that very folder, checked
// on the opened handle. Any other open goes unchanged to the library's
// original call.
//
// The checked open call and the folder it checks are platform functions
// outside the Env (fs/env.h). The library calls them itself, with its own
// arguments, on its own threads, so a replaced Env never sees those opens.
// IsPlantedLink and RemovePlantedLink go through the current Env.
#ifndef CUSTOMHOOKS_FS_SHARED_FOLDER_H_
#define CUSTOMHOOKS_FS_SHARED_FOLDER_H_

#include <string>

#include "fs/fs_status.h"

namespace customhooks::fs {

namespace platform {
struct CheckedFolder;
}

// A folder that others can write, held open by its descriptor (POSIX) or
// handle (Windows) for as long as the object lives.
class HeldFolder {
 public:
  // Opens `folder` (a native path, spelt as the library spells the files in
  // it) as itself, never through a link or reparse point.
  explicit HeldFolder(const std::string& folder);
  ~HeldFolder();
  HeldFolder(const HeldFolder&) = delete;
  HeldFolder& operator=(const HeldFolder&) = delete;

  // False when the folder could not be opened as a folder of its own: then
  // nothing may be opened or removed through it.
  bool held() const { return folder_ != nullptr; }

  // Removes the entry `name` (a plain name, no separator) of the held
  // folder, relative to its descriptor or handle. The name goes, never what
  // a link there leads to. On Windows only a regular file of its own in
  // this folder is removed. With `flush`, the folder's entries are forced to
  // disk afterwards. Code::kAccessDenied when not held or refused; else the
  // platform's failure.
  Status Remove(const std::string& name, bool flush) const;

 private:
  friend class CheckedFolderScope;
  platform::CheckedFolder* folder_;
};

// Makes `folder` the calling thread's checked folder until the scope ends;
// the thread's earlier one, if any, applies again afterwards. `folder` must
// be held and outlive the scope.
class CheckedFolderScope {
 public:
  explicit CheckedFolderScope(const HeldFolder& folder);
  ~CheckedFolderScope();
  CheckedFolderScope(const CheckedFolderScope&) = delete;
  CheckedFolderScope& operator=(const CheckedFolderScope&) = delete;

 private:
  platform::CheckedFolder* previous_;
};

// A system call of a library's replaceable table: its name there ("open" on
// POSIX, "CreateFileW" on Windows) and the checked replacement.
struct SystemCallReplacement {
  const char* name;
  void (*call)(void);
};
SystemCallReplacement CheckedOpenCall();

// Where the replacement forwards every open it does not check: the table's
// original entry. Set once, before the replacement is installed.
void ForwardCheckedOpenTo(void (*original)(void));

// True when `path` is a symbolic link, a reparse point or one of several
// links to a file.
bool IsPlantedLink(const std::string& path);

// Removes such a link: the name itself goes, never what it leads to.
// Code::kAccessDenied when `path` is no link, or one that cannot be removed
// without following it (under Wine): that one stays.
Status RemovePlantedLink(const std::string& path);

}  // namespace customhooks::fs

#endif  // CUSTOMHOOKS_FS_SHARED_FOLDER_H_
