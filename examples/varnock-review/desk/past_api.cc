#include "past_api.h"

#include <charconv>

#include "api_reply.h"
#include "diff_model.h"
#include "json/write.h"
#include "request_check.h"

namespace varnock::desk {
namespace {

using json::Value;

constexpr std::string_view kHistory = "/api/history";
// Changes kept for their next pages, the last opened first: each holds two
// texts as large as a proposal's.
constexpr std::size_t kKeptChanges = 2;

Value past_value(const DeskPast& past) {
  return Value(Value::Object{{"entry", Value(past.entry)},
                             {"time", json_text(past.time)},
                             {"workspace", json_text(past.workspace)},
                             {"path", json_text(past.path)},
                             {"target", json_text(past.target)},
                             {"decision", json_text(past.decision)},
                             {"reason", json_text(past.reason)},
                             {"rule", json_text(past.rule)},
                             {"new_file", Value(past.new_file)},
                             {"revertible", Value(past.revertible)},
                             {"reverted", Value(past.reverted)}});
}

// "/api/history/12/diff" -> 12 and "/diff"; false when not of that form.
bool split_entry_path(std::string_view path, std::uint64_t& entry, std::string_view& rest) {
  if (path.substr(0, kHistory.size() + 1) != std::string(kHistory) + "/") return false;
  path.remove_prefix(kHistory.size() + 1);
  const auto [end, error] = std::from_chars(path.data(), path.data() + path.size(), entry);
  if (error != std::errc()) return false;
  rest = path.substr(static_cast<std::size_t>(end - path.data()));
  return true;
}

Reply first_view(const DeskPastChange& change, std::string page) {
  std::string view = "{\"decision\":" + json::write(past_value(change.decision));
  if (!change.missing.empty()) {
    view += ",\"missing\":";
    json::write_string(change.missing, view);
    return {200, "application/json", view + "}"};
  }
  Value::Array notices;
  if (!change.notice.empty()) notices.push_back(json_text(change.notice));
  view += ",\"diff\":" + page + ",\"notices\":" + json::write(Value(std::move(notices))) + "}";
  return {200, "application/json", std::move(view)};
}

}  // namespace

bool PastApi::owns(std::string_view path) {
  return path == kHistory || path.substr(0, kHistory.size() + 1) == std::string(kHistory) + "/";
}

void PastApi::handle(std::string_view method, std::string_view target, Done done) {
  const std::string_view path = target_path(target);
  if (method == "GET" && path == kHistory) return list(target, std::move(done));
  std::uint64_t entry = 0;
  std::string_view rest;
  if (!split_entry_path(path, entry, rest)) return done(json_error(404, "no such resource"));
  if (method == "POST" && rest == "/revert") return revert(entry, std::move(done));
  if (method != "GET") return done(json_error(404, "no such resource"));
  if (rest == "/diff" && cursor_of(target) == kNoCursor) {
    return done(json_error(400, "bad cursor"));
  }
  Serve serve = serve_for(rest, target);
  if (!serve) return done(json_error(404, "no such resource"));
  with_change(entry, std::move(serve), std::move(done));
}

PastApi::Serve PastApi::serve_for(std::string_view rest, std::string_view target) {
  if (rest.empty()) {
    return [](const Opened& opened) {
      return first_view(opened.change, opened.change.missing.empty() ? opened.page(0) : "");
    };
  }
  if (rest == "/diff") {
    return [from = cursor_of(target)](const Opened& opened) {
      return Reply{200, "application/json", opened.page(from)};
    };
  }
  if (rest == "/lines") {
    return [query = std::string(target)](const Opened& opened) {
      return lines_reply(TextLines(opened.change.after, opened.after), query);
    };
  }
  return {};
}

LineIndex PastApi::Opened::index_of(std::string_view text, std::optional<LineIndex>& made) {
  if (!made) return LineIndex(text);
  LineIndex index = std::move(*made);
  made.reset();
  return index;
}

std::string PastApi::Opened::page(std::size_t from) const {
  return diff_model_page(TextLines(change.before, before), TextLines(change.after, after),
                         change.runs, from);
}

void PastApi::list(std::string_view target, Done done) {
  const std::size_t limit = number_or(query_value(target, "limit"), kPastPage);
  if (limit == 0 || limit > kMaxPastPage) return done(json_error(400, "bad limit"));
  source_.past(
      query_value(target, "search"), limit,
      [done = std::move(done)](Result<std::vector<DeskPast>> past) {
        if (!past.ok()) return done(json_error(404, past.failure()));
        Value::Array decisions;
        for (const DeskPast& decision : past.value()) {
          decisions.push_back(past_value(decision));
        }
        done({200, "application/json",
              json::write(Value(Value::Object{{"decisions", Value(std::move(decisions))}}))});
      });
}

// A change being shown is kept while it is among the last opened; one
// without its texts is answered at once each time (its pages are empty).
void PastApi::with_change(std::uint64_t entry, Serve serve, Done done) {
  if (const auto kept = opened_.find(entry); kept != opened_.end()) {
    return done(serve(*kept->second));
  }
  Waiting request{entry, std::move(serve), std::move(done)};
  if (opening_.empty()) return open(std::move(request));
  if (opening_.front().entry == entry) return opening_.push_back(std::move(request));
  if (next_) next_->done(json_error(409, "a later request took its place"));
  next_ = std::move(request);
}

void PastApi::open(Waiting first) {
  const std::uint64_t entry = first.entry;
  opening_.push_back(std::move(first));
  source_.past_change(entry, [this](Result<DeskPastChange> change) { opened(std::move(change)); });
}

void PastApi::opened(Result<DeskPastChange> change) {
  std::vector<Waiting> waiting = std::move(opening_);
  opening_.clear();
  const Opened* kept =
      change.ok() ? &keep(waiting.front().entry, std::move(change).value()) : nullptr;
  for (Waiting& request : waiting) {
    request.done(kept ? request.serve(*kept) : json_error(404, change.failure()));
  }
  if (!next_) return;
  Waiting later = std::move(*next_);
  next_.reset();
  with_change(later.entry, std::move(later.serve), std::move(later.done));
}

const PastApi::Opened& PastApi::keep(std::uint64_t entry, DeskPastChange change) {
  if (const auto kept = opened_.find(entry); kept != opened_.end()) return *kept->second;
  while (opened_.size() >= kKeptChanges) {
    auto oldest = opened_.begin();
    for (auto it = opened_.begin(); it != opened_.end(); ++it) {
      if (it->second->order < oldest->second->order) oldest = it;
    }
    kept_bytes_ -= oldest->second->bytes();
    opened_.erase(oldest);
  }
  auto opened = std::make_shared<Opened>(std::move(change));
  opened->order = ++opened_count_;
  kept_bytes_ += opened->bytes();
  return *opened_.emplace(entry, std::move(opened)).first->second;
}

void PastApi::revert(std::uint64_t entry, Done done) {
  source_.revert(entry, [done = std::move(done)](Status outcome) {
    if (!outcome.ok()) return done(json_error(409, outcome.failure()));
    done({200, "application/json", "{\"reverted\":true}"});
  });
}

}  // namespace varnock::desk
