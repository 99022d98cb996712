#include "storage/dry_run.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include <sqlite3.h>

#include "fs/files.h"
#include "storage/database_connection.h"
#include "storage/shared_folder_vfs.h"

namespace customhooks::storage {

namespace {

ScopedDryRun* current = nullptr;

std::uint32_t BigEndian(const unsigned char* at) {
  return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) | (std::uint32_t{at[2]} << 8) | at[3];
}

Status Refused(const std::string& path, const std::string& reason) {
  return Status(Code::kUnusable, path + ": " + reason);
}

// A rollback journal's header: SQLite's magic, then its counts.
constexpr unsigned char kJournalMagic[] = {0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7};
constexpr std::size_t kJournalHeader = 28;

// What rolling the journal (its header `header`, `size` bytes in all) back
// would do.
std::string RollbackOf(const std::string& header, std::uint64_t size) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(header.data());
  const std::uint32_t records = BigEndian(bytes + 8);
  const std::uint32_t pages = BigEndian(bytes + 16);
  const std::uint32_t sector = BigEndian(bytes + 20);
  const std::uint32_t pageSize = BigEndian(bytes + 24);
  // A journal written without its count holds as many pages as fit.
  std::uint64_t putBack = records;
  if ((records == 0 || records == 0xFFFFFFFFu) && pageSize > 0 && size > sector) {
    putBack = (size - sector) / (std::uint64_t{pageSize} + 8);
  }
  return "a hot journal; a close rolls it back first, putting back " + std::to_string(putBack) + " pages of " +
         std::to_string(pageSize) + " bytes and setting the database to " + std::to_string(pages) + " pages (" +
         std::to_string(std::uint64_t{pages} * pageSize) + " bytes)";
}

// The first answer of `sql` on `db`, nothing when there is none.
std::optional<std::string> FirstText(sqlite3* db, const char* sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) return std::nullopt;
  std::optional<std::string> text;
  if (sqlite3_step(statement) == SQLITE_ROW) {
    const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    text = value == nullptr ? std::string() : std::string(value);
  }
  sqlite3_finalize(statement);
  return text;
}

using Records = std::map<RecordKey, std::string>;

Records ReadRecords(sqlite3* db) {
  Records records;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT domain, subDomain, key, value FROM domain_data", -1, &statement, nullptr) !=
      SQLITE_OK) {
    return records;
  }
  auto text = [statement](int column) {
    const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return value == nullptr ? std::string() : std::string(value);
  };
  while (sqlite3_step(statement) == SQLITE_ROW) records[{text(0), text(1), text(2)}] = text(3);
  sqlite3_finalize(statement);
  return records;
}

// The work PRAGMA quick_check may take, in steps of SQLite's virtual
// machine: a schema admitted for the module's own tables may still hold
// others whose checks are costly.
constexpr int kQuickCheckPeriod = 1000;
constexpr int kQuickCheckSteps = 100000;

int SpendQuickCheck(void* left) { return --*static_cast<int*>(left) < 0 ? 1 : 0; }

std::string QuickCheck(sqlite3* db) {
  int left = kQuickCheckSteps;
  sqlite3_progress_handler(db, kQuickCheckPeriod, SpendQuickCheck, &left);
  std::optional<std::string> found = FirstText(db, "PRAGMA quick_check");
  sqlite3_progress_handler(db, 0, nullptr, nullptr);
  if (left < 0) return "not finished within its bound";
  return found.value_or(sqlite3_errmsg(db));
}

Status Copied(sqlite3* source, sqlite3* target) {
  sqlite3_backup* backup = sqlite3_backup_init(target, "main", source, "main");
  if (backup == nullptr) return StatusFromSqlite(sqlite3_errcode(target), sqlite3_errmsg(target));
  const int stepped = sqlite3_backup_step(backup, -1);
  const int finished = sqlite3_backup_finish(backup);
  if (stepped != SQLITE_DONE) return StatusFromSqlite(stepped, sqlite3_errmsg(target));
  return StatusFromSqlite(finished);
}

}  // namespace

Status LookBeforeReading(const std::string& native, bool folderOthersCanWrite, bool lockedForWriting) {
  fs::PathFacts database;
  if (!fs::DescribePath(native, &database).ok()) return Refused(native, "cannot be looked at");
  const std::string& header = database.head;
  const auto* bytes = reinterpret_cast<const unsigned char*>(header.data());
  if (header.size() >= 20 && (bytes[18] == 2 || bytes[19] == 2)) {
    return Refused(native, "a write-ahead log header (WAL mode)");
  }
  if (folderOthersCanWrite) {
    std::uint64_t bySize = database.size;
    if (header.size() >= 32) {
      bySize = std::max(bySize, static_cast<std::uint64_t>(SizeInDatabaseHeader(bytes)));
    }
    if (bySize > static_cast<std::uint64_t>(kSharedFolderLargestFile)) {
      return Refused(native, std::to_string(bySize) + " bytes, past the bound of " +
                                 std::to_string(kSharedFolderLargestFile) + " bytes");
    }
  }
  const std::string journal = native + "-journal";
  fs::PathFacts facts;
  if (!fs::DescribePath(journal, &facts).ok()) return Refused(journal, "cannot be looked at");
  switch (facts.kind) {
    case fs::PathFacts::Kind::kNothing:
      return Status();
    case fs::PathFacts::Kind::kFolder:
      return Refused(journal, "a folder stands at the journal's name");
    case fs::PathFacts::Kind::kOther:
      return Refused(journal, "something other than a file stands at the journal's name");
    case fs::PathFacts::Kind::kLink:
      if (folderOthersCanWrite) return Refused(journal, "a link stands at the journal's name");
      break;
    case fs::PathFacts::Kind::kFile:
      break;
  }
  if (lockedForWriting) return Status();
  const std::string journalHeader = facts.head.substr(0, kJournalHeader);
  if (journalHeader.size() == kJournalHeader &&
      std::memcmp(journalHeader.data(), kJournalMagic, sizeof kJournalMagic) == 0) {
    return Refused(journal, RollbackOf(journalHeader, facts.size));
  }
  return Status();
}

