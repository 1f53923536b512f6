#include "platform/ui/fltk/paint.h"

#include <FL/Fl.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/ui/fltk/fonts.h"
#include "platform/ui/fltk/text.h"

namespace fltkpeer {

void SetColor(TColor c) {
  TColor rgb = ColorToRGB(c);
  fl_color(static_cast<uchar>(GetRValue(rgb)), static_cast<uchar>(GetGValue(rgb)),
           static_cast<uchar>(GetBValue(rgb)));
}

TFltkPaintDevice::~TFltkPaintDevice() {
  if (clipped_) fl_pop_clip();
}

void TFltkPaintDevice::SetTarget(const TControl*, TPoint origin, const TRect& clip) {
  if (clipped_) fl_pop_clip();
  origin_ = origin;
  // fl_push_clip narrows the clip already in force (the window's damaged part).
  fl_push_clip(origin.X + clip.Left, origin.Y + clip.Top, std::max(clip.Width(), 0),
               std::max(clip.Height(), 0));
  clipped_ = true;
}

void TFltkPaintDevice::FillRect(const TRect& rect, TColor color) {
  if (rect.IsEmpty()) return;
  SetColor(color);
  fl_rectf(origin_.X + rect.Left, origin_.Y + rect.Top, rect.Width(), rect.Height());
}

void TFltkPaintDevice::Line(TPoint from, TPoint to, TColor color, int width, TPenStyle style) {
  if (from == to || style == psClear) return;
  // FLTK draws both end points; the line ends one step before `to` along its longer axis.
  int dx = to.X - from.X, dy = to.Y - from.Y;
  int steps = std::max(std::abs(dx), std::abs(dy));
  TPoint end{to.X - static_cast<int>(std::lround(static_cast<double>(dx) / steps)),
             to.Y - static_cast<int>(std::lround(static_cast<double>(dy) / steps))};
  SetColor(color);
  fl_line_style(style == psDot ? FL_DOT : FL_SOLID, width > 1 ? width : 0);
  fl_line(origin_.X + from.X, origin_.Y + from.Y, origin_.X + end.X, origin_.Y + end.Y);
  fl_line_style(FL_SOLID, 0);
}

void TFltkPaintDevice::Polygon(const std::vector<TPoint>& points, TColor fill, TColor outline) {
  if (points.empty()) return;
  auto vertices = [&] {
    for (TPoint p : points)
      fl_vertex(origin_.X + p.X, origin_.Y + p.Y);
  };
  if (fill != clNone) {
    SetColor(fill);
    fl_begin_complex_polygon();
    vertices();
    fl_end_complex_polygon();
  }
  if (outline != clNone) {
    SetColor(outline);
    fl_begin_loop();
    vertices();
    fl_end_loop();
  }
}

void TFltkPaintDevice::Text(int x, int y, std::string_view text, const TFontData& font) {
  if (text.empty()) return;
  SelectFont(font);
  SetColor(font.Color);
  int left = origin_.X + x;
  int baseline = origin_.Y + y + fl_height() - fl_descent();
  int w = DrawUtf8(font, Utf8Of(text, font.Charset), left, baseline);
  if (font.Style.Contains(fsUnderline)) fl_xyline(left, baseline + 1, left + w - 1);
  if (font.Style.Contains(fsStrikeOut))
    fl_xyline(left, baseline - (fl_height() - fl_descent()) / 3, left + w - 1);
}

void TFltkPaintDevice::FocusRect(const TRect& rect) {
  if (rect.IsEmpty()) return;
  SetColor(clBlack);
  fl_line_style(FL_DOT, 0);
  fl_rect(origin_.X + rect.Left, origin_.Y + rect.Top, rect.Width(), rect.Height());
  fl_line_style(FL_SOLID, 0);
}

void TFltkPaintDevice::Bitmap(int x, int y, const TBitmap& bitmap) {
  if (bitmap.Empty()) return;
  std::vector<uchar> rgba(static_cast<size_t>(bitmap.Width()) * bitmap.Height() * 4);
  size_t i = 0;
  for (uint32_t argb : bitmap.Pixels()) {
    rgba[i++] = static_cast<uchar>(argb >> 16);
    rgba[i++] = static_cast<uchar>(argb >> 8);
    rgba[i++] = static_cast<uchar>(argb);
    rgba[i++] = static_cast<uchar>(argb >> 24);
  }
  Fl_RGB_Image image(rgba.data(), bitmap.Width(), bitmap.Height(), 4);
  image.draw(origin_.X + x, origin_.Y + y);
}

}  // namespace fltkpeer
