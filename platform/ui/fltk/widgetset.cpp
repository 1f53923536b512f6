#include "platform/ui/fltk/widgetset.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/fl_ask.H>

#include "platform/msg/msg.h"
#include "platform/ui/core/application.h"
#include "platform/ui/fltk/box.h"
#include "platform/ui/fltk/menu.h"
#include "platform/ui/fltk/text.h"
#include "platform/ui/fltk/window.h"

namespace fltkpeer {

namespace {

// Counts a wait of ours for as long as it runs.
struct LoopScope {
  int& depth;
  explicit LoopScope(int& d) : depth(d) { ++depth; }
  ~LoopScope() { --depth; }
};

// The widget set of the process (one at most), whose descriptor WaitForDisplay takes out of
// FLTK's wait for a while.
TFltkWidgetSet* g_widgetSet = nullptr;

}  // namespace

TFltkWidgetSet::TFltkWidgetSet() : queueFd_(MessageQueueFd()) {
  Fl::add_fd(queueFd_, FL_READ, OnQueueReadable, this);
  g_widgetSet = this;
}

TFltkWidgetSet::~TFltkWidgetSet() {
  if (g_widgetSet == this) g_widgetSet = nullptr;
  Fl::remove_timeout(OnTimerDue, this);
  Fl::remove_fd(queueFd_);
}

void WaitForDisplay(const std::function<bool()>& done, DWORD ms) {
  TFltkWidgetSet* self = g_widgetSet;
  if (self) Fl::remove_fd(self->queueFd_);
  const DWORD start = GetTickCount();
  for (;;) {
    if (done()) break;
    const DWORD spent = TickElapsed(start, GetTickCount());
    if (spent >= ms) break;
    Fl::wait((ms - spent) / 1000.0);
  }
  if (self) Fl::add_fd(self->queueFd_, FL_READ, TFltkWidgetSet::OnQueueReadable, self);
}

void TFltkWidgetSet::OnQueueReadable(int, void* data) {
  auto* self = static_cast<TFltkWidgetSet*>(data);
  // Inside our own wait the caller dispatches once Fl::wait returns.
  if (self->loopDepth_ == 0) self->DispatchInForeignLoop();
}

void TFltkWidgetSet::OnTimerDue(void* data) {
  static_cast<TFltkWidgetSet*>(data)->DispatchInForeignLoop();
}

void TFltkWidgetSet::DispatchInForeignLoop() {
  try {
    ProcessMessages();
  } catch (...) {
    if (Application) Application->HandleException();
  }
  Fl::remove_timeout(OnTimerDue, this);
  DWORD due = NextTimerDue();
  if (due != INFINITE) Fl::add_timeout(due / 1000.0, OnTimerDue, this);
}

std::unique_ptr<TWindowPeer> TFltkWidgetSet::CreateWindowPeer(TPeerTarget& target,
                                                              const TWindowStyle& style) {
  return std::make_unique<TFltkWindowPeer>(target, style);
}

std::unique_ptr<TBoxPeer> TFltkWidgetSet::CreateMessageBox(const TMessageBoxRequest& request) {
  return std::make_unique<TFltkBoxPeer>(request, WorkArea());
}

TRect TFltkWidgetSet::ScreenRect() {
  int x, y, w, h;
  Fl::screen_xywh(x, y, w, h, 0);
  return Bounds(x, y, w, h);
}

TRect TFltkWidgetSet::WorkArea() {
  int x, y, w, h;
  Fl::screen_work_area(x, y, w, h, 0);
  return Bounds(x, y, w, h);
}

void TFltkWidgetSet::ProcessEvents() {
  LoopScope scope(loopDepth_);
  Fl::check();
}

void TFltkWidgetSet::WaitForEvents(DWORD ms) {
  LoopScope scope(loopDepth_);
  DWORD wait = std::min(ms, NextTimerDue());
  if (wait == INFINITE)
    Fl::wait();  // until an event or the queue's descriptor
  else
    Fl::wait(wait / 1000.0);
}

void TFltkWidgetSet::SetClipboardText(const std::string& text) {
  const std::string& utf8 = Utf8Of(text);
  Fl::copy(utf8.data(), static_cast<int>(utf8.size()), 1);
}

void TFltkWidgetSet::PasteClipboardText(TPeerTarget& target) {
  // The text arrives later, as an FL_PASTE event of the target's window.
  if (TFltkWindowPeer* peer = PeerOfTarget(target)) Fl::paste(*peer->FltkWindow(), 1);
}

TMenuItem* TFltkWidgetSet::TrackPopupMenu(TMenuItem& parent, TPoint p) {
  // Not a wait of ours: while FLTK's loop runs, the descriptor's callback dispatches.
  int outer = loopDepth_;
  loopDepth_ = 0;
  DispatchInForeignLoop();  // sets the time-out of the next timer
  TMenuItem* chosen = TrackMenu(parent, p);
  Fl::remove_timeout(OnTimerDue, this);
  loopDepth_ = outer;
  return chosen;
}

void TFltkWidgetSet::Beep() {
  fl_beep();
}

}  // namespace fltkpeer
