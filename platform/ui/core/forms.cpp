#include "platform/ui/core/forms.h"

#include <algorithm>

#include "platform/ui/core/application.h"
#include "platform/ui/core/menus.h"
#include "platform/ui/core/scrollbar.h"
#include "platform/ui/core/stdctrls.h"

namespace {

// Closes the open drop-down list when it drops from a control of form.
void CloseDropDownOf(const TCustomForm* form) {
  if (Screen && Screen->DropDownControl() && GetParentForm(Screen->DropDownControl()) == form)
    Screen->CloseDropDown();
}

}  // namespace

// The peer's entry points, each guarded: a handler's exception is shown, never passed to the peer.
class TCustomForm::Target : public TPeerTarget {
 public:
  explicit Target(TCustomForm* form) : form_(form) {}

  void PeerPaint(TPaintDevice& device, const TRect& update) override {
    form_->Guarded([&] {
      if (form_->menu_ && form_->MenuHeight() > 0) {
        TCanvas canvas;
        TRect bar{0, 0, form_->ClientWidth(), form_->MenuHeight()};
        canvas.BeginPaint(&device, form_, TPoint{}, IntersectRect(update, bar));
        PaintMenuBar(canvas, *form_->menu_, bar);
        canvas.EndPaint();
      }
      form_->PaintTo(device,
                     TPoint{-form_->NonClientInsets().Left,
                            form_->MenuHeight() - form_->NonClientInsets().Top},
                     update);
    });
  }
  void PeerMouseDown(TMouseButton button, TShiftState shift, TPoint p) override {
    form_->Guarded([&] { form_->RouteMouseDown(button, shift, p); });
  }
  void PeerMouseMove(TShiftState shift, TPoint p) override {
    form_->Guarded([&] { form_->RouteMouseMove(shift, p); });
  }
  void PeerMouseUp(TMouseButton button, TShiftState shift, TPoint p) override {
    form_->Guarded([&] { form_->RouteMouseUp(button, shift, p); });
  }
  void PeerMouseWheel(TShiftState shift, int delta, TPoint p) override {
    form_->Guarded([&] {
      TControl* c = form_->ControlAtPos(form_->WindowToClient(p));
      c->DispatchMouseWheel(shift, delta, c->WindowToClient(p));
    });
  }
  void PeerMouseLeave() override {
    form_->Guarded([&] {
      form_->SetHover(nullptr);
      if (Application && Application->HintsIfAny()) Application->HintsIfAny()->Cancel();
    });
  }
  void PeerKeyDown(WORD key, TShiftState shift) override {
    form_->Guarded([&] { form_->RouteKeyDown(key, shift); });
  }
  void PeerKeyUp(WORD key, TShiftState shift) override {
    form_->Guarded([&] { form_->RouteKeyUp(key, shift); });
  }
  void PeerText(const std::string& text) override {
    form_->Guarded([&] { form_->RouteText(text); });
  }
  void PeerClose() override {
    form_->Guarded([&] { form_->Close(); });
  }
  void PeerResized(int width, int height) override {
    form_->Guarded([&] {
      TRect ins = form_->NonClientInsets();
      form_->SetBounds(form_->Left(), form_->Top(), width + ins.Left + ins.Right,
                       height - form_->MenuHeight() + ins.Top + ins.Bottom);
    });
  }
  void PeerMoved(TPoint screenPos) override {
    CloseDropDownOf(form_);
    TRect ins = form_->NonClientInsets();
    // The peer window starts at the menu bar, inside the frame.
    form_->TControl::SetBounds(screenPos.X - ins.Left,
                               screenPos.Y - (ins.Top - form_->MenuHeight()), form_->Width(),
                               form_->Height());
  }
  void PeerActivated(bool active) override {
    form_->Guarded([&] {
      if (!active) CloseDropDownOf(form_);
      if (Screen) Screen->SetActiveForm(active ? form_ : nullptr);
      if (active && form_->OnActivate) form_->OnActivate(form_);
      if (!active && form_->OnDeactivate) form_->OnDeactivate(form_);
    });
  }

