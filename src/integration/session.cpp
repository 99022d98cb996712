#include "integration/session.h"

#include <new>
#include <stdexcept>
#include <string>

namespace customhooks::integration {

const char kIntegrationLogPrefix[] = "KX6 Suites Custom hook: ";

namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// Appends a value from a file as plain text (see FileValue).
void AppendFileValue(std::string* line, std::string_view value) {
  std::size_t kept = value.size();
  if (kept > kLongestLoggedValue) {
    kept = kLongestLoggedValue;
    // A character of UTF-8 is kept whole or not at all.
    while (kept > 0 && (static_cast<unsigned char>(value[kept]) & 0xC0) == 0x80) --kept;
  }
  static const char kHex[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < kept; ++i) {
    const auto c = static_cast<unsigned char>(value[i]);
    if (IsControl(c)) {
      *line += "\\x";
      *line += kHex[c >> 4];
      *line += kHex[c & 0xF];
    } else {
      *line += static_cast<char>(c);
    }
  }
  if (kept < value.size()) *line += "[... " + std::to_string(value.size()) + " bytes in all]";
}

}  // namespace

void IntegrationSession::LogPrefixed(std::initializer_list<LogPiece> pieces, std::string_view header) const {
  std::string line;
  try {
    std::size_t size = sizeof(kIntegrationLogPrefix) - 1 + header.size();
    for (const LogPiece& piece : pieces) size += piece.view().size();
    line.reserve(size);
    line.append(kIntegrationLogPrefix);
    line.append(header);
    for (const LogPiece& piece : pieces) {
      if (piece.fromFile()) {
        AppendFileValue(&line, piece.view());
      } else {
        line.append(piece.view());
      }
    }
  } catch (const std::bad_alloc&) {
    return;
  } catch (const std::length_error&) {
    return;
  }
  Log(line.c_str());
}

}  // namespace customhooks::integration
