#include "pcf/pcf_client.h"

#include <map>
#include <new>
#include <utility>
#include <vector>

#include "fs/files.h"
#include "fs/text.h"
#include "pcf/pcf_document.h"
#include "pcf/pcf_folder.h"

struct PCFClientSession {
  // One map per document loaded with status 0, in load order.
  std::vector<PCFSectionMap> documents;
  // The payload code each document was read with, index for index: a save
  // writes a document under its own code and to its own targets even when
  // another document has a section with the same code.
  std::vector<std::string> documentPayloadCodes;
  // Path of every loaded file, exactly as given, -> its payload code.
  std::map<std::string, std::string> loadedFiles;
};

namespace {

// Null, or no UTF-16 character once converted. May throw std::bad_alloc.
bool IsEmptyArgument(const char* text) {
  return text == nullptr || Utf8ToWide(text).empty();
}

// Empty, or not well-formed UTF-8. The conversion turns every malformed
// sequence into U+FFFD, so only well-formed text comes back unchanged. Text
// that is not UTF-8 must never reach a document: the document would no longer
// be well-formed XML, and neither this client nor the product could read it
// again. May throw std::bad_alloc.
bool IsUnwritableText(const char* text) {
  if (text == nullptr) return true;
  const std::u16string wide = Utf8ToWide(text);
  return wide.empty() || WideToUtf8(wide) != text;
}

// Adds a document to the session, keeping documentPayloadCodes in step with
// documents. Changes nothing when it throws.
void AddDocument(PCFClientSession& session, PCFSectionMap sections, std::string payloadCode,
                 bool merge) {
  session.documentPayloadCodes.reserve(session.documents.size() + 1);
  const auto before = session.documents.size();
  PCFMergeSections(session.documents, std::move(sections), merge);
  // Cannot throw: the room was reserved above.
  if (session.documents.size() > before) session.documentPayloadCodes.push_back(std::move(payloadCode));
}

const std::string& ValueOf(const PCFEntryMap& entries, const char* key) {
  static const std::string kAbsent;
  const auto entry = entries.find(key);
  return entry == entries.end() ? kAbsent : entry->second;
}

// An empty path is a target that cannot be opened.
int WriteCopy(const std::string& path, const std::string& text) {
  if (path.empty()) return kPCFWriteFailed;
  return WriteFileDurably(path, text) == WriteResult::kWritten ? kPCFOk : kPCFWriteFailed;
}

// Only a code that names a shared copy can have one to delete; any other
// code would take an unrelated file whose name happens to contain it.
void DeleteSharedCopy(const std::string& payloadCode) {
  if (!IsSharedCopyCode(payloadCode)) return;
  const std::string path = PCFClientFindDocumentFile(payloadCode.c_str());
  if (!path.empty()) DeleteFileUtf8(path);
}

}  // namespace

int PCFClientCreateSession(PCFClientSession** session) {
  if (session == nullptr) return kPCFBadArgument;
  *session = new (std::nothrow) PCFClientSession();
  return *session == nullptr ? kPCFNoMemory : kPCFOk;
}

void PCFClientCloseSession(PCFClientSession* session) { delete session; }

int PCFClientLoadFile(PCFClientSession* session, const char* path, bool merge) {
  try {
    if (session == nullptr || IsEmptyArgument(path)) return kPCFBadArgument;
    if (PathExistsUtf8(path) == 0) return kPCFNotFound;
    PCFSectionMap sections;
    std::string payloadCode;
    const int status = PCFReadDocument(path, &sections, &payloadCode);
    if (status != kPCFOk) return status;

    const auto recorded = session->loadedFiles.emplace(path, payloadCode);
    try {
      AddDocument(*session, std::move(sections), std::move(payloadCode), merge);
    } catch (const std::bad_alloc&) {
      if (recorded.second) session->loadedFiles.erase(recorded.first);
      throw;
    }
    return kPCFOk;
  } catch (const std::bad_alloc&) {
    return kPCFNoMemory;
  }
}

