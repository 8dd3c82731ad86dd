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

// `text` with these written as visible escapes ("\x1b", "\r", "\u200b",
// "\U000e0041"): C0 and C1 controls and DEL, the bidirectional controls,
// the format characters (Cf: zero-width spaces and joiners, soft hyphen,
// word joiner, byte-order mark, tag characters ...), the line and paragraph
// separators, variation selectors and the Hangul fillers. Bytes that are not
// UTF-8 become "\xNN". LF and TAB are kept as they are.
Shown visible_text(std::string_view text);

// As visible_text, for fields that must stay on one line (paths, ids, pids,
// notices): LF and TAB are escaped too ("\n", "\t").
Shown visible_name(std::string_view text);

// Whether visible_text (visible_name when `one_line`) would escape anything
// in `text`, found without building the escaped copy.
bool holds_hidden_characters(std::string_view text, bool one_line);

// True for a code point visible_text escapes (LF and TAB included).
bool is_hidden_character(char32_t c);

}  // namespace varnock::review
