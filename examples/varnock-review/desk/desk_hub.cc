#include "desk_hub.h"

namespace varnock::desk {

bool DeskHub::has_room() {
  connections.remove_if([](const std::weak_ptr<Connection>& c) { return c.expired(); });
  return !stopped && connections.size() < max_connections;
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
