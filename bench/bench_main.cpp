// ch_bench: the module's work against its floor, at scale.
//
//   ch_bench [--machines=DIR] [--smoke] [--figures=FILE] [Google Benchmark flags]
//
// Every benchmark times, iteration by iteration, the module's work and then
// its floor (session_work.h) on the same machine. The reported time is the
// module's; the counters floor_ms and ratio (module / floor) come with it.
// After the run a table gives, per benchmark, the medians of all iterations,
// their ratio and, for the families that grow with the payloads, the cost
// of one more payload between successive sizes, module and floor; --figures
// writes that table to FILE as CSV.
//
// Machines are built below DIR (default "bench-machines") on first use and
// reused afterwards. --smoke runs each benchmark once at its smallest size.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fs/product_names.h"
#include "integration/storage_handles.h"
#include "scaled_machine.h"
#include "session_work.h"
#include "storage/pdb_reader.h"

namespace names = customhooks::names;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

std::string g_machinesFolder = "bench-machines";

// Prepared machines by scale name; every one is checked with one session
// (which also brings it to the state every later session starts from).
std::map<std::string, std::unique_ptr<ScaledMachine>> g_machines;

ScaledMachine* Machine(const MachineScale& scale, std::string& error) {
  auto& slot = g_machines[scale.Name()];
  if (!slot) {
    auto machine = std::make_unique<ScaledMachine>();
    if (!PrepareMachine(g_machinesFolder + "/" + scale.Name(), scale, *machine, error)) return nullptr;
    if (!SessionSucceeded(*machine, RunModuleSession(*machine), error) || !RunSessionFloor(*machine, error)) {
      return nullptr;
    }
    slot = std::move(machine);
  }
  UseMachine(*slot);
  return slot.get();
}

// Every iteration's (module, floor) seconds, by benchmark name, in the order
// the benchmarks were registered.
struct Samples {
  std::string family;
  long long size = 0;
  std::vector<double> module;
  std::vector<double> floor;
};
std::vector<std::pair<std::string, Samples>> g_samples;

Samples& SamplesOf(const std::string& name) {
  for (auto& entry : g_samples) {
    if (entry.first == name) return entry.second;
  }
  g_samples.emplace_back(name, Samples());
  return g_samples.back().second;
}

// Runs the measured loop. `module` and `floor` return false on a failure
// (with a message); the untimed steps, when given, run around them outside
// the measured time.
using Work = std::function<bool(std::string&)>;
struct Untimed {
  Work beforeModule;
  Work afterModule;
  Work beforeFloor;
};
void Measure(benchmark::State& state, const std::string& name, const Work& module, const Work& floor,
             const Untimed& untimed = Untimed()) {
  Samples& samples = SamplesOf(name);
  double floorTotal = 0;
  double ratioTotal = 0;
  for (auto _ : state) {
    std::string error;
    bool ok = !untimed.beforeModule || untimed.beforeModule(error);
    const auto start = Clock::now();
    ok = ok && module(error);
    const auto middle = Clock::now();
    ok = (!untimed.afterModule || untimed.afterModule(error)) && ok;
    ok = ok && (!untimed.beforeFloor || untimed.beforeFloor(error));
    const auto floorStart = Clock::now();
    ok = ok && floor(error);
    const auto end = Clock::now();
    if (!ok) {
      state.SkipWithError(error.c_str());
      break;
    }
    const double moduleSeconds = Seconds(start, middle);
    const double floorSeconds = Seconds(floorStart, end);
    state.SetIterationTime(moduleSeconds);
    samples.module.push_back(moduleSeconds);
    samples.floor.push_back(floorSeconds);
    floorTotal += floorSeconds;
    ratioTotal += moduleSeconds / floorSeconds;
  }
  const double n = static_cast<double>(state.iterations());
  if (n > 0 && !state.error_occurred()) {
    state.counters["floor_ms"] = floorTotal * 1000 / n;
    state.counters["ratio"] = ratioTotal / n;
  }
}

void SessionBenchmark(benchmark::State& state, const std::string& name, MachineScale scale) {
  std::string error;
  ScaledMachine* machine = Machine(scale, error);
  if (machine == nullptr) {
    state.SkipWithError(error.c_str());
    return;
  }
  // The installer writes "caps.db" during an install, so every session
  // starts with a backup that is out of date. The session's lines are
  // checked outside the measured time.
  const Work installerWrites = [](std::string& e) { return TouchInstallerDatabase(e); };
  auto outcome = std::make_shared<SessionOutcome>();
  Untimed untimed;
  untimed.beforeModule = installerWrites;
  untimed.afterModule = [machine, outcome](std::string& e) { return SessionSucceeded(*machine, *outcome, e); };
  untimed.beforeFloor = installerWrites;
  Measure(
      state, name,
      [machine, outcome](std::string&) {
        *outcome = RunModuleSession(*machine);
        return true;
      },
      [machine](std::string& e) { return RunSessionFloor(*machine, e); }, untimed);
}

