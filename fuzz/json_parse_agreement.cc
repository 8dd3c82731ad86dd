// The library and the syntax checker must agree on every text: parse()
// succeeds exactly when the checker finds no error, and a refusal carries
// the checker's text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "json/parse.h"
#include "json/syntax_check.h"
#include "json/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!varnock::json::is_valid_utf8(text)) return 0;
  auto parsed = varnock::json::parse(text);
  auto error = varnock::json::find_syntax_error(text);
  if (parsed.ok() == error.has_value()) std::abort();
  if (!parsed.ok() && parsed.failure() != *error) std::abort();
  return 0;
}
