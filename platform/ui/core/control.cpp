#include "platform/ui/core/control.h"

#include <algorithm>

#include "platform/ui/core/forms.h"
#include "platform/ui/core/scrollbar.h"

// ---- TControl ----

TControl::TControl(rtl::TComponent* owner) : rtl::TComponent(owner) {
  font_.OnChange = [this](rtl::TObject*) { FontObjectChanged(); };
  auto* form = dynamic_cast<TCustomForm*>(owner);
  loading_ = form != nullptr && form->Loading();
}

TControl::~TControl() {
  font_.OnChange = nullptr;
  SetParent(nullptr);
}

void TControl::AssignFontQuietly(const TFont& source) {
  copyingFont_ = true;
  font_.Assign(source);
  copyingFont_ = false;
}

void TControl::FontObjectChanged() {
  if (!copyingFont_) parentFont_ = false;
  FontChanged();
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  if (parent_) {
    if (TCustomForm* form = GetParentForm(this)) form->ControlRemoved(this);
    TWinControl* old = parent_;
    old->RemoveControl(this);
    parent_ = nullptr;
    if (!old->Destroying()) {
      if (align_ != alNone && visible_) old->Realign();
      old->Invalidate();
    }
  }
  if (parent) {
    parent->InsertControl(this);
    parent_ = parent;
    if (parentFont_) ParentFontChanged();
    if (parentColor_) ParentColorChanged();
    if (align_ != alNone) parent->Realign();
    Invalidate();
  }
  ParentChanged();
}

void TControl::SetBounds(int left, int top, int width, int height) {
  width = std::max(0, width);
  height = std::max(0, height);
  if (left == left_ && top == top_ && width == width_ && height == height_) return;
  Invalidate();
  bool resized = width != width_ || height != height_;
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  if (parent_ && align_ != alNone && !parent_->aligning_) parent_->Realign();
  Invalidate();
  if (resized) Resize();
}

TRect TControl::ClientRect() const {
  TRect ins = NonClientInsets();
  return TRect{0, 0, std::max(0, width_ - ins.Left - ins.Right),
               std::max(0, height_ - ins.Top - ins.Bottom)};
}

void TControl::SetClientWidth(int value) {
  TRect ins = NonClientInsets();
  SetWidth(value + ins.Left + ins.Right);
}

void TControl::SetClientHeight(int value) {
  TRect ins = NonClientInsets();
  SetHeight(value + ins.Top + ins.Bottom);
}

TPoint TControl::ClientToScreen(TPoint p) const {
  TRect ins = NonClientInsets();
  TPoint q{p.X + left_ + ins.Left, p.Y + top_ + ins.Top};
  return parent_ ? parent_->ClientToScreen(q) : q;
}

TPoint TControl::ScreenToClient(TPoint p) const {
  TPoint origin = ClientToScreen(TPoint{});
  return TPoint{p.X - origin.X, p.Y - origin.Y};
}

TPoint TControl::ClientToWindow(TPoint p) const {
  if (!parent_) {
    TPoint o = ClientOriginInWindow();
    return TPoint{p.X + o.X, p.Y + o.Y};
  }
  TRect ins = NonClientInsets();
  return parent_->ClientToWindow(TPoint{p.X + left_ + ins.Left, p.Y + top_ + ins.Top});
}

TPoint TControl::WindowToClient(TPoint p) const {
  TPoint origin = ClientToWindow(TPoint{});
  return TPoint{p.X - origin.X, p.Y - origin.Y};
}

void TControl::SetAlign(TAlign value) {
  if (value == align_) return;
  align_ = value;
  if (parent_) parent_->Realign();
}

void TControl::RequestParentAlign() {
  if (parent_ && align_ != alNone) parent_->Realign();
}

void TControl::SetVisible(bool value) {
  if (value == visible_) return;
  if (!value) Invalidate();
  visible_ = value;
  if (!value)
    if (TCustomForm* form = GetParentForm(this)) form->ControlRemoved(this);
  RequestParentAlign();
  if (value) Invalidate();
  VisibleChanged();
}

