// The service application framework: a program derives its service module from TService, creates
// it through the application object and runs the application, which installs, uninstalls or runs
// the service as its command line says.
//
// Command line (switches start with "/" or "-", in any letter case):
//   INSTALL [SILENT]    registers the service with scmd (its name, display name, type, start type
//                       and error control, this program as the path), shows the result unless
//                       SILENT, and ends: 0 on success, 1 on failure.
//   UNINSTALL [SILENT]  deletes the service's registration, likewise.
//   FOREGROUND          runs the same life cycle without scmd: the states go to stderr, SIGINT
//                       (Ctrl-C) stops the service and SIGTERM shuts it down. Ends with 0, or 1
//                       when the service never reached RUNNING.
//   (none)              runs as a service under scmd; without scmd the dispatcher fails with 1063,
//                       which goes to the event log, and the program ends with 1.
//
// Threads: every handler of a module — OnCreate, OnStart, OnExecute, OnStop, OnPause, OnContinue,
// OnShutdown — runs on the thread that called Run (the main thread), which owns the module's
// sockets and timers, so they are never touched from two threads. Under scmd the dispatcher's
// thread only receives control codes and posts them to the module's hidden window (Controller);
// they are handled wherever the main thread pumps its messages, also inside a nested wait (a
// synchronous mail call), so a stop or shutdown is never held up by one. SIGTERM asks for a
// shutdown, SIGINT for a stop, in every mode. OnShutdown runs once, also when it comes while a
// stop is pending.
//
// States, as reported: START_PENDING (check point 0, when the service main begins), START_PENDING
// (check point 1, before OnStart), RUNNING after OnStart left Started true, STOP_PENDING on a stop
// or shutdown, STOPPED when the life cycle has ended; a failed start goes from START_PENDING to
// STOPPED. PAUSE_PENDING/PAUSED and CONTINUE_PENDING/RUNNING around OnPause and OnContinue: a
// paused service keeps dispatching its messages. The check point counts up while a pending state
// is reported again and is 0 otherwise; the wait hint is WaitHint; no control is accepted while
// the start is pending, else stop (AllowStop), pause/continue (AllowPause) and shutdown.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/advapi32/eventlog.h"
#include "platform/advapi32/winsvc.h"
#include "rtl/classes.h"

enum TCurrentStatus {
  csStopped = 1,
  csStartPending,
  csStopPending,
  csRunning,
  csContinuePending,
  csPausePending,
  csPaused,
};

enum TServiceType { stWin32, stDevice, stFileSystem };
enum TStartType { stBoot, stSystem, stAuto, stManual, stDisabled };
enum TErrorControl { ecIgnore, ecNormal, ecSevere, ecCritical };

class TService;

using TServiceCreateEvent = std::function<void(rtl::TObject* Sender)>;
using TServiceEvent = std::function<void(TService* Sender)>;
using TStartEvent = std::function<void(TService* Sender, bool& Started)>;
using TStopEvent = std::function<void(TService* Sender, bool& Stopped)>;
using TPauseEvent = std::function<void(TService* Sender, bool& Paused)>;
using TContinueEvent = std::function<void(TService* Sender, bool& Continued)>;
// The control procedure of a service, as the dispatcher calls it.
using TServiceController = void (*)(DWORD CtrlCode);

// The request processing of a running service. Belongs to the main thread; Terminate may be
// called from any thread.
class TServiceThread {
 public:
  TServiceThread() = default;
  TServiceThread(const TServiceThread&) = delete;
  TServiceThread& operator=(const TServiceThread&) = delete;

  // Dispatches the messages queued for the calling (main) thread: socket and timer notifications
  // as well as control requests. With WaitForMessage, first waits until one is there, and does
  // nothing once the service thread has been terminated (a stop, a shutdown, or a quit posted to
  // the thread); without, dispatches what is queued in any case. Returns when the queue is empty.
  void ProcessRequests(bool WaitForMessage);

  bool Terminated() const;
  void Terminate();

 private:
  mutable std::mutex m_;
  bool terminated_ = false;
};

// The base of a service module. The derived module sets its properties and events in its
// constructor; TServiceApplication::CreateForm then runs OnCreate. Owns the components made with
// it as owner (rtl::TComponent) and frees them with itself.
class TService : public rtl::TComponent {
 public:
  // REQUIRES: called on the main thread (the module's hidden window is made here).
  explicit TService(rtl::TComponent* Owner = nullptr);
  ~TService() override;

  // The service name is TComponent::Name.
  std::string DisplayName;
  TServiceType ServiceType = stWin32;
  TStartType StartType = stAuto;
  TErrorControl ErrorControl = ecNormal;
  bool Interactive = false;
  bool AllowStop = true;
  bool AllowPause = true;
  DWORD WaitHint = 5000;
  std::string LoadGroup;
  std::vector<std::string> Dependencies;
  std::string ServiceStartName;  // empty: scmd's own account
  std::string Password;
  DWORD ErrCode = 0;       // service-specific exit code (reported with 1066 when not 0)
  DWORD Win32ErrCode = 0;  // Win32 exit code

