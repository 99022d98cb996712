#include "reliability/adversary.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>
#include <thread>
#include <utility>

#include <sqlite3.h>

#include "CustomHooks.h"
#include "fs/env.h"
#include "fs/files.h"
#include "hook/hook_procedure.h"
#include "reliability/machine_state.h"
#include "reliability/session_runner.h"
#include "reliability/sqlite_fault_vfs.h"
#include "samplesuite/sample_machine.h"
#include "support/child_process.h"
#include "support/database_rewrite.h"
#include "support/disk.h"
#include "support/fault_env.h"
#include "support/test_machine.h"
#include "support/data_files.h"

using namespace customhooks::fs;
using customhooks::integration::PassShortcuts;
namespace hook = customhooks::hook;

namespace stdfs = std::filesystem;

namespace {

bool Exec(const std::string& file, const char* sql) {
  sqlite3* db = nullptr;
  const bool done = sqlite3_open_v2(NativePath(file).c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
                    sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return done;
}

bool Rename(const std::string& from, const std::string& to) {
  std::error_code ec;
  stdfs::rename(stdfs::u8path(NativePath(from)), stdfs::u8path(NativePath(to)), ec);
  return !ec;
}

// Makes `link` a symbolic link to `target`, replacing what is there by a
// rename, so that the name is never missing.
bool PointLink(const std::string& link, const std::string& target) {
  std::error_code ec;
  const stdfs::path fresh = stdfs::u8path(NativePath(link + ".new"));
  stdfs::create_symlink(stdfs::u8path(NativePath(target)), fresh, ec);
  return !ec && Rename(link + ".new", link);
}

// The module's busy timeout, in milliseconds.
constexpr int kBusyTimeoutMs = 2000;

// What an action needs of the machine before the session starts.
enum class Staging { kNone, kLinkedPdb, kLinkedPcd };

}  // namespace

struct AdversaryBench::Machine {
  struct Action {
    const char* name;
    Staging staging;
    void (*act)(Machine&);
    // What the action does must cost the session nothing: its lines and
    // files are those of the session undisturbed.
    bool costsNothing = false;
  };

  FaultEnv env;
  ScopedEnv scopedEnv{&env};
  TestMachine machine;
  SampleSuite suite;
  MachineRoots roots{OutermostFolders({machine.scratch(), machine.commonData()})};
  Properties properties;
  MachineState initial;
  bool ready = false;
  bool linksWork = false;
  // During a run: the script, the lines so far, the lock holders started.
  const AdversaryScript* script = nullptr;
  std::vector<std::string> lines;
  std::vector<std::pair<std::string, std::unique_ptr<ChildProcess>>> holders;
  // The session undisturbed, without and with the shortcuts, once run.
  std::optional<std::pair<std::vector<std::string>, MachineState>> undisturbed[2];

  std::string In(const std::string& relative) const { return ::In(machine.commonData(), relative); }
  std::string Pdb() const { return In(PayloadDatabase()); }
  std::string Pcd() const { return In(ConfigurationDatabase()); }
  std::string Caps() const { return In(InstallerDatabase()); }
  std::string Linked(const char* name) const { return machine.scratch() + "\\linked\\" + name; }
  std::string Spare() const { return machine.scratch() + "\\spare.db"; }

  // Another process holds a lock of `mode` on `file` from now for
  // `milliseconds`, or until the session ends. It does not wait for a lock
  // the module holds.
  void HoldLock(const std::string& file, const char* mode, int milliseconds = 60000) {
    const std::string marker = machine.scratch() + "\\held-" + std::to_string(holders.size());
    auto holder = std::make_unique<ChildProcess>(
        CH_LOCK_HOLDER_PATH, std::vector<std::string>{NativePath(file), mode, std::to_string(milliseconds),
                                                      NativePath(marker), "0"});
    holder->WaitForFile(marker);
    holders.emplace_back(marker, std::move(holder));
  }

