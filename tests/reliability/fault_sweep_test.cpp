// Whole install sessions of the sample suite in which one operation fails:
// every call of the file-system layer's Env in turn, then every file
// operation of SQLite in turn, with each way it can fail. Whatever fails, the
// session returns 0, nothing crashes, every file is as it was or as a
// complete session leaves it, every database passes its integrity check and
// holds each record as it was or as a complete session leaves it, and a
// following session without faults completes the work.
#include <algorithm>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "fs/env.h"
#include "integration/storage_handles.h"
#include "reliability/machine_state.h"
#include "reliability/session_runner.h"
#include "reliability/sqlite_fault_vfs.h"
#include "samplesuite/sample_machine.h"
#include "storage/pcd_store.h"
#include "support/fault_env.h"
#include "support/status_test_support.h"
#include "support/test_machine.h"
#include "support/data_files.h"

namespace {

using customhooks::fs::EnvCall;
using customhooks::fs::FaultEnv;
using customhooks::fs::ScopedEnv;
using sqlitefaults::Failure;
using sqlitefaults::Operation;

class FaultSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sqlitefaults::Install());
    // No power is cut here, so the flushes to the device only cost time.
    sqlitefaults::SetSyncReachesDisk(false);
    env_.FailNth(EnvCall::kAny, 0);
    ASSERT_TRUE(LayOutSampleSuite(machine_.scratch() + "\\Program Files", suite_));
    properties_ = SessionProperties(suite_.driverCode);
    before_ = roots_.Capture();
    // Every session of the sweep starts from the machine as Restore lays it
    // out, on files whose stamps vouch for them, so that each makes the
    // same calls.
    roots_.Restore(before_);
    WaitOutTimestampGranularity();

    sqlitefaults::FailNth(Operation::kWrite, 0, Failure::kIoError);
    env_.FailNth(EnvCall::kAny, 0);
    const SessionOutcome outcome = CloseInstallSession(properties_);
    platformCalls_ = env_.CallsSinceArmed();
    for (Operation op : kOperations) sqliteCalls_[static_cast<int>(op)] = sqlitefaults::CallsSinceArmed(op);
    ASSERT_EQ(outcome.status, 0);
    ASSERT_TRUE(HasLine(outcome.lines, Prefixed("Pelican X Pro :EULA_LANGUAGE success")));
    complete_ = roots_.Capture();
    // The sweep means something only when the session changes all kinds of
    // things: settings files, the document and its shared copy, both
    // configuration databases, the backup copy.
    ASSERT_GE(CompareExactly(before_, complete_).size(), 6u) << Joined(CompareExactly(before_, complete_));
  }

  void TearDown() override {
    env_.FailNth(EnvCall::kAny, 0);
    sqlitefaults::FailNth(Operation::kWrite, 0, Failure::kIoError);
    sqlitefaults::SetSyncReachesDisk(true);
  }

  // Judges the machine after a disturbed session, then runs a session
  // without faults on it, which must leave what a complete session leaves.
  void ExpectCompleteOrAbsentAndRecoverable(const std::string& fault, const SessionOutcome& outcome) {
    EXPECT_EQ(outcome.status, 0) << fault;
    const MachineState now = roots_.Capture();
    const std::vector<std::string> problems = CompareWithCompleteOrAbsentChanges(before_, complete_, now);
    EXPECT_TRUE(problems.empty()) << fault << "\n" << Joined(problems) << "lines:\n" << Joined(outcome.lines);
    if (!CompareExactly(complete_, now).empty()) ++incomplete_;

    env_.FailNth(EnvCall::kAny, 0);
    sqlitefaults::FailNth(Operation::kWrite, 0, Failure::kIoError);
    const SessionOutcome again = CloseInstallSession(properties_);
    EXPECT_EQ(again.status, 0) << fault;
    const std::vector<std::string> left = CompareExactly(complete_, roots_.Capture());
    EXPECT_TRUE(left.empty()) << fault << ", then a session without faults:\n"
                              << Joined(left) << "lines:\n" << Joined(again.lines);
  }

  static constexpr Operation kOperations[] = {Operation::kOpen, Operation::kWrite, Operation::kSync,
                                              Operation::kTruncate};

  FaultEnv env_;
  ScopedEnv scopedEnv_{&env_};
  TestMachine machine_;
  SampleSuite suite_;
  MachineRoots roots_{{machine_.scratch() + "\\Program Files", machine_.commonData()}};
  Properties properties_;
  MachineState before_;
  MachineState complete_;
  unsigned long platformCalls_ = 0;
  unsigned long sqliteCalls_[4] = {};
  // Disturbed sessions that left some of the work undone.
  unsigned long incomplete_ = 0;
};

