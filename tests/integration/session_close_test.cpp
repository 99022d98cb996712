// The integration pass at SessionClose: lines, statuses and agreement records.
#include <algorithm>

#include "fs/files.h"
#include "integration/session_fixture.h"
#include "support/disk.h"
#include "support/status_test_support.h"
#include "support/transcripts.h"
#include "support/data_files.h"
#include "fs/product_names.h"

using namespace customhooks::fs;
namespace names = customhooks::names;

namespace {

const std::string kFirst = "Orvik Tessel Studio 4.6 :";
const std::string kSecond = "Pelican X Pro :";

// The lines of the sample suite's install session at SessionClose, in "fr_MA".
Lines SampleSessionLog(const SampleSuite& suite) {
  return TranscriptOfEntry("sample_suite_install", "SessionClose", suite.programFiles).lines;
}

// The same session for a driver whose licensing code cannot be read: each
// run reads no LEID and writes no agreement.
Lines SessionLogWithoutLicensingCode(const SampleSuite& suite) {
  Lines lines;
  for (const std::string& line : SampleSessionLog(suite)) {
    bool kept = true;
    for (const std::string& header : {kFirst, kSecond}) {
      if (line == P(header + "Succesfully retrieved the LEID of the Driver Payload")) {
        lines.push_back(P(header + "Fail to retrieve the LEID of the Driver Payload"));
        kept = false;
      } else if (line == P(header + "EULA_ACCEPTED success")) {
        lines.push_back(P(header + "PCDOpen Session failed : Can't update EULA_ACCEPTED & EULA_LANGUAGE"));
        kept = false;
      } else if (line == P(header + "EULA_LANGUAGE success")) {
        kept = false;
      }
    }
    if (kept) lines.push_back(line);
  }
  return lines;
}

// The lines of a product run of `session` up to the start of the payload
// search.
Lines RunOpening(const Lines& session, const std::string& header) {
  const auto begin = std::find(session.begin(), session.end(), P(header));
  const auto search = std::find_if(begin, session.end(), [&header](const std::string& line) {
    return line.rfind(P(header + "iterating through the payload_data table"), 0) == 0;
  });
  return Lines(begin, search == session.end() ? search : search + 1);
}

void Append(Lines& lines, const Lines& more) { lines.insert(lines.end(), more.begin(), more.end()); }

bool Contains(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST_F(SessionTest, WholeInstallSessionOfTheSampleSuite) {
  const std::string sig = suite_.driverCode;
  const Lines expected = SampleSessionLog(suite_);
  EXPECT_EQ(CloseSession(SuiteProperties()), expected);
  EXPECT_EQ(status_, 0);

  const Records cache = CacheRecords();
  EXPECT_EQ(cache, (Records{{suite_.licensingCode + "|EULA_ACCEPTED", "1"},
                            {suite_.licensingCode + "|EULA_LANGUAGE", "fr_MA"}}));
  const Records config = ConfigRecords();
  EXPECT_EQ(config.at(suite_.secondProductCode + "|DefaultDriverPayload"), sig);
  EXPECT_EQ(config.at(suite_.secondProductCode + "|installedLanguages"), "fr_MA,fr_FR");
  // The installer's caps.db was backed up whole.
  EXPECT_EQ(ReadWholeFile(CommonDataPath(InstallerBackup())), ReadWholeFile(CommonDataPath(InstallerDatabase())));
}

TEST_F(SessionTest, RefusedSaveAddsOneLineAndNothingElse) {
  ASSERT_TRUE(SetReadOnly(suite_.secondProductDocument, true));
  Lines expected = SampleSessionLog(suite_);
  const auto languages = std::find(expected.begin(), expected.end(),
                                   P("and updated the pcd as well with the language(s): !fr_MA,fr_FR"));
  ASSERT_NE(languages, expected.end());
  expected.insert(languages + 1, P("Failed to save " + suite_.secondProductDocument + ": the file is read-only"));
  EXPECT_EQ(CloseSession(SuiteProperties()), expected);
  EXPECT_EQ(status_, 0);
}

TEST_F(SessionTest, ReinstallRunsTheSamePass) {
  const Lines lines = CloseSession(SuiteProperties("en_US"), 1);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "In ReinstallSessionCloseProc");
  EXPECT_EQ(lines.back(), P("Successfully Updated PCFClientFile and cache.db for Pelican Professional 10.0"));
  EXPECT_EQ(CacheRecords().at(suite_.licensingCode + "|EULA_LANGUAGE"), "en_US");
  // Only "fr_MA" replaces the settings files.
  EXPECT_FALSE(Contains(lines, P("Replacing en_US to fr_FR in TesselStudio.ini")));
}

TEST_F(SessionTest, NoPayloadInInstalledStateEndsTheRunAfterTheList) {
  // A machine whose pdb.db has payloads, none in state 2.
  WipeCommonData();
  ASSERT_TRUE(AddPayloads({{suite_.firstProductCode, "Weft", "Orvik Tessel Studio 4.6", "4.6.1", 1, 5}}));
  const Lines lines = CloseSession(SuiteProperties());
  const Lines expectedFirst = {
      "In InstallSessionCloseProc",
      P(kFirst),
      P(kFirst + "Successfully retreived the mediaSignature: " + suite_.driverCode),
      P(kFirst + "Successfully retreived the installLanguage: fr_MA"),
      P(kFirst + "Getting payloads from pdb.db"),
      P(kFirst + "Can not find valid primary session for pdb.db"),
      P("Successfully Updated PCFClientFile and cache.db for Orvik Tessel Studio 4.6"),
  };
  ASSERT_GE(lines.size(), expectedFirst.size());
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + expectedFirst.size()), expectedFirst);
  EXPECT_EQ(lines.back(), P("Successfully Updated PCFClientFile and cache.db for Pelican Professional 10.0"));
  EXPECT_EQ(status_, 0);
  EXPECT_TRUE(CacheRecords().empty());
}

