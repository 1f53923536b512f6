#include "platform/msg/waker.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace msg_internal {

Waker::Waker() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (fd_ < 0) {
    std::perror("message queue: eventfd");
    std::abort();  // a thread without a wake-up descriptor would wait forever
  }
}

Waker::~Waker() {
  close(fd_);
}

void Waker::Signal() {
  uint64_t one = 1;
  // EAGAIN means the counter is saturated: the descriptor is readable already.
  while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void Waker::Wait(int64_t timeoutMs) {
  struct pollfd p = {fd_, POLLIN, 0};
  int t = timeoutMs < 0 ? -1 : timeoutMs > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(timeoutMs);
  // EINTR simply returns; the caller re-checks its queue and deadline.
  poll(&p, 1, t);
}

void Waker::Drain() {
  uint64_t v;
  while (read(fd_, &v, sizeof v) < 0 && errno == EINTR) {
  }
}

int64_t MonotonicMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace msg_internal
