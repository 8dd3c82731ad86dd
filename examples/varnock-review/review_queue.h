// Proposals waiting for the person, first come first served.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>

#include "messages.h"

namespace varnock::review {

// A proposal and the connection its decision must go back on.
struct PendingReview {
  int connection = 0;
  Proposal proposal;
};

class ReviewQueue {
 public:
  void push(PendingReview review) { waiting_.push_back(std::move(review)); }
  // The oldest waiting proposal, taken out of the queue.
  std::optional<PendingReview> pop();
  // Forgets every waiting proposal of a connection that has closed, since
  // nobody is left to tell; returns how many there were.
  std::size_t drop_connection(int connection);
  std::size_t size() const { return waiting_.size(); }

 private:
  std::deque<PendingReview> waiting_;
};

}  // namespace varnock::review
