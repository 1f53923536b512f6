// The client end of scmd's socket: one blocking connection that sends a request and waits for its
// reply. The service API of the security library builds its handles on it; tests use it to speak
// the protocol directly.
//
// A Connection is not locked: the caller lets one thread at a time use it. It owns its
// descriptor (close-on-exec) and closes it when destroyed; scmd then frees every handle and the
// database lock that were made through it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace scm {

class Connection {
 public:
  // Connects to the socket in the state folder dir. Returns null with *error set to a Win32 code:
  // 1722 when no manager listens there, 206 when the socket's path is too long.
  static std::unique_ptr<Connection> Open(const std::string& dir, uint32_t* error);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Sends one request payload and waits for the reply payload. Returns false when the connection
  // broke (the manager went away); the connection is of no further use then.
  bool Call(std::string_view request, std::string& reply);

  int Fd() const { return fd_; }

 private:
  explicit Connection(int fd) : fd_(fd) {}
  int fd_;
  bool broken_ = false;
};

}  // namespace scm
