// The backup record, a shortcut of the backup of the installer's "caps.db"
// (BackUpInstallerDatabase, storage/pdb_reader.h): what backups learnt about
// the installer's file and its copy. The caller keeps one record from one
// backup to the next (a pass holds one for its backups); a new record knows
// nothing. With it, a backup that finds both files unchanged since a backup
// found them identical reads neither file. Without one, the plain backup
// compares the files every time.
//
// Known difference from comparing every time: a change that leaves the
// file's identity, size and times as they were (fs::FileStamp) goes unseen.
// Such is a same-size write through a handle still open, where times are
// recorded only at close or a size change (NTFS cached writes).
#ifndef CUSTOMHOOKS_STORAGE_BACKUP_RECORD_H_
#define CUSTOMHOOKS_STORAGE_BACKUP_RECORD_H_

#include <string>

#include "fs/files.h"

namespace customhooks::storage {

class BackupRecord {
 public:
  // Stamps both files, before either is read: a change made while they are
  // read shows in the next stamps. True when the record knew the copy
  // identical to the source at exactly these stamps, and they vouch for
  // the files (neither is racy nor a link). Otherwise the record forgets
  // what it knew, and keeps the stamps for RememberIdentical.
  bool KnowsIdentical(const std::string& source, const std::string& target);

  // The files were found identical: the stamps KnowsIdentical took last
  // are known identical from now on.
  void RememberIdentical();

 private:
  bool known_ = false;
  fs::FileStamp source_;
  fs::FileStamp target_;
  // The stamps KnowsIdentical took last, when it could take both.
  bool stamped_ = false;
  fs::FileStamp stampedSource_;
  fs::FileStamp stampedTarget_;
};

}  // namespace customhooks::storage

#endif  // CUSTOMHOOKS_STORAGE_BACKUP_RECORD_H_
