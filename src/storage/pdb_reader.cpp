#include "storage/pdb_reader.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "fs/files.h"
#include "fs/paths.h"
#include "storage/database_connection.h"
#include "storage/schema_steps.h"
#include "storage/storage_status.h"

namespace customhooks::storage {

using fs::CopiedAttributes;
using fs::CopyFileOver;
using fs::WhenNotReplaceable;
using fs::EnsureFolder;
using fs::FileStamp;
using fs::IsDirectory;
using fs::IsRegularFile;
using fs::JoinPath;
using fs::OpenFileShared;
using fs::StampFile;
using fs::UniqueFile;

namespace {

const char kAllIdsSql[] = "SELECT DISTINCT PayloadID FROM payloads ORDER BY installTime";
const char kIdsInStateSql[] = "SELECT DISTINCT PayloadID FROM payloads WHERE installState = ?1 ORDER BY installTime";
const char kPayloadSql[] =
    "SELECT payloadID, productFamily, productName, version, signature, installState, installTime "
    "FROM payloads WHERE PayloadID = ?1";
const char kPayloadDataSql[] = "SELECT value FROM payload_data WHERE payloadID = ?1 AND domain = ?2 AND key = ?3";

// The seven columns of the payload query.
constexpr int kPayloadColumns = 7;

// True when both files can be read and hold the same bytes. Any doubt
// (a file that can't be opened or read, no memory for the buffers) is false.
bool SameContent(const std::string& first, const std::string& second) {
  constexpr std::size_t kChunk = 64 * 1024;
  const std::unique_ptr<char[]> buffer(new (std::nothrow) char[2 * kChunk]);
  if (!buffer) return false;
  UniqueFile a;
  UniqueFile b;
  if (!OpenFileShared(first, "rb", a).ok() || !OpenFileShared(second, "rb", b).ok()) return false;
  char* const left = buffer.get();
  char* const right = buffer.get() + kChunk;
  for (;;) {
    const std::size_t got = std::fread(left, 1, kChunk, a.get());
    if (std::fread(right, 1, kChunk, b.get()) != got || std::memcmp(left, right, got) != 0) return false;
    if (got < kChunk) return !std::ferror(a.get()) && !std::ferror(b.get());
  }
}

// The stamp of the file at `path` when it can vouch for the file's content:
// a link's own stamp stays while what it leads to changes.
bool StampOfFile(const std::string& path, FileStamp* stamp) { return StampFile(path, stamp).ok() && !stamp->link; }

}  // namespace

PayloadDatabase::PayloadDatabase(const std::string& folder)
    : connection_(folder, "pdb.db", kPayloadSchemaSteps, false, kPayloadSchemaVersion, true) {}

Status PayloadDatabase::PayloadIDs(int stateFilter, TextList* out) {
  if (out == nullptr || stateFilter < 0 || stateFilter > kPayloadStateAll) return Status(Code::kInvalidArgument);
  if (stateFilter == kPayloadStateAll) return connection_.QueryColumn(kAllIdsSql, {}, out);
  return connection_.QueryColumn(kIdsInStateSql, {stateFilter}, out);
}

Status PayloadDatabase::ReadPayload(std::string_view id, PayloadRecord* record) {
  if (record == nullptr) return Status(Code::kInvalidArgument);
  bool found = false;
  bool shaped = true;
  Status status = connection_.Query(kPayloadSql, {id}, [&](const Row& row) {
    found = true;
    shaped = row.ColumnCount() == kPayloadColumns;
    if (!shaped) return false;
    record->payloadID.assign(row.Text(0));
    record->productFamily.assign(row.Text(1));
    record->productName.assign(row.Text(2));
    record->version.assign(row.Text(3));
    record->signature.assign(row.Text(4));
    record->installState = row.Number(5);
    record->installTime = row.Number(6);
    return false;
  });
  if (!status.ok()) return status;
  if (!found) return Status(Code::kNotFound, std::string(id));
  if (!shaped) return Status(Code::kDatabaseError, "payloads");
  return Status();
}

Status PayloadDatabase::PayloadData(std::string_view id, int domain, std::string_view key, std::string* value) {
  return connection_.QueryText(kPayloadDataSql, {id, domain, key}, value);
}

Status OpenPayloadDatabase(const std::string& folder, std::unique_ptr<PayloadDatabase>* out) {
  if (out == nullptr) return Status(Code::kInvalidArgument);
  if (*out != nullptr && (*out)->connection_.Serves(folder, "pdb.db")) {
    Status reopened = (*out)->connection_.Reopen();
    if (!reopened.ok()) out->reset();
    return reopened;
  }
  out->reset();
  // An empty folder would put the file wherever the process happens to run.
  if (folder.empty()) return Status(Code::kInvalidArgument, "pdb.db");
  return StatusUnlessOutOfMemory(Code::kNoMemory, [&] {
    auto database = std::make_unique<PayloadDatabase>(folder);
    if (!database->connection_.state().ok()) return database->connection_.state();
    *out = std::move(database);
    return Status();
  });
}

Status BackUpInstallerDatabase(const std::string& payloadFolder, const std::string& backupFolder,
                               BackupRecord* record) {
  return StatusUnlessOutOfMemory(Code::kNoMemory, [&payloadFolder, &backupFolder, record] {
    std::string source;
    std::string target;
    if (backupFolder.empty() || !JoinPath(payloadFolder, "caps.db", source).ok() || !IsRegularFile(source) ||
        !JoinPath(backupFolder, "caps.db", target).ok()) {
      return Status(Code::kNotFound);
    }
    Status status;
    if (!IsDirectory(backupFolder) && !EnsureFolder(backupFolder).ok()) {
      status = Status(Code::kFileError, backupFolder);
    }
    // Both stamps come before either file is read: a change made while it
    // is read shows in the next stamp.
    FileStamp sourceStamp;
    FileStamp targetStamp;
    const bool sourceStamped = record != nullptr && StampOfFile(source, &sourceStamp);
    const bool targetStamped = sourceStamped && StampOfFile(target, &targetStamp);
    if (targetStamped && record->KnowsIdentical(sourceStamp, targetStamp)) return status;
    if (record != nullptr) record->Forget();
    // A session backs up several times within moments, and the installer's
    // database changes far less often.
    if (IsRegularFile(target) && SameContent(source, target)) {
      if (targetStamped) record->RememberIdentical(sourceStamp, targetStamp);
      return status;
    }
    // The copy goes to a temporary file beside the target, which then
    // replaces it, or the backup is left as it was: an interrupted copy
    // never leaves a half-written backup.
    if (!CopyFileOver(source, target, CopiedAttributes::kNormal, WhenNotReplaceable::kLeaveTarget).ok()) {
      return Status(Code::kFileError, target);
    }
    // The copy's stamp comes after its last change (its attributes).
    if (sourceStamped && StampOfFile(target, &targetStamp)) record->RememberIdentical(sourceStamp, targetStamp);
    return status;
  });
}

}  // namespace customhooks::storage
