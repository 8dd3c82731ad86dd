#include "servers/session.h"

#include <unistd.h>

#include <algorithm>
#include <boost/asio/write.hpp>
#include <variant>

#include "servers/line_limits.h"
#include "core/visible_text.h"

namespace varnock::review {
namespace {

namespace asio = boost::asio;

// The message of a line, or nothing when it holds too many JSON values to
// parse. Any thread may call it.
std::optional<mcp::ServerMessage> parse_line(std::string line) {
  if (count_json_values(line, kMaxValuesPerLine) > kMaxValuesPerLine) return std::nullopt;
  return mcp::read_server_message(std::move(line));
}

std::string kibibytes(std::size_t bytes) { return std::to_string(bytes / 1024) + " KiB"; }

}  // namespace

Session::Session(SharedState& shared, int number, Socket socket)
    : shared_(shared),
      number_(number),
      socket_(std::move(socket)),
      hello_timer_(socket_.get_executor()),
      parent_timer_(socket_.get_executor()) {
  info_.number = number;
}

void Session::start() {
  Result<Peer> peer = peer_of(socket_.native_handle());
  if (!peer.ok()) return close(peer.failure());
  peer_ = peer.value();
  info_.pid = peer_.pid;
  if (peer_.uid != ::getuid()) {
    return close("it belongs to user " + std::to_string(peer_.uid) + ", not to you");
  }
  Result<Workspace> workspace = open_workspace(peer_.pid);
  if (!workspace.ok()) return close(workspace.failure());
  workspace_ = std::make_shared<const Workspace>(std::move(workspace).value());
  info_.workspace = workspace_->name;
  hello_timer_.expires_after(std::chrono::seconds(kHelloSeconds));
  hello_timer_.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
    if (!error && !self->said_hello_) self->close("it sent no hello within 10 s");
  });
  read_more();
}

void Session::read_more() {
  socket_.async_read_some(
      asio::buffer(buffer_),
      [self = shared_from_this()](const boost::system::error_code& error, std::size_t count) {
        if (self->closed_) return;
        if (error) {
          const std::size_t left = self->lines_.pending();
          return self->close(left == 0 ? ""
                                       : "it left in the middle of a line (" +
                                             std::to_string(left) + " bytes dropped)");
        }
        self->on_read(count);
      });
}

void Session::on_read(std::size_t count) {
  const LineLimits& limits = shared_.settings.limits;
  if (lines_.pending() + count > limits.max_line) {
    return close("a line over the limit of " + kibibytes(limits.max_line) + " was dropped");
  }
  if (!shared_.within_budget(count)) return close(budget_used_up());
  lines_.append(std::string_view(buffer_.data(), count));
  take_lines();
}

void Session::take_lines() {
  while (!closed_) {
    std::optional<std::string> line = lines_.take_line();
    if (!line) return read_on();
    if (line->size() > kParseOnLoop) return parse_off_loop(std::move(*line));
    handle_message(parse_line(std::move(*line)));
  }
}

// A line that has grown past kParseOnLoop is given room to grow to the
// longest line the budget allows, so that the rest of it is appended in
// place: the loop copies each block it receives once and never the line.
// Only the pages its bytes fill are taken.
void Session::read_on() {
  const LineLimits& limits = shared_.settings.limits;
  if (lines_.pending() > kParseOnLoop &&
      !lines_.reserve(std::min(limits.max_line, limits.memory_budget))) {
    return close("no memory for a line of " + kibibytes(lines_.pending()) + "; it was dropped");
  }
  read_more();
}

// The line stays counted until it is parsed, with the copies its parse
// makes; when the budget has no room for them the line is dropped.
void Session::parse_off_loop(std::string line) {
  parsing_bytes_ = line.size();
  if (!shared_.within_budget(kParseCopies * line.size())) return close(budget_used_up());
  parsing_bytes_ += kParseCopies * line.size();
  asio::post(shared_.core.workers(), [self = shared_from_this(), line = std::move(line)]() mutable {
    std::optional<mcp::ServerMessage> message = parse_line(std::move(line));
    asio::post(self->socket_.get_executor(), [self, message = std::move(message)]() mutable {
      self->parsing_bytes_ = 0;
      if (self->closed_) return;
      self->handle_message(std::move(message));
      self->take_lines();
    });
  });
}

