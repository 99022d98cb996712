// Replays every saved input of the fuzz targets through the same checks the
// targets run: the seed corpora (fuzz/corpus/<target>) and the inputs of
// faults found and fixed (fuzz/regressions/<target>). Prints each broken
// property with its file; exits with 1 when any input fails or a target has
// no seed corpus.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "checks/fuzz_checks.h"
#include "checks/scratch.h"

namespace stdfs = std::filesystem;

namespace {

struct Target {
  const char* name;
  std::string (*check)(const std::uint8_t*, std::size_t);
  // The target whose saved inputs it replays: its own, or another's that
  // lays out the same machines.
  const char* inputs;
};

const Target kTargets[] = {
    {"fuzz_document_reader", CheckDocumentReader, "fuzz_document_reader"},
    {"fuzz_document_roundtrip", CheckDocumentRoundTrip, "fuzz_document_roundtrip"},
    {"fuzz_session_close", CheckSessionClose, "fuzz_session_close"},
    {"fuzz_dry_run", CheckDryRunPredictsClose, "fuzz_session_close"},
};

// The source folder as this process sees it; a Windows build runs under Wine,
// which shows the POSIX root as drive Z:.
stdfs::path FuzzFolder() {
  std::string folder = CH_FUZZ_DIR;
#if defined(_WIN32)
  if (!folder.empty() && folder[0] == '/') folder = "Z:" + folder;
#endif
  return stdfs::u8path(folder);
}

std::vector<stdfs::path> SavedInputs(const char* kind, const Target& target) {
  std::vector<stdfs::path> files;
  std::error_code ec;
  for (stdfs::directory_iterator it(FuzzFolder() / kind / target.inputs, ec), end; !ec && it != end;
       it.increment(ec)) {
    if (it->is_regular_file(ec)) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

int main() {
  int passed = 0;
  int failed = 0;
  for (const Target& target : kTargets) {
    for (const char* kind : {"corpus", "regressions"}) {
      const std::vector<stdfs::path> files = SavedInputs(kind, target);
      if (files.empty() && std::string(kind) == "corpus") {
        std::printf("FAILED %s: no seed inputs\n", target.name);
        ++failed;
      }
      for (const stdfs::path& file : files) {
        std::string bytes;
        std::string failure = "the file cannot be read";
        if (ReadBytes(file.u8string(), bytes)) {
          failure = target.check(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        }
        if (failure.empty()) {
          ++passed;
        } else {
          std::printf("FAILED %s %s: %s\n", target.name, file.u8string().c_str(), failure.c_str());
          ++failed;
        }
      }
    }
  }
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
