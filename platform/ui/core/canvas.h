// The drawing surface of a control: a font, a brush and a pen, and drawing operations in the
// control's client coordinates. A canvas draws only while its control is being painted (the
// window classes bind it to the peer's paint device for that time); outside a paint the drawing
// calls do nothing, while measuring always works (through the application's widget set). One
// thread, like its control.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/core/graphics.h"
#include "platform/ui/core/peer.h"
#include "platform/ui/core/types.h"

class TCanvas : public rtl::TObject {
 public:
  TCanvas();
  ~TCanvas() override;

  TFont* Font() { return &font_; }
  TBrush* Brush() { return &brush_; }
  TPen* Pen() { return &pen_; }
  void SetFont(const TFont& value) { font_.Assign(value); }
  void SetBrush(const TBrush& value) { brush_.Assign(value); }
  void SetPen(const TPen& value) { pen_.Assign(value); }

  // Fills rect with the brush colour (nothing with a clear brush).
  void FillRect(const TRect& rect);
  // A one-pixel frame just inside rect, in the brush colour.
  void FrameRect(const TRect& rect);
  // Outlined with the pen and filled with the brush.
  void Rectangle(int x1, int y1, int x2, int y2);
  void Rectangle(const TRect& rect) { Rectangle(rect.Left, rect.Top, rect.Right, rect.Bottom); }
  void MoveTo(int x, int y) { PenPos = Point(x, y); }
  // A pen line from PenPos up to, not including, (x, y), which becomes PenPos.
  void LineTo(int x, int y);
  void Polyline(const std::vector<TPoint>& points);
  // A closed polygon, outlined with the pen and filled with the brush.
  void Polygon(const std::vector<TPoint>& points);
  // Text in the font with its top left at x, y; a solid brush fills the text's box first.
  void TextOut(int x, int y, std::string_view text);
  // Like TextOut, but clipped to rect, which a solid brush fills first.
  void TextRect(const TRect& rect, int x, int y, std::string_view text);
  int TextWidth(std::string_view text) const;
  int TextHeight(std::string_view text) const;
  TSize TextExtent(std::string_view text) const;
  void DrawFocusRect(const TRect& rect);
  void Draw(int x, int y, const TBitmap& bitmap);

  // The area drawing reaches, in client coordinates: the paint's clip, narrowed by SetClipRect.
  // Empty outside a paint.
  TRect ClipRect() const { return clip_; }
  // Narrows drawing to rect (within the paint's clip) until the paint ends or the next call.
  void SetClipRect(const TRect& rect);
  // Drawing reaches the whole paint clip again.
  void ResetClipRect();

  TPoint PenPos;

  // Painting (the window classes): binds the canvas to device for one control.
  void BeginPaint(TPaintDevice* device, const TControl* control, TPoint origin, const TRect& clip);
  void EndPaint();
  bool Drawing() const { return device_ != nullptr; }

 private:
  void SendTarget();

  TFont font_;
  TBrush brush_;
  TPen pen_;
  TPaintDevice* device_ = nullptr;
  const TControl* control_ = nullptr;
  TPoint origin_;
  TRect paintClip_;
  TRect clip_;
};
