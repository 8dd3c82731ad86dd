// Text from a client made safe to show: nothing in it can drive the
// terminal, reorder what the person reads, or hide from them.
#pragma once

#include <string>
#include <string_view>

namespace varnock::review {

// A field as shown, and whether anything in it had to be escaped because it
// would otherwise be invisible or act on the display.
struct Shown {
  std::string text;
  bool hidden = false;
};

// `text` with every character json::is_hidden_character names (json/text.h:
// controls, zero-width, bidirectional and tag characters, variation
// selectors ...) written as a visible escape ("\x1b", "\r", "\u200b",
// "\U000e0041"). Bytes that are not UTF-8 become "\xNN". LF and TAB are
// kept as they are.
Shown visible_text(std::string_view text);

// As visible_text, for fields that must stay on one line (paths, ids, pids,
// notices): LF and TAB are escaped too ("\n", "\t").
Shown visible_name(std::string_view text);

// Whether visible_text (visible_name when `one_line`) would escape anything
// in `text`, found without building the escaped copy.
bool holds_hidden_characters(std::string_view text, bool one_line);

}  // namespace varnock::review
