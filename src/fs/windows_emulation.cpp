#include "fs/windows_emulation.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string_view>

#include "fs/platform.h"
#include "fs/text.h"

namespace customhooks::fs::emulation {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

std::size_t WideLength(const char16_t* text) { return std::char_traits<char16_t>::length(text); }

// ---- UTF-8 ----------------------------------------------------------------------

// How many continuation bytes `lead` announces; 0 for a byte that starts no
// sequence.
unsigned Continuations(unsigned lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 1;
  if (lead >= 0xE0 && lead <= 0xEF) return 2;
  if (lead >= 0xF0 && lead <= 0xF4) return 3;
  return 0;
}

bool IsContinuation(unsigned byte) { return (byte & 0xC0) == 0x80; }

// Whether the continuation byte `second` may follow `lead` in a well-formed
// sequence (no overlong form, no surrogate, nothing above U+10FFFF).
bool SecondByteAllowed(unsigned lead, unsigned second) {
  switch (lead) {
    case 0xE0:
      return second >= 0xA0;
    case 0xED:
      return second <= 0x9F;
    case 0xF0:
      return second >= 0x90;
    case 0xF4:
      return second <= 0x8F;
    default:
      return true;
  }
}

// Where a conversion puts its units, as the Windows converters hand them
// over: with no capacity it only counts them; otherwise it writes them while
// they fit, and a result that does not fit gives 0.
template <typename Char>
class ConvertedUnits {
 public:
  ConvertedUnits(Char* out, int capacity) : out_(out), capacity_(static_cast<std::size_t>(capacity)) {}
  void operator()(Char unit) {
    if (count_ < capacity_) out_[count_] = unit;
    ++count_;
  }
  int Result() const {
    if (count_ > static_cast<std::size_t>(INT32_MAX)) return 0;
    if (capacity_ != 0 && count_ > capacity_) return 0;
    return static_cast<int>(count_);
  }

 private:
  Char* out_;
  std::size_t capacity_;
  std::size_t count_ = 0;
};

// ---- Paths ----------------------------------------------------------------------

bool IsUnc(const std::u16string& path) { return path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\'; }

// PathIsRelativeW.
bool IsRelative(std::u16string_view path) {
  return path.empty() || !(path[0] == u'\\' || (path.size() >= 2 && path[1] == u':'));
}

// "X:\".
bool IsDriveRoot(const std::u16string& path) { return path.size() == 3 && path[1] == u':' && path[2] == u'\\'; }

// Whether `path` from `start` on is "server" or "server\share" (either may be
// empty): at most one backslash, and not at the end.
bool IsServerShare(const std::u16string& path, std::size_t start) {
  return std::count(path.begin() + start, path.end(), u'\\') <= 1 && (path.size() == start || path.back() != u'\\');
}

bool StartsIgnoringCase(const std::u16string& text, const std::u16string& prefix) {
  if (text.size() < prefix.size()) return false;
  return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char16_t a, char16_t b) {
    const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 0x20) : c; };
    return lower(a) == lower(b);
  });
}

// "Volume{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}\", the GUID in hexadecimal digits.
bool IsVolumeRoot(const std::u16string& path) {
  static const char16_t kShape[] = u"Volume{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}\\";
  constexpr std::size_t kLength = sizeof kShape / sizeof kShape[0] - 1;
  if (path.size() != kLength || !StartsIgnoringCase(path, u"Volume{")) return false;
  for (std::size_t i = 7; i < kLength; ++i) {
    const char16_t c = path[i];
    const bool hex = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    if (kShape[i] == u'x' ? !hex : c != kShape[i]) return false;
  }
  return true;
}

// PathIsUNCServerShareW: "\\server\share", one backslash after the leading two.
bool IsUncServerShare(const std::u16string& path) {
  return IsUnc(path) && std::count(path.begin() + 2, path.end(), u'\\') == 1;
}

// ---- Upper-casing ---------------------------------------------------------------

struct UpperRun {
  std::uint16_t first;
  std::uint16_t last;
  std::uint16_t step;
  std::int32_t delta;
};

constexpr UpperRun kUpperRuns[] = {
#include "fs/upper_case_table.inc"
};

}  // namespace

// ---- Text -------------------------------------------------------------------------

