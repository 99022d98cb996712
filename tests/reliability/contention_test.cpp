// Processes that use the same machine at the same time: eight processes
// running whole install sessions while another one keeps writing records of
// its own, and a process that holds the write lock of a database for five
// seconds while a session runs. Sessions return 0, report what they could
// not write with their documented lines, lose nobody's committed records and
// leave every database whole.
//
// CH_CONTENTION_ROUNDS sets how many times the eight sessions run together
// (default 2).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "fs/files.h"
#include "reliability/machine_state.h"
#include "reliability/session_runner.h"
#include "samplesuite/sample_machine.h"
#include "support/child_process.h"
#include "support/disk.h"
#include "support/test_machine.h"
#include "fs/product_names.h"
#include "support/data_files.h"

namespace names = customhooks::names;

using namespace customhooks::fs;

namespace {

constexpr int kSessionProcesses = 8;
constexpr int kSessionsPerProcess = 5;
const char kWriterSubdomain[] = "{installer's own records}";

const std::string kFirst = "Orvik Tessel Studio 4.6 :";
const std::string kSecond = "Pelican X Pro :";

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class Contention : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LayOutSampleSuite(machine_.scratch() + "\\Program Files", suite_));
    properties_ = SessionProperties(suite_.driverCode);
    initial_ = roots_.Capture();
    // What one session alone leaves behind.
    ASSERT_EQ(CloseInstallSession(properties_).status, 0);
    complete_ = roots_.Capture();
    roots_.Restore(initial_);
  }

  std::string Native(const std::string& relative) const {
    return NativePath(In(machine_.commonData(), relative));
  }
  std::string Scratch(const std::string& name) const { return NativePath(In(machine_.scratch(), name)); }

  const DatabaseState& DatabaseOf(const MachineState& state, const std::string& tail) const {
    for (const auto& database : state.databases) {
      if (EndsWith(database.first, tail)) return database.second;
    }
    static const DatabaseState kMissing;
    ADD_FAILURE() << "no database " << tail;
    return kMissing;
  }

  TestMachine machine_;
  SampleSuite suite_;
  MachineRoots roots_{OutermostFolders({machine_.scratch() + "\\Program Files", machine_.commonData()})};
  Properties properties_;
  MachineState initial_;
  MachineState complete_;
};

TEST_F(Contention, EightSessionsAndAnInstallerWritingAtOnceLoseNothing) {
  const char* rounds = std::getenv("CH_CONTENTION_ROUNDS");
  const int roundCount = rounds != nullptr ? std::atoi(rounds) : 2;
  const std::vector<std::string> databases = {Native(ConfigurationDatabase()), Native(CacheDatabase())};
  int sessions = 0;
  int lockLines = 0;
  std::size_t writerRecords = 0;
  for (int round = 0; round < roundCount && !HasFailure(); ++round) {
    roots_.Restore(initial_);
    const std::string acks = Scratch("acks-" + std::to_string(round));
    const std::string stop = Scratch("stop-" + std::to_string(round));
    std::vector<std::string> writerArguments = {"write"};
    writerArguments.insert(writerArguments.end(), databases.begin(), databases.end());
    writerArguments.insert(writerArguments.end(), {"--", kWriterSubdomain, acks, stop});
    ChildProcess writer(CH_RELIABILITY_WORKER_PATH, writerArguments);
    ASSERT_TRUE(writer.WaitForFile(acks));

    std::vector<std::unique_ptr<ChildProcess>> workers;
    std::vector<std::string> outputs;
    for (int p = 0; p < kSessionProcesses; ++p) {
      outputs.push_back(Scratch("lines-" + std::to_string(round) + "-" + std::to_string(p)));
      workers.push_back(std::make_unique<ChildProcess>(
          CH_RELIABILITY_WORKER_PATH,
          std::vector<std::string>{"session", outputs.back(), suite_.driverCode, names::kFrenchMoroccoLanguage,
                                   std::to_string(kSessionsPerProcess)}));
    }
    for (int p = 0; p < kSessionProcesses; ++p) {
      EXPECT_EQ(workers[p]->Wait(), 0) << "session process " << p << " of round " << round;
    }
    ASSERT_TRUE(WriteWholeFile(stop, "stop"));
    EXPECT_EQ(writer.Wait(), 0) << "the writer could not commit a record";

    for (const std::string& output : outputs) {
      const std::vector<std::string> lines = LinesOf(ReadWholeFile(output));
      int statuses = 0;
      for (const std::string& line : lines) {
        if (line.rfind("status ", 0) == 0) {
          EXPECT_EQ(line, "status 0");
          ++statuses;
        }
        // A write that met a lock held too long is reported, never hidden.
        if (EndsWith(line, " failed") || EndsWith(line, "Failed to update the pcd") ||
            line.find("Error in updating") != std::string::npos) {
          ++lockLines;
        }
      }
      EXPECT_EQ(statuses, kSessionsPerProcess) << output;
      EXPECT_TRUE(HasLine(lines, Prefixed("Successfully Updated PCFClientFile and cache.db for Pelican Professional 10.0")))
          << output;
      sessions += statuses;
    }

    const MachineState now = roots_.Capture();
    // Every file the sessions write is as one session alone leaves it, and
    // no temporary file is left behind.
    const std::vector<std::string> files = CompareExactly(complete_, now, {".db"});
    EXPECT_TRUE(files.empty()) << "round " << round << ":\n" << Joined(files);
    // Every record of the sessions is there, and so is every record the
    // writer committed, and nothing else.
    std::map<std::string, DomainRecords> expected;
    for (const char* tail : {names::kConfigurationFile, names::kCacheFile}) {
      expected[tail] = DatabaseOf(complete_, tail).records;
    }
    std::istringstream acked(ReadWholeFile(acks));
    std::size_t index = 0;
    int i = 0;
    std::size_t committed = 0;
    while (acked >> index >> i) {
      const char* database = index == 0 ? names::kConfigurationFile : names::kCacheFile;
      expected[database][RecordKey("1", kWriterSubdomain, "k" + std::to_string(i))] = "v" + std::to_string(i);
      ++committed;
    }
    EXPECT_GT(committed, 2u);
    writerRecords += committed;
    for (const auto& database : expected) {
      const DatabaseState& state = DatabaseOf(now, database.first);
      EXPECT_EQ(state.integrity, "ok") << database.first;
      EXPECT_EQ(state.records, database.second) << database.first << " after round " << round;
    }
    for (const auto& database : now.databases) EXPECT_EQ(database.second.integrity, "ok") << database.first;
  }
  std::printf("[ figures  ] %d rounds: %d sessions in %d processes at once, %zu records of the writer, "
              "%d lines of writes that met a lock\n",
              roundCount, sessions, kSessionProcesses, writerRecords, lockLines);
}

