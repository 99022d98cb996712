#include "fs/fs_status.h"

#include <string>

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

Status CallFailure(Code code, const char* call, std::string_view path, const char* kind,
                   unsigned long number) noexcept {
  return UnlessOutOfMemory(code, [&] {
    std::string context = call;
    if (!path.empty()) {
      context += ' ';
      context += path;
    }
    context += ": ";
    context += kind;
    context += ' ';
    context += std::to_string(number);
    return Status(code, context);
  });
}

}  // namespace customhooks::fs