 private:
  TCustomForm* form_;
};

TCustomForm::TCustomForm(rtl::TComponent* owner)
    : TWinControl(owner), target_(std::make_unique<Target>(this)) {
  SetLoading(true);
  SetVisible(false);
  SetBounds(0, 0, 320, 240);
  if (Screen) Screen->AddForm(this);
}

TCustomForm::~TCustomForm() {
  BeforeDestruction();
  if (Screen) Screen->RemoveForm(this);
}

void TCustomForm::BeforeDestruction() {
  if (destroyed_) return;
  destroyed_ = true;
  if (OnDestroy) {
    try {
      OnDestroy(this);
    } catch (...) {
      if (Application) Application->HandleException();
    }
  }
  peer_.reset();
  DestroyComponents();
}

template <typename Fn>
void TCustomForm::Guarded(Fn&& fn) {
  try {
    fn();
  } catch (...) {
    if (!Application) throw;
    Application->HandleException();
  }
}

void TCustomForm::AfterConstruction() {
  for (int i = 0; i < ComponentCount(); ++i)
    if (auto* c = dynamic_cast<TControl*>(Components(i))) c->Loaded();
  Loaded();
  if (OnCreate) OnCreate(this);
}

void TCustomForm::SetBorderStyle(TBorderStyle value) {
  if (value == borderStyle_) return;
  TRect oldIns = NonClientInsets();
  int cw = Width() - oldIns.Left - oldIns.Right, ch = Height() - oldIns.Top - oldIns.Bottom;
  borderStyle_ = value;
  // The client area keeps its size; the frame changes around it.
  SetClientWidth(cw);
  SetClientHeight(ch);
  peer_.reset();
  if (Visible()) CreatePeer();
}

void TCustomForm::SetMenu(TMainMenu* menu) {
  if (menu == menu_) return;
  if (menu_) RemoveFreeNotification(menu_);
  menu_ = menu;
  if (menu_) FreeNotification(menu_);
  Realign();
  PlacePeer();
  Invalidate();
}

TRect TCustomForm::NonClientInsets() const {
  if (borderStyle_ == bsNone) return TRect{0, MenuHeight(), 0, 0};
  return TRect{kFormFrameWidth, kFormFrameWidth + kFormCaptionHeight + MenuHeight(),
               kFormFrameWidth, kFormFrameWidth};
}

int TCustomForm::MenuHeight() const {
  return menu_ ? MenuBarHeight(*menu_) : 0;
}

TPoint TCustomForm::ClientOriginInWindow() const {
  return TPoint{0, MenuHeight()};
}

TPeerTarget& TCustomForm::PeerTarget() {
  return *target_;
}

void TCustomForm::CreatePeer() {
  if (peer_ || !Application) return;
  TWindowStyle style;
  style.Kind = popup_                   ? TWindowKind::Popup
               : borderStyle_ == bsNone ? TWindowKind::Borderless
                                        : TWindowKind::Normal;
  style.MouseTransparent = popup_ && mouseTransparent_;
  style.Sizeable = borderStyle_ == bsSizeable || borderStyle_ == bsSizeToolWin;
  style.CloseButton = BorderIcons.Contains(biSystemMenu);
  style.MinimizeButton = style.CloseButton && BorderIcons.Contains(biMinimize);
  style.MaximizeButton = style.CloseButton && BorderIcons.Contains(biMaximize);
  peer_ = Application->WidgetSet().CreateWindowPeer(*target_, style);
  peer_->SetCaption(Caption());
  PlacePeer();
}

void TCustomForm::PlacePeer() {
  if (!peer_) return;
  TRect ins = NonClientInsets();
  TRect client{Left() + ins.Left, Top() + ins.Top - MenuHeight(), Left() + Width() - ins.Right,
               Top() + Height() - ins.Bottom};
  peer_->SetBounds(client);
}