// ---- A lock held for five seconds -------------------------------------------------

class HeldLock : public Contention {
 protected:
  // Holds the write lock of `database` for five seconds while a session
  // runs; returns the session's outcome.
  // `mode`: "immediate" holds the write lock, "shared" a reader's lock.
  SessionOutcome SessionBehindLock(const std::string& database, const char* mode = "immediate",
                                   int milliseconds = 5000) {
    const std::string marker = Scratch("locked");
    ChildProcess holder(CH_LOCK_HOLDER_PATH, {database, mode, std::to_string(milliseconds), marker});
    EXPECT_TRUE(holder.WaitForFile(marker));
    const auto started = std::chrono::steady_clock::now();
    SessionOutcome outcome = CloseInstallSession(properties_);
    seconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(holder.Wait(), 0);
    now_ = roots_.Capture();
    for (const auto& state : now_.databases) EXPECT_EQ(state.second.integrity, "ok") << state.first;
    return outcome;
  }

  // ExpectRecordAsReported for both agreement records, written by both
  // products.
  void ExpectAgreementRecordsAsReported(const SessionOutcome& outcome) const {
    for (const std::string key : {names::kEulaAcceptedKey, names::kEulaLanguageKey}) {
      ExpectRecordAsReported(outcome, names::kCacheFile,
                             {{kFirst + key + " success", kFirst + key + " failed"},
                              {kSecond + key + " success", kSecond + key + " failed"}},
                             RecordKey("1", suite_.licensingCode, key),
                             key == names::kEulaAcceptedKey ? "1" : names::kFrenchMoroccoLanguage);
    }
  }

  // Each write is reported as done or as failed, and a record is there
  // exactly when one of the writes of it (by both products, for the agreement
  // records) was reported done.
  void ExpectRecordAsReported(const SessionOutcome& outcome, const std::string& database,
                              const std::vector<std::pair<std::string, std::string>>& writes,
                              const std::string& key, const std::string& value) const {
    bool written = false;
    for (const auto& write : writes) {
      const bool succeeded = HasLine(outcome.lines, Prefixed(write.first));
      EXPECT_NE(succeeded, HasLine(outcome.lines, Prefixed(write.second)))
          << "exactly one of \"" << write.first << "\" and \"" << write.second << "\"\n" << Joined(outcome.lines);
      written = written || succeeded;
    }
    const DomainRecords& records = DatabaseOf(now_, database).records;
    const auto found = records.find(key);
    if (written) {
      EXPECT_TRUE(found != records.end() && found->second == value) << "reported written, but missing: " << key;
    } else {
      EXPECT_TRUE(found == records.end()) << "reported failed, yet the record is there: " << key;
    }
  }

