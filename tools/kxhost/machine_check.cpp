#include "machine_check.h"

#include <algorithm>
#include <exception>
#include <map>
#include <memory>
#include <set>

#include "fs/dry_run_env.h"
#include "fs/files.h"
#include "fs/folders.h"
#include "fs/paths.h"
#include "fs/product_names.h"
#include "fs/shared_folder.h"
#include "integration/integration_pass.h"
#include "integration/product_folders.h"
#include "integration/session.h"
#include "pcf/pcf_document.h"
#include "storage/dry_run.h"
#include "storage/pcd_store.h"
#include "storage/pdb_reader.h"
#include "storage/shared_folder_vfs.h"

namespace customhooks::check {

namespace {

using integration::DataFolder;
using integration::DataFolderIn;

// The session a close gets from the host: the given properties (the first
// of a name counts), its lines and what each product's run found kept for
// the report.
class CheckSession : public integration::IntegrationSession {
 public:
  CheckSession(const Properties& properties, CheckReport* report) : properties_(properties), report_(report) {}

  std::optional<std::string> Property(const char* name) const override {
    for (const auto& [key, value] : properties_) {
      if (key == name) return value;
    }
    return std::nullopt;
  }

  void Log(const char* line) const override { report_->closeLog.emplace_back(line); }

  void Observe(const integration::ProductFindings& found) const override {
    ProductReport product;
    product.name = found.product;
    product.reached = found.searched;
    product.located = found.located;
    product.payloadId = found.payloadId;
    product.version = found.version;
    product.productSignature = found.productSignature;
    product.signatureMatches = found.signatureMatches;
    product.licensingCode = found.licensingCode;
    product.driverPayload = Property(names::kMediaSignatureProperty).value_or(std::string());
    report_->products.push_back(std::move(product));
  }

