// What the FTP tests share: a temporary home folder, a server on 127.0.0.1 (port chosen by the
// system) that accepts one account and hangs each session at that folder, a raw control-channel
// client on the same thread, and a runner for outside FTP clients that keeps the server's
// messages flowing while the client runs. Everything runs on the test's thread: the server works
// only while that thread pumps messages.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "net/ftp/ftpsrv.h"

namespace ftptest {

inline constexpr char kUser[] = "tester";
inline constexpr char kPassword[] = "s3cret";

// A fresh folder under the system's temporary folder, removed with its contents at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::string Str() const { return path_.string(); }
  // Writes bytes to the file rel (folders made as needed) and returns its path.
  std::filesystem::path Write(const std::string& rel, const std::string& bytes) const;

 private:
  std::filesystem::path path_;
};

// A server on 127.0.0.1, port 0. Sessions that log in as kUser/kPassword get Home as their home
// folder; other credentials are refused. The login delay is short unless a test sets it.
class ServerFixture {
 public:
  ServerFixture();
  ~ServerFixture();

  TFtpServer& Server() { return *server_; }
  const TempDir& Home() const { return home_; }
  std::string Port() const { return port_; }
  // Every reply the server sent, in order (seen through OnAnswerToClient).
  std::vector<std::string> Answers;
  int Disconnects = 0;

 private:
  TempDir home_;
  std::unique_ptr<TFtpServer> server_;
  std::string port_;
};

// A control-channel client made of a plain socket on the test's thread.
class RawClient {
 public:
  explicit RawClient(const std::string& port);
  ~RawClient();

  bool Connected() const;
  // Queues bytes for the server.
  void Send(const std::string& bytes);
  // Sends bytes as urgent (out-of-band) data.
  void SendUrgent(const std::string& bytes);
  // The next complete reply line without CR LF; "" when none came within limitMs.
  std::string ReadLine(unsigned limitMs = 5000);
  // The reply lines up to and including the first that starts with "<code> " (a multi-line
  // reply), joined by "\n"; "" on time-out.
  std::string ReadReply(unsigned limitMs = 5000);
  // Sends line + CR LF and returns the reply.
  std::string Command(const std::string& line, unsigned limitMs = 5000);
  // True once the server has closed the connection (after everything it sent was read).
  bool WaitClosed(unsigned limitMs = 5000);
  // Stops / restarts reading (the bytes stay in the system meanwhile).
  void Pause();
  void Resume();
  // Logs in with the fixture's account; true on "230".
  bool Login();
  const std::string& Pending() const { return received_; }
  SOCKET Handle() const { return sock_->HSocket(); }

 private:
  std::unique_ptr<TAsyncSocket> sock_;
  std::string received_;
  bool closed_ = false;
};

// Runs a shell command line (bounded by `timeout`) in a thread while this thread handles its
// messages until the command ends or limitMs pass. Returns the exit status (-1 on time-out) and
// the command's output (stdout and stderr) in output.
int RunWhilePumping(const std::string& commandLine, std::string& output, unsigned limitMs = 60000);

// Handles messages until the server has no session left; false after limitMs.
bool PumpUntilNoClients(TFtpServer& server, unsigned limitMs = 5000);

// Quotes text for the shell.
std::string ShellQuote(const std::string& text);

}  // namespace ftptest
