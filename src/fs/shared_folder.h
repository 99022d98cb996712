// Files in a folder that others can write.
//
// An elevated process must assume that a plain user planted links there. A
// library that opens files by path itself (SQLite) is kept from following
// them by replacing the open call in its system-call table with
// CheckedOpenCall(): while a CheckedFolderScope lives on the calling thread,
// that call opens a name directly inside the scope's folder only as itself
// (never through a symbolic link or reparse point, creating only where no
// name stands) and accepts only a regular file with exactly one link that
// lies in that very folder, checked on the opened handle. Any other open is
// forwarded unchanged to the library's original call.
//
// The checked open call and the folder it checks are platform functions
// outside the Env (fs/env.h): the library calls them itself, with its own
// arguments, on its own threads, and a replaced Env never sees those opens.
// IsPlantedLink and RemovePlantedLink go through the current Env.
#ifndef CUSTOMHOOKS_FS_SHARED_FOLDER_H_
#define CUSTOMHOOKS_FS_SHARED_FOLDER_H_

#include <string>

#include "fs/status.h"

namespace customhooks::fs {

namespace platform {
struct CheckedFolder;
}

class CheckedFolderScope {
 public:
  // Opens `folder` (a native path, spelt as the library spells the files in
  // it) as itself, never through a link or reparse point, and holds it until
  // the scope ends; a scope opened inside another one takes over until it
  // ends.
  explicit CheckedFolderScope(const std::string& folder);
  ~CheckedFolderScope();
  CheckedFolderScope(const CheckedFolderScope&) = delete;
  CheckedFolderScope& operator=(const CheckedFolderScope&) = delete;

  // False when the folder could not be opened as a folder of its own: then
  // nothing is checked, and the caller must not open files there.
  bool held() const { return folder_ != nullptr; }

 private:
  platform::CheckedFolder* folder_;
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
