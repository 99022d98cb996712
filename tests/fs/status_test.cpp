#include "fs/status.h"

#include <new>
#include <string>

#include <gtest/gtest.h>

#include "support/status_test_support.h"

namespace customhooks {
namespace {

// Two layers whose codes share numbers.
enum class LowerCode { kMissing = 1, kRefused = 2 };
enum class UpperCode { kMissing = 1 };

const char* LowerName(int code) { return code == 1 ? "missing" : "refused"; }
const char* UpperName(int) { return "missing"; }
const StatusDomain kLower{"lower", LowerName};
const StatusDomain kUpper{"upper", UpperName};
const StatusDomain& StatusDomainOf(LowerCode) { return kLower; }
const StatusDomain& StatusDomainOf(UpperCode) { return kUpper; }

TEST(StatusTest, SuccessCarriesNothing) {
  Status status;
  EXPECT_TRUE(status.ok());
  EXPECT_FALSE(status.Is(LowerCode::kMissing));
  EXPECT_FALSE(status.IsOf<LowerCode>());
  EXPECT_TRUE(status.context().empty());
  EXPECT_EQ(status.ToString(), "ok");
}

TEST(StatusTest, CodesOfDifferentLayersNeverMatch) {
  Status lower(LowerCode::kMissing, "C:\\a");
  EXPECT_FALSE(lower.ok());
  EXPECT_TRUE(lower.Is(LowerCode::kMissing));
  EXPECT_FALSE(lower.Is(LowerCode::kRefused));
  EXPECT_FALSE(lower.Is(UpperCode::kMissing));
  EXPECT_TRUE(lower.IsOf<LowerCode>());
  EXPECT_FALSE(lower.IsOf<UpperCode>());
  EXPECT_EQ(lower.code<LowerCode>(), LowerCode::kMissing);
  EXPECT_EQ(lower.ToString(), "lower missing: C:\\a");
  EXPECT_EQ(Status(UpperCode::kMissing).ToString(), "upper missing");
}

TEST(StatusTest, ComparesByCodeNotContext) {
  EXPECT_EQ(Status(LowerCode::kMissing, "a"), Status(LowerCode::kMissing, "b"));
  EXPECT_EQ(Status(LowerCode::kMissing, "a"), LowerCode::kMissing);
  EXPECT_NE(Status(LowerCode::kMissing), UpperCode::kMissing);
  EXPECT_NE(Status(LowerCode::kMissing), Status(UpperCode::kMissing));
  EXPECT_NE(Status(LowerCode::kMissing), Status());
  EXPECT_EQ(Status(), Status());
}

TEST(StatusTest, CopiesAndMovesKeepCodeAndContext) {
  Status original(LowerCode::kRefused, "pcd.db");
  Status copy = original;
  EXPECT_EQ(copy.ToString(), "lower refused: pcd.db");
  EXPECT_EQ(original.context(), "pcd.db");
  Status moved = std::move(copy);
  EXPECT_TRUE(moved.Is(LowerCode::kRefused));
  EXPECT_EQ(moved.context(), "pcd.db");
  copy = moved;
  EXPECT_EQ(copy.context(), "pcd.db");
  copy = Status();
  EXPECT_TRUE(copy.ok());
}

TEST(StatusTest, RunningOutOfMemoryBecomesTheLayersCode) {
  Status ran = UnlessOutOfMemory(LowerCode::kRefused, []() -> Status { throw std::bad_alloc(); });
  EXPECT_TRUE(ran.Is(LowerCode::kRefused));
  Status tooLong = UnlessOutOfMemory(LowerCode::kRefused, []() -> Status {
    std::string text;
    text.resize(text.max_size() + 1);
    return Status();
  });
  EXPECT_TRUE(tooLong.Is(LowerCode::kRefused));
  Status passed = UnlessOutOfMemory(LowerCode::kRefused, [] { return Status(UpperCode::kMissing, "x"); });
  EXPECT_EQ(passed.ToString(), "upper missing: x");
}

}  // namespace
}  // namespace customhooks
