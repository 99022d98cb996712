#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "CustomHooks.h"
#include "checks/fuzz_checks.h"
#include "checks/folder_image.h"
#include "checks/scratch.h"
#include "fs/files.h"
#include "fs/folders.h"
#include "fs/text.h"
#include "integration/product_folders.h"
#include "integration/suite_products.h"
#include "kxhost/machine_check.h"
#include "pcf/pcf_document.h"
#include "samplesuite/sample_machine.h"
#include "support/hot_journal.h"
#include "fs/product_names.h"
#include "support/data_files.h"

namespace names = customhooks::names;

#include <sqlite3.h>

using namespace customhooks::fs;

namespace stdfs = std::filesystem;

namespace {

namespace pcf = customhooks::pcf;

// The fields of an input, in order, after the option letters.
enum SessionField : std::size_t {
  kOptions,
  kSignature,             // the "mediaSignature" property
  kLanguage,              // the "installLanguage" property
  kLicensingCode,         // the driver's records in "pcd.db", stored under
  kInstallDate,           //   the session's "mediaSignature"
  kInstalledLanguages,
  kDefaultDriverPayload,
  kProductConfigPath,     // the second product's "RMTConfigPath" record
  kFirstProductPath,      // "RMTConfigPath" payload data of the first product
  kDriverPath,            //   and of the driver (the session's signature)
  kFirstProductSignature, // the first product's "mediaSignature" payload data
  kMostRecentSession,     // the second product's "mostRecentSessionID"
  kExtraFamily,           // an extra installed payload, examined before the
  kExtraName,             //   products; absent unless one of its fields is
  kExtraVersion,          //   there
  kExtraId,
  kProductDocument,       // text of the second product's document
  kSharedDocument,        // text of a document in the PCF folder
  kCacheSchema,           // SQL a plain user runs on "cache.db" before the session
  kCacheJournal,          // bytes planted as "cache.db-journal" (0x01 for NUL)
  kSuperJournal,          // a super-journal name in that journal's trailer,
                          //   "$SENTINEL" for a file outside the machine
  kCacheRepeat,           // how many times the "cache.db" SQL runs (at most
                          //   4000), each "#" in it standing for the run's number
  kFieldCount
};

using Field = std::optional<std::string>;
const char kRemoved[] = "\x7F";
const char kPrefix[] = "KX6 Suites Custom hook: ";

std::vector<Field> SplitFields(const std::uint8_t* data, std::size_t size) {
  std::vector<Field> fields(kFieldCount);
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string::size_type start = 0;
  for (std::size_t index = 0; index < kFieldCount && start <= input.size(); ++index) {
    const std::string::size_type end = std::min(input.find('\0', start), input.size());
    if (end > start) fields[index] = input.substr(start, end - start);
    start = end + 1;
  }
  return fields;
}

// A field's text; the "nothing" byte stands for the empty text.
std::string Text(const std::string& field) { return field == kRemoved ? std::string() : field; }

bool HasOption(const std::vector<Field>& fields, char letter) {
  return fields[kOptions] && fields[kOptions]->find(letter) != std::string::npos;
}

// The private machine: its special folders inside this process's scratch
// folder, and the sample suite laid out once. Every input starts from that
// layout, brought back by restoring only what the previous input changed.
struct Machine {
  std::string programFiles;  // the module's form: "...\Program Files"
  std::string commonData;
  SampleSuite suite;
  FolderImage image;
  bool ready = false;
};

Machine& TheMachine() {
  static Machine machine = [] {
    Machine m;
    const std::string root = ScratchPath("machine");
    const std::string common = (stdfs::u8path(root) / "Common Files").u8string();
    const std::string data = (stdfs::u8path(root) / "ProgramData").u8string();
    std::error_code ec;
    stdfs::create_directories(stdfs::u8path(common), ec);
    stdfs::create_directories(stdfs::u8path(data), ec);
    // POSIX reads these; Windows has its own special folders.
    SetProcessEnvironment("CommonProgramFiles", common);
    SetProcessEnvironment("CommonProgramFiles(x86)", common);
    SetProcessEnvironment("ProgramData", data);
    m.programFiles = root + "\\Program Files";
    m.ready = !ec && [&m] {
                const std::optional<std::string> common = customhooks::integration::LocateCommonDataFolder();
                m.commonData = common.value_or(std::string());
                return common.has_value();
              }() && LayOutSampleSuite(m.programFiles, m.suite) &&
              m.image.Capture({NativePath(m.commonData), NativePath(m.programFiles)});
    return m;
  }();
  return machine;
}

// A path of the input, kept inside the machine's program folder.
std::string InProgramFolder(const Machine& machine, std::string relative) {
  for (std::string::size_type at; (at = relative.find("..")) != std::string::npos;) {
    relative.replace(at, 2, "__");
  }
  for (char& c : relative) {
    if (c == ':') c = '_';
  }
  return machine.programFiles + "\\" + relative;
}

std::string WithRoot(const Machine& machine, std::string text) {
  const std::string token = "$ROOT";
  for (std::string::size_type at = 0; (at = text.find(token, at)) != std::string::npos;) {
    text.replace(at, token.size(), machine.programFiles);
    at += machine.programFiles.size();
  }
  return text;
}

// A document saves itself to the path in its "RMTConfigPath" entries. Inputs
// whose documents name a place outside the machine's program folder (a
// relative path included) are not run.
bool SavesInsideMachine(const Machine& machine, const std::string& path) {
  pcf::Document document;
  if (!pcf::ReadDocument(path, &document).ok()) return true;
  for (const auto& section : document.sections) {
    const auto entry = section.second.find(names::kConfigPathKey);
    if (entry == section.second.end() || entry->second.empty()) continue;
    const std::string& target = entry->second;
    if (target.find("..") != std::string::npos ||
        target.compare(0, machine.programFiles.size() + 1, machine.programFiles + "\\") != 0) {
      return false;
    }
  }
  return true;
}

// Writes a document of the input where the module will look for it: the
// path as the module's file layer turns it into a native one (text that is
// not UTF-8 included). Written plainly, without the flushes of the module's
// own writes: the session does not depend on them.
bool WriteDocument(const std::string& path, const std::string& text) {
  const stdfs::path native = stdfs::u8path(NativePath(WideToUtf8(Utf8ToWide(path))));
  std::error_code ec;
  stdfs::create_directories(native.parent_path(), ec);
  return !ec && WriteBytes(native.u8string(), text);
}

// A file outside the machine that a planted journal may name: no session
// may remove or change it.
const std::string& SentinelPath() {
  static const std::string path = [] {
    const std::string sentinel = ScratchPath("sentinel");
    WriteBytes(sentinel, "outside the machine");
    return sentinel;
  }();
  return path;
}

// Runs what a plain user writes into the cache, `count` times in one
// transaction, itself bounded: a planted statement may cost as much as the
// schema it plants. It runs in a child process where there is fork, so that
// what planting costs does not hide what the session costs.
void PlantInCache(const std::string& cache, const std::string& sql, int count) {
  std::string all = "BEGIN;";
  for (int run = 0; run < count && all.size() < (std::size_t{4} << 20); ++run) {
    std::string one = sql;
    const std::string number = std::to_string(run);
    for (std::string::size_type at = 0; (at = one.find('#', at)) != std::string::npos; at += number.size()) {
      one.replace(at, 1, number);
    }
    all += one + ";";
  }
  all += "COMMIT;";
#if !defined(_WIN32)
  const pid_t child = ::fork();
  if (child != 0) {
    int status = 0;
    if (child > 0) ::waitpid(child, &status, 0);
    return;
  }
#endif
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(cache.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) == SQLITE_OK) {
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, 1 << 20);
    int budget = 1000 * (1 + count / 10);
    sqlite3_progress_handler(db, 1000, [](void* left) { return --*static_cast<int*>(left) < 0 ? 1 : 0; }, &budget);
    sqlite3_exec(db, all.c_str(), nullptr, nullptr, nullptr);
  }
  sqlite3_close(db);
