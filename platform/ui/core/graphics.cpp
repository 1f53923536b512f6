#include "platform/ui/core/graphics.h"

#include <algorithm>
#include <cstdlib>

namespace {

int PointsToPixels(int points) {
  return -(points * kPixelsPerInch + 36) / 72;
}

}  // namespace

TFont::TFont() {
  data_.Name = "MS Sans Serif";
  data_.Color = clWindowText;
  SetSize(8);
}

void TFont::SetName(const std::string& value) {
  if (value == data_.Name) return;
  data_.Name = value;
  Changed();
}

void TFont::SetHeight(int value) {
  if (value == height_) return;
  height_ = value;
  data_.PixelHeight = std::max(1, std::abs(value));
  Changed();
}

int TFont::Size() const {
  return (std::abs(height_) * 72 + kPixelsPerInch / 2) / kPixelsPerInch;
}

void TFont::SetSize(int points) {
  SetHeight(PointsToPixels(points));
}

void TFont::SetStyle(TFontStyles value) {
  if (value == data_.Style) return;
  data_.Style = value;
  Changed();
}

void TFont::SetColor(TColor value) {
  if (value == data_.Color) return;
  data_.Color = value;
  Changed();
}

void TFont::SetCharset(TFontCharset value) {
  if (value == data_.Charset) return;
  data_.Charset = value;
  Changed();
}

void TFont::Assign(const TFont& source) {
  if (&source == this) return;
  if (source.data_ == data_ && source.height_ == height_) return;
  data_ = source.data_;
  height_ = source.height_;
  Changed();
}

void SetUiFont(TFont& font) {
  font.SetName(kUiFontName);
  font.SetHeight(-kUiFontPixels);
  font.SetCharset(SHIFTJIS_CHARSET);
}

void TBrush::SetColor(TColor value) {
  if (value == color_) return;
  color_ = value;
  Changed();
}

void TBrush::SetStyle(TBrushStyle value) {
  if (value == style_) return;
  style_ = value;
  Changed();
}

void TBrush::Assign(const TBrush& source) {
  color_ = source.color_;
  style_ = source.style_;
  Changed();
}

void TPen::SetColor(TColor value) {
  if (value == color_) return;
  color_ = value;
  Changed();
}

void TPen::SetWidth(int value) {
  if (value == width_) return;
  width_ = value;
  Changed();
}

void TPen::SetStyle(TPenStyle value) {
  if (value == style_) return;
  style_ = value;
  Changed();
}

void TPen::Assign(const TPen& source) {
  color_ = source.color_;
  width_ = source.width_;
  style_ = source.style_;
  Changed();
}

TBitmap::TBitmap(int width, int height, uint32_t fill) {
  SetSize(width, height, fill);
}

void TBitmap::SetSize(int width, int height, uint32_t fill) {
  width_ = std::max(0, width);
  height_ = std::max(0, height);
  pixels_.assign(static_cast<size_t>(width_) * height_, fill);
}

void TBitmap::MakeTransparent(uint32_t rgb) {
  for (auto& p : pixels_)
    if ((p & 0xFFFFFFu) == (rgb & 0xFFFFFFu)) p &= 0x00FFFFFFu;
}

TBitmap TBitmap::Copy(int x, int y, int width, int height) const {
  int x0 = std::clamp(x, 0, width_), y0 = std::clamp(y, 0, height_);
  int x1 = std::clamp(x + width, x0, width_), y1 = std::clamp(y + height, y0, height_);
  TBitmap out(x1 - x0, y1 - y0, 0);
  for (int yy = y0; yy < y1; ++yy)
    for (int xx = x0; xx < x1; ++xx)
      out.SetPixel(xx - x0, yy - y0, Pixel(xx, yy));
  return out;
}

TBitmap TBitmap::Disabled() const {
  TBitmap out = *this;
  for (auto& p : out.pixels_) {
    uint32_t r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
    uint32_t grey = (r * 30 + g * 59 + b * 11) / 100;
    grey = 128 + grey / 2;
    p = (p & 0xFF000000u) | (grey << 16) | (grey << 8) | grey;
  }
  return out;
}
