// The exact text of a written document, documents read back from the files
// they were written to, and the rule that adds a document to a session's
// list.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/status_test_support.h"

#include "pcf/pcf_document.h"
#include "pcf/pcf_status.h"
#include "pcf_test_support.h"
#include "support/test_machine.h"

namespace customhooks::pcf {

namespace {

const char kHeader[] = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n<Configuration>\r\n";
const char kFooter[] = "</Configuration>";

TEST(DocumentWriterTest, WritesTheExactBytes) {
  const PCFSectionMap sections = {
      {"{P}", {{"LicensingCode", "L-1"}, {"RMTConfigPath", "C:\\x\\a.xml"}}},
      {"Weft", {{"InstallDate", "2011"}}},
  };
  // "W" sorts before "{".
  const std::string expected = std::string(kHeader) +
                               "\t<Other orvikCode=\"Weft\">\r\n"
                               "\t\t<Data key=\"InstallDate\">2011</Data>\r\n"
                               "\t</Other>\r\n"
                               "\t<Payload orvikCode=\"{P}\">\r\n"
                               "\t\t<Data key=\"LicensingCode\">L-1</Data>\r\n"
                               "\t\t<Data key=\"RMTConfigPath\">C:\\x\\a.xml</Data>\r\n"
                               "\t</Payload>\r\n" +
                               kFooter;
  EXPECT_EQ(PCFFormatDocument("{P}", sections), expected);
}

TEST(DocumentWriterTest, OrdersSectionsAndKeysByBytes) {
  const PCFSectionMap sections = {
      {"b", {{"k", "v"}, {"K", "V"}, {"k2", "x"}, {"_", "u"}}},
      {"B", {{"x", "1"}}},
      {"a\xC3\xA9", {{"y", "2"}}},
      {"a", {{"z", "3"}}},
  };
  const std::string expected = std::string(kHeader) +
                               "\t<Other orvikCode=\"B\">\r\n\t\t<Data key=\"x\">1</Data>\r\n\t</Other>\r\n"
                               "\t<Other orvikCode=\"a\">\r\n\t\t<Data key=\"z\">3</Data>\r\n\t</Other>\r\n"
                               "\t<Other orvikCode=\"a\xC3\xA9\">\r\n\t\t<Data key=\"y\">2</Data>\r\n\t</Other>\r\n"
                               "\t<Payload orvikCode=\"b\">\r\n"
                               "\t\t<Data key=\"K\">V</Data>\r\n"
                               "\t\t<Data key=\"_\">u</Data>\r\n"
                               "\t\t<Data key=\"k\">v</Data>\r\n"
                               "\t\t<Data key=\"k2\">x</Data>\r\n"
                               "\t</Payload>\r\n" +
                               kFooter;
  EXPECT_EQ(PCFFormatDocument("b", sections), expected);
}

TEST(DocumentWriterTest, EscapesAmpersandLessThanAndQuotesInAttributesOnly) {
  const PCFSectionMap sections = {{"a&b<c\"d>e", {{"k&<\">'", "v&<\">'"}}}};
  const std::string expected = std::string(kHeader) +
                               "\t<Payload orvikCode=\"a&amp;b&lt;c&quot;d>e\">\r\n"
                               "\t\t<Data key=\"k&amp;&lt;&quot;>'\">v&amp;&lt;\">'</Data>\r\n"
                               "\t</Payload>\r\n" +
                               kFooter;
  EXPECT_EQ(PCFFormatDocument("a&b<c\"d>e", sections), expected);
}

TEST(DocumentWriterTest, NothingToWriteWithoutPayloadEntries) {
  EXPECT_EQ(PCFFormatDocument("P", {}), "");
  EXPECT_EQ(PCFFormatDocument("P", {{"P", {}}, {"O", {{"k", "v"}}}}), "");
  EXPECT_EQ(PCFFormatDocument("P", {{"O", {{"k", "v"}}}}), "");
  // An Other section without entries is still written.
  EXPECT_EQ(PCFFormatDocument("P", {{"P", {{"k", "v"}}}, {"O", {}}}),
            std::string(kHeader) +
                "\t<Other orvikCode=\"O\">\r\n\t</Other>\r\n"
                "\t<Payload orvikCode=\"P\">\r\n\t\t<Data key=\"k\">v</Data>\r\n\t</Payload>\r\n" +
                kFooter);
}

TEST(DocumentWriterTest, SectionWhoseCodeContainsThePayloadCodeIsAnOtherSection) {
  const PCFSectionMap sections = {{"P", {{"k", "v"}}}, {"xPx", {{"a", "1"}}}, {"P2", {{"b", "2"}}}};
  const std::string text = PCFFormatDocument("P", sections);
  EXPECT_NE(text.find("\t<Other orvikCode=\"xPx\">\r\n"), std::string::npos);
  EXPECT_NE(text.find("\t<Other orvikCode=\"P2\">\r\n"), std::string::npos);
  EXPECT_EQ(text.find("<Payload"), text.rfind("<Payload")) << "exactly one Payload element";
}

TEST(DocumentWriterTest, LongHeadsAreWrittenWhole) {
  const std::string code(300, 'c');
  const std::string key(400, 'k');
  const std::string text = PCFFormatDocument(code, {{code, {{key, "v"}}}});
  EXPECT_NE(text.find("\t<Payload orvikCode=\"" + code + "\">\r\n"), std::string::npos);
  EXPECT_NE(text.find("\t\t<Data key=\"" + key + "\">v</Data>\r\n"), std::string::npos);
}

class RoundTripTest : public ::testing::Test {
 protected:
  // Writes `text` to a file and reads it back.
  Status ReadBack(const std::string& text, PCFSectionMap* sections, std::string* code) {
    const std::string path = Child(machine_.scratch(), "round.xml");
    EXPECT_TRUE(WriteWholeFile(path, text));
    return PCFReadDocument(path.c_str(), sections, code);
  }

