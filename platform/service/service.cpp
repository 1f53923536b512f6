// TService: status reports, control handling and the life cycle on the main thread.
#include <cstdio>

#include "platform/msg/msg.h"
#include "platform/service/format.h"
#include "platform/service/messages.h"
#include "platform/service/svcmgr.h"
#include "rtl/cp932.h"
#include "rtl/exception.h"

namespace {

// The control codes reach the module's window as this message, the code in wParam and the tick
// count at which it reached Controller in lParam.
constexpr UINT WM_SERVICE_CONTROL = WM_USER + 1;

bool IsPending(TCurrentStatus s) {
  return s == csStartPending || s == csStopPending || s == csContinuePending || s == csPausePending;
}

const char* StateName(TCurrentStatus s) {
  switch (s) {
    case csStopped:
      return "STOPPED";
    case csStartPending:
      return "START_PENDING";
    case csStopPending:
      return "STOP_PENDING";
    case csRunning:
      return "RUNNING";
    case csContinuePending:
      return "CONTINUE_PENDING";
    case csPausePending:
      return "PAUSE_PENDING";
    case csPaused:
      return "PAUSED";
  }
  return "?";
}

// The text of an exception as the event log shows it.
std::string ExceptionText(const std::exception& e) {
  if (auto* re = dynamic_cast<const rtl::Exception*>(&e)) return re->Message;
  return e.what();
}

}  // namespace

void TServiceThread::ProcessRequests(bool WaitForMessage) {
  if (WaitForMessage) {
    if (Terminated()) return;
    MsgWait(INFINITE);
  }
  ProcessMessages();
  // A quit posted to the thread ends the service too (and stays pending for the outer loop).
  if (QuitPending()) Terminate();
}

bool TServiceThread::Terminated() const {
  std::lock_guard<std::mutex> l(m_);
  return terminated_;
}

void TServiceThread::Terminate() {
  std::lock_guard<std::mutex> l(m_);
  terminated_ = true;
}

TService::TService(rtl::TComponent* Owner) : rtl::TComponent(Owner) {
  window_ = AllocateHWnd([this](TMessage& m) {
    if (m.Msg == WM_SERVICE_CONTROL)
      HandleControl(static_cast<DWORD>(m.WParam), static_cast<DWORD>(m.LParam));
  });
}

TService::~TService() {
  DeallocateHWnd(window_);
  DestroyComponents();
}

TCurrentStatus TService::Status() const {
  std::lock_guard<std::mutex> l(statusLock_);
  return status_;
}

void TService::SetStatus(TCurrentStatus status) {
  {
    std::lock_guard<std::mutex> l(statusLock_);
    status_ = status;
  }
  ReportStatus();
}

void TService::ReportStatus() {
  SERVICE_STATUS st{};
  {
    std::lock_guard<std::mutex> l(statusLock_);
    checkPoint_ = (IsPending(status_) && status_ == lastReported_) ? checkPoint_ + 1 : 0;
    lastReported_ = status_;
    st.dwServiceType = SERVICE_WIN32_OWN_PROCESS | (Interactive ? SERVICE_INTERACTIVE_PROCESS : 0);
    st.dwCurrentState = static_cast<DWORD>(status_);
    if (status_ != csStartPending) {
      st.dwControlsAccepted = (AllowStop ? SERVICE_ACCEPT_STOP : 0) |
                              (AllowPause ? SERVICE_ACCEPT_PAUSE_CONTINUE : 0) |
                              SERVICE_ACCEPT_SHUTDOWN;
    }
    st.dwWin32ExitCode = ErrCode ? ERROR_SERVICE_SPECIFIC_ERROR : Win32ErrCode;
    st.dwServiceSpecificExitCode = ErrCode;
    st.dwCheckPoint = checkPoint_;
    st.dwWaitHint = WaitHint;
  }
  if (foreground_) {
    ForegroundLine(std::string(StateName(static_cast<TCurrentStatus>(st.dwCurrentState))) +
                   " check point " + std::to_string(st.dwCheckPoint) + " wait hint " +
                   std::to_string(st.dwWaitHint));
    return;
  }
  if (statusHandle_ && !SetServiceStatus(statusHandle_, &st))
    LogMessage(SysErrorMessage(GetLastError()));
}

void TService::ForegroundLine(const std::string& Text) {
  if (foreground_) ErrorOutputLine(Text);
}

