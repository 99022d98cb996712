#include "pcf/pcf_document.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include <tinyxml.h>

#include "fs/files.h"
#include "pcf/parser_input.h"

namespace customhooks::pcf {

namespace {

// Reads the whole file through one open that also says what stands at the
// path: a folder is no document, though some platforms would open it. The
// file stays open to other processes' reads and writes meanwhile.
Status ReadDocumentBytes(const std::string& path, std::string* bytes) {
  fs::OpenedForReading opened;
  if (!fs::OpenForReading(path, &opened).ok()) return Status(Code::kCannotOpen, path);
  if (opened.found == fs::Found::kNothing) return Status(Code::kNotFound, path);
  if (opened.found == fs::Found::kFolder) return Status(Code::kCannotOpen, path);
  char chunk[16384];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, opened.file.get())) > 0) bytes->append(chunk, got);
  return std::ferror(opened.file.get()) ? Status(Code::kCannotOpen, path) : Status();
}

// The text of an element: the value of its first child when that child is
// text (CDATA included), else "". A reference to character 0 ("&#0;",
// "&#x;") puts a NUL into the parser's text; the value ends there, as every
// text of the model is a C string: a NUL written into a file would cut the
// document short for the next read.
std::string ElementText(const TiXmlElement& element) {
  const TiXmlNode* first = element.FirstChild();
  if (first == nullptr || first->ToText() == nullptr) return std::string();
  const std::string& text = first->ValueStr();
  return text.substr(0, text.find('\0'));
}

// Where an escaped text goes: a quote is escaped only in an attribute.
enum class XmlPlace { kAttribute, kElement };

void AppendEscaped(std::string* out, const std::string& text, XmlPlace place) {
  // The text between two escaped characters is appended in one piece.
  std::size_t from = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    const char* escape = c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '"' && place == XmlPlace::kAttribute ? "&quot;" : nullptr;
    if (escape == nullptr) continue;
    out->append(text, from, at - from);
    *out += escape;
    from = at + 1;
  }
  out->append(text, from, std::string::npos);
}

// The first element of the document has a name beginning with
// "Configuration" and exactly one child element named "Payload".
bool IsConfigurationDocument(const TiXmlDocument& document) {
  const TiXmlElement* root = document.FirstChildElement();
  if (root == nullptr || std::strncmp(root->Value(), "Configuration", 13) != 0) return false;
  const TiXmlElement* payload = root->FirstChildElement("Payload");
  return payload != nullptr && payload->NextSiblingElement("Payload") == nullptr;
}

// The document's "Payload" section, or another one.
enum class Section { kPayload, kOther };

// Reads one section element into its code and entries (see ReadDocument).
// A payload code of kPayloadCodeSize bytes or more could not serve as one:
// kNotConfigurationDocument. On failure the outputs are untouched. May throw
// std::bad_alloc.
Status ReadSection(const TiXmlElement& section, Section kind, std::string* code, EntryMap* entries) {
  EntryMap read;
  for (const TiXmlElement* data = section.FirstChildElement("Data"); data != nullptr;
       data = data->NextSiblingElement("Data")) {
    const char* key = data->Attribute("key");
    if (key == nullptr) return Code::kDataWithoutKey;
    const char* protection = data->Attribute("protected");
    if (protection != nullptr && protection[0] != '1') continue;
    read.emplace(key, ElementText(*data));
  }

  std::string sectionCode;
  const char* attribute = section.Attribute("orvikCode");
  if (attribute == nullptr) attribute = section.Attribute("defaultOrvikCode");
  if (attribute != nullptr) {
    sectionCode = attribute;
  } else {
    const auto entry = read.find("defaultOrvikCode");
    if (entry == read.end()) return Code::kSectionWithoutCode;
    sectionCode = entry->second;
  }
  if (kind == Section::kPayload && sectionCode.size() >= kPayloadCodeSize) {
    return Status(Code::kNotConfigurationDocument, "payload code too long");
  }

  code->swap(sectionCode);
  entries->swap(read);
  return Status();
}

}  // namespace

Status ReadDocument(const std::string& path, Document* document) noexcept {
  return UnlessOutOfMemory(Code::kNoMemory, [&] {
    std::string bytes;
    Status read = ReadDocumentBytes(path, &bytes);
    if (!read.ok()) return read;
    return ReadDocumentText(std::move(bytes), document);
  });
}

