// What lets a connection be kept from one open of a pass to the next
// (DatabaseConnection::Reopen), and the content marks that vouch for a
// remembered answer: the file's stamps, SQLite's data version and the
// schema it loaded.
#include <cstdint>
#include <string>

#include <sqlite3.h>

#include "fs/fast_paths.h"
#include "fs/files.h"
#include "storage/database_connection.h"
#include "storage/storage_status.h"

namespace customhooks::storage {

// Reads the data version and the schema a new stamp goes with.
void DatabaseConnection::ReadStampedState() {
  if (!DataVersion(&stampedDataVersion_).ok()) stampedDataVersion_ = -1;
  if (!ReadSchema(&schemaRead_).ok()) schemaRead_.clear();
}

// Whether a reopen may keep SQLite's connection: it must still serve the
// file at the path (followed as SQLite follows links) as a new connection
// would. That is the same file, read-only or writable as before, and either
// unchanged since its stamp, changed by another SQLite writer's commit, or
// (where the stamp can't tell) still holding the schema SQLite loaded.
bool DatabaseConnection::KeepsServing(bool fresh, bool readOnly) {
  fs::FileStamp now;
  if (!fs::CurrentFastPaths().keptConnections || !heldKnown_ || fresh || readOnly != openedReadOnly_ ||
      InTransaction() || !StampFile(path_, &now, fs::Links::kFollowed).ok() || !now.SameFile(opened_)) {
    return false;
  }
  if (now != opened_) {
    // Changed since the stamp. Another SQLite writer's commit moves the
    // file's change counter on, and SQLite reloads what it keeps; a change
    // that leaves the counter is seen by a new connection only.
    std::int64_t version = 0;
    if (!DataVersion(&version).ok() || stampedDataVersion_ < 0 || version == stampedDataVersion_) return false;
    stampedDataVersion_ = version;
  } else if (opened_.racy && !KeepsFilesSchema()) {
    // A stamp too close to a change to tell: a write in the same tick
    // leaves it as it was, and may have changed the schema too.
    return false;
  }
  // SQLite keeps pages between transactions while the change counter stays.
  // Without them every read from here on comes from the file, as a new
  // connection's would, whatever another writer does from now on.
  sqlite3_db_release_memory(db_);
  opened_ = now;
  stampedChanges_ = sqlite3_total_changes(db_);
  return true;
}

// True when the schema's entries, read from the file, are those read when
// SQLite's connection loaded it.
bool DatabaseConnection::KeepsFilesSchema() {
  if (schemaRead_.empty()) return false;
  // The entries must be read from the file, not from pages SQLite keeps.
  sqlite3_db_release_memory(db_);
  std::string schema;
  return ReadSchema(&schema).ok() && schema == schemaRead_;
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

void DatabaseConnection::Restamp() {
  if (db_ == nullptr || sqlite3_get_autocommit(db_) == 0 || sqlite3_total_changes(db_) == stampedChanges_) return;
  stampedChanges_ = sqlite3_total_changes(db_);
  // A stamp taken right after this connection's own change is always
  // within the file system's timestamp granularity of it: another writer's
  // change in the same tick would leave the same stamp. It vouches for
  // nothing; a later change still shows.
  fs::FileStamp after;
  heldKnown_ = heldKnown_ && StampFile(path_, &after, fs::Links::kFollowed).ok() && after.SameFile(opened_);
  if (heldKnown_) opened_ = after;
  opened_.racy = true;
}

Status DatabaseConnection::DataVersion(std::int64_t* version) {
  if (version == nullptr) return Status(Code::kInvalidArgument);
  return Query("PRAGMA data_version", {}, [version](const Row& row) {
    *version = row.Number64(0);
    return false;
  });
}

}  // namespace customhooks::storage
