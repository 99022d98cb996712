// A private machine for one test: the special folders point into a fresh
// temporary folder (on POSIX through the environment variables the module
// reads), and the common data folder "Orvik" starts empty. On Windows the
// special folders are the real ones, so the fixture empties "Orvik" there.
#ifndef CUSTOMHOOKS_TESTS_SUPPORT_TEST_MACHINE_H_
#define CUSTOMHOOKS_TESTS_SUPPORT_TEST_MACHINE_H_

#include <string>

class TestMachine {
 public:
  TestMachine();
  ~TestMachine();
  TestMachine(const TestMachine&) = delete;
  TestMachine& operator=(const TestMachine&) = delete;

  // A scratch folder of this test (native separators), removed afterwards.
  const std::string& scratch() const { return scratch_; }
  // The common data folder as the module names it ("...\Orvik" form).
  const std::string& commonData() const { return commonData_; }

 private:
  std::string scratch_;
  std::string commonData_;
};

// Skips the rest of a test that needs the special folders to follow the
// environment variables the tests set: Windows' special folders are the
// system's own.
#if defined(_WIN32)
#define SKIP_WHERE_FOLDERS_ARE_THE_SYSTEMS() \
  GTEST_SKIP() << "Windows special folders do not follow the environment"
#else
#define SKIP_WHERE_FOLDERS_ARE_THE_SYSTEMS() static_cast<void>(0)
#endif

// Sets (or, with a null value, removes) an environment variable.
void SetTestEnv(const char* name, const char* value);

// Waits until a stamp of any file changed so far is clear of the file
// system's timestamp granularity (the kernel's clock tick, under Wine too;
// fs::FileStamp::racy): a change after it gets a later time, and a test
// that counts what a fast path spares starts from files whose stamps vouch
// for them.
void WaitOutTimestampGranularity();

// True when the Windows build runs under Wine, which differs from Windows
// where a test says so.
bool RunningUnderWine();

#endif  // CUSTOMHOOKS_TESTS_SUPPORT_TEST_MACHINE_H_
