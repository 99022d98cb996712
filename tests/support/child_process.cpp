#include "support/child_process.h"

#include <algorithm>
#include <cstdlib>

#include "fs/files.h"

using customhooks::fs::PathExists;

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// The program's path as the shell of the test's own platform runs it.
std::string CommandPath(std::string path) {
#if defined(_WIN32)
  // Built on the POSIX side of Wine: its root is drive Z:.
  if (!path.empty() && path[0] == '/') {
    std::replace(path.begin(), path.end(), '/', '\\');
    path = "Z:" + path;
  }
#endif
  return path;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments) {
  std::string command = Quoted(CommandPath(program));
  for (const std::string& argument : arguments) command += " " + Quoted(argument);
#if defined(_WIN32)
  // cmd.exe strips the outermost pair of quotes of its command line.
  command = Quoted(command);
#endif
  thread_ = std::thread([this, command] {
    result_ = std::system(command.c_str());
    ended_ = true;
  });
}

ChildProcess::~ChildProcess() { Wait(); }

bool ChildProcess::WaitForFile(const std::string& path, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (PathExists(path)) return true;
    if (ended_) return PathExists(path);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

int ChildProcess::Wait() {
  if (thread_.joinable()) thread_.join();
  return result_;
}
