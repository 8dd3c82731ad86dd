// Writing values and records as compact JSON text.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "json/value.h"

namespace varnock::json {

// Which characters of a string are written as escapes. Either way the text
// reads back as the same value.
enum class Escapes {
  // What JSON requires: the quote, the backslash and the C0 controls.
  kRequired,
  // Also every character is_hidden_character names (json/text.h), as
  // "\u200b" (above U+FFFF as a surrogate pair, "\udb40\udc41"), so that
  // the text holds none of them raw. Bytes that are not UTF-8 are copied as
  // they are, as kRequired copies them.
  kHidden,
};

// The compact text of `value`, object members in ascending byte order.
std::string write(const Value& value, Escapes escapes = Escapes::kRequired);
// Appends the compact text of `value` to `out`.
void write_to(const Value& value, std::string& out, Escapes escapes = Escapes::kRequired);

// Appends `text` as a quoted JSON string with the system's escapes.
void write_string(std::string_view text, std::string& out, Escapes escapes = Escapes::kRequired);
// Appends the shortest text that reads back as `number` ("1.0", "1e+16").
void write_float(double number, std::string& out);

// Writes a value's compact text to a sink in pieces of about `chunk_size`
// bytes, so that a text of any size is never held whole. The text is the
// same as write() gives.
class StreamWriter {
 public:
  // Takes each piece; gives false to stop the writing (the failure stays).
  using Sink = std::function<bool(std::string_view)>;

  StreamWriter(Sink sink, std::size_t chunk_size);

  // Each gives false once the sink has refused a piece.
  bool write(const Value& value);
  bool write_raw(std::string_view bytes);
  // Hands the rest of the buffer to the sink.
  bool flush();

 private:
  void stream(const Value& value);
  void stream_string(std::string_view text);
  void flush_if_full();

  Sink sink_;
  std::size_t chunk_size_;
  std::string buffer_;
  bool ok_ = true;
};

// Writes a record's members in the order they are added, for the records
// whose wire order is their declared order rather than sorted.
class RecordWriter {
 public:
  RecordWriter& add(std::string_view name, bool flag);
  RecordWriter& add(std::string_view name, std::string_view text);
  // Without this, a string literal would choose the bool overload.
  RecordWriter& add(std::string_view name, const char* text) {
    return add(name, std::string_view(text));
  }
  // The finished text: "{" members "}".
  std::string finish();

 private:
  void add_name(std::string_view name);
  std::string out_ = "{";
};

}  // namespace varnock::json
