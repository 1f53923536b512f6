// The poll loop, the clients' connections and the requests that need no service process.
#include "platform/scm/daemon.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/scm/secret.h"
#include "platform/win/win.h"
#include "rtl/files.h"
#include "rtl/fs.h"

namespace scm {

namespace {

constexpr char kLockName[] = "scmd.lock";
constexpr int kListenBacklog = 64;
constexpr size_t kMaxClients = 1024;
constexpr size_t kMaxHandlesPerClient = 4096;
constexpr size_t kMaxPendingOutput = 1024 * 1024;
constexpr size_t kReadChunk = 16 * 1024;

constexpr uint32_t kErrorInvalidName = 123;
// A descriptor whose parts together pass the record's limit.
constexpr uint32_t kErrorAllottedSpaceExceeded = 1344;

bool ValidName(const std::string& name) {
  return !name.empty() && name.size() <= kMaxNameLength &&
         name.find_first_of("/\\") == std::string::npos;
}

}  // namespace

int64_t NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void Log(const char* format, ...) {
  char line[2048];
  va_list ap;
  va_start(ap, format);
  vsnprintf(line, sizeof line, format, ap);
  va_end(ap);
  fprintf(stderr, "scmd: %s\n", line);
  fflush(stderr);
}

const Daemon::RequestEntry Daemon::kRequests[] = {
    {Op::kOpenManager, &Daemon::OpenManager},
    {Op::kOpenService, &Daemon::OpenService},
    {Op::kCreateService, &Daemon::CreateService},
    {Op::kDeleteService, &Daemon::DeleteService},
    {Op::kCloseHandle, &Daemon::CloseHandle},
    {Op::kQueryStatus, &Daemon::QueryStatus},
    {Op::kQueryConfig, &Daemon::QueryConfig},
    {Op::kChangeConfig, &Daemon::ChangeConfig},
    {Op::kQueryDescription, &Daemon::QueryDescription},
    {Op::kChangeDescription, &Daemon::ChangeDescription},
    {Op::kQueryFailureActions, &Daemon::QueryFailureActions},
    {Op::kChangeFailureActions, &Daemon::ChangeFailureActions},
    {Op::kStartService, &Daemon::StartService},
    {Op::kControl, &Daemon::Control},
    {Op::kLock, &Daemon::Lock},
    {Op::kUnlock, &Daemon::Unlock},
    {Op::kQueryLockStatus, &Daemon::QueryLockStatus},
    {Op::kQuerySecurity, &Daemon::QuerySecurity},
    {Op::kSetSecurity, &Daemon::SetSecurity},
    {Op::kEnumServices, &Daemon::EnumServices},
};

Daemon::Service::~Service() {
  Wipe(record.password);
}

Daemon::Daemon(DaemonOptions options) : options_(std::move(options)), store_(options_.dir) {}

Daemon::~Daemon() {
  for (auto& [id, c] : clients_)
    close(c->fd);
  for (auto& [pid, p] : processes_)
    if (p->channel >= 0) close(p->channel);
  if (listenFd_ >= 0) close(listenFd_);
  if (signalFd_ >= 0) close(signalFd_);
  if (lockFd_ >= 0) close(lockFd_);
}

bool Daemon::Init() {
  if (!rtl::ForceDirectories(options_.dir)) {
    Log("cannot make the state folder %s: %s", options_.dir.c_str(),
        rtl::fs::ErrorText(errno).c_str());
    return false;
  }
  const std::string lockPath = options_.dir + "/" + kLockName;
  lockFd_ = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lockFd_ < 0) {
    Log("cannot open %s: %s", lockPath.c_str(), rtl::fs::ErrorText(errno).c_str());
    return false;
  }
  if (flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
    Log("another scmd serves %s", options_.dir.c_str());
    return false;
  }

  std::vector<std::string> bad;
  for (auto& record : store_.LoadAll(&bad)) {
    auto s = std::make_unique<Service>();
    s->record = std::move(record);
    Wipe(record.password);  // a short password stays in a moved-from text's own buffer
    s->status.serviceType = s->record.config.serviceType;
    const std::string key = NameKey(s->record.config.name);
    services_[key] = std::move(s);
  }
  for (const auto& path : bad)
    Log("skipped the unreadable service record %s", path.c_str());
  UpgradeDescriptors();

