#include "storage/pdb_reader.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <random>
#include <string>

#include <sqlite3.h>

#include "fs/files.h"
#include "fs/paths.h"
#include "storage/database_connection.h"
#include "storage/schema_steps.h"
#include "storage/sqlite_memory.h"
#include "storage/storage_status.h"

namespace customhooks::storage {

using fs::CopiedAttributes;
using fs::CopyFileOver;
using fs::EnsureFolder;
using fs::IsDirectory;
using fs::IsRegularFile;
using fs::JoinPath;
using fs::MoveFileReplacing;
using fs::OpenFileShared;
using fs::RemoveFile;
using fs::UniqueFile;

struct pdbHandle {
  pdbHandle(const std::string& folder, const std::string& backupFolder)
      : connection(folder, "pdb.db", kPayloadSchemaSteps, false, kPayloadSchemaVersion, true),
        folder(folder),
        backupFolder(backupFolder) {}

  static constexpr int kPayloadSchemaVersion = 1;
  DatabaseConnection connection;
  // Where "caps.db" lies (beside "pdb.db") and where its backup goes.
  std::string folder;
  std::string backupFolder;
  // The payload row query, compiled by the first pdbGetPayload and reused:
  // a search calls it once per installed payload. Finalized before the
  // connection closes (declared after it, so also on destruction).
  SqliteStatement payloadQuery;
};

namespace {

// The seven columns of the payload query, of which the first five are texts.
constexpr int kPayloadColumns = 7;
constexpr int kPayloadTextColumns = 5;

// A name for the copy in progress that no other process backing up at the
// same moment will pick.
std::string TemporaryBackupName() {
  unsigned long long tag =
      static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  try {
    std::random_device device;
    tag ^= (static_cast<unsigned long long>(device()) << 32) | device();
  } catch (const std::exception&) {
    // The clock alone still separates successive backups.
  }
  char name[48];
  std::snprintf(name, sizeof name, "caps.db.%016llx.tmp", tag);
  return name;
}

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

// Brings the copy of the installer's "caps.db" (in `capsFolder`) in
// `backupFolder` up to date. A backup that already holds the same bytes is left as it is: a
// session closes the payload database three times within moments, and the
// database changes far less often. Otherwise the copy goes to a temporary
// file beside the target first and then replaces the target in one step, so
// an interrupted or failed copy never leaves a half-written backup.
// Code::kNotFound when there is nothing to copy or a path can't be built,
// Code::kFileError when the backup folder can't be created or the copy
// fails, Code::kNoMemory when memory runs out.
Status BackUpInstallerDatabase(const std::string& capsFolder, const std::string& backupFolder) {
  return StatusUnlessOutOfMemory(Code::kNoMemory, [&capsFolder, &backupFolder] {
    std::string source;
    if (backupFolder.empty() || !JoinPath(capsFolder, "caps.db", source).ok() || !IsRegularFile(source)) {
      return Status(Code::kNotFound);
    }
    std::string target;
    std::string temporary;
    if (!JoinPath(backupFolder, "caps.db", target).ok() ||
        !JoinPath(backupFolder, TemporaryBackupName(), temporary).ok()) {
      return Status(Code::kNotFound);
    }
    Status status;
    if (!IsDirectory(backupFolder) && !EnsureFolder(backupFolder).ok()) {
      status = Status(Code::kFileError, backupFolder);
    }
    if (IsRegularFile(target) && SameContent(source, target)) return status;
    if (!CopyFileOver(source, temporary, CopiedAttributes::kNormal).ok() || !MoveFileReplacing(temporary, target).ok()) {
      static_cast<void>(RemoveFile(temporary));
      return Status(Code::kFileError, target);
    }
    return status;
  });
}

// pdbGetPayload once its arguments are checked; throws std::bad_alloc when
// a copy can't be allocated.
Status ReadPayload(pdbHandle& handle, const char* id, pdbPayload& rec) {
  DatabaseConnection& connection = handle.connection;
  if (!connection.state().ok()) return Status(Code::kNotFound);

  if (!handle.payloadQuery) {
    sqlite3_stmt* compiled = nullptr;
    const int rc = sqlite3_prepare_v2(connection.handle(),
                                      "SELECT payloadID, productFamily, productName, version, signature, "
                                      "installState, installTime FROM payloads WHERE PayloadID = ?1",
                                      -1, &compiled, nullptr);
    handle.payloadQuery.reset(compiled);
    if (rc != SQLITE_OK) {
      handle.payloadQuery.reset();
      return StatusFromSqlite(rc, sqlite3_errmsg(connection.handle()));
    }
  }
  // Each call is a read of its own: the statement is reset (ending SQLite's
  // read transaction and dropping the bound ID) on every path.
  SqliteStatementUse query(handle.payloadQuery.get());
  const int bound = sqlite3_bind_text(query.get(), 1, id, -1, SQLITE_STATIC);
  if (bound != SQLITE_OK) return StatusFromSqlite(bound, id);
  const int rc = sqlite3_step(query.get());
  if (rc == SQLITE_DONE) return Status(Code::kNotFound, id);
  if (rc != SQLITE_ROW) return StatusFromSqlite(rc, sqlite3_errmsg(connection.handle()));
  if (sqlite3_column_count(query.get()) != kPayloadColumns) return Status(Code::kDatabaseError, "payloads");

  // A NULL text is handed out as the empty text: callers compare these
  // fields byte by byte.
  char* texts[kPayloadTextColumns];
  for (int i = 0; i < kPayloadTextColumns; ++i) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(query.get(), i));
    texts[i] = text ? connection.CopyResultText(text) : SharedEmptyText();
  }
  rec.payloadID = texts[0];
  rec.productFamily = texts[1];
  rec.productName = texts[2];
  rec.version = texts[3];
  rec.signature = texts[4];
  rec.installState =
      DecimalTextToInt(reinterpret_cast<const char*>(sqlite3_column_text(query.get(), kPayloadTextColumns)));
  rec.installTime =
      DecimalTextToInt(reinterpret_cast<const char*>(sqlite3_column_text(query.get(), kPayloadTextColumns + 1)));
  return Status();
}

}  // namespace

