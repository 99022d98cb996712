// A dry run of the work on databases: what it would write, with nothing
// written.
//
// While a ScopedDryRun lives, a DatabaseConnection never opens its file for
// writing. At its first open of a file it makes the checks a close makes
// (the links beside it, the schema's admission, the bounds), then looks at
// what SQLite would meet before its first read (LookBeforeReading) and reads
// the file read-only in one snapshot into a copy in memory. Every later
// open of the file, in this run, opens that copy: the work's statements,
// schema steps and transactions run on it as they would on the file. A
// missing file is a new empty copy, as a close would create it.
// Changes to files and folders outside SQLite go through the Env: a dry run
// puts an fs::DryRunEnv in place as well.
#ifndef CUSTOMHOOKS_STORAGE_DRY_RUN_H_
#define CUSTOMHOOKS_STORAGE_DRY_RUN_H_

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "storage/storage_status.h"

struct sqlite3;

namespace customhooks::storage {

// What SQLite would meet beside the database at `native` (its native path)
// before its first read, where a close could not use it as it stands: a hot
// journal (a close rolls it back first: the context says what that would
// do), a folder or other non-file at the journal's name, a database in
// write-ahead log mode, and, with `folderOthersCanWrite`, a database past
// the bound of that folder (kSharedFolderLargestFile). Code::kUnusable with
// the reason as context ("<path>: <reason>"); success otherwise. Reads
// headers only; changes nothing.
// While another process holds the write lock (`lockedForWriting`), a
// journal is that writer's own and not hot.
Status LookBeforeReading(const std::string& native, bool folderOthersCanWrite, bool lockedForWriting);

// A domain_data record: (domain, subdomain, key).
using RecordKey = std::tuple<std::string, std::string, std::string>;

// What a dry run did to one database.
struct DatabaseDryRun {
  std::string path;      // native path of the file
  bool created = false;  // the file was missing: a close creates it
  // Whether another process held the write lock when the file was read: a
  // close's writes would wait for it.
  bool lockedForWriting = false;
  // "ok", or the first problem PRAGMA quick_check found in the file.
  std::string quickCheck;
  // schema_version and schema_compatibility_version before and after the
  // run; nothing when there is no such record.
  std::optional<std::string> schemaBefore, compatBefore, schemaAfter, compatAfter;
  // domain_data records whose value the run changed, added or deleted:
  // before and after (nothing: no record; a NULL value reads as "").
  std::map<RecordKey, std::pair<std::optional<std::string>, std::optional<std::string>>> records;
};

class ScopedDryRun {
 public:
  ScopedDryRun();
  ~ScopedDryRun();
  ScopedDryRun(const ScopedDryRun&) = delete;
  ScopedDryRun& operator=(const ScopedDryRun&) = delete;

  // The databases the run opened, in the order it first opened them.
  std::vector<DatabaseDryRun> Outcomes() const;

  // The run in force, or null.
  static ScopedDryRun* Current();

  // The name (a URI) of the copy of `native`, empty when there is none yet.
  std::string CopyOf(const std::string& native) const;
  // Makes the copy of `native` from the open snapshot of `source` (null: a
  // missing file, an empty copy). The name of the copy in `*name`.
  Status Stage(const std::string& native, sqlite3* source, bool lockedForWriting, std::string* name);

 private:
  struct Copy;
  std::vector<std::unique_ptr<Copy>> copies_;
  ScopedDryRun* previous_;
};

}  // namespace customhooks::storage

#endif  // CUSTOMHOOKS_STORAGE_DRY_RUN_H_
