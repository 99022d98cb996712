// The second product's driver records: database records and document edits,
// all committed and saved, or all rolled back.
#include <algorithm>

#include "fs/files.h"
#include "pcf/pcf_document.h"
#include "integration/session_fixture.h"
#include "support/disk.h"
#include "support/status_test_support.h"
#include "support/transcripts.h"
#include "fs/product_names.h"

using namespace customhooks::fs;
namespace names = customhooks::names;

namespace {

std::string SavedDocument(const SampleSuite& suite, const std::string& languages) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n"
         "<Configuration>\r\n"
         "\t<Payload orvikCode=\"" + suite.secondProductCode + "\">\r\n"
         "\t\t<Data key=\"DefaultDriverPayload\">" + suite.driverCode + "</Data>\r\n"
         "\t\t<Data key=\"InstallDate\">2026-12-07 09:30:00</Data>\r\n"
         "\t\t<Data key=\"LicensingCode\">PXP-10-4471-2093</Data>\r\n"
         "\t\t<Data key=\"ProductName\">Pelican X Pro</Data>\r\n"
         "\t\t<Data key=\"RMTConfigPath\">" + suite.secondProductDocument + "</Data>\r\n"
         "\t\t<Data key=\"installedLanguages\">" + languages + "</Data>\r\n"
         "\t</Payload>\r\n"
         "</Configuration>";
}

// The lines of the driver-records step within a session's lines.
Lines StepLines(const Lines& lines) {
  return LinesFrom(lines, P("Updating DriverPayload entry for Pelican X"), P("Pelican X Pro :"));
}

class DriverRecords : public SessionTest {
 protected:
  std::string SharedCopyPath() const {
    return PcfFolder() + "\\" + suite_.secondProductCode + ".PXP-10-4471-2093.xml";
  }

  // The lines of a step that got as far as the save, in "fr_MA": those of
  // the sample suite's install session.
  Lines SavingStep() const {
    return StepLines(Transcript("sample_suite_install").lines);
  }

  // The lines of that step that come before the document's.
  Lines StepBeforeTheDocument() const {
    const Lines saving = SavingStep();
    const auto document = std::find_if(saving.begin(), saving.end(), [](const std::string& line) {
      return line.rfind(P("Retreived the path to Application xml: "), 0) == 0;
    });
    return Lines(saving.begin(), document);
  }
};

TEST_F(DriverRecords, SavesBothTargetsWithTheExactBytes) {
  CloseSession(SuiteProperties());
  const std::string expected = SavedDocument(suite_, "fr_MA,fr_FR");
  EXPECT_EQ(ReadWholeFile(suite_.secondProductDocument), expected);
  EXPECT_EQ(ReadWholeFile(SharedCopyPath()), expected);
  const Records config = ConfigRecords();
  EXPECT_EQ(config.at(RecordKey(suite_.secondProductCode, names::kDefaultDriverPayloadKey)), suite_.driverCode);
  EXPECT_EQ(config.at(RecordKey(suite_.secondProductCode, names::kInstalledLanguagesKey)), "fr_MA,fr_FR");
}

TEST_F(DriverRecords, CanadianFrenchWidensToTwoLanguages) {
  ASSERT_TRUE(SetConfigRecord(suite_.driverCode, names::kInstalledLanguagesKey, "fr_CA"));
  const Lines step = StepLines(CloseSession(SuiteProperties("fr_CA")));
  ASSERT_FALSE(step.empty());
  EXPECT_EQ(step.back(), P("and updated the pcd as well with the language(s): !fr_FR,fr_CA"));
  EXPECT_EQ(ReadWholeFile(suite_.secondProductDocument), SavedDocument(suite_, "fr_FR,fr_CA"));
  EXPECT_EQ(ConfigRecords().at(RecordKey(suite_.secondProductCode, names::kInstalledLanguagesKey)), "fr_FR,fr_CA");
}

