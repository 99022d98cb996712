// Every shortcut of the module (fs::FastPaths) against its plain twin, under
// an adversary: the same session runs on identical machines once with every
// shortcut and once without, while another writer acts when the k-th line
// is logged, for every k and every action. Both give the same lines and
// leave the same files.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "CustomHooks.h"
#include "fs/env.h"
#include "fs/fast_paths.h"
#include "fs/files.h"
#include "reliability/machine_state.h"
#include "reliability/session_runner.h"
#include "samplesuite/sample_machine.h"
#include "support/fault_env.h"
#include "support/test_machine.h"

using namespace customhooks::fs;

namespace {

bool Exec(const std::string& file, const char* sql) {
  sqlite3* db = nullptr;
  const bool done = sqlite3_open_v2(NativePath(file).c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
                    sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return done;
}

// Writes `bytes` over the start of the file without truncating it.
bool WriteInPlace(const std::string& file, const std::string& bytes) {
  std::FILE* out = std::fopen(NativePath(file).c_str(), "r+b");
  const bool written = out != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return out != nullptr && std::fclose(out) == 0 && written;
}

// What the adversary does when its line is logged.
struct Adversary {
  std::function<void()> act;
  std::size_t atLine = 0;
  std::vector<std::string> lines;
};
Adversary* g_adversary = nullptr;

void KXHOOK_CALL Collect(const char* line) {
  g_adversary->lines.emplace_back(line);
  if (g_adversary->lines.size() == g_adversary->atLine) g_adversary->act();
}

class FastAndPlain : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LayOutSampleSuite(machine_.scratch() + "\\Program Files", suite_));
    properties_ = {{"mediaSignature", suite_.driverCode}, {"installLanguage", "fr_MA"}};
    initial_ = roots_.Capture();
  }

  // A session on the initial machine with `paths` in force, the adversary
  // acting at line `k` (0: never); its lines and the machine it leaves.
  std::pair<std::vector<std::string>, MachineState> Run(const FastPaths& paths, const std::function<void()>& act,
                                                         std::size_t k) {
    roots_.Restore(initial_);
    // The shortcuts are taken only on files whose stamps vouch for them.
    WaitOutTimestampGranularity();
    Adversary adversary{act, k, {}};
    g_adversary = &adversary;
    std::vector<HookProperty> map;
    for (const auto& property : properties_) {
      map.push_back({property.first.c_str(), reinterpret_cast<std::uintptr_t>(property.second.c_str())});
    }
    map.push_back({nullptr, 0});
    const ScopedFastPaths scoped(paths);
    const std::int32_t status =
        KXInstallerCustomHookProc(map.data(), KXHOOK_ENTRY_SESSION_CLOSE, KXHOOK_MODE_INSTALL, 0, &Collect);
    env_.FailNth(EnvCall::kAny, 0);
    g_adversary = nullptr;
    EXPECT_EQ(status, KXHOOK_STATUS_OK);
    return {adversary.lines, roots_.Capture()};
  }

  std::string In(const char* relative) const { return machine_.commonData() + "\\" + relative; }

  FaultEnv env_;
  ScopedEnv scopedEnv_{&env_};
  TestMachine machine_;
  SampleSuite suite_;
  MachineRoots roots_{OutermostFolders({machine_.scratch(), machine_.commonData()})};
  Properties properties_;
  MachineState initial_;
};

TEST_F(FastAndPlain, GiveTheSameLinesAndFilesWhateverAnotherWriterDoes) {
  const std::string pdb = In("caps\\pdb.db");
  const std::string caps = In("caps\\caps.db");
  const std::string pcd = In("Orvik PCD\\pcd.db");
  const std::string cache = In("Orvik PCD\\cache\\cache.db");
  const std::string backup = In("backup\\caps.db");
  const std::string spare = machine_.scratch() + "\\spare.db";
  const struct {
    const char* what;
    std::function<void()> act;
  } kActions[] = {
      {"pdb.db replaced by rename",
       [&] {
         WriteWholeFile(spare, ReadWholeFile(pdb));
         Exec(spare, "UPDATE payload_data SET value = 'replaced' WHERE key = 'mediaSignature'");
         std::rename(NativePath(spare).c_str(), NativePath(pdb).c_str());
       }},
      {"pcd.db rewritten in place, same size and change counter",
       [&] {
         const std::string before = ReadWholeFile(pcd);
         WriteWholeFile(spare, before);
         Exec(spare, "UPDATE domain_data SET value = upper(value)");
         std::string after = ReadWholeFile(spare);
         if (after.size() != before.size()) return;
         after.replace(24, 4, before, 24, 4);
         after.replace(92, 4, before, 92, 4);
         WriteInPlace(pcd, after);
       }},
      {"caps.db rewritten in place, same size",
       [&] {
         std::string bytes = ReadWholeFile(caps);
         if (bytes.size() > 200) bytes[bytes.size() / 2] ^= 0x5A;
         WriteInPlace(caps, bytes);
       }},
      {"cache.db removed", [&] { std::remove(NativePath(cache).c_str()); }},
      {"the backup removed", [&] { std::remove(NativePath(backup).c_str()); }},
      {"pdb.db made read-only", [&] { MakeReadOnly(pdb); }},
      {"pcd.db written by another SQLite writer",
       [&] { Exec(pcd, "UPDATE domain_data SET value = 'written' WHERE key = 'InstallDate'"); }},
      {"the next document write fails", [&] { env_.FailNth(EnvCall::kWriteWholeFile, 1, Code::kDiskFull); }},
  };
  const FastPaths fast = FastPaths::All(true);
  const FastPaths plain = FastPaths::All(false);
  const auto undisturbed = Run(fast, [] {}, 0);
  ASSERT_EQ(undisturbed.first, Run(plain, [] {}, 0).first);
  const std::size_t lines = undisturbed.first.size();
  ASSERT_GT(lines, 30u);
  // Under Wine a session takes several times as long: every third line.
  const std::size_t stride = RunningUnderWine() ? 3 : 1;
  unsigned long pairs = 0;
  for (const auto& action : kActions) {
    for (std::size_t k = 1; k <= lines && !HasFailure(); k += stride) {
      const std::string context = std::string(action.what) + " at line " + std::to_string(k);
      const auto withShortcuts = Run(fast, action.act, k);
      const auto withoutShortcuts = Run(plain, action.act, k);
      EXPECT_EQ(withShortcuts.first, withoutShortcuts.first) << context;
      const std::vector<std::string> differences = CompareExactly(withoutShortcuts.second, withShortcuts.second);
      EXPECT_TRUE(differences.empty()) << context << "\n" << Joined(differences);
      ++pairs;
    }
  }
  std::printf("[ figures  ] %lu (action, line) pairs, fast and plain alike\n", pairs);
}

}  // namespace
