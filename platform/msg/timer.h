// A timer component: fires OnTimer every Interval milliseconds while Enabled, on the thread that
// created it (through its own hidden window). Owned like any component; its calls belong to its
// thread.
#pragma once

#include <functional>

#include "platform/msg/msg.h"
#include "rtl/classes.h"

class TTimer : public rtl::TComponent {
 public:
  explicit TTimer(rtl::TComponent* owner = nullptr);
  ~TTimer() override;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  UINT Interval() const { return interval_; }
  // A new interval restarts a running timer; 0 stops it.
  void SetInterval(UINT value);

  std::function<void(rtl::TObject* Sender)> OnTimer;

 private:
  void Update();

  HWND window_ = 0;
  bool enabled_ = true;
  UINT interval_ = 1000;
};
