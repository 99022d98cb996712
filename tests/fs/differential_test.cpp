// The Windows emulation that the POSIX library runs (fs/windows_emulation.h)
// side by side with the Windows functions it imitates, on thousands of
// generated inputs each: ill-formed and cut-short UTF-8, lone surrogates,
// buffers of every size around the result and negative lengths; paths with
// dots, doubled and mixed separators, drive, UNC and long-path roots,
// non-ASCII names and lengths around MAX_PATH; every UTF-16 unit for
// upper-casing; folders of generated names, case variants among them, for
// the listing order. The inputs come from fixed seeds, so every run tries
// the same ones. Each comparison prints how many inputs it tried and how
// many differed, and fails showing the first differences.
//
// Under Wine, "Windows" is Wine 8.0. Where Wine is known to differ from
// Windows and Windows is documented to agree with ours, the difference is
// counted apart by its kind (WineSplitsTheLastPair, WineReadsPastTheEnd,
// WineKeepsLeadingDots, WineIsRoot); any other difference fails. What Wine
// cannot show is the casing table of a real NTFS volume ($UpCase, written
// when the volume was formatted), which can be older than the Unicode 15.0
// mapping that Wine and ours share: names with letters whose case Unicode
// defined later (Georgian Mtavruli, U+1C90-U+1CBF, since Unicode 11) may
// list elsewhere on such a volume.
#include <windows.h>

#include <shlwapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fs/platform.h"
#include "fs/windows_emulation.h"
#include "support/test_machine.h"

