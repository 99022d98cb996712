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
#include "fs/folders.h"
#include "fs/paths.h"
#include "storage/database_connection.h"
#include "storage/schema_steps.h"
#include "storage/sqlite_memory.h"
#include "storage/storage_status.h"

using customhooks::fs::CopiedAttributes;
using customhooks::fs::CopyFileOver;
using customhooks::fs::EnsureFolder;
using customhooks::fs::GetCommonDataFolder;
using customhooks::fs::IsDirectory;
using customhooks::fs::IsRegularFile;
using customhooks::fs::JoinPath;
using customhooks::fs::MoveFileReplacing;
using customhooks::fs::OpenFileShared;
using customhooks::fs::RemoveFile;
using customhooks::fs::UniqueFile;

struct pdbHandle {
  explicit pdbHandle(const std::string& folder)
      : connection(folder, "pdb.db", kPayloadSchemaSteps, false, kPayloadSchemaVersion, true) {}

  static constexpr int kPayloadSchemaVersion = 1;
  DatabaseConnection connection;
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

// Brings the copy of the installer's "caps.db" in the folder "backup" up to
// date. A backup that already holds the same bytes is left as it is: a
// session closes the payload database three times within moments, and the
// database changes far less often. Otherwise the copy goes to a temporary
// file beside the target first and then replaces the target in one step, so
// an interrupted or failed copy never leaves a half-written backup. 8 when
// there is nothing to copy or a path can't be built, 4 when the copy fails,
// else the status of creating the backup folder.
int BackUpInstallerDatabase() {
  std::string common;
  std::string capsFolder;
  std::string source;
  if (!GetCommonDataFolder(common) || !JoinPath(common, "caps", capsFolder).ok() ||
      !JoinPath(capsFolder, "caps.db", source).ok() || !IsRegularFile(source)) {
    return kStorageNotFound;
  }
  std::string backupFolder;
  std::string target;
  std::string temporary;
  if (!JoinPath(common, "backup", backupFolder).ok() || !JoinPath(backupFolder, "caps.db", target).ok() ||
      !JoinPath(backupFolder, TemporaryBackupName(), temporary).ok()) {
    return kStorageNotFound;
  }
  int status = kStorageOk;
  if (!IsDirectory(backupFolder)) status = EnsureFolder(backupFolder).ok() ? kStorageOk : kStorageFileError;
  if (IsRegularFile(target) && SameContent(source, target)) return status;
  if (!CopyFileOver(source, temporary, CopiedAttributes::kNormal).ok() || !MoveFileReplacing(temporary, target).ok()) {
    static_cast<void>(RemoveFile(temporary));
    return kStorageFileError;
  }
  return status;
}

}  // namespace

int pdbOpen(pdbHandle** out) {
  if (out == nullptr) return kStorageInvalidArgument;
  *out = nullptr;
  try {
    std::string common;
    std::string folder;
    if (!GetCommonDataFolder(common) || !JoinPath(common, "caps", folder).ok()) return kStorageUnusable;
    std::unique_ptr<pdbHandle> handle(new (std::nothrow) pdbHandle(folder));
    if (!handle) return kStorageUnusable;
    const int state = handle->connection.state();
    if (state != kStorageOk) return state;
    *out = handle.release();
    return kStorageOk;
  } catch (const std::bad_alloc&) {
    return kStorageUnusable;
  }
}

int pdbGetPayloadIDs(pdbHandle* handle, int stateFilter, char*** out) {
  if (handle == nullptr || out == nullptr || stateFilter < 0 || stateFilter > kPayloadStateAll) {
    return kStorageInvalidArgument;
  }
  if (stateFilter == kPayloadStateAll) {
    return handle->connection.QueryList(out,
                                        "SELECT DISTINCT PayloadID FROM payloads ORDER BY installTime");
  }
  return handle->connection.QueryList(
      out, "SELECT DISTINCT PayloadID FROM payloads WHERE installState = %d ORDER BY installTime",
      stateFilter);
}

int pdbGetPayload(pdbHandle* handle, const char* id, pdbPayload* rec) {
  if (handle == nullptr || id == nullptr || rec == nullptr) return kStorageInvalidArgument;
  DatabaseConnection& connection = handle->connection;
  if (connection.state() != kStorageOk) return kStorageNotFound;

  if (!handle->payloadQuery) {
    sqlite3_stmt* compiled = nullptr;
    const int rc = sqlite3_prepare_v2(connection.handle(),
                                      "SELECT payloadID, productFamily, productName, version, signature, "
                                      "installState, installTime FROM payloads WHERE PayloadID = ?1",
                                      -1, &compiled, nullptr);
    handle->payloadQuery.reset(compiled);
    if (rc != SQLITE_OK) {
      handle->payloadQuery.reset();
      return StatusFromSqlite(rc);
    }
  }
  // Each call is a read of its own: the statement is reset (ending SQLite's
  // read transaction and dropping the bound ID) on every path.
  SqliteStatementUse query(handle->payloadQuery.get());
  if (sqlite3_bind_text(query.get(), 1, id, -1, SQLITE_STATIC) != SQLITE_OK) return kStorageNoMemory;
  const int rc = sqlite3_step(query.get());
  if (rc == SQLITE_DONE) return kStorageNotFound;
  if (rc != SQLITE_ROW) return StatusFromSqlite(rc);
  if (sqlite3_column_count(query.get()) != kPayloadColumns) return kStorageDatabaseError;

  // A NULL text is handed out as the empty text: callers compare these
  // fields byte by byte.
  char* texts[kPayloadTextColumns];
  for (int i = 0; i < kPayloadTextColumns; ++i) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(query.get(), i));
    texts[i] = text ? connection.CopyResultText(text) : SharedEmptyText();
    if (texts[i] == nullptr) return kStorageNoMemory;
  }
  rec->payloadID = texts[0];
  rec->productFamily = texts[1];
  rec->productName = texts[2];
  rec->version = texts[3];
  rec->signature = texts[4];
  rec->installState =
      DecimalTextToInt(reinterpret_cast<const char*>(sqlite3_column_text(query.get(), kPayloadTextColumns)));
  rec->installTime =
      DecimalTextToInt(reinterpret_cast<const char*>(sqlite3_column_text(query.get(), kPayloadTextColumns + 1)));
  return kStorageOk;
}

int pdbGetPayloadData(pdbHandle* handle, const char* id, int domain, const char* key,
                      char** value) {
  if (handle == nullptr || id == nullptr || key == nullptr || value == nullptr) {
    return kStorageInvalidArgument;
  }
  return handle->connection.QueryValue(
      value, "SELECT value FROM payload_data WHERE payloadID = '%q' AND domain = %d AND key = '%q'",
      id, domain, key);
}

int pdbCommit(pdbHandle* handle) {
  if (handle == nullptr) return kStorageInvalidArgument;
  const int committed = handle->connection.Commit();
  if (committed != kStorageOk) return committed;
  try {
    BackUpInstallerDatabase();
  } catch (const std::bad_alloc&) {
    // Backup problems never change the outcome of the commit.
  }
  return kStorageOk;
}

int pdbClose(pdbHandle* handle) {
  if (handle == nullptr) return kStorageInvalidArgument;
  std::unique_ptr<pdbHandle> owned(handle);
  const int committed = pdbCommit(handle);
  owned->payloadQuery.reset();
  const int closed = owned->connection.Close();
  return closed != kStorageOk ? closed : committed;
}