bool TControl::Showing() const {
  return visible_ && parent_ != nullptr && parent_->Showing();
}

void TControl::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  EnabledChanged();
}

bool TControl::IsEnabled() const {
  for (const TControl* c = this; c; c = c->parent_)
    if (!c->enabled_) return false;
  return true;
}

void TControl::SetCaption(const std::string& value) {
  if (value == caption_) return;
  caption_ = value;
  TextChanged();
}

void TControl::SetParentFont(bool value) {
  parentFont_ = value;
  if (value && parent_) ParentFontChanged();
}

void TControl::ParentFontChanged() {
  if (parentFont_ && parent_) {
    AssignFontQuietly(*parent_->Font());
    parentFont_ = true;
  }
}

void TControl::SetColor(TColor value) {
  parentColor_ = false;
  if (value == color_) return;
  color_ = value;
  Invalidate();
}

void TControl::SetParentColor(bool value) {
  parentColor_ = value;
  if (value && parent_) ParentColorChanged();
}

void TControl::ParentColorChanged() {
  if (parentColor_ && parent_ && color_ != parent_->Color()) {
    color_ = parent_->Color();
    Invalidate();
  }
}

std::string TControl::ShortHint() const {
  return Hint.substr(0, Hint.find('|'));
}

bool TControl::ShowHint() const {
  if (parentShowHint_) return parent_ ? parent_->ShowHint() : false;
  return showHint_;
}

void TControl::SetShowHint(bool value) {
  showHint_ = value;
  parentShowHint_ = false;
}

void TControl::Invalidate() {
  InvalidateRect(
      TRect{0, 0, width_, height_}.Offset(-NonClientInsets().Left, -NonClientInsets().Top));
}

void TControl::InvalidateRect(const TRect& rect) {
  if (!Showing()) return;
  TCustomForm* form = GetParentForm(this);
  if (!form) return;
  TPoint o = ClientToWindow(TPoint{});
  form->InvalidateWindow(rect.Offset(o.X, o.Y));
}

void TControl::Update() {
  if (TCustomForm* form = GetParentForm(this)) form->UpdateWindow();
}

void TControl::BringToFront() {
  if (!parent_) return;
  auto& list = parent_->controls_;
  list.erase(std::find(list.begin(), list.end(), this));
  list.push_back(this);
  Invalidate();
}

void TControl::Click() {
  if (OnClick && CanFire()) OnClick(this);
}

void TControl::DblClick() {
  if (OnDblClick && CanFire()) OnDblClick(this);
}

void TControl::Loaded() {
  loading_ = false;
}

TCustomForm* TControl::ParentForm() const {
  return GetParentForm(this);
}

TControl* TControl::ControlAtPos(TPoint) {
  return this;
}

TCursor TControl::CursorOver(TPoint p) const {
  if (scrollBars_ && (scrollBars_->Pressed() || scrollBars_->Contains(p))) return crArrow;
  return CursorAt(p);
}

void TControl::DispatchMouseDown(TMouseButton button, TShiftState shift, TPoint p) {
  // The scroll bars first: a press on them, a double click's second one too, is theirs alone.
  if (scrollBars_ && scrollBars_->MouseDown(button, shift, p)) return;
  if (!doubleClicks_) shift.Exclude(ssDouble);
  if (button == mbLeft) pressed_ = !shift.Contains(ssDouble);
  MouseDown(button, shift, p.X, p.Y);
  if (button == mbLeft && shift.Contains(ssDouble)) DblClick();
}

void TControl::DispatchMouseMove(TShiftState shift, TPoint p) {
  if (scrollBars_ && scrollBars_->MouseMove(shift, p, pressed_)) return;
  MouseMove(shift, p.X, p.Y);
}

void TControl::DispatchMouseUp(TMouseButton button, TShiftState shift, TPoint p) {
  if (scrollBars_ && scrollBars_->MouseUp(button, shift, p)) return;
  bool click = button == mbLeft && pressed_ && ClientRect().Contains(p);
  if (button == mbLeft) pressed_ = false;
  MouseUp(button, shift, p.X, p.Y);
  if (click) Click();
}

