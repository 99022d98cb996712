// A second process started by a test: a program of the build run with its
// arguments through the system's command interpreter, on a thread of its own,
// so the test goes on while it runs.
#ifndef CUSTOMHOOKS_TESTS_SUPPORT_CHILD_PROCESS_H_
#define CUSTOMHOOKS_TESTS_SUPPORT_CHILD_PROCESS_H_

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

class ChildProcess {
 public:
  // `program` is a path as CMake gives it ($<TARGET_FILE:...>); under Wine a
  // POSIX path is reached through drive Z:. Every argument is quoted.
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
  // Waits for the child to end.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // True once `path` exists; false when the child ended without creating it
  // or `limit` passed.
  bool WaitForFile(const std::string& path,
                   std::chrono::milliseconds limit = std::chrono::seconds(60));
  // Waits for the child to end; its exit status as std::system reports it.
  int Wait();

 private:
  std::atomic<bool> ended_{false};
  int result_ = -1;
  std::thread thread_;
};

#endif  // CUSTOMHOOKS_TESTS_SUPPORT_CHILD_PROCESS_H_
