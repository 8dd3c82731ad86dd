// The JSON value: null, boolean, u64, i64, finite f64, string, array, or an
// object ordered by the bytes of its keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace varnock::json {

class Value {
 public:
  using Array = std::vector<Value>;
  // std::string compares as unsigned bytes, which is the order of the wire.
  using Object = std::map<std::string, Value, std::less<>>;

  enum class Kind { kNull, kBool, kUnsigned, kSigned, kFloat, kString, kArray, kObject };

  Value() = default;
  Value(std::nullptr_t) {}
  Value(bool b) : data_(b) {}
  Value(std::uint64_t n) : data_(n) {}
  Value(std::int64_t n) : data_(n) {}
  Value(double d) : data_(d) {}
  Value(std::string s) : data_(std::move(s)) {}
  Value(std::string_view s) : data_(std::string(s)) {}
  Value(const char* s) : data_(std::string(s)) {}
  Value(Array a) : data_(std::move(a)) {}
  Value(Object o) : data_(std::move(o)) {}

  Kind kind() const { return static_cast<Kind>(data_.index()); }
  bool is_bool() const { return kind() == Kind::kBool; }
  bool is_string() const { return kind() == Kind::kString; }
  bool is_array() const { return kind() == Kind::kArray; }
  bool is_object() const { return kind() == Kind::kObject; }

  // Accessors; each requires the matching kind().
  bool as_bool() const { return std::get<bool>(data_); }
  std::uint64_t as_unsigned() const { return std::get<std::uint64_t>(data_); }
  std::int64_t as_signed() const { return std::get<std::int64_t>(data_); }
  double as_float() const { return std::get<double>(data_); }
  const std::string& as_string() const { return std::get<std::string>(data_); }
  std::string& as_string() { return std::get<std::string>(data_); }
  const Array& as_array() const { return std::get<Array>(data_); }
  Array& as_array() { return std::get<Array>(data_); }
  const Object& as_object() const { return std::get<Object>(data_); }
  Object& as_object() { return std::get<Object>(data_); }

  friend bool operator==(const Value&, const Value&) = default;

 private:
  std::variant<std::nullptr_t, bool, std::uint64_t, std::int64_t, double, std::string, Array,
               Object>
      data_;
};

// The member `key` of `value`, or nullptr when `value` is not an object or
// has no such member.
const Value* member(const Value& value, std::string_view key);
Value* member(Value& value, std::string_view key);

}  // namespace varnock::json
