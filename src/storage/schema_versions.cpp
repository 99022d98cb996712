// Schema versions: reading a database's version records and bringing it to
// the opener's target with the steps of its table.
#include <climits>

#include <sqlite3.h>

#include "storage/database_connection.h"
#include "storage/storage_status.h"

namespace customhooks::storage {

int DecimalTextToInt(const char* text) {
  if (text == nullptr) return 0;
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = (*text++ == '-');
  long long value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    if (value <= static_cast<long long>(INT_MAX) + 1) value = value * 10 + (*text - '0');
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

void DatabaseConnection::ReadSchemaVersions(SchemaVersions* versions) {
  std::string value;
  versions->read = QueryText("SELECT value FROM pcd_meta WHERE key = 'schema_version'", {}, &value);
  if (!versions->read.ok()) return;
  versions->stored = DecimalTextToInt(value.c_str());
  versions->read = QueryText("SELECT value FROM pcd_meta WHERE key = 'schema_compatibility_version'", {}, &value);
  if (versions->read.ok()) versions->compat = DecimalTextToInt(value.c_str());
}

Status DatabaseConnection::BringSchemaToTarget(const SchemaVersions& versions) {
  const long long stored = versions.stored;
  const int compat = versions.compat;
  const Status& provisional = versions.read;
  // A missing row or a missing table (kDatabaseError) means the file has
  // not been given its schema yet. Any other failure means the file can't be
  // read at all (locked beyond the timeout, not a database, unreadable), and
  // no schema step could make it usable.
  if (!provisional.ok() && !provisional.Is(Code::kNotFound) && !provisional.Is(Code::kDatabaseError)) {
    return provisional;
  }
  if (options_.targetVersion < compat) return Status(Code::kSchemaTooNew, path_);
  const long long first = stored + 1;
  for (long long n = first; n <= options_.targetVersion; ++n) {
    Status applied = ApplySchemaStep(static_cast<int>(n));
    if (applied.ok()) continue;
    // The first step failing means the file already holds (part of) what
    // the step creates; the step has been rolled back and the file is used
    // as it stands.
    if (n == first) return Status();
    return applied;
  }
  if (first <= options_.targetVersion) return Status();
  return provisional;
}

// Whether bringing a file at version `stored` to the target runs a step
// with statements, or one that can't run (missing from the table, or
// numbered below 1); an empty step reads and writes nothing.
bool DatabaseConnection::StepsWillRun(long long stored) const {
  if (!options_.applySteps) return false;
  for (long long n = stored + 1; n <= options_.targetVersion; ++n) {
    const SchemaStep step = StepAt(n);
    if (step == nullptr || *step != nullptr) return true;
  }
  return false;
}

// Step `n` of the table; null when it is numbered below 1 or the table
// ends before it.
SchemaStep DatabaseConnection::StepAt(long long n) const {
  if (n < 1 || options_.steps == nullptr) return nullptr;
  for (long long i = 0; i < n; ++i) {
    if (options_.steps[i] == nullptr) return nullptr;
  }
  return options_.steps[n - 1];
}

Status DatabaseConnection::ApplySchemaStep(int n) {
  if (db_ == nullptr) return Status(Code::kNotOpen);
  if (n < 1) return Status(Code::kInvalidArgument);
  const SchemaStep step = StepAt(n);
  if (step == nullptr) return Status(Code::kMissingStep);
  // An empty step reads and writes nothing: there is no transaction to
  // begin, and no lock to take.
  if (*step == nullptr) return Status();
  Status begun = Begin(Intent::kWrite);
  if (!begun.ok()) return begun;
  for (SchemaStep statement = step; *statement != nullptr; ++statement) {
    if (!Execute(*statement).ok()) {
      // After some failures (a full disk, an I/O error) SQLite has already
      // rolled the transaction back and this ROLLBACK finds none; either
      // way nothing of the step is left, and the step's failure is what
      // counts.
      static_cast<void>(Control("ROLLBACK"));
      return Status(Code::kUnusable, *statement);
    }
  }
  Status committed = Control("COMMIT");
  // A COMMIT refused (another process keeps reading the file) leaves the
  // step's transaction open: it is rolled back, so that the connection is
  // as the step found it.
  if (!committed.ok()) static_cast<void>(Control("ROLLBACK"));
  return committed;
}

}  // namespace customhooks::storage
