// A scripted POP3 server for the client's tests: it listens on 127.0.0.1 (a port the system
// chooses), accepts one connection and plays its script: lines to say, command lines to hear,
// pauses and a close. After the script it keeps the connection and records what arrives until the
// client closes or the object goes. Every line heard is recorded without its line end. It runs on
// a thread of its own with plain sockets, so it never depends on the message loop it is tested
// against; every wait is bounded.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace net::mail::testing {

struct Pop3FakeStep {
  enum Kind { Say, Hear, Pause, Close } kind;
  std::string text;  // Say: bytes sent as they are; Hear: what the line should start with
  int ms = 0;        // Pause
};

// Script helpers. Say appends nothing: write the line end yourself, or use Line.
inline Pop3FakeStep Say(std::string bytes) {
  return {Pop3FakeStep::Say, std::move(bytes), 0};
}
inline Pop3FakeStep Line(const std::string& text) {
  return Say(text + "\r\n");
}
inline Pop3FakeStep Hear(std::string prefix) {
  return {Pop3FakeStep::Hear, std::move(prefix), 0};
}
inline Pop3FakeStep Pause(int ms) {
  return {Pop3FakeStep::Pause, std::string(), ms};
}
inline Pop3FakeStep CloseNow() {
  return {Pop3FakeStep::Close, std::string(), 0};
}

class Pop3Fake {
 public:
  explicit Pop3Fake(std::vector<Pop3FakeStep> script);
  ~Pop3Fake();
  Pop3Fake(const Pop3Fake&) = delete;
  Pop3Fake& operator=(const Pop3Fake&) = delete;

  std::string Port() const { return std::to_string(port_); }
  // The lines heard so far.
  std::vector<std::string> Heard();
  // "" while every Hear step got a line starting with its prefix; else what went wrong first.
  std::string Mismatch();
  // True once the script has been played to its end.
  bool ScriptDone() const { return done_; }
  // True once the client's side of the connection has closed.
  bool ClientClosed() const { return clientClosed_; }

 private:
  void Run();
  // Waits up to 20 s for fd to be readable, watching stop_.
  bool Readable(int fd);
  // Reads one line (through its LF) into line; false when the client closed or nothing came.
  bool ReadLine(int fd, std::string& line);
  void Note(const std::string& line);

  std::vector<Pop3FakeStep> script_;
  int listen_ = -1;
  int port_ = 0;
  std::string pending_;  // bytes read past the last line
  std::thread thread_;
  std::atomic<bool> stop_{false}, done_{false}, clientClosed_{false};
  std::mutex mu_;
  std::vector<std::string> heard_;
  std::string mismatch_;
};

}  // namespace net::mail::testing
