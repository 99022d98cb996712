#include "hook/log_capture.h"

std::vector<std::string>& CapturedLines() {
  static std::vector<std::string> lines;
  return lines;
}

void KXHOOK_CALL CaptureLine(const char* line) { CapturedLines().emplace_back(line); }
