#include "platform/ui/core/scrollbar.h"

#include <algorithm>

#include "platform/ui/core/control.h"

namespace {

// The track is lighter than the buttons and the thumb that lie on it.
constexpr TColor kTrackColor = RGBColor(234, 232, 228);
// The arrow glyph: a triangle this wide at its base, its apex this far from the base.
constexpr int kGlyphBase = 7;
constexpr int kGlyphHeight = 4;

// A point's coordinate along a bar, and a rectangle's extent along it.
int Along(TScrollBarKind kind, TPoint p) {
  return kind == sbVertical ? p.Y : p.X;
}
int Start(TScrollBarKind kind, const TRect& r) {
  return kind == sbVertical ? r.Top : r.Left;
}
int End(TScrollBarKind kind, const TRect& r) {
  return kind == sbVertical ? r.Bottom : r.Right;
}
// The part of bar from..to along its axis.
TRect Span(TScrollBarKind kind, const TRect& bar, int from, int to) {
  if (to <= from) return TRect{};
  return kind == sbVertical ? TRect{bar.Left, from, bar.Right, to}
                            : TRect{from, bar.Top, to, bar.Bottom};
}
// A bar along its axis: where it starts and ends, its arrows' length (they share a bar too short
// for two whole ones) and the track's between them.
struct TBarAxis {
  int from, to, arrow, track;
  TBarAxis(TScrollBarKind kind, const TRect& bar)
      : from(Start(kind, bar)),
        to(End(kind, bar)),
        arrow(std::min(kScrollBarSize, (to - from) / 2)),
        track(to - from - 2 * arrow) {}
  int TrackStart() const { return from + arrow; }
};

bool Allows(TScrollStyle style, TScrollBarKind kind) {
  return style == ssBoth || style == (kind == sbVertical ? ssVertical : ssHorizontal);
}

void DrawButtonFace(TCanvas& canvas, TRect r, bool down) {
  canvas.Brush()->SetStyle(bsSolid);
  canvas.Brush()->SetColor(clBtnFace);
  canvas.FillRect(r);
  if (down) {
    Frame3D(canvas, r, clBtnShadow, clBtnShadow, 1);
  } else {
    Frame3D(canvas, r, cl3DLight, cl3DDkShadow, 1);
    Frame3D(canvas, r, clBtnHighlight, clBtnShadow, 1);
  }
}

// The arrow of an arrow button: pointing back (up, left) or forward (down, right).
void DrawGlyph(TCanvas& canvas, const TRect& r, TScrollBarKind kind, bool back, bool down,
               TColor color) {
  const int shift = down ? 1 : 0;
  const int cx = r.Left + r.Width() / 2 + shift, cy = r.Top + r.Height() / 2 + shift;
  const int half = kGlyphBase / 2, apex = back ? -kGlyphHeight / 2 : kGlyphHeight / 2;
  const int base = back ? apex + kGlyphHeight - 1 : apex - kGlyphHeight + 1;
  std::vector<TPoint> points;
  if (kind == sbVertical)
    points = {Point(cx, cy + apex), Point(cx + half, cy + base), Point(cx - half, cy + base)};
  else
    points = {Point(cx + apex, cy), Point(cx + base, cy + half), Point(cx + base, cy - half)};
  canvas.Brush()->SetColor(color);
  canvas.Pen()->SetColor(color);
  canvas.Polygon(points);
}

}  // namespace

TControlScrollBars::TControlScrollBars(TControl* control) : control_(control) {}

TControlScrollBars::~TControlScrollBars() = default;

// ---- layout ----

