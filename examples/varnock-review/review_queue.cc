#include "review_queue.h"

#include <algorithm>

namespace varnock::review {

std::optional<PendingReview> ReviewQueue::pop() {
  if (waiting_.empty()) return std::nullopt;
  PendingReview next = std::move(waiting_.front());
  waiting_.pop_front();
  return next;
}

std::size_t ReviewQueue::drop_connection(int connection) {
  const std::size_t before = waiting_.size();
  std::erase_if(waiting_,
                [connection](const PendingReview& r) { return r.connection == connection; });
  return before - waiting_.size();
}

}  // namespace varnock::review
