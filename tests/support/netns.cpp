#include "tests/support/netns.h"

#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "tests/support/wait.h"

namespace testsupport {
namespace {

// Opens the lock file, making it when it is not there yet. Every user must be able to open it:
// it is opened for reading (enough for flock) and made readable by all. An existing file is opened
// without O_CREAT, which fs.protected_regular refuses in sticky /tmp for another user's file.
int OpenLock(const std::string& path) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT) return fd;
    fd = open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      fchmod(fd, 0666);  // whatever the umask cut
      return fd;
    }
    // Made by someone else in the meantime: open theirs.
  }
  return -1;
}

// 0 when a TCP socket can be bound to 0.0.0.0:port, else the error.
int BindError(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno;
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  const int err = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? 0 : errno;
  close(fd);
  return err;
}

}  // namespace

bool InOwnNetworkNamespace() {
  const char* v = getenv("KELVADON_TEST_NETNS");
  return v != nullptr && std::strcmp(v, "1") == 0;
}

bool UsersCanSwitch() {
  if (geteuid() != 0) return false;
  // Lines "inside outside count"; a user namespace made for one user maps one uid.
  std::ifstream map("/proc/self/uid_map");
  unsigned long long inside, outside, count, total = 0;
  while (map >> inside >> outside >> count)
    total += count;
  return total == 4294967295ULL;
}

FixedPort::~FixedPort() {
  if (lock_ >= 0) close(lock_);
}

bool FixedPort::Take(int waitMs) {
  error_.clear();
  if (InOwnNetworkNamespace()) return true;
  const std::string name = "port " + std::to_string(port_);
  if (lock_ < 0) {
    const std::string path = "/tmp/kelvadon-test-port" + std::to_string(port_) + ".lock";
    lock_ = OpenLock(path);
    if (lock_ < 0) {
      error_ = name + ": cannot open " + path + ": " + std::strerror(errno);
      return false;
    }
    if (!WaitFor([&] { return flock(lock_, LOCK_EX | LOCK_NB) == 0; }, waitMs)) {
      close(lock_);
      lock_ = -1;
      error_ =
          name + ": another test run held " + path + " for " + std::to_string(waitMs / 1000) + " s";
      return false;
    }
  }
  const int err = BindError(port_);
  if (err == EADDRINUSE) {
    error_ = name + " is held by another program";
  } else if (err != 0) {
    error_ = name + " cannot be bound: " + std::strerror(err);
  }
  return error_.empty();
}

}  // namespace testsupport