#if !defined(_WIN32)
  ::_exit(0);
#endif
}

// The process's peak memory so far, in kB; 0 where this check can't tell
// (under Wine, where the fuzz targets do not run).
long PeakKb() {
#if defined(_WIN32)
  return 0;
#else
  rusage usage = {};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
#endif
}

// The most a session may cost, whatever an input plants: an ordinary one
// takes a fraction of a second and a few megabytes, also with the sanitizers.
constexpr double kMostSessionSeconds = 10;
constexpr long kMostSessionGrowthKb = 256 * 1024;

struct Layout {
  std::string signature;
  std::string productDocument;
  std::string payloadDatabase;  // native
  bool run = true;              // false: the input is not run
};

// Brings the machine back to the sample suite and changes what the input
// says; false when the machine cannot be restored. Values the databases
// refuse to store are simply missing: the session runs on whatever the
// machine holds.
bool LayOut(Machine& machine, const std::vector<Field>& f, Layout& layout) {
  if (!machine.image.Restore()) return false;
  const SampleSuite& suite = machine.suite;
  layout.signature = f[kSignature] ? Text(*f[kSignature]) : suite.driverCode;
  const std::string& signature = layout.signature;
  layout.productDocument = suite.secondProductDocument;

  // Each database is opened only when the input changes it.
  std::optional<SampleDatabase> pcd;
  auto configuration = [&pcd]() -> SampleDatabase& {
    if (!pcd) pcd.emplace(SampleDatabase::Which::kConfiguration);
    return *pcd;
  };
  for (const auto& [field, key] : {std::make_pair(kLicensingCode, names::kLicensingCodeKey),
                                   std::make_pair(kInstallDate, names::kInstallDateKey),
                                   std::make_pair(kInstalledLanguages, names::kInstalledLanguagesKey),
                                   std::make_pair(kDefaultDriverPayload, names::kDefaultDriverPayloadKey)}) {
    if (!f[field]) continue;
    if (*f[field] == kRemoved) {
      configuration().DeleteConfigRecord(signature, key);
    } else {
      configuration().SetConfigRecord(signature, key, *f[field]);
    }
  }
  if (f[kProductConfigPath]) {
    if (*f[kProductConfigPath] == kRemoved) {
      configuration().DeleteConfigRecord(suite.secondProductCode, names::kConfigPathKey);
    } else {
      layout.productDocument = InProgramFolder(machine, *f[kProductConfigPath]);
      configuration().SetConfigRecord(suite.secondProductCode, names::kConfigPathKey, layout.productDocument);
    }
  }
  if (pcd) pcd->Commit();
  pcd.reset();

  std::optional<SampleDatabase> pdb;
  auto payloads = [&pdb]() -> SampleDatabase& {
    if (!pdb) pdb.emplace(SampleDatabase::Which::kPayloads);
    return *pdb;
  };
  auto payloadPath = [&machine](const std::string& field) {
    return field == kRemoved ? std::string() : InProgramFolder(machine, field);
  };
  if (f[kFirstProductPath]) {
    payloads().SetPayloadData(suite.firstProductCode, 0, names::kConfigPathKey, payloadPath(*f[kFirstProductPath]));
  }
  if (f[kDriverPath]) payloads().SetPayloadData(signature, 0, names::kConfigPathKey, payloadPath(*f[kDriverPath]));
  if (f[kFirstProductSignature]) {
    payloads().SetPayloadData(suite.firstProductCode, names::kPayloadDataDomain, names::kMediaSignatureProperty, Text(*f[kFirstProductSignature]));
  }
  if (f[kMostRecentSession]) {
    payloads().SetPayloadData(suite.secondProductCode, 0, names::kMostRecentSessionKey, Text(*f[kMostRecentSession]));
  }
  if (f[kExtraFamily] || f[kExtraName] || f[kExtraVersion] || f[kExtraId]) {
    SamplePayload extra;
    extra.id = f[kExtraId] ? Text(*f[kExtraId]) : "{F0220000-0000-4000-8000-00000000E47A}";
    extra.family = f[kExtraFamily] ? Text(*f[kExtraFamily]) : "Weft";
    extra.name = f[kExtraName] ? Text(*f[kExtraName]) : "Orvik Tessel Studio 4.6";
    extra.version = f[kExtraVersion] ? Text(*f[kExtraVersion]) : "4.6.1";
    extra.installTime = 1765000000;
    if (payloads().AddPayload(extra)) {
      payloads().SetPayloadData(extra.id, names::kPayloadDataDomain, names::kMediaSignatureProperty, signature);
      payloads().SetPayloadData(extra.id, names::kSecondProductDataDomain, names::kMediaSignatureProperty, signature);
    }
  }
  if (pdb) pdb->Commit();
  pdb.reset();

  const std::string pcfDocument = machine.commonData + "\\PCF\\" + suite.secondProductCode + ".fuzz.xml";
  for (const auto& [field, path] : {std::make_pair(kProductDocument, layout.productDocument),
                                    std::make_pair(kSharedDocument, pcfDocument)}) {
    if (!f[field]) continue;
    if (*f[field] == kRemoved) {
      static_cast<void>(RemoveFile(path));
      continue;
    }
    // A path no file can have leaves nothing to run.
    layout.run = layout.run && WriteDocument(path, WithRoot(machine, *f[field])) &&
                 SavesInsideMachine(machine, path);
  }

  const std::string cache = NativePath(machine.commonData + "\\" + CacheDatabase());
  if (f[kCacheSchema] || f[kCacheJournal]) {
    std::error_code ec;
    stdfs::create_directories(stdfs::u8path(cache).parent_path(), ec);
  }
  if (f[kCacheSchema]) {
    const int count = f[kCacheRepeat] ? std::clamp(std::atoi(f[kCacheRepeat]->c_str()), 1, 4000) : 1;
    PlantInCache(cache, Text(*f[kCacheSchema]), count);
  }
  if (f[kCacheJournal]) {
    std::string journal = *f[kCacheJournal];
    std::replace(journal.begin(), journal.end(), '\x01', '\0');
    if (f[kSuperJournal]) {
      std::string name = *f[kSuperJournal];
      const std::string token = "$SENTINEL";
      for (std::string::size_type at = 0; (at = name.find(token, at)) != std::string::npos;) {
        name.replace(at, token.size(), SentinelPath());
        at += SentinelPath().size();
      }
      journal += SuperJournalTrailer(4096, name);
    }
    WriteBytes(cache + "-journal", journal);
  }

  if (HasOption(f, 'B')) static_cast<void>(RemoveFile(machine.commonData + "\\" + PayloadDatabase()));
  if (HasOption(f, 'C')) static_cast<void>(RemoveFile(machine.commonData + "\\" + ConfigurationDatabase()));
  layout.payloadDatabase = NativePath(machine.commonData + "\\" + PayloadDatabase());
  return true;
}

