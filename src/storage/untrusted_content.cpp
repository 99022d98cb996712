// The hardening of a connection to a file that others can write: the links
// planted beside it, SQLite's settings and limits for untrusted content, the
// bound on each statement's work, and the check of the schema (see
// DatabaseOptions::folderOthersCanWrite).
#include <algorithm>
#include <string>
#include <string_view>

#include <sqlite3.h>

#include "fs/shared_folder.h"
#include "storage/database_connection.h"
#include "storage/schema_admission.h"
#include "storage/storage_status.h"

namespace customhooks::storage {

using fs::IsPlantedLink;
using fs::RemovePlantedLink;

namespace {

// What a statement on a file that others can write may take. The module's
// own statements need a small part of each; a planted schema that needs
// more fails to load rather than being run.
constexpr struct {
  int limit;
  int value;
} kContentLimits[] = {
    {SQLITE_LIMIT_LENGTH, 16 << 20},      // bytes of a text, blob or row
    {SQLITE_LIMIT_SQL_LENGTH, 10000},     // bytes of a statement, the schema's too
    {SQLITE_LIMIT_COLUMN, 64},            // columns of a table, index or result
    {SQLITE_LIMIT_EXPR_DEPTH, 64},
    {SQLITE_LIMIT_COMPOUND_SELECT, 4},
    {SQLITE_LIMIT_VDBE_OP, 10000},        // instructions of one compiled statement
    {SQLITE_LIMIT_FUNCTION_ARG, 8},
    {SQLITE_LIMIT_ATTACHED, 0},
    {SQLITE_LIMIT_LIKE_PATTERN_LENGTH, 256},
    {SQLITE_LIMIT_VARIABLE_NUMBER, 16},
    {SQLITE_LIMIT_TRIGGER_DEPTH, 1},
    {SQLITE_LIMIT_WORKER_THREADS, 0},
};

}  // namespace

// Removes links planted at the names of the database and of its journals;
// true when one was there.
bool DatabaseConnection::RemoveLinksBeside(const std::string& database) {
  bool planted = false;
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
    const std::string name = database + suffix;
    if (IsPlantedLink(name)) {
      planted = true;
      static_cast<void>(RemovePlantedLink(name));
    }
  }
  return planted;
}

int DatabaseConnection::SpendProgress(void* connection) {
  return --static_cast<DatabaseConnection*>(connection)->progressLeft_ < 0 ? 1 : 0;
}

// Settings for a database that others can write: no trigger or view runs,
// the schema can't be written, pages are checked as they are read, the file
// is not mapped, SQLite's limits are set for untrusted content, and each
// statement may take a bounded number of virtual-machine steps.
Status DatabaseConnection::DistrustContent() {
  // Triggers and views are not part of this database's schema; any that a
  // user wrote into the file never run.
  const struct {
    int option;
    int value;
  } kSettings[] = {{SQLITE_DBCONFIG_DEFENSIVE, 1},
                   {SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0},
                   {SQLITE_DBCONFIG_ENABLE_TRIGGER, 0},
                   {SQLITE_DBCONFIG_ENABLE_VIEW, 0}};
  for (const auto& setting : kSettings) {
    int applied = -1;
    const int rc = sqlite3_db_config(db_, setting.option, setting.value, &applied);
    if (rc != SQLITE_OK) return StatusFromSqlite(rc, path_);
    if (applied != setting.value) return Status(Code::kAccessRefused, path_);
  }
  for (const auto& bound : kContentLimits) sqlite3_limit(db_, bound.limit, bound.value);
  sqlite3_progress_handler(db_, kProgressPeriod, &DatabaseConnection::SpendProgress, this);
  Status checked = Execute("PRAGMA cell_size_check = ON");
  return checked.ok() ? Execute("PRAGMA mmap_size = 0") : checked;
}

// In a folder others can write, every entry of the file's schema must be
// admitted (storage/schema_admission.h). Code::kBusy when the file stays
// locked. Success for other connections.
Status DatabaseConnection::CheckSchema() {
  if (!options_.folderOthersCanWrite) return Status();
  std::string refused;
  Status read = Query("SELECT type, name, tbl_name, sql FROM sqlite_schema", {}, [this, &refused](const Row& row) {
    const char* why = RefusalOfEntry(row.Text(0), row.Text(2), row.Text(3));
    if (why != nullptr) refused = std::string(row.Text(0)) + " " + std::string(row.Text(1)) + ": " + why;
    return why == nullptr;
  });
  if (!refused.empty()) return Status(Code::kFileError, path_ + ": " + refused);
  // A schema SQLite cannot load within the limits is as unusable as a
  // damaged file.
  if (read.Is(Code::kDatabaseError)) return Status(Code::kFileError, path_);
  return read;
}

// RefusalOf's verdict, which depends on nothing but the entry's text and
// the own tables: an entry admitted once is admitted again without being
// read. The schema's few entries are remembered, not a planted schema's
// thousands.
const char* DatabaseConnection::RefusalOfEntry(std::string_view type, std::string_view table,
                                               std::string_view sql) {
  constexpr std::size_t kMostRemembered = 16;
  std::string entry;
  entry.reserve(type.size() + table.size() + sql.size() + 3);
  for (std::string_view part : {type, table, sql}) entry.append(part).push_back('\0');
  if (std::find(admittedEntries_.begin(), admittedEntries_.end(), entry) != admittedEntries_.end()) return nullptr;
  const char* why = RefusalOf(type, table, sql, ownTables_);
  if (why == nullptr && admittedEntries_.size() < kMostRemembered) admittedEntries_.push_back(std::move(entry));
  return why;
}

}  // namespace customhooks::storage
