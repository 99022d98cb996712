// The configuration database store: the configuration database "pcd.db" and
// the cache database "cache.db", each in a folder the caller names. Every
// user can write the cache's folder. Both hold records in the table
// domain_data, addressed by a domain number, a subdomain and a key. A
// missing file is created with its schema.
//
// Every operation returns a Status (storage_status.h; Code::kNoMemory when
// memory runs out) and never throws. Texts are UTF-8. Values are copies the
// caller owns.
//
// A change outside a Transaction (Begin) is committed on its own. Changes
// inside one are committed together by its Commit, or rolled back when it
// ends without one. Reads in a transaction see its pending changes. Other
// processes share the files; a lock one of them holds for more than 2000 ms
// gives Code::kBusy.
#ifndef CUSTOMHOOKS_STORAGE_PCD_STORE_H_
#define CUSTOMHOOKS_STORAGE_PCD_STORE_H_

#include <memory>
#include <string>
#include <string_view>

#include "storage/database_connection.h"
#include "storage/storage_status.h"

namespace customhooks::storage {

enum class DomainFile {
  kConfiguration,  // "pcd.db"; its folder is shared for reading only
  kCache,          // "cache.db"; its folder is shared for writing by every user
};

// One open configuration or cache database. Destroying it closes it.
class DomainStore {
 public:
  // Use OpenDomainStore or OpenConfigurationStore.
  DomainStore(DomainFile file, const std::string& folder, const Shortcuts& shortcuts = {});

  // Reads the value of (`domain`, `subdomain`, `key`) into `*value` (a
  // record whose value is NULL reads as the empty text); Code::kNotFound,
  // `*value` untouched, when no record matches.
  Status Get(int domain, std::string_view subdomain, std::string_view key, std::string* value);

  // Stores `value` for (`domain`, `subdomain`, `key`), replacing an existing
  // record. Code::kConstraint for a constraint violation, Code::kBusy when
  // another process keeps the write lock. After a failure, an open
  // transaction stays open with its earlier changes pending.
  Status Set(int domain, std::string_view subdomain, std::string_view key, std::string_view value);

  // Stores `value` as Set does, unless the record of (`domain`,
  // `subdomain`, `key`) already holds exactly that text: then nothing is
  // written, and the file stays as it was.
  Status SetIfChanged(int domain, std::string_view subdomain, std::string_view key, std::string_view value);

  // Deletes the record of (`domain`, `subdomain`, `key`); success also when
  // there is none.
  Status Delete(int domain, std::string_view subdomain, std::string_view key);

  // Begins a unit of changes of this store: it takes the write lock at its
  // first change (Transaction).
  // REQUIRES: it ends before the store closes.
  Transaction Begin() { return Transaction(connection_, Intent::kWrite); }

  // Rolls back a transaction still open: the database is ready for the
  // pass's next open (DatabaseConnection::Settle).
  void Settle() { connection_.Settle(); }

  // Closes the database. The status of closing.
  Status Close() { return connection_.Close(); }

 private:
  friend Status OpenDomainStore(DomainFile, const std::string&, std::unique_ptr<DomainStore>*, const Shortcuts&);
  DatabaseConnection connection_;
};

// Opens the database `file` in `folder`, creating the folder chain and the
// file when missing. On success `*out` holds the store; otherwise `*out` is
// empty. Code::kInvalidArgument for an empty folder; else the status of
// opening, as DatabaseConnection's constructor lists them (Code::kSchemaTooNew
// for a file that requires a newer schema, Code::kBusy when it stays
// locked, ...). With Shortcuts::keptConnections, a store `*out` already
// holds for that file and folder is reopened (DatabaseConnection::Reopen):
// the same outcome as a new open, at a fraction of the cost.
// REQUIRES: no transaction of `*out` is open.
Status OpenDomainStore(DomainFile file, const std::string& folder, std::unique_ptr<DomainStore>* out,
                       const Shortcuts& shortcuts = {});

// Opens the configuration database in `folder` into `*out`, then makes sure
// the cache database in `cacheFolder` exists with its schema, opening it
// into `*cache` (both as OpenDomainStore does); with
// no `cache`, the cache database is closed again. The status of opening the
// configuration database, `*out` empty, when that fails. When only the
// cache database can't be prepared, its status is returned and `*out` still
// holds the open configuration store.
Status OpenConfigurationStore(const std::string& folder, const std::string& cacheFolder,
                              std::unique_ptr<DomainStore>* out, std::unique_ptr<DomainStore>* cache = nullptr,
                              const Shortcuts& shortcuts = {});

}  // namespace customhooks::storage

#endif  // CUSTOMHOOKS_STORAGE_PCD_STORE_H_