// What the callback received during one call.
struct Received {
  std::vector<std::string> lines;
  bool nullLine = false;
};
Received* g_received = nullptr;

void KXHOOK_CALL Receive(const char* line) {
  if (line == nullptr) {
    g_received->nullLine = true;
    return;
  }
  g_received->lines.emplace_back(line);
}

bool StartsWith(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}

bool IsPropertyDiagnostic(const std::string& line) {
  return line == "Property map is not initialized." || line == "NULL pointer passed as property name." ||
         line == "NULL pointer passed for property name.";
}

std::string CheckLines(const Received& received, bool reinstall) {
  if (received.nullLine) return "the callback was handed a null line";
  const std::vector<std::string>& lines = received.lines;
  const char* first = reinstall ? "In ReinstallSessionCloseProc" : "In InstallSessionCloseProc";
  if (lines.empty() || lines.front() != first) return std::string("the first line is not \"") + first + "\"";
  const std::string succeeded = std::string(kPrefix) + "Successfully Updated PCFClientFile and cache.db for ";
  const std::string failed = std::string(kPrefix) + "Failed to Update PCFClientFile and cache.db for ";
  std::vector<std::string> products;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (StartsWith(line, succeeded)) {
      products.push_back(line.substr(succeeded.size()));
    } else if (StartsWith(line, failed)) {
      products.push_back(line.substr(failed.size()));
    } else if (!StartsWith(line, kPrefix) && !IsPropertyDiagnostic(line)) {
      return "line " + std::to_string(i) + " has no prefix: \"" + line + "\"";
    }
  }
  std::vector<std::string> expected;
  for (const auto& product : customhooks::integration::kSuiteProducts) expected.emplace_back(product.summaryName);
  if (products != expected) {
    return "the product summary lines are not one per product in order";
  }
  if (!StartsWith(lines.back(), succeeded) && !StartsWith(lines.back(), failed)) {
    return "the last product's summary is not the last line";
  }
  return std::string();
}