namespace {

using customhooks::fs::platform::kMaxPath;
namespace emulation = customhooks::fs::emulation;

const wchar_t* W(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
wchar_t* W(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

// ---- Inputs -------------------------------------------------------------------------

class Random {
 public:
  explicit Random(std::uint32_t seed) : engine_(seed) {}
  // 0 .. n-1; the engine's own output, so that every toolchain draws the same.
  unsigned Below(unsigned n) { return static_cast<unsigned>(engine_() % n); }
  bool OneIn(unsigned n) { return Below(n) == 0; }
  template <typename T, std::size_t N>
  const T& Pick(const T (&choices)[N]) {
    return choices[Below(N)];
  }

 private:
  std::mt19937 engine_;
};

// A well-formed code point in UTF-8, as Windows writes it.
std::string Utf8Of(std::uint32_t codePoint) {
  std::u16string units;
  if (codePoint >= 0x10000) {
    units += static_cast<char16_t>(0xD800 + ((codePoint - 0x10000) >> 10));
    units += static_cast<char16_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
  } else {
    units += static_cast<char16_t>(codePoint);
  }
  char bytes[4];
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, W(units), static_cast<int>(units.size()), bytes, sizeof bytes,
                                         nullptr, nullptr);
  return std::string(bytes, static_cast<std::size_t>(size > 0 ? size : 0));
}

char Continuation(Random& random) { return static_cast<char>(0x80 + random.Below(0x40)); }

// One piece of a UTF-8 test string: well-formed, or one of the ways UTF-8
// goes wrong.
std::string Utf8Piece(Random& random) {
  std::string piece;
  switch (random.Below(14)) {
    case 0:
      return std::string(1, static_cast<char>(0x20 + random.Below(0x5F)));
    case 1:
      return std::string(1, '\0');
    case 2:
      return Utf8Of(0x80 + random.Below(0x780));
    case 3: {
      std::uint32_t codePoint = 0x800 + random.Below(0xF800);
      if (codePoint >= 0xD800 && codePoint <= 0xDFFF) codePoint += 0x800;
      return Utf8Of(codePoint);
    }
    case 4:
      return Utf8Of(0x10000 + random.Below(0x100000));
    case 5:  // overlong two-byte form
      piece += static_cast<char>(0xC0 + random.Below(2));
      piece += Continuation(random);
      return piece;
    case 6:  // overlong three-byte form
      piece += '\xE0';
      piece += static_cast<char>(0x80 + random.Below(0x20));
      piece += Continuation(random);
      return piece;
    case 7:  // overlong four-byte form
      piece += '\xF0';
      piece += static_cast<char>(0x80 + random.Below(0x10));
      piece += Continuation(random);
      piece += Continuation(random);
      return piece;
    case 8:  // a surrogate encoded in UTF-8
      piece += '\xED';
      piece += static_cast<char>(0xA0 + random.Below(0x20));
      piece += Continuation(random);
      return piece;
    case 9:  // above U+10FFFF
      piece += random.OneIn(2) ? '\xF4' : static_cast<char>(0xF5 + random.Below(3));
      piece += static_cast<char>(piece[0] == '\xF4' ? 0x90 + random.Below(0x30) : 0x80 + random.Below(0x40));
      piece += Continuation(random);
      piece += Continuation(random);
      return piece;
    case 10:  // a continuation byte without a lead
      return std::string(1, Continuation(random));
    case 11: {  // a sequence cut short
      const std::string whole = Utf8Of(random.OneIn(2) ? 0x800 + random.Below(0xD000) : 0x10000 + random.Below(0x100000));
      return whole.substr(0, 1 + random.Below(static_cast<unsigned>(whole.size() - 1)));
    }
    case 12:  // a byte that is never UTF-8
      return std::string(1, static_cast<char>(0xF8 + random.Below(8)));
    default:
      return std::string(1, static_cast<char>(random.Below(0x100)));
  }
}

std::string Utf8Text(Random& random) {
  std::string text;
  for (unsigned pieces = random.Below(12); pieces > 0; --pieces) text += Utf8Piece(random);
  return text;
}

// One piece of a UTF-16 test string, lone surrogates included.
std::u16string Utf16Piece(Random& random) {
  const auto unit = [](unsigned value) { return std::u16string(1, static_cast<char16_t>(value)); };
  switch (random.Below(10)) {
    case 0:
      return unit(0x20 + random.Below(0x5F));
    case 1:
      return unit(0);
    case 2:
      return unit(0x80 + random.Below(0x780));
    case 3: {
      unsigned value = 0x800 + random.Below(0xF800);
      if (value >= 0xD800 && value <= 0xDFFF) value += 0x800;
      return unit(value);
    }
    case 4:  // a surrogate pair
      return unit(0xD800 + random.Below(0x400)) + unit(0xDC00 + random.Below(0x400));
    case 5:  // a lone high surrogate
      return unit(0xD800 + random.Below(0x400));
    case 6:  // a lone low surrogate
      return unit(0xDC00 + random.Below(0x400));
    case 7:  // a pair in the wrong order
      return unit(0xDC00 + random.Below(0x400)) + unit(0xD800 + random.Below(0x400));
    case 8:
      return unit(0xFFFD + random.Below(3));
    default:
      return unit(random.Below(0x10000));
  }
}

std::u16string Utf16Text(Random& random) {
  std::u16string text;
  for (unsigned pieces = random.Below(12); pieces > 0; --pieces) text += Utf16Piece(random);
  return text;
}

// Path pieces: roots, names with dots and without, non-ASCII names,
// separators doubled and mixed.
std::u16string PathText(Random& random) {
  static const char16_t* const kRoots[] = {
      u"",         u"",           u"\\",       u"\\\\",          u"C:",       u"C:\\",           u"z:\\",
      u"\\\\server", u"\\\\server\\share", u"\\\\server\\share\\", u"\\\\server\\", u"\\\\\\", u"\\\\?",
      u"\\\\?\\C:\\", u"\\\\?\\UNC\\", u"\\\\?\\Volume{e51a1864-6f2d-4019-b73d-f4e60e600c26}\\", u"\\\\.\\",
      u"/",        u"C:/",        u":",          u"..\\",          u".\\",      u"C:.."};
  static const char16_t* const kSegments[] = {u"name", u"Dir",   u".",     u"..",    u"...",  u"",
                                              u" ",    u"a.b",   u"x..",   u"..x",   u".x",   u"\u00E9t\u00E9",
                                              u"\u4E2D", u"C:", u"a b", u"\U0001F600", u"..\\..", u"D:\\e"};
  static const char16_t* const kSeparators[] = {u"\\", u"\\", u"\\", u"\\\\", u"/", u"\\/", u"/\\"};
  static const char16_t* const kEnds[] = {u"", u"", u"\\", u"/", u"\\.", u"\\..", u".", u":"};
  std::u16string path = random.Pick(kRoots);
  for (unsigned segments = random.Below(7); segments > 0; --segments) {
    path += random.Pick(kSegments);
    if (segments > 1) path += random.Pick(kSeparators);
  }
  path += random.Pick(kEnds);
  return path;
}

// A path of about `length` units: a generated one with one long name in it.
std::u16string PathOfLength(Random& random, std::size_t length) {
  std::u16string path = PathText(random);
  const std::size_t at = random.Below(static_cast<unsigned>(path.size() + 1));
  if (path.size() < length) path.insert(at, length - path.size(), random.OneIn(4) ? u'\u00E9' : u'n');
  return path;
}

// A path for a comparison: mostly short, often near MAX_PATH, sometimes
// beyond it.
std::u16string SomePath(Random& random, std::size_t longest) {
  if (random.OneIn(3)) return PathOfLength(random, std::min<std::size_t>(longest, 240 + random.Below(40)));
  std::u16string path = PathText(random);
  if (path.size() > longest) path.resize(longest);
  return path;
}

// ---- Reporting ----------------------------------------------------------------------

std::string Show(const std::u16string& text) {
  std::string shown = "u\"";
  for (char16_t unit : text) {
    char buffer[8];
    if (unit >= 0x20 && unit < 0x7F && unit != u'"' && unit != u'\\') {
      shown += static_cast<char>(unit);
    } else {
      std::snprintf(buffer, sizeof buffer, "\\x%04X", static_cast<unsigned>(unit));
      shown += buffer;
    }
  }
  return shown + "\"";
}

std::string Show(const std::string& bytes) {
  std::string shown = "\"";
  for (char byte : bytes) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\x%02X", static_cast<unsigned char>(byte));
    shown += buffer;
  }
  return shown + "\"";
}

// Counts the inputs of one comparison and those that differ; shows the
// first few of those. A difference that Wine is known to make, where Windows
// is documented to agree with ours, is counted apart, by its kind, when the
// test runs under Wine; on Windows it is a difference like any other.
class Tally {
 public:
  explicit Tally(const char* function) : function_(function) {}
  ~Tally() {
    std::string wines;
    for (const auto& kind : wines_) wines += ", " + std::to_string(kind.second) + " Wine's own (" + kind.first + ")";
    std::printf("%-22s %6lu inputs, %lu differing%s\n", function_, inputs_, differing_, wines.c_str());
    EXPECT_EQ(differing_, 0u) << function_ << ":\n" << shown_;
  }
  Tally(const Tally&) = delete;
  Tally& operator=(const Tally&) = delete;

