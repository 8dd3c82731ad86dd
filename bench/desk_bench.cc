// What the reviewer does with a 10 MiB text with 1 % of its lines changed
// before the person sees it: the scan for hidden characters, the escaped
// copy the terminal shows, GNU diff alone, and the first page of the model
// the page receives (from the runs GNU diff found); and the first page of a
// change where every line's words change.
#include <benchmark/benchmark.h>

#include <string>

#include "desk/diff_model.h"
#include "desk/line_diff.h"
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
    auto runs = varnock::desk::changed_runs(texts.before, texts.after);
    if (!runs.ok()) state.SkipWithError(runs.failure().c_str());
    benchmark::DoNotOptimize(runs);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(texts.before.size()));
}
BENCHMARK(BM_ChangedRuns10MiB)->Unit(benchmark::kMillisecond);

// The first page of the model, from the changed runs found once before.
void first_page(benchmark::State& state, const Texts& texts) {
  auto runs = varnock::desk::changed_runs(texts.before, texts.after);
  if (!runs.ok()) return state.SkipWithError(runs.failure().c_str());
  std::size_t size = 0;
  for (auto _ : state) {
    const std::string page = varnock::desk::diff_model_page(texts.before, texts.after,
                                                            runs.value(), 0);
    size = page.size();
    benchmark::DoNotOptimize(page);
  }
  state.counters["page_bytes"] = static_cast<double>(size);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(texts.before.size()));
}

void BM_DiffModelFirstPage10MiB(benchmark::State& state) { first_page(state, ten_mebibytes()); }
BENCHMARK(BM_DiffModelFirstPage10MiB)->Unit(benchmark::kMillisecond);

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
  first_page(state, texts);
}
BENCHMARK(BM_DiffModelEveryWordChanged10MiB)->Unit(benchmark::kMillisecond);

}  // namespace
