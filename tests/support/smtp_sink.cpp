#include "tests/support/smtp_sink.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "tests/support/wait.h"

namespace testsupport {

namespace {

constexpr char kPython[] = "/usr/bin/python3";

// Reads the first line the child writes to fd, waiting at most timeoutMs.
std::string ReadFirstLine(int fd, int timeoutMs) {
  std::string line;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (line.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          end - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
    char buf[64];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, static_cast<size_t>(n));
  }
  const size_t nl = line.find('\n');
  return nl == std::string::npos ? std::string() : line.substr(0, nl);
}

}  // namespace

std::string SinkPython() {
  static const std::string python = [] {
    if (access(kPython, X_OK) != 0) return std::string();
    const std::string probe = std::string(kPython) + " -c 'import aiosmtpd' >/dev/null 2>&1";
    return std::system(probe.c_str()) == 0 ? std::string(kPython) : std::string();
  }();
  return python;
}

SmtpSink::SmtpSink(const std::vector<std::string>& switches) : dir_("smtpsink") {
  if (SinkPython().empty()) return;
  std::vector<std::string> args = {kPython, std::string(KELVADON_PEERS_DIR) + "/smtp_sink.py",
                                   "--dir", dir_.path()};
  args.insert(args.end(), switches.begin(), switches.end());
  std::vector<char*> argv;
  for (auto& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string errPath = dir_.File("sink.err");
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(fds[1], 1);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (err >= 0) dup2(err, 2);
    execv(kPython, argv.data());
    _exit(127);
  }
  close(fds[1]);
  if (pid_ > 0) port_ = ReadFirstLine(fds[0], kWaitLimitMs);
  close(fds[0]);
}

SmtpSink::~SmtpSink() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int i = 0; i < 300; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

std::string SmtpSink::Error() const {
  if (SinkPython().empty()) return "no /usr/bin/python3 with aiosmtpd";
  return "the sink did not start: " + ReadFile(dir_.File("sink.err"));
}

std::vector<SmtpSink::Message> SmtpSink::Messages() const {
  std::vector<Message> messages;
  for (int n = 1;; ++n) {
    const std::string env = dir_.File(std::to_string(n) + ".env");
    const std::string eml = dir_.File(std::to_string(n) + ".eml");
    if (access(env.c_str(), F_OK) != 0 || access(eml.c_str(), F_OK) != 0) break;
    messages.push_back({ReadLines(env), ReadFile(eml)});
  }
  return messages;
}

std::vector<std::string> SmtpSink::AuthLog() const {
  const std::string log = dir_.File("auth.log");
  if (access(log.c_str(), F_OK) != 0) return {};
  return testsupport::ReadLines(log);
}

std::vector<std::string> SmtpSink::Holds() const {
  return testsupport::ReadLines(dir_.File("holds.log"));
}

}  // namespace testsupport
