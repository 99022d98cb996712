#include "storage/pdb_reader.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "fs/files.h"
#include "fs/paths.h"
#include "fs/product_names.h"
#include "storage/database_connection.h"
#include "storage/payload_rows.h"
#include "storage/schema_steps.h"
#include "storage/storage_status.h"

namespace customhooks::storage {

using fs::CopiedAttributes;
using payload_rows::IsProduct;
using payload_rows::kPayloadColumns;
using payload_rows::ReadRecord;
using fs::CopyFileOver;
using fs::WhenNotReplaceable;
using fs::EnsureFolder;
using fs::IsDirectory;
using fs::IsRegularFile;
using fs::JoinPath;
using fs::OpenFileShared;
using fs::UniqueFile;

namespace {

const char kAllIdsSql[] = "SELECT DISTINCT PayloadID FROM payloads ORDER BY installTime";
const char kIdsInStateSql[] = "SELECT DISTINCT PayloadID FROM payloads WHERE installState = ?1 ORDER BY installTime";
const char kPayloadSql[] =
    "SELECT payloadID, productFamily, productName, version, signature, installState, installTime "
    "FROM payloads WHERE PayloadID = ?1";
const char kPayloadDataSql[] = "SELECT value FROM payload_data WHERE payloadID = ?1 AND domain = ?2 AND key = ?3";

// True when both files can be read and hold the same bytes. Any doubt
// (a file that can't be opened or read, no memory for the buffers) is false.
bool SameContent(const std::string& first, const std::string& second) {
  constexpr std::size_t kChunk = 64 * 1024;
  const std::unique_ptr<char[]> buffer(new (std::nothrow) char[2 * kChunk]);
  if (!buffer) return false;
  UniqueFile a;
  UniqueFile b;
  if (!OpenFileShared(first, "rb", &a).ok() || !OpenFileShared(second, "rb", &b).ok()) return false;
  char* const left = buffer.get();
  char* const right = buffer.get() + kChunk;
  for (;;) {
    const std::size_t got = std::fread(left, 1, kChunk, a.get());
    if (std::fread(right, 1, kChunk, b.get()) != got || std::memcmp(left, right, got) != 0) return false;
    if (got < kChunk) return !std::ferror(a.get()) && !std::ferror(b.get());
  }
}

}  // namespace

namespace {

// The schema version "pdb.db" is brought to.
constexpr int kPayloadSchemaVersion = 1;

DatabaseOptions PayloadOptions(const Shortcuts& shortcuts) {
  DatabaseOptions options;
  options.steps = kPayloadSchemaSteps;
  options.targetVersion = kPayloadSchemaVersion;
  options.applySteps = true;
  options.keptConnection = shortcuts.keptConnections;
  options.grantsOnce = shortcuts.grantsOnce;
  return options;
}

}  // namespace

PayloadDatabase::PayloadDatabase(const std::string& folder, const Shortcuts& shortcuts)
    : shortcuts_(shortcuts), connection_(folder, names::kPayloadsFile, PayloadOptions(shortcuts)) {}

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
    ReadRecord(row, record);
    return false;
  });
  if (!status.ok()) return status;
  if (!found) return Status(Code::kNotFound, std::string(id));
  if (!shaped) return Status(Code::kDatabaseError, "payloads");
  return Status();
}

Status PayloadDatabase::FindProductPayloads(int stateFilter, const std::vector<ProductKey>& products,
                                            ProductSearch* out) {
  if (out == nullptr || stateFilter < 0 || stateFilter > kPayloadStateAll) return Status(Code::kInvalidArgument);
  return UnlessOutOfMemory(Code::kNoMemory, [&] {
    if (shortcuts_.rememberedAnswers) return SearchAndRemember(stateFilter, products, out);
    return Search(stateFilter, products, out);
  });
}

Status PayloadDatabase::Search(int stateFilter, const std::vector<ProductKey>& products, ProductSearch* out) {
  ProductSearch search;
  if (!shortcuts_.oneScanSearch || !ScanForProducts(stateFilter, products, &search)) {
    search = ProductSearch();
    Status walked = WalkForProducts(stateFilter, products, &search);
    if (!walked.ok()) return walked;
  }
  *out = std::move(search);
  return Status();
}

Status PayloadDatabase::WalkForProducts(int stateFilter, const std::vector<ProductKey>& products,
                                        ProductSearch* out) {
  TextList ids;
  Status listed = PayloadIDs(stateFilter, &ids);
  if (!listed.ok()) return listed;
  out->walkedTheList = true;
  out->payloads.resize(products.size());
  PayloadRecord record;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const bool read = ReadPayload(ids[i], &record).ok();
    for (std::size_t p = 0; p < products.size(); ++p) {
      if (!read) {
        out->payloads[p].push_back(ProductPayload{true, PayloadRecord()});
      } else if (IsProduct(record, products[p])) {
        out->payloads[p].push_back(ProductPayload{false, record});
      }
    }
  }
  return Status();
}

Status PayloadDatabase::PayloadData(std::string_view id, int domain, std::string_view key, std::string* value) {
  return connection_.QueryText(kPayloadDataSql, {id, domain, key}, value);
}

std::optional<Status> PayloadDatabase::ReopenShared(const std::string& folder) {
  if (!connection_.Serves(folder, names::kPayloadsFile)) return std::nullopt;
  return connection_.ReopenShared();
}

Status OpenPayloadDatabase(const std::string& folder, std::unique_ptr<PayloadDatabase>* out,
                           const Shortcuts& shortcuts) {
  return OpenOrReopen(out, &PayloadDatabase::connection_, folder, names::kPayloadsFile, shortcuts,
                      [&] { return std::make_unique<PayloadDatabase>(folder, shortcuts); });
}

Status BackUpInstallerDatabase(const std::string& payloadFolder, const std::string& backupFolder,
                               BackupRecord* record) {
  return UnlessOutOfMemory(Code::kNoMemory, [&payloadFolder, &backupFolder, record] {
    std::string source;
    std::string target;
    if (backupFolder.empty() || !JoinPath(payloadFolder, names::kInstallerFile, &source).ok() || !IsRegularFile(source) ||
        !JoinPath(backupFolder, names::kInstallerFile, &target).ok()) {
      return Status(Code::kNotFound);
    }
    Status status;
    if (!IsDirectory(backupFolder) && !EnsureFolder(backupFolder).ok()) {
      status = Status(Code::kFileError, backupFolder);
    }
    if (record != nullptr && record->KnowsIdentical(source, target)) return status;
    // A session backs up several times within moments, and the installer's
    // database changes far less often.
    if (IsRegularFile(target) && SameContent(source, target)) {
      if (record != nullptr) record->RememberIdentical();
      return status;
    }
    // The copy goes to a temporary file beside the target, which then
    // replaces it, or the backup is left as it was: an interrupted copy
    // never leaves a half-written backup. The record learns nothing from
    // it: a stamp taken right after this write would vouch for nothing.
    if (!CopyFileOver(source, target, CopiedAttributes::kNormal, WhenNotReplaceable::kLeaveTarget).ok()) {
      return Status(Code::kFileError, target);
    }
    return status;
  });
}

}  // namespace customhooks::storage
