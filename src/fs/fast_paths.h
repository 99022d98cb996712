// The module's shortcuts: each gives what fresh work would give, and each
// has a plain twin that does the fresh work. Tests switch between them at
// run time, as they put an Env in place (fs/env.h), to prove the two equal;
// no host can reach the switch.
#ifndef CUSTOMHOOKS_FS_FAST_PATHS_H_
#define CUSTOMHOOKS_FS_FAST_PATHS_H_

namespace customhooks::fs {

struct FastPaths {
  // A database opened again in a pass keeps SQLite's connection while the
  // file is the one it holds. Plain: a new connection for every open.
  bool keptConnections = true;
  // A product's search is recalled from the pass's earlier search while the
  // file is unchanged. Plain: each product is searched afresh.
  bool rememberedAnswers = true;
  // The product search scans the payloads table once. Plain: it walks the
  // payload list, reading each payload.
  bool oneScanSearch = true;
  // A backup whose file stamps vouch for the copy compares nothing. Plain:
  // it compares the files.
  bool backupRecord = true;
  // While a GrantsOnce lives (fs/access.h), a folder's access is granted
  // once; an entry that already holds the grant is not written. Plain:
  // every open grants, and every entry is written.
  bool skippedRegrant = true;

  // All on, or all off.
  static FastPaths All(bool on) { return {on, on, on, on, on}; }
};

// The shortcuts in force: all on, unless a ScopedFastPaths says otherwise.
const FastPaths& CurrentFastPaths();

// Puts `paths` in force for the whole process while it lives, then restores
// what was before. Not thread-safe, like ScopedEnv: only between sessions.
class ScopedFastPaths {
 public:
  explicit ScopedFastPaths(const FastPaths& paths);
  ~ScopedFastPaths();
  ScopedFastPaths(const ScopedFastPaths&) = delete;
  ScopedFastPaths& operator=(const ScopedFastPaths&) = delete;

 private:
  FastPaths previous_;
};

}  // namespace customhooks::fs

#endif  // CUSTOMHOOKS_FS_FAST_PATHS_H_
