// bench_session_once: one whole install session on a prepared machine, for
// figures that need a process of their own (peak memory) or a run under a
// tool (instruction counts with callgrind).
//
//   bench_session_once prepare DIR [--payloads=N] [--caps-mb=M] [--doc-kb=K]
//       builds (or keeps) a machine of that scale in DIR and runs one session
//       on it, so that DIR is in the state every later session starts from
//   bench_session_once run DIR [--memory] [--floor]
//       runs one session on the machine in DIR; with --memory prints the
//       process's resident size before the session and its peak afterwards;
//       with --floor runs the session's floor (RunSessionFloor) instead of
//       the module
//
// Like every session of ch_bench, the run starts after the installer's own
// write to "caps.db" (TouchInstallerDatabase), so that its backup is out of
// date; that write is no part of what a tool counts in the session.
//
// Exits 0 when the session logged what the sample suite's transcript shows
// (the floor: when it did all its work).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "scaled_machine.h"
#include "session_work.h"

namespace {

// A "VmRSS"/"VmHWM" figure of /proc/self/status, in KiB; -1 when absent.
long long StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string wanted = std::string(field) + ":";
  while (std::getline(status, line)) {
    if (line.compare(0, wanted.size(), wanted) == 0) return std::atoll(line.c_str() + wanted.size());
  }
  return -1;
}

// Reports a failure; returns the exit status for it.
int Fail(const std::string& error) {
  std::fprintf(stderr, "bench_session_once: %s\n", error.c_str());
  return 1;
}

bool Session(const ScaledMachine& machine, bool floor = false) {
  std::string error;
  const bool done = floor ? RunSessionFloor(machine, error) : SessionSucceeded(machine, RunModuleSession(machine), error);
  if (!done) Fail(error);
  return done;
}

int Usage() {
  std::fprintf(stderr,
               "usage: bench_session_once prepare DIR [--payloads=N] [--caps-mb=M] [--doc-kb=K]\n"
               "       bench_session_once run DIR [--memory] [--floor]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string command = argv[1];
  const std::string root = argv[2];
  MachineScale scale;
  bool memory = false;
  bool floor = false;
  for (int i = 3; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strncmp(arg, "--payloads=", 11) == 0) {
      scale.payloads = std::atoi(arg + 11);
    } else if (std::strncmp(arg, "--caps-mb=", 10) == 0) {
      scale.capsBytes = std::atoll(arg + 10) << 20;
    } else if (std::strncmp(arg, "--doc-kb=", 9) == 0) {
      scale.documentBytes = std::atoll(arg + 9) << 10;
    } else if (std::strcmp(arg, "--memory") == 0) {
      memory = true;
    } else if (std::strcmp(arg, "--floor") == 0) {
      floor = true;
    } else {
      return Usage();
    }
  }

  ScaledMachine machine;
  std::string error;
  if (command == "prepare") {
    if (!PrepareMachine(root, scale, machine, error)) return Fail(error);
    return Session(machine) ? 0 : 1;
  }
  if (command != "run") return Usage();
  if (!OpenMachine(root, machine, error) || !TouchInstallerDatabase(error)) return Fail(error);
  const long long before = StatusKiB("VmRSS");
  if (!Session(machine, floor)) return 1;
  if (memory) {
    const long long peak = StatusKiB("VmHWM");
    std::printf("machine %s: resident before the session %lld KiB, peak %lld KiB, growth %lld KiB\n",
                machine.scale.Name().c_str(), before, peak, peak - before);
  }
  return 0;
}
