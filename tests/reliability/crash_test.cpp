// Processes killed at random moments while they save documents and commit
// databases. A forked child works in a loop and reports each finished step
// through a pipe; the parent kills it (SIGKILL) after a random delay and then
// checks what is on disk: every document holds exactly one complete version,
// the last finished one or the one in progress; every database passes its
// integrity check and holds the records of the last finished commit or of
// the one in progress, never a mix and never less.
//
// POSIX only: it needs fork() and SIGKILL to cut a process off at an
// arbitrary instruction, which the Windows build under Wine cannot do in the
// same way. The module's code under test is the same on both targets.
//
// CH_CRASH_ITERATIONS sets the number of kills of all parts (default 200).
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "fs/files.h"
#include "integration/product_folders.h"
#include "integration/storage_handles.h"
#include "pcf/pcf_client.h"
#include "reliability/machine_state.h"
#include "reliability/session_runner.h"
#include "samplesuite/sample_machine.h"
#include "storage/pcd_store.h"
#include "support/disk.h"
#include "support/status_test_support.h"
#include "support/test_machine.h"
#include "fs/product_names.h"
#include "support/data_files.h"

namespace names = customhooks::names;

using namespace customhooks::fs;

namespace {

namespace pcf = customhooks::pcf;

constexpr int kBatchRecords = 10;
const char kBatchSubdomain[] = "crash-batch";
const char kDatePlaceholder[] = "@@@@@@";
// The driver's install date as the sample suite lays it out.
const char kInitialInstallDate[] = "2026-12-07 09:30:00";

// The driver's install date of step k: fixed width, so that every version of
// a document has the length of the template.
std::string DateOf(unsigned long k) {
  char text[16];
  std::snprintf(text, sizeof text, "%06lu", k);
  return std::string("date-") + text;
}

// The language of session k: only "fr_MA" replaces the settings files.
std::string LanguageOf(unsigned long k) { return k % 2 == 1 ? names::kFrenchMoroccoLanguage : "fr_CA"; }

std::string WithDate(std::string text, unsigned long k) {
  const std::size_t at = text.find(std::string("date-") + kDatePlaceholder);
  if (at != std::string::npos) text.replace(at, 5 + sizeof kDatePlaceholder - 1, DateOf(k));
  return text;
}

// Which version (k) of a document `bytes` is: 0 for `initial`, k when it is
// `templ` with DateOf(k) in place of the placeholder, -1 for anything else.
long VersionOf(const std::string& bytes, const std::string& initial, const std::string& templ) {
  if (bytes == initial) return 0;
  const std::size_t at = templ.find(kDatePlaceholder);
  if (at == std::string::npos || bytes.size() != templ.size()) return -1;
  const unsigned long k = std::strtoul(bytes.substr(at, sizeof kDatePlaceholder - 1).c_str(), nullptr, 10);
  return bytes == WithDate(templ, k) ? static_cast<long>(k) : -1;
}

// What the child does in its loop.
enum class Work {
  kSessions,      // commit the driver's install date, then a whole install session
  kSavesCommits,  // a batch of records in one commit, then a document save
  kCopies,        // copy one of two large files over a third, as the locale
                  // fix-up and the backup of caps.db do
};

void Report(int fd, char step, unsigned long k) {
  const std::string line = std::string(1, step) + " " + std::to_string(k) + "\n";
  if (::write(fd, line.data(), line.size()) < 0) ::_exit(3);
}

// The two sources and the target of the copy loop.
struct CopyFiles {
  std::string sources[2];
  std::string target;
};

[[noreturn]] void ChildLoop(Work work, int fd, const std::string& driver, const std::string& product,
                            const std::string& document, const CopyFiles& copies, pid_t parent) {
  for (unsigned long k = 1;; ++k) {
    // Never outlive a test that stopped waiting.
    if (::getppid() != parent) ::_exit(0);
    if (work == Work::kCopies) {
      const std::string& source = copies.sources[k % 2];
      const CopiedAttributes attributes = k % 4 < 2 ? CopiedAttributes::kFromSource : CopiedAttributes::kNormal;
      if (!CopyFileOver(source, copies.target, attributes).ok()) {
        ::_exit(9);
      }
      Report(fd, 'K', k);
      continue;
    }
    if (work == Work::kSessions) {
      if (!SetConfigRecord(driver, names::kInstallDateKey, DateOf(k))) ::_exit(4);
      Report(fd, 'D', k);
      CloseInstallSession(SessionProperties(driver, LanguageOf(k)));
      Report(fd, 'S', k);
      continue;
    }
    customhooks::integration::SessionDatabases databases;
    customhooks::integration::StoreConnection cache;
    if (!customhooks::integration::OpenCacheDatabase(databases, &cache)) ::_exit(5);
    customhooks::storage::Transaction batch = cache->Begin();
    for (int r = 0; r < kBatchRecords; ++r) {
      if (!cache->Set(1, kBatchSubdomain, "r" + std::to_string(r), DateOf(k)).ok()) ::_exit(10);
    }
    const bool committed = batch.Commit().ok();
    const bool closed = cache->Close().ok();
    if (!committed || !closed) ::_exit(6);
    Report(fd, 'C', k);

    // The same four values as the driver records of a session.
    // A failed load or set shows in the document the save writes, which the
    // parent checks.
    pcf::DocumentSession session(customhooks::integration::LocatePcfFolder);
    (void)session.Load(document);
    (void)session.SetValue(product, names::kConfigPathKey, document);
    (void)session.SetValue(product, names::kDefaultDriverPayloadKey, driver);
    (void)session.SetValue(product, names::kInstallDateKey, DateOf(k));
    (void)session.SetValue(product, names::kInstalledLanguagesKey, "fr_MA,fr_FR");
    if (!session.Save().ok()) ::_exit(8);
    Report(fd, 'W', k);
  }
}

// The last k the child reported for each kind of step.
std::map<char, unsigned long> ReadReports(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t got;
  while ((got = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(got));
  std::map<char, unsigned long> last;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    last[text[start]] = std::strtoul(text.c_str() + start + 2, nullptr, 10);
  }
  return last;
}

// The kills fall into parts, each a test of its own that takes every
// kParts-th kill with random delays of its own, so that the parts run side
// by side (the suite's CTest shards).
constexpr unsigned long kParts = 4;

class CrashTest : public ::testing::TestWithParam<unsigned long> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LayOutSampleSuite(machine_.scratch() + "\\Program Files", suite_));
    // Large enough that a copy takes a while, so that kills land inside it.
    copies_.sources[0] = machine_.scratch() + "\\copy-a";
    copies_.sources[1] = machine_.scratch() + "\\copy-b";
    copies_.target = machine_.scratch() + "\\Program Files\\copy-target";
    copyContent_[0] = std::string(8 << 20, 'a');
    copyContent_[1] = std::string(6 << 20, 'b');
    ASSERT_TRUE(WriteWholeFile(copies_.sources[0], copyContent_[0]));
    ASSERT_TRUE(WriteWholeFile(copies_.sources[1], copyContent_[1]));
    ASSERT_TRUE(WriteWholeFile(copies_.target, "the target before any copy"));
    const auto copyStarted = std::chrono::steady_clock::now();
    ASSERT_OK(CopyFileOver(copies_.sources[0], machine_.scratch() + "\\copy-probe"));
    copyTime_ = std::chrono::steady_clock::now() - copyStarted;
    initial_ = roots_.Capture();
    initialDocument_ = ReadWholeFile(suite_.secondProductDocument);
    for (const char* name : names::kSettingsFiles) {
      initialIni_[name] = ReadWholeFile(suite_.firstProductFolder + name);
    }
    caps_ = ReadWholeFile(machine_.commonData() + "\\" + InstallerDatabase());

    // What a complete session writes, with a placeholder for the date.
    ASSERT_TRUE(SetConfigRecord(suite_.driverCode, names::kInstallDateKey, std::string("date-") + kDatePlaceholder));
    const auto started = std::chrono::steady_clock::now();
    const SessionOutcome outcome =
        CloseInstallSession(SessionProperties(suite_.driverCode));
    sessionTime_ = std::chrono::steady_clock::now() - started;
    ASSERT_EQ(outcome.status, 0);
    documentTemplate_ = ReadWholeFile(suite_.secondProductDocument);
    ASSERT_NE(documentTemplate_.find(kDatePlaceholder), std::string::npos);
    sharedCopy_ = PcfFolder() + "\\" + suite_.secondProductCode + ".PXP-10-4471-2093.xml";
    ASSERT_EQ(ReadWholeFile(sharedCopy_), documentTemplate_);
    for (const char* name : names::kSettingsFiles) {
      frenchIni_[name] = ReadWholeFile(suite_.firstProductFolder + name);
      ASSERT_NE(frenchIni_[name], initialIni_[name]);
    }

    const char* iterations = std::getenv("CH_CRASH_ITERATIONS");
    iterations_ = iterations != nullptr ? std::strtoul(iterations, nullptr, 10) : 200;
  }

  std::string PcfFolder() const { return machine_.commonData() + "\\PCF"; }

  // Forks a child working in `work`, kills it after `delay` and returns what
  // it reported.
  std::map<char, unsigned long> RunAndKill(Work work, std::chrono::microseconds delay) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    std::fflush(nullptr);
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(fds[0]);
      ChildLoop(work, fds[1], suite_.driverCode, suite_.secondProductCode, suite_.secondProductDocument, copies_, parent);
    }
    ::close(fds[1]);
    EXPECT_GT(child, 0);
    std::this_thread::sleep_for(delay);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        << "the child ended on its own, status " << status;
    const std::map<char, unsigned long> reports = ReadReports(fds[0]);
    ::close(fds[0]);
    return reports;
  }

  // A document's version lies in [finished, finished + 1].
  void ExpectDocumentVersion(const std::string& path, bool mayBeAbsent, unsigned long finished,
                             const std::string& what) {
    const std::string bytes = ReadWholeFile(path);
    if (bytes.empty() && mayBeAbsent && finished == 0) return;
    const long version = VersionOf(bytes, initialDocument_, documentTemplate_);
    EXPECT_TRUE(version >= 0 && static_cast<unsigned long>(version) >= finished &&
                static_cast<unsigned long>(version) <= finished + 1)
        << what << ": version " << version << " after finished step " << finished << ", " << bytes.size()
        << " bytes:\n" << bytes;
  }

  // A record's value is DateOf(k) with k in [finished, finished + 1], or,
  // while nothing was finished, still `initial` (null: absent).
  static void ExpectDateRecord(const DomainRecords& records, const std::string& key, unsigned long finished,
                               const char* initial, const std::string& what) {
    const auto found = records.find(key);
    const bool initialKept = finished == 0 && (found == records.end() ? initial == nullptr
                                                                      : initial != nullptr && found->second == initial);
    if (initialKept) return;
    ASSERT_NE(found, records.end()) << what << " lost after finished step " << finished;
    EXPECT_TRUE((finished > 0 && found->second == DateOf(finished)) || found->second == DateOf(finished + 1))
        << what << " is " << found->second << " after finished step " << finished;
  }

  // Files that a killed writer may leave behind: rollback journals, which
  // the next user of the database rolls back, and the writer's temporary
  // files, whose targets stay intact.
  static std::string NameOf(const std::string& key) {
    const std::size_t slash = key.find_last_of('/');
    return key.substr(slash == std::string::npos ? key.find(':') + 1 : slash + 1);
  }
  static bool IsTemporary(const std::string& key) { return NameOf(key).rfind("~ch", 0) == 0; }
  static bool IsLeftover(const std::string& key) {
    const std::string name = NameOf(key);
    return IsTemporary(key) || (name.size() > 11 && name.compare(name.size() - 11, 11, ".db-journal") == 0);
  }

  void CheckAfterSessions(const MachineState& now, const std::map<char, unsigned long>& reports) {
    const unsigned long dated = reports.count('D') ? reports.at('D') : 0;
    const unsigned long finished = reports.count('S') ? reports.at('S') : 0;
    ExpectDocumentVersion(suite_.secondProductDocument, false, finished, "application.xml");
    ExpectDocumentVersion(sharedCopy_, true, finished, "shared copy");
    for (const char* name : names::kSettingsFiles) {
      const std::string ini = ReadWholeFile(suite_.firstProductFolder + name);
      EXPECT_TRUE(ini == initialIni_.at(name) || ini == frenchIni_.at(name)) << name << " holds " << ini.size()
                                                                               << " bytes: " << ini;
    }
    const std::string backup = ReadWholeFile(machine_.commonData() + "\\" + InstallerBackup());
    EXPECT_TRUE(backup.empty() || backup == caps_) << "backup of caps.db holds " << backup.size() << " bytes";

    ExpectDateRecord(Records(now, Slashed(ConfigurationDatabase())),
                     RecordKey("1", suite_.driverCode, names::kInstallDateKey), dated, kInitialInstallDate,
                     "driver's InstallDate");
    const DomainRecords cache = Records(now, Slashed(CacheDatabase()));
    const auto language = cache.find(RecordKey("1", suite_.licensingCode, names::kEulaLanguageKey));
    if (language == cache.end()) {
      EXPECT_EQ(finished, 0u) << "EULA_LANGUAGE lost";
    } else {
      EXPECT_TRUE(language->second == LanguageOf(finished) || language->second == LanguageOf(finished + 1))
          << "EULA_LANGUAGE " << language->second << " after session " << finished;
    }
  }

  void CheckAfterSavesCommits(const MachineState& now, const std::map<char, unsigned long>& reports) {
    const unsigned long committed = reports.count('C') ? reports.at('C') : 0;
    const unsigned long saved = reports.count('W') ? reports.at('W') : 0;
    ExpectDocumentVersion(suite_.secondProductDocument, false, saved, "application.xml");
    ExpectDocumentVersion(sharedCopy_, true, saved, "shared copy");
    const DomainRecords cache = Records(now, Slashed(CacheDatabase()));
    std::map<std::string, int> values;
    for (int r = 0; r < kBatchRecords; ++r) {
      const std::string key = RecordKey("1", kBatchSubdomain, "r" + std::to_string(r));
      ExpectDateRecord(cache, key, committed, nullptr, "batch record r" + std::to_string(r));
      ++values[cache.count(key) ? cache.at(key) : std::string("<absent>")];
    }
    EXPECT_EQ(values.size(), 1u) << "one commit was applied in part";
  }

  void CheckAfterCopies(const std::map<char, unsigned long>& reports) {
    const std::string bytes = ReadWholeFile(copies_.target);
    const bool whole = bytes == copyContent_[0] || bytes == copyContent_[1] ||
                       (reports.count('K') == 0 && bytes == "the target before any copy");
    EXPECT_TRUE(whole) << "the copy target holds " << bytes.size() << " bytes after "
                       << (reports.count('K') ? reports.at('K') : 0) << " finished copies";
  }

  static DomainRecords Records(const MachineState& state, const std::string& tail) {
    for (const auto& database : state.databases) {
      const std::string& key = database.first;
      if (key.size() >= tail.size() && key.compare(key.size() - tail.size(), tail.size(), tail) == 0) {
        return database.second.records;
      }
    }
    return DomainRecords();
  }

  TestMachine machine_;
  SampleSuite suite_;
  MachineRoots roots_{{machine_.scratch() + "\\Program Files", machine_.commonData()}};
  MachineState initial_;
  std::string initialDocument_;
  std::string documentTemplate_;
  std::string sharedCopy_;
  std::map<std::string, std::string> initialIni_;
  std::map<std::string, std::string> frenchIni_;
  std::string caps_;
  std::chrono::steady_clock::duration sessionTime_{};
  std::chrono::steady_clock::duration copyTime_{};
  CopyFiles copies_;
  std::string copyContent_[2];
  unsigned long iterations_ = 0;
};

