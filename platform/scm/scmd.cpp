// scmd: the service control manager daemon. One per state folder ($KELVADON_SCM_DIR, default
// /var/lib/kelvadon-scm); it logs to stderr and runs in the foreground (the system's service
// manager or a test starts it). Ends with 0 after SIGTERM or SIGINT, 1 when it cannot start.
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <string>

#include "platform/scm/daemon.h"
#include "platform/scm/protocol.h"
#include "rtl/files.h"

int main(int argc, char** argv) {
  if (argc > 1) {
    fprintf(stderr,
            "usage: scmd\n"
            "Serves the services registered in $%s (default %s).\n"
            "%s: seconds a start or control may take (30); %s: seconds SIGTERM waits for the\n"
            "services to stop before their processes are killed (20).\n",
            scm::kEnvDir, scm::kDefaultDir, scm::kEnvStartTimeout, scm::kEnvShutdownTimeout);
    return strcmp(argv[1], "--help") == 0 ? 0 : 1;
  }

  // scmd holds the services' passwords: no core file and no process of its own user (ptrace,
  // /proc/PID/mem or environ) ever sees its memory. The programs it starts are dumpable again
  // after their exec.
  if (prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) {
    perror("scmd: prctl(PR_SET_DUMPABLE)");
    return 1;
  }

  // 0, 1 and 2 are always taken, so that no descriptor scmd makes (a control channel above all)
  // can land on a number a child's stdio set-up overwrites.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) < 0) open("/dev/null", O_RDWR);
  }

  // Signals arrive through a signalfd in the loop; the spawned processes get a clean mask back.
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGCHLD, SIGTERM, SIGINT, SIGHUP})
    sigaddset(&set, sig);
  sigprocmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);

  scm::DaemonOptions options;
  options.dir = scm::StateDir();
  if (options.dir.empty() || options.dir[0] != '/') {
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) {
      perror("scmd: getcwd");
      return 1;
    }
    options.dir = std::string(cwd) + "/" + options.dir;
  }
  if (rtl::ForceDirectories(options.dir)) {
    char real[PATH_MAX];
    if (realpath(options.dir.c_str(), real)) options.dir = real;
  }
  options.startTimeoutSec = scm::EnvSeconds(scm::kEnvStartTimeout, 30);
  options.shutdownTimeoutSec = scm::EnvSeconds(scm::kEnvShutdownTimeout, 20);

  scm::Daemon daemon(options);
  if (!daemon.Init()) return 1;
  return daemon.Run();
}
