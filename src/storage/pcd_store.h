// The configuration database store: the configuration database "pcd.db" and
// the cache database "cache.db", each in a folder the caller names (the
// cache's folder is one that every user can write). Both hold records in the table domain_data, addressed by a domain
// number, a subdomain and a key; the files are created with their schema when
// they are missing.
//
// Every operation returns a Status with a code of storage_status.h
// (Code::kInvalidArgument for a null required argument, without touching the
// database; Code::kNoMemory when memory runs out) and never throws. Texts are
// NUL-terminated UTF-8.
//
// Ownership: a handle comes from PCDOpen or PCDOpenCache and is freed by
// PCDClose. Every value a handle returns belongs to the handle and stays
// readable until PCDClose; callers never free it.
//
// Transactions: the first PCDSetDomain or PCDDeleteDomain opens a
// transaction (and takes the file's write lock) that lasts until PCDCommit,
// PCDRollback or PCDClose; PCDClose commits what is still pending. Other
// processes share the files; a lock held by one of them for more than
// 2000 ms gives Code::kBusy.
#ifndef CUSTOMHOOKS_STORAGE_PCD_STORE_H_
#define CUSTOMHOOKS_STORAGE_PCD_STORE_H_

#include <string>

#include "storage/storage_status.h"

namespace customhooks::storage {

struct PCDHandle;

// Opens the configuration database in `folder` (creating the folder chain
// and the file when missing), then makes sure the cache database in
// `cacheFolder` exists with its schema (opening and closing it once). On
// success, `*out` holds the handle. Code::kInvalidArgument for an empty
// folder; otherwise the status of opening the configuration database
// (Code::kSchemaTooNew for a database that requires a newer schema,
// Code::kBusy when it stays locked, ...). In all these cases `*out` is null.
// When only the cache database can't be prepared, its status is returned and
// `*out` still holds the open configuration handle, which the caller must
// close.
Status PCDOpen(const std::string& folder, const std::string& cacheFolder, PCDHandle** out);

// Opens the cache database in `cacheFolder`. On success, `*out` holds the
// handle; otherwise `*out` is null and the status is as for PCDOpen.
Status PCDOpenCache(const std::string& cacheFolder, PCDHandle** out);

// Reads the value of (`domain`, `subdomain`, `key`). On success, `*value` is
// the stored text (a record whose value is NULL reads as the empty text);
// Code::kNotFound with `*value` null when no record matches. Pending changes
// of this handle are visible.
Status PCDGetDomain(PCDHandle* handle, int domain, const char* subdomain, const char* key,
                    char** value);

// Stores `value` for (`domain`, `subdomain`, `key`), replacing an existing
// record; a null `value` deletes the record (as PCDDeleteDomain).
// Code::kConstraint for a constraint violation, Code::kBusy when another
// process keeps the write lock; the transaction then stays open with its
// earlier changes pending.
Status PCDSetDomain(PCDHandle* handle, int domain, const char* subdomain, const char* key,
                    const char* value);

// Deletes the record of (`domain`, `subdomain`, `key`); success also when
// there is none.
Status PCDDeleteDomain(PCDHandle* handle, int domain, const char* subdomain, const char* key);

// Commits the pending changes and forces the file to disk (when the handle
// has changed it since its last commit or open). A failed commit
// (Code::kBusy when another process keeps the file locked) leaves the
// changes pending.
Status PCDCommit(PCDHandle* handle);

// Undoes every change since the last commit.
Status PCDRollback(PCDHandle* handle);

// Commits what is pending, closes the database and frees the handle with
// every value it returned. Returns the status of closing, or, when closing
// succeeded but the commit failed, the commit's status: the pending changes
// are then lost.
Status PCDClose(PCDHandle* handle);

}  // namespace customhooks::storage

#endif  // CUSTOMHOOKS_STORAGE_PCD_STORE_H_
