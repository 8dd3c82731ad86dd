// Opening the desk in the person's default browser.
#pragma once

#include <functional>
#include <string>

#include "base/result.h"
#include "system/child_runner.h"

namespace varnock::review {

// A page that sends the browser on to `url`, written 0600 into the
// directory `private_dir` (the user's own). The desk's address carries its
// secret token; handing the browser this file instead of the address keeps
// the token out of every process's command line, where other users could
// read it. Removes the file when destroyed.
class LaunchPage {
 public:
  static Result<LaunchPage> write(const std::string& private_dir, const std::string& url);
  LaunchPage(LaunchPage&& other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }
  LaunchPage& operator=(LaunchPage&&) = delete;
  ~LaunchPage();

  const std::string& path() const { return path_; }

 private:
  explicit LaunchPage(std::string path) : path_(std::move(path)) {}
  std::string path_;
};

// The same page, written 0600 to the fixed name "varnock-review-open.html"
// in `private_dir` (the user's own), whole or not at all, and left there: a
// browser that was already running may read it after xdg-open has ended.
// Each call replaces the last one's. Gives its path.
Result<std::string> write_kept_launch_page(const std::string& private_dir, const std::string& url);

// Starts `xdg-open path` through `runner` (no shell; it may outlive the
// reviewer) and calls `told` on the loop once it has ended: a failure when
// it could not be started or did not succeed.
void open_in_browser(ChildRunner& runner, const std::string& path,
                     std::function<void(Status)> told);

}  // namespace varnock::review
