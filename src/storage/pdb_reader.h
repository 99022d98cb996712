// The payload database reader: "pdb.db", where the suite installer records
// every payload it installed, in the installer's folder that the caller
// names. The module only reads it; a missing file is created with the
// installer's empty schema, so that every query simply finds nothing.
// Beside it lies the installer's own "caps.db", of which
// BackUpInstallerDatabase keeps a copy.
//
// Every operation returns a Status with a code of storage_status.h
// (Code::kNoMemory when memory runs out) and never throws. Texts are UTF-8;
// values are copies the caller owns. Reads wait at most 2000 ms for a lock
// held by the installer and then give Code::kBusy.
#ifndef CUSTOMHOOKS_STORAGE_PDB_READER_H_
#define CUSTOMHOOKS_STORAGE_PDB_READER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "storage/database_connection.h"
#include "storage/storage_status.h"

namespace customhooks::storage {

// One row of the payloads table. A NULL text column reads as the empty
// text, a NULL or non-numeric number as 0.
struct PayloadRecord {
  std::string payloadID;
  std::string productFamily;
  std::string productName;
  std::string version;
  std::string signature;
  std::int32_t installState = 0;
  std::int32_t installTime = 0;
};

// Install state filter of PayloadIDs: 0 to 3 select the payloads in that
// state, 4 selects every payload.
constexpr int kPayloadStateAll = 4;

// A product as the payloads table names it.
struct ProductKey {
  std::string family;
  std::string name;
  std::string version;
};

// One payload that a search for a product meets: either the product's own
// (`record` as ReadPayload reads it, its family, name and version equal to
// the product's byte for byte), or a listed payload whose row could not be
// read (`readFailed`, `record` empty).
struct ProductPayload {
  bool readFailed = false;
  PayloadRecord record;
};

// The answer of FindProductPayloads.
struct ProductSearch {
  // For each product asked for, in the order asked, the payloads it meets
  // in the order of the payload list.
  std::vector<std::vector<ProductPayload>> payloads;
  // True when the answer was found by reading each listed payload in turn
  // rather than by one scan of the table.
  bool walkedTheList = false;
};

// The open payload database. Destroying it closes it.
class PayloadDatabase {
 public:
  // Use OpenPayloadDatabase.
  explicit PayloadDatabase(const std::string& folder);

  // The IDs of the payloads selected by `stateFilter`, each once, by
  // ascending install time (NULL times first). Code::kNotFound, `*out`
  // untouched, when none matches; Code::kInvalidArgument for a filter
  // outside 0 to 4.
  Status PayloadIDs(int stateFilter, TextList* out);

  // Fills `*record` from the first row SQLite gives for payload `id`.
  // Code::kNotFound when there is no such row, Code::kDatabaseError when the
  // payloads table does not have the seven expected columns; `*record` is
  // untouched unless the result is success.
  Status ReadPayload(std::string_view id, PayloadRecord* record);

  // For each of `products`, what reading every payload of
  // PayloadIDs(stateFilter) in turn with ReadPayload meets: the payloads that
  // are the product, and the payloads whose read fails. Same status as
  // PayloadIDs (Code::kNotFound when no payload is selected,
  // Code::kInvalidArgument for a null `out` or a filter outside 0 to 4);
  // `*out` is untouched unless the result is success.
  //
  // When the payloads table is the installer's own (created with its text,
  // in a UTF-8 database) one scan of it answers for two products at a time,
  // each payload being read once. The list is walked instead, in the same
  // way as PayloadIDs and ReadPayload would, whenever that scan could answer
  // otherwise: a selected payload whose ID is not a text or holds a NUL (its
  // ID reads back as another), two of a product's payloads installed at the
  // same time or one at a time that is not an integer (the list's order
  // among them is SQLite's), any failure of the scan. The scan trusts the
  // table's declared keys (IDs unique and not null), which SQLite keeps on
  // every write: a damaged ID index that fails the reads of the walk is not
  // consulted by the scan.
  //
  // Call it inside BeginRead, so that the scan, the list and the reads see
  // one snapshot.
  Status FindProductPayloads(int stateFilter, const std::vector<ProductKey>& products, ProductSearch* out);

  // The value of payload `id`'s data (`domain`, `key`) in `*value` (a NULL
  // value reads as the empty text); Code::kNotFound, `*value` untouched,
  // when there is none.
  Status PayloadData(std::string_view id, int domain, std::string_view key, std::string* value);

  // A read transaction: every read until it ends sees one snapshot of the
  // file and takes no lock of its own (the first one takes the shared lock,
  // which the transaction's end gives back; its Commit changes nothing). It
  // must end before the database closes.
  Transaction BeginRead() { return Transaction(connection_); }

  // Forces "pdb.db" to disk when this handle created it (the only write it
  // ever makes) and closes it. The status of closing.
  Status Close() { return connection_.Close(); }

 private:
  friend Status OpenPayloadDatabase(const std::string&, std::unique_ptr<PayloadDatabase>*);
  static constexpr int kPayloadSchemaVersion = 1;
  // The scan of FindProductPayloads; false when the list must be walked.
  bool ScanForProducts(int stateFilter, const std::vector<ProductKey>& products, ProductSearch* out);
  bool IsInstallersTable();
  Status WalkForProducts(int stateFilter, const std::vector<ProductKey>& products, ProductSearch* out);
  DatabaseConnection connection_;
};

// Opens "pdb.db" in `folder`, creating the folder and the file when missing.
// On success `*out` holds the database; otherwise `*out` is empty:
// Code::kInvalidArgument for an empty `folder`, else the status of opening
// (Code::kSchemaTooNew for a database that requires a schema newer than
// version 1, Code::kBusy when it stays locked, Code::kAccessRefused when it
// can't be opened).
Status OpenPayloadDatabase(const std::string& folder, std::unique_ptr<PayloadDatabase>* out);

// Brings the copy of the installer's "caps.db" (in `payloadFolder`) in
// `backupFolder` up to date. A backup that already holds the same bytes is
// left as it is; otherwise the target is replaced whole or not at all.
// Code::kNotFound when there is nothing to copy (no "caps.db", an empty
// `backupFolder`) or a path can't be built, Code::kFileError when the backup
// folder can't be created or the copy fails.
Status BackUpInstallerDatabase(const std::string& payloadFolder, const std::string& backupFolder);

}  // namespace customhooks::storage

#endif  // CUSTOMHOOKS_STORAGE_PDB_READER_H_
