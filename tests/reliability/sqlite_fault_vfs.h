// A test-only SQLite VFS that wraps the real default VFS and can make one of
// its file operations fail, the way a full disk or a failing device makes
// them fail. SQLite's own file I/O does not pass through the module's
// platform boundary; this reaches it from below, in the test process only.
#ifndef CUSTOMHOOKS_TESTS_RELIABILITY_SQLITE_FAULT_VFS_H_
#define CUSTOMHOOKS_TESTS_RELIABILITY_SQLITE_FAULT_VFS_H_

#include <vector>

namespace sqlitefaults {

enum class Operation { kOpen, kWrite, kSync, kTruncate };

enum class Failure {
  kShortWrite,  // xWrite stores the first half of the bytes, then reports SQLITE_FULL
  kDiskFull,    // SQLITE_FULL, nothing done
  kIoError,     // SQLITE_IOERR (SQLITE_CANTOPEN for xOpen), nothing done
};

// The failures that make sense for `operation`.
std::vector<Failure> FailuresOf(Operation operation);

const char* NameOf(Operation operation);
const char* NameOf(Failure failure);

// Registers the wrapper as the default VFS of this process (once; later
// calls do nothing). False when SQLite refuses.
bool Install();

// Restarts the counts; the `n`-th call of `operation` from now (1: the next
// one) fails with `failure`. n 0 lets every call run.
void FailNth(Operation operation, unsigned long n, Failure failure);

// Calls of `operation` since the last FailNth.
unsigned long CallsSinceArmed(Operation operation);

// When false, xSync returns at once without reaching the disk (the data is
// still written). Used where many sessions run and no power is cut, so that
// only the disk's flushes are saved. True at start.
void SetSyncReachesDisk(bool reaches);

// When false, xSleep returns at once as if it had slept: a connection's busy
// timeout then runs out without the wall clock moving, so a test can keep a
// file locked past it many times over. True at start.
void SetSleepsWait(bool wait);

}  // namespace sqlitefaults

#endif  // CUSTOMHOOKS_TESTS_RELIABILITY_SQLITE_FAULT_VFS_H_
