// The life of a service: its start, the reports and acknowledgements on its control channel, the
// controls sent to it, its process's end and the failure actions that follow a crash.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/scm/daemon.h"
#include "platform/scm/logon.h"
#include "platform/scm/spawn.h"
#include "platform/win/win.h"

extern char** environ;

namespace scm {

namespace {

constexpr uint32_t kStartWaitHint = 2000;

bool StartsWith(const char* s, const char* prefix) {
  return std::strncmp(s, prefix, std::strlen(prefix)) == 0;
}

std::string Describe(int waitStatus) {
  if (WIFEXITED(waitStatus)) return "exit code " + std::to_string(WEXITSTATUS(waitStatus));
  if (WIFSIGNALED(waitStatus)) return "signal " + std::to_string(WTERMSIG(waitStatus));
  return "status " + std::to_string(waitStatus);
}

}  // namespace

Daemon::Service* Daemon::Find(const std::string& name) {
  auto it = services_.find(NameKey(name));
  return it == services_.end() ? nullptr : it->second.get();
}

uint32_t Daemon::CheckConfig(const ServiceConfig& c, const Service* self) const {
  const uint32_t kind = c.serviceType & ~kInteractiveProcess;
  if (kind != kWin32OwnProcess && kind != kWin32ShareProcess) return ERROR_INVALID_PARAMETER;
  if (c.startType != kAutoStart && c.startType != kDemandStart && c.startType != kDisabled)
    return ERROR_INVALID_PARAMETER;
  if (c.errorControl > 3) return ERROR_INVALID_PARAMETER;
  if (c.binaryPathName.empty() || SplitCommandLine(c.binaryPathName).empty())
    return ERROR_INVALID_PARAMETER;
  Account account;
  if (!ResolveAccount(c.serviceStartName, account)) return ERROR_INVALID_SERVICE_ACCOUNT;
  if ((c.serviceType & kInteractiveProcess) && !account.self) return ERROR_INVALID_PARAMETER;
  // A display name is unique among names and display names, and a name among display names.
  const std::string display = NameKey(c.displayName), name = NameKey(c.name);
  for (auto& [key, other] : services_) {
    if (other.get() == self) continue;
    const std::string otherDisplay = NameKey(other->record.config.displayName);
    if (display == key || display == otherDisplay || name == otherDisplay)
      return ERROR_DUPLICATE_SERVICE_NAME;
  }
  return 0;
}

bool Daemon::IsCallersAccount(const Caller& caller, const std::string& startName) const {
  Account account;
  if (!caller.known || !ResolveAccount(startName, account)) return false;
  return (account.self ? geteuid() : account.uid) == caller.uid;
}

uint32_t Daemon::CheckAccountSwitch(const Caller& caller, const std::string& from,
                                    const std::string& to) const {
  if (caller.admin) return 0;
  Account next;
  if (!ResolveAccount(to, next)) return ERROR_INVALID_SERVICE_ACCOUNT;
  return SameAccount(from, to) || IsCallersAccount(caller, to) ? 0 : kErrorAccessDenied;
}

uint32_t Daemon::CheckPasswordChange(const Caller& caller, const std::string& account) const {
  return caller.admin || IsCallersAccount(caller, account) ? 0 : kErrorAccessDenied;
}

Descriptor Daemon::SecurityOf(const Service& s) const {
  Descriptor d;
  if (ParseDescriptor(s.record.security, d) == 0) return d;
  d = Descriptor{};
  d.control = kSelfRelative | kDaclPresent;
  d.owner = SystemSid();
  d.dacl = Acl{};
  return d;
}

void Daemon::UpgradeDescriptors() {
  for (auto& [key, s] : services_) {
    Descriptor d;
    if (ParseDescriptor(s->record.security, d) == 0) continue;
    s->record.security = EncodeDescriptor(DefaultServiceDescriptor());
    const bool saved = Persist(*s);
    Log("%s: its stored security descriptor is not one scmd enforces; the default one replaces "
        "it%s",
        s->record.config.name.c_str(), saved ? "" : " (not saved yet)");
  }
}

bool Daemon::Persist(Service& s) {
  return store_.Save(s.record);
}

std::vector<std::string> Daemon::ChildEnvironment(const Account& account) const {
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) {
    if (StartsWith(*e, "KELVADON_SCM_FD=") || StartsWith(*e, "KELVADON_SCM_DIR=")) continue;
    if (!account.self &&
        (StartsWith(*e, "HOME=") || StartsWith(*e, "USER=") || StartsWith(*e, "LOGNAME=")))
      continue;
    env.emplace_back(*e);
  }
  env.push_back(std::string(kEnvDir) + "=" + options_.dir);
  if (!account.self) {
    env.push_back("HOME=" + account.home);
    env.push_back("USER=" + account.user);
    env.push_back("LOGNAME=" + account.user);
  }
  return env;
}

