// The two sides of every benchmark: the module's work, and its floor, the
// same durable work done directly with the fewest calls the result allows.
#ifndef CUSTOMHOOKS_BENCH_SESSION_WORK_H_
#define CUSTOMHOOKS_BENCH_SESSION_WORK_H_

#include <string>
#include <vector>

#include "scaled_machine.h"

// ---- Whole install session --------------------------------------------------

struct SessionOutcome {
  int status = -1;
  std::vector<std::string> lines;  // the module's log lines, in order
};

// The host's call at the close of an install session of the suite in "fr_MA",
// through the exported entry point, on the machine in use.
SessionOutcome RunModuleSession(const ScaledMachine& machine);

// True when the session logged and returned what the sample suite's install
// transcript (tests/transcripts) shows at SessionClose, on `machine`;
// otherwise `error` says where it differs.
bool SessionSucceeded(const ScaledMachine& machine, const SessionOutcome& outcome, std::string& error);

// The floor of that session (session_floor.cpp), the same reads and durable
// writes with nothing besides them: one walk over the installed payloads
// finds both products and their signatures; the driver's and the product's
// records are read; "pcd.db" and "cache.db" each get their records in one
// transaction, whose commit forces each file once; the two settings files
// are copied, "caps.db" is backed up, and the second product's document is
// read, given its four values and written to its two targets, each file
// replaced in one step and forced once. It leaves the records and files the
// module's session leaves (bench_floor_test). False with `error` set when a
// piece of the suite cannot be found.
bool RunSessionFloor(const ScaledMachine& machine, std::string& error);

// Stands for the installer's own writes during an install: one changed row
// in "caps.db", so that its backup is out of date.
bool TouchInstallerDatabase(std::string& error);

// ---- Payload search ----------------------------------------------------------

// The integration pass's search for the second product (installed last) on
// an open payload database: in one read snapshot, the list of installed
// payload IDs, then one row read per ID until name, family and version
// match. Returns the
// found payload ID, empty when none. The handle is opened and closed by the
// caller, outside the measured part.
namespace customhooks::storage {
class PayloadDatabase;
}
std::string ModulePayloadSearch(customhooks::storage::PayloadDatabase& pdb);

// Its floor: one statement over the same rows, in the same order, compared
// in the same way.
class FloorPayloadSearch {
 public:
  FloorPayloadSearch();
  ~FloorPayloadSearch();
  FloorPayloadSearch(const FloorPayloadSearch&) = delete;
  FloorPayloadSearch& operator=(const FloorPayloadSearch&) = delete;

  bool ok() const { return db_ != nullptr; }
  std::string Run();

 private:
  struct sqlite3* db_ = nullptr;
};

// ---- Document read and format -----------------------------------------------

// The configuration document client's read of `path` and the text it would
// write back. Returns the text's length; -1 when the read fails.
long long ModuleReadAndFormat(const std::string& path);

// TinyXML's own LoadFile of the same file. Returns the number of elements
// under the root; -1 when the load fails.
long long TinyXmlLoad(const std::string& path);

#endif  // CUSTOMHOOKS_BENCH_SESSION_WORK_H_
