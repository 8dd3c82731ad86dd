#include "desk_api.h"

#include <charconv>
#include <random>

#include "base/hex.h"

#include "diff_model.h"
#include "json/value.h"
#include "json/write.h"
#include "request_check.h"

namespace varnock::desk {
namespace {

using json::Value;

// Kept views beyond this are dropped, oldest number first.
constexpr std::size_t kMaxKeptViews = 16;
constexpr std::size_t kHistoryLength = 50;

Value text(std::string_view value) { return json_text(value); }

Value proposal_value(const DeskProposal& proposal) {
  Value::Array notices;
  for (const std::string& notice : proposal.notices) notices.push_back(text(notice));
  Value::Object server{{"workspace", text(proposal.server.workspace)},
                       {"pid", text(proposal.server.pid)},
                       {"thread_id", text(proposal.server.thread_id)}};
  return Value(Value::Object{{"number", Value(proposal.number)},
                             {"path", text(proposal.path)},
                             {"target", text(proposal.target)},
                             {"server", Value(std::move(server))},
                             {"before_size", Value(proposal.before_size)},
                             {"after_size", Value(proposal.after_size)},
                             {"new_file", Value(proposal.new_file)},
                             {"notices", Value(std::move(notices))}});
}

Value decision_value(const DeskDecision& decision) {
  return Value(Value::Object{{"number", Value(decision.number)},
                             {"path", text(decision.path)},
                             {"workspace", text(decision.workspace)},
                             {"outcome", text(decision.outcome)},
                             {"time", text(decision.time)}});
}

// "/api/proposals/12/lines" -> 12 and "/lines"; false when not of that form.
bool split_proposal_path(std::string_view path, std::uint64_t& number, std::string_view& rest) {
  constexpr std::string_view kPrefix = "/api/proposals/";
  if (path.substr(0, kPrefix.size()) != kPrefix) return false;
  path.remove_prefix(kPrefix.size());
  const auto [end, error] = std::from_chars(path.data(), path.data() + path.size(), number);
  if (error != std::errc()) return false;  // no digits, or too many
  rest = path.substr(static_cast<std::size_t>(end - path.data()));
  return true;
}

const char* event_name(DeskEvent::Kind kind) {
  switch (kind) {
    case DeskEvent::Kind::kQueued:
      return "queued";
    case DeskEvent::Kind::kDecided:
      return "decided";
    case DeskEvent::Kind::kWithdrawn:
      return "withdrawn";
    case DeskEvent::Kind::kChanged:
      return "changed";
    case DeskEvent::Kind::kReverted:
      return "reverted";
  }
  return "unknown";
}

}  // namespace

void DeskApi::handle(std::string_view method, std::string_view target, std::string_view body,
                     PastApi::Done done) {
  if (PastApi::owns(target_path(target))) return past_.handle(method, target, std::move(done));
  done(handle(method, target, body));
}

Reply DeskApi::handle(std::string_view method, std::string_view target, std::string_view body) {
  const std::string_view path = target_path(target);
  if (method == "GET" && path == "/api/state") return state();
  std::uint64_t number = 0;
  std::string_view rest;
  if (!split_proposal_path(path, number, rest)) return json_error(404, "no such resource");
  if (method == "GET" && rest.empty()) return proposal(number);
  if (method == "GET" && rest == "/lines") return lines(number, target);
  if (method == "GET" && rest == "/diff") return diff(number, target);
  if (method == "POST" && rest == "/answer") {
    const std::string run = query_value(target, "run");
    if (!run.empty() && run != run_) {
      return json_error(409, "the reviewer was started again since this proposal was shown");
    }
    return answer(number, body);
  }
  return json_error(404, "no such resource");
}

std::string DeskApi::event_json(const DeskEvent& event) {
  return json::write(Value(Value::Object{{"event", Value(event_name(event.kind))},
                                         {"number", Value(event.number)},
                                         {"outcome", text(event.outcome)}}));
}

Reply DeskApi::state() {
  Value::Array pending;
  for (const DeskProposal& proposal : source_.pending())
    pending.push_back(proposal_value(proposal));
  Value::Array history;
  for (const DeskDecision& decision : source_.history(kHistoryLength)) {
    history.push_back(decision_value(decision));
  }
  return {200, "application/json",
          json::write(Value(Value::Object{{"pending", Value(std::move(pending))},
                                          {"history", Value(std::move(history))}}))};
}

Reply DeskApi::proposal(std::uint64_t number) {
  const std::optional<DeskTexts> texts = source_.texts(number);
  if (!texts) {
    forget(number);
    return json_error(404, "not pending");
  }
  served_at_.emplace(number, clock_());
  if (const auto kept = views_.find(number); kept != views_.end())
    return {200, "application/json", kept->second};
  const std::optional<DeskProposal> shown = source_.proposal(number);
  if (!shown) return json_error(404, "not pending");
  std::string view = "{\"diff\":" + model_page(number, *texts, 0) + ",\"explanation_html\":";
  json::write_string(texts->explanation_html, view);
  view += ",\"proposal\":" + json::write(proposal_value(*shown)) + ",\"run\":\"" + run_ + "\"}";
  if (views_.size() >= kMaxKeptViews) forget_view(views_.begin()->first);
  kept_bytes_ += view.size();
  return {200, "application/json", views_[number] = std::move(view)};
}

Reply DeskApi::lines(std::uint64_t number, std::string_view target) {
  const std::optional<DeskTexts> texts = source_.texts(number);
  if (!texts) return json_error(404, "not pending");
  return lines_reply(TextLines(texts->after, indexes(number, *texts).after), target);
}

Reply DeskApi::diff(std::uint64_t number, std::string_view target) {
  const std::optional<DeskTexts> texts = source_.texts(number);
  if (!texts) return json_error(404, "not pending");
  const std::size_t from = cursor_of(target);
  if (from == kNoCursor) return json_error(400, "bad cursor");
  return {200, "application/json", model_page(number, *texts, from)};
}

std::string DeskApi::model_page(std::uint64_t number, const DeskTexts& texts, std::size_t from) {
  const IndexPair kept = indexes(number, texts);
  return diff_model_page(TextLines(texts.before, kept.before), TextLines(texts.after, kept.after),
                         texts.runs, from);
}

// An index is made anew when the texts are not those it was made of.
DeskApi::IndexPair DeskApi::indexes(std::uint64_t number, const DeskTexts& texts) {
  if (texts.before_lines != nullptr && texts.after_lines != nullptr) {
    return {*texts.before_lines, *texts.after_lines};
  }
  const auto kept = indexes_.find(number);
  if (kept != indexes_.end() && kept->second.before_size == texts.before.size() &&
      kept->second.after_size == texts.after.size()) {
    return {kept->second.before, kept->second.after};
  }
  forget_index(number);
  if (indexes_.size() >= kMaxKeptViews) forget_index(indexes_.begin()->first);
  Indexes& made = indexes_
                      .emplace(number, Indexes{texts.before.size(), texts.after.size(),
                                               LineIndex(texts.before), LineIndex(texts.after)})
                      .first->second;
  kept_bytes_ += made.bytes();
  return {made.before, made.after};
}

void DeskApi::forget_index(std::uint64_t number) {
  const auto kept = indexes_.find(number);
  if (kept == indexes_.end()) return;
  kept_bytes_ -= kept->second.bytes();
  indexes_.erase(kept);
}

void DeskApi::forget_view(std::uint64_t number) {
  const auto kept = views_.find(number);
  if (kept == views_.end()) return;
  kept_bytes_ -= kept->second.size();
  views_.erase(kept);
}

std::string DeskApi::new_run() {
  std::random_device random;
  const std::uint64_t bits = (std::uint64_t{random()} << 32) | random();
  return to_hex({reinterpret_cast<const char*>(&bits), sizeof bits});
}

Reply DeskApi::answer(std::uint64_t number, std::string_view body) {
  if (body != "accept" && body != "reject") return json_error(400, "answer accept or reject");
  if (source_.texts(number) && !read_long_enough(number)) {
    return json_error(409, "the answer came before the proposal could be read");
  }
  const bool decided = source_.answer(number, body == "accept");
  return {200, "application/json", decided ? "{\"decided\":true}" : "{\"decided\":false}"};
}

// The page must have had the proposal for kReadingTime before an answer
// to it counts; the page itself also waits until it has been on screen
// that long in a visible tab.
bool DeskApi::read_long_enough(std::uint64_t number) const {
  const auto served = served_at_.find(number);
  return served != served_at_.end() && clock_() - served->second >= kReadingTime;
}

}  // namespace varnock::desk
