// A scripted SMTP server for the SMTP client's tests, on the test's own thread: it listens on
// 127.0.0.1 (port chosen by the system), greets each session with Greeting, answers every command
// line through Script, and keeps what it received exactly as it came over the wire. It works while
// the thread handles its messages (the synchronous client's waits do). One session at a time: a new
// connection replaces the previous one.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/socket/line.h"

namespace smtptest {

class FakeSmtpServer {
 public:
  // What a line is answered with: the bytes sent as they are ("" sends nothing: the answer is held
  // back for good), and whether the session is closed after them.
  struct Answer {
    std::string reply;
    bool close = false;
  };
  using Script = std::function<Answer(const std::string& command)>;

  FakeSmtpServer();
  ~FakeSmtpServer();
  FakeSmtpServer(const FakeSmtpServer&) = delete;
  FakeSmtpServer& operator=(const FakeSmtpServer&) = delete;

  std::string Port() const { return port_; }

  // Sent when a session opens ("" sends nothing).
  std::string Greeting = "220 fake.test ready\r\n";
  // Answers each command line (without CR LF); "." is the end of the message data. Standard
  // unless set.
  Script OnCommand;
  // The usual answers: HELO, EHLO, MAIL, RCPT, RSET, VRFY 250; DATA 354; "." 250; QUIT 221 and
  // the session closed; anything else 500.
  static Answer Standard(const std::string& command);

  // Every command line received, in order (message data not included, its "." included).
  std::vector<std::string> Commands;
  // The message data of the last DATA as it came over the wire (dot-stuffed, CR LF line ends),
  // without the final ".".
  std::string Data;
  // Sessions accepted, and whether the current one is still open.
  int Sessions = 0;
  bool SessionOpen() const;

 private:
  void Accept();
  void Line(const std::string& line);

  std::unique_ptr<TAsyncSocket> listener_;
  std::unique_ptr<TAsyncSocket> session_;
  std::string port_;
  bool inData_ = false;
  bool closed_ = true;
};

// Data with the dot-stuffing undone: every line that begins with "." loses that first ".".
std::string Unstuffed(const std::string& data);

}  // namespace smtptest