 private:
  const Properties& properties_;
  CheckReport* report_;
};

// The folders of the close, as the module locates them.
struct Folders {
  std::string common, configuration, cache, payloads, backup;
};

void AddPlace(CheckReport* report, const std::string& what, const std::string& path) {
  Place place{what, fs::NativePath(path), {}};
  if (!path.empty()) static_cast<void>(fs::DescribePath(path, &place.facts));
  // What the module takes for a link (under Wine also a POSIX link, which
  // the file's own attributes do not show).
  if (place.facts.kind == fs::PathFacts::Kind::kFile && fs::IsPlantedLink(path)) {
    place.facts.kind = fs::PathFacts::Kind::kLink;
  }
  report->places.push_back(std::move(place));
}

std::string Joined(const std::string& folder, const char* name) {
  std::string path;
  if (folder.empty() || !fs::JoinPath(folder, name, &path).ok()) return std::string();
  return path;
}

Folders LocatePlaces(CheckReport* report) {
  std::string commonFiles;
  std::string commonFilesX86;
  static_cast<void>(fs::LocateCommonFilesFolder(&commonFiles));
  static_cast<void>(fs::FindSpecialFolder(fs::SpecialFolder::kCommonFilesX86, &commonFilesX86));
  AddPlace(report, "Common Files folder", commonFiles);
  AddPlace(report, "Common Files (x86) folder", commonFilesX86);
  AddPlace(report, "PCF folder", integration::LocatePcfFolder().value_or(std::string()));
  Folders folders;
  folders.common = integration::LocateCommonDataFolder().value_or(std::string());
  auto in = [&folders](DataFolder which) {
    return folders.common.empty() ? std::string() : DataFolderIn(folders.common, which).value_or(std::string());
  };
  folders.configuration = in(DataFolder::kConfiguration);
  folders.cache = in(DataFolder::kCache);
  folders.payloads = in(DataFolder::kPayloads);
  folders.backup = in(DataFolder::kBackup);
  AddPlace(report, "common data folder", folders.common);
  AddPlace(report, "configuration folder", folders.configuration);
  AddPlace(report, names::kConfigurationFile, Joined(folders.configuration, names::kConfigurationFile));
  AddPlace(report, "cache folder", folders.cache);
  AddPlace(report, names::kCacheFile, Joined(folders.cache, names::kCacheFile));
  AddPlace(report, "cache journal", Joined(folders.cache, "cache.db-journal"));
  AddPlace(report, "payloads folder", folders.payloads);
  AddPlace(report, names::kPayloadsFile, Joined(folders.payloads, names::kPayloadsFile));
  AddPlace(report, names::kInstallerFile, Joined(folders.payloads, names::kInstallerFile));
  AddPlace(report, "backup folder", folders.backup);
  AddPlace(report, "caps.db backup", Joined(folders.backup, names::kInstallerFile));
  return folders;
}

// What an administrator can do about a database refused with `status`.
std::string AdviceFor(const std::string& name, const Status& status) {
  const std::string_view reason = status.context();
  if (reason.find("hot journal") != std::string_view::npos) {
    return "If no installer was interrupted while writing it, the journal was planted: remove the journal.";
  }
  if (reason.find("write-ahead log") != std::string_view::npos) {
    return "Set the database back to rollback-journal mode (PRAGMA journal_mode=DELETE) or remove it.";
  }
  if (reason.find("journal's name") != std::string_view::npos) {
    return "Remove what stands at the journal's name.";
  }
  if (reason.find("past the bound") != std::string_view::npos) {
    return "Remove the oversized file; a close creates a new one.";
  }
  if (status.Is(storage::Code::kBusy)) {
    return "Another process holds the database: let the installer finish, then check again.";
  }
  if (status.Is(storage::Code::kSchemaTooNew)) {
    return "A newer release wrote this database: install that release of the module.";
  }
  if (status.Is(storage::Code::kAccessRefused)) {
    return name == names::kCacheFile ? "Remove the link planted at the cache's name or its journal's."
                                     : "Give the installer's account read and write access to the file.";
  }
  return name == names::kCacheFile ? "Remove the damaged or foreign cache; a close creates a new one."
                                   : "Restore the database from the installer's media or a backup.";
}

// What the module's status leaves unsaid about a refusal in the cache
// folder: which name holds a link, or the bounds a read failed on.
std::string Explained(const std::string& database, const Status& refusal, bool inCacheFolder) {
  if (!inCacheFolder) return std::string();
  if (refusal.Is(storage::Code::kAccessRefused)) {
    std::string links;
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
      if (fs::IsPlantedLink(database + suffix)) links += "; a link stands at " + database + suffix;
    }
    return links;
  }
  if (refusal.Is(storage::Code::kFileError) && refusal.context().find("I/O error") != std::string_view::npos) {
    return "; the file could not be read within the cache folder's bounds: a schema of more than " +
           std::to_string(storage::kSharedFolderMostSchemaEntries) + " entries or " +
           std::to_string(storage::kSharedFolderMostSchemaBytes) + " bytes, or a damaged file";
  }
  return std::string();
}

void OpenDatabases(const Folders& folders, CheckReport* report) {
  std::unique_ptr<storage::DomainStore> pcd;
  std::unique_ptr<storage::DomainStore> cache;
  std::unique_ptr<storage::PayloadDatabase> pdb;
  const struct {
    const char* name;
    const std::string& folder;
    Status opened;
  } opens[] = {
      {names::kConfigurationFile, folders.configuration,
       storage::OpenDomainStore(storage::DomainFile::kConfiguration, folders.configuration, &pcd)},
      {names::kCacheFile, folders.cache, storage::OpenDomainStore(storage::DomainFile::kCache, folders.cache, &cache)},
      {names::kPayloadsFile, folders.payloads, storage::OpenPayloadDatabase(folders.payloads, &pdb)},
  };
  for (const auto& open : opens) {
    DatabaseReport database;
    database.name = open.name;
    database.path = fs::NativePath(Joined(open.folder, open.name));
    if (!open.opened.ok()) {
      const bool hot = open.opened.context().find("hot journal") != std::string_view::npos;
      database.verdict = hot ? "rollback" : "refuse";
      database.reason = open.opened.ToString() + Explained(database.path, open.opened, database.name == names::kCacheFile);
      report->problems.push_back(
          {hot ? database.name + " has " + database.reason + "; the check reads no further, and what the close "
                                                              "does after the rollback is not predicted below"
               : database.name + " would be refused: " + database.reason,
           AdviceFor(database.name, open.opened)});
    }
    report->databases.push_back(std::move(database));
  }
}

// How the dry run of the opens met each database it could read.
void AddDatabaseOutcomes(const std::vector<storage::DatabaseDryRun>& outcomes, CheckReport* report) {
  for (DatabaseReport& database : report->databases) {
    const auto outcome = std::find_if(outcomes.begin(), outcomes.end(),
                                      [&database](const storage::DatabaseDryRun& o) { return o.path == database.path; });
    if (outcome == outcomes.end()) continue;
    database.schemaVersion = outcome->schemaBefore;
    database.compatibilityVersion = outcome->compatBefore;
    database.schemaVersionAfter = outcome->schemaAfter;
    database.quickCheck = outcome->quickCheck;
    database.lockedForWriting = outcome->lockedForWriting;
    if (database.verdict.empty()) {
      database.verdict = outcome->created                                  ? "create"
                         : outcome->schemaBefore != outcome->schemaAfter ? "steps"
                                                                           : "use";
    }
    if (database.quickCheck != "ok" && !outcome->created) {
      report->problems.push_back({database.name + " fails its quick check: " + database.quickCheck,
                                  AdviceFor(database.name, Status(storage::Code::kFileError))});
    }
    if (database.lockedForWriting) {
      report->problems.push_back({database.name + " is locked for writing by another process at this moment",
                                  "Let the installer or the process that holds it finish, then check again."});
    }
  }
}

// What the close's dry run did to the databases it opened.
void AddDatabaseChanges(const std::vector<storage::DatabaseDryRun>& outcomes, CheckReport* report) {
  for (const storage::DatabaseDryRun& outcome : outcomes) {
    if (outcome.created) report->changes.push_back({"database", outcome.path, "", std::nullopt, "created"});
    if (!outcome.created && outcome.schemaBefore != outcome.schemaAfter) {
      report->changes.push_back({"schema", outcome.path, "schema_version", outcome.schemaBefore, outcome.schemaAfter});
    }
    for (const auto& [key, values] : outcome.records) {
      report->changes.push_back({"record", outcome.path,
                                 std::get<0>(key) + "/" + std::get<1>(key) + "/" + std::get<2>(key), values.first,
                                 values.second});
    }
  }
}

std::optional<std::string> FileBytes(const std::string& path) {
  fs::OpenedForReading opened;
  if (!fs::OpenForReading(path, &opened).ok() || opened.found != fs::Found::kFile) return std::nullopt;
  std::string bytes;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, opened.file.get())) > 0) bytes.append(buffer, got);
  return bytes;
}

