#include "fs/text.h"

#include <climits>
#include <cstdint>
#include <cstring>

#include "fs/platform.h"

namespace customhooks::fs {

namespace {

// Eight bytes at a time: the texts are mostly ASCII paths and keys, and a
// check unit by unit would cost about as much as the conversion it saves.
template <typename Char>
bool AllBelow0x80(const Char* text, std::size_t length, std::uint64_t highBits) {
  constexpr std::size_t kPerWord = sizeof(std::uint64_t) / sizeof(Char);
  std::size_t i = 0;
  for (; i + kPerWord <= length; i += kPerWord) {
    std::uint64_t word;
    std::memcpy(&word, text + i, sizeof word);
    if ((word & highBits) != 0) return false;
  }
  for (; i < length; ++i) {
    if (static_cast<std::uint32_t>(text[i]) >= 0x80) return false;
  }
  return true;
}

}  // namespace

bool IsAscii(const char* text, std::size_t length) {
  return AllBelow0x80(reinterpret_cast<const unsigned char*>(text), length, 0x8080808080808080ull);
}

bool IsAscii(const char16_t* text, std::size_t length) { return AllBelow0x80(text, length, 0xFF80FF80FF80FF80ull); }

std::u16string Utf8ToWide(std::string_view utf8) {
  return UnlessOutOfMemory(std::u16string(), [&utf8] {
    if (utf8.empty() || utf8.size() > static_cast<std::size_t>(INT_MAX)) return std::u16string();
    if (IsAscii(utf8.data(), utf8.size())) {
      return std::u16string(reinterpret_cast<const unsigned char*>(utf8.data()),
                            reinterpret_cast<const unsigned char*>(utf8.data()) + utf8.size());
    }
    const int length = static_cast<int>(utf8.size());
    const int needed = platform::Utf8ToUtf16(utf8.data(), length, nullptr, 0);
    if (needed <= 0) return std::u16string();
    std::u16string wide(static_cast<std::size_t>(needed), u'\0');
    if (platform::Utf8ToUtf16(utf8.data(), length, &wide[0], needed) != needed) return std::u16string();
    return wide;
  });
}

std::string WideToUtf8(std::u16string_view wide) {
  return UnlessOutOfMemory(std::string(), [&wide] {
    if (wide.empty() || wide.size() > static_cast<std::size_t>(INT_MAX)) return std::string();
    if (IsAscii(wide.data(), wide.size())) return std::string(wide.begin(), wide.end());
    const int length = static_cast<int>(wide.size());
    const int needed = platform::Utf16ToUtf8(wide.data(), length, nullptr, 0);
    if (needed <= 0) return std::string();
    std::string utf8(static_cast<std::size_t>(needed), '\0');
    if (platform::Utf16ToUtf8(wide.data(), length, &utf8[0], needed) != needed) return std::string();
    return utf8;
  });
}

}  // namespace customhooks::fs
