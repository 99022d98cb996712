// The file-system tests' reading of the special folders.
#ifndef CUSTOMHOOKS_TESTS_FS_FS_TEST_UTIL_H_
#define CUSTOMHOOKS_TESTS_FS_FS_TEST_UTIL_H_

#include <string>

#include "fs/env.h"

// FindSpecialFolder's answer, or "<failed>".
std::string Special(customhooks::fs::SpecialFolder folder);

#endif  // CUSTOMHOOKS_TESTS_FS_FS_TEST_UTIL_H_