void TCustomForm::SetVisible(bool value) {
  if (value == Visible()) return;
  if (value) {
    if (!placed_ && Application) {
      placed_ = true;
      TRect area = Position == poScreenCenter ? Application->WidgetSet().ScreenRect()
                                              : Application->WidgetSet().WorkArea();
      if (Position == poScreenCenter || Position == poDesktopCenter ||
          Position == poMainFormCenter) {
        TControl::SetBounds(area.Left + (area.Width() - Width()) / 2,
                            area.Top + (area.Height() - Height()) / 2, Width(), Height());
      }
    }
    CreatePeer();
    if (modal_ && peer_ && Application) peer_->SetModal(true, Application->ModalOwner(this));
  } else {
    CloseDropDownOf(this);
  }
  TWinControl::SetVisible(value);
  if (peer_) {
    peer_->SetVisible(value);
    if (value) peer_->Invalidate(TRect{0, 0, ClientWidth(), ClientHeight() + MenuHeight()});
  }
  if (value) {
    if (OnShow) OnShow(this);
    if (peer_ && !popup_) peer_->Activate();
  } else {
    if (OnHide) OnHide(this);
    if (Screen && Screen->ActiveForm() == this) Screen->SetActiveForm(nullptr);
  }
}

void TCustomForm::TextChanged() {
  if (peer_) peer_->SetCaption(Caption());
}

void TCustomForm::SetBounds(int left, int top, int width, int height) {
  TWinControl::SetBounds(left, top, width, height);
  // A move alone changes no size, so Resize does not place the window.
  PlacePeer();
}

void TCustomForm::Resize() {
  PlacePeer();
  TWinControl::Resize();
}

bool TCustomForm::CloseQuery() {
  bool canClose = true;
  if (OnCloseQuery) OnCloseQuery(this, canClose);
  return canClose;
}

void TCustomForm::DoClose(TCloseAction& action) {
  if (OnClose) OnClose(this, action);
}

void TCustomForm::Close() {
  if (modal_) {
    modalResult_ = mrCancel;
    return;
  }
  if (closing_ || !CloseQuery()) return;
  closing_ = true;
  TCloseAction action = caHide;
  try {
    DoClose(action);
  } catch (...) {
    closing_ = false;
    throw;
  }
  closing_ = false;
  if (action == caNone) return;
  if (Application && Application->MainForm() == this) {
    Application->Terminate();
    Hide();
    return;
  }
  if (action == caHide || action == caMinimize) Hide();
  if (action == caFree) {
    Hide();
    Release();
  }
}

TModalResult TCustomForm::ShowModal() {
  if (Visible() || modal_) throw EInvalidOperation("Cannot make a visible window modal");
  modalResult_ = mrNone;
  modal_ = true;
  struct Reset {
    TCustomForm* f;
    ~Reset() { f->modal_ = false; }
  } reset{this};
  Show();
  TCloseAction action = caHide;
  for (;;) {
    Application->HandleMessage();
    if (Application->Terminated() && modalResult_ == mrNone) modalResult_ = mrCancel;
    if (modalResult_ == mrNone) continue;
    if (!Application->Terminated() && !CloseQuery()) {
      modalResult_ = mrNone;
      continue;
    }
    action = caHide;
    DoClose(action);
    if (action == caNone && !Application->Terminated()) {
      modalResult_ = mrNone;
      continue;
    }
    break;
  }
  if (peer_) peer_->SetModal(false, nullptr);
  Hide();
  if (action == caFree) Release();
  return modalResult_;
}

void TCustomForm::Release() {
  if (Application) PostMessage(Application->Handle(), WM_USER, 0, reinterpret_cast<LPARAM>(this));
}

void TCustomForm::SetActiveControl(TWinControl* control) {
  if (control == activeControl_) return;
  TWinControl* old = activeControl_;
  activeControl_ = control;
  if (old) {
    old->DispatchExit();
    old->Invalidate();
  }
  if (control && activeControl_ == control) {
    control->DispatchEnter();
    control->Invalidate();
  }
}

