// Reading configuration documents from real files: what is accepted, what is
// refused with which status, and what the model holds afterwards.
#include <string>

#include <gtest/gtest.h>
#include <tinyxml.h>

#include "pcf/pcf_document.h"
#include "pcf/pcf_status.h"
#include "pcf_test_support.h"
#include "support/test_machine.h"

namespace {

class DocumentReaderTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& bytes, const char* name = "application.xml") {
    const std::string path = Child(machine_.scratch(), name);
    EXPECT_TRUE(WriteWholeFile(path, bytes));
    return path;
  }

  // Reads `bytes` from a file into sections_ and code_.
  int Read(const std::string& bytes) {
    return PCFReadDocument(Write(bytes).c_str(), &sections_, &code_);
  }

  // Reads a document whose only section is a Payload "P" holding `data`.
  int ReadPayload(const std::string& data) {
    return Read(DocumentText("<Payload orvikCode=\"P\">" + data + "</Payload>"));
  }

  TestMachine machine_;
  PCFSectionMap sections_;
  std::string code_;
};

TEST_F(DocumentReaderTest, ReadsThePayloadAndEveryOtherSection) {
  ASSERT_EQ(Read(DocumentText("\t<Payload orvikCode=\"{P}\">\r\n"
                              "\t\t<Data key=\"LicensingCode\">L-1</Data>\r\n"
                              "\t\t<Data key=\"RMTConfigPath\">C:\\x\\application.xml</Data>\r\n"
                              "\t</Payload>\r\n"
                              "\t<Other orvikCode=\"Weft\">\r\n"
                              "\t\t<Data key=\"InstallDate\">2011-03-01</Data>\r\n"
                              "\t</Other>\r\n"
                              "\t<Other orvikCode=\"Driver\"><Data key=\"a\">1</Data></Other>\r\n")),
            kPCFOk);
  EXPECT_EQ(code_, "{P}");
  const PCFSectionMap expected = {
      {"{P}", {{"LicensingCode", "L-1"}, {"RMTConfigPath", "C:\\x\\application.xml"}}},
      {"Weft", {{"InstallDate", "2011-03-01"}}},
      {"Driver", {{"a", "1"}}},
  };
  EXPECT_EQ(sections_, expected);
}

TEST_F(DocumentReaderTest, FileThatCannotBeOpenedGivesSix) {
  sections_ = {{"kept", {}}};
  EXPECT_EQ(PCFReadDocument(Child(machine_.scratch(), "missing.xml").c_str(), &sections_, &code_),
            kPCFCannotOpen);
  EXPECT_EQ(PCFReadDocument(machine_.scratch().c_str(), &sections_, &code_), kPCFCannotOpen)
      << "a folder is not a document";
  EXPECT_EQ(sections_, (PCFSectionMap{{"kept", {}}}));
}

TEST_F(DocumentReaderTest, NullArgumentsGiveFour) {
  const std::string path = Write(DocumentText("<Payload orvikCode=\"P\"/>"));
  EXPECT_EQ(PCFReadDocument(nullptr, &sections_, &code_), kPCFBadArgument);
  EXPECT_EQ(PCFReadDocument(path.c_str(), nullptr, &code_), kPCFBadArgument);
  EXPECT_EQ(PCFReadDocument(path.c_str(), &sections_, nullptr), kPCFBadArgument);
}

TEST_F(DocumentReaderTest, TextThatIsNotWellFormedGivesSeven) {
  EXPECT_EQ(Read(""), kPCFNotConfigurationDocument);
  EXPECT_EQ(Read("not xml at all"), kPCFNotConfigurationDocument);
  EXPECT_EQ(Read("<Configuration><Payload orvikCode=\"P\"></Configuration>"),
            kPCFNotConfigurationDocument);
  EXPECT_EQ(Read("<Configuration><Payload orvikCode=\"P></Payload></Configuration>"),
            kPCFNotConfigurationDocument);
}

