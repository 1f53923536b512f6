// Payload encoding and frame I/O. Numbers are 32-bit little-endian; a text is its length and its
// bytes; an optional text is a presence flag and the text; a list is its count and its entries.
#include "platform/scm/protocol.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/scm/secret.h"
#include "rtl/cp932.h"

namespace scm {

namespace {

void PutU32(std::string& out, uint32_t v) {
  char b[4] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
               static_cast<char>((v >> 16) & 0xFF), static_cast<char>((v >> 24) & 0xFF)};
  out.append(b, 4);
}

// The bytes OptStr writes for a text.
size_t OptSize(const std::optional<std::string>& s) {
  return 4 + (s ? 4 + s->size() : 0);
}

uint32_t GetU32(const char* p) {
  auto b = reinterpret_cast<const unsigned char*>(p);
  return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}

}  // namespace

Writer& Writer::U32(uint32_t v) {
  PutU32(out_, v);
  return *this;
}

void Writer::Wipe() {
  scm::Wipe(out_);
}

Writer& Writer::Str(std::string_view s) {
  PutU32(out_, static_cast<uint32_t>(s.size()));
  out_.append(s);
  return *this;
}

Writer& Writer::OptStr(const std::optional<std::string>& s) {
  Bool(s.has_value());
  if (s) Str(*s);
  return *this;
}

Writer& Writer::Strs(const std::vector<std::string>& list) {
  U32(static_cast<uint32_t>(list.size()));
  for (const auto& s : list)
    Str(s);
  return *this;
}

Writer& Writer::Status(const ServiceStatus& s) {
  return U32(s.serviceType)
      .U32(s.currentState)
      .U32(s.controlsAccepted)
      .U32(s.win32ExitCode)
      .U32(s.serviceSpecificExitCode)
      .U32(s.checkPoint)
      .U32(s.waitHint)
      .U32(s.processId);
}

Writer& Writer::Config(const ServiceConfig& c) {
  return Str(c.name)
      .Str(c.displayName)
      .U32(c.serviceType)
      .U32(c.startType)
      .U32(c.errorControl)
      .Str(c.binaryPathName)
      .Str(c.loadOrderGroup)
      .U32(c.tagId)
      .Strs(c.dependencies)
      .Str(c.serviceStartName);
}

Writer& Writer::Change(const ConfigChange& c) {
  U32(c.serviceType).U32(c.startType).U32(c.errorControl);
  OptStr(c.binaryPathName).OptStr(c.loadOrderGroup);
  Bool(c.dependencies.has_value());
  if (c.dependencies) Strs(*c.dependencies);
  OptStr(c.serviceStartName);
  // Room for the password and what follows it at once: a later growth would free a buffer that
  // holds the password without wiping it.
  out_.reserve(out_.size() + OptSize(c.password) + OptSize(c.displayName));
  return OptStr(c.password).OptStr(c.displayName);
}

Writer& Writer::Actions(const std::vector<Action>& list) {
  U32(static_cast<uint32_t>(list.size()));
  for (const auto& a : list)
    U32(a.type).U32(a.delayMs);
  return *this;
}

Writer& Writer::Failure(const FailureActions& f) {
  return U32(f.resetPeriod).Str(f.rebootMessage).Str(f.command).Actions(f.actions);
}

Writer& Writer::FailureChange(const FailureActionsChange& f) {
  U32(f.resetPeriod).OptStr(f.rebootMessage).OptStr(f.command);
  Bool(f.actions.has_value());
  if (f.actions) Actions(*f.actions);
  return *this;
}

bool Reader::U32(uint32_t& v) {
  if (!ok_ || in_.size() - pos_ < 4) return Fail();
  v = GetU32(in_.data() + pos_);
  pos_ += 4;
  return true;
}

bool Reader::Bool(bool& v) {
  uint32_t n;
  if (!U32(n) || n > 1) return Fail();
  v = n == 1;
  return true;
}

bool Reader::Str(std::string& s, size_t maxBytes) {
  uint32_t n;
  if (!U32(n) || n > maxBytes || in_.size() - pos_ < n) return Fail();
  s.assign(in_.data() + pos_, n);
  pos_ += n;
  return true;
}

bool Reader::OptStr(std::optional<std::string>& s, size_t maxBytes) {
  bool present;
  if (!Bool(present)) return false;
  if (!present) {
    s.reset();
    return true;
  }
  s.emplace();  // read in place: no other text holds the bytes (a password's) on the way
  return Str(*s, maxBytes);
}

bool Reader::Strs(std::vector<std::string>& list, size_t maxCount, size_t maxBytes) {
  uint32_t n;
  if (!U32(n) || n > maxCount) return Fail();
  list.clear();
  for (uint32_t i = 0; i < n; ++i) {
    std::string s;
    if (!Str(s, maxBytes)) return false;
    list.push_back(std::move(s));
  }
  return true;
}

bool Reader::Status(ServiceStatus& s) {
  return U32(s.serviceType) && U32(s.currentState) && U32(s.controlsAccepted) &&
         U32(s.win32ExitCode) && U32(s.serviceSpecificExitCode) && U32(s.checkPoint) &&
         U32(s.waitHint) && U32(s.processId);
}

bool Reader::Config(ServiceConfig& c) {
  return Str(c.name, kMaxNameLength) && Str(c.displayName, kMaxNameLength) && U32(c.serviceType) &&
         U32(c.startType) && U32(c.errorControl) && Str(c.binaryPathName, kMaxPathLength) &&
         Str(c.loadOrderGroup, kMaxNameLength) && U32(c.tagId) &&
         Strs(c.dependencies, kMaxDependencies, kMaxNameLength) &&
         Str(c.serviceStartName, kMaxNameLength);
}

