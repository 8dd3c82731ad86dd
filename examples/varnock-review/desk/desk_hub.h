// What the desk's server and its connections share: who the desk is, its
// API over the source, and the open connections, so that events reach every
// page and the server can close them all.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <string>

#include "desk_api.h"
#include "request_check.h"

namespace varnock::desk {

// One open connection, HTTP or WebSocket.
class Connection {
 public:
  virtual ~Connection() = default;
  // Ends the connection at once; pending handlers then finish with errors.
  virtual void close() = 0;
  // Sends an event to the page if this is its event socket.
  virtual void deliver(std::shared_ptr<const std::string> /*event*/) {}
  // Whether a request on it has shown the desk's token.
  virtual bool trusted() const = 0;
};

struct DeskHub {
  DeskHub(DeskIdentity identity_, DeskSource& source, std::size_t max_connections_)
      : identity(std::move(identity_)), api(source), max_connections(max_connections_) {}

  // Whether another connection may open. Forgets closed ones and, when the
  // desk is full, closes the oldest one that has shown no token yet: idle
  // connections from anyone on this host cannot lock the person out.
  bool make_room();
  void add(const std::shared_ptr<Connection>& connection) { connections.push_back(connection); }
  // Gives `event` to every connection (the event sockets send it on).
  void broadcast(const std::string& event);
  void close_all();

  DeskIdentity identity;
  DeskApi api;
  std::size_t max_connections;
  bool stopped = false;  // the server is gone: use nothing of the source
  std::list<std::weak_ptr<Connection>> connections;
};

}  // namespace varnock::desk