uint32_t Daemon::Start(Service& s, std::vector<std::string> args, uint64_t waiter) {
  const ServiceConfig& config = s.record.config;
  if (shuttingDown_) return kErrorShutdownInProgress;
  if (s.marked) return ERROR_SERVICE_MARKED_FOR_DELETE;
  if (lockOwner_) return ERROR_SERVICE_DATABASE_LOCKED;
  if (config.startType == kDisabled) return ERROR_SERVICE_DISABLED;
  if (s.status.currentState != kServiceStopped) return ERROR_SERVICE_ALREADY_RUNNING;
  std::vector<Service*> order;
  if (uint32_t err = DependencyOrder(s, order)) return err;
  for (Service* d : order) {
    if (d->status.currentState != kServiceStopped) continue;  // running, or on its way
    if (uint32_t err = Launch(*d, {}, 0)) {
      Log("%s: not started: its dependency %s could not start (error %u)", config.name.c_str(),
          d->record.config.name.c_str(), err);
      return ERROR_SERVICE_DEPENDENCY_FAIL;
    }
  }
  return Launch(s, std::move(args), waiter);
}

uint32_t Daemon::LogOn(const Service& s, Account& account) {
  const ServiceConfig& config = s.record.config;
  if (!ResolveAccount(config.serviceStartName, account)) {
    Log("%s: no account %s", config.name.c_str(), config.serviceStartName.c_str());
    return ERROR_SERVICE_LOGON_FAILED;
  }
  // scmd cannot act as anyone it is not already: LocalSystem, root and scmd's own user are
  // started without a password (scmd run as another user than root cannot read the shadow table).
  if (account.self || account.uid == 0 || account.uid == geteuid()) return 0;
  std::string reason;
  const uint32_t err = CheckLogon(account.user, s.record.password, &reason);
  if (err)
    Log("%s: the account %s did not log on: %s", config.name.c_str(), account.user.c_str(),
        reason.c_str());
  return err;
}

