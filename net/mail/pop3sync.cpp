#include "net/mail/pop3sync.h"

#include <algorithm>

namespace net::mail {

TSyncPop3Cli::TSyncPop3Cli(rtl::TComponent* owner) : TPop3Cli(owner) {
  SetRequestEndedHook([this](uint32_t serial, WORD error, bool aborted) {
    for (TWait* w : waits_) {
      if (w->serial == serial) {
        w->ended = true;
        w->error = error;
        w->aborted = aborted;
      }
    }
  });
}

DWORD TSyncPop3Cli::TimeoutMs() const {
  const uint64_t ms = static_cast<uint64_t>(Timeout) * 1000;
  return static_cast<DWORD>(std::min<uint64_t>(ms, kPop3LongestTimeoutMs));
}

void TSyncPop3Cli::RestartDeadline() {
  deadline_ = GetTickCount() + TimeoutMs();
}

void TSyncPop3Cli::NotifyResponse(const std::string& Msg) {
  TPop3Cli::NotifyResponse(Msg);
  if (Timeout > 0) RestartDeadline();
}

// The wait ends when its own request ends. A request that a nested call aborted ends then, so a
// request started afterwards by the same nested call is never taken for this one; the call fails
// with "426 Operation aborted.", whatever the nested call left in ErrorMessage.
bool TSyncPop3Cli::WaitUntilReady() {
  if (!RequestRunning()) return RequestResult() == 0;
  TWait wait;
  wait.serial = RequestSerial();
  waits_.push_back(&wait);
  struct Unregister {
    std::vector<TWait*>& waits;
    TWait* wait;
    ~Unregister() { waits.erase(std::remove(waits.begin(), waits.end(), wait), waits.end()); }
  } unregister{waits_, &wait};

  RestartDeadline();
  for (;;) {
    if (wait.ended && wait.aborted) {
      SetErrorMessage(kPop3Aborted);
      return false;
    }
    if (wait.ended) return wait.error == 0;
    if (State() == psIdle) return RequestResult() == 0;
    if (ApplicationTerminating(Terminating)) break;
    DWORD slice = kPop3WaitSliceMs;
    if (Timeout > 0) {
      const DWORD now = GetTickCount();
      if (TickBefore(deadline_, now)) break;
      slice = std::min<DWORD>(slice, deadline_ - now + 1);
    }
    MsgWait(slice);
    if (MultiThreaded && CtrlSocket())
      CtrlSocket()->ProcessMessages();
    else
      ::ProcessMessages();
  }
  Abort();
  SetErrorMessage(kPop3Timeout);
  SetStatusCode(kPop3AbortedCode);
  return false;
}

bool TSyncPop3Cli::Synchronize(void (TCustomPop3Cli::*op)()) {
  try {
    (this->*op)();
    return WaitUntilReady();
  } catch (...) {
    return false;
  }
}

bool TSyncPop3Cli::SyncConnect() {
  return Synchronize(&TCustomPop3Cli::Connect);
}
bool TSyncPop3Cli::SyncLogin() {
  return Synchronize(&TCustomPop3Cli::Login);
}
bool TSyncPop3Cli::SyncUser() {
  return Synchronize(&TCustomPop3Cli::User);
}
bool TSyncPop3Cli::SyncPass() {
  return Synchronize(&TCustomPop3Cli::Pass);
}
bool TSyncPop3Cli::SyncRPop() {
  return Synchronize(&TCustomPop3Cli::RPop);
}
bool TSyncPop3Cli::SyncAPop() {
  return Synchronize(&TCustomPop3Cli::APop);
}
bool TSyncPop3Cli::SyncQuit() {
  return Synchronize(&TCustomPop3Cli::Quit);
}
bool TSyncPop3Cli::SyncStat() {
  return Synchronize(&TCustomPop3Cli::Stat);
}
bool TSyncPop3Cli::SyncList() {
  return Synchronize(&TCustomPop3Cli::List);
}
bool TSyncPop3Cli::SyncRetr() {
  return Synchronize(&TCustomPop3Cli::Retr);
}
bool TSyncPop3Cli::SyncTop() {
  return Synchronize(&TCustomPop3Cli::Top);
}
bool TSyncPop3Cli::SyncDele() {
  return Synchronize(&TCustomPop3Cli::Dele);
}
bool TSyncPop3Cli::SyncNoop() {
  return Synchronize(&TCustomPop3Cli::Noop);
}
bool TSyncPop3Cli::SyncLast() {
  return Synchronize(&TCustomPop3Cli::Last);
}
bool TSyncPop3Cli::SyncRSet() {
  return Synchronize(&TCustomPop3Cli::RSet);
}
bool TSyncPop3Cli::SyncUidl() {
  return Synchronize(&TCustomPop3Cli::Uidl);
}
bool TSyncPop3Cli::SyncAbort() {
  return Synchronize(&TCustomPop3Cli::Abort);
}

}  // namespace net::mail
