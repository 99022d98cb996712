// The PCF folder, where each document has a shared copy named
// <payload code>.<LicensingCode>.xml.
//
// Where that folder lies is the product's business: the caller says it with
// a locator, asked each time the folder is needed.
#ifndef CUSTOMHOOKS_PCF_PCF_FOLDER_H_
#define CUSTOMHOOKS_PCF_PCF_FOLDER_H_

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace customhooks::pcf {

// Gives the path of the PCF folder; nothing when it cannot be determined:
// there is no PCF folder then, rather than one relative to wherever the
// process happens to run. Locating may create the folders that hold the PCF
// folder, never the PCF folder itself. May throw std::bad_alloc.
using PcfFolderLocator = std::function<std::optional<std::string>()>;

// A "LicensingCode" of kLicensingCodeSize bytes or more counts as empty: the
// document then has no shared copy.
constexpr std::size_t kLicensingCodeSize = 64;

// The first name in `folder`, in listing order, that contains `part`
// (compared in UTF-16, case-sensitive), in UTF-8; "" when `part` is empty,
// the folder cannot be listed or no name contains it. May throw
// std::bad_alloc.
std::string FindNameContaining(const std::string& folder, std::string_view part);

// True for a payload code that names a shared copy: 38 bytes, "{" first and
// "}" last.
bool IsSharedCopyCode(std::string_view payloadCode);

// The path of a document's shared copy in `folder`. "" unless
// IsSharedCopyCode(payloadCode), the licensing code is not empty and shorter
// than kLicensingCodeSize, and the file name holds no path separator, drive
// colon, wildcard or other character a file name may not have; "" also when
// memory runs out.
std::string SharedCopyPath(const std::string& folder, std::string_view payloadCode, std::string_view licensingCode);

// Creates the PCF folder `folder` when it is missing. Failures are ignored.
void CreatePcfFolder(const std::string& folder);

}  // namespace customhooks::pcf

#endif  // CUSTOMHOOKS_PCF_PCF_FOLDER_H_