uint32_t Daemon::Spawn(Service& s, std::vector<std::string> args, uint64_t waiter) {
  const ServiceConfig& config = s.record.config;
  SpawnRequest request;
  if (uint32_t err = LogOn(s, request.account)) return err;
  request.argv = SplitCommandLine(config.binaryPathName);

  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
    return Win32ErrorFromErrno(errno);
  request.env = ChildEnvironment(request.account);
  request.env.push_back(std::string(kEnvFd) + "=" + std::to_string(pair[1]));
  request.channelFd = pair[1];
  int output[2];
  if (pipe2(output, O_CLOEXEC) != 0) {
    const uint32_t err = Win32ErrorFromErrno(errno);
    close(pair[0]);
    close(pair[1]);
    return err;
  }
  request.outputFd = output[1];
  uint32_t error = 0;
  const pid_t pid = SpawnService(request, &error);
  close(pair[1]);
  close(output[1]);
  if (pid < 0) {
    close(pair[0]);
    close(output[0]);
    Log("%s: cannot start %s: error %u", config.name.c_str(), config.binaryPathName.c_str(), error);
    return error;
  }
  const int flags = fcntl(pair[0], F_GETFL);
  fcntl(pair[0], F_SETFL, flags | O_NONBLOCK);

  auto p = std::make_unique<Process>();
  p->pid = pid;
  p->service = &s;
  p->channel = pair[0];
  p->output = nextOutput_++;
  outputs_[p->output] = std::make_unique<ServiceOutput>(output[0], config.name, pid);
  s.process = p.get();
  ++s.processes;
  processes_[pid] = std::move(p);

  s.status = ServiceStatus{};
  s.status.serviceType = config.serviceType;
  s.status.currentState = kServiceStartPending;
  s.status.waitHint = kStartWaitHint;
  s.status.processId = static_cast<uint32_t>(pid);
  s.startWaiter = waiter;
  s.startDeadline = NowMs() + int64_t(options_.startTimeoutSec) * 1000;
  s.startArgs = std::move(args);
  s.actionAt = 0;
  Log("%s: started process %d", config.name.c_str(), static_cast<int>(pid));
  LogStatus(s);
  // What waits for this service waits at least one start time-out from now.
  const std::string key = NameKey(config.name);
  for (auto& [k, w] : services_) {
    const auto& keys = w->awaitedKeys;
    if (w->awaiting && std::find(keys.begin(), keys.end(), key) != keys.end())
      w->startDeadline = std::max(w->startDeadline, s.startDeadline);
  }
  return 0;
}

void Daemon::StartTimedOut(Service& s) {
  s.startDeadline = 0;
  if (s.awaiting) {
    Log("%s: its dependencies did not run within %u s", s.record.config.name.c_str(),
        options_.startTimeoutSec);
    return FailAwaiting(s, ERROR_SERVICE_DEPENDENCY_FAIL);
  }
  Process* p = s.process;
  if (!p) return;
  Log("%s: no dispatcher answered within %u s; process %d killed", s.record.config.name.c_str(),
      options_.startTimeoutSec, static_cast<int>(p->pid));
  kill(p->pid, SIGKILL);
  p->killed = true;
  p->current = false;
  s.process = nullptr;
  EndStart(s, ERROR_SERVICE_REQUEST_TIMEOUT);
  FailQueuedControls(s, ERROR_SERVICE_NOT_ACTIVE);
}

void Daemon::EndStart(Service& s, uint32_t error) {
  s.startDeadline = 0;
  s.status = ServiceStatus{};
  s.status.serviceType = s.record.config.serviceType;
  s.status.win32ExitCode = error;
  LogStatus(s);
  if (s.startWaiter) {
    Writer w;
    Answer(s.startWaiter, w.U32(error));
    s.startWaiter = 0;
  }
}

void Daemon::ReadChannel(Process& p) {
  char buf[4096];
  bool eof = false;
  for (;;) {
    ssize_t n = read(p.channel, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK) eof = true;
      break;
    }
    if (n == 0) {
      eof = true;
      break;
    }
    p.in.Append(buf, static_cast<size_t>(n));
  }
  std::string payload;
  bool bad = false;
  while (p.channel >= 0 && p.in.Next(payload, bad))
    OnChannelFrame(p, payload);
  if (bad)
    Log("%s: process %d broke the channel protocol", p.service->record.config.name.c_str(),
        static_cast<int>(p.pid));
  if (p.channel >= 0 && (bad || eof)) CloseChannel(p);
}

void Daemon::FlushChannel(Process& p) {
  while (p.channel >= 0 && !p.out.empty()) {
    ssize_t n = send(p.channel, p.out.data(), p.out.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n <= 0) {
      CloseChannel(p);
      return;
    }
    p.out.erase(0, static_cast<size_t>(n));
  }
}

void Daemon::CloseChannel(Process& p) {
  if (p.channel < 0) return;
  close(p.channel);
  p.channel = -1;
  p.out.clear();
}

void Daemon::SendToProcess(Process& p, const Writer& w) {
  if (p.channel < 0) return;
  p.out += Frame(w.Payload());
  FlushChannel(p);
}