TEST_F(DriverRecords, LanguageOutsideTheTableRollsEverythingBack) {
  const std::string before = ReadWholeFile(suite_.secondProductDocument);
  for (const char* language : {"de_CH", "EN_US", "en_US,en_GB", ""}) {
    SCOPED_TRACE(language);
    ASSERT_TRUE(SetConfigRecord(suite_.driverCode, names::kInstalledLanguagesKey, language));
    const Lines step = StepLines(CloseSession(SuiteProperties()));
    ASSERT_FALSE(step.empty());
    EXPECT_EQ(step.back(), P("PCFClientSetValueForKeyInSubDomain failed"));
    EXPECT_EQ(ReadWholeFile(suite_.secondProductDocument), before);
    EXPECT_FALSE(PathExists(SharedCopyPath()));
    const Records config = ConfigRecords();
    EXPECT_EQ(config.count(RecordKey(suite_.secondProductCode, names::kDefaultDriverPayloadKey)), 0u);
    EXPECT_EQ(config.count(RecordKey(suite_.secondProductCode, names::kInstalledLanguagesKey)), 0u);
  }
}

TEST_F(DriverRecords, NoDocumentPathCommitsTheDriverEntry) {
  WipeCommonData();
  ASSERT_TRUE(AddPayloads({{suite_.secondProductCode, "NonOrvikPayload", "Pelican X Pro", "10.0", 2, 1}}));
  ASSERT_TRUE(SetPayloadData(suite_.secondProductCode, names::kSecondProductDataDomain, names::kMediaSignatureProperty, suite_.driverCode));
  const Lines step = StepLines(CloseSession(SuiteProperties()));
  EXPECT_EQ(step, StepBeforeTheDocument());
  EXPECT_EQ(ConfigRecords().at(RecordKey(suite_.secondProductCode, names::kDefaultDriverPayloadKey)), suite_.driverCode);
}

TEST_F(DriverRecords, DriverWithoutInstallDateRollsBack) {
  const std::string before = ReadWholeFile(suite_.secondProductDocument);
  ASSERT_TRUE(DeleteConfigRecord(suite_.driverCode, names::kInstallDateKey));
  const Properties props = SuiteProperties();

  const Lines step = StepLines(CloseSession(props));
  // The saving step, with the one value it cannot read reported instead.
  Lines expected = SavingStep();
  const auto date = std::find_if(expected.begin(), expected.end(), [](const std::string& line) {
    return line.find("'InstallDate'") != std::string::npos;
  });
  ASSERT_NE(date, expected.end());
  *date = P("Couldn't retrieve the value for 'InstallDate' from pcd");
  EXPECT_EQ(step, expected);
  EXPECT_EQ(ReadWholeFile(suite_.secondProductDocument), before);
  const Records config = ConfigRecords();
  EXPECT_EQ(config.count(RecordKey(suite_.secondProductCode, names::kDefaultDriverPayloadKey)), 0u);
  EXPECT_EQ(config.count(RecordKey(suite_.secondProductCode, names::kInstalledLanguagesKey)), 0u);
}

TEST_F(DriverRecords, UnreadableDocumentSkipsThePhaseAndCommits) {
  ASSERT_TRUE(WriteTextFile(suite_.secondProductDocument, "<not a configuration document/>"));
  const Lines step = StepLines(CloseSession(SuiteProperties()));
  ASSERT_FALSE(step.empty());
  EXPECT_EQ(step.back(), P("Failed to load application.xml at the time of init."));
  EXPECT_EQ(ReadWholeFile(suite_.secondProductDocument), "<not a configuration document/>");
  EXPECT_EQ(ConfigRecords().at(RecordKey(suite_.secondProductCode, names::kDefaultDriverPayloadKey)), suite_.driverCode);
}