Status pdbOpen(const std::string& folder, const std::string& backupFolder, pdbHandle** out) {
  if (out == nullptr) return Status(Code::kInvalidArgument);
  *out = nullptr;
  // An empty folder would put the file wherever the process happens to run.
  if (folder.empty()) return Status(Code::kInvalidArgument, "pdb.db");
  return StatusUnlessOutOfMemory(Code::kNoMemory, [&] {
    auto handle = std::make_unique<pdbHandle>(folder, backupFolder);
    if (!handle->connection.state().ok()) return handle->connection.state();
    *out = handle.release();
    return Status();
  });
}

Status pdbGetPayloadIDs(pdbHandle* handle, int stateFilter, char*** out) {
  if (handle == nullptr || out == nullptr || stateFilter < 0 || stateFilter > kPayloadStateAll) {
    return Status(Code::kInvalidArgument);
  }
  if (stateFilter == kPayloadStateAll) {
    return handle->connection.QueryList(out,
                                        "SELECT DISTINCT PayloadID FROM payloads ORDER BY installTime");
  }
  return handle->connection.QueryList(
      out, "SELECT DISTINCT PayloadID FROM payloads WHERE installState = %d ORDER BY installTime",
      stateFilter);
}

Status pdbGetPayload(pdbHandle* handle, const char* id, pdbPayload* rec) {
  if (handle == nullptr || id == nullptr || rec == nullptr) return Status(Code::kInvalidArgument);
  return StatusUnlessOutOfMemory(Code::kNoMemory, [&] { return ReadPayload(*handle, id, *rec); });
}

Status pdbGetPayloadData(pdbHandle* handle, const char* id, int domain, const char* key,
                         char** value) {
  if (handle == nullptr || id == nullptr || key == nullptr || value == nullptr) {
    return Status(Code::kInvalidArgument);
  }
  return handle->connection.QueryValue(
      value, "SELECT value FROM payload_data WHERE payloadID = '%q' AND domain = %d AND key = '%q'",
      id, domain, key);
}

Status pdbCommit(pdbHandle* handle) {
  if (handle == nullptr) return Status(Code::kInvalidArgument);
  Status committed = handle->connection.Commit();
  if (!committed.ok()) return committed;
  // Backup problems never change the outcome of the commit.
  static_cast<void>(BackUpInstallerDatabase(handle->folder, handle->backupFolder));
  return Status();
}

Status pdbClose(pdbHandle* handle) {
  if (handle == nullptr) return Status(Code::kInvalidArgument);
  std::unique_ptr<pdbHandle> owned(handle);
  Status committed = pdbCommit(handle);
  owned->payloadQuery.reset();
  Status closed = owned->connection.Close();
  return closed.ok() ? committed : closed;
}

}  // namespace customhooks::storage
