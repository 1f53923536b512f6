// The descriptor budget and the accept gate.
#include "net/socket/acceptgate.h"

#include <algorithm>

#include "rtl/fs.h"

namespace {

constexpr UINT_PTR kRetryTimer = 1;

}  // namespace

// ---- TDescriptorBudget ----

TDescriptorBudget::TDescriptorBudget(int64_t total) : total_(std::max<int64_t>(1, total)) {}

TDescriptorBudget::TDescriptorBudget(TFollowLimit, int64_t held) : total_(0), held_(held) {}

TDescriptorBudget& TDescriptorBudget::Process() {
  static TDescriptorBudget budget(
      TFollowLimit{}, std::max<int64_t>(0, rtl::fs::OpenDescriptorCount()) + kReservedDescriptors);
  return budget;
}

int64_t TDescriptorBudget::Total() const {
  if (held_ < 0) return total_;
  return std::max<int64_t>(1, rtl::fs::DescriptorLimit() - held_);
}

bool TDescriptorBudget::Take(int n) {
  const int64_t total = Total();
  int64_t used = used_.load();
  do {
    if (used + n > total) return false;
  } while (!used_.compare_exchange_weak(used, used + n));
  return true;
}

void TDescriptorBudget::Give(int n) {
  used_ -= n;
}

// ---- TAcceptGate ----

TAcceptGate::TAcceptGate(rtl::TComponent* Owner, TCustomAsyncSocket* Listener,
                         TDescriptorBudget* Budget)
    : rtl::TComponent(Owner), listener_(Listener), budget_(Budget) {
  window_ = SocketMakeObjectInstance([this](TMessage& m) {
    if (m.Msg == WM_TIMER && m.WParam == kRetryTimer) Resume();
  });
  FreeNotification(listener_);
}

TAcceptGate::~TAcceptGate() {
  if (window_) SocketFreeObjectInstance(window_);
}

TDescriptorBudget& TAcceptGate::Budget() const {
  return budget_ ? *budget_ : TDescriptorBudget::Process();
}

void TAcceptGate::Notification(rtl::TComponent* component, rtl::TOperation operation) {
  rtl::TComponent::Notification(component, operation);
  if (operation == rtl::TOperation::opRemove && component == listener_) listener_ = nullptr;
}

SOCKET TAcceptGate::Accept(int& Error) {
  Error = 0;
  if (!listener_) return INVALID_SOCKET;
  // The descriptor is counted before the accept: between the two nothing else may take it.
  if (!Budget().Take(1)) {
    Pause(WSAEMFILE, Error);
    return INVALID_SOCKET;
  }
  int error = 0;
  const SOCKET handle = listener_->TryAccept(error);
  if (handle == INVALID_SOCKET) {
    Budget().Give(1);
    if (error == WSAEMFILE || error == WSAENOBUFS)
      Pause(error, Error);
    else
      Error = error;
    return INVALID_SOCKET;
  }
  return handle;
}

void TAcceptGate::SessionEnded(int Descriptors) {
  Budget().Give(Descriptors);
  if (paused_) Resume();
}

void TAcceptGate::Reset() {
  KillTimer(window_, kRetryTimer);
  paused_ = false;
  refused_ = false;
}

// Asking again at once would fail the same way, over and over: the connection is still queued,
// and a failed accept re-enables the notification. Deregistered, the listener stays quiet.
void TAcceptGate::Pause(int Cause, int& Error) {
  paused_ = true;
  listener_->Pause();
  SetTimer(window_, kRetryTimer, kAcceptRetryMs);
  const DWORD now = GetTickCount();
  if (!refused_ || TickElapsed(lastRefusal_, now) >= PauseQuietMs) Error = Cause;
  refused_ = true;
  lastRefusal_ = now;
}

// Registering the listener again reports a connection that is still waiting.
void TAcceptGate::Resume() {
  KillTimer(window_, kRetryTimer);
  if (!paused_) return;
  paused_ = false;
  if (listener_ && listener_->State() == wsListening) listener_->Resume();
}
