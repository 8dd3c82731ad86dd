// The desk's page (HTML, CSS, JavaScript), compiled into the program from
// the files in desk/page so that nothing is fetched from anywhere else.
#pragma once

#include <cstddef>
#include <string_view>

namespace varnock::desk {

struct PageFile {
  std::string_view name;   // the file's name in desk/page, e.g. "desk.js"
  std::string_view bytes;  // its content
};

// Generated at build time by embed_page.cmake.
extern const PageFile kPageFiles[];
extern const std::size_t kPageFileCount;

// The file served at `path` ("/" is index.html, "/desk.js" is desk.js),
// or nullptr.
const PageFile* page_file(std::string_view path);

// The Content-Type for a page file, chosen by its name's extension.
std::string_view content_type(const PageFile& file);

}  // namespace varnock::desk
