// The one-scan product search, a shortcut (storage/shortcuts.h): one scan
// of the installer's payloads table answers for two products at a time,
// where the plain search walks the payload list.
#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "storage/database_connection.h"
#include "storage/payload_rows.h"
#include "storage/pdb_reader.h"
#include "storage/schema_steps.h"
#include "storage/storage_status.h"

namespace customhooks::storage {

using payload_rows::IsProduct;
using payload_rows::kInstallTimeColumn;
using payload_rows::kPayloadColumns;
using payload_rows::ReadRecord;

namespace {

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

}  // namespace

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

}  // namespace customhooks::storage
