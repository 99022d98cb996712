// The properties the fuzz targets check, as plain functions of one input.
// The libFuzzer targets call them for every generated input; the replay test
// calls them for every saved input (seed corpora and regressions), so the
// same checks run with every compiler and on every target.
//
// Each check returns the empty string when the input behaves as promised,
// else a one-line description of what broke. Crashes, hangs and sanitizer
// reports are what the checks cannot return; the fuzzer catches those.
#ifndef CUSTOMHOOKS_FUZZ_CHECKS_FUZZ_CHECKS_H_
#define CUSTOMHOOKS_FUZZ_CHECKS_FUZZ_CHECKS_H_

#include <cstddef>
#include <cstdint>
#include <string>

// The bytes, as a document file, go through ReadDocument: the status is one
// the reader may give for a file that exists, a document read successfully
// has a Payload section under a payload code of fewer than 64 bytes, and a
// refused document leaves the caller's document untouched. And the
// nesting check in front of the parser never lets text through whose parse
// nests elements deeper than the limit it was given (self-closing elements
// open no level, so they may sit one below it).
std::string CheckDocumentReader(const std::uint8_t* data, std::size_t size);

// What reads successfully is formatted by FormatDocument and read back. The
// written document must read successfully when every code, key and value is valid
// UTF-8 (the writer copies bytes; the client does not save a text that would
// not read back), and must give back the same payload code and sections when,
// in addition, no code or key holds a CR and every value has the form the
// parser gives element text: white space only as single spaces between other
// characters.
std::string CheckDocumentRoundTrip(const std::uint8_t* data, std::size_t size);

// A whole SessionClose through KXInstallerCustomHookProc on a suite machine
// laid out from the input. The input is a list of fields separated by NUL
// bytes. Field 0 holds option letters:
//   R  Reinstall instead of Install        M  a null property map
//   S  no "mediaSignature" property        N  "mediaSignature" with a null value
//   L  no "installLanguage" property       D  a second "installLanguage"
//   B  no "pdb.db"                         C  no "pcd.db"
// The other fields replace one value each of the sample suite (see
// SessionField in session_checks.cpp for the list). An empty field, or one
// the input does not reach, keeps the sample value; the single byte 0x7F
// stands for nothing: an empty text, or a configuration record or document
// that is removed. Paths are taken inside the machine's program folder, and
// "$ROOT" in a document text stands for that folder.
//
// Checked: status 0; every line non-null and NUL-terminated; the fixed first
// line, then one summary line per product in order, the second one last;
// every other line carries the module's prefix unless it is a property
// diagnostic; "pdb.db" is never changed; the product's document still reads
// with 0 afterwards when it read with 0 before, and is untouched when it
// could not be read. Inputs whose documents would be saved outside the
// machine's program folder are not run.
std::string CheckSessionClose(const std::uint8_t* data, std::size_t size);

// The machine of CheckSessionClose, laid out from the input, checked by
// kxhost check's dry run (tools/kxhost/machine_check.h) and then closed for
// real: the changes the check predicts are those the close makes (the same
// records and values, the same files changed, created or removed, the same
// folders and databases created), and the close logs the lines its dry run
// logged. Inputs with a planted journal (the check
// reads no further than the rollback a close makes first) or a property
// without a value (the check takes them as a command line gives them) are
// not run.
std::string CheckDryRunPredictsClose(const std::uint8_t* data, std::size_t size);

#endif  // CUSTOMHOOKS_FUZZ_CHECKS_FUZZ_CHECKS_H_