bool PCFClientHasSubDomain(const PCFClientSession* session, const char* name) {
  if (session == nullptr || name == nullptr || *name == '\0') return false;
  try {
    const std::string wanted = name;
    for (const auto& loaded : session->loadedFiles) {
      if (loaded.second.find(wanted) != std::string::npos) return true;
    }
    for (const PCFSectionMap& document : session->documents) {
      if (document.count(wanted) != 0) return true;
    }
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

int PCFClientEnsureSubDomain(PCFClientSession* session, const char* subDomain) {
  try {
    if (session == nullptr || IsEmptyArgument(subDomain)) return kPCFBadArgument;
    if (PCFClientHasSubDomain(session, subDomain)) return kPCFOk;
    std::string folder;
    std::string name;
    if (!FindInPCFFolder(subDomain, folder, name)) return kPCFNotFound;
    // Only the first matching file is considered. When the part of its name
    // before the first "." is already known, it is taken as loaded.
    if (PCFClientHasSubDomain(session, name.substr(0, name.find('.')).c_str())) return kPCFOk;
    return PCFClientLoadFile(session, (folder + "\\" + name).c_str(), false);
  } catch (const std::bad_alloc&) {
    return kPCFNoMemory;
  }
}

int PCFClientSetValueForKeyInSubDomain(PCFClientSession* session, const char* key,
                                       const char* subDomain, const char* value) {
  try {
    if (session == nullptr || IsUnwritableText(key) || IsUnwritableText(subDomain) ||
        IsUnwritableText(value)) {
      return kPCFBadArgument;
    }
    const int status = PCFClientEnsureSubDomain(session, subDomain);
    if (status != kPCFOk) return status;
    PCFSectionMap change;
    change[subDomain][key] = value;
    AddDocument(*session, std::move(change), std::string(), true);
    return kPCFOk;
  } catch (const std::bad_alloc&) {
    return kPCFNoMemory;
  }
}

int PCFClientGetValueForKeyInSubDomain(PCFClientSession* session, const char* key,
                                       const char* subDomain, char* buffer,
                                       std::size_t bufferSize) {
  try {
    if (session == nullptr || buffer == nullptr || bufferSize == 0 || IsEmptyArgument(key) ||
        IsEmptyArgument(subDomain)) {
      return kPCFBadArgument;
    }
    buffer[0] = '\0';
    if (PCFClientEnsureSubDomain(session, subDomain) != kPCFOk) return kPCFUnknownSubDomain;
    const std::string code = subDomain;
    const std::string wanted = key;
    for (const PCFSectionMap& document : session->documents) {
      const auto section = document.find(code);
      if (section == document.end()) continue;
      const auto entry = section->second.find(wanted);
      if (entry == section->second.end()) continue;
      if (entry->second.size() >= bufferSize) return kPCFValueTooLong;
      CopyStringPadded(buffer, entry->second.c_str(), bufferSize, bufferSize);
      return kPCFOk;
    }
    return kPCFOk;
  } catch (const std::bad_alloc&) {
    return kPCFNoMemory;
  }
}

int PCFClientSave(PCFClientSession* session) {
  if (session == nullptr) return kPCFBadArgument;
  try {
    int status = kPCFOk;
    for (std::size_t i = 0; i < session->documents.size(); ++i) {
      const PCFSectionMap& document = session->documents[i];
      const std::string& payloadCode = session->documentPayloadCodes[i];
      const auto payload = document.find(payloadCode);
      if (payloadCode.empty() || payload == document.end()) continue;

      PCFClientEnsureFolder();
      const std::string text = PCFFormatDocument(payloadCode, document);
      if (text.empty()) {
        DeleteSharedCopy(payloadCode);
        continue;
      }
      // A document the reader would refuse is not written over a readable
      // one: the writer copies text as the model holds it, and text that is
      // not UTF-8 (read from CDATA, say) can swallow the markup after it.
      PCFSectionMap readBack;
      std::string readBackCode;
      if (PCFReadDocumentText(text, &readBack, &readBackCode) != kPCFOk) {
        status = kPCFWriteFailed;
        continue;
      }
      const PCFEntryMap& entries = payload->second;
      status = WriteCopy(PCFClientDocumentPath(payloadCode.c_str(), ValueOf(entries, "LicensingCode").c_str()),
                         text);
      // A path too long for its buffer is not written to at all; a missing
      // one is a target that cannot be opened.
      const std::string& configPath = ValueOf(entries, "RMTConfigPath");
      if (configPath.size() < kPCFConfigPathSize) status = WriteCopy(configPath, text);
    }
    return status;
  } catch (const std::bad_alloc&) {
    return kPCFNoMemory;
  }
}
