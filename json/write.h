// Writing values and records as compact JSON text.
#pragma once

#include <string>
#include <string_view>

#include "json/value.h"

namespace varnock::json {

// The compact text of `value`, object members in ascending byte order.
std::string write(const Value& value);
// Appends the compact text of `value` to `out`.
void write_to(const Value& value, std::string& out);

// Appends `text` as a quoted JSON string with the system's escapes.
void write_string(std::string_view text, std::string& out);
// Appends the shortest text that reads back as `number` ("1.0", "1e+16").
void write_float(double number, std::string& out);

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
