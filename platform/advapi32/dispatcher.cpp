// The service side: the dispatcher that talks to scmd over the control channel, the handler
// registration and the status reports.
//
// Threads: the dispatcher reads the channel on the thread that called it and runs the control
// handler there; the service main runs on a thread of its own; status reports come from any
// thread. Writes to the channel are serialised by one lock, so the frames never interleave. The
// start acknowledgement goes out before the service main may run, so scmd sees it before any
// status the service reports.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/advapi32/winsvc.h"
#include "platform/scm/protocol.h"

namespace {

// The one status handle this process hands out (one service per process).
SERVICE_STATUS_HANDLE const kStatusHandle = reinterpret_cast<SERVICE_STATUS_HANDLE>(0x5C0001);

std::mutex g_lock;           // guards everything below
bool g_used = false;         // a dispatcher ran (or runs) in this process
bool g_dispatching = false;  // one runs now
int g_channel = -1;
bool g_channelLost = false;
int g_wake = -1;  // eventfd: wakes the dispatcher (STOPPED, a handler, the main returned)
bool g_stopped = false;
bool g_mainReturned = false;  // the service main has returned
LPHANDLER_FUNCTION g_handler = nullptr;
std::mutex g_writeLock;  // one frame at a time on the channel

// The control channel named by the environment, or -1.
int ChannelFromEnvironment() {
  const char* env = getenv(scm::kEnvFd);
  if (!env || !*env) return -1;
  long fd = 0;
  for (const char* p = env; *p; ++p) {
    if (*p < '0' || *p > '9' || fd > 1000000) return -1;
    fd = fd * 10 + (*p - '0');
  }
  struct stat st;
  if (fstat(static_cast<int>(fd), &st) != 0 || !S_ISSOCK(st.st_mode)) return -1;
  int domain = 0, type = 0;
  socklen_t len = sizeof domain;
  if (getsockopt(static_cast<int>(fd), SOL_SOCKET, SO_DOMAIN, &domain, &len) != 0 ||
      domain != AF_UNIX)
    return -1;
  len = sizeof type;
  if (getsockopt(static_cast<int>(fd), SOL_SOCKET, SO_TYPE, &type, &len) != 0 ||
      type != SOCK_STREAM)
    return -1;
  return static_cast<int>(fd);
}

// Children of the service must not inherit the channel: it is marked close-on-exec as soon as
// the library is loaded.
__attribute__((constructor)) void KeepChannelFromChildren() {
  const int fd = ChannelFromEnvironment();
  if (fd >= 0) fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

bool Send(int fd, const scm::Writer& w) {
  std::lock_guard<std::mutex> l(g_writeLock);
  return scm::WriteFrame(fd, w.Payload());
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// Runs the service main once the start has been acknowledged.
struct StartGate {
  std::mutex m;
  std::condition_variable cv;
  bool open = false;
};

// Wakes the dispatcher. REQUIRES: g_lock held.
void WakeDispatcher() {
  if (g_wake < 0) return;
  const uint64_t one = 1;
  while (write(g_wake, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void RunServiceMain(LPSERVICE_MAIN_FUNCTIONA main, std::vector<std::string> args,
                    std::shared_ptr<StartGate> gate) {
  {
    std::unique_lock<std::mutex> l(gate->m);
    gate->cv.wait(l, [&] { return gate->open; });
  }
  std::vector<char*> argv;
  for (auto& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  main(static_cast<DWORD>(args.size()), argv.data());
  std::lock_guard<std::mutex> l(g_lock);
  g_mainReturned = true;
  WakeDispatcher();
}

// Waits on the wake descriptor until done() holds (checked under g_lock).
template <typename Done>
void WaitUntil(int wake, Done done) {
  for (;;) {
    {
      std::lock_guard<std::mutex> l(g_lock);
      if (done()) return;
    }
    pollfd p{wake, POLLIN, 0};
    if (poll(&p, 1, -1) < 0 && errno != EINTR) return;
    uint64_t v;
    while (read(wake, &v, sizeof v) < 0 && errno == EINTR) {
    }
  }
}

}  // namespace

KW_ADVAPI32_API BOOL StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* lpServiceStartTable) {
  if (!lpServiceStartTable || !lpServiceStartTable[0].lpServiceName ||
      !lpServiceStartTable[0].lpServiceProc)
    return Fail(ERROR_INVALID_PARAMETER);
  int channel, wake;
  {
    std::lock_guard<std::mutex> l(g_lock);
    if (g_used) return Fail(ERROR_SERVICE_ALREADY_RUNNING);
    channel = ChannelFromEnvironment();
    if (channel < 0) return Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) return Fail(Win32ErrorFromErrno(errno));
    fcntl(channel, F_SETFD, fcntl(channel, F_GETFD) | FD_CLOEXEC);
    g_used = true;
    g_dispatching = true;
    g_channel = channel;
    g_channelLost = false;
    g_wake = wake;
    g_stopped = false;
    g_mainReturned = false;
    g_handler = nullptr;
  }

  std::vector<std::string> names;
  for (const SERVICE_TABLE_ENTRYA* e = lpServiceStartTable; e->lpServiceName && names.size() < 64;
       ++e)
    names.emplace_back(e->lpServiceName);
  const LPSERVICE_MAIN_FUNCTIONA serviceMain = lpServiceStartTable[0].lpServiceProc;

  scm::Writer hello = scm::Request(scm::Op::kHello);
  bool lost = !Send(channel, hello.Strs(names));
  bool started = false;
  std::thread mainThread;
  while (!lost) {
    pollfd fds[2] = {{channel, POLLIN, 0}, {wake, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      lost = true;
      break;
    }
    {
      std::lock_guard<std::mutex> l(g_lock);
      if (g_stopped) break;
    }
    if (fds[1].revents) {
      uint64_t v;
      while (read(wake, &v, sizeof v) < 0 && errno == EINTR) {
      }
    }
    if (!fds[0].revents) continue;
    std::string payload;
    if (!scm::ReadFrame(channel, payload)) {
      lost = true;
      break;
    }
    scm::Reader r(payload);
    uint32_t op;
    if (!r.U32(op)) continue;
    if (op == static_cast<uint32_t>(scm::Op::kStart)) {
      std::string name;
      std::vector<std::string> args;
      if (started || !r.Str(name, scm::kMaxNameLength) ||
          !r.Strs(args, scm::kMaxArguments, scm::kMaxPathLength))
        continue;
      started = true;
      args.insert(args.begin(), name);  // argv[0] is the service's name
      auto gate = std::make_shared<StartGate>();
      uint32_t error = 0;
      try {
        mainThread = std::thread(RunServiceMain, serviceMain, std::move(args), gate);
      } catch (...) {
        error = ERROR_SERVICE_NO_THREAD;
      }
      scm::Writer ack = scm::Request(scm::Op::kStartAck);
      lost = !Send(channel, ack.U32(error));
      {
        std::lock_guard<std::mutex> l(gate->m);
        gate->open = true;
      }
      gate->cv.notify_all();
      if (error) break;
    } else if (op == static_cast<uint32_t>(scm::Op::kControlRequest)) {
      uint32_t code;
      if (!r.U32(code)) continue;
      LPHANDLER_FUNCTION handler;
      {
        std::lock_guard<std::mutex> l(g_lock);
        handler = g_handler;
      }
      if (handler) handler(code);
      scm::Writer ack = scm::Request(scm::Op::kControlAck);
      lost = !Send(channel, ack.U32(handler ? 0 : ERROR_INVALID_SERVICE_CONTROL));
    }
  }

  if (lost) {
    // scmd is gone: the service is asked to shut down (as soon as its handler is registered), and
    // this returns once it has stopped, so that it never runs on without a manager.
    {
      std::lock_guard<std::mutex> l(g_lock);
      g_channelLost = true;
    }
    if (mainThread.joinable()) {
      LPHANDLER_FUNCTION handler = nullptr;
      bool over = false;
      WaitUntil(wake, [&] {
        handler = g_handler;
        over = g_stopped || g_mainReturned;
        return handler || over;
      });
      if (handler && !over) handler(SERVICE_CONTROL_SHUTDOWN);
      WaitUntil(wake, [] { return g_stopped || g_mainReturned; });
    }
  }
  // The service main ends right after its last report; nothing of it outlives the dispatcher.
  if (mainThread.joinable()) mainThread.join();
  {
    std::lock_guard<std::mutex> l(g_lock);
    g_dispatching = false;
    g_channel = -1;
    g_handler = nullptr;
    close(g_wake);
    g_wake = -1;
  }
  {
    std::lock_guard<std::mutex> l(g_writeLock);
    close(channel);
  }
  if (lost) return Fail(ERROR_BROKEN_PIPE);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

KW_ADVAPI32_API SERVICE_STATUS_HANDLE
RegisterServiceCtrlHandlerA(LPCSTR lpServiceName, LPHANDLER_FUNCTION lpHandlerProc) {
  if (!lpHandlerProc) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard<std::mutex> l(g_lock);
  if (!g_dispatching) {
    SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    return nullptr;
  }
  g_handler = lpHandlerProc;
  WakeDispatcher();
  SetLastError(ERROR_SUCCESS);
  return kStatusHandle;
}

KW_ADVAPI32_API BOOL SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus,
                                      LPSERVICE_STATUS lpServiceStatus) {
  if (hServiceStatus != kStatusHandle) return Fail(ERROR_INVALID_HANDLE);
  if (!lpServiceStatus) return Fail(ERROR_INVALID_PARAMETER);
  const DWORD state = lpServiceStatus->dwCurrentState;
  if (state < SERVICE_STOPPED || state > SERVICE_PAUSED) return Fail(ERROR_INVALID_DATA);
  // The write lock is held across the report, so the dispatcher cannot close the channel under
  // it; the dispatcher learns of STOPPED only after the report has gone out.
  std::lock_guard<std::mutex> writing(g_writeLock);
  int channel;
  bool lost;
  {
    std::lock_guard<std::mutex> l(g_lock);
    if (!g_dispatching) return Fail(ERROR_INVALID_HANDLE);
    channel = g_channel;
    lost = g_channelLost;
  }
  scm::ServiceStatus s;
  s.serviceType = lpServiceStatus->dwServiceType;
  s.currentState = state;
  s.controlsAccepted = lpServiceStatus->dwControlsAccepted;
  s.win32ExitCode = lpServiceStatus->dwWin32ExitCode;
  s.serviceSpecificExitCode = lpServiceStatus->dwServiceSpecificExitCode;
  s.checkPoint = lpServiceStatus->dwCheckPoint;
  s.waitHint = lpServiceStatus->dwWaitHint;
  bool sent = false;
  if (!lost) {
    scm::Writer w = scm::Request(scm::Op::kSetStatus);
    sent = scm::WriteFrame(channel, w.Status(s).Payload());
  }
  if (state == SERVICE_STOPPED) {
    std::lock_guard<std::mutex> l(g_lock);
    g_stopped = true;
    WakeDispatcher();
  }
  if (!sent) return Fail(ERROR_BROKEN_PIPE);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
