// A generated suite machine and whole SessionClose calls through the
// exported entry point.
#ifndef CUSTOMHOOKS_TESTS_INTEGRATION_SESSION_FIXTURE_H_
#define CUSTOMHOOKS_TESTS_INTEGRATION_SESSION_FIXTURE_H_

#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "fs/product_names.h"
#include "samplesuite/sample_machine.h"
#include "support/test_machine.h"
#include "support/transcripts.h"

using Lines = std::vector<std::string>;
using Properties = std::vector<std::pair<std::string, std::string>>;
// RecordKey(subdomain, key) -> value of domain 1.
using Records = std::map<std::string, std::string>;
// The key of a record in Records: "subdomain|key".
std::string RecordKey(const std::string& subdomain, const std::string& key);

// "KX6 Suites Custom hook: " + text.
std::string P(const std::string& text);

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override;

  // The session properties of the sample suite, in `language`.
  Properties SuiteProperties(const std::string& language = customhooks::names::kFrenchMoroccoLanguage) const;
  // Calls the hook procedure at SessionClose; returns the lines, stores the status.
  Lines CloseSession(const Properties& properties, int installMode = 0);
  Lines CloseSessionWithNullMap();
  // The lines and status of SessionClose in the transcript `name`, with this
  // machine's program files folder.
  EntryTranscript Transcript(const std::string& name) const;
  // Expects the session just closed to have logged `logged` and returned
  // what the transcript `name` shows.
  void ExpectTranscript(const std::string& name, const Lines& logged) const;

  // Records of domain 1 in "pcd.db" or "cache.db", read with SQLite directly.
  Records ConfigRecords() const;
  // Makes the value of a record of domain 1 in "pcd.db" NULL, adding the
  // record when there is none.
  void StoreNullConfigValue(const std::string& subdomain, const std::string& key) const;
  Records CacheRecords() const;
  std::string CommonDataPath(const std::string& relative) const;
  std::string PcfFolder() const;
  // Removes everything below the common data folder.
  void WipeCommonData() const;

  TestMachine machine_;
  SampleSuite suite_;
  int status_ = -1;
};

#endif  // CUSTOMHOOKS_TESTS_INTEGRATION_SESSION_FIXTURE_H_
