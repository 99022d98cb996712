// The shared PCF folder, where each document has a shared copy.
#ifndef CUSTOMHOOKS_PCF_PCF_FOLDER_H_
#define CUSTOMHOOKS_PCF_PCF_FOLDER_H_

#include <cstddef>
#include <string>

namespace customhooks::pcf {

// Size of the buffer the save reads "LicensingCode" into: a "LicensingCode"
// of 64 bytes or more counts as empty, and the document then has no shared
// copy.
constexpr std::size_t kPCFLicensingCodeSize = 64;

// Stores <common data folder>\PCF in `folder`; the common data folder is
// created when missing, the PCF folder is not. False, `folder` untouched,
// when the common data folder cannot be determined: there is no PCF folder
// then, rather than one relative to wherever the process happens to run.
bool GetPCFFolderPath(std::string& folder);

// Lists the PCF folder and stores the first name, in listing order, that
// contains `part` (compared in UTF-16, case-sensitive) in `name`, converted
// to UTF-8, and the folder in `folder`. False when `part` is empty, the
// folder cannot be listed or no name contains it. May throw std::bad_alloc.
bool FindInPCFFolder(const std::string& part, std::string& folder, std::string& name);

// True for a payload code that names a shared copy: 38 bytes, "{" first and
// "}" last.
bool IsSharedCopyCode(const std::string& payloadCode);

// Full path of the first file in the PCF folder whose name contains
// `payloadCode` (compared in UTF-16); "" when there is none, the folder cannot
// be listed, or the code is empty.
std::string PCFClientFindDocumentFile(const char* payloadCode);

// Path of a document's shared copy: <PCF folder>\<payloadCode>.<licensingCode>.xml.
// "" unless the payload code has 38 bytes, begins with "{" and ends with "}",
// the licensing code is not empty and shorter than kPCFLicensingCodeSize, the
// file name holds no path separator, drive colon, wildcard or other character
// a file name may not have, and the common data folder can be determined.
std::string PCFClientDocumentPath(const char* payloadCode, const char* licensingCode);

// Creates the common data folder and its "PCF" folder when they are missing.
// Failures are ignored.
void PCFClientEnsureFolder();

}  // namespace customhooks::pcf

#endif  // CUSTOMHOOKS_PCF_PCF_FOLDER_H_
