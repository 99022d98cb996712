// Conversions behave as the platform's CP_UTF8 converters with flags 0, and the
// bounded copies never overrun their buffers.
#include "fs/text.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "support/bounded_format.h"

using namespace customhooks::fs;

namespace {

TEST(Utf8ToWide, ConvertsWholeCountedLength) {
  EXPECT_EQ(Utf8ToWide("abc"), u"abc");
  EXPECT_EQ(Utf8ToWide("\xC3\xA9\xE2\x82\xAC"), u"\u00E9\u20AC");
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), u"\U0001F600");
  EXPECT_EQ(Utf8ToWide(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
  EXPECT_EQ(Utf8ToWide(""), u"");
}

TEST(Utf8ToWide, InvalidSequencesBecomeReplacementCharacters) {
  EXPECT_EQ(Utf8ToWide("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(Utf8ToWide("a\xC3"), u"a\uFFFD");       // cut short at the end
  EXPECT_EQ(Utf8ToWide("\xE2\x82x"), u"\uFFFDx");   // cut short before ASCII
  EXPECT_EQ(Utf8ToWide("\x80x"), u"\uFFFDx");       // lone continuation byte
  // One replacement for each maximal part of a sequence that could have
  // been valid, and one for each byte that cannot start one.
  EXPECT_EQ(Utf8ToWide("\xC0\x80"), u"\uFFFD\uFFFD");            // overlong
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98"), u"\uFFFD");             // four-byte sequence cut short
  EXPECT_EQ(Utf8ToWide("\xF8\x88\x80\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");
}

TEST(Utf8ToWide, SecondByteOutOfRangeEndsTheSequence) {
  // Windows takes a second byte that the lead does not allow into the lead's
  // replacement (Unicode's recommended practice would give one per byte).
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), u"\uFFFD\uFFFD");              // encoded surrogate
  EXPECT_EQ(Utf8ToWide("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD");  // above U+10FFFF
  EXPECT_EQ(Utf8ToWide("\xE0\x80\x80"), u"\uFFFD\uFFFD");              // overlong
}

TEST(Utf8ToWide, SequenceCutShortByTheEndTakesTheRest) {
  EXPECT_EQ(Utf8ToWide("a\xE2" "b"), u"a\uFFFD");
  EXPECT_EQ(Utf8ToWide("a\xF0\x9F" "b"), u"a\uFFFD");
}

TEST(WideToUtf8, ConvertsWholeCountedLength) {
  EXPECT_EQ(WideToUtf8(u"abc"), "abc");
  EXPECT_EQ(WideToUtf8(u"\u00E9\u20AC"), "\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(WideToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(WideToUtf8(std::u16string(u"a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(WideToUtf8(u""), "");
}

TEST(WideToUtf8, LoneSurrogateBecomesReplacementCharacter) {
  EXPECT_EQ(WideToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(WideToUtf8(u"a" + std::u16string(1, char16_t(0xDC00)) + u"b"), "a\xEF\xBF\xBD" "b");
}

// ASCII text converts by a copy, checked several units at a time: a
// non-ASCII unit at any place of a longer text (in a whole word or in the
// tail) still goes through the converter, in both directions.
TEST(TextConversion, OneNonAsciiUnitAnywhereIsConverted) {
  for (std::size_t at = 0; at < 19; ++at) {
    std::string utf8(19, 'a');
    std::u16string wide(19, u'a');
    utf8.replace(at, 1, "\xC3\xA9");
    wide[at] = u'\u00E9';
    EXPECT_EQ(Utf8ToWide(utf8), wide) << "at " << at;
    EXPECT_EQ(WideToUtf8(wide), utf8) << "at " << at;
    utf8.replace(at, 2, "\xFF");
    wide[at] = u'\uFFFD';
    EXPECT_EQ(Utf8ToWide(utf8), wide) << "invalid at " << at;
  }
  EXPECT_FALSE(IsAscii(u"abcdefg\u0080", 8));
  EXPECT_TRUE(IsAscii(u"abcdefg\u007F", 8));
}

TEST(FormatToBuffer, FormatsWhenTheTextFits) {
  char buffer[8];
  EXPECT_TRUE(FormatToBuffer(buffer, sizeof buffer, "%s=%d", "ab", 1234));
  EXPECT_STREQ(buffer, "ab=1234");
}

TEST(FormatToBuffer, LeavesEmptyTextWhenItDoesNotFit) {
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_FALSE(FormatToBuffer(buffer, sizeof buffer, "%s=%d", "ab", 12345));
  EXPECT_STREQ(buffer, "");
}

}  // namespace