void SearchBenchmark(benchmark::State& state, const std::string& name, MachineScale scale) {
  std::string error;
  ScaledMachine* machine = Machine(scale, error);
  if (machine == nullptr) {
    state.SkipWithError(error.c_str());
    return;
  }
  FloorPayloadSearch floor;
  if (!floor.ok()) {
    state.SkipWithError("the floor cannot open pdb.db");
    return;
  }
  const std::string wanted = machine->suite.secondProductCode;
  // The handle is opened before and closed after the measured search: its
  // close refreshes the backup of "caps.db", which is no part of a search.
  // Each search has a pass (and a connection) of its own, as the first
  // product's search in a session has.
  std::optional<customhooks::integration::SessionDatabases> databases;
  std::optional<customhooks::integration::PayloadConnection> pdb;
  Measure(
      state, name,
      [&](std::string& e) {
        const std::string found = ModulePayloadSearch(**pdb);
        if (found != wanted) e = "the module's search found \"" + found + "\"";
        return found == wanted;
      },
      [&](std::string& e) {
        const std::string found = floor.Run();
        if (found != wanted) e = "the floor's search found \"" + found + "\"";
        return found == wanted;
      },
      Untimed{[&](std::string& e) {
                databases.emplace();
                pdb.emplace(*databases);
                if (pdb->Open()) return true;
                e = "pdbOpen failed";
                return false;
              },
              [&](std::string&) {
                pdb.reset();
                databases.reset();
                return true;
              },
              nullptr});
}