void Daemon::OnChannelFrame(Process& p, const std::string& payload) {
  Service& s = *p.service;
  Reader r(payload);
  uint32_t op;
  if (!r.U32(op)) return CloseChannel(p);
  switch (static_cast<Op>(op)) {
    case Op::kHello: {
      std::vector<std::string> names;
      if (!r.Strs(names, 64, kMaxNameLength) || !r.AtEnd()) return CloseChannel(p);
      if (!p.current || p.started) return;
      Writer w = Request(Op::kStart);
      w.Str(s.record.config.name).Strs(s.startArgs);
      SendToProcess(p, w);
      return;
    }
    case Op::kStartAck: {
      uint32_t error;
      if (!r.U32(error) || !r.AtEnd()) return CloseChannel(p);
      if (!p.current || p.started) return;
      p.started = true;
      s.startDeadline = 0;
      if (s.startWaiter) {
        Writer w;
        Answer(s.startWaiter, w.U32(error));
        s.startWaiter = 0;
      }
      if (error) {
        Log("%s: the dispatcher could not run the service (error %u)", s.record.config.name.c_str(),
            error);
        kill(p.pid, SIGKILL);
        p.killed = true;
        p.current = false;
        s.process = nullptr;
        s.status = ServiceStatus{};
        s.status.serviceType = s.record.config.serviceType;
        s.status.win32ExitCode = error;
        LogStatus(s);
      }
      return;
    }
    case Op::kSetStatus: {
      ServiceStatus status;
      if (!r.Status(status) || !r.AtEnd()) return CloseChannel(p);
      OnStatus(p, status);
      return;
    }
    case Op::kControlAck: {
      uint32_t error;
      if (!r.U32(error) || !r.AtEnd()) return CloseChannel(p);
      if (p.inFlight) FinishControl(p, error);
      return;
    }
    default:
      CloseChannel(p);
  }
}

void Daemon::OnStatus(Process& p, const ServiceStatus& reported) {
  if (!p.current || reported.currentState < kServiceStopped ||
      reported.currentState > kServicePaused)
    return;
  Service& s = *p.service;
  s.status = reported;
  s.status.processId = reported.currentState == kServiceStopped ? 0 : uint32_t(p.pid);
  LogStatus(s);
  // A service that finished its start while scmd is shutting down is shut down too.
  if (shuttingDown_ && reported.currentState == kServiceRunning &&
      (reported.controlsAccepted & kAcceptShutdown) && !p.shutdownSent) {
    p.shutdownSent = true;
    QueueControl(s, PendingControl{0, kControlShutdown});
  }
  if (reported.currentState == kServiceStopped) {
    // The process may linger a little; it no longer stands for the service.
    p.current = false;
    s.process = nullptr;
    s.startDeadline = 0;
    FailQueuedControls(s, ERROR_SERVICE_NOT_ACTIVE);
  }
}

void Daemon::OnProcessEnd(pid_t pid, int waitStatus) {
  auto it = processes_.find(pid);
  if (it == processes_.end()) return;
  Process& p = *it->second;
  Service& s = *p.service;
  if (p.channel >= 0) ReadChannel(p);  // what it wrote before it ended
  ReadOutput(p.output);
  const bool crashed = p.current;
  if (crashed) {
    Log("%s: process %d ended (%s) without reporting STOPPED", s.record.config.name.c_str(),
        static_cast<int>(pid), Describe(waitStatus).c_str());
    s.process = nullptr;
    EndStart(s, ERROR_PROCESS_ABORTED);
    FailQueuedControls(s, ERROR_SERVICE_NOT_ACTIVE);
  }
  if (p.inFlight) FinishControl(p, crashed ? ERROR_PROCESS_ABORTED : 0);
  CloseChannel(p);
  --s.processes;
  processes_.erase(it);
  if (crashed && !shuttingDown_) ScheduleFailureAction(s);
  MaybeRemove(s);
}

void Daemon::QueueControl(Service& s, PendingControl control) {
  s.controls.push_back(control);
  SendNextControl(s);
}

