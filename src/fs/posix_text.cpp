// The platform's text, shell path and library path functions on POSIX:
// what the Windows services compute, from windows_emulation.cpp.
#include <string>

#include "fs/platform.h"
#include "fs/windows_emulation.h"

namespace customhooks::fs {

namespace platform {

int Utf8ToUtf16(const char* text, int length, char16_t* out, int capacity) {
  return emulation::Utf8ToUtf16(text, length, out, capacity);
}

int Utf16ToUtf8(const char16_t* text, int length, char* out, int capacity) {
  return emulation::Utf16ToUtf8(text, length, out, capacity);
}

// ---- Shell path functions ---------------------------------------------------------------

bool AppendPath(char16_t* path, const char16_t* more) { return emulation::AppendPath(path, more); }

void RemoveBackslash(char16_t* path) { emulation::RemoveBackslash(path); }

void StripPath(char16_t* path) { emulation::StripPath(path); }

// ---- Paths handed to libraries -------------------------------------------------------------------

std::string NativePath(const std::string& path) {
  std::string native = path;
  // find() scans with the C library rather than a compare per byte.
  for (auto at = native.find('\\'); at != std::string::npos; at = native.find('\\', at + 1)) native[at] = '/';
  return native;
}

}  // namespace platform

}  // namespace customhooks::fs
