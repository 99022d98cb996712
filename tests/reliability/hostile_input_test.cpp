// Hostile input, end to end through the exported hook procedure: SQL text
// and quotes in every property and stored value, megabyte values, invalid
// UTF-8, empty strings, databases that are random bytes or cut off in the
// middle of a page, a document path that names a folder, documents that are
// not XML. Each case gives its documented lines and status, stores and
// matches text verbatim, and changes nothing on disk that it should not.
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fs/files.h"
#include "fs/folders.h"
#include "integration/product_folders.h"
#include "pcf/pcf_client.h"
#include "pcf/pcf_document.h"
#include "reliability/machine_state.h"
#include "reliability/session_runner.h"
#include "samplesuite/sample_machine.h"
#include "support/disk.h"
#include "support/status_test_support.h"
#include "support/test_machine.h"
#include "support/transcripts.h"
#include "fs/product_names.h"
#include "support/data_files.h"

namespace names = customhooks::names;

using namespace customhooks::fs;

namespace {

namespace pcf = customhooks::pcf;

const std::string kFirst = "Orvik Tessel Studio 4.6 :";
const std::string kSecond = "Pelican X Pro :";
const std::string kFirstSummaryFailed = "Failed to Update PCFClientFile and cache.db for Orvik Tessel Studio 4.6";
const std::string kSecondSummaryFailed =
    "Failed to Update PCFClientFile and cache.db for Pelican Professional 10.0";

// Files a session of the sample suite may change, by the end of their keys.
const std::string kPcd = Slashed(ConfigurationDatabase());
const std::string kCache = Slashed(CacheDatabase());
const std::string kPdb = Slashed(PayloadDatabase());
const std::string kBackup = Slashed(InstallerBackup());
const std::string kSecondDocument = "Pelican X Pro/RMT/application.xml";
const std::string kSharedCopy = ".PXP-10-4471-2093.xml";
const std::string kFirstIni = std::string("Tessel Studio 4.6/") + names::kSettingsFile;
const std::string kFirstIniC = std::string("Tessel Studio 4.6/") + names::kSettingsFileC;

std::string Bytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

// A code of 38 bytes in braces (the form that has a shared copy in the PCF
// folder) around `text`, padded with zeros.
std::string BracedCode(const std::string& text) {
  std::string code = "{" + text;
  code.resize(37, '0');
  return code + "}";
}

class HostileInput : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LayOutSampleSuite(programFiles_, suite_));
    properties_ = SessionProperties(suite_.driverCode);
  }

  // The lines of the sample suite's install session at SessionClose.
  std::vector<std::string> SampleSessionLines() const {
    return TranscriptOfEntry("sample_suite_install", "SessionClose", programFiles_).lines;
  }

  // Runs a session and keeps its outcome and what it left on disk.
  void RunSession(const Properties& properties) {
    before_ = roots_.Capture();
    outcome_ = CloseInstallSession(properties);
    after_ = roots_.Capture();
  }

  // Everything but the files whose keys end in `mayChange` is as before.
  void ExpectUnchangedBut(const std::vector<std::string>& mayChange) const {
    const std::vector<std::string> problems = CompareExactly(before_, after_, mayChange);
    EXPECT_TRUE(problems.empty()) << Joined(problems) << "lines:\n" << Joined(outcome_.lines);
  }

  const DatabaseState& Database(const MachineState& state, const std::string& tail) const {
    for (const auto& database : state.databases) {
      if (database.first.size() >= tail.size() &&
          database.first.compare(database.first.size() - tail.size(), tail.size(), tail) == 0) {
        return database.second;
      }
    }
    static const DatabaseState kMissing;
    ADD_FAILURE() << "no database " << tail;
    return kMissing;
  }

  // The schema of every database is as before, and every table but
  // domain_data holds the same rows.
  void ExpectSchemasAndOtherTablesIntact() const {
    for (const std::string& tail : {kPcd, kCache, kPdb}) {
      const DatabaseState& was = Database(before_, tail);
      const DatabaseState& is = Database(after_, tail);
      EXPECT_EQ(is.integrity, "ok") << tail;
      for (const auto& table : was.tables) {
        if (table.first == "domain_data") continue;
        EXPECT_EQ(is.tables.count(table.first) ? is.tables.at(table.first) : std::multiset<std::string>(),
                  table.second)
            << tail << ": table " << table.first;
      }
      EXPECT_EQ(is.tables.size(), was.tables.size()) << tail << ": tables added or dropped";
    }
  }

  DomainRecords Records(const MachineState& state, const std::string& tail) const {
    return Database(state, tail).records;
  }

  void ExpectLine(const std::string& line) const {
    EXPECT_TRUE(HasLine(outcome_.lines, line)) << "missing line: " << line << "\nlines:\n" << Joined(outcome_.lines);
  }

  std::string CommonDataPath(const std::string& relative) const {
    return In(machine_.commonData(), relative);
  }

  // Reads the second product's document as the module would.
  pcf::EntryMap SecondDocumentValues(const std::string& payloadCode) const {
    pcf::Document document;
    EXPECT_OK(pcf::ReadDocument(suite_.secondProductDocument, &document));
    EXPECT_EQ(document.payloadCode, payloadCode);
    return document.sections[payloadCode];
  }

  TestMachine machine_;
  std::string programFiles_ = machine_.scratch() + "\\Program Files";
  SampleSuite suite_;
  MachineRoots roots_{OutermostFolders({machine_.scratch(), machine_.commonData()})};
  Properties properties_;
  MachineState before_;
  MachineState after_;
  SessionOutcome outcome_;
};

