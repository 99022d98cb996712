// Units of statements: a read unit's snapshot, a write unit that takes the
// write lock at its first write, and their commit and rollback.
#include <utility>

#include <sqlite3.h>

#include "storage/database_connection.h"
#include "storage/storage_status.h"

namespace customhooks::storage {

// "BEGIN" for a read, "BEGIN IMMEDIATE" for a write (which waits for the
// write lock while this connection holds no lock), then (in a folder others
// can write) the schema check; a failed check rolls back.
Status DatabaseConnection::Begin(Intent intent) {
  Status begun = Control(intent == Intent::kWrite ? "BEGIN IMMEDIATE" : "BEGIN");
  if (!begun.ok()) return begun;
  // What the check read is what the transaction's statements see.
  Status checked = CheckSchema();
  if (!checked.ok()) static_cast<void>(Control("ROLLBACK"));
  return checked;
}

Status DatabaseConnection::OpenUnit(Intent intent) {
  if (!state_.ok()) return state_;
  unitIntent_ = intent;
  unitBegin_ = Status();
  unitBegan_ = false;
  if (intent == Intent::kRead) {
    Status begun = Begin(intent);
    if (!begun.ok()) return begun;
    unitBegan_ = true;
  }
  unitOpen_ = true;
  return Status();
}

// A unit's statement runs in the unit's SQLite transaction, which begins
// when there is none: a read unit's for any statement (SQLite may have ended
// it by itself after a failure), a write unit's at a write.
Status DatabaseConnection::JoinUnit(sqlite3_stmt* statement) {
  if (!unitOpen_ || sqlite3_get_autocommit(db_) == 0) return Status();
  if (unitIntent_ == Intent::kWrite && (statement == nullptr || sqlite3_stmt_readonly(statement) != 0)) {
    return Status();
  }
  unitBegin_ = Begin(unitIntent_);
  unitBegan_ = unitBegan_ || unitBegin_.ok();
  return unitBegin_;
}

Status DatabaseConnection::CommitTransaction() {
  if (!unitBegan_) return unitBegin_;
  // A connection closed under its transaction committed nothing: Control
  // gives its state.
  return Control("COMMIT");
}

void DatabaseConnection::Settle() {
  if (db_ == nullptr) return;
  unitOpen_ = false;
  if (sqlite3_get_autocommit(db_) == 0) static_cast<void>(Control("ROLLBACK"));
}

Transaction::Transaction(DatabaseConnection& connection, Intent intent)
    : connection_(&connection), begun_(connection.OpenUnit(intent)), open_(begun_.ok()) {}

Transaction::Transaction(Transaction&& other) noexcept
    : connection_(other.connection_), begun_(std::move(other.begun_)), open_(other.open_) {
  other.open_ = false;
}

Transaction::~Transaction() {
  // After some failures (a full disk, an I/O error) SQLite has already
  // rolled the transaction back and this ROLLBACK finds none; either way
  // nothing of it is left.
  if (!open_) return;
  connection_->unitOpen_ = false;
  static_cast<void>(connection_->Control("ROLLBACK"));
}

Status Transaction::Commit() {
  if (!open_) return begun_;
  Status committed = connection_->CommitTransaction();
  if (committed.ok()) {
    open_ = false;
    connection_->unitOpen_ = false;
  }
  return committed;
}

}  // namespace customhooks::storage
