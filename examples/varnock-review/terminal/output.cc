#include "terminal/output.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "base/io.h"

namespace varnock::review {
namespace {

struct Piece {
  int fd;
  std::string text;
};

// One writer for the whole run. It is never destroyed: at exit its thread
// may still wait on a reader that stopped, and the process ends it.
class Writer {
 public:
  Writer() {
    std::thread([this] { run(); }).detach();
  }

  void add(int fd, std::string_view text) {
    const std::lock_guard lock(mutex_);
    if (waiting_ > 0 && waiting_ + text.size() > kMaxWaitingOutput) {
      dropped_ += text.size();
      return;
    }
    if (dropped_ > 0) {
      queue(fd, "\n[" + std::to_string(dropped_) +
                    " bytes of output were dropped while nothing read them]\n");
      dropped_ = 0;
    }
    queue(fd, std::string(text));
  }

  bool flush(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return written_.wait_for(lock, limit, [this] { return waiting_ == 0; });
  }

 private:
  void queue(int fd, std::string text) {
    waiting_ += text.size();
    pieces_.push_back({fd, std::move(text)});
    queued_.notify_one();
  }

  void run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      queued_.wait(lock, [this] { return !pieces_.empty(); });
      const Piece piece = std::move(pieces_.front());
      pieces_.pop_front();
      lock.unlock();
      write_all(piece.fd, piece.text);  // a reader that has gone loses it
      lock.lock();
      waiting_ -= piece.text.size();
      if (waiting_ == 0) written_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable queued_;
  std::condition_variable written_;
  std::deque<Piece> pieces_;
  std::size_t waiting_ = 0;  // bytes queued or being written
  std::size_t dropped_ = 0;  // bytes dropped since the last that fitted
};

Writer& writer() {
  static Writer* const the_writer = new Writer;
  return *the_writer;
}

}  // namespace

void print_to(int fd, std::string_view text) { writer().add(fd, text); }

bool flush_output(std::chrono::milliseconds limit) { return writer().flush(limit); }

}  // namespace varnock::review
