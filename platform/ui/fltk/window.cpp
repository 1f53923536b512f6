#include "platform/ui/fltk/window.h"

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/fl_ask.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <vector>

#include "platform/ui/fltk/keys.h"
#include "platform/ui/fltk/paint.h"
#include "platform/ui/fltk/screenshots.h"
#include "platform/ui/fltk/text.h"
#include "platform/ui/fltk/widgetset.h"
#include "platform/ui/fltk/wm.h"

namespace fltkpeer {

namespace {

std::vector<TFltkWindowPeer*>& LivePeers() {
  static std::vector<TFltkWindowPeer*> peers;
  return peers;
}

std::vector<Fl_Window*>& ModalStack() {
  static std::vector<Fl_Window*> stack;
  return stack;
}

struct CursorMapping {
  TCursor cursor;
  Fl_Cursor fltk;
};
constexpr CursorMapping kCursors[] = {
    {crNone, FL_CURSOR_NONE},      {crArrow, FL_CURSOR_ARROW}, {crCross, FL_CURSOR_CROSS},
    {crIBeam, FL_CURSOR_INSERT},   {crSizeNS, FL_CURSOR_NS},   {crSizeWE, FL_CURSOR_WE},
    {crHourGlass, FL_CURSOR_WAIT}, {crHSplit, FL_CURSOR_WE},   {crVSplit, FL_CURSOR_NS},
    {crHandPoint, FL_CURSOR_HAND}, {crNo, FL_CURSOR_DEFAULT},
};

TMouseButton ButtonOf(int fltkButton) {
  if (fltkButton == FL_RIGHT_MOUSE) return mbRight;
  if (fltkButton == FL_MIDDLE_MOUSE) return mbMiddle;
  return mbLeft;
}

// The characters of these keys are made by the window classes themselves.
bool KeyMakesOwnText(WORD vk) {
  return vk == VK_BACK || vk == VK_TAB || vk == VK_RETURN || vk == VK_ESCAPE;
}

}  // namespace

void BeginModal(Fl_Window* w) {
  ModalStack().push_back(w);
}

void EndModal(Fl_Window* w) {
  auto& s = ModalStack();
  s.erase(std::remove(s.begin(), s.end(), w), s.end());
}

TFltkWindowPeer* PeerOfTarget(const TPeerTarget& target) {
  for (TFltkWindowPeer* p : LivePeers())
    if (&p->Target() == &target) return p;
  return nullptr;
}

bool InputBlocked(const Fl_Window* w) {
  const auto& s = ModalStack();
  return !s.empty() && s.back() != w;
}

// The FLTK window of a peer. peer_ is cleared when the peer goes; the window itself is deleted by
// FLTK later, and does nothing in between.
class PeerWindow : public Fl_Double_Window {
 public:
  PeerWindow(TFltkWindowPeer* peer, const TWindowStyle& style)
      : Fl_Double_Window(0, 0, 1, 1),
        peer_(peer),
        popup_(style.Kind == TWindowKind::Popup),
        mouseTransparent_(popup_ && style.MouseTransparent) {
    end();  // no child widgets
    callback(OnCallback);
    if (style.Kind != TWindowKind::Normal) {
      clear_border();
      force_position(1);
    }
    // Never managed (the window manager neither places, frames nor focuses it), so it shows
    // exactly where the form puts it and never takes the keyboard.
    if (popup_) {
      set_override();
      set_tooltip_window();
    }
  }

  void Detach() {
    peer_ = nullptr;
    EndModal(this);
    Fl::remove_timeout(OnShot, this);
  }

  // Moves and sizes without reporting it back to the form.
  void Place(int x, int y, int w, int h) {
    placing_ = true;
    resize(x, y, w, h);
    placing_ = false;
  }