TEST_P(CrashTest, KilledWritersLeaveEveryFileWholeAndEveryCommitAllOrNothing) {
  const unsigned long part = GetParam();
  std::mt19937 random(20261207 + part);
  // Up to about three steps of the child's loop, so that kills fall into the
  // first and into later steps, and into every part of them.
  const auto delaysFor = [](std::chrono::steady_clock::duration step) {
    const auto longest = std::chrono::duration_cast<std::chrono::microseconds>(step * 3);
    return std::uniform_int_distribution<long long>(0, std::max<long long>(longest.count(), 30000));
  };
  std::uniform_int_distribution<long long> sessionDelays = delaysFor(sessionTime_);
  std::uniform_int_distribution<long long> copyDelays = delaysFor(copyTime_);
  unsigned long kills = 0;
  unsigned long steps = 0;
  unsigned long journals = 0;
  // Temporary files of killed writers stay from one kill to the next, as
  // they would on a machine; the next writer into their folder removes them.
  std::map<std::string, std::string> stale;
  std::size_t mostStale = 0;
  for (unsigned long i = part; i < iterations_ && !HasFailure(); i += kParts) {
    MachineState start = initial_;
    start.files.insert(stale.begin(), stale.end());
    roots_.Restore(start);
    const Work work = i % 3 == 0 ? Work::kSessions : (i % 3 == 1 ? Work::kSavesCommits : Work::kCopies);
    auto& delays = work == Work::kCopies ? copyDelays : sessionDelays;
    const std::map<char, unsigned long> reports = RunAndKill(work, std::chrono::microseconds(delays(random)));
    ++kills;
    for (const auto& report : reports) steps += report.second;

    const MachineState now = roots_.Capture();
    for (const auto& database : now.databases) {
      EXPECT_EQ(database.second.integrity, "ok") << database.first << " after kill " << i;
    }
    stale.clear();
    for (const auto& file : now.files) {
      if (IsTemporary(file.first)) stale.insert(file);
    }
    mostStale = std::max(mostStale, stale.size());
    for (const auto& file : now.files) {
      if (IsLeftover(file.first) && !IsTemporary(file.first)) ++journals;
    }
    std::vector<std::string> problems = CompareWithCompleteOrAbsentChanges(initial_, initial_, now);
    // Only the files the loop writes may differ from the start.
    for (const std::string& problem : problems) {
      const bool expected = IsLeftover(problem.substr(0, problem.find(": "))) ||
                            problem.find("application.xml") != std::string::npos ||
                            problem.find(".PXP-10-4471-2093.xml") != std::string::npos ||
                            problem.find("TesselStudio") != std::string::npos ||
                            problem.find(Slashed(InstallerBackup())) != std::string::npos ||
                            problem.find("record ") != std::string::npos ||
                            problem.find("copy-target") != std::string::npos;
      EXPECT_TRUE(expected) << "after kill " << i << ": " << problem;
    }
    switch (work) {
      case Work::kSessions:
        CheckAfterSessions(now, reports);
        break;
      case Work::kSavesCommits:
        CheckAfterSavesCommits(now, reports);
        break;
      case Work::kCopies:
        CheckAfterCopies(reports);
        break;
    }
  }
  // The next write into each folder removes what the killed writers left.
  std::set<std::string> folders;
  for (const auto& file : stale) {
    const std::string path = roots_.NativePathOf(file.first);
    folders.insert(path.substr(0, path.find_last_of("\\/") + 1));
  }
  for (const std::string& folder : folders) {
    EXPECT_OK(WriteFileDurably(folder + "next-write", "next")) << folder;
    EXPECT_OK(RemoveFile(folder + "next-write")) << folder;
  }
  std::size_t remaining = 0;
  for (const auto& file : roots_.Capture().files) remaining += IsTemporary(file.first) ? 1 : 0;
  EXPECT_EQ(remaining, 0u) << "temporary files of writers that no longer run";
  std::printf("[ figures  ] %lu kills, %lu finished steps in all, %lu journals left behind; temporary files: %zu "
              "at most at once, %zu after the next write into their folders\n",
              kills, steps, journals, mostStale, remaining);
  RecordProperty("kills", static_cast<int>(kills));
}

INSTANTIATE_TEST_SUITE_P(Parts, CrashTest, ::testing::Range(0ul, kParts));

}  // namespace