// A document's entries by "section/key".
std::map<std::string, std::string> DocumentEntries(const pcf::Document& document) {
  std::map<std::string, std::string> entries;
  for (const auto& [section, values] : document.sections) {
    for (const auto& [key, value] : values) entries[section + "/" + key] = value;
  }
  return entries;
}

// The key changes of the document at `path` when `bytes` replace it; false
// when `bytes` is no document.
bool AddDocumentChanges(const std::string& path, const std::string& bytes, CheckReport* report) {
  pcf::Document now;
  if (!pcf::ReadDocumentText(bytes, &now).ok()) return false;
  pcf::Document was;
  static_cast<void>(pcf::ReadDocument(path, &was));
  const auto before = DocumentEntries(was);
  const auto after = DocumentEntries(now);
  std::set<std::string> keys;
  for (const auto& entry : before) keys.insert(entry.first);
  for (const auto& entry : after) keys.insert(entry.first);
  bool keyChanged = false;
  for (const std::string& key : keys) {
    const auto old = before.find(key);
    const auto fresh = after.find(key);
    std::optional<std::string> oldValue = old == before.end() ? std::nullopt : std::optional(old->second);
    std::optional<std::string> newValue = fresh == after.end() ? std::nullopt : std::optional(fresh->second);
    if (oldValue == newValue) continue;
    keyChanged = true;
    report->changes.push_back({"document", path, key, oldValue, newValue});
  }
  // Rewritten with the same entries: its text changes all the same.
  if (!keyChanged) report->changes.push_back({"document", path, "", std::nullopt, "the same entries, rewritten"});
  return true;
}

// The file changes of the plan: a copy or write to a temporary file that
// then takes a file's place counts as a change of that file.
void AddFileChanges(const std::vector<fs::PlannedChange>& plan, const Folders& folders, CheckReport* report) {
  using Kind = fs::PlannedChange::Kind;
  std::map<std::string, const fs::PlannedChange*> pending;
  std::set<std::string> seen;
  const std::string backup = Joined(folders.backup, names::kInstallerFile);
  auto settle = [&](const std::string& target, const fs::PlannedChange& content) {
    const std::optional<std::string> bytes =
        content.kind == Kind::kWrite ? std::optional(content.bytes) : FileBytes(content.from);
    const std::optional<std::string> old = FileBytes(target);
    if (bytes && old && *bytes == *old) return;  // the same bytes: nothing changes
    if (content.kind == Kind::kWrite && AddDocumentChanges(target, content.bytes, report)) return;
    report->changes.push_back({target == backup ? "backup" : "file", target, "",
                               old ? std::optional<std::string>(std::to_string(old->size()) + " bytes") : std::nullopt,
                               content.kind == Kind::kCopy ? "a copy of " + content.from
                                                           : std::to_string(content.bytes.size()) + " bytes"});
  };
  for (const fs::PlannedChange& change : plan) {
    switch (change.kind) {
      case Kind::kCreateFolder:
        if (seen.insert("folder:" + change.path).second) {
          report->changes.push_back({"folder", change.path, "", std::nullopt, "created"});
        }
        break;
      case Kind::kWrite:
      case Kind::kCopy:
        pending[change.path] = &change;
        break;
      case Kind::kMove: {
        const auto from = pending.find(change.from);
        if (from != pending.end()) {
          settle(change.path, *from->second);
          pending.erase(from);
        }
        break;
      }
      case Kind::kRemove:
        if (pending.erase(change.path) == 0) {
          report->changes.push_back({"remove", change.path, "", "present", std::nullopt});
        }
        break;
      case Kind::kSetAccess:
        if (seen.insert("access:" + change.path).second) report->accessApplied.push_back(fs::NativePath(change.path));
        break;
      case Kind::kSetAttributes:
        // Part of a copy: the copy is what changes.
        break;
    }
  }
  // Written in place: no temporary file took the target's place.
  for (const auto& [path, content] : pending) settle(path, *content);
}

