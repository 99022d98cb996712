// What a connection to a file that others can write admits of its schema:
// a later release's additions, but nothing that would run inside the
// module's own statements.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "storage/schema_admission.h"
#include "storage/schema_steps.h"

namespace customhooks::storage {
namespace {

const std::string kColumns = "domain TEXT NOT NULL, subDomain TEXT NOT NULL, key TEXT NOT NULL, value TEXT";

TEST(SchemaAdmission, TheCachesOwnTablesAreTheOnesItsStepsCreate) {
  EXPECT_EQ(TablesCreatedBy(kCacheSchemaSteps), (std::vector<std::string>{"pcd_meta", "domain_data"}));
  EXPECT_TRUE(TablesCreatedBy(nullptr).empty());
}

TEST(SchemaAdmission, JudgesWhatWouldRunInTheModulesStatements) {
  const std::vector<std::string> own = TablesCreatedBy(kCacheSchemaSteps);
  const struct {
    const char* type;
    const char* table;
    std::string sql;
    const char* refusal;  // null: admitted
  } kCases[] = {
      // The module's own schema, and what a later release may add.
      {"table", "domain_data", "CREATE TABLE domain_data ( " + kColumns + ", PRIMARY KEY (domain, subDomain, key) )",
       nullptr},
      {"index", "domain_data", "", nullptr},
      {"table", "domain_data",
       "CREATE TABLE domain_data (" + kColumns +
           ", added INT DEFAULT 0, note TEXT DEFAULT 'n', neg REAL DEFAULT (-1.5e+3), "
           "d DEFAULT CURRENT_TIMESTAMP, b BLOB DEFAULT x'00', s TEXT COLLATE NOCASE, "
           "t TEXT COLLATE \"rtrim\", r TEXT NOT NULL ON CONFLICT REPLACE DEFAULT '', "
           "q REFERENCES other (x) ON DELETE NO ACTION, \"check\" TEXT, [as] TEXT, `default` TEXT, "
           "c TEXT /* CHECK (x) */, e TEXT -- AS (x)\n, PRIMARY KEY (domain, subDomain, key))",
       nullptr},
      {"index", "domain_data", "CREATE INDEX by_key ON domain_data (key)", nullptr},
      {"index", "DOMAIN_DATA", "CREATE UNIQUE INDEX IF NOT EXISTS k2 ON DOMAIN_DATA (\"key\" COLLATE binary DESC, value)",
       nullptr},
      {"table", "later", "CREATE TABLE later (x CHECK (length(x) > 1) DEFAULT (random()) COLLATE mine)", nullptr},
      {"index", "later", "CREATE INDEX costly ON later (lower(x)) WHERE x > 0", nullptr},
      {"trigger", "domain_data", "CREATE TRIGGER t AFTER INSERT ON domain_data BEGIN SELECT 1; END", nullptr},
      {"view", "v", "CREATE VIEW v AS SELECT * FROM domain_data", nullptr},
      // What would run inside the module's statements on its own tables.
      {"table", "domain_data", "CREATE TABLE domain_data (" + kColumns + ", CHECK (value <> ''))",
       "a CHECK constraint"},
      {"table", "pcd_meta", "CREATE TABLE pcd_meta (key TEXT NOT NULL, value TEXT check(1))", "a CHECK constraint"},
      {"table", "domain_data", "CREATE TABLE domain_data (" + kColumns + ", g INT AS (length(value)))",
       "a generated column"},
      {"table", "domain_data",
       "CREATE TABLE domain_data (" + kColumns + ", g INT GENERATED ALWAYS AS (1) STORED)", "a generated column"},
      {"table", "domain_data", "CREATE TABLE domain_data (" + kColumns + ", d INT DEFAULT (abs(-1)))",
       "a DEFAULT that is not a literal"},
      {"table", "domain_data", "CREATE TABLE domain_data (" + kColumns + ", d INT DEFAULT (1 + 1))",
       "a DEFAULT that is not a literal"},
      {"table", "domain_data", "CREATE TABLE domain_data (" + kColumns + " COLLATE mine)", "an unknown collation"},
      {"table", "domain_data", "CREATE TABLE domain_data (" + kColumns + ", PRIMARY KEY (key COLLATE \"mine\"))",
       "an unknown collation"},
      {"table", "domain_data", "CREATE TABLE domain_data (" + kColumns + ", r REFERENCES x (y) ON DELETE CASCADE)",
       "a foreign-key action"},
      {"table", "domain_data",
       "CREATE TABLE domain_data (" + kColumns + ", FOREIGN KEY (key) REFERENCES x (y) ON UPDATE SET NULL)",
       "a foreign-key action"},
      {"table", "domain_data", "CREATE VIRTUAL TABLE domain_data USING fts5 (value)", "not an ordinary table"},
      {"index", "domain_data", "CREATE INDEX e ON domain_data (upper(key))", "an index on an expression"},
      {"index", "domain_data", "CREATE INDEX e ON domain_data (key || value)", "an index on an expression"},
      {"index", "domain_data", "CREATE INDEX p ON domain_data (key) WHERE value IS NOT NULL", "a partial index"},
      {"index", "domain_data", "CREATE INDEX c ON domain_data (key COLLATE mine)", "an unknown collation"},
  };
  for (const auto& c : kCases) {
    const char* refusal = RefusalOf(c.type, c.table, c.sql, own);
    EXPECT_STREQ(refusal, c.refusal) << c.sql;
  }
}

}  // namespace
}  // namespace customhooks::storage