TEST_F(SessionTest, ProductNotInstalledStopsAfterTheSearchLine) {
  WipeCommonData();
  ASSERT_TRUE(AddPayloads({{"{11111111-2222-3333-4444-555555555555}", "Shared", "Orvik Fonts", "6.0", 2, 1}}));
  ASSERT_TRUE(SetConfigRecord(suite_.driverCode, "LicensingCode", suite_.licensingCode));
  const Lines lines = CloseSession(SuiteProperties());
  Lines expected = {"In InstallSessionCloseProc"};
  const Lines sample = SampleSessionLog(suite_);
  Append(expected, RunOpening(sample, kFirst));
  expected.push_back(P("Successfully Updated PCFClientFile and cache.db for Orvik Tessel Studio 4.6"));
  Append(expected, RunOpening(sample, kSecond));
  expected.push_back(P("Successfully Updated PCFClientFile and cache.db for Pelican Professional 10.0"));
  EXPECT_EQ(lines, expected);
  EXPECT_TRUE(CacheRecords().empty());
}

TEST_F(SessionTest, EarlierOfTwoMatchingPayloadsWins) {
  const std::string earlier = "{00000000-AAAA-4AAA-8AAA-000000000001}";
  ASSERT_TRUE(AddPayloads({{earlier, "Weft", "Orvik Tessel Studio 4.6", "4.6.1", 2, 1000}}));
  ASSERT_TRUE(SetPayloadData(earlier, names::kPayloadDataDomain, names::kMediaSignatureProperty, "{EARLIER}"));
  const Lines lines = CloseSession(SuiteProperties("en_US"));
  EXPECT_TRUE(Contains(lines, P(kFirst + "Orvik Tessel Studio 4.6 : pdbGetPayloadData Successful. "
                                         "Orvik Code retrieved: {EARLIER}")));
  EXPECT_FALSE(Contains(lines, P(kFirst + "Orvik Tessel Studio 4.6 : pdbGetPayloadData Successful. "
                                          "Orvik Code retrieved: " + suite_.driverCode)));
}

