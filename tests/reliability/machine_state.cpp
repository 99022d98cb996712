#include "reliability/machine_state.h"

#include <sqlite3.h>

#include <filesystem>
#include <memory>

#include "fs/files.h"
#include "support/disk.h"

using namespace customhooks::fs;

namespace stdfs = std::filesystem;

namespace {

struct SqliteCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Database = std::unique_ptr<sqlite3, SqliteCloser>;

struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Every row of `sql`, columns joined by kFieldSeparator. False when the
// statement fails.
bool Rows(sqlite3* db, const std::string& sql, std::vector<std::vector<std::string>>& rows,
          std::string& error) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    error = sqlite3_errmsg(db);
    return false;
  }
  Statement statement(raw);
  int rc;
  while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int i = 0; i < sqlite3_column_count(raw); ++i) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(raw, i));
      row.push_back(text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(raw, i)))
                         : std::string("<null>"));
    }
    rows.push_back(std::move(row));
  }
  if (rc != SQLITE_DONE) {
    error = sqlite3_errmsg(db);
    return false;
  }
  return true;
}

std::string JoinFields(const std::vector<std::string>& row) {
  std::string joined;
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (i != 0) joined += kFieldSeparator;
    joined += row[i];
  }
  return joined;
}

DatabaseState ReadDatabase(const stdfs::path& path) {
  DatabaseState state;
  sqlite3* raw = nullptr;
  const int opened = sqlite3_open_v2(path.u8string().c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  Database db(raw);
  if (opened != SQLITE_OK) {
    state.integrity = std::string("cannot open: ") + sqlite3_errstr(opened);
    return state;
  }
  sqlite3_busy_timeout(raw, 10000);
  std::vector<std::vector<std::string>> rows;
  std::string error;
  if (!Rows(raw, "PRAGMA integrity_check", rows, error)) {
    state.integrity = "integrity_check failed: " + error;
    return state;
  }
  state.integrity.clear();
  for (const auto& row : rows) state.integrity += (state.integrity.empty() ? "" : "; ") + JoinFields(row);

  std::vector<std::vector<std::string>> names;
  if (!Rows(raw, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name", names, error)) {
    state.integrity += "; cannot list tables: " + error;
    return state;
  }
  names.push_back({"sqlite_master"});
  for (const auto& name : names) {
    rows.clear();
    std::string quoted = "\"";
    for (char c : name[0]) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    quoted += "\"";
    if (!Rows(raw, "SELECT * FROM " + quoted, rows, error)) {
      state.integrity += "; cannot read " + name[0] + ": " + error;
      continue;
    }
    std::multiset<std::string>& table = state.tables[name[0]];
    for (const auto& row : rows) table.insert(JoinFields(row));
  }
  rows.clear();
  if (state.tables.count("domain_data") != 0 &&
      Rows(raw, "SELECT domain, subDomain, key, value FROM domain_data", rows, error)) {
    for (const auto& row : rows) state.records[RecordKey(row[0], row[1], row[2])] = row[3];
  }
  return state;
}

bool IsRollbackJournal(const std::string& key) { return EndsWith(key, ".db-journal"); }

bool IsDatabase(const std::string& key) { return EndsWith(key, ".db"); }

template <typename Map>
const typename Map::mapped_type* Find(const Map& map, const std::string& key) {
  const auto it = map.find(key);
  return it == map.end() ? nullptr : &it->second;
}

std::string Shown(const std::string* bytes) {
  if (bytes == nullptr) return "absent";
  std::string shown = std::to_string(bytes->size()) + " bytes";
  if (bytes->size() <= 80) shown += " \"" + *bytes + "\"";
  return shown;
}

std::string ShownRecord(const std::string& key) {
  std::string shown = key;
  for (char& c : shown) {
    if (c == kFieldSeparator) c = '|';
  }
  return shown;
}

void CompareDatabase(const std::string& key, const DatabaseState* before, const DatabaseState* after,
                     const DatabaseState& now, std::vector<std::string>& problems) {
  if (now.integrity != "ok") {
    problems.push_back(key + ": integrity " + now.integrity);
    return;
  }
  static const DomainRecords kNoRecords;
  static const TableRows kNoTables;
  const DomainRecords& recordsBefore = before ? before->records : kNoRecords;
  const DomainRecords& recordsAfter = after ? after->records : kNoRecords;
  std::set<std::string> keys;
  for (const auto* records : {&recordsBefore, &recordsAfter, &now.records}) {
    for (const auto& record : *records) keys.insert(record.first);
  }
  for (const std::string& record : keys) {
    const std::string* was = Find(recordsBefore, record);
    const std::string* complete = Find(recordsAfter, record);
    const std::string* is = Find(now.records, record);
    const auto same = [](const std::string* a, const std::string* b) {
      return (a == nullptr && b == nullptr) || (a != nullptr && b != nullptr && *a == *b);
    };
    if (!same(is, was) && !same(is, complete)) {
      problems.push_back(key + ": record " + ShownRecord(record) + " is " + Shown(is) + ", was " +
                         Shown(was) + ", complete session gives " + Shown(complete));
    }
  }
  const TableRows& tablesBefore = before ? before->tables : kNoTables;
  const TableRows& tablesAfter = after ? after->tables : kNoTables;
  std::set<std::string> names;
  for (const auto* tables : {&tablesBefore, &tablesAfter, &now.tables}) {
    for (const auto& table : *tables) names.insert(table.first);
  }
  for (const std::string& name : names) {
    if (name == "domain_data") continue;
    const auto* was = Find(tablesBefore, name);
    const auto* complete = Find(tablesAfter, name);
    const auto* is = Find(now.tables, name);
    const auto same = [](const std::multiset<std::string>* a, const std::multiset<std::string>* b) {
      return (a == nullptr && b == nullptr) || (a != nullptr && b != nullptr && *a == *b);
    };
    if (!same(is, was) && !same(is, complete)) {
      problems.push_back(key + ": table " + name + " is neither as before nor as after a complete session");
    }
  }
}

}  // namespace

std::string RecordKey(const std::string& domain, const std::string& subDomain, const std::string& key) {
  return domain + kFieldSeparator + subDomain + kFieldSeparator + key;
}

std::string MachineRoots::NativePathOf(const std::string& key) const {
  const std::size_t colon = key.find(':');
  const std::size_t index = std::stoul(key.substr(0, colon));
  return NativePath(roots_.at(index)) + "/" + key.substr(colon + 1);
}

MachineState MachineRoots::Capture() const {
  MachineState state;
  std::error_code ec;
  for (std::size_t i = 0; i < roots_.size(); ++i) {
    const stdfs::path root = stdfs::u8path(NativePath(roots_[i]));
    const std::string prefix = std::to_string(i) + ":";
    // Databases first: reading one may roll back a journal and so change
    // the bytes of both files.
    std::vector<std::pair<std::string, stdfs::path>> plain;
    for (auto it = stdfs::recursive_directory_iterator(root, ec);
         !ec && it != stdfs::recursive_directory_iterator(); it.increment(ec)) {
      const std::string key = prefix + stdfs::relative(it->path(), root).generic_u8string();
      if (it->is_directory(ec)) {
        state.folders.insert(key);
      } else {
        if (IsDatabase(key)) state.databases[key] = ReadDatabase(it->path());
        plain.emplace_back(key, it->path());
      }
    }
    for (const auto& file : plain) {
      if (stdfs::exists(file.second, ec)) state.files[file.first] = ReadWholeFile(file.second.u8string());
    }
  }
  return state;
}

void MachineRoots::Restore(const MachineState& state) const {
  std::error_code ec;
  for (const std::string& root : roots_) {
    const stdfs::path native = stdfs::u8path(NativePath(root));
    // Folders the module made read-only for others are still the owner's.
    for (auto it = stdfs::recursive_directory_iterator(native, ec);
         !ec && it != stdfs::recursive_directory_iterator(); it.increment(ec)) {
      stdfs::permissions(it->path(), stdfs::perms::owner_all, stdfs::perm_options::add, ec);
    }
    ec.clear();
    stdfs::remove_all(native, ec);
    stdfs::create_directories(native, ec);
  }
  for (const std::string& folder : state.folders) {
    stdfs::create_directories(stdfs::u8path(NativePathOf(folder)), ec);
  }
  for (const auto& file : state.files) {
    const stdfs::path path = stdfs::u8path(NativePathOf(file.first));
    stdfs::create_directories(path.parent_path(), ec);
    WriteWholeFile(path.u8string(), file.second);
  }
}

std::vector<std::string> OutermostFolders(const std::vector<std::string>& folders) {
  std::vector<std::string> outermost;
  for (const std::string& folder : folders) {
    const std::string native = NativePath(folder) + "/";
    bool inside = false;
    for (const std::string& other : folders) {
      const std::string container = NativePath(other) + "/";
      inside = inside || (container != native && native.compare(0, container.size(), container) == 0);
    }
    if (!inside) outermost.push_back(folder);
  }
  return outermost;
}

std::vector<std::string> CompareWithCompleteOrAbsentChanges(const MachineState& before,
                                                            const MachineState& after,
                                                            const MachineState& now) {
  std::vector<std::string> problems;
  std::set<std::string> keys;
  for (const auto* state : {&before, &after, &now}) {
    for (const auto& file : state->files) keys.insert(file.first);
  }
  for (const std::string& key : keys) {
    if (IsRollbackJournal(key)) continue;
    if (IsDatabase(key)) {
      const DatabaseState* is = Find(now.databases, key);
      if (is == nullptr) {
        if (Find(before.databases, key) != nullptr) problems.push_back(key + ": database lost");
        continue;
      }
      CompareDatabase(key, Find(before.databases, key), Find(after.databases, key), *is, problems);
      continue;
    }
    const std::string* was = Find(before.files, key);
    const std::string* complete = Find(after.files, key);
    const std::string* is = Find(now.files, key);
    if (is == nullptr) {
      if (was != nullptr && complete != nullptr) problems.push_back(key + ": file lost");
      continue;
    }
    if (was == nullptr && complete == nullptr) {
      problems.push_back(key + ": unexpected file, " + Shown(is));
    } else if ((was == nullptr || *is != *was) && (complete == nullptr || *is != *complete)) {
      problems.push_back(key + ": " + Shown(is) + ", neither the " + Shown(was) + " before nor the " +
                         Shown(complete) + " of a complete session");
    }
  }
  return problems;
}

std::vector<std::string> CompareExactly(const MachineState& expected, const MachineState& now,
                                        const std::vector<std::string>& mayChange) {
  std::vector<std::string> problems;
  for (const std::string& tail : mayChange) {
    if (tail.empty()) problems.push_back("an empty name among the files that may change would skip them all");
  }
  std::set<std::string> keys;
  for (const auto* state : {&expected, &now}) {
    for (const auto& file : state->files) keys.insert(file.first);
  }
  for (const std::string& key : keys) {
    bool skipped = IsRollbackJournal(key);
    for (const std::string& tail : mayChange) skipped = skipped || EndsWith(key, tail);
    if (skipped) continue;
    const std::string* want = Find(expected.files, key);
    const std::string* is = Find(now.files, key);
    if (IsDatabase(key) && want != nullptr && is != nullptr) {
      const DatabaseState& a = expected.databases.at(key);
      const DatabaseState& b = now.databases.at(key);
      if (b.integrity != a.integrity) problems.push_back(key + ": integrity " + b.integrity + ", expected " + a.integrity);
      if (a.tables != b.tables) problems.push_back(key + ": tables changed");
      // A damaged database must be left exactly as it was.
      if (a.integrity != "ok" && *want != *is) problems.push_back(key + ": damaged database changed");
      continue;
    }
    if (want == nullptr || is == nullptr || *want != *is) {
      problems.push_back(key + ": " + Shown(is) + ", expected " + Shown(want));
    }
  }
  return problems;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string joined;
  for (const std::string& line : lines) joined += line + "\n";
  return joined;
}
