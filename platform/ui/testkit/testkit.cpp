#include "platform/ui/testkit/testkit.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "rtl/files.h"

namespace uitest {

// ---- recording ----

void TRecordingDevice::SetTarget(const TControl* control, TPoint, const TRect& clip) {
  control_ = control;
  clip_ = clip;
}

namespace {

TPaintOp MakeOp(TPaintOp::Kind kind, const TRect& rect, TColor color = clNone,
                TColor outline = clNone) {
  TPaintOp op;
  op.kind = kind;
  op.rect = rect;
  op.color = color;
  op.outline = outline;
  return op;
}

}  // namespace

void TRecordingDevice::Add(TPaintOp op) {
  if (IntersectRect(op.rect, clip_).IsEmpty() && !op.rect.IsEmpty()) return;
  op.control = control_;
  Ops.push_back(std::move(op));
}

void TRecordingDevice::FillRect(const TRect& rect, TColor color) {
  Add(MakeOp(TPaintOp::Fill, rect, color));
}

void TRecordingDevice::Line(TPoint from, TPoint to, TColor color, int, TPenStyle) {
  TRect r{std::min(from.X, to.X), std::min(from.Y, to.Y), std::max(from.X, to.X) + 1,
          std::max(from.Y, to.Y) + 1};
  TPaintOp op = MakeOp(TPaintOp::Line, r, color);
  op.points = {from, to};
  Add(std::move(op));
}

void TRecordingDevice::Polygon(const std::vector<TPoint>& points, TColor fill, TColor outline) {
  TRect r{points[0].X, points[0].Y, points[0].X + 1, points[0].Y + 1};
  for (TPoint p : points)
    r = TRect{std::min(r.Left, p.X), std::min(r.Top, p.Y), std::max(r.Right, p.X + 1),
              std::max(r.Bottom, p.Y + 1)};
  TPaintOp op = MakeOp(TPaintOp::Polygon, r, fill, outline);
  op.points = points;
  Add(std::move(op));
}

void TRecordingDevice::Text(int x, int y, std::string_view text, const TFontData& font) {
  TPaintOp op =
      MakeOp(TPaintOp::Text, Bounds(x, y, kCharWidth * static_cast<int>(text.size()), kLineHeight),
             font.Color);
  op.text = std::string(text);
  op.font = font;
  Add(std::move(op));
}

void TRecordingDevice::FocusRect(const TRect& rect) {
  Add(MakeOp(TPaintOp::FocusRect, rect));
}

void TRecordingDevice::Bitmap(int x, int y, const TBitmap& bitmap) {
  Add(MakeOp(TPaintOp::Bitmap, Bounds(x, y, bitmap.Width(), bitmap.Height())));
}

std::vector<std::string> TRecordingDevice::Texts(const TControl* control) const {
  std::vector<std::string> out;
  for (const TPaintOp& op : Ops)
    if (op.kind == TPaintOp::Text && (!control || op.control == control)) out.push_back(op.text);
  return out;
}

std::vector<TPaintOp> TRecordingDevice::OpsOf(const TControl* control) const {
  std::vector<TPaintOp> out;
  for (const TPaintOp& op : Ops)
    if (op.control == control) out.push_back(op);
  return out;
}

// ---- windows and boxes ----

THeadlessWindow::THeadlessWindow(THeadlessWidgetSet* owner, TPeerTarget& target,
                                 const TWindowStyle& style)
    : Target(target), Style(style), owner_(owner) {
  owner_->Windows.push_back(this);
}

THeadlessWindow::~THeadlessWindow() {
  auto& w = owner_->Windows;
  w.erase(std::remove(w.begin(), w.end(), this), w.end());
}

void THeadlessWindow::SetVisible(bool visible) {
  if (visible && !Visible) Stacking = owner_->NextStacking();
  Visible = visible;
}

void THeadlessWindow::Activate() {
  ++Activations;
  Stacking = owner_->NextStacking();
}

namespace {

class ScriptedBox : public TBoxPeer {
 public:
  ScriptedBox(int answer, std::function<bool()> until)
      : answer_(answer), until_(std::move(until)), start_(GetTickCount()) {}
  int Result() override {
    if (until_ && !until_()) {
      if (TickElapsed(start_, GetTickCount()) <= kBoxWaitLimitMs) return 0;
      ADD_FAILURE() << "a message box waited in vain for its condition";
    }
    return answer_;
  }

