#include "support/bounded_format.h"

#include <climits>
#include <cstdarg>
#include <cstdio>

bool FormatToBuffer(char* buffer, std::size_t size, const char* format, ...) {
  if (buffer == nullptr || size == 0) return false;
  if (format == nullptr || size > static_cast<std::size_t>(INT_MAX)) {
    buffer[0] = '\0';
    return false;
  }
  va_list args;
  va_start(args, format);
  const int written = std::vsnprintf(buffer, size, format, args);
  va_end(args);
  if (written < 0 || static_cast<std::size_t>(written) >= size) {
    buffer[0] = '\0';
    return false;
  }
  return true;
}
