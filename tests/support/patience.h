// How long and how a test waits for what must come: a program's line, a
// connection, a socket that listens, an exit. The time is only a guard
// against a hung program, never a measure of its speed: CI is a busy
// machine where a step that takes milliseconds alone may take seconds.
#pragma once

#include <chrono>
#include <thread>

namespace varnock::test {

inline constexpr int kPatienceMs = 120000;

// Checks `done` every few milliseconds until it holds (true) or
// `timeout_ms` has passed (false).
template <typename Done>
bool poll_until(Done done, int timeout_ms = kPatienceMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace varnock::test
