// An Env for a dry run: it looks at the machine but changes nothing.
//
// Every query goes to the Env it wraps. Every change (a folder created, a
// file written, copied, moved or removed, an access list set) is recorded in
// the order the work asks for it and reported as done, without reaching the
// file system; flushes do nothing. A special folder asked for with
// MissingFolder::kCreate is looked up without creating it. Work run under it
// (fs::ScopedEnv) thus shows what it would change. A change is refused as
// the file system would refuse it where that can be seen without making it:
// a copy from nothing or from a folder, a file or folder whose folder does
// not stand (and is not to be created), a new file where a name stands.
// What it reads afterwards is the machine as it was: a later step that reads
// what an earlier one wrote sees the old content.
#ifndef CUSTOMHOOKS_FS_DRY_RUN_ENV_H_
#define CUSTOMHOOKS_FS_DRY_RUN_ENV_H_

#include <optional>
#include <string>
#include <vector>

#include "fs/env.h"

namespace customhooks::fs {

// One change the work asked for.
struct PlannedChange {
  enum class Kind {
    kCreateFolder,  // `path` (and its missing parents)
    kWrite,         // `bytes` as the whole content of `path`
    kCopy,          // the content of `from` into `path`
    kMove,          // `from` takes the place of `path`
    kRemove,        // the file or link `path`
    kSetAccess,     // the folder `path`'s access list
    kSetAttributes, // the file `path` made writable (normal attributes)
  };
  Kind kind;
  std::string path;  // UTF-8, as the module spells it
  std::string from;
  std::string bytes;
};

class DryRunEnv : public EnvWrapper {
 public:
  explicit DryRunEnv(Env* target) : EnvWrapper(target) {}

  const std::vector<PlannedChange>& changes() const { return changes_; }

  Status GetSpecialFolder(SpecialFolder folder, MissingFolder missing, std::u16string* path) override;
  Status CreateFolder(const std::u16string& path) override;
  Status CreateFolderChain(const std::u16string& path) override;
  Status SetAttributesNormal(const std::u16string& path) override;
  Status MoveFileReplacing(const std::u16string& source, const std::u16string& target) override;
  Status CopyOver(const std::u16string& source, const std::u16string& target, WriteMode mode) override;
  Status WriteWholeFile(const std::u16string& path, std::string_view bytes, WriteMode mode) override;
  Status TakeOwnerAndMode(const std::u16string& path, const std::u16string& model) override;
  Status RemoveFile(const std::u16string& path) override;
  Status RemoveLink(const std::u16string& path) override;
  Status FlushFile(const std::u16string& path) override;
  Status FlushFolder(const std::u16string& folder) override;
  Status SetFolderAccess(const std::u16string& folder, const std::vector<AccessEntry>& entries) override;

 private:
  Status Plan(PlannedChange::Kind kind, const std::u16string& path, const std::u16string& from = {},
              std::string_view bytes = {});
  // Success when `path` is a folder, or one this run creates.
  Status IsFolder(const std::u16string& path);
  // Whether the file `path` stands after the changes planned so far; nothing
  // when they did not touch it.
  std::optional<bool> StandsAfterPlan(const std::string& path) const;
  // Success when a new file may stand at `path` (`mode` kCreateNew: no
  // name stands there).
  Status MayWrite(const std::u16string& path, WriteMode mode);
  std::vector<PlannedChange> changes_;
  std::vector<std::u16string> createdFolders_;
};

}  // namespace customhooks::fs

#endif  // CUSTOMHOOKS_FS_DRY_RUN_ENV_H_
