// The desk's JSON interface for its page, over a DeskSource. Free of HTTP:
// the session passes in requests that have passed the checks of
// request_check.h and writes out the replies.
//
//   GET  /api/state                       {"pending":[PROPOSAL...],"history":[DECISION...]}
//   GET  /api/proposals/N                 {"proposal":PROPOSAL,"explanation_html":"...",
//                                          "diff":MODEL}   (404 when not pending)
//   GET  /api/proposals/N/lines?from=F&count=C
//                                         lines F.. of the new text, as a JSON array
//   POST /api/proposals/N/answer          body "accept" or "reject" -> {"decided":bool}
//
// MODEL is diff_model_json's; PROPOSAL and DECISION carry the members of
// DeskProposal and DeskDecision under the same names.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "desk_source.h"

namespace varnock::desk {

// At most this many lines per lines request.
inline constexpr std::size_t kMaxLinesPerRequest = 5000;

struct Reply {
  int status = 200;
  std::string content_type = "application/json";
  std::string body;
};

class DeskApi {
 public:
  // `source` must outlive this.
  explicit DeskApi(DeskSource& source) : source_(source) {}

  // The reply to an /api/ request; 404 for anything it does not know.
  Reply handle(std::string_view method, std::string_view target, std::string_view body);

  // Drops what was kept of proposal `number` (its page view): called when it
  // leaves the queue or changes.
  void forget(std::uint64_t number) { views_.erase(number); }

  // An event as the page receives it: {"event":"queued","number":N,"outcome":"..."};
  // the events are "queued", "decided", "withdrawn" and "changed".
  static std::string event_json(const DeskEvent& event);

 private:
  Reply state();
  Reply proposal(std::uint64_t number);
  Reply lines(std::uint64_t number, std::string_view target);
  Reply answer(std::uint64_t number, std::string_view body);

  DeskSource& source_;
  // The page view of each proposal asked for, built once: the Markdown and
  // the diff model of a large text take a moment.
  std::map<std::uint64_t, std::string> views_;
};

}  // namespace varnock::desk
