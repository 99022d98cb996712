// Configuration documents: the in-memory model of one document, reading it
// from a file or from bytes, and composing its text.
//
// A document is a "Configuration" element holding one "Payload" section and
// any number of "Other" sections; each section is named by a code and holds
// "Data" entries named by key. All text is UTF-8: a document that declares
// ISO-8859-1, windows-1252 or US-ASCII is converted on the way in, and the
// writer declares UTF-8, so a document read and written back reads the same.
#ifndef CUSTOMHOOKS_PCF_PCF_DOCUMENT_H_
#define CUSTOMHOOKS_PCF_PCF_DOCUMENT_H_

#include <cstddef>
#include <functional>
#include <map>
#include <string>

#include "pcf/pcf_status.h"

namespace customhooks::pcf {

// Key -> value of one section, in plain unsigned byte order of the keys:
// upper case before lower case, a string before its extensions. Looked up
// by any string type.
using EntryMap = std::map<std::string, std::string, std::less<>>;

// Section code -> entries, for every section of one document, in the same
// order. Nothing marks the Payload section; the writer tells it by the
// payload code.
using SectionMap = std::map<std::string, EntryMap, std::less<>>;

// One document as read: its sections and the code of its Payload section.
struct Document {
  std::string payloadCode;
  SectionMap sections;
};

// A payload code has at most kPayloadCodeSize - 1 bytes.
constexpr std::size_t kPayloadCodeSize = 64;

// Deepest element nesting a document may have (the root counts as level 1;
// real documents have 3). Deeper documents are refused before the parser
// sees them.
constexpr int kMaxNesting = 256;

// Reads the document file at `path` (UTF-8) into `*document`, which is left
// untouched on any failure:
//   kNoMemory                  memory ran out
//   kNotFound                  nothing stands at `path`
//   kCannotOpen                a folder stands there, or the file cannot be
//                              opened or read (refused, held without sharing)
//   kNotConfigurationDocument  not text in its encoding (malformed UTF-8 in a
//                              document read as UTF-8, a byte above 0x7F in
//                              one declaring US-ASCII), not well-formed,
//                              nested deeper than kMaxNesting, no single
//                              "Payload" child in a root whose name begins
//                              with "Configuration", or a payload code of
//                              kPayloadCodeSize bytes or more
//   kSectionWithoutCode        a section without any code
//   kDataWithoutKey            a Data element without "key"
// A section's code is its "orvikCode" attribute, else its "defaultOrvikCode"
// attribute, else the value of its retained entry "defaultOrvikCode"; the
// first section with a code keeps it, a later one is ignored whole. A Data
// element is retained unless it has a "protected" attribute whose value
// does not begin with "1"; the first retained one of a key gives that key's
// value: the text of its first child when that child is text, cut at a NUL,
// else "". A failing Other section fails the whole read.
Status ReadDocument(const std::string& path, Document* document) noexcept;

// ReadDocument on the bytes of a document instead of a file: the same
// outcomes but kNotFound and kCannotOpen.
Status ReadDocumentText(std::string bytes, Document* document) noexcept;

// The text of the document made of `sections` whose Payload section is
// `payloadCode`: XML declaration, "Configuration" root, one element per
// section in code order (the section `payloadCode` as "Payload", every other
// one as "Other"), one Data element per entry in key order; CR LF line ends,
// TAB indentation, "&", "<" and (in attributes) '"' escaped, no line end
// after the root's end tag. Empty when the section `payloadCode` has no
// entries or is missing. May throw std::bad_alloc.
std::string FormatDocument(const std::string& payloadCode, const SectionMap& sections);

// True when ReadDocumentText reads the non-empty text FormatDocument makes of
// the same arguments: `payloadCode` is shorter than kPayloadCodeSize, and
// every code, key and value is well-formed UTF-8 without a NUL. The reader
// refuses text that is not UTF-8, a NUL ends the text it parses, and the
// writer escapes everything else that could change the markup. Checks the
// texts once, without parsing.
bool FormatReadsBack(const std::string& payloadCode, const SectionMap& sections);

}  // namespace customhooks::pcf

#endif  // CUSTOMHOOKS_PCF_PCF_DOCUMENT_H_
