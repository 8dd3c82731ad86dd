// A scratch directory removed with everything in it when the test ends.
#pragma once

#include <string>

namespace varnock::test {

class TempDir {
 public:
  TempDir();   // mkdtemp under $TMPDIR or /tmp
  ~TempDir();  // removes the tree
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string& name) const;
  // Writes `bytes` to file(name), creating parent directories.
  void write(const std::string& name, const std::string& bytes) const;
  // The bytes of file(name); empty when it cannot be read.
  std::string read(const std::string& name) const;
  // Every regular file under the tree with its bytes, for "nothing changed" checks.
  std::string snapshot() const;

 private:
  std::string path_;
};

// Makes `path` the process's working directory while it lives; the
// previous working directory comes back at the end.
class ScopedDirectory {
 public:
  explicit ScopedDirectory(const std::string& path);
  ~ScopedDirectory();
  ScopedDirectory(const ScopedDirectory&) = delete;
  ScopedDirectory& operator=(const ScopedDirectory&) = delete;

 private:
  std::string saved_;
};

// A scratch directory that is the process's working directory while it
// lives.
class ScratchWorkspace : public TempDir {
 public:
  ScratchWorkspace();

  // The workspace as the system reports it (getcwd).
  const std::string& cwd() const { return cwd_; }

 private:
  ScopedDirectory inside_;
  std::string cwd_;
};

}  // namespace varnock::test
