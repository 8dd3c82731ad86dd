// The desk's JSON interface for its page, over a DeskSource. Free of HTTP:
// the session passes in requests that have passed the checks of
// request_check.h and writes out the replies.
//
//   GET  /api/state                       {"pending":[PROPOSAL...],"history":[DECISION...]}
//   GET  /api/proposals/N                 {"proposal":PROPOSAL,"explanation_html":"...",
//                                          "diff":PAGE,"run":"..."}   (404 when not pending)
//   GET  /api/proposals/N/diff?from=K     the PAGE of the model from item K, the "next"
//                                         of the page before (400 when K is no number)
//   GET  /api/proposals/N/lines?from=F&count=C
//                                         lines F.. of the new text, as a JSON array
//   POST /api/proposals/N/answer?run=R    body "accept" or "reject" -> {"decided":bool}
//                                         (409 when the proposal's view was served less
//                                          than kReadingTime before: it cannot have been read;
//                                          409 when R, if given, is not this run's: the
//                                          reviewer restarted and numbered afresh, and N
//                                          is no longer the proposal that was read)
//   /api/history...                       past decisions (past_api.h)
//
// PAGE is diff_model_page's: the first page of the change's model, whose
// "next" names where the next page starts (null after the last), so that
// what the page loads at once stays small whatever the size of the change.
// PROPOSAL and DECISION carry the members of
// DeskProposal and DeskDecision under the same names.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "api_reply.h"
#include "desk_source.h"
#include "line_diff.h"
#include "past_api.h"
#include "text_lines.h"

namespace varnock::desk {

// An answer counts only once the proposal's view has been out this long.
inline constexpr std::chrono::milliseconds kReadingTime{500};

class DeskApi {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // `source` must outlive this; `clock` tells the time answers are judged by.
  explicit DeskApi(DeskSource& source, Clock clock = std::chrono::steady_clock::now)
      : source_(source), clock_(std::move(clock)), run_(new_run()), past_(source) {}

  // The reply to an /api/ request, handed to `done` on the io_context: at
  // once, or later for past decisions (past_api.h). This must outlive the
  // call of `done`.
  void handle(std::string_view method, std::string_view target, std::string_view body,
              PastApi::Done done);
  // The reply to a request for what the desk holds now (not the past
  // decisions); 404 for anything it does not know.
  Reply handle(std::string_view method, std::string_view target, std::string_view body);

  // Drops what was kept of proposal `number` (its page view and the index
  // of its lines): called when it leaves the queue or changes (a changed one
  // must be read anew).
  void forget(std::uint64_t number) {
    forget_view(number);
    forget_index(number);
    served_at_.erase(number);
  }
  // Bytes of the views and indexes kept.
  std::size_t kept_bytes() const { return kept_bytes_ + past_.kept_bytes(); }
  // The name of this run of the reviewer, in each proposal's view.
  const std::string& run() const { return run_; }

  // An event as the page receives it: {"event":"queued","number":N,"outcome":"..."};
  // the events are "queued", "decided", "withdrawn" and "changed".
  static std::string event_json(const DeskEvent& event);

 private:
  Reply state();
  Reply proposal(std::uint64_t number);
  Reply lines(std::uint64_t number, std::string_view target);
  Reply diff(std::uint64_t number, std::string_view target);
  Reply answer(std::uint64_t number, std::string_view body);

  // Where the lines of a proposal's two texts start, found on its first
  // page or lines asked for and kept, so that each page costs what is on it,
  // when the texts did not come with them.
  struct Indexes {
    std::size_t before_size = 0;  // of the texts indexed
    std::size_t after_size = 0;
    LineIndex before;
    LineIndex after;
    std::size_t bytes() const { return before.bytes() + after.bytes(); }
  };

  bool read_long_enough(std::uint64_t number) const;
  // The page of a proposal's model from item `from`, from its changed runs.
  std::string model_page(std::uint64_t number, const DeskTexts& texts, std::size_t from);
  struct IndexPair {
    const LineIndex& before;
    const LineIndex& after;
  };
  IndexPair indexes(std::uint64_t number, const DeskTexts& texts);
  void forget_view(std::uint64_t number);
  void forget_index(std::uint64_t number);

  // A random name for a run of the reviewer.
  static std::string new_run();

  DeskSource& source_;
  Clock clock_;
  const std::string run_;
  // When each pending proposal's view was first served.
  std::map<std::uint64_t, std::chrono::steady_clock::time_point> served_at_;
  // The first view of each proposal asked for, built once.
  std::map<std::uint64_t, std::string> views_;
  // As many as the views at most, oldest number dropped first.
  std::map<std::uint64_t, Indexes> indexes_;
  std::size_t kept_bytes_ = 0;
  PastApi past_;
};

}  // namespace varnock::desk
