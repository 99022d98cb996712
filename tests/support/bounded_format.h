// Bounded printf-style formatting for tests.
#ifndef CUSTOMHOOKS_TESTS_SUPPORT_BOUNDED_FORMAT_H_
#define CUSTOMHOOKS_TESTS_SUPPORT_BOUNDED_FORMAT_H_

#include <cstddef>

// vsprintf_s semantics: on success `buffer` holds the NUL-terminated text.
// When the text does not fit, `buffer` holds the empty string and the result
// is false; callers that must not truncate check it.
bool FormatToBuffer(char* buffer, std::size_t size, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

#endif  // CUSTOMHOOKS_TESTS_SUPPORT_BOUNDED_FORMAT_H_