// ---- SQL text and quotes ------------------------------------------------------

// The sample suite again, with SQL text and quotes in every code, path and
// stored value, next to records that must survive untouched.
class SqlText : public HostileInput {
 protected:
  void SetUp() override {
    ASSERT_TRUE(AddPayloads({
        {driver_, "Suite'); DROP TABLE payloads;--", "Orvik Creative Suite 6 Design", "6.0", 2, 100},
        {first_, "Weft", "Orvik Tessel Studio 4.6", "4.6.1", 2, 200},
        {second_, "NonOrvikPayload", "Pelican X Pro", "10.0", 2, 300},
        {"{unrelated' OR '1'='1}", "Shared", "Orvik Fonts'--", "6.0", 2, 400},
    }));
    const std::string driverDocument = driverFolder_ + "RMT\\application.xml";
    const std::string firstDocument = firstFolder_ + "RMT\\application.xml";
    suite_.secondProductDocument = programFiles_ + "\\Pelican'; DROP TABLE payloads;--\\RMT\\application.xml";
    ASSERT_TRUE(SetPayloadData(driver_, 0, names::kConfigPathKey, driverDocument));
    ASSERT_TRUE(SetPayloadData(first_, names::kPayloadDataDomain, names::kMediaSignatureProperty, driver_));
    ASSERT_TRUE(SetPayloadData(first_, 0, names::kConfigPathKey, firstDocument));
    ASSERT_TRUE(SetPayloadData(second_, names::kSecondProductDataDomain, names::kMediaSignatureProperty, "{other'); DELETE FROM payload_data;--}"));
    ASSERT_TRUE(SetPayloadData(second_, 0, names::kMostRecentSessionKey, driver_));
    ASSERT_TRUE(SetConfigRecord(driver_, names::kLicensingCodeKey, licensing_));
    ASSERT_TRUE(SetConfigRecord(driver_, names::kDefaultDriverPayloadKey, driver_));
    ASSERT_TRUE(SetConfigRecord(driver_, names::kInstallDateKey, installDate_));
    ASSERT_TRUE(SetConfigRecord(driver_, names::kInstalledLanguagesKey, "fr_MA"));
    ASSERT_TRUE(SetConfigRecord(second_, names::kConfigPathKey, suite_.secondProductDocument));
    ASSERT_TRUE(SetConfigRecord("{kept'); DROP TABLE domain_data;--}", "k'ey", "v'); DELETE FROM pcd_meta;--"));
    ASSERT_TRUE(SetConfigRecord("{kept' OR '1'='1}", names::kEulaAcceptedKey, "0'--", true));
    ASSERT_TRUE(WriteCapsDatabase(5));
    ASSERT_TRUE(WriteConfigurationDocument(suite_.secondProductDocument, second_,
                                           {{names::kLicensingCodeKey, documentLicensing_},
                                            {"ProductName", "Pelican' OR ''='"},
                                            {names::kInstalledLanguagesKey, "en_US"}}));
    ASSERT_TRUE(WriteTextFile(firstFolder_ + names::kSettingsFile, "language=en_US'--\r\n"));
    ASSERT_TRUE(WriteTextFile(firstFolder_ + names::kSettingsFileC, "language=en_US\"\r\n"));
    const std::string locale = driverFolder_ + names::kFrenchMoroccoSettingsFolder + "\\";
    ASSERT_TRUE(WriteTextFile(locale + names::kSettingsFile, "language=fr_FR'\r\n"));
    ASSERT_TRUE(WriteTextFile(locale + names::kSettingsFileC, "language=fr_FR\"\r\n"));
  }

