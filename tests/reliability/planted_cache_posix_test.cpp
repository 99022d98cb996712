// What a plain user plants in the cache folder, which everyone can write,
// while whole sessions run as root through the shipped library: a hot
// journal that names a file elsewhere, pipes at the database's names, a
// hostile schema, a journal that claims a huge database, files of their
// own; and what the umask and stored values would otherwise change. The
// planting is done by the user "nobody" in a child process.
#include <fcntl.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "fs/files.h"
#include "reliability/session_runner.h"
#include "samplesuite/sample_machine.h"
#include "support/disk.h"
#include "support/hot_journal.h"
#include "support/plain_user_posix.h"
#include "support/test_machine.h"
#include "fs/product_names.h"
#include "support/data_files.h"

namespace names = customhooks::names;

using customhooks::fs::NativePath;

namespace {

std::string Native(const std::string& path) { return NativePath(path); }

struct stat StatOf(const std::string& native) {
  struct stat info = {};
  EXPECT_EQ(::lstat(native.c_str(), &info), 0) << native;
  return info;
}

bool WriteBytes(const std::string& native, const std::string& bytes) {
  const int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0666);
  if (fd < 0) return false;
  const bool written = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  return ::close(fd) == 0 && written;
}

bool Execute(const std::string& native, const std::string& sql) {
  sqlite3* db = nullptr;
  bool done = sqlite3_open_v2(native.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
              sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  return sqlite3_close(db) == SQLITE_OK && done;
}

// The first column of each row `sql` gives ("NULL" for a NULL).
std::vector<std::string> ValuesOf(const std::string& native, const char* sql) {
  std::vector<std::string> values;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(native.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_exec(
        db, sql,
        [](void* out, int, char** row, char**) {
          static_cast<std::vector<std::string>*>(out)->push_back(row[0] != nullptr ? row[0] : "NULL");
          return 0;
        },
        &values, nullptr);
  }
  sqlite3_close(db);
  return values;
}

const std::string kCacheColumns =
    "domain TEXT NOT NULL, subDomain TEXT NOT NULL, key TEXT NOT NULL, value TEXT";
const std::string kCacheKey = "PRIMARY KEY (domain, subDomain, key)";
// Half a gigabyte of zeros, twice as much hex, in upper case: seconds of
// work and gigabytes of memory for every row it is evaluated on.
const std::string kCostly = "length(upper(hex(zeroblob(499999999))))";

class PlantedCache : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!CanActAsPlainUser()) GTEST_SKIP() << "needs root and the user nobody";
    ASSERT_TRUE(LayOutSampleSuite(machine_.scratch() + "\\Program Files", suite_));
    properties_ = SessionProperties(suite_.driverCode);
    first_ = CloseInstallSession(properties_);
    ASSERT_EQ(first_.status, 0);
    ASSERT_TRUE(ExistsOnDisk(cache_));
    ASSERT_EQ(::mkdir(private_.c_str(), 0700), 0);
    ASSERT_TRUE(WriteBytes(victim_, "root only"));
    ASSERT_EQ(::chmod(victim_.c_str(), 0600), 0);
  }

  // A session that must end within `seconds`; false when it did not (it
  // is then killed). How far the session raised its process's peak memory
  // (past what the process held when it was forked from this one) and its
  // time are kept in peakKb_ and seconds_.
  bool BoundedSession(SessionOutcome& outcome, unsigned seconds = 60) {
    const std::string report = Native(machine_.scratch() + "\\session.report");
    const auto started = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
      ::alarm(seconds);
      rusage before = {};
      ::getrusage(RUSAGE_SELF, &before);
      const SessionOutcome done = CloseInstallSession(properties_);
      rusage after = {};
      ::getrusage(RUSAGE_SELF, &after);
      std::string bytes = std::to_string(done.status) + "\n" + std::to_string(after.ru_maxrss - before.ru_maxrss) + "\n";
      for (const std::string& line : done.lines) bytes += std::to_string(line.size()) + "\n" + line;
      ::_exit(WriteBytes(report, bytes) ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    seconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
    const std::string bytes = ReadWholeFile(report);
    std::size_t at = bytes.find('\n');
    outcome.status = std::stoi(bytes.substr(0, at));
    const std::size_t growth = bytes.find('\n', at + 1);
    peakKb_ = std::stol(bytes.substr(at + 1, growth - at - 1));
    at = growth;
    outcome.lines.clear();
    for (++at; at < bytes.size();) {
      const std::size_t end = bytes.find('\n', at);
      const std::size_t size = std::stoul(bytes.substr(at, end - at));
      outcome.lines.push_back(bytes.substr(end + 1, size));
      at = end + 1 + size;
    }
    return true;
  }

  // The lines of a session whose cache is damaged (random bytes); the
  // cache is put back afterwards.
  std::vector<std::string> DamagedCacheLines() {
    const std::string kept = ReadWholeFile(cache_);
    EXPECT_TRUE(AsPlainUser([this] { return WriteBytes(cache_, std::string(8192, '\x5a')); }));
    const SessionOutcome damaged = CloseInstallSession(properties_);
    EXPECT_TRUE(WriteBytes(cache_, kept));
    EXPECT_NE(damaged.lines, first_.lines);
    return damaged.lines;
  }

  std::string Joined(const std::vector<std::string>& lines) const {
    std::string all;
    for (const std::string& line : lines) all += line + "\n";
    return all;
  }

  TestMachine machine_;
  SampleSuite suite_;
  Properties properties_;
  SessionOutcome first_;
  double seconds_ = 0;
  long peakKb_ = 0;
  const std::string cacheFolder_ = Native(machine_.commonData() + "\\" + names::kCacheFolder);
  const std::string cache_ = cacheFolder_ + "/" + names::kCacheFile;
  const std::string journal_ = cache_ + "-journal";
  const std::string private_ = Native(machine_.scratch() + "\\private");
  const std::string victim_ = private_ + "/victim";
};