bool TControlScrollBars::Decide(
    const std::function<bool(TScrollBarKind kind, int width, int height)>& fits) {
  const bool canV = Allows(Style, sbVertical), canH = Allows(Style, sbHorizontal);
  bool v = canV && Allows(Always, sbVertical), h = canH && Allows(Always, sbHorizontal);
  if (canV || canH) {
    const TRect ins = control_->NonClientInsets();
    const int width = control_->Width() - ins.Left - ins.Right + (vertical_ ? kScrollBarSize : 0);
    const int height =
        control_->Height() - ins.Top - ins.Bottom + (horizontal_ ? kScrollBarSize : 0);
    // A bar taken for one size stays: each round can only add, so this ends within three.
    for (;;) {
      const int w = width - (v ? kScrollBarSize : 0), hh = height - (h ? kScrollBarSize : 0);
      const bool nv = v || (canV && !fits(sbVertical, w, hh));
      const bool nh = h || (canH && !fits(sbHorizontal, w, hh));
      if (nv == v && nh == h) break;
      v = nv;
      h = nh;
    }
  }
  const bool changed = v != vertical_ || h != horizontal_;
  vertical_ = v;
  horizontal_ = h;
  if (changed && press_ != spNone && !Showing(pressKind_)) {
    press_ = spNone;
    if (timer_) timer_->SetEnabled(false);
  }
  return changed;
}

TRect TControlScrollBars::Insets() const {
  return TRect{0, 0, vertical_ ? kScrollBarSize : 0, horizontal_ ? kScrollBarSize : 0};
}

TRect TControlScrollBars::InnerRect() const {
  return TRect{Frame.Left, Frame.Top, control_->Width() - Frame.Right,
               control_->Height() - Frame.Bottom};
}

TRect TControlScrollBars::BarBounds(TScrollBarKind kind) const {
  if (!Showing(kind)) return TRect{};
  const TRect in = InnerRect();
  if (kind == sbVertical)
    return TRect{in.Right - kScrollBarSize, in.Top, in.Right,
                 in.Bottom - (horizontal_ ? kScrollBarSize : 0)};
  return TRect{in.Left, in.Bottom - kScrollBarSize, in.Right - (vertical_ ? kScrollBarSize : 0),
               in.Bottom};
}

TScrollRange TControlScrollBars::RangeOf(TScrollBarKind kind) const {
  TScrollRange r = OnRange ? OnRange(kind) : TScrollRange{};
  r.Max = std::max(0, r.Max);
  r.Page = std::max(1, r.Page);
  r.Position = std::clamp(r.Position, 0, r.Max);
  r.Line = std::max(1, r.Line);
  return r;
}

bool TControlScrollBars::Active(TScrollBarKind kind) const {
  return Showing(kind) && RangeOf(kind).Max > 0;
}

void TControlScrollBars::Thumb(TScrollBarKind kind, int& start, int& length) const {
  start = length = 0;
  const TBarAxis axis(kind, BarBounds(kind));
  if (!Active(kind) || axis.track < kMinThumbSize) return;
  const TScrollRange r = RangeOf(kind);
  length =
      std::clamp(static_cast<int>(static_cast<long long>(axis.track) * r.Page / (r.Max + r.Page)),
                 kMinThumbSize, axis.track);
  if (press_ == spThumb && pressKind_ == kind) {
    start = dragStart_;
  } else {
    start = axis.TrackStart() +
            static_cast<int>(static_cast<long long>(axis.track - length) * r.Position / r.Max);
  }
}

TRect TControlScrollBars::PartBounds(TScrollBarKind kind, TScrollBarPart part) const {
  const TRect bar = BarBounds(kind);
  if (bar.IsEmpty()) return TRect{};
  const TBarAxis axis(kind, bar);
  int thumb = 0, length = 0;
  Thumb(kind, thumb, length);
  if (length == 0) thumb = axis.to - axis.arrow;  // no thumb: the whole track pages back
  switch (part) {
    case spLineBack:
      return Span(kind, bar, axis.from, axis.TrackStart());
    case spLineForward:
      return Span(kind, bar, axis.to - axis.arrow, axis.to);
    case spPageBack:
      return Span(kind, bar, axis.TrackStart(), thumb);
    case spPageForward:
      return Span(kind, bar, thumb + length, axis.to - axis.arrow);
    case spThumb:
      return Span(kind, bar, thumb, thumb + length);
    case spNone:
      break;
  }
  return TRect{};
}

TScrollBarPart TControlScrollBars::PartAt(TScrollBarKind kind, TPoint q) const {
  for (TScrollBarPart part : {spLineBack, spLineForward, spThumb, spPageBack, spPageForward})
    if (PartBounds(kind, part).Contains(q)) return part;
  return spNone;
}

