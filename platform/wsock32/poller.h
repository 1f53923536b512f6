// The readiness backend of WSAAsyncSelect: one thread waiting in epoll on every registered socket
// and reporting which handles may have changed. It knows nothing of Winsock's events; the rules
// that turn readiness into notifications live in async_select.cpp.
//
// Descriptors are watched edge-triggered for input, output, urgent data and the peer's close:
// each change of a socket's state wakes the thread once, and the handler re-reads the whole state,
// so no level-triggered condition (a pending FIN, a reset) can make the loop spin.
#pragma once

#include <thread>

#include "platform/wsock32/winsock.h"

namespace wsk {

class Poller {
 public:
  // Called on the poller thread, without any lock held, for each handle whose state changed.
  using ReadyFn = void (*)(SOCKET handle);

  Poller() = default;
  Poller(const Poller&) = delete;
  Poller& operator=(const Poller&) = delete;

  // Starts the thread. False with errno set when the system refuses.
  // REQUIRES: !Running().
  bool Start(ReadyFn onReady);
  // Wakes the thread, waits for it to end and releases the epoll instance.
  // REQUIRES: Running(), and not called on the poller thread.
  void Stop();
  bool Running() const { return epfd_ >= 0; }

  // Adds a descriptor, reported as `handle`. False with errno set on failure. REQUIRES: Running().
  bool Add(int fd, SOCKET handle);
  // Removes a descriptor before it is closed. REQUIRES: Running().
  void Remove(int fd);

 private:
  void Loop();

  int epfd_ = -1;
  int wakefd_ = -1;
  ReadyFn onReady_ = nullptr;
  std::thread thread_;
};

}  // namespace wsk
