#include "support/database_rewrite.h"

#include <cstdio>

#include <sqlite3.h>

#include "fs/files.h"
#include "support/disk.h"
#include "support/test_machine.h"

using customhooks::fs::NativePath;

bool WriteInPlace(const std::string& file, const std::string& bytes) {
  std::FILE* out = std::fopen(NativePath(file).c_str(), "r+b");
  const bool written = out != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return out != nullptr && std::fclose(out) == 0 && written;
}

bool RewriteKeepingTheCounters(const std::string& file, const std::string& spare, const char* sql) {
  const std::string before = ReadWholeFile(file);
  if (!WriteWholeFile(spare, before)) return false;
  sqlite3* db = nullptr;
  const bool changed = sqlite3_open_v2(NativePath(spare).c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
                       sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  std::string after = ReadWholeFile(spare);
  if (!changed || after.size() != before.size()) return false;
  for (const std::size_t offset : {24, 40, 92}) after.replace(offset, 4, before, offset, 4);
  return WriteInPlace(file, after);
}
