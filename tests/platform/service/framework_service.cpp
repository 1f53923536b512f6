// A service program on the framework, for the framework's tests. It is configured through the
// environment (scmd passes its own on), so that the path INSTALL registers needs no options:
//   KWFW_TRACE    file that receives one line per event: "create main", "start main",
//                 "foreground 0", "execute main", "stop main", "pause main", "continue main",
//                 "shutdown main", "tick <status>", "nested begin", "nested end", "exit <code>"
//                 ("main" or "other": the thread the handler ran on)
//   KWFW_START    "refuse" leaves Started false, "throw" raises in OnStart
//   KWFW_EXECUTE  "throw" raises in OnExecute, "default" leaves OnExecute unassigned
//   KWFW_TICK     a timer of that many ms on the main thread, traced with the status
//   KWFW_NESTED   on the first tick while running, a nested wait of that many ms that keeps
//                 dispatching the main thread's messages
//   KWFW_NOPAUSE  AllowPause false
#include <stdlib.h>

#include <cstdio>
#include <string>

#include "platform/msg/msg.h"
#include "platform/service/svcmgr.h"
#include "rtl/exception.h"

namespace {

DWORD g_mainThread = 0;

std::string Env(const char* name) {
  const char* v = getenv(name);
  return v ? v : "";
}

void Trace(const std::string& line) {
  const std::string file = Env("KWFW_TRACE");
  if (file.empty()) return;
  if (FILE* f = std::fopen(file.c_str(), "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

void TraceHere(const std::string& word) {
  Trace(word + (GetCurrentThreadId() == g_mainThread ? " main" : " other"));
}

class TFrameworkModule : public TService {
 public:
  explicit TFrameworkModule(rtl::TComponent* owner) : TService(owner) {
    Name = "KwFramework";
    DisplayName = "Kw Framework Test";
    AllowPause = Env("KWFW_NOPAUSE").empty();
    OnCreate = [](rtl::TObject*) { TraceHere("create"); };
    OnStart = [this](TService*, bool& started) {
      TraceHere("start");
      Trace(std::string("foreground ") + (Application().Foreground() ? "1" : "0"));
      const std::string mode = Env("KWFW_START");
      if (mode == "refuse") started = false;
      if (mode == "throw") throw rtl::Exception("boom");
      if (const int tick = std::atoi(Env("KWFW_TICK").c_str()); tick > 0) {
        timer_ = AllocateHWnd([this](TMessage& m) {
          if (m.Msg == WM_TIMER) Tick();
        });
        SetTimer(timer_, 1, static_cast<UINT>(tick));
      }
    };
    if (Env("KWFW_EXECUTE") != "default") {
      OnExecute = [this](TService*) {
        TraceHere("execute");
        if (Env("KWFW_EXECUTE") == "throw") throw rtl::Exception("bang");
        while (!ServiceThread()->Terminated())
          ServiceThread()->ProcessRequests(true);
      };
    }
    OnStop = [](TService*, bool&) { TraceHere("stop"); };
    OnPause = [](TService*, bool&) { TraceHere("pause"); };
    OnContinue = [](TService*, bool&) { TraceHere("continue"); };
    OnShutdown = [](TService*) { TraceHere("shutdown"); };
  }
  ~TFrameworkModule() override {
    if (timer_) DeallocateHWnd(timer_);
  }

  TServiceController ServiceControllerEntry() override;

 private:
  void Tick() {
    Trace("tick " + std::to_string(Status()));
    const int nested = std::atoi(Env("KWFW_NESTED").c_str());
    if (nested <= 0 || nestedDone_ || Status() != csRunning) return;
    nestedDone_ = true;
    Trace("nested begin");
    const DWORD start = GetTickCount();
    while (TickElapsed(start, GetTickCount()) < DWORD(nested)) {
      MsgWait(DWORD(nested) - TickElapsed(start, GetTickCount()));
      ProcessMessages();
    }
    Trace("nested end");
  }

  HWND timer_ = 0;
  bool nestedDone_ = false;
};

TFrameworkModule* FrameworkModule = nullptr;

void ServiceControlHandler(DWORD CtrlCode) {
  FrameworkModule->Controller(CtrlCode);
}

TServiceController TFrameworkModule::ServiceControllerEntry() {
  return ServiceControlHandler;
}

}  // namespace

int main(int argc, char** argv) {
  g_mainThread = GetCurrentThreadId();
  Application().Initialize(argc, argv);
  Application().Title = "KwFramework Ver1.00";
  Application().CreateForm(FrameworkModule);
  const int code = Application().Run();
  Trace("exit " + std::to_string(code));
  return code;
}
