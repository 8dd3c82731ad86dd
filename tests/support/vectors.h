// The JSON text vectors kept beside the tests.
#pragma once

#include <string>
#include <vector>

namespace varnock::test {

// One record of a vectors file: its columns, with every HEX column decoded
// to its bytes where the caller asks for it.
struct VectorRecord {
  std::vector<std::string> columns;
  int line = 0;  // 1-based line in the file, for failure messages
};

// Reads tests/vectors/<file_name>, split on line feeds and tabs; skips blank
// lines and lines that start with '#' (headings of a group of records).
std::vector<VectorRecord> read_vectors(const std::string& file_name);

// Decodes lowercase hexadecimal into bytes.
std::string from_hex(const std::string& hex);

}  // namespace varnock::test
