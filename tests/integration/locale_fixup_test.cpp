// The French-Moroccan fix-up of the first product's settings files.
#include <algorithm>

#include "fs/files.h"
#include "integration/session_fixture.h"
#include "fs/product_names.h"
#include "support/disk.h"
#include "support/status_test_support.h"

using namespace customhooks::fs;
namespace names = customhooks::names;

namespace {

const std::string kMoroccanSettings = "[Locale]\r\nlanguage=fr_FR\r\nunits=centimetres\r\n";
const std::string kMoroccanSettingsC = "[Locale]\r\nlanguage=fr_FR\r\npaper=A4\r\n";
const std::string kUsSettings = "[Locale]\r\nlanguage=en_US\r\nunits=inches\r\n";
const std::string kUsSettingsC = "[Locale]\r\nlanguage=en_US\r\npaper=Letter\r\n";

Lines FixupLines(const Lines& lines) {
  Lines out;
  std::copy_if(lines.begin(), lines.end(), std::back_inserter(out), [](const std::string& l) {
    return l.find("fr_FR in ") != std::string::npos || l.find("Could not read RMTConfigPath") != std::string::npos;
  });
  return out;
}

class LocaleFixup : public SessionTest {
 protected:
  std::string Target(const char* name) const { return suite_.firstProductFolder + name; }
  std::string Source(const char* name) const {
    return suite_.driverFolder + names::kFrenchMoroccoSettingsFolder + "\\" + name;
  }
};

TEST_F(LocaleFixup, ReplacesBothFilesForFrenchMorocco) {
  const Lines lines = FixupLines(CloseSession(SuiteProperties(names::kFrenchMoroccoLanguage)));
  EXPECT_EQ(lines, (Lines{P("Replacing en_US to fr_FR in TesselStudio.ini"),
                          P("Successfully Updated fr_FR in TesselStudio.ini"),
                          P("Replacing en_US to fr_FR in TesselStudioC.ini"),
                          P("Successfully Updated fr_FR in TesselStudioC.ini")}));
  EXPECT_EQ(ReadWholeFile(Target(names::kSettingsFile)), kMoroccanSettings);
  EXPECT_EQ(ReadWholeFile(Target(names::kSettingsFileC)), kMoroccanSettingsC);
  EXPECT_EQ(ReadWholeFile(Source(names::kSettingsFile)), kMoroccanSettings);
}

TEST_F(LocaleFixup, OtherLanguagesLeaveTheFilesAlone) {
  for (const char* language : {"fr_FR", "fr_ma", "FR_MA", "fr_MA ", ""}) {
    SCOPED_TRACE(language);
    EXPECT_TRUE(FixupLines(CloseSession(SuiteProperties(language))).empty());
    EXPECT_EQ(ReadWholeFile(Target(names::kSettingsFile)), kUsSettings);
    EXPECT_EQ(ReadWholeFile(Target(names::kSettingsFileC)), kUsSettingsC);
  }
}

TEST_F(LocaleFixup, MissingFirstSourceStillReplacesTheSecond) {
  ASSERT_OK(RemoveFile(Source(names::kSettingsFile)));
  const Lines lines = FixupLines(CloseSession(SuiteProperties(names::kFrenchMoroccoLanguage)));
  EXPECT_EQ(lines, (Lines{P("Replacing en_US to fr_FR in TesselStudio.ini"),
                          P("could not update en_US to fr_FR in TesselStudio.ini"),
                          P("Replacing en_US to fr_FR in TesselStudioC.ini"),
                          P("Successfully Updated fr_FR in TesselStudioC.ini")}));
  EXPECT_EQ(ReadWholeFile(Target(names::kSettingsFile)), kUsSettings);
  EXPECT_EQ(ReadWholeFile(Target(names::kSettingsFileC)), kMoroccanSettingsC);
}

TEST_F(LocaleFixup, ReadOnlyTargetIsNotReplaced) {
  // Wine's CopyFileW overwrites a read-only target that Windows refuses.
  if (RunningUnderWine()) GTEST_SKIP() << "Wine's CopyFileW overwrites a read-only target";
  std::uint32_t attributes = 0;
  ASSERT_TRUE(SetReadOnly(Target(names::kSettingsFile), true));
  ASSERT_OK(GetPathAttributes(Target(names::kSettingsFile), &attributes));
  ASSERT_NE(attributes & kAttributeReadOnly, 0u);
  const Lines lines = FixupLines(CloseSession(SuiteProperties(names::kFrenchMoroccoLanguage)));
  EXPECT_EQ(lines[1], P("could not update en_US to fr_FR in TesselStudio.ini"));
  EXPECT_EQ(lines[3], P("Successfully Updated fr_FR in TesselStudioC.ini"));
  EXPECT_EQ(ReadWholeFile(Target(names::kSettingsFile)), kUsSettings);
}

TEST_F(LocaleFixup, CaseDifferentDocumentTailTakesTheWholePath) {
  // "RMT\APPLICATION.xml" is not the tail: the whole path is the install
  // folder, so the copy lands beside it, not over the product's file.
  const std::string path = suite_.firstProductFolder + "RMT\\APPLICATION.xml";
  ASSERT_TRUE(SetPayloadData(suite_.firstProductCode, names::kPayloadDataDomain, names::kConfigPathKey, path));
  const Lines lines = FixupLines(CloseSession(SuiteProperties(names::kFrenchMoroccoLanguage)));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], P("Successfully Updated fr_FR in TesselStudio.ini"));
  EXPECT_EQ(ReadWholeFile(path + names::kSettingsFile), kMoroccanSettings);
  EXPECT_EQ(ReadWholeFile(Target(names::kSettingsFile)), kUsSettings);
}

