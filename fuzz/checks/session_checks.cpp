#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
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

}  // namespace

std::string CheckSessionClose(const std::uint8_t* data, std::size_t size) {
  Machine& machine = TheMachine();
  if (!machine.ready) return "the private machine cannot be prepared";
  const std::vector<Field> fields = SplitFields(data, size);
  Layout layout;
  if (!LayOut(machine, fields, layout)) return "the machine cannot be restored";
  if (!layout.run) return std::string();

  std::string payloadsBefore;
  const bool hadPayloads = ReadBytes(layout.payloadDatabase, payloadsBefore);
  const DocumentState before = Snapshot(layout.productDocument);

  const std::string language = fields[kLanguage] ? Text(*fields[kLanguage]) : names::kFrenchMoroccoLanguage;
  auto value = [](const char* text) { return reinterpret_cast<std::uintptr_t>(text); };
  std::vector<HookProperty> map;
  if (!HasOption(fields, 'S')) {
    map.push_back({names::kMediaSignatureProperty, HasOption(fields, 'N') ? 0 : value(layout.signature.c_str())});
  }
  if (!HasOption(fields, 'L')) map.push_back({names::kInstallLanguageProperty, value(language.c_str())});
  if (HasOption(fields, 'D')) map.push_back({names::kInstallLanguageProperty, value("de_DE")});
  map.push_back({nullptr, 0});

  const bool reinstall = HasOption(fields, 'R');
  Received received;
  g_received = &received;
  const long peakBefore = PeakKb();
  const auto started = std::chrono::steady_clock::now();
  const std::int32_t status =
      KXInstallerCustomHookProc(HasOption(fields, 'M') ? nullptr : map.data(), KXHOOK_ENTRY_SESSION_CLOSE,
                                reinstall ? KXHOOK_MODE_REINSTALL : KXHOOK_MODE_INSTALL, 0, &Receive);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const long peakGrowth = PeakKb() - peakBefore;
  g_received = nullptr;

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
