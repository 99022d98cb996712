// Preparing document bytes for TinyXML (internal to the document reader).
//
// TinyXML parses each element level with one more level of recursion and
// frees the tree the same way, so a deeply nested file exhausts the calling
// thread's stack. The reader therefore checks the bytes first and hands the
// parser exactly the bytes it checked.
#ifndef CUSTOMHOOKS_PCF_PARSER_INPUT_H_
#define CUSTOMHOOKS_PCF_PARSER_INPUT_H_

#include <string>

// Does to `bytes` what TinyXML's file loader does before parsing: cuts them
// at the first NUL byte and turns CR LF and lone CR into LF.
void NormalizeForParser(std::string& bytes);

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

#endif  // CUSTOMHOOKS_PCF_PARSER_INPUT_H_
