// Connection over an AF_UNIX stream socket.
#include "platform/scm/client.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "platform/scm/protocol.h"

namespace scm {

std::unique_ptr<Connection> Connection::Open(const std::string& dir, uint32_t* error) {
  const std::string path = dir + "/" + kSocketName;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) {
    *error = 206;  // ERROR_FILENAME_EXCED_RANGE
    return nullptr;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = kErrorManagerUnavailable;
    return nullptr;
  }
  int rc;
  do {
    rc = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    close(fd);
    *error = kErrorManagerUnavailable;
    return nullptr;
  }
  *error = 0;
  return std::unique_ptr<Connection>(new Connection(fd));
}

Connection::~Connection() {
  close(fd_);
}

bool Connection::Call(std::string_view request, std::string& reply) {
  if (broken_) return false;
  if (!WriteFrame(fd_, request) || !ReadFrame(fd_, reply)) {
    broken_ = true;
    return false;
  }
  return true;
}

}  // namespace scm
