// The one outcome type of the module's layers (fs, storage, pcf).
//
// A Status is success, or a code of one layer plus an optional short context
// text (a path, a statement, a key). Each layer names its codes in an enum
// class of its own and ties the enum to a StatusDomain with a function
// `StatusDomainOf(Code)` found by argument-dependent lookup; two layers'
// codes therefore never compare equal, whatever their numbers.
//
// Success costs no allocation. Creating, copying or extending a failure never
// throws: when the context text cannot be allocated it is dropped and the
// code is kept. Numbers that a host or a stored file can observe are never
// read off a Status directly; the edge that produces them converts the codes.
#ifndef CUSTOMHOOKS_FS_STATUS_H_
#define CUSTOMHOOKS_FS_STATUS_H_

#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace customhooks {

// The codes of one layer: the layer's name and a name for each code, both
// static texts.
struct StatusDomain {
  const char* name;
  const char* (*codeName)(int code);
};

// Each layer overloads StatusDomainOf for its code enum, in the enum's
// namespace. This declaration only makes the name known to the templates
// below, so that a type without an overload is no code rather than an error.
struct NotAStatusCode {};
void StatusDomainOf(NotAStatusCode);

class [[nodiscard]] Status {
 public:
  // Success.
  Status() noexcept = default;

  // A failure with `code` of a layer's enum, and `context` when not empty.
  template <typename Code, typename = decltype(StatusDomainOf(Code{}))>
  Status(Code code, std::string_view context = {}) noexcept  // NOLINT: implicit by design
      : domain_(&StatusDomainOf(code)), code_(static_cast<int>(code)) {
    SetContext(context);
  }

  Status(const Status& other) noexcept : domain_(other.domain_), code_(other.code_) {
    if (other.context_) SetContext(*other.context_);
  }
  Status& operator=(const Status& other) noexcept {
    if (this != &other) *this = Status(other);
    return *this;
  }
  Status(Status&&) noexcept = default;
  Status& operator=(Status&&) noexcept = default;
  ~Status() = default;

  bool ok() const noexcept { return domain_ == nullptr; }

  // True when this is a failure with exactly `code`.
  template <typename Code>
  bool Is(Code code) const noexcept {
    return domain_ == &StatusDomainOf(code) && code_ == static_cast<int>(code);
  }

  // True when this is a failure with a code of `Code`'s layer; then
  // code<Code>() gives it.
  template <typename Code>
  bool IsOf() const noexcept {
    return domain_ != nullptr && domain_ == &StatusDomainOf(Code{});
  }
  template <typename Code>
  Code code() const noexcept {
    return static_cast<Code>(code_);
  }

  // Same success, or a failure with the same code; the context is not
  // compared. `status == Code::kSomething` is status.Is(Code::kSomething).
  friend bool operator==(const Status& a, const Status& b) noexcept {
    return a.domain_ == b.domain_ && a.code_ == b.code_;
  }
  friend bool operator!=(const Status& a, const Status& b) noexcept { return !(a == b); }
  template <typename Code, typename = decltype(StatusDomainOf(Code{}))>
  friend bool operator==(const Status& status, Code code) noexcept {
    return status.Is(code);
  }
  template <typename Code, typename = decltype(StatusDomainOf(Code{}))>
  friend bool operator!=(const Status& status, Code code) noexcept {
    return !status.Is(code);
  }

  // The context text; empty for success and where none was given.
  std::string_view context() const noexcept {
    return context_ ? std::string_view(*context_) : std::string_view();
  }

  // "ok", or "<layer> <code name>" followed by ": <context>" when there is
  // one. For logs of tests and tools; no host-visible text is formed here.
  std::string ToString() const;

 private:
  void SetContext(std::string_view context) noexcept {
    if (context.empty()) return;
    context_.reset(new (std::nothrow) std::string());
    if (!context_) return;
    try {
      context_->assign(context);
    } catch (...) {
      context_.reset();
    }
  }

  const StatusDomain* domain_ = nullptr;
  int code_ = 0;
  std::unique_ptr<std::string> context_;
};

// Runs `body` and gives its result; when memory runs out inside it
// (std::bad_alloc, or std::length_error for a size beyond what can be
// allocated), gives `failure`, converted to the body's result type. Each
// layer's entry points turn running out of memory into their own result
// here: `UnlessOutOfMemory(Code::kNoMemory, [&] { ...; return Status(); })`.
template <typename Failure, typename Body>
std::invoke_result_t<Body> UnlessOutOfMemory(Failure&& failure, Body&& body) noexcept {
  using Result = std::invoke_result_t<Body>;
  try {
    return std::forward<Body>(body)();
  } catch (const std::bad_alloc&) {
    return Result(std::forward<Failure>(failure));
  } catch (const std::length_error&) {
    return Result(std::forward<Failure>(failure));
  }
}

}  // namespace customhooks

#endif  // CUSTOMHOOKS_FS_STATUS_H_
