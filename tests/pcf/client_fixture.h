// Fixture of the client tests: a private machine and one open session.
#ifndef CUSTOMHOOKS_TESTS_PCF_CLIENT_FIXTURE_H_
#define CUSTOMHOOKS_TESTS_PCF_CLIENT_FIXTURE_H_

#include <string>

#include <gtest/gtest.h>

#include "support/status_test_support.h"

#include "pcf/pcf_client.h"
#include "pcf_test_support.h"
#include "support/test_machine.h"

namespace customhooks::pcf {

class ClientTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_OK(PCFClientCreateSession(&session_, LocateTestPcfFolder)); }
  void TearDown() override { PCFClientCloseSession(session_); }

  std::string Scratch(const std::string& name) const { return Child(machine_.scratch(), name); }

  // Writes `bytes` to `path` and gives the path back.
  static std::string Put(const std::string& path, const std::string& bytes) {
    EXPECT_TRUE(WriteWholeFile(path, bytes)) << path;
    return path;
  }

  // A product document: Payload kProductCode with "LicensingCode" (when not
  // empty) and "RMTConfigPath" (when not empty), then `rest`.
  static std::string ProductDocument(const std::string& configPath, const std::string& licensing = "TS46",
                                     const std::string& rest = std::string()) {
    std::string body = std::string("\t<Payload orvikCode=\"") + kProductCode + "\">\r\n";
    if (!licensing.empty()) body += "\t\t<Data key=\"LicensingCode\">" + licensing + "</Data>\r\n";
    if (!configPath.empty()) body += "\t\t<Data key=\"RMTConfigPath\">" + configPath + "</Data>\r\n";
    body += "\t\t<Data key=\"Version\">4.6.1</Data>\r\n\t</Payload>\r\n";
    return DocumentText(body + rest);
  }

  // The document's shared copy in the PCF folder.
  static std::string SharedCopy(const char* code = kProductCode, const std::string& licensing = "TS46") {
    return Child(PcfFolder(), std::string(code) + "." + licensing + ".xml");
  }

  // Loads `path` (merge false) and expects 0.
  void Load(const std::string& path) { ASSERT_OK(PCFClientLoadFile(session_, path.c_str(), false)); }

  Status Set(const char* key, const std::string& subDomain, const char* value) {
    return PCFClientSetValueForKeyInSubDomain(session_, key, subDomain.c_str(), value);
  }

  // The value of `key` in `subDomain`; "<the failure>" when it fails.
  std::string Get(const char* key, const std::string& subDomain) {
    char buffer[260];
    const Status status = PCFClientGetValueForKeyInSubDomain(session_, key, subDomain.c_str(), buffer, sizeof buffer);
    return status.ok() ? std::string(buffer) : "<" + status.ToString() + ">";
  }

  TestMachine machine_;
  PCFClientSession* session_ = nullptr;
};

}  // namespace customhooks::pcf

#endif  // CUSTOMHOOKS_TESTS_PCF_CLIENT_FIXTURE_H_
