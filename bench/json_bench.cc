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

#include "floor.h"
#include "json/exact_parse.h"
#include "json/parse.h"
#include "json/text.h"
#include "json/value.h"
#include "json/write.h"
#include "sample_lines.h"

namespace varnock::json {
namespace {

using bench::BM_Memcpy;
using bench::set_throughput;

void BM_ValidateUtf8(benchmark::State& state) {
  const std::string& line = bench::request_line(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    bool valid = is_valid_utf8(line);
    benchmark::DoNotOptimize(valid);
  }
  set_throughput(state, line.size());
}

// parse(), or its exact path alone (the path of every text the fast one
// refuses), on the same valid lines.
template <Result<Value> (*kParse)(std::string_view)>
void BM_Parse(benchmark::State& state) {
  const std::string& line = bench::request_line(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    Result<Value> value = kParse(line);
    if (!value.ok()) state.SkipWithError(value.failure().c_str());
    benchmark::DoNotOptimize(value);
  }
  set_throughput(state, line.size());
}

void BM_Write(benchmark::State& state) {
  const std::string& line = bench::request_line(static_cast<std::size_t>(state.range(0)));
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
BENCHMARK_TEMPLATE(BM_Parse, parse)
    ->Arg(kKiB)
    ->Arg(kMiB)
    ->Arg(10 * kMiB)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Parse, exact_parse)
    ->Arg(kKiB)
    ->Arg(kMiB)
    ->Arg(10 * kMiB)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Write)->Arg(kKiB)->Arg(kMiB)->Arg(10 * kMiB)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace varnock::json
