#include "fs/text.h"

#include <climits>
#include <cstring>

#include "fs/guard.h"
#include "fs/platform.h"

namespace customhooks::fs {

std::u16string Utf8ToWide(const std::string& utf8) {
  return Guarded(std::u16string(), [&utf8] {
    if (utf8.empty() || utf8.size() > static_cast<std::size_t>(INT_MAX)) return std::u16string();
    const int length = static_cast<int>(utf8.size());
    const int needed = platform::Utf8ToUtf16(utf8.data(), length, nullptr, 0);
    if (needed <= 0) return std::u16string();
    std::u16string wide(static_cast<std::size_t>(needed), u'\0');
    if (platform::Utf8ToUtf16(utf8.data(), length, &wide[0], needed) != needed) return std::u16string();
    return wide;
  });
}

std::string WideToUtf8(const std::u16string& wide) {
  return Guarded(std::string(), [&wide] {
    if (wide.empty() || wide.size() > static_cast<std::size_t>(INT_MAX)) return std::string();
    const int length = static_cast<int>(wide.size());
    const int needed = platform::Utf16ToUtf8(wide.data(), length, nullptr, 0);
    if (needed <= 0) return std::string();
    std::string utf8(static_cast<std::size_t>(needed), '\0');
    if (platform::Utf16ToUtf8(wide.data(), length, &utf8[0], needed) != needed) return std::string();
    return utf8;
  });
}

char* CopyStringPadded(char* dst, const char* src, std::size_t dstSize, std::size_t count) {
  // strncpy_s: a null or empty destination cannot even hold the terminator.
  if (dst == nullptr || dstSize == 0) return nullptr;
  if (src == nullptr) {
    dst[0] = '\0';
    return nullptr;
  }
  const std::size_t length = strnlen(src, count);
  if (length >= dstSize) {
    dst[0] = '\0';
    return nullptr;
  }
  std::memcpy(dst, src, length);
  dst[length] = '\0';
  const std::size_t padEnd = count < dstSize ? count : dstSize;
  if (padEnd > length) std::memset(dst + length, 0, padEnd - length);
  return dst;
}

}  // namespace customhooks::fs
