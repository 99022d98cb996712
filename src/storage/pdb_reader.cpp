#include "storage/pdb_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "fs/fast_paths.h"
#include "fs/files.h"
#include "fs/paths.h"
#include "storage/database_connection.h"
#include "fs/product_names.h"
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

// The scan for products selects, in the order of the list of IDs, every row
// whose record may be one of two products', and every row that the list
// could not read back by its own ID. In the installer's table (the only one
// scanned) productName holds a text, a blob or NULL, and PayloadID a text
// or a blob. For a text, `productName >= name AND productName < name ||
// x'01'` holds exactly for the name itself and the name followed by a NUL
// (both read back as the name); every blob sorts after every text
// (`productName >= x''`), and its bytes are compared once read; NULL reads
// as the empty text, which is no product's name (see ScanForProducts).
// Ordinary rows are thus set aside by a few comparisons and one call, which
// finds an ID that is not a text or holds a NUL (it reads back as another).
#define CH_ODD_ID "NOT is_plain_text(PayloadID)"
#define CH_CANDIDATES_SELECT                                                                         \
  "SELECT payloadID, productFamily, productName, version, signature, installState, installTime, " \
  CH_ODD_ID ", typeof(installTime) IN ('integer', 'null') FROM payloads WHERE "
#define CH_CANDIDATES_FILTER                                                                     \
  "(productName >= ?2 AND productName < ?3 OR productName >= ?4 AND productName < ?5"            \
  " OR productName >= x'' OR " CH_ODD_ID ") ORDER BY installTime"
const char kCandidatesInStateSql[] = CH_CANDIDATES_SELECT "installState = ?1 AND " CH_CANDIDATES_FILTER;
const char kAllCandidatesSql[] = CH_CANDIDATES_SELECT CH_CANDIDATES_FILTER;
#undef CH_CANDIDATES_FILTER
#undef CH_CANDIDATES_SELECT
#undef CH_ODD_ID
constexpr int kInstallTimeColumn = 6;
// The two columns after the record's: the ID is not a plain text; the time
// is an integer or NULL.
constexpr int kOddIdColumn = kPayloadColumns;
constexpr int kPlainTimeColumn = kPayloadColumns + 1;
// Products per scan: two name ranges.
constexpr std::size_t kProductsPerScan = 2;

const char kAnyInStateSql[] = "SELECT EXISTS (SELECT 1 FROM payloads WHERE installState = ?1)";
const char kAnySql[] = "SELECT EXISTS (SELECT 1 FROM payloads)";
const char kEncodingSql[] = "PRAGMA encoding";
const char kPayloadsTableTextSql[] = "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = 'payloads'";

void ReadRecord(const Row& row, PayloadRecord* record) {
  record->payloadID.assign(row.Text(0));
  record->productFamily.assign(row.Text(1));
  record->productName.assign(row.Text(2));
  record->version.assign(row.Text(3));
  record->signature.assign(row.Text(4));
  record->installState = row.Number(5);
  record->installTime = row.Number(kInstallTimeColumn);
}

bool IsProduct(const PayloadRecord& record, const ProductKey& product) {
  return record.productName == product.name && record.productFamily == product.family &&
         record.version == product.version;
}

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

// The stamp of the file at `path` when it can vouch for the file's content:
// a link's own stamp stays while what it leads to changes.
bool StampOfFile(const std::string& path, FileStamp* stamp) { return StampFile(path, stamp).ok() && !stamp->link; }

}  // namespace

namespace {

// The schema version "pdb.db" is brought to.
constexpr int kPayloadSchemaVersion = 1;

DatabaseOptions PayloadOptions() {
  DatabaseOptions options;
  options.steps = kPayloadSchemaSteps;
  options.targetVersion = kPayloadSchemaVersion;
  options.applySteps = true;
  return options;
}

}  // namespace

PayloadDatabase::PayloadDatabase(const std::string& folder)
    : connection_(folder, names::kPayloadsFile, PayloadOptions()) {}

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
    kept_.known = false;
    // Only inside a snapshot does a mark describe what the search reads.
    DatabaseConnection::ContentMark mark;
    const bool snapshot = connection_.InTransaction() && connection_.MarkContent(&mark).ok();
    ProductSearch search;
    Status status;
    if (!fs::CurrentFastPaths().oneScanSearch || !ScanForProducts(stateFilter, products, &search)) {
      search = ProductSearch();
      status = WalkForProducts(stateFilter, products, &search);
    }
    if (snapshot) kept_ = KeptSearch{true, mark, stateFilter, products, status, search};
    if (status.ok()) *out = std::move(search);
    return status;
  });
}