void TControl::DispatchContextPopup(TPoint p, bool& handled) {
  if (scrollBars_ && scrollBars_->Contains(p)) return;
  DoContextPopup(p, handled);
}

bool TControl::DispatchMouseWheel(TShiftState shift, int delta, TPoint p) {
  return DoMouseWheel(shift, delta, p);
}

void TControl::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (OnMouseDown && CanFire()) OnMouseDown(this, Button, Shift, X, Y);
}

void TControl::MouseMove(TShiftState Shift, int X, int Y) {
  if (OnMouseMove && CanFire()) OnMouseMove(this, Shift, X, Y);
}

void TControl::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (OnMouseUp && CanFire()) OnMouseUp(this, Button, Shift, X, Y);
}

bool TControl::DoMouseWheel(TShiftState Shift, int WheelDelta, TPoint MousePos) {
  if (!parent_) return false;
  TRect ins = NonClientInsets();
  return parent_->DispatchMouseWheel(
      Shift, WheelDelta, TPoint{MousePos.X + left_ + ins.Left, MousePos.Y + top_ + ins.Top});
}

void TControl::DoContextPopup(TPoint MousePos, bool& Handled) {
  if (OnContextPopup && CanFire()) OnContextPopup(this, MousePos, Handled);
}

void TControl::Resize() {
  if (OnResize && CanFire()) OnResize(this);
}

void TControl::ClientAreaChanged() {
  Invalidate();
  Resize();
}

void TControl::Paint() {
  canvas_.Brush()->SetColor(color_);
  canvas_.Brush()->SetStyle(bsSolid);
  canvas_.FillRect(ClientRect());
}

void TControl::PaintNonClient(TCanvas&) {}

void TControl::PaintTo(TPaintDevice& device, TPoint origin, const TRect& clip) {
  TRect bounds = Bounds(origin.X, origin.Y, width_, height_);
  TRect area = IntersectRect(clip, bounds);
  if (area.IsEmpty()) return;
  TRect ins = NonClientInsets();
  if (!ins.IsEmpty() || ins.Left || ins.Top || ins.Right || ins.Bottom) {
    canvas_.BeginPaint(&device, this, origin, area.Offset(-origin.X, -origin.Y));
    PaintNonClient(canvas_);
    if (scrollBars_) scrollBars_->Paint(canvas_);
    canvas_.EndPaint();
  }
  TPoint client{origin.X + ins.Left, origin.Y + ins.Top};
  TRect clientClip = IntersectRect(area.Offset(-client.X, -client.Y), ClientRect());
  if (clientClip.IsEmpty()) return;
  canvas_.BeginPaint(&device, this, client, clientClip);
  canvas_.SetFont(font_);
  try {
    Paint();
  } catch (...) {
    canvas_.EndPaint();
    throw;
  }
  canvas_.EndPaint();
}

// ---- TWinControl ----

