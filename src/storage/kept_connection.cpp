// What lets a connection be kept from one open of a pass to the next
// (DatabaseConnection::Reopen), and the content marks that vouch for a
// remembered answer: the file's stamps, SQLite's data version and the
// schema it loaded.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include <sqlite3.h>

#include "fs/files.h"
#include "storage/database_connection.h"
#include "storage/storage_status.h"

namespace customhooks::storage {

// Opens as a plain open does, and learns which file SQLite holds: it is
// known only when the path named one file before and after the open.
// Otherwise nothing is held, and the next Reopen opens anew.
Status DatabaseConnection::OpenHeld(const char* native, int flags, const char* vfs, bool readOnly) {
  fs::FileStamp before;
  const bool stampedBefore = StampFile(path_, &before, fs::Links::kFollowed).ok();
  Status opened = Connect(native, flags, vfs);
  if (!opened.ok()) return opened;
  HeldFile held;
  held.readOnly = readOnly;
  if (stampedBefore && StampFile(path_, &held.stamp, fs::Links::kFollowed).ok() && held.stamp.SameFile(before)) {
    held_ = std::move(held);
  }
  return Status();
}

std::optional<Status> DatabaseConnection::ReopenShared() {
  if (db_ == nullptr || !held_ || !state_.ok() || InTransaction()) return std::nullopt;
  std::optional<Status> reopened;
  Status run = UnlessOutOfMemory(Code::kNoMemory, [&] {
    PathLook look;
    if (!LookAtPath(&look).ok() || !KeepsServing(look.fresh, look.readOnly)) return Status();
    reopened = OpenLooked(look);
    if (reopened->ok()) Grant();
    return Status();
  });
  // The other handle goes on with the connection as it was.
  state_ = Status();
  if (!run.ok()) return run;
  return reopened;
}

// Reads the data version and the schema the stamp goes with.
void DatabaseConnection::ReadHeldState() {
  std::int64_t version = 0;
  if (DataVersion(&version).ok()) held_->dataVersion = version;
  if (!ReadSchema(&held_->schema).ok()) held_->schema.clear();
}

// The grant may have changed the file's attributes (its change time), not
// its content: the stamp takes that change in.
void DatabaseConnection::RestampAfterGrant() {
  fs::FileStamp granted;
  if (StampFile(path_, &granted, fs::Links::kFollowed).ok() && granted.ContentSince(held_->stamp)) {
    held_->stamp = granted;
  }
}

// Whether a reopen may keep SQLite's connection: it must still serve the
// file at the path (followed as SQLite follows links) as a new connection
// would. That is the same file, read-only or writable as before, and either
// unchanged since its stamp, changed by another SQLite writer's commit, or
// (where the stamp can't tell) still holding the schema SQLite loaded.
bool DatabaseConnection::KeepsServing(bool fresh, bool readOnly) {
  fs::FileStamp now;
  if (fresh || readOnly != held_->readOnly || InTransaction() ||
      !StampFile(path_, &now, fs::Links::kFollowed).ok() || !now.SameFile(held_->stamp)) {
    return false;
  }
  if (now != held_->stamp) {
    // Changed since the stamp. Another SQLite writer's commit moves the
    // file's change counter on, and SQLite reloads what it keeps; a change
    // that leaves the counter is seen by a new connection only.
    std::int64_t version = 0;
    if (!DataVersion(&version).ok() || !held_->dataVersion || version == *held_->dataVersion) return false;
    held_->dataVersion = version;
  } else if (held_->stamp.racy && !KeepsFilesSchema()) {
    // A stamp that vouches for nothing: a change in the same tick leaves it
    // as it was, and may have changed the schema too.
    return false;
  }
  // SQLite keeps pages between transactions while the change counter stays.
  // Without them every read from here on comes from the file, as a new
  // connection's would, whatever another writer does from now on.
  sqlite3_db_release_memory(db_);
  held_->stamp = now;
  held_->changes = sqlite3_total_changes(db_);
  return true;
}

// True when the schema's entries, read from the file, are those read when
// SQLite's connection loaded it.
bool DatabaseConnection::KeepsFilesSchema() {
  if (held_->schema.empty()) return false;
  // The entries must be read from the file, not from pages SQLite keeps.
  sqlite3_db_release_memory(db_);
  std::string schema;
  return ReadSchema(&schema).ok() && schema == held_->schema;
}

// The schema's entries, each column followed by a NUL.
Status DatabaseConnection::ReadSchema(std::string* entries) {
  entries->clear();
  return Query("SELECT type, name, tbl_name, rootpage, sql FROM sqlite_schema ORDER BY rowid", {},
               [entries](const Row& row) {
                 for (int column = 0; column < 5; ++column) {
                   entries->append(row.Text(column));
                   entries->push_back('\0');
                 }
                 return true;
               });
}

Status DatabaseConnection::MarkContent(ContentMark* mark) {
  if (!InTransaction()) return Status(Code::kInvalidArgument);
  mark->generation = generation_;
  Status read = DataVersion(&mark->dataVersion);
  if (!read.ok()) return read;
  return StampFile(path_, &mark->stamp, fs::Links::kFollowed);
}

bool DatabaseConnection::ShowsContentOf(const ContentMark& mark) {
  ContentMark now;
  return MarkContent(&now).ok() && now.generation == mark.generation && now.dataVersion == mark.dataVersion &&
         now.stamp.Vouches(mark.stamp);
}

// After this connection's own change, the stamp is taken anew (the change
// is its own, not another writer's), and vouches for nothing.
void DatabaseConnection::Restamp() {
  if (sqlite3_get_autocommit(db_) == 0 || sqlite3_total_changes(db_) == held_->changes) return;
  held_->changes = sqlite3_total_changes(db_);
  fs::FileStamp after;
  if (!StampAfterChange(path_, &after, fs::Links::kFollowed).ok() || !after.SameFile(held_->stamp)) {
    held_.reset();
    return;
  }
  held_->stamp = after;
}

Status DatabaseConnection::DataVersion(std::int64_t* version) {
  if (version == nullptr) return Status(Code::kInvalidArgument);
  return Query("PRAGMA data_version", {}, [version](const Row& row) {
    *version = row.Number64(0);
    return false;
  });
}

}  // namespace customhooks::storage
