#include "json/value.h"

namespace varnock::json {

const Value* member(const Value& value, std::string_view key) {
  if (!value.is_object()) return nullptr;
  const Value::Object& object = value.as_object();
  const auto found = object.find(key);
  return found == object.end() ? nullptr : &found->second;
}

Value* member(Value& value, std::string_view key) {
  return const_cast<Value*>(member(static_cast<const Value&>(value), key));
}

}  // namespace varnock::json
