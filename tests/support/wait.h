// Bounded polling for tests: WaitFor checks a condition until it holds or a time limit passes.
// Plain functions without state; call them from any thread.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace testsupport {

// Polls pred every 20 ms until it holds or timeoutMs pass; returns its last value.
inline bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 10000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace testsupport
