// Reading configuration documents from real files: what is accepted, what is
// refused with which status, and what the model holds afterwards.
#include <string>

#include <gtest/gtest.h>

#include "pcf/pcf_document.h"
#include "pcf/pcf_status.h"
#include "pcf_test_support.h"
#include "support/status_test_support.h"
#include "support/test_machine.h"

namespace customhooks::pcf {

namespace {

class DocumentReaderTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& bytes, const char* name = "application.xml") {
    const std::string path = In(machine_.scratch(), name);
    EXPECT_TRUE(WriteWholeFile(path, bytes));
    return path;
  }

  // Reads `bytes` from a file into document_.
  Status Read(const std::string& bytes) { return ReadDocument(Write(bytes), &document_); }

  // Reads a document whose only section is a Payload "P" holding `data`.
  Status ReadPayload(const std::string& data) {
    return Read(DocumentText("<Payload orvikCode=\"P\">" + data + "</Payload>"));
  }

  TestMachine machine_;
  Document document_;
};

TEST_F(DocumentReaderTest, ReadsThePayloadAndEveryOtherSection) {
  ASSERT_OK(Read(DocumentText("\t<Payload orvikCode=\"{P}\">\r\n"
                              "\t\t<Data key=\"LicensingCode\">L-1</Data>\r\n"
                              "\t\t<Data key=\"RMTConfigPath\">C:\\x\\application.xml</Data>\r\n"
                              "\t</Payload>\r\n"
                              "\t<Other orvikCode=\"Weft\">\r\n"
                              "\t\t<Data key=\"InstallDate\">2011-03-01</Data>\r\n"
                              "\t</Other>\r\n"
                              "\t<Other orvikCode=\"Driver\"><Data key=\"a\">1</Data></Other>\r\n")));
  EXPECT_EQ(document_.payloadCode, "{P}");
  const SectionMap expected = {
      {"{P}", {{"LicensingCode", "L-1"}, {"RMTConfigPath", "C:\\x\\application.xml"}}},
      {"Weft", {{"InstallDate", "2011-03-01"}}},
      {"Driver", {{"a", "1"}}},
  };
  EXPECT_EQ(document_.sections, expected);
}

TEST_F(DocumentReaderTest, WhatIsNoFileIsNotRead) {
  document_ = {"kept", {{"kept", {}}}};
  EXPECT_EQ(ReadDocument(In(machine_.scratch(), "missing.xml"), &document_), Code::kNotFound);
  EXPECT_EQ(ReadDocument(In(machine_.scratch(), "missing\\a.xml"), &document_), Code::kNotFound);
  EXPECT_EQ(ReadDocument(machine_.scratch(), &document_), Code::kCannotOpen) << "a folder is not a document";
  EXPECT_EQ(document_.payloadCode, "kept");
  EXPECT_EQ(document_.sections, (SectionMap{{"kept", {}}}));
}

TEST_F(DocumentReaderTest, OnlyAConfigurationRootWithOnePayloadIsADocument) {
  const char* const kRefused[] = {
      "",
      "not xml at all",
      "<Configuration><Payload orvikCode=\"P\"></Configuration>",
      "<Configuration><Payload orvikCode=\"P></Payload></Configuration>",
      "<Settings><Payload orvikCode=\"P\"/></Settings>",
      "<configuration><Payload orvikCode=\"P\"/></configuration>",
      // The first element is the root.
      "<!-- c --><Other/><Configuration><Payload orvikCode=\"P\"/></Configuration>",
      "<Configuration><Other orvikCode=\"O\"/></Configuration>",
      "<Configuration><Payload orvikCode=\"P\"/><Other orvikCode=\"O\"/><Payload orvikCode=\"Q\"/></Configuration>",
      // A Payload element deeper down does not count.
      "<Configuration><Other orvikCode=\"O\"><Payload orvikCode=\"P\"/></Other></Configuration>",
  };
  for (const char* text : kRefused) EXPECT_EQ(Read(text), Code::kNotConfigurationDocument) << text;

  // The root's name only has to begin with "Configuration", and the Payload
  // need not come first.
  EXPECT_OK(Read("<ConfigurationV2><Other orvikCode=\"O\"/><Payload orvikCode=\"P\"><Data key=\"k\">v</Data>"
                 "</Payload></ConfigurationV2>"));
  EXPECT_EQ(document_.sections, (SectionMap{{"P", {{"k", "v"}}}, {"O", {}}}));
}

