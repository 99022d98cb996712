// The document session: loading, setting values, knowing subdomains and
// finding them in the PCF folder. Values are checked in the documents the
// session saves.
#include <string>

#include <gtest/gtest.h>

#include "client_fixture.h"
#include "fs/files.h"
#include "pcf/pcf_client.h"
#include "pcf/pcf_status.h"
#include "pcf_test_support.h"
#include "support/status_test_support.h"

namespace customhooks::pcf {

namespace names = customhooks::names;

namespace {

// A document whose Payload section `code` holds `payload` (Data elements),
// followed by `rest`.
std::string PayloadDocument(const std::string& code, const std::string& payload, const std::string& rest = "") {
  return DocumentText("<Payload orvikCode=\"" + code + "\">" + payload + "</Payload>" + rest);
}

std::string DataText(const std::string& key, const std::string& value) {
  return "<Data key=\"" + key + "\">" + value + "</Data>";
}

TEST_F(ClientTest, FailedLoadsLeaveTheSessionAsItWas) {
  const std::string folder = Scratch("folder");
  ASSERT_OK(fs::EnsureFolder(folder));
  const struct {
    const char* what;
    std::string path;
    Code code;
  } kCases[] = {
      {"empty path", "", Code::kBadArgument},
      {"path holding a NUL", Put(Scratch("a.xml"), ProductDocument("")) + std::string("\0x", 2), Code::kBadArgument},
      {"missing file", Scratch("missing.xml"), Code::kNotFound},
      {"missing folder", In(Scratch("missing"), "a.xml"), Code::kNotFound},
      {"folder in its place", folder, Code::kCannotOpen},
      {"no configuration document", Put(Scratch("b.xml"), "<Settings/>"), Code::kNotConfigurationDocument},
      {"section without code", Put(Scratch("c.xml"), DocumentText("<Payload/>")), Code::kSectionWithoutCode},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(session_->Load(c.path), c.code);
    EXPECT_EQ(Set(kProductCode, "k", "v"), Code::kNotFound) << "nothing was loaded";
    EXPECT_EQ(Set("Payload", "k", "v"), Code::kNotFound);
  }
  EXPECT_OK(session_->Save());
  EXPECT_TRUE(FolderNames(machine_.commonData()).empty()) << "an empty session saves nothing";
}

TEST_F(ClientTest, KnownSubdomainsArePayloadCodePartsAndExactSectionCodes) {
  Load(Put(Scratch("application.xml"), ProductDocument("", "TS46", kWeftOther)));
  // Without a PCF folder, a subdomain that is not known cannot be made so.
  for (const char* known : {kProductCode, "6C1A0B5E", "Weft"}) EXPECT_OK(Set(known, "k", "v")) << known;
  for (const char* unknown : {"Wef", "weft", "Weft "}) EXPECT_EQ(Set(unknown, "k", "v"), Code::kNotFound) << unknown;
  const SectionMap saved = SaveAndRead(SharedCopy());
  EXPECT_EQ(saved.count("6C1A0B5E"), 0u) << "known only as part of a payload code: nothing is stored";
  EXPECT_EQ(saved.at("Weft").at("k"), "v");
}

TEST_F(ClientTest, SetChangesTheLoadedSections) {
  Load(Put(Scratch("application.xml"), ProductDocument("", "TS46", kWeftOther)));
  EXPECT_OK(Set(kProductCode, "Version", "4.6.2"));
  EXPECT_OK(Set(kProductCode, "DefaultDriverPayload", kDriverCode));
  EXPECT_OK(Set("Weft", "InstallDate", "2012-01-01"));
  const SectionMap expected = {
      {kProductCode, {{"DefaultDriverPayload", kDriverCode}, {names::kLicensingCodeKey, "TS46"}, {"Version", "4.6.2"}}},
      {"Weft", {{"InstallDate", "2012-01-01"}}},
  };
  EXPECT_EQ(SaveAndRead(SharedCopy()), expected) << "keys belong to their section";
}

TEST_F(ClientTest, SetRefusesTextNoDocumentCanHoldAndChangesNothing) {
  Load(Put(Scratch("application.xml"), ProductDocument("")));
  const std::string nul("a\0b", 3);
  const struct {
    std::string subdomain;
    std::string key;
    std::string value;
  } kCases[] = {
      {kProductCode, "", "v"},   {"", "Version", "v"},          {kProductCode, "Version", ""},
      {kProductCode, nul, "v"},  {nul, "Version", "v"},         {kProductCode, "Version", nul},
      {kProductCode, "\xFF", "v"}, {kProductCode, "Version", "a\xC3"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Set(c.subdomain, c.key, c.value), Code::kBadArgument) << c.subdomain << " " << c.key << " " << c.value;
  }
  EXPECT_EQ(SaveAndRead(SharedCopy()).at(kProductCode).at("Version"), "4.6.1");
}

TEST_F(ClientTest, SetChangesOnlyTheFirstDocumentWithTheSection) {
  const std::string first = Scratch("first.xml");
  const std::string second = Scratch("second.xml");
  Load(Put(first, ProductDocument(first, "TS46", kWeftOther)));
  const std::string secondText = PayloadDocument(kDriverCode, DataText(names::kConfigPathKey, second),
                                                 "<Other orvikCode=\"Weft\">" + DataText("InstallDate", "second") +
                                                     DataText("OnlySecond", "2") + "</Other>");
  Load(Put(second, secondText));
  EXPECT_OK(Set("Weft", "OnlySecond", "set"));
  EXPECT_OK(Set("Weft", "InstallDate", "changed"));
  EXPECT_EQ(SaveAndRead(first).at("Weft"), (EntryMap{{"InstallDate", "changed"}, {"OnlySecond", "set"}}))
      << "a key only a later document has is added to the first";
  Document secondSaved;
  ASSERT_OK(ReadDocument(second, &secondSaved));
  EXPECT_EQ(secondSaved.sections.at("Weft"), (EntryMap{{"InstallDate", "second"}, {"OnlySecond", "2"}}));
}

TEST_F(ClientTest, UnknownSubdomainWithoutADocumentInThePcfFolderIsNotFound) {
  Load(Put(Scratch("application.xml"), ProductDocument("")));
  EXPECT_EQ(Set(kDriverCode, "k", "v"), Code::kNotFound) << "no PCF folder";
  Put(In(MakePcfFolder(), "unrelated.xml"), ProductDocument(""));
  EXPECT_EQ(Set(kDriverCode, "k", "v"), Code::kNotFound);
}

TEST_F(ClientTest, UnknownSubdomainIsLoadedFromThePcfFolder) {
  Load(Put(Scratch("application.xml"), ProductDocument("")));
  const std::string inFolder =
      Put(In(MakePcfFolder(), std::string(kDriverCode) + ".KX6.xml"),
          PayloadDocument(kDriverCode, DataText("InstallDate", "2010-10-10") + DataText(names::kLicensingCodeKey, "KX6"),
                          "<Other orvikCode=\"Languages\">" + DataText("list", "en_US") + "</Other>"));
  EXPECT_OK(Set(kDriverCode, "installedLanguages", "en_US,fr_FR"));
  EXPECT_OK(Set("Languages", "list", "fr_FR")) << "the whole document was loaded";
  const SectionMap expected = {
      {kDriverCode,
       {{"InstallDate", "2010-10-10"}, {names::kLicensingCodeKey, "KX6"}, {"installedLanguages", "en_US,fr_FR"}}},
      {"Languages", {{"list", "fr_FR"}}},
  };
  EXPECT_EQ(SaveAndRead(inFolder), expected);
}

TEST_F(ClientTest, FolderSearchMatchesUtf8NamesExactly) {
  const std::string code = "Gr\xC3\xBC\xC3\x9F" "e";
  const std::string own = Scratch("own.xml");
  Put(In(MakePcfFolder(), "Lizenz-" + code + ".xml"),
      PayloadDocument(code, DataText("k", "\xE2\x82\xAC") + DataText(names::kConfigPathKey, own)));
  EXPECT_EQ(Set("GR\xC3\x9C\xC3\x9F" "E", "k", "v"), Code::kNotFound) << "case-sensitive";
  EXPECT_OK(Set(code, "added", "v"));
  EXPECT_EQ(SaveAndRead(own).at(code), (EntryMap{{names::kConfigPathKey, own}, {"added", "v"}, {"k", "\xE2\x82\xAC"}}));
}

TEST_F(ClientTest, FileWhoseNameBaseIsKnownIsNotLoadedAgain) {
  Load(Put(Scratch("application.xml"), ProductDocument("")));
  // The name contains "TS46" and its base is the loaded payload code.
  MakePcfFolder();
  Put(SharedCopy(), PayloadDocument(kProductCode, DataText("k", "v"),
                                    "<Other orvikCode=\"OnlyInFolderCopy\">" + DataText("k", "v") + "</Other>"));
  EXPECT_OK(Set("TS46", "k", "v")) << "known only by name: nothing is stored";
  EXPECT_EQ(Set("OnlyInFolderCopy", "k", "v"), Code::kNotFound);
  const SectionMap expected = {{kProductCode, {{names::kLicensingCodeKey, "TS46"}, {"Version", "4.6.1"}}}};
  EXPECT_EQ(SaveAndRead(SharedCopy()), expected);
}

TEST_F(ClientTest, FolderDocumentThatCannotBeReadGivesItsStatus) {
  Put(In(MakePcfFolder(), "Broken.xml"), "<Configuration><Payload orvikCode=\"Broken\">");
  EXPECT_EQ(Set("Broken", "k", "v"), Code::kNotConfigurationDocument);
  EXPECT_EQ(Set("Broken", "k", "v"), Code::kNotConfigurationDocument) << "it is still not known";
}

TEST_F(ClientTest, DocumentHeldOpenByAnotherProcessCanBeRead) {
  const std::string path = Put(Scratch("application.xml"), ProductDocument(""));
  FileHolder holder(path, machine_.scratch());
  ASSERT_TRUE(holder.WaitUntilHeld());
  Load(path);
  EXPECT_EQ(holder.Release(), 0);
  EXPECT_EQ(SaveAndRead(SharedCopy()).at(kProductCode).at("Version"), "4.6.1");
}

TEST(ClientWithoutPcfFolderTest, SavesOnlyTheDocumentsOwnPath) {
  TestMachine machine;
  const std::string path = In(machine.scratch(), "application.xml");
  ASSERT_TRUE(WriteWholeFile(path, PayloadDocument(kProductCode, DataText(names::kLicensingCodeKey, "TS46") +
                                                                     DataText(names::kConfigPathKey, path))));
  DocumentSession session{PcfFolderLocator()};
  ASSERT_OK(session.Load(path));
  EXPECT_EQ(session.SetValue(kDriverCode, "k", "v"), Code::kNotFound);
  ASSERT_OK(session.SetValue(kProductCode, "k", "v"));
  EXPECT_OK(session.Save());
  EXPECT_NE(ReadWholeFile(path).find(DataText("k", "v")), std::string::npos);
  EXPECT_TRUE(FolderNames(machine.commonData()).empty());
}

}  // namespace

}  // namespace customhooks::pcf
