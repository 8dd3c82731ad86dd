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

// Reads tests/vectors/<file_name>, split on line feeds and tabs; lines
// that are empty or start with '#' are skipped.
std::vector<VectorRecord> read_vectors(const std::string& file_name);

// The bytes a column written with C escapes stands for: \n \r \t \\ and
// \xHH (two hexadecimal digits); any other byte stands for itself.
std::string unescape(const std::string& text);

// unescape(text) after every {PIECE}*N in it, innermost first, is replaced
// by N copies of PIECE.
std::string expand(std::string text);

// Decodes lowercase hexadecimal into bytes.
std::string from_hex(const std::string& hex);

}  // namespace varnock::test