  const std::string driver_ = "{9A3E'); DROP TABLE domain_data; --}";
  const std::string first_ = "{3C5B'); UPDATE payloads SET installState = 0;--}";
  const std::string second_ = BracedCode("E1F2' OR '1'='1'); DELETE;--");
  const std::string licensing_ = "LIC'); DROP TABLE pcd_meta;--\"q\"";
  const std::string documentLicensing_ = "PXP'-10;--";
  const std::string installDate_ = "2026-12-07' OR '1'='1 <b>&amp;</b> \"q\" ]]> %s %d";
  const std::string driverFolder_ = programFiles_ + "\\O'Brien'); DROP TABLE payloads;--\\";
  const std::string firstFolder_ = programFiles_ + "\\Tessel' OR '1'='1\\";
  const std::string secondDocumentKey_ = "Pelican'; DROP TABLE payloads;--/RMT/application.xml";
};

TEST_F(SqlText, EveryCodePathAndValueIsStoredAndMatchedVerbatim) {
  RunSession({{"x'); DROP TABLE domain_data;--", "y'"},
              {names::kMediaSignatureProperty, driver_},
              {names::kInstallLanguageProperty, names::kFrenchMoroccoLanguage}});
  EXPECT_EQ(outcome_.status, 0);
  ExpectLine(Prefixed(kFirst + "Successfully retreived the mediaSignature: " + driver_));
  ExpectLine(Prefixed(kFirst + "Orvik Tessel Studio 4.6 has mediaSignature matching Suite driver payload." + driver_));
  ExpectLine(Prefixed("Successfully Updated fr_FR in TesselStudio.ini"));
  ExpectLine(Prefixed("Successfully Updated fr_FR in TesselStudioC.ini"));
  ExpectLine(Prefixed("Orvikcode retrieved: " + second_));
  ExpectLine(Prefixed("and updated the pcd as well with the language(s): !fr_MA,fr_FR"));
  ExpectLine(Prefixed(kSecond + "Pelican X Pro has mostRecentSessionID matching Suite driver payload." + driver_));
  ExpectLine(Prefixed(kFirst + "EULA_LANGUAGE success"));
  ExpectLine(Prefixed(kSecond + "EULA_LANGUAGE success"));

  ExpectSchemasAndOtherTablesIntact();
  DomainRecords pcd = Records(before_, kPcd);
  pcd[RecordKey("1", second_, names::kDefaultDriverPayloadKey)] = driver_;
  pcd[RecordKey("1", second_, names::kInstalledLanguagesKey)] = "fr_MA,fr_FR";
  EXPECT_EQ(Records(after_, kPcd), pcd);
  DomainRecords cache = Records(before_, kCache);
  cache[RecordKey("1", licensing_, names::kEulaAcceptedKey)] = "1";
  cache[RecordKey("1", licensing_, names::kEulaLanguageKey)] = names::kFrenchMoroccoLanguage;
  EXPECT_EQ(Records(after_, kCache), cache);

  const pcf::EntryMap values = SecondDocumentValues(second_);
  EXPECT_EQ(values.at(names::kInstallDateKey), installDate_);
  EXPECT_EQ(values.at(names::kDefaultDriverPayloadKey), driver_);
  EXPECT_EQ(values.at(names::kConfigPathKey), suite_.secondProductDocument);
  EXPECT_EQ(values.at("ProductName"), "Pelican' OR ''='");
  const std::optional<std::string> pcf = customhooks::integration::LocatePcfFolder();
  ASSERT_TRUE(pcf);
  EXPECT_EQ(ReadWholeFile(*pcf + "\\" + second_ + "." + documentLicensing_ + ".xml"),
            ReadWholeFile(suite_.secondProductDocument));
  EXPECT_EQ(ReadWholeFile(firstFolder_ + names::kSettingsFile), "language=fr_FR'\r\n");
  EXPECT_EQ(ReadWholeFile(firstFolder_ + names::kSettingsFileC), "language=fr_FR\"\r\n");
  const std::string firstFolder = "Tessel' OR '1'='1/";
  ExpectUnchangedBut({kPcd, kCache, kBackup, secondDocumentKey_, firstFolder + names::kSettingsFile,
                      firstFolder + names::kSettingsFileC, documentLicensing_ + ".xml"});
}

