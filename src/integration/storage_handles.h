// Owning wrappers for the storage handles the integration work opens, so
// that every handle is closed on every path. Where the order of closes
// matters, callers close explicitly with reset(). How closing went is not
// examined: no step of the pass logs it or acts on it, each record's own
// outcome having been logged when it was written.
#ifndef CUSTOMHOOKS_INTEGRATION_STORAGE_HANDLES_H_
#define CUSTOMHOOKS_INTEGRATION_STORAGE_HANDLES_H_

#include <memory>

#include "storage/pcd_store.h"
#include "storage/pdb_reader.h"

struct PcdCloser {
  void operator()(customhooks::storage::PCDHandle* handle) const {
    static_cast<void>(customhooks::storage::PCDClose(handle));
  }
};
using PcdConnection = std::unique_ptr<customhooks::storage::PCDHandle, PcdCloser>;

struct PdbCloser {
  void operator()(customhooks::storage::pdbHandle* handle) const {
    static_cast<void>(customhooks::storage::pdbClose(handle));
  }
};
using PdbConnection = std::unique_ptr<customhooks::storage::pdbHandle, PdbCloser>;

// A text read from a database or the host, or "" where there is none.
inline const char* TextOrEmpty(const char* text) { return text != nullptr ? text : ""; }

#endif  // CUSTOMHOOKS_INTEGRATION_STORAGE_HANDLES_H_
