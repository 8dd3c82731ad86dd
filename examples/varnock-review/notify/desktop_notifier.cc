#include "notify/desktop_notifier.h"

#include <systemd/sd-bus.h>

#include "core/visible_text.h"
#include "desk/markdown.h"

namespace varnock::review {
namespace {

// How long one call to the notification service may take.
constexpr std::uint64_t kCallMicroseconds = 2'000'000;
// Notifications waiting to be sent; past this, new ones are dropped.
constexpr std::size_t kMaxQueued = 16;

// Visible text with the characters notification markup reads escaped.
std::string plain(std::string_view text) {
  std::string out;
  desk::append_html_escaped(visible_name(text).text, out);
  return out;
}

std::string size_text(std::size_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " bytes";
  if (bytes < (std::size_t{1} << 20)) return std::to_string((bytes + 1023) / 1024) + " KiB";
  return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB";
}

std::string project_of(const std::string& workspace) {
  const std::size_t slash = workspace.find_last_of('/');
  return slash == std::string::npos || slash + 1 == workspace.size()
             ? workspace
             : workspace.substr(slash + 1);
}

// One Notify call; the failure's text when it cannot be made.
std::string notify(sd_bus* bus, const Announcement& announcement) {
  sd_bus_error error{};  // SD_BUS_ERROR_NULL, whose compound literal is not C++
  sd_bus_message* reply = nullptr;
  const int result = sd_bus_call_method(
      bus, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
      "org.freedesktop.Notifications", "Notify", &error, &reply, "susssasa{sv}i",
      "varnock-review", 0u, "dialog-question", announcement.summary.c_str(),
      announcement.body.c_str(), 0, 0, -1);
  std::string why;
  if (result < 0) why = error.message != nullptr ? error.message : "the call failed";
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  return why;
}

}  // namespace

Announcement announce_proposal(const QueuedProposal& proposal) {
  const std::string what = proposal.new_file ? "new file" : "edit";
  return Announcement{
      "A proposed " + what + " waits for your review",
      plain(project_of(proposal.server.workspace)) + ": " + plain(proposal.target) + " (" + what +
          ", " + size_text(proposal.after.size()) + ")"};
}

DesktopNotifier::DesktopNotifier(std::function<void(std::function<void()>)> post,
                                 std::function<void(std::string_view)> failed)
    : post_(std::move(post)),
      failed_(std::move(failed)),
      sender_([this](std::stop_token stop) { send_all(stop); }) {}

DesktopNotifier::~DesktopNotifier() {
  sender_.request_stop();
  wake_.notify_all();
}

void DesktopNotifier::proposal_queued(const QueuedProposal& proposal) {
  if (!proposal.refusal.empty()) return;
  {
    const std::lock_guard hold(mutex_);
    if (queue_.size() >= kMaxQueued) return;
    queue_.push_back(announce_proposal(proposal));
  }
  wake_.notify_one();
}

void DesktopNotifier::send_all(std::stop_token stop) {
  sd_bus* bus = nullptr;
  for (;;) {
    Announcement next;
    {
      std::unique_lock hold(mutex_);
      if (!wake_.wait(hold, stop, [this] { return !queue_.empty(); }) || stop.stop_requested()) {
        break;
      }
      next = std::move(queue_.front());
      queue_.pop_front();
    }
    if (bus == nullptr && sd_bus_open_user(&bus) >= 0) {
      sd_bus_set_method_call_timeout(bus, kCallMicroseconds);
    }
    const std::string why = bus == nullptr ? "no session bus" : notify(bus, next);
    if (!why.empty() && !told_failure_) {
      told_failure_ = true;
      post_([failed = failed_, why] { failed("desktop notifications failed: " + why); });
    }
  }
  sd_bus_flush_close_unref(bus);
}

}  // namespace varnock::review