void TCustomForm::SetFocus() {
  if (peer_ && Visible()) peer_->Activate();
}

void TCustomForm::SelectNext(bool forward) {
  // Every focusable control of the form, depth first in tab order.
  std::vector<TWinControl*> order;
  std::function<void(const TWinControl*)> walk = [&](const TWinControl* w) {
    for (TWinControl* c : w->TabList()) {
      if (c->CanFocus() && c->TabStop()) order.push_back(c);
      walk(c);
    }
  };
  walk(this);
  if (order.empty()) return;
  auto it = std::find(order.begin(), order.end(), activeControl_);
  size_t n = order.size(), i;
  if (it == order.end()) {
    i = forward ? 0 : n - 1;
  } else {
    size_t at = static_cast<size_t>(it - order.begin());
    i = forward ? (at + 1) % n : (at + n - 1) % n;
  }
  order[i]->SetFocus();
}

void TCustomForm::InvalidateWindow(const TRect& windowRect) {
  if (peer_ && Visible()) peer_->Invalidate(windowRect);
}

void TCustomForm::UpdateWindow() {
  if (peer_ && Visible()) peer_->Update();
}

void TCustomForm::ControlRemoved(TControl* control) {
  auto inside = [control](const TControl* c) {
    for (; c; c = c->Parent())
      if (c == control) return true;
    return false;
  };
  if (inside(activeControl_)) activeControl_ = nullptr;
  if (inside(capture_)) capture_ = nullptr;
  if (inside(hover_)) hover_ = nullptr;
  if (Application && Application->HintsIfAny()) Application->HintsIfAny()->Forget(control);
}

void TCustomForm::Paint() {
  TWinControl::Paint();
  if (OnPaint) OnPaint(this);
}

// ---- input routing ----

namespace {

// The deepest enabled control at window point p: a disabled control's press goes nowhere.
TControl* EnabledControlAt(TCustomForm* form, TPoint p) {
  TControl* c = form->ControlAtPos(form->WindowToClient(p));
  return c && c->IsEnabled() ? c : nullptr;
}

// The visible, enabled default (or cancel) button on w, depth first.
TButton* FindButton(const TWinControl* w, bool isDefault) {
  for (int i = 0; i < w->ControlCount(); ++i) {
    TControl* c = w->Controls(i);
    if (!c->Visible() || !c->Enabled()) continue;
    if (auto* b = dynamic_cast<TButton*>(c); b && (isDefault ? b->Default : b->Cancel)) return b;
    if (auto* child = dynamic_cast<TWinControl*>(c))
      if (TButton* b = FindButton(child, isDefault)) return b;
  }
  return nullptr;
}

}  // namespace

void TCustomForm::RouteMouseDown(TMouseButton button, TShiftState shift, TPoint p) {
  // A press anywhere but on the open drop-down list or its control closes the list first.
  const bool onMenuBar = menu_ && p.Y < MenuHeight();
  if (Screen && Screen->DropDownControl() &&
      !Screen->InsideDropDown(this, onMenuBar ? nullptr : ControlAtPos(WindowToClient(p))))
    Screen->CloseDropDown();
  if (onMenuBar) {
    if (button != mbLeft) return;
    ClickMenuBar(*menu_, p.X);
    // An item with a submenu drops it down below the bar, where it was clicked.
    TMenuItem* item = MenuBarItemAt(*menu_, p.X);
    if (item && item->Count() > 0 && Application) {
      TRect ins = NonClientInsets();
      TPoint below{Left() + ins.Left + p.X, Top() + ins.Top};
      if (TMenuItem* chosen = Application->WidgetSet().TrackPopupMenu(*item, below))
        chosen->Click();
    }
    return;
  }
  if (Application && Application->HintsIfAny()) Application->HintsIfAny()->Cancel();
  TControl* c = EnabledControlAt(this, p);
  if (!c) return;
  // A press on a control's scroll bars leaves the focus where it is (an editor keeps it).
  const TControlScrollBars* bars = c->ControlScrollBars();
  const bool onBars = bars && bars->Contains(c->WindowToClient(p));
  if (auto* w = dynamic_cast<TWinControl*>(c); w && w->TakesFocus() && w->CanFocus() && !onBars)
    w->SetFocus();
  capture_ = c;
  c->DispatchMouseDown(button, shift, c->WindowToClient(p));
  if (button == mbRight && capture_ == c) {
    bool handled = false;
    c->DispatchContextPopup(c->WindowToClient(p), handled);
  }
}

