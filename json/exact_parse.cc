#include "json/exact_parse.h"

#include <cstring>
#include <exception>
#include <nlohmann/json.hpp>
#include <utility>
#include <vector>

#include "json/parse.h"
#include "json/syntax_check.h"

namespace varnock::json {
namespace {

// Builds a Value from the library's SAX events. Refuses the 128th nested
// array or object, since the library itself has no depth limit.
class ValueBuilder {
 public:
  bool null() { return put(Value(nullptr)); }
  bool boolean(bool b) { return put(Value(b)); }
  // Non-negative integers arrive as unsigned, so a signed zero can only be
  // the text "-0", which reads as the float negative zero.
  bool number_integer(std::int64_t n) { return put(n == 0 ? Value(-0.0) : Value(n)); }
  bool number_unsigned(std::uint64_t n) { return put(Value(n)); }
  bool number_float(double d, const std::string& /*raw*/) { return put(Value(d)); }
  bool string(std::string& s) { return put(Value(std::move(s))); }
  bool binary(std::vector<std::uint8_t>& /*unused*/) { return false; }
  bool start_object(std::size_t /*unused*/) { return open<Value::Object>(); }
  bool key(std::string& k) {
    keys_.back() = std::move(k);
    return true;
  }
  bool end_object() { return close(); }
  bool start_array(std::size_t /*unused*/) { return open<Value::Array>(); }
  bool end_array() { return close(); }
  bool parse_error(std::size_t /*position*/, const std::string& /*token*/,
                   const std::exception& /*error*/) {
    return false;
  }

  Value take_result() && { return std::move(root_); }

 private:
  template <class Container>
  bool open() {
    if (containers_.size() >= static_cast<std::size_t>(kMaxDepth)) return false;
    containers_.emplace_back(Container{});
    keys_.emplace_back();
    return true;
  }

  bool close() {
    Value done = std::move(containers_.back());
    containers_.pop_back();
    keys_.pop_back();
    return put(std::move(done));
  }

  // Later members with the same name replace earlier ones.
  bool put(Value value) {
    if (containers_.empty()) {
      root_ = std::move(value);
      return true;
    }
    Value& top = containers_.back();
    if (top.is_array()) {
      top.as_array().push_back(std::move(value));
    } else {
      top.as_object().insert_or_assign(std::move(keys_.back()), std::move(value));
    }
    return true;
  }

  // The open arrays and objects, innermost last, with each one's pending
  // member name (unused for arrays).
  std::vector<Value> containers_;
  std::vector<std::string> keys_;
  Value root_;
};

// The library skips a leading byte-order mark and stops at a NUL byte; the
// system treats both as errors, so such texts go straight to the checker.
bool library_would_misread(std::string_view text) {
  return text.substr(0, 3) == "\xEF\xBB\xBF" || std::memchr(text.data(), 0, text.size()) != nullptr;
}

bool library_accepts(std::string_view text, ValueBuilder& builder) {
  try {
    return nlohmann::json::sax_parse(text.data(), text.data() + text.size(), &builder);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

Result<Value> exact_parse(std::string_view text) {
  ValueBuilder builder;
  if (!library_would_misread(text) && library_accepts(text, builder)) {
    return std::move(builder).take_result();
  }
  if (auto error = find_syntax_error(text)) return fail(std::move(*error));
  // The checker found the text sound, yet the library refused it: a memory
  // failure, the only refusal the grammar does not explain.
  return fail("out of memory while parsing at line 1 column 0");
}

}  // namespace varnock::json
