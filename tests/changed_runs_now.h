// The changed runs of two texts, compared by the reviewer's one way
// (changed_lines.h) on an event loop of the caller's own.
#pragma once

#include <boost/asio/io_context.hpp>
#include <string_view>

#include "core/changed_lines.h"

namespace varnock::test {

inline review::ChangedLines changed_lines_now(std::string_view before, std::string_view after,
                                              const review::DiffBounds& bounds = {}) {
  boost::asio::io_context io;
  review::ChildRunner runner(io);
  review::ChangedLines found;
  review::compare_lines(runner, before, after, bounds,
                        [&](review::ChangedLines lines) { found = std::move(lines); });
  io.run();
  review::count_whole(found, before, after);
  return found;
}

}  // namespace varnock::test
