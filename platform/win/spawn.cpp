// Detached process start: a double fork. The middle child sets up what the program inherits (a new
// session, signals, working folder, stdio, descriptors: SetUpChildProcess), forks the program's
// process and exits at once, so the caller reaps it straight away and the program is adopted by
// init (or the nearest subreaper) instead of becoming the caller's zombie; not being the session's
// leader, the program never gains a controlling terminal by opening one. Between fork and exec
// only async-signal-safe calls are made, since the caller may have other threads. An error before
// the exec is written to a close-on-exec pipe; an empty pipe at end of file means the exec
// happened.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "platform/win/child.h"
#include "platform/win/shell.h"

namespace {

enum Stage : int { kStageFork = 1, kStageDir, kStageStdio, kStageExec };

struct Report {
  int stage;
  int err;
};

// Async-signal-safe: writes the failure for the caller and ends the process.
[[noreturn]] void Fail(int fd, int stage) {
  const Report r{stage, errno};
  ssize_t n;
  do {
    n = write(fd, &r, sizeof r);
  } while (n < 0 && errno == EINTR);
  _exit(127);
}

struct LinuxDirent64 {
  uint64_t d_ino;
  int64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[];
};

// Async-signal-safe: marks every descriptor from 3 up close-on-exec, so the program starts with
// 0, 1 and 2 only. close_range first; else a walk of /proc/self/fd; else every number below the
// descriptor limit.
void CloseOnExecFrom3() {
  if (close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
  int dir = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    alignas(LinuxDirent64) char buf[4096];
    long n;
    while ((n = syscall(SYS_getdents64, dir, buf, sizeof buf)) > 0) {
      for (long pos = 0; pos < n;) {
        auto* d = reinterpret_cast<LinuxDirent64*>(buf + pos);
        pos += d->d_reclen;
        int fd = 0;
        bool digits = d->d_name[0] != '\0';
        for (const char* p = d->d_name; *p; ++p) {
          if (*p < '0' || *p > '9') {
            digits = false;
            break;
          }
          fd = fd * 10 + (*p - '0');
        }
        if (digits && fd >= 3 && fd != dir) fcntl(fd, F_SETFD, FD_CLOEXEC);
      }
    }
    close(dir);
    if (n == 0) return;
  }
  rlimit lim;
  rlim_t top =
      (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY) ? lim.rlim_cur : 65536;
  for (rlim_t fd = 3; fd < top; ++fd)
    fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
}

// Moves a descriptor to 3 or above, keeping close-on-exec, so the program's stdio set-up cannot
// overwrite it. Returns the descriptor to use, or -1.
int AboveStdio(int fd) {
  if (fd > 2) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return moved;
}

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string CurrentDir() {
  char buf[PATH_MAX];
  return getcwd(buf, sizeof buf) ? std::string(buf) : std::string(".");
}

}  // namespace

TChildSetUpStep SetUpChildProcess(const char* dir) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction dfl;
  std::memset(&dfl, 0, sizeof dfl);
  dfl.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig)
    sigaction(sig, &dfl, nullptr);
  // Fails only for a process group leader, which a child of fork never is.
  setsid();
  if (dir && chdir(dir) != 0) return TChildSetUpStep::kWorkDir;
  const int null = open("/dev/null", O_RDWR);
  if (null < 0) return TChildSetUpStep::kStdio;
  for (int fd = 0; fd <= 2; ++fd)
    if (null != fd && dup2(null, fd) < 0) return TChildSetUpStep::kStdio;
  if (null > 2) close(null);
  CloseOnExecFrom3();
  return TChildSetUpStep::kDone;
}

std::string FindProgram(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return std::string();
  const char* env = getenv("PATH");
  const std::string path = env ? env : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) {  // an empty entry would mean the current folder: not searched
      std::string candidate = path.substr(start, end - start) + "/" + name;
      if (IsExecutableFile(candidate)) return candidate;
    }
    start = end + 1;
  }
  return std::string();
}

bool SpawnDetached(const std::string& path, const std::vector<std::string>& args,
                   const std::string& dir) {
  std::string file = path;
  if (path.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  if (path.find('/') == std::string::npos) {
    file = FindProgram(path);
    if (file.empty()) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return false;
    }
  } else if (path[0] != '/') {
    file = CurrentDir() + "/" + path;  // the child changes folder before the exec
  }

  // Everything the children need is made here: after fork only async-signal-safe calls.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const char* workDir = dir.empty() ? nullptr : dir.c_str();

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    SetLastError(Win32ErrorFromErrno(errno));
    return false;
  }
  const int readFd = AboveStdio(fds[0]);
  const int writeFd = AboveStdio(fds[1]);
  if (readFd < 0 || writeFd < 0) {
    SetLastError(Win32ErrorFromErrno(errno));
    if (readFd >= 0) close(readFd);
    if (writeFd >= 0) close(writeFd);
    return false;
  }

  const pid_t middle = fork();
  if (middle < 0) {
    SetLastError(Win32ErrorFromErrno(errno));
    close(readFd);
    close(writeFd);
    return false;
  }
  if (middle == 0) {
    close(readFd);
    // The program's process inherits all of this set-up from the middle one.
    const TChildSetUpStep step = SetUpChildProcess(workDir);
    if (step != TChildSetUpStep::kDone)
      Fail(writeFd, step == TChildSetUpStep::kWorkDir ? kStageDir : kStageStdio);
    const pid_t program = fork();
    if (program < 0) Fail(writeFd, kStageFork);
    if (program == 0) {
      execv(file.c_str(), argv.data());
      Fail(writeFd, kStageExec);
    }
    _exit(0);
  }

  close(writeFd);
  int status = 0;
  pid_t waited;
  while ((waited = waitpid(middle, &status, 0)) < 0 && errno == EINTR) {
  }
  // A middle child that did not end normally may have died before forking the program. (With
  // SIGCHLD ignored it was reaped by the system and only the pipe tells.)
  const bool middleFailed = waited == middle && !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  Report report{};
  size_t got = 0;
  while (got < sizeof report) {
    ssize_t n = read(readFd, reinterpret_cast<char*>(&report) + got, sizeof report - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  close(readFd);
  if (got == 0 && !middleFailed) {
    SetLastError(ERROR_SUCCESS);
    return true;
  }
  if (got != sizeof report) {
    SetLastError(ERROR_GEN_FAILURE);
    return false;
  }
  DWORD code = Win32ErrorFromErrno(report.err);
  if (report.stage == kStageDir && (report.err == ENOENT || report.err == ENOTDIR))
    code = ERROR_PATH_NOT_FOUND;
  SetLastError(code);
  return false;
}