// SQLite deletes the super-journal that a hot journal names once it has
// rolled the journal back. A name the user planted is never looked at,
// opened or deleted: the journal is taken as one of a finished
// transaction, and the session goes on as usual.
TEST_F(PlantedCache, HotJournalNamingAFileElsewhereTouchesNothingThere) {
  const std::string fifo = private_ + "/pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::uint32_t pageSize = DatabasePageSize(ReadWholeFile(cache_));
  ASSERT_NE(pageSize, 0u);
  const std::uint32_t pages = static_cast<std::uint32_t>(StatOf(cache_).st_size / pageSize);
  for (const std::string& named : {victim_, fifo, std::string("/etc/hostname-of-nobody")}) {
    SCOPED_TRACE("super-journal " + named);
    const std::string cacheBytes = ReadWholeFile(cache_);
    ASSERT_TRUE(AsPlainUser([&] { return WriteBytes(journal_, HotJournal(pageSize, pages, named)); }));
    SessionOutcome outcome;
    ASSERT_TRUE(BoundedSession(outcome)) << "the session did not end";
    EXPECT_EQ(outcome.lines, first_.lines) << Joined(outcome.lines);
    EXPECT_FALSE(ExistsOnDisk(journal_));
    EXPECT_EQ(ReadWholeFile(victim_), "root only");
    EXPECT_EQ(StatOf(victim_).st_mode & 07777, 0600u);
    EXPECT_TRUE(S_ISFIFO(StatOf(fifo).st_mode));
    EXPECT_EQ(ReadWholeFile(cache_).size(), cacheBytes.size());
  }
}

