// The scmd peer for tests at platform/scm and above: an scmd process serving a state folder (its
// log in <folder>/scmd.log), started and stopped by the test, and a liveness check for the
// processes it starts. A Scmd object belongs to one test thread.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/wait.h"

namespace testsupport {

// True while pid runs (a zombie does not).
inline bool ProcessAlive(pid_t pid) {
  if (pid <= 0 || kill(pid, 0) != 0) return false;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string content;
  std::getline(stat, content);
  const size_t paren = content.rfind(')');
  return paren == std::string::npos || paren + 2 >= content.size() || content[paren + 2] != 'Z';
}

// An scmd serving a folder. The environment given is added to the test's own.
class Scmd {
 public:
  Scmd(std::string program, std::string dir,
       std::vector<std::pair<std::string, std::string>> env = {})
      : program_(std::move(program)), dir_(std::move(dir)), env_(std::move(env)) {}
  ~Scmd() { Stop(); }
  Scmd(const Scmd&) = delete;
  Scmd& operator=(const Scmd&) = delete;

  // What each later Start runs in scmd's process before scmd itself is executed (a mount
  // namespace of its own, say); false from it ends that process, and Start fails.
  void SetChildSetUp(std::function<bool()> setUp) { childSetUp_ = std::move(setUp); }

  // Starts scmd and waits (up to 10 s) until its socket accepts connections.
  bool Start() {
    const std::string log = dir_ + "/scmd.log";
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      if (childSetUp_ && !childSetUp_()) _exit(126);
      setenv("KELVADON_SCM_DIR", dir_.c_str(), 1);
      for (auto& [k, v] : env_)
        setenv(k.c_str(), v.c_str(), 1);
      int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (fd >= 0) dup2(fd, 2);
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      execl(program_.c_str(), program_.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    return WaitFor([&] { return Connectable() || !Running(); }) && Running();
  }

  bool Connectable() const {
    const std::string path = dir_ + "/scmd.sock";
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
  }

  bool Running() {
    if (pid_ <= 0) return false;
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      exitStatus_ = status;
      pid_ = 0;
      return false;
    }
    return true;
  }

  // SIGTERM and a wait of up to timeoutMs (then SIGKILL). Returns scmd's wait status.
  int Stop(int timeoutMs = 30000) {
    if (pid_ <= 0) return exitStatus_;
    kill(pid_, SIGTERM);
    if (!WaitFor([&] { return !Running(); }, timeoutMs)) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &exitStatus_, 0);
      pid_ = 0;
    }
    return exitStatus_;
  }

  pid_t pid() const { return pid_; }
  std::string Log() const { return ReadFile(dir_ + "/scmd.log"); }

 private:
  std::string program_;
  std::string dir_;
  std::vector<std::pair<std::string, std::string>> env_;
  std::function<bool()> childSetUp_;
  pid_t pid_ = 0;
  int exitStatus_ = -1;
};

}  // namespace testsupport
