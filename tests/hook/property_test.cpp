#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hook/hook_context.h"
#include "hook/log_capture.h"

namespace customhooks::hook {
namespace {

using Lines = std::vector<std::string>;

HookProperty Prop(const char* name, const char* value) {
  return HookProperty{name, reinterpret_cast<std::uintptr_t>(value)};
}

class PropertyLookup : public ::testing::Test {
 protected:
  void SetUp() override { CapturedLines().clear(); }
  HookContext Context(const HookProperty* map) { return HookContext{map, 4, 0, 0, &CaptureLine}; }
};

TEST_F(PropertyLookup, FindsExactNameAndFirstOfDuplicates) {
  const HookProperty map[] = {Prop("installLanguage", "fr_MA"), Prop("mediaSignature", "{A}"),
                              Prop("mediaSignature", "{B}"), Prop(nullptr, nullptr)};
  const std::optional<const char*> value = FindProperty(Context(map), "mediaSignature");
  ASSERT_TRUE(value);
  EXPECT_STREQ(*value, "{A}");
  EXPECT_EQ(*value, reinterpret_cast<const char*>(map[1].value));  // the host's pointer, not a copy
  EXPECT_TRUE(CapturedLines().empty());
}

TEST_F(PropertyLookup, NameDifferingInCaseOrLengthIsAbsentSilently) {
  const HookProperty map[] = {Prop("mediaSignature", "{A}"), Prop(nullptr, nullptr)};
  for (const char* name : {"mediasignature", "mediaSignatur", "mediaSignatureX"}) {
    EXPECT_EQ(FindProperty(Context(map), name), std::nullopt) << name;
  }
  EXPECT_TRUE(CapturedLines().empty());
}

TEST_F(PropertyLookup, ArrayEndingAtFirstEntryFindsNothing) {
  const HookProperty map[] = {Prop(nullptr, "ignored"), Prop("mediaSignature", "{A}"),
                              Prop(nullptr, nullptr)};
  EXPECT_EQ(FindProperty(Context(map), "mediaSignature"), std::nullopt);
  EXPECT_TRUE(CapturedLines().empty());
}

TEST_F(PropertyLookup, DiagnosticsInTheirOrder) {
  EXPECT_EQ(FindProperty(Context(nullptr), nullptr), std::nullopt);
  EXPECT_EQ(CapturedLines(), Lines{"NULL pointer passed as property name."});

  CapturedLines().clear();
  EXPECT_EQ(FindProperty(Context(nullptr), "a"), std::nullopt);
  EXPECT_EQ(CapturedLines(), Lines{"Property map is not initialized."});
}

TEST_F(PropertyLookup, EmptyAndNullValuesReadAsEmptyText) {
  const HookProperty map[] = {Prop("empty", ""), Prop("null", nullptr), Prop(nullptr, nullptr)};
  for (const char* name : {"empty", "null"}) {
    const std::optional<const char*> value = FindProperty(Context(map), name);
    ASSERT_TRUE(value) << name;
    ASSERT_NE(*value, nullptr) << name;
    EXPECT_STREQ(*value, "") << name;
  }
}

TEST(LogLines, PrefixedLineJoinsPiecesWithoutSeparator) {
  CapturedLines().clear();
  const HookContext context{nullptr, 4, 0, 0, &CaptureLine};
  const HookSession session(context);
  session.LogPrefixed({"Opened PCD session"});
  session.LogPrefixed({"Orvik Tessel Studio 4.6", " :", "value=", std::string("x"), nullptr, ""});
  EXPECT_EQ(CapturedLines(), (Lines{"KX6 Suites Custom hook: Opened PCD session",
                                    "KX6 Suites Custom hook: Orvik Tessel Studio 4.6 :value=x"}));
  EXPECT_EQ(std::string(integration::kIntegrationLogPrefix).size(), 24u);
}

TEST(LogLines, ValuesAreInsertedByteForByte) {
  CapturedLines().clear();
  const HookContext context{nullptr, 4, 0, 0, &CaptureLine};
  const std::string value = "  '%s\"\\n\xC3\xA9\t  ";
  HookSession(context).LogPrefixed({"v:", value});
  ASSERT_EQ(CapturedLines().size(), 1u);
  EXPECT_EQ(CapturedLines()[0], std::string(integration::kIntegrationLogPrefix) + "v:" + value);
}

TEST(LogLines, NullCallbackOrTextSendsNothing) {
  CapturedLines().clear();
  const HookContext silent{nullptr, 4, 0, 0, nullptr};
  HookSession(silent).LogPrefixed({"x"});
  LogLine(silent, "x");
  const HookContext capturing{nullptr, 4, 0, 0, &CaptureLine};
  LogLine(capturing, nullptr);
  EXPECT_TRUE(CapturedLines().empty());
}

// The integration work reads properties through the session: the same
// values and the same lines as FindProperty.
TEST_F(PropertyLookup, SessionReadsPropertiesAsTheLookupDoes) {
  const HookProperty map[] = {Prop("installLanguage", "fr_MA"), Prop("none", nullptr), Prop(nullptr, nullptr)};
  const HookContext context = Context(map);
  const HookSession session(context);
  EXPECT_EQ(session.Property("installLanguage"), "fr_MA");
  EXPECT_EQ(session.Property("none"), "");
  EXPECT_EQ(session.Property("missing"), std::nullopt);
  EXPECT_EQ(session.Property(nullptr), std::nullopt);
  EXPECT_EQ(CapturedLines(), (Lines{"NULL pointer passed as property name."}));
  EXPECT_EQ(HookSession(Context(nullptr)).Property("installLanguage"), std::nullopt);
  EXPECT_EQ(CapturedLines().back(), "Property map is not initialized.");
}

}  // namespace
}  // namespace customhooks::hook