// A pipe at the database's or the journal's name is refused at once: no
// open waits for its other end.
TEST_F(PlantedCache, PipesAtTheCachesNamesNeverStallASession) {
  const std::vector<std::string> damaged = DamagedCacheLines();
  for (const std::string& name : {cache_, journal_}) {
    SCOPED_TRACE("pipe at " + name);
    const std::string kept = ReadWholeFile(cache_);
    ASSERT_TRUE(AsPlainUser([&name] { return ::unlink(name.c_str()) == 0 || errno == ENOENT; }));
    ASSERT_TRUE(AsPlainUser([&name] { return ::mkfifo(name.c_str(), 0666) == 0; }));
    SessionOutcome outcome;
    ASSERT_TRUE(BoundedSession(outcome, 30)) << "the session waited on the pipe";
    EXPECT_EQ(outcome.lines, damaged) << Joined(outcome.lines);
    // The pipe is the administrator's to remove.
    EXPECT_TRUE(S_ISFIFO(StatOf(name).st_mode));
    ASSERT_EQ(::unlink(name.c_str()), 0);
    if (name == cache_) {
      ASSERT_TRUE(WriteBytes(cache_, kept));
    }
  }
  const SessionOutcome after = CloseInstallSession(properties_);
  EXPECT_EQ(after.lines, first_.lines);
}

// A schema that would evaluate anything of the user's in the module's
// statements, or whose entries SQLite would parse at a cost of gigabytes and
// seconds (each within every limit, but many), is refused as a damaged file
// is, before any statement runs on it, within 64 MB and 2 s of an ordinary
// session; the file is left as it is.
TEST_F(PlantedCache, HostileSchemaIsRefusedLikeADamagedFile) {
  SessionOutcome ordinary;
  ASSERT_TRUE(BoundedSession(ordinary));
  ASSERT_EQ(ordinary.lines, first_.lines);
  const long ordinaryKb = peakKb_;
  const double ordinarySeconds = seconds_;
  // Triggers of about 9.8 kB, each of them hundreds of statements.
  std::string triggers = "BEGIN;";
  for (int trigger = 0; trigger < 400; ++trigger) {
    triggers += "CREATE TRIGGER t" + std::to_string(trigger) + " BEFORE INSERT ON domain_data BEGIN ";
    for (int statement = 0; statement < 245; ++statement) triggers += "SELECT 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11;";
    triggers += " END;";
  }
  triggers += "COMMIT;";
  std::string wide = "BEGIN;";
  for (int table = 0; table < 2000; ++table) {
    wide += "CREATE TABLE wide" + std::to_string(table) + " (";
    for (int column = 0; column < 100; ++column) wide += (column ? ", c" : "c") + std::to_string(column);
    wide += ");";
  }
  wide += "COMMIT;";
  std::string views = "BEGIN;";
  for (int view = 0; view < 5000; ++view) views += "CREATE VIEW v" + std::to_string(view) + " AS SELECT 1;";
  views += "COMMIT;";
  const struct {
    const char* what;
    std::string sql;
  } kSchemas[] = {
      {"a CHECK", "DROP TABLE domain_data; CREATE TABLE domain_data ( " + kCacheColumns + ", CHECK (" + kCostly +
                      " > 0), " + kCacheKey + " );"},
      {"a generated column", "DROP TABLE domain_data; CREATE TABLE domain_data ( " + kCacheColumns +
                                 ", costly INT AS (" + kCostly + "), " + kCacheKey + " );"},
      {"a DEFAULT with a function", "DROP TABLE domain_data; CREATE TABLE domain_data ( " + kCacheColumns +
                                        ", costly INT DEFAULT (" + kCostly + "), " + kCacheKey + " );"},
      {"an expression index", "DELETE FROM domain_data; CREATE INDEX costly ON domain_data (" + kCostly + ");"},
      {"a partial index", "DELETE FROM domain_data; CREATE INDEX costly ON domain_data (key) WHERE " + kCostly +
                              " > 0;"},
      // SQLite creates no table with an unknown collation; a user writes it
      // into the schema.
      {"an unknown collation",
       "PRAGMA writable_schema = ON; UPDATE sqlite_schema SET sql = replace(sql, 'value TEXT', "
       "'value TEXT COLLATE planted') WHERE name = 'domain_data';"},
      {"a foreign-key action", "DROP TABLE domain_data; CREATE TABLE domain_data ( " + kCacheColumns +
                                   " REFERENCES pcd_meta (key) ON DELETE CASCADE, " + kCacheKey + " );"},
      {"400 triggers of 9.8 kB", triggers},
      {"2,000 wide tables", wide},
      {"5,000 views", views},
  };
  const std::vector<std::string> damaged = DamagedCacheLines();
  const std::string kept = ReadWholeFile(cache_);
  for (const auto& schema : kSchemas) {
    SCOPED_TRACE(schema.what);
    ASSERT_TRUE(AsPlainUser([&] { return Execute(cache_, schema.sql); }));
    const std::string planted = ReadWholeFile(cache_);
    SessionOutcome outcome;
    ASSERT_TRUE(BoundedSession(outcome)) << "the session did not end";
    EXPECT_EQ(outcome.lines, damaged) << Joined(outcome.lines);
    EXPECT_LT(peakKb_ - ordinaryKb, 64 * 1024) << "kB more at the peak, against " << ordinaryKb;
    EXPECT_LT(seconds_ - ordinarySeconds, 2.0);
    std::printf("[ figures  ] %s: the peak raised by %ld kB, %.2f s; an ordinary session: %ld kB, %.2f s\n", schema.what, peakKb_,
                seconds_, ordinaryKb, ordinarySeconds);
    EXPECT_EQ(ReadWholeFile(cache_), planted);
    ASSERT_TRUE(WriteBytes(cache_, kept));
  }
}