void DocumentBenchmark(benchmark::State& state, const std::string& name, const std::string& path) {
  Measure(
      state, name,
      [&path](std::string& e) {
        if (ModuleReadAndFormat(path) > 0) return true;
        e = "the module cannot read " + path;
        return false;
      },
      [&path](std::string& e) {
        if (TinyXmlLoad(path) > 0) return true;
        e = "TinyXML cannot load " + path;
        return false;
      });
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// One line of the table: the medians of a benchmark and, for the families
// that grow with the payloads, the cost of one more payload since the
// previous size of the family (module and floor; NaN where there is none).
struct Figures {
  std::string name;
  const Samples* samples;
  double moduleMs;
  double floorMs;
  double moduleUsPerPayload;
  double floorUsPerPayload;
};

std::vector<Figures> TableFigures() {
  std::vector<Figures> table;
  const Samples* previous = nullptr;
  for (const auto& [name, samples] : g_samples) {
    if (samples.module.empty()) continue;
    Figures row{name, &samples, Median(samples.module) * 1000, Median(samples.floor) * 1000, NAN, NAN};
    if (previous != nullptr && previous->family == samples.family && samples.size > previous->size &&
        samples.family != "document") {
      const double added = static_cast<double>(samples.size - previous->size);
      row.moduleUsPerPayload = (Median(samples.module) - Median(previous->module)) * 1e6 / added;
      row.floorUsPerPayload = (Median(samples.floor) - Median(previous->floor)) * 1e6 / added;
    }
    table.push_back(row);
    previous = &samples;
  }
  return table;
}

std::string Marginal(double us) {
  if (std::isnan(us)) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", us);
  return text;
}

void PrintTable(const std::vector<Figures>& table) {
  if (table.empty()) return;
  std::printf("\n%-28s %8s %12s %12s %8s %14s %14s\n", "benchmark", "samples", "module ms", "floor ms", "ratio",
              "module us/unit", "floor us/unit");
  for (const Figures& row : table) {
    std::printf("%-28s %8zu %12.3f %12.3f %8.2f %14s %14s\n", row.name.c_str(), row.samples->module.size(),
                row.moduleMs, row.floorMs, row.moduleMs / row.floorMs, Marginal(row.moduleUsPerPayload).c_str(),
                Marginal(row.floorUsPerPayload).c_str());
  }
  std::printf("(us/unit: extra time per payload from the previous size of the same family)\n");
}

// The table as CSV, for the pictures of scripts/bench.sh (bench/plot.gp).
bool WriteFigures(const std::vector<Figures>& table, const std::string& path) {
  std::FILE* out = std::fopen(path.c_str(), "w");
  if (out == nullptr) return false;
  std::fprintf(out, "benchmark,family,size,samples,module_ms,floor_ms,ratio,module_us_per_payload,floor_us_per_payload\n");
  for (const Figures& row : table) {
    std::fprintf(out, "%s,%s,%lld,%zu,%.4f,%.4f,%.3f,%s,%s\n", row.name.c_str(), row.samples->family.c_str(),
                 row.samples->size, row.samples->module.size(), row.moduleMs, row.floorMs, row.moduleMs / row.floorMs,
                 Marginal(row.moduleUsPerPayload).c_str(), Marginal(row.floorUsPerPayload).c_str());
  }
  return std::fclose(out) == 0;
}

MachineScale Scale(int payloads, std::int64_t capsBytes = 1 << 20, std::int64_t documentBytes = 1024) {
  MachineScale scale;
  scale.payloads = payloads;
  scale.capsBytes = capsBytes;
  scale.documentBytes = documentBytes;
  return scale;
}

void Register(const std::string& family, long long size, const std::string& label,
              std::function<void(benchmark::State&, const std::string&)> body, bool smoke, double minTime) {
  const std::string name = family + "/" + label;
  Samples& samples = SamplesOf(name);
  samples.family = family;
  samples.size = size;
  auto* benchmark = benchmark::RegisterBenchmark(
      name.c_str(), [body, name](benchmark::State& state) { body(state, name); });
  benchmark->UseManualTime()->Unit(benchmark::kMillisecond);
  if (smoke) {
    benchmark->Iterations(1)->Repetitions(1);
  } else {
    benchmark->MinTime(minTime);
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool smoke = false;
  std::string figures;
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--smoke") == 0) {
      smoke = true;
    } else if (std::strncmp(argv[i], "--machines=", 11) == 0) {
      g_machinesFolder = argv[i] + 11;
    } else if (std::strncmp(argv[i], "--figures=", 10) == 0) {
      figures = argv[i] + 10;
    } else {
      rest.push_back(argv[i]);
    }
  }
  g_machinesFolder = std::filesystem::absolute(g_machinesFolder).string();
  int restCount = static_cast<int>(rest.size());
  benchmark::Initialize(&restCount, rest.data());
  if (benchmark::ReportUnrecognizedArguments(restCount, rest.data())) return 2;

  const std::vector<int> payloadSizes = smoke ? std::vector<int>{100} : std::vector<int>{100, 1000, 10000, 100000};
  for (int payloads : payloadSizes) {
    const MachineScale scale = Scale(payloads);
    Register("session", payloads, std::to_string(payloads),
             [scale](benchmark::State& s, const std::string& n) { SessionBenchmark(s, n, scale); }, smoke, 2.0);
  }
  if (!smoke) {
    const MachineScale bigCaps = Scale(10000, std::int64_t{64} << 20);
    Register("session_caps64M", 10000, "10000",
             [bigCaps](benchmark::State& s, const std::string& n) { SessionBenchmark(s, n, bigCaps); }, smoke, 2.0);
    const MachineScale bigDocument = Scale(10000, 1 << 20, std::int64_t{4} << 20);
    Register("session_doc4M", 10000, "10000",
             [bigDocument](benchmark::State& s, const std::string& n) { SessionBenchmark(s, n, bigDocument); }, smoke,
             2.0);
  }
  for (int payloads : payloadSizes) {
    const MachineScale scale = Scale(payloads);
    Register("search", payloads, std::to_string(payloads),
             [scale](benchmark::State& s, const std::string& n) { SearchBenchmark(s, n, scale); }, smoke, 0.5);
  }

  // Documents of 1 KB to 4 MB, in a folder of their own.
  const std::vector<std::pair<std::int64_t, std::string>> documentSizes =
      smoke ? std::vector<std::pair<std::int64_t, std::string>>{{1024, "1K"}}
            : std::vector<std::pair<std::int64_t, std::string>>{
                  {1024, "1K"}, {16 << 10, "16K"}, {256 << 10, "256K"}, {1 << 20, "1M"}, {4 << 20, "4M"}};
  const std::string documents = g_machinesFolder + "/documents";
  for (const auto& [bytes, label] : documentSizes) {
    const std::string path = documents + "/document-" + label + ".xml";
    const customhooks::pcf::SectionMap sections = SizedDocumentSections(
        "{E1F2A3B4-C5D6-4E7F-8A9B-0C1D2E3F4A5B}",
        {{names::kLicensingCodeKey, "PXP-10-4471-2093"},
         {"ProductName", "Pelican X Pro"},
         {names::kInstalledLanguagesKey, "en_US"}},
        bytes);
    if (!WriteTextFile(path, customhooks::pcf::FormatDocument("{E1F2A3B4-C5D6-4E7F-8A9B-0C1D2E3F4A5B}", sections))) {
      std::fprintf(stderr, "ch_bench: cannot write %s\n", path.c_str());
      return 1;
    }
    Register("document", bytes, label,
             [path](benchmark::State& s, const std::string& n) { DocumentBenchmark(s, n, path); }, smoke, 0.5);
  }

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const std::vector<Figures> table = TableFigures();
  PrintTable(table);
  if (!figures.empty() && !WriteFigures(table, figures)) {
    std::fprintf(stderr, "ch_bench: cannot write %s\n", figures.c_str());
    return 1;
  }
  return 0;
}