  TServiceCreateEvent OnCreate;
  TStartEvent OnStart;
  TServiceEvent OnExecute;
  TStopEvent OnStop;
  TPauseEvent OnPause;
  TContinueEvent OnContinue;
  TServiceEvent OnShutdown;

  TCurrentStatus Status() const;
  // Reports the current status again (to scmd, or to stderr in the foreground).
  void ReportStatus();
  // Null until the service has been started.
  TServiceThread* ServiceThread() const { return serviceThread_.get(); }
  bool Terminated() const { return serviceThread_ && serviceThread_->Terminated(); }
  // The start arguments; the first is the service's name.
  const std::vector<std::string>& Params() const { return params_; }

  // True when the program runs the service itself, in the foreground (-FOREGROUND).
  bool Foreground() const { return foreground_; }
  // In the foreground, writes "<Name>: " and Text (CP932, may span lines) as a line to stderr, in
  // the terminal's character set; nothing otherwise.
  void ForegroundLine(const std::string& Text);
  // Writes Text (CP932) as a line to stderr in the terminal's character set, in and out of the
  // foreground: there after "<Name>: " as ForegroundLine does, under the service manager as it is
  // (the manager keeps what its services write, each line under the service's name).
  void ErrorOutputLine(const std::string& Text);

  // Writes an event with this service's name as the source (and to stderr in the foreground).
  void LogMessage(const std::string& Message, WORD EventType = EVENTLOG_ERROR_TYPE,
                  WORD Category = 0, DWORD ID = 0);

  // Hands a control code to the module: posts it to the module's hidden window. Safe from any
  // thread; this is what the control procedure calls.
  void Controller(DWORD CtrlCode);
  // While a control's handler runs (OnStop, OnShutdown, ...): the tick count (GetTickCount) at
  // which that control reached Controller, from which a handler counts the time the manager gives
  // it. (The main thread may handle a control later than it came, inside a nested wait.)
  DWORD ControlArrived() const { return controlArrived_; }

  // The control procedure given to the dispatcher: a plain function that calls Controller of
  // this module.
  virtual TServiceController ServiceControllerEntry() = 0;

 protected:
  // A control code outside the standard ones; the default accepts it without action.
  virtual bool DoCustomControl(DWORD CtrlCode) { return true; }

 private:
  friend class TServiceApplication;

  void SetStatus(TCurrentStatus status);
  void PostControl(DWORD code, DWORD arrived);
  void HandleControl(DWORD code, DWORD arrived);
  void DoStop();
  void DoPause();
  void DoContinue();
  void DoShutdown();
  // Runs OnStart, OnExecute and what is still queued, on the main thread. Returns whether the
  // service reached RUNNING.
  bool RunLifeCycle();
  void LogFailure(const char* stage, const std::string& text);
  void Install();
  void Uninstall();

  HWND window_ = 0;
  std::unique_ptr<TServiceThread> serviceThread_;
  std::vector<std::string> params_;
  struct DeferredControl {
    DWORD code;
    DWORD arrived;
  };
  std::vector<DeferredControl> deferred_;  // controls that came while the start was pending
  DWORD controlArrived_ = 0;
  bool lifeCycle_ = false;        // OnStart .. the end of the life cycle
  bool shutdownHandled_ = false;  // OnShutdown has run in this life cycle
  bool foreground_ = false;
  SERVICE_STATUS_HANDLE statusHandle_ = nullptr;
  mutable std::mutex statusLock_;
  TCurrentStatus status_ = csStopped;
  TCurrentStatus lastReported_ = csStopped;
  DWORD checkPoint_ = 0;
};

// The program's service application: one per process, reached through Application().
class TServiceApplication {
 public:
  // Takes the command line and blocks SIGINT and SIGTERM in the calling thread, so that threads
  // made afterwards leave them to the application. REQUIRES: called first, on the main thread.
  void Initialize(int argc, char** argv);

  std::string Title;

  // Makes a module, stores it in Reference and runs its OnCreate (an exception escaping it goes
  // to the event log). The application owns the module and frees it when Run returns.
  template <class T>
  void CreateForm(T*& Reference) {
    auto module = std::make_unique<T>(nullptr);
    Reference = module.get();
    Register(std::move(module));
  }

  // Installs, uninstalls or runs the first module created, as the command line says (see the
  // head of this file); returns the program's exit code. REQUIRES: the main thread.
  int Run();

  // True when the command line given to Initialize holds "-FOREGROUND": no manager watches the
  // program, so nothing can restart it from outside (the collector starts no restart helper).
  bool Foreground() const { return foreground_; }

 private:
  void Register(std::unique_ptr<TService> module);
  bool HasSwitch(const char* name) const;
  int RegisterServices(bool install, bool silent);
  int RunForeground(TService& service);
  int RunService(TService& service);
  static void ServiceMain(DWORD argc, LPSTR* argv);

  std::vector<std::string> args_;
  std::vector<std::unique_ptr<TService>> modules_;
  bool foreground_ = false;

  // Between the service main (on the dispatcher's thread) and the main thread.
  HWND window_ = 0;
  std::mutex lock_;
  std::condition_variable done_;
  bool lifeCycleDone_ = false;
  bool startRequested_ = false;
  bool dispatcherDone_ = false;
};

TServiceApplication& Application();
