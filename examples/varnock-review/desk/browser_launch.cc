#include "desk/browser_launch.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "base/io.h"
#include "base/os_error.h"
#include "base/unique_fd.h"
#include "system/atomic_write.h"

namespace varnock::review {
namespace {

constexpr std::string_view kPageStart =
    "<!DOCTYPE html><meta charset=\"utf-8\"><meta name=\"referrer\" content=\"no-referrer\">"
    "<meta http-equiv=\"refresh\" content=\"0;url=";
constexpr std::string_view kPageEnd = "\"><title>varnock-review desk</title>\n";

// The desk's own URL holds only [A-Za-z0-9:/.?=_-]; anything else would not
// be ours, so it is refused rather than escaped.
bool plain_url(std::string_view url) {
  for (char c : url) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    std::string_view(":/.?=_-[]&%").find(c) != std::string_view::npos;
    if (!ok) return false;
  }
  return true;
}

std::string page_text(const std::string& url) {
  return std::string(kPageStart) + url + std::string(kPageEnd);
}

}  // namespace

Result<LaunchPage> LaunchPage::write(const std::string& private_dir, const std::string& url) {
  if (!plain_url(url)) return fail("the desk's address has unexpected characters");
  std::string path = private_dir + "/varnock-review-desk-XXXXXX.html";
  UniqueFd fd(::mkstemps(path.data(), 5));
  if (!fd.valid()) return fail(system_error("cannot write " + path, errno));
  LaunchPage page(path);
  if (const int error = write_all(fd.get(), page_text(url)); error != 0) {
    return fail(system_error("cannot write " + path, error));
  }
  return page;
}

Result<std::string> write_kept_launch_page(const std::string& private_dir, const std::string& url) {
  if (!plain_url(url)) return fail("the desk's address has unexpected characters");
  const std::string name = "varnock-review-open.html";
  const std::string path = private_dir + "/" + name;
  UniqueFd directory(::open(private_dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!directory.valid()) return fail(system_error("cannot open " + private_dir, errno));
  Result<std::string> written = replace_file(ReplaceRequest{
      directory.get(), name, page_text(url), mode_t{0600}, false, [] { return Status{}; }});
  if (!written.ok()) return fail("cannot write " + path + ": " + written.failure());
  return path;
}

LaunchPage::~LaunchPage() {
  if (!path_.empty()) ::unlink(path_.c_str());
}

void open_in_browser(ChildRunner& runner, const std::string& path,
                     std::function<void(Status)> told) {
  ChildJob job;
  job.args = {"xdg-open", path};
  job.keep_output = false;
  job.outlives_runner = true;  // it may wait for the browser it started
  runner.run(std::move(job), [told = std::move(told)](Result<ChildOutput> ran) {
    if (!ran.ok()) return told(fail("cannot start xdg-open: " + ran.failure()));
    const int status = ran.value().status;
    if (status == 127) return told(fail("cannot start xdg-open"));
    if (status != 0) return told(fail("xdg-open failed with status " + std::to_string(status)));
    told({});
  });
}

}  // namespace varnock::review
