#include "tests/support/peers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace testsupport {
namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// Milliseconds left until end; 0 once it has passed.
int LeftMs(std::chrono::steady_clock::time_point end) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

int FreePort() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    int t = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    socklen_t len = sizeof a;
    bind(t, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(t, reinterpret_cast<sockaddr*>(&a), &len);
    int u = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    bool udpFree = bind(u, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    int port = ntohs(a.sin_port);
    close(u);
    close(t);
    if (udpFree && port > 0) return port;
  }
  return 0;
}

ClosedPort::ClosedPort() : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  socklen_t len = sizeof a;
  if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port_ = ntohs(a.sin_port);
}

ClosedPort::~ClosedPort() {
  if (fd_ >= 0) close(fd_);
}

int ConnectTcp(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const sockaddr_in a = Loopback(port);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const std::string& bytes) {
  size_t off = 0;
  while (off < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}

std::string ReadUntilClose(int fd, int timeoutMs) {
  std::string got;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (int left; (left = LeftMs(end)) > 0;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, left) <= 0) break;
    char buf[4096];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
  }
  return got;
}

std::vector<Reply> AskUdp(int port, const std::string& datagram, int waitMs) {
  std::vector<Reply> replies;
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return replies;
  const sockaddr_in to = Loopback(port);
  sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
         sizeof to);
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (int left; (left = LeftMs(end)) > 0;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, left) <= 0) break;
    char buf[2048];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) break;
    replies.push_back({std::string(buf, static_cast<size_t>(n)), ntohs(from.sin_port)});
    end = std::min(end, std::chrono::steady_clock::now() + std::chrono::milliseconds(kUdpSettleMs));
  }
  close(fd);
  return replies;
}

}  // namespace testsupport
