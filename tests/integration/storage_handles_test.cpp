// A pass's second handle of the payload database, opened while the first
// is open (the locale fix-up within a product's run).
#include <optional>
#include <string>

#include "fs/files.h"
#include "fs/product_names.h"
#include "integration/session_fixture.h"
#include "integration/storage_handles.h"
#include "support/disk.h"
#include "support/status_test_support.h"

namespace customhooks::integration {
namespace {

// The second handle shares the first one's connection only where a reopen
// would keep it; either way both read what a connection of their own reads,
// and the first goes on reading after the second is closed.
TEST_F(SessionTest, SecondPayloadHandleSharesTheConnectionOnlyWhereAReopenKeepsIt) {
  const std::string file = CommonDataPath(std::string(names::kPayloadsFolder) + "\\" + names::kPayloadsFile);
  enum Between { kNothing, kSnapshotOpen, kMadeReadOnly };
  const struct {
    const char* what;
    bool kept;
    Between between;
    bool shared;
  } kCases[] = {
      {"kept connections", true, kNothing, true},
      {"plain", false, kNothing, false},
      {"the first handle in a snapshot", true, kSnapshotOpen, false},
      {"the file made read-only in between", true, kMadeReadOnly, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    PassShortcuts shortcuts = PassShortcuts::All(false);
    shortcuts.keptConnections = c.kept;
    SessionDatabases databases(shortcuts);
    PayloadConnection first(databases);
    ASSERT_TRUE(first.Open());
    std::string original;
    ASSERT_OK(first->PayloadData(suite_.driverCode, 0, names::kConfigPathKey, &original));
    std::optional<storage::Transaction> snapshot;
    if (c.between == kSnapshotOpen) snapshot.emplace(first->BeginRead());
    if (c.between == kMadeReadOnly) {
      ASSERT_TRUE(SetReadOnly(file, true));
    }
    {
      PayloadConnection second(databases);
      ASSERT_TRUE(second.Open());
      EXPECT_EQ(&*second == &*first, c.shared);
      std::string path;
      EXPECT_OK(second->PayloadData(suite_.driverCode, 0, names::kConfigPathKey, &path));
      EXPECT_EQ(path, original);
    }
    if (snapshot) {
      ASSERT_OK(snapshot->Commit());
    }
    std::string again;
    EXPECT_OK(first->PayloadData(suite_.driverCode, 0, names::kConfigPathKey, &again));
    EXPECT_EQ(again, original);
    if (c.between == kMadeReadOnly) {
      ASSERT_TRUE(SetReadOnly(file, false));
    }
  }
}

}  // namespace
}  // namespace customhooks::integration
