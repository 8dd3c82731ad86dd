#include "support/temp_dir.h"

#include <stdlib.h>  // mkdtemp
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace varnock::test {
namespace {

namespace fs = std::filesystem;

std::string working_directory() {
  std::error_code error;
  return fs::current_path(error).string();
}

std::string temporary_root() {
  const char* root = std::getenv("TMPDIR");
  return root != nullptr && *root != '\0' ? root : "/tmp";
}

// One line describing `entry` for snapshot(): its kind, its path relative to
// `root`, and its bytes (regular files) or target (symbolic links). Nothing
// else is opened, so a FIFO or a device in the tree is never read.
std::string describe_entry(const fs::directory_entry& entry, const fs::path& root) {
  std::error_code error;
  std::string name = fs::relative(entry.path(), root, error).string();
  fs::file_status status = entry.symlink_status(error);
  if (fs::is_symlink(status)) {
    return "link " + name + " -> " + fs::read_symlink(entry.path(), error).string() + "\n";
  }
  if (fs::is_directory(status)) return "dir " + name + "\n";
  if (!fs::is_regular_file(status)) return "other " + name + "\n";
  std::ifstream in(entry.path(), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return "file " + name + " " + std::to_string(bytes.size()) + "\n" + bytes + "\n";
}

}  // namespace

TempDir::TempDir() {
  std::string pattern = temporary_root() + "/varnock-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed under " + temporary_root() + ": " +
                             std::to_string(errno));
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code error;
  fs::remove_all(path_, error);
}

std::string TempDir::file(const std::string& name) const { return path_ + "/" + name; }

void TempDir::write(const std::string& name, const std::string& bytes) const {
  fs::path target(file(name));
  fs::create_directories(target.parent_path());
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + target.string());
}

std::string TempDir::read(const std::string& name) const {
  std::ifstream in(file(name), std::ios::binary);
  if (!in) return std::string();
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string TempDir::snapshot() const {
  std::vector<std::string> lines;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(path_, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    lines.push_back(describe_entry(*it, path_));
  }
  std::sort(lines.begin(), lines.end());
  std::string snapshot;
  for (const std::string& line : lines) snapshot += line;
  return snapshot;
}

ScopedDirectory::ScopedDirectory(const std::string& path) : saved_(working_directory()) {
  if (chdir(path.c_str()) != 0) throw std::runtime_error("cannot enter " + path);
}

ScopedDirectory::~ScopedDirectory() {
  if (chdir(saved_.c_str()) != 0) std::abort();
}

ScratchWorkspace::ScratchWorkspace() : inside_(path()), cwd_(working_directory()) {}

}  // namespace varnock::test