TPoint TControlScrollBars::ToBounds(TPoint p) const {
  const TRect ins = control_->NonClientInsets();
  return TPoint{p.X + ins.Left, p.Y + ins.Top};
}

TPoint TControlScrollBars::ToClient(TPoint q) const {
  const TRect ins = control_->NonClientInsets();
  return TPoint{q.X - ins.Left, q.Y - ins.Top};
}

TRect TControlScrollBars::BarRect(TScrollBarKind kind) const {
  const TRect r = BarBounds(kind);
  const TPoint at = ToClient(r.TopLeft());
  return r.IsEmpty() ? TRect{} : Bounds(at.X, at.Y, r.Width(), r.Height());
}

TRect TControlScrollBars::PartRect(TScrollBarKind kind, TScrollBarPart part) const {
  const TRect r = PartBounds(kind, part);
  const TPoint at = ToClient(r.TopLeft());
  return r.IsEmpty() ? TRect{} : Bounds(at.X, at.Y, r.Width(), r.Height());
}

TRect TControlScrollBars::CornerRect() const {
  if (!vertical_ || !horizontal_) return TRect{};
  const TRect in = InnerRect();
  const TPoint at = ToClient(TPoint{in.Right - kScrollBarSize, in.Bottom - kScrollBarSize});
  return Bounds(at.X, at.Y, kScrollBarSize, kScrollBarSize);
}

bool TControlScrollBars::Contains(TPoint p) const {
  return BarRect(sbVertical).Contains(p) || BarRect(sbHorizontal).Contains(p) ||
         CornerRect().Contains(p);
}

// ---- input ----

bool TControlScrollBars::MouseDown(TMouseButton button, TShiftState, TPoint p) {
  const TPoint q = ToBounds(p);
  TScrollBarKind kind;
  if (BarBounds(sbVertical).Contains(q)) {
    kind = sbVertical;
  } else if (BarBounds(sbHorizontal).Contains(q)) {
    kind = sbHorizontal;
  } else {
    return CornerRect().Contains(p);
  }
  // Another button, or a bar with nothing to scroll: the press is taken and does nothing.
  if (button != mbLeft || !Active(kind)) return true;
  int start = 0, length = 0;
  Thumb(kind, start, length);  // before the press: a held thumb is drawn where it is dragged
  pressKind_ = kind;
  press_ = PartAt(kind, q);
  pointer_ = q;
  if (press_ == spThumb) {
    grab_ = Along(kind, q) - start;
    dragStart_ = start;
    dragPosition_ = RangeOf(kind).Position;
    control_->Invalidate();
    return true;
  }
  if (press_ == spNone) return true;
  if (!timer_) {
    timer_ = std::make_unique<TTimer>();
    timer_->SetEnabled(false);
    timer_->OnTimer = [this](rtl::TObject*) { Repeat(); };
  }
  timer_->SetInterval(kScrollRepeatDelayMs);
  timer_->SetEnabled(true);
  Step();
  return true;
}

bool TControlScrollBars::MouseMove(TShiftState, TPoint p, bool controlPressed) {
  if (press_ == spNone) return !controlPressed && Contains(p);
  pointer_ = ToBounds(p);
  if (press_ != spThumb) {
    control_->Invalidate();  // the pressed look follows the pointer onto and off the part
    return true;
  }
  const TRect bar = BarBounds(pressKind_);
  const int from = Start(pressKind_, bar), to = End(pressKind_, bar);
  const int arrow = std::min(kScrollBarSize, (to - from) / 2);
  const int track = to - from - 2 * arrow;
  int start = 0, length = 0;
  Thumb(pressKind_, start, length);
  const int room = track - length;
  dragStart_ = std::clamp(Along(pressKind_, pointer_) - grab_, from + arrow, from + arrow + room);
  const int max = RangeOf(pressKind_).Max;
  dragPosition_ =
      room > 0 ? static_cast<int>(
                     (static_cast<long long>(dragStart_ - from - arrow) * max + room / 2) / room)
               : 0;
  if (ThumbTracking) MoveTo(pressKind_, dragPosition_);
  control_->Invalidate();
  return true;
}

