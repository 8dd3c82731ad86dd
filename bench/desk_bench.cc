// What the reviewer does with a 10 MiB text with 1 % of its lines changed
// before the person sees it: the scan for hidden characters, the escaped
// copy the terminal shows, GNU diff alone, and the whole model the page
// receives; and the model of a change where every line's words change.
#include <benchmark/benchmark.h>

#include <boost/asio/io_context.hpp>
#include <string>

#include "changed_lines.h"
#include "desk/diff_model.h"
#include "visible_text.h"

namespace {

struct Texts {
  std::string before;
  std::string after;
};

// 163 840 lines of 64 bytes (10 MiB); every hundredth line changes a word.
const Texts& ten_mebibytes() {
  static const Texts texts = [] {
    Texts made;
    const std::string filler(40, 'x');
    for (int i = 0; i < 163840; ++i) {
      const std::string head = std::string("line ") + std::to_string(1000000 + i);
      made.before += head + " value old " + filler + "\n";
      made.after += head + (i % 100 == 50 ? " value new " : " value old ") + filler + "\n";
    }
    return made;
  }();
  return texts;
}

// The runs as the reviewer finds them, with no time or output bound.
std::vector<varnock::desk::ChangedRun> changed_runs(const Texts& texts) {
  boost::asio::io_context io;
  varnock::review::ChildRunner runner(io);
  std::vector<varnock::desk::ChangedRun> runs;
  varnock::review::compare_lines(runner, texts.before, texts.after,
                                 {std::chrono::hours(1), std::size_t{1} << 40},
                                 [&](varnock::review::ChangedLines lines) { runs = lines.runs; });
  io.run();
  return runs;
}

void BM_HiddenCharacterScan10MiB(benchmark::State& state) {
  const Texts& texts = ten_mebibytes();
  for (auto _ : state) {
    benchmark::DoNotOptimize(varnock::review::holds_hidden_characters(texts.after, false));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(texts.after.size()));
}
BENCHMARK(BM_HiddenCharacterScan10MiB)->Unit(benchmark::kMillisecond);

void BM_VisibleText10MiB(benchmark::State& state) {
  const Texts& texts = ten_mebibytes();
  for (auto _ : state) benchmark::DoNotOptimize(varnock::review::visible_text(texts.after));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(texts.after.size()));
}
BENCHMARK(BM_VisibleText10MiB)->Unit(benchmark::kMillisecond);

void BM_ChangedRuns10MiB(benchmark::State& state) {
  const Texts& texts = ten_mebibytes();
  for (auto _ : state) {
    benchmark::DoNotOptimize(changed_runs(texts));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(texts.before.size()));
}
BENCHMARK(BM_ChangedRuns10MiB)->Unit(benchmark::kMillisecond);

void BM_DiffModel10MiB(benchmark::State& state) {
  const Texts& texts = ten_mebibytes();
  std::size_t size = 0;
  const auto runs = changed_runs(texts);
  for (auto _ : state) {
    auto model = varnock::desk::diff_model_json(texts.before, texts.after, runs);
    if (!model.ok()) state.SkipWithError(model.failure().c_str());
    size = model.ok() ? model.value().size() : 0;
    benchmark::DoNotOptimize(model);
  }
  state.counters["model_bytes"] = static_cast<double>(size);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(texts.before.size()));
}
BENCHMARK(BM_DiffModel10MiB)->Unit(benchmark::kMillisecond);

// The worst case for the changed words: 10 MiB in which every line of 496
// bytes changes every other word, so that each pair of lines alone is just
// under the per-line bound of the word-by-word comparison.
void BM_DiffModelEveryWordChanged10MiB(benchmark::State& state) {
  static const Texts texts = [] {
    Texts made;
    std::string old_line, new_line;
    for (int word = 0; word < 124; ++word) old_line += "a x ", new_line += "a y ";
    for (std::size_t size = 0; size < (std::size_t{10} << 20); size += old_line.size() + 1) {
      made.before += old_line + "\n";
      made.after += new_line + "\n";
    }
    return made;
  }();
  const auto runs = changed_runs(texts);
  for (auto _ : state) {
    auto model = varnock::desk::diff_model_json(texts.before, texts.after, runs);
    if (!model.ok()) state.SkipWithError(model.failure().c_str());
    benchmark::DoNotOptimize(model);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(texts.before.size()));
}
BENCHMARK(BM_DiffModelEveryWordChanged10MiB)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
