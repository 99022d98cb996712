// The payloads table's rows as the reader and its scan read them (internal
// to the payload reader).
#ifndef CUSTOMHOOKS_STORAGE_PAYLOAD_ROWS_H_
#define CUSTOMHOOKS_STORAGE_PAYLOAD_ROWS_H_

#include "storage/database_connection.h"
#include "storage/pdb_reader.h"

namespace customhooks::storage::payload_rows {

// The payload query's seven columns, in PayloadRecord's order.
constexpr int kPayloadColumns = 7;
constexpr int kInstallTimeColumn = 6;

// Reads the seven columns of `row` into `*record`.
inline void ReadRecord(const Row& row, PayloadRecord* record) {
  record->payloadID.assign(row.Text(0));
  record->productFamily.assign(row.Text(1));
  record->productName.assign(row.Text(2));
  record->version.assign(row.Text(3));
  record->signature.assign(row.Text(4));
  record->installState = row.Number(5);
  record->installTime = row.Number(kInstallTimeColumn);
}

// True when `record` is `product`'s, byte for byte.
inline bool IsProduct(const PayloadRecord& record, const ProductKey& product) {
  return record.productName == product.name && record.productFamily == product.family &&
         record.version == product.version;
}

}  // namespace customhooks::storage::payload_rows

#endif  // CUSTOMHOOKS_STORAGE_PAYLOAD_ROWS_H_
