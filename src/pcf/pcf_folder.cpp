#include "pcf/pcf_folder.h"

#include <new>
#include <vector>

#include "fs/files.h"
#include "fs/text.h"

namespace customhooks::pcf {

namespace {

constexpr std::size_t kSharedCopyCodeLength = 38;

// Characters no Windows file name may hold; a separator or drive colon would
// also let a document's own values steer the write out of the PCF folder.
bool IsPlainFileName(const std::string& name) {
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20) return false;
    switch (c) {
      case '\\': case '/': case ':': case '*': case '?': case '"': case '<': case '>': case '|':
        return false;
      default:
        break;
    }
  }
  return true;
}

}  // namespace

std::string FindNameContaining(const std::string& folder, std::string_view part) {
  const std::u16string wanted = fs::Utf8ToWide(part);
  if (wanted.empty()) return std::string();
  std::vector<std::u16string> names;
  if (!fs::ListFolder(folder, &names).ok()) return std::string();
  for (const std::u16string& name : names) {
    if (name.find(wanted) != std::u16string::npos) return fs::WideToUtf8(name);
  }
  return std::string();
}

bool IsSharedCopyCode(std::string_view payloadCode) {
  return payloadCode.size() == kSharedCopyCodeLength && payloadCode.front() == '{' && payloadCode.back() == '}';
}

std::string SharedCopyPath(const std::string& folder, std::string_view payloadCode, std::string_view licensingCode) {
  if (!IsSharedCopyCode(payloadCode) || licensingCode.empty() || licensingCode.size() >= kLicensingCodeSize) {
    return std::string();
  }
  try {
    std::string name(payloadCode);
    name += '.';
    name += licensingCode;
    name += ".xml";
    if (!IsPlainFileName(name)) return std::string();
    return folder + "\\" + name;
  } catch (const std::bad_alloc&) {
    return std::string();
  }
}

void CreatePcfFolder(const std::string& folder) {
  // A folder that is there already is no failure either.
  static_cast<void>(fs::CreateFolder(folder));
}

}  // namespace customhooks::pcf
