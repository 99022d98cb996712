// The payload database reader. The suite installer records every payload it
// installed in "pdb.db", which lies in the installer's folder; the caller
// names that folder. The module only reads the file. A missing file is
// created with the installer's empty schema, so that every query finds
// nothing. Beside it lies the installer's own "caps.db", which
// BackUpInstallerDatabase copies.
//
// Every operation returns a Status (storage_status.h; Code::kNoMemory when
// memory runs out) and never throws. Texts are UTF-8; values are copies the
// caller owns. A lock the installer holds is waited for at most 2000 ms, then
// the call gives Code::kBusy.
#ifndef CUSTOMHOOKS_STORAGE_PDB_READER_H_
#define CUSTOMHOOKS_STORAGE_PDB_READER_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "storage/backup_record.h"
#include "storage/database_connection.h"
#include "storage/shortcuts.h"
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

  friend bool operator==(const ProductKey& a, const ProductKey& b) {
    return a.family == b.family && a.name == b.name && a.version == b.version;
  }
};

// One payload that a search for a product meets. Either it is the product's
// own: `record` as ReadPayload reads it, with the product's family, name and
// version byte for byte. Or it is a listed payload whose row could not be
// read: `readFailed` is set and `record` is empty.
struct ProductPayload {
  bool readFailed = false;
  PayloadRecord record;
};

// The answer of FindProductPayloads.
struct ProductSearch {
  // For each product asked for, in the order asked, the payloads it meets
  // in the order of the payload list.
  std::vector<std::vector<ProductPayload>> payloads;
  // True when the answer was found by reading each listed payload in turn.
  bool walkedTheList = false;
};

// The open payload database. Destroying it closes it.
class PayloadDatabase {
 public:
  // Use OpenPayloadDatabase.
  PayloadDatabase(const std::string& folder, const Shortcuts& shortcuts = {});

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

  // For each of `products`, what reading each payload of
  // PayloadIDs(stateFilter) in turn with ReadPayload meets: the payloads that
  // are the product, and those whose read fails. Statuses as PayloadIDs';
  // also Code::kInvalidArgument for a null `out`. `*out` is untouched unless
  // the result is success. Call it inside BeginRead, so that the search sees
  // one snapshot; there, with Shortcuts::rememberedAnswers, its status and
  // answer are kept for RecallProductPayloads.
  Status FindProductPayloads(int stateFilter, const std::vector<ProductKey>& products, ProductSearch* out);

  // `product`'s part of the kept search, without reading the table. Given
  // when that search asked for `product` with the same `stateFilter`, and the
  // open read transaction reads the file unchanged since
  // (DatabaseConnection::ShowsContentOf). Then true: `*status` is the
  // search's status (or Code::kNoMemory) and, on success, `*out` holds the
  // product's payloads. Otherwise false, nothing given: the caller searches.
  // Always false without Shortcuts::rememberedAnswers.
  bool RecallProductPayloads(int stateFilter, const ProductKey& product, Status* status,
                             std::vector<ProductPayload>* out);

  // The value of payload `id`'s data (`domain`, `key`) in `*value` (a NULL
  // value reads as the empty text); Code::kNotFound, `*value` untouched,
  // when there is none.
  Status PayloadData(std::string_view id, int domain, std::string_view key, std::string* value);

  // A read transaction: every read until it ends sees one snapshot of the
  // file. The first read takes the shared lock, and the end gives it back.
  // Its Commit changes nothing.
  // REQUIRES: it ends before the database closes.
  Transaction BeginRead() { return Transaction(connection_, Intent::kRead); }

  // Opens the database in `folder` for a second handle while the handle
  // that opened it goes on using it (DatabaseConnection::ReopenShared).
  // Nothing when it is another folder's, or its connection would not be
  // kept: the second handle then opens a database of its own.
  std::optional<Status> ReopenShared(const std::string& folder);

  // Rolls back a transaction still open: the database is ready for the
  // pass's next open (DatabaseConnection::Settle).
  void Settle() { connection_.Settle(); }

  // Closes the database. The status of closing.
  Status Close() { return connection_.Close(); }

 private:
  friend Status OpenPayloadDatabase(const std::string&, std::unique_ptr<PayloadDatabase>*, const Shortcuts&);
  Status Search(int stateFilter, const std::vector<ProductKey>& products, ProductSearch* out);
  Status WalkForProducts(int stateFilter, const std::vector<ProductKey>& products, ProductSearch* out);
  // The one-scan search (payload_scan.cpp).
  bool ScanForProducts(int stateFilter, const std::vector<ProductKey>& products, ProductSearch* out);
  bool IsInstallersTable();
  // Remembered answers (payload_recall.cpp): the last search made inside a
  // read transaction, with the state of the file it read.
  Status SearchAndRemember(int stateFilter, const std::vector<ProductKey>& products, ProductSearch* out);
  struct KeptSearch {
    bool known = false;
    DatabaseConnection::ContentMark mark;
    int stateFilter = 0;
    std::vector<ProductKey> products;
    Status status;
    ProductSearch search;
  };
  KeptSearch kept_;
  Shortcuts shortcuts_;
  DatabaseConnection connection_;
};

// Opens "pdb.db" in `folder`, creating the folder and the file when missing.
// On success `*out` holds the database; otherwise `*out` is empty.
// Code::kInvalidArgument for an empty `folder`; else the status of opening
// (Code::kSchemaTooNew for a file that requires a schema newer than version
// 1, Code::kBusy when it stays locked, Code::kAccessRefused when it can't be
// opened). With Shortcuts::keptConnections, a database `*out` already holds
// for that folder is reopened (DatabaseConnection::Reopen): the same outcome
// as a new open, at a fraction of the cost.
// REQUIRES: no read transaction of `*out` is open.
Status OpenPayloadDatabase(const std::string& folder, std::unique_ptr<PayloadDatabase>* out,
                           const Shortcuts& shortcuts = {});

// Brings the copy of the installer's "caps.db" (in `payloadFolder`) in
// `backupFolder` up to date. A copy that already holds the same bytes is
// left as it is; otherwise it is replaced whole or not at all. With a
// `record` (a shortcut, storage/backup_record.h), a copy the record knows
// identical is left without comparing the files, and the record learns what
// this backup found. Without one, the files are compared every time.
// Code::kNotFound when there is nothing to copy (no "caps.db", an empty
// `backupFolder`) or a path can't be built; Code::kFileError when the backup
// folder can't be created or the copy fails.
Status BackUpInstallerDatabase(const std::string& payloadFolder, const std::string& backupFolder,
                               BackupRecord* record = nullptr);

}  // namespace customhooks::storage

#endif  // CUSTOMHOOKS_STORAGE_PDB_READER_H_
