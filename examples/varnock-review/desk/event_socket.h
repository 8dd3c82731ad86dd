// The page's event channel: a WebSocket on which the desk sends one JSON
// text per queue event (DeskApi::event_json) and reads nothing of use.
// A WebSocket rather than Server-Sent Events: Beast speaks it natively with
// bounded frames and timeouts, its upgrade request carries an Origin the
// desk checks like any state-changing request, and a page whose peer
// vanishes learns of it from the close at once.
#pragma once

#include <deque>
#include <memory>
#include <string>

#include "beast_fwd.h"
#include "desk_hub.h"

namespace varnock::desk {

class EventSocket : public Connection, public std::enable_shared_from_this<EventSocket> {
 public:
  EventSocket(tcp::socket socket, std::shared_ptr<DeskHub> hub);

  // Completes the WebSocket handshake for `upgrade`, a request that has
  // passed the desk's checks, then sends events until either side closes.
  void accept(Request upgrade);

  void close() override;
  bool trusted() const override { return true; }  // made from a checked request
  // Queues `event`; a page that falls this far behind is disconnected
  // rather than let the queue grow without bound.
  void deliver(std::shared_ptr<const std::string> event) override;

 private:
  void on_accept(beast::error_code error);
  void read_next();
  void write_next();

  websocket::stream<beast::tcp_stream> socket_;
  std::shared_ptr<DeskHub> hub_;
  beast::flat_buffer incoming_;
  std::deque<std::shared_ptr<const std::string>> outgoing_;
  bool open_ = false;
};

}  // namespace varnock::desk
