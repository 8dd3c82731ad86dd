// Process start-up: the standard descriptors, the broken-pipe signal, and the
// one connection to the review broker that the process will ever have.
#pragma once

#include <memory>

#include "broker_connection.h"

namespace varnock {

// Opens each closed standard descriptor (0, 1, 2) on /dev/null for reading
// and writing, so that no later descriptor (the broker socket above all) can
// take a standard stream's number, and ignores SIGPIPE, so that a write to a
// vanished reader fails with EPIPE instead of ending the process. Must run
// before anything else opens a descriptor. Aborts when /dev/null cannot be
// opened.
void prepare_process();

// Reads VARNOCK_SOCKET and, when it is set and valid UTF-8, connects to the
// broker, sends the hello (a failed send is ignored: the connection stays)
// and writes the "connected broker" diagnostic; a failed connection writes
// the "broker connect failed" diagnostic instead. A listener run by another
// user, or one whose credentials cannot be read, counts as a failed
// connection: the socket is closed with nothing sent. VARNOCK_THREAD_ID is read
// only once connected. Gives nullptr when the server runs without a broker.
std::unique_ptr<BrokerConnection> connect_broker();

}  // namespace varnock
