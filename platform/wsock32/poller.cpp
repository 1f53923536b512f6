// epoll backend of the asynchronous notifications.
#include "platform/wsock32/poller.h"

#include <errno.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace wsk {

namespace {
// Handles are never 0, so 0 marks the wake-up descriptor.
constexpr uint64_t kWakeTag = 0;
constexpr int kMaxEvents = 64;
}  // namespace

bool Poller::Start(ReadyFn onReady) {
  int ep = epoll_create1(EPOLL_CLOEXEC);
  if (ep < 0) return false;
  int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake < 0) {
    int saved = errno;
    close(ep);
    errno = saved;
    return false;
  }
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = kWakeTag;
  if (epoll_ctl(ep, EPOLL_CTL_ADD, wake, &ev) != 0) {
    int saved = errno;
    close(wake);
    close(ep);
    errno = saved;
    return false;
  }
  epfd_ = ep;
  wakefd_ = wake;
  onReady_ = onReady;
  try {
    thread_ = std::thread(&Poller::Loop, this);
  } catch (...) {
    close(wake);
    close(ep);
    epfd_ = wakefd_ = -1;
    errno = EAGAIN;
    return false;
  }
  return true;
}

void Poller::Stop() {
  uint64_t one = 1;
  while (write(wakefd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
  thread_.join();
  close(wakefd_);
  close(epfd_);
  wakefd_ = epfd_ = -1;
}

bool Poller::Add(int fd, SOCKET handle) {
  epoll_event ev{};
  ev.events = EPOLLIN | EPOLLOUT | EPOLLPRI | EPOLLRDHUP | EPOLLET;
  ev.data.u64 = handle;
  return epoll_ctl(epfd_, EPOLL_CTL_ADD, fd, &ev) == 0;
}

void Poller::Remove(int fd) {
  epoll_ctl(epfd_, EPOLL_CTL_DEL, fd, nullptr);
}

void Poller::Loop() {
  epoll_event events[kMaxEvents];
  for (;;) {
    int n = epoll_wait(epfd_, events, kMaxEvents, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      // The epoll instance is ours and valid until Stop: any other failure is a broken invariant.
      std::perror("wsock32 poller: epoll_wait");
      std::abort();
    }
    for (int i = 0; i < n; ++i) {
      if (events[i].data.u64 == kWakeTag) return;
      onReady_(static_cast<SOCKET>(events[i].data.u64));
    }
  }
}

}  // namespace wsk
