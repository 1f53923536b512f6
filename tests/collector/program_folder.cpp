#include "tests/collector/program_folder.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "collector/dayfiles.h"
#include "rtl/datetime.h"
#include "rtl/files.h"

namespace fs = std::filesystem;

namespace collectortest {

bool WaitFor(const std::function<bool()>& pred, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int FreePort() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    int t = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    socklen_t len = sizeof a;
    bind(t, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(t, reinterpret_cast<sockaddr*>(&a), &len);
    int u = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    bool udpFree = bind(u, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    int port = ntohs(a.sin_port);
    close(u);
    close(t);
    if (udpFree && port > 0) return port;
  }
  return 0;
}

std::string ProgramFolder::TodayRecords() {
  return collector::kRecordFolder + collector::DayFileName(rtl::Now());
}

std::string ProgramFolder::TodayEvents() {
  return collector::kEventFolder + collector::DayFileName(rtl::Now());
}

ProgramFolder::ProgramFolder() : port_(FreePort()) {
  std::string pattern = "/tmp/kwcollector-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  dir_ = pattern + "/";
  const std::string bin = rtl::ProgramDir();
  fs::copy_file(bin + "KelvadonService", dir_ + "KelvadonService");
  for (const auto& e : fs::directory_iterator(bin)) {
    const std::string name = e.path().filename();
    if (name.starts_with("lib") && name.ends_with(".so")) fs::copy_file(e.path(), dir_ + name);
  }
  fs::create_directory(dir_ + "RecvData");
  fs::create_directory(dir_ + "Log");
  std::ofstream(dir_ + "KelvadonMan.ini", std::ios::binary)
      << "[KelvadonManager]\r\nPort=" << port_ << "\r\n";
}

ProgramFolder::~ProgramFolder() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (portLock_ >= 0) close(portLock_);
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

bool ProgramFolder::Start(const std::vector<std::string>& extraEnv) {
  if (portLock_ < 0) {
    portLock_ = open("/tmp/kelvadon-test-port9021.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (portLock_ < 0 ||
        !WaitFor([&] { return flock(portLock_, LOCK_EX | LOCK_NB) == 0; }, 600000))
      return false;
  }
  pid_ = fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    if (chdir(dir_.c_str()) != 0) _exit(127);
    int fd = open((dir_ + "stderr.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) dup2(fd, 2);
    for (const auto& kv : extraEnv) putenv(strdup(kv.c_str()));
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const std::string program = dir_ + "KelvadonService";
    execl(program.c_str(), program.c_str(), "-FOREGROUND", static_cast<char*>(nullptr));
    _exit(127);
  }
  return WaitFor([&] {
    int fd = ConnectTcp(port_);
    if (fd < 0) return false;
    close(fd);
    return Read(TodayEvents()).find("Service Started") != std::string::npos;
  });
}

int ProgramFolder::Stop() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGINT);
  int status = -1;
  const bool ended = WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, 15000);
  if (!ended) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
  pid_ = -1;
  return status;
}

int ConnectTcp(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const std::string& bytes) {
  size_t off = 0;
  while (off < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}

std::string ReadUntilClose(int fd, int timeoutMs) {
  std::string got;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          end - std::chrono::steady_clock::now())
                                          .count());
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, left) <= 0) break;
    char buf[4096];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
  }
  return got;
}

std::vector<Reply> AskUdp(int port, const std::string& datagram, int waitMs) {
  std::vector<Reply> replies;
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          end - std::chrono::steady_clock::now())
                                          .count());
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, left) <= 0) break;
    char buf[2048];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) break;
    replies.push_back({std::string(buf, static_cast<size_t>(n)), ntohs(from.sin_port)});
  }
  close(fd);
  return replies;
}

std::vector<std::string> RecordLines(const std::string& content) {
  std::vector<std::string> lines;
  if (content.empty()) return lines;
  const std::string header = std::string(collector::kRecordHeader) + "\r\n";
  if (content.compare(0, header.size(), header) != 0) {
    lines.push_back("<no header>");
    return lines;
  }
  size_t pos = header.size();
  while (pos < content.size()) {
    size_t end = content.find("\r\n", pos);
    if (end == std::string::npos) {
      lines.push_back("<unterminated>" + content.substr(pos));
      break;
    }
    lines.push_back(content.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

std::vector<EventEntry> EventEntries(const std::string& content) {
  std::vector<EventEntry> entries;
  size_t pos = 0;
  while (pos < content.size()) {
    size_t head = content.find("\r\n", pos);
    size_t end = content.find("\r\n\r\n\r\n", head);
    if (head == std::string::npos || end == std::string::npos) break;
    entries.push_back({content.substr(pos, head - pos), content.substr(head + 2, end - head - 2)});
    pos = end + 6;
  }
  return entries;
}

}  // namespace collectortest