TEST_F(DocumentReaderTest, SectionWithoutCodeOrDataWithoutKeyFailsTheWholeRead) {
  const struct {
    const char* body;
    Code code;
    const char* why;
  } kCases[] = {
      {"<Payload orvikCode=\"P\"><Data key=\"a\">1</Data><Data>2</Data></Payload>", Code::kDataWithoutKey, ""},
      {"<Payload orvikCode=\"P\"><Data Key=\"a\">1</Data></Payload>", Code::kDataWithoutKey,
       "names are case-sensitive"},
      {"<Payload orvikCode=\"P\"><Data protected=\"0\">x</Data></Payload>", Code::kDataWithoutKey,
       "set aside all the same"},
      {"<Payload orvikCode=\"P\"/><Other orvikCode=\"O\"><Data key=\"a\">1</Data></Other>"
       "<Other orvikCode=\"Q\"><Data>no key</Data></Other>",
       Code::kDataWithoutKey, "in any section"},
      {"<Payload><Data key=\"a\">1</Data></Payload>", Code::kSectionWithoutCode, ""},
      {"<Payload><Data key=\"defaultOrvikCode\" protected=\"0\">D</Data></Payload>", Code::kSectionWithoutCode,
       "a set-aside entry does not name the section"},
      {"<Payload orvikCode=\"P\"/><Other><Data key=\"a\">no code</Data></Other>"
       "<Other orvikCode=\"O\"><Data key=\"a\">1</Data></Other>",
       Code::kSectionWithoutCode, "a document is never taken without one of its sections"},
  };
  const Document before = {"before", {{"before", {}}}};
  for (const auto& c : kCases) {
    document_ = before;
    EXPECT_EQ(Read(DocumentText(c.body)), c.code) << c.body << ": " << c.why;
    EXPECT_EQ(document_.payloadCode, before.payloadCode);
    EXPECT_EQ(document_.sections, before.sections);
  }
}

TEST_F(DocumentReaderTest, SectionCodeComesFromTheAttributesOrTheDefaultEntry) {
  ASSERT_OK(Read(DocumentText("<Payload orvikCode=\"P\" defaultOrvikCode=\"D\"/>"
                              "<Other defaultOrvikCode=\"FromAttribute\"><Data key=\"a\">1</Data></Other>"
                              "<Other><Data key=\"b\">2</Data><Data key=\"defaultOrvikCode\">FromEntry</Data>"
                              "</Other>")));
  EXPECT_EQ(document_.payloadCode, "P") << "orvikCode wins over defaultOrvikCode";
  const SectionMap expected = {
      {"P", {}},
      {"FromAttribute", {{"a", "1"}}},
      {"FromEntry", {{"b", "2"}, {"defaultOrvikCode", "FromEntry"}}},
  };
  EXPECT_EQ(document_.sections, expected);

  ASSERT_OK(Read(DocumentText("<Payload><Data key=\"defaultOrvikCode\">{D}</Data></Payload>")));
  EXPECT_EQ(document_.payloadCode, "{D}");
}

TEST_F(DocumentReaderTest, ProtectedEntriesAreRetainedOnlyWhenTheValueBeginsWithOne) {
  ASSERT_OK(ReadPayload("<Data key=\"plain\">a</Data>"
                        "<Data key=\"one\" protected=\"1\">b</Data>"
                        "<Data key=\"ten\" protected=\"10\">c</Data>"
                        "<Data key=\"zero\" protected=\"0\">d</Data>"
                        "<Data key=\"empty\" protected=\"\">e</Data>"
                        "<Data key=\"word\" protected=\"yes\">f</Data>"
                        "<Data key=\"spaced\" protected=\" 1\">g</Data>"));
  EXPECT_EQ(document_.sections, (SectionMap{{"P", {{"plain", "a"}, {"one", "b"}, {"ten", "c"}}}}));
}

TEST_F(DocumentReaderTest, FirstRetainedEntryOfAKeyWins) {
  ASSERT_OK(ReadPayload("<Data key=\"k\" protected=\"0\">hidden</Data>"
                        "<Data key=\"k\">first</Data>"
                        "<Data key=\"k\">second</Data>"));
  EXPECT_EQ(document_.sections, (SectionMap{{"P", {{"k", "first"}}}}));
}