  // One input; `describe` says what differed when `same` is false.
  void Check(bool same, const std::function<std::string()>& describe) { Check(same, nullptr, describe); }
  // The same, for an input where Wine makes the known difference
  // `winesOwn` (null when it makes none).
  void Check(bool same, const char* winesOwn, const std::function<std::string()>& describe) {
    ++inputs_;
    if (same) return;
    if (winesOwn != nullptr && RunningUnderWine()) {
      ++wines_[winesOwn];
      return;
    }
    if (++differing_ <= 8) shown_ += "  " + describe() + "\n";
  }

 private:
  const char* function_;
  unsigned long inputs_ = 0;
  unsigned long differing_ = 0;
  std::map<std::string, unsigned long> wines_;
  std::string shown_;
};

// Names the known Wine difference `kind` when `applies`, for Tally::Check.
const char* WinesOwn(bool applies, const char* kind) { return applies ? kind : nullptr; }

// ---- MultiByteToWideChar / WideCharToMultiByte ----------------------------------------

// The calls one input gets: the size query, the conversion into a buffer of
// exactly that size and into one unit too small, the NUL-terminated forms
// (-1, and other negative lengths, which Windows takes as -1), and refused
// arguments.
enum class Room { kQuery, kExact, kOneShort, kNegative, kNoBuffer };
struct ConversionCall {
  int length;  // 0: the input's own length
  Room room;
};
const ConversionCall kConversionCalls[] = {
    {0, Room::kQuery},  {0, Room::kExact},     {0, Room::kOneShort},   {-1, Room::kExact},
    {-2, Room::kExact}, {-1000, Room::kQuery}, {0, Room::kNegative}, {0, Room::kNoBuffer},
};

// Wine 8.0's MultiByteToWideChar, given a buffer one unit short of a result
// that ends in a surrogate pair, writes the high surrogate alone and reports
// success with the buffer's size. Windows fails the call with
// ERROR_INSUFFICIENT_BUFFER, as its documentation says for a buffer that is
// too small, and so does ours.
template <typename Out>
bool WineSplitsTheLastPair(int capacity, int gotWindows, const std::vector<Out>& windows,
                           const std::basic_string<Out>& whole) {
  return sizeof(Out) == 2 && capacity > 0 && gotWindows == capacity &&
         whole.size() == static_cast<std::size_t>(capacity) + 1 && whole.back() >= 0xDC00 && whole.back() <= 0xDFFF &&
         std::equal(windows.begin(), windows.begin() + capacity, whole.begin());
}

template <typename In, typename Out, typename Ours, typename Theirs>
void CompareConversion(Tally& tally, const std::basic_string<In>& text, Ours ours, Theirs theirs) {
  for (const ConversionCall& call : kConversionCalls) {
    const int length = call.length == 0 ? static_cast<int>(text.size()) : call.length;
    const int needed = ours(text.c_str(), length, nullptr, 0);
    std::basic_string<Out> whole(static_cast<std::size_t>(needed > 0 ? needed : 0), Out(0));
    if (needed > 0) ours(text.c_str(), length, &whole[0], needed);
    int capacity = 0;
    if (call.room == Room::kExact) capacity = needed;
    if (call.room == Room::kOneShort) capacity = needed - 1;
    if (call.room == Room::kNegative) capacity = -1;
    if (call.room == Room::kNoBuffer) capacity = 5;
    std::vector<Out> mine(static_cast<std::size_t>(capacity > 0 ? capacity : 0) + 1, Out(0x2A));
    std::vector<Out> windows(mine.size(), Out(0x2A));
    const bool buffer = call.room != Room::kNoBuffer;
    const int gotMine = ours(text.c_str(), length, buffer ? mine.data() : nullptr, capacity);
    const int gotWindows = theirs(text.c_str(), length, buffer ? windows.data() : nullptr, capacity);
    const bool wrote = gotMine > 0 && capacity > 0;
    const bool same = gotMine == gotWindows && (!wrote || std::equal(mine.begin(), mine.begin() + gotMine, windows.begin()));
    tally.Check(same, WinesOwn(WineSplitsTheLastPair(capacity, gotWindows, windows, whole), "half a pair"), [&] {
      const auto result = [capacity](int got, const std::vector<Out>& written) {
        std::string shown = std::to_string(got);
        if (got > 0 && capacity > 0) shown += " " + Show(std::basic_string<Out>(written.data(), got));
        return shown;
      };
      return Show(text) + " length " + std::to_string(length) + " capacity " + std::to_string(capacity) +
             (buffer ? "" : " without a buffer") + ": ours " + result(gotMine, mine) + ", Windows " +
             result(gotWindows, windows);
    });
  }
}

TEST(Differential, MultiByteToWideChar) {
  Random random(20240601);
  Tally tally("MultiByteToWideChar");
  for (int i = 0; i < 4000; ++i) {
    CompareConversion<char, char16_t>(
        tally, Utf8Text(random), emulation::Utf8ToUtf16,
        [](const char* text, int length, char16_t* out, int capacity) {
          return ::MultiByteToWideChar(CP_UTF8, 0, text, length, W(out), capacity);
        });
  }
}

TEST(Differential, WideCharToMultiByte) {
  Random random(20240602);
  Tally tally("WideCharToMultiByte");
  for (int i = 0; i < 4000; ++i) {
    CompareConversion<char16_t, char>(
        tally, Utf16Text(random), emulation::Utf16ToUtf8,
        [](const char16_t* text, int length, char* out, int capacity) {
          return ::WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(text), length, out, capacity,
                                       nullptr, nullptr);
        });
  }
}