  socketPath_ = options_.dir + "/" + kSocketName;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (socketPath_.size() >= sizeof addr.sun_path) {
    Log("the socket path %s is too long", socketPath_.c_str());
    return false;
  }
  std::memcpy(addr.sun_path, socketPath_.c_str(), socketPath_.size() + 1);
  unlink(socketPath_.c_str());  // left by an scmd that ended without cleaning up (we hold the lock)
  listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      chmod(socketPath_.c_str(), 0666) != 0 || listen(listenFd_, kListenBacklog) != 0) {
    Log("cannot listen on %s: %s", socketPath_.c_str(), rtl::fs::ErrorText(errno).c_str());
    return false;
  }

  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGCHLD, SIGTERM, SIGINT, SIGHUP})
    sigaddset(&set, sig);
  signalFd_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  if (signalFd_ < 0) {
    Log("signalfd: %s", rtl::fs::ErrorText(errno).c_str());
    return false;
  }
  Log("serving %s with %zu service(s)", options_.dir.c_str(), services_.size());
  return true;
}

int Daemon::Run() {
  // Dependencies start first: one already started as a dependency is not started again.
  for (auto& [key, s] : services_) {
    if (s->record.config.startType != kAutoStart || s->status.currentState != kServiceStopped)
      continue;
    if (uint32_t err = Start(*s, {}, 0))
      Log("%s: automatic start failed with %u", s->record.config.name.c_str(), err);
  }

  enum Kind { kListen, kSignal, kClient, kChannel, kOutput };
  struct Slot {
    Kind kind;
    uint64_t id;
  };
  std::vector<pollfd> fds;
  std::vector<Slot> slots;
  std::vector<uint64_t> resume;
  for (;;) {
    if (shuttingDown_) {
      bool alive = false;
      for (auto& [pid, p] : processes_)
        alive = alive || !p->killed;
      if (!alive || NowMs() >= shutdownDeadline_) break;
    }

    fds.clear();
    slots.clear();
    if (listenFd_ >= 0) {
      fds.push_back({listenFd_, POLLIN, 0});
      slots.push_back({kListen, 0});
    }
    fds.push_back({signalFd_, POLLIN, 0});
    slots.push_back({kSignal, 0});
    for (auto& [id, c] : clients_) {
      short ev = c->waiting ? 0 : POLLIN;
      if (!c->out.empty()) ev |= POLLOUT;
      fds.push_back({c->fd, ev, 0});
      slots.push_back({kClient, id});
    }
    for (auto& [pid, p] : processes_) {
      if (p->channel < 0) continue;
      short ev = POLLIN;
      if (!p->out.empty()) ev |= POLLOUT;
      fds.push_back({p->channel, ev, 0});
      slots.push_back({kChannel, static_cast<uint64_t>(pid)});
    }
    for (auto& [id, o] : outputs_) {
      fds.push_back({o->fd(), POLLIN, 0});
      slots.push_back({kOutput, id});
    }
    int timeout = -1;
    if (int64_t due = NextDeadline(); due > 0)
      timeout = static_cast<int>(std::clamp<int64_t>(due - NowMs(), 0, 60000));
    int n = poll(fds.data(), fds.size(), timeout);
    if (n < 0 && errno != EINTR) {
      Log("poll: %s", rtl::fs::ErrorText(errno).c_str());
      break;
    }

    // Signals are taken after the descriptors: a status a process wrote on its channel before it
    // ended is read before its end is reaped (OnProcessEnd drains the channel once more).
    bool signalled = false;
    for (size_t i = 0; n > 0 && i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      const Slot slot = slots[i];
      switch (slot.kind) {
        case kChannel: {
          auto it = processes_.find(static_cast<pid_t>(slot.id));
          if (it == processes_.end() || it->second->channel < 0) break;
          if (fds[i].revents & POLLOUT) FlushChannel(*it->second);
          if (it->second->channel >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
            ReadChannel(*it->second);
          break;
        }
        case kClient: {
          auto it = clients_.find(slot.id);
          if (it == clients_.end()) break;
          Client& c = *it->second;
          if (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            if (!(fds[i].revents & POLLIN)) {
              DropClient(slot.id);
              break;
            }
          }
          if (fds[i].revents & POLLOUT) FlushClient(c);
          if (clients_.count(slot.id) && (fds[i].revents & POLLIN)) ReadClient(c);
          break;
        }
        case kOutput:
          ReadOutput(slot.id);
          break;
        case kListen:
          Accept();
          break;
        case kSignal:
          signalled = true;
          break;
      }
    }
    if (signalled) {
      signalfd_siginfo info;
      while (read(signalFd_, &info, sizeof info) == sizeof info) {
        if (info.ssi_signo == SIGTERM || info.ssi_signo == SIGINT) {
          if (!shuttingDown_) BeginShutdown();
        } else if (info.ssi_signo == SIGHUP) {
          Log("SIGHUP ignored");
        }
      }
      ReapChildren();
    }
    RunTimers();
    // Whatever the round changed (a status reported, a process ended, a start failed or timed
    // out) may let waiting services start, or end their wait.
    AdvanceDependents();

    // Clients whose delayed reply went out may go on with their next request.
    resume.clear();
    for (auto& [id, c] : clients_)
      if (!c->waiting && c->in.Pending() > 0) resume.push_back(id);
    for (uint64_t id : resume) {
      auto it = clients_.find(id);
      if (it != clients_.end()) ReadClient(*it->second);
    }
  }

  // What is still running after the wait is killed; only service processes are.
  for (auto& [pid, p] : processes_) {
    if (!p->killed)
      Log("%s: process %d did not stop in time, killed", p->service->record.config.name.c_str(),
          static_cast<int>(pid));
    kill(pid, SIGKILL);
  }
  for (auto& [pid, p] : processes_) {
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  // What the services wrote before they ended is logged before scmd's last line.
  for (auto& [id, o] : outputs_)
    o->Read();
  outputs_.clear();
  if (!socketPath_.empty()) unlink(socketPath_.c_str());
  Log("stopped");
  return 0;
}

void Daemon::BeginShutdown() {
  shuttingDown_ = true;
  shutdownDeadline_ = NowMs() + int64_t(options_.shutdownTimeoutSec) * 1000;
  Log("shutting down");
  if (listenFd_ >= 0) {
    close(listenFd_);
    listenFd_ = -1;
    unlink(socketPath_.c_str());
    socketPath_.clear();
  }
  std::vector<std::string> waiting;
  for (auto& [key, s] : services_)
    if (s->awaiting) waiting.push_back(key);
  for (const auto& key : waiting) {
    auto it = services_.find(key);
    if (it != services_.end()) FailAwaiting(*it->second, kErrorShutdownInProgress);
  }
  // A service that is stopping hears it too: its stop may give it more time than the kill leaves.
  for (auto& [key, s] : services_) {
    s->actionAt = 0;
    const uint32_t state = s->status.currentState;
    if (!s->process || !(s->status.controlsAccepted & kAcceptShutdown)) continue;
    if (state == kServiceRunning || state == kServicePaused || state == kServicePausePending ||
        state == kServiceContinuePending || state == kServiceStopPending) {
      s->process->shutdownSent = true;
      QueueControl(*s, PendingControl{0, kControlShutdown});
    }
  }
}

int64_t Daemon::NextDeadline() const {
  int64_t due = 0;
  auto take = [&](int64_t t) {
    if (t > 0 && (due == 0 || t < due)) due = t;
  };
  for (auto& [key, s] : services_) {
    take(s->startDeadline);
    take(s->actionAt);
  }
  for (auto& [pid, p] : processes_)
    if (p->inFlight) take(p->controlDeadline);
  if (shuttingDown_) take(shutdownDeadline_);
  return due;
}

void Daemon::RunTimers() {
  const int64_t now = NowMs();
  std::vector<std::string> keys;
  for (auto& [key, s] : services_)
    keys.push_back(key);
  for (const auto& key : keys) {
    auto it = services_.find(key);
    if (it == services_.end()) continue;
    Service& s = *it->second;
    if (s.startDeadline && now >= s.startDeadline) StartTimedOut(s);
  }
  std::vector<pid_t> pids;
  for (auto& [pid, p] : processes_)
    if (p->inFlight && now >= p->controlDeadline) pids.push_back(pid);
  for (pid_t pid : pids) {
    auto it = processes_.find(pid);
    if (it != processes_.end()) ControlTimedOut(*it->second);
  }
  for (const auto& key : keys) {
    auto it = services_.find(key);
    if (it == services_.end()) continue;
    Service& s = *it->second;
    if (s.actionAt && now >= s.actionAt) RunFailureAction(s);
  }
}

void Daemon::ReadOutput(uint64_t id) {
  auto it = outputs_.find(id);
  if (it != outputs_.end() && !it->second->Read()) outputs_.erase(it);
}

void Daemon::ReapChildren() {
  int status;
  pid_t pid;
  while ((pid = waitpid(-1, &status, WNOHANG)) > 0)
    OnProcessEnd(pid, status);
}

void Daemon::Accept() {
  for (;;) {
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK)
        Log("accept: %s", rtl::fs::ErrorText(errno).c_str());
      return;
    }
    if (clients_.size() >= kMaxClients) {
      close(fd);
      continue;
    }
    auto c = std::make_unique<Client>();
    c->id = nextClient_++;
    c->fd = fd;
    c->peer = PeerOf(fd);
    clients_[c->id] = std::move(c);
  }
}

