#include "platform/msg/timer.h"

namespace {
constexpr UINT_PTR kTimerId = 1;
}

TTimer::TTimer(rtl::TComponent* owner) : rtl::TComponent(owner) {
  window_ = AllocateHWnd([this](TMessage& m) {
    if (m.Msg == WM_TIMER && OnTimer) OnTimer(this);
  });
  Update();
}

TTimer::~TTimer() {
  KillTimer(window_, kTimerId);
  DeallocateHWnd(window_);
}

void TTimer::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  Update();
}

void TTimer::SetInterval(UINT value) {
  if (value == interval_) return;
  interval_ = value;
  Update();
}

void TTimer::Update() {
  KillTimer(window_, kTimerId);
  if (enabled_ && interval_ != 0) SetTimer(window_, kTimerId, interval_);
}