// ---- Shell path functions ----------------------------------------------------------------

// A path buffer as the shell functions take one: kMaxPath units and a zeroed
// guard area behind them, so that neither side can write past the other's
// end.
struct PathBuffer {
  explicit PathBuffer(const std::u16string& path) : units(kMaxPath + 64, u'\0') {
    std::copy(path.begin(), path.end(), units.begin());
  }
  std::u16string Text() const { return std::u16string(units.data()); }
  std::vector<char16_t> units;
};

bool EndsWithDotDot(const std::u16string& path) {
  return path.size() >= 2 && path.compare(path.size() - 2, 2, u"..") == 0;
}

// Wine's PathCanonicalizeW reads past the terminator of its source when a
// final ".." climbs back to the start of the path ("a\.."): it steps over
// three units where two are left, and goes on copying whatever lies behind
// the source after the "\" it wrote. Windows documents the root "\" alone
// for a path with more ".." than segments, which is ours. The comparison of
// PathCanonicalizeW hands the source over in a zeroed buffer, where what lies
// behind is another NUL; PathAppendW canonicalises a copy of its own on the
// stack, so for these paths Wine's result is "\" and then stack contents.
bool WineReadsPastTheEnd(const std::u16string& canonical, const std::u16string& source, const std::u16string& wines) {
  return canonical == u"\\" && EndsWithDotDot(source) && wines.compare(0, 1, u"\\") == 0;
}

