#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hook/hook_procedure.h"
#include "hook/log_capture.h"

namespace customhooks::hook {
namespace {

using Lines = std::vector<std::string>;

struct DispatchCase {
  std::int32_t installMode;
  std::int32_t entryMode;
  Lines lines;
  std::int32_t status;
};

std::int32_t Dispatch(std::int32_t installMode, std::int32_t entryMode, HookLogCallback callback) {
  CapturedLines().clear();
  return DispatchHookCall(HookContext{nullptr, entryMode, installMode, 0x1234, callback});
}

TEST(Dispatch, EveryModePairWritesItsLinesAndStatus) {
  // Uninstall/SessionClose and the modes without real work only log; Install
  // and Reinstall SessionClose also run the integration pass, which reports
  // a null property map through its own lines after the dispatch line.
  const std::vector<DispatchCase> cases = {
      {0, 0, {"In InstallPreSystemCheckProc", "This is Pre install check!"}, 0},
      {0, 1, {"In PrePayloadInstallProc", "And PrePayload..."}, 0},
      {0, 2, {"In PostPayloadInstallProc"}, 0},
      {0, 3, {"In InstallSessionOpenProc"}, 0},
      {1, 0, {"In ReinstallPreSystemCheckProc"}, 0},
      {1, 1, {"In PrePayloadReinstallProc"}, 0},
      {1, 2, {"In PostPayloadReinstallProc"}, 0},
      {1, 3, {"In ReinstallSessionOpenProc"}, 0},
      {2, 0, {"In UninstallPreSystemCheckProc"}, 0},
      {2, 1, {"In PrePayloadUninstallProc"}, 0},
      {2, 2, {"In PostPayloadUninstallProc"}, 0},
      {2, 3, {"In UninstallSessionOpenProc"}, 0},
      {2, 4, {"In UninstallSessionCloseProc"}, 0},
  };
  for (const DispatchCase& c : cases) {
    SCOPED_TRACE("install " + std::to_string(c.installMode) + " entry " + std::to_string(c.entryMode));
    EXPECT_EQ(Dispatch(c.installMode, c.entryMode, &CaptureLine), c.status);
    EXPECT_EQ(CapturedLines(), c.lines);
  }
}

TEST(Dispatch, SessionCloseOfInstallAndReinstallStartsWithItsLine) {
  EXPECT_EQ(Dispatch(0, 4, &CaptureLine), 0);
  ASSERT_FALSE(CapturedLines().empty());
  EXPECT_EQ(CapturedLines().front(), "In InstallSessionCloseProc");

  EXPECT_EQ(Dispatch(1, 4, &CaptureLine), 0);
  ASSERT_FALSE(CapturedLines().empty());
  EXPECT_EQ(CapturedLines().front(), "In ReinstallSessionCloseProc");
}

TEST(Dispatch, UnsupportedInstallModeIgnoresEntryMode) {
  for (std::int32_t install : {3, -1, 99}) {
    for (std::int32_t entry : {0, 4, 99, -1}) {
      EXPECT_EQ(Dispatch(install, entry, &CaptureLine), 3);
      EXPECT_EQ(CapturedLines(), Lines{"Unsupported install mode specified."});
    }
  }
}

TEST(Dispatch, UnsupportedEntryModeIncludingNegative) {
  for (std::int32_t install : {0, 1, 2}) {
    for (std::int32_t entry : {5, -1, 99, INT32_MIN}) {
      EXPECT_EQ(Dispatch(install, entry, &CaptureLine), 4);
      EXPECT_EQ(CapturedLines(), Lines{"Unsupported entry mode specified."});
    }
  }
}

TEST(Dispatch, NullCallbackChangesOnlyTheLines) {
  EXPECT_EQ(Dispatch(0, 0, nullptr), 0);
  EXPECT_EQ(Dispatch(7, 0, nullptr), 3);
  EXPECT_EQ(Dispatch(0, 9, nullptr), 4);
  EXPECT_EQ(Dispatch(0, 4, nullptr), 0);
  EXPECT_TRUE(CapturedLines().empty());
}

}  // namespace
}  // namespace customhooks::hook
