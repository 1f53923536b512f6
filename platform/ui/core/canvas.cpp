#include "platform/ui/core/canvas.h"

TCanvas::TCanvas() = default;
TCanvas::~TCanvas() = default;

void TCanvas::BeginPaint(TPaintDevice* device, const TControl* control, TPoint origin,
                         const TRect& clip) {
  device_ = device;
  control_ = control;
  origin_ = origin;
  paintClip_ = clip;
  clip_ = clip;
  SendTarget();
}

void TCanvas::EndPaint() {
  device_ = nullptr;
  control_ = nullptr;
  paintClip_ = clip_ = TRect{};
}

void TCanvas::SendTarget() {
  if (device_) device_->SetTarget(control_, origin_, clip_);
}

void TCanvas::SetClipRect(const TRect& rect) {
  if (!device_) return;
  clip_ = IntersectRect(paintClip_, rect);
  SendTarget();
}

void TCanvas::ResetClipRect() {
  if (!device_) return;
  clip_ = paintClip_;
  SendTarget();
}

void TCanvas::FillRect(const TRect& rect) {
  if (!device_ || brush_.Style() == bsClear || brush_.Color() == clNone || rect.IsEmpty()) return;
  device_->FillRect(rect, brush_.Color());
}

void TCanvas::FrameRect(const TRect& rect) {
  if (!device_ || brush_.Color() == clNone || rect.IsEmpty()) return;
  TColor c = brush_.Color();
  device_->FillRect(TRect{rect.Left, rect.Top, rect.Right, rect.Top + 1}, c);
  device_->FillRect(TRect{rect.Left, rect.Bottom - 1, rect.Right, rect.Bottom}, c);
  device_->FillRect(TRect{rect.Left, rect.Top, rect.Left + 1, rect.Bottom}, c);
  device_->FillRect(TRect{rect.Right - 1, rect.Top, rect.Right, rect.Bottom}, c);
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
  if (!device_) return;
  TColor fill = brush_.Style() == bsClear ? clNone : brush_.Color();
  TColor outline = pen_.Style() == psClear ? clNone : pen_.Color();
  // The outline lies inside the rectangle, as a polygon through its last pixels.
  device_->Polygon({Point(x1, y1), Point(x2 - 1, y1), Point(x2 - 1, y2 - 1), Point(x1, y2 - 1)},
                   fill, outline);
}

void TCanvas::LineTo(int x, int y) {
  if (device_ && pen_.Style() != psClear && pen_.Color() != clNone)
    device_->Line(PenPos, Point(x, y), pen_.Color(), pen_.Width(), pen_.Style());
  PenPos = Point(x, y);
}

void TCanvas::Polyline(const std::vector<TPoint>& points) {
  if (points.empty()) return;
  MoveTo(points[0].X, points[0].Y);
  for (size_t i = 1; i < points.size(); ++i)
    LineTo(points[i].X, points[i].Y);
}

void TCanvas::Polygon(const std::vector<TPoint>& points) {
  if (!device_ || points.size() < 2) return;
  TColor fill = brush_.Style() == bsClear ? clNone : brush_.Color();
  TColor outline = pen_.Style() == psClear ? clNone : pen_.Color();
  device_->Polygon(points, fill, outline);
}

void TCanvas::TextOut(int x, int y, std::string_view text) {
  if (!device_) return;
  if (brush_.Style() == bsSolid && brush_.Color() != clNone) {
    TSize size = TextExtent(text);
    device_->FillRect(Bounds(x, y, size.cx, size.cy), brush_.Color());
  }
  if (!text.empty()) device_->Text(x, y, text, font_.Data());
  PenPos = Point(x + TextWidth(text), y);
}

void TCanvas::TextRect(const TRect& rect, int x, int y, std::string_view text) {
  if (!device_) return;
  TRect saved = clip_;
  clip_ = IntersectRect(clip_, rect);
  SendTarget();
  if (brush_.Style() == bsSolid && brush_.Color() != clNone && !rect.IsEmpty())
    device_->FillRect(rect, brush_.Color());
  if (!text.empty()) device_->Text(x, y, text, font_.Data());
  clip_ = saved;
  SendTarget();
}

int TCanvas::TextWidth(std::string_view text) const {
  TWidgetSet* ws = CurrentWidgetSet();
  return ws ? ws->Measurer().TextWidth(font_.Data(), text) : 0;
}

int TCanvas::TextHeight(std::string_view) const {
  TWidgetSet* ws = CurrentWidgetSet();
  return ws ? ws->Measurer().TextHeight(font_.Data()) : 0;
}

TSize TCanvas::TextExtent(std::string_view text) const {
  return TSize{TextWidth(text), TextHeight(text)};
}

void TCanvas::DrawFocusRect(const TRect& rect) {
  if (device_ && !rect.IsEmpty()) device_->FocusRect(rect);
}

void TCanvas::Draw(int x, int y, const TBitmap& bitmap) {
  if (device_ && !bitmap.Empty()) device_->Bitmap(x, y, bitmap);
}
