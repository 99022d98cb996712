#include "pcf/pcf_client.h"

#include <cstdint>
#include <new>
#include <utility>

#include "fs/files.h"
#include "fs/product_names.h"
#include "fs/text.h"

namespace customhooks::pcf {

namespace {

// Empty, holding a NUL, or not well-formed UTF-8. The conversion turns every
// malformed sequence into U+FFFD, so only well-formed text comes back
// unchanged. Text that is not UTF-8 must never reach a document: the
// document would no longer be well-formed XML, and neither this client nor
// the product could read it again; a NUL would cut it short. May throw
// std::bad_alloc.
bool IsUnwritableText(std::string_view text) {
  return text.empty() || text.find('\0') != std::string_view::npos ||
         fs::WideToUtf8(fs::Utf8ToWide(text)) != text;
}

const std::string& ValueOf(const EntryMap& entries, std::string_view key) {
  static const std::string kAbsent;
  const auto entry = entries.find(key);
  return entry == entries.end() ? kAbsent : entry->second;
}

// Writes one target; nothing when it was written, else why not.
std::optional<SaveProblem> WriteTarget(const std::string& path, const std::string& text) {
  if (fs::WriteFileDurably(path, text).ok()) return std::nullopt;
  // Only the report tells the two apart; the target is as it was either way.
  std::uint32_t attributes = 0;
  const bool readOnly = fs::GetPathAttributes(path, &attributes).ok() &&
                        (attributes & fs::kAttributeDirectory) == 0 && (attributes & fs::kAttributeReadOnly) != 0;
  return readOnly ? SaveProblem::kReadOnly : SaveProblem::kNotWritable;
}

// Only a code that names a shared copy can have one to delete; any other
// code would take an unrelated file whose name happens to contain it. A
// copy that cannot be found for want of memory stays.
void DeleteSharedCopy(const std::string& folder, const std::string& payloadCode) {
  if (!IsSharedCopyCode(payloadCode)) return;
  try {
    const std::string name = FindNameContaining(folder, payloadCode);
    if (!name.empty()) static_cast<void>(fs::RemoveFile(folder + "\\" + name));
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace

DocumentSession::DocumentSession(PcfFolderLocator pcfFolder) : pcfFolder_(std::move(pcfFolder)) {}

Status DocumentSession::Load(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return Code::kBadArgument;
  return UnlessOutOfMemory(Code::kNoMemory, [&] {
    Loaded loaded;
    Status read = ReadDocument(path, &loaded.document);
    if (!read.ok()) return read;
    loaded.path = path;
    documents_.push_back(std::move(loaded));
    return Status();
  });
}

Status DocumentSession::SetValue(std::string_view subdomain, std::string_view key, std::string_view value) {
  return UnlessOutOfMemory(Code::kNoMemory, [&] {
    if (IsUnwritableText(subdomain) || IsUnwritableText(key) || IsUnwritableText(value)) {
      return Status(Code::kBadArgument);
    }
    Status known = MakeKnown(subdomain);
    if (!known.ok()) return known;
    for (Loaded& loaded : documents_) {
      const auto section = loaded.document.sections.find(subdomain);
      if (section == loaded.document.sections.end()) continue;
      // Everything that can fail comes first, so a failed set changes
      // nothing.
      std::string newValue(value);
      const auto entry = section->second.try_emplace(std::string(key)).first;
      entry->second.swap(newValue);
      break;
    }
    return Status();
  });
}

Status DocumentSession::Save(std::vector<UnsavedDocument>* unsaved) const {
  return UnlessOutOfMemory(Code::kNoMemory, [&] {
    Status status;
    for (const Loaded& loaded : documents_) {
      std::optional<Status> outcome = SaveDocument(loaded, unsaved);
      if (outcome) status = std::move(*outcome);
    }
    return status;
  });
}

std::optional<std::string> DocumentSession::PcfFolder() const {
  if (!pcfFolder_) return std::nullopt;
  return pcfFolder_();
}

bool DocumentSession::IsKnown(std::string_view name) const {
  if (name.empty()) return false;
  for (const Loaded& loaded : documents_) {
    if (loaded.document.payloadCode.find(name) != std::string::npos) return true;
    if (loaded.document.sections.count(name) != 0) return true;
  }
  return false;
}

Status DocumentSession::MakeKnown(std::string_view subdomain) {
  if (IsKnown(subdomain)) return Status();
  const std::optional<std::string> folder = PcfFolder();
  const std::string name = folder ? FindNameContaining(*folder, subdomain) : std::string();
  if (name.empty()) return Status(Code::kNotFound, subdomain);
  // Only the first matching file is considered. When the part of its name
  // before the first "." is already known, it is taken as loaded.
  if (IsKnown(std::string_view(name).substr(0, name.find('.')))) return Status();
  return Load(*folder + "\\" + name);
}

std::optional<Status> DocumentSession::SaveDocument(const Loaded& loaded,
                                                    std::vector<UnsavedDocument>* unsaved) const {
  // A document is written under its own code and to its own targets even
  // when another document has a section with the same code, and named by
  // its path.
  const Document& document = loaded.document;
  const std::string& payloadCode = document.payloadCode;
  const auto payload = document.sections.find(payloadCode);
  if (payloadCode.empty() || payload == document.sections.end()) return std::nullopt;

  const std::optional<std::string> folder = PcfFolder();
  if (folder) CreatePcfFolder(*folder);
  const std::string text = FormatDocument(payloadCode, document.sections);
  if (text.empty()) {
    if (folder) DeleteSharedCopy(*folder, payloadCode);
    return std::nullopt;
  }
  Status status;
  // The own path's problem is the one reported, so it replaces the shared
  // copy's.
  std::optional<UnsavedDocument> failure;
  // A document the reader would refuse is not written over a readable one:
  // the writer copies text as the model holds it, and text that is not UTF-8
  // (a reference to a surrogate, say) can swallow the markup after it.
  if (!FormatReadsBack(payloadCode, document.sections)) {
    status = Status(Code::kWriteFailed, loaded.path);
    failure = UnsavedDocument{loaded.path, SaveProblem::kWouldNotReadBack, std::string()};
  } else {
    const EntryMap& entries = payload->second;
    // A copy without a name is a target that cannot be opened.
    status = Status(Code::kWriteFailed, "no shared copy name");
    const std::string sharedCopy =
        folder ? SharedCopyPath(*folder, payloadCode, ValueOf(entries, names::kLicensingCodeKey)) : std::string();
    if (!sharedCopy.empty()) {
      const std::optional<SaveProblem> problem = WriteTarget(sharedCopy, text);
      status = problem ? Status(Code::kWriteFailed, sharedCopy) : Status();
      if (problem) failure = UnsavedDocument{loaded.path, *problem, sharedCopy};
    }
    // A path too long for the product's buffer is not written to at all; a
    // missing one is a target that cannot be opened.
    const std::string& configPath = ValueOf(entries, names::kConfigPathKey);
    if (configPath.empty()) {
      status = Status(Code::kWriteFailed, "no RMTConfigPath");
      failure = UnsavedDocument{loaded.path, SaveProblem::kNoConfigPath, std::string()};
    } else if (configPath.size() >= kConfigPathSize) {
      failure = UnsavedDocument{loaded.path, SaveProblem::kConfigPathTooLong, std::string()};
    } else if (const std::optional<SaveProblem> problem = WriteTarget(configPath, text)) {
      status = Status(Code::kWriteFailed, configPath);
      failure = UnsavedDocument{loaded.path, *problem, configPath};
    } else {
      status = Status();
    }
  }
  if (failure && unsaved != nullptr) unsaved->push_back(std::move(*failure));
  return status;
}

}  // namespace customhooks::pcf