  // Shows the window; a modal one belongs to owner (null: to no window).
  void ShowWindow(Fl_Window* owner) {
    exposed_ = false;
    exposeWaited_ = false;
    show();
    if (mouseTransparent_) MakeMouseTransparent(this);
    if (owner) SetTransientFor(this, owner, true);
  }
  // Lets the display map the window and FLTK draw it for the first time, at most ms; once per
  // show (a window the display never maps costs the wait once).
  void AwaitFirstExpose(DWORD ms) {
    if (!shown() || exposed_ || exposeWaited_) return;
    exposeWaited_ = true;
    WaitForDisplay([this] { return exposed_ || !peer_ || !shown(); }, ms);
  }
  void HideWindow() {
    exposed_ = false;
    hide();
  }
  bool Exposed() const { return exposed_; }
  bool Popup() const { return popup_; }

  void resize(int x, int y, int w, int h) override {
    bool moved = x != this->x() || y != this->y();
    bool sized = w != this->w() || h != this->h();
    Fl_Double_Window::resize(x, y, w, h);
    if (placing_ || !peer_) return;
    if (sized) peer_->Target().PeerResized(w, h);
    if (moved && peer_) peer_->Target().PeerMoved(TPoint{x, y});
  }

  void draw() override {
    if (!peer_) return;
    int X, Y, W, H;
    fl_clip_box(0, 0, w(), h(), X, Y, W, H);
    {
      TFltkPaintDevice device;
      peer_->Target().PeerPaint(device, Bounds(X, Y, W, H));
    }
    if (!exposed_ && peer_) {
      exposed_ = true;
      // Written from the loop, after this draw has reached the screen.
      if (!ScreenshotDir().empty()) Fl::add_timeout(0.0, OnShot, this);
    }
  }

  int handle(int event) override {
    if (!peer_) return 0;
    if (InputBlocked(this) && IsInput(event)) {
      if (event == FL_PUSH) fl_beep();
      return 1;
    }
    TPeerTarget& target = peer_->Target();
    TPoint p{Fl::event_x(), Fl::event_y()};
    switch (event) {
      case FL_PUSH: {
        TShiftState shift = CurrentShiftState();
        if (Fl::event_clicks() > 0) shift.Include(ssDouble);
        target.PeerMouseDown(ButtonOf(Fl::event_button()), shift, p);
        return 1;
      }
      case FL_DRAG:
      case FL_MOVE:
        target.PeerMouseMove(CurrentShiftState(), p);
        return 1;
      case FL_RELEASE:
        target.PeerMouseUp(ButtonOf(Fl::event_button()), CurrentShiftState(), p);
        return 1;
      case FL_MOUSEWHEEL:
        if (Fl::event_dy() != 0)
          target.PeerMouseWheel(CurrentShiftState(), -Fl::event_dy() * 120, p);
        return 1;
      case FL_ENTER:
        return 1;
      case FL_LEAVE:
        target.PeerMouseLeave();
        return 1;
      case FL_FOCUS:
        if (popup_) return 0;
        target.PeerActivated(true);
        return 1;
      case FL_UNFOCUS:
        target.PeerActivated(false);
        return 1;
      case FL_KEYDOWN:
        return KeyDown(target);
      case FL_KEYUP:
        if (WORD vk = VirtualKeyOf(Fl::event_key())) target.PeerKeyUp(vk, CurrentShiftState());
        return 1;
      case FL_PASTE:
        if (Fl::event_length() > 0)
          target.PeerText(Cp932Of(std::string_view(Fl::event_text(), Fl::event_length())));
        return 1;
      default:
        return Fl_Double_Window::handle(event);
    }
  }

 private:
  static bool IsInput(int event) {
    return event == FL_PUSH || event == FL_DRAG || event == FL_RELEASE || event == FL_MOUSEWHEEL ||
           event == FL_KEYDOWN || event == FL_KEYUP || event == FL_SHORTCUT || event == FL_PASTE;
  }

  int KeyDown(TPeerTarget& target) {
    WORD vk = VirtualKeyOf(Fl::event_key());
    TShiftState shift = CurrentShiftState();
    if (vk) target.PeerKeyDown(vk, shift);
    if (!peer_) return 1;  // the key closed the window
    std::string_view typed(Fl::event_text(), Fl::event_length());
    bool command = shift.Contains(ssCtrl) || shift.Contains(ssAlt);
    if (!typed.empty() && !KeyMakesOwnText(vk) && !command &&
        static_cast<unsigned char>(typed[0]) >= 0x20 && typed[0] != 0x7F)
      peer_->Target().PeerText(Cp932Of(typed));
    return 1;
  }

