// SQLite's file layer for databases in a folder that others can write.
//
// The cache database lives in a folder that every user can write, while the
// module runs elevated. The VFS named here wraps the platform's default one.
// By name, it lets SQLite use only the database and its own rollback
// journal:
// - the database's folder is held open (fs::HeldFolder) while the database
//   is. Both files are opened relative to it through the checked open call
//   of fs/shared_folder.h: no link planted there is followed, no pipe or
//   device is taken, and no file outside the folder is created or written;
// - the journal is deleted by its name relative to that folder;
// - any other named file (a super-journal, a write-ahead log) is refused.
//   Asked whether a file exists, the VFS says no for all but the database's
//   own files;
// - neither file may grow past 64 MiB (SQLITE_FULL), whatever a planted
//   journal claims;
// - a database past 64 MiB, or by its header larger, is neither read
//   (SQLITE_IOERR_READ) nor begun to be written (SQLITE_FULL at the write
//   lock): no journal is left behind that could not be rolled back;
// - a schema of more than 256 entries, or of records adding up to more than
//   256 KiB, is not read (SQLITE_IOERR_READ): SQLite would parse every entry
//   as it loads the schema. It is counted from the schema tree's own pages
//   whenever SQLite reads the first page whole.
#ifndef CUSTOMHOOKS_STORAGE_SHARED_FOLDER_VFS_H_
#define CUSTOMHOOKS_STORAGE_SHARED_FOLDER_VFS_H_

#include <cstdint>

namespace customhooks::storage {

// How large the database or its journal may grow through this VFS, and
// how large a schema it lets SQLite load.
constexpr std::int64_t kSharedFolderLargestFile = std::int64_t{64} << 20;
constexpr int kSharedFolderMostSchemaEntries = 256;
constexpr std::int64_t kSharedFolderMostSchemaBytes = std::int64_t{256} << 10;

// The file size a database header gives (its first 32 bytes at least):
// its page count times its page size, as the VFS bounds it; 0 when the
// header names no valid page size.
std::int64_t SizeInDatabaseHeader(const unsigned char* header);

// The VFS's name for sqlite3_open_v2. The first call registers the VFS (not
// as the default) and installs the checked open call in the default VFS's
// system-call table; both are taken back when the module is unloaded. Null
// when the default VFS has no replaceable open call: a database that needs
// this VFS must then not be opened. Thread-safe.
const char* SharedFolderVfs();

}  // namespace customhooks::storage

#endif  // CUSTOMHOOKS_STORAGE_SHARED_FOLDER_VFS_H_
