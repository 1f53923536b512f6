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
#include "tests/support/files.h"
#include "tests/support/wait.h"

namespace ftptest {

inline constexpr char kUser[] = "tester";
inline constexpr char kPassword[] = "s3cret";

// A server on 127.0.0.1, port 0. Sessions that log in as kUser/kPassword get Home as their home
// folder; other credentials are refused. The login delay is short unless a test sets it.
class ServerFixture {
 public:
  ServerFixture();
  ~ServerFixture();

  TFtpServer& Server() { return *server_; }
  const testsupport::TempDir& Home() const { return home_; }
  std::string Port() const { return port_; }
  // Every reply the server sent, in order (seen through OnAnswerToClient).
  std::vector<std::string> Answers;
  int Disconnects = 0;

 private:
  testsupport::TempDir home_;
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
  std::string ReadLine(unsigned limitMs = testsupport::kWaitLimitMs);
  // The reply lines up to and including the first that starts with "<code> " (a multi-line
  // reply), joined by "\n"; "" on time-out.
  std::string ReadReply(unsigned limitMs = testsupport::kWaitLimitMs);
  // Sends line + CR LF and returns the reply.
  std::string Command(const std::string& line, unsigned limitMs = testsupport::kWaitLimitMs);
  // True once the server has closed the connection (after everything it sent was read).
  bool WaitClosed(unsigned limitMs = testsupport::kWaitLimitMs);
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

// The client's end of a data connection, on the test's thread: it connects to a passive port (from
// a chosen local address) or listens for the server's active connection, and collects what
// arrives until the server closes.
class DataPeer {
 public:
  DataPeer();
  ~DataPeer();
  DataPeer(const DataPeer&) = delete;
  DataPeer& operator=(const DataPeer&) = delete;

  // Connects to 127.0.0.1:port from the address from; true once connected.
  bool Connect(int port, const std::string& from = "127.0.0.1");
  // Listens on 127.0.0.1 (port chosen by the system) for one connection; returns the PORT
  // command's argument for it ("127,0,0,1,p1,p2").
  std::string Listen();
  bool WaitConnected(unsigned limitMs = testsupport::kWaitLimitMs);
  // True once the server's side has closed (everything it sent has been read).
  bool WaitClosed(unsigned limitMs = testsupport::kWaitLimitMs);
  // Sends bytes (queued; they go out while messages are handled); nothing once the connection is
  // gone.
  void Send(const std::string& bytes);
  // Waits until everything queued has been handed to the system, then closes gracefully.
  void Finish(unsigned limitMs = 30000);
  // Resets the connection (an abortive close): the server sees it fail, not end.
  void Reset();
  // Stops / restarts reading.
  void Pause();
  void Resume();
  bool Connected() const;
  bool Closed() const { return closed_; }
  const std::string& Received() const { return received_; }

 private:
  std::unique_ptr<TAsyncSocket> listener_;
  std::unique_ptr<TAsyncSocket> sock_;
  std::string received_;
  bool closed_ = false;
  bool accepted_ = false;
};

// The port of a "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)." reply; 0 when it is not one.
int PasvPort(const std::string& reply);

// Bytes of the given length that differ at every position of a small period (so shifted or
// dropped blocks show).
std::string Pattern(size_t length, unsigned seed = 1);

// Runs a shell command line (bounded by `timeout`) in a thread while this thread handles its
// messages until the command ends or limitMs pass. Returns the exit status (-1 on time-out) and
// the command's output (stdout and stderr) in output.
int RunWhilePumping(const std::string& commandLine, std::string& output, unsigned limitMs = 60000);

// Handles messages until the server has no session left; false after limitMs.
bool PumpUntilNoClients(TFtpServer& server, unsigned limitMs = testsupport::kWaitLimitMs);

// Quotes text for the shell.
std::string ShellQuote(const std::string& text);

}  // namespace ftptest
