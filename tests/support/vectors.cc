#include "support/vectors.h"

#include <fstream>
#include <regex>
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
    if (line.empty() || line[0] == '#') continue;  // blank lines and comments
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

std::string unescape(const std::string& text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      bytes += text[i];
    } else if (const char c = text[++i]; c == 'x') {
      bytes += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      bytes += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
    }
  }
  return bytes;
}

std::string expand(std::string text) {
  static const std::regex kRepeat(R"(\{([^{}]*)\}\*([0-9]+))");
  for (std::smatch repeat; std::regex_search(text, repeat, kRepeat);) {
    std::string copies;
    for (int i = std::stoi(repeat[2].str()); i > 0; --i) copies += repeat[1].str();
    text.replace(static_cast<std::size_t>(repeat.position(0)),
                 static_cast<std::size_t>(repeat.length(0)), copies);
  }
  return unescape(text);
}

}  // namespace varnock::test
