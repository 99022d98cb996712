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
//
// A shortcut: given `once`, a folder already granted through it with the same
// `allowWrite` is left as it is. A session opens its databases many times,
// and each open asks for its folder's grant; whoever runs the session holds
// one GrantsOnce for it. Without one, every call grants.
//
// False when `once` left the folder as it is; true when the list was set or
// tried.
class GrantsOnce;
bool GrantFolderAccess(const std::string& folder, bool allowWrite, GrantsOnce* once = nullptr);

// The folders granted in one session, each with its `allowWrite`.
class GrantsOnce {
 public:
  // True the first time `folder` is asked for with `allowWrite`.
  bool First(const std::string& folder, bool allowWrite);

 private:
  std::vector<std::pair<std::string, bool>> granted_;
};

}  // namespace customhooks::fs

#endif  // CUSTOMHOOKS_FS_ACCESS_H_