TEST_F(SqlText, SqlInTheInstallLanguageIsOnlyEverAValue) {
  const std::string language = "fr_MA'); DROP TABLE domain_data; SELECT ('";
  RunSession(SessionProperties(driver_, language));
  EXPECT_EQ(outcome_.status, 0);
  ExpectLine(Prefixed(kFirst + "Successfully retreived the installLanguage: " + language));
  ExpectLine(Prefixed("Successfully retreived the installLanguage: " + language));
  ExpectSchemasAndOtherTablesIntact();
  DomainRecords cache = Records(before_, kCache);
  cache[RecordKey("1", licensing_, names::kEulaAcceptedKey)] = "1";
  cache[RecordKey("1", licensing_, names::kEulaLanguageKey)] = language;
  EXPECT_EQ(Records(after_, kCache), cache);
  // Not "fr_MA": the settings files stay as they are.
  ExpectUnchangedBut({kPcd, kCache, kBackup, secondDocumentKey_, documentLicensing_ + ".xml"});
}

// ---- Sizes, encodings, empty texts ----------------------------------------------

TEST_F(HostileInput, MegabyteInstallLanguageIsStoredWhole) {
  const std::string language(1 << 20, 'L');
  RunSession(SessionProperties(suite_.driverCode, language));
  EXPECT_EQ(outcome_.status, 0);
  ExpectLine(Prefixed(kFirst + "Successfully retreived the installLanguage: " + language));
  ExpectLine(Prefixed(kSecond + "EULA_LANGUAGE success"));
  EXPECT_EQ(Records(after_, kCache).at(RecordKey("1", suite_.licensingCode, names::kEulaLanguageKey)), language);
  ExpectSchemasAndOtherTablesIntact();
  ExpectUnchangedBut({kPcd, kCache, kBackup, kSecondDocument, kSharedCopy});
}

TEST_F(HostileInput, MegabyteSignatureMatchesNothingAndWritesNothing) {
  const std::string signature(1 << 20, 'S');
  RunSession(SessionProperties(signature));
  EXPECT_EQ(outcome_.status, 0);
  ExpectLine(Prefixed(kFirst + "Successfully retreived the mediaSignature: " + signature));
  ExpectLine(Prefixed(kFirst + "Fail to retrieve the LEID of the Driver Payload"));
  ExpectLine(Prefixed(kFirst + "PCDOpen Session failed : Can't update EULA_ACCEPTED & EULA_LANGUAGE"));
  ExpectLine(Prefixed("Couldn't retrieve the value for 'DefaultDriverPayload' from pcd"));
  ExpectLine(Prefixed(kSecond + "PCDOpen Session failed : Can't update EULA_ACCEPTED & EULA_LANGUAGE"));
  // The refreshed backup of the installer's database is the only change.
  ExpectUnchangedBut({kBackup});
}