TEST_F(DocumentReaderTest, FirstSectionWithACodeIsTakenWhole) {
  ASSERT_OK(Read(DocumentText("<Payload orvikCode=\"P\"><Data key=\"a\">payload</Data></Payload>"
                              "<Other orvikCode=\"P\"><Data key=\"a\">other</Data><Data key=\"b\">x</Data>"
                              "</Other>"
                              "<Other orvikCode=\"O\"><Data key=\"a\">first</Data></Other>"
                              "<Other orvikCode=\"O\"><Data key=\"a\">second</Data><Data key=\"c\">y</Data>"
                              "</Other>")));
  EXPECT_EQ(document_.sections, (SectionMap{{"P", {{"a", "payload"}}}, {"O", {{"a", "first"}}}}));
}

TEST_F(DocumentReaderTest, ValueIsTheTextOfTheFirstChildOnly) {
  ASSERT_OK(ReadPayload("<Data key=\"empty\"></Data>"
                        "<Data key=\"selfClosed\"/>"
                        "<Data key=\"nested\"><b>inner</b>after</Data>"
                        "<Data key=\"comment\"><!-- note -->after</Data>"
                        "<Data key=\"textFirst\">before<b>inner</b>after</Data>"
                        "<Data key=\"cdata\"><![CDATA[<raw> & text]]></Data>"
                        "<Data key=\"entities\">a &lt; b &amp;&amp; c &gt; d &quot;&apos;&#65;&#x42;</Data>"
                        "<Data key=\"spaces\">  two\r\n\t words  </Data>"
                        "<Data key=\"utf8\">Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC</Data>"));
  const EntryMap expected = {
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
  EXPECT_EQ(document_.sections["P"], expected);
}

TEST_F(DocumentReaderTest, AttributesAreDecodedAndKeptVerbatim) {
  ASSERT_OK(Read(DocumentText("<Payload orvikCode=\"a&amp;b&lt;c&quot;d\">"
                              "<Data key=\" spaced  key \">v</Data></Payload>")));
  EXPECT_EQ(document_.payloadCode, "a&b<c\"d");
  EXPECT_EQ(document_.sections, (SectionMap{{"a&b<c\"d", {{" spaced  key ", "v"}}}}));
}

TEST_F(DocumentReaderTest, OnlyChildElementsNamedExactlyOtherAndDataCount) {
  ASSERT_OK(Read(DocumentText("<Payload orvikCode=\"P\"><data key=\"x\">1</data><Data key=\"a\">1</Data>"
                              "<Item key=\"y\">2</Item>text</Payload>"
                              "<other orvikCode=\"lower\"/><OtherSection orvikCode=\"longer\"/>"
                              "<Comment orvikCode=\"c\"/><!-- <Other orvikCode=\"commented\"/> -->")));
  EXPECT_EQ(document_.sections, (SectionMap{{"P", {{"a", "1"}}}}));
}

TEST_F(DocumentReaderTest, PayloadCodeOfSixtyFourBytesOrMoreIsRefused) {
  const std::string longest(63, 'c');
  ASSERT_OK(Read(DocumentText("<Payload orvikCode=\"" + longest + "\"/>")));
  EXPECT_EQ(document_.payloadCode, longest);
  EXPECT_EQ(Read(DocumentText("<Payload orvikCode=\"" + longest + "c\"/>")), Code::kNotConfigurationDocument);
  EXPECT_EQ(Read(DocumentText("<Payload><Data key=\"defaultOrvikCode\">" + longest + "c</Data></Payload>")),
            Code::kNotConfigurationDocument);
  EXPECT_EQ(document_.payloadCode, longest);

  // Other sections have no such limit.
  const std::string longOther(300, 'o');
  ASSERT_OK(Read(DocumentText("<Payload orvikCode=\"P\"/><Other orvikCode=\"" + longOther + "\"/>")));
  EXPECT_EQ(document_.sections.count(longOther), 1u);
}

TEST_F(DocumentReaderTest, ByteOrderMarkDeclarationAndLineEndsAreAccepted) {
  ASSERT_OK(Read("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r<Configuration>\r\n"
                 "<Payload orvikCode=\"P\"><Data key=\"k\">v</Data></Payload>\n</Configuration>\r\n"));
  EXPECT_EQ(document_.sections, (SectionMap{{"P", {{"k", "v"}}}}));
}

// ---- Encodings ---------------------------------------------------------------

// A document declaring `encoding` whose key and value hold `text`, and its
// code `codeText` (a payload code has fewer than 64 bytes once in UTF-8).
std::string DeclaredDocument(const std::string& encoding, const std::string& text,
                             const std::string& codeText = std::string()) {
  return "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>\r\n<Configuration><Payload orvikCode=\"P" +
         codeText + "\"><Data key=\"k" + text + "\">v" + text + "</Data></Payload></Configuration>";
}

SectionMap DeclaredModel(const std::string& utf8, const std::string& codeUtf8 = std::string()) {
  return {{"P" + codeUtf8, {{"k" + utf8, "v" + utf8}}}};
}

TEST_F(DocumentReaderTest, LegacyEncodingsAreReadAsUtf8KeysAndCodesIncluded) {
  // "Fran\xE7ois \xA3" in Latin-1 and in windows-1252 (the two agree from 0xA0 up).
  const std::string legacy = "Fran\xE7ois \xA3\xFF";
  const std::string utf8 = "Fran\xC3\xA7ois \xC2\xA3\xC3\xBF";
  for (const char* label : {"ISO-8859-1", "iso-8859-1", "ISO_8859-1", "latin1", "Latin-1", "L1", "CP819",
                            "windows-1252", "Windows-1252", "cp1252", " iso-8859-1 "}) {
    SCOPED_TRACE(label);
    ASSERT_OK(Read(DeclaredDocument(label, legacy, legacy)));
    EXPECT_EQ(document_.sections, DeclaredModel(utf8, utf8));
    EXPECT_EQ(document_.payloadCode, "P" + utf8);
  }
  // Single quotes, other pseudo-attributes and white space around "=".
  ASSERT_OK(Read("<?xml version='1.0' standalone = 'yes' encoding = 'latin1' ?><Configuration>"
                 "<Payload orvikCode='P'><Data key='k'>\xE9</Data></Payload></Configuration>"));
  EXPECT_EQ(document_.sections, (SectionMap{{"P", {{"k", "\xC3\xA9"}}}}));
}

TEST_F(DocumentReaderTest, EveryLatin1ByteIsItsOwnCodePoint) {
  std::string bytes;
  std::string utf8;
  for (int b = 0x80; b <= 0xFF; ++b) {
    bytes += static_cast<char>(b);
    utf8 += static_cast<char>(0xC0 | (b >> 6));
    utf8 += static_cast<char>(0x80 | (b & 0x3F));
  }
  ASSERT_OK(Read(DeclaredDocument("ISO-8859-1", bytes)));
  EXPECT_EQ(document_.sections, DeclaredModel(utf8));
}

TEST_F(DocumentReaderTest, Windows1252MapsTheRangeFrom0x80To0x9FByItsTable) {
  // Every byte of 0x80-0x9F and its character; the five bytes the code page
  // leaves undefined keep their value, as Windows and browsers read them.
  const struct {
    unsigned char byte;
    const char* utf8;
  } kCases[] = {
      {0x80, "\xE2\x82\xAC"}, {0x81, "\xC2\x81"},     {0x82, "\xE2\x80\x9A"}, {0x83, "\xC6\x92"},
      {0x84, "\xE2\x80\x9E"}, {0x85, "\xE2\x80\xA6"}, {0x86, "\xE2\x80\xA0"}, {0x87, "\xE2\x80\xA1"},
      {0x88, "\xCB\x86"},     {0x89, "\xE2\x80\xB0"}, {0x8A, "\xC5\xA0"},     {0x8B, "\xE2\x80\xB9"},
      {0x8C, "\xC5\x92"},     {0x8D, "\xC2\x8D"},     {0x8E, "\xC5\xBD"},     {0x8F, "\xC2\x8F"},
      {0x90, "\xC2\x90"},     {0x91, "\xE2\x80\x98"}, {0x92, "\xE2\x80\x99"}, {0x93, "\xE2\x80\x9C"},
      {0x94, "\xE2\x80\x9D"}, {0x95, "\xE2\x80\xA2"}, {0x96, "\xE2\x80\x93"}, {0x97, "\xE2\x80\x94"},
      {0x98, "\xCB\x9C"},     {0x99, "\xE2\x84\xA2"}, {0x9A, "\xC5\xA1"},     {0x9B, "\xE2\x80\xBA"},
      {0x9C, "\xC5\x93"},     {0x9D, "\xC2\x9D"},     {0x9E, "\xC5\xBE"},     {0x9F, "\xC5\xB8"},
  };
  std::string bytes;
  std::string utf8;
  for (const auto& c : kCases) {
    bytes += static_cast<char>(c.byte);
    utf8 += c.utf8;
  }
  ASSERT_EQ(bytes.size(), 32u);
  ASSERT_OK(Read(DeclaredDocument("windows-1252", bytes)));
  EXPECT_EQ(document_.sections, DeclaredModel(utf8));
  // ISO-8859-1 reads the same bytes as the C1 controls U+0080-U+009F.
  ASSERT_OK(Read(DeclaredDocument("ISO-8859-1", "\x80\x93")));
  EXPECT_EQ(document_.sections, DeclaredModel("\xC2\x80\xC2\x93"));
}

TEST_F(DocumentReaderTest, UsAsciiAboveSevenBitsIsRefused) {
  for (const char* label : {"US-ASCII", "us-ascii", "ASCII", "ANSI_X3.4-1968"}) {
    SCOPED_TRACE(label);
    ASSERT_OK(Read(DeclaredDocument(label, "plain")));
    EXPECT_EQ(document_.sections, DeclaredModel("plain"));
    EXPECT_EQ(Read(DeclaredDocument(label, "caf\xE9")), Code::kNotConfigurationDocument);
    EXPECT_EQ(document_.sections, DeclaredModel("plain")) << "a refused document leaves the outputs alone";
  }
}

TEST_F(DocumentReaderTest, DocumentsReadAsUtf8MustBeWellFormedUtf8) {
  // No declaration, a UTF-8 one, one naming another encoding, and a
  // byte-order mark ahead of a Latin-1 declaration: all are UTF-8.
  const std::string heads[] = {"", "<?xml version=\"1.0\" encoding=\"utf-8\"?>",
                               "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>",
                               "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"};
  const char* const malformed[] = {
      "caf\xE9",              // a Latin-1 byte
      "\xC0\xAF",             // overlong "/"
      "\xE0\x80\xAF",         // overlong "/" in three bytes
      "\xED\xA0\x80",         // the surrogate U+D800
      "\xF4\x90\x80\x80",     // beyond U+10FFFF
      "\xF8\x88\x80\x80\x80", // a five-byte form
      "\x80",                 // a continuation byte alone
      "\xE2\x82",             // a character cut short
  };
  for (const std::string& head : heads) {
    SCOPED_TRACE(head);
    const std::string body = "<Configuration><Payload orvikCode=\"P\"><Data key=\"k\">";
    const std::string tail = "</Data></Payload></Configuration>";
    ASSERT_OK(Read(head + body + "\xE2\x82\xAC \xF0\x9F\x98\x80 \xEF\xBF\xBF" + tail));
    EXPECT_EQ(document_.sections.at("P").at("k"), "\xE2\x82\xAC \xF0\x9F\x98\x80 \xEF\xBF\xBF");
    for (const char* bytes : malformed) {
      EXPECT_EQ(Read(head + body + bytes + " x" + tail), Code::kNotConfigurationDocument) << bytes;
      // In markup too, where the parser would never look at it as a value.
      EXPECT_EQ(Read(head + body + "v" + tail + "<!--" + bytes + "-->"), Code::kNotConfigurationDocument) << bytes;
    }
  }
}

TEST_F(DocumentReaderTest, LegacyDocumentWrittenBackReadsTheSame) {
  ASSERT_OK(Read(DeclaredDocument("windows-1252", "\x80 \xE9 &#xE9; &amp;")));
  const SectionMap read = document_.sections;
  EXPECT_EQ(read, DeclaredModel("\xE2\x82\xAC \xC3\xA9 \xC3\xA9 &"));
  const std::string written = FormatDocument(document_.payloadCode, read);
  EXPECT_EQ(written.rfind("<?xml version=\"1.0\" encoding=\"utf-8\" ?>", 0), 0u);
  ASSERT_OK(Read(written));
  EXPECT_EQ(document_.sections, read);
}

}  // namespace

}  // namespace customhooks::pcf
