// The floor of an install session (RunSessionFloor, session_work.h): the
// session's reads and durable writes, done directly with SQLite and POSIX
// calls and nothing besides them.
//
// What makes it the floor:
// - "pdb.db" is walked once for all products (payloads outermost, the
//   signature looked up by key), and every other value is one keyed lookup
//   through one compiled statement per database;
// - "pcd.db" is read and written in one transaction, "cache.db" written in
//   another; each commit forces the journal once and the database once
//   (synchronous NORMAL: the journal is on disk before the database is
//   overwritten, the database before the journal goes; FULL would force
//   the journal a second time) and nothing else forces them again;
// - each copied or written file goes to a temporary file beside its target,
//   is forced to disk once and renamed over the target; each folder that
//   got a new entry is forced once, after its last rename;
// - paths are built once from the machine's folders, with no lookups.
#include "session_work.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "integration/driver_records.h"
#include "integration/suite_products.h"
#include "pcf/pcf_document.h"
#include "support/data_files.h"

namespace names = customhooks::names;

namespace {

using customhooks::integration::kSuiteProducts;
using customhooks::integration::ProductStep;
using customhooks::integration::SuiteProduct;


// The folder part of a native path, with its final "/".
std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('/') + 1); }

// ---- SQLite -------------------------------------------------------------------

