// Saving: the two targets of every document, their names and statuses, what
// is deleted, and what stays as it was.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/status_test_support.h"

#include "client_fixture.h"
#include "fs/files.h"
#include "pcf/pcf_client.h"
#include "pcf/pcf_folder.h"
#include "pcf/pcf_document.h"
#include "pcf/pcf_status.h"
#include "pcf_test_support.h"

namespace customhooks::pcf {

using namespace customhooks::fs;
namespace names = customhooks::names;

namespace {

class ClientSaveTest : public ClientTest {
 protected:
  // The product document at scratch\application.xml, naming itself as its
  // "RMTConfigPath".
  std::string LoadProduct(const std::string& licensing = "TS46", const std::string& rest = kWeftOther) {
    const std::string path = Scratch("application.xml");
    Load(Put(path, ProductDocument(path, licensing, rest)));
    return path;
  }
};

TEST_F(ClientSaveTest, SaveWritesTheSameTextToBothTargets) {
  const std::string path = LoadProduct();
  ASSERT_OK(Set(kProductCode, "DefaultDriverPayload", kDriverCode));
  ASSERT_OK(Set("Weft", "InstallDate", "2012-02-02"));
  ASSERT_OK(Set("Weft", "installedLanguages", "en_US,fr_FR"));
  EXPECT_FALSE(IsFileOnDisk(SharedCopy())) << "nothing reaches the disk before the save";

  ASSERT_OK(session_->Save());
  const std::string expected =
      std::string("<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n<Configuration>\r\n") +
      "\t<Other orvikCode=\"Weft\">\r\n"
      "\t\t<Data key=\"InstallDate\">2012-02-02</Data>\r\n"
      "\t\t<Data key=\"installedLanguages\">en_US,fr_FR</Data>\r\n"
      "\t</Other>\r\n"
      "\t<Payload orvikCode=\"" + kProductCode + "\">\r\n"
      "\t\t<Data key=\"DefaultDriverPayload\">" + kDriverCode + "</Data>\r\n"
      "\t\t<Data key=\"LicensingCode\">TS46</Data>\r\n"
      "\t\t<Data key=\"RMTConfigPath\">" + path + "</Data>\r\n"
      "\t\t<Data key=\"Version\">4.6.1</Data>\r\n"
      "\t</Payload>\r\n"
      "</Configuration>";
  EXPECT_EQ(ReadWholeFile(path), expected);
  EXPECT_EQ(ReadWholeFile(SharedCopy()), expected);
  EXPECT_EQ(FolderNames(PcfFolder()), std::vector<std::string>{std::string(kProductCode) + ".TS46.xml"})
      << "the save creates the PCF folder and leaves no temporary file";
}

TEST_F(ClientSaveTest, CloseWithoutSaveLeavesEveryFileAsItWas) {
  const std::string path = Scratch("application.xml");
  const std::string original = ProductDocument(path, "TS46", "<!-- kept as written -->\r\n");
  Put(path, original);
  const std::string folder = MakePcfFolder();
  const std::string shared = Put(SharedCopy(), "old shared copy");
  Load(path);
  ASSERT_OK(Set(kProductCode, "Version", "9.9"));
  ASSERT_EQ(Set(kDriverCode, "k", "v"), Code::kNotFound);
  session_.reset();
  EXPECT_EQ(ReadWholeFile(path), original);
  EXPECT_EQ(ReadWholeFile(shared), "old shared copy");
  EXPECT_EQ(FolderNames(folder).size(), 1u);
}

TEST_F(ClientSaveTest, SaveLeavesTheSessionAsItWas) {
  const std::string path = LoadProduct();
  ASSERT_OK(session_->Save());
  const std::string written = ReadWholeFile(path);
  Put(path, "changed by someone else");
  Put(SharedCopy(), "changed too");
  ASSERT_OK(session_->Save());
  EXPECT_EQ(ReadWholeFile(path), written);
  EXPECT_EQ(ReadWholeFile(SharedCopy()), written);
}

TEST_F(ClientSaveTest, MissingConfigPathFailsTheWriteAfterWritingTheSharedCopy) {
  Load(Put(Scratch("application.xml"), ProductDocument("")));
  EXPECT_EQ(session_->Save(), Code::kWriteFailed);
  EXPECT_EQ(ReadWholeFile(SharedCopy()),
            FormatDocument(kProductCode, {{kProductCode, {{names::kLicensingCodeKey, "TS46"}, {"Version", "4.6.1"}}}}));
}

TEST_F(ClientSaveTest, DocumentWithoutSharedCopyNameWritesOnlyItsOwnPath) {
  const std::string path = Scratch("weft.xml");
  Put(path, DocumentText("<Payload orvikCode=\"Weft\"><Data key=\"LicensingCode\">TS46</Data>"
                         "<Data key=\"RMTConfigPath\">" + path + "</Data></Payload>"));
  Load(path);
  ASSERT_OK(Set("Weft", "k", "v"));
  EXPECT_OK(session_->Save()) << "the last write decides";
  EXPECT_NE(ReadWholeFile(path).find("<Data key=\"k\">v</Data>"), std::string::npos);
  EXPECT_TRUE(FolderNames(PcfFolder()).empty());
}

TEST_F(ClientSaveTest, LicensingCodeDecidesTheSharedCopy) {
  const std::string path = Scratch("application.xml");
  Put(path, ProductDocument(path, ""));
  Load(path);
  EXPECT_OK(session_->Save());
  EXPECT_TRUE(FolderNames(PcfFolder()).empty()) << "no LicensingCode, no shared copy";

  const std::string longest(63, 'L');
  ASSERT_OK(Set(kProductCode, names::kLicensingCodeKey, longest));
  EXPECT_OK(session_->Save());
  EXPECT_TRUE(IsFileOnDisk(SharedCopy(kProductCode, longest)));

  ASSERT_OK(Set(kProductCode, names::kLicensingCodeKey, longest + "L"));
  ASSERT_OK(Set(kProductCode, "Version", "changed"));
  EXPECT_OK(session_->Save());
  EXPECT_EQ(FolderNames(PcfFolder()).size(), 1u) << "64 bytes count as empty";
  EXPECT_EQ(ReadWholeFile(SharedCopy(kProductCode, longest)).find("changed"), std::string::npos);
}

TEST_F(ClientSaveTest, LicensingCodeCannotLeadOutOfThePcfFolder) {
  const std::string path = Scratch("application.xml");
  Put(path, ProductDocument(path, "..\\..\\escaped"));
  Load(path);
  EXPECT_OK(session_->Save());
  EXPECT_TRUE(FolderNames(PcfFolder()).empty());
  EXPECT_EQ(FolderNames(machine_.commonData()), std::vector<std::string>{"PCF"});
}

TEST_F(ClientSaveTest, ConfigPathOfTwoHundredSixtyBytesIsSkipped) {
  const std::string path = Scratch("application.xml");
  std::string longPath = Scratch("x");
  longPath += std::string(260 - longPath.size(), 'x');
  ASSERT_EQ(longPath.size(), 260u);
  Put(path, ProductDocument(longPath));
  Load(path);
  EXPECT_OK(session_->Save()) << "the shared copy was the last write";
  EXPECT_TRUE(IsFileOnDisk(SharedCopy()));
  EXPECT_FALSE(IsFileOnDisk(longPath));

  // Without a shared copy the failed attempt at it stays the outcome.
  ASSERT_OK(Set(kProductCode, names::kLicensingCodeKey, std::string(64, 'L')));
  EXPECT_EQ(session_->Save(), Code::kWriteFailed);
}

TEST_F(ClientSaveTest, ReadOnlyConfigPathFailsTheWriteAndStaysAsItWas) {
  const std::string path = LoadProduct();
  const std::string before = ReadWholeFile(path);
  EXPECT_TRUE(SetReadOnly(path, true));
  ASSERT_OK(Set(kProductCode, "Version", "5.0"));
  EXPECT_EQ(session_->Save(), Code::kWriteFailed);
  EXPECT_EQ(ReadWholeFile(path), before);
  EXPECT_NE(ReadWholeFile(SharedCopy()).find("<Data key=\"Version\">5.0</Data>"), std::string::npos)
      << "the other copy is written all the same";
  EXPECT_TRUE(SetReadOnly(path, false));
}

TEST_F(ClientSaveTest, ReadOnlySharedCopyStaysAsItWas) {
  const std::string path = LoadProduct();
  MakePcfFolder();
  const std::string shared = Put(SharedCopy(), "read-only copy");
  EXPECT_TRUE(SetReadOnly(shared, true));
  ASSERT_OK(Set(kProductCode, "Version", "5.0"));
  EXPECT_OK(session_->Save()) << "the own path was written last";
  EXPECT_EQ(ReadWholeFile(shared), "read-only copy");
  EXPECT_NE(ReadWholeFile(path).find("5.0"), std::string::npos);
  EXPECT_TRUE(SetReadOnly(shared, false));
}

TEST_F(ClientSaveTest, StatusIsTheOutcomeOfTheLastWrite) {
  const std::string good = Scratch("good.xml");
  const std::string goodText = DocumentText(std::string("<Payload orvikCode=\"") + kDriverCode + "\">"
                                            "<Data key=\"RMTConfigPath\">" + good + "</Data></Payload>");
  const std::string bad = Put(Scratch("bad.xml"), ProductDocument(""));
  Load(bad);
  Load(Put(good, goodText));
  EXPECT_OK(session_->Save());

  NewSession();
  Load(good);
  Load(bad);
  EXPECT_EQ(session_->Save(), Code::kWriteFailed);
}

TEST_F(ClientSaveTest, EmptyPayloadSectionDeletesTheSharedCopyInstead) {
  const std::string folder = MakePcfFolder();
  const std::string shared = Put(SharedCopy(), "old copy");
  const std::string unrelated = Put(In(folder, std::string(kDriverCode) + ".KX6.xml"), "driver");
  const std::string path = Scratch("application.xml");
  const std::string original =
      DocumentText(std::string("<Payload orvikCode=\"") + kProductCode + "\">"
                   "<Data key=\"RMTConfigPath\" protected=\"0\">" + path + "</Data></Payload>" + kWeftOther);
  Load(Put(path, original));
  ASSERT_OK(Set("Weft", "InstallDate", "2013"));
  EXPECT_OK(session_->Save()) << "nothing was written";
  EXPECT_FALSE(IsFileOnDisk(shared));
  EXPECT_EQ(ReadWholeFile(unrelated), "driver");
  EXPECT_EQ(ReadWholeFile(path), original);
}

TEST_F(ClientSaveTest, EmptyPayloadSectionWithoutSharedCopyNameDeletesNothing) {
  const std::string folder = MakePcfFolder();
  const std::string other = Put(In(folder, "Weft-settings.xml"), "someone else's");
  Load(Put(Scratch("weft.xml"), DocumentText("<Payload orvikCode=\"Weft\"/>")));
  EXPECT_OK(session_->Save());
  EXPECT_EQ(ReadWholeFile(other), "someone else's");
}

TEST_F(ClientSaveTest, EveryDocumentIsSavedUnderItsOwnPayloadCode) {
  // The driver's document has an Other section with the product's code. It
  // must neither be written as the product's document nor over its files.
  const std::string product = Scratch("a-product.xml");
  const std::string driver = Scratch("b-driver.xml");
  Load(Put(product, ProductDocument(product)));
  Load(Put(driver, DocumentText(std::string("<Payload orvikCode=\"") + kDriverCode + "\">"
                                "<Data key=\"LicensingCode\">KX6</Data>"
                                "<Data key=\"RMTConfigPath\">" + driver + "</Data></Payload>"
                                "<Other orvikCode=\"" + kProductCode + "\"><Data key=\"Seen\">yes</Data></Other>")));
  ASSERT_OK(Set(kDriverCode, "DriverOnly", "d"));
  ASSERT_OK(session_->Save());

  const SectionMap productModel = {
      {kProductCode, {{names::kLicensingCodeKey, "TS46"}, {names::kConfigPathKey, product}, {"Version", "4.6.1"}}}};
  const SectionMap driverModel = {
      {kDriverCode, {{"DriverOnly", "d"}, {names::kLicensingCodeKey, "KX6"}, {names::kConfigPathKey, driver}}},
      {kProductCode, {{"Seen", "yes"}}}};
  EXPECT_EQ(ReadWholeFile(product), FormatDocument(kProductCode, productModel));
  EXPECT_EQ(ReadWholeFile(SharedCopy()), FormatDocument(kProductCode, productModel));
  EXPECT_EQ(ReadWholeFile(driver), FormatDocument(kDriverCode, driverModel));
  EXPECT_EQ(ReadWholeFile(SharedCopy(kDriverCode, "KX6")), FormatDocument(kDriverCode, driverModel));
}

TEST_F(ClientSaveTest, DocumentLoadedFromThePcfFolderIsSavedToo) {
  LoadProduct();
  const std::string folder = MakePcfFolder();
  const std::string driverPath = Scratch("driver.xml");
  const std::string inFolder = Put(In(folder, std::string(kDriverCode) + ".KX6.xml"),
                                   DocumentText(std::string("<Payload orvikCode=\"") + kDriverCode + "\">"
                                                "<Data key=\"LicensingCode\">KX6</Data>"
                                                "<Data key=\"RMTConfigPath\">" + driverPath + "</Data></Payload>"));
  ASSERT_OK(Set(kDriverCode, "installedLanguages", "en_US"));
  ASSERT_OK(session_->Save());
  EXPECT_NE(ReadWholeFile(inFolder).find("<Data key=\"installedLanguages\">en_US</Data>"), std::string::npos);
  EXPECT_EQ(ReadWholeFile(driverPath), ReadWholeFile(inFolder));
}

TEST_F(ClientSaveTest, TargetHeldOpenByAnotherProcessIsStillWritten) {
  const std::string path = LoadProduct();
  FileHolder holder(path, machine_.scratch());
  ASSERT_TRUE(holder.WaitUntilHeld());
  ASSERT_OK(Set(kProductCode, "Version", "5.0"));
  EXPECT_OK(session_->Save());
  EXPECT_EQ(holder.Release(), 0);
  EXPECT_NE(ReadWholeFile(path).find("<Data key=\"Version\">5.0</Data>"), std::string::npos);
  EXPECT_EQ(ReadWholeFile(path), ReadWholeFile(SharedCopy()));
}

TEST_F(ClientSaveTest, SaveListsEveryDocumentItDidNotWriteEverywhere) {
  // Each case: a product document at scratch\doc-<name>.xml, with
  // "LicensingCode" <name> so that each has a shared copy of its own (none
  // for ""), in a session of its own, changed as the case says; then what the
  // save gives and lists.
  enum Change { kNothing, kReadOnly, kSharedReadOnly, kPathIsAFolder, kNoPath, kLongPath, kSurrogate };
  enum Target { kNoTarget, kOwnPath, kSharedCopy };
  const struct {
    const char* name;
    Change change;
    Status status;
    bool listed;
    SaveProblem problem;
    Target target;
  } kCases[] = {
      {"written", kNothing, Status(), false, {}, kNoTarget},
      {"", kNothing, Status(), false, {}, kNoTarget},
      {"readonly", kReadOnly, Code::kWriteFailed, true, SaveProblem::kReadOnly, kOwnPath},
      {"sharedreadonly", kSharedReadOnly, Status(), true, SaveProblem::kReadOnly, kSharedCopy},
      {"folder", kPathIsAFolder, Code::kWriteFailed, true, SaveProblem::kNotWritable, kOwnPath},
      {"nopath", kNoPath, Code::kWriteFailed, true, SaveProblem::kNoConfigPath, kNoTarget},
      {"longpath", kLongPath, Status(), true, SaveProblem::kConfigPathTooLong, kNoTarget},
      {"surrogate", kSurrogate, Code::kWriteFailed, true, SaveProblem::kWouldNotReadBack, kNoTarget},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string path = Scratch(std::string("doc-") + c.name + ".xml");
    const std::string shared = SharedCopy(kProductCode, c.name);
    std::string ownPath = path;
    std::string rest;
    if (c.change == kNoPath) ownPath.clear();
    if (c.change == kSurrogate) rest = "<Other orvikCode=\"o\"><Data key=\"k\">&#xD800;</Data></Other>";
    NewSession();
    Load(Put(path, ProductDocument(ownPath, c.name, rest)));
    switch (c.change) {
      case kReadOnly:
        EXPECT_TRUE(SetReadOnly(path, true));
        break;
      case kSharedReadOnly:
        MakePcfFolder();
        EXPECT_TRUE(SetReadOnly(Put(shared, "read-only copy"), true));
        break;
      case kPathIsAFolder:
        ownPath = path + ".d";
        ASSERT_OK(EnsureFolder(ownPath));
        ASSERT_OK(Set(kProductCode, names::kConfigPathKey, ownPath));
        break;
      case kLongPath:
        ASSERT_OK(Set(kProductCode, names::kConfigPathKey, path + std::string(300, 'x')));
        break;
      default:
        break;
    }
    const std::string before = ReadWholeFile(path);
    std::vector<UnsavedDocument> unsaved;
    EXPECT_EQ(session_->Save(&unsaved), c.status);
    ASSERT_EQ(unsaved.size(), c.listed ? 1u : 0u);
    if (c.listed) {
      EXPECT_EQ(unsaved[0].path, path);
      EXPECT_EQ(unsaved[0].problem, c.problem);
      EXPECT_EQ(unsaved[0].target, c.target == kOwnPath ? ownPath : c.target == kSharedCopy ? shared : "");
    }
    if (c.change == kReadOnly || c.change == kSurrogate) {
      EXPECT_EQ(ReadWholeFile(path), before) << "a refused document stays as it was";
    }
    if (c.change == kSharedReadOnly) {
      EXPECT_EQ(ReadWholeFile(shared), "read-only copy");
    }
    EXPECT_TRUE(SetReadOnly(path, false));
    if (IsFileOnDisk(shared)) {
      EXPECT_TRUE(SetReadOnly(shared, false));
    }
  }
}

TEST_F(ClientSaveTest, SaveListsTheUnsavedDocumentsInTheirOrder) {
  const std::string first = Scratch("first.xml");
  const std::string second = Scratch("second.xml");
  Load(Put(first, ProductDocument("", "one")));
  Load(Put(second, DocumentText(std::string("<Payload orvikCode=\"") + kDriverCode + "\">"
                                "<Data key=\"RMTConfigPath\">" + second + "</Data></Payload>")));
  EXPECT_TRUE(SetReadOnly(second, true));
  std::vector<UnsavedDocument> unsaved;
  EXPECT_EQ(session_->Save(&unsaved), Code::kWriteFailed);
  ASSERT_EQ(unsaved.size(), 2u);
  EXPECT_EQ(unsaved[0].path, first);
  EXPECT_EQ(unsaved[0].problem, SaveProblem::kNoConfigPath);
  EXPECT_EQ(unsaved[1].path, second);
  EXPECT_EQ(unsaved[1].problem, SaveProblem::kReadOnly);
  EXPECT_EQ(unsaved[1].target, second);
  EXPECT_TRUE(SetReadOnly(second, false));
}

TEST_F(ClientSaveTest, SaveOfAnEmptySessionWritesNothing) {
  EXPECT_OK(session_->Save());
  EXPECT_TRUE(FolderNames(machine_.commonData()).empty());
}

TEST(PcfFolderTest, CreatePcfFolderCreatesItOnce) {
  TestMachine machine;
  CreatePcfFolder(PcfFolder());
  const std::vector<std::string> names = FolderNames(machine.commonData());
  EXPECT_EQ(names, std::vector<std::string>{"PCF"});
  CreatePcfFolder(PcfFolder());
  EXPECT_EQ(FolderNames(machine.commonData()), names);
}

TEST(PcfFolderTest, SharedCopyPathNeedsABracedCodeAndAPlainLicensingCode) {
  TestMachine machine;
  const std::string folder = PcfFolder();
  EXPECT_EQ(SharedCopyPath(folder, kProductCode, "TS46"),
            In(In(machine.commonData(), "PCF"), std::string(kProductCode) + ".TS46.xml"));
  EXPECT_NE(SharedCopyPath(folder, kProductCode, std::string(63, 'L')), "");
  const std::string code = kProductCode;
  std::string unsafeCode = code;
  unsafeCode[5] = '\\';
  const struct {
    std::string payloadCode;
    std::string licensingCode;
  } kRefused[] = {
      {code.substr(0, 37), "TS46"}, {code + "}", "TS46"}, {"(" + code.substr(1), "TS46"}, {unsafeCode, "TS46"},
      {"", "TS46"},                 {code, ""},           {code, std::string(64, 'L')},
      {code, "a\\b"}, {code, "a/b"}, {code, "C:x"}, {code, "a*"}, {code, "a?"}, {code, "a|b"}, {code, "a\"b"},
      {code, "a<b"}, {code, "a>b"}, {code, "a\tb"},
  };
  for (const auto& c : kRefused) {
    EXPECT_EQ(SharedCopyPath(folder, c.payloadCode, c.licensingCode), "") << c.payloadCode << " " << c.licensingCode;
  }
}

TEST(PcfFolderTest, FindNameContainingGivesTheFirstNameHoldingThePart) {
  TestMachine machine;
  EXPECT_EQ(FindNameContaining(PcfFolder(), kProductCode), "") << "no PCF folder";
  const std::string folder = MakePcfFolder();
  EXPECT_EQ(FindNameContaining(folder, kProductCode), "");
  ASSERT_TRUE(WriteWholeFile(In(folder, "other.xml"), "x"));
  const std::string name = std::string("copy-") + kProductCode + ".TS46.xml";
  ASSERT_TRUE(WriteWholeFile(In(folder, name), "x"));
  EXPECT_EQ(FindNameContaining(folder, kProductCode), name);
  EXPECT_EQ(FindNameContaining(folder, ""), "");
}

}  // namespace

}  // namespace customhooks::pcf
