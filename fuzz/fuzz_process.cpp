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
#include <cstddef>
#include <cstring>

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

// SQLite's own memory comes from the C library directly, past the
// sanitizer's allocator: SQLite is not instrumented, and a schema parsed at
// every open costs thousands of allocations, each of which the sanitizer
// would record with its stack. The module's memory is checked as before;
// leaks of SQLite's memory are left to the sanitizer test suite.
extern "C" void* __libc_malloc(std::size_t);
extern "C" void* __libc_realloc(void*, std::size_t);
extern "C" void __libc_free(void*);

namespace {

// Each block carries its size in front of it.
constexpr std::size_t kHeader = 16;

void* SqliteMalloc(int size) {
  auto* block = static_cast<unsigned char*>(__libc_malloc(static_cast<std::size_t>(size) + kHeader));
  if (block == nullptr) return nullptr;
  std::memcpy(block, &size, sizeof size);
  return block + kHeader;
}
void SqliteFree(void* memory) {
  if (memory != nullptr) __libc_free(static_cast<unsigned char*>(memory) - kHeader);
}
void* SqliteRealloc(void* memory, int size) {
  if (memory == nullptr) return SqliteMalloc(size);
  auto* block = static_cast<unsigned char*>(
      __libc_realloc(static_cast<unsigned char*>(memory) - kHeader, static_cast<std::size_t>(size) + kHeader));
  if (block == nullptr) return nullptr;
  std::memcpy(block, &size, sizeof size);
  return block + kHeader;
}
int SqliteSize(void* memory) {
  int size = 0;
  if (memory != nullptr) std::memcpy(&size, static_cast<unsigned char*>(memory) - kHeader, sizeof size);
  return size;
}
int SqliteRoundup(int size) { return (size + 7) & ~7; }
int SqliteInit(void*) { return SQLITE_OK; }
void SqliteShutdown(void*) {}

}  // namespace

// The module and the checks use SQLite from this one thread only, and nothing
// reads SQLite's memory statistics: its locks and counters around every
// allocation can go.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static const sqlite3_mem_methods kMemory = {SqliteMalloc,  SqliteFree, SqliteRealloc, SqliteSize,
                                              SqliteRoundup, SqliteInit, SqliteShutdown, nullptr};
  sqlite3_config(SQLITE_CONFIG_MALLOC, &kMemory);
  sqlite3_config(SQLITE_CONFIG_SINGLETHREAD);
  sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  return 0;
}
