// Throughput of the JSON layer on the lines that matter most: a tools/call
// of write_file whose content is a long text. A memcpy of the same bytes is
// the floor every other figure is measured against.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "json/parse.h"
#include "json/text.h"
#include "json/value.h"
#include "json/write.h"

namespace varnock::json {
namespace {

// Prose with the characters that cost the writer something: line feeds,
// tabs, quotes, backslashes, and two-, three- and four-byte characters.
constexpr std::string_view kParagraph =
    "fn main() {\n\tprintln!(\"caf\xC3\xA9 \\\\ na\xC3\xAFve \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E "
    "\xF0\x9F\x98\x80\");\n}\n"
    "The quick brown fox jumps over the lazy dog; the path is src/lib/mod.rs and the "
    "numbers are 1, 2.5 and 1e-6. Plain text runs on for a while without anything that "
    "needs escaping, as most source files do between their line breaks.\n";

// A write_file request line of about `size` bytes, most of it "content".
const std::string& request_line(std::size_t size) {
  static std::map<std::size_t, std::string> lines;
  std::string& line = lines[size];
  if (!line.empty()) return line;
  std::string content;
  while (content.size() < size) content += kParagraph;
  Value::Object arguments{{"path", Value("src/lib.rs")},
                          {"content", Value(std::move(content))},
                          {"explanationInMarkdown", Value("Rewrites **main** to print.")}};
  Value::Object params{{"name", Value("write_file")}, {"arguments", Value(std::move(arguments))}};
  Value::Object request{{"jsonrpc", Value("2.0")},
                        {"id", Value(std::uint64_t{7})},
                        {"method", Value("tools/call")},
                        {"params", Value(std::move(params))}};
  line = write(Value(std::move(request)));
  return line;
}

void set_throughput(benchmark::State& state, std::size_t bytes) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(bytes));
}

void BM_Memcpy(benchmark::State& state) {
  const std::string& line = request_line(static_cast<std::size_t>(state.range(0)));
  std::string copy(line.size(), '\0');
  for (auto _ : state) {
    std::memcpy(copy.data(), line.data(), line.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  set_throughput(state, line.size());
}

void BM_ValidateUtf8(benchmark::State& state) {
  const std::string& line = request_line(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    bool valid = is_valid_utf8(line);
    benchmark::DoNotOptimize(valid);
  }
  set_throughput(state, line.size());
}

void BM_Parse(benchmark::State& state) {
  const std::string& line = request_line(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    Result<Value> value = parse(line);
    if (!value.ok()) state.SkipWithError(value.failure().c_str());
    benchmark::DoNotOptimize(value);
  }
  set_throughput(state, line.size());
}

void BM_Write(benchmark::State& state) {
  const std::string& line = request_line(static_cast<std::size_t>(state.range(0)));
  Result<Value> value = parse(line);
  if (!value.ok()) {
    state.SkipWithError(value.failure().c_str());
    return;
  }
  for (auto _ : state) {
    std::string text = write(value.value());
    benchmark::DoNotOptimize(text);
  }
  set_throughput(state, line.size());
}

constexpr std::int64_t kKiB = 1024;
constexpr std::int64_t kMiB = 1024 * kKiB;

BENCHMARK(BM_Memcpy)->Arg(kKiB)->Arg(kMiB)->Arg(10 * kMiB);
BENCHMARK(BM_ValidateUtf8)->Arg(kKiB)->Arg(kMiB)->Arg(10 * kMiB);
BENCHMARK(BM_Parse)->Arg(kKiB)->Arg(kMiB)->Arg(10 * kMiB)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Write)->Arg(kKiB)->Arg(kMiB)->Arg(10 * kMiB)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace varnock::json