TEST_F(HostileInput, MegabyteStoredValueReachesTheDocumentWhole) {
  const std::string date(1 << 20, 'D');
  ASSERT_TRUE(SetConfigRecord(suite_.driverCode, names::kInstallDateKey, date));
  RunSession(properties_);
  EXPECT_EQ(outcome_.status, 0);
  EXPECT_EQ(outcome_.lines, SampleSessionLines());
  EXPECT_EQ(SecondDocumentValues(suite_.secondProductCode).at(names::kInstallDateKey), date);
  ExpectSchemasAndOtherTablesIntact();
}

TEST_F(HostileInput, InvalidUtf8PropertiesAreStoredAsBytesOrMatchNothing) {
  const std::string language = "fr_MA\xC3\x28\xFF\xFE\xED\xA0\x80\xF8\x88\x80\x80\x80";
  RunSession(SessionProperties(suite_.driverCode, language));
  EXPECT_EQ(outcome_.status, 0);
  ExpectLine(Prefixed(kSecond + "Successfully retreived the installLanguage: " + language));
  EXPECT_EQ(Records(after_, kCache).at(RecordKey("1", suite_.licensingCode, names::kEulaLanguageKey)), language);
  ExpectUnchangedBut({kPcd, kCache, kBackup, kSecondDocument, kSharedCopy});

  const std::string signature = "{\xC0\xAF\xC0\xAE\xFF}";
  RunSession(SessionProperties(signature));
  EXPECT_EQ(outcome_.status, 0);
  ExpectLine(Prefixed(kFirst + "Fail to retrieve the LEID of the Driver Payload"));
  ExpectUnchangedBut({kBackup});
}

TEST_F(HostileInput, InvalidUtf8DocumentPathIsNotLoaded) {
  ASSERT_TRUE(SetConfigRecord(suite_.secondProductCode, names::kConfigPathKey, programFiles_ + "\\\xFF\xFE\\RMT\\application.xml"));
  RunSession(properties_);
  EXPECT_EQ(outcome_.status, 0);
  ExpectLine(Prefixed("Failed to load application.xml at the time of init."));
  EXPECT_EQ(Records(after_, kPcd).at(RecordKey("1", suite_.secondProductCode, names::kDefaultDriverPayloadKey)),
            suite_.driverCode);
  ExpectUnchangedBut({kPcd, kCache, kBackup, kFirstIni, kFirstIniC});
}

TEST_F(HostileInput, InvalidUtf8StoredValueRollsTheDriverRecordsBack) {
  // Written into the document, these bytes would leave it unreadable for
  // every later session.
  ASSERT_TRUE(SetConfigRecord(suite_.driverCode, names::kInstallDateKey, "2026\xFF\xFE\xFD"));
  RunSession(properties_);
  EXPECT_EQ(outcome_.status, 0);
  ExpectLine(Prefixed("PCFClientSetValueForKeyInSubDomain failed"));
  EXPECT_EQ(Records(after_, kPcd), Records(before_, kPcd));
  ExpectUnchangedBut({kCache, kBackup, kFirstIni, kFirstIniC});

  ASSERT_TRUE(SetConfigRecord(suite_.driverCode, names::kInstallDateKey, "2026-12-08"));
  RunSession(properties_);
  EXPECT_EQ(outcome_.lines, SampleSessionLines());
  EXPECT_EQ(SecondDocumentValues(suite_.secondProductCode).at(names::kInstallDateKey), "2026-12-08");
}

