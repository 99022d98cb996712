// The codes of the configuration-document layer (reader and client
// session). Every operation of this layer that reports an outcome returns a
// Status (fs/status.h) carrying one of these.
#ifndef CUSTOMHOOKS_PCF_PCF_STATUS_H_
#define CUSTOMHOOKS_PCF_PCF_STATUS_H_

#include "fs/status.h"

namespace customhooks::pcf {

enum class Code {
  // Memory for the session, a payload code or a document is not available.
  kNoMemory = 1,
  // A required argument is null or empty.
  kBadArgument,
  // The document file does not exist; or the PCF folder cannot be listed or
  // holds no file whose name contains the subdomain.
  kNotFound,
  // The document file cannot be opened or read.
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
  // The subdomain cannot be made known (reading a value).
  kUnknownSubDomain,
  // A target file cannot be written.
  kWriteFailed,
  // The value does not fit the caller's buffer.
  kValueTooLong,
};

const StatusDomain& StatusDomainOf(Code);

}  // namespace customhooks::pcf

#endif  // CUSTOMHOOKS_PCF_PCF_STATUS_H_