TEST_F(FaultSweep, EveryPlatformCallOfASessionMayFail) {
  ASSERT_GT(platformCalls_, 100u) << "a session makes far more calls of the Env than that";
  unsigned long injected = 0;
  for (unsigned long n = 1;; ++n) {
    roots_.Restore(before_);
    WaitOutTimestampGranularity();
    env_.FailNth(EnvCall::kAny, n);
    const SessionOutcome outcome = CloseInstallSession(properties_);
    const unsigned long made = env_.CallsSinceArmed();
    const std::string failed = made >= n ? env_.CallsMade()[n - 1] : std::string();
    env_.FailNth(EnvCall::kAny, 0);
    if (made < n) {
      // No call failed: the session must have done all of its work.
      EXPECT_EQ(outcome.status, 0);
      EXPECT_TRUE(CompareExactly(complete_, roots_.Capture()).empty()) << "session without a fault";
      break;
    }
    ++injected;
    ExpectCompleteOrAbsentAndRecoverable("Env call " + std::to_string(n) + " (" + failed + ") failed", outcome);
    if (HasFailure()) break;
  }
  EXPECT_EQ(injected, platformCalls_);
  // Faults reach the work: a session routes around a failed lookup (a
  // database whose attributes can't be read is opened all the same), not
  // around a failed write.
  EXPECT_GT(incomplete_, injected / 20) << "failed calls of the Env must show in the outcome";
  std::printf("[ figures  ] Env: %lu injection points, one session each; %lu left work undone\n",
              injected, incomplete_);
  RecordProperty("platform_injection_points", static_cast<int>(injected));
}

TEST_F(FaultSweep, EverySqliteFileOperationOfASessionMayFail) {
  unsigned long runs = 0;
  for (Operation op : kOperations) {
    // In the default journal mode SQLite deletes its journals rather than
    // truncating them, so a session may never truncate a file.
    const unsigned long calls = sqliteCalls_[static_cast<int>(op)];
    if (op != Operation::kTruncate) {
      EXPECT_GT(calls, 0u) << sqlitefaults::NameOf(op) << " is never called";
    }
    for (unsigned long n = 1; n <= calls && !HasFailure(); ++n) {
      for (Failure failure : sqlitefaults::FailuresOf(op)) {
        roots_.Restore(before_);
        WaitOutTimestampGranularity();
        sqlitefaults::FailNth(op, n, failure);
        const SessionOutcome outcome = CloseInstallSession(properties_);
        const unsigned long made = sqlitefaults::CallsSinceArmed(op);
        sqlitefaults::FailNth(op, 0, failure);
        const std::string fault =
            std::string(sqlitefaults::NameOf(op)) + " call " + std::to_string(n) + ": " + sqlitefaults::NameOf(failure);
        ASSERT_GE(made, n) << fault << " was never reached";
        ++runs;
        ExpectCompleteOrAbsentAndRecoverable(fault, outcome);
      }
    }
    std::printf("[ figures  ] SQLite VFS %s: %lu injection points\n", sqlitefaults::NameOf(op), calls);
  }
  EXPECT_GT(incomplete_, runs / 10) << "failed file operations must show in the outcome";
  std::printf("[ figures  ] SQLite VFS: %lu faulted sessions in all; %lu left work undone\n", runs, incomplete_);
  RecordProperty("sqlite_faulted_sessions", static_cast<int>(runs));
}

// A database file that did not exist reaches the disk with its folder entry:
// the folder is flushed after the file is created, and only then.
TEST(NewDatabases, FlushTheirFolder) {
  FaultEnv env;
  const ScopedEnv scopedEnv(&env);
  TestMachine machine;
  const auto folderFlushes = [&env] {
    const std::vector<std::string> calls = env.CallsMade();
    return std::count(calls.begin(), calls.end(), "FlushFolder");
  };
  for (const long expected : {2L, 0L}) {
    env.FailNth(EnvCall::kAny, 0);
    customhooks::integration::SessionDatabases databases;
    customhooks::integration::StoreConnection store;
    ASSERT_TRUE(customhooks::integration::OpenConfigurationDatabase(databases, &store));
    ASSERT_OK(store->Close());
    EXPECT_EQ(folderFlushes(), expected) << (expected != 0 ? "pcd.db and cache.db created" : "both there already");
  }
}

}  // namespace