TEST_F(DocumentReaderTest, RootMustBeAConfigurationElementWithOnePayload) {
  EXPECT_EQ(Read("<Settings><Payload orvikCode=\"P\"/></Settings>"), kPCFNotConfigurationDocument);
  EXPECT_EQ(Read("<configuration><Payload orvikCode=\"P\"/></configuration>"),
            kPCFNotConfigurationDocument);
  EXPECT_EQ(Read("<!-- c --><Other/><Configuration><Payload orvikCode=\"P\"/></Configuration>"),
            kPCFNotConfigurationDocument)
      << "the first element is the root";
  EXPECT_EQ(Read(DocumentText("<Other orvikCode=\"O\"/>")), kPCFNotConfigurationDocument);
  EXPECT_EQ(Read(DocumentText("<Payload orvikCode=\"P\"/><Other orvikCode=\"O\"/>"
                              "<Payload orvikCode=\"Q\"/>")),
            kPCFNotConfigurationDocument);
  EXPECT_EQ(Read(DocumentText("<Other orvikCode=\"O\"><Payload orvikCode=\"P\"/></Other>")),
            kPCFNotConfigurationDocument)
      << "a Payload element deeper down does not count";

  // The root's name only has to begin with "Configuration".
  EXPECT_EQ(Read("<ConfigurationV2><Payload orvikCode=\"P\"><Data key=\"k\">v</Data></Payload>"
                 "</ConfigurationV2>"),
            kPCFOk);
  EXPECT_EQ(sections_, (PCFSectionMap{{"P", {{"k", "v"}}}}));
}

TEST_F(DocumentReaderTest, DataWithoutKeyGivesTenInAnySection) {
  EXPECT_EQ(ReadPayload("<Data key=\"a\">1</Data><Data>2</Data>"), kPCFDataWithoutKey);
  EXPECT_EQ(ReadPayload("<Data Key=\"a\">1</Data>"), kPCFDataWithoutKey) << "names are case-sensitive";
  EXPECT_EQ(ReadPayload("<Data protected=\"0\">set aside all the same</Data>"), kPCFDataWithoutKey);
  EXPECT_EQ(Read(DocumentText("<Payload orvikCode=\"P\"><Data key=\"a\">1</Data></Payload>"
                              "<Other orvikCode=\"O\"><Data>x</Data></Other>")),
            kPCFDataWithoutKey);
}

TEST_F(DocumentReaderTest, SectionCodeComesFromTheAttributesOrTheDefaultEntry) {
  ASSERT_EQ(Read(DocumentText("<Payload orvikCode=\"P\" defaultOrvikCode=\"D\"/>"
                              "<Other defaultOrvikCode=\"FromAttribute\"><Data key=\"a\">1</Data></Other>"
                              "<Other><Data key=\"b\">2</Data><Data key=\"defaultOrvikCode\">FromEntry</Data>"
                              "</Other>")),
            kPCFOk);
  EXPECT_EQ(code_, "P") << "orvikCode wins over defaultOrvikCode";
  const PCFSectionMap expected = {
      {"P", {}},
      {"FromAttribute", {{"a", "1"}}},
      {"FromEntry", {{"b", "2"}, {"defaultOrvikCode", "FromEntry"}}},
  };
  EXPECT_EQ(sections_, expected);

  ASSERT_EQ(Read(DocumentText("<Payload><Data key=\"defaultOrvikCode\">{D}</Data></Payload>")), kPCFOk);
  EXPECT_EQ(code_, "{D}");
}

TEST_F(DocumentReaderTest, SectionWithoutAnyCodeGivesNine) {
  EXPECT_EQ(Read(DocumentText("<Payload><Data key=\"a\">1</Data></Payload>")), kPCFSectionWithoutCode);
  EXPECT_EQ(Read(DocumentText("<Payload><Data key=\"defaultOrvikCode\" protected=\"0\">D</Data>"
                              "</Payload>")),
            kPCFSectionWithoutCode)
      << "a set-aside entry does not name the section";
  EXPECT_EQ(Read(DocumentText("<Payload orvikCode=\"P\"/><Other><Data key=\"a\">1</Data></Other>")),
            kPCFSectionWithoutCode);
}

