// Test-only control of the platform boundary. Only the ch_fs_faults library,
// built for the tests with CUSTOMHOOKS_FS_FAULT_INJECTION defined, provides
// these; the shipped ch_fs lets every platform call run.
#ifndef CUSTOMHOOKS_FS_FAULT_INJECTION_H_
#define CUSTOMHOOKS_FS_FAULT_INJECTION_H_

#include <string>
#include <vector>

namespace fsfaults {

// Restarts the count of platform calls; the `n`-th call from now (1: the
// next one) fails as the OS would fail it. 0 lets every call run.
void FailNthPlatformCall(unsigned long n);

// Platform calls made since the last FailNthPlatformCall.
unsigned long PlatformCallsSinceArmed();

// Their names, in order (the primitives of fs/platform.h).
std::vector<std::string> PlatformCallsMade();

}  // namespace fsfaults

#endif  // CUSTOMHOOKS_FS_FAULT_INJECTION_H_