TEST_F(SessionTest, MatchWithoutSignatureDataIsSkippedForALaterMatch) {
  const std::string bare = "{00000000-AAAA-4AAA-8AAA-000000000002}";
  ASSERT_TRUE(AddPayloads({{bare, "Weft", "Orvik Tessel Studio 4.6", "4.6.1", 2, 1000}}));
  const Lines lines = CloseSession(SuiteProperties("en_US"));
  const std::string located =
      P(kFirst + "Orvik Tessel Studio 4.6 is successfully located for the family Weft and version 4.6.1");
  EXPECT_EQ(std::count(lines.begin(), lines.end(), located), 2);
  auto skipped = std::find(lines.begin(), lines.end(), P(kFirst + " : pdbGetPayloadData unsuccessful"));
  ASSERT_NE(skipped, lines.end());
  EXPECT_EQ(*(skipped - 1), located);
  EXPECT_TRUE(Contains(lines, P(kFirst + "Orvik Tessel Studio 4.6 has mediaSignature matching Suite driver payload." +
                                suite_.driverCode)));
}

TEST_F(SessionTest, SignatureMismatchWithoutMatchingSessionStillWritesTheAgreement) {
  ASSERT_TRUE(SetPayloadData(suite_.secondProductCode, 0, "mostRecentSessionID", "{SOMETHING-ELSE}"));
  const Lines lines = CloseSession(SuiteProperties());
  const std::string sessionLine =
      P(kSecond + "Pelican X Pro : pdbGetPayloadData Successful for mostRecentSessionID. Orvik Code "
                  "retrieved: {SOMETHING-ELSE}");
  auto at = std::find(lines.begin(), lines.end(), sessionLine);
  ASSERT_NE(at, lines.end());
  EXPECT_EQ(*(at + 1), P(kSecond + "EULA_ACCEPTED success"));
  EXPECT_EQ(*(at + 2), P(kSecond + "EULA_LANGUAGE success"));
}

TEST_F(SessionTest, MissingSessionRecordIsReported) {
  const std::string only = "{00000000-AAAA-4AAA-8AAA-000000000004}";
  ASSERT_TRUE(AddPayloads({{only, "NonOrvikPayload", "Pelican X Pro", "10.0", 2, 1}}));
  ASSERT_TRUE(SetPayloadData(only, names::kSecondProductDataDomain, names::kMediaSignatureProperty, "{X}"));
  const Lines lines = CloseSession(SuiteProperties());
  EXPECT_TRUE(Contains(lines, P(kSecond + " : pdbGetPayloadData unsuccessful for mostRecentSessionID")));
  EXPECT_TRUE(Contains(lines, P(kSecond + "EULA_ACCEPTED success")));
}

TEST_F(SessionTest, NoLicensingCodeMeansNoAgreementRecords) {
  // The session names a driver without records in "pcd.db".
  const Lines lines = CloseSession({{names::kMediaSignatureProperty, "{NOT-THE-DRIVER}"}, {names::kInstallLanguageProperty, "fr_MA"}});
  EXPECT_TRUE(Contains(lines, P(kFirst + "Fail to retrieve the LEID of the Driver Payload")));
  EXPECT_TRUE(Contains(lines, P(kFirst + "PCDOpen Session failed : Can't update EULA_ACCEPTED & EULA_LANGUAGE")));
  EXPECT_TRUE(Contains(lines, P(kSecond + "PCDOpen Session failed : Can't update EULA_ACCEPTED & EULA_LANGUAGE")));
  EXPECT_TRUE(CacheRecords().empty());
  EXPECT_EQ(status_, 0);
}

TEST_F(SessionTest, EmptyOrNullLicensingCodeCountsAsAbsent) {
  for (const bool null : {false, true}) {
    SCOPED_TRACE(null ? "NULL" : "empty");
    if (null) {
      StoreNullConfigValue(suite_.driverCode, "LicensingCode");
    } else {
      ASSERT_TRUE(SetConfigRecord(suite_.driverCode, "LicensingCode", ""));
    }
    EXPECT_EQ(CloseSession(SuiteProperties()), SessionLogWithoutLicensingCode(suite_));
    EXPECT_EQ(status_, 0);
    EXPECT_TRUE(CacheRecords().empty()) << "nothing under an empty subdomain";
  }
}

