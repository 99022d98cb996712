// The configuration-document client: the only way the rest of the module
// reads and changes configuration documents.
//
// A caller loads documents into a DocumentSession by path, sets values by
// key in a subdomain (the code of a section) and saves. Nothing reaches the
// disk before Save. Saving writes each loaded document twice: as its shared
// copy in the PCF folder (pcf/pcf_folder.h) and to the path the document
// names under "RMTConfigPath". A subdomain that no loaded document holds is
// looked for in the PCF folder and loaded on the spot.
//
// Texts are UTF-8. Failures carry the codes of pcf/pcf_status.h; running out
// of memory gives Code::kNoMemory. No operation throws.
#ifndef CUSTOMHOOKS_PCF_PCF_CLIENT_H_
#define CUSTOMHOOKS_PCF_PCF_CLIENT_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pcf/pcf_document.h"
#include "pcf/pcf_folder.h"
#include "pcf/pcf_status.h"

namespace customhooks::pcf {

// An "RMTConfigPath" of kConfigPathSize bytes or more is not written to.
constexpr std::size_t kConfigPathSize = 260;

// Why a save left a document unwritten at one of its targets.
enum class SaveProblem {
  kWouldNotReadBack,   // its text would not read back: neither target was written
  kReadOnly,           // the target is read-only
  kNotWritable,        // the target cannot be created or written
  kNoConfigPath,       // it has no "RMTConfigPath" value, so no path of its own
  kConfigPathTooLong,  // its "RMTConfigPath" has kConfigPathSize bytes or more
};

// A document that a save did not write to every target it has.
struct UnsavedDocument {
  std::string path;    // the path it was loaded from, exactly as given
  SaveProblem problem;
  std::string target;  // the file not written; "" when no file was tried
};

// The documents one caller works on, held in memory from their load to the
// session's end. Used by one thread at a time. Destroying it saves nothing.
class DocumentSession {
 public:
  // A session without documents whose shared copies lie in the folder
  // `pcfFolder` gives; with an empty locator there is no PCF folder.
  explicit DocumentSession(PcfFolderLocator pcfFolder);

  DocumentSession(const DocumentSession&) = delete;
  DocumentSession& operator=(const DocumentSession&) = delete;

  // Reads the document file at `path` (ReadDocument) and adds it after the
  // documents loaded before, even when the same path was loaded already.
  // Code::kBadArgument for an empty path or one holding a NUL; otherwise
  // the reader's failure (Code::kNotFound when nothing stands at `path`).
  // On any failure the session is unchanged.
  Status Load(const std::string& path);

  // Sets `key` to `value` in the first loaded document that has a section
  // with exactly the code `subdomain`.
  //
  // A subdomain that is neither such a code nor part of a loaded document's
  // payload code is made known first: the first file of the PCF folder
  // whose name contains it (compared in UTF-16, case-sensitive) is loaded,
  // unless the part of that name before its first "." is already known.
  // A subdomain known only as part of a payload code or by such a file name
  // gives success without a change.
  //
  // Code::kBadArgument when `subdomain`, `key` or `value` is empty, holds a
  // NUL or is not well-formed UTF-8 (a document holding it would not read
  // back). Code::kNotFound when the PCF folder cannot be located or listed,
  // or holds no such file. Otherwise the load's failure. A failed set
  // changes no value.
  Status SetValue(std::string_view subdomain, std::string_view key, std::string_view value);

  // Writes every loaded document whose payload code is not empty to its two
  // targets: its shared copy in the PCF folder (created when missing) and
  // its "RMTConfigPath". Each target is replaced in one step, so a crash
  // never leaves half a document. A document whose Payload section has no
  // entries is not written; its shared copy (the first file of the PCF
  // folder whose name contains its payload code) is deleted instead. A
  // failed write does not stop the others. The session stays as it was.
  //
  // Gives the outcome of the last target tried: success when it was
  // written, or when none was tried; Code::kWriteFailed when it was not (it
  // is then as it was). Special cases:
  //  - no "RMTConfigPath": counts as a failed write of its own path;
  //  - an "RMTConfigPath" too long: not tried, so the shared copy's outcome
  //    stands;
  //  - no name for the shared copy (SharedCopyPath): counts as a failed
  //    write;
  //  - text that would not read back: neither target is written.
  //
  // When `unsaved` is not null, one entry is appended for every document
  // not written to each of its targets, in document order, whatever the
  // outcome: the problem with its own path when there is one, else the
  // problem with its shared copy. A shared copy the document has no name
  // for is no target of it. On Code::kNoMemory the entries may be
  // incomplete.
  Status Save(std::vector<UnsavedDocument>* unsaved = nullptr) const;

 private:
  // A loaded document and the path it was loaded from, exactly as given.
  struct Loaded {
    Document document;
    std::string path;
  };

  // The PCF folder's path; nothing when there is none. May throw
  // std::bad_alloc.
  std::optional<std::string> PcfFolder() const;
  // A loaded payload code contains `name`, which is not empty, or a loaded
  // document has a section whose code equals it.
  bool IsKnown(std::string_view name) const;
  // Makes `subdomain` known, as SetValue describes. May throw
  // std::bad_alloc.
  Status MakeKnown(std::string_view subdomain);
  // Writes one document as Save describes, appending its problem to
  // `unsaved` when not null. The outcome of its last write; nothing when no
  // write was tried. May throw std::bad_alloc.
  std::optional<Status> SaveDocument(const Loaded& loaded, std::vector<UnsavedDocument>* unsaved) const;

  PcfFolderLocator pcfFolder_;
  std::vector<Loaded> documents_;  // in load order
};

}  // namespace customhooks::pcf

#endif  // CUSTOMHOOKS_PCF_PCF_CLIENT_H_