// Microsoft documents for PathAppendW that a path starting with "..\\" loses
// those dots ("..\\path1\\path2" and "path3" give "\\path1\\path2\\path3"),
// and so does ours, also after ".\\" segments, which both drop. Wine 8.0 keeps
// the dots, and ".." segments later in the path climb back into them, so
// that its result for such a path can differ from ours in any way.
bool WineKeepsLeadingDots(const std::u16string& source) {
  std::size_t start = 0;
  while (source.compare(start, 2, u".\\") == 0) start += 2;
  return source.compare(start, 3, u"..\\") == 0;
}

TEST(Differential, PathCanonicalizeW) {
  Random random(20240603);
  Tally tally("PathCanonicalizeW");
  for (int i = 0; i < 5000; ++i) {
    const PathBuffer path(SomePath(random, kMaxPath - 1));
    PathBuffer windows(u"");
    const BOOL done = ::PathCanonicalizeW(W(windows.units.data()), reinterpret_cast<const wchar_t*>(path.units.data()));
    const std::u16string mine = emulation::Canonicalize(path.Text());
    tally.Check(done && mine == windows.Text(), WinesOwn(WineKeepsLeadingDots(path.Text()), "leading ..\\"), [&] {
      return Show(path.Text()) + ": ours " + Show(mine) + ", Windows " + (done ? Show(windows.Text()) : "FALSE");
    });
  }
}

TEST(Differential, PathAppendW) {
  Random random(20240604);
  Tally tally("PathAppendW");
  for (int i = 0; i < 5000; ++i) {
    const std::u16string path = SomePath(random, kMaxPath - 1);
    const std::u16string more = random.OneIn(10) ? PathOfLength(random, 200 + random.Below(400)) : SomePath(random, 600);
    PathBuffer mine(path);
    PathBuffer windows(path);
    const bool appendedMine = emulation::AppendPath(mine.units.data(), more.c_str());
    const bool appendedWindows = ::PathAppendW(W(windows.units.data()), W(more)) != FALSE;
    const bool same = appendedMine == appendedWindows && mine.Text() == windows.Text();
    // What PathAppendW canonicalises: `path` alone, `more` alone (cut to
    // kMaxPath - 1 units) when `path` is empty or `more` is not relative once
    // its leading backslashes are gone, else the two joined.
    std::u16string stripped = more;
    if (stripped.compare(0, 2, u"\\\\") != 0) stripped.erase(0, stripped.find_first_not_of(u'\\'));
    const bool relative = stripped.empty() || !(stripped[0] == u'\\' || (stripped.size() > 1 && stripped[1] == u':'));
    const std::u16string joined = more.empty()                ? path
                                  : path.empty() || !relative ? stripped.substr(0, kMaxPath - 1)
                                                              : path + u"\\" + stripped;
    const char* winesOwn = WineReadsPastTheEnd(mine.Text(), joined, windows.Text()) ? "read past the end"
                           : WineKeepsLeadingDots(joined)                            ? "leading ..\\"
                                                                                     : nullptr;
    tally.Check(same, winesOwn, [&] {
      return Show(path) + " + " + Show(more) + ": ours " + (appendedMine ? "" : "FALSE ") + Show(mine.Text()) +
             ", Windows " + (appendedWindows ? "" : "FALSE ") + Show(windows.Text());
    });
  }
}

