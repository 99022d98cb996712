#include "pcf/parser_input.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <initializer_list>

namespace customhooks::pcf {

namespace {

using Size = std::string::size_type;
constexpr Size kNone = std::string::npos;

// The white space every locale agrees on. The parser's own test (isspace)
// may add a few bytes in some locales; the scan never lets such a byte decide
// where quoted text begins or ends.
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Bytes a declaration may hold: printable ASCII and the white space above.
bool IsDeclarationByte(char c) { return IsSpace(c) || (c >= 0x20 && c < 0x7F); }

bool IsAsciiLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool IsNameByte(char c) {
  const auto b = static_cast<unsigned char>(c);
  return IsAsciiLetter(b) || (b >= '0' && b <= '9') || c == '_' || c == '-' || c == '.' || c == ':';
}

// How many bytes the parser takes as one character when its UTF-8 reader
// meets this byte. Counted generously (from 0xC0 up, where the parser starts
// at 0xC2 and stops at 0xF4): a longer guess only makes the scan stricter.
Size SequenceLength(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

bool StartsWith(const std::string& s, Size pos, const char* token) {
  return s.compare(pos, std::strlen(token), token) == 0;
}

bool StartsWithNoCase(const std::string& s, Size pos, const char* lowerToken) {
  for (; *lowerToken != '\0'; ++pos, ++lowerToken) {
    if (pos >= s.size()) return false;
    char c = s[pos];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != *lowerToken) return false;
  }
  return true;
}

// Position just after the first `token` at or after `from`; the end of the
// text when there is none (the parser then reads to the end as well).
Size PositionAfter(const std::string& s, Size from, const char* token) {
  const Size at = s.find(token, from);
  return at == kNone ? s.size() : at + std::strlen(token);
}

// Moves `pos` over a run of character data (element text or a quoted
// attribute value) up to `stop`, which is not consumed. The parser reads
// such runs one character at a time, and two kinds of character can swallow
// the byte that should end the run: a UTF-8 lead byte takes its continuation
// bytes whatever they are (only in UTF-8 mode), and a "&#...;" reference
// reaches to the next ';'. Either one covering `stop`, or reaching past the
// end of the text, makes the run unsafe: false.
bool SkipCharacterData(const std::string& s, Size& pos, char stop) {
  Size runEnd = s.find(stop, pos);
  if (runEnd == kNone) runEnd = s.size();
  Size semicolon = kNone;
  for (; pos < runEnd; ++pos) {
    const auto byte = static_cast<unsigned char>(s[pos]);
    // Most of a document is single bytes that are neither kind.
    if (byte < 0xC0 && byte != '&') continue;
    if (pos + SequenceLength(byte) > runEnd) return false;
    if (byte == '&' && pos + 2 < s.size() && s[pos + 1] == '#') {
      if (semicolon == kNone || semicolon < pos + 2) semicolon = s.find(';', pos + 2);
      if (semicolon == kNone || semicolon > runEnd) return false;
    }
  }
  return true;
}

// Moves `pos` over an element's start tag, from its '<' to just after its
// '>'. `empty` tells a self-closing tag. False where the parser fails: a '/'
// that is not followed by '>', a quoted value or tag cut off by the end.
bool SkipStartTag(const std::string& s, Size& pos, bool* empty) {
  for (++pos; pos < s.size();) {
    const char c = s[pos];
    if (c == '"' || c == '\'') {
      ++pos;
      if (!SkipCharacterData(s, pos, c) || pos >= s.size()) return false;
      ++pos;
    } else if (c == '>') {
      ++pos;
      *empty = false;
      return true;
    } else if (c == '/') {
      if (pos + 1 >= s.size() || s[pos + 1] != '>') return false;
      pos += 2;
      *empty = true;
      return true;
    } else {
      ++pos;
    }
  }
  return false;
}

void SkipSpaces(const std::string& s, Size& pos) {
  while (pos < s.size() && IsSpace(s[pos])) ++pos;
}

// Moves `pos` over an XML declaration ("<?xml" in any case) the way the
// parser reads one: the values of "version", "encoding" and "standalone" are
// attributes whose quotes hide a '>', while any other word is read over up to
// white space or '>'. Only printable ASCII is accepted, so no encoding mode
// or locale can change that reading. False when the declaration is refused
// or the parser fails on it.
bool SkipDeclaration(const std::string& s, Size& pos) {
  pos += 5;
  for (;;) {
    if (pos >= s.size()) return false;
    if (s[pos] == '>') {
      ++pos;
      return true;
    }
    SkipSpaces(s, pos);
    if (pos >= s.size() || !IsDeclarationByte(s[pos])) return false;
    if (StartsWithNoCase(s, pos, "version") || StartsWithNoCase(s, pos, "encoding") ||
        StartsWithNoCase(s, pos, "standalone")) {
      while (pos < s.size() && IsNameByte(s[pos])) ++pos;
      SkipSpaces(s, pos);
      if (pos >= s.size() || s[pos] != '=') return false;
      ++pos;
      SkipSpaces(s, pos);
      if (pos >= s.size()) return false;
      const char quote = s[pos];
      if (quote == '"' || quote == '\'') {
        const Size start = ++pos;
        if (!SkipCharacterData(s, pos, quote) || pos >= s.size()) return false;
        for (Size i = start; i < pos; ++i) {
          if (!IsDeclarationByte(s[i])) return false;
        }
        ++pos;
      } else {
        for (; pos < s.size() && !IsSpace(s[pos]) && s[pos] != '/' && s[pos] != '>'; ++pos) {
          if (s[pos] == '"' || s[pos] == '\'' || !IsDeclarationByte(s[pos])) return false;
        }
      }
    } else {
      for (; pos < s.size() && s[pos] != '>' && !IsSpace(s[pos]); ++pos) {
        if (!IsDeclarationByte(s[pos])) return false;
      }
    }
  }
}

// The parser takes '<' followed by a letter, '_' or any byte from 127 up as
// the start of an element.
bool OpensElement(const std::string& s, Size pos) {
  if (pos + 1 >= s.size()) return false;
  const auto next = static_cast<unsigned char>(s[pos + 1]);
  return IsAsciiLetter(next) || next == '_' || next >= 127;
}

// Code points of windows-1252's 0x80-0x9F; the five bytes the code page
// leaves undefined keep their own value (see ConvertToUtf8).
constexpr char32_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
};

void AppendUtf8(std::string* out, char32_t c) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xE0 | (c >> 12));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool IsOneOf(const std::string& label, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (label.size() == std::strlen(name) && StartsWithNoCase(label, 0, name)) return true;
  }
  return false;
}

