#include "pcf/pcf_status.h"

namespace customhooks::pcf {
namespace {

const char* CodeName(int code) {
  switch (static_cast<Code>(code)) {
    case Code::kNoMemory: return "no memory";
    case Code::kBadArgument: return "bad argument";
    case Code::kNotFound: return "not found";
    case Code::kCannotOpen: return "cannot open";
    case Code::kNotConfigurationDocument: return "not a configuration document";
    case Code::kSectionWithoutCode: return "section without code";
    case Code::kDataWithoutKey: return "data without key";
    case Code::kWriteFailed: return "write failed";
  }
  return "unknown code";
}

const StatusDomain kDomain{"pcf", CodeName};

}  // namespace

const StatusDomain& StatusDomainOf(Code) { return kDomain; }

}  // namespace customhooks::pcf
