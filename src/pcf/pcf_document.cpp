#include "pcf/pcf_document.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include <tinyxml.h>

#include "fs/files.h"
#include "pcf/parser_input.h"
#include "pcf/pcf_status.h"

namespace customhooks::pcf {

using fs::IsDirectory;
using fs::OpenFileShared;
using fs::UniqueFile;
namespace {

// Reads the whole file through a handle that lets other processes read and
// write it meanwhile.
Status ReadDocumentBytes(const char* path, std::string& bytes) {
  // A folder is not a document; some platforms would open it all the same.
  if (IsDirectory(path)) return Status(Code::kCannotOpen, path);
  UniqueFile file;
  if (!OpenFileShared(path, "rb", file).ok()) return Status(Code::kCannotOpen, path);
  char chunk[16384];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) bytes.append(chunk, got);
  return std::ferror(file.get()) ? Status(Code::kCannotOpen, path) : Status();
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

void AppendEscaped(std::string& out, const std::string& text, bool inAttribute) {
  // The text between two escaped characters is appended in one piece.
  std::size_t from = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    const char* escape = c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '"' && inAttribute ? "&quot;" : nullptr;
    if (escape == nullptr) continue;
    out.append(text, from, at - from);
    out += escape;
    from = at + 1;
  }
  out.append(text, from, std::string::npos);
}

}  // namespace

Status PCFReadDocument(const char* path, PCFSectionMap* sections, std::string* payloadCode) noexcept {
  if (path == nullptr || sections == nullptr || payloadCode == nullptr) return Code::kBadArgument;
  return StatusUnlessOutOfMemory(Code::kNoMemory, [&] {
    std::string bytes;
    Status read = ReadDocumentBytes(path, bytes);
    if (!read.ok()) return read;
    return PCFReadDocumentText(std::move(bytes), sections, payloadCode);
  });
}

Status PCFReadDocumentText(std::string bytes, PCFSectionMap* sections, std::string* payloadCode) noexcept {
  if (sections == nullptr || payloadCode == nullptr) return Code::kBadArgument;
  return StatusUnlessOutOfMemory(Code::kNoMemory, [&] {
    // The parser gets exactly the bytes that were checked, so a file that
    // changes meanwhile cannot slip past the check.
    NormalizeForParser(bytes);
    // The model is UTF-8, the encoding the writer declares: a document in a
    // legacy encoding is converted, keys and codes included, and one that is
    // not text in its encoding is refused rather than read byte for byte.
    if (!ConvertToUtf8(bytes, DeclaredEncoding(bytes))) {
      return Status(Code::kNotConfigurationDocument, "not text in its encoding");
    }
    if (!FitsParserLimits(bytes, kPCFMaxNesting)) {
      return Status(Code::kNotConfigurationDocument, "beyond the parser's limits");
    }
    // Parsed as UTF-8 whatever the document declares: the bytes are UTF-8 by
    // now, and character references must become the same UTF-8 bytes a later
    // read expects (in any other mode the parser keeps only the low byte of
    // each, which a UTF-8 read then takes as the start of a longer character).
    TiXmlDocument document;
    document.Parse(bytes.c_str(), nullptr, TIXML_ENCODING_UTF8);
    if (document.Error()) return Status(Code::kNotConfigurationDocument, document.ErrorDesc());
    if (!PCFIsConfigurationDocument(document)) return Status(Code::kNotConfigurationDocument);

    const TiXmlElement* root = document.FirstChildElement();
    PCFSectionMap read;
    std::string payload;
    PCFEntryMap payloadEntries;
    Status status = PCFReadSection(*root->FirstChildElement("Payload"), true, &payload, &payloadEntries);
    if (!status.ok()) return status;
    read.emplace(payload, std::move(payloadEntries));

    for (const TiXmlElement* other = root->FirstChildElement("Other"); other != nullptr;
         other = other->NextSiblingElement("Other")) {
      std::string code;
      PCFEntryMap entries;
      status = PCFReadSection(*other, false, &code, &entries);
      if (!status.ok()) return status;
      // The first section with a code keeps it; a later one is ignored whole.
      read.emplace(std::move(code), std::move(entries));
    }
    sections->swap(read);
    payloadCode->swap(payload);
    return Status();
  });
}

Status PCFReadSection(const TiXmlElement& section, bool isPayload, std::string* code,
                   PCFEntryMap* entries) {
  PCFEntryMap read;
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
  if (isPayload && sectionCode.size() >= kPCFPayloadCodeSize) {
    return Status(Code::kNotConfigurationDocument, "payload code too long");
  }

  code->swap(sectionCode);
  entries->swap(read);
  return Status();
}

bool PCFIsConfigurationDocument(const TiXmlDocument& document) {
  const TiXmlElement* root = document.FirstChildElement();
  if (root == nullptr || std::strncmp(root->Value(), "Configuration", 13) != 0) return false;
  const TiXmlElement* payload = root->FirstChildElement("Payload");
  return payload != nullptr && payload->NextSiblingElement("Payload") == nullptr;
}

std::string PCFFormatDocument(const std::string& payloadCode, const PCFSectionMap& sections) {
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
    AppendEscaped(text, code, true);
    text += "\">\r\n";
    for (const auto& [key, value] : entries) {
      text += "\t\t<Data key=\"";
      AppendEscaped(text, key, true);
      text += "\">";
      AppendEscaped(text, value, false);
      text += "</Data>\r\n";
    }
    text += "\t</";
    text += element;
    text += ">\r\n";
  }
  text += "</Configuration>";
  return text;
}

void PCFMergeSections(std::vector<PCFSectionMap>& documents, PCFSectionMap incoming, bool merge) {
  if (!merge || documents.empty()) {
    documents.push_back(std::move(incoming));
    return;
  }
  // Every changed section is built aside first and swapped in at the end, so
  // running out of memory halfway leaves the documents as they were.
  std::vector<std::pair<PCFEntryMap*, PCFEntryMap>> changes;
  changes.reserve(incoming.size());
  for (const auto& [code, entries] : incoming) {
    PCFEntryMap* target = nullptr;
    for (PCFSectionMap& document : documents) {
      const auto section = document.find(code);
      if (section != document.end()) {
        target = &section->second;
        break;
      }
    }
    if (target == nullptr) continue;
    PCFEntryMap updated = *target;
    for (const auto& [key, value] : entries) updated[key] = value;
    changes.emplace_back(target, std::move(updated));
  }
  for (auto& [target, updated] : changes) target->swap(updated);
}

}  // namespace customhooks::pcf
