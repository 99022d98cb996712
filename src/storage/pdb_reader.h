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

#include "fs/files.h"
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

  friend bool operator==(const ProductKey& a, const ProductKey& b) {
    return a.family == b.family && a.name == b.name && a.version == b.version;
  }
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
  // True when the answer was found by reading each listed payload in turn.
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
  // Code::kInvalidArgument for a filter outside 0 to 4), and
  // Code::kInvalidArgument for a null `out`; `*out` is untouched unless the
  // result is success. Call it inside BeginRead, so that the search sees one
  // snapshot; there, the database keeps the search's status and answer for
  // RecallProductPayloads.
  Status FindProductPayloads(int stateFilter, const std::vector<ProductKey>& products, ProductSearch* out);

  // Gives `product`'s part of the kept search, without reading the table,
  // when that search asked for `product` with the same `stateFilter` and the
  // read transaction open now reads the file unchanged since
  // (DatabaseConnection::ShowsContentOf). Then true: `*status` is the
  // search's status (Code::kNoMemory when memory runs out) and, on success,
  // `*out` holds the product's payloads, as FindProductPayloads would give
  // them now. Otherwise false, nothing given: the caller searches. Always
  // false while remembered answers are off (fs::FastPaths).
  bool RecallProductPayloads(int stateFilter, const ProductKey& product, Status* status,
                             std::vector<ProductPayload>* out);

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
  // ever makes).
  void Flush() { connection_.Flush(); }
  // Readies the database for another open of the pass
  // (DatabaseConnection::Settle): a transaction still open is rolled back,
  // then Flush.
  void Settle() { connection_.Settle(); }

  // Flush, then closes the database. The status of closing.
  Status Close() { return connection_.Close(); }

 private:
  friend Status OpenPayloadDatabase(const std::string&, std::unique_ptr<PayloadDatabase>*);
  static constexpr int kPayloadSchemaVersion = 1;
  bool ScanForProducts(int stateFilter, const std::vector<ProductKey>& products, ProductSearch* out);
  bool IsInstallersTable();
  Status WalkForProducts(int stateFilter, const std::vector<ProductKey>& products, ProductSearch* out);

  // The last search made inside a read transaction, with the state of the
  // file it read.
  struct KeptSearch {
    bool known = false;
    DatabaseConnection::ContentMark mark;
    int stateFilter = 0;
    std::vector<ProductKey> products;
    Status status;
    ProductSearch search;
  };
  KeptSearch kept_;
  DatabaseConnection connection_;
};

// Opens "pdb.db" in `folder`, creating the folder and the file when missing.
// On success `*out` holds the database; otherwise `*out` is empty:
// Code::kInvalidArgument for an empty `folder`, else the status of opening
// (Code::kSchemaTooNew for a database that requires a schema newer than
// version 1, Code::kBusy when it stays locked, Code::kAccessRefused when it
// can't be opened). When `*out` already holds the database of that folder,
// it is reopened (DatabaseConnection::Reopen): the same outcome as a new
// one's, for a fraction of the cost. No read transaction of it may be open.
Status OpenPayloadDatabase(const std::string& folder, std::unique_ptr<PayloadDatabase>* out);

// What backups of "caps.db" learnt about the installer's file and its copy,
// kept by the caller from one backup to the next (a session holds one for
// its backups); a new record knows nothing. After a backup found the copy
// holding the source's bytes, or wrote them, it holds the stamps
// (fs::FileStamp) of both files, taken so that any later change shows in a
// later stamp. A backup that finds both stamps unchanged (same file, size,
// last-write and change time) knows the copy identical without reading
// either file.
//
// A stamp taken within the file system's timestamp granularity of the
// file's last write (fs::FileStamp::racy) vouches for nothing: the next
// backup compares the files. The copy's stamp taken right after the
// module's own write is the exception, as the copy is the module's. A
// change goes unseen only when it keeps the file's identity and size and
// leaves its times as they were: another writer's change to the copy
// within the granularity of the module's write; where the
// file system records a writer's times only when it closes the file or
// changes its size (NTFS delays them for cached writes), a same-size write
// through a handle still open; and a change made to the copy between its
// write and its stamp. A file found under a link is never vouched for by a stamp,
// whose own stays while what it leads to changes.
class BackupRecord {
 public:
  // Whether the copy was known identical to the source when the files had
  // exactly these stamps.
  bool KnowsIdentical(const fs::FileStamp& source, const fs::FileStamp& target) const {
    return known_ && source.Vouches(source_) && target.Vouches(target_);
  }
  void RememberIdentical(const fs::FileStamp& source, const fs::FileStamp& target) {
    source_ = source;
    target_ = target;
    known_ = true;
  }
  void Forget() { known_ = false; }

 private:
  bool known_ = false;
  fs::FileStamp source_;
  fs::FileStamp target_;
};

// Brings the copy of the installer's "caps.db" (in `payloadFolder`) in
// `backupFolder` up to date. A backup that already holds the same bytes is
// left as it is; otherwise the target is replaced whole or not at all.
// With a `record` (see BackupRecord), a backup it knows identical is left
// without comparing the files, and the record learns what this backup
// found; without one, the files are compared every time.
// Code::kNotFound when there is nothing to copy (no "caps.db", an empty
// `backupFolder`) or a path can't be built, Code::kFileError when the backup
// folder can't be created or the copy fails.
Status BackUpInstallerDatabase(const std::string& payloadFolder, const std::string& backupFolder,
                               BackupRecord* record = nullptr);

}  // namespace customhooks::storage

#endif  // CUSTOMHOOKS_STORAGE_PDB_READER_H_