void Session::handle_message(std::optional<mcp::ServerMessage> parsed) {
  if (!parsed) {
    return close("a line with more than " + std::to_string(kMaxValuesPerLine) +
                 " JSON values was dropped");
  }
  mcp::ServerMessage& message = *parsed;
  if (auto* hello = std::get_if<mcp::BrokerHello>(&message)) return on_hello(std::move(*hello));
  if (auto* proposal = std::get_if<mcp::BrokerProposal>(&message)) {
    if (said_hello_ && shared_.core.in_flight(number_) >= kMaxProposalsAtOnce) {
      return close("it sent more than " + std::to_string(kMaxProposalsAtOnce) +
                   " proposals at once");
    }
    if (said_hello_) {
      check_parent();
      shared_.core.receive(number_, std::move(*proposal));
      return watch_parent();
    }
    deliver(mcp::decision_line(proposal->id, false));
    return shared_.core.notice("Rejected from " + name() + ": a proposal before its hello.");
  }
  const mcp::UnusableLine& unusable = std::get<mcp::UnusableLine>(message);
  if (!unusable.reason.empty()) {
    shared_.core.notice("Ignoring from " + name() + ": " + visible_name(unusable.reason).text);
  }
  if (unusable.reject_id) deliver(mcp::decision_line(*unusable.reject_id, false));
}

void Session::on_hello(mcp::BrokerHello hello) {
  if (said_hello_) return shared_.core.notice("Ignoring from " + name() + ": a second hello.");
  const std::string& limit = shared_.settings.workspace_limit;
  if (!limit.empty() && !is_inside(workspace_->name, limit)) {
    return close("it works in " + visible_name(workspace_->name).text + ", outside " +
                 visible_name(limit).text);
  }
  said_hello_ = true;
  hello_timer_.cancel();
  if (Result<ProcessStat> stat = process_stat(peer_.pid); stat.ok()) at_hello_ = stat.value();
  if (hello.pid && *hello.pid != static_cast<std::uint64_t>(peer_.pid)) info_.hello_pid = hello.pid;
  info_.thread_id = std::move(hello.thread_id);
  std::weak_ptr<Session> weak = weak_from_this();
  shared_.core.server_ready(info_, workspace_, [weak](const Decision& decision) {
    if (auto self = weak.lock()) self->deliver(mcp::decision_line(decision.id, decision.accepted));
  });
  shared_.core.notice(describe_server(info_) + " connected.");
}

// When the agent's host is killed, the server it started lives on under
// another parent (it reads nothing while a review waits), and no agent reads
// its answers: the core is told, once. Only the pid the kernel gave for
// this connection is looked at; a process there that started at another
// time was given the pid after the server ended, which the connection's end
// tells.
void Session::check_parent() {
  if (orphaned_ || !at_hello_) return;
  Result<ProcessStat> now = process_stat(peer_.pid);
  if (!now.ok() || now.value().start_time != at_hello_->start_time) return;
  if (now.value().parent == at_hello_->parent) return;
  orphaned_ = true;
  shared_.core.server_orphaned(number_);
}

// Looks at the parent every kParentCheck while proposals of this server
// wait; a server with none waiting is looked at when it sends the next.
void Session::watch_parent() {
  if (watching_parent_ || orphaned_ || closed_ || !at_hello_) return;
  if (shared_.core.in_flight(number_) == 0) return;
  watching_parent_ = true;
  parent_timer_.expires_after(kParentCheck);
  parent_timer_.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
    self->watching_parent_ = false;
    if (error || self->closed_) return;
    self->check_parent();
    self->watch_parent();
  });
}

void Session::deliver(std::string_view line) {
  if (closed_) return;
  if (queued_bytes_ + line.size() > kMaxQueuedWrites) {
    return close("it does not read its decisions");
  }
  writes_.emplace_back(line);
  writes_.back() += '\n';
  queued_bytes_ += writes_.back().size();
  if (writes_.size() == 1) write_next();
}

void Session::write_next() {
  asio::async_write(
      socket_, asio::buffer(writes_.front()),
      [self = shared_from_this()](const boost::system::error_code& error, std::size_t) {
        if (self->closed_) return;
        if (error) return self->close("");
        self->queued_bytes_ -= self->writes_.front().size();
        self->writes_.pop_front();
        if (!self->writes_.empty()) self->write_next();
      });
}

void Session::close(std::string_view why) {
  if (closed_) return;
  closed_ = true;
  hello_timer_.cancel();
  parent_timer_.cancel();
  boost::system::error_code ignored;
  socket_.close(ignored);
  std::string text = name() + (why.empty() ? " disconnected." : " is disconnected: ");
  if (!why.empty()) text += std::string(why) + ".";
  if (said_hello_ || !why.empty()) shared_.core.notice(text);
  if (said_hello_) shared_.core.server_gone(number_);
  shared_.session_closed(number_);
}

std::string Session::budget_used_up() const {
  return "the reviewer's memory budget of " + kibibytes(shared_.settings.limits.memory_budget) +
         " is used up; a line was dropped";
}

std::string Session::name() const {
  return said_hello_
             ? describe_server(info_)
             : "server #" + std::to_string(number_) + " (pid " + std::to_string(peer_.pid) + ")";
}

}  // namespace varnock::review
