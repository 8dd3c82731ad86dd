#include "json/parse.h"

#include "json/exact_parse.h"
#include "json/fast_parse.h"

namespace varnock::json {

Result<Value> parse(std::string_view text) {
  if (auto value = fast_parse(text)) return std::move(*value);
  return exact_parse(text);
}

}  // namespace varnock::json
