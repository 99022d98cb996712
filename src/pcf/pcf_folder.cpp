#include "pcf/pcf_folder.h"

#include <cstdint>
#include <new>
#include <vector>

#include "fs/files.h"
#include "fs/text.h"

namespace customhooks::pcf {

using fs::CreateFolder;
using fs::ListFolder;
using fs::PathExists;
using fs::Utf8ToWide;
using fs::WideToUtf8;

namespace {

constexpr std::string::size_type kSharedCopyCodeLength = 38;

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

bool FindInPCFFolder(const std::string& folder, const std::string& part, std::string& name) {
  const std::u16string wanted = Utf8ToWide(part);
  if (wanted.empty()) return false;
  std::vector<std::u16string> names;
  if (!ListFolder(folder, names).ok()) return false;
  for (const std::u16string& entry : names) {
    if (entry.find(wanted) != std::u16string::npos) {
      name = WideToUtf8(entry);
      return true;
    }
  }
  return false;
}

bool IsSharedCopyCode(const std::string& payloadCode) {
  return payloadCode.size() == kSharedCopyCodeLength && payloadCode.front() == '{' &&
         payloadCode.back() == '}';
}

std::string PCFClientFindDocumentFile(const std::string& folder, const char* payloadCode) {
  try {
    std::string name;
    if (payloadCode == nullptr || !FindInPCFFolder(folder, payloadCode, name)) return std::string();
    return folder + "\\" + name;
  } catch (const std::bad_alloc&) {
    return std::string();
  }
}

std::string PCFClientDocumentPath(const std::string& folder, const char* payloadCode,
                                  const char* licensingCode) {
  try {
    if (payloadCode == nullptr || licensingCode == nullptr) return std::string();
    const std::string code = payloadCode;
    const std::string licence = licensingCode;
    if (!IsSharedCopyCode(code) || licence.empty() || licence.size() >= kPCFLicensingCodeSize) {
      return std::string();
    }
    const std::string name = code + "." + licence + ".xml";
    if (!IsPlainFileName(name)) return std::string();
    return folder + "\\" + name;
  } catch (const std::bad_alloc&) {
    return std::string();
  }
}

void PCFClientEnsureFolder(const std::string& folder) {
  if (!PathExists(folder)) static_cast<void>(CreateFolder(folder));
}

}  // namespace customhooks::pcf
