// Desktop notifications for the person who is not looking: each proposal
// that waits is announced through the freedesktop notification service on
// the session bus, saying enough to judge whether it needs them now (the
// project, the file, new or edited, its size) and nothing more: never the
// content, never the desk's address or token.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "core/review_core.h"

namespace varnock::review {

// The summary and body of a proposal's notification; fields escaped for
// the screen and for the markup some notification servers read.
struct Announcement {
  std::string summary;
  std::string body;
};
Announcement announce_proposal(const QueuedProposal& proposal);

class DesktopNotifier : public FrontEnd {
 public:
  // `failed` is told, once, the first time a notification cannot be sent
  // (no session bus, no notification service); called on the loop's thread
  // through `post`.
  explicit DesktopNotifier(std::function<void(std::function<void()>)> post,
                           std::function<void(std::string_view)> failed);
  // Waits for the call under way, if any (at most its time limit); what
  // is still queued is dropped.
  ~DesktopNotifier() override;
  DesktopNotifier(const DesktopNotifier&) = delete;
  DesktopNotifier& operator=(const DesktopNotifier&) = delete;

  void proposal_queued(const QueuedProposal& proposal) override;

 private:
  void send_all(std::stop_token stop);

  std::function<void(std::function<void()>)> post_;
  std::function<void(std::string_view)> failed_;
  std::mutex mutex_;
  std::condition_variable_any wake_;
  std::deque<Announcement> queue_;
  bool told_failure_ = false;  // on the sending thread
  std::jthread sender_;        // last: it uses the above
};

}  // namespace varnock::review
