#include "fs/dry_run_env.h"

#include <new>

#include "fs/text.h"

namespace customhooks::fs {

Status DryRunEnv::Plan(PlannedChange::Kind kind, const std::u16string& path, const std::u16string& from,
                       std::string_view bytes) {
  try {
    changes_.push_back({kind, WideToUtf8(path), from.empty() ? std::string() : WideToUtf8(from), std::string(bytes)});
  } catch (const std::bad_alloc&) {
    return Code::kNoMemory;
  }
  return Status();
}

Status DryRunEnv::GetSpecialFolder(SpecialFolder folder, MissingFolder missing, std::u16string* path) {
  Status found = target()->GetSpecialFolder(folder, MissingFolder::kLeave, path);
  if (!found.ok() || missing == MissingFolder::kLeave) return found;
  std::uint32_t attributes = 0;
  if (target()->GetAttributes(*path, &attributes) == Code::kNotFound) {
    return Plan(PlannedChange::Kind::kCreateFolder, *path);
  }
  return found;
}

Status DryRunEnv::CreateFolder(const std::u16string& path) {
  std::uint32_t attributes = 0;
  if (target()->GetAttributes(path, &attributes).ok()) return Code::kExists;
  return Plan(PlannedChange::Kind::kCreateFolder, path);
}

Status DryRunEnv::CreateFolderChain(const std::u16string& path) { return CreateFolder(path); }

Status DryRunEnv::SetAttributesNormal(const std::u16string& path) {
  return Plan(PlannedChange::Kind::kSetAttributes, path);
}

Status DryRunEnv::MoveFileReplacing(const std::u16string& source, const std::u16string& target) {
  return Plan(PlannedChange::Kind::kMove, target, source);
}

Status DryRunEnv::CopyOver(const std::u16string& source, const std::u16string& target, WriteMode) {
  return Plan(PlannedChange::Kind::kCopy, target, source);
}

Status DryRunEnv::WriteWholeFile(const std::u16string& path, std::string_view bytes, WriteMode) {
  return Plan(PlannedChange::Kind::kWrite, path, {}, bytes);
}

// The owner and mode go with the file just written, which the plan records.
Status DryRunEnv::TakeOwnerAndMode(const std::u16string&, const std::u16string&) { return Status(); }

Status DryRunEnv::RemoveFile(const std::u16string& path) { return Plan(PlannedChange::Kind::kRemove, path); }

Status DryRunEnv::RemoveLink(const std::u16string& path) { return Plan(PlannedChange::Kind::kRemove, path); }

Status DryRunEnv::FlushFile(const std::u16string&) { return Status(); }

Status DryRunEnv::FlushFolder(const std::u16string&) { return Status(); }

Status DryRunEnv::SetFolderAccess(const std::u16string& folder, const std::vector<AccessEntry>&) {
  return Plan(PlannedChange::Kind::kSetAccess, folder);
}

}  // namespace customhooks::fs
