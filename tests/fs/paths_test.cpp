// Path splitting and joining give the Windows shell's strings on every target.
#include "fs/paths.h"
#include "support/status_test_support.h"

#include <string>

#include <gtest/gtest.h>

using namespace customhooks::fs;

namespace {

std::string Joined(const std::string& base, const std::string& more) {
  std::string out = "unchanged";
  EXPECT_OK(JoinPath(base, more, &out)) << base << " + " << more;
  return out;
}

TEST(ParentPath, GivesTheShellsParent) {
  const std::string e = "\xC3\xA9";  // U+00E9, two bytes, one unit
  const struct {
    std::string path, parent;
  } cases[] = {
      // A bare name has ".".
      {"cache.db", "."},
      {"", "."},
      // A trailing separator does not count.
      {"C:\\a\\b", "C:\\a"},
      {"C:\\a\\b\\", "C:\\a"},
      // Either separator.
      {"C:\\a/b", "C:\\a"},
      {"/tmp/x/y.db", "/tmp/x"},
      {"\\tmp\\x/", "\\tmp"},
      // One separator goes before the last part, never the only byte.
      {"a\\\\b", "a\\"},
      {"a//b", "a/"},
      {"/a", "/"},
      {"\\\\a", "\\"},
      // Roots and drives.
      {"C:\\a", "C:"},
      {"C:a", "C:"},
      {"C:\\", "."},
      // Wide units are counted, not bytes.
      {"C:\\" + e + "\\" + e + e, "C:\\" + e},
  };
  for (const auto& c : cases) EXPECT_EQ(ParentPath(c.path), c.parent) << c.path;
}

TEST(JoinPath, EmptySecondPartGivesBaseUnchanged) {
  EXPECT_EQ(Joined("C:\\x\\", ""), "C:\\x\\");
  EXPECT_EQ(Joined("C:/x/./", ""), "C:/x/./");
}

TEST(JoinPath, ExactlyOneBackslash) {
  EXPECT_EQ(Joined("C:\\x", "y"), "C:\\x\\y");
  EXPECT_EQ(Joined("C:\\x\\", "y"), "C:\\x\\y");
  EXPECT_EQ(Joined("C:\\x", "\\y"), "C:\\x\\y");
  EXPECT_EQ(Joined("C:\\x", "y\\"), "C:\\x\\y");
  EXPECT_EQ(Joined("/tmp/x", "y.db"), "/tmp/x\\y.db");
  EXPECT_EQ(Joined("C:\\x", "y\\z"), "C:\\x\\y\\z");
}

TEST(JoinPath, DotSegmentsAreResolved) {
  EXPECT_EQ(Joined("C:\\x", ".\\y"), "C:\\x\\y");
  EXPECT_EQ(Joined("C:\\x\\w", "..\\y"), "C:\\x\\y");
  EXPECT_EQ(Joined("C:\\x", "..\\..\\y"), "C:\\y");
}

TEST(JoinPath, FullSecondPartReplacesBase) { EXPECT_EQ(Joined("C:\\x", "D:\\y"), "D:\\y"); }

TEST(JoinPath, EmptyBase) { EXPECT_EQ(Joined("", "y"), "y"); }

TEST(JoinPath, SumOver260IsRefusedAndOutputUntouched) {
  const std::string base = "C:\\" + std::string(197, 'b');  // 200 units
  std::string out = "unchanged";
  EXPECT_EQ(JoinPath(base, std::string(61, 'm'), &out), Code::kBadPath);
  EXPECT_EQ(out, "unchanged");
}

TEST(JoinPath, JoinedPathMustFitMaxPath) {
  const std::string base = "C:\\" + std::string(197, 'b');  // 200 units
  // 200 + 1 + 58 = 259 units: fits with its terminator.
  EXPECT_EQ(Joined(base, std::string(58, 'm')), base + "\\" + std::string(58, 'm'));
  // Sums of 259 and 260 pass the first check, but the joined path needs 260
  // and 261 units without its terminator.
  for (std::size_t more : {59u, 60u}) {
    std::string out = "unchanged";
    EXPECT_EQ(JoinPath(base, std::string(more, 'm'), &out), Code::kBadPath) << more;
    EXPECT_EQ(out, "unchanged");
  }
  // A separator the base brings counts the same.
  EXPECT_EQ(Joined(base + "\\", std::string(58, 'm')), base + "\\" + std::string(58, 'm'));
}

TEST(JoinPath, LimitCountsWideUnitsNotBytes) {
  std::string base = "C:\\";
  for (int i = 0; i < 253; ++i) base += "\xC3\xA9";  // 256 units, 509 bytes
  EXPECT_EQ(Joined(base, "a"), base + "\\a");
  std::string out = "unchanged";
  std::string supplementary = "\xF0\x9F\x98\x80";  // two units
  EXPECT_EQ(JoinPath(base, supplementary + supplementary + "a", &out), Code::kBadPath);
  EXPECT_EQ(out, "unchanged");
}

}  // namespace