// The changes with native paths; the same change asked for again (each
// product's run backs caps.db up) is made once.
void SettleChanges(CheckReport* report) {
  std::vector<Change> kept;
  for (Change& change : report->changes) {
    change.path = fs::NativePath(change.path);
    const bool repeated = std::any_of(kept.begin(), kept.end(), [&change](const Change& other) {
      return other.kind == change.kind && other.path == change.path && other.key == change.key &&
             other.after == change.after;
    });
    if (!repeated) kept.push_back(std::move(change));
  }
  report->changes = std::move(kept);
}

void AddProductProblems(CheckReport* report) {
  for (const ProductReport& product : report->products) {
    if (!product.reached) {
      report->problems.push_back({product.name + ": the run stops before its search of pdb.db",
                                  "Give the session mediaSignature and installLanguage, and see pdb.db above."});
    } else if (!product.located) {
      report->problems.push_back({product.name + " is not among the installed payloads of pdb.db",
                                  "Install the product, or repair the installer's payload records."});
    }
    if (product.reached && !product.licensingCode) {
      report->problems.push_back(
          {product.name + ": no LicensingCode (LEID) under the session's mediaSignature in pcd.db; the agreement "
                          "records would not be written",
           "Check that the suite's driver payload is installed and registered in pcd.db."});
    }
  }
  // What else the close itself would log as failed.
  const std::string prefix = integration::kIntegrationLogPrefix;
  for (const std::string& line : report->closeLog) {
    static const char* const kFailures[] = {"failed", "Failed", "unsuccessful", "Fail ", "Error", "ould not",
                                            "Couldn't", "Can not"};
    const bool failure = std::any_of(std::begin(kFailures), std::end(kFailures),
                                     [&line](const char* word) { return line.find(word) != std::string::npos; });
    if (!failure) continue;
    report->problems.push_back({"the close would log: " + line.substr(line.rfind(prefix, 0) == 0 ? prefix.size() : 0),
                                "See the databases and products above for the cause."});
  }
}

void AddDocumentPlaces(const Folders& folders, CheckReport* report) {
  std::set<std::string> documents;
  std::unique_ptr<storage::PayloadDatabase> pdb;
  if (!storage::OpenPayloadDatabase(folders.payloads, &pdb).ok()) return;
  std::vector<std::string> payloads;
  for (const ProductReport& product : report->products) {
    if (product.located) payloads.push_back(product.payloadId);
  }
  if (!report->mediaSignature.empty()) payloads.push_back(report->mediaSignature);
  for (const std::string& payload : payloads) {
    std::string path;
    if (pdb->PayloadData(payload, names::kPayloadDataDomain, names::kConfigPathKey, &path).ok() && !path.empty() &&
        documents.insert(path).second) {
      AddPlace(report, "document of " + payload, path);
    }
  }
}

}  // namespace

CheckReport CheckMachine(const Properties& properties) {
  CheckReport report;
  try {
    // The check's own looks: the folders and each database, read as a
    // close opens it.
    fs::DryRunEnv lookEnv(fs::CurrentEnv());
    const fs::ScopedEnv looking(&lookEnv);
    storage::ScopedDryRun look;
    const CheckSession session(properties, &report);
    report.mediaSignature = session.Property(names::kMediaSignatureProperty).value_or(std::string());
    report.installLanguage = session.Property(names::kInstallLanguageProperty).value_or(std::string());
    const Folders folders = LocatePlaces(&report);
    OpenDatabases(folders, &report);
    AddDatabaseOutcomes(look.Outcomes(), &report);
    // The close itself, on copies of its own.
    std::vector<fs::PlannedChange> planned;
    {
      fs::DryRunEnv closeEnv(fs::CurrentEnv());
      const fs::ScopedEnv closing(&closeEnv);
      storage::ScopedDryRun close;
      integration::IntegrateSuiteProducts(session);
      AddDatabaseChanges(close.Outcomes(), &report);
      planned = closeEnv.changes();
    }
    AddDocumentPlaces(folders, &report);
    AddFileChanges(planned, folders, &report);
    SettleChanges(&report);
    AddProductProblems(&report);
    report.exitStatus = report.problems.empty() ? 0 : 1;
  } catch (const std::exception& error) {
    report.problems.push_back({std::string("the check could not run: ") + error.what(),
                               "Free memory and run the check again."});
    report.exitStatus = 2;
  }
  return report;
}

}  // namespace customhooks::check
