#include "reliability/sqlite_fault_vfs.h"

#include <sqlite3.h>

#include <cstddef>
#include <cstring>

namespace sqlitefaults {
namespace {

constexpr int kOperations = 4;

struct Counters {
  unsigned long calls[kOperations] = {};
  Operation failingOperation = Operation::kWrite;
  unsigned long failingCall = 0;
  Failure failure = Failure::kIoError;
  bool syncReachesDisk = true;
  bool sleepsWait = true;
};
Counters g_counters;

sqlite3_vfs* g_real = nullptr;
sqlite3_vfs g_shim;

// Counts the call; true when it is the one that must fail.
bool Fails(Operation operation) {
  const unsigned long n = ++g_counters.calls[static_cast<int>(operation)];
  return g_counters.failingCall != 0 && g_counters.failingOperation == operation && n == g_counters.failingCall;
}

// The shim's file: its own header, followed by the real VFS's file.
struct ShimFile {
  sqlite3_file base;
  sqlite3_file* real;
};

constexpr std::size_t kRealOffset = (sizeof(ShimFile) + 15) / 16 * 16;

sqlite3_file* Real(sqlite3_file* file) { return reinterpret_cast<ShimFile*>(file)->real; }

int Close(sqlite3_file* file) { return Real(file)->pMethods->xClose(Real(file)); }

int Read(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
  return Real(file)->pMethods->xRead(Real(file), buffer, amount, offset);
}

int Write(sqlite3_file* file, const void* buffer, int amount, sqlite3_int64 offset) {
  if (!Fails(Operation::kWrite)) return Real(file)->pMethods->xWrite(Real(file), buffer, amount, offset);
  switch (g_counters.failure) {
    case Failure::kShortWrite:
      Real(file)->pMethods->xWrite(Real(file), buffer, amount / 2, offset);
      return SQLITE_FULL;
    case Failure::kDiskFull:
      return SQLITE_FULL;
    case Failure::kIoError:
      break;
  }
  return SQLITE_IOERR_WRITE;
}

int Truncate(sqlite3_file* file, sqlite3_int64 size) {
  if (!Fails(Operation::kTruncate)) return Real(file)->pMethods->xTruncate(Real(file), size);
  return g_counters.failure == Failure::kDiskFull ? SQLITE_FULL : SQLITE_IOERR_TRUNCATE;
}

int Sync(sqlite3_file* file, int flags) {
  if (Fails(Operation::kSync)) return SQLITE_IOERR_FSYNC;
  if (!g_counters.syncReachesDisk) return SQLITE_OK;
  return Real(file)->pMethods->xSync(Real(file), flags);
}

int FileSize(sqlite3_file* file, sqlite3_int64* size) {
  return Real(file)->pMethods->xFileSize(Real(file), size);
}

int Lock(sqlite3_file* file, int level) { return Real(file)->pMethods->xLock(Real(file), level); }

int Unlock(sqlite3_file* file, int level) { return Real(file)->pMethods->xUnlock(Real(file), level); }

int CheckReservedLock(sqlite3_file* file, int* out) {
  return Real(file)->pMethods->xCheckReservedLock(Real(file), out);
}

int FileControl(sqlite3_file* file, int op, void* arg) {
  return Real(file)->pMethods->xFileControl(Real(file), op, arg);
}

int SectorSize(sqlite3_file* file) { return Real(file)->pMethods->xSectorSize(Real(file)); }

int DeviceCharacteristics(sqlite3_file* file) {
  return Real(file)->pMethods->xDeviceCharacteristics(Real(file));
}

int ShmMap(sqlite3_file* file, int page, int size, int extend, void volatile** out) {
  return Real(file)->pMethods->xShmMap(Real(file), page, size, extend, out);
}

int ShmLock(sqlite3_file* file, int offset, int n, int flags) {
  return Real(file)->pMethods->xShmLock(Real(file), offset, n, flags);
}

void ShmBarrier(sqlite3_file* file) { Real(file)->pMethods->xShmBarrier(Real(file)); }

int ShmUnmap(sqlite3_file* file, int deleteFlag) {
  return Real(file)->pMethods->xShmUnmap(Real(file), deleteFlag);
}

int Fetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** out) {
  return Real(file)->pMethods->xFetch(Real(file), offset, amount, out);
}

int Unfetch(sqlite3_file* file, sqlite3_int64 offset, void* page) {
  return Real(file)->pMethods->xUnfetch(Real(file), offset, page);
}

// One method table per version the real files may have, so that SQLite
// never calls through a method the real file lacks.
sqlite3_io_methods MethodsOfVersion(int version) {
  sqlite3_io_methods methods{};
  methods.iVersion = version;
  methods.xClose = Close;
  methods.xRead = Read;
  methods.xWrite = Write;
  methods.xTruncate = Truncate;
  methods.xSync = Sync;
  methods.xFileSize = FileSize;
  methods.xLock = Lock;
  methods.xUnlock = Unlock;
  methods.xCheckReservedLock = CheckReservedLock;
  methods.xFileControl = FileControl;
  methods.xSectorSize = SectorSize;
  methods.xDeviceCharacteristics = DeviceCharacteristics;
  if (version >= 2) {
    methods.xShmMap = ShmMap;
    methods.xShmLock = ShmLock;
    methods.xShmBarrier = ShmBarrier;
    methods.xShmUnmap = ShmUnmap;
  }
  if (version >= 3) {
    methods.xFetch = Fetch;
    methods.xUnfetch = Unfetch;
  }
  return methods;
}

const sqlite3_io_methods kMethods[] = {MethodsOfVersion(1), MethodsOfVersion(2), MethodsOfVersion(3)};

int Open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
  auto* shim = reinterpret_cast<ShimFile*>(file);
  shim->base.pMethods = nullptr;
  if (Fails(Operation::kOpen)) {
    switch (g_counters.failure) {
      case Failure::kDiskFull:
        return SQLITE_FULL;
      case Failure::kShortWrite:
      case Failure::kIoError:
        break;
    }
    return SQLITE_CANTOPEN;
  }
  shim->real = reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(file) + kRealOffset);
  const int rc = g_real->xOpen(g_real, name, shim->real, flags, outFlags);
  const sqlite3_io_methods* real = shim->real->pMethods;
  if (real != nullptr) {
    const int version = real->iVersion < 1 ? 1 : (real->iVersion > 3 ? 3 : real->iVersion);
    shim->base.pMethods = &kMethods[version - 1];
  }
  return rc;
}