TEST_F(DriverRecords, RefusedSaveIsReportedRightAfterTheLanguages) {
  const std::string doc = suite_.secondProductDocument;
  const std::string original = ReadWholeFile(doc);
  // The sample document with one more entry whose reference the parser turns
  // into bytes that are no UTF-8.
  std::string unsavable = original;
  unsavable.insert(unsavable.find("\t</Payload>"), "\t\t<Data key=\"Note\">&#xD800;</Data>\r\n");

  enum Change { kReadOnlyDocument, kReadOnlySharedCopy, kTextThatWouldNotReadBack };
  const struct {
    Change change;
    std::string line;
  } kCases[] = {
      {kReadOnlyDocument, "Failed to save " + doc + ": the file is read-only"},
      {kReadOnlySharedCopy, "Failed to save " + doc + ": " + SharedCopyPath() + " is read-only"},
      {kTextThatWouldNotReadBack, "Failed to save " + doc + ": its text would not read back"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.line);
    ASSERT_TRUE(WriteTextFile(doc, c.change == kTextThatWouldNotReadBack ? unsavable : original));
    const std::string before = ReadWholeFile(doc);
    if (c.change == kReadOnlyDocument) {
      ASSERT_TRUE(SetReadOnly(doc, true));
    }
    if (c.change == kReadOnlySharedCopy) {
      ASSERT_TRUE(WriteTextFile(SharedCopyPath(), "read-only copy"));
      ASSERT_TRUE(SetReadOnly(SharedCopyPath(), true));
    }
    Lines expected = SavingStep();
    expected.push_back(P(c.line));
    EXPECT_EQ(StepLines(CloseSession(SuiteProperties())), expected);
    if (c.change != kReadOnlySharedCopy) {
      EXPECT_EQ(ReadWholeFile(doc), before);
    }
    // The records were committed before the save, as always.
    EXPECT_EQ(ConfigRecords().at(RecordKey(suite_.secondProductCode, names::kInstalledLanguagesKey)), "fr_MA,fr_FR");
    EXPECT_OK(ClearFileAttributes(doc));
    if (PathExists(SharedCopyPath())) {
      EXPECT_OK(ClearFileAttributes(SharedCopyPath()));
      EXPECT_OK(RemoveFile(SharedCopyPath()));
    }
  }
}

TEST_F(DriverRecords, LegacyDocumentIsSavedAsUtf8) {
  const std::string doc = suite_.secondProductDocument;
  ASSERT_TRUE(WriteTextFile(doc, "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<Configuration>"
                                 "<Payload orvikCode=\"" + suite_.secondProductCode + "\">"
                                 "<Data key=\"LicensingCode\">PXP-10-4471-2093</Data>"
                                 "<Data key=\"Soci\xE9t\xE9\">Orvik \x80 \x93\xA9\x94</Data>"
                                 "</Payload></Configuration>"));
  EXPECT_EQ(StepLines(CloseSession(SuiteProperties())), SavingStep());
  const std::string saved = ReadWholeFile(doc);
  EXPECT_EQ(saved.rfind("<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n", 0), 0u);
  EXPECT_NE(saved.find("<Data key=\"Soci\xC3\xA9t\xC3\xA9\">Orvik \xE2\x82\xAC \xE2\x80\x9C\xC2\xA9\xE2\x80\x9D</Data>"),
            std::string::npos)
      << saved;
  EXPECT_EQ(ReadWholeFile(SharedCopyPath()), saved);
  customhooks::pcf::Document document;
  ASSERT_OK(customhooks::pcf::ReadDocument(doc, &document));
  EXPECT_EQ(document.sections.at(document.payloadCode).at("Soci\xC3\xA9t\xC3\xA9"), "Orvik \xE2\x82\xAC \xE2\x80\x9C\xC2\xA9\xE2\x80\x9D");
}

TEST_F(DriverRecords, EmptyDocumentPathIsReported) {
  ASSERT_TRUE(SetConfigRecord(suite_.secondProductCode, names::kConfigPathKey, ""));
  const Lines step = StepLines(CloseSession(SuiteProperties()));
  ASSERT_FALSE(step.empty());
  EXPECT_EQ(step.back(), P("Path to application.xml is Empty"));
}

}  // namespace
