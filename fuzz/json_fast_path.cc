// The fast reading path may refuse any text, but a value it gives must be
// exactly the value of the exact path: same kinds, same numbers (signed
// zeros included), same strings, same members.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "json/exact_parse.h"
#include "json/fast_parse.h"
#include "json/text.h"
#include "json/write.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!varnock::json::is_valid_utf8(text)) return 0;
  auto fast = varnock::json::fast_parse(text);
  if (!fast) return 0;
  auto exact = varnock::json::exact_parse(text);
  if (!exact.ok()) std::abort();
  if (!(*fast == exact.value())) std::abort();
  if (varnock::json::write(*fast) != varnock::json::write(exact.value())) std::abort();
  return 0;
}
