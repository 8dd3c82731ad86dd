#include "desk_hub.h"

namespace varnock::desk {

bool DeskHub::make_room() {
  connections.remove_if([](const std::weak_ptr<Connection>& c) { return c.expired(); });
  if (stopped) return false;
  if (connections.size() < max_connections) return true;
  for (auto it = connections.begin(); it != connections.end(); ++it) {
    const std::shared_ptr<Connection> connection = it->lock();
    if (connection && !connection->trusted()) {
      connection->close();
      connections.erase(it);
      return true;
    }
  }
  return false;
}

void DeskHub::broadcast(const std::string& event) {
  const auto shared = std::make_shared<const std::string>(event);
  for (const std::weak_ptr<Connection>& weak : connections) {
    if (const std::shared_ptr<Connection> connection = weak.lock()) connection->deliver(shared);
  }
}

void DeskHub::close_all() {
  stopped = true;
  for (const std::weak_ptr<Connection>& weak : connections) {
    if (const std::shared_ptr<Connection> connection = weak.lock()) connection->close();
  }
  connections.clear();
}

}  // namespace varnock::desk