TEST_F(HostileInput, DocumentClientRefusesTextThatIsNotUtf8) {
  pcf::DocumentSession session(customhooks::integration::LocatePcfFolder);
  ASSERT_OK(session.Load(suite_.secondProductDocument));
  const std::string& code = suite_.secondProductCode;
  for (const char* text : {"\xFF", "a\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a\x80z"}) {
    EXPECT_EQ(session.SetValue(code, names::kInstallDateKey, text), pcf::Code::kBadArgument) << "value";
    EXPECT_EQ(session.SetValue(code, text, "v"), pcf::Code::kBadArgument) << "key";
    EXPECT_EQ(session.SetValue(text, names::kInstallDateKey, "v"), pcf::Code::kBadArgument) << "subdomain";
  }
  EXPECT_OK(session.SetValue(code, names::kInstallDateKey, "\xC3\xA9t\xC3\xA9 \xF0\x9F\x8E\x89"));
  EXPECT_OK(session.SetValue(code, names::kConfigPathKey, suite_.secondProductDocument));
  EXPECT_OK(session.Save());
  EXPECT_EQ(SecondDocumentValues(suite_.secondProductCode).at(names::kInstallDateKey), "\xC3\xA9t\xC3\xA9 \xF0\x9F\x8E\x89");
}

TEST_F(HostileInput, EmptyPropertiesMatchNothingAndWriteNothing) {
  RunSession(SessionProperties("", ""));
  EXPECT_EQ(outcome_.status, 0);
  ExpectLine(Prefixed(kFirst + "Successfully retreived the mediaSignature: "));
  ExpectLine(Prefixed(kFirst + "Successfully retreived the installLanguage: "));
  ExpectLine(Prefixed(kFirst + "Fail to retrieve the LEID of the Driver Payload"));
  ExpectLine(Prefixed("Couldn't retrieve the value for 'DefaultDriverPayload' from pcd"));
  ExpectUnchangedBut({kBackup});
}

TEST_F(HostileInput, EmptyStoredValueRollsTheDriverRecordsBack) {
  ASSERT_TRUE(SetConfigRecord(suite_.driverCode, names::kInstallDateKey, ""));
  RunSession(properties_);
  EXPECT_EQ(outcome_.status, 0);
  ExpectLine(Prefixed("PCFClientSetValueForKeyInSubDomain failed"));
  EXPECT_EQ(Records(after_, kPcd), Records(before_, kPcd));
  ExpectUnchangedBut({kCache, kBackup, kFirstIni, kFirstIniC});
}

// ---- Damaged databases -------------------------------------------------------------

class DamagedDatabase : public HostileInput {
 protected:
  // Replaces the database file below the common data folder by `bytes`.
  void Damage(const std::string& relative, const std::string& bytes) {
    ASSERT_TRUE(WriteWholeFile(CommonDataPath(relative), bytes));
  }
  // Cuts the file off in the middle of its second half's first page.
  void Truncate(const std::string& relative) {
    const std::string bytes = ReadWholeFile(CommonDataPath(relative));
    ASSERT_GE(bytes.size(), 4u * 4096) << relative << " is too small to cut in the middle of a page";
    Damage(relative, bytes.substr(0, bytes.size() / 2 + 1000));
  }

  void ExpectPayloadDatabaseRefused() const {
    EXPECT_EQ(outcome_.status, 0);
    ExpectLine(Prefixed(kFirst + "Failed to open pdb.db"));
    ExpectLine(Prefixed(kFirstSummaryFailed));
    ExpectLine(Prefixed(kSecond + "Failed to open pdb.db"));
    ExpectLine(Prefixed(kSecondSummaryFailed));
    ExpectUnchangedBut({});
  }

  void ExpectConfigurationDatabaseRefused() const {
    EXPECT_EQ(outcome_.status, 0);
    ExpectLine(Prefixed(kFirst + "PCDOpen failed"));
    ExpectLine(Prefixed(kFirst + "PCDOpen Session failed : Can't update EULA_ACCEPTED & EULA_LANGUAGE"));
    ExpectLine(Prefixed("Error opening pcd session"));
    ExpectUnchangedBut({kBackup, kFirstIni, kFirstIniC});
  }

