// The widget set on FLTK: window peers, the display's fonts, message boxes, the screen, the
// clipboard, and the wait that serves the display and the thread's message queue together.
//
// The wait is our own, not Fl::run: the queue's wake-up descriptor (platform/msg's
// MessageQueueFd) is watched by FLTK (Fl::add_fd), and Fl::wait sleeps at most until the next
// timer of the queue is due (NextTimerDue), so a message posted from any thread wakes the loop at
// once and a timer falls due on time while nothing else happens. The caller dispatches the
// messages (the application's loop); waits nest (a handler may open a box that waits again).
// When a loop of FLTK's own runs instead (a popped-up menu), the descriptor's callback and an
// FLTK time-out set to the next timer's due time dispatch the messages themselves, so messages
// and timers keep flowing.
//
// Ownership: the program owns the widget set and keeps it beyond its application. One per
// process, on the GUI thread only.
#pragma once

#include <functional>

#include "platform/ui/core/peer.h"
#include "platform/ui/fltk/fonts.h"

namespace fltkpeer {

class TFltkWidgetSet : public TWidgetSet {
 public:
  // REQUIRES: the display is open (CreateFltkWidgetSet opens it).
  TFltkWidgetSet();
  ~TFltkWidgetSet() override;
  TFltkWidgetSet(const TFltkWidgetSet&) = delete;
  TFltkWidgetSet& operator=(const TFltkWidgetSet&) = delete;

  std::unique_ptr<TWindowPeer> CreateWindowPeer(TPeerTarget& target,
                                                const TWindowStyle& style) override;
  TTextMeasurer& Measurer() override { return measurer_; }
  std::unique_ptr<TBoxPeer> CreateMessageBox(const TMessageBoxRequest& request) override;
  TRect ScreenRect() override;
  TRect WorkArea() override;
  void ProcessEvents() override;
  void WaitForEvents(DWORD ms) override;
  void SetClipboardText(const std::string& text) override;
  void PasteClipboardText(TPeerTarget& target) override;
  void Beep() override;
  // FLTK's menu loop runs meanwhile; the queue's descriptor dispatches the messages.
  TMenuItem* TrackPopupMenu(TMenuItem& parent, TPoint p) override;

 private:
  friend void WaitForDisplay(const std::function<bool()>& done, DWORD ms);
  static void OnQueueReadable(int fd, void* data);
  static void OnTimerDue(void* data);
  // Inside a loop of FLTK's own: dispatches the queue, then sets the time-out for the next timer.
  void DispatchInForeignLoop();

  TFltkMeasurer measurer_;
  const int queueFd_;
  int loopDepth_ = 0;  // our own waits running now
};

// Runs FLTK's wait until done() holds or ms pass, with the thread's message queue left out of it:
// its messages stay queued for the caller and do not end the wait early (no spinning while some
// are queued). Display events are delivered meanwhile. GUI thread only.
void WaitForDisplay(const std::function<bool()>& done, DWORD ms);

}  // namespace fltkpeer
