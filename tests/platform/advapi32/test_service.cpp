// A small service on the bare service API, for the tests of the API and of scmd. Options:
//   --trace=FILE        appends what happens ("main NAME ARGS", "control N", "state S CP",
//                       "dispatcher OK ERROR", "child PID", "uid UID")
//   --start-delay=MS    stays START_PENDING that long, reporting a new check point every 100 ms
//   --stop-delay=MS     stays STOP_PENDING that long before STOPPED
//   --stop-when=FILE    stays STOP_PENDING until FILE exists (at most 60 s), then the stop delay
//   --hold-port=PORT    listens on TCP 0.0.0.0:PORT from before RUNNING until just before STOPPED
//                       (a collector slow to let go of its port)
//   --crash-after=MS    ends the process abruptly that long after RUNNING
//   --refuse=LIST       controls not accepted: stop, pause, shutdown (comma list)
//   --exit-code=N       Win32 exit code reported with STOPPED
//   --no-dispatch       never calls the dispatcher (sleeps instead)
//   --spawn-child       starts a copy of itself detached (--child) when it runs
//   --child             writes its pid and sleeps 60 s
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/advapi32/winsvc.h"

namespace {

std::string g_trace;
std::string g_stopWhen;
int g_startDelay = 0, g_stopDelay = 0, g_crashAfter = -1, g_holdPort = 0;
DWORD g_exitCode = 0;
DWORD g_accepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN;
bool g_spawnChild = false;
std::string g_self;

std::mutex g_lock;
std::condition_variable g_cv;
bool g_stop = false;
SERVICE_STATUS_HANDLE g_handle = nullptr;
SERVICE_STATUS g_status = {SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 0, 0, 0, 0, 2000};

void Trace(const std::string& line) {
  if (g_trace.empty()) return;
  std::lock_guard<std::mutex> l(g_lock);
  if (FILE* f = std::fopen(g_trace.c_str(), "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

void Report(DWORD state, DWORD checkPoint = 0) {
  SERVICE_STATUS s;
  {
    std::lock_guard<std::mutex> l(g_lock);
    g_status.dwCurrentState = state;
    g_status.dwCheckPoint = checkPoint;
    g_status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : g_accepted;
    g_status.dwWin32ExitCode = state == SERVICE_STOPPED ? g_exitCode : 0;
    s = g_status;
  }
  Trace("state " + std::to_string(state) + " " + std::to_string(checkPoint));
  SetServiceStatus(g_handle, &s);
}

void Handler(DWORD code) {
  Trace("control " + std::to_string(code));
  switch (code) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      Report(SERVICE_STOP_PENDING);
      {
        std::lock_guard<std::mutex> l(g_lock);
        g_stop = true;
      }
      g_cv.notify_all();
      break;
    case SERVICE_CONTROL_PAUSE:
      Report(SERVICE_PAUSED);
      break;
    case SERVICE_CONTROL_CONTINUE:
      Report(SERVICE_RUNNING);
      break;
    default: {
      DWORD state;
      {
        std::lock_guard<std::mutex> l(g_lock);
        state = g_status.dwCurrentState;
      }
      Report(state);
    }
  }
}

void ServiceMain(DWORD argc, LPSTR* argv) {
  std::string line = "main";
  for (DWORD i = 0; i < argc; ++i)
    line += std::string(" ") + argv[i];
  Trace(line);
  g_handle = RegisterServiceCtrlHandlerA(argv[0], Handler);
  Report(SERVICE_START_PENDING, 0);
  for (int waited = 0, cp = 1; waited < g_startDelay; waited += 100, ++cp) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Report(SERVICE_START_PENDING, cp);
  }
  if (g_spawnChild) SpawnDetached(g_self, {"--child", "--trace=" + g_trace}, "/");
  int held = -1;
  if (g_holdPort > 0) {
    held = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(g_holdPort));
    const bool ok =
        bind(held, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && listen(held, 5) == 0;
    Trace(std::string("hold ") + (ok ? "ok" : "failed"));
  }
  Report(SERVICE_RUNNING);
  if (g_crashAfter >= 0) {
    std::thread([] {
      std::this_thread::sleep_for(std::chrono::milliseconds(g_crashAfter));
      Trace("crash");
      _exit(3);
    }).detach();
  }
  {
    std::unique_lock<std::mutex> l(g_lock);
    g_cv.wait(l, [] { return g_stop; });
  }
  if (!g_stopWhen.empty()) {
    for (int waited = 0; access(g_stopWhen.c_str(), F_OK) != 0 && waited < 60000; waited += 20)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(g_stopDelay));
  if (held >= 0) close(held);
  Report(SERVICE_STOPPED);
}

bool Option(const char* arg, const char* name, std::string& value) {
  const size_t n = std::strlen(name);
  if (std::strncmp(arg, name, n) != 0 || arg[n] != '=') return false;
  value = arg + n + 1;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  g_self = argv[0];
  bool child = false, noDispatch = false;
  for (int i = 1; i < argc; ++i) {
    std::string v;
    if (Option(argv[i], "--trace", v)) g_trace = v;
    if (Option(argv[i], "--start-delay", v)) g_startDelay = std::atoi(v.c_str());
    if (Option(argv[i], "--stop-delay", v)) g_stopDelay = std::atoi(v.c_str());
    if (Option(argv[i], "--stop-when", v)) g_stopWhen = v;
    if (Option(argv[i], "--crash-after", v)) g_crashAfter = std::atoi(v.c_str());
    if (Option(argv[i], "--hold-port", v)) g_holdPort = std::atoi(v.c_str());
    if (Option(argv[i], "--exit-code", v)) g_exitCode = std::atoi(v.c_str());
    if (Option(argv[i], "--refuse", v)) {
      if (v.find("stop") != std::string::npos) g_accepted &= ~SERVICE_ACCEPT_STOP;
      if (v.find("pause") != std::string::npos) g_accepted &= ~SERVICE_ACCEPT_PAUSE_CONTINUE;
      if (v.find("shutdown") != std::string::npos) g_accepted &= ~SERVICE_ACCEPT_SHUTDOWN;
    }
    if (!std::strcmp(argv[i], "--no-dispatch")) noDispatch = true;
    if (!std::strcmp(argv[i], "--spawn-child")) g_spawnChild = true;
    if (!std::strcmp(argv[i], "--child")) child = true;
  }
  if (child) {
    Trace("child " + std::to_string(getpid()));
    sleep(60);
    return 0;
  }
  Trace("pid " + std::to_string(getpid()) + " uid " + std::to_string(getuid()));
  if (noDispatch) {
    sleep(60);
    return 0;
  }
  char name[] = "TestService";
  SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  const BOOL ok = StartServiceCtrlDispatcherA(table);
  Trace("dispatcher " + std::to_string(ok) + " " + std::to_string(ok ? 0 : GetLastError()));
  return ok ? 0 : 2;
}
