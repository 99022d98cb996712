// SQLite's file layer for databases in a folder that others can write.
//
// The cache database lives in a folder that every user can write, while the
// module runs elevated. The VFS named here wraps the platform's default one:
// every file it opens by name (the database, its journal) is opened through
// the checked open call of fs/shared_folder.h, in the folder that SQLite
// names, so that no link planted there is ever followed and no file outside
// the folder is created or written. A write-ahead log is refused: its shared
// memory would be opened outside that check. A journal name that has become
// a link is not deleted (Wine would delete what it leads to).
#ifndef CUSTOMHOOKS_STORAGE_SHARED_FOLDER_VFS_H_
#define CUSTOMHOOKS_STORAGE_SHARED_FOLDER_VFS_H_

namespace customhooks::storage {

// The VFS's name for sqlite3_open_v2, registered (not as the default) on
// the first call, which also installs the checked open call in the default
// VFS's system-call table; both are taken back when the module is unloaded.
// Null when the default VFS has no replaceable open call: a database that
// needs this VFS must then not be opened.
const char* SharedFolderVfs();

}  // namespace customhooks::storage

#endif  // CUSTOMHOOKS_STORAGE_SHARED_FOLDER_VFS_H_