// A snapshot of the product's document.
struct DocumentState {
  bool present = false;
  std::string bytes;
  customhooks::Status status;
};

DocumentState Snapshot(const std::string& path) {
  DocumentState state;
  state.present = ReadBytes(NativePath(path), state.bytes);
  pcf::Document document;
  state.status = pcf::ReadDocument(path, &document);
  return state;
}

// Lays out the machine of the input: the failure, or "" with `*fields`
// and `*layout` set.
std::string LayOutInput(const std::uint8_t* data, std::size_t size, std::vector<Field>* fields, Layout* layout) {
  Machine& machine = TheMachine();
  if (!machine.ready) return "the private machine cannot be prepared";
  *fields = SplitFields(data, size);
  if (!LayOut(machine, *fields, *layout)) return "the machine cannot be restored";
  return std::string();
}

// The session's properties as the input gives them.
struct SessionProperties {
  std::vector<std::pair<const char*, std::string>> values;
  bool nullMap = false;        // M: no property map at all
  bool nullSignature = false;  // N: "mediaSignature" without a value
};

SessionProperties PropertiesOf(const std::vector<Field>& fields, const Layout& layout) {
  SessionProperties properties;
  properties.nullMap = HasOption(fields, 'M');
  properties.nullSignature = HasOption(fields, 'N');
  if (!HasOption(fields, 'S')) properties.values.emplace_back(names::kMediaSignatureProperty, layout.signature);
  const std::string language = fields[kLanguage] ? Text(*fields[kLanguage]) : std::string(names::kFrenchMoroccoLanguage);
  if (!HasOption(fields, 'L')) properties.values.emplace_back(names::kInstallLanguageProperty, language);
  if (HasOption(fields, 'D')) properties.values.emplace_back(names::kInstallLanguageProperty, "de_DE");
  return properties;
}

