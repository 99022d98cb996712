// Every shortcut of the module (integration::PassShortcuts) against its plain twin, under
// an adversary: the same session runs on identical machines once with every
// shortcut and once without, while another writer or process acts when the
// k-th line is logged, for every k and every action. Both give the same lines
// and leave the same files.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "reliability/adversary.h"
#include "reliability/machine_state.h"
#include "support/disk.h"
#include "support/test_machine.h"

namespace stdfs = std::filesystem;

namespace {

// The actions whose cost, or whose costing nothing, the cases check.
std::vector<std::size_t> Actions(bool costingNothing) {
  std::vector<std::size_t> actions;
  for (std::size_t action = 0; action < AdversaryBench::ActionCount(); ++action) {
    if (AdversaryBench::ActionCostsNothing(action) == costingNothing) actions.push_back(action);
  }
  return actions;
}

std::string CaseName(const ::testing::TestParamInfo<std::size_t>& info) {
  return "Action" + std::to_string(info.param);
}

// One case per action, so that the sessions of several actions, which wait
// mostly (on timestamps, locks and the disk), can run side by side.
class FastAndPlainUnderAction : public ::testing::TestWithParam<std::size_t> {};
class FastAndPlainUnderHarmlessAction : public ::testing::TestWithParam<std::size_t> {};

TEST_P(FastAndPlainUnderAction, GiveTheSameLinesAndFilesWhateverAnotherProcessDoes) {
  const std::size_t action = GetParam();
  AdversaryBench bench;
  ASSERT_TRUE(bench.ready());
  const std::size_t lines = bench.Undisturbed().size();
  ASSERT_GT(lines, 30u);
  // Under Wine a session takes several times as long: every third line.
  const std::size_t stride = RunningUnderWine() ? 3 : 1;
  unsigned long pairs = 0;
  for (std::size_t k = 1; k <= lines && !HasFailure(); k += stride) {
    std::size_t staged = 0;
    const std::vector<std::string> differences = bench.Differences({{action, k}}, &staged);
    EXPECT_TRUE(differences.empty()) << AdversaryBench::ActionName(action) << " at line " << k << "\n"
                                     << Joined(differences);
    pairs += staged;
  }
  std::printf("[ figures  ] %s: %lu lines, fast and plain alike\n", AdversaryBench::ActionName(action), pairs);
}
// The harmless actions are checked against the undisturbed session, a
// stronger check, below.
INSTANTIATE_TEST_SUITE_P(EveryAction, FastAndPlainUnderAction, ::testing::ValuesIn(Actions(false)), CaseName);

// Another process's write lock on a database, released within the busy
// timeout, whenever it is taken: every write waits for it, so the session
// stores and logs all it does undisturbed, with every shortcut and without.
TEST_P(FastAndPlainUnderHarmlessAction, LockReleasedWithinTheBusyTimeoutCostsNoRecord) {
  const std::size_t action = GetParam();
  AdversaryBench bench;
  ASSERT_TRUE(bench.ready());
  const std::size_t lines = bench.Undisturbed().size();
  ASSERT_GT(lines, 30u);
  const std::size_t stride = RunningUnderWine() ? 3 : 1;
  for (std::size_t k = 1; k <= lines && !HasFailure(); k += stride) {
    // The plain twin at every other line: a run here waits for the lock.
    for (const bool fast : {true, false}) {
      if (!fast && k % 2 == 0) continue;
      const std::vector<std::string> differences = bench.DifferencesFromUndisturbed({{action, k}}, fast);
      EXPECT_TRUE(differences.empty()) << AdversaryBench::ActionName(action) << " at line " << k
                                       << (fast ? ", fast" : ", plain") << "\n" << Joined(differences);
    }
  }
}
INSTANTIATE_TEST_SUITE_P(EveryAction, FastAndPlainUnderHarmlessAction, ::testing::ValuesIn(Actions(true)), CaseName);

TEST(FastAndPlainUnderHarmlessAction, TwoActionsCostNothing) { EXPECT_EQ(Actions(true).size(), 2u); }

// The scripts the fuzz target kept or that once showed a difference.
TEST(FastAndPlain, GiveTheSameLinesAndFilesUnderEverySavedScript) {
  std::string fuzzFolder = CH_FUZZ_DIR;
#if defined(_WIN32)
  // Wine shows the POSIX root as drive Z:.
  if (!fuzzFolder.empty() && fuzzFolder[0] == '/') fuzzFolder = "Z:" + fuzzFolder;
#endif
  std::vector<stdfs::path> saved;
  for (const char* kind : {"corpus", "regressions"}) {
    std::error_code ec;
    for (stdfs::directory_iterator it(stdfs::u8path(fuzzFolder) / kind / "fuzz_fast_plain", ec), end;
         !ec && it != end; it.increment(ec)) {
      saved.push_back(it->path());
    }
  }
  ASSERT_FALSE(saved.empty());
  AdversaryBench bench;
  ASSERT_TRUE(bench.ready());
  for (const stdfs::path& file : saved) {
    const std::string bytes = ReadWholeFile(file.u8string());
    const std::vector<std::string> differences =
        bench.Differences(ScriptOf(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    EXPECT_TRUE(differences.empty()) << file.u8string() << "\n" << Joined(differences);
  }
}

}  // namespace
