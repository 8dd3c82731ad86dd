#include "page_files.h"

namespace varnock::desk {
namespace {

bool ends_with(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

}  // namespace

const PageFile* page_file(std::string_view path) {
  if (path == "/") path = "/index.html";
  if (path.empty() || path.front() != '/') return nullptr;
  path.remove_prefix(1);
  for (std::size_t i = 0; i < kPageFileCount; ++i) {
    if (kPageFiles[i].name == path) return &kPageFiles[i];
  }
  return nullptr;
}

std::string_view content_type(const PageFile& file) {
  if (ends_with(file.name, ".html")) return "text/html; charset=utf-8";
  if (ends_with(file.name, ".css")) return "text/css; charset=utf-8";
  if (ends_with(file.name, ".js")) return "text/javascript; charset=utf-8";
  if (ends_with(file.name, ".svg")) return "image/svg+xml";
  return "application/octet-stream";
}

}  // namespace varnock::desk