// Wine 8.0's PathIsRootW takes every path starting with "\\\\" that has at
// most one more backslash for a root, a final one included, and knows no long
// path ("\\\\?\\"). Microsoft documents "\\\\server\\" as no root, and Wine's
// own later tests of Windows 10 have it so for "\\\\\\" and "\\\\?" too, and
// "\\\\?\\C:\\", "\\\\?\\UNC\\server\\share" and "\\\\?\\Volume{GUID}\\" as
// roots; so does ours. PathRemoveBackslashW keeps the final backslash of
// what it takes for a root.
bool WineIsRoot(const std::u16string& path) {
  if (path == u"\\") return true;
  if (path.compare(0, 2, u"\\\\") == 0) return std::count(path.begin() + 2, path.end(), u'\\') <= 1;
  return path.size() == 3 && path[1] == u':' && path[2] == u'\\';
}

TEST(Differential, PathRemoveBackslashW) {
  Random random(20240605);
  Tally tally("PathRemoveBackslashW");
  for (int i = 0; i < 5000; ++i) {
    const std::u16string path = SomePath(random, kMaxPath - 1);
    PathBuffer mine(path);
    PathBuffer windows(path);
    emulation::RemoveBackslash(mine.units.data());
    ::PathRemoveBackslashW(W(windows.units.data()));
    const bool final = !path.empty() && path.back() == u'\\';
    const std::u16string wines = final && !WineIsRoot(path) ? path.substr(0, path.size() - 1) : path;
    tally.Check(mine.Text() == windows.Text(),
                WinesOwn(path.compare(0, 2, u"\\\\") == 0 && windows.Text() == wines, "\\\\ roots"),
                [&] { return Show(path) + ": ours " + Show(mine.Text()) + ", Windows " + Show(windows.Text()); });
  }
}

TEST(Differential, PathStripPathW) {
  Random random(20240606);
  Tally tally("PathStripPathW");
  for (int i = 0; i < 5000; ++i) {
    const std::u16string path = SomePath(random, kMaxPath - 1);
    PathBuffer mine(path);
    PathBuffer windows(path);
    emulation::StripPath(mine.units.data());
    ::PathStripPathW(W(windows.units.data()));
    tally.Check(mine.Text() == windows.Text(),
                [&] { return Show(path) + ": ours " + Show(mine.Text()) + ", Windows " + Show(windows.Text()); });
  }
}

TEST(Differential, PathFindFileNameWAndPathIsRootW) {
  Random random(20240607);
  Tally fileName("PathFindFileNameW");
  Tally isRoot("PathIsRootW");
  for (int i = 0; i < 5000; ++i) {
    const std::u16string path = SomePath(random, kMaxPath - 1);
    const std::size_t mine = emulation::FileNameStart(path.c_str());
    const std::size_t windows = static_cast<std::size_t>(::PathFindFileNameW(W(path)) - W(path));
    fileName.Check(mine == windows, [&] {
      return Show(path) + ": ours " + std::to_string(mine) + ", Windows " + std::to_string(windows);
    });
    const bool rootMine = emulation::IsRoot(path);
    const bool rootWindows = ::PathIsRootW(W(path)) != FALSE;
    const bool winesRoot = path.compare(0, 2, u"\\\\") == 0 && rootWindows == WineIsRoot(path);
    isRoot.Check(rootMine == rootWindows, WinesOwn(winesRoot, "\\\\ roots"), [&] {
      return Show(path) + ": ours " + std::to_string(rootMine) + ", Windows " + std::to_string(rootWindows);
    });
  }
}

// Microsoft's own examples and remarks for these functions: what Windows
// gives. Ours must give it; the real function must too, except where Wine
// 8.0 is known to differ (see above), which the table names.
struct Documented {
  const char* function;
  std::u16string path;
  std::u16string more;  // PathAppendW only
  std::u16string windows;
  const char* winesOwn;  // the known Wine difference, or null
};

