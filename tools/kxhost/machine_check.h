// The support check: what a session's close would find and change on this
// machine, found by a dry run of the close's own code, changing nothing.
//
// The check runs under an fs::DryRunEnv and a storage::ScopedDryRun: it
// locates the folders as the module does, opens each database as a close
// does (read-only, through the same checks, on a copy in memory), then runs
// the integration pass itself on those copies. Its report says where things
// are, how each database would be met, what each product's run would find
// and what it would change, and which problems stand in its way.
#ifndef CUSTOMHOOKS_TOOLS_KXHOST_MACHINE_CHECK_H_
#define CUSTOMHOOKS_TOOLS_KXHOST_MACHINE_CHECK_H_

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fs/env.h"

namespace customhooks::check {

using Properties = std::vector<std::pair<std::string, std::string>>;

// Where one thing the close uses lies, and what stands there.
struct Place {
  std::string what;  // "cache folder", "cache.db", ...
  std::string path;  // empty when the module cannot locate it
  fs::PathFacts facts;
};

// One database as a close would meet it.
struct DatabaseReport {
  std::string name;  // "pcd.db", "cache.db", "pdb.db"
  std::string path;
  // "use" (as it is), "steps" (schema steps applied first), "create" (a new
  // file with its schema), or "refuse".
  std::string verdict;
  std::string reason;  // for "refuse": the module's reason, as exact as it gives it
  std::optional<std::string> schemaVersion, compatibilityVersion, schemaVersionAfter;
  std::string quickCheck;  // "ok", the first problem, or "" when not read
  bool lockedForWriting = false;
};

// What one product's run would find.
struct ProductReport {
  std::string name;
  bool reached = false;  // the run got as far as the search
  bool located = false;
  std::string payloadId, version, productSignature;
  bool signatureMatches = false;
  std::optional<std::string> licensingCode;  // the LEID
  std::string driverPayload;                 // the session's signature
};

// One change a close would make.
struct Change {
  std::string kind;  // "record", "document", "file", "backup", "folder", "remove", "database"
  std::string path;
  std::string key;     // a record's "domain/subdomain/key", a document's "section/key"
  std::optional<std::string> before, after;  // nothing: absent
};

struct Problem {
  std::string text;
  std::string advice;  // one line: what an administrator can do
};

struct CheckReport {
  std::string mediaSignature, installLanguage;
  std::vector<Place> places;
  std::vector<DatabaseReport> databases;
  std::vector<ProductReport> products;
  std::vector<Change> changes;
  // Folders whose access list the close applies (unchanged when it holds
  // that list already).
  std::vector<std::string> accessApplied;
  std::vector<std::string> closeLog;  // the lines the close would log
  std::vector<Problem> problems;
  // 0: a close would do all its work; 1: something would be skipped or
  // refused; 2: the check could not run.
  int exitStatus = 0;
};

// Checks this machine for a close with `properties`.
CheckReport CheckMachine(const Properties& properties);

// The report for a person, and as JSON (kCheckJsonVersion; README.md shows
// its shape).
constexpr int kCheckJsonVersion = 1;
std::string ReportText(const CheckReport& report);
std::string ReportJson(const CheckReport& report);

}  // namespace customhooks::check

#endif  // CUSTOMHOOKS_TOOLS_KXHOST_MACHINE_CHECK_H_
