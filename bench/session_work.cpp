#include "session_work.h"

#include <sqlite3.h>
#include <tinyxml.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "CustomHooks.h"
#include "fs/files.h"
#include "fs/folders.h"
#include "fs/paths.h"
#include "integration/product_folders.h"
#include "storage/pdb_reader.h"
#include "fs/product_names.h"
#include "support/data_files.h"
#include "support/transcripts.h"

namespace names = customhooks::names;

using namespace customhooks::fs;

namespace {

using customhooks::pcf::FormatDocument;
using customhooks::pcf::Document;
using customhooks::pcf::ReadDocument;

// The lines of the session in progress (the host's side of the callback).
std::vector<std::string>* g_lines = nullptr;
void KXHOOK_CALL CollectLine(const char* line) { g_lines->emplace_back(line); }

struct DatabaseCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;

Database OpenDatabase(const std::string& path, int flags) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(NativePath(path).c_str(), &raw, flags, nullptr);
  Database db(raw);
  if (rc != SQLITE_OK) return nullptr;
  sqlite3_busy_timeout(db.get(), 2000);
  return db;
}

bool Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

// "" when the joined path would be too long: the caller's open then fails.
std::string Join(const std::string& base, const std::string& part) {
  std::string joined;
  return JoinPath(base, part, &joined).ok() ? joined : std::string();
}

}  // namespace

SessionOutcome RunModuleSession(const ScaledMachine& machine) {
  SessionOutcome outcome;
  const HookProperty properties[] = {
      {names::kMediaSignatureProperty, reinterpret_cast<std::uintptr_t>(machine.suite.driverCode.c_str())},
      {names::kInstallLanguageProperty, reinterpret_cast<std::uintptr_t>(names::kFrenchMoroccoLanguage)},
      {nullptr, 0},
  };
  g_lines = &outcome.lines;
  outcome.status =
      KXInstallerCustomHookProc(properties, KXHOOK_ENTRY_SESSION_CLOSE, KXHOOK_MODE_INSTALL, 0, &CollectLine);
  g_lines = nullptr;
  return outcome;
}

bool SessionSucceeded(const ScaledMachine& machine, const SessionOutcome& outcome, std::string& error) {
  const EntryTranscript expected =
      ReadTranscriptEntry("sample_suite_install", "SessionClose", machine.suite.programFiles, &error);
  if (!error.empty()) return false;
  if (outcome.status != expected.status) {
    error = "the session returned " + std::to_string(outcome.status);
    return false;
  }
  for (size_t i = 0; i < std::max(outcome.lines.size(), expected.lines.size()); ++i) {
    const std::string logged = i < outcome.lines.size() ? outcome.lines[i] : "(nothing)";
    const std::string wanted = i < expected.lines.size() ? expected.lines[i] : "(nothing)";
    if (logged != wanted) {
      error = "line " + std::to_string(i + 1) + " of the session is \"" + logged + "\", not \"" + wanted + "\"";
      return false;
    }
  }
  return true;
}

bool TouchInstallerDatabase(std::string& error) {
  const std::optional<std::string> common = customhooks::integration::LocateCommonDataFolder();
  if (!common) {
    error = "no common data folder";
    return false;
  }
  Database caps = OpenDatabase(Join(*common, InstallerDatabase()), SQLITE_OPEN_READWRITE);
  if (!caps || !Exec(caps.get(),
                     "INSERT OR REPLACE INTO install_log (id, entry) "
                     "VALUES (1, 'payload 0 installed at ' || strftime('%Y-%m-%d %H:%M:%f', 'now'))")) {
    error = "cannot write caps.db";
    return false;
  }
  return true;
}

std::string ModulePayloadSearch(customhooks::storage::PayloadDatabase& pdb) {
  namespace storage = customhooks::storage;
  // As the pass searches: one search in one snapshot, the first payload
  // that is the product.
  storage::Transaction snapshot = pdb.BeginRead();
  storage::ProductSearch found;
  if (!pdb.FindProductPayloads(2, {{"NonOrvikPayload", "Pelican X Pro", "10.0"}}, &found).ok()) return std::string();
  for (const storage::ProductPayload& payload : found.payloads.front()) {
    if (!payload.readFailed) return payload.record.payloadID;
  }
  return std::string();
}

FloorPayloadSearch::FloorPayloadSearch() {
  const std::optional<std::string> common = customhooks::integration::LocateCommonDataFolder();
  if (!common) return;
  db_ = OpenDatabase(Join(*common, PayloadDatabase()), SQLITE_OPEN_READONLY).release();
}

FloorPayloadSearch::~FloorPayloadSearch() { sqlite3_close(db_); }

std::string FloorPayloadSearch::Run() {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db_,
                         "SELECT PayloadID, productFamily, productName, version FROM payloads "
                         "WHERE installState = 2 ORDER BY installTime",
                         -1, &statement, nullptr) != SQLITE_OK) {
    return std::string();
  }
  auto text = [statement](int column) {
    const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return value ? value : "";
  };
  std::string found;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    if (std::strcmp(text(2), "Pelican X Pro") == 0 && std::strcmp(text(1), "NonOrvikPayload") == 0 &&
        std::strcmp(text(3), "10.0") == 0) {
      found = text(0);
      break;
    }
  }
  sqlite3_finalize(statement);
  return found;
}

long long ModuleReadAndFormat(const std::string& path) {
  Document document;
  if (!ReadDocument(path, &document).ok()) return -1;
  return static_cast<long long>(FormatDocument(document.payloadCode, document.sections).size());
}

long long TinyXmlLoad(const std::string& path) {
  TiXmlDocument document;
  if (!document.LoadFile(NativePath(path).c_str())) return -1;
  return document.RootElement() != nullptr ? 1 : 0;
}
