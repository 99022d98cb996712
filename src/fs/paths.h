// Path splitting and joining within the 260-unit (MAX_PATH) limit.
//
// "\" and "/" are both separators on every target; results are the strings
// the Windows shell path functions give, on POSIX as well.
#ifndef CUSTOMHOOKS_FS_PATHS_H_
#define CUSTOMHOOKS_FS_PATHS_H_

#include <string>

#include "fs/status.h"

namespace customhooks::fs {

// The parent of `path`: "." for a bare name; C:\a for both C:\a\b and
// C:\a\b\ (with a trailing backslash). "" only when memory runs out.
std::string ParentPath(const std::string& path);

// Joins `base` and `more` with exactly one backslash and no trailing
// backslash (PathAppendW then PathRemoveBackslashW; "." and ".." segments are
// resolved, and a `more` that starts with a drive or "\\" replaces `base`).
// An empty `more` gives `base` unchanged. Fails with Code::kBadPath, leaving
// `*out` untouched, when the UTF-16 lengths of the two parts together exceed
// 260, when the joined path with its terminator does not fit 260 units, or
// when a part does not convert; with Code::kNoMemory when memory runs out.
Status JoinPath(const std::string& base, const std::string& more, std::string* out);

}  // namespace customhooks::fs

#endif  // CUSTOMHOOKS_FS_PATHS_H_
