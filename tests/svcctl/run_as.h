// Runs a check in a child process under another user: the child drops to uid/gid with the given
// supplementary groups, rebuilds the process token for its new user, runs the check and reports
// what it returned ("" for success) through a pipe. The parent waits for it (bounded by the
// check's own time-outs). For tests run as root; one call at a time.
#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/win/token.h"
#include "svcctl/apibind.h"
#include "svcctl/secbind.h"

namespace svcctltest {

inline std::string RunAs(uid_t uid, gid_t gid, const std::vector<gid_t>& groups,
                         const std::function<std::string()>& check) {
  // The system libraries are bound here, before the switch: the other user may not reach the
  // build folder (a clone in a 0700 folder), and the child keeps what its parent had bound.
  for (TBindingUnit* unit : {&nt::ServiceUnit(), &nt::AccountUnit(), &nt::NetUnit(),
                             &nt::Win2000Unit(), &nt::SecurityUnit()})
    unit->Loaded();
  int fds[2];
  if (pipe(fds) != 0) return "pipe failed";
  const pid_t pid = fork();
  if (pid < 0) return "fork failed";
  if (pid == 0) {
    close(fds[0]);
    std::string result;
    if (setgroups(groups.size(), groups.data()) != 0 || setgid(gid) != 0 || setuid(uid) != 0) {
      result = "cannot switch user";
    } else {
      KwResetProcessToken();
      try {
        result = check();
      } catch (const std::exception& e) {
        result = std::string("exception: ") + e.what();
      }
    }
    (void)!write(fds[1], result.data(), result.size());
    _exit(0);
  }
  close(fds[1]);
  std::string out;
  char buffer[512];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
    out.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status)) return "the child did not end normally";
  return out;
}

}  // namespace svcctltest
