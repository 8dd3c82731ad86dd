// The reviewer's listening socket and its ownership of the socket file.
#pragma once

#include <sys/types.h>

#include <string>

#include "base/result.h"
#include "base/unique_fd.h"

namespace varnock::review {

class Listener {
 public:
  // Listens on a Unix-domain stream socket at `path`, readable and writable
  // by the owner only. An existing file at `path` is taken over only when it
  // is a socket that nobody answers on (left behind by a reviewer that
  // died); a live reviewer there, or a file that is not a socket, is a
  // failure and nothing is touched.
  static Result<Listener> open(const std::string& path);

  // The listening socket a service manager passed (socket activation):
  // used as it is, and its file is never removed.
  static Listener adopt(UniqueFd fd, std::string path);

  Listener(Listener&& other) noexcept;
  Listener& operator=(Listener&&) = delete;
  // Removes the socket file, unless it has been replaced by someone else's.
  ~Listener();

  int fd() const { return fd_.get(); }
  // The socket file's path ("" when a service manager passed a socket
  // without one).
  const std::string& path() const { return path_; }

 private:
  Listener(std::string path, UniqueFd fd, dev_t device, ino_t inode)
      : path_(std::move(path)), fd_(std::move(fd)), device_(device), inode_(inode) {}

  std::string path_;
  UniqueFd fd_;
  // Identity of the socket file this listener made, to unlink only that.
  dev_t device_ = 0;
  ino_t inode_ = 0;
  bool owns_file_ = true;
};

}  // namespace varnock::review
