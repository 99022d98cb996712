#include "fs/fast_paths.h"

namespace customhooks::fs {
namespace {

FastPaths inForce;

}  // namespace

const FastPaths& CurrentFastPaths() { return inForce; }

ScopedFastPaths::ScopedFastPaths(const FastPaths& paths) : previous_(inForce) { inForce = paths; }

ScopedFastPaths::~ScopedFastPaths() { inForce = previous_; }

}  // namespace customhooks::fs