bool PayloadDatabase::RecallProductPayloads(int stateFilter, const ProductKey& product, Status* status,
                                            std::vector<ProductPayload>* out) {
  if (!fs::CurrentFastPaths().rememberedAnswers || !kept_.known || kept_.stateFilter != stateFilter) return false;
  const auto asked = std::find(kept_.products.begin(), kept_.products.end(), product);
  if (asked == kept_.products.end() || !connection_.InTransaction() || !connection_.ShowsContentOf(kept_.mark)) {
    return false;
  }
  *status = UnlessOutOfMemory(Code::kNoMemory, [&] {
    if (!kept_.status.ok()) return kept_.status;
    std::vector<ProductPayload> payloads = kept_.search.payloads[asked - kept_.products.begin()];
    *out = std::move(payloads);
    return Status();
  });
  return true;
}

bool PayloadDatabase::IsInstallersTable() {
  // In a UTF-16 file every text is converted on its way out and back in,
  // and an ID that is not valid UTF-16 reads back as another: such a file
  // is walked.
  std::string value;
  if (!connection_.QueryText(kEncodingSql, {}, &value).ok() || value != "UTF-8") return false;
  // With this text, PayloadID is a unique text key with binary collation:
  // a text ID without a NUL finds exactly its own row, and the list holds
  // each row once.
  return connection_.QueryText(kPayloadsTableTextSql, {}, &value).ok() && value == kPayloadsTableSql;
}

// When the payloads table is the installer's own (created with its text, in
// a UTF-8 database), one scan of it answers for two products at a time, each
// payload being read once. False, and the list is walked instead (in the
// same way as PayloadIDs and ReadPayload would), whenever the scan could
// answer otherwise than the walk: a selected payload whose ID is not a text
// or holds a NUL (its ID reads back as another), two of a product's payloads
// installed at the same time or one at a time that is not an integer (the
// list's order among them is SQLite's), any failure of the scan. The scan
// trusts the table's declared keys (IDs unique and not null), which SQLite
// keeps on every write: a damaged ID index that fails the reads of the walk
// is not consulted by the scan.
bool PayloadDatabase::ScanForProducts(int stateFilter, const std::vector<ProductKey>& products,
                                      ProductSearch* out) {
  // A NULL name reads as the empty text: an empty name would need every
  // NULL name selected too.
  for (const ProductKey& product : products) {
    if (product.name.empty()) return false;
  }
  if (!IsInstallersTable()) return false;
  out->payloads.resize(products.size());
  const bool inState = stateFilter != kPayloadStateAll;
  bool selectedAny = false;
  for (std::size_t first = 0; first < products.size(); first += kProductsPerScan) {
    // A lone last product is asked for twice.
    const std::size_t count = std::min(kProductsPerScan, products.size() - first);
    const ProductKey& one = products[first];
    const ProductKey& two = products[first + count - 1];
    const std::string oneEnd = one.name + '\x01';
    const std::string twoEnd = two.name + '\x01';
    // The install time of each product's last payload ("" for NULL): the
    // list's order between equal times is SQLite's own.
    std::vector<std::optional<std::string>> lastTimes(count);
    bool doubtful = false;
    PayloadRecord record;
    Status scanned = connection_.Query(inState ? kCandidatesInStateSql : kAllCandidatesSql,
                                       {stateFilter, one.name, oneEnd, two.name, twoEnd}, [&](const Row& row) {
      selectedAny = true;
      if (row.Number(kOddIdColumn) != 0) {
        doubtful = true;
        return false;
      }
      ReadRecord(row, &record);
      for (std::size_t i = 0; i < count; ++i) {
        if (!IsProduct(record, products[first + i])) continue;
        const std::string_view time = row.Text(kInstallTimeColumn);
        if (row.Number(kPlainTimeColumn) == 0 || (lastTimes[i] && *lastTimes[i] == time)) {
          doubtful = true;
          return false;
        }
        lastTimes[i] = std::string(time);
        out->payloads[first + i].push_back(ProductPayload{false, record});
      }
      return true;
    });
    if (!scanned.ok() || doubtful) return false;
  }
  if (selectedAny) return true;
  // No candidate: the list may still hold payloads, or none at all.
  std::string any;
  Status counted = inState ? connection_.QueryText(kAnyInStateSql, {stateFilter}, &any)
                           : connection_.QueryText(kAnySql, {}, &any);
  return counted.ok() && any == "1";
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

Status OpenPayloadDatabase(const std::string& folder, std::unique_ptr<PayloadDatabase>* out) {
  return OpenOrReopen(out, &PayloadDatabase::connection_, folder, names::kPayloadsFile,
                      [&] { return std::make_unique<PayloadDatabase>(folder); });
}

Status BackUpInstallerDatabase(const std::string& payloadFolder, const std::string& backupFolder,
                               BackupRecord* record) {
  if (!fs::CurrentFastPaths().backupRecord) record = nullptr;
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
    // The copy's stamp comes after its last change (its attributes). Taken
    // right after the module's own write, it vouches for that write.
    if (sourceStamped && StampOfFile(target, &targetStamp)) {
      targetStamp.racy = false;
      record->RememberIdentical(sourceStamp, targetStamp);
    }
    return status;
  });
}

}  // namespace customhooks::storage
