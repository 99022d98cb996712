// Small helpers of the file-system tests.
#ifndef CUSTOMHOOKS_TESTS_FS_FS_TEST_UTIL_H_
#define CUSTOMHOOKS_TESTS_FS_FS_TEST_UTIL_H_

#include <string>
#include <vector>

#include "fs/env.h"

// `folder` + "\" + `name`: the module's own separator, on every target.
std::string In(const std::string& folder, const std::string& name);

// Sets or clears the read-only attribute (all write permission bits on POSIX).
void SetReadOnly(const std::string& path, bool readOnly);
bool IsReadOnly(const std::string& path);

// FindSpecialFolder's answer, or "<failed>".
std::string Special(customhooks::fs::SpecialFolder folder);

// Names in a folder, listed without the module.
std::vector<std::string> NamesIn(const std::string& folder);

#endif  // CUSTOMHOOKS_TESTS_FS_FS_TEST_UTIL_H_
