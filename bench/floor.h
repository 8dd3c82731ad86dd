// What every in-process benchmark shares: the throughput counter and the
// floor, a memcpy of the same request line.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "sample_lines.h"

namespace varnock::bench {

inline void set_throughput(benchmark::State& state, std::size_t bytes) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(bytes));
}

// A memcpy of the request line of about state.range(0) bytes.
inline void BM_Memcpy(benchmark::State& state) {
  const std::string& line = request_line(static_cast<std::size_t>(state.range(0)));
  std::string copy(line.size(), '\0');
  for (auto _ : state) {
    std::memcpy(copy.data(), line.data(), line.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  set_throughput(state, line.size());
}

}  // namespace varnock::bench
