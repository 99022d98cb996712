// The test build: a counter decides which platform call fails.
#include "fs/fault_injection.h"
#include "fs/platform.h"

namespace {
unsigned long callsSinceArmed = 0;
unsigned long failingCall = 0;
}  // namespace

bool fsplatform::PassGate() { return ++callsSinceArmed != failingCall; }

void fsfaults::FailNthPlatformCall(unsigned long n) {
  callsSinceArmed = 0;
  failingCall = n;
}

unsigned long fsfaults::PlatformCallsSinceArmed() { return callsSinceArmed; }
