#include "integration/session.h"

#include <new>
#include <stdexcept>

namespace customhooks::integration {

const char kIntegrationLogPrefix[] = "KX6 Suites Custom hook: ";

void IntegrationSession::LogPrefixed(std::initializer_list<LogPiece> pieces) const {
  std::string line;
  try {
    std::size_t size = sizeof(kIntegrationLogPrefix) - 1;
    for (const LogPiece& piece : pieces) size += piece.view().size();
    line.reserve(size);
    line.append(kIntegrationLogPrefix);
    for (const LogPiece& piece : pieces) line.append(piece.view());
  } catch (const std::bad_alloc&) {
    return;
  } catch (const std::length_error&) {
    return;
  }
  Log(line.c_str());
}

}  // namespace customhooks::integration