TEST_F(LocaleFixup, UnreadableDocumentPathCopiesNothing) {
  WipeCommonData();
  ASSERT_TRUE(AddPayloads({{suite_.firstProductCode, "Weft", "Orvik Tessel Studio 4.6", "4.6.1", 2, 1}}));
  ASSERT_TRUE(SetPayloadData(suite_.firstProductCode, names::kPayloadDataDomain, names::kMediaSignatureProperty, suite_.driverCode));
  ASSERT_TRUE(SetPayloadData(suite_.firstProductCode, names::kPayloadDataDomain, names::kConfigPathKey,
                             suite_.firstProductFolder + "RMT\\application.xml"));
  const Lines lines = FixupLines(CloseSession(SuiteProperties(names::kFrenchMoroccoLanguage)));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], P("Could not read RMTConfigPath of the driver payload from pdb.db: "
                        "TesselStudio.ini and TesselStudioC.ini left as they are"));
  EXPECT_EQ(ReadWholeFile(Target(names::kSettingsFile)), kUsSettings);
}

// An empty RMTConfigPath names no install folder; the copies would have gone
// into the installer's working folder.
TEST_F(LocaleFixup, EmptyDocumentPathCopiesNothing) {
  for (const bool product : {true, false}) {
    ASSERT_TRUE(SetPayloadData(suite_.firstProductCode, names::kPayloadDataDomain, names::kConfigPathKey,
                               product ? "" : suite_.firstProductFolder + "RMT\\application.xml"));
    ASSERT_TRUE(SetPayloadData(suite_.driverCode, names::kPayloadDataDomain, names::kConfigPathKey,
                               product ? suite_.driverFolder + "RMT\\application.xml" : ""));
    const Lines lines = FixupLines(CloseSession(SuiteProperties(names::kFrenchMoroccoLanguage)));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], P(std::string("Could not read RMTConfigPath of the ") +
                          (product ? "product" : "driver payload") +
                          " from pdb.db: TesselStudio.ini and TesselStudioC.ini left as they are"));
    EXPECT_FALSE(PathExists(names::kSettingsFile));
    EXPECT_FALSE(PathExists(names::kSettingsFileC));
    EXPECT_EQ(ReadWholeFile(Target(names::kSettingsFile)), kUsSettings);
  }
}

}  // namespace
