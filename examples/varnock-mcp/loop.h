// The message loop: request lines in, response lines out, until end of input.
#pragma once

#include <optional>
#include <string_view>

#include "dispatch.h"
#include "json/value.h"

namespace varnock {

// Serves the lines read from `input_fd` until its end, one at a time: each
// answer is written to `output_fd` as one line before the next line is read.
// A failed write loses that answer and nothing else. `review` is lent to the
// dispatcher for every message.
void run_message_loop(int input_fd, int output_fd, const ReviewStep& review);

// The answer to one line of input, or nothing: nothing for a line that is not
// valid UTF-8 (it is dropped) or is blank by the Unicode White_Space rule,
// the parse-error response for a line that is not exactly one JSON value
// (the untrimmed line is parsed), and otherwise whatever handle_message gives.
std::optional<json::Value> answer_line(std::string_view line, const ReviewStep& review);

}  // namespace varnock
