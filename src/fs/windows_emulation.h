// Windows functions as portable code (internal to ch_fs).
//
// The pure computations of the Windows services that the POSIX platform file
// stands in for: the CP_UTF8 converters, the shell's path functions,
// upper-casing and the order NTFS lists a folder in. Nothing here calls the
// operating system. The file is compiled on every target, so that the
// Windows test build can run each function beside the Windows function it
// imitates. The shipped Windows DLL calls the real functions instead.
//
// Strings are UTF-16 (char16_t); a "unit" is one UTF-16 code unit. Path
// buffers are NUL-terminated, as the shell's.
#ifndef CUSTOMHOOKS_FS_WINDOWS_EMULATION_H_
#define CUSTOMHOOKS_FS_WINDOWS_EMULATION_H_

#include <cstddef>
#include <string>

namespace customhooks::fs::emulation {

// ---- Text: MultiByteToWideChar / WideCharToMultiByte, CP_UTF8, flags 0 -------

// DecodeUtf8 replaces ill-formed UTF-8 by U+FFFD as Windows does:
// - a byte that starts no sequence (80-C1, F5-FF) gives one U+FFFD;
// - a lead byte followed by a byte that is no continuation byte (80-BF) gives
//   one U+FFFD for the lead and the continuation bytes before it, and that
//   byte is decoded afresh;
// - a continuation byte right after the lead that the lead does not allow
//   (E0 80-9F overlong, ED A0-BF surrogate, F0 80-8F overlong, F4 90-BF above
//   U+10FFFF) is taken into that lead's U+FFFD: "ED A0 80" gives two, where
//   Unicode's recommended practice gives three;
// - a sequence that the end of the input cuts short gives one U+FFFD for all
//   the rest of the input, whatever those bytes are: "E2 41" at the end gives
//   U+FFFD alone.
std::u16string DecodeUtf8(const char* text, std::size_t length);

// EncodeUtf8 writes a lone surrogate (one that is not half of a well-formed
// pair) as U+FFFD.
std::string EncodeUtf8(const char16_t* text, std::size_t length);

// MultiByteToWideChar(CP_UTF8, 0, text, length, out, capacity) and
// WideCharToMultiByte(CP_UTF8, 0, text, length, out, capacity, NULL, NULL).
// `length` counts input units; any negative value means up to and including
// the NUL terminator (Windows takes every negative value so, not only -1).
// With `capacity` 0 the size of the result is returned and `out` is not
// touched. Otherwise the result is written to `out` and its size returned.
// 0 means failure: `text` null, `length` 0, `capacity` negative, `out` null
// with a capacity, or a result that does not fit (then `out` holds no
// complete result; Windows leaves part of one there).
int Utf8ToUtf16(const char* text, int length, char16_t* out, int capacity);
int Utf16ToUtf8(const char16_t* text, int length, char* out, int capacity);

// ---- Shell path functions -------------------------------------------------------
// "\" is the separator, as the shell has it; "/" only ends a file name
// (FileNameStart). Paths are at most kMaxPath units with their terminator,
// as the shell functions expect (platform::kMaxPath).

// PathIsRootW: "\", "X:\", "\\server" and "\\server\share" (either name may
// be empty), and the long forms "\\?\X:\", "\\?\UNC\server[\share]" and
// "\\?\Volume{GUID}\". Not "\\server\" nor anything else ending in a
// backslash after "\\", nor "\\?" and other paths starting so.
bool IsRoot(const std::u16string& path);

// PathCanonicalizeW for a source shorter than kMaxPath: drops ".\" segments
// and lets "\.." remove the segment before it, never climbing over a drive
// root or a UNC share ("\\server\share"); a path with more ".." than
// segments gives the root "\", one that starts with "..\" loses the dots
// ("..\a" gives "\a"); "X:" becomes "X:\" and the empty path "\". Known
// difference: Windows Vista and later give "C:\one/" for "C:\one/.\two\..",
// where this gives "C:\one/." (as Wine does; its tests of Windows accept both).
std::u16string Canonicalize(const std::u16string& path);

// PathFindFileNameW: the offset of the part after the last "\", "/" or ":"
// that something other than a separator follows; 0 when there is none.
std::size_t FileNameStart(const char16_t* path);

// PathAppendW on a buffer of kMaxPath units. Leading backslashes of `more`
// go (not those of a UNC path). A `more` that is then not relative (a UNC
// path or "X:...") replaces `path`; a relative one goes after `path` and one
// backslash. The result is canonicalised (Canonicalize) and cut to
// kMaxPath - 1 units. False, with `path` emptied, when the two parts joined
// would need more than kMaxPath - 1 units. False, with `path` unchanged,
// when either pointer is null.
bool AppendPath(char16_t* path, const char16_t* more);

// PathRemoveBackslashW: removes one final "\" unless `path` is a root.
void RemoveBackslash(char16_t* path);

// PathStripPathW: moves the file name (FileNameStart) to the start.
void StripPath(char16_t* path);

// ---- Upper-casing and the listing order ----------------------------------------

// CharUpperW on one unit: the simple upper-case mapping of Windows' default
// ("file system") casing table, which NTFS also compares names with. It maps
// within the Basic Multilingual Plane only and only where the mapping comes
// back (U+0131 DOTLESS I, U+017F LONG S, U+00B5 MICRO SIGN stay); surrogates
// stay. The table is Unicode 15.0's (upper_case_table.inc, made by
// scripts/upper-case-table.sh).
char16_t UpperCase(char16_t unit);

// The order FindFirstFileW / FindNextFileW list an NTFS folder in: "." and
// ".." first, then by the upper-cased units (UpperCase), a name before the
// longer names it begins. Names equal so cannot share an NTFS folder; where a
// POSIX folder holds such names they come in the order of their own units.
bool ListedBefore(const std::u16string& a, const std::u16string& b);

}  // namespace customhooks::fs::emulation

#endif  // CUSTOMHOOKS_FS_WINDOWS_EMULATION_H_
