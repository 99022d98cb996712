#include "fs/env.h"

namespace customhooks::fs {
namespace {

// Null stands for Env::Default(), which is made on first use.
Env* replacement = nullptr;

}  // namespace

Env::~Env() = default;

Env* CurrentEnv() { return replacement != nullptr ? replacement : Env::Default(); }

ScopedEnv::ScopedEnv(Env* env) : previous_(replacement) { replacement = env; }

ScopedEnv::~ScopedEnv() { replacement = previous_; }

}  // namespace customhooks::fs
