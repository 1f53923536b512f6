// Where a test runs and what it may do there: in a network namespace of its own (started through
// tests/support/netns-run) or on the machine's network, whether it may switch users, and a guard
// for the fixed ports that programs under test listen on. A FixedPort belongs to one test and is
// used from one thread; the functions keep no state.
#pragma once

#include <string>

namespace testsupport {

// True when netns-run started this process in a network namespace of its own: only loopback is
// there, so every fixed port is free.
bool InOwnNetworkNamespace();

// True when this process may become another user: it runs as root, and not in a user namespace
// that maps a single uid (as under "unshare -rn").
bool UsersCanSwitch();
// What a test that switches users says when it skips because UsersCanSwitch() is false.
inline constexpr char kUsersCannotSwitch[] =
    "users cannot be switched here (not root, or root of a user namespace that maps one uid)";

// A fixed port that a program under test listens on (on 0.0.0.0). In our own network namespace
// it asks nothing. On the machine's network it takes a lock shared by every user and build folder
// (/tmp/kelvadon-test-port<N>.lock), so that test runs take turns, and then checks that nothing
// else holds the port. The lock is held until the object goes.
class FixedPort {
 public:
  explicit FixedPort(int port) : port_(port) {}
  ~FixedPort();
  FixedPort(const FixedPort&) = delete;
  FixedPort& operator=(const FixedPort&) = delete;

  // True when the port may be used now; else Error() says why (for example "port 9021 is held
  // by another program"). Waits up to waitMs for the lock.
  bool Take(int waitMs = 240000);
  const std::string& Error() const { return error_; }

 private:
  int port_;
  int lock_ = -1;
  std::string error_;
};

}  // namespace testsupport
