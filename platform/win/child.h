// The set-up of a process made by fork for the program it is about to execute, written once for
// everything that starts programs (SpawnDetached and ShellExecuteA here, the services scmd
// starts). The program starts in a session of its own, with no signal blocked and every signal's
// default action, in its working folder, with stdin, stdout and stderr on /dev/null, and with no
// other descriptor left open across the exec.
//
// Ownership: it keeps nothing; the only descriptors it leaves open are 0, 1 and 2 (on /dev/null)
// and those that were open already.
//
// Threads: it runs in the child between fork and exec, where the parent may have had other
// threads (whose locks the child holds as they were): it makes only async-signal-safe calls,
// allocates nothing and takes no lock. What a caller adds between it and the exec (an account
// switch, a descriptor kept for the program) must keep to the same when its process has threads.
#pragma once

// The step of SetUpChildProcess that failed; errno tells why.
enum class TChildSetUpStep : int {
  kDone = 0,     // nothing failed
  kWorkDir = 1,  // the working folder could not be entered
  kStdio = 2,    // /dev/null could not be opened or put on stdin, stdout and stderr
};

// Resets the signal mask and every signal's action to the default (blocked and ignored signals
// would survive the exec), makes a new session, enters dir (the current folder stays when dir is
// null), puts /dev/null on descriptors 0, 1 and 2, and marks every descriptor from 3 up
// close-on-exec (close_range where the kernel has it, else a walk of /proc/self/fd, else every
// number below the descriptor limit). Descriptors are marked, not closed, so one the caller still
// writes to before the exec (a report pipe) stays usable; one the program must inherit has its
// flag cleared by the caller afterwards. Returns kDone, or the step that failed with errno set.
// REQUIRES: called in the child of a fork, before exec; dir, when given, was built before the fork.
TChildSetUpStep SetUpChildProcess(const char* dir);
