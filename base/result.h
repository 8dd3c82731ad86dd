// A value or a failure text: the one way operations report failure.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace varnock {

// A failure is a single human-readable message, with no kind or code.
struct Failure {
  std::string text;
};

inline Failure fail(std::string text) { return Failure{std::move(text)}; }

// Either a T or a Failure. Test ok() before taking value().
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

 private:
  std::variant<T, Failure> state_;
};

// Success with no value, or a failure text.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Failure failure) : failure_(std::move(failure.text)), ok_(false) {}

  bool ok() const { return ok_; }
  const std::string& failure() const { return failure_; }

 private:
  std::string failure_;
  bool ok_ = true;
};

}  // namespace varnock
