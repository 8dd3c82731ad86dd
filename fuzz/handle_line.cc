// One whole input line through the loop's answer and the dispatcher, without
// a broker: nothing may crash, and every answer must be one JSON text that
// reads back to itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "json/parse.h"
#include "json/write.h"
#include "loop.h"
#include "review.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view line(reinterpret_cast<const char*>(data), size);
  static const varnock::ReviewStep no_broker = [](varnock::mcp::VarnockMcpToolResult prepared) {
    return varnock::request_review(nullptr, std::move(prepared));
  };
  auto answer = varnock::answer_line(line, no_broker);
  if (!answer) return 0;
  std::string text = varnock::json::write(*answer);
  if (text.find('\n') != std::string::npos) std::abort();
  auto again = varnock::json::parse(text);
  if (!again.ok() || varnock::json::write(again.value()) != text) std::abort();
  return 0;
}
