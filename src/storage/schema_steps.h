// Schema step tables of the three databases the module opens.
#ifndef CUSTOMHOOKS_STORAGE_SCHEMA_STEPS_H_
#define CUSTOMHOOKS_STORAGE_SCHEMA_STEPS_H_

#include "storage/database_connection.h"

namespace customhooks::storage {

// "pcd.db": step 1 (21 statements) creates version 1; step 2 is empty.
extern const SchemaStep kConfigurationSchemaSteps[];
// "cache.db": step 1 (4 statements) creates version 1; step 2 is empty.
extern const SchemaStep kCacheSchemaSteps[];
// "pdb.db": step 1 (22 statements) creates version 1.
extern const SchemaStep kPayloadSchemaSteps[];
// The payloads table of "pdb.db" as step 1 creates it: the text SQLite keeps
// for it in sqlite_master.
extern const char kPayloadsTableSql[];

}  // namespace customhooks::storage

#endif  // CUSTOMHOOKS_STORAGE_SCHEMA_STEPS_H_