TEST_F(DocumentReaderTest, ProtectedEntriesAreRetainedOnlyWhenTheValueBeginsWithOne) {
  ASSERT_EQ(ReadPayload("<Data key=\"plain\">a</Data>"
                        "<Data key=\"one\" protected=\"1\">b</Data>"
                        "<Data key=\"ten\" protected=\"10\">c</Data>"
                        "<Data key=\"zero\" protected=\"0\">d</Data>"
                        "<Data key=\"empty\" protected=\"\">e</Data>"
                        "<Data key=\"word\" protected=\"yes\">f</Data>"
                        "<Data key=\"spaced\" protected=\" 1\">g</Data>"),
            kPCFOk);
  EXPECT_EQ(sections_, (PCFSectionMap{{"P", {{"plain", "a"}, {"one", "b"}, {"ten", "c"}}}}));
}

TEST_F(DocumentReaderTest, FirstRetainedEntryOfAKeyWins) {
  ASSERT_EQ(ReadPayload("<Data key=\"k\" protected=\"0\">hidden</Data>"
                        "<Data key=\"k\">first</Data>"
                        "<Data key=\"k\">second</Data>"),
            kPCFOk);
  EXPECT_EQ(sections_, (PCFSectionMap{{"P", {{"k", "first"}}}}));
}

TEST_F(DocumentReaderTest, FirstSectionWithACodeIsTakenWhole) {
  ASSERT_EQ(Read(DocumentText("<Payload orvikCode=\"P\"><Data key=\"a\">payload</Data></Payload>"
                              "<Other orvikCode=\"P\"><Data key=\"a\">other</Data><Data key=\"b\">x</Data>"
                              "</Other>"
                              "<Other orvikCode=\"O\"><Data key=\"a\">first</Data></Other>"
                              "<Other orvikCode=\"O\"><Data key=\"a\">second</Data><Data key=\"c\">y</Data>"
                              "</Other>")),
            kPCFOk);
  EXPECT_EQ(sections_, (PCFSectionMap{{"P", {{"a", "payload"}}}, {"O", {{"a", "first"}}}}));
}

TEST_F(DocumentReaderTest, AnyFailingOtherSectionFailsTheWholeRead) {
  sections_ = {{"before", {}}};
  code_ = "before";
  EXPECT_EQ(Read(DocumentText("<Payload orvikCode=\"P\"><Data key=\"a\">1</Data></Payload>"
                              "<Other><Data key=\"a\">no code</Data></Other>"
                              "<Other orvikCode=\"O\"><Data key=\"a\">1</Data></Other>")),
            kPCFSectionWithoutCode)
      << "a document is never taken without one of its sections";
  EXPECT_EQ(Read(DocumentText("<Payload orvikCode=\"P\"><Data key=\"a\">1</Data></Payload>"
                              "<Other orvikCode=\"O\"><Data key=\"a\">1</Data></Other>"
                              "<Other orvikCode=\"Q\"><Data>no key</Data></Other>")),
            kPCFDataWithoutKey);
  EXPECT_EQ(sections_, (PCFSectionMap{{"before", {}}}));
  EXPECT_EQ(code_, "before");
}

