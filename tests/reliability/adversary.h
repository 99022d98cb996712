// The same session close on identical copies of the sample suite machine,
// once with every shortcut of the module (integration::PassShortcuts) and once with none,
// while an adversary acts on the shared files when chosen lines are logged.
// Used by the differential test and by the libFuzzer target whose input is
// the adversary's script.
#ifndef CUSTOMHOOKS_TESTS_RELIABILITY_ADVERSARY_H_
#define CUSTOMHOOKS_TESTS_RELIABILITY_ADVERSARY_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One act of the adversary: action `action` (an index below
// AdversaryBench::ActionCount()) when the `atLine`-th line is logged (1: the
// first line).
struct AdversaryStep {
  std::size_t action = 0;
  std::size_t atLine = 0;
};
using AdversaryScript = std::vector<AdversaryStep>;

class AdversaryBench {
 public:
  // Lays the sample suite out in a private machine of this process and puts
  // a fault-injecting Env and the test SQLite VFS in place for the bench's
  // lifetime. Requires: no other bench or TestMachine alive.
  AdversaryBench();
  ~AdversaryBench();
  AdversaryBench(const AdversaryBench&) = delete;
  AdversaryBench& operator=(const AdversaryBench&) = delete;

  static std::size_t ActionCount();
  static const char* ActionName(std::size_t action);
  // Whether what `action` does must cost the session nothing: its lines and
  // files are those of the session undisturbed, fast and plain alike.
  static bool ActionCostsNothing(std::size_t action);

  // False when the bench's machine could not be laid out.
  bool ready() const;

  // The lines of the session with no adversary, fast and plain alike; empty
  // when they differ.
  std::vector<std::string> Undisturbed();

  // Runs the session under `script`, with every shortcut or none, and gives
  // what differs from the same session undisturbed: the lines or the files
  // left behind. Empty when it is as undisturbed.
  std::vector<std::string> DifferencesFromUndisturbed(const AdversaryScript& script, bool fast);

  // Runs the session fast and plain under `script` and gives what differs:
  // the lines or the files left behind. Empty when both agree. A step whose
  // action this platform cannot stage (a symbolic link under Wine) is left
  // out of both runs; *staged (when given) counts the steps that ran.
  std::vector<std::string> Differences(const AdversaryScript& script, std::size_t* staged = nullptr);

 private:
  struct Machine;
  std::unique_ptr<Machine> machine_;
};

// The script a fuzz input stands for: each two bytes are one step, the
// action (modulo the count) and the line; at most four steps.
AdversaryScript ScriptOf(const std::uint8_t* data, std::size_t size);

// A libFuzzer check: ScriptOf(data) on a bench kept for the process; the
// empty string when fast and plain agree, else what differs.
std::string CheckFastAndPlain(const std::uint8_t* data, std::size_t size);

#endif  // CUSTOMHOOKS_TESTS_RELIABILITY_ADVERSARY_H_
