// What a service process writes to its standard output and error, kept in scmd's log as a
// service manager's journal keeps it: both go to one pipe, which scmd reads in its loop, and each
// line is logged after the service's name and the process's id ("scmd: NAME[PID]: line"). A line
// longer than kMaxOutputLine is logged in pieces of that length, so neither a log line nor what
// waits for its line end grows without bound; control bytes other than TAB are logged as "?", so
// no output can pass for a line of scmd's own.
//
// Ownership and threads: a ServiceOutput owns the pipe's read end and closes it when it goes.
// Used only on scmd's thread.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace scm {

// The longest piece of a service's output line that one log line holds.
constexpr size_t kMaxOutputLine = 1024;

class ServiceOutput {
 public:
  // Takes fd, the pipe's read end, and makes it non-blocking. name is the service's, pid its
  // process's.
  ServiceOutput(int fd, std::string name, pid_t pid);
  // Logs what is left of an unfinished line and closes the pipe.
  ~ServiceOutput();
  ServiceOutput(const ServiceOutput&) = delete;
  ServiceOutput& operator=(const ServiceOutput&) = delete;

  int fd() const { return fd_; }

  // Reads what the pipe holds now (at most one pipe's worth per call, so a service that writes
  // without pause cannot hold scmd's loop) and logs the lines it completes. Returns false once the
  // pipe has ended, every writer having closed it, or failed; what is left is logged then, and
  // the object has nothing more to do.
  bool Read();

 private:
  void Take(std::string_view bytes);
  void LogLine(std::string_view line);

  const int fd_;
  const std::string name_;
  const pid_t pid_;
  std::string partial_;  // the line begun, below kMaxOutputLine bytes
};

}  // namespace scm