void TCustomForm::RouteMouseMove(TShiftState shift, TPoint p) {
  if (capture_) {
    hoverPoint_ = capture_->WindowToClient(p);
    capture_->DispatchMouseMove(shift, hoverPoint_);
    if (peer_ && capture_) peer_->SetCursor(capture_->CursorOver(capture_->WindowToClient(p)));
    return;
  }
  TControl* c = EnabledControlAt(this, p);
  if (c) hoverPoint_ = c->WindowToClient(p);
  SetHover(c);
  UpdateCursor();
  if (Application && !popup_ && !Application->Ending())
    Application->Hints().MouseOver(c, c ? c->ClientToScreen(hoverPoint_) : p);
  if (c) c->DispatchMouseMove(shift, c->WindowToClient(p));
}

void TCustomForm::RouteMouseUp(TMouseButton button, TShiftState shift, TPoint p) {
  TControl* c = capture_;
  capture_ = nullptr;
  if (c) c->DispatchMouseUp(button, shift, c->WindowToClient(p));
}

void TCustomForm::SetHover(TControl* control) {
  if (control == hover_) return;
  TControl* old = hover_;
  hover_ = control;
  if (old) old->DispatchMouseLeave();
  if (hover_ == control && control) control->DispatchMouseEnter();
  UpdateCursor();
}

void TCustomForm::UpdateCursor() {
  if (!peer_) return;
  TCursor c = Screen && Screen->Cursor() != crDefault ? Screen->Cursor()
              : hover_                                ? hover_->CursorOver(hoverPoint_)
                                                      : crDefault;
  peer_->SetCursor(c);
}

void TCustomForm::RouteKeyDown(WORD key, TShiftState shift) {
  if (KeyPreview && !DispatchKeyDown(key, shift)) return;
  TWinControl* target = activeControl_ ? activeControl_ : this;
  if (target != this && !target->DispatchKeyDown(key, shift)) return;
  if (key == 0) return;
  // Navigation and the default and cancel buttons, unless the control uses the key itself.
  if (target == this || !target->WantsKey(key, shift)) {
    if (key == VK_TAB && !shift.Contains(ssCtrl) && !shift.Contains(ssAlt)) {
      SelectNext(!shift.Contains(ssShift));
      return;
    }
    if ((key == VK_RETURN || key == VK_ESCAPE) && shift.Empty()) {
      if (TButton* b = FindButton(this, key == VK_RETURN)) {
        b->Click();
        return;
      }
    }
  }
  // Enter, Backspace and Escape type their characters.
  char ch = key == VK_RETURN ? '\r' : key == VK_BACK ? '\b' : key == VK_ESCAPE ? '\x1b' : 0;
  if (ch) {
    if (KeyPreview) {
      DispatchKeyPress(ch);
      if (!ch) return;
    }
    if (target != this) target->DispatchKeyPress(ch);
  }
}

void TCustomForm::RouteKeyUp(WORD key, TShiftState shift) {
  if (KeyPreview) DispatchKeyUp(key, shift);
  if (key && activeControl_) activeControl_->DispatchKeyUp(key, shift);
}

void TCustomForm::RouteText(const std::string& text) {
  if (activeControl_) activeControl_->DispatchText(text);
}
