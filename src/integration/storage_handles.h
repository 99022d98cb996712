// Owning wrappers for the storage handles the integration work opens, so
// that every handle is closed on every path. Where the order of closes
// matters, callers close explicitly with reset().
#ifndef CUSTOMHOOKS_INTEGRATION_STORAGE_HANDLES_H_
#define CUSTOMHOOKS_INTEGRATION_STORAGE_HANDLES_H_

#include <memory>

#include "storage/pcd_store.h"
#include "storage/pdb_reader.h"

struct PcdCloser {
  void operator()(PCDHandle* handle) const { PCDClose(handle); }
};
using PcdConnection = std::unique_ptr<PCDHandle, PcdCloser>;

struct PdbCloser {
  void operator()(pdbHandle* handle) const { pdbClose(handle); }
};
using PdbConnection = std::unique_ptr<pdbHandle, PdbCloser>;

// A text read from a database or the host, or "" where there is none.
inline const char* TextOrEmpty(const char* text) { return text != nullptr ? text : ""; }

#endif  // CUSTOMHOOKS_INTEGRATION_STORAGE_HANDLES_H_
