// Plain POSIX loopback peers for tests of programs that listen on 127.0.0.1: a free port, a TCP
// connection, whole sends, reads until the peer closes, and a UDP question with its replies.
// Descriptors returned belong to the caller (close them); no state is kept between calls.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

// A port that is free for TCP and UDP on every address right now; 0 when none was found. Another
// program may take it before the caller does: outside a network namespace of the test's own (see
// netns.h), a test that needs a port where nothing listens takes a ClosedPort instead.
int FreePort();

// A TCP port where nothing listens for as long as the object lives: a socket bound to it on every
// address that never listens, so connections to it are refused and no other program can listen
// there meanwhile. Port() is 0 when no socket could be bound.
class ClosedPort {
 public:
  ClosedPort();
  ~ClosedPort();
  ClosedPort(const ClosedPort&) = delete;
  ClosedPort& operator=(const ClosedPort&) = delete;

  int Port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A TCP connection to 127.0.0.1:port, or -1.
int ConnectTcp(int port);
// Sends every byte (without SIGPIPE); false when the connection failed on the way.
bool SendAll(int fd, const std::string& bytes);
// What the peer sends until it closes or timeoutMs pass.
std::string ReadUntilClose(int fd, int timeoutMs);

// Sends a datagram to 127.0.0.1:port from a fresh socket and collects the replies that come
// within waitMs, with the port each came from. Once a reply has come it waits at most
// kUdpSettleMs more for others, so a generous waitMs costs nothing when the peer answers.
constexpr int kUdpSettleMs = 300;
struct Reply {
  std::string bytes;
  int fromPort;
};
std::vector<Reply> AskUdp(int port, const std::string& datagram, int waitMs);

}  // namespace testsupport