// The value of the "encoding" pseudo-attribute of the declaration that
// starts at `pos` ("<?xml"), trimmed; "" when there is none.
std::string EncodingPseudoAttribute(const std::string& s, Size pos) {
  pos += 5;
  while (pos < s.size() && s[pos] != '>') {
    if (!IsNameByte(s[pos])) {
      ++pos;
      continue;
    }
    const Size nameStart = pos;
    while (pos < s.size() && IsNameByte(s[pos])) ++pos;
    const std::string name = s.substr(nameStart, pos - nameStart);
    SkipSpaces(s, pos);
    if (pos >= s.size() || s[pos] != '=') continue;
    ++pos;
    SkipSpaces(s, pos);
    if (pos >= s.size()) break;
    Size valueStart = pos;
    Size valueEnd;
    if (s[pos] == '"' || s[pos] == '\'') {
      valueStart = pos + 1;
      valueEnd = s.find(s[pos], valueStart);
      if (valueEnd == kNone) break;
      pos = valueEnd + 1;
    } else {
      while (pos < s.size() && !IsSpace(s[pos]) && s[pos] != '>' && s[pos] != '?') ++pos;
      valueEnd = pos;
    }
    if (IsOneOf(name, {"encoding"})) {
      while (valueStart < valueEnd && IsSpace(s[valueStart])) ++valueStart;
      while (valueEnd > valueStart && IsSpace(s[valueEnd - 1])) --valueEnd;
      return s.substr(valueStart, valueEnd - valueStart);
    }
  }
  return std::string();
}

}  // namespace

bool IsWellFormedUtf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const auto* end = p + s.size();
  while (p < end) {
    const unsigned char b = *p;
    if (b < 0x80) {
      ++p;
      continue;
    }
    Size length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
      length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3;
      if (b == 0xE0) low = 0xA0;
      if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4;
      if (b == 0xF0) low = 0x90;
      if (b == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (static_cast<Size>(end - p) < length || p[1] < low || p[1] > high) return false;
    for (Size i = 2; i < length; ++i) {
      if (p[i] < 0x80 || p[i] > 0xBF) return false;
    }
    p += length;
  }
  return true;
}

