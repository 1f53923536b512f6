// The wait backend of a message queue: one eventfd per thread. Signal() from any thread makes the
// descriptor readable; Wait() blocks on it up to a time-out; Drain() clears it. Internal to
// platform/msg.
#pragma once

#include <cstdint>

namespace msg_internal {

class Waker {
 public:
  Waker();
  ~Waker();
  Waker(const Waker&) = delete;
  Waker& operator=(const Waker&) = delete;

  int Fd() const { return fd_; }
  void Signal();
  // Blocks until signalled or timeoutMs elapsed (negative: no limit). Does not drain.
  void Wait(int64_t timeoutMs);
  void Drain();

 private:
  int fd_;
};

// Monotonic clock in milliseconds.
int64_t MonotonicMs();

}  // namespace msg_internal