// One SessionClose through the exported hook procedure; its lines in
// `*received`.
std::int32_t CloseSession(const SessionProperties& properties, bool reinstall, Received* received) {
  std::vector<HookProperty> map;
  for (const auto& [name, text] : properties.values) {
    const bool null = properties.nullSignature && std::string(name) == names::kMediaSignatureProperty;
    map.push_back({name, null ? 0 : reinterpret_cast<std::uintptr_t>(text.c_str())});
  }
  map.push_back({nullptr, 0});
  g_received = received;
  const std::int32_t status =
      KXInstallerCustomHookProc(properties.nullMap ? nullptr : map.data(), KXHOOK_ENTRY_SESSION_CLOSE,
                                reinstall ? KXHOOK_MODE_REINSTALL : KXHOOK_MODE_INSTALL, 0, &Receive);
  g_received = nullptr;
  return status;
}

}  // namespace

std::string CheckSessionClose(const std::uint8_t* data, std::size_t size) {
  std::vector<Field> fields;
  Layout layout;
  const std::string laidOut = LayOutInput(data, size, &fields, &layout);
  if (!laidOut.empty()) return laidOut;
  if (!layout.run) return std::string();

  std::string payloadsBefore;
  const bool hadPayloads = ReadBytes(layout.payloadDatabase, payloadsBefore);
  const DocumentState before = Snapshot(layout.productDocument);

  const bool reinstall = HasOption(fields, 'R');
  Received received;
  const long peakBefore = PeakKb();
  const auto started = std::chrono::steady_clock::now();
  const std::int32_t status = CloseSession(PropertiesOf(fields, layout), reinstall, &received);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const long peakGrowth = PeakKb() - peakBefore;

  if (status != KXHOOK_STATUS_OK) return "the hook procedure returned " + std::to_string(status);
  if (seconds > kMostSessionSeconds) return "the session took " + std::to_string(seconds) + " s";
  // The process's peak grows only past its earlier peak: a session that
  // costs more than the bound shows, whatever ran before.
  if (peakGrowth > kMostSessionGrowthKb) {
    return "the session's peak memory grew by " + std::to_string(peakGrowth) + " kB";
  }
  std::string sentinel;
  if (!ReadBytes(SentinelPath(), sentinel) || sentinel != "outside the machine") {
    return "a file outside the machine that a planted journal named was changed or removed";
  }
  const std::string lines = CheckLines(received, reinstall);
  if (!lines.empty()) return lines;

  std::string payloadsAfter;
  if (hadPayloads && (!ReadBytes(layout.payloadDatabase, payloadsAfter) || payloadsAfter != payloadsBefore)) {
    return "pdb.db was changed";
  }
  const DocumentState after = Snapshot(layout.productDocument);
  if (before.status.ok() && !after.status.ok()) {
    return "the product's document read before the session and failed with " + after.status.ToString() +
           " after it";
  }
  if (!before.status.ok() && (after.present != before.present || after.bytes != before.bytes)) {
    return "the product's document could not be read, yet the session changed it";
  }
  return std::string();
}

