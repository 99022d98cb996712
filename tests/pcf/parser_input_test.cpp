// The check that keeps deeply nested documents away from the recursive XML
// parser, the line-end normalisation the parser's file loader performs, and
// the encoding a document is read in.
// Every trick below makes a naive open/close tag count come out lower than
// the nesting the parser really builds.
#include <string>

#include <gtest/gtest.h>

#include "support/status_test_support.h"

#include "pcf/parser_input.h"
#include "pcf/pcf_client.h"
#include "pcf/pcf_document.h"
#include "pcf/pcf_status.h"
#include "pcf_test_support.h"
#include "support/test_machine.h"

namespace customhooks::pcf {

namespace {

std::string Repeat(const std::string& piece, int times) {
  std::string text;
  text.reserve(piece.size() * static_cast<std::size_t>(times));
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

// `levels` nested elements around `inner`.
std::string Nested(int levels, const std::string& inner = std::string()) {
  return Repeat("<a>", levels) + inner + Repeat("</a>", levels);
}

TEST(ParserLimitsTest, NestingUpToTheLimitPasses) {
  EXPECT_TRUE(FitsParserLimits(Nested(256), 256));
  EXPECT_FALSE(FitsParserLimits(Nested(257), 256));
  EXPECT_TRUE(FitsParserLimits(Nested(3), 3));
  EXPECT_FALSE(FitsParserLimits(Nested(4), 3));
}

TEST(ParserLimitsTest, SiblingsAndClosedElementsDoNotAddUp) {
  EXPECT_TRUE(FitsParserLimits("<r>" + Repeat("<a><b>x</b></a>", 5000) + "</r>", 3));
  EXPECT_TRUE(FitsParserLimits("<r>" + Repeat("<a/><b k=\"v\" />", 5000) + "</r>", 1));
}

TEST(ParserLimitsTest, MarkupThatOpensNoElementIsNotCounted) {
  const std::string noise = Repeat("<a>", 50);
  EXPECT_TRUE(FitsParserLimits(Nested(2, "<!--" + noise + "-->"), 2));
  EXPECT_TRUE(FitsParserLimits(Nested(2, "<![CDATA[" + noise + "]]>"), 2));
  EXPECT_TRUE(FitsParserLimits("<!DOCTYPE x><?pi data?>" + Nested(2), 2));
  EXPECT_TRUE(FitsParserLimits("<?xml version=\"1.0\" encoding=\"utf-8\" ?>" + Nested(2), 2));
  EXPECT_TRUE(FitsParserLimits(Nested(2, "<a k=\"<a><a>\" l='<a>'/>"), 2));
  EXPECT_TRUE(FitsParserLimits(Nested(2, "< a> <1> <=>"), 2)) << "'<' not followed by a name";
}

TEST(ParserLimitsTest, QuotedSlashOrBracketDoesNotCloseATag) {
  EXPECT_FALSE(FitsParserLimits(Repeat("<a k=\"/>\">", 10), 9));
  EXPECT_TRUE(FitsParserLimits(Repeat("<a k=\"/>\">", 10), 10));
  EXPECT_FALSE(FitsParserLimits(Repeat("<a k='/>'>", 10), 9));
  EXPECT_FALSE(FitsParserLimits("<a k='>'/ >", 9)) << "the parser rejects a '/' that does not end the tag";
}

TEST(ParserLimitsTest, EndTagsHiddenInADeclarationValueDoNotCount) {
  // The parser reads the quoted version value of a declaration as one
  // attribute, end tags and all.
  const std::string hidden = "<?xml version=\"" + Repeat("</a>", 100) + "\" ?>";
  EXPECT_FALSE(FitsParserLimits(Repeat("<a>", 100) + hidden + Repeat("<a>", 100), 150));
  EXPECT_TRUE(FitsParserLimits(Repeat("<a>", 100) + hidden + Repeat("<a>", 49), 150));
}

TEST(ParserLimitsTest, DeclarationWordsOtherThanTheThreeAttributesEndAtTheFirstBracket) {
  // The parser reads "other" up to the first '>', so the end tags after it
  // are real.
  EXPECT_TRUE(FitsParserLimits(Repeat("<a>", 3) + "<?xml other=\"></a></a></a>\"?>" + Repeat("<a>", 3), 3));
}

TEST(ParserLimitsTest, DeclarationOutsidePrintableAsciiIsRefused) {
  EXPECT_FALSE(FitsParserLimits("<?xml version=\"1.0\"\xC2\xA0?><a/>", 5));
  EXPECT_FALSE(FitsParserLimits("<?xml\xEF\xBB\xBF version=\"1.0\"?><a/>", 5));
  EXPECT_FALSE(FitsParserLimits("<?xml version=\"1.0\"\v?><a/>", 5));
}

TEST(ParserLimitsTest, LeadByteSwallowingTheEndOfATextRunIsRefused) {
  // In UTF-8 mode the parser takes a lead byte and the next bytes as one
  // character, '<' included: the end tag that follows is no end tag for it.
  EXPECT_FALSE(FitsParserLimits("<a>x\xE3</a>", 5));
  EXPECT_FALSE(FitsParserLimits("<a>x\xC3</a>", 5));
  EXPECT_FALSE(FitsParserLimits("<a>\xF0\x9F\x98</a>", 5));
  EXPECT_FALSE(FitsParserLimits("<a k=\"\xE3\">x</a>", 5)) << "a quote swallowed the same way";
  EXPECT_FALSE(FitsParserLimits("<a>\xE3", 5)) << "runs past the end of the text";
  // Complete sequences are fine.
  EXPECT_TRUE(FitsParserLimits("<a k=\"\xE2\x82\xAC\">Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80</a>", 1));
  EXPECT_TRUE(FitsParserLimits("\xEF\xBB\xBF<a/>", 1));
}

TEST(ParserLimitsTest, NumericReferenceReachingOverTheEndOfARunIsRefused) {
  // The parser looks for the ';' of "&#" wherever it is.
  EXPECT_FALSE(FitsParserLimits("<a k=\"&#x1\"x41;\">t</a>", 5));
  EXPECT_FALSE(FitsParserLimits("<a>&#<#65;</a>", 5));
  EXPECT_FALSE(FitsParserLimits("<a>&#12</a>", 5)) << "no ';' at all";
  EXPECT_FALSE(FitsParserLimits("<a>&#</a>;", 5)) << "the ';' lies beyond the end tag";
  EXPECT_TRUE(FitsParserLimits("<a k=\"&#x41;&#66;\">&#x43;&#68;&amp;</a>", 5));
}

TEST(ParserLimitsTest, TagsCutOffOrMalformedInWaysTheParserRejectsAreRefused) {
  EXPECT_FALSE(FitsParserLimits("<a k=\"open", 5));
  EXPECT_FALSE(FitsParserLimits("<a k=\"v\"", 5));
  EXPECT_FALSE(FitsParserLimits("<a/b>", 5));
}

TEST(ParserInputTest, DeclaredEncodingIsTakenFromTheLeadingDeclarationOnly) {
  const struct {
    const char* text;
    DocumentEncoding encoding;
  } kCases[] = {
      {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a/>", DocumentEncoding::kLatin1},
      {" \r\n\t<?XML encoding='Windows-1252' version='1.0'?><a/>", DocumentEncoding::kWindows1252},
      {"<?xml version=\"1.0\" encoding=us-ascii ?><a/>", DocumentEncoding::kAscii},
      {"<?xml version=\"1.0\" encoding=\"utf-8\"?><a/>", DocumentEncoding::kUtf8},
      {"<?xml version=\"1.0\" encoding=\"UTF-16\"?><a/>", DocumentEncoding::kUtf8},
      {"<?xml version=\"1.0\" encoding=\"ISO-8859-15\"?><a/>", DocumentEncoding::kUtf8},
      {"<?xml version=\"1.0\"?><a/>", DocumentEncoding::kUtf8},
      {"<a/><?xml version=\"1.0\" encoding=\"latin1\"?>", DocumentEncoding::kUtf8},
      {"<!-- x --><?xml version=\"1.0\" encoding=\"latin1\"?><a/>", DocumentEncoding::kUtf8},
      {"<?xml version=\"1.0\" xencoding=\"latin1\"?><a/>", DocumentEncoding::kUtf8},
      {"\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"latin1\"?><a/>", DocumentEncoding::kUtf8},
      {"", DocumentEncoding::kUtf8},
  };
  for (const auto& c : kCases) EXPECT_EQ(DeclaredEncoding(c.text), c.encoding) << c.text;
}

TEST(ParserInputTest, ConversionRefusesWhatIsNotTextAndKeepsAscii) {
  for (const auto encoding : {DocumentEncoding::kUtf8, DocumentEncoding::kAscii}) {
    EXPECT_EQ(ConvertToUtf8("caf\xE9", encoding), std::nullopt);
  }
  for (const auto encoding : {DocumentEncoding::kUtf8, DocumentEncoding::kLatin1, DocumentEncoding::kWindows1252,
                              DocumentEncoding::kAscii}) {
    EXPECT_EQ(ConvertToUtf8("plain <a/>", encoding), "plain <a/>");
  }
}

TEST(ParserInputTest, NormalisationCutsAtNulAndUnifiesLineEnds) {
  EXPECT_EQ(NormalizeForParser(std::string("a\r\nb\rc\n\r\rd", 11)), "a\nb\nc\n\n\nd");
  EXPECT_EQ(NormalizeForParser(std::string("<a>x</a>\0<b>", 12)), "<a>x</a>");
}

class DeepDocumentTest : public ::testing::Test {
 protected:
  // Writes `bytes` to a file and reads it into document_.
  Status Read(const std::string& bytes) {
    path_ = In(machine_.scratch(), "deep.xml");
    EXPECT_TRUE(WriteWholeFile(path_, bytes));
    return ReadDocument(path_, &document_);
  }

  TestMachine machine_;
  std::string path_;
  Document document_;
};

TEST_F(DeepDocumentTest, MillionLevelsAreRefusedAsNoConfigurationDocument) {
  EXPECT_EQ(Read(DocumentText("<Payload orvikCode=\"P\"><Data key=\"k\">" + Nested(1000000) + "</Data></Payload>")),
            Code::kNotConfigurationDocument);
  DocumentSession session(LocateTestPcfFolder);
  EXPECT_EQ(session.Load(path_), Code::kNotConfigurationDocument);
  EXPECT_EQ(session.SetValue("P", "k", "v"), Code::kNotFound) << "nothing of the document was taken";
}

TEST_F(DeepDocumentTest, DeepDocumentsInDisguiseAreRefused) {
  // 200 levels, a declaration whose value hides 200 end tags, then 200 more
  // levels: 400 for the parser, whatever a naive count says.
  const std::string hidden = Repeat("<a>", 200) + "<?xml version=\"" + Repeat("</a>", 200) + "\"?>" +
                             Repeat("<a>", 200) + Repeat("</a>", 400);
  for (const std::string& text :
       {"<Configuration><Payload orvikCode=\"P\">" + Repeat("<a>", 1000000),
        DocumentText("<Payload orvikCode=\"P\"><Data key=\"k\">" + hidden + "</Data></Payload>")}) {
    EXPECT_EQ(Read(text), Code::kNotConfigurationDocument) << text.substr(0, 60);
  }
}

TEST_F(DeepDocumentTest, DocumentAtTheLimitIsRead) {
  // Configuration and Payload are two levels; the Data element and what it
  // holds make up the rest.
  ASSERT_OK(Read(DocumentText("<Payload orvikCode=\"P\"><Data key=\"k\">v" + Nested(kMaxNesting - 3) +
                              "</Data></Payload>")));
  EXPECT_EQ(document_.sections, (SectionMap{{"P", {{"k", "v"}}}}));
  EXPECT_EQ(Read(DocumentText("<Payload orvikCode=\"P\"><Data key=\"k\">v" + Nested(kMaxNesting - 2) +
                              "</Data></Payload>")),
            Code::kNotConfigurationDocument);
}

}  // namespace

}  // namespace customhooks::pcf