namespace {

// The units of the text, in order, handed to `out` one at a time.
template <typename Put>
void DecodeUtf8Into(const char* text, std::size_t length, Put&& out) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  std::size_t i = 0;
  while (i < length) {
    const unsigned lead = bytes[i++];
    if (lead < 0x80) {
      out(static_cast<char16_t>(lead));
      continue;
    }
    const unsigned more = Continuations(lead);
    if (more == 0) {
      out(kReplacement);
      continue;
    }
    if (length - i < more) {
      out(kReplacement);  // the rest of the input with it
      break;
    }
    unsigned codePoint = lead & (0x3Fu >> more);
    bool wellFormed = true;
    for (unsigned k = 0; k < more; ++k) {
      const unsigned next = bytes[i];
      if (!IsContinuation(next)) {
        wellFormed = false;
        break;
      }
      ++i;
      codePoint = (codePoint << 6) | (next & 0x3F);
      if (k == 0 && !SecondByteAllowed(lead, next)) {
        wellFormed = false;
        break;
      }
    }
    if (!wellFormed) {
      out(kReplacement);
    } else if (codePoint >= 0x10000) {
      codePoint -= 0x10000;
      out(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
      out(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
    } else {
      out(static_cast<char16_t>(codePoint));
    }
  }
}

template <typename Put>
void EncodeUtf8Into(const char16_t* text, std::size_t length, Put&& out) {
  for (std::size_t i = 0; i < length; ++i) {
    unsigned codePoint = text[i];
    if (codePoint >= 0xD800 && codePoint <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (codePoint >= 0xD800 && codePoint <= 0xDFFF) {
      codePoint = kReplacement;
    }
    if (codePoint < 0x80) {
      out(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
      out(static_cast<char>(0xC0 | (codePoint >> 6)));
      out(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
      out(static_cast<char>(0xE0 | (codePoint >> 12)));
      out(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
      out(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
      out(static_cast<char>(0xF0 | (codePoint >> 18)));
      out(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
      out(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
      out(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
  }
}

}  // namespace

std::u16string DecodeUtf8(const char* text, std::size_t length) {
  if (IsAscii(text, length)) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    return std::u16string(bytes, bytes + length);
  }
  std::u16string out;
  out.reserve(length);
  DecodeUtf8Into(text, length, [&out](char16_t unit) { out += unit; });
  return out;
}

std::string EncodeUtf8(const char16_t* text, std::size_t length) {
  if (IsAscii(text, length)) return std::string(text, text + length);
  std::string out;
  out.reserve(length);
  EncodeUtf8Into(text, length, [&out](char unit) { out += unit; });
  return out;
}

int Utf8ToUtf16(const char* text, int length, char16_t* out, int capacity) {
  if (text == nullptr || length == 0 || capacity < 0 || (out == nullptr && capacity > 0)) return 0;
  const std::size_t size = length < 0 ? std::strlen(text) + 1 : static_cast<std::size_t>(length);
  ConvertedUnits<char16_t> units(out, capacity);
  DecodeUtf8Into(text, size, units);
  return units.Result();
}

int Utf16ToUtf8(const char16_t* text, int length, char* out, int capacity) {
  if (text == nullptr || length == 0 || capacity < 0 || (out == nullptr && capacity > 0)) return 0;
  const std::size_t size = length < 0 ? WideLength(text) + 1 : static_cast<std::size_t>(length);
  ConvertedUnits<char> units(out, capacity);
  EncodeUtf8Into(text, size, units);
  return units.Result();
}

// ---- Shell path functions -----------------------------------------------------------

bool IsRoot(const std::u16string& path) {
  if (path.empty()) return false;
  if (path == u"\\") return true;
  if (path.compare(0, 3, u"\\\\?") == 0) {
    if (path.compare(0, 4, u"\\\\?\\") != 0) return false;
    const std::u16string rest = path.substr(4);
    if (StartsIgnoringCase(rest, u"UNC\\")) return IsServerShare(rest, 4);
    return IsDriveRoot(rest) || IsVolumeRoot(rest);
  }
  if (IsUnc(path)) return IsServerShare(path, 2);
  return IsDriveRoot(path);
}

std::u16string Canonicalize(const std::u16string& source) {
  if (source.empty()) return u"\\";
  std::u16string out;
  out.reserve(source.size() + 1);
  std::size_t i = 0;
  const auto at = [&source](std::size_t index) -> char16_t { return index < source.size() ? source[index] : u'\0'; };
  if (source[0] == u'\\') {
    out += source[i++];
  } else if (at(1) == u':') {
    out += source[i++];
    out += source[i++];
    if (at(i) == u'\\') out += source[i++];
  }
  while (i < source.size()) {
    if (source[i] != u'.') {
      out += source[i++];
      continue;
    }
    if (at(i + 1) == u'\\' && (i == 0 || source[i - 1] == u'\\' || source[i - 1] == u':')) {
      i += 2;  // ".\"
      continue;
    }
    if (out.empty() && at(i + 1) == u'.' && at(i + 2) == u'\\') {
      i += 2;  // "..\" at the start of a relative path: its backslash stays
      continue;
    }
    if (at(i + 1) == u'.' && !out.empty() && out.back() == u'\\') {
      // "\..": find where the segment before it starts. `out[out.size()]` is
      // the terminator, as in the NUL-terminated original.
      std::size_t end = out.size();
      if (end > 1 && (out[end - 2] != u'\\' || end > 2)) {
        if (out[end - 2] == u':' && (end > 3 || out[end - 3] == u':')) {
          end -= 2;
          while (end > 0 && out[end] != u'\\') --end;
          end = out[end] == u'\\' ? end + 1 : 0;
        } else if (out[end - 2] != u':' && !IsUncServerShare(out)) {
          end -= 2;
        }
      }
      while (end > 0 && out[end] != u'\\') --end;
      out.resize(end);
      if (end == 0) {
        out += u'\\';
        ++i;
      }
      i = std::min(i + 2, source.size());
      continue;
    }
    out += source[i++];
  }
  if (out.size() == 2 && out[1] == u':') out += u'\\';
  return out;
}

std::size_t FileNameStart(const char16_t* path) {
  std::size_t start = 0;
  for (std::size_t i = 0; path[i] != u'\0'; ++i) {
    const char16_t c = path[i];
    const char16_t next = path[i + 1];
    if ((c == u'\\' || c == u'/' || c == u':') && next != u'\0' && next != u'\\' && next != u'/') start = i + 1;
  }
  return start;
}

bool AppendPath(char16_t* path, const char16_t* more) {
  if (path == nullptr || more == nullptr) return false;
  if (!(more[0] == u'\\' && more[1] == u'\\')) {
    while (*more == u'\\') ++more;
  }
  const std::u16string_view folder(path);
  const std::u16string_view file(more);
  constexpr std::size_t kLongest = platform::kMaxPath - 1;
  std::u16string joined;
  joined.reserve(folder.size() + file.size() + 1);
  if (file.empty()) {
    joined = folder.substr(0, kLongest);
  } else if (folder.empty() || !IsRelative(file)) {
    // A `more` that starts with "\" is a UNC path here: PathCombineW's join
    // after the root of `path` is never reached from PathAppendW.
    joined = file.substr(0, kLongest);
  } else {
    joined = folder.substr(0, kLongest);
    if (!joined.empty() && joined.back() != u'\\') joined += u'\\';
    if (joined.size() >= platform::kMaxPath || joined.size() + file.size() >= platform::kMaxPath) {
      path[0] = u'\0';
      return false;
    }
    joined += file;
  }
  const std::u16string result = Canonicalize(joined);
  const std::size_t length = std::min(result.size(), kLongest);
  std::copy_n(result.begin(), length, path);
  path[length] = u'\0';
  return true;
}

void RemoveBackslash(char16_t* path) {
  if (path == nullptr) return;
  const std::size_t length = WideLength(path);
  if (length > 0 && path[length - 1] == u'\\' && !IsRoot(std::u16string(path, length))) path[length - 1] = u'\0';
}

void StripPath(char16_t* path) {
  if (path == nullptr) return;
  const std::size_t start = FileNameStart(path);
  if (start == 0) return;
  const std::size_t length = WideLength(path + start);
  std::memmove(path, path + start, (length + 1) * sizeof(char16_t));
}

// ---- Upper-casing and the listing order -------------------------------------------------

char16_t UpperCase(char16_t unit) {
  // The run with the last first unit not above `unit` is the only one that
  // can hold it: the generator makes runs that do not interleave.
  const UpperRun* run = std::upper_bound(std::begin(kUpperRuns), std::end(kUpperRuns), unit,
                                         [](char16_t value, const UpperRun& r) { return value < r.first; });
  if (run == std::begin(kUpperRuns)) return unit;
  --run;
  if (unit > run->last || (unit - run->first) % run->step != 0) return unit;
  return static_cast<char16_t>(unit + run->delta);
}

bool ListedBefore(const std::u16string& a, const std::u16string& b) {
  const auto rank = [](const std::u16string& name) { return name == u"." ? 0 : name == u".." ? 1 : 2; };
  if (rank(a) != rank(b)) return rank(a) < rank(b);
  const auto mismatch = std::mismatch(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char16_t x, char16_t y) { return UpperCase(x) == UpperCase(y); });
  if (mismatch.first != a.end() && mismatch.second != b.end()) {
    return UpperCase(*mismatch.first) < UpperCase(*mismatch.second);
  }
  if (mismatch.first != a.end() || mismatch.second != b.end()) return mismatch.first == a.end();
  return a < b;
}

}  // namespace customhooks::fs::emulation
