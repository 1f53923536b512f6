// The message box on FLTK: a modal window with an icon, the text (drawn with fl_draw, never put
// in a label, so "user@host" shows as given) and a row of buttons whose "&" captions are labels
// (their letter underlined and a shortcut). Enter chooses the default button; the close box gives
// the request's CloseResult; Escape closes nothing.
//
// Ownership: the core owns the peer; the window goes with it. GUI thread only.
#pragma once

#include "platform/ui/core/peer.h"

namespace fltkpeer {

class BoxWindow;

class TFltkBoxPeer : public TBoxPeer {
 public:
  // Shows the box centred in area.
  TFltkBoxPeer(const TMessageBoxRequest& request, const TRect& area);
  ~TFltkBoxPeer() override;
  TFltkBoxPeer(const TFltkBoxPeer&) = delete;
  TFltkBoxPeer& operator=(const TFltkBoxPeer&) = delete;

  int Result() override { return result_; }

 private:
  friend class BoxWindow;
  int result_ = 0;
  BoxWindow* window_;
};

}  // namespace fltkpeer
