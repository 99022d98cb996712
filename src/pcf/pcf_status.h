// Statuses of the configuration-document layer (reader and client session).
// Every operation of this layer that reports an outcome returns one of these
// as a plain int; 0 is success.
#ifndef CUSTOMHOOKS_PCF_PCF_STATUS_H_
#define CUSTOMHOOKS_PCF_PCF_STATUS_H_

// Success.
constexpr int kPCFOk = 0;
// Memory for the session, a payload code or a document is not available.
constexpr int kPCFNoMemory = 3;
// A required argument is null or empty.
constexpr int kPCFBadArgument = 4;
// The document file does not exist; or the PCF folder cannot be listed or
// holds no file whose name contains the subdomain.
constexpr int kPCFNotFound = 5;
// The document file cannot be opened or read.
constexpr int kPCFCannotOpen = 6;
// The file is not a configuration document: not well-formed XML, nested too
// deeply, a root that is not a "Configuration" element with exactly one
// "Payload" child, or a payload code of 64 bytes or more.
constexpr int kPCFNotConfigurationDocument = 7;
// A section has no "orvikCode" attribute, no "defaultOrvikCode" attribute and
// no retained "defaultOrvikCode" entry.
constexpr int kPCFSectionWithoutCode = 9;
// A Data element has no "key" attribute (reading a document).
constexpr int kPCFDataWithoutKey = 10;
// The subdomain cannot be made known (reading a value). Same number as
// kPCFDataWithoutKey.
constexpr int kPCFUnknownSubDomain = 10;
// A target file cannot be written.
constexpr int kPCFWriteFailed = 12;
// The value does not fit the caller's buffer.
constexpr int kPCFValueTooLong = 13;

#endif  // CUSTOMHOOKS_PCF_PCF_STATUS_H_