bool Reader::Change(ConfigChange& c) {
  if (!U32(c.serviceType) || !U32(c.startType) || !U32(c.errorControl)) return false;
  if (!OptStr(c.binaryPathName, kMaxPathLength) || !OptStr(c.loadOrderGroup, kMaxNameLength))
    return false;
  bool deps;
  if (!Bool(deps)) return false;
  if (deps) {
    std::vector<std::string> list;
    if (!Strs(list, kMaxDependencies, kMaxNameLength)) return false;
    c.dependencies = std::move(list);
  } else {
    c.dependencies.reset();
  }
  return OptStr(c.serviceStartName, kMaxNameLength) && OptStr(c.password, kMaxPasswordLength) &&
         OptStr(c.displayName, kMaxNameLength);
}

bool Reader::Actions(std::vector<Action>& list) {
  uint32_t n;
  if (!U32(n) || n > kMaxActions) return Fail();
  list.clear();
  for (uint32_t i = 0; i < n; ++i) {
    Action a;
    if (!U32(a.type) || !U32(a.delayMs)) return false;
    list.push_back(a);
  }
  return true;
}

bool Reader::Failure(FailureActions& f) {
  return U32(f.resetPeriod) && Str(f.rebootMessage, kMaxTextLength) &&
         Str(f.command, kMaxPathLength) && Actions(f.actions);
}

bool Reader::FailureChange(FailureActionsChange& f) {
  if (!U32(f.resetPeriod) || !OptStr(f.rebootMessage, kMaxTextLength) ||
      !OptStr(f.command, kMaxPathLength))
    return false;
  bool present;
  if (!Bool(present)) return false;
  if (present) {
    std::vector<Action> list;
    if (!Actions(list)) return false;
    f.actions = std::move(list);
  } else {
    f.actions.reset();
  }
  return true;
}

Writer Request(Op op) {
  Writer w;
  w.U32(static_cast<uint32_t>(op));
  return w;
}

bool FrameBuffer::Next(std::string& payload, bool& bad) {
  bad = false;
  if (buf_.size() < 4) return false;
  const uint32_t n = GetU32(buf_.data());
  if (n > kMaxFrame) {
    bad = true;
    return false;
  }
  if (buf_.size() - 4 < n) return false;
  payload.assign(buf_, 4, n);
  // What follows moves to the front and the bytes it leaves are zeroed: a frame taken (a
  // password, say) is not left behind in the buffer.
  const size_t taken = 4 + size_t(n), rest = buf_.size() - taken;
  memmove(buf_.data(), buf_.data() + taken, rest);
  explicit_bzero(buf_.data() + rest, taken);
  buf_.resize(rest);
  return true;
}

FrameBuffer::~FrameBuffer() {
  Wipe(buf_);
}

std::string Frame(std::string_view payload) {
  std::string out;
  out.reserve(payload.size() + 4);
  PutU32(out, static_cast<uint32_t>(payload.size()));
  out.append(payload);
  return out;
}

namespace {

bool WriteAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t k = send(fd, p, n, MSG_NOSIGNAL);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    p += k;
    n -= static_cast<size_t>(k);
  }
  return true;
}

bool ReadAll(int fd, char* p, size_t n) {
  while (n > 0) {
    ssize_t k = read(fd, p, n);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) {
      if (k == 0) errno = 0;
      return false;
    }
    p += k;
    n -= static_cast<size_t>(k);
  }
  return true;
}

}  // namespace

bool WriteFrame(int fd, std::string_view payload) {
  if (payload.size() > kMaxFrame) {
    errno = EMSGSIZE;
    return false;
  }
  std::string bytes = Frame(payload);
  const WipeAtExit wipe(bytes);  // a request may carry a password
  return WriteAll(fd, bytes.data(), bytes.size());
}

bool ReadFrame(int fd, std::string& payload) {
  char head[4];
  if (!ReadAll(fd, head, 4)) return false;
  const uint32_t n = GetU32(head);
  if (n > kMaxFrame) {
    errno = EPROTO;
    return false;
  }
  payload.resize(n);
  return ReadAll(fd, payload.data(), n);
}

std::string StateName(uint32_t state) {
  switch (state) {
    case kServiceStopped:
      return "STOPPED";
    case kServiceStartPending:
      return "START_PENDING";
    case kServiceStopPending:
      return "STOP_PENDING";
    case kServiceRunning:
      return "RUNNING";
    case kServiceContinuePending:
      return "CONTINUE_PENDING";
    case kServicePausePending:
      return "PAUSE_PENDING";
    case kServicePaused:
      return "PAUSED";
  }
  return "STATE " + std::to_string(state);
}

std::string NameKey(std::string_view name) {
  return rtl::UpperCase(name);
}

std::string StateDir() {
  const char* env = getenv(kEnvDir);
  std::string dir = (env && *env) ? env : kDefaultDir;
  while (dir.size() > 1 && dir.back() == '/')
    dir.pop_back();
  return dir;
}

unsigned EnvSeconds(const char* name, unsigned fallback) {
  const char* env = getenv(name);
  if (!env || !*env) return fallback;
  unsigned long v = 0;
  for (const char* p = env; *p; ++p) {
    if (*p < '0' || *p > '9') return fallback;
    v = v * 10 + unsigned(*p - '0');
    if (v > 86400) return fallback;
  }
  return v > 0 ? static_cast<unsigned>(v) : fallback;
}

}  // namespace scm
