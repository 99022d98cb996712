// The failure codes of the file-system layer.
//
// Every function of the layer that can fail returns a customhooks::Status
// with one of these codes (see fs/status.h); each platform's Env translates
// the system's errors into them in one place.
#ifndef CUSTOMHOOKS_FS_FS_STATUS_H_
#define CUSTOMHOOKS_FS_FS_STATUS_H_

#include <string_view>

#include "fs/status.h"

namespace customhooks::fs {

enum class Code {
  kNotFound = 1,      // the path, or a folder on it, does not exist
  kExists,            // something of that name already exists, or stands
                      // where a folder should be
  kAccessDenied,      // refused: permissions, a read-only target, a folder in
                      // the way, a link where a plain file must be
  kSharingViolation,  // another process holds the file open
  kDiskFull,          // no space left on the volume (or quota exhausted)
  kBadPath,           // the path is not acceptable (not absolute, too long,
                      // not a folder where one is needed)
  kNoMemory,          // memory ran out
  kFailed,            // anything else the system reports
};

const StatusDomain& StatusDomainOf(Code code);

// A failure of the system call `call` on `path`: `code`, with the context
// "<call> <path>: <kind> <number>" ("<call>: ..." without a path). Each
// platform's translation gives it the system's own error and its number,
// which the Code alone does not keep.
Status CallFailure(Code code, const char* call, std::string_view path, const char* kind,
                   unsigned long number) noexcept;

}  // namespace customhooks::fs

#endif  // CUSTOMHOOKS_FS_FS_STATUS_H_