TEST_F(SessionTest, UnopenablePayloadDatabaseGives65535) {
  WipeCommonData();
  // A folder stands where "pdb.db" should be.
  ASSERT_OK(EnsureFolder(CommonDataPath(PayloadDatabase())));
  const Lines lines = CloseSession(SuiteProperties());
  const Lines expected = {
      "In InstallSessionCloseProc",
      P(kFirst),
      P(kFirst + "Successfully retreived the mediaSignature: " + suite_.driverCode),
      P(kFirst + "Successfully retreived the installLanguage: fr_MA"),
      P(kFirst + "Failed to open pdb.db"),
      P("Failed to Update PCFClientFile and cache.db for Orvik Tessel Studio 4.6"),
      P(kSecond),
      P(kSecond + "Successfully retreived the mediaSignature: " + suite_.driverCode),
      P(kSecond + "Successfully retreived the installLanguage: fr_MA"),
      P(kSecond + "Failed to open pdb.db"),
      P("Failed to Update PCFClientFile and cache.db for Pelican Professional 10.0"),
  };
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(status_, 0);
  EXPECT_TRUE(IsDirectory(CommonDataPath(PayloadDatabase())));
}

TEST_F(SessionTest, MissingPropertyFailsEachProductAndGoesOn) {
  const Lines lines = CloseSession({{names::kInstallLanguageProperty, "fr_MA"}});
  EXPECT_EQ(lines, (Lines{"In InstallSessionCloseProc", P(kFirst), P(kFirst + "Failed to get mediaSignature."),
                          P("Failed to Update PCFClientFile and cache.db for Orvik Tessel Studio 4.6"),
                          P(kSecond), P(kSecond + "Failed to get mediaSignature."),
                          P("Failed to Update PCFClientFile and cache.db for Pelican Professional 10.0")}));
  EXPECT_EQ(status_, 0);

  const Lines noLanguage = CloseSession({{names::kMediaSignatureProperty, suite_.driverCode}});
  EXPECT_EQ(noLanguage[3], P(kFirst + "Failed to get installLanguage."));
  EXPECT_EQ(noLanguage.back(), P("Failed to Update PCFClientFile and cache.db for Pelican Professional 10.0"));
  EXPECT_TRUE(CacheRecords().empty());
}

TEST_F(SessionTest, NullPropertyMapIsReportedForEachProduct) {
  const Lines lines = CloseSessionWithNullMap();
  EXPECT_EQ(lines, (Lines{"In InstallSessionCloseProc", P(kFirst), "Property map is not initialized.",
                          P(kFirst + "Failed to get mediaSignature."),
                          P("Failed to Update PCFClientFile and cache.db for Orvik Tessel Studio 4.6"),
                          P(kSecond), "Property map is not initialized.",
                          P(kSecond + "Failed to get mediaSignature."),
                          P("Failed to Update PCFClientFile and cache.db for Pelican Professional 10.0")}));
  EXPECT_EQ(status_, 0);
}

TEST_F(SessionTest, EmptyAndHostileValuesAreLoggedAndStoredVerbatim) {
  ASSERT_TRUE(SetConfigRecord(suite_.driverCode, "LicensingCode", "it's'); DROP TABLE domain_data;--"));
  const std::string language = "fr_MA'); DELETE FROM domain_data;--";
  const Lines lines = CloseSession(SuiteProperties(language));
  EXPECT_TRUE(Contains(lines, P(kFirst + "Successfully retreived the installLanguage: " + language)));
  const Records cache = CacheRecords();
  EXPECT_EQ(cache.at("it's'); DROP TABLE domain_data;--|EULA_LANGUAGE"), language);
  EXPECT_EQ(cache.at("it's'); DROP TABLE domain_data;--|EULA_ACCEPTED"), "1");
}

}  // namespace