int Delete(sqlite3_vfs*, const char* name, int syncDir) { return g_real->xDelete(g_real, name, syncDir); }

int Access(sqlite3_vfs*, const char* name, int flags, int* out) {
  return g_real->xAccess(g_real, name, flags, out);
}

int FullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
  return g_real->xFullPathname(g_real, name, size, out);
}

void* DlOpen(sqlite3_vfs*, const char* name) { return g_real->xDlOpen(g_real, name); }

void DlError(sqlite3_vfs*, int size, char* out) { g_real->xDlError(g_real, size, out); }

void (*DlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) {
  return g_real->xDlSym(g_real, handle, symbol);
}

void DlClose(sqlite3_vfs*, void* handle) { g_real->xDlClose(g_real, handle); }

int Randomness(sqlite3_vfs*, int size, char* out) { return g_real->xRandomness(g_real, size, out); }

int Sleep(sqlite3_vfs*, int microseconds) {
  return g_counters.sleepsWait ? g_real->xSleep(g_real, microseconds) : microseconds;
}

int CurrentTime(sqlite3_vfs*, double* out) { return g_real->xCurrentTime(g_real, out); }

int GetLastError(sqlite3_vfs*, int size, char* out) { return g_real->xGetLastError(g_real, size, out); }

int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) { return g_real->xCurrentTimeInt64(g_real, out); }

