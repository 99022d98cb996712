// Status in test expectations. EXPECT_OK / ASSERT_OK check for success; a
// failure is checked against its code, EXPECT_EQ(status, fs::Code::kNotFound).
// gtest prints a Status as its ToString() and a code by its layer's name.
#ifndef CUSTOMHOOKS_TESTS_SUPPORT_STATUS_TEST_SUPPORT_H_
#define CUSTOMHOOKS_TESTS_SUPPORT_STATUS_TEST_SUPPORT_H_

#include <ostream>

#include <gtest/gtest.h>

#include "fs/fs_status.h"
#include "fs/status.h"
#include "pcf/pcf_status.h"
#include "storage/storage_status.h"

namespace customhooks {

// A Status as its ToString().
inline void PrintTo(const Status& status, std::ostream* out) { *out << status.ToString(); }

// A code of any layer as that layer names it; gtest reaches it through the
// PrintTo of each layer's namespace.
template <typename Code, typename = decltype(StatusDomainOf(Code{}))>
void PrintCodeName(Code code, std::ostream* out) {
  *out << StatusDomainOf(code).codeName(static_cast<int>(code));
}

namespace fs {
inline void PrintTo(Code code, std::ostream* out) { PrintCodeName(code, out); }
}  // namespace fs
namespace pcf {
inline void PrintTo(Code code, std::ostream* out) { PrintCodeName(code, out); }
}  // namespace pcf
namespace storage {
inline void PrintTo(Code code, std::ostream* out) { PrintCodeName(code, out); }
}  // namespace storage

}  // namespace customhooks

// Success, or a failure printed with its code and context.
#define EXPECT_OK(expression) EXPECT_EQ((expression), ::customhooks::Status())
#define ASSERT_OK(expression) ASSERT_EQ((expression), ::customhooks::Status())

#endif  // CUSTOMHOOKS_TESTS_SUPPORT_STATUS_TEST_SUPPORT_H_