void Daemon::ReadClient(Client& c) {
  const uint64_t id = c.id;
  char buf[kReadChunk];
  bool eof = false;
  for (;;) {
    ssize_t n = read(c.fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK) eof = true;
      break;
    }
    if (n == 0) {
      eof = true;
      break;
    }
    c.in.Append(buf, static_cast<size_t>(n));
    if (c.in.Pending() > kMaxFrame + 4) break;  // served below before more is read
  }
  // A request may carry a password: neither the bytes read nor the payload outlive its handling.
  explicit_bzero(buf, sizeof buf);
  std::string payload;
  const WipeAtExit wipe(payload);
  bool bad = false;
  while (!c.waiting && c.in.Next(payload, bad)) {
    HandleRequest(c, payload);
    Wipe(payload);
    if (!clients_.count(id)) return;
  }
  if (bad || eof || c.out.size() > kMaxPendingOutput) DropClient(id);
}

void Daemon::FlushClient(Client& c) {
  while (!c.out.empty()) {
    ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n <= 0) {
      DropClient(c.id);
      return;
    }
    c.out.erase(0, static_cast<size_t>(n));
  }
}

void Daemon::DropClient(uint64_t id) {
  auto it = clients_.find(id);
  if (it == clients_.end()) return;
  std::unique_ptr<Client> c = std::move(it->second);
  clients_.erase(it);
  close(c->fd);
  if (lockOwner_ == id) lockOwner_ = 0;
  for (auto& [h, handle] : c->handles) {
    if (!handle.service) continue;
    --handle.service->handles;
    MaybeRemove(*handle.service);
  }
}