// A later release may add to the cache and leave its versions compatible:
// the records are stored, its additions are left as they are, and none of
// its triggers or views runs.
TEST_F(PlantedCache, LaterCompatibleCacheIsUsedAndItsAdditionsLeftAlone) {
  const char* kLater =
      "UPDATE pcd_meta SET value = '3' WHERE key = 'schema_version';"
      "CREATE TABLE later (id INTEGER PRIMARY KEY, x TEXT CHECK (length(x) < 100) DEFAULT (upper('a')) "
      "REFERENCES pcd_meta (key) ON DELETE CASCADE);"
      "CREATE INDEX later_x ON later (lower(x)) WHERE x IS NOT NULL;"
      "CREATE INDEX by_key ON domain_data (key);"
      "ALTER TABLE domain_data ADD COLUMN added INT DEFAULT 7;"
      "CREATE TRIGGER later_log AFTER INSERT ON domain_data BEGIN INSERT INTO later (x) VALUES (NEW.key); END;"
      "CREATE VIEW later_view AS SELECT key FROM domain_data;"
      "INSERT INTO later (x) VALUES ('kept');"
      "DELETE FROM domain_data;";
  ASSERT_TRUE(AsPlainUser([&] { return Execute(cache_, kLater); }));
  const auto schemaOf = [this] {
    return ValuesOf(cache_, "SELECT type || ' ' || name || ' ' || ifnull(sql, '') FROM sqlite_schema ORDER BY name");
  };
  const std::vector<std::string> schema = schemaOf();
  SessionOutcome outcome;
  ASSERT_TRUE(BoundedSession(outcome));
  EXPECT_EQ(outcome.lines, first_.lines) << Joined(outcome.lines);
  EXPECT_EQ(ValuesOf(cache_, "SELECT key || '=' || value || ' ' || added FROM domain_data ORDER BY key"),
            (std::vector<std::string>{"EULA_ACCEPTED=1 7", "EULA_LANGUAGE=fr_MA 7"}));
  EXPECT_EQ(ValuesOf(cache_, "SELECT x FROM later"), std::vector<std::string>{"kept"});
  EXPECT_EQ(ValuesOf(cache_, "SELECT value FROM pcd_meta WHERE key = 'schema_version'"),
            std::vector<std::string>{"3"});
  EXPECT_EQ(schemaOf(), schema);
}

