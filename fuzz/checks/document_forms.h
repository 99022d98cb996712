// What a model read from a document looks like, as far as writing it back
// unchanged depends on it.
#ifndef CUSTOMHOOKS_FUZZ_CHECKS_DOCUMENT_FORMS_H_
#define CUSTOMHOOKS_FUZZ_CHECKS_DOCUMENT_FORMS_H_

#include <string>

#include "pcf/pcf_document.h"

// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or
// code points beyond U+10FFFF).
bool IsValidUtf8(const std::string& text);

struct DocumentForms {
  // Every code, key and value is valid UTF-8: the written text reads again.
  bool utf8 = true;
  // In addition no code or key holds a CR and every value has the form the
  // parser gives element text: the written text reads back to the same model.
  bool exact = true;
};

DocumentForms ExamineDocument(const customhooks::pcf::SectionMap& sections);

#endif  // CUSTOMHOOKS_FUZZ_CHECKS_DOCUMENT_FORMS_H_
