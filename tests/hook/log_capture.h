// Collects the lines a hook call hands to its log callback.
#ifndef CUSTOMHOOKS_TESTS_HOOK_LOG_CAPTURE_H_
#define CUSTOMHOOKS_TESTS_HOOK_LOG_CAPTURE_H_

#include <string>
#include <vector>

#include "CustomHooks.h"

// The callback appends to CapturedLines(); a test clears it first.
void KXHOOK_CALL CaptureLine(const char* line);
std::vector<std::string>& CapturedLines();

#endif  // CUSTOMHOOKS_TESTS_HOOK_LOG_CAPTURE_H_
