// Documents an attacker or a broken tool could leave where the module reads
// them: nesting a million levels deep, megabytes of character references,
// a 100 MB file, a 10 MB attribute, and the inputs behind the XML parser's
// two published security fixes. The reader must answer each of them with a
// status, in bounded time, without exhausting the stack or looping.
#include <chrono>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>
#include <tinyxml.h>

#include "pcf/pcf_client.h"
#include "pcf/pcf_document.h"
#include "pcf/pcf_status.h"
#include "support/disk.h"
#include "support/status_test_support.h"
#include "support/test_machine.h"

namespace customhooks::pcf {

namespace {

using Clock = std::chrono::steady_clock;

// Generous bound for reading the largest documents here, under a sanitizer
// or under Wine included; a reader that went quadratic would take hours.
constexpr double kReasonableSeconds = 120.0;

const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n";

// Appends `piece` `count` times.
void AppendTimes(std::string& text, const std::string& piece, std::size_t count) {
  text.reserve(text.size() + piece.size() * count);
  for (std::size_t i = 0; i < count; ++i) text += piece;
}

// The start of a document up to an open Data element of the Payload "P".
std::string OpenValue() {
  return std::string(kDeclaration) + "<Configuration>\r\n\t<Payload orvikCode=\"P\">\r\n\t\t<Data key=\"k\">";
}

const char kCloseValue[] = "</Data>\r\n\t</Payload>\r\n</Configuration>";

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class HostileDocumentTest : public ::testing::Test {
 protected:
  // The PCF folder of this test's machine, for its sessions.
  PcfFolderLocator MachinePcfFolder() const {
    return [folder = machine_.commonData() + "\\PCF"] { return std::optional<std::string>(folder); };
  }

  // Writes `bytes` to a file of this test and reads it with the reader.
  Status Read(const std::string& bytes) {
    const std::string path = machine_.scratch() + "\\hostile.xml";
    EXPECT_TRUE(WriteWholeFile(path, bytes));
    return ReadDocument(path, &document_);
  }

  // The value of `key` in the Payload "P", or "<missing>".
  std::string Value(const std::string& key) const {
    const auto section = document_.sections.find("P");
    if (section == document_.sections.end()) return "<missing>";
    const auto entry = section->second.find(key);
    return entry == section->second.end() ? "<missing>" : entry->second;
  }

  TestMachine machine_;
  Document document_;
};

// ---- A million levels ----------------------------------------------------

TEST_F(HostileDocumentTest, MillionNestedSectionsOpenedAndClosedAreRefused) {
  std::string text = std::string(kDeclaration) + "<Configuration><Payload orvikCode=\"P\">";
  AppendTimes(text, "<Other orvikCode=\"O\">", 1000000);
  AppendTimes(text, "</Other>", 1000000);
  text += "</Payload></Configuration>";
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(Read(text), Code::kNotConfigurationDocument);
  EXPECT_LT(SecondsSince(start), kReasonableSeconds);
  EXPECT_TRUE(document_.sections.empty());
}

TEST_F(HostileDocumentTest, MillionUnclosedLevelsWithAttributesAndLineEndsAreRefused) {
  std::string text = OpenValue();
  AppendTimes(text, "<level depth='x' note=\"a>b\">\r\n", 1000000);
  EXPECT_EQ(Read(text), Code::kNotConfigurationDocument);
}

TEST_F(HostileDocumentTest, MillionLevelsAsTheRootAreRefusedThroughTheClient) {
  std::string text = "\xEF\xBB\xBF";
  AppendTimes(text, "<Configuration>", 1000000);
  AppendTimes(text, "</Configuration>", 1000000);
  const std::string path = machine_.scratch() + "\\deep-root.xml";
  ASSERT_TRUE(WriteWholeFile(path, text));
  DocumentSession session(MachinePcfFolder());
  EXPECT_EQ(session.Load(path), Code::kNotConfigurationDocument);
}

// ---- Character references ------------------------------------------------

TEST_F(HostileDocumentTest, MegabyteOfReferencesInAValueIsDecodedExactly) {
  const std::size_t count = 70000;  // 15 bytes a round: just over 1 MB
  std::string text = OpenValue();
  AppendTimes(text, "&amp;&#x41;&#66;", count);
  text += kCloseValue;
  ASSERT_GT(text.size(), 1000000u);
  const Clock::time_point start = Clock::now();
  ASSERT_OK(Read(text));
  EXPECT_LT(SecondsSince(start), kReasonableSeconds);
  std::string expected;
  AppendTimes(expected, "&AB", count);
  EXPECT_EQ(Value("k"), expected);
}

TEST_F(HostileDocumentTest, MegabyteOfReferencesInAKeyIsDecodedExactly) {
  const std::size_t count = 120000;  // 9 bytes a round
  std::string key;
  AppendTimes(key, "&lt;&#xE9;", count);
  const std::string text = std::string(kDeclaration) + "<Configuration><Payload orvikCode=\"P\"><Data key=\"" + key +
                           "\">v</Data></Payload></Configuration>";
  ASSERT_OK(Read(text));
  std::string expected;
  AppendTimes(expected, "<\xC3\xA9", count);
  EXPECT_EQ(Value(expected), "v");
}

TEST_F(HostileDocumentTest, ReferenceThatNeverEndsIsRefused) {
  std::string text = OpenValue() + "&#";
  text.append(1000000, '1');
  text += kCloseValue;
  EXPECT_EQ(Read(text), Code::kNotConfigurationDocument);
}

// ---- Sheer size ----------------------------------------------------------

TEST_F(HostileDocumentTest, HundredMegabyteDocumentIsReadWhole) {
  const std::size_t entries = 100000;
  const std::string filler(1000, 'x');
  {
    std::string text = std::string(kDeclaration) + "<Configuration>\r\n\t<Payload orvikCode=\"P\">\r\n";
    text.reserve(entries * (filler.size() + 40) + 100);
    for (std::size_t i = 0; i < entries; ++i) {
      const std::string number = std::to_string(i);
      text += "\t\t<Data key=\"k" + number + "\">" + number + filler + "</Data>\r\n";
    }
    text += "\t</Payload>\r\n</Configuration>";
    ASSERT_GE(text.size(), 100000000u);
    ASSERT_TRUE(WriteWholeFile(machine_.scratch() + "\\huge.xml", text));
  }
  const std::string path = machine_.scratch() + "\\huge.xml";
  const Clock::time_point start = Clock::now();
  ASSERT_OK(ReadDocument(path, &document_));
  const double seconds = SecondsSince(start);
  std::printf("reading a 100 MB document took %.1f s\n", seconds);
  EXPECT_LT(seconds, kReasonableSeconds);
  EXPECT_EQ(document_.sections.at("P").size(), entries);
  EXPECT_EQ(Value("k0"), "0" + filler);
  EXPECT_EQ(Value("k99999"), "99999" + filler);
}

TEST_F(HostileDocumentTest, TenMegabyteAttributeIsKeptWholeAndWrittenBackWhole) {
  std::string key(10 * 1024 * 1024, 'K');
  key[0] = 'A';
  key[key.size() - 1] = 'Z';
  const std::string text = std::string(kDeclaration) + "<Configuration><Payload orvikCode=\"P\"><Data key=\"" + key +
                           "\">v</Data></Payload></Configuration>";
  ASSERT_OK(Read(text));
  EXPECT_EQ(Value(key), "v");

  // The writer has no head limit: the key survives a save and a new read.
  const SectionMap read = document_.sections;
  ASSERT_OK(Read(FormatDocument(document_.payloadCode, read)));
  EXPECT_EQ(document_.sections, read);
}

TEST_F(HostileDocumentTest, TenMegabytePayloadCodeIsRefusedAndTenMegabyteOtherCodeIsKept) {
  const std::string code(10 * 1024 * 1024, 'C');
  EXPECT_EQ(Read("<Configuration><Payload orvikCode=\"" + code + "\"><Data key=\"k\">v</Data></Payload>"
                 "</Configuration>"),
            Code::kNotConfigurationDocument);
  ASSERT_OK(Read("<Configuration><Payload orvikCode=\"P\"><Data key=\"k\">v</Data></Payload><Other orvikCode=\"" +
                 code + "\"><Data key=\"o\">w</Data></Other></Configuration>"));
  ASSERT_EQ(document_.sections.count(code), 1u);
  EXPECT_EQ(document_.sections.at(code).at("o"), "w");
}

// ---- Text in other encodings ----------------------------------------------
//
// Whatever a document declares, character references are read as UTF-8, the
// only encoding the writer declares: what the module writes back reads again.

TEST_F(HostileDocumentTest, ReferencesBeyondAsciiAreReadAsUtf8WhateverTheDeclaration) {
  for (const std::string head : {"", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", kDeclaration}) {
    ASSERT_OK(Read(head + "<Configuration><Payload orvikCode=\"P\"><Data key=\"caf&#xE9;\">&#x20AC;</Data>"
                          "<Data key=\"k\">caf&#233;</Data></Payload></Configuration>"))
        << head;
    EXPECT_EQ(Value("caf\xC3\xA9"), "\xE2\x82\xAC") << head;
    EXPECT_EQ(Value("k"), "caf\xC3\xA9") << head;

    const SectionMap read = document_.sections;
    ASSERT_OK(Read(FormatDocument(document_.payloadCode, read))) << head;
    EXPECT_EQ(document_.sections, read) << head;
  }
}

TEST_F(HostileDocumentTest, SaveLeavesADocumentWhoseTextWouldNotReadBackAsItWas) {
  // The parser turns a reference to a surrogate into bytes that are no
  // UTF-8: written out, they would make the document unreadable.
  const std::string path = machine_.scratch() + "\\surrogate.xml";
  const std::string original = std::string(kDeclaration) +
                               "<Configuration><Payload orvikCode=\"P\"><Data key=\"RMTConfigPath\">" + path +
                               "</Data><Data key=\"name\">caf&#xD800;</Data></Payload></Configuration>";
  ASSERT_TRUE(WriteWholeFile(path, original));
  DocumentSession session(MachinePcfFolder());
  ASSERT_OK(session.Load(path));
  ASSERT_OK(session.SetValue("P", "Version", "2"));
  EXPECT_EQ(session.Save(), Code::kWriteFailed);
  EXPECT_EQ(ReadWholeFile(path), original);
  EXPECT_OK(ReadDocument(path, &document_));
}

TEST_F(HostileDocumentTest, CdataThatIsNoUtf8IsRefused) {
  // CDATA would hand its bytes over unchecked: a Latin-1 "e acute" at the
  // end of a value would swallow the end tag after it once written.
  EXPECT_EQ(Read(std::string(kDeclaration) + "<Configuration><Payload orvikCode=\"P\"><Data key=\"name\">"
                 "<![CDATA[caf\xE9]]></Data></Payload></Configuration>"),
            Code::kNotConfigurationDocument);
}

TEST_F(HostileDocumentTest, ReferenceToCharacterZeroEndsTheValue) {
  ASSERT_OK(Read(std::string(kDeclaration) + "<Configuration><Payload orvikCode=\"P\"><Data key=\"a\">ab&#0;cd</Data>"
                 "<Data key=\"b\">&#x;&amp;t</Data></Payload></Configuration>"));
  EXPECT_EQ(Value("a"), "ab");
  EXPECT_EQ(Value("b"), "");

  const SectionMap read = document_.sections;
  ASSERT_OK(Read(FormatDocument(document_.payloadCode, read)));
  EXPECT_EQ(document_.sections, read);
}

// ---- The parser's security fixes ------------------------------------------
//
// Both inputs go to the reader, which must refuse them, and straight to the
// XML parser this build links, which must return on them: a parser built
// without the fix hangs on the first and aborts on the second (its
// assertions are on in the Windows build), so these tests fail rather than
// pass by luck when the parser lacks either fix.

// A 0xEF lead byte one byte before the end of the text, inside an element
// name, in UTF-8 mode (by byte-order mark or declaration): the parser's
// position tracking never stepped over it (CVE-2021-42260).
const char* const kLeadByteBeforeTheEnd[] = {
    "\xEF\xBB\xBF<a\xEF<",
    "<?xml version=\"1.0\"?><a\xEF<",
    "\xEF\xBB\xBF<Configuration><Payload\xEF/",
};

// The end of the text right after white space in an XML declaration: the
// parser asserted instead of ending the declaration (CVE-2023-34194).
const char* const kDeclarationEndingAfterSpace[] = {
    "<?xml version=\"1.0\" ",
    "<?xml ",
    "<?xml version=\"1.0\" encoding=\"utf-8\"\t\r\n",
};

TEST_F(HostileDocumentTest, LeadByteBeforeTheEndIsRefusedByTheReader) {
  for (const char* input : kLeadByteBeforeTheEnd) {
    EXPECT_EQ(Read(input), Code::kNotConfigurationDocument) << input;
  }
}

TEST_F(HostileDocumentTest, LeadByteBeforeTheEndMakesTheParserFailNotLoop) {
  for (const char* input : kLeadByteBeforeTheEnd) {
    TiXmlDocument document;
    document.Parse(input);
    EXPECT_TRUE(document.Error()) << input;
  }
}

TEST_F(HostileDocumentTest, DeclarationEndingAfterSpaceIsRefusedByTheReader) {
  for (const char* input : kDeclarationEndingAfterSpace) {
    EXPECT_EQ(Read(input), Code::kNotConfigurationDocument) << input;
  }
  // A NUL ends the text for the parser: what follows it is never read, so a
  // well-formed document behind it does not rescue the file.
  const std::string withNul = std::string("<?xml version=\"1.0\" ") + '\0' +
                              "?><Configuration><Payload orvikCode=\"P\"/></Configuration>";
  EXPECT_EQ(Read(withNul), Code::kNotConfigurationDocument);
}

TEST_F(HostileDocumentTest, DeclarationEndingAfterSpaceLeavesTheParserWithoutARoot) {
  for (const char* input : kDeclarationEndingAfterSpace) {
    TiXmlDocument document;
    document.Parse(input);
    EXPECT_EQ(document.RootElement(), nullptr) << input;
  }
}

}  // namespace

}  // namespace customhooks::pcf
