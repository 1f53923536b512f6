// The drawing tools a canvas holds (font, brush, pen) and the pixel picture (TBitmap). Each tool
// tells its owner about every change through OnChange, so a control can repaint or stop taking
// its parent's font. Values of one thread; nothing here locks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/core/colors.h"
#include "rtl/classes.h"
#include "rtl/set.h"

// Screen resolution the point sizes are converted with.
constexpr int kPixelsPerInch = 96;

enum TFontStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using TFontStyles = rtl::TSet<TFontStyle>;

using TFontCharset = uint8_t;
constexpr TFontCharset ANSI_CHARSET = 0;
constexpr TFontCharset DEFAULT_CHARSET = 1;
constexpr TFontCharset SHIFTJIS_CHARSET = 128;

// A font as the peers measure and draw it: the character height in pixels (always positive),
// the face, the styles and the colour.
struct TFontData {
  std::string Name;
  int PixelHeight = 11;
  TFontStyles Style;
  TColor Color = 0;
  TFontCharset Charset = DEFAULT_CHARSET;
  bool operator==(const TFontData&) const = default;
};

// Base of the drawing tools.
class TGraphicsObject : public rtl::TObject {
 public:
  std::function<void(rtl::TObject* Sender)> OnChange;

 protected:
  void Changed() {
    if (OnChange) OnChange(this);
  }
};

// A font. Height is in pixels: negative gives the character height (how the forms give their
// fonts: -12 is "12 pixels high"), positive the cell height, which is taken as the same here.
// Size is in points at kPixelsPerInch; setting one sets the other.
class TFont : public TGraphicsObject {
 public:
  // "MS Sans Serif", 8 pt, clWindowText.
  TFont();

  const std::string& Name() const { return data_.Name; }
  void SetName(const std::string& value);
  int Height() const { return height_; }
  void SetHeight(int value);
  int Size() const;
  void SetSize(int points);
  TFontStyles Style() const { return data_.Style; }
  void SetStyle(TFontStyles value);
  TColor Color() const { return data_.Color; }
  void SetColor(TColor value);
  TFontCharset Charset() const { return data_.Charset; }
  void SetCharset(TFontCharset value);

  // Copies every attribute of source; one OnChange.
  void Assign(const TFont& source);
  // What a peer draws with.
  const TFontData& Data() const { return data_; }

 private:
  TFontData data_;
  int height_ = -11;
};

// The desktop's UI font, as on a Japanese desktop: the font of menu bars and hints,
// "ＭＳ Ｐゴシック" (kUiFontName, CP932) kUiFontPixels high, Shift-JIS.
extern const char* const kUiFontName;
constexpr int kUiFontPixels = 12;
// Makes font the desktop's UI font; its colour and style stay.
void SetUiFont(TFont& font);

enum TBrushStyle { bsSolid, bsClear };

class TBrush : public TGraphicsObject {
 public:
  TColor Color() const { return color_; }
  void SetColor(TColor value);
  TBrushStyle Style() const { return style_; }
  void SetStyle(TBrushStyle value);
  void Assign(const TBrush& source);

 private:
  TColor color_ = clWhite;
  TBrushStyle style_ = bsSolid;
};

enum TPenStyle { psSolid, psDot, psClear };

class TPen : public TGraphicsObject {
 public:
  TColor Color() const { return color_; }
  void SetColor(TColor value);
  int Width() const { return width_; }
  void SetWidth(int value);
  TPenStyle Style() const { return style_; }
  void SetStyle(TPenStyle value);
  void Assign(const TPen& source);

 private:
  TColor color_ = clBlack;
  int width_ = 1;
  TPenStyle style_ = psSolid;
};

// A picture in memory: Width x Height pixels, each 0xAARRGGBB with alpha 0 fully transparent and
// 255 opaque. A value: copying copies the pixels.
class TBitmap {
 public:
  TBitmap() = default;
  TBitmap(int width, int height, uint32_t fill = 0xFF000000u);

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Empty() const { return width_ == 0 || height_ == 0; }
  // Makes the picture width x height, every pixel fill. Negative sizes count as 0.
  void SetSize(int width, int height, uint32_t fill = 0xFF000000u);
  // REQUIRES: 0 <= x < Width(), 0 <= y < Height().
  uint32_t Pixel(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x]; }
  void SetPixel(int x, int y, uint32_t argb) {
    pixels_[static_cast<size_t>(y) * width_ + x] = argb;
  }
  const std::vector<uint32_t>& Pixels() const { return pixels_; }

  // Makes every pixel of colour rgb (0x00RRGGBB, alpha ignored) transparent: the colour key of
  // pictures that have no alpha of their own.
  void MakeTransparent(uint32_t rgb);
  // The part x, y, width, height (cut to the picture).
  TBitmap Copy(int x, int y, int width, int height) const;
  // A grey, lighter version for disabled items.
  TBitmap Disabled() const;

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<uint32_t> pixels_;
};
