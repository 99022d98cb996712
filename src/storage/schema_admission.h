// Which entries of a schema a connection to a file that others can write
// admits.
//
// A later release may add to a compatible database (a schema_version above
// this module's, a schema_compatibility_version it supports), and this
// release must still use it. So an entry is judged by what it would make run
// inside this module's own statements, not by whether its text is ours.
#ifndef CUSTOMHOOKS_STORAGE_SCHEMA_ADMISSION_H_
#define CUSTOMHOOKS_STORAGE_SCHEMA_ADMISSION_H_

#include <string>
#include <string_view>
#include <vector>

#include "storage/database_connection.h"

namespace customhooks::storage {

// The tables that `steps` creates: the name after each "CREATE TABLE".
std::vector<std::string> TablesCreatedBy(SchemaStepTable steps);

// Why a schema entry, as sqlite_schema holds it (`type`, `table` its
// tbl_name, `sql` its statement, empty for an automatic index), is not
// admitted; null when it is. On a table named in `own` (the names compare
// as SQLite compares them, without regard to ASCII case):
//  - the table must be an ordinary one, without a CHECK, a generated
//    column, a DEFAULT other than a literal, a collation other than BINARY,
//    NOCASE and RTRIM, or a foreign-key action;
//  - an index must list plain columns (with those collations) and cover
//    every row.
// Every other entry is admitted: the module's statements touch no other
// table, and no trigger or view runs on such a connection.
const char* RefusalOf(std::string_view type, std::string_view table, std::string_view sql,
                      const std::vector<std::string>& own);

}  // namespace customhooks::storage

#endif  // CUSTOMHOOKS_STORAGE_SCHEMA_ADMISSION_H_
