#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include <tinyxml.h>

#include "checks/document_forms.h"
#include "checks/fuzz_checks.h"
#include "checks/scratch.h"
#include "pcf/parser_input.h"
#include "pcf/pcf_document.h"
#include "pcf/pcf_status.h"

namespace {

using namespace customhooks::pcf;
using customhooks::Status;

struct ReadResult {
  Status status;
  Document document;
};

// What the caller's outputs hold before a read; a refused read leaves them so.
const SectionMap& SentinelSections() {
  static const SectionMap sentinel = {{"\x01untouched", {{"key", "value"}}}};
  return sentinel;
}
const char kSentinelCode[] = "\x01untouched";

// Reads `bytes` from a file of this process, as the module reads every
// document. False when the file itself cannot be written.
bool ReadThroughFile(const std::string& bytes, const char* name, ReadResult& result) {
  const std::string path = ScratchPath(name);
  if (!WriteBytes(path, bytes)) return false;
  result.document = {kSentinelCode, SentinelSections()};
  result.status = ReadDocument(path, &result.document);
  return true;
}

// Deepest element nesting of the parsed tree, the root element being level 1.
// The parser links every element it started, finished or not, so this is the
// deepest recursion the parse went through.
int ElementDepth(const TiXmlDocument& document) {
  int deepest = 0;
  std::vector<std::pair<const TiXmlNode*, int>> pending = {{&document, 0}};
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    for (const TiXmlNode* child = node->FirstChild(); child != nullptr; child = child->NextSibling()) {
      if (child->ToElement() == nullptr) continue;
      deepest = std::max(deepest, depth + 1);
      pending.emplace_back(child, depth + 1);
    }
  }
  return deepest;
}

// The nesting check lets through only what the parser takes at most that
// deep; a self-closing element, which opens no level, may sit one below.
// Small limits as well as the reader's own: a fuzzer reaches them.
std::string NestingCheckMissed(const std::string& bytes) {
  const std::string text = NormalizeForParser(bytes);
  if (!FitsParserLimits(text, kMaxNesting)) return std::string();
  TiXmlDocument document;
  document.Parse(text.c_str());
  const int depth = ElementDepth(document);
  for (const int limit : {1, 2, 3, 5, 8, kMaxNesting}) {
    if (depth > limit + 1 && FitsParserLimits(text, limit)) {
      return "the nesting check let " + std::to_string(depth) + " levels through a limit of " +
             std::to_string(limit);
    }
  }
  return std::string();
}

// Status and outputs of one read that a caller may rely on.
std::string ReaderContractBroken(const ReadResult& read) {
  const Document& document = read.document;
  if (read.status.ok()) {
    if (document.payloadCode.size() >= kPayloadCodeSize) {
      return "read, but the payload code has " + std::to_string(document.payloadCode.size()) + " bytes";
    }
    if (document.sections.count(document.payloadCode) != 1) return "read, but no section has the payload code";
    return std::string();
  }
  if (read.status == Code::kNotConfigurationDocument || read.status == Code::kSectionWithoutCode ||
      read.status == Code::kDataWithoutKey) {
    if (document.sections != SentinelSections() || document.payloadCode != kSentinelCode) {
      return "refused with " + read.status.ToString() + ", but the outputs were changed";
    }
    return std::string();
  }
  return "an existing document file gave " + read.status.ToString();
}

// The parser's white space (isspace in the C locale, CR and LF).
bool IsParserSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Element text as the parser leaves it: no white space at either end, none
// but single spaces inside, and none of the three byte-order-mark-like
// characters the parser skips together with leading white space.
bool HasParsedTextForm(const std::string& value) {
  if (value.empty()) return true;
  if (IsParserSpace(value.front()) || IsParserSpace(value.back())) return false;
  if (value.compare(0, 3, "\xEF\xBB\xBF") == 0 || value.compare(0, 3, "\xEF\xBF\xBE") == 0 ||
      value.compare(0, 3, "\xEF\xBF\xBF") == 0) {
    return false;
  }
  for (std::string::size_type i = 0; i < value.size(); ++i) {
    if (IsParserSpace(value[i]) && (value[i] != ' ' || value[i + 1] == ' ')) return false;
  }
  return true;
}

// The first place where two models differ, for the failure line.
std::string FirstDifference(const SectionMap& expected, const SectionMap& actual) {
  for (const auto& [code, entries] : expected) {
    const auto section = actual.find(code);
    if (section == actual.end()) return "section \"" + code + "\" lost";
    for (const auto& [key, value] : entries) {
      const auto entry = section->second.find(key);
      if (entry == section->second.end()) return "key \"" + key + "\" of \"" + code + "\" lost";
      if (entry->second != value) {
        return "value of \"" + key + "\" in \"" + code + "\" became \"" + entry->second + "\"";
      }
    }
    if (section->second.size() != entries.size()) return "section \"" + code + "\" gained entries";
  }
  return "sections were added";
}

}  // namespace

bool IsValidUtf8(const std::string& text) {
  for (std::string::size_type i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::string::size_type length;
    unsigned long code;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (std::string::size_type k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    const unsigned long smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

DocumentForms ExamineDocument(const SectionMap& sections) {
  DocumentForms forms;
  auto attribute = [&forms](const std::string& text) {
    forms.utf8 = forms.utf8 && IsValidUtf8(text);
    forms.exact = forms.exact && text.find('\r') == std::string::npos;
  };
  for (const auto& [code, entries] : sections) {
    attribute(code);
    for (const auto& [key, value] : entries) {
      attribute(key);
      forms.utf8 = forms.utf8 && IsValidUtf8(value);
      forms.exact = forms.exact && HasParsedTextForm(value);
    }
  }
  forms.exact = forms.exact && forms.utf8;
  return forms;
}

std::string CheckDocumentReader(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  ReadResult read;
  if (!ReadThroughFile(bytes, "input.xml", read)) return "the input cannot be written to a file";
  const std::string contract = ReaderContractBroken(read);
  return contract.empty() ? NestingCheckMissed(bytes) : contract;
}

std::string CheckDocumentRoundTrip(const std::uint8_t* data, std::size_t size) {
  ReadResult original;
  if (!ReadThroughFile(std::string(reinterpret_cast<const char*>(data), size), "input.xml", original)) {
    return "the input cannot be written to a file";
  }
  if (!original.status.ok()) return std::string();
  const Document& read = original.document;

  const std::string text = FormatDocument(read.payloadCode, read.sections);
  if (text.empty()) {
    // Only a document without payload entries has no text.
    if (read.sections.at(read.payloadCode).empty()) return std::string();
    return "a document with payload entries gave no text";
  }
  ReadResult again;
  if (!ReadThroughFile(text, "written.xml", again)) return "the written text cannot be written to a file";

  if (FormatReadsBack(read.payloadCode, read.sections) != again.status.ok()) {
    return std::string("FormatReadsBack says ") +
           (again.status.ok() ? "no" : "yes") + " where the written document reads with " +
           again.status.ToString();
  }
  const DocumentForms forms = ExamineDocument(read.sections);
  if (forms.utf8 && !again.status.ok()) {
    return "the written document reads with " + again.status.ToString();
  }
  if (!forms.exact) return std::string();
  if (again.document.payloadCode != read.payloadCode) {
    return "payload code \"" + read.payloadCode + "\" read back as \"" + again.document.payloadCode + "\"";
  }
  if (again.document.sections != read.sections) {
    return "read back differently: " + FirstDifference(read.sections, again.document.sections);
  }
  return std::string();
}