TEST(Differential, MicrosoftsDocumentedExamples) {
  const Documented kExamples[] = {
      {"PathCanonicalizeW", u"A:\\name_1\\.\\name_2\\..\\name_3", u"", u"A:\\name_1\\name_3", nullptr},
      {"PathCanonicalizeW", u"A:\\name_1\\..\\name_2\\.\\name_3", u"", u"A:\\name_2\\name_3", nullptr},
      {"PathCanonicalizeW", u"A:\\name_1\\name_2\\.\\name_3\\..\\name_4", u"", u"A:\\name_1\\name_2\\name_4", nullptr},
      {"PathCanonicalizeW", u"A:\\name_1\\.\\name_2\\.\\name_3\\..\\name_4\\..", u"", u"A:\\name_1\\name_2", nullptr},
      {"PathCanonicalizeW", u"C:\\..", u"", u"C:\\", nullptr},
      {"PathAppendW", u"name_1\\name_2", u"name_3", u"name_1\\name_2\\name_3", nullptr},
      {"PathAppendW", u"..\\path1\\path2", u"path3", u"\\path1\\path2\\path3", "leading ..\\"},
      {"PathIsRootW", u"\\", u"", u"1", nullptr},
      {"PathIsRootW", u"C:\\", u"", u"1", nullptr},
      {"PathIsRootW", u"\\\\server\\share", u"", u"1", nullptr},
      {"PathIsRootW", u"..\\path2", u"", u"0", nullptr},
      {"PathIsRootW", u"\\\\server\\", u"", u"0", "\\\\ roots"},
      {"PathIsRootW", u"path\\file", u"", u"0", nullptr},
  };
  Tally tally("documented examples");
  for (const Documented& example : kExamples) {
    const std::string function = example.function;
    std::u16string mine;
    std::u16string windows;
    if (function == "PathCanonicalizeW") {
      PathBuffer out(u"");
      mine = emulation::Canonicalize(example.path);
      windows = ::PathCanonicalizeW(W(out.units.data()), W(example.path)) ? out.Text() : u"FALSE";
    } else if (function == "PathAppendW") {
      PathBuffer ours(example.path);
      PathBuffer theirs(example.path);
      mine = emulation::AppendPath(ours.units.data(), example.more.c_str()) ? ours.Text() : u"FALSE";
      windows = ::PathAppendW(W(theirs.units.data()), W(example.more)) ? theirs.Text() : u"FALSE";
    } else {
      mine = emulation::IsRoot(example.path) ? u"1" : u"0";
      windows = ::PathIsRootW(W(example.path)) ? u"1" : u"0";
    }
    EXPECT_EQ(mine, example.windows) << function << " " << Show(example.path) << " " << Show(example.more);
    tally.Check(windows == example.windows, example.winesOwn, [&] {
      return function + " " + Show(example.path) + " " + Show(example.more) + ": documented " +
             Show(example.windows) + ", Windows " + Show(windows);
    });
  }
}

// ---- CharUpperW ------------------------------------------------------------------------------

TEST(Differential, CharUpperWOnEveryUnit) {
  Tally tally("CharUpperW");
  for (unsigned unit = 0; unit <= 0xFFFF; ++unit) {
    wchar_t windows = static_cast<wchar_t>(unit);
    ::CharUpperBuffW(&windows, 1);
    const char16_t mine = emulation::UpperCase(static_cast<char16_t>(unit));
    tally.Check(mine == static_cast<char16_t>(windows), [&] {
      char line[64];
      std::snprintf(line, sizeof line, "U+%04X: ours U+%04X, Windows U+%04X", unit, static_cast<unsigned>(mine),
                    static_cast<unsigned>(windows));
      return std::string(line);
    });
  }
}

// ---- The order FindFirstFileW lists a folder in -----------------------------------------------