namespace {

// What a close changed, or what the check predicts it changes, one entry a
// change: "file:<path>", "gone:<path>", "folder:<path>", "database:<path>"
// and "record:<database> <domain>/<subdomain>/<key>=<value or (none)>".
using Changes = std::set<std::string>;

struct MachineFiles {
  std::map<std::string, std::string> files;
  std::set<std::string> folders;
};

MachineFiles ReadMachineFiles(const Machine& machine) {
  MachineFiles found;
  for (const std::string& root : {machine.commonData, machine.programFiles}) {
    std::error_code ec;
    for (stdfs::recursive_directory_iterator it(stdfs::u8path(NativePath(root)), ec), end; !ec && it != end;
         it.increment(ec)) {
      const std::string path = it->path().lexically_normal().u8string();
      if (it->is_directory(ec)) {
        found.folders.insert(path);
      } else {
        ReadBytes(path, found.files[path]);
      }
    }
  }
  return found;
}

std::map<std::string, std::string> DomainRecords(const std::string& native) {
  std::map<std::string, std::string> records;
  sqlite3* db = nullptr;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_open_v2(native.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, "SELECT domain, subDomain, key, value FROM domain_data", -1, &statement, nullptr) ==
          SQLITE_OK) {
    auto text = [statement](int column) {
      const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
      return value == nullptr ? std::string() : std::string(value);
    };
    while (sqlite3_step(statement) == SQLITE_ROW) records[text(0) + "/" + text(1) + "/" + text(2)] = text(3);
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return records;
}

std::string Normal(const std::string& native) { return stdfs::u8path(native).lexically_normal().u8string(); }

// The module's databases (native paths): their records are compared, not
// their bytes, and their journals not at all.
Changes ActualChanges(const std::vector<std::string>& databases, const MachineFiles& before,
                      const MachineFiles& after,
                      const std::map<std::string, std::map<std::string, std::string>>& recordsBefore,
                      const std::map<std::string, std::map<std::string, std::string>>& recordsAfter) {
  Changes changes;
  auto isDatabase = [&databases](const std::string& path) {
    return std::find(databases.begin(), databases.end(), path) != databases.end();
  };
  for (const auto& [path, bytes] : after.files) {
    const auto old = before.files.find(path);
    if (isDatabase(path)) {
      if (old == before.files.end()) changes.insert("database:" + path);
    } else if (path.size() > 8 && path.compare(path.size() - 8, 8, "-journal") == 0 &&
               isDatabase(path.substr(0, path.size() - 8))) {
      continue;
    } else if (old == before.files.end() || old->second != bytes) {
      changes.insert("file:" + path);
    }
  }
  for (const auto& [path, bytes] : before.files) {
    if (after.files.count(path) == 0) changes.insert("gone:" + path);
  }
  for (const std::string& folder : after.folders) {
    if (before.folders.count(folder) == 0) changes.insert("folder:" + folder);
  }
  for (const auto& [database, records] : recordsAfter) {
    const auto& old = recordsBefore.at(database);
    for (const auto& [key, value] : records) {
      const auto was = old.find(key);
      if (was == old.end() || was->second != value) changes.insert("record:" + database + " " + key + "=" + value);
    }
    for (const auto& [key, value] : old) {
      if (records.count(key) == 0) changes.insert("record:" + database + " " + key + "=(none)");
    }
  }
  return changes;
}

Changes PredictedChanges(const customhooks::check::CheckReport& report) {
  Changes changes;
  for (const customhooks::check::Change& change : report.changes) {
    const std::string path = Normal(change.path);
    if (change.kind == "record") {
      changes.insert("record:" + path + " " + change.key + "=" + change.after.value_or("(none)"));
    } else if (change.kind == "remove") {
      changes.insert("gone:" + path);
    } else if (change.kind == "schema") {
      continue;  // seen in the records a step writes
    } else if (change.kind == "folder" || change.kind == "database") {
      changes.insert(change.kind + ":" + path);
    } else {
      changes.insert("file:" + path);
    }
  }
  return changes;
}

std::string Difference(const Changes& predicted, const Changes& actual) {
  std::string text;
  for (const std::string& change : predicted) {
    if (actual.count(change) == 0) text += " predicted, not made: " + change + ";";
  }
  for (const std::string& change : actual) {
    if (predicted.count(change) == 0) text += " made, not predicted: " + change + ";";
  }
  return text;
}

}  // namespace

