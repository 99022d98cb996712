// The client session: loading, knowing subdomains, finding them in the PCF
// folder, setting and getting values.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "support/status_test_support.h"

#include "client_fixture.h"
#include "pcf/pcf_client.h"
#include "pcf/pcf_status.h"
#include "pcf_test_support.h"

namespace customhooks::pcf {

namespace {

const char kWeftOther[] =
    "\t<Other orvikCode=\"Weft\">\r\n\t\t<Data key=\"InstallDate\">2011-03-01</Data>\r\n\t</Other>\r\n";

TEST(ClientSessionTest, CreateNeedsAnOutPointer) {
  EXPECT_EQ(PCFClientCreateSession(nullptr, LocateTestPcfFolder), Code::kBadArgument);
  PCFClientSession* session = nullptr;
  EXPECT_EQ(PCFClientCreateSession(&session, PcfFolderLocator()), Code::kBadArgument) << "no locator";
  EXPECT_EQ(session, nullptr);
  ASSERT_OK(PCFClientCreateSession(&session, LocateTestPcfFolder));
  EXPECT_NE(session, nullptr);
  PCFClientCloseSession(session);
  PCFClientCloseSession(nullptr);
}

TEST_F(ClientTest, LoadRefusesMissingArguments) {
  const std::string path = Put(Scratch("application.xml"), ProductDocument(""));
  EXPECT_EQ(PCFClientLoadFile(nullptr, path.c_str(), false), Code::kBadArgument);
  EXPECT_EQ(PCFClientLoadFile(session_, nullptr, false), Code::kBadArgument);
  EXPECT_EQ(PCFClientLoadFile(session_, "", false), Code::kBadArgument);
  EXPECT_FALSE(PCFClientHasSubDomain(session_, kProductCode));
}

TEST_F(ClientTest, LoadOfAMissingFileIsNotFoundAndChangesNothing) {
  EXPECT_EQ(PCFClientLoadFile(session_, Scratch("missing.xml").c_str(), false), Code::kNotFound);
  EXPECT_FALSE(PCFClientHasSubDomain(session_, kProductCode));
  EXPECT_EQ(Get("Version", kProductCode), "<pcf unknown subdomain: " + std::string(kProductCode) + ">");
}

TEST_F(ClientTest, LoadOfSomethingElseGivesTheReadersStatus) {
  EXPECT_EQ(PCFClientLoadFile(session_, Put(Scratch("a.xml"), "<Settings/>").c_str(), false),
            Code::kNotConfigurationDocument);
  EXPECT_EQ(PCFClientLoadFile(session_, Put(Scratch("b.xml"), DocumentText("<Payload/>")).c_str(), false),
            Code::kSectionWithoutCode);
  EXPECT_EQ(PCFClientLoadFile(session_, machine_.scratch().c_str(), false), Code::kCannotOpen);
  EXPECT_FALSE(PCFClientHasSubDomain(session_, "Payload"));
}

TEST_F(ClientTest, KnownSubdomainsArePayloadCodePartsAndExactSectionCodes) {
  Load(Put(Scratch("application.xml"), ProductDocument("", "TS46", kWeftOther)));
  EXPECT_TRUE(PCFClientHasSubDomain(session_, kProductCode));
  EXPECT_TRUE(PCFClientHasSubDomain(session_, "6C1A0B5E")) << "part of a payload code";
  EXPECT_TRUE(PCFClientHasSubDomain(session_, "Weft"));
  EXPECT_FALSE(PCFClientHasSubDomain(session_, "Wef")) << "Other codes must match whole";
  EXPECT_FALSE(PCFClientHasSubDomain(session_, "weft"));
  EXPECT_FALSE(PCFClientHasSubDomain(session_, ""));
  EXPECT_FALSE(PCFClientHasSubDomain(session_, nullptr));
  EXPECT_FALSE(PCFClientHasSubDomain(nullptr, "Weft"));
}

TEST_F(ClientTest, SetAndGetInLoadedSections) {
  Load(Put(Scratch("application.xml"), ProductDocument("", "TS46", kWeftOther)));
  EXPECT_EQ(Get("Version", kProductCode), "4.6.1");
  EXPECT_OK(Set("Version", kProductCode, "4.6.2"));
  EXPECT_OK(Set("DefaultDriverPayload", kProductCode, kDriverCode));
  EXPECT_OK(Set("InstallDate", "Weft", "2012-01-01"));
  EXPECT_EQ(Get("Version", kProductCode), "4.6.2");
  EXPECT_EQ(Get("DefaultDriverPayload", kProductCode), kDriverCode);
  EXPECT_EQ(Get("InstallDate", "Weft"), "2012-01-01");
  EXPECT_EQ(Get("InstallDate", kProductCode), "") << "keys belong to their section";
}

TEST_F(ClientTest, SetRefusesEmptyArgumentsAndChangesNothing) {
  Load(Put(Scratch("application.xml"), ProductDocument("")));
  EXPECT_EQ(PCFClientSetValueForKeyInSubDomain(nullptr, "k", kProductCode, "v"), Code::kBadArgument);
  EXPECT_EQ(Set(nullptr, kProductCode, "v"), Code::kBadArgument);
  EXPECT_EQ(Set("", kProductCode, "v"), Code::kBadArgument);
  EXPECT_EQ(Set("Version", "", "v"), Code::kBadArgument);
  EXPECT_EQ(Set("Version", kProductCode, ""), Code::kBadArgument) << "an empty value cannot be stored";
  EXPECT_EQ(Set("Version", kProductCode, nullptr), Code::kBadArgument);
  EXPECT_EQ(Get("Version", kProductCode), "4.6.1");
}

TEST_F(ClientTest, GetOfAMissingKeyGivesAnEmptyValue) {
  Load(Put(Scratch("application.xml"), ProductDocument("")));
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_OK(PCFClientGetValueForKeyInSubDomain(session_, "Absent", kProductCode, buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "");
}

TEST_F(ClientTest, GetNeedsRoomForTheTerminator) {
  Load(Put(Scratch("application.xml"), ProductDocument("")));
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  // "4.6.1" has five bytes.
  EXPECT_EQ(PCFClientGetValueForKeyInSubDomain(session_, "Version", kProductCode, buffer, 5), Code::kValueTooLong);
  EXPECT_STREQ(buffer, "");
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_OK(PCFClientGetValueForKeyInSubDomain(session_, "Version", kProductCode, buffer, 7));
  EXPECT_EQ(std::string(buffer, 7), std::string("4.6.1\0\0", 7)) << "the rest is padded";
  EXPECT_EQ(buffer[7], 'x') << "nothing beyond the given size";
}

TEST_F(ClientTest, GetRefusesMissingArguments) {
  Load(Put(Scratch("application.xml"), ProductDocument("")));
  char buffer[16] = "untouched";
  EXPECT_EQ(PCFClientGetValueForKeyInSubDomain(nullptr, "Version", kProductCode, buffer, 16), Code::kBadArgument);
  EXPECT_EQ(PCFClientGetValueForKeyInSubDomain(session_, "Version", kProductCode, nullptr, 16), Code::kBadArgument);
  EXPECT_EQ(PCFClientGetValueForKeyInSubDomain(session_, "Version", kProductCode, buffer, 0), Code::kBadArgument);
  EXPECT_EQ(PCFClientGetValueForKeyInSubDomain(session_, "", kProductCode, buffer, 16), Code::kBadArgument);
  EXPECT_EQ(PCFClientGetValueForKeyInSubDomain(session_, "Version", nullptr, buffer, 16), Code::kBadArgument);
  EXPECT_STREQ(buffer, "untouched");
}

TEST_F(ClientTest, GetOfAnUnknownSubdomainFails) {
  Load(Put(Scratch("application.xml"), ProductDocument("")));
  char buffer[16] = "untouched";
  EXPECT_EQ(PCFClientGetValueForKeyInSubDomain(session_, "Version", "Nowhere", buffer, 16), Code::kUnknownSubDomain);
  EXPECT_STREQ(buffer, "");
}

TEST_F(ClientTest, SetChangesOnlyTheFirstDocumentWithTheSection) {
  Load(Put(Scratch("first.xml"), ProductDocument("", "TS46", kWeftOther)));
  Load(Put(Scratch("second.xml"),
           DocumentText(std::string("<Payload orvikCode=\"") + kDriverCode + "\"><Data key=\"a\">1</Data></Payload>" +
                        "<Other orvikCode=\"Weft\"><Data key=\"InstallDate\">second</Data>"
                        "<Data key=\"OnlySecond\">2</Data></Other>")));
  EXPECT_EQ(Get("OnlySecond", "Weft"), "2") << "a key only a later document has is found there";
  EXPECT_OK(Set("OnlySecond", "Weft", "set"));
  EXPECT_EQ(Get("OnlySecond", "Weft"), "set") << "added to the first document, which now answers";
  EXPECT_OK(Set("InstallDate", "Weft", "changed"));
  EXPECT_EQ(Get("InstallDate", "Weft"), "changed");
}

TEST_F(ClientTest, UnknownSubdomainWithoutADocumentInThePcfFolderIsNotFound) {
  Load(Put(Scratch("application.xml"), ProductDocument("")));
  EXPECT_EQ(Set("k", kDriverCode, "v"), Code::kNotFound) << "no PCF folder";
  MakePcfFolder();
  Put(Child(PcfFolder(), "unrelated.xml"), ProductDocument(""));
  EXPECT_EQ(Set("k", kDriverCode, "v"), Code::kNotFound);
  EXPECT_EQ(PCFClientEnsureSubDomain(session_, kDriverCode), Code::kNotFound);
}

TEST_F(ClientTest, UnknownSubdomainIsLoadedFromThePcfFolder) {
  Load(Put(Scratch("application.xml"), ProductDocument("")));
  const std::string folder = MakePcfFolder();
  Put(Child(folder, std::string(kDriverCode) + ".KX6.xml"),
      DocumentText(std::string("<Payload orvikCode=\"") + kDriverCode + "\">"
                   "<Data key=\"InstallDate\">2010-10-10</Data></Payload>"
                   "<Other orvikCode=\"Languages\"><Data key=\"list\">en_US</Data></Other>"));
  EXPECT_OK(Set("installedLanguages", kDriverCode, "en_US,fr_FR"));
  EXPECT_TRUE(PCFClientHasSubDomain(session_, "Languages")) << "the whole document was loaded";
  EXPECT_EQ(Get("InstallDate", kDriverCode), "2010-10-10");
  EXPECT_EQ(Get("installedLanguages", kDriverCode), "en_US,fr_FR");
}

TEST_F(ClientTest, SubdomainIsLoadedOnTheSpotByGetToo) {
  const std::string folder = MakePcfFolder();
  Put(Child(folder, "Weft.xml"), DocumentText("<Payload orvikCode=\"Weft\"><Data key=\"k\">from folder</Data></Payload>"));
  EXPECT_EQ(Get("k", "Weft"), "from folder");
}

TEST_F(ClientTest, FolderSearchMatchesUtf8NamesExactly) {
  const std::string folder = MakePcfFolder();
  const std::string code = "Gr\xC3\xBC\xC3\x9F" "e";
  Put(Child(folder, "Lizenz-" + code + ".xml"),
      DocumentText("<Payload orvikCode=\"" + code + "\"><Data key=\"k\">\xE2\x82\xAC</Data></Payload>"));
  EXPECT_EQ(PCFClientEnsureSubDomain(session_, "GR\xC3\x9C\xC3\x9F" "E"), Code::kNotFound) << "case-sensitive";
  EXPECT_EQ(Get("k", code), "\xE2\x82\xAC");
  EXPECT_TRUE(PCFClientHasSubDomain(session_, code.c_str()));
}

TEST_F(ClientTest, FileWhoseNameBaseIsKnownIsNotLoadedAgain) {
  Load(Put(Scratch("application.xml"), ProductDocument("")));
  // The name contains "TS46" and its base is the loaded payload code.
  const std::string folder = MakePcfFolder();
  Put(Child(folder, std::string(kProductCode) + ".TS46.xml"),
      DocumentText(std::string("<Payload orvikCode=\"") + kProductCode + "\"><Data key=\"k\">v</Data></Payload>"
                   "<Other orvikCode=\"OnlyInFolderCopy\"><Data key=\"k\">v</Data></Other>"));
  EXPECT_OK(PCFClientEnsureSubDomain(session_, "TS46"));
  EXPECT_FALSE(PCFClientHasSubDomain(session_, "OnlyInFolderCopy"));
  EXPECT_OK(Set("k", "TS46", "v")) << "known only by name: nothing is stored";
  EXPECT_EQ(Get("k", "TS46"), "");
}

TEST_F(ClientTest, FolderDocumentThatCannotBeReadGivesItsStatus) {
  const std::string folder = MakePcfFolder();
  Put(Child(folder, "Broken.xml"), "<Configuration><Payload orvikCode=\"Broken\">");
  EXPECT_EQ(Set("k", "Broken", "v"), Code::kNotConfigurationDocument);
  EXPECT_EQ(Get("k", "Broken"), "<pcf unknown subdomain: Broken>");
  EXPECT_FALSE(PCFClientHasSubDomain(session_, "Broken"));
}

TEST_F(ClientTest, EnsureSubDomainRefusesMissingArguments) {
  EXPECT_EQ(PCFClientEnsureSubDomain(nullptr, "Weft"), Code::kBadArgument);
  EXPECT_EQ(PCFClientEnsureSubDomain(session_, nullptr), Code::kBadArgument);
  EXPECT_EQ(PCFClientEnsureSubDomain(session_, ""), Code::kBadArgument);
}

TEST_F(ClientTest, MergedLoadAddsValuesToTheLoadedDocument) {
  Load(Put(Scratch("application.xml"), ProductDocument("", "TS46", kWeftOther)));
  const std::string update = Put(Scratch("update.xml"),
                                 DocumentText(std::string("<Payload orvikCode=\"") + kProductCode + "\">"
                                              "<Data key=\"Version\">5.0</Data></Payload>"
                                              "<Other orvikCode=\"Unknown\"><Data key=\"x\">1</Data></Other>"));
  ASSERT_OK(PCFClientLoadFile(session_, update.c_str(), true));
  EXPECT_EQ(Get("Version", kProductCode), "5.0");
  EXPECT_EQ(Get("LicensingCode", kProductCode), "TS46");
  EXPECT_FALSE(PCFClientHasSubDomain(session_, "Unknown")) << "sections nobody has are dropped";
}

TEST_F(ClientTest, DocumentHeldOpenByAnotherProcessCanBeRead) {
  const std::string path = Put(Scratch("application.xml"), ProductDocument(""));
  FileHolder holder(path, machine_.scratch());
  ASSERT_TRUE(holder.WaitUntilHeld());
  Load(path);
  EXPECT_EQ(Get("Version", kProductCode), "4.6.1");
  EXPECT_EQ(holder.Release(), 0);
}

}  // namespace

}  // namespace customhooks::pcf