Status ReadDocumentText(std::string bytes, Document* document) noexcept {
  return UnlessOutOfMemory(Code::kNoMemory, [&] {
    // The parser gets exactly the bytes that were checked, so a file that
    // changes meanwhile cannot slip past the check.
    bytes = NormalizeForParser(std::move(bytes));
    // The model is UTF-8, the encoding the writer declares: a document in a
    // legacy encoding is converted, keys and codes included, and one that is
    // not text in its encoding is refused rather than read byte for byte.
    const DocumentEncoding encoding = DeclaredEncoding(bytes);
    std::optional<std::string> utf8 = ConvertToUtf8(std::move(bytes), encoding);
    if (!utf8) return Status(Code::kNotConfigurationDocument, "not text in its encoding");
    bytes = std::move(*utf8);
    // TinyXML recurses once per element level, parsing and freeing alike.
    if (!FitsParserLimits(bytes, kMaxNesting)) {
      return Status(Code::kNotConfigurationDocument, "beyond the parser's limits");
    }
    // Parsed as UTF-8 whatever the document declares: the bytes are UTF-8 by
    // now, and character references must become the same UTF-8 bytes a later
    // read expects (in any other mode the parser keeps only the low byte of
    // each, which a UTF-8 read then takes as the start of a longer character).
    TiXmlDocument parsed;
    parsed.Parse(bytes.c_str(), nullptr, TIXML_ENCODING_UTF8);
    if (parsed.Error()) return Status(Code::kNotConfigurationDocument, parsed.ErrorDesc());
    if (!IsConfigurationDocument(parsed)) return Status(Code::kNotConfigurationDocument);

    const TiXmlElement* root = parsed.FirstChildElement();
    Document read;
    EntryMap payloadEntries;
    Status status = ReadSection(*root->FirstChildElement("Payload"), Section::kPayload, &read.payloadCode, &payloadEntries);
    if (!status.ok()) return status;
    read.sections.emplace(read.payloadCode, std::move(payloadEntries));

    for (const TiXmlElement* other = root->FirstChildElement("Other"); other != nullptr;
         other = other->NextSiblingElement("Other")) {
      std::string code;
      EntryMap entries;
      status = ReadSection(*other, Section::kOther, &code, &entries);
      if (!status.ok()) return status;
      // A document is never taken in part: a later save would write it back
      // without the failing section.
      read.sections.emplace(std::move(code), std::move(entries));
    }
    *document = std::move(read);
    return Status();
  });
}

std::string FormatDocument(const std::string& payloadCode, const SectionMap& sections) {
  const auto payload = sections.find(payloadCode);
  if (payload == sections.end() || payload->second.empty()) return std::string();

  // Heads are composed without a fixed buffer, so no code or key is ever cut.
  std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n<Configuration>\r\n";
  for (const auto& [code, entries] : sections) {
    // Only the payload code itself makes a Payload element: a second one
    // would make the file unreadable.
    const char* element = code == payloadCode ? "Payload" : "Other";
    text += "\t<";
    text += element;
    text += " orvikCode=\"";
    AppendEscaped(&text, code, XmlPlace::kAttribute);
    text += "\">\r\n";
    for (const auto& [key, value] : entries) {
      text += "\t\t<Data key=\"";
      AppendEscaped(&text, key, XmlPlace::kAttribute);
      text += "\">";
      AppendEscaped(&text, value, XmlPlace::kElement);
      text += "</Data>\r\n";
    }
    text += "\t</";
    text += element;
    text += ">\r\n";
  }
  text += "</Configuration>";
  return text;
}

bool FormatReadsBack(const std::string& payloadCode, const SectionMap& sections) {
  const auto readable = [](const std::string& text) {
    return text.find('\0') == std::string::npos && IsWellFormedUtf8(text);
  };
  if (payloadCode.size() >= kPayloadCodeSize) return false;
  for (const auto& [code, entries] : sections) {
    if (!readable(code)) return false;
    for (const auto& [key, value] : entries) {
      if (!readable(key) || !readable(value)) return false;
    }
  }
  return true;
}

}  // namespace customhooks::pcf
