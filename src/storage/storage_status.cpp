#include "storage/storage_status.h"

#include <sqlite3.h>

int StatusFromSqlite(int sqliteCode) {
  switch (sqliteCode) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return kStorageOk;
    case SQLITE_PERM:
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_AUTH:
      return kStorageAccessRefused;
    case SQLITE_BUSY:
      return kStorageBusy;
    case SQLITE_NOMEM:
      return kStorageNoMemory;
    case SQLITE_IOERR:
    case SQLITE_CORRUPT:
    case SQLITE_FULL:
    case SQLITE_NOTADB:
      return kStorageFileError;
    case SQLITE_NOTFOUND:
    case SQLITE_EMPTY:
      return kStorageNotFound;
    case SQLITE_CONSTRAINT:
      return kStorageConstraint;
    default:
      return kStorageDatabaseError;
  }
}
