// The test build: a counter decides which platform call fails, and the names
// of the calls are kept.
#include <string>
#include <vector>

#include "fs/fault_injection.h"
#include "fs/platform.h"

namespace {
unsigned long callsSinceArmed = 0;
unsigned long failingCall = 0;
std::vector<std::string> callsMade;
}  // namespace

bool fsplatform::PassGate(const char* call) {
  callsMade.emplace_back(call);
  return ++callsSinceArmed != failingCall;
}

void fsfaults::FailNthPlatformCall(unsigned long n) {
  callsSinceArmed = 0;
  failingCall = n;
  callsMade.clear();
}

unsigned long fsfaults::PlatformCallsSinceArmed() { return callsSinceArmed; }

std::vector<std::string> fsfaults::PlatformCallsMade() { return callsMade; }
