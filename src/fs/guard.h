// Internal to ch_fs: the layer reports failures as results and never throws.
#ifndef CUSTOMHOOKS_FS_GUARD_H_
#define CUSTOMHOOKS_FS_GUARD_H_

#include <utility>

namespace customhooks::fs {

// Runs `body` and gives its result; when it throws (an allocation failed),
// gives `failure` instead.
template <typename Result, typename Body>
Result Guarded(Result failure, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    return failure;
  }
}

}  // namespace customhooks::fs

#endif  // CUSTOMHOOKS_FS_GUARD_H_
