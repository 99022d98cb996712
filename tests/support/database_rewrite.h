// Writes to a database file the way a writer that is not SQLite does:
// in place, over what is there, ignoring SQLite's locks.
#ifndef CUSTOMHOOKS_TESTS_SUPPORT_DATABASE_REWRITE_H_
#define CUSTOMHOOKS_TESTS_SUPPORT_DATABASE_REWRITE_H_

#include <string>

// Writes `bytes` over the start of the file without truncating it. True on
// success.
bool WriteInPlace(const std::string& file, const std::string& bytes);

// Rewrites `file` in place with what `sql` makes of a copy of it (at
// `spare`), keeping the header's change counter, the counter SQLite checks
// it against and the schema's cookie: a connection holding the file sees no
// commit. False, and `file` untouched, when the copy's size differs or a
// step fails.
bool RewriteKeepingTheCounters(const std::string& file, const std::string& spare, const char* sql);

#endif  // CUSTOMHOOKS_TESTS_SUPPORT_DATABASE_REWRITE_H_
