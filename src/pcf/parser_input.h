// Preparing document bytes for TinyXML (internal to the document reader).
//
// TinyXML parses each element level with one more level of recursion and
// frees the tree the same way, so a deeply nested file exhausts the calling
// thread's stack. The reader therefore checks the bytes first and hands the
// parser exactly the bytes it checked.
#ifndef CUSTOMHOOKS_PCF_PARSER_INPUT_H_
#define CUSTOMHOOKS_PCF_PARSER_INPUT_H_

#include <optional>
#include <string>
#include <string_view>

namespace customhooks::pcf {

// `bytes` as TinyXML's file loader makes them before parsing: cut at the
// first NUL byte, with CR LF and lone CR turned into LF.
std::string NormalizeForParser(std::string bytes);

// True when `s` is well-formed UTF-8 as Unicode defines it (table 3-7): no
// overlong form, no surrogate, nothing beyond U+10FFFF.
bool IsWellFormedUtf8(std::string_view s);

// The encodings a document may be read in. The parser is only ever handed
// UTF-8; a document in another one is converted first.
enum class DocumentEncoding {
  kUtf8,
  kLatin1,       // ISO-8859-1: every byte is the code point of its value
  kWindows1252,  // 0x80-0x9F as Windows code page 1252 maps them
  kAscii,        // US-ASCII: no byte above 0x7F
};

// The encoding of a document: the one its XML declaration names when that is
// ISO-8859-1, windows-1252 or US-ASCII (any IANA name or alias of these, in
// any letter case), else UTF-8. A document without a declaration, one that
// starts with a UTF-8 byte-order mark and one that declares any other
// encoding are UTF-8. The declaration is the first markup after leading
// white space, as the parser finds it.
DocumentEncoding DeclaredEncoding(const std::string& bytes);

// `bytes`, in `encoding`, as UTF-8. Nothing when they are not text in that
// encoding: not well-formed UTF-8 (overlong forms, surrogates and code
// points beyond U+10FFFF included), or a byte above 0x7F in US-ASCII.
//
// windows-1252 maps the 27 bytes of 0x80-0x9F that it defines to their
// characters (0x80 to U+20AC, 0x93 to U+201C, ...), and the five it leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) to U+0081, U+008D, U+008F, U+0090
// and U+009D, as Windows' own conversion of code page 1252 and web browsers
// do: a document the tool that wrote it can read is not refused here.
std::optional<std::string> ConvertToUtf8(std::string bytes, DocumentEncoding encoding);

// True when TinyXML may parse `text` (as NormalizeForParser left it) without
// nesting elements deeper than `maxNesting` levels. The scan follows the
// parser's own reading of the bytes: comments, CDATA sections, declarations,
// processing instructions, end tags and self-closing tags do not open a
// level, and a quoted attribute value hides whatever it holds. Where the
// parser's reading could depend on its encoding mode or would run past the
// end of the text (a multi-byte lead byte or a "&#" reference whose extent
// covers the character that ends the text run or attribute value, bytes
// outside printable ASCII in an XML declaration), and where the parser would
// fail on the text anyway, the answer is false: such text is refused rather
// than risked.
bool FitsParserLimits(const std::string& text, int maxNesting);

}  // namespace customhooks::pcf

#endif  // CUSTOMHOOKS_PCF_PARSER_INPUT_H_
