// Text conversion and bounded text.
//
// The whole module carries text and paths as NUL-terminated or counted UTF-8
// narrow strings. UTF-16 ("wide", char16_t on every target) appears only at
// the platform's file services. Conversions behave as the platform's
// MultiByteToWideChar / WideCharToMultiByte with code page CP_UTF8 and flags
// 0: an invalid UTF-8 sequence becomes U+FFFD, it does not fail the call.
#ifndef CUSTOMHOOKS_FS_TEXT_H_
#define CUSTOMHOOKS_FS_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace customhooks::fs {

// Converts the whole counted length of `utf8` (embedded NULs included).
// Empty when the input is empty or the conversion fails.
std::u16string Utf8ToWide(std::string_view utf8);

// Converts the whole counted length of `wide`. Empty when the input is empty
// or the conversion fails.
std::string WideToUtf8(std::u16string_view wide);

// Whether every unit of the counted text is below 0x80. Such a text holds
// the same units in UTF-8 and in UTF-16, one for one, and converts by a plain
// copy (the platform's converters give that copy too, NULs included).
bool IsAscii(const char* text, std::size_t length);
bool IsAscii(const char16_t* text, std::size_t length);

}  // namespace customhooks::fs

#endif  // CUSTOMHOOKS_FS_TEXT_H_
