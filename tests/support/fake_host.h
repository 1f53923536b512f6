// A stand-in for the socket library's host (tests above platform/wsock32): it records every
// notification the library posts instead of queueing it for a window, and lets a test wait for
// the ones it expects. The library calls Post from its own threads; every member is thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/wsock32/host.h"
#include "platform/wsock32/winsock.h"

namespace testsupport {

// The window and messages tests register with the library.
constexpr HWND kWindow = 42;
constexpr UINT kSocketMsg = 1025;
constexpr UINT kLookupMsg = 1026;

// One recorded notification.
struct Posted {
  HWND hwnd;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  WORD Event() const { return WSAGETSELECTEVENT(lParam); }
  WORD Error() const { return WSAGETSELECTERROR(lParam); }
};

// Records posts; every window except kGoneWindow exists.
class FakeHost : public WskHost {
 public:
  static constexpr HWND kGoneWindow = 0xDEAD;
  using Match = std::function<bool(const Posted&)>;

  bool Post(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    std::lock_guard<std::mutex> lock(mu_);
    posts_.push_back({hwnd, msg, wParam, lParam});
    cv_.notify_all();
    return true;
  }
  bool WindowExists(HWND hwnd) override { return hwnd != 0 && hwnd != kGoneWindow; }

  // Waits up to `timeout` until `count` posts match; returns the matching posts so far.
  std::vector<Posted> WaitFor(const Match& match, size_t count = 1,
                              std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
    std::unique_lock<std::mutex> lock(mu_);
    std::vector<Posted> found;
    cv_.wait_for(lock, timeout, [&] {
      found.clear();
      for (const Posted& p : posts_)
        if (match(p)) found.push_back(p);
      return found.size() >= count;
    });
    return found;
  }

  std::vector<Posted> All() {
    std::lock_guard<std::mutex> lock(mu_);
    return posts_;
  }

  size_t Count(const Match& match) {
    std::lock_guard<std::mutex> lock(mu_);
    size_t n = 0;
    for (const Posted& p : posts_)
      n += match(p);
    return n;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<Posted> posts_;
};

// A socket notification of s with the given event.
inline FakeHost::Match SocketEvent(SOCKET s, LONG event) {
  return [s, event](const Posted& p) {
    return p.msg == kSocketMsg && p.wParam == s && p.Event() == event;
  };
}

// Any socket notification of s.
inline FakeHost::Match AnyOf(SOCKET s) {
  return [s](const Posted& p) { return p.msg == kSocketMsg && p.wParam == s; };
}

}  // namespace testsupport
