#include "fs/access.h"

#include <cstdio>
#include <vector>

#include "fs/guard.h"
#include "fs/platform.h"
#include "fs/text.h"

namespace {

using fsplatform::AccessEntry;
using fsplatform::Trustee;

constexpr std::uint32_t kGenericAll = 0x10000000u;
constexpr std::uint32_t kGenericRead = 0x80000000u;
constexpr std::uint32_t kGenericWrite = 0x40000000u;
constexpr std::uint32_t kFileDeleteChild = 0x00000040u;
constexpr std::uint32_t kObjectAndContainerInherit = 3;  // SUB_CONTAINERS_AND_OBJECTS_INHERIT
constexpr std::uint32_t kObjectInherit = 1;
constexpr std::uint32_t kContainerInherit = 2;

// The two entries, in their order: BUILTIN\Administrators (S-1-5-32-544)
// full control, then Everyone (S-1-1-0) read, or read, write and delete-child.
std::vector<AccessEntry> FolderAccessList(bool allowWrite) {
  const AccessEntry administrators = {Trustee::kAdministrators, {0, 0, 0, 0, 0, 5}, 2, {32, 544},
                                      kGenericAll, kObjectAndContainerInherit, "BA"};
  const AccessEntry everyone = {Trustee::kEveryone, {0, 0, 0, 0, 0, 1}, 1, {0, 0},
                                allowWrite ? kGenericRead | kGenericWrite | kFileDeleteChild : kGenericRead,
                                kObjectAndContainerInherit, "WD"};
  return {administrators, everyone};
}

// Access rights in the order and with the names the platform's SDDL
// conversion uses; bits without a name are rendered in hexadecimal.
std::string RightsText(std::uint32_t mask) {
  static const struct {
    const char* name;
    std::uint32_t bit;
  } kRights[] = {
      {"GA", 0x10000000u}, {"GR", 0x80000000u}, {"GW", 0x40000000u}, {"GX", 0x20000000u},
      {"RC", 0x00020000u}, {"SD", 0x00010000u}, {"WD", 0x00040000u}, {"WO", 0x00080000u},
      {"RP", 0x00000010u}, {"WP", 0x00000020u}, {"CC", 0x00000001u}, {"DC", 0x00000002u},
      {"LC", 0x00000004u}, {"SW", 0x00000008u}, {"LO", 0x00000080u}, {"DT", 0x00000040u},
      {"CR", 0x00000100u},
  };
  std::uint32_t named = 0;
  for (const auto& right : kRights) named |= right.bit;
  if ((mask & ~named) != 0) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(mask));
    return hex;
  }
  std::string text;
  for (const auto& right : kRights) {
    if ((mask & right.bit) != 0) text += right.name;
  }
  return text;
}

std::string InheritanceText(std::uint32_t inheritance) {
  std::string text;
  if ((inheritance & kObjectInherit) != 0) text += "OI";
  if ((inheritance & kContainerInherit) != 0) text += "CI";
  return text;
}

}  // namespace

int GrantFolderAccess(const std::string& folder, bool allowWrite) {
  fsguard::Guarded(true, [&folder, allowWrite] {
    fsplatform::ApplyFolderAccess(Utf8ToWide(folder).c_str(), FolderAccessList(allowWrite));
    return true;
  });
  return 0;
}

std::string DescribeFolderAccess(bool allowWrite) {
  return fsguard::Guarded(std::string(), [allowWrite] {
    std::string sddl = "D:P";
    for (const AccessEntry& entry : FolderAccessList(allowWrite)) {
      sddl += "(A;" + InheritanceText(entry.inheritance) + ";" + RightsText(entry.accessMask) + ";;;" +
              entry.sddlAlias + ")";
    }
    return sddl;
  });
}
