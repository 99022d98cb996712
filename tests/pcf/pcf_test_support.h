// Helpers of the configuration-document tests: document texts, files on the
// test's private machine, and a second process that holds a file open.
#ifndef CUSTOMHOOKS_TESTS_PCF_PCF_TEST_SUPPORT_H_
#define CUSTOMHOOKS_TESTS_PCF_PCF_TEST_SUPPORT_H_

#include <optional>
#include <string>

#include "support/child_process.h"
#include "support/disk.h"

// A 38-byte payload code in braces, the kind that has a shared copy.
extern const char kProductCode[];
// A second one.
extern const char kDriverCode[];

// <common data folder>\PCF as the module names it (the common data folder is
// created when missing; the PCF folder is not).
std::string PcfFolder();
// The PCF folder locator of the tests' sessions: PcfFolder().
std::optional<std::string> LocateTestPcfFolder();
// Creates the PCF folder and returns its path.
std::string MakePcfFolder();

// The XML text of a document: a declaration, a "Configuration" root and
// `body` inside it.
std::string DocumentText(const std::string& body);

// A second process (tests/pcf/file_holder) that keeps a file open for reading
// and writing until it is told to let go.
class FileHolder {
 public:
  FileHolder(const std::string& file, const std::string& scratch);
  ~FileHolder();
  FileHolder(const FileHolder&) = delete;
  FileHolder& operator=(const FileHolder&) = delete;

  // True once the holder has the file open.
  bool WaitUntilHeld();
  // Tells the holder to close the file and waits for it; its exit status.
  int Release();

 private:
  std::string ready_;
  std::string release_;
  ChildProcess child_;
};

#endif  // CUSTOMHOOKS_TESTS_PCF_PCF_TEST_SUPPORT_H_
