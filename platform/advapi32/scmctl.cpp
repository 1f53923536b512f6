// scmctl: the administrator's command over scmd. It is a client of the service API like any other
// program, so scmd's access rules apply to it as they do to the programs.
//
//   scmctl query NAME   the service's state
//   scmctl start NAME   starts it and waits until it has left START_PENDING
//   scmctl stop NAME    stops it and waits until it is STOPPED
//   scmctl list         every installed service with its state
//
// Each prints "NAME: STATE, exit code N" per service (the Win32 exit code; a service-specific one
// follows in brackets). Exit status: 0 when the command did what it says, 1 when it failed (the
// reason on stderr), 2 for a wrong command line.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/advapi32/winsvc.h"
#include "platform/win/errtext.h"

namespace {

// How long start and stop wait for the service to leave its pending state.
constexpr DWORD kWaitMs = 60 * 1000;
constexpr DWORD kPollMs = 200;

const char* StateName(DWORD state) {
  static const char* const kNames[] = {"UNKNOWN",       "STOPPED", "START_PENDING",
                                       "STOP_PENDING",  "RUNNING", "CONTINUE_PENDING",
                                       "PAUSE_PENDING", "PAUSED"};
  return state < sizeof kNames / sizeof *kNames ? kNames[state] : "UNKNOWN";
}

void PrintState(const char* name, const SERVICE_STATUS& st) {
  std::printf("%s: %s, exit code %u", name, StateName(st.dwCurrentState), st.dwWin32ExitCode);
  if (st.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR)
    std::printf(" (service code %u)", st.dwServiceSpecificExitCode);
  std::printf("\n");
  std::fflush(stdout);
}

// The system's text for an error, without its line end.
std::string ErrorText(DWORD error) {
  char text[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           error, 0, text, sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n'))
    --n;
  return n ? std::string(text, n) : "error " + std::to_string(error);
}

// Reports the last error of what for a service (or the manager, name empty) and returns 1.
int Failed(const char* what, const std::string& name) {
  const DWORD error = GetLastError();
  if (error == RPC_S_SERVER_UNAVAILABLE) {
    std::fprintf(stderr, "scmctl: %s\n", kScmdNotRunningHint);
  } else {
    std::fprintf(stderr, "scmctl: %s%s%s: %s (%u)\n", what, name.empty() ? "" : " ", name.c_str(),
                 ErrorText(error).c_str(), error);
  }
  return 1;
}

// Closes a service handle when it goes.
struct Handle {
  SC_HANDLE h;
  explicit Handle(SC_HANDLE handle) : h(handle) {}
  ~Handle() {
    if (h) CloseServiceHandle(h);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
};

// Polls the service until pred(state) holds or kWaitMs pass; the last status in st.
template <typename Pred>
bool WaitState(SC_HANDLE service, SERVICE_STATUS& st, Pred pred) {
  for (DWORD waited = 0;; waited += kPollMs) {
    if (!QueryServiceStatus(service, &st)) return false;
    if (pred(st.dwCurrentState) || waited >= kWaitMs) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }
}

int Query(SC_HANDLE manager, const std::string& name) {
  Handle s(OpenServiceA(manager, name.c_str(), SERVICE_QUERY_STATUS));
  if (!s.h) return Failed("query", name);
  SERVICE_STATUS st{};
  if (!QueryServiceStatus(s.h, &st)) return Failed("query", name);
  PrintState(name.c_str(), st);
  return 0;
}

int Start(SC_HANDLE manager, const std::string& name) {
  Handle s(OpenServiceA(manager, name.c_str(), SERVICE_START | SERVICE_QUERY_STATUS));
  if (!s.h || !StartServiceA(s.h, 0, nullptr)) return Failed("start", name);
  SERVICE_STATUS st{};
  if (!WaitState(s.h, st, [](DWORD state) { return state != SERVICE_START_PENDING; }))
    return Failed("start", name);
  PrintState(name.c_str(), st);
  return st.dwCurrentState == SERVICE_RUNNING ? 0 : 1;
}

int Stop(SC_HANDLE manager, const std::string& name) {
  Handle s(OpenServiceA(manager, name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS));
  SERVICE_STATUS st{};
  if (!s.h || !ControlService(s.h, SERVICE_CONTROL_STOP, &st)) return Failed("stop", name);
  if (!WaitState(s.h, st, [](DWORD state) { return state == SERVICE_STOPPED; }))
    return Failed("stop", name);
  PrintState(name.c_str(), st);
  return st.dwCurrentState == SERVICE_STOPPED ? 0 : 1;
}

int List(SC_HANDLE manager) {
  std::vector<unsigned char> buffer(4096);
  for (;;) {
    DWORD needed = 0, count = 0, resume = 0;
    auto* entries = reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer.data());
    if (EnumServicesStatusA(manager, SERVICE_WIN32, SERVICE_STATE_ALL, entries,
                            static_cast<DWORD>(buffer.size()), &needed, &count, &resume)) {
      for (DWORD i = 0; i < count; ++i)
        PrintState(entries[i].lpServiceName, entries[i].ServiceStatus);
      return 0;
    }
    if (GetLastError() != ERROR_MORE_DATA) return Failed("list", "");
    // The list grew or did not fit: ask again for all of it at once.
    buffer.resize(buffer.size() + needed);
  }
}

int Usage() {
  std::fprintf(stderr,
               "usage: scmctl query NAME | start NAME | stop NAME | list\n"
               "  query  the service's state\n"
               "  start  start it and wait until it runs\n"
               "  stop   stop it and wait until it has stopped\n"
               "  list   every installed service and its state\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  const bool named = command == "query" || command == "start" || command == "stop";
  if (!(named && argc == 3) && !(command == "list" && argc == 2)) return Usage();
  const DWORD access = command == "list" ? SC_MANAGER_ENUMERATE_SERVICE : SC_MANAGER_CONNECT;
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, access);
  if (!manager) return Failed("open the service control manager", "");
  int rc;
  if (command == "list")
    rc = List(manager);
  else if (command == "query")
    rc = Query(manager, argv[2]);
  else if (command == "start")
    rc = Start(manager, argv[2]);
  else
    rc = Stop(manager, argv[2]);
  CloseServiceHandle(manager);
  return rc;
}
