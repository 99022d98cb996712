// The integration pass at SessionClose: lines, statuses and agreement records.
#include "fs/files.h"
#include "integration/session_fixture.h"
#include "support/disk.h"
#include "support/status_test_support.h"
#include "support/data_files.h"
#include "fs/product_names.h"

using namespace customhooks::fs;
namespace names = customhooks::names;

namespace {

TEST_F(SessionTest, WholeInstallSessionOfTheSampleSuite) {
  const std::string sig = suite_.driverCode;
  ExpectTranscript("sample_suite_install", CloseSession(SuiteProperties()));

  const Records cache = CacheRecords();
  const std::string& licensing = suite_.licensingCode;
  EXPECT_EQ(cache, (Records{{RecordKey(licensing, names::kEulaAcceptedKey), "1"},
                            {RecordKey(licensing, names::kEulaLanguageKey), names::kFrenchMoroccoLanguage}}));
  const Records config = ConfigRecords();
  EXPECT_EQ(config.at(RecordKey(suite_.secondProductCode, names::kDefaultDriverPayloadKey)), sig);
  EXPECT_EQ(config.at(RecordKey(suite_.secondProductCode, names::kInstalledLanguagesKey)), "fr_MA,fr_FR");
  // The installer's caps.db was backed up whole.
  EXPECT_EQ(ReadWholeFile(CommonDataPath(InstallerBackup())), ReadWholeFile(CommonDataPath(InstallerDatabase())));
}

TEST_F(SessionTest, RefusedSaveAddsOneLineAndNothingElse) {
  ASSERT_TRUE(SetReadOnly(suite_.secondProductDocument, true));
  ExpectTranscript("refused_save", CloseSession(SuiteProperties()));
}

TEST_F(SessionTest, ReinstallRunsTheSamePass) {
  // Only "fr_MA" replaces the settings files.
  ExpectTranscript("reinstall_in_english", CloseSession(SuiteProperties("en_US"), 1));
  EXPECT_EQ(CacheRecords().at(RecordKey(suite_.licensingCode, names::kEulaLanguageKey)), "en_US");
}

TEST_F(SessionTest, NoPayloadInInstalledStateEndsTheRunAfterTheList) {
  // A machine whose pdb.db has payloads, none in state 2.
  WipeCommonData();
  ASSERT_TRUE(AddPayloads({{suite_.firstProductCode, "Weft", "Orvik Tessel Studio 4.6", "4.6.1", 1, 5}}));
  ExpectTranscript("no_payload_installed", CloseSession(SuiteProperties()));
  EXPECT_TRUE(CacheRecords().empty());
}

TEST_F(SessionTest, ProductNotInstalledStopsAfterTheSearchLine) {
  WipeCommonData();
  ASSERT_TRUE(AddPayloads({{"{11111111-2222-3333-4444-555555555555}", "Shared", "Orvik Fonts", "6.0", 2, 1}}));
  ASSERT_TRUE(SetConfigRecord(suite_.driverCode, names::kLicensingCodeKey, suite_.licensingCode));
  ExpectTranscript("products_not_installed", CloseSession(SuiteProperties()));
  EXPECT_TRUE(CacheRecords().empty());
}

TEST_F(SessionTest, EarlierOfTwoMatchingPayloadsWins) {
  const std::string earlier = "{00000000-AAAA-4AAA-8AAA-000000000001}";
  ASSERT_TRUE(AddPayloads({{earlier, "Weft", "Orvik Tessel Studio 4.6", "4.6.1", 2, 1000}}));
  ASSERT_TRUE(SetPayloadData(earlier, names::kPayloadDataDomain, names::kMediaSignatureProperty, "{EARLIER}"));
  ExpectTranscript("earlier_matching_payload", CloseSession(SuiteProperties("en_US")));
}

TEST_F(SessionTest, MatchWithoutSignatureDataIsSkippedForALaterMatch) {
  const std::string bare = "{00000000-AAAA-4AAA-8AAA-000000000002}";
  ASSERT_TRUE(AddPayloads({{bare, "Weft", "Orvik Tessel Studio 4.6", "4.6.1", 2, 1000}}));
  ExpectTranscript("match_without_signature_data", CloseSession(SuiteProperties("en_US")));
}

TEST_F(SessionTest, SignatureMismatchWithoutMatchingSessionStillWritesTheAgreement) {
  ASSERT_TRUE(SetPayloadData(suite_.secondProductCode, 0, names::kMostRecentSessionKey, "{SOMETHING-ELSE}"));
  ExpectTranscript("other_recent_session", CloseSession(SuiteProperties()));
}

TEST_F(SessionTest, MissingSessionRecordIsReported) {
  const std::string only = "{00000000-AAAA-4AAA-8AAA-000000000004}";
  ASSERT_TRUE(AddPayloads({{only, "NonOrvikPayload", "Pelican X Pro", "10.0", 2, 1}}));
  ASSERT_TRUE(SetPayloadData(only, names::kSecondProductDataDomain, names::kMediaSignatureProperty, "{X}"));
  ExpectTranscript("no_recent_session", CloseSession(SuiteProperties()));
}

TEST_F(SessionTest, NoLicensingCodeMeansNoAgreementRecords) {
  // The session names a driver without records in "pcd.db".
  ExpectTranscript("unknown_driver",
                   CloseSession({{names::kMediaSignatureProperty, "{NOT-THE-DRIVER}"},
                                 {names::kInstallLanguageProperty, names::kFrenchMoroccoLanguage}}));
  EXPECT_TRUE(CacheRecords().empty());
}

TEST_F(SessionTest, EmptyOrNullLicensingCodeCountsAsAbsent) {
  for (const bool null : {false, true}) {
    SCOPED_TRACE(null ? "NULL" : "empty");
    if (null) {
      StoreNullConfigValue(suite_.driverCode, names::kLicensingCodeKey);
    } else {
      ASSERT_TRUE(SetConfigRecord(suite_.driverCode, names::kLicensingCodeKey, ""));
    }
    ExpectTranscript("no_licensing_code", CloseSession(SuiteProperties()));
    EXPECT_TRUE(CacheRecords().empty()) << "nothing under an empty subdomain";
  }
}

TEST_F(SessionTest, UnopenablePayloadDatabaseGives65535) {
  WipeCommonData();
  // A folder stands where "pdb.db" should be.
  ASSERT_OK(EnsureFolder(CommonDataPath(PayloadDatabase())));
  ExpectTranscript("unopenable_payload_database", CloseSession(SuiteProperties()));
  EXPECT_TRUE(IsDirectory(CommonDataPath(PayloadDatabase())));
}

TEST_F(SessionTest, MissingPropertyFailsEachProductAndGoesOn) {
  ExpectTranscript("no_media_signature",
                   CloseSession({{names::kInstallLanguageProperty, names::kFrenchMoroccoLanguage}}));
  ExpectTranscript("no_install_language", CloseSession({{names::kMediaSignatureProperty, suite_.driverCode}}));
  EXPECT_TRUE(CacheRecords().empty());
}

TEST_F(SessionTest, NullPropertyMapIsReportedForEachProduct) {
  ExpectTranscript("null_property_map", CloseSessionWithNullMap());
}

TEST_F(SessionTest, EmptyAndHostileValuesAreLoggedAndStoredVerbatim) {
  ASSERT_TRUE(SetConfigRecord(suite_.driverCode, names::kLicensingCodeKey, "it's'); DROP TABLE domain_data;--"));
  const std::string language = "fr_MA'); DELETE FROM domain_data;--";
  ExpectTranscript("hostile_values", CloseSession(SuiteProperties(language)));
  const Records cache = CacheRecords();
  EXPECT_EQ(cache.at("it's'); DROP TABLE domain_data;--|EULA_LANGUAGE"), language);
  EXPECT_EQ(cache.at("it's'); DROP TABLE domain_data;--|EULA_ACCEPTED"), "1");
}

}  // namespace
