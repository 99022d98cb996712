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

Status DryRunEnv::IsFolder(const std::u16string& path) {
  for (const std::u16string& created : createdFolders_) {
    if (created == path) return Status();
  }
  std::uint32_t attributes = 0;
  Status found = target()->GetAttributes(path, &attributes);
  if (!found.ok()) return found;
  return (attributes & kAttributeDirectory) != 0 ? Status() : Status(Code::kNotFound);
}

Status DryRunEnv::MayWrite(const std::u16string& path, WriteMode mode) {
  const std::size_t separator = path.find_last_of(u"\\/");
  if (separator != std::u16string::npos && separator > 0) {
    Status parent = IsFolder(path.substr(0, separator));
    if (!parent.ok()) return parent;
  }
  std::uint32_t attributes = 0;
  if (target()->GetAttributes(path, &attributes).ok()) {
    if (mode == WriteMode::kCreateNew) return Code::kExists;
    if ((attributes & (kAttributeDirectory | kAttributeReadOnly)) != 0) return Code::kAccessDenied;
  }
  return Status();
}

Status DryRunEnv::GetSpecialFolder(SpecialFolder folder, MissingFolder missing, std::u16string* path) {
  Status found = target()->GetSpecialFolder(folder, MissingFolder::kLeave, path);
  if (!found.ok() || missing == MissingFolder::kLeave) return found;
  std::uint32_t attributes = 0;
  if (target()->GetAttributes(*path, &attributes) == Code::kNotFound) return CreateFolderChain(*path);
  return found;
}

Status DryRunEnv::CreateFolder(const std::u16string& path) {
  std::uint32_t attributes = 0;
  if (IsFolder(path).ok() || target()->GetAttributes(path, &attributes).ok()) return Code::kExists;
  const std::size_t separator = path.find_last_of(u"\\/");
  if (separator != std::u16string::npos && separator > 0 && !IsFolder(path.substr(0, separator)).ok()) {
    return Code::kNotFound;
  }
  Status planned = Plan(PlannedChange::Kind::kCreateFolder, path);
  if (planned.ok()) createdFolders_.push_back(path);
  return planned;
}

// Each missing folder of the chain, outermost first.
Status DryRunEnv::CreateFolderChain(const std::u16string& path) {
  std::uint32_t attributes = 0;
  if (IsFolder(path).ok() || target()->GetAttributes(path, &attributes).ok()) return Code::kExists;
  const std::size_t separator = path.find_last_of(u"\\/");
  if (separator != std::u16string::npos && separator > 0) {
    const std::u16string parent = path.substr(0, separator);
    if (!IsFolder(parent).ok()) {
      Status made = CreateFolderChain(parent);
      if (!made.ok() && made != Code::kExists) return made;
    }
  }
  return CreateFolder(path);
}

Status DryRunEnv::SetAttributesNormal(const std::u16string& path) {
  return Plan(PlannedChange::Kind::kSetAttributes, path);
}

Status DryRunEnv::MoveFileReplacing(const std::u16string& source, const std::u16string& target) {
  const std::optional<bool> planned = StandsAfterPlan(WideToUtf8(source));
  if (planned == false) return Code::kNotFound;
  std::uint32_t attributes = 0;
  if (!planned) {
    Status found = this->target()->GetAttributes(source, &attributes);
    if (!found.ok()) return found;
  }
  if (this->target()->GetAttributes(target, &attributes).ok() &&
      (attributes & (kAttributeDirectory | kAttributeReadOnly)) != 0) {
    return Code::kAccessDenied;
  }
  return Plan(PlannedChange::Kind::kMove, target, source);
}

Status DryRunEnv::CopyOver(const std::u16string& source, const std::u16string& target, WriteMode mode) {
  std::uint32_t attributes = 0;
  Status found = this->target()->GetAttributes(source, &attributes);
  if (!found.ok()) return found;
  if ((attributes & kAttributeDirectory) != 0) return Code::kAccessDenied;
  Status writable = MayWrite(target, mode);
  if (!writable.ok()) return writable;
  return Plan(PlannedChange::Kind::kCopy, target, source);
}

Status DryRunEnv::WriteWholeFile(const std::u16string& path, std::string_view bytes, WriteMode mode) {
  Status writable = MayWrite(path, mode);
  if (!writable.ok()) return writable;
  return Plan(PlannedChange::Kind::kWrite, path, {}, bytes);
}

// The owner and mode go with the file just written, which the plan records.
Status DryRunEnv::TakeOwnerAndMode(const std::u16string&, const std::u16string&) { return Status(); }

std::optional<bool> DryRunEnv::StandsAfterPlan(const std::string& path) const {
  for (auto change = changes_.rbegin(); change != changes_.rend(); ++change) {
    if (change->kind == PlannedChange::Kind::kMove && change->from == path) return false;
    if (change->path != path) continue;
    if (change->kind == PlannedChange::Kind::kRemove) return false;
    if (change->kind != PlannedChange::Kind::kSetAttributes) return true;
  }
  return std::nullopt;
}

// Only what stands, or what the plan made, can be removed.
Status DryRunEnv::RemoveFile(const std::u16string& path) {
  const std::optional<bool> planned = StandsAfterPlan(WideToUtf8(path));
  if (planned == false) return Code::kNotFound;
  if (!planned) {
    std::uint32_t attributes = 0;
    Status found = target()->GetAttributes(path, &attributes);
    if (!found.ok()) return found;
  }
  return Plan(PlannedChange::Kind::kRemove, path);
}

Status DryRunEnv::RemoveLink(const std::u16string& path) { return Plan(PlannedChange::Kind::kRemove, path); }

Status DryRunEnv::FlushFile(const std::u16string&) { return Status(); }

Status DryRunEnv::FlushFolder(const std::u16string&) { return Status(); }

Status DryRunEnv::SetFolderAccess(const std::u16string& folder, const std::vector<AccessEntry>&) {
  return Plan(PlannedChange::Kind::kSetAccess, folder);
}

}  // namespace customhooks::fs
