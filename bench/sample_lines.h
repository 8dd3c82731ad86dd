// Sample request lines shared by the benchmarks.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varnock::bench {

// Prose with the characters that cost the writer something: line feeds,
// tabs, quotes, backslashes, and two-, three- and four-byte characters.
extern const std::string_view kParagraph;

// Text of about `size` bytes made of kParagraph.
std::string sample_content(std::size_t size);

// A write_file request line of about `size` bytes, most of it "content"
// (made once per size).
const std::string& request_line(std::size_t size);

}  // namespace varnock::bench
