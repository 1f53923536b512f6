// Starting a service's process: a child of scmd (so scmd learns of its end) in a session of its
// own, with stdin on /dev/null and stdout and stderr on the output descriptor given (else on
// /dev/null too), the working folder "/", default signal handling, only the control channel
// inherited, and the account's user and groups when the account is not scmd's own.
// Used only on scmd's thread.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/scm/accounts.h"

namespace scm {

struct SpawnRequest {
  std::vector<std::string> argv;  // argv[0]: the program (a name without "/" is found in PATH)
  std::vector<std::string> env;   // "NAME=value", the whole environment of the process
  int channelFd = -1;             // stays open across exec under its own number
  int outputFd = -1;              // becomes stdout and stderr; -1: both on /dev/null
  Account account;
};

// Returns the pid once the program has been executed, or -1 with *error set to a Win32 code: 2
// (no such program), 5 (may not be executed or the account cannot be taken), 11 (not a program),
// 1069 (the account is not scmd's and scmd cannot change its user), 8 (no process).
pid_t SpawnService(const SpawnRequest& request, uint32_t* error);

}  // namespace scm
