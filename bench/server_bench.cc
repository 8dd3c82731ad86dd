// Throughput of the program's own steps on a write_file request: splitting
// standard input into lines and making the proposal line for the broker,
// each next to a memcpy of the same bytes.
#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "floor.h"
#include "json/write.h"
#include "mcp/broker_protocol.h"
#include "mcp/schema.h"
#include "sample_lines.h"
#include "stdin_lines.h"

namespace varnock {
namespace {

constexpr int kKiB = 1024;
constexpr int kMiB = 1024 * kKiB;

using bench::BM_Memcpy;
using bench::set_throughput;

// Eight request lines in an in-memory file, split by the stdin reader.
void BM_SplitLines(benchmark::State& state) {
  const std::string& line = bench::request_line(static_cast<std::size_t>(state.range(0)));
  std::string input;
  for (int i = 0; i < 8; ++i) input.append(line).push_back('\n');
  const int fd = memfd_create("lines", 0);
  if (fd < 0 || write(fd, input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
    state.SkipWithError("memfd");
    return;
  }
  for (auto _ : state) {
    lseek(fd, 0, SEEK_SET);
    StdinLines lines(fd);
    while (auto next = lines.read_line()) benchmark::DoNotOptimize(next->data());
  }
  close(fd);
  set_throughput(state, input.size());
}

// The proposal message for a new file whose content is about `size` bytes,
// streamed in 1 MiB pieces to a sink that only counts them.
void BM_ProposalLine(benchmark::State& state) {
  const std::string content = bench::sample_content(static_cast<std::size_t>(state.range(0)));
  std::size_t written = 0;
  for (auto _ : state) {
    mcp::VarnockEditProposal proposal{"src/lib.rs", "", content, "- rewrites main"};
    const json::Value message = mcp::proposal_message("edit-1-0", std::move(proposal));
    json::StreamWriter writer(
        [&](std::string_view piece) {
          written += piece.size();
          return true;
        },
        std::size_t{1} << 20);
    writer.write(message);
    writer.flush();
  }
  benchmark::DoNotOptimize(written);
  set_throughput(state, content.size());
}

BENCHMARK(BM_Memcpy)->Arg(kKiB)->Arg(kMiB)->Arg(10 * kMiB);
BENCHMARK(BM_SplitLines)->Arg(kKiB)->Arg(kMiB)->Arg(10 * kMiB);
BENCHMARK(BM_ProposalLine)->Arg(kKiB)->Arg(kMiB)->Arg(10 * kMiB)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace varnock
