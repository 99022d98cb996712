// A private folder for the checks of one process, and plain file access that
// does not go through the module's own file layer.
#ifndef CUSTOMHOOKS_FUZZ_CHECKS_SCRATCH_H_
#define CUSTOMHOOKS_FUZZ_CHECKS_SCRATCH_H_

#include <string>

// The process's own folder below the system's temporary folder (TMPDIR on
// POSIX), created on first use and removed when the process exits normally.
// Native separators, UTF-8.
const std::string& ScratchRoot();

// ScratchRoot() joined with `name`.
std::string ScratchPath(const std::string& name);

// Writes `bytes` as the whole file, creating or truncating it. True on success.
bool WriteBytes(const std::string& path, const std::string& bytes);

// The whole file; false when it is not a file or cannot be read.
bool ReadBytes(const std::string& path, std::string& bytes);

// Removes a file or a folder with everything in it; a missing one is fine.
void RemoveTree(const std::string& path);

// Sets an environment variable of this process.
void SetProcessEnvironment(const std::string& name, const std::string& value);

#endif  // CUSTOMHOOKS_FUZZ_CHECKS_SCRATCH_H_