void Daemon::SendNextControl(Service& s) {
  Process* p = s.process;
  if (!p || p->inFlight || s.controls.empty()) return;
  p->control = s.controls.front();
  s.controls.pop_front();
  p->inFlight = true;
  p->controlDeadline = NowMs() + int64_t(options_.startTimeoutSec) * 1000;
  Writer w = Request(Op::kControlRequest);
  w.U32(p->control.code);
  SendToProcess(*p, w);
}

void Daemon::ControlTimedOut(Process& p) {
  Log("%s: control %u got no answer within %u s", p.service->record.config.name.c_str(),
      p.control.code, options_.startTimeoutSec);
  FinishControl(p, ERROR_SERVICE_REQUEST_TIMEOUT);
}

void Daemon::FinishControl(Process& p, uint32_t error) {
  Service& s = *p.service;
  p.inFlight = false;
  if (p.control.client) {
    Writer w;
    Answer(p.control.client, w.U32(error).Status(s.status));
  }
  SendNextControl(s);
}

void Daemon::FailQueuedControls(Service& s, uint32_t error) {
  while (!s.controls.empty()) {
    const PendingControl c = s.controls.front();
    s.controls.pop_front();
    if (!c.client) continue;
    Writer w;
    Answer(c.client, w.U32(error).Status(s.status));
  }
}

void Daemon::ScheduleFailureAction(Service& s) {
  const FailureActions& f = s.record.failure;
  const int64_t now = NowMs();
  if (s.failures > 0 && f.resetPeriod != 0xFFFFFFFF &&
      now - s.lastFailure > int64_t(f.resetPeriod) * 1000)
    s.failures = 0;
  ++s.failures;
  s.lastFailure = now;
  if (f.actions.empty() || s.marked) return;
  const size_t index = std::min<size_t>(s.failures, f.actions.size()) - 1;
  s.action = f.actions[index];
  if (s.action.type == kActionNone) return;
  s.actionAt = std::max<int64_t>(now + s.action.delayMs, 1);
  Log("%s: failure %u, action %u in %u ms", s.record.config.name.c_str(), s.failures, s.action.type,
      s.action.delayMs);
}

void Daemon::RunFailureAction(Service& s) {
  s.actionAt = 0;
  const std::string& name = s.record.config.name;
  switch (s.action.type) {
    case kActionRestart:
      if (s.status.currentState != kServiceStopped || s.marked) return;
      if (uint32_t err = Start(s, {}, 0)) Log("%s: restart failed with %u", name.c_str(), err);
      return;
    case kActionRunCommand: {
      // The command runs as the service would: under its account, never as scmd when the
      // account is another. scmd reaps it like any child it does not know.
      SpawnRequest request;
      request.argv = SplitCommandLine(s.record.failure.command);
      if (request.argv.empty()) return;
      if (LogOn(s, request.account)) {
        Log("%s: the failure command could not run", name.c_str());
        return;
      }
      request.env = ChildEnvironment(request.account);
      uint32_t error = 0;
      if (SpawnService(request, &error) > 0) {
        Log("%s: ran the failure command", name.c_str());
      } else {
        Log("%s: the failure command could not run (error %u)", name.c_str(), error);
      }
      return;
    }
    case kActionReboot:
      Log("%s: the failure action asks for a reboot, which scmd does not do (message: %s)",
          name.c_str(), s.record.failure.rebootMessage.c_str());
      return;
  }
}

void Daemon::MaybeRemove(Service& s) {
  if (!s.marked || s.status.currentState != kServiceStopped || s.handles > 0 || s.processes > 0)
    return;
  const std::string name = s.record.config.name;
  services_.erase(NameKey(name));
  Log("%s: deleted", name.c_str());
}

void Daemon::LogStatus(const Service& s) {
  const ServiceStatus& st = s.status;
  Log("%s: %s check point %u wait hint %u controls 0x%x exit code %u pid %u",
      s.record.config.name.c_str(), StateName(st.currentState).c_str(), st.checkPoint, st.waitHint,
      st.controlsAccepted, st.win32ExitCode, st.processId);
}

}  // namespace scm
