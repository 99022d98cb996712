// Scaled suite machines for the benchmarks: the sample suite of
// tools/samplesuite grown to a chosen number of installed payloads, a
// configuration database with many records, an installer database ("caps.db")
// of a chosen size and a second-product document of a chosen size.
//
// A machine is a folder holding "Common Files" (the module's common data
// folder lives below it) and "Program Files" (where the payloads are
// installed). Building a large one takes seconds, so a finished machine is
// marked with a stamp file and reused while its scale stays the same.
#ifndef CUSTOMHOOKS_BENCH_SCALED_MACHINE_H_
#define CUSTOMHOOKS_BENCH_SCALED_MACHINE_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "pcf/pcf_document.h"
#include "samplesuite/sample_machine.h"

struct MachineScale {
  int payloads = 100;                   // rows of the payloads table, the suite's own included
  int domainRecords = 100000;           // records of domain 1 in "pcd.db" besides the suite's
  std::int64_t capsBytes = 1 << 20;     // size of the installer's "caps.db"
  std::int64_t documentBytes = 1024;    // size of the second product's application document

  // A short name, e.g. "p10000-c1M-d1K".
  std::string Name() const;
};

struct ScaledMachine {
  std::string root;         // the machine folder (native path)
  std::string commonFiles;  // the Common Files folder the module is pointed at
  MachineScale scale;
  SampleSuite suite;
};

// Points the module's special-folder lookups (environment variables on
// POSIX) at the machine. Everything the module does afterwards happens there.
void UseMachine(const ScaledMachine& machine);

// Makes `root` hold a machine of `scale`, reusing a finished one of the same
// scale, and points the module at it. A folder that holds something else than
// a machine is never removed: that is an error. False with `error` set on
// failure.
bool PrepareMachine(const std::string& root, const MachineScale& scale, ScaledMachine& machine,
                    std::string& error);

// Opens the finished machine at `root` (its scale as it was built) and
// points the module at it. False with `error` set when there is none.
bool OpenMachine(const std::string& root, ScaledMachine& machine, std::string& error);

// The sections of a configuration document of about `bytes` bytes once
// formatted: `payloadCode` with `payloadEntries`, then Other sections of
// twenty entries each until the size is reached.
customhooks::pcf::SectionMap SizedDocumentSections(
    const std::string& payloadCode,
    const std::vector<std::pair<std::string, std::string>>& payloadEntries, std::int64_t bytes);

// A payload code of the form the suite uses ("{8-4-4-4-12}", 38 bytes),
// distinct for every `index` and `salt`.
std::string BenchPayloadCode(std::uint32_t salt, std::uint32_t index);

#endif  // CUSTOMHOOKS_BENCH_SCALED_MACHINE_H_
