#include "pcf/pcf_folder.h"

#include <cstdint>
#include <new>
#include <vector>

#include "fs/files.h"
#include "fs/folders.h"
#include "fs/text.h"

using customhooks::fs::CreateFolder;
using customhooks::fs::EnsureCommonDataFolder;
using customhooks::fs::ListFolder;
using customhooks::fs::PathExists;
using customhooks::fs::Utf8ToWide;
using customhooks::fs::WideToUtf8;
using customhooks::fs::kPathBufferSize;

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

bool GetPCFFolderPath(std::string& folder) {
  char buffer[kPathBufferSize];
  if (EnsureCommonDataFolder(buffer) == nullptr) return false;
  folder = std::string(buffer) + "\\PCF";
  return true;
}

bool FindInPCFFolder(const std::string& part, std::string& folder, std::string& name) {
  const std::u16string wanted = Utf8ToWide(part);
  if (wanted.empty()) return false;
  std::string path;
  if (!GetPCFFolderPath(path)) return false;
  std::vector<std::u16string> names;
  if (!ListFolder(path, names).ok()) return false;
  for (const std::u16string& entry : names) {
    if (entry.find(wanted) != std::u16string::npos) {
      name = WideToUtf8(entry);
      folder.swap(path);
      return true;
    }
  }
  return false;
}

bool IsSharedCopyCode(const std::string& payloadCode) {
  return payloadCode.size() == kSharedCopyCodeLength && payloadCode.front() == '{' &&
         payloadCode.back() == '}';
}

std::string PCFClientFindDocumentFile(const char* payloadCode) {
  try {
    std::string folder;
    std::string name;
    if (payloadCode == nullptr || !FindInPCFFolder(payloadCode, folder, name)) return std::string();
    return folder + "\\" + name;
  } catch (const std::bad_alloc&) {
    return std::string();
  }
}

std::string PCFClientDocumentPath(const char* payloadCode, const char* licensingCode) {
  try {
    if (payloadCode == nullptr || licensingCode == nullptr) return std::string();
    const std::string code = payloadCode;
    const std::string licence = licensingCode;
    if (!IsSharedCopyCode(code) || licence.empty() || licence.size() >= kPCFLicensingCodeSize) {
      return std::string();
    }
    const std::string name = code + "." + licence + ".xml";
    std::string folder;
    if (!IsPlainFileName(name) || !GetPCFFolderPath(folder)) return std::string();
    return folder + "\\" + name;
  } catch (const std::bad_alloc&) {
    return std::string();
  }
}

void PCFClientEnsureFolder() {
  try {
    std::string folder;
    if (GetPCFFolderPath(folder) && !PathExists(folder)) static_cast<void>(CreateFolder(folder));
  } catch (const std::bad_alloc&) {
    // Nothing to report: a missing folder makes the writes fail with 12.
  }
}
