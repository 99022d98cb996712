#include "support/folder_access_text.h"

#include <cstdint>
#include <cstdio>

#include "fs/access.h"

namespace {

using customhooks::fs::AccessEntry;
using customhooks::fs::Trustee;

constexpr std::uint32_t kObjectInherit = 1;
constexpr std::uint32_t kContainerInherit = 2;

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

// The SDDL alias of the well-known group.
const char* AliasOf(Trustee trustee) { return trustee == Trustee::kAdministrators ? "BA" : "WD"; }

}  // namespace

std::string DescribeFolderAccess(bool allowWrite) {
  std::string sddl = "D:P";
  for (const AccessEntry& entry : customhooks::fs::FolderAccessEntries(allowWrite)) {
    sddl += "(A;" + InheritanceText(entry.inheritance) + ";" + RightsText(entry.accessMask) + ";;;" +
            AliasOf(entry.trustee) + ")";
  }
  return sddl;
}