  double seconds_ = 0;
  MachineState now_;
};

TEST_F(HeldLock, CacheDatabaseLockedForFiveSecondsFailsTheAgreementWritesItMeets) {
  const SessionOutcome outcome = SessionBehindLock(Native(CacheDatabase()));
  EXPECT_EQ(outcome.status, 0);
  EXPECT_LT(seconds_, 30.0);
  // The first product's first write waits out the busy timeout.
  EXPECT_TRUE(HasLine(outcome.lines, Prefixed(kFirst + "EULA_ACCEPTED failed"))) << Joined(outcome.lines);
  ExpectAgreementRecordsAsReported(outcome);
  EXPECT_TRUE(HasLine(outcome.lines, Prefixed("Successfully Updated PCFClientFile and cache.db for Pelican Professional 10.0")));
  // Everything else is done as without the lock.
  EXPECT_EQ(DatabaseOf(now_, names::kConfigurationFile).records,
            DatabaseOf(complete_, names::kConfigurationFile).records);
  const std::vector<std::string> files = CompareExactly(complete_, now_, {".db"});
  EXPECT_TRUE(files.empty()) << Joined(files);
}

// Held a little past the busy timeout: a write that waits it out may give
// up (the first, when it starts early enough), and every write after the
// lock's release stores its record.
TEST_F(HeldLock, CacheLockedJustPastTheTimeoutCostsOnlyTheWriteThatWaitedItOut) {
  const SessionOutcome outcome = SessionBehindLock(Native(CacheDatabase()), "immediate", 2500);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_LT(seconds_, 5.0);
  int failed = 0;
  for (const std::string& header : {kFirst, kSecond}) {
    for (const char* key : {names::kEulaAcceptedKey, names::kEulaLanguageKey}) {
      failed += HasLine(outcome.lines, Prefixed(header + key + " failed"));
    }
  }
  EXPECT_LE(failed, 1) << Joined(outcome.lines);
  EXPECT_TRUE(HasLine(outcome.lines, Prefixed(kSecond + "EULA_LANGUAGE success"))) << Joined(outcome.lines);
  ExpectAgreementRecordsAsReported(outcome);
  EXPECT_EQ(DatabaseOf(now_, names::kCacheFile).records, DatabaseOf(complete_, names::kCacheFile).records);
}

TEST_F(HeldLock, CacheReadForFiveSecondsFailsTheAgreementCommitItMeetsAndSaysSo) {
  // The records can be written while another process reads the file, but
  // not committed: a commit that waits out the busy timeout is a failure.
  const SessionOutcome outcome = SessionBehindLock(Native(CacheDatabase()), "shared");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_TRUE(HasLine(outcome.lines, Prefixed(kFirst + "EULA_ACCEPTED failed"))) << Joined(outcome.lines);
  ExpectAgreementRecordsAsReported(outcome);
}

TEST_F(HeldLock, ConfigurationDatabaseLockedForFiveSecondsFailsTheDriverRecordWritesItMeets) {
  const SessionOutcome outcome = SessionBehindLock(Native(ConfigurationDatabase()));
  EXPECT_EQ(outcome.status, 0);
  EXPECT_LT(seconds_, 30.0);
  ExpectRecordAsReported(outcome, names::kConfigurationFile,
                         {{"Succesfully updated driver payload entry for Pelican X Installer OrvikCode",
                           "Error in updating driver payload entry for Pelican X Installer OrvikCode"}},
                         RecordKey("1", suite_.secondProductCode, names::kDefaultDriverPayloadKey), suite_.driverCode);
  EXPECT_TRUE(HasLine(outcome.lines, Prefixed("Error in updating driver payload entry for Pelican X Installer OrvikCode")))
      << Joined(outcome.lines);
  ExpectRecordAsReported(outcome, names::kConfigurationFile,
                         {{"and updated the pcd as well with the language(s): !fr_MA,fr_FR", "Failed to update the pcd"}},
                         RecordKey("1", suite_.secondProductCode, names::kInstalledLanguagesKey), "fr_MA,fr_FR");
  // The agreement records and the document do not depend on that lock.
  EXPECT_EQ(DatabaseOf(now_, names::kCacheFile).records, DatabaseOf(complete_, names::kCacheFile).records);
  const std::vector<std::string> files = CompareExactly(complete_, now_, {".db"});
  EXPECT_TRUE(files.empty()) << Joined(files);
}

}  // namespace