TWinControl::TWinControl(rtl::TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl() {
  while (!controls_.empty())
    delete controls_.back();
  if (handle_) DeallocateHWnd(handle_);
}

void TWinControl::InsertControl(TControl* c) {
  controls_.push_back(c);
  if (auto* w = dynamic_cast<TWinControl*>(c)) tabList_.push_back(w);
}

void TWinControl::RemoveControl(TControl* c) {
  controls_.erase(std::remove(controls_.begin(), controls_.end(), c), controls_.end());
  tabList_.erase(std::remove(tabList_.begin(), tabList_.end(), c), tabList_.end());
}

int TWinControl::TabOrder() const {
  if (!Parent()) return -1;
  const auto& list = Parent()->tabList_;
  return static_cast<int>(std::find(list.begin(), list.end(), this) - list.begin());
}

void TWinControl::SetTabOrder(int value) {
  if (!Parent()) return;
  auto& list = Parent()->tabList_;
  list.erase(std::find(list.begin(), list.end(), this));
  value = std::clamp(value, 0, static_cast<int>(list.size()));
  list.insert(list.begin() + value, this);
}

std::vector<TWinControl*> TWinControl::TabList() const {
  return tabList_;
}

bool TWinControl::CanFocus() const {
  if (!takesFocus_) return false;
  for (const TControl* c = this; c; c = c->Parent())
    if (!c->Visible() || !c->Enabled()) return false;
  return true;
}

bool TWinControl::Focused() const {
  TCustomForm* form = GetParentForm(this);
  return form && form->ActiveControl() == this;
}

void TWinControl::SetFocus() {
  for (TControl* c = this; c; c = c->Parent())
    if (auto* w = dynamic_cast<TWinControl*>(c)) w->ShowForFocus();
  TCustomForm* form = GetParentForm(this);
  if (!form || !CanFocus()) return;
  form->SetActiveControl(this);
}

HWND TWinControl::Handle() {
  if (!handle_) handle_ = AllocateHWnd([this](TMessage& m) { WndProc(m); });
  return handle_;
}

LRESULT TWinControl::Perform(UINT msg, WPARAM wParam, LPARAM lParam) {
  TMessage m{msg, wParam, lParam, 0};
  WndProc(m);
  return m.Result;
}

void TWinControl::EnableAlign() {
  if (alignDisabled_ > 0 && --alignDisabled_ == 0) Realign();
}

void TWinControl::Realign() {
  if (alignDisabled_ > 0 || aligning_) return;
  aligning_ = true;
  TRect rect = AlignRect();
  try {
    AlignControls(rect);
  } catch (...) {
    aligning_ = false;
    throw;
  }
  aligning_ = false;
}

void TWinControl::ClientAreaChanged() {
  Realign();
  TControl::ClientAreaChanged();
}

void TWinControl::AlignControls(TRect& rect) {
  // Each side takes its controls in order of their position (the one nearest the side first),
  // ties in placing order; alClient controls share what is left.
  auto take = [this](TAlign align) {
    std::vector<TControl*> list;
    for (TControl* c : controls_)
      if (c->Visible() && c->Align() == align) list.push_back(c);
    auto key = [align](const TControl* c) {
      switch (align) {
        case alTop:
          return c->Top();
        case alBottom:
          return -(c->Top() + c->Height());
        case alLeft:
          return c->Left();
        case alRight:
          return -(c->Left() + c->Width());
        default:
          return 0;
      }
    };
    std::stable_sort(list.begin(), list.end(),
                     [&](const TControl* a, const TControl* b) { return key(a) < key(b); });
    return list;
  };
  for (TControl* c : take(alTop)) {
    int h = std::min(c->Height(), std::max(0, rect.Height()));
    c->SetBounds(rect.Left, rect.Top, rect.Width(), h);
    rect.Top += h;
  }
  for (TControl* c : take(alBottom)) {
    int h = std::min(c->Height(), std::max(0, rect.Height()));
    c->SetBounds(rect.Left, rect.Bottom - h, rect.Width(), h);
    rect.Bottom -= h;
  }
  for (TControl* c : take(alLeft)) {
    int w = std::min(c->Width(), std::max(0, rect.Width()));
    c->SetBounds(rect.Left, rect.Top, w, rect.Height());
    rect.Left += w;
  }
  for (TControl* c : take(alRight)) {
    int w = std::min(c->Width(), std::max(0, rect.Width()));
    c->SetBounds(rect.Right - w, rect.Top, w, rect.Height());
    rect.Right -= w;
  }
  for (TControl* c : take(alClient))
    c->SetBounds(rect.Left, rect.Top, rect.Width(), rect.Height());
}

TControl* TWinControl::ControlAtPos(TPoint p) {
  for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
    TControl* c = *it;
    if (!c->Visible() || !c->BoundsRect().Contains(p)) continue;
    TRect ins = c->NonClientInsets();
    TPoint q{p.X - c->Left() - ins.Left, p.Y - c->Top() - ins.Top};
    if (!c->ClientRect().Contains(q)) return c;
    return c->ControlAtPos(q);
  }
  return this;
}