  TestMachine machine_;
};

TEST_F(RoundTripTest, ReadWriteReadGivesTheSameModelAndBytes) {
  const PCFSectionMap original = {
      {"{P}", {{"LicensingCode", "L"}, {"Markup", "a < b && c > d \"quoted\" 'single'"},
               {"Unicode", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC"}, {"Empty", ""}}},
      {"A&B", {{"k\"q", "v"}}},
      {"{P}x", {{"contains", "the payload code"}}},
      {"Q", {}},
  };
  const std::string text = PCFFormatDocument("{P}", original);
  PCFSectionMap read;
  std::string code;
  ASSERT_OK(ReadBack(text, &read, &code));
  EXPECT_EQ(code, "{P}");
  EXPECT_EQ(read, original);
  EXPECT_EQ(PCFFormatDocument(code, read), text);
}

TEST_F(RoundTripTest, ProtectedAttributesAndCommentsAreNotWrittenBack) {
  const std::string source = DocumentText(
      "<!-- written by hand -->\r\n"
      "\t<Payload orvikCode=\"P\">\r\n"
      "\t\t<Data key=\"kept\" protected=\"1\">yes</Data>\r\n"
      "\t\t<Data key=\"dropped\" protected=\"0\">no</Data>\r\n"
      "\t</Payload>\r\n");
  PCFSectionMap read;
  std::string code;
  ASSERT_OK(ReadBack(source, &read, &code));
  EXPECT_EQ(PCFFormatDocument(code, read),
            std::string(kHeader) + "\t<Payload orvikCode=\"P\">\r\n\t\t<Data key=\"kept\">yes</Data>\r\n"
                                   "\t</Payload>\r\n" + kFooter);
}

TEST(MergeSectionsTest, WithoutMergeEveryDocumentIsAppended) {
  std::vector<PCFSectionMap> documents;
  PCFMergeSections(documents, {{"A", {{"k", "1"}}}}, true);
  PCFMergeSections(documents, {{"A", {{"k", "2"}}}}, false);
  ASSERT_EQ(documents.size(), 2u) << "an empty list takes the document even when merging";
  EXPECT_EQ(documents[0], (PCFSectionMap{{"A", {{"k", "1"}}}}));
  EXPECT_EQ(documents[1], (PCFSectionMap{{"A", {{"k", "2"}}}}));
}

TEST(MergeSectionsTest, MergeWritesIntoTheFirstDocumentWithTheSection) {
  std::vector<PCFSectionMap> documents = {
      {{"A", {{"keep", "a"}, {"k", "old"}}}},
      {{"B", {{"k", "b"}}}, {"A", {{"k", "second"}}}},
  };
  PCFMergeSections(documents, {{"A", {{"k", "new"}, {"added", "x"}}}, {"B", {{"k", "nb"}}}, {"C", {{"c", "1"}}}},
                   true);
  ASSERT_EQ(documents.size(), 2u) << "sections no document has are dropped";
  EXPECT_EQ(documents[0], (PCFSectionMap{{"A", {{"keep", "a"}, {"k", "new"}, {"added", "x"}}}}));
  EXPECT_EQ(documents[1], (PCFSectionMap{{"B", {{"k", "nb"}}}, {"A", {{"k", "second"}}}}));
}

}  // namespace

}  // namespace customhooks::pcf
