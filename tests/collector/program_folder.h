// A collector program folder for tests: the collector and its libraries copied into a temporary
// folder with RecvData/, Log/ and a KelvadonMan.ini naming a free port; the collector run there in
// the foreground as a child process; plain POSIX clients for its TCP and UDP ports.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace collectortest {

// A port that is free for TCP and UDP on every address right now.
int FreePort();

// Polls pred every 20 ms until it holds or timeoutMs pass; returns its last value.
bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 10000);

std::string ReadFile(const std::string& path);

class ProgramFolder {
 public:
  // Copies KelvadonService and the libraries from the test program's own folder.
  ProgramFolder();
  ~ProgramFolder();
  ProgramFolder(const ProgramFolder&) = delete;
  ProgramFolder& operator=(const ProgramFolder&) = delete;

  const std::string& Dir() const { return dir_; }
  int Port() const { return port_; }
  std::string Read(const std::string& relative) const { return ReadFile(dir_ + relative); }
  // Today's record and event day files (relative paths).
  static std::string TodayRecords();
  static std::string TodayEvents();

  // Starts "KelvadonService -FOREGROUND" in the folder and waits until its TCP port accepts and
  // "Service Started" is in the event file. Its stderr goes to <dir>/stderr.log. Every collector
  // takes the FTP port 9021: a machine-wide lock (held until this object goes) keeps test runs of
  // different build folders from starting two at once.
  bool Start(const std::vector<std::string>& extraEnv = {});
  // SIGINT (a stop) and a wait; returns the exit status (or -1).
  int Stop();
  pid_t Pid() const { return pid_; }

 private:
  std::string dir_;
  int port_;
  pid_t pid_ = -1;
  int portLock_ = -1;
};

// A TCP connection to 127.0.0.1:port, or -1.
int ConnectTcp(int port);
bool SendAll(int fd, const std::string& bytes);
// What the peer sends until it closes or timeoutMs pass.
std::string ReadUntilClose(int fd, int timeoutMs);
// Sends a datagram from a fresh socket and collects the replies that come within waitMs, with the
// port each came from.
struct Reply {
  std::string bytes;
  int fromPort;
};
std::vector<Reply> AskUdp(int port, const std::string& datagram, int waitMs);

// The record lines of a record day file (its header checked and dropped).
std::vector<std::string> RecordLines(const std::string& fileContent);
// The entries of an event day file: heading line, then text (the text may span lines).
struct EventEntry {
  std::string stampAndHeading;
  std::string text;
};
std::vector<EventEntry> EventEntries(const std::string& fileContent);

}  // namespace collectortest
