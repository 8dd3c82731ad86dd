// What the reviewer does with a 10 MiB text with 1 % of its lines changed
// before the person sees it: the scan for hidden characters, the escaped
// copy the terminal shows, GNU diff alone, and the first page of the model
// the page receives (from the runs GNU diff found), and a page from its
// middle, with the lines indexed for it or once before; the first page of a
// change where every line's words change; and the explanation's HTML, for
// texts shaped to make cmark-gfm slow.
#include <benchmark/benchmark.h>

#include <boost/asio/io_context.hpp>
#include <string>
#include <string_view>

#include "core/changed_lines.h"
#include "desk/diff_model.h"
#include "desk/markdown.h"
#include "core/visible_text.h"

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
  varnock::review::ChangedLines found;
  varnock::review::compare_lines(
      runner, texts.before, texts.after, {std::chrono::hours(1), std::size_t{1} << 40},
      [&](varnock::review::ChangedLines lines) { found = std::move(lines); });
  io.run();
  varnock::review::count_whole(found, texts.before, texts.after);
  return found.runs;
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

// The first page of the model, from the changed runs found once before.
void first_page(benchmark::State& state, const Texts& texts) {
  const auto runs = changed_runs(texts);
  std::size_t size = 0;
  for (auto _ : state) {
    const std::string page = varnock::desk::diff_model_page(texts.before, texts.after,
                                                            runs, 0);
    size = page.size();
    benchmark::DoNotOptimize(page);
  }
  state.counters["page_bytes"] = static_cast<double>(size);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(texts.before.size()));
}

void BM_DiffModelFirstPage10MiB(benchmark::State& state) { first_page(state, ten_mebibytes()); }
BENCHMARK(BM_DiffModelFirstPage10MiB)->Unit(benchmark::kMillisecond);

// A page from the middle of the model, as each page after the first is
// served: with the texts' lines indexed for that page alone (range 0), as
// every page once was, or indexed once for the proposal (range 1).
void BM_DiffModelMiddlePage10MiB(benchmark::State& state) {
  const Texts& texts = ten_mebibytes();
  const auto runs = changed_runs(texts);
  const varnock::desk::LineIndex old_index(texts.before);
  const varnock::desk::LineIndex new_index(texts.after);
  const varnock::desk::TextLines old_lines(texts.before, old_index);
  const varnock::desk::TextLines new_lines(texts.after, new_index);
  const std::size_t middle = runs.size() * 4;  // about 8 items a change: half way
  for (auto _ : state) {
    const std::string page =
        state.range(0) == 0
            ? varnock::desk::diff_model_page(texts.before, texts.after, runs, middle)
            : varnock::desk::diff_model_page(old_lines, new_lines, runs, middle);
    benchmark::DoNotOptimize(page);
  }
}
BENCHMARK(BM_DiffModelMiddlePage10MiB)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

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

std::string repeat(std::string_view piece, std::size_t times) {
  std::string text;
  text.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) text += piece;
  return text;
}

// Explanations of about 60 KB (the table: 18 KB), each shaped so that
// cmark-gfm's work grows faster than the text, and for comparison an
// ordinary document, emphasis as dense as it gets, and 1 MiB of it.
std::string table_3000_columns() {
  return repeat("|a", 3000) + "\n" + repeat("|-", 3000) + "\n" + repeat("x\n", 3000);
}
std::string table_row_of_30000_cells() { return "|a|b|\n|-|-|\n" + repeat("|1", 30000); }
std::string paragraph_of_delimiter_rows() { return "a\n" + repeat("|-|-\n|-|-|-\n", 5000); }
std::string list_500_deep_then_blank_lines() {
  return repeat("- ", 500) + "a\n" + repeat("\n", 59000);
}
std::string quote_1000_deep_then_lazy_lines() {
  return repeat(">", 1000) + " a\n" + repeat("b\n", 30000);
}
std::string unclosed_instructions() { return "a " + repeat("<?", 30000); }
std::string image_openers_then_links() { return repeat("![", 15000) + repeat("[a](b)", 5000); }
std::string paragraph_then_delimiter_row() { return repeat("a\n", 30000) + "|-"; }
std::string closing_parentheses_after_link() { return "www.a" + repeat(")", 60000); }
std::string emphasis_before_links() { return repeat("*[a](b)~_ ", 6000); }
std::string failing_www_links() { return repeat("_www.a", 10000); }
std::string at_signs() { return repeat("a@", 30000); }
std::string reference_copies() {
  return "[a]: /" + std::string(30000, 'u') + "\n\n" + repeat("[a]", 10000);
}
std::string ordinary_document() {
  return repeat(
      "## Change\n\nThe *parser* keeps `state` between [calls](https://example.org).\n\n"
      "| step | cost |\n|---|---|\n| scan | linear |\n\n- one\n- two\n  - nested\n\n",
      400);
}
std::string dense_emphasis() { return repeat("*_", 30000) + "a"; }
std::string dense_emphasis_1mib() { return repeat("*_", 512 * 1024) + "a"; }

void BM_Markdown(benchmark::State& state, std::string (*make)()) {
  const std::string text = make();
  std::size_t html_bytes = 0;
  for (auto _ : state) {
    const std::string html = varnock::desk::render_markdown(text);
    html_bytes = html.size();
    benchmark::DoNotOptimize(html);
  }
  state.counters["markdown_bytes"] = static_cast<double>(text.size());
  state.counters["html_bytes"] = static_cast<double>(html_bytes);
}
BENCHMARK_CAPTURE(BM_Markdown, Table3000Columns, table_3000_columns)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Markdown, TableRowOf30000Cells, table_row_of_30000_cells)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Markdown, ParagraphOfDelimiterRows, paragraph_of_delimiter_rows)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Markdown, List500DeepThenBlankLines, list_500_deep_then_blank_lines)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Markdown, Quote1000DeepThenLazyLines, quote_1000_deep_then_lazy_lines)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Markdown, UnclosedInstructions, unclosed_instructions)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Markdown, ImageOpenersThenLinks, image_openers_then_links)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Markdown, ParagraphThenDelimiterRow, paragraph_then_delimiter_row)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Markdown, ClosingParenthesesAfterLink, closing_parentheses_after_link)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Markdown, EmphasisBeforeLinks, emphasis_before_links)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Markdown, FailingWwwLinks, failing_www_links)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Markdown, AtSigns, at_signs)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Markdown, ReferenceCopies, reference_copies)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Markdown, OrdinaryDocument, ordinary_document)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Markdown, DenseEmphasis, dense_emphasis)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Markdown, DenseEmphasis1MiB, dense_emphasis_1mib)
    ->Unit(benchmark::kMillisecond);

}  // namespace