  void ReleaseLocks() {
    for (auto& holder : holders) {
      // On Windows the holder's look at its marker keeps it open for a
      // moment, and the marker can't be removed meanwhile: again.
      const stdfs::path marker = stdfs::u8path(NativePath(holder.first));
      std::error_code ec;
      for (int attempt = 0; attempt < 1000 && (stdfs::remove(marker, ec), stdfs::exists(marker, ec)); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      holder.second.reset();
    }
    holders.clear();
  }

  static const std::vector<Action>& Actions() {
    static const std::vector<Action> actions = {
        {"pdb.db replaced by rename", Staging::kNone,
         [](Machine& m) {
           WriteWholeFile(m.Spare(), ReadWholeFile(m.Pdb()));
           Exec(m.Spare(), "UPDATE payload_data SET value = 'replaced' WHERE key = 'mediaSignature'");
           Rename(m.Spare(), m.Pdb());
         }},
        {"pcd.db rewritten in place, same size and change counter", Staging::kNone,
         [](Machine& m) { RewriteKeepingTheCounters(m.Pcd(), m.Spare(), "UPDATE domain_data SET value = upper(value)"); }},
        {"caps.db rewritten in place within the timestamp granularity", Staging::kNone,
         [](Machine& m) {
           std::string bytes = ReadWholeFile(m.Caps());
           if (bytes.size() > 200) bytes[bytes.size() / 2] ^= 0x5A;
           WriteInPlace(m.Caps(), bytes);
         }},
        {"cache.db removed", Staging::kNone,
         [](Machine& m) { std::remove(NativePath(m.In(CacheDatabase())).c_str()); }},
        {"the backup removed", Staging::kNone,
         [](Machine& m) { std::remove(NativePath(m.In(InstallerBackup())).c_str()); }},
        {"pdb.db made read-only", Staging::kNone, [](Machine& m) { SetReadOnly(m.Pdb(), true); }},
        {"pcd.db written by another SQLite writer", Staging::kNone,
         [](Machine& m) { Exec(m.Pcd(), "UPDATE domain_data SET value = 'written' WHERE key = 'InstallDate'"); }},
        {"the next document write fails", Staging::kNone,
         [](Machine& m) { m.env.FailNth(EnvCall::kWriteWholeFile, 1, Code::kDiskFull); }},
        {"the next SQLite write fails", Staging::kNone,
         [](Machine&) {
           sqlitefaults::FailNth(sqlitefaults::Operation::kWrite, 1, sqlitefaults::Failure::kIoError);
         }},
        {"pcd.db read-locked by another process past the busy timeout", Staging::kNone,
         [](Machine& m) { m.HoldLock(m.Pcd(), "shared"); }},
        {"pcd.db write-locked by another process past the busy timeout", Staging::kNone,
         [](Machine& m) { m.HoldLock(m.Pcd(), "exclusive"); }},
        {"pdb.db locked by another process past the busy timeout", Staging::kNone,
         [](Machine& m) { m.HoldLock(m.Pdb(), "exclusive"); }},
        {"pdb.db's symbolic link pointed at another file", Staging::kLinkedPdb,
         [](Machine& m) {
           WriteWholeFile(m.Linked("pdb-other.db"), ReadWholeFile(m.Pdb()));
           Exec(m.Linked("pdb-other.db"), "UPDATE payload_data SET value = 'other' WHERE key = 'mediaSignature'");
           PointLink(m.Pdb(), m.Linked("pdb-other.db"));
         }},
        {"pcd.db's link target replaced by rename", Staging::kLinkedPcd,
         [](Machine& m) {
           WriteWholeFile(m.Spare(), ReadWholeFile(m.Pcd()));
           Exec(m.Spare(), "UPDATE domain_data SET value = 'renamed' WHERE key = 'InstallDate'");
           Rename(m.Spare(), m.Linked("pcd.db"));
         }},
        {"pdb.db rewritten in place, same size and change counter", Staging::kNone,
         [](Machine& m) {
           RewriteKeepingTheCounters(m.Pdb(), m.Spare(), "UPDATE payloads SET version = '10.1' WHERE version = '10.0'");
         }},
        // New actions go last: the saved scripts name actions by number.
        {"cache.db write-locked by another process for a tenth of the busy timeout", Staging::kNone,
         [](Machine& m) { m.HoldLock(m.In(CacheDatabase()), "immediate", kBusyTimeoutMs / 10); }, true},
        {"pcd.db write-locked by another process for a tenth of the busy timeout", Staging::kNone,
         [](Machine& m) { m.HoldLock(m.Pcd(), "immediate", kBusyTimeoutMs / 10); }, true},
    };
    return actions;
  }

  // Moves the database at `name` into the linked folder and puts a symbolic
  // link to it in its place.
  bool Link(const std::string& name, const char* linkedName) {
    std::error_code ec;
    stdfs::create_directories(stdfs::u8path(NativePath(machine.scratch() + "\\linked")), ec);
    return !ec && Rename(name, Linked(linkedName)) && PointLink(name, Linked(linkedName));
  }

  // Whether a step of `action` can run on this platform.
  bool Stageable(std::size_t action) const { return Actions()[action].staging == Staging::kNone || linksWork; }

  // Lays the links a step of `action` needs, once per run.
  void Stage(std::size_t action) {
    switch (Actions()[action].staging) {
      case Staging::kNone:
        return;
      case Staging::kLinkedPdb:
        if (!IsLink(Pdb())) Link(Pdb(), "pdb.db");
        return;
      case Staging::kLinkedPcd:
        if (!IsLink(Pcd())) Link(Pcd(), "pcd.db");
        return;
    }
  }

  static bool IsLink(const std::string& name) {
    std::error_code ec;
    return stdfs::is_symlink(stdfs::u8path(NativePath(name)), ec);
  }

  // A session on the initial machine with `shortcuts` and `script` acted
  // out; its lines and the machine it leaves.
  std::pair<std::vector<std::string>, MachineState> Run(const PassShortcuts& shortcuts, const AdversaryScript& run) {
    roots.Restore(initial);
    // Busy timeouts run out at once, without the wall clock moving, unless a
    // lock is to be released within one.
    bool realTime = false;
    for (const AdversaryStep& step : run) {
      Stage(step.action);
      realTime = realTime || Actions()[step.action].costsNothing;
    }
    sqlitefaults::SetSleepsWait(realTime);
    // The shortcuts are taken only on files whose stamps vouch for them.
    WaitOutTimestampGranularity();
    script = &run;
    lines.clear();
    std::vector<HookProperty> map;
    for (const auto& property : properties) {
      map.push_back({property.first.c_str(), reinterpret_cast<std::uintptr_t>(property.second.c_str())});
    }
    map.push_back({nullptr, 0});
    const hook::HookContext context{map.data(), KXHOOK_ENTRY_SESSION_CLOSE, KXHOOK_MODE_INSTALL, 0, &Collect};
    const std::int32_t status = hook::DispatchHookCall(context, shortcuts);
    ReleaseLocks();
    env.FailNth(EnvCall::kAny, 0);
    sqlitefaults::FailNth(sqlitefaults::Operation::kWrite, 0, sqlitefaults::Failure::kIoError);
    script = nullptr;
    if (status != KXHOOK_STATUS_OK) lines.push_back("status " + std::to_string(status));
    return {lines, roots.Capture()};
  }

  // The machine whose session is running; the log callback has no context.
  static Machine* running;

  static void KXHOOK_CALL Collect(const char* line) {
    Machine& m = *running;
    m.lines.emplace_back(line);
    for (const AdversaryStep& step : *m.script) {
      if (step.atLine == m.lines.size()) Actions()[step.action].act(m);
    }
  }
};

AdversaryBench::Machine* AdversaryBench::Machine::running = nullptr;

namespace {

bool SymbolicLinksWork(const std::string& folder) {
  std::error_code ec;
  const stdfs::path link = stdfs::u8path(NativePath(folder + "\\link-probe"));
  stdfs::create_symlink(stdfs::u8path(NativePath(folder)), link, ec);
  const bool made = !ec;
  stdfs::remove(link, ec);
  return made;
}

}  // namespace

AdversaryBench::AdversaryBench() : machine_(std::make_unique<Machine>()) {
  Machine& m = *machine_;
  sqlitefaults::Install();
  sqlitefaults::SetSleepsWait(false);
  m.ready = LayOutSampleSuite(m.machine.scratch() + "\\Program Files", m.suite);
  m.properties = SessionProperties(m.suite.driverCode);
  m.linksWork = SymbolicLinksWork(m.machine.scratch());
  m.initial = m.roots.Capture();
  Machine::running = &m;
}

AdversaryBench::~AdversaryBench() {
  Machine::running = nullptr;
  sqlitefaults::SetSleepsWait(true);
}

std::size_t AdversaryBench::ActionCount() { return Machine::Actions().size(); }

const char* AdversaryBench::ActionName(std::size_t action) { return Machine::Actions()[action].name; }

bool AdversaryBench::ActionCostsNothing(std::size_t action) { return Machine::Actions()[action].costsNothing; }

bool AdversaryBench::ready() const { return machine_->ready; }

std::vector<std::string> AdversaryBench::DifferencesFromUndisturbed(const AdversaryScript& script, bool fast) {
  auto& kept = machine_->undisturbed[fast];
  if (!kept) kept = machine_->Run(PassShortcuts::All(fast), {});
  const auto& undisturbed = *kept;
  const auto run = machine_->Run(PassShortcuts::All(fast), script);
  std::vector<std::string> differences = CompareExactly(undisturbed.second, run.second);
  if (run.first != undisturbed.first) differences.push_back("lines:\n" + Joined(run.first));
  return differences;
}

std::vector<std::string> AdversaryBench::Undisturbed() {
  std::vector<std::string> fast = machine_->Run(PassShortcuts::All(true), {}).first;
  return fast == machine_->Run(PassShortcuts::All(false), {}).first ? fast : std::vector<std::string>();
}

std::vector<std::string> AdversaryBench::Differences(const AdversaryScript& script, std::size_t* staged) {
  AdversaryScript run;
  for (const AdversaryStep& step : script) {
    if (step.action < ActionCount() && machine_->Stageable(step.action)) run.push_back(step);
  }
  if (staged != nullptr) *staged = run.size();
  const auto fast = machine_->Run(PassShortcuts::All(true), run);
  const auto plain = machine_->Run(PassShortcuts::All(false), run);
  std::vector<std::string> differences = CompareExactly(plain.second, fast.second);
  const std::size_t lines = std::max(fast.first.size(), plain.first.size());
  for (std::size_t i = 0; i < lines; ++i) {
    const std::string fastLine = i < fast.first.size() ? fast.first[i] : "(none)";
    const std::string plainLine = i < plain.first.size() ? plain.first[i] : "(none)";
    if (fastLine != plainLine) {
      differences.push_back("line " + std::to_string(i + 1) + ": fast \"" + fastLine + "\", plain \"" + plainLine + "\"");
    }
  }
  return differences;
}

AdversaryScript ScriptOf(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kMostSteps = 4;
  AdversaryScript script;
  for (std::size_t i = 0; i + 1 < size && script.size() < kMostSteps; i += 2) {
    script.push_back({data[i] % AdversaryBench::ActionCount(), data[i + 1]});
  }
  return script;
}

namespace {

// The distinct (action, line) steps a fuzzing process ran, told at its end.
struct StepsRun {
  std::set<std::pair<std::size_t, std::size_t>> steps;
  unsigned long scripts = 0;
  ~StepsRun() {
    std::fprintf(stderr, "fuzz_fast_plain: %zu distinct (action, line) steps in %lu scripts\n", steps.size(),
                 scripts);
  }
};

}  // namespace

std::string CheckFastAndPlain(const std::uint8_t* data, std::size_t size) {
  static StepsRun run;
  static AdversaryBench bench;
  if (!bench.ready()) return "the sample suite could not be laid out";
  const AdversaryScript script = ScriptOf(data, size);
  const std::vector<std::string> differences = bench.Differences(script);
  ++run.scripts;
  for (const AdversaryStep& step : script) run.steps.emplace(step.action, step.atLine);
  return differences.empty() ? std::string() : Joined(differences);
}
