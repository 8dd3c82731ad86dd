#include "support/vectors.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace varnock::test {

std::vector<VectorRecord> read_vectors(const std::string& file_name) {
  std::ifstream in(std::string(VARNOCK_TEST_VECTORS) + "/" + file_name, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open vectors file " + file_name);
  std::vector<VectorRecord> records;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    VectorRecord record;
    record.line = number;
    std::size_t start = 0;
    for (;;) {
      std::size_t tab = line.find('\t', start);
      record.columns.push_back(line.substr(start, tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    records.push_back(std::move(record));
  }
  return records;
}

std::string from_hex(const std::string& hex) {
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

}  // namespace varnock::test
