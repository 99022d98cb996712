// Folder access lists.
#ifndef CUSTOMHOOKS_FS_ACCESS_H_
#define CUSTOMHOOKS_FS_ACCESS_H_

#include <string>
#include <utility>
#include <vector>

#include "fs/env.h"

namespace customhooks::fs {

// The list GrantFolderAccess applies, in its order: BUILTIN\Administrators
// (S-1-5-32-544) full control, then Everyone (S-1-1-0) read (with
// `allowWrite`: read, write and delete-child), both inherited by
// sub-folders and files.
std::vector<AccessEntry> FolderAccessEntries(bool allowWrite);

// Replaces the folder's access list by a protected list of
// FolderAccessEntries(allowWrite). On POSIX the owner stands for
// Administrators and "others" for Everyone, applied to the folder and
// everything already in it, plus a default ACL where the file system has one.
// Best effort: a folder whose list cannot be set stays usable as it is, so
// failures are not reported.
void GrantFolderAccess(const std::string& folder, bool allowWrite);

// While it lives, GrantFolderAccess grants each folder, with a given
// `allowWrite`, only once: a session opens its databases many times, and
// each open asks for its folder's grant. Without fs::FastPaths::skippedRegrant
// every call grants. Not thread-safe, like fs::ScopedEnv: one per session.
class GrantsOnce {
 public:
  GrantsOnce();
  ~GrantsOnce();
  GrantsOnce(const GrantsOnce&) = delete;
  GrantsOnce& operator=(const GrantsOnce&) = delete;

  // True the first time `folder` is asked for with `allowWrite`.
  bool First(const std::string& folder, bool allowWrite);

 private:
  GrantsOnce* previous_;
  std::vector<std::pair<std::string, bool>> granted_;
};

}  // namespace customhooks::fs

#endif  // CUSTOMHOOKS_FS_ACCESS_H_