// States a plain user can make: each is refused as a damaged cache is, and
// left for the administrator; a cache past its bound gets no write, so no
// journal is left behind that the module could never roll back.
TEST_F(PlantedCache, StatesAPlainUserCanMakeGiveTheLinesOfADamagedCache) {
  const std::vector<std::string> damaged = DamagedCacheLines();
  const std::string kept = ReadWholeFile(cache_);
  const struct {
    const char* what;
    std::function<bool()> plant;
    std::size_t entries;  // of the cache folder, with the planted state
  } kStates[] = {
      {"a folder at the journal's name", [this] { return ::mkdir(journal_.c_str(), 0777) == 0; }, 2},
      {"a write-ahead log", [this] { return Execute(cache_, "PRAGMA journal_mode = WAL"); }, 1},
      {"a cache past 64 MiB",
       [this] { return Execute(cache_, "INSERT INTO domain_data VALUES (9, 'filler', 'filler', zeroblob(65 << 20))"); },
       1},
  };
  for (const auto& state : kStates) {
    SCOPED_TRACE(state.what);
    ASSERT_TRUE(AsPlainUser(state.plant));
    const std::string planted = ReadWholeFile(cache_);
    for (int session = 0; session < 2; ++session) {
      SessionOutcome outcome;
      ASSERT_TRUE(BoundedSession(outcome));
      EXPECT_EQ(outcome.lines, damaged) << Joined(outcome.lines);
    }
    EXPECT_EQ(ReadWholeFile(cache_), planted);
    EXPECT_EQ(FolderNames(cacheFolder_).size(), state.entries) << Joined(FolderNames(cacheFolder_));
    ASSERT_EQ(::system(("rm -rf '" + journal_ + "' '" + cache_ + "-wal' '" + cache_ + "-shm'").c_str()), 0);
    ASSERT_TRUE(WriteBytes(cache_, kept));
  }
}

// A hot journal may claim any size for the database it rolls back; the
// database never grows past its bound for it (SQLite would make a 16 TB
// sparse file of it).
TEST_F(PlantedCache, JournalClaimingAHugeDatabaseGrowsNothing) {
  const off_t size = StatOf(cache_).st_size;
  const std::uint32_t pageSize = DatabasePageSize(ReadWholeFile(cache_));
  ASSERT_TRUE(AsPlainUser([&] { return WriteBytes(journal_, HotJournal(pageSize, 0xFFFFFFFFu, "")); }));
  SessionOutcome outcome;
  ASSERT_TRUE(BoundedSession(outcome));
  EXPECT_EQ(StatOf(cache_).st_size, size);
  EXPECT_LT(StatOf(cache_).st_blocks * 512, off_t{64} << 20);
  EXPECT_FALSE(HasLine(outcome.lines, Prefixed("Pelican X Pro :EULA_ACCEPTED success"))) << Joined(outcome.lines);
}

// A file another user owns is theirs: the grant of the cache folder's
// access neither opens nor changes it.
TEST_F(PlantedCache, FilesOfAnotherUserKeepTheirMode) {
  const std::string theirs = cacheFolder_ + "/theirs";
  ASSERT_TRUE(AsPlainUser([&theirs] { return WriteBytes(theirs, "private") && ::chmod(theirs.c_str(), 0600) == 0; }));
  const SessionOutcome outcome = CloseInstallSession(properties_);
  EXPECT_EQ(outcome.lines, first_.lines);
  EXPECT_EQ(StatOf(theirs).st_mode & 07777, 0600u);
  EXPECT_EQ(StatOf(theirs).st_uid, PlainUser()->pw_uid);
}

// Every open of the cache in a session asked for the folder's access; the
// walk opens each of the folder's own entries once a session, and none of
// another user's, however many they planted.
TEST_F(PlantedCache, AccessWalkOpensEachOwnEntryOncePerSession) {
  const std::string own = cacheFolder_ + "/own";
  ASSERT_TRUE(WriteBytes(own, "root's"));
  ASSERT_TRUE(AsPlainUser([this] {
    for (int i = 0; i < 2000; ++i) {
      if (!WriteBytes(cacheFolder_ + "/planted" + std::to_string(i), "")) return false;
    }
    return true;
  }));
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(::inotify_add_watch(watch, cacheFolder_.c_str(), IN_OPEN), 0);
  const SessionOutcome outcome = CloseInstallSession(properties_);
  EXPECT_EQ(outcome.lines, first_.lines);
  int ownOpens = 0;
  int plantedOpens = 0;
  alignas(inotify_event) char buffer[1 << 16];
  for (ssize_t got; (got = ::read(watch, buffer, sizeof buffer)) > 0;) {
    for (char* at = buffer; at < buffer + got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(at);
      const std::string name = event->len > 0 ? event->name : "";
      ownOpens += name == "own";
      plantedOpens += name.compare(0, 7, "planted") == 0;
      at += sizeof(inotify_event) + event->len;
    }
  }
  ::close(watch);
  EXPECT_EQ(ownOpens, 1);
  EXPECT_EQ(plantedOpens, 0);
}

