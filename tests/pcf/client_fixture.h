// Fixture of the client tests: a private machine and one document session.
#ifndef CUSTOMHOOKS_TESTS_PCF_CLIENT_FIXTURE_H_
#define CUSTOMHOOKS_TESTS_PCF_CLIENT_FIXTURE_H_

#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "fs/product_names.h"
#include "pcf/pcf_client.h"
#include "pcf/pcf_document.h"
#include "pcf_test_support.h"
#include "support/status_test_support.h"
#include "support/test_machine.h"

namespace customhooks::pcf {

// An Other section "Weft" with one entry.
inline constexpr char kWeftOther[] =
    "\t<Other orvikCode=\"Weft\">\r\n\t\t<Data key=\"InstallDate\">2011-03-01</Data>\r\n\t</Other>\r\n";

class ClientTest : public ::testing::Test {
 protected:
  std::string Scratch(const std::string& name) const { return In(machine_.scratch(), name); }

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
    auto data = [&body](const char* key, const std::string& value) {
      if (!value.empty()) body += std::string("\t\t<Data key=\"") + key + "\">" + value + "</Data>\r\n";
    };
    data(customhooks::names::kLicensingCodeKey, licensing);
    data(customhooks::names::kConfigPathKey, configPath);
    body += "\t\t<Data key=\"Version\">4.6.1</Data>\r\n\t</Payload>\r\n";
    return DocumentText(body + rest);
  }

  // The document's shared copy in the PCF folder.
  static std::string SharedCopy(const char* code = kProductCode, const std::string& licensing = "TS46") {
    return In(PcfFolder(), std::string(code) + "." + licensing + ".xml");
  }

  // Replaces the session by a new one without documents.
  void NewSession() { session_.emplace(LocateTestPcfFolder); }

  // Loads `path` and expects success.
  void Load(const std::string& path) { ASSERT_OK(session_->Load(path)); }

  Status Set(const std::string& subdomain, const std::string& key, const std::string& value) {
    return session_->SetValue(subdomain, key, value);
  }

  // Saves the session, whatever the outcome, and gives the sections of the
  // document then at `path`.
  SectionMap SaveAndRead(const std::string& path) {
    static_cast<void>(session_->Save());
    Document saved;
    EXPECT_OK(ReadDocument(path, &saved)) << path;
    return saved.sections;
  }

  TestMachine machine_;
  std::optional<DocumentSession> session_{std::in_place, LocateTestPcfFolder};
};

}  // namespace customhooks::pcf

#endif  // CUSTOMHOOKS_TESTS_PCF_CLIENT_FIXTURE_H_
