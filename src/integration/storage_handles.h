// The product's databases as the integration work opens them: in the
// product's folders (product_folders.h), each through the pass's
// SessionDatabases.
//
// A pass opens the same databases many times: for each product, its locale
// fix-up, its driver records and its agreement records. Each open is
// reported, logged and acted on exactly as a new connection's would be.
// With the pass's shortcuts (PassShortcuts), the pass keeps its connections
// and reopens them (storage::DatabaseConnection::Reopen): the files are
// read, locked and checked as before, and a kept connection need not load
// its schema again.
//
// How closing went is not examined. No step of the pass logs it or acts on
// it: each record's own outcome was logged when it was written.
#ifndef CUSTOMHOOKS_INTEGRATION_STORAGE_HANDLES_H_
#define CUSTOMHOOKS_INTEGRATION_STORAGE_HANDLES_H_

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fs/access.h"
#include "integration/integration_pass.h"
#include "storage/backup_record.h"
#include "storage/pcd_store.h"
#include "storage/pdb_reader.h"
#include "storage/shortcuts.h"

namespace customhooks::integration {

// One database's connections in a pass: each is either in use by its
// handles or free for the next open of that database.
template <typename Database>
class ConnectionPool {
 public:
  struct Entry {
    std::unique_ptr<Database> database;
    int users = 0;
  };

  // A free entry (its database kept open, or empty), taken for one handle;
  // a new one when every entry is in use. Throws std::bad_alloc.
  Entry& Take() {
    for (const std::unique_ptr<Entry>& entry : entries_) {
      if (entry->users == 0) return Mark(*entry);
    }
    entries_.push_back(std::make_unique<Entry>());
    return Mark(*entries_.back());
  }

  // The first entry in use with an open database, or null.
  Entry* InUse() const {
    for (const std::unique_ptr<Entry>& entry : entries_) {
      if (entry->users != 0 && entry->database) return entry.get();
    }
    return nullptr;
  }

 private:
  static Entry& Mark(Entry& entry) {
    entry.users = 1;
    return entry;
  }
  std::vector<std::unique_ptr<Entry>> entries_;
};

// The connections of one pass. A handle opened while another handle of the
// same database is open gets a connection of its own. Its open, and how that
// open fails, never touch the other's. With kept connections, a payload
// database's second handle shares the first's connection where a reopen
// would keep it (storage::PayloadDatabase::ReopenShared). Destroying it
// closes the connections.
// REQUIRES: it outlives every handle opened through it.
class SessionDatabases {
 public:
  explicit SessionDatabases(const PassShortcuts& shortcuts = {});
  SessionDatabases(const SessionDatabases&) = delete;
  SessionDatabases& operator=(const SessionDatabases&) = delete;

 private:
  friend class PayloadConnection;
  friend bool OpenConfigurationDatabase(SessionDatabases&, class StoreConnection*);
  friend bool OpenCacheDatabase(SessionDatabases&, class StoreConnection*);

  // The folders the pass granted, and the shortcuts each open gets.
  fs::GrantsOnce grants_;
  storage::Shortcuts shortcuts_;
  // What the pass's backups of "caps.db" found, with the backup record.
  std::optional<storage::BackupRecord> backup_;
  ConnectionPool<storage::PayloadDatabase> payloads_;
  ConnectionPool<storage::DomainStore> configuration_;
  ConnectionPool<storage::DomainStore> cache_;
};

// The payload database in the product's payload folder. Closing an open one
// (Close, or destruction) also backs up the installer's "caps.db" into the
// product's backup folder, with the pass's backup record.
class PayloadConnection {
 public:
  explicit PayloadConnection(SessionDatabases& databases) : databases_(databases) {}
  ~PayloadConnection() { Close(); }
  PayloadConnection(const PayloadConnection&) = delete;
  PayloadConnection& operator=(const PayloadConnection&) = delete;

  // Closes what is open, then opens. False, nothing open, when the folder
  // cannot be located or the database cannot be opened. Without a backup
  // folder nothing is backed up.
  bool Open();
  // Backs "caps.db" up, then closes; nothing when not open.
  void Close();

  explicit operator bool() const { return database_ != nullptr; }
  storage::PayloadDatabase* operator->() const { return database_->database.get(); }
  storage::PayloadDatabase& operator*() const { return *database_->database; }

 private:
  SessionDatabases& databases_;
  ConnectionPool<storage::PayloadDatabase>::Entry* database_ = nullptr;
  std::string folder_;
  std::string backupFolder_;
};

// An open configuration or cache database. Closing it (reset, or
// destruction) rolls back a transaction still open and forces what it
// changed to disk.
class StoreConnection {
 public:
  StoreConnection() = default;
  ~StoreConnection() { reset(); }
  StoreConnection(StoreConnection&& other) noexcept : entry_(other.entry_) { other.entry_ = nullptr; }
  StoreConnection& operator=(StoreConnection&& other) noexcept;
  StoreConnection(const StoreConnection&) = delete;
  StoreConnection& operator=(const StoreConnection&) = delete;

  void reset();
  explicit operator bool() const { return entry_ != nullptr; }
  storage::DomainStore* operator->() const { return entry_->database.get(); }
  storage::DomainStore& operator*() const { return *entry_->database; }

 private:
  using Entry = ConnectionPool<storage::DomainStore>::Entry;
  friend bool OpenConfigurationDatabase(SessionDatabases&, StoreConnection*);
  friend bool OpenCacheDatabase(SessionDatabases&, StoreConnection*);
  // Takes `entry` when it holds an open store; gives an empty one back.
  void Hold(Entry& entry);
  Entry* entry_ = nullptr;
};

// The configuration store on the product's configuration and cache folders
// (storage::OpenConfigurationStore). False when the folders cannot be
// located or opening fails. `*pcd` then holds whatever store was handed out:
// when only the cache database fails, the configuration store is open.
bool OpenConfigurationDatabase(SessionDatabases& databases, StoreConnection* pcd);

// The cache database in the product's cache folder. False, `*cache` empty,
// when the folder cannot be located or the database cannot be opened.
bool OpenCacheDatabase(SessionDatabases& databases, StoreConnection* cache);

}  // namespace customhooks::integration

#endif  // CUSTOMHOOKS_INTEGRATION_STORAGE_HANDLES_H_