  void ExpectCacheDatabaseRefused() const {
    EXPECT_EQ(outcome_.status, 0);
    ExpectLine(Prefixed(kFirst + "PCDOpen failed"));
    ExpectLine(Prefixed(kFirst + "PCDOpen Session failed : Can't update EULA_ACCEPTED & EULA_LANGUAGE"));
    ExpectLine(Prefixed(kSecond + "PCDOpen Session failed : Can't update EULA_ACCEPTED & EULA_LANGUAGE"));
    // The configuration database and the document are still worked on.
    ExpectLine(Prefixed("and updated the pcd as well with the language(s): !fr_MA,fr_FR"));
    ExpectUnchangedBut({kPcd, kBackup, kSecondDocument, kSharedCopy, names::kSettingsFile, names::kSettingsFileC});
  }
};

TEST_F(DamagedDatabase, PayloadDatabaseOfRandomBytesIsRefusedAndLeftAlone) {
  Damage(PayloadDatabase(), Bytes(3 * 4096 + 123, 1));
  RunSession(properties_);
  ExpectPayloadDatabaseRefused();
}

TEST_F(DamagedDatabase, PayloadDatabaseCutMidPageIsRefusedAndLeftAlone) {
  Truncate(PayloadDatabase());
  RunSession(properties_);
  ExpectPayloadDatabaseRefused();
}

TEST_F(DamagedDatabase, ConfigurationDatabaseOfRandomBytesIsRefusedAndLeftAlone) {
  Damage(ConfigurationDatabase(), Bytes(2 * 4096, 2));
  RunSession(properties_);
  ExpectConfigurationDatabaseRefused();
}

TEST_F(DamagedDatabase, ConfigurationDatabaseCutMidPageIsRefusedAndLeftAlone) {
  Truncate(ConfigurationDatabase());
  RunSession(properties_);
  ExpectConfigurationDatabaseRefused();
}

TEST_F(DamagedDatabase, CacheDatabaseOfRandomBytesIsRefusedAndLeftAlone) {
  Damage(CacheDatabase(), Bytes(4096 + 7, 3));
  RunSession(properties_);
  ExpectCacheDatabaseRefused();
}

TEST_F(DamagedDatabase, CacheDatabaseCutMidPageIsRefusedAndLeftAlone) {
  ASSERT_TRUE(SetConfigRecord("filler", "value", std::string(20000, 'f'), true));
  Truncate(CacheDatabase());
  RunSession(properties_);
  ExpectCacheDatabaseRefused();
}

TEST_F(DamagedDatabase, EveryCutOfEveryDatabaseIsRefusedOrMadeNoWorse) {
  const MachineState initial = roots_.Capture();
  RunSession(properties_);
  const MachineState complete = after_;
  unsigned cuts = 0;
  for (const std::string& relative : {PayloadDatabase(), ConfigurationDatabase(), CacheDatabase()}) {
    const std::string key = "/" + relative.substr(relative.rfind('\\') + 1);
    roots_.Restore(initial);
    const std::string whole = ReadWholeFile(CommonDataPath(relative));
    for (std::size_t cut = 1000; cut < whole.size(); cut += 4096, ++cuts) {
      roots_.Restore(initial);
      Damage(relative, whole.substr(0, cut));
      RunSession(properties_);
      EXPECT_EQ(outcome_.status, 0) << relative << " cut at " << cut;
      // The damaged file is left as it was, or at least no more damaged than
      // it was (SQLite reads a page cut off at the end of the file as zeros
      // and may then use the file).
      const DatabaseState* was = nullptr;
      const DatabaseState* is = nullptr;
      for (const auto& database : before_.databases) {
        if (database.first.size() > key.size() &&
            database.first.compare(database.first.size() - key.size(), key.size(), key) == 0) {
          was = &database.second;
          is = &after_.databases.at(database.first);
        }
      }
      ASSERT_TRUE(was != nullptr && is != nullptr);
      EXPECT_EQ(is->integrity, was->integrity) << relative << " cut at " << cut;
      // Everything else is as before or as a session on the whole database
      // leaves it.
      for (const std::string& problem : CompareWithCompleteOrAbsentChanges(before_, complete, after_)) {
        if (problem.find(key + ":") != std::string::npos) continue;
        ADD_FAILURE() << relative << " cut at " << cut << ": " << problem;
      }
    }
  }
  EXPECT_GT(cuts, 30u);
  std::printf("[ figures  ] %u databases cut off in the middle of a page\n", cuts);
}

