// Status codes of the storage layer.
//
// Every operation of the database access layer, the configuration store and
// the payload reader returns one of these as a plain `int`; 0 is success and
// callers above the storage layer test for 0 only.
#ifndef CUSTOMHOOKS_STORAGE_STORAGE_STATUS_H_
#define CUSTOMHOOKS_STORAGE_STORAGE_STATUS_H_

// Success (SQLITE_OK, SQLITE_ROW, SQLITE_DONE).
constexpr int kStorageOk = 0;
// The database can't be used: a folder stands where the file should be, a
// schema step failed, the connection has no SQLite handle, a database path
// can't be built, or a handle can't be allocated.
constexpr int kStorageUnusable = 1;
// Out of memory (SQLITE_NOMEM); a result block can't be allocated.
constexpr int kStorageNoMemory = 3;
// File-system error (SQLITE_IOERR, SQLITE_CORRUPT, SQLITE_FULL,
// SQLITE_NOTADB); a folder can't be created or a file can't be copied.
constexpr int kStorageFileError = 4;
// The schema step table has no statement list for a step that is needed.
constexpr int kStorageMissingStep = 5;
// A constraint was violated (SQLITE_CONSTRAINT).
constexpr int kStorageConstraint = 6;
// Not found: the query gave no row (also SQLITE_NOTFOUND, SQLITE_EMPTY), or a
// SELECT was asked of a connection that is not open.
constexpr int kStorageNotFound = 8;
// The handle holds no connection.
constexpr int kStorageNoConnection = 9;
// Invalid argument: a required pointer is null, a number is out of range, or
// a joined path is too long.
constexpr int kStorageInvalidArgument = 10;
// Access refused (SQLITE_PERM, SQLITE_READONLY, SQLITE_CANTOPEN, SQLITE_AUTH).
constexpr int kStorageAccessRefused = 11;
// Any other database error; also an unexpected result shape.
constexpr int kStorageDatabaseError = 12;
// The database requires a newer schema than the opener supports.
constexpr int kStorageSchemaTooNew = 13;
// Another process held a lock for longer than the busy timeout (SQLITE_BUSY).
constexpr int kStorageBusy = 14;

// Translates a primary SQLite result code into a storage status.
int StatusFromSqlite(int sqliteCode);

#endif  // CUSTOMHOOKS_STORAGE_STORAGE_STATUS_H_
