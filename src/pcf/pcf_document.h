// Configuration documents: the in-memory model of one document, reading a
// document file, composing the text of a document, and adding a document to
// the list a client session holds.
//
// A document is a "Configuration" element holding one "Payload" section and
// any number of "Other" sections; each section is named by a code and holds
// "Data" entries named by key. All text is UTF-8: a document that declares
// ISO-8859-1, windows-1252 or US-ASCII is converted on the way in, and the
// writer declares UTF-8, so a document read and written back reads the same.
#ifndef CUSTOMHOOKS_PCF_PCF_DOCUMENT_H_
#define CUSTOMHOOKS_PCF_PCF_DOCUMENT_H_

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "pcf/pcf_status.h"

class TiXmlDocument;
class TiXmlElement;

namespace customhooks::pcf {

// Key -> value of one section. std::string's ordering is plain unsigned byte
// order: upper case before lower case, a string before its extensions.
using PCFEntryMap = std::map<std::string, std::string>;

// Section code -> entries, for every section of one document. Nothing marks
// the Payload section; the writer tells it by the payload code.
using PCFSectionMap = std::map<std::string, PCFEntryMap>;

// Size of the buffer a payload code travels in: a payload code has at most
// kPCFPayloadCodeSize - 1 bytes.
constexpr std::size_t kPCFPayloadCodeSize = 64;

// Deepest element nesting a document may have (the root counts as level 1;
// real documents have 3). Deeper documents are refused before the parser
// sees them, since the parser recurses once per level.
constexpr int kPCFMaxNesting = 256;

// Reads the document at `path` (UTF-8). On success `*sections` holds every
// retained entry of every section and `*payloadCode` the code of the Payload
// section; on any failure both are left untouched.
//   kNoMemory                  memory ran out
//   kBadArgument               a null argument
//   kCannotOpen                the file cannot be opened or read (missing, a
//                              folder, refused)
//   kNotConfigurationDocument  not text in its encoding (malformed UTF-8 in a
//                              document read as UTF-8, a byte above 0x7F in
//                              one declaring US-ASCII), not well-formed,
//                              nested deeper than kPCFMaxNesting, no single
//                              "Payload" child in a "Configuration..." root,
//                              or a payload code of kPCFPayloadCodeSize bytes
//                              or more
//   kSectionWithoutCode        a section without any code
//   kDataWithoutKey            a Data element without "key"
// A failing Other section fails the whole read: a document is never taken in
// part, since a later save would write it back without that section.
Status PCFReadDocument(const char* path, PCFSectionMap* sections, std::string* payloadCode) noexcept;

// PCFReadDocument on the bytes of a document instead of a file: the same
// outcomes but kCannotOpen.
Status PCFReadDocumentText(std::string bytes, PCFSectionMap* sections, std::string* payloadCode) noexcept;

// Reads one section element. Its code is the "orvikCode" attribute, else the
// "defaultOrvikCode" attribute, else the value of the retained entry
// "defaultOrvikCode" (which stays in the section). A Data element is retained
// unless it has a "protected" attribute whose value does not begin with "1";
// the first retained Data element with a key gives that key's value, which is
// the text of its first child when that child is text, else "".
// Fails with kSectionWithoutCode, kDataWithoutKey, or
// kNotConfigurationDocument when `isPayload` and the code has
// kPCFPayloadCodeSize bytes or more (it could not serve as a payload code).
// On failure the outputs are untouched. May throw std::bad_alloc.
Status PCFReadSection(const TiXmlElement& section, bool isPayload, std::string* code,
                   PCFEntryMap* entries);

// True when the first element of the document has a name beginning with
// "Configuration" and exactly one child element named "Payload".
bool PCFIsConfigurationDocument(const TiXmlDocument& document);

// The text of the document: XML declaration, "Configuration" root, one
// element per section in code order (the section whose code equals
// `payloadCode` as "Payload", every other one as "Other"), one Data element
// per entry in key order; CR LF line ends, TAB indentation, "&", "<" and (in
// attributes) '"' escaped, no line end after the root's end tag. Empty when
// the map has no entries in the payload code's section. May throw
// std::bad_alloc.
std::string PCFFormatDocument(const std::string& payloadCode, const PCFSectionMap& sections);

// Adds `incoming` to `documents`. With `merge` false, or an empty list, it is
// appended as a new document. Otherwise each incoming section is merged into
// the first document that has a section with exactly its code (values of
// existing keys replaced, missing keys added); sections no document has are
// dropped. May throw std::bad_alloc, in which case `documents` is unchanged.
void PCFMergeSections(std::vector<PCFSectionMap>& documents, PCFSectionMap incoming, bool merge);

}  // namespace customhooks::pcf

#endif  // CUSTOMHOOKS_PCF_PCF_DOCUMENT_H_