// A file name Windows accepts: no reserved character, no final dot or
// space; ASCII, accented and other scripts, characters whose upper case is
// special, surrogate pairs.
std::u16string FileName(Random& random) {
  static const char16_t kPunctuation[] = u" !#$%&'()+,-;=@[]^_`{}~.";
  static const char16_t kOthers[] = u"\u00C0\u00C9\u00E0\u00E9\u00DF\u00FF\u0178\u00B5\u0131\u0130\u017F\u01C5"
                                    u"\u03A3\u03C2\u03C3\u0391\u03B1\u0410\u0430\u10D0\u1C90\u4E2D\uFF21\uFF41\u0301"
                                    u"\u2C65\u023A\uA7C0\uA7C1\u1E9E";
  std::u16string name;
  for (unsigned length = 1 + random.Below(10); length > 0; --length) {
    switch (random.Below(6)) {
      case 0:
        name += static_cast<char16_t>(u'a' + random.Below(26));
        break;
      case 1:
        name += static_cast<char16_t>(u'A' + random.Below(26));
        break;
      case 2:
        name += static_cast<char16_t>(u'0' + random.Below(10));
        break;
      case 3:
        name += kPunctuation[random.Below(sizeof kPunctuation / sizeof kPunctuation[0] - 1)];
        break;
      case 4:
        name += kOthers[random.Below(sizeof kOthers / sizeof kOthers[0] - 1)];
        break;
      default:
        if (random.OneIn(3)) {
          name += static_cast<char16_t>(0xD800 + random.Below(0x400));
          name += static_cast<char16_t>(0xDC00 + random.Below(0x400));
        } else {
          name += static_cast<char16_t>(0x00C0 + random.Below(0x2000));
        }
    }
  }
  while (!name.empty() && (name.back() == u'.' || name.back() == u' ')) name.pop_back();
  return name.empty() ? u"x" : name;
}

// A name made of another with the case of its letters changed.
std::u16string CaseVariant(Random& random, const std::u16string& name) {
  std::u16string variant = name;
  for (char16_t& unit : variant) {
    if (random.OneIn(2)) continue;
    if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - 0x20);
    else if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit + 0x20);
    else unit = emulation::UpperCase(unit);
  }
  return variant;
}

// Every name FindFirstFileW and FindNextFileW give, "." and ".." included.
std::vector<std::u16string> Listed(const std::u16string& folder) {
  std::vector<std::u16string> names;
  WIN32_FIND_DATAW data;
  const HANDLE find = ::FindFirstFileW(W(folder + u"\\*"), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    names.emplace_back(reinterpret_cast<const char16_t*>(data.cFileName));
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  return names;
}

TEST(Differential, FindFirstFileWOrder) {
  Random random(20240608);
  Tally tally("FindFirstFileW order");
  unsigned long created = 0;
  wchar_t temp[MAX_PATH];
  ASSERT_NE(::GetTempPathW(MAX_PATH, temp), 0u);
  for (int round = 0; round < 40; ++round) {
    const std::u16string folder = reinterpret_cast<const char16_t*>(temp) + std::u16string(u"ch-order-") +
                                  std::u16string(1, static_cast<char16_t>(u'a' + round % 26)) +
                                  std::u16string(1, static_cast<char16_t>(u'a' + round / 26));
    ASSERT_TRUE(::CreateDirectoryW(W(folder), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
    std::vector<std::u16string> made;
    for (int i = 0; i < 60; ++i) {
      const std::u16string name =
          !made.empty() && random.OneIn(6) ? CaseVariant(random, made[random.Below(made.size())]) : FileName(random);
      const HANDLE file = ::CreateFileW(W(folder + u"\\" + name), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file == INVALID_HANDLE_VALUE) continue;  // taken by a name equal ignoring case
      ::CloseHandle(file);
      made.push_back(name);
      ++created;
    }
    const std::vector<std::u16string> windows = Listed(folder);
    std::vector<std::u16string> mine = windows;
    std::sort(mine.begin(), mine.end(), emulation::ListedBefore);
    tally.Check(mine == windows, [&] {
      std::string shown = "folder " + std::to_string(round) + ":";
      for (std::size_t i = 0; i < mine.size(); ++i) {
        if (mine[i] != windows[i]) {
          shown += " first difference at " + std::to_string(i) + ": ours " + Show(mine[i]) + ", Windows " +
                   Show(windows[i]);
          break;
        }
      }
      return shown;
    });
    for (const std::u16string& name : made) ::DeleteFileW(W(folder + u"\\" + name));
    ::RemoveDirectoryW(W(folder));
  }
  std::printf("%-24s %7lu files in 40 folders\n", "FindFirstFileW", created);
}

}  // namespace
