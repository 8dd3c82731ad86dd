// A value or a failure text: the one way operations report failure.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace varnock {

// What went wrong, for the few callers that act on it; every other failure
// is kOther and only passed on as text. Callers branch on the kind, never on
// the text.
enum class FailureKind {
  kOther,
  kTooLarge,  // the data is larger than the bound the caller gave
  kTimedOut,  // it took longer than the time the caller gave
  kNoListener,  // nothing listens at the socket address (none there, or stale)
  kStale,       // what is there is no longer what the caller was told it holds
};

// A failure is a human-readable message and its kind.
struct Failure {
  std::string text;
  FailureKind kind = FailureKind::kOther;
};

inline Failure fail(std::string text, FailureKind kind = FailureKind::kOther) {
  return Failure{std::move(text), kind};
}

// Either a T or a Failure. Test ok() before taking value(), failure() or
// kind().
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}

  bool ok() const { return state_.index() == 0; }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }

  const std::string& failure() const& { return std::get<1>(state_).text; }
  std::string&& failure() && { return std::move(std::get<1>(state_).text); }
  FailureKind kind() const { return std::get<1>(state_).kind; }

 private:
  std::variant<T, Failure> state_;
};

// Success with no value, or a failure.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Failure failure) : failure_(std::move(failure)), ok_(false) {}

  bool ok() const { return ok_; }
  const std::string& failure() const { return failure_.text; }
  FailureKind kind() const { return failure_.kind; }

 private:
  Failure failure_;
  bool ok_ = true;
};

}  // namespace varnock
