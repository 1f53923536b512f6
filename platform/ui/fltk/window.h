// The window peer on FLTK: one double-buffered FLTK window per shown form, with no FLTK widgets
// inside. Its draw() hands the damaged part to the form (PeerPaint); mouse, keys, typed and pasted
// text, moves, resizes and the close box go to the form's peer target.
//
// Escape never closes a window: it reaches the form as a key like any other, and the window's
// callback tells the close box (FL_CLOSE) from an unhandled Escape. While a modal window (a modal
// form or a message box) is up, the program's other windows take no input, and the window manager
// keeps it above the window it belongs to. A popup window (a hint, a list) is not managed: it
// shows exactly where the form puts it and never takes the keyboard; the mouse goes through a
// hint. Update draws a window just shown once the display has mapped it.
//
// Ownership: the form owns the peer, the peer owns its FLTK window and hands it to FLTK's deferred
// deletion when it goes, so a peer destroyed inside one of the window's own events is safe. The
// target is borrowed and outlives the peer. GUI thread only.
#pragma once

#include <memory>
#include <string>

#include "platform/ui/core/peer.h"

class Fl_Window;

namespace fltkpeer {

class PeerWindow;

// The longest Update waits for the display to map a window just shown.
constexpr DWORD kFirstExposeLimitMs = 10000;

class TFltkWindowPeer : public TWindowPeer {
 public:
  TFltkWindowPeer(TPeerTarget& target, const TWindowStyle& style);
  ~TFltkWindowPeer() override;
  TFltkWindowPeer(const TFltkWindowPeer&) = delete;
  TFltkWindowPeer& operator=(const TFltkWindowPeer&) = delete;

  void SetBounds(const TRect& screenRect) override;
  void SetCaption(const std::string& caption) override;
  void SetVisible(bool visible) override;
  void SetModal(bool modal, TWindowPeer* owner) override;
  void Invalidate(const TRect& rect) override;
  void Update() override;
  void SetCursor(TCursor cursor) override;
  void Activate() override;

  TPeerTarget& Target() const { return target_; }
  // The window's size (its client area and menu bar) and whether it has been drawn on the
  // display since it was last shown.
  int Width() const;
  int Height() const;
  bool Exposed() const;
  // The caption in UTF-8.
  const std::string& Caption() const { return caption_; }
  // The FLTK window (for this folder's own use).
  Fl_Window* FltkWindow() const;

 private:
  TPeerTarget& target_;
  const TWindowStyle style_;
  PeerWindow* window_;
  std::string caption_;
  bool modal_ = false;
  Fl_Window* owner_ = nullptr;  // the window a modal one belongs to, for its show
};

// The peer whose target is target, or null (every live peer is listed).
TFltkWindowPeer* PeerOfTarget(const TPeerTarget& target);

// The modal windows, innermost last (modal forms and message boxes): while one is up, the
// program's other windows take no input.
void BeginModal(Fl_Window* w);
void EndModal(Fl_Window* w);
bool InputBlocked(const Fl_Window* w);

}  // namespace fltkpeer
