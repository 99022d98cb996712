// Process settings of the libFuzzer targets only: the shipped library and the
// replay test run as they always do.
//
// The checks look at what a session does with its files, never at whether
// they would survive a power cut (the crash tests do that). Flushing to disk
// costs more than the rest of a session where the scratch folder is on a
// disk, so these definitions take the place of the C library's for the whole
// process, the module and SQLite included: a flush of an open descriptor
// succeeds at once, one of a descriptor that is not open fails as before.
#include <cerrno>

#include <fcntl.h>
#include <sqlite3.h>

namespace {

int SkipFlush(int fd) {
  if (fcntl(fd, F_GETFD) == -1) {
    errno = EBADF;
    return -1;
  }
  return 0;
}

}  // namespace

// Visible to the libraries the process loads, whatever the build hides.
#define CH_PROCESS_WIDE __attribute__((visibility("default")))
extern "C" CH_PROCESS_WIDE int fsync(int fd) { return SkipFlush(fd); }
extern "C" CH_PROCESS_WIDE int fdatasync(int fd) { return SkipFlush(fd); }

// The module and the checks use SQLite from this one thread only, and nothing
// reads SQLite's memory statistics: its locks and counters around every
// allocation can go.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  sqlite3_config(SQLITE_CONFIG_SINGLETHREAD);
  sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  return 0;
}
