// The codes of the storage layer.
//
// Every operation of the database access layer, the configuration store and
// the payload reader returns a Status (fs/status.h): success, or one of the
// codes below with an optional context text (the file, or SQLite's message).
// Callers above the storage layer test for success, or for a code by name;
// the codes' numbers are never shown to a host nor stored in a file.
#ifndef CUSTOMHOOKS_STORAGE_STORAGE_STATUS_H_
#define CUSTOMHOOKS_STORAGE_STORAGE_STATUS_H_

#include <string_view>

#include "fs/status.h"

namespace customhooks::storage {

enum class Code {
  // The database can't be used: a folder stands where the file should be,
  // or a schema step failed.
  kUnusable,
  // Memory ran out (in the module or in SQLite, SQLITE_NOMEM).
  kNoMemory,
  // File-system error (SQLITE_IOERR, SQLITE_CORRUPT, SQLITE_FULL,
  // SQLITE_NOTADB); a folder can't be created or a file can't be copied.
  kFileError,
  // The schema step table has no statement list for a step that is needed.
  kMissingStep,
  // A constraint was violated (SQLITE_CONSTRAINT).
  kConstraint,
  // Not found: the query gave no row (also SQLITE_NOTFOUND, SQLITE_EMPTY).
  kNotFound,
  // A required pointer is null, a number is out of range, or a joined path
  // is too long.
  kInvalidArgument,
  // Access refused (SQLITE_PERM, SQLITE_READONLY, SQLITE_CANTOPEN,
  // SQLITE_AUTH), or a link planted in a folder that others can write.
  kAccessRefused,
  // Any other database error; also an unexpected result shape.
  kDatabaseError,
  // The database requires a newer schema than the opener supports.
  kSchemaTooNew,
  // Another process held a lock for longer than the busy timeout
  // (SQLITE_BUSY).
  kBusy,
  // A statement was asked of a connection that was closed.
  kNotOpen,
};

// The layer "storage" and the names of its codes ("not found", ...).
const StatusDomain& StatusDomainOf(Code);

// The one translation of an SQLite result code: success for SQLITE_OK,
// SQLITE_ROW and SQLITE_DONE, otherwise the code named above for it (any
// code not named gives kDatabaseError), with `context`.
Status StatusFromSqlite(int sqliteCode, std::string_view context = {});

}  // namespace customhooks::storage

#endif  // CUSTOMHOOKS_STORAGE_STORAGE_STATUS_H_
