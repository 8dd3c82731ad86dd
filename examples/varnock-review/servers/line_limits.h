// Bounds on what servers may make the reviewer hold.
#pragma once

#include <cstddef>
#include <string_view>

namespace varnock::review {

struct LineLimits {
  // The longest line accepted from a server: room for a proposal carrying
  // a 256 MiB file with the escapes JSON adds to ordinary text.
  std::size_t max_line = 320u << 20;
  // Bytes held across every connection: unfinished lines and proposals
  // waiting for an answer.
  std::size_t memory_budget = 1024u << 20;
};

// The most JSON values a server's line may hold. A hello or a proposal has
// fewer than twenty; the bound keeps the parsed tree within a small
// multiple of the line however the line is made.
constexpr std::size_t kMaxValuesPerLine = 64;

// Counts the values in a JSON text by its structure outside strings (each
// "[", "{", "," and ":" starts at most one more), stopping once the count
// passes `limit`. Cheap enough to run before the parser on every line.
std::size_t count_json_values(std::string_view line, std::size_t limit);

}  // namespace varnock::review