  // Only the close box (the window manager's FL_CLOSE) closes. FLTK also calls a window's
  // callback for an Escape no widget took; that closes nothing.
  static void OnCallback(Fl_Widget* w, void*) {
    auto* self = static_cast<PeerWindow*>(w);
    if (Fl::event() != FL_CLOSE || !self->peer_ || InputBlocked(self)) return;
    self->peer_->Target().PeerClose();
  }

  static void OnShot(void* data) {
    auto* self = static_cast<PeerWindow*>(data);
    if (self->peer_) WriteAutomaticScreenshot(*self->peer_);
  }

  TFltkWindowPeer* peer_;
  const bool popup_;
  const bool mouseTransparent_;
  bool placing_ = false;
  bool exposed_ = false;
  bool exposeWaited_ = false;
};

TFltkWindowPeer::TFltkWindowPeer(TPeerTarget& target, const TWindowStyle& style)
    : target_(target), style_(style), window_(new PeerWindow(this, style)) {
  LivePeers().push_back(this);
}

TFltkWindowPeer::~TFltkWindowPeer() {
  auto& live = LivePeers();
  live.erase(std::remove(live.begin(), live.end(), this), live.end());
  window_->Detach();
  window_->HideWindow();
  Fl::delete_widget(window_);
}

void TFltkWindowPeer::SetBounds(const TRect& r) {
  int w = std::max(r.Width(), 1), h = std::max(r.Height(), 1);
  if (style_.Sizeable)
    window_->size_range(1, 1);
  else
    window_->size_range(w, h, w, h);
  window_->Place(r.Left, r.Top, w, h);
}

void TFltkWindowPeer::SetCaption(const std::string& caption) {
  caption_ = Utf8Of(caption);
  window_->copy_label(caption_.c_str());
}

void TFltkWindowPeer::SetVisible(bool visible) {
  if (visible == (window_->shown() && window_->visible())) return;
  if (visible)
    window_->ShowWindow(modal_ ? owner_ : nullptr);
  else
    window_->HideWindow();
}

void TFltkWindowPeer::SetModal(bool modal, TWindowPeer* owner) {
  modal_ = modal;
  auto* ownerPeer = dynamic_cast<TFltkWindowPeer*>(owner);
  owner_ = modal && ownerPeer ? ownerPeer->FltkWindow() : nullptr;
  if (modal)
    BeginModal(window_);
  else
    EndModal(window_);
}

void TFltkWindowPeer::Invalidate(const TRect& r) {
  if (r.IsEmpty()) return;
  window_->damage(FL_DAMAGE_ALL, r.Left, r.Top, r.Width(), r.Height());
}

void TFltkWindowPeer::Update() {
  // A window shown a moment ago is not on the display until the display maps it: drawn before,
  // nothing would show (and what lay there before would stay). The first expose comes first.
  window_->AwaitFirstExpose(kFirstExposeLimitMs);
  Fl::flush();
}

void TFltkWindowPeer::SetCursor(TCursor cursor) {
  Fl_Cursor c = FL_CURSOR_DEFAULT;
  for (const CursorMapping& m : kCursors)
    if (m.cursor == cursor) c = m.fltk;
  window_->cursor(c);
}

void TFltkWindowPeer::Activate() {
  if (!window_->shown() || window_->Popup()) return;
  window_->show();  // raises a shown window
  window_->take_focus();
}

Fl_Window* TFltkWindowPeer::FltkWindow() const {
  return window_;
}

int TFltkWindowPeer::Width() const {
  return window_->w();
}

int TFltkWindowPeer::Height() const {
  return window_->h();
}

bool TFltkWindowPeer::Exposed() const {
  return window_->Exposed();
}

}  // namespace fltkpeer
