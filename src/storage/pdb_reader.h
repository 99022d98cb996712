// The payload database reader: "pdb.db", where the suite installer records
// every payload it installed, in the installer's folder that the caller
// names. The module only reads it; a missing file is created with the
// installer's empty schema, so that every query simply finds nothing.
// Committing or closing a handle also refreshes the copy of the installer's
// "caps.db" (beside "pdb.db") in a backup folder the caller names.
//
// Every operation returns a Status with a code of storage_status.h
// (Code::kInvalidArgument for a null required argument, without touching the
// database; Code::kNoMemory when memory runs out) and never throws. Texts
// are NUL-terminated UTF-8.
//
// Ownership: a handle comes from pdbOpen and is freed by pdbClose. Every text
// and list a handle returns belongs to it and stays valid until pdbClose;
// callers never free them. Reads wait at most 2000 ms for a lock held by the
// installer and then give Code::kBusy.
#ifndef CUSTOMHOOKS_STORAGE_PDB_READER_H_
#define CUSTOMHOOKS_STORAGE_PDB_READER_H_

#include <cstdint>
#include <string>

#include "storage/storage_status.h"

namespace customhooks::storage {

struct pdbHandle;

// One row of the payloads table, filled by pdbGetPayload. The caller owns
// the record; the texts belong to the handle. A NULL text column reads as
// the empty text, a NULL or non-numeric number as 0.
struct pdbPayload {
  char* payloadID;
  char* productFamily;
  char* productName;
  char* version;
  char* signature;
  std::int32_t installState;
  std::int32_t installTime;
};

// Install state filter of pdbGetPayloadIDs: 0 to 3 select the payloads in
// that state, 4 selects every payload.
constexpr int kPayloadStateAll = 4;

// Opens "pdb.db" in `folder`, creating the folder and the file when missing;
// a commit backs "caps.db" up into `backupFolder` (none when it is empty). On
// success, `*out` holds the handle; otherwise `*out` is null:
// Code::kInvalidArgument for an empty `folder`, else the status of opening (Code::kSchemaTooNew for a database that requires a
// schema newer than version 1, Code::kBusy when it stays locked,
// Code::kAccessRefused when it can't be opened).
Status pdbOpen(const std::string& folder, const std::string& backupFolder, pdbHandle** out);

// The IDs of the payloads selected by `stateFilter`, by ascending install
// time (NULL times first), as a null-terminated list. Code::kNotFound with
// the shared empty list when none matches; Code::kInvalidArgument for a
// filter outside 0 to 4.
Status pdbGetPayloadIDs(pdbHandle* handle, int stateFilter, char*** out);

// Fills `rec` from the row of payload `id`. Code::kNotFound when there is no
// such row, Code::kDatabaseError when the payloads table does not have the
// seven expected columns; `rec` is untouched unless the result is success.
Status pdbGetPayload(pdbHandle* handle, const char* id, pdbPayload* rec);

// The value of payload `id`'s data (`domain`, `key`). On success, `*value`
// is the stored text (a NULL value reads as the empty text);
// Code::kNotFound with `*value` null when there is none.
Status pdbGetPayloadData(pdbHandle* handle, const char* id, int domain, const char* key,
                         char** value);

// Forces "pdb.db" to disk when this handle created it (the only write it
// ever makes), then refreshes the backup copy of "caps.db" (a backup that
// already holds the same bytes is left as it is).
// Problems of the backup are not reported; the target copy is replaced
// whole or not at all.
Status pdbCommit(pdbHandle* handle);

// pdbCommit, then closes the database and frees the handle with everything
// it returned. Returns the status of closing, or, when closing succeeded but
// the commit failed, the commit's status.
Status pdbClose(pdbHandle* handle);

}  // namespace customhooks::storage

#endif  // CUSTOMHOOKS_STORAGE_PDB_READER_H_
