#include "json/fast_parse.h"

#include <simdjson.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

#include "json/parse.h"

namespace varnock::json {
namespace {

namespace dom = simdjson::dom;

// A parser keeps its buffers between lines, since making them anew costs
// more than the parse itself; past this size they are freed after the line,
// so one huge request does not pin its memory for good.
constexpr std::size_t kKeptCapacity = std::size_t{64} << 20;
constexpr std::size_t kInitialCapacity = std::size_t{64} << 10;
// The parser's offsets are 32-bit.
constexpr std::size_t kMaxFastLength = 0xFFFF0000u;
// No page is smaller, and every page is a multiple of it.
constexpr std::uintptr_t kMinPageSize = 4096;

class Converter {
 public:
  explicit Converter(std::string_view text) : text_(text) {}

  // False when the element cannot be represented exactly.
  bool convert(dom::element element, Value& out) {
    switch (element.type()) {
      case dom::element_type::NULL_VALUE:
        out = Value(nullptr);
        return true;
      case dom::element_type::BOOL:
        out = Value(element.get_bool().value_unsafe());
        return true;
      case dom::element_type::INT64:
        return convert_int(element.get_int64().value_unsafe(), out);
      case dom::element_type::UINT64:
        out = Value(element.get_uint64().value_unsafe());
        return true;
      case dom::element_type::DOUBLE:
        out = Value(element.get_double().value_unsafe());
        return true;
      case dom::element_type::STRING:
        out = Value(element.get_string().value_unsafe());
        return true;
      case dom::element_type::ARRAY:
        return convert_array(element.get_array().value_unsafe(), out);
      case dom::element_type::OBJECT:
        return convert_object(element.get_object().value_unsafe(), out);
    }
    return false;
  }

 private:
  // The fast parser reads "-0" as the integer 0. A zero is taken only when
  // the text holds no "-0" anywhere; otherwise the exact path decides.
  bool convert_int(std::int64_t n, Value& out) {
    if (n < 0) {
      out = Value(n);
      return true;
    }
    if (n == 0 && text_may_hold_negative_zero()) return false;
    out = Value(static_cast<std::uint64_t>(n));
    return true;
  }

  bool text_may_hold_negative_zero() {
    if (!negative_zero_checked_) {
      negative_zero_seen_ = memmem(text_.data(), text_.size(), "-0", 2) != nullptr;
      negative_zero_checked_ = true;
    }
    return negative_zero_seen_;
  }

  bool convert_array(dom::array array, Value& out) {
    Value::Array items;
    items.reserve(array.size());
    for (dom::element element : array) {
      if (!convert(element, items.emplace_back())) return false;
    }
    out = Value(std::move(items));
    return true;
  }

  // Later members with the same name replace earlier ones.
  bool convert_object(dom::object object, Value& out) {
    Value::Object members;
    for (dom::key_value_pair member : object) {
      Value value;
      if (!convert(member.value, value)) return false;
      members.insert_or_assign(std::string(member.key), std::move(value));
    }
    out = Value(std::move(members));
    return true;
  }

  std::string_view text_;
  bool negative_zero_checked_ = false;
  bool negative_zero_seen_ = false;
};

// The parser of this thread, made on first use and limited to the system's
// nesting depth; it keeps its buffers between lines.
thread_local std::unique_ptr<dom::parser> parser_of_thread;

dom::parser* shared_parser() {
  if (!parser_of_thread) {
    auto fresh = std::make_unique<dom::parser>();
    if (fresh->allocate(kInitialCapacity, kMaxDepth) != simdjson::SUCCESS) return nullptr;
    parser_of_thread = std::move(fresh);
  }
  return parser_of_thread.get();
}

void release_large_buffers() {
  if (parser_of_thread && parser_of_thread->capacity() > kKeptCapacity) parser_of_thread.reset();
}

// The parser reads up to SIMDJSON_PADDING bytes past the end of its text.
// Those reads cannot fault when they stay in the page of the text's last
// byte, so only a text that ends near the end of a page is first copied
// (into the parser's own buffer, kept between lines). The bytes read past
// the end do not change the result.
bool must_copy(std::string_view text) {
  if (text.empty()) return true;
  const auto last = reinterpret_cast<std::uintptr_t>(text.data() + text.size() - 1);
  return last % kMinPageSize + simdjson::SIMDJSON_PADDING >= kMinPageSize;
}

}  // namespace

std::optional<Value> fast_parse(std::string_view text) {
  if (text.size() > kMaxFastLength) return std::nullopt;
  dom::parser* parser = shared_parser();
  if (parser == nullptr) return std::nullopt;
  dom::element root;
  std::optional<Value> result;
  if (parser->parse(text.data(), text.size(), must_copy(text)).get(root) == simdjson::SUCCESS) {
    Value value;
    if (Converter(text).convert(root, value)) result = std::move(value);
  }
  release_large_buffers();
  return result;
}

}  // namespace varnock::json
