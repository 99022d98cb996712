// The exact text of a written document, and documents read back from the
// files they were written to.
#include <string>

#include <gtest/gtest.h>

#include "pcf/pcf_document.h"
#include "pcf/pcf_status.h"
#include "pcf_test_support.h"
#include "support/status_test_support.h"
#include "support/test_machine.h"

namespace customhooks::pcf {

namespace {

const char kHeader[] = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n<Configuration>\r\n";
const char kFooter[] = "</Configuration>";

TEST(DocumentWriterTest, WritesTheExactBytes) {
  const SectionMap sections = {
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
  EXPECT_EQ(FormatDocument("{P}", sections), expected);
}

TEST(DocumentWriterTest, OrdersSectionsAndKeysByBytes) {
  const SectionMap sections = {
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
  EXPECT_EQ(FormatDocument("b", sections), expected);
}

TEST(DocumentWriterTest, EscapesAmpersandLessThanAndQuotesInAttributesOnly) {
  const SectionMap sections = {{"a&b<c\"d>e", {{"k&<\">'", "v&<\">'"}}}};
  const std::string expected = std::string(kHeader) +
                               "\t<Payload orvikCode=\"a&amp;b&lt;c&quot;d>e\">\r\n"
                               "\t\t<Data key=\"k&amp;&lt;&quot;>'\">v&amp;&lt;\">'</Data>\r\n"
                               "\t</Payload>\r\n" +
                               kFooter;
  EXPECT_EQ(FormatDocument("a&b<c\"d>e", sections), expected);
}

TEST(DocumentWriterTest, NothingToWriteWithoutPayloadEntries) {
  EXPECT_EQ(FormatDocument("P", {}), "");
  EXPECT_EQ(FormatDocument("P", {{"P", {}}, {"O", {{"k", "v"}}}}), "");
  EXPECT_EQ(FormatDocument("P", {{"O", {{"k", "v"}}}}), "");
  // An Other section without entries is still written.
  EXPECT_EQ(FormatDocument("P", {{"P", {{"k", "v"}}}, {"O", {}}}),
            std::string(kHeader) +
                "\t<Other orvikCode=\"O\">\r\n\t</Other>\r\n"
                "\t<Payload orvikCode=\"P\">\r\n\t\t<Data key=\"k\">v</Data>\r\n\t</Payload>\r\n" +
                kFooter);
}

TEST(DocumentWriterTest, SectionWhoseCodeContainsThePayloadCodeIsAnOtherSection) {
  const SectionMap sections = {{"P", {{"k", "v"}}}, {"xPx", {{"a", "1"}}}, {"P2", {{"b", "2"}}}};
  const std::string text = FormatDocument("P", sections);
  EXPECT_NE(text.find("\t<Other orvikCode=\"xPx\">\r\n"), std::string::npos);
  EXPECT_NE(text.find("\t<Other orvikCode=\"P2\">\r\n"), std::string::npos);
  EXPECT_EQ(text.find("<Payload"), text.rfind("<Payload")) << "exactly one Payload element";
}

TEST(DocumentWriterTest, LongHeadsAreWrittenWhole) {
  const std::string code(300, 'c');
  const std::string key(400, 'k');
  const std::string text = FormatDocument(code, {{code, {{key, "v"}}}});
  EXPECT_NE(text.find("\t<Payload orvikCode=\"" + code + "\">\r\n"), std::string::npos);
  EXPECT_NE(text.find("\t\t<Data key=\"" + key + "\">v</Data>\r\n"), std::string::npos);
}

TEST(FormatReadsBackTest, TellsWhetherTheReaderTakesTheText) {
  const std::string longCode(kPayloadCodeSize, 'P');
  struct Case {
    const char* what;
    std::string code;
    std::string key;
    std::string value;
    bool readable;
  };
  const Case cases[] = {
      {"markup and characters beyond ASCII", "{P}", "k<&\"", "<a> & \xE2\x82\xAC \xF0\x9F\x98\x80", true},
      {"a surrogate in a value", "{P}", "k", "caf\xED\xA0\x80", false},
      {"a Latin-1 byte in a key", "{P}", "caf\xE9", "v", false},
      {"an overlong form in a code", "{P}\xC0\xBC", "k", "v", false},
      {"a NUL in a value", "{P}", "k", std::string("a\0<b>", 5), false},
      {"a payload code one byte too long", longCode, "k", "v", false},
      {"the longest payload code", longCode.substr(1), "k", "v", true},
  };
  for (const Case& c : cases) {
    const SectionMap sections = {{c.code, {{c.key, c.value}}}, {"Other", {{"k", "v"}}}};
    Document read;
    EXPECT_EQ(FormatReadsBack(c.code, sections), c.readable) << c.what;
    EXPECT_EQ(ReadDocumentText(FormatDocument(c.code, sections), &read).ok(), c.readable) << c.what;
  }
}

class RoundTripTest : public ::testing::Test {
 protected:
  // Writes `text` to a file and reads it back.
  Status ReadBack(const std::string& text, Document* document) {
    const std::string path = In(machine_.scratch(), "round.xml");
    EXPECT_TRUE(WriteWholeFile(path, text));
    return ReadDocument(path, document);
  }

  TestMachine machine_;
};

TEST_F(RoundTripTest, ReadWriteReadGivesTheSameModelAndBytes) {
  const SectionMap original = {
      {"{P}", {{"LicensingCode", "L"}, {"Markup", "a < b && c > d \"quoted\" 'single'"},
               {"Unicode", "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC"}, {"Empty", ""}}},
      {"A&B", {{"k\"q", "v"}}},
      {"{P}x", {{"contains", "the payload code"}}},
      {"Q", {}},
  };
  const std::string text = FormatDocument("{P}", original);
  Document read;
  ASSERT_OK(ReadBack(text, &read));
  EXPECT_EQ(read.payloadCode, "{P}");
  EXPECT_EQ(read.sections, original);
  EXPECT_EQ(FormatDocument(read.payloadCode, read.sections), text);
}

TEST_F(RoundTripTest, ProtectedAttributesAndCommentsAreNotWrittenBack) {
  const std::string source = DocumentText(
      "<!-- written by hand -->\r\n"
      "\t<Payload orvikCode=\"P\">\r\n"
      "\t\t<Data key=\"kept\" protected=\"1\">yes</Data>\r\n"
      "\t\t<Data key=\"dropped\" protected=\"0\">no</Data>\r\n"
      "\t</Payload>\r\n");
  Document read;
  ASSERT_OK(ReadBack(source, &read));
  EXPECT_EQ(FormatDocument(read.payloadCode, read.sections),
            std::string(kHeader) + "\t<Payload orvikCode=\"P\">\r\n\t\t<Data key=\"kept\">yes</Data>\r\n"
                                   "\t</Payload>\r\n" + kFooter);
}

}  // namespace

}  // namespace customhooks::pcf
