// Remembered answers, a shortcut (storage/shortcuts.h): a product search
// made in a snapshot is kept, with a mark of what it read, and recalled in a
// later snapshot that reads the file unchanged since.
#include <algorithm>
#include <utility>
#include <vector>

#include "storage/database_connection.h"
#include "storage/pdb_reader.h"
#include "storage/storage_status.h"

namespace customhooks::storage {

Status PayloadDatabase::SearchAndRemember(int stateFilter, const std::vector<ProductKey>& products,
                                          ProductSearch* out) {
  kept_.known = false;
  // Only inside a snapshot does a mark describe what the search reads.
  DatabaseConnection::ContentMark mark;
  const bool snapshot = connection_.InTransaction() && connection_.MarkContent(&mark).ok();
  ProductSearch search;
  Status status = Search(stateFilter, products, &search);
  if (snapshot) kept_ = KeptSearch{true, mark, stateFilter, products, status, search};
  if (status.ok()) *out = std::move(search);
  return status;
}

bool PayloadDatabase::RecallProductPayloads(int stateFilter, const ProductKey& product, Status* status,
                                            std::vector<ProductPayload>* out) {
  if (!shortcuts_.rememberedAnswers || !kept_.known || kept_.stateFilter != stateFilter) return false;
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

}  // namespace customhooks::storage
