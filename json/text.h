// UTF-8 text helpers shared by every reader of lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace varnock::json {

// True when `bytes` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool is_valid_utf8(std::string_view bytes);

// The byte length of the well-formed sequence of two to four bytes that
// starts `bytes`, or 0 when none does (an ASCII or stray byte, an overlong
// form, a surrogate, a code point above U+10FFFF, a cut-off sequence).
// `bytes` must not be empty.
std::size_t utf8_sequence_length(std::string_view bytes);

// The code point of `sequence`, one well-formed UTF-8 sequence (an ASCII
// byte, or as utf8_sequence_length measures one).
char32_t decode_utf8(std::string_view sequence);

// True for a code point that shows nothing or acts on the display rather
// than showing itself: C0 and C1 controls (LF and TAB too) and DEL, the
// bidirectional controls, the format characters (Cf: zero-width spaces and
// joiners, soft hyphen, word joiner, byte-order mark, tag characters ...),
// the line and paragraph separators, variation selectors and the Hangul
// fillers. The one list of them: what the reviewer escapes on the screen
// and the journal escapes in its text.
bool is_hidden_character(char32_t c);

// A mask with the high bit set in each byte of `word` that is a quote, a
// backslash or a control character: the bytes a JSON string never holds as
// they stand. Exact for the lowest such byte and so for "is there one",
// though a byte above it may be marked too. Long strings are scanned a word
// at a time.
inline std::uint64_t escape_mask(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kHighBits = 0x8080808080808080u;
  const auto has_zero_byte = [](std::uint64_t x) { return (x - kOnes) & ~x & kHighBits; };
  const std::uint64_t below_space = (word - kOnes * 0x20) & ~word & kHighBits;
  return below_space | has_zero_byte(word ^ (kOnes * '"')) | has_zero_byte(word ^ (kOnes * '\\'));
}

// The first `size` bytes of `text`, or up to three fewer so that no
// character is cut: where a long text is shown only in part.
std::string_view utf8_head(std::string_view text, std::size_t size);

// `text` without the Unicode White_Space characters at either end. The 25
// characters are U+0009-U+000D, U+0020, U+0085, U+00A0, U+1680,
// U+2000-U+200A, U+2028, U+2029, U+202F, U+205F and U+3000. `text` must be
// valid UTF-8.
std::string_view trim_white_space(std::string_view text);

}  // namespace varnock::json
