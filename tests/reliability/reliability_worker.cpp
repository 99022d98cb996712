// A second process for the contention tests.
//
//   reliability_worker session <lines file> <mediaSignature> <installLanguage> <count>
//     Runs <count> install sessions through the shipped library's hook
//     procedure, one after the other, and writes every line they log, then
//     "status <n>" after each session, to <lines file>. Exit status 0 when
//     every session returned 0.
//
//   reliability_worker write <database>... -- <subdomain> <acks file> <stop file>
//     Writes domain_data records (domain 1, <subdomain>, "k<i>" -> "v<i>")
//     into the databases in turn, one record per transaction, as the
//     installer does: BEGIN IMMEDIATE, waiting for locks, then COMMIT. After
//     each commit it appends "<database index> <i>" to <acks file>. It stops
//     once <stop file> exists (and it wrote at least one record per
//     database) or after two minutes. Exit status 0 when every write was
//     committed.
//
// Exit status 2 for bad arguments, 3 when a file cannot be opened.
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "reliability/session_runner.h"

namespace {

int RunSessions(const char* linesPath, const char* signature, const char* language, int count) {
  std::FILE* out = std::fopen(linesPath, "wb");
  if (out == nullptr) return 3;
  bool allZero = true;
  for (int i = 0; i < count; ++i) {
    const SessionOutcome outcome = CloseInstallSession(SessionProperties(signature, language));
    for (const std::string& line : outcome.lines) std::fprintf(out, "%s\n", line.c_str());
    std::fprintf(out, "status %d\n", outcome.status);
    allZero = allZero && outcome.status == 0;
  }
  return std::fclose(out) == 0 && allZero ? 0 : 1;
}

bool Exists(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

// One record in one transaction; retried while another process keeps the
// database locked beyond the busy timeout.
bool WriteRecord(sqlite3* db, const char* subdomain, int i) {
  char* sql = sqlite3_mprintf(
      "INSERT OR REPLACE INTO domain_data (domain, subDomain, key, value) VALUES ('1', %Q, 'k%d', 'v%d')",
      subdomain, i, i);
  if (sql == nullptr) return false;
  bool committed = false;
  for (int attempt = 0; attempt < 20 && !committed; ++attempt) {
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) continue;
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK &&
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) {
      committed = true;
    } else {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
  }
  sqlite3_free(sql);
  return committed;
}

int WriteRecords(const std::vector<const char*>& databases, const char* subdomain, const char* acksPath,
                 const char* stopPath) {
  std::vector<sqlite3*> connections;
  int status = 0;
  for (const char* path : databases) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path, &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) status = 3;
    sqlite3_busy_timeout(db, 10000);
    connections.push_back(db);
  }
  std::FILE* acks = status == 0 ? std::fopen(acksPath, "wb") : nullptr;
  if (acks == nullptr) status = 3;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  for (int i = 0; status == 0; ++i) {
    const std::size_t index = static_cast<std::size_t>(i) % connections.size();
    if (i >= static_cast<int>(connections.size()) &&
        (Exists(stopPath) || std::chrono::steady_clock::now() > deadline)) {
      break;
    }
    if (!WriteRecord(connections[index], subdomain, i)) {
      status = 1;
      break;
    }
    std::fprintf(acks, "%zu %d\n", index, i);
    std::fflush(acks);
    // Room for the other processes between two transactions.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (acks != nullptr && std::fclose(acks) != 0) status = 3;
  for (sqlite3* db : connections) sqlite3_close(db);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::strcmp(argv[1], "session") == 0) {
    return RunSessions(argv[2], argv[3], argv[4], std::atoi(argv[5]));
  }
  if (argc >= 7 && std::strcmp(argv[1], "write") == 0) {
    std::vector<const char*> databases;
    int i = 2;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) databases.push_back(argv[i]);
    if (databases.empty() || argc - i != 4) return 2;
    return WriteRecords(databases, argv[i + 1], argv[i + 2], argv[i + 3]);
  }
  return 2;
}
