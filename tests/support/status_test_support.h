// Status in test expectations: gtest prints a Status as its ToString(), and
// EXPECT_OK / ASSERT_OK check for success.
#ifndef CUSTOMHOOKS_TESTS_SUPPORT_STATUS_TEST_SUPPORT_H_
#define CUSTOMHOOKS_TESTS_SUPPORT_STATUS_TEST_SUPPORT_H_

#include <ostream>

#include <gtest/gtest.h>

#include "fs/status.h"

namespace customhooks {
inline void PrintTo(const Status& status, std::ostream* out) { *out << status.ToString(); }
}  // namespace customhooks

#define EXPECT_OK(expression) EXPECT_EQ((expression), ::customhooks::Status())
#define ASSERT_OK(expression) ASSERT_EQ((expression), ::customhooks::Status())

#endif  // CUSTOMHOOKS_TESTS_SUPPORT_STATUS_TEST_SUPPORT_H_