int SetSystemCall(sqlite3_vfs*, const char* name, sqlite3_syscall_ptr call) {
  return g_real->xSetSystemCall(g_real, name, call);
}

sqlite3_syscall_ptr GetSystemCall(sqlite3_vfs*, const char* name) {
  return g_real->xGetSystemCall(g_real, name);
}

const char* NextSystemCall(sqlite3_vfs*, const char* name) { return g_real->xNextSystemCall(g_real, name); }

}  // namespace

std::vector<Failure> FailuresOf(Operation operation) {
  switch (operation) {
    case Operation::kWrite:
      return {Failure::kShortWrite, Failure::kDiskFull, Failure::kIoError};
    case Operation::kOpen:
    case Operation::kTruncate:
      return {Failure::kDiskFull, Failure::kIoError};
    case Operation::kSync:
      break;
  }
  return {Failure::kIoError};
}

const char* NameOf(Operation operation) {
  switch (operation) {
    case Operation::kOpen:
      return "xOpen";
    case Operation::kWrite:
      return "xWrite";
    case Operation::kSync:
      return "xSync";
    case Operation::kTruncate:
      break;
  }
  return "xTruncate";
}

const char* NameOf(Failure failure) {
  switch (failure) {
    case Failure::kShortWrite:
      return "short write";
    case Failure::kDiskFull:
      return "SQLITE_FULL";
    case Failure::kIoError:
      break;
  }
  return "SQLITE_IOERR";
}

bool Install() {
  if (g_real != nullptr) return true;
  sqlite3_vfs* real = sqlite3_vfs_find(nullptr);
  if (real == nullptr) return false;
  g_shim = sqlite3_vfs{};
  g_shim.iVersion = real->iVersion < 3 ? real->iVersion : 3;
  g_shim.szOsFile = static_cast<int>(kRealOffset) + real->szOsFile;
  g_shim.mxPathname = real->mxPathname;
  g_shim.zName = "ch-faults";
  g_shim.xOpen = Open;
  g_shim.xDelete = Delete;
  g_shim.xAccess = Access;
  g_shim.xFullPathname = FullPathname;
  g_shim.xDlOpen = real->xDlOpen ? DlOpen : nullptr;
  g_shim.xDlError = real->xDlError ? DlError : nullptr;
  g_shim.xDlSym = real->xDlSym ? DlSym : nullptr;
  g_shim.xDlClose = real->xDlClose ? DlClose : nullptr;
  g_shim.xRandomness = Randomness;
  g_shim.xSleep = Sleep;
  g_shim.xCurrentTime = CurrentTime;
  g_shim.xGetLastError = GetLastError;
  if (g_shim.iVersion >= 2) g_shim.xCurrentTimeInt64 = real->xCurrentTimeInt64 ? CurrentTimeInt64 : nullptr;
  if (g_shim.iVersion >= 3) {
    g_shim.xSetSystemCall = real->xSetSystemCall ? SetSystemCall : nullptr;
    g_shim.xGetSystemCall = real->xGetSystemCall ? GetSystemCall : nullptr;
    g_shim.xNextSystemCall = real->xNextSystemCall ? NextSystemCall : nullptr;
  }
  g_real = real;
  if (sqlite3_vfs_register(&g_shim, 1) != SQLITE_OK) {
    g_real = nullptr;
    return false;
  }
  return true;
}

void FailNth(Operation operation, unsigned long n, Failure failure) {
  for (unsigned long& calls : g_counters.calls) calls = 0;
  g_counters.failingOperation = operation;
  g_counters.failingCall = n;
  g_counters.failure = failure;
}

unsigned long CallsSinceArmed(Operation operation) { return g_counters.calls[static_cast<int>(operation)]; }

void SetSyncReachesDisk(bool reaches) { g_counters.syncReachesDisk = reaches; }

void SetSleepsWait(bool wait) { g_counters.sleepsWait = wait; }

}  // namespace sqlitefaults
