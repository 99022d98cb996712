// The configuration database store: "pcd.db" in the folder "Orvik PCD" of
// the common data folder, and the cache database "cache.db" in its subfolder
// "cache". Both hold records in the table domain_data, addressed by a domain
// number, a subdomain and a key; the files are created with their schema when
// they are missing.
//
// Every operation returns a status of storage_status.h (0 success, 10 for a
// null required argument, without touching the database) and never throws.
// Texts are NUL-terminated UTF-8.
//
// Ownership: a handle comes from PCDOpen or PCDOpenCache and is freed by
// PCDClose. Every value a handle returns belongs to the handle and stays
// readable until PCDClose; callers never free it.
//
// Transactions: the first PCDSetDomain or PCDDeleteDomain opens a
// transaction (and takes the file's write lock) that lasts until PCDCommit,
// PCDRollback or PCDClose; PCDClose commits what is still pending. Other
// processes share the files; a lock held by one of them for more than
// 2000 ms gives 14.
#ifndef CUSTOMHOOKS_STORAGE_PCD_STORE_H_
#define CUSTOMHOOKS_STORAGE_PCD_STORE_H_

struct PCDHandle;

// Opens the configuration database, then makes sure the cache database
// exists with its schema (opening and closing it once). On 0, `*out` holds
// the handle. 1: the folder path can't be determined or built, or the handle
// can't be allocated; otherwise the status of opening the configuration
// database (13 for a database that requires a newer schema, 14 when it stays
// locked, ...). In all these cases `*out` is null. When only the cache
// database can't be prepared, its status is returned and `*out` still holds
// the open configuration handle, which the caller must close.
int PCDOpen(PCDHandle** out);

// Opens the cache database. On 0, `*out` holds the handle; otherwise `*out`
// is null and the status is as for PCDOpen.
int PCDOpenCache(PCDHandle** out);

// Reads the value of (`domain`, `subdomain`, `key`). On 0, `*value` is the
// stored text (a record whose value is NULL reads as the empty text); 8 with
// `*value` null when no record matches. Pending changes of this handle are
// visible.
int PCDGetDomain(PCDHandle* handle, int domain, const char* subdomain, const char* key,
                 char** value);

// Stores `value` for (`domain`, `subdomain`, `key`), replacing an existing
// record; a null `value` deletes the record (as PCDDeleteDomain). 6 for a
// constraint violation, 14 when another process keeps the write lock; the
// transaction then stays open with its earlier changes pending.
int PCDSetDomain(PCDHandle* handle, int domain, const char* subdomain, const char* key,
                 const char* value);

// Deletes the record of (`domain`, `subdomain`, `key`); 0 also when there is
// none.
int PCDDeleteDomain(PCDHandle* handle, int domain, const char* subdomain, const char* key);

// Commits the pending changes and forces the file to disk (when the handle
// has changed it since its last commit or open). A failed commit
// (14 when another process keeps the file locked) leaves the changes pending.
int PCDCommit(PCDHandle* handle);

// Undoes every change since the last commit.
int PCDRollback(PCDHandle* handle);

// Commits what is pending, closes the database and frees the handle with
// every value it returned. Returns the status of closing, or, when closing
// succeeded but the commit failed, the commit's status: the pending changes
// are then lost.
int PCDClose(PCDHandle* handle);

#endif  // CUSTOMHOOKS_STORAGE_PCD_STORE_H_
