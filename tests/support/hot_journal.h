// A rollback journal as a plain user may plant it beside a database in a
// folder that everyone can write, made to the layout SQLite reads.
#ifndef CUSTOMHOOKS_TESTS_SUPPORT_HOT_JOURNAL_H_
#define CUSTOMHOOKS_TESTS_SUPPORT_HOT_JOURNAL_H_

#include <cstdint>
#include <string>

// A journal that SQLite takes as hot for a database of `pageSize`-byte
// pages: it rolls no page back, sets the database's size to
// `databasePages` pages, and, when `superJournal` is not empty, names that
// file in its trailer as a commit across several databases names its
// super-journal (which SQLite reads and then deletes once the rollback is
// done).
std::string HotJournal(std::uint32_t pageSize, std::uint32_t databasePages, const std::string& superJournal);

// The trailer a journal of a database of `pageSize`-byte pages ends with
// when a commit across several databases names `superJournal` in it.
std::string SuperJournalTrailer(std::uint32_t pageSize, const std::string& superJournal);

// The page size a database file's header gives; 0 when the bytes are no
// database header.
std::uint32_t DatabasePageSize(const std::string& header);

#endif  // CUSTOMHOOKS_TESTS_SUPPORT_HOT_JOURNAL_H_
