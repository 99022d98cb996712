#include "fs/fs_status.h"

namespace customhooks::fs {
namespace {

const char* CodeName(int code) {
  switch (static_cast<Code>(code)) {
    case Code::kNotFound:
      return "not found";
    case Code::kExists:
      return "exists";
    case Code::kAccessDenied:
      return "access denied";
    case Code::kSharingViolation:
      return "sharing violation";
    case Code::kDiskFull:
      return "disk full";
    case Code::kBadPath:
      return "bad path";
    case Code::kNoMemory:
      return "no memory";
    case Code::kFailed:
      break;
  }
  return "failed";
}

const StatusDomain kDomain{"fs", CodeName};

}  // namespace

const StatusDomain& StatusDomainOf(Code) { return kDomain; }

}  // namespace customhooks::fs