// ---- Documents -------------------------------------------------------------------------

TEST_F(HostileInput, DocumentPathNamingAFolderIsNotLoaded) {
  const std::string folder = programFiles_ + "\\Pelican\\Pelican X Pro\\RMT";
  ASSERT_TRUE(SetConfigRecord(suite_.secondProductCode, names::kConfigPathKey, folder));
  RunSession(properties_);
  EXPECT_EQ(outcome_.status, 0);
  ExpectLine(Prefixed("Failed to load application.xml at the time of init."));
  EXPECT_TRUE(IsDirectory(folder));
  EXPECT_EQ(Records(after_, kPcd).at(RecordKey("1", suite_.secondProductCode, names::kDefaultDriverPayloadKey)),
            suite_.driverCode);
  ExpectUnchangedBut({kPcd, kCache, kBackup, kFirstIni, kFirstIniC});
}

TEST_F(HostileInput, DocumentsThatAreNotConfigurationXmlAreNotLoadedAndLeftAlone) {
  const std::vector<std::string> documents = {
      Bytes(5000, 4),
      "",
      "not XML at all, just text",
      "<?xml version=\"1.0\"?><Configuration><Payload orvikCode=\"x\"><Data key=\"a\">unclosed",
      "<Configuration>" + std::string(200000, '<') + "</Configuration>",
      [] {
        std::string nested;
        for (int i = 0; i < 100000; ++i) nested += "<Other>";
        return "<Configuration><Payload orvikCode=\"x\"/>" + nested + "</Configuration>";
      }(),
      "\xEF\xBB\xBF<Configuration><Payload orvikCode=\"\xFF\xFE\"/><Payload orvikCode=\"y\"/></Configuration>",
  };
  for (std::size_t i = 0; i < documents.size(); ++i) {
    ASSERT_TRUE(WriteWholeFile(suite_.secondProductDocument, documents[i]));
    RunSession(properties_);
    EXPECT_EQ(outcome_.status, 0) << "document " << i;
    ExpectLine(Prefixed("Failed to load application.xml at the time of init."));
    EXPECT_EQ(ReadWholeFile(suite_.secondProductDocument), documents[i]) << "document " << i;
    ExpectUnchangedBut({kPcd, kCache, kBackup, kFirstIni, kFirstIniC});
  }
}

TEST_F(HostileInput, DocumentValuesCannotSteerTheSharedCopyOutOfItsFolder) {
  const std::vector<std::string> licences = {"..\\..\\..\\escaped", "../../escaped", "C:\\escaped", "a\\b"};
  for (const std::string& licence : licences) {
    ASSERT_TRUE(WriteConfigurationDocument(suite_.secondProductDocument, suite_.secondProductCode,
                                           {{names::kLicensingCodeKey, licence}, {names::kInstalledLanguagesKey, "en_US"}}));
    RunSession(properties_);
    EXPECT_EQ(outcome_.status, 0) << licence;
    ExpectLine(Prefixed("and updated the pcd as well with the language(s): !fr_MA,fr_FR"));
    // The document itself is saved; no shared copy is written anywhere.
    EXPECT_EQ(SecondDocumentValues(suite_.secondProductCode).at(names::kLicensingCodeKey), licence);
    ExpectUnchangedBut({kPcd, kCache, kBackup, kSecondDocument, kFirstIni, kFirstIniC});
  }
}

}  // namespace
