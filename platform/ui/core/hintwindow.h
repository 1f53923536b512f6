// The hint window: a popup form that shows a control's hint near the pointer (its lines broken
// only at the screen's width, the window kept on the screen; the mouse goes through it to what
// lies below), and the rule that decides when: the pointer rests on a control whose ShowHint holds
// for the application's HintPause, then the hint shows until the pointer leaves the control, a
// button goes down or HintHidePause passes. The application owns one hint window and its two
// timers. Threads: the GUI thread only.
#pragma once

#include <string>

#include "platform/msg/timer.h"
#include "platform/ui/core/forms.h"

class THintWindow : public TCustomForm {
 public:
  // In the desktop's UI font (SetUiFont) on clInfoBk.
  explicit THintWindow(rtl::TComponent* owner);
  // The size the text needs (lines broken at maxWidth), placed at the origin.
  TRect CalcHintRect(int maxWidth, const std::string& hint) const;
  // Shows the hint in rect (screen coordinates).
  void ActivateHint(const TRect& rect, const std::string& hint);
  void ReleaseHandle() { Hide(); }
  bool Active() const { return Visible(); }

 protected:
  void Paint() override;
};

// Shows and hides the hint window for the forms.
class THintController {
 public:
  explicit THintController(rtl::TComponent* owner);
  // Frees the window and the timers.
  ~THintController();
  THintController(const THintController&) = delete;
  THintController& operator=(const THintController&) = delete;
  // The pointer is over control (null: over nothing) at screen point p.
  void MouseOver(TControl* control, TPoint p);
  // A button went down or the pointer left the window.
  void Cancel();
  // The control is going: the controller forgets it.
  void Forget(TControl* control);

  THintWindow* Window() const { return window_; }
  // The timer that shows the hint (HintPause) and the one that hides it (HintHidePause).
  TTimer* ShowTimer() const { return showTimer_; }
  TTimer* HideTimer() const { return hideTimer_; }
  TControl* HintControl() const { return control_; }

 private:
  void ShowHintNow();
  THintWindow* window_;
  TTimer* showTimer_;
  TTimer* hideTimer_;
  TControl* control_ = nullptr;
  TPoint point_;
};
