// The write_file arguments decoder on any JSON value: it gives a payload or
// a message, never crashes, and a payload's members are the strings found.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "json/parse.h"
#include "json/text.h"
#include "mcp/schema.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!varnock::json::is_valid_utf8(text)) return 0;
  auto value = varnock::json::parse(text);
  if (!value.ok()) return 0;
  const bool is_object = value.value().is_object();
  auto payload = varnock::mcp::decode_write_file_payload(std::move(value).value());
  if (!payload.ok()) {
    if (payload.failure().empty()) std::abort();
    return 0;
  }
  if (!is_object && !varnock::json::is_valid_utf8(payload.value().path)) std::abort();
  return 0;
}
