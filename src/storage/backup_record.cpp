#include "storage/backup_record.h"

#include <string>

#include "fs/files.h"

namespace customhooks::storage {

namespace {

// The stamp of the file at `path` when it can vouch for the file's content:
// a link's own stamp stays while what it leads to changes.
bool StampOfFile(const std::string& path, fs::FileStamp* stamp) {
  return fs::StampFile(path, stamp).ok() && !stamp->link;
}

}  // namespace

bool BackupRecord::KnowsIdentical(const std::string& source, const std::string& target) {
  stamped_ = StampOfFile(source, &stampedSource_) && StampOfFile(target, &stampedTarget_);
  if (stamped_ && known_ && stampedSource_.Vouches(source_) && stampedTarget_.Vouches(target_)) return true;
  known_ = false;
  return false;
}

void BackupRecord::RememberIdentical() {
  if (!stamped_) return;
  source_ = stampedSource_;
  target_ = stampedTarget_;
  known_ = true;
}

}  // namespace customhooks::storage