// What the module creates has the modes it sets, whatever the umask of the
// process that runs it; a document rewritten in place of another keeps
// that one's owner and mode.
TEST_F(PlantedCache, ModesDoNotFollowTheUmask) {
  const std::string common = Native(machine_.commonData());
  for (const char* made : {"/PCF", "/backup"}) {
    ASSERT_EQ(::system(("rm -rf '" + common + made + "'").c_str()), 0);
  }
  const std::string document = Native(suite_.secondProductDocument);
  ASSERT_EQ(::chown(document.c_str(), PlainUser()->pw_uid, PlainUser()->pw_gid), 0);
  ASSERT_EQ(::chmod(document.c_str(), 0644), 0);
  for (const mode_t mask : {mode_t{0}, mode_t{077}}) {
    SCOPED_TRACE("umask " + std::to_string(mask));
    const mode_t previous = ::umask(mask);
    const SessionOutcome outcome = CloseInstallSession(properties_);
    ::umask(previous);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(StatOf(common + "/PCF").st_mode & 07777, 0755u);
    EXPECT_EQ(StatOf(common + "/backup").st_mode & 07777, 0755u);
    EXPECT_EQ(StatOf(common + "/" + Slashed(InstallerBackup())).st_mode & 0022, 0u);
    EXPECT_EQ(StatOf(document).st_mode & 07777, 0644u);
    EXPECT_EQ(StatOf(document).st_uid, PlainUser()->pw_uid);
    const std::vector<std::string> documents = FolderNames(common + "/PCF");
    for (const std::string& name : documents) {
      EXPECT_EQ(StatOf(common + "/PCF/" + name).st_mode & 07777, 0644u) << name;
    }
    EXPECT_FALSE(documents.empty());
  }
}

// Values read from the databases reach the host's log as plain text: line
// breaks and escapes are spelt out, and a long value is cut with a mark.
TEST_F(PlantedCache, StoredValuesReachTheLogAsPlainText) {
  const std::string forged = "C:\\x\r\nKX6 Suites Custom hook: forged\x1b[2J";
  ASSERT_TRUE(SetPayloadData(suite_.firstProductCode, names::kPayloadDataDomain, names::kMediaSignatureProperty, forged));
  ASSERT_TRUE(SetConfigRecord(suite_.secondProductCode, names::kConfigPathKey, std::string(100000, 'p')));
  const SessionOutcome outcome = CloseInstallSession(properties_);
  EXPECT_TRUE(HasLine(outcome.lines,
                      Prefixed("Orvik Tessel Studio 4.6 :Orvik Tessel Studio 4.6 : pdbGetPayloadData Successful. "
                               "Orvik Code retrieved: "
                               "C:\\x\\x0D\\x0AKX6 Suites Custom hook: forged\\x1B[2J")))
      << Joined(outcome.lines);
  EXPECT_TRUE(HasLine(outcome.lines, Prefixed("Retreived the path to Application xml: " + std::string(1024, 'p') +
                                              "[... 100000 bytes in all]")))
      << Joined(outcome.lines);
  for (const std::string& line : outcome.lines) {
    EXPECT_EQ(line.find_first_of("\r\n\x1b"), std::string::npos) << line;
    EXPECT_LT(line.size(), 1200u) << line.substr(0, 200);
  }
}

}  // namespace