DocumentEncoding DeclaredEncoding(const std::string& bytes) {
  if (StartsWith(bytes, 0, "\xEF\xBB\xBF")) return DocumentEncoding::kUtf8;
  Size pos = 0;
  while (pos < bytes.size() && IsSpace(bytes[pos])) ++pos;
  if (!StartsWithNoCase(bytes, pos, "<?xml")) return DocumentEncoding::kUtf8;
  const std::string label = EncodingPseudoAttribute(bytes, pos);
  if (IsOneOf(label, {"iso-8859-1", "iso8859-1", "iso_8859-1", "iso_8859-1:1987", "latin1", "latin-1", "l1",
                      "iso-ir-100", "cp819", "ibm819", "csisolatin1"})) {
    return DocumentEncoding::kLatin1;
  }
  if (IsOneOf(label, {"windows-1252", "cp1252", "x-cp1252"})) return DocumentEncoding::kWindows1252;
  if (IsOneOf(label, {"us-ascii", "ascii", "us", "iso646-us", "ansi_x3.4-1968", "iso-ir-6", "cp367", "ibm367",
                      "csascii"})) {
    return DocumentEncoding::kAscii;
  }
  return DocumentEncoding::kUtf8;
}

std::optional<std::string> ConvertToUtf8(std::string bytes, DocumentEncoding encoding) {
  const auto firstHigh = std::find_if(bytes.begin(), bytes.end(),
                                      [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
  // Most documents are ASCII: the same bytes in every encoding here.
  if (firstHigh == bytes.end()) return bytes;
  switch (encoding) {
    case DocumentEncoding::kUtf8:
      if (!IsWellFormedUtf8(bytes)) return std::nullopt;
      return bytes;
    case DocumentEncoding::kAscii:
      return std::nullopt;
    case DocumentEncoding::kLatin1:
    case DocumentEncoding::kWindows1252:
      break;
  }
  std::string converted;
  converted.reserve(bytes.size() + bytes.size() / 2);
  converted.append(bytes.begin(), firstHigh);
  for (auto it = firstHigh; it != bytes.end(); ++it) {
    const auto b = static_cast<unsigned char>(*it);
    const bool remapped = encoding == DocumentEncoding::kWindows1252 && b >= 0x80 && b < 0xA0;
    AppendUtf8(&converted, remapped ? kWindows1252High[b - 0x80] : b);
  }
  return converted;
}

std::string NormalizeForParser(std::string bytes) {
  const Size nul = bytes.find('\0');
  if (nul != kNone) bytes.resize(nul);
  // Only line ends change; the text between two CRs moves down in one piece.
  Size out = bytes.find('\r');
  if (out == kNone) return bytes;
  Size in = out;
  while (in < bytes.size()) {
    bytes[out++] = '\n';
    ++in;
    if (in < bytes.size() && bytes[in] == '\n') ++in;
    Size next = bytes.find('\r', in);
    if (next == kNone) next = bytes.size();
    std::char_traits<char>::move(&bytes[out], bytes.data() + in, next - in);
    out += next - in;
    in = next;
  }
  bytes.resize(out);
  return bytes;
}

bool FitsParserLimits(const std::string& text, int maxNesting) {
  Size pos = 0;
  int depth = 0;
  for (;;) {
    if (!SkipCharacterData(text, pos, '<')) return false;
    if (pos >= text.size()) return true;
    // The byte after '<' tells the kinds of markup apart.
    const char next = pos + 1 < text.size() ? text[pos + 1] : '\0';
    if (next == '?' && StartsWithNoCase(text, pos, "<?xml")) {
      if (!SkipDeclaration(text, pos)) return false;
    } else if (next == '!' && StartsWith(text, pos, "<!--")) {
      pos = PositionAfter(text, pos + 4, "-->");
    } else if (next == '!' && StartsWith(text, pos, "<![CDATA[")) {
      pos = PositionAfter(text, pos + 9, "]]>");
    } else if (next == '/') {
      // Outside every element the parser skips an end tag as unknown markup.
      if (depth > 0) --depth;
      pos = PositionAfter(text, pos + 2, ">");
    } else if (OpensElement(text, pos)) {
      bool empty = false;
      if (!SkipStartTag(text, pos, &empty)) return false;
      if (!empty && ++depth > maxNesting) return false;
    } else {
      // "<!DOCTYPE ...>", "<?target ...?>" and stray '<': the parser skips
      // them up to their first '>', quotes or not.
      pos = PositionAfter(text, pos + 1, ">");
    }
  }
}

}  // namespace customhooks::pcf
