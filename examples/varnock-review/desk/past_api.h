// The desk's JSON interface to past decisions, read from the journal and
// the kept texts off the io_context: each reply is handed on later.
//
//   GET  /api/history?search=S&limit=L    {"decisions":[PAST...]}, newest first, at most
//                                         L (1..kMaxPastPage, default kPastPage), those
//                                         whose path or workspace holds S
//   GET  /api/history/E                   {"decision":PAST,"diff":PAGE,"notices":[...]}, or
//                                         {"decision":PAST,"missing":"why"} when its texts
//                                         cannot be shown (404 when no decision is at E)
//   GET  /api/history/E/diff?from=K       the PAGE of its model from item K
//   GET  /api/history/E/lines?from=F&count=C   lines F.. of its new text
//   POST /api/history/E/revert            {"reverted":true}, or 409 {"error":"why not"}
//
// PAST carries the members of DeskPast under the same names; PAGE is as
// for a pending proposal (desk_api.h). The change is read-only: nothing
// here answers anything.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "desk_source.h"
#include "text_lines.h"

namespace varnock::desk {

struct Reply;

inline constexpr std::size_t kPastPage = 50;
inline constexpr std::size_t kMaxPastPage = 200;

class PastApi {
 public:
  using Done = std::function<void(Reply)>;

  // `source` must outlive this.
  explicit PastApi(DeskSource& source) : source_(source) {}

  // Whether `path` is one of these routes.
  static bool owns(std::string_view path);
  // Hands the reply to `done`, on the io_context; later when the journal
  // or the texts must be read. This must outlive the call of `done`.
  void handle(std::string_view method, std::string_view target, Done done);

  // Bytes of the changes kept (their texts and line indexes).
  std::size_t kept_bytes() const { return kept_bytes_; }

 private:
  // A past change as opened, kept for its next pages and lines.
  struct Opened {
    explicit Opened(DeskPastChange opened)
        : change(std::move(opened)),
          before(index_of(change.before, change.before_lines)),
          after(index_of(change.after, change.after_lines)) {}
    std::size_t bytes() const {
      return change.before.size() + change.after.size() + before.bytes() + after.bytes();
    }
    // The page of its model from item `from` (diff_model.h).
    std::string page(std::size_t from) const;
    // The index `made` with the text, taken out of it; else one made now
    // (only where no worker made it, as in tests).
    static LineIndex index_of(std::string_view text, std::optional<LineIndex>& made);
    DeskPastChange change;
    LineIndex before;
    LineIndex after;
    std::uint64_t order = 0;  // when it was opened
  };
  using Serve = std::function<Reply(const Opened&)>;

  // What serves a GET of a change's route `rest` ("", "/diff", "/lines");
  // none for another route.
  static Serve serve_for(std::string_view rest, std::string_view target);
  void list(std::string_view target, Done done);
  // A request for a change's route, waiting for the change to be opened.
  struct Waiting {
    std::uint64_t entry = 0;
    Serve serve;
    Done done;
  };
  // Serves the change at `entry`, opening it first when it is not kept.
  // One change is read at a time, so that its texts (up to twice the
  // largest file a server reads) are held once whatever comes: a request
  // for another meanwhile waits, and a later one takes its place (the
  // earlier is told so), as when the person clicks quickly down the list.
  void with_change(std::uint64_t entry, Serve serve, Done done);
  void open(Waiting first);
  void opened(Result<DeskPastChange> change);
  const Opened& keep(std::uint64_t entry, DeskPastChange change);
  void revert(std::uint64_t entry, Done done);

  DeskSource& source_;
  // The changes opened last, at most kKeptChanges.
  std::map<std::uint64_t, std::shared_ptr<Opened>> opened_;
  std::size_t kept_bytes_ = 0;
  std::uint64_t opened_count_ = 0;
  // The requests for the change being read (none when none is), and the
  // latest request for another.
  std::vector<Waiting> opening_;
  std::optional<Waiting> next_;
};

}  // namespace varnock::desk
