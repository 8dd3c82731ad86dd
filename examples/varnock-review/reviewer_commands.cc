#include "reviewer_commands.h"

#include <boost/asio/io_context.hpp>
#include <optional>

#include "core/visible_text.h"
#include "desk/browser_launch.h"
#include "desk/desk_proof.h"
#include "running_state.h"
#include "system/child_runner.h"
#include "system/kept_token.h"
#include "system/socket_place.h"

namespace varnock::review {
namespace {

std::string waiting_text(std::size_t waiting) {
  if (waiting == 0) return "No proposal waits.\n";
  if (waiting == 1) return "1 proposal waits.\n";
  return std::to_string(waiting) + " proposals wait.\n";
}

std::string describe(const RunningState& state) {
  std::string text = "A reviewer is running (pid " + std::to_string(state.pid) + ").\n";
  text += state.socket.empty() ? "Socket: unnamed.\n"
                               : "Socket: " + visible_name(state.socket).text + "\n";
  text += state.desk.empty() ? "Desk: none (started without --web).\n"
                             : "Desk: " + visible_name(state.desk).text + "\n";
  return text + waiting_text(state.waiting);
}

Result<RunningState> find_reviewer(const PrivateDirectory& directory) {
  Result<std::optional<RunningState>> found = running_reviewer(directory);
  if (!found.ok()) return fail(found.failure());
  if (!found.value()) return fail("no reviewer is running; start one with varnock-review --web");
  return *found.value();
}

// Runs xdg-open on `page` and waits for it.
Status open_page(const std::string& page) {
  boost::asio::io_context io;
  ChildRunner runner(io);
  Status opened = fail("xdg-open did not end");
  open_in_browser(runner, page, [&opened](Status told) { opened = std::move(told); });
  io.run();
  return opened;
}

}  // namespace

Result<StatusReport> reviewer_status() {
  Result<PrivateDirectory> directory = open_state_directory();
  if (!directory.ok()) return fail(directory.failure());
  Result<std::optional<RunningState>> found = running_reviewer(directory.value());
  if (!found.ok()) return fail(found.failure());
  if (!found.value()) return StatusReport{false, "No reviewer is running.\n"};
  return StatusReport{true, describe(*found.value())};
}

Result<std::string> open_running_desk() {
  Result<PrivateDirectory> directory = open_state_directory();
  if (!directory.ok()) return fail(directory.failure());
  Result<RunningState> state = find_reviewer(directory.value());
  if (!state.ok()) return fail(state.failure());
  if (state.value().desk.empty()) {
    return fail("the running reviewer (pid " + std::to_string(state.value().pid) +
                ") has no desk; restart it with --web");
  }
  Result<std::string> token = read_kept_token(directory.value());
  if (!token.ok()) return fail(token.failure());
  if (Status proven = desk::prove_desk(state.value().desk, token.value()); !proven.ok()) {
    return fail(proven.failure());
  }
  Result<std::string> socket = default_socket_path();
  if (!socket.ok()) return fail(socket.failure());
  const std::string& place = socket.value();
  Result<std::string> page = write_kept_launch_page(place.substr(0, place.rfind('/')),
                                                    state.value().desk + "?token=" + token.value());
  if (!page.ok()) return fail(page.failure());
  if (Status opened = open_page(page.value()); !opened.ok()) return fail(opened.failure());
  return "Opened the desk at " + state.value().desk + "\n";
}

}  // namespace varnock::review
