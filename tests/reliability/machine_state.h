// What a machine holds on disk, taken as a whole: every file below a set of
// folders with its bytes, and every database with its records. The
// reliability tests capture it before and after a session, put it back
// between runs, and judge what a disturbed session left behind.
#ifndef CUSTOMHOOKS_TESTS_RELIABILITY_MACHINE_STATE_H_
#define CUSTOMHOOKS_TESTS_RELIABILITY_MACHINE_STATE_H_

#include <map>
#include <set>
#include <string>
#include <vector>

// Rows of every table of one database, each row its columns joined by
// kFieldSeparator (NULL shown as "<null>"). Tables by name.
using TableRows = std::map<std::string, std::multiset<std::string>>;

// domain_data of one database: RecordKey(domain, subDomain, key) -> value.
using DomainRecords = std::map<std::string, std::string>;

constexpr char kFieldSeparator = '\x1f';
std::string RecordKey(const std::string& domain, const std::string& subDomain, const std::string& key);

struct DatabaseState {
  // "ok" when PRAGMA integrity_check passes, else what it (or opening the
  // file) reported.
  std::string integrity;
  TableRows tables;
  DomainRecords records;
};

struct MachineState {
  // "<root index>:<path below the root, '/' separated>" -> bytes. Database
  // files are kept here too, so that they can be put back.
  std::map<std::string, std::string> files;
  // Folders, in the same form.
  std::set<std::string> folders;
  // Every file whose name ends in ".db", by the same key.
  std::map<std::string, DatabaseState> databases;
};

// The folders a state covers, in the module's path form ("...\..." on every
// target); they must not contain one another.
class MachineRoots {
 public:
  explicit MachineRoots(std::vector<std::string> roots) : roots_(std::move(roots)) {}

  // Reads everything below the roots. Reading a database opens it for
  // writing, as any later user would: a journal left behind by an
  // interrupted writer is rolled back first.
  MachineState Capture() const;

  // Empties every root and writes `state` back, byte for byte.
  void Restore(const MachineState& state) const;

  // The native path of a key of MachineState::files.
  std::string NativePathOf(const std::string& key) const;

 private:
  std::vector<std::string> roots_;
};

// `folders` without those that lie inside another of them, so that they can
// serve as the roots of a MachineRoots.
std::vector<std::string> OutermostFolders(const std::vector<std::string>& folders);

// Problems with `now`, when every change a session may make is either
// complete or absent: each file other than a database or a rollback journal
// holds exactly its bytes of `before` or of `after` (a file of neither is
// absent from both); no other file has appeared; each database passes its
// integrity check, each domain_data record holds its value of `before` or of
// `after`, and every other table is as in `before` or as in `after`. Empty
// when all is well.
std::vector<std::string> CompareWithCompleteOrAbsentChanges(const MachineState& before,
                                                            const MachineState& after,
                                                            const MachineState& now);

// Problems with `now` when it must equal `expected` apart from the files
// whose keys end in one of `mayChange` (those are skipped). Databases are
// compared by their tables and integrity, and a database that fails its
// integrity check also byte for byte.
std::vector<std::string> CompareExactly(const MachineState& expected, const MachineState& now,
                                        const std::vector<std::string>& mayChange = {});

// The lines joined for a failure message.
std::string Joined(const std::vector<std::string>& lines);

#endif  // CUSTOMHOOKS_TESTS_RELIABILITY_MACHINE_STATE_H_