class Connection {
 public:
  Connection(const std::string& path, int flags) {
    if (sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
      sqlite3_close(db_);
      db_ = nullptr;
    }
  }
  ~Connection() { sqlite3_close(db_); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  sqlite3* get() const { return db_; }
  bool Run(const char* sql) const {
    return db_ != nullptr && sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
  }

 private:
  sqlite3* db_ = nullptr;
};

// One compiled statement, stepped as often as needed.
class Statement {
 public:
  Statement(const Connection& db, const char* sql) {
    if (db.get() != nullptr) sqlite3_prepare_v2(db.get(), sql, -1, &statement_, nullptr);
  }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, const std::string& text) {
    sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& Bind(int index, int value) {
    sqlite3_bind_int(statement_, index, value);
    return *this;
  }
  // The next row of a query; false at its end or on failure.
  bool Next() { return statement_ != nullptr && sqlite3_step(statement_) == SQLITE_ROW; }
  std::string Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return text ? text : "";
  }
  // One run that yields no row (a write); the statement is ready again.
  bool Done() {
    const bool done = statement_ != nullptr && sqlite3_step(statement_) == SQLITE_DONE;
    sqlite3_reset(statement_);
    return done;
  }
  // A lookup of one value: its first column, when a row came.
  bool Value(std::string& out) {
    const bool row = Next();
    if (row) out = Text(0);
    sqlite3_reset(statement_);
    return row;
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

// ---- Files ------------------------------------------------------------------------

// An open file, closed when it goes unless closed before.
struct File {
  int fd = -1;
  ~File() {
    if (fd >= 0) ::close(fd);
  }
};

std::string TemporaryFor(const std::string& target) { return FolderOf(target) + "~floor.tmp"; }

// Forces the temporary file, closes it and renames it over `target`; the
// folder is forced by the caller, once for all its new entries.
bool Install(File& file, const std::string& temporary, const std::string& target) {
  return ::fsync(file.fd) == 0 && ::close(std::exchange(file.fd, -1)) == 0 &&
         ::rename(temporary.c_str(), target.c_str()) == 0;
}

// A copy as the module makes it: the source's bytes, permissions and times;
// with `writable`, the owner may always write it.
bool CopyDurably(const std::string& source, const std::string& target, bool writable = false) {
  const File in{::open(source.c_str(), O_RDONLY | O_CLOEXEC)};
  struct stat info;
  if (in.fd < 0 || ::fstat(in.fd, &info) != 0) return false;
  const std::string temporary = TemporaryFor(target);
  const mode_t mode = (info.st_mode & 07777) | (writable ? S_IWUSR : 0);
  File out{::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode)};
  if (out.fd < 0) return false;
  for (off_t left = info.st_size; left > 0;) {
    const ssize_t copied = ::copy_file_range(in.fd, nullptr, out.fd, nullptr, static_cast<size_t>(left), 0);
    if (copied < 0 && errno == EINTR) continue;
    if (copied <= 0) return false;
    left -= copied;
  }
  const struct timespec times[2] = {info.st_atim, info.st_mtim};
  return ::futimens(out.fd, times) == 0 && Install(out, temporary, target);
}

bool WriteDurably(const std::string& target, const std::string& bytes) {
  const std::string temporary = TemporaryFor(target);
  File out{::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)};
  if (out.fd < 0) return false;
  for (std::size_t written = 0; written < bytes.size();) {
    const ssize_t n = ::write(out.fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    written += static_cast<std::size_t>(n);
  }
  return Install(out, temporary, target);
}

bool FlushFolder(const std::string& folder) {
  const File entries{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  return entries.fd >= 0 && ::fsync(entries.fd) == 0;
}

// ---- The session's reads ----------------------------------------------------------

struct ProductRow {
  std::string id;
  std::string signature;
};

// Every product of the table in one walk over the installed payloads, by
// install time: for each, the first payload that is the product and has its
// media signature. Rows in the table's order; an empty id where a product
// was not found.
std::vector<ProductRow> FindProducts(const Connection& pdb) {
  constexpr std::size_t kCount = std::size(kSuiteProducts);
  // Product i binds ?4i+1 name, ?4i+2 family, ?4i+3 version, ?4i+4 the
  // domain of its signature.
  const auto parameter = [](std::size_t product, int which) { return "?" + std::to_string(4 * product + which); };
  std::string domains;
  std::string products;
  for (std::size_t i = 0; i < kCount; ++i) {
    domains += " WHEN " + parameter(i, 1) + " THEN " + parameter(i, 4);
    products += std::string(i == 0 ? "" : " OR ") + "(p.productName = " + parameter(i, 1) +
                " AND p.productFamily = " + parameter(i, 2) + " AND p.version = " + parameter(i, 3) + ")";
  }
  const std::string sql =
      "SELECT p.productName, p.PayloadID, d.value FROM payloads p CROSS JOIN payload_data d "
      "ON d.PayloadID = p.PayloadID AND d.key = 'mediaSignature' AND d.domain = CASE p.productName" +
      domains + " END WHERE p.installState = 2 AND (" + products + ") ORDER BY p.installTime";
  Statement find(pdb, sql.c_str());
  for (std::size_t i = 0; i < kCount; ++i) {
    const SuiteProduct& product = kSuiteProducts[i];
    const int first = static_cast<int>(4 * i);
    find.Bind(first + 1, product.name).Bind(first + 2, product.family).Bind(first + 3, product.version);
    find.Bind(first + 4, product.signatureDomain);
  }
  std::vector<ProductRow> rows(kCount);
  std::size_t found = 0;
  while (found < kCount && find.Next()) {
    const std::string name = find.Text(0);
    for (std::size_t i = 0; i < kCount; ++i) {
      if (name != kSuiteProducts[i].name || !rows[i].id.empty()) continue;
      rows[i] = {find.Text(1), find.Text(2)};
      ++found;
      break;
    }
  }
  return rows;
}

// The install folder of a document at <folder>RMT\application.xml, as
// POSIX takes it.
std::string InstallFolder(const std::string& document) {
  return Slashed(document.substr(0, document.find("RMT\\application.xml")));
}

}  // namespace

bool RunSessionFloor(const ScaledMachine& machine, std::string& error) {
  const SampleSuite& suite = machine.suite;
  const std::string common = machine.commonFiles + "/" + names::kCommonDataFolder + "/";

  // The payload database: every product, the paths of the locale fix-up,
  // and the session IDs of a product whose signature is not the driver's.
  std::vector<ProductRow> products;
  std::vector<std::string> localeFolders;  // of the products that get the locale fix-up
  std::vector<std::string> driverProducts;  // the ids of those that get the driver records
  std::string driverDocument;
  {
    Connection pdb(common + Slashed(PayloadDatabase()), SQLITE_OPEN_READONLY);
    products = FindProducts(pdb);
    Statement value(pdb, "SELECT value FROM payload_data WHERE PayloadID = ?1 AND domain = 0 AND key = ?2");
    if (!value.Bind(1, suite.driverCode).Bind(2, names::kConfigPathKey).Value(driverDocument)) {
      error = "the floor did not find the driver's document path";
      return false;
    }
    std::string sessionId;
    for (std::size_t i = 0; i < products.size(); ++i) {
      const ProductRow& product = products[i];
      if (product.id.empty()) {
        error = std::string("the floor did not find ") + kSuiteProducts[i].name;
        return false;
      }
      if (product.signature != suite.driverCode) {
        value.Bind(1, product.id).Bind(2, names::kMostRecentSessionKey).Value(sessionId);
      }
      switch (kSuiteProducts[i].extraStep) {
        case ProductStep::kFrenchMoroccoLocale: {
          std::string document;
          if (!value.Bind(1, product.id).Bind(2, names::kConfigPathKey).Value(document)) {
            error = "the floor did not find the document path of " + product.id;
            return false;
          }
          localeFolders.push_back(InstallFolder(document));
          break;
        }
        case ProductStep::kDriverRecords:
          driverProducts.push_back(product.id);
          break;
      }
    }
  }

  // The configuration database: the driver's records read and each driver
  // product's two written, in one transaction.
  std::string licensing;
  std::string defaultDriver;
  std::string installDate;
  std::string languages;
  std::vector<std::string> documentPaths;  // of the driver products
  {
    Connection pcd(common + Slashed(ConfigurationDatabase()), SQLITE_OPEN_READWRITE);
    if (!pcd.Run("PRAGMA synchronous = NORMAL; BEGIN")) {
      error = "the floor cannot open pcd.db";
      return false;
    }
    Statement record(pcd, "SELECT value FROM domain_data WHERE domain = 1 AND subDomain = ?1 AND key = ?2");
    std::string driverLanguage;
    if (!record.Bind(1, suite.driverCode).Bind(2, names::kLicensingCodeKey).Value(licensing) ||
        !record.Bind(1, suite.driverCode).Bind(2, names::kDefaultDriverPayloadKey).Value(defaultDriver) ||
        !record.Bind(1, suite.driverCode).Bind(2, names::kInstallDateKey).Value(installDate) ||
        !record.Bind(1, suite.driverCode).Bind(2, names::kInstalledLanguagesKey).Value(driverLanguage)) {
      error = "the floor did not find the driver's records";
      return false;
    }
    languages = customhooks::integration::LanguageListFor(driverLanguage);
    Statement write(pcd, "INSERT OR REPLACE INTO domain_data (domain, subDomain, key, value) VALUES (1, ?1, ?2, ?3)");
    for (const std::string& id : driverProducts) {
      std::string documentPath;
      if (!record.Bind(1, id).Bind(2, names::kConfigPathKey).Value(documentPath) ||
          !write.Bind(1, id).Bind(2, names::kDefaultDriverPayloadKey).Bind(3, suite.driverCode).Done() ||
          !write.Bind(1, id).Bind(2, names::kInstalledLanguagesKey).Bind(3, languages).Done()) {
        error = "the floor cannot write the driver records of " + id;
        return false;
      }
      documentPaths.push_back(documentPath);
    }
    if (!pcd.Run("COMMIT")) {
      error = "the floor cannot write pcd.db";
      return false;
    }
  }

  // The cache database: both agreement records in one transaction.
  {
    Connection cache(common + Slashed(CacheDatabase()), SQLITE_OPEN_READWRITE);
    Statement write(cache,
                    "INSERT OR REPLACE INTO domain_data (domain, subDomain, key, value) VALUES (1, ?1, ?2, ?3)");
    if (!cache.Run("PRAGMA synchronous = NORMAL; BEGIN") ||
        !write.Bind(1, licensing).Bind(2, names::kEulaAcceptedKey).Bind(3, "1").Done() ||
        !write.Bind(1, licensing).Bind(2, names::kEulaLanguageKey).Bind(3, names::kFrenchMoroccoLanguage).Done() ||
        !cache.Run("COMMIT")) {
      error = "the floor cannot write cache.db";
      return false;
    }
  }

  // The two settings files into the folder of each product that gets the
  // locale fix-up, and the backup of the installer's database.
  const std::string localeFolder = InstallFolder(driverDocument) + names::kFrenchMoroccoSettingsFolder + "/";
  for (const std::string& settingsFolder : localeFolders) {
    for (const char* name : names::kSettingsFiles) {
      if (!CopyDurably(localeFolder + name, settingsFolder + name)) {
        error = std::string("the floor cannot copy ") + name;
        return false;
      }
    }
    if (!FlushFolder(settingsFolder)) {
      error = "the floor cannot flush " + settingsFolder;
      return false;
    }
  }
  if (!CopyDurably(common + Slashed(InstallerDatabase()), common + Slashed(InstallerBackup()), true) ||
      !FlushFolder(common + names::kBackupFolder)) {
    error = "the floor cannot back up caps.db";
    return false;
  }

  // Each driver product's document: read, four values set, written to the
  // shared copy and to its own path.
  for (std::size_t i = 0; i < driverProducts.size(); ++i) {
    const std::string& documentPath = documentPaths[i];
    customhooks::pcf::Document document;
    if (!customhooks::pcf::ReadDocument(documentPath, &document).ok()) {
      error = "the floor cannot read " + documentPath;
      return false;
    }
    customhooks::pcf::EntryMap& entries = document.sections[driverProducts[i]];
    entries[names::kConfigPathKey] = documentPath;
    entries[names::kDefaultDriverPayloadKey] = defaultDriver;
    entries[names::kInstallDateKey] = installDate;
    entries[names::kInstalledLanguagesKey] = languages;
    const std::string text = customhooks::pcf::FormatDocument(document.payloadCode, document.sections);
    const std::string shared = common + "PCF/" + document.payloadCode + "." + entries[names::kLicensingCodeKey] + ".xml";
    const std::string own = Slashed(documentPath);
    if (!WriteDurably(shared, text) || !FlushFolder(FolderOf(shared)) || !WriteDurably(own, text) ||
        !FlushFolder(FolderOf(own))) {
      error = "the floor cannot write the document";
      return false;
    }
  }
  return true;
}