void Daemon::Reply(Client& c, const Writer& w) {
  c.out += Frame(w.Payload());
  FlushClient(c);
}

void Daemon::ReplyError(Client& c, uint32_t error) {
  Writer w;
  w.U32(error);
  Reply(c, w);
}

void Daemon::Answer(uint64_t client, const Writer& w) {
  auto it = clients_.find(client);
  if (it == clients_.end()) return;  // it went away while waiting
  it->second->waiting = false;
  Reply(*it->second, w);
}

void Daemon::HandleRequest(Client& c, const std::string& payload) {
  Reader r(payload);
  uint32_t op;
  if (!r.U32(op)) return ReplyError(c, kErrorInvalidData);
  for (const auto& entry : kRequests) {
    if (static_cast<uint32_t>(entry.op) == op) return (this->*entry.handler)(c, r);
  }
  ReplyError(c, ERROR_INVALID_FUNCTION);
}

Daemon::Handle* Daemon::ManagerHandle(Client& c, Reader& r, uint32_t right) {
  uint32_t h;
  if (!r.U32(h)) {
    ReplyError(c, kErrorInvalidData);
    return nullptr;
  }
  auto it = c.handles.find(h);
  if (it == c.handles.end() || !it->second.manager) {
    ReplyError(c, ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if ((it->second.access & right) != right) {
    ReplyError(c, kErrorAccessDenied);
    return nullptr;
  }
  return &it->second;
}

Daemon::Handle* Daemon::ServiceHandle(Client& c, Reader& r, uint32_t right) {
  uint32_t h;
  if (!r.U32(h)) {
    ReplyError(c, kErrorInvalidData);
    return nullptr;
  }
  auto it = c.handles.find(h);
  if (it == c.handles.end() || it->second.manager) {
    ReplyError(c, ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if ((it->second.access & right) != right) {
    ReplyError(c, kErrorAccessDenied);
    return nullptr;
  }
  return &it->second;
}

void Daemon::OpenManager(Client& c, Reader& r) {
  uint32_t access, granted = 0;
  if (!r.U32(access) || !r.AtEnd()) return ReplyError(c, kErrorInvalidData);
  if (uint32_t err = CheckManagerAccess(c.peer, access, granted)) return ReplyError(c, err);
  if (c.handles.size() >= kMaxHandlesPerClient) return ReplyError(c, ERROR_NOT_ENOUGH_MEMORY);
  const uint32_t h = c.nextHandle++;
  c.handles[h] = Handle{true, granted, nullptr};
  Writer w;
  Reply(c, w.U32(0).U32(h));
}

void Daemon::OpenService(Client& c, Reader& r) {
  Handle* manager = ManagerHandle(c, r, kManagerConnect);
  if (!manager) return;
  std::string name;
  uint32_t access, granted = 0;
  if (!r.Str(name, kMaxFrame) || !r.U32(access) || !r.AtEnd())
    return ReplyError(c, kErrorInvalidData);
  if (!ValidName(name)) return ReplyError(c, kErrorInvalidName);
  Service* s = Find(name);
  if (!s) return ReplyError(c, ERROR_SERVICE_DOES_NOT_EXIST);
  if (uint32_t err = CheckServiceAccess(c.peer, SecurityOf(*s), access, granted))
    return ReplyError(c, err);
  if (c.handles.size() >= kMaxHandlesPerClient) return ReplyError(c, ERROR_NOT_ENOUGH_MEMORY);
  const uint32_t h = c.nextHandle++;
  c.handles[h] = Handle{false, granted, s};
  ++s->handles;
  Writer w;
  Reply(c, w.U32(0).U32(h));
}

void Daemon::CreateService(Client& c, Reader& r) {
  Handle* manager = ManagerHandle(c, r, kManagerCreateService);
  if (!manager) return;
  uint32_t access, granted = 0;
  ServiceConfig config;
  std::string password;
  const WipeAtExit wipe(password);
  if (!r.U32(access) || !r.Config(config) || !r.Str(password, kMaxPasswordLength) || !r.AtEnd())
    return ReplyError(c, kErrorInvalidData);
  if (!ValidName(config.name)) return ReplyError(c, kErrorInvalidName);
  if (Service* existing = Find(config.name))
    return ReplyError(c, existing->marked ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS);
  if (config.displayName.empty()) config.displayName = config.name;
  if (config.serviceStartName.empty()) config.serviceStartName = "LocalSystem";
  config.tagId = 0;
  if (uint32_t err = CheckConfig(config, nullptr)) return ReplyError(c, err);
  if (uint32_t err = CheckCycle(config)) return ReplyError(c, err);
  const Descriptor security = DefaultServiceDescriptor();
  if (uint32_t err = CheckServiceAccess(c.peer, security, access, granted))
    return ReplyError(c, err);
  if (c.handles.size() >= kMaxHandlesPerClient) return ReplyError(c, ERROR_NOT_ENOUGH_MEMORY);

  auto s = std::make_unique<Service>();
  s->record.config = config;
  s->record.password.swap(password);
  s->record.security = EncodeDescriptor(security);
  s->status.serviceType = config.serviceType;
  if (!store_.Save(s->record)) return ReplyError(c, Win32ErrorFromErrno(errno));
  Service* raw = s.get();
  services_[NameKey(config.name)] = std::move(s);
  Log("%s: created", config.name.c_str());
  const uint32_t h = c.nextHandle++;
  c.handles[h] = Handle{false, granted, raw};
  ++raw->handles;
  Writer w;
  Reply(c, w.U32(0).U32(h));
}

void Daemon::DeleteService(Client& c, Reader& r) {
  Handle* h = ServiceHandle(c, r, kDelete);
  if (!h) return;
  if (!r.AtEnd()) return ReplyError(c, kErrorInvalidData);
  Service& s = *h->service;
  if (s.marked) return ReplyError(c, ERROR_SERVICE_MARKED_FOR_DELETE);
  if (!store_.Remove(s.record.config.name)) return ReplyError(c, Win32ErrorFromErrno(errno));
  s.marked = true;
  s.actionAt = 0;
  Log("%s: marked for deletion", s.record.config.name.c_str());
  ReplyError(c, 0);
}

void Daemon::CloseHandle(Client& c, Reader& r) {
  uint32_t h;
  if (!r.U32(h) || !r.AtEnd()) return ReplyError(c, kErrorInvalidData);
  auto it = c.handles.find(h);
  if (it == c.handles.end()) return ReplyError(c, ERROR_INVALID_HANDLE);
  Service* s = it->second.service;
  c.handles.erase(it);
  ReplyError(c, 0);
  if (s) {
    --s->handles;
    MaybeRemove(*s);
  }
}

void Daemon::QueryStatus(Client& c, Reader& r) {
  Handle* h = ServiceHandle(c, r, kServiceQueryStatus);
  if (!h) return;
  if (!r.AtEnd()) return ReplyError(c, kErrorInvalidData);
  Writer w;
  Reply(c, w.U32(0).Status(h->service->status));
}

void Daemon::QueryConfig(Client& c, Reader& r) {
  Handle* h = ServiceHandle(c, r, kServiceQueryConfig);
  if (!h) return;
  if (!r.AtEnd()) return ReplyError(c, kErrorInvalidData);
  Writer w;
  Reply(c, w.U32(0).Config(h->service->record.config));
}

void Daemon::ChangeConfig(Client& c, Reader& r) {
  Handle* h = ServiceHandle(c, r, kServiceChangeConfig);
  if (!h) return;
  ConfigChange change;
  const WipeAtExit wipeGiven(change.password);
  if (!r.Change(change) || !r.AtEnd()) return ReplyError(c, kErrorInvalidData);
  Service& s = *h->service;
  if (s.marked) return ReplyError(c, ERROR_SERVICE_MARKED_FOR_DELETE);
  ServiceConfig config = s.record.config;
  if (change.serviceType != kNoChange) config.serviceType = change.serviceType;
  if (change.startType != kNoChange) config.startType = change.startType;
  if (change.errorControl != kNoChange) config.errorControl = change.errorControl;
  if (change.binaryPathName) config.binaryPathName = *change.binaryPathName;
  if (change.loadOrderGroup) config.loadOrderGroup = *change.loadOrderGroup;
  if (change.dependencies) config.dependencies = *change.dependencies;
  if (change.serviceStartName)
    config.serviceStartName =
        change.serviceStartName->empty() ? "LocalSystem" : *change.serviceStartName;
  if (change.displayName && !change.displayName->empty()) config.displayName = *change.displayName;
  if (uint32_t err = CheckConfig(config, &s)) return ReplyError(c, err);
  // Only a new list is checked: a cycle stored by an older scmd does not stop other changes.
  if (change.dependencies)
    if (uint32_t err = CheckCycle(config)) return ReplyError(c, err);
  if (uint32_t err =
          CheckAccountSwitch(c.peer, s.record.config.serviceStartName, config.serviceStartName))
    return ReplyError(c, err);
  if (change.password)
    if (uint32_t err = CheckPasswordChange(c.peer, config.serviceStartName))
      return ReplyError(c, err);
  // A password goes with the account given, or alone with the current one; another account
  // given without one has none. Whether it logs on is seen at the next start. The one that
  // goes is wiped, and so is the one given on its way in.
  const bool newPassword =
      change.password || !SameAccount(s.record.config.serviceStartName, config.serviceStartName);
  std::string password;
  const WipeAtExit wipeOld(password);
  if (change.password) password.swap(*change.password);
  if (newPassword) s.record.password.swap(password);
  const ServiceConfig old = s.record.config;
  s.record.config = config;
  if (!Persist(s)) {
    s.record.config = old;
    if (newPassword) s.record.password.swap(password);
    return ReplyError(c, Win32ErrorFromErrno(errno));
  }
  if (s.status.currentState == kServiceStopped) s.status.serviceType = config.serviceType;
  ReplyError(c, 0);
}

void Daemon::QueryDescription(Client& c, Reader& r) {
  Handle* h = ServiceHandle(c, r, kServiceQueryConfig);
  if (!h) return;
  if (!r.AtEnd()) return ReplyError(c, kErrorInvalidData);
  const auto& d = h->service->record.description;
  Writer w;
  Reply(c, w.U32(0).OptStr(d));
}

void Daemon::ChangeDescription(Client& c, Reader& r) {
  Handle* h = ServiceHandle(c, r, kServiceChangeConfig);
  if (!h) return;
  std::optional<std::string> text;
  if (!r.OptStr(text, kMaxTextLength) || !r.AtEnd()) return ReplyError(c, kErrorInvalidData);
  Service& s = *h->service;
  if (s.marked) return ReplyError(c, ERROR_SERVICE_MARKED_FOR_DELETE);
  if (!text) return ReplyError(c, 0);
  const auto old = s.record.description;
  if (text->empty()) {
    s.record.description.reset();
  } else {
    s.record.description = *text;
  }
  if (!Persist(s)) {
    s.record.description = old;
    return ReplyError(c, Win32ErrorFromErrno(errno));
  }
  ReplyError(c, 0);
}

void Daemon::QueryFailureActions(Client& c, Reader& r) {
  Handle* h = ServiceHandle(c, r, kServiceQueryConfig);
  if (!h) return;
  if (!r.AtEnd()) return ReplyError(c, kErrorInvalidData);
  Writer w;
  Reply(c, w.U32(0).Failure(h->service->record.failure));
}

void Daemon::ChangeFailureActions(Client& c, Reader& r) {
  Handle* h = ServiceHandle(c, r, kServiceChangeConfig);
  if (!h) return;
  FailureActionsChange change;
  if (!r.FailureChange(change) || !r.AtEnd()) return ReplyError(c, kErrorInvalidData);
  Service& s = *h->service;
  if (s.marked) return ReplyError(c, ERROR_SERVICE_MARKED_FOR_DELETE);
  if (change.actions) {
    for (const Action& a : *change.actions) {
      if (a.type > kActionRunCommand) return ReplyError(c, ERROR_INVALID_PARAMETER);
      if (a.type == kActionRestart && !(h->access & kServiceStart))
        return ReplyError(c, kErrorAccessDenied);
    }
  }
  const FailureActions old = s.record.failure;
  if (change.rebootMessage) s.record.failure.rebootMessage = *change.rebootMessage;
  if (change.command) s.record.failure.command = *change.command;
  if (change.actions) {
    s.record.failure.actions = *change.actions;
    s.record.failure.resetPeriod = change.resetPeriod;
  }
  if (!Persist(s)) {
    s.record.failure = old;
    return ReplyError(c, Win32ErrorFromErrno(errno));
  }
  ReplyError(c, 0);
}

void Daemon::StartService(Client& c, Reader& r) {
  Handle* h = ServiceHandle(c, r, kServiceStart);
  if (!h) return;
  std::vector<std::string> args;
  if (!r.Strs(args, kMaxArguments, kMaxPathLength) || !r.AtEnd())
    return ReplyError(c, kErrorInvalidData);
  if (uint32_t err = Start(*h->service, std::move(args), c.id)) return ReplyError(c, err);
  c.waiting = true;  // answered when the dispatcher has the start, or it fails
}

void Daemon::Control(Client& c, Reader& r) {
  uint32_t h, code;
  auto reply = [&](uint32_t err, const ServiceStatus& status) {
    Writer w;
    Reply(c, w.U32(err).Status(status));
  };
  if (!r.U32(h) || !r.U32(code) || !r.AtEnd()) return reply(kErrorInvalidData, ServiceStatus{});
  auto it = c.handles.find(h);
  if (it == c.handles.end() || it->second.manager)
    return reply(ERROR_INVALID_HANDLE, ServiceStatus{});
  Service& s = *it->second.service;
  uint32_t right;
  switch (code) {
    case kControlStop:
      right = kServiceStop;
      break;
    case kControlPause:
    case kControlContinue:
      right = kServicePauseContinue;
      break;
    case kControlInterrogate:
      right = kServiceInterrogate;
      break;
    case kControlShutdown:  // only the manager sends it
      return reply(ERROR_INVALID_SERVICE_CONTROL, s.status);
    default:
      if (code < 128 || code > 255) return reply(ERROR_INVALID_PARAMETER, s.status);
      right = kServiceUserDefinedControl;
  }
  if (!(it->second.access & right)) return reply(kErrorAccessDenied, s.status);
  const uint32_t state = s.status.currentState;
  if (state == kServiceStopped) return reply(ERROR_SERVICE_NOT_ACTIVE, s.status);
  if (code == kControlStop && HasActiveDependents(s))
    return reply(ERROR_DEPENDENT_SERVICES_RUNNING, s.status);
  // Without a process the service still waits for its dependencies.
  if (state == kServiceStartPending || state == kServiceStopPending || !s.process)
    return reply(ERROR_SERVICE_CANNOT_ACCEPT_CTRL, s.status);
  const uint32_t accepted = s.status.controlsAccepted;
  if ((code == kControlStop && !(accepted & kAcceptStop)) ||
      ((code == kControlPause || code == kControlContinue) && !(accepted & kAcceptPauseContinue)))
    return reply(ERROR_INVALID_SERVICE_CONTROL, s.status);
  c.waiting = true;
  QueueControl(s, PendingControl{c.id, code});
}

void Daemon::Lock(Client& c, Reader& r) {
  if (!ManagerHandle(c, r, kManagerLock)) return;
  if (!r.AtEnd()) return ReplyError(c, kErrorInvalidData);
  if (lockOwner_) return ReplyError(c, ERROR_SERVICE_DATABASE_LOCKED);
  c.lock = nextLock_++;
  lockOwner_ = c.id;
  lockUid_ = c.peer.uid;
  lockSince_ = NowMs();
  Writer w;
  Reply(c, w.U32(0).U32(c.lock));
}

void Daemon::Unlock(Client& c, Reader& r) {
  uint32_t lock;
  if (!r.U32(lock) || !r.AtEnd()) return ReplyError(c, kErrorInvalidData);
  if (lock == 0 || lockOwner_ != c.id || c.lock != lock)
    return ReplyError(c, ERROR_INVALID_SERVICE_LOCK);
  lockOwner_ = 0;
  c.lock = 0;
  ReplyError(c, 0);
}

void Daemon::QueryLockStatus(Client& c, Reader& r) {
  if (!ManagerHandle(c, r, kManagerQueryLockStatus)) return;
  if (!r.AtEnd()) return ReplyError(c, kErrorInvalidData);
  Writer w;
  w.U32(0).Bool(lockOwner_ != 0);
  if (lockOwner_) {
    w.Str(UserName(lockUid_)).U32(static_cast<uint32_t>((NowMs() - lockSince_) / 1000));
  } else {
    w.Str("").U32(0);
  }
  Reply(c, w);
}

void Daemon::EnumServices(Client& c, Reader& r) {
  if (!ManagerHandle(c, r, kManagerEnumerateService)) return;
  uint32_t type, state;
  if (!r.U32(type) || !r.U32(state) || !r.AtEnd()) return ReplyError(c, kErrorInvalidData);
  std::vector<const Service*> found;
  for (const auto& [key, s] : services_) {
    const bool active = s->status.currentState != kServiceStopped;
    if ((s->record.config.serviceType & type) && (state & (active ? 1u : 2u)))
      found.push_back(s.get());
  }
  Writer w;
  w.U32(0).U32(static_cast<uint32_t>(found.size()));
  for (const Service* s : found) {
    const ServiceConfig& config = s->record.config;
    w.Str(config.name).Str(config.displayName.empty() ? config.name : config.displayName);
    w.Status(s->status);
  }
  Reply(c, w);
}

void Daemon::QuerySecurity(Client& c, Reader& r) {
  uint32_t h, info;
  if (!r.U32(h) || !r.U32(info) || !r.AtEnd()) return ReplyError(c, kErrorInvalidData);
  auto it = c.handles.find(h);
  if (it == c.handles.end() || it->second.manager) return ReplyError(c, ERROR_INVALID_HANDLE);
  uint32_t need = 0;
  if (info & (kOwnerInfo | kGroupInfo | kDaclInfo)) need |= kReadControl;
  if (info & kSaclInfo) need |= kAccessSystemSecurity;
  if ((it->second.access & need) != need) return ReplyError(c, kErrorAccessDenied);
  Writer w;
  Reply(c, w.U32(0).Str(EncodeDescriptor(PartsOf(SecurityOf(*it->second.service), info))));
}

void Daemon::SetSecurity(Client& c, Reader& r) {
  uint32_t h, info;
  std::string bytes;
  if (!r.U32(h) || !r.U32(info) || !r.Str(bytes, kMaxSecurityBytes) || !r.AtEnd())
    return ReplyError(c, kErrorInvalidData);
  auto it = c.handles.find(h);
  if (it == c.handles.end() || it->second.manager) return ReplyError(c, ERROR_INVALID_HANDLE);
  if (info == 0 || (info & ~kAllInfo)) return ReplyError(c, ERROR_INVALID_PARAMETER);
  uint32_t need = 0;
  if (info & (kOwnerInfo | kGroupInfo)) need |= kWriteOwner;
  if (info & kDaclInfo) need |= kWriteDac;
  if (info & kSaclInfo) need |= kAccessSystemSecurity;
  if ((it->second.access & need) != need) return ReplyError(c, kErrorAccessDenied);
  Descriptor given;
  if (uint32_t err = ParseDescriptor(bytes, given)) return ReplyError(c, err);
  if (info & kOwnerInfo) {
    if (!given.owner) return ReplyError(c, kErrorInvalidOwner);
    if (uint32_t err = CheckNewOwner(c.peer, *given.owner)) return ReplyError(c, err);
  }
  if ((info & kGroupInfo) && !given.group) return ReplyError(c, kErrorInvalidSecurityDescr);
  Service& s = *it->second.service;
  const Descriptor next = ReplaceParts(SecurityOf(s), MapServiceDescriptor(given), info);
  if (EncodedBytes(next) > kMaxSecurityBytes) return ReplyError(c, kErrorAllottedSpaceExceeded);
  const std::string old = s.record.security;
  s.record.security = EncodeDescriptor(next);
  if (!Persist(s)) {
    s.record.security = old;
    return ReplyError(c, Win32ErrorFromErrno(errno));
  }
  ReplyError(c, 0);
}

}  // namespace scm
