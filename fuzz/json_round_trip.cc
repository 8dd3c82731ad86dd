// Round trip: any valid UTF-8 text that parses is written as a text that
// parses again to the same value and is written identically. The written
// text is also valid UTF-8 and holds no byte below 0x20, so it always fits
// on one line.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "json/parse.h"
#include "json/text.h"
#include "json/write.h"

namespace {

[[noreturn]] void fail(const char* what, std::string_view text) {
  std::fprintf(stderr, "round trip: %s: %.*s\n", what, static_cast<int>(text.size()), text.data());
  std::abort();
}

bool has_control_byte(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace varnock::json;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!is_valid_utf8(text)) return 0;
  const varnock::Result<Value> first = parse(text);
  if (!first.ok()) return 0;
  const std::string written = write(first.value());
  if (!is_valid_utf8(written)) fail("written text is not UTF-8", written);
  if (has_control_byte(written)) fail("written text holds a control byte", written);
  const varnock::Result<Value> second = parse(written);
  if (!second.ok()) fail(second.failure().c_str(), written);
  if (!(second.value() == first.value())) fail("value changed", written);
  if (write(second.value()) != written) fail("written differently", written);
  return 0;
}
