// The shared PCF folder, where each document has a shared copy.
//
// Where that folder lies is the product's business: the caller says it with
// a locator, asked each time the folder is needed.
#ifndef CUSTOMHOOKS_PCF_PCF_FOLDER_H_
#define CUSTOMHOOKS_PCF_PCF_FOLDER_H_

#include <cstddef>
#include <functional>
#include <string>

namespace customhooks::pcf {

// Stores the path of the PCF folder in `folder` and returns true; false,
// `folder` untouched, when it cannot be determined: there is no PCF folder
// then, rather than one relative to wherever the process happens to run.
// Locating may create the folders that hold the PCF folder, never the PCF
// folder itself. May throw std::bad_alloc.
using PcfFolderLocator = std::function<bool(std::string& folder)>;

// Size of the buffer the save reads "LicensingCode" into: a "LicensingCode"
// of 64 bytes or more counts as empty, and the document then has no shared
// copy.
constexpr std::size_t kPCFLicensingCodeSize = 64;

// Lists `folder` and stores the first name, in listing order, that contains
// `part` (compared in UTF-16, case-sensitive) in `name`, converted to UTF-8.
// False when `part` is empty, the folder cannot be listed or no name
// contains it. May throw std::bad_alloc.
bool FindInPCFFolder(const std::string& folder, const std::string& part, std::string& name);

// True for a payload code that names a shared copy: 38 bytes, "{" first and
// "}" last.
bool IsSharedCopyCode(const std::string& payloadCode);

// Full path of the first file in `folder` whose name contains `payloadCode`
// (compared in UTF-16); "" when there is none, the folder cannot be listed,
// or the code is empty.
std::string PCFClientFindDocumentFile(const std::string& folder, const char* payloadCode);

// Path of a document's shared copy: <folder>\<payloadCode>.<licensingCode>.xml.
// "" unless the payload code has 38 bytes, begins with "{" and ends with "}",
// the licensing code is not empty and shorter than kPCFLicensingCodeSize, and
// the file name holds no path separator, drive colon, wildcard or other
// character a file name may not have.
std::string PCFClientDocumentPath(const std::string& folder, const char* payloadCode,
                                  const char* licensingCode);

// Creates the PCF folder when it is missing. Failures are ignored.
void PCFClientEnsureFolder(const std::string& folder);

}  // namespace customhooks::pcf

#endif  // CUSTOMHOOKS_PCF_PCF_FOLDER_H_