TEST_F(DocumentReaderTest, ValueIsTheTextOfTheFirstChildOnly) {
  ASSERT_EQ(ReadPayload("<Data key=\"empty\"></Data>"
                        "<Data key=\"selfClosed\"/>"
                        "<Data key=\"nested\"><b>inner</b>after</Data>"
                        "<Data key=\"comment\"><!-- note -->after</Data>"
                        "<Data key=\"textFirst\">before<b>inner</b>after</Data>"
                        "<Data key=\"cdata\"><![CDATA[<raw> & text]]></Data>"
                        "<Data key=\"entities\">a &lt; b &amp;&amp; c &gt; d &quot;&apos;&#65;&#x42;</Data>"
                        "<Data key=\"spaces\">  two\r\n\t words  </Data>"
                        "<Data key=\"utf8\">Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC</Data>"),
            kPCFOk);
  const PCFEntryMap expected = {
      {"empty", ""},
      {"selfClosed", ""},
      {"nested", ""},
      {"comment", ""},
      {"textFirst", "before"},
      {"cdata", "<raw> & text"},
      {"entities", "a < b && c > d \"'AB"},
      {"spaces", "two words"},
      {"utf8", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC"},
  };
  EXPECT_EQ(sections_["P"], expected);
}

TEST_F(DocumentReaderTest, AttributesAreDecodedAndKeptVerbatim) {
  ASSERT_EQ(Read(DocumentText("<Payload orvikCode=\"a&amp;b&lt;c&quot;d\">"
                              "<Data key=\" spaced  key \">v</Data></Payload>")),
            kPCFOk);
  EXPECT_EQ(code_, "a&b<c\"d");
  EXPECT_EQ(sections_, (PCFSectionMap{{"a&b<c\"d", {{" spaced  key ", "v"}}}}));
}

TEST_F(DocumentReaderTest, OnlyChildElementsNamedExactlyOtherAndDataCount) {
  ASSERT_EQ(Read(DocumentText("<Payload orvikCode=\"P\"><data key=\"x\">1</data><Data key=\"a\">1</Data>"
                              "<Item key=\"y\">2</Item>text</Payload>"
                              "<other orvikCode=\"lower\"/><OtherSection orvikCode=\"longer\"/>"
                              "<Comment orvikCode=\"c\"/><!-- <Other orvikCode=\"commented\"/> -->")),
            kPCFOk);
  EXPECT_EQ(sections_, (PCFSectionMap{{"P", {{"a", "1"}}}}));
}

TEST_F(DocumentReaderTest, PayloadCodeOfSixtyFourBytesOrMoreIsRefused) {
  const std::string longest(63, 'c');
  ASSERT_EQ(Read(DocumentText("<Payload orvikCode=\"" + longest + "\"/>")), kPCFOk);
  EXPECT_EQ(code_, longest);
  EXPECT_EQ(Read(DocumentText("<Payload orvikCode=\"" + longest + "c\"/>")), kPCFNotConfigurationDocument);
  EXPECT_EQ(Read(DocumentText("<Payload><Data key=\"defaultOrvikCode\">" + longest + "c</Data></Payload>")),
            kPCFNotConfigurationDocument);
  EXPECT_EQ(code_, longest);

  // Other sections have no such limit.
  const std::string longOther(300, 'o');
  ASSERT_EQ(Read(DocumentText("<Payload orvikCode=\"P\"/><Other orvikCode=\"" + longOther + "\"/>")), kPCFOk);
  EXPECT_EQ(sections_.count(longOther), 1u);
}

TEST_F(DocumentReaderTest, ByteOrderMarkDeclarationAndLineEndsAreAccepted) {
  ASSERT_EQ(Read("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r<Configuration>\r\n"
                 "<Payload orvikCode=\"P\"><Data key=\"k\">v</Data></Payload>\n</Configuration>\r\n"),
            kPCFOk);
  EXPECT_EQ(sections_, (PCFSectionMap{{"P", {{"k", "v"}}}}));
}

TEST_F(DocumentReaderTest, ConfigurationDocumentCheckLooksAtTheParsedTree) {
  TiXmlDocument yes;
  yes.Parse("<?xml version=\"1.0\"?><ConfigurationX><Other/><Payload/></ConfigurationX>");
  EXPECT_TRUE(PCFIsConfigurationDocument(yes));
  TiXmlDocument twoPayloads;
  twoPayloads.Parse("<Configuration><Payload/><Payload/></Configuration>");
  EXPECT_FALSE(PCFIsConfigurationDocument(twoPayloads));
  TiXmlDocument empty;
  EXPECT_FALSE(PCFIsConfigurationDocument(empty));
}

}  // namespace
