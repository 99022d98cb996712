// A libFuzzer target around one check of checks/fuzz_checks.h, or of the
// header CH_FUZZ_HEADER; the build names the check (CH_FUZZ_CHECK) and the
// target (CH_FUZZ_TARGET). A broken property stops the run like a crash, so
// libFuzzer keeps the input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#if defined(CH_FUZZ_HEADER)
#include CH_FUZZ_HEADER
#else
#include "checks/fuzz_checks.h"
#endif

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string failure = CH_FUZZ_CHECK(data, size);
  if (!failure.empty()) {
    std::fprintf(stderr, "%s: %s\n", CH_FUZZ_TARGET, failure.c_str());
    std::abort();
  }
  return 0;
}