void TWinControl::PaintTo(TPaintDevice& device, TPoint origin, const TRect& clip) {
  TControl::PaintTo(device, origin, clip);
  TRect ins = NonClientInsets();
  TPoint client{origin.X + ins.Left, origin.Y + ins.Top};
  TRect clientArea = IntersectRect(clip, ClientRect().Offset(client.X, client.Y));
  if (clientArea.IsEmpty()) return;
  // A copy: a paint handler may not change the children, but a broken one must not crash us.
  std::vector<TControl*> children = controls_;
  for (TControl* c : children)
    if (c->Visible())
      c->PaintTo(device, TPoint{client.X + c->Left(), client.Y + c->Top()}, clientArea);
}

void TWinControl::SetBounds(int left, int top, int width, int height) {
  bool resized = std::max(0, width) != Width() || std::max(0, height) != Height();
  TControl::SetBounds(left, top, width, height);
  if (resized) Realign();
}

bool TWinControl::DispatchKeyDown(WORD& key, TShiftState shift) {
  if (OnKeyDown && CanFire()) OnKeyDown(this, key, shift);
  if (key == 0) return false;
  KeyDown(key, shift);
  return key != 0;
}

void TWinControl::DispatchKeyUp(WORD& key, TShiftState shift) {
  if (OnKeyUp && CanFire()) OnKeyUp(this, key, shift);
  if (key != 0) KeyUp(key, shift);
}

void TWinControl::DispatchKeyPress(char& key) {
  if (OnKeyPress && CanFire()) OnKeyPress(this, key);
  if (key != 0) KeyPress(key);
}

bool TWinControl::WantsKey(WORD key, TShiftState) const {
  return key == VK_LEFT || key == VK_RIGHT || key == VK_UP || key == VK_DOWN;
}

void TWinControl::KeyDown(WORD&, TShiftState) {}
void TWinControl::KeyUp(WORD&, TShiftState) {}
void TWinControl::KeyPress(char&) {}

void TWinControl::TextInput(const std::string& text) {
  for (char ch : text) {
    if (static_cast<unsigned char>(ch) >= 0x80) continue;
    char k = ch;
    DispatchKeyPress(k);
  }
}

void TWinControl::DoEnter() {
  if (OnEnter && CanFire()) OnEnter(this);
}

void TWinControl::DoExit() {
  if (OnExit && CanFire()) OnExit(this);
}

void TWinControl::ParentFontChanged() {
  TControl::ParentFontChanged();
}

void TWinControl::ParentColorChanged() {
  TControl::ParentColorChanged();
  for (TControl* c : controls_)
    c->ParentColorChanged();
}

void TWinControl::FontChanged() {
  TControl::FontChanged();
  for (TControl* c : controls_)
    c->ParentFontChanged();
}

// ---- helpers ----

TCustomForm* GetParentForm(const TControl* control) {
  const TControl* c = control;
  while (c && c->Parent())
    c = c->Parent();
  return dynamic_cast<TCustomForm*>(const_cast<TControl*>(c));
}

void Frame3D(TCanvas& canvas, TRect& rect, TColor topLeft, TColor bottomRight, int width) {
  TBrush saved;
  saved.Assign(*canvas.Brush());
  canvas.Brush()->SetStyle(bsSolid);
  for (int i = 0; i < width && !rect.IsEmpty(); ++i) {
    canvas.Brush()->SetColor(topLeft);
    canvas.FillRect(TRect{rect.Left, rect.Top, rect.Right - 1, rect.Top + 1});
    canvas.FillRect(TRect{rect.Left, rect.Top, rect.Left + 1, rect.Bottom - 1});
    canvas.Brush()->SetColor(bottomRight);
    canvas.FillRect(TRect{rect.Left, rect.Bottom - 1, rect.Right, rect.Bottom});
    canvas.FillRect(TRect{rect.Right - 1, rect.Top, rect.Right, rect.Bottom});
    rect = rect.Inflate(-1, -1);
  }
  canvas.SetBrush(saved);
}
