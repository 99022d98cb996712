#include "storage/storage_status.h"

#include <sqlite3.h>

namespace customhooks::storage {

namespace {

const char* CodeName(int code) {
  switch (static_cast<Code>(code)) {
    case Code::kUnusable:
      return "unusable";
    case Code::kNoMemory:
      return "no memory";
    case Code::kFileError:
      return "file error";
    case Code::kMissingStep:
      return "missing step";
    case Code::kConstraint:
      return "constraint";
    case Code::kNotFound:
      return "not found";
    case Code::kInvalidArgument:
      return "invalid argument";
    case Code::kAccessRefused:
      return "access refused";
    case Code::kDatabaseError:
      return "database error";
    case Code::kSchemaTooNew:
      return "schema too new";
    case Code::kBusy:
      return "busy";
    case Code::kNotOpen:
      return "not open";
  }
  return "unknown";
}

const StatusDomain kStorageDomain{"storage", CodeName};

}  // namespace

const StatusDomain& StatusDomainOf(Code) { return kStorageDomain; }

Status StatusFromSqlite(int sqliteCode, std::string_view context) {
  switch (sqliteCode) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return Status();
    case SQLITE_PERM:
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_AUTH:
      return Status(Code::kAccessRefused, context);
    case SQLITE_BUSY:
      return Status(Code::kBusy, context);
    case SQLITE_NOMEM:
      return Status(Code::kNoMemory, context);
    case SQLITE_IOERR:
    case SQLITE_CORRUPT:
    case SQLITE_FULL:
    case SQLITE_NOTADB:
      return Status(Code::kFileError, context);
    case SQLITE_NOTFOUND:
    case SQLITE_EMPTY:
      return Status(Code::kNotFound, context);
    case SQLITE_CONSTRAINT:
      return Status(Code::kConstraint, context);
    default:
      return Status(Code::kDatabaseError, context);
  }
}

}  // namespace customhooks::storage
