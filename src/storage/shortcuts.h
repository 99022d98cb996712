// The storage layer's shortcuts. Whoever runs a pass chooses them and hands
// them to each open; nothing else switches them. Each one gives the
// statuses, reads and files that its plain twin (the field off) gives, for
// less work, except for the known differences its own header states
// (DatabaseConnection::Reopen, storage/backup_record.h). Tests compare the
// two while another process acts. With a field off, none of its stamps,
// reads or marks are taken.
#ifndef CUSTOMHOOKS_STORAGE_SHORTCUTS_H_
#define CUSTOMHOOKS_STORAGE_SHORTCUTS_H_

#include "fs/access.h"

namespace customhooks::storage {

struct Shortcuts {
  // Opening a database the caller already holds reopens it, keeping
  // SQLite's connection while it still serves the file as a new one would
  // (kept_connection.cpp). Plain: every open is a new connection.
  bool keptConnections = false;
  // A product's search is recalled from the snapshot's earlier search while
  // the file is unchanged (payload_recall.cpp). Plain: searched afresh.
  bool rememberedAnswers = false;
  // A product search scans the payloads table once (payload_scan.cpp).
  // Plain: it walks the payload list, reading each payload.
  bool oneScanSearch = false;
  // A database's folder is granted its access once in the pass
  // (fs::GrantFolderAccess). Null, plain: every open grants.
  fs::GrantsOnce* grantsOnce = nullptr;
};

}  // namespace customhooks::storage

#endif  // CUSTOMHOOKS_STORAGE_SHORTCUTS_H_
