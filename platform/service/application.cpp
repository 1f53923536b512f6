// TServiceApplication: the command line, installation, and the two ways of running a service.
#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "platform/msg/msg.h"
#include "platform/service/format.h"
#include "platform/service/messages.h"
#include "platform/service/svcmgr.h"
#include "rtl/cp932.h"
#include "rtl/exception.h"
#include "rtl/files.h"

namespace {

constexpr UINT WM_SERVICE_START = WM_USER + 1;
constexpr UINT WM_DISPATCHER_DONE = WM_USER + 2;

void BlockedSignals(sigset_t& set) {
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
}

// A thread that turns SIGINT into a stop and SIGTERM into a shutdown of the service. The signals
// are blocked in every thread (Initialize), so they wait for it in its signalfd.
class SignalWatcher {
 public:
  explicit SignalWatcher(TService& service) {
    sigset_t set;
    BlockedSignals(set);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signals_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    stop_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (signals_ < 0 || stop_ < 0) return;
    thread_ = std::thread([this, &service] { Watch(service); });
  }
  ~SignalWatcher() {
    if (thread_.joinable()) {
      const uint64_t one = 1;
      while (write(stop_, &one, sizeof one) < 0 && errno == EINTR) {
      }
      thread_.join();
    }
    if (signals_ >= 0) close(signals_);
    if (stop_ >= 0) close(stop_);
  }