std::string CheckDryRunPredictsClose(const std::uint8_t* data, std::size_t size) {
  std::vector<Field> fields;
  Layout layout;
  const std::string laidOut = LayOutInput(data, size, &fields, &layout);
  if (!laidOut.empty()) return laidOut;
  const Machine& machine = TheMachine();
  // The check reads no further than a journal a close rolls back first, and
  // gives properties as a command line does: each with a value.
  if (!layout.run || fields[kCacheJournal] || HasOption(fields, 'M') || HasOption(fields, 'N')) {
    return std::string();
  }
  const SessionProperties properties = PropertiesOf(fields, layout);
  customhooks::check::Properties given;
  for (const auto& [name, value] : properties.values) given.emplace_back(name, value);
  const customhooks::check::CheckReport report = customhooks::check::CheckMachine(given);
  if (report.exitStatus == 2) return "the check could not run";

  const std::vector<std::string> databases = {
      Normal(NativePath(machine.commonData + "\\" + ConfigurationDatabase())),
      Normal(NativePath(machine.commonData + "\\" + CacheDatabase())), Normal(layout.payloadDatabase)};
  std::map<std::string, std::map<std::string, std::string>> recordsBefore;
  for (const std::string& database : databases) recordsBefore[database] = DomainRecords(database);
  const MachineFiles before = ReadMachineFiles(machine);
  Received received;
  if (CloseSession(properties, HasOption(fields, 'R'), &received) != KXHOOK_STATUS_OK) {
    return "the hook procedure failed";
  }
  std::map<std::string, std::map<std::string, std::string>> recordsAfter;
  for (const std::string& database : databases) recordsAfter[database] = DomainRecords(database);
  const std::string difference = Difference(
      PredictedChanges(report),
      ActualChanges(databases, before, ReadMachineFiles(machine), recordsBefore, recordsAfter));
  if (!difference.empty()) return "the check and the close differ:" + difference;
  // The pass's lines of the close (the host interface's own have no
  // prefix) are those its dry run logged.
  std::vector<std::string> logged;
  for (const std::string& line : received.lines) {
    if (StartsWith(line, kPrefix)) logged.push_back(line);
  }
  if (logged != report.closeLog) {
    const auto at = std::mismatch(logged.begin(), logged.end(), report.closeLog.begin(), report.closeLog.end());
    return "the close logged \"" + (at.first == logged.end() ? std::string("(nothing)") : *at.first) +
           "\" where its dry run logged \"" +
           (at.second == report.closeLog.end() ? std::string("(nothing)") : *at.second) + "\"";
  }
  return std::string();
}
