// The configuration-document client: the only way the rest of the module
// reads and changes configuration documents.
//
// A caller creates a session, loads a document by path, sets values by key in
// a subdomain (the code of a section) and saves; it closes the session in
// every case. Nothing reaches the disk before PCFClientSave. Saving writes
// each loaded document twice: as the shared copy in the PCF folder
// (<PCF folder>\<payload code>.<LicensingCode>.xml, the folder the session's
// locator names) and to the path the document names under "RMTConfigPath". A subdomain that no loaded
// document holds is looked for in the PCF folder and loaded on the spot.
//
// Strings are NUL-terminated UTF-8. An argument counts as empty when it is
// null or converts to no UTF-16 character. Failures carry the codes of
// pcf_status.h. No operation throws.
#ifndef CUSTOMHOOKS_PCF_PCF_CLIENT_H_
#define CUSTOMHOOKS_PCF_PCF_CLIENT_H_

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "pcf/pcf_folder.h"
#include "pcf/pcf_status.h"

namespace customhooks::pcf {

// A client session. Created by PCFClientCreateSession and owned by the caller
// until PCFClientCloseSession; used by one thread at a time.
struct PCFClientSession;

// Size of the buffer the save reads "RMTConfigPath" into: an
// "RMTConfigPath" of 260 bytes or more is not written to. (The limit of a
// "LicensingCode" is the shared copy's, in pcf/pcf_folder.h.)
constexpr std::size_t kPCFConfigPathSize = 260;

// ---- The session ----------------------------------------------------------

// Stores a new, empty session in *session, whose shared copies lie in the
// folder `pcfFolder` gives. kNoMemory (*session set to null); kBadArgument
// for a null `session` or an empty locator.
Status PCFClientCreateSession(PCFClientSession** session, PcfFolderLocator pcfFolder);

// Frees the session and everything it holds; saves nothing. Null is allowed.
void PCFClientCloseSession(PCFClientSession* session);

// Owns a session: closes it when it goes.
struct PCFClientSessionCloser {
  void operator()(PCFClientSession* session) const { PCFClientCloseSession(session); }
};
using UniquePCFClientSession = std::unique_ptr<PCFClientSession, PCFClientSessionCloser>;

// Reads the document at `path` and adds it to the session (PCFMergeSections
// with `merge`), remembering path -> payload code (a path loaded twice keeps
// its first entry). kNoMemory; kBadArgument for a null session or an empty
// path; kNotFound when the path does not exist; the reader's codes when the
// document cannot be read (PCFReadDocument). On any failure the session is
// unchanged.
Status PCFClientLoadFile(PCFClientSession* session, const char* path, bool merge);

// Sets key -> value in the first loaded document that has a section with
// exactly the code `subDomain`, loading the subdomain's document from the PCF
// folder first when needed (PCFClientEnsureSubDomain). Success also when the
// subdomain is known only as part of a payload code and nothing was stored.
// kNoMemory; kBadArgument for a null session, or a key, subdomain or value
// that is empty or not well-formed UTF-8 (a document holding it would not
// read back); any failure of PCFClientEnsureSubDomain. A failed set changes
// no value.
Status PCFClientSetValueForKeyInSubDomain(PCFClientSession* session, const char* key,
                                          const char* subDomain, const char* value);

// Copies into `buffer` (`bufferSize` bytes, padded with NULs) the value of
// `key` in the first loaded document whose section `subDomain` holds that key;
// "" when no document holds the key. kNoMemory; kBadArgument for a null
// session or buffer, zero size, empty key or subdomain; kUnknownSubDomain
// when the subdomain cannot be made known; kValueTooLong when the value does
// not fit. On the last two the buffer holds "".
Status PCFClientGetValueForKeyInSubDomain(PCFClientSession* session, const char* key,
                                       const char* subDomain, char* buffer,
                                       std::size_t bufferSize);

// Why a save left a document unwritten at one of its targets.
enum class PCFSaveProblem {
  kWouldNotReadBack,   // its text would not read back: neither target was written
  kReadOnly,           // the target is read-only
  kNotWritable,        // the target cannot be created or written
  kNoConfigPath,       // it has no "RMTConfigPath" value, so no path of its own
  kConfigPathTooLong,  // its "RMTConfigPath" has kPCFConfigPathSize bytes or more
};

// A document that a save did not write to every target it has.
struct PCFUnsavedDocument {
  std::string path;    // the path it was loaded from, exactly as given
  PCFSaveProblem problem;
  std::string target;  // the file not written; "" when no file was tried
};

// Writes every loaded document to its two targets, each replacing its file
// in one step (a crash never leaves half a document). A document whose
// Payload section has no entries is not written; its shared copy, the first
// file of the PCF folder whose name contains its payload code, is deleted
// instead. The session is left as it was. Gives the outcome of the last
// write attempted: success when written (or nothing attempted); kWriteFailed
// when the target could not be written (it is then as it was: a read-only
// target, a missing "RMTConfigPath", a document without a shared-copy name,
// or a document whose text would not read back, so neither target is
// written); kNoMemory; kBadArgument for a null session. A failed write does
// not stop the others.
//
// When `unsaved` is not null, one entry is appended for every document that
// was not written to each of its targets, in the order of the documents,
// whatever the outcome: the problem with its own path when there is one,
// else the problem with its shared copy. A shared copy that the document has
// no name for is no target of it. On kNoMemory the entries may be incomplete.
Status PCFClientSave(PCFClientSession* session, std::vector<PCFUnsavedDocument>* unsaved = nullptr);

// Makes `subDomain` known: success when PCFClientHasSubDomain is true, or
// after loading the first file of the PCF folder whose name contains it
// (compared in UTF-16, case-sensitive; a file whose name up to its first "."
// is already known is not loaded again, and counts as success). kNoMemory;
// kBadArgument for a null session or an empty subdomain; kNotFound when the
// folder cannot be listed or has no such file; the load's failure otherwise.
Status PCFClientEnsureSubDomain(PCFClientSession* session, const char* subDomain);

// True when a loaded payload code contains `name` (byte substring) or a
// loaded document has a section whose code equals `name`. False for a null
// session or an empty name.
bool PCFClientHasSubDomain(const PCFClientSession* session, const char* name);

}  // namespace customhooks::pcf

#endif  // CUSTOMHOOKS_PCF_PCF_CLIENT_H_