void TService::ErrorOutputLine(const std::string& Text) {
  const std::string line = TerminalText(foreground_ ? Name + ": " + Text : Text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void TService::LogMessage(const std::string& Message, WORD EventType, WORD Category, DWORD ID) {
  ForegroundLine(Message);
  HANDLE source = RegisterEventSourceA(nullptr, Name.c_str());
  if (!source) return;
  LPCSTR text = Message.c_str();
  ReportEventA(source, EventType, Category, ID, nullptr, 1, 0, &text, nullptr);
  DeregisterEventSource(source);
}

void TService::LogFailure(const char* stage, const std::string& text) {
  LogMessage(FormatIndexed(svcmsg::kServiceFailed, {stage, text}));
}

void TService::Controller(DWORD CtrlCode) {
  PostControl(CtrlCode, GetTickCount());
}

void TService::PostControl(DWORD code, DWORD arrived) {
  PostMessage(window_, WM_SERVICE_CONTROL, code, static_cast<LPARAM>(arrived));
}

void TService::HandleControl(DWORD code, DWORD arrived) {
  const TCurrentStatus status = Status();
  if (!lifeCycle_ || status == csStartPending) {
    // Before the service runs (a signal during the start): kept until it does.
    if (!serviceThread_ || !serviceThread_->Terminated()) deferred_.push_back({code, arrived});
    return;
  }
  if (status == csStopped) return;
  controlArrived_ = arrived;
  switch (code) {
    case SERVICE_CONTROL_STOP:
      DoStop();
      break;
    case SERVICE_CONTROL_PAUSE:
      DoPause();
      break;
    case SERVICE_CONTROL_CONTINUE:
      DoContinue();
      break;
    case SERVICE_CONTROL_INTERROGATE:
      ReportStatus();
      break;
    case SERVICE_CONTROL_SHUTDOWN:
      DoShutdown();
      break;
    default:
      DoCustomControl(code);
  }
}

// The handlers below run inside whatever pumps the main thread's messages, possibly a nested
// wait in someone else's handler: an exception from a module's handler is logged here and never
// thrown into that foreign frame.

void TService::DoStop() {
  const TCurrentStatus before = Status();
  if (before == csStopPending) return;
  SetStatus(csStopPending);
  bool stopped = true;
  try {
    if (OnStop) OnStop(this, stopped);
  } catch (const std::exception& e) {
    LogFailure(svcmsg::kStageExecute, ExceptionText(e));
    stopped = true;  // a failed stop still ends the service
  }
  if (stopped) {
    serviceThread_->Terminate();
  } else {
    SetStatus(before);
  }
}

void TService::DoPause() {
  if (Status() != csRunning) return;
  SetStatus(csPausePending);
  bool paused = true;
  try {
    if (OnPause) OnPause(this, paused);
  } catch (const std::exception& e) {
    LogFailure(svcmsg::kStageExecute, ExceptionText(e));
    paused = false;
  }
  SetStatus(paused ? csPaused : csRunning);
}

void TService::DoContinue() {
  if (Status() != csPaused) return;
  SetStatus(csContinuePending);
  bool continued = true;
  try {
    if (OnContinue) OnContinue(this, continued);
  } catch (const std::exception& e) {
    LogFailure(svcmsg::kStageExecute, ExceptionText(e));
    continued = false;
  }
  SetStatus(continued ? csRunning : csPaused);
}

// A shutdown that comes while a stop is pending still reaches OnShutdown (it may leave less time
// than the stop did); a second shutdown does nothing.
void TService::DoShutdown() {
  if (shutdownHandled_) return;
  shutdownHandled_ = true;
  SetStatus(csStopPending);
  try {
    if (OnShutdown) OnShutdown(this);
  } catch (const std::exception& e) {
    LogFailure(svcmsg::kStageExecute, ExceptionText(e));
  }
  serviceThread_->Terminate();
}

bool TService::RunLifeCycle() {
  serviceThread_ = std::make_unique<TServiceThread>();
  lifeCycle_ = true;
  shutdownHandled_ = false;
  SetStatus(csStartPending);
  bool started = true;
  try {
    if (OnStart) OnStart(this, started);
  } catch (const std::exception& e) {
    LogFailure(svcmsg::kStageStart, ExceptionText(e));
    started = false;
  }
  if (started) {
    SetStatus(csRunning);
    for (const DeferredControl& c : deferred_)
      PostControl(c.code, c.arrived);
    deferred_.clear();
    try {
      if (OnExecute) {
        OnExecute(this);
      } else {
        while (!serviceThread_->Terminated())
          serviceThread_->ProcessRequests(true);
      }
      // What is still queued is handled without waiting.
      serviceThread_->ProcessRequests(false);
    } catch (const std::exception& e) {
      LogFailure(svcmsg::kStageExecute, ExceptionText(e));
    }
  }
  serviceThread_->Terminate();
  deferred_.clear();
  lifeCycle_ = false;
  return started;
}