 private:
  int answer_;
  std::function<bool()> until_;
  DWORD start_;
};

}  // namespace

std::unique_ptr<TWindowPeer> THeadlessWidgetSet::CreateWindowPeer(TPeerTarget& target,
                                                                  const TWindowStyle& style) {
  return std::make_unique<THeadlessWindow>(this, target, style);
}

std::unique_ptr<TBoxPeer> THeadlessWidgetSet::CreateMessageBox(const TMessageBoxRequest& request) {
  Shown.push_back(request);
  if (expected_.empty()) {
    ADD_FAILURE() << "unexpected message box: \"" << request.Text << "\"";
    return std::make_unique<ScriptedBox>(request.CloseResult, nullptr);
  }
  TBoxScript script = std::move(expected_.front());
  expected_.pop_front();
  EXPECT_EQ(request.Text, script.Text);
  if (!script.Buttons.empty()) {
    std::vector<std::string> captions;
    for (const TBoxButton& b : request.Buttons)
      captions.push_back(b.Caption);
    EXPECT_EQ(captions, script.Buttons) << "buttons of the box \"" << request.Text << "\"";
  }
  return std::make_unique<ScriptedBox>(script.Answer, std::move(script.Until));
}

void THeadlessWidgetSet::WaitForEvents(DWORD ms) {
  MsgWait(std::min(ms, kIdleSliceMs));
}

void THeadlessWidgetSet::PasteClipboardText(TPeerTarget& target) {
  if (!Clipboard.empty()) target.PeerText(Clipboard);
}

TMenuItem* THeadlessWidgetSet::TrackPopupMenu(TMenuItem& parent, TPoint) {
  MenusShown.push_back(&parent);
  if (menuChoices_.empty()) return nullptr;
  TMenuItem* choice = menuChoices_.front();
  menuChoices_.pop_front();
  return choice;
}

THeadlessWindow* THeadlessWidgetSet::WindowAt(TPoint p) const {
  THeadlessWindow* top = nullptr;
  auto above = [](const THeadlessWindow* a, const THeadlessWindow* b) {
    const bool popupA = a->Style.Kind == TWindowKind::Popup;
    const bool popupB = b->Style.Kind == TWindowKind::Popup;
    return popupA != popupB ? popupA : a->Stacking > b->Stacking;
  };
  for (THeadlessWindow* w : Windows)
    if (w->Visible && !w->Style.MouseTransparent && w->Bounds.Contains(p) &&
        (!top || above(w, top)))
      top = w;
  return top;
}

// ---- input ----

THeadlessWindow* WindowOf(TCustomForm* form) {
  return form ? dynamic_cast<THeadlessWindow*>(form->WindowPeer()) : nullptr;
}

namespace {

TPeerTarget& TargetOf(TControl* control) {
  TCustomForm* form = GetParentForm(control);
  if (!form) throw std::logic_error("the control lies on no form");
  return form->PeerTarget();
}

}  // namespace

std::unique_ptr<TRecordingDevice> Paint(TControl* control) {
  auto device = std::make_unique<TRecordingDevice>();
  TCustomForm* form = GetParentForm(control);
  TargetOf(control).PeerPaint(*device, TRect{0, 0, 1 << 20, 1 << 20});
  if (THeadlessWindow* w = WindowOf(form)) w->Invalid = false;
  return device;
}

void Press(TControl* control, int x, int y, TMouseButton button, TShiftState shift) {
  TargetOf(control).PeerMouseDown(button, shift, control->ClientToWindow(Point(x, y)));
}

void Move(TControl* control, int x, int y, TShiftState shift) {
  TargetOf(control).PeerMouseMove(shift, control->ClientToWindow(Point(x, y)));
}

void Release(TControl* control, int x, int y, TMouseButton button, TShiftState shift) {
  TargetOf(control).PeerMouseUp(button, shift, control->ClientToWindow(Point(x, y)));
}

void Click(TControl* control, int x, int y, TMouseButton button) {
  Press(control, x, y, button);
  Release(control, x, y, button);
}

void DblClick(TControl* control, int x, int y) {
  Click(control, x, y);
  Press(control, x, y, mbLeft, TShiftState{ssLeft, ssDouble});
  Release(control, x, y);
}

THeadlessWindow* ClickAt(THeadlessWidgetSet& widgetSet, TPoint p) {
  THeadlessWindow* w = widgetSet.WindowAt(p);
  if (!w) return nullptr;
  const TPoint q{p.X - w->Bounds.Left, p.Y - w->Bounds.Top};
  w->Target.PeerMouseDown(mbLeft, TShiftState{ssLeft}, q);
  // The press may have taken the window away.
  const auto& live = widgetSet.Windows;
  if (std::find(live.begin(), live.end(), w) == live.end()) return w;
  w->Target.PeerMouseUp(mbLeft, TShiftState{}, q);
  return w;
}

void Wheel(TControl* control, int x, int y, int delta, TShiftState shift) {
  TargetOf(control).PeerMouseWheel(shift, delta, control->ClientToWindow(Point(x, y)));
}

TPoint ScrollBarPoint(TControl* control, TScrollBarKind kind, TScrollBarPart part) {
  const TControlScrollBars* bars = control->ControlScrollBars();
  const TRect r = bars ? bars->PartRect(kind, part) : TRect{};
  if (r.IsEmpty()) throw std::logic_error("the control shows no such scroll bar part");
  return Point(r.Left + r.Width() / 2, r.Top + r.Height() / 2);
}

void ClickScrollBar(TControl* control, TScrollBarKind kind, TScrollBarPart part) {
  const TPoint p = ScrollBarPoint(control, kind, part);
  Click(control, p.X, p.Y);
}

void DragThumb(TControl* control, TScrollBarKind kind, int distance) {
  const TPoint p = ScrollBarPoint(control, kind, spThumb);
  const TPoint to = kind == sbVertical ? Point(p.X, p.Y + distance) : Point(p.X + distance, p.Y);
  Press(control, p.X, p.Y);
  Move(control, to.X, to.Y, TShiftState{ssLeft});
  Release(control, to.X, to.Y);
}

void KeyDown(TControl* control, WORD key, TShiftState shift) {
  TargetOf(control).PeerKeyDown(key, shift);
}

void KeyUp(TControl* control, WORD key, TShiftState shift) {
  TargetOf(control).PeerKeyUp(key, shift);
}

void Key(TControl* control, WORD key, TShiftState shift) {
  KeyDown(control, key, shift);
  KeyUp(control, key, shift);
}

void Type(TControl* control, const std::string& text) {
  TargetOf(control).PeerText(text);
}

void FireTimer(TTimer& timer) {
  if (timer.Enabled() && timer.Interval() != 0 && timer.OnTimer) timer.OnTimer(&timer);
}

int Pump(int limit) {
  int total = 0;
  for (int i = 0; i < limit; ++i) {
    int n = Application->DispatchPending();
    if (n == 0) break;
    total += n;
  }
  return total;
}

ScopedProgramDir::ScopedProgramDir(const std::string& dir) {
  rtl::SetProgramDir(dir);
}

ScopedProgramDir::~ScopedProgramDir() {
  rtl::SetProgramDir("");
}

}  // namespace uitest