bool TControlScrollBars::MouseUp(TMouseButton button, TShiftState, TPoint) {
  if (press_ == spNone) return false;
  if (button != mbLeft) return true;
  const TScrollBarPart part = press_;
  press_ = spNone;
  if (timer_) timer_->SetEnabled(false);
  if (part == spThumb && !ThumbTracking) MoveTo(pressKind_, dragPosition_);
  control_->Invalidate();
  return true;
}

void TControlScrollBars::Step() {
  const TScrollRange r = RangeOf(pressKind_);
  switch (press_) {
    case spLineBack:
      MoveTo(pressKind_, r.Position - r.Line);
      break;
    case spLineForward:
      MoveTo(pressKind_, r.Position + r.Line);
      break;
    case spPageBack:
      MoveTo(pressKind_, r.Position - r.Page);
      break;
    case spPageForward:
      MoveTo(pressKind_, r.Position + r.Page);
      break;
    case spThumb:
    case spNone:
      break;
  }
}

void TControlScrollBars::Repeat() {
  if (press_ == spNone || press_ == spThumb) {
    if (timer_) timer_->SetEnabled(false);
    return;
  }
  if (timer_->Interval() != kScrollRepeatIntervalMs) timer_->SetInterval(kScrollRepeatIntervalMs);
  // Only while the pointer stays on the pressed part: a track press stops when the thumb has
  // come under the pointer.
  if (PartAt(pressKind_, pointer_) == press_) Step();
}

void TControlScrollBars::MoveTo(TScrollBarKind kind, int position) {
  const TScrollRange r = RangeOf(kind);
  position = std::clamp(position, 0, r.Max);
  if (position != r.Position && OnScroll) OnScroll(kind, position);
  control_->Invalidate();
}

// ---- painting ----

void TControlScrollBars::Paint(TCanvas& canvas) const {
  if (!vertical_ && !horizontal_) return;
  TBrush brush;
  brush.Assign(*canvas.Brush());
  TPen pen;
  pen.Assign(*canvas.Pen());
  if (vertical_) PaintBar(canvas, sbVertical);
  if (horizontal_) PaintBar(canvas, sbHorizontal);
  if (vertical_ && horizontal_) {
    const TRect in = InnerRect();
    canvas.Brush()->SetStyle(bsSolid);
    canvas.Brush()->SetColor(clBtnFace);
    canvas.FillRect(
        TRect{in.Right - kScrollBarSize, in.Bottom - kScrollBarSize, in.Right, in.Bottom});
  }
  canvas.SetBrush(brush);
  canvas.SetPen(pen);
}

void TControlScrollBars::PaintBar(TCanvas& canvas, TScrollBarKind kind) const {
  const bool active = Active(kind);
  const bool held = press_ != spNone && pressKind_ == kind;
  // A held part looks pressed while the pointer is on it.
  const auto down = [&](TScrollBarPart part) {
    return held && press_ == part && PartBounds(kind, part).Contains(pointer_);
  };
  canvas.Brush()->SetStyle(bsSolid);
  canvas.Brush()->SetColor(kTrackColor);
  const TRect bar = BarBounds(kind);
  canvas.FillRect(bar);
  for (TScrollBarPart page : {spPageBack, spPageForward})
    if (down(page)) {
      canvas.Brush()->SetColor(clBtnShadow);
      canvas.FillRect(PartBounds(kind, page));
    }
  for (TScrollBarPart arrow : {spLineBack, spLineForward}) {
    const TRect r = PartBounds(kind, arrow);
    if (r.IsEmpty()) continue;
    DrawButtonFace(canvas, r, down(arrow));
    DrawGlyph(canvas, r, kind, arrow == spLineBack, down(arrow), active ? clBtnText : clBtnShadow);
  }
  const TRect thumb = PartBounds(kind, spThumb);
  if (!thumb.IsEmpty()) DrawButtonFace(canvas, thumb, false);
}
