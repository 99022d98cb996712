// The shared PCF folder (internal to the client).
#ifndef CUSTOMHOOKS_PCF_PCF_FOLDER_H_
#define CUSTOMHOOKS_PCF_PCF_FOLDER_H_

#include <string>

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

#endif  // CUSTOMHOOKS_PCF_PCF_FOLDER_H_
