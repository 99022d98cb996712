#include <cstdint>
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
  HookContext context = Context(map);
  const char* value = nullptr;
  ASSERT_TRUE(HookGetProperty(&context, "mediaSignature", &value));
  EXPECT_STREQ(value, "{A}");
  EXPECT_EQ(value, reinterpret_cast<const char*>(map[1].value));  // the host's pointer, not a copy
  EXPECT_TRUE(CapturedLines().empty());
}

TEST_F(PropertyLookup, NameDifferingInCaseOrLengthIsAbsentSilently) {
  const HookProperty map[] = {Prop("mediaSignature", "{A}"), Prop(nullptr, nullptr)};
  HookContext context = Context(map);
  const char* value = "unchanged";
  EXPECT_FALSE(HookGetProperty(&context, "mediasignature", &value));
  EXPECT_FALSE(HookGetProperty(&context, "mediaSignatur", &value));
  EXPECT_FALSE(HookGetProperty(&context, "mediaSignatureX", &value));
  EXPECT_STREQ(value, "unchanged");
  EXPECT_TRUE(CapturedLines().empty());
}

TEST_F(PropertyLookup, ArrayEndingAtFirstEntryFindsNothing) {
  const HookProperty map[] = {Prop(nullptr, "ignored"), Prop("mediaSignature", "{A}"),
                              Prop(nullptr, nullptr)};
  HookContext context = Context(map);
  const char* value = nullptr;
  EXPECT_FALSE(HookGetProperty(&context, "mediaSignature", &value));
  EXPECT_TRUE(CapturedLines().empty());
}

TEST_F(PropertyLookup, DiagnosticsInTheirOrder) {
  const HookProperty map[] = {Prop("a", "1"), Prop(nullptr, nullptr)};
  HookContext withMap = Context(map);
  HookContext noMap = Context(nullptr);
  const char* value = nullptr;

  EXPECT_FALSE(HookGetProperty(&noMap, nullptr, &value));
  EXPECT_EQ(CapturedLines(), Lines{"NULL pointer passed as property name."});

  CapturedLines().clear();
  EXPECT_FALSE(HookGetProperty(&withMap, "a", nullptr));
  EXPECT_EQ(CapturedLines(), Lines{"NULL pointer passed for property name."});

  CapturedLines().clear();
  EXPECT_FALSE(HookGetProperty(&noMap, "a", &value));
  EXPECT_EQ(CapturedLines(), Lines{"Property map is not initialized."});
}

TEST_F(PropertyLookup, EmptyAndNullValuesReadAsEmptyText) {
  const HookProperty map[] = {Prop("empty", ""), Prop("null", nullptr), Prop(nullptr, nullptr)};
  HookContext context = Context(map);
  const char* value = nullptr;
  ASSERT_TRUE(HookGetProperty(&context, "empty", &value));
  EXPECT_STREQ(value, "");
  value = nullptr;
  ASSERT_TRUE(HookGetProperty(&context, "null", &value));
  ASSERT_NE(value, nullptr);
  EXPECT_STREQ(value, "");
}

TEST(LogLines, PrefixedLineJoinsPiecesWithoutSeparator) {
  CapturedLines().clear();
  HookContext context{nullptr, 4, 0, 0, &CaptureLine};
  const HookSession session(&context);
  session.LogPrefixed({"Opened PCD session"});
  session.LogPrefixed({"Orvik Tessel Studio 4.6", " :", "value=", std::string("x"), nullptr, ""});
  EXPECT_EQ(CapturedLines(), (Lines{"KX6 Suites Custom hook: Opened PCD session",
                                    "KX6 Suites Custom hook: Orvik Tessel Studio 4.6 :value=x"}));
  EXPECT_EQ(std::string(integration::kIntegrationLogPrefix).size(), 24u);
}

TEST(LogLines, ValuesAreInsertedByteForByte) {
  CapturedLines().clear();
  HookContext context{nullptr, 4, 0, 0, &CaptureLine};
  const std::string value = "  '%s\"\\n\xC3\xA9\t  ";
  HookSession(&context).LogPrefixed({"v:", value});
  ASSERT_EQ(CapturedLines().size(), 1u);
  EXPECT_EQ(CapturedLines()[0], std::string(integration::kIntegrationLogPrefix) + "v:" + value);
}

TEST(LogLines, NullCallbackOrContextSendsNothing) {
  CapturedLines().clear();
  HookContext context{nullptr, 4, 0, 0, nullptr};
  HookSession(&context).LogPrefixed({"x"});
  HookLog(&context, "x");
  HookLog(nullptr, "x");
  HookSession(nullptr).LogPrefixed({"x"});
  EXPECT_TRUE(CapturedLines().empty());
}

// The integration work reads properties through the session: the same
// values and the same lines as HookGetProperty.
TEST_F(PropertyLookup, SessionReadsPropertiesAsTheLookupDoes) {
  const HookProperty map[] = {Prop("installLanguage", "fr_MA"), Prop("none", nullptr), Prop(nullptr, nullptr)};
  HookContext context = Context(map);
  const HookSession session(&context);
  std::string value = "unchanged";
  EXPECT_TRUE(session.Property("installLanguage", value));
  EXPECT_EQ(value, "fr_MA");
  EXPECT_TRUE(session.Property("none", value));
  EXPECT_EQ(value, "");
  value = "unchanged";
  EXPECT_FALSE(session.Property("missing", value));
  EXPECT_FALSE(session.Property(nullptr, value));
  EXPECT_EQ(value, "unchanged");
  EXPECT_EQ(CapturedLines(), (Lines{"NULL pointer passed as property name."}));
  HookContext empty = Context(nullptr);
  EXPECT_FALSE(HookSession(&empty).Property("installLanguage", value));
  EXPECT_EQ(CapturedLines().back(), "Property map is not initialized.");
}

}  // namespace
}  // namespace customhooks::hook