struct ScopedDryRun::Copy {
  std::string native;
  std::string name;
  bool created = false;
  bool lockedForWriting = false;
  std::string quickCheck;
  // Both copies live while a connection to them is open.
  sqlite3* staged = nullptr;
  sqlite3* before = nullptr;

  ~Copy() {
    sqlite3_close(staged);
    sqlite3_close(before);
  }
};

ScopedDryRun::ScopedDryRun() : previous_(current) { current = this; }

ScopedDryRun::~ScopedDryRun() { current = previous_; }

ScopedDryRun* ScopedDryRun::Current() { return current; }

std::string ScopedDryRun::CopyOf(const std::string& native) const {
  for (const auto& copy : copies_) {
    if (copy->native == native) return copy->name;
  }
  return std::string();
}

Status ScopedDryRun::Stage(const std::string& native, sqlite3* source, bool lockedForWriting, std::string* name) {
  return UnlessOutOfMemory(Code::kNoMemory, [&] {
    auto copy = std::make_unique<Copy>();
    copy->native = native;
    copy->created = source == nullptr;
    copy->lockedForWriting = lockedForWriting;
    const std::string base = "file:/customhooks-dry-run-" + std::to_string(copies_.size());
    copy->name = base + "?vfs=memdb";
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI;
    if (sqlite3_open_v2(copy->name.c_str(), &copy->staged, flags, nullptr) != SQLITE_OK ||
        sqlite3_open_v2((base + "-before?vfs=memdb").c_str(), &copy->before, flags, nullptr) != SQLITE_OK) {
      return Status(Code::kNoMemory, native);
    }
    if (source != nullptr) {
      Status copied = Copied(source, copy->staged);
      if (copied.ok()) copied = Copied(source, copy->before);
      if (!copied.ok()) return copied;
      copy->quickCheck = QuickCheck(copy->before);
    } else {
      copy->quickCheck = "ok";
    }
    *name = copy->name;
    copies_.push_back(std::move(copy));
    return Status();
  });
}

std::vector<DatabaseDryRun> ScopedDryRun::Outcomes() const {
  std::vector<DatabaseDryRun> outcomes;
  for (const auto& copy : copies_) {
    DatabaseDryRun outcome;
    outcome.path = copy->native;
    outcome.created = copy->created;
    outcome.lockedForWriting = copy->lockedForWriting;
    outcome.quickCheck = copy->quickCheck;
    const char kSchema[] = "SELECT value FROM pcd_meta WHERE key = 'schema_version'";
    const char kCompat[] = "SELECT value FROM pcd_meta WHERE key = 'schema_compatibility_version'";
    outcome.schemaBefore = FirstText(copy->before, kSchema);
    outcome.compatBefore = FirstText(copy->before, kCompat);
    outcome.schemaAfter = FirstText(copy->staged, kSchema);
    outcome.compatAfter = FirstText(copy->staged, kCompat);
    const Records before = ReadRecords(copy->before);
    const Records after = ReadRecords(copy->staged);
    for (const auto& [key, value] : after) {
      const auto old = before.find(key);
      if (old == before.end()) {
        outcome.records[key] = {std::nullopt, value};
      } else if (old->second != value) {
        outcome.records[key] = {old->second, value};
      }
    }
    for (const auto& [key, value] : before) {
      if (after.count(key) == 0) outcome.records[key] = {value, std::nullopt};
    }
    outcomes.push_back(std::move(outcome));
  }
  return outcomes;
}

// The file is read as a close reads it, read-only: its checks, then one
// snapshot, which becomes the run's copy.
Status DatabaseConnection::ConnectForDryRun(ScopedDryRun& run, const std::string& native, bool fresh, int flags,
                                            const char* vfs) {
  constexpr int kCopyFlags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI;
  std::string copy = run.CopyOf(native);
  if (copy.empty() && fresh) {
    Status staged = run.Stage(native, nullptr, false, &copy);
    if (!staged.ok()) return staged;
  }
  if (!copy.empty()) return Connect(copy.c_str(), kCopyFlags, nullptr);
  Status read = Connect(native.c_str(), (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) | SQLITE_OPEN_READONLY,
                        vfs);
  // Whether another process holds the write lock, asked of the file SQLite
  // holds before it reads anything.
  int locked = 0;
  sqlite3_file* file = nullptr;
  if (read.ok() && sqlite3_file_control(db_, "main", SQLITE_FCNTL_FILE_POINTER, &file) == SQLITE_OK &&
      file != nullptr && file->pMethods != nullptr) {
    file->pMethods->xCheckReservedLock(file, &locked);
  }
  if (read.ok()) read = LookBeforeReading(native, options_.folderOthersCanWrite, locked != 0);
  if (read.ok()) read = SetUp();
  if (read.ok()) read = Begin(Intent::kRead);
  if (read.ok()) {
    read = run.Stage(native, db_, locked != 0, &copy);
    static_cast<void>(Control("COMMIT"));
  }
  static_cast<void>(Close());
  if (!read.ok()) return read;
  return Connect(copy.c_str(), kCopyFlags, nullptr);
}

}  // namespace customhooks::storage
