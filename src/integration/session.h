// What the work at a session's close needs from the host: the session's
// properties and a sink for log lines. The host interface (src/hook)
// implements it for one call of the hook procedure; the integration work
// depends on nothing above it.
#ifndef CUSTOMHOOKS_INTEGRATION_SESSION_H_
#define CUSTOMHOOKS_INTEGRATION_SESSION_H_

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace customhooks::integration {

// The prefix of every line of the integration work (24 characters).
extern const char kIntegrationLogPrefix[];

// A value read from a file (a database, a document, a folder listing),
// which a plain user may have written: in a log line its control
// characters (below 0x20, and 0x7F) read as "\xNN", and past
// kLongestLoggedValue bytes it is cut, with "[... N bytes in all]" after
// it. Ordinary values read as they are.
constexpr std::size_t kLongestLoggedValue = 1024;
struct FileValue {
  std::string_view text;
};

// One piece of a log message: a fixed text, a value, or a FileValue. A
// null C string is the empty text. Valid while the text it views is.
class LogPiece {
 public:
  LogPiece(const char* text) : text_(text ? text : "") {}  // NOLINT: implicit by design
  LogPiece(std::string_view text) : text_(text) {}         // NOLINT
  LogPiece(const std::string& text) : text_(text) {}       // NOLINT
  LogPiece(FileValue value) : text_(value.text), fromFile_(true) {}  // NOLINT

  std::string_view view() const { return text_; }
  bool fromFile() const { return fromFile_; }

 private:
  std::string_view text_;
  bool fromFile_ = false;
};

// What the run of one product found, for whoever watches a pass (a
// support check); the host's interface takes no notice of it.
struct ProductFindings {
  const char* product = nullptr;  // the product's name (suite_products.h)
  bool searched = false;          // the search in the payload database ran
  bool located = false;           // its payload with a signature was found
  std::string payloadId;
  std::string version;
  std::string productSignature;  // the payload's mediaSignature
  bool signatureMatches = false;  // it equals the session's
  // The LEID, the subdomain of the agreement records; nothing when the
  // configuration database has none for the session's signature.
  std::optional<std::string> licensingCode;
};

class IntegrationSession {
 public:
  virtual ~IntegrationSession() = default;

  // The session property `name` (a property without a value reads as "").
  // Nothing when the host has no such property, after whatever line the
  // host interface writes about a name or property map it cannot use.
  virtual std::optional<std::string> Property(const char* name) const = 0;

  // Hands one whole line (NUL-terminated, never null) to the host.
  virtual void Log(const char* line) const = 0;

  // Told, at the end of each product's run, what it found.
  virtual void Observe(const ProductFindings&) const {}

  // Logs kIntegrationLogPrefix, `header` (a fixed text), then the pieces,
  // joined with nothing in between. When memory runs out while the line is
  // formed, nothing is sent.
  void LogPrefixed(std::initializer_list<LogPiece> pieces, std::string_view header = {}) const;
};

}  // namespace customhooks::integration

#endif  // CUSTOMHOOKS_INTEGRATION_SESSION_H_
