#include "tests/net/mail/pop3_fake.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace net::mail::testing {

Pop3Fake::Pop3Fake(std::vector<Pop3FakeStep> script) : script_(std::move(script)) {
  listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(listen_, 4) != 0 ||
      ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    mismatch_ = "the fake server cannot listen";
    return;
  }
  port_ = ntohs(a.sin_port);
  thread_ = std::thread([this] { Run(); });
}

Pop3Fake::~Pop3Fake() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listen_ >= 0) ::close(listen_);
}

std::vector<std::string> Pop3Fake::Heard() {
  std::lock_guard<std::mutex> l(mu_);
  return heard_;
}

std::string Pop3Fake::Mismatch() {
  std::lock_guard<std::mutex> l(mu_);
  return mismatch_;
}

void Pop3Fake::Note(const std::string& line) {
  std::lock_guard<std::mutex> l(mu_);
  heard_.push_back(line);
}

bool Pop3Fake::Readable(int fd) {
  for (int waited = 0; waited < 20000 && !stop_; waited += 50) {
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, 50);
    if (r > 0) return true;
    if (r < 0) return false;
  }
  return false;
}

bool Pop3Fake::ReadLine(int fd, std::string& line) {
  for (;;) {
    const size_t lf = pending_.find('\n');
    if (lf != std::string::npos) {
      line = pending_.substr(0, lf);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      pending_.erase(0, lf + 1);
      return true;
    }
    if (!Readable(fd)) return false;
    char buf[4096];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) {
      clientClosed_ = true;
      return false;
    }
    pending_.append(buf, static_cast<size_t>(n));
  }
}

void Pop3Fake::Run() {
  if (!Readable(listen_)) return;
  const int conn = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
  if (conn < 0) return;
  bool open = true;
  for (const Pop3FakeStep& step : script_) {
    if (stop_) break;
    switch (step.kind) {
      case Pop3FakeStep::Say:
        ::send(conn, step.text.data(), step.text.size(), MSG_NOSIGNAL);
        break;
      case Pop3FakeStep::Hear: {
        std::string line;
        if (!ReadLine(conn, line)) {
          std::lock_guard<std::mutex> l(mu_);
          if (mismatch_.empty()) mismatch_ = "no line where \"" + step.text + "\" was due";
          open = false;
          break;
        }
        Note(line);
        if (line.compare(0, step.text.size(), step.text) != 0) {
          std::lock_guard<std::mutex> l(mu_);
          if (mismatch_.empty()) mismatch_ = "heard \"" + line + "\" for \"" + step.text + "\"";
        }
        break;
      }
      case Pop3FakeStep::Pause:
        for (int waited = 0; waited < step.ms && !stop_; waited += 10)
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        break;
      case Pop3FakeStep::Close:
        ::shutdown(conn, SHUT_WR);
        open = false;
        break;
    }
    if (!open) break;
  }
  done_ = true;
  // Keep the connection and record what comes until the client closes (or, after a close of our
  // own, until the client has closed its side).
  std::string line;
  while (ReadLine(conn, line)) {
    Note(line);
  }
  ::close(conn);
}

}  // namespace net::mail::testing
