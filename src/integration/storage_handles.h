// The product's databases as the integration work opens them: in the
// product's folders (product_folders.h), each owned by a wrapper that closes
// it on every path. Where the order of closes matters, callers close
// explicitly with reset(). How closing went is not examined: no step of the
// pass logs it or acts on it, each record's own outcome having been logged
// when it was written.
#ifndef CUSTOMHOOKS_INTEGRATION_STORAGE_HANDLES_H_
#define CUSTOMHOOKS_INTEGRATION_STORAGE_HANDLES_H_

#include <memory>

#include "storage/pcd_store.h"
#include "storage/pdb_reader.h"

namespace customhooks::integration {

struct PcdCloser {
  void operator()(storage::PCDHandle* handle) const { static_cast<void>(storage::PCDClose(handle)); }
};
using PcdConnection = std::unique_ptr<storage::PCDHandle, PcdCloser>;

struct PdbCloser {
  void operator()(storage::pdbHandle* handle) const { static_cast<void>(storage::pdbClose(handle)); }
};
using PdbConnection = std::unique_ptr<storage::pdbHandle, PdbCloser>;

// pdbOpen on the product's payload folder, backing up into its backup folder
// (none when that one cannot be located). False, `pdb` empty, when the
// folder cannot be located or the database cannot be opened.
bool OpenPayloadDatabase(PdbConnection& pdb);

// PCDOpen on the product's configuration and cache folders. False when the
// folders cannot be located or PCDOpen fails; `pcd` then holds whatever
// handle PCDOpen handed out (a failure of the cache database alone leaves
// the configuration handle open).
bool OpenConfigurationDatabase(PcdConnection& pcd);

// PCDOpenCache on the product's cache folder. False, `cache` empty, when the
// folder cannot be located or the database cannot be opened.
bool OpenCacheDatabase(PcdConnection& cache);

// A text read from a database or the host, or "" where there is none.
inline const char* TextOrEmpty(const char* text) { return text != nullptr ? text : ""; }

}  // namespace customhooks::integration

#endif  // CUSTOMHOOKS_INTEGRATION_STORAGE_HANDLES_H_
