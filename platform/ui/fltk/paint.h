// The paint device on FLTK: draws the window classes' primitives with fl_* calls on whatever FLTK
// draws on at the time (a window inside its draw(), or an offscreen picture). One device serves
// one paint; its clip is FLTK's clip stack, which it leaves as it found it when it goes.
// GUI thread only.
#pragma once

#include "platform/ui/core/peer.h"

namespace fltkpeer {

class TFltkPaintDevice : public TPaintDevice {
 public:
  TFltkPaintDevice() = default;
  ~TFltkPaintDevice() override;
  TFltkPaintDevice(const TFltkPaintDevice&) = delete;
  TFltkPaintDevice& operator=(const TFltkPaintDevice&) = delete;

  void SetTarget(const TControl* control, TPoint origin, const TRect& clip) override;
  void FillRect(const TRect& rect, TColor color) override;
  void Line(TPoint from, TPoint to, TColor color, int width, TPenStyle style) override;
  void Polygon(const std::vector<TPoint>& points, TColor fill, TColor outline) override;
  // Data text: drawn at its baseline with fl_draw, which reads neither "@" symbols nor "&"
  // shortcuts, so "user@host" and "a&b" show as given.
  void Text(int x, int y, std::string_view text, const TFontData& font) override;
  void FocusRect(const TRect& rect) override;
  void Bitmap(int x, int y, const TBitmap& bitmap) override;

 private:
  TPoint origin_;
  bool clipped_ = false;  // one clip of ours is on FLTK's stack
};

// Makes c (a system colour or RGB; not clNone) FLTK's current colour.
void SetColor(TColor c);

}  // namespace fltkpeer
