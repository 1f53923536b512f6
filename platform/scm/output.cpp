#include "platform/scm/output.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <utility>

#include "platform/scm/daemon.h"

namespace scm {

namespace {

// A pipe's usual capacity: what one Read takes at most.
constexpr size_t kReadPerCall = 64 * 1024;

}  // namespace

ServiceOutput::ServiceOutput(int fd, std::string name, pid_t pid)
    : fd_(fd), name_(std::move(name)), pid_(pid) {
  const int flags = fcntl(fd_, F_GETFL);
  if (flags >= 0) fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
}

ServiceOutput::~ServiceOutput() {
  if (!partial_.empty()) LogLine(partial_);
  close(fd_);
}

bool ServiceOutput::Read() {
  char buf[4096];
  size_t taken = 0;
  while (taken < kReadPerCall) {
    const ssize_t n = read(fd_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (n <= 0) {  // the end, or a failure
      if (!partial_.empty()) LogLine(partial_);
      partial_.clear();
      return false;
    }
    Take(std::string_view(buf, static_cast<size_t>(n)));
    taken += static_cast<size_t>(n);
  }
  return true;
}

void ServiceOutput::Take(std::string_view bytes) {
  while (!bytes.empty()) {
    const size_t end = bytes.find('\n');
    const size_t room = kMaxOutputLine - partial_.size();
    if (end != std::string_view::npos && end <= room) {
      partial_.append(bytes.substr(0, end));
      bytes.remove_prefix(end + 1);
    } else if (bytes.size() < room) {
      partial_.append(bytes);
      return;
    } else {
      partial_.append(bytes.substr(0, room));
      bytes.remove_prefix(room);
    }
    LogLine(partial_);
    partial_.clear();
  }
}

void ServiceOutput::LogLine(std::string_view line) {
  if (line.ends_with('\r')) line.remove_suffix(1);
  std::string text(line);
  for (char& c : text) {
    const auto b = static_cast<unsigned char>(c);
    if ((b < 0x20 && c != '\t') || b == 0x7F) c = '?';
  }
  Log("%s[%d]: %s", name_.c_str(), static_cast<int>(pid_), text.c_str());
}

}  // namespace scm
