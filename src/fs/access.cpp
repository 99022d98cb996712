#include "fs/access.h"

#include "fs/text.h"

namespace customhooks::fs {
namespace {

constexpr std::uint32_t kGenericAll = 0x10000000u;
constexpr std::uint32_t kGenericRead = 0x80000000u;
constexpr std::uint32_t kGenericWrite = 0x40000000u;
constexpr std::uint32_t kFileDeleteChild = 0x00000040u;
constexpr std::uint32_t kObjectAndContainerInherit = 3;  // SUB_CONTAINERS_AND_OBJECTS_INHERIT

}  // namespace

std::vector<AccessEntry> FolderAccessEntries(bool allowWrite) {
  const AccessEntry administrators = {Trustee::kAdministrators, {0, 0, 0, 0, 0, 5}, 2, {32, 544},
                                      kGenericAll, kObjectAndContainerInherit};
  const AccessEntry everyone = {Trustee::kEveryone, {0, 0, 0, 0, 0, 1}, 1, {0, 0},
                                allowWrite ? kGenericRead | kGenericWrite | kFileDeleteChild : kGenericRead,
                                kObjectAndContainerInherit};
  return {administrators, everyone};
}

bool GrantsOnce::First(const std::string& folder, bool allowWrite) {
  for (const auto& grant : granted_) {
    if (grant.second == allowWrite && grant.first == folder) return false;
  }
  granted_.emplace_back(folder, allowWrite);
  return true;
}

bool GrantFolderAccess(const std::string& folder, bool allowWrite, GrantsOnce* once) {
  bool tried = false;
  UnlessOutOfMemory(true, [&] {
    if (once != nullptr && !once->First(folder, allowWrite)) return true;
    tried = true;
    // Best effort (see the header): the result is not the caller's concern.
    return CurrentEnv()->SetFolderAccess(Utf8ToWide(folder), FolderAccessEntries(allowWrite)).ok();
  });
  return tried;
}

}  // namespace customhooks::fs
