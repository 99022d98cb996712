// The codes of the configuration-document layer (reader and document
// session). Every operation of this layer that reports an outcome returns a
// Status (fs/status.h) carrying one of these.
#ifndef CUSTOMHOOKS_PCF_PCF_STATUS_H_
#define CUSTOMHOOKS_PCF_PCF_STATUS_H_

#include "fs/status.h"

namespace customhooks::pcf {

enum class Code {
  // Memory ran out.
  kNoMemory = 1,
  // An argument is empty, or text no document can hold.
  kBadArgument,
  // Nothing stands at the document file's path; or the PCF folder cannot be
  // located or listed or holds no file whose name contains the subdomain.
  kNotFound,
  // A folder stands at the document file's path, or the file cannot be
  // opened or read.
  kCannotOpen,
  // The file is not a configuration document: not text in its encoding, not
  // well-formed XML, nested too deeply, a root that is not a "Configuration"
  // element with exactly one "Payload" child, or a payload code too long.
  kNotConfigurationDocument,
  // A section has no "orvikCode" attribute, no "defaultOrvikCode" attribute
  // and no retained "defaultOrvikCode" entry.
  kSectionWithoutCode,
  // A Data element has no "key" attribute.
  kDataWithoutKey,
  // A target file cannot be written.
  kWriteFailed,
};

const StatusDomain& StatusDomainOf(Code);

}  // namespace customhooks::pcf

#endif  // CUSTOMHOOKS_PCF_PCF_STATUS_H_
