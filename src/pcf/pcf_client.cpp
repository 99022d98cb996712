#include "pcf/pcf_client.h"

#include <cstdint>
#include <map>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "fs/files.h"
#include "fs/text.h"
#include "pcf/pcf_document.h"
#include "pcf/pcf_folder.h"

namespace customhooks::pcf {

using fs::CopyStringPadded;
using fs::GetPathAttributes;
using fs::PathExists;
using fs::RemoveFile;
using fs::Utf8ToWide;
using fs::WideToUtf8;
using fs::WriteFileDurably;
using fs::kAttributeDirectory;
using fs::kAttributeReadOnly;

struct PCFClientSession {
  explicit PCFClientSession(PcfFolderLocator locator) : pcfFolder(std::move(locator)) {}

  PcfFolderLocator pcfFolder;
  // One map per document loaded with status 0, in load order.
  std::vector<PCFSectionMap> documents;
  // Where each document came from, index for index: a save writes a
  // document under its own code and to its own targets even when another
  // document has a section with the same code, and names it by its path.
  struct Origin {
    std::string payloadCode;
    std::string path;
  };
  std::vector<Origin> origins;
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

// Adds a document to the session, keeping origins in step with documents.
// Changes nothing when it throws.
void AddDocument(PCFClientSession& session, PCFSectionMap sections, PCFClientSession::Origin origin,
                 bool merge) {
  session.origins.reserve(session.documents.size() + 1);
  const auto before = session.documents.size();
  PCFMergeSections(session.documents, std::move(sections), merge);
  // Cannot throw: the room was reserved above.
  if (session.documents.size() > before) session.origins.push_back(std::move(origin));
}

const std::string& ValueOf(const PCFEntryMap& entries, const char* key) {
  static const std::string kAbsent;
  const auto entry = entries.find(key);
  return entry == entries.end() ? kAbsent : entry->second;
}

// Writes one target; nothing when it was written, else why not.
std::optional<PCFSaveProblem> WriteTarget(const std::string& path, const std::string& text) {
  if (WriteFileDurably(path, text).ok()) return std::nullopt;
  // Only the report tells the two apart; the target is as it was either way.
  std::uint32_t attributes = 0;
  const bool readOnly = GetPathAttributes(path, &attributes).ok() && (attributes & kAttributeDirectory) == 0 &&
                        (attributes & kAttributeReadOnly) != 0;
  return readOnly ? PCFSaveProblem::kReadOnly : PCFSaveProblem::kNotWritable;
}

// Only a code that names a shared copy can have one to delete; any other
// code would take an unrelated file whose name happens to contain it.
void DeleteSharedCopy(const std::string& folder, const std::string& payloadCode) {
  if (!IsSharedCopyCode(payloadCode)) return;
  const std::string path = PCFClientFindDocumentFile(folder, payloadCode.c_str());
  if (!path.empty()) static_cast<void>(RemoveFile(path));
}

}  // namespace

Status PCFClientCreateSession(PCFClientSession** session, PcfFolderLocator pcfFolder) {
  if (session == nullptr) return Code::kBadArgument;
  *session = nullptr;
  if (!pcfFolder) return Code::kBadArgument;
  *session = new (std::nothrow) PCFClientSession(std::move(pcfFolder));
  return *session == nullptr ? Status(Code::kNoMemory) : Status();
}

void PCFClientCloseSession(PCFClientSession* session) { delete session; }

Status PCFClientLoadFile(PCFClientSession* session, const char* path, bool merge) {
  return StatusUnlessOutOfMemory(Code::kNoMemory, [&] {
    if (session == nullptr || IsEmptyArgument(path)) return Status(Code::kBadArgument);
    if (!PathExists(path)) return Status(Code::kNotFound, path);
    PCFSectionMap sections;
    std::string payloadCode;
    Status read = PCFReadDocument(path, &sections, &payloadCode);
    if (!read.ok()) return read;

    const auto recorded = session->loadedFiles.emplace(path, payloadCode);
    try {
      AddDocument(*session, std::move(sections), {std::move(payloadCode), path}, merge);
    } catch (const std::bad_alloc&) {
      if (recorded.second) session->loadedFiles.erase(recorded.first);
      throw;
    }
    return Status();
  });
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

Status PCFClientEnsureSubDomain(PCFClientSession* session, const char* subDomain) {
  return StatusUnlessOutOfMemory(Code::kNoMemory, [&] {
    if (session == nullptr || IsEmptyArgument(subDomain)) return Status(Code::kBadArgument);
    if (PCFClientHasSubDomain(session, subDomain)) return Status();
    std::string folder;
    std::string name;
    if (!session->pcfFolder(folder) || !FindInPCFFolder(folder, subDomain, name)) {
      return Status(Code::kNotFound, subDomain);
    }
    // Only the first matching file is considered. When the part of its name
    // before the first "." is already known, it is taken as loaded.
    if (PCFClientHasSubDomain(session, name.substr(0, name.find('.')).c_str())) return Status();
    return PCFClientLoadFile(session, (folder + "\\" + name).c_str(), false);
  });
}

Status PCFClientSetValueForKeyInSubDomain(PCFClientSession* session, const char* key,
                                          const char* subDomain, const char* value) {
  return StatusUnlessOutOfMemory(Code::kNoMemory, [&] {
    if (session == nullptr || IsUnwritableText(key) || IsUnwritableText(subDomain) ||
        IsUnwritableText(value)) {
      return Status(Code::kBadArgument);
    }
    Status known = PCFClientEnsureSubDomain(session, subDomain);
    if (!known.ok()) return known;
    PCFSectionMap change;
    change[subDomain][key] = value;
    AddDocument(*session, std::move(change), {}, true);
    return Status();
  });
}

Status PCFClientGetValueForKeyInSubDomain(PCFClientSession* session, const char* key,
                                          const char* subDomain, char* buffer,
                                          std::size_t bufferSize) {
  return StatusUnlessOutOfMemory(Code::kNoMemory, [&] {
    if (session == nullptr || buffer == nullptr || bufferSize == 0 || IsEmptyArgument(key) ||
        IsEmptyArgument(subDomain)) {
      return Status(Code::kBadArgument);
    }
    buffer[0] = '\0';
    if (!PCFClientEnsureSubDomain(session, subDomain).ok()) return Status(Code::kUnknownSubDomain, subDomain);
    const std::string code = subDomain;
    const std::string wanted = key;
    for (const PCFSectionMap& document : session->documents) {
      const auto section = document.find(code);
      if (section == document.end()) continue;
      const auto entry = section->second.find(wanted);
      if (entry == section->second.end()) continue;
      if (entry->second.size() >= bufferSize) return Status(Code::kValueTooLong, key);
      CopyStringPadded(buffer, entry->second.c_str(), bufferSize, bufferSize);
      return Status();
    }
    return Status();
  });
}

Status PCFClientSave(PCFClientSession* session, std::vector<PCFUnsavedDocument>* unsaved) {
  if (session == nullptr) return Code::kBadArgument;
  return StatusUnlessOutOfMemory(Code::kNoMemory, [&] {
    Status status;
    for (std::size_t i = 0; i < session->documents.size(); ++i) {
      const PCFSectionMap& document = session->documents[i];
      const PCFClientSession::Origin& origin = session->origins[i];
      const std::string& payloadCode = origin.payloadCode;
      const auto payload = document.find(payloadCode);
      if (payloadCode.empty() || payload == document.end()) continue;

      std::string folder;
      const bool haveFolder = session->pcfFolder(folder);
      if (haveFolder) PCFClientEnsureFolder(folder);
      const std::string text = PCFFormatDocument(payloadCode, document);
      if (text.empty()) {
        if (haveFolder) DeleteSharedCopy(folder, payloadCode);
        continue;
      }
      // The own path's problem is the one reported, so it replaces the
      // shared copy's.
      std::optional<PCFUnsavedDocument> failure;
      // A document the reader would refuse is not written over a readable
      // one: the writer copies text as the model holds it, and text that is
      // not UTF-8 (read from CDATA, say) can swallow the markup after it.
      PCFSectionMap readBack;
      std::string readBackCode;
      if (!PCFReadDocumentText(text, &readBack, &readBackCode).ok()) {
        status = Status(Code::kWriteFailed, origin.path);
        failure = PCFUnsavedDocument{origin.path, PCFSaveProblem::kWouldNotReadBack, std::string()};
      } else {
        const PCFEntryMap& entries = payload->second;
        // A copy without a name is a target that cannot be opened.
        status = Status(Code::kWriteFailed, "no shared copy name");
        const std::string sharedCopy =
            haveFolder ? PCFClientDocumentPath(folder, payloadCode.c_str(), ValueOf(entries, "LicensingCode").c_str())
                       : std::string();
        if (!sharedCopy.empty()) {
          const std::optional<PCFSaveProblem> problem = WriteTarget(sharedCopy, text);
          status = problem ? Status(Code::kWriteFailed, sharedCopy) : Status();
          if (problem) failure = PCFUnsavedDocument{origin.path, *problem, sharedCopy};
        }
        // A path too long for its buffer is not written to at all; a missing
        // one is a target that cannot be opened.
        const std::string& configPath = ValueOf(entries, "RMTConfigPath");
        if (configPath.empty()) {
          status = Status(Code::kWriteFailed, "no RMTConfigPath");
          failure = PCFUnsavedDocument{origin.path, PCFSaveProblem::kNoConfigPath, std::string()};
        } else if (configPath.size() >= kPCFConfigPathSize) {
          failure = PCFUnsavedDocument{origin.path, PCFSaveProblem::kConfigPathTooLong, std::string()};
        } else if (const std::optional<PCFSaveProblem> problem = WriteTarget(configPath, text)) {
          status = Status(Code::kWriteFailed, configPath);
          failure = PCFUnsavedDocument{origin.path, *problem, configPath};
        } else {
          status = Status();
        }
      }
      if (failure && unsaved != nullptr) unsaved->push_back(std::move(*failure));
    }
    return status;
  });
}

}  // namespace customhooks::pcf