 private:
  void Watch(TService& service) {
    for (;;) {
      pollfd fds[2] = {{signals_, POLLIN, 0}, {stop_, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[1].revents) return;
      signalfd_siginfo info;
      while (read(signals_, &info, sizeof info) == sizeof info)
        service.Controller(info.ssi_signo == SIGINT ? SERVICE_CONTROL_STOP
                                                    : SERVICE_CONTROL_SHUTDOWN);
    }
  }

  int signals_ = -1;
  int stop_ = -1;
  std::thread thread_;
};

std::string ExceptionText(const std::exception& e) {
  if (auto* re = dynamic_cast<const rtl::Exception*>(&e)) return re->Message;
  return e.what();
}

[[noreturn]] void RaiseLastOSError(DWORD code) {
  throw rtl::EOSError(OSErrorText(code), code);
}

// The program's own path as a command line: quoted when it holds a blank.
std::string ProgramCommandLine() {
  const std::string path = rtl::ProgramFileName();
  if (path.find_first_of(" \t\"") == std::string::npos) return path;
  std::string quoted = "\"";
  for (char c : path) {
    if (c == '"') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

void Show(const std::string& text, bool failure) {
  std::FILE* out = failure ? stderr : stdout;
  std::fprintf(out, "%s\n", rtl::Cp932ToUtf8(text).c_str());
  std::fflush(out);
}

}  // namespace

TServiceApplication& Application() {
  static auto* app = new TServiceApplication;
  return *app;
}

void TServiceApplication::Initialize(int argc, char** argv) {
  args_.clear();
  for (int i = 0; i < argc; ++i)
    args_.emplace_back(argv[i] ? argv[i] : "");
  foreground_ = HasSwitch("FOREGROUND");
  sigset_t set;
  BlockedSignals(set);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void TServiceApplication::Register(std::unique_ptr<TService> module) {
  TService& m = *module;
  m.foreground_ = foreground_;  // what OnCreate writes goes to the terminal too
  modules_.push_back(std::move(module));
  if (!m.OnCreate) return;
  try {
    m.OnCreate(&m);
  } catch (const std::exception& e) {
    m.LogMessage(ExceptionText(e));
  }
}

bool TServiceApplication::HasSwitch(const char* name) const {
  for (size_t i = 1; i < args_.size(); ++i) {
    const std::string& a = args_[i];
    if (a.size() > 1 && (a[0] == '/' || a[0] == '-') && rtl::SameText(a.substr(1), name))
      return true;
  }
  return false;
}

int TServiceApplication::Run() {
  int code = 0;
  if (!modules_.empty()) {
    if (HasSwitch("INSTALL")) {
      code = RegisterServices(true, HasSwitch("SILENT"));
    } else if (HasSwitch("UNINSTALL")) {
      code = RegisterServices(false, HasSwitch("SILENT"));
    } else if (foreground_) {
      code = RunForeground(*modules_.front());
    } else {
      code = RunService(*modules_.front());
    }
  }
  // The modules go before the run ends, on the thread that made them, newest first.
  while (!modules_.empty())
    modules_.pop_back();
  return code;
}

int TServiceApplication::RegisterServices(bool install, bool silent) {
  bool ok = true;
  for (auto& module : modules_) {
    try {
      if (install) {
        module->Install();
      } else {
        module->Uninstall();
      }
    } catch (const std::exception& e) {
      ok = false;
      if (silent) continue;
      Show(FormatIndexed(install ? svcmsg::kInstallFailed : svcmsg::kUninstallFailed,
                         {module->DisplayName, ExceptionText(e)}),
           true);
      auto* os = dynamic_cast<const rtl::EOSError*>(&e);
      if (os && os->ErrorCode == RPC_S_SERVER_UNAVAILABLE) Show(kScmdNotRunningHint, true);
    }
  }
  if (ok && !silent) Show(install ? svcmsg::kInstalled : svcmsg::kUninstalled, false);
  return ok ? 0 : 1;
}

int TServiceApplication::RunForeground(TService& service) {
  SignalWatcher watcher(service);
  service.SetStatus(csStartPending);
  const bool started = service.RunLifeCycle();
  service.SetStatus(csStopped);
  return started ? 0 : 1;
}

void TServiceApplication::ServiceMain(DWORD argc, LPSTR* argv) {
  TServiceApplication& app = Application();
  TService& service = *app.modules_.front();
  service.params_.clear();
  for (DWORD i = 0; i < argc; ++i)
    service.params_.emplace_back(argv[i] ? argv[i] : "");
  service.statusHandle_ =
      RegisterServiceCtrlHandlerA(service.Name.c_str(), service.ServiceControllerEntry());
  if (!service.statusHandle_) {
    service.LogMessage(SysErrorMessage(GetLastError()));
    return;
  }
  service.SetStatus(csStartPending);
  PostMessage(app.window_, WM_SERVICE_START, 0, 0);
  {
    std::unique_lock<std::mutex> l(app.lock_);
    app.done_.wait(l, [&] { return app.lifeCycleDone_; });
  }
  service.SetStatus(csStopped);
}

int TServiceApplication::RunService(TService& service) {
  SignalWatcher watcher(service);
  window_ = AllocateHWnd([this](TMessage& m) {
    if (m.Msg == WM_SERVICE_START) startRequested_ = true;
    if (m.Msg == WM_DISPATCHER_DONE) dispatcherDone_ = true;
  });
  BOOL dispatched = FALSE;
  DWORD error = 0;
  std::thread dispatcher([&] {
    SERVICE_TABLE_ENTRYA table[2] = {
        {const_cast<LPSTR>(service.Name.c_str()), &TServiceApplication::ServiceMain},
        {nullptr, nullptr}};
    dispatched = StartServiceCtrlDispatcherA(table);
    error = dispatched ? 0 : GetLastError();
    PostMessage(window_, WM_DISPATCHER_DONE, 0, 0);
  });
  // The main thread's loop: the module's notifications until the start, then the life cycle,
  // then whatever comes until the dispatcher has returned.
  while (!dispatcherDone_) {
    MSG m;
    if (GetMessage(&m, 0, 0, 0)) DispatchMessage(&m);
    if (startRequested_) {
      startRequested_ = false;
      service.RunLifeCycle();
      {
        std::lock_guard<std::mutex> l(lock_);
        lifeCycleDone_ = true;
      }
      done_.notify_all();
    }
  }
  dispatcher.join();
  DeallocateHWnd(window_);
  window_ = 0;
  if (!dispatched) {
    service.LogMessage(SysErrorMessage(error));
    std::fprintf(stderr, "%s: %s\n", rtl::Cp932ToUtf8(service.Name).c_str(),
                 SysErrorMessage(error).c_str());
    return 1;
  }
  return 0;
}

void TService::Install() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) RaiseLastOSError(GetLastError());
  static constexpr DWORD kStartTypes[] = {SERVICE_BOOT_START, SERVICE_SYSTEM_START,
                                          SERVICE_AUTO_START, SERVICE_DEMAND_START,
                                          SERVICE_DISABLED};
  static constexpr DWORD kErrorControls[] = {SERVICE_ERROR_IGNORE, SERVICE_ERROR_NORMAL,
                                             SERVICE_ERROR_SEVERE, SERVICE_ERROR_CRITICAL};
  DWORD type = SERVICE_WIN32_OWN_PROCESS;
  if (ServiceType == stDevice) type = SERVICE_KERNEL_DRIVER;
  if (ServiceType == stFileSystem) type = SERVICE_FILE_SYSTEM_DRIVER;
  if (Interactive) type |= SERVICE_INTERACTIVE_PROCESS;
  std::string dependencies;
  for (const auto& d : Dependencies)
    dependencies.append(d).push_back('\0');
  dependencies.push_back('\0');
  const std::string path = ProgramCommandLine();
  SC_HANDLE service =
      CreateServiceA(manager, Name.c_str(), DisplayName.empty() ? nullptr : DisplayName.c_str(),
                     SERVICE_ALL_ACCESS, type, kStartTypes[StartType], kErrorControls[ErrorControl],
                     path.c_str(), LoadGroup.empty() ? nullptr : LoadGroup.c_str(), nullptr,
                     Dependencies.empty() ? nullptr : dependencies.c_str(),
                     ServiceStartName.empty() ? nullptr : ServiceStartName.c_str(),
                     Password.empty() ? nullptr : Password.c_str());
  if (!service) {
    const DWORD error = GetLastError();
    CloseServiceHandle(manager);
    RaiseLastOSError(error);
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
}

void TService::Uninstall() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) RaiseLastOSError(GetLastError());
  SC_HANDLE service = OpenServiceA(manager, Name.c_str(), SERVICE_ALL_ACCESS);
  DWORD error = 0;
  if (!service || !DeleteService(service)) error = GetLastError();
  if (service) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  if (error) RaiseLastOSError(error);
}
