// fork + exec. Everything the child needs is prepared before the fork; between fork and exec the
// child makes only async-signal-safe calls: the set-up every started program gets
// (SetUpChildProcess), then the account and the control channel. A failure before the exec is
// written to a close-on-exec pipe; end of file without a report means the exec happened.
#include "platform/scm/spawn.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/win/child.h"
#include "platform/win/win.h"

namespace scm {

namespace {

struct Report {
  int err;
  int stage;  // 1: user, 2: exec, 3: anything else
};

[[noreturn]] void Fail(int fd, int stage) {
  const Report r{errno, stage};
  ssize_t n;
  do {
    n = write(fd, &r, sizeof r);
  } while (n < 0 && errno == EINTR);
  _exit(127);
}

}  // namespace

pid_t SpawnService(const SpawnRequest& request, uint32_t* error) {
  if (request.argv.empty() || request.argv[0].empty()) {
    *error = ERROR_FILE_NOT_FOUND;
    return -1;
  }
  std::string file = request.argv[0];
  if (file.find('/') == std::string::npos) {
    file = FindProgram(file);
    if (file.empty()) {
      *error = ERROR_FILE_NOT_FOUND;
      return -1;
    }
  }
  const Account& acct = request.account;
  if (!acct.self && geteuid() != 0 && acct.uid != geteuid()) {
    *error = ERROR_SERVICE_LOGON_FAILED;
    return -1;
  }
  const bool switchUser = !acct.self && acct.uid != geteuid();

  std::vector<char*> argv, envp;
  for (const auto& a : request.argv)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const auto& e : request.env)
    envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    *error = Win32ErrorFromErrno(errno);
    return -1;
  }
  const pid_t pid = fork();
  if (pid < 0) {
    *error = ERROR_NOT_ENOUGH_MEMORY;
    close(report[0]);
    close(report[1]);
    return -1;
  }
  if (pid == 0) {
    close(report[0]);
    if (SetUpChildProcess("/") != TChildSetUpStep::kDone) Fail(report[1], 3);
    if (switchUser) {
      if (initgroups(acct.user.c_str(), acct.gid) != 0 || setgid(acct.gid) != 0 ||
          setuid(acct.uid) != 0)
        Fail(report[1], 1);
    }
    if (request.outputFd >= 0 &&
        (dup2(request.outputFd, STDOUT_FILENO) < 0 || dup2(request.outputFd, STDERR_FILENO) < 0))
      Fail(report[1], 3);
    if (request.channelFd >= 0) {
      int flags = fcntl(request.channelFd, F_GETFD);
      if (flags < 0 || fcntl(request.channelFd, F_SETFD, flags & ~FD_CLOEXEC) != 0)
        Fail(report[1], 3);
    }
    execve(file.c_str(), argv.data(), envp.data());
    Fail(report[1], 2);
  }
  close(report[1]);
  Report r{};
  size_t got = 0;
  while (got < sizeof r) {
    ssize_t n = read(report[0], reinterpret_cast<char*>(&r) + got, sizeof r - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  close(report[0]);
  if (got == 0) {
    *error = 0;
    return pid;
  }
  int status;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (got != sizeof r) {
    *error = ERROR_GEN_FAILURE;
  } else if (r.stage == 1) {
    *error = ERROR_SERVICE_LOGON_FAILED;
  } else if (r.stage == 2 && r.err == ENOEXEC) {
    *error = ERROR_BAD_FORMAT;
  } else {
    *error = Win32ErrorFromErrno(r.err);
  }
  return -1;
}

}  // namespace scm
