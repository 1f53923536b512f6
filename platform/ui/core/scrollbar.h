// Scroll bars in a control's non-client area: a vertical bar along the right and a horizontal bar
// along the bottom, inside the control's frame, with a plain square where the two meet. A bar has
// an arrow button at each end, a track between them and a thumb whose length is the visible share
// and whose place is the position. The bars keep no position of their own: they ask their control
// for the range, the page and the position whenever they are laid out or painted, and tell it
// where the user moved the view. An arrow moves one line, a press on the track one page; holding
// either repeats on a timer. The thumb drags the view as it moves (ThumbTracking), or once it is
// let go. A bar whose content fits is drawn inactive and ignores presses.
//
// Ownership: a control that scrolls keeps one TControlScrollBars as a member and registers it with
// TControl::SetControlScrollBars; the bars borrow the control, which outlives them, and own their
// repeat timer (made on the first press). Threads: the GUI thread, like the control.
#pragma once

#include <functional>
#include <memory>

#include "platform/msg/timer.h"
#include "platform/ui/core/canvas.h"
#include "platform/ui/core/types.h"

class TControl;

// The width of a vertical bar and the height of a horizontal one, and of their arrow buttons.
constexpr int kScrollBarSize = 16;
// The shortest a thumb gets, however small the visible share.
constexpr int kMinThumbSize = 8;
// A held arrow or track press repeats after the first delay, then every interval.
constexpr UINT kScrollRepeatDelayMs = 400;
constexpr UINT kScrollRepeatIntervalMs = 50;

enum TScrollBarKind { sbHorizontal, sbVertical };
enum TScrollBarPart { spNone, spLineBack, spLineForward, spPageBack, spPageForward, spThumb };

// Where the view stands along one bar, in the control's own steps (rows, columns, lines, pixels).
struct TScrollRange {
  int Max = 0;       // the last position; 0 when the view shows everything
  int Page = 1;      // the positions the view shows at once
  int Position = 0;  // 0..Max
  int Line = 1;      // the positions an arrow moves
};

class TControlScrollBars {
 public:
  explicit TControlScrollBars(TControl* control);
  ~TControlScrollBars();
  TControlScrollBars(const TControlScrollBars&) = delete;
  TControlScrollBars& operator=(const TControlScrollBars&) = delete;

  // The bars that may show, and those among them that show even while the content fits.
  TScrollStyle Style = ssNone;
  TScrollStyle Always = ssNone;
  // The control's frame, as insets of its bounds: the bars lie just inside it.
  TRect Frame;
  // The thumb moves the view while it is dragged; otherwise when it is let go.
  bool ThumbTracking = true;
  // The view's range along a bar, read at every layout and paint.
  std::function<TScrollRange(TScrollBarKind kind)> OnRange;
  // The user moved the view to position (0..Max) along kind.
  std::function<void(TScrollBarKind kind, int position)> OnScroll;

  // Decides both bars together for the control's present size: fits(kind, width, height) tells
  // whether the content fits along kind in a client area of that size. A bar that one size needs
  // stays while the other is decided. True when a bar came or went (the client area changed).
  bool Decide(const std::function<bool(TScrollBarKind kind, int width, int height)>& fits);
  bool Showing(TScrollBarKind kind) const { return kind == sbVertical ? vertical_ : horizontal_; }
  // What the bars take of the bounds: the vertical bar's width on the right, the horizontal
  // bar's height at the bottom.
  TRect Insets() const;
  // The whole bar, one of its parts, and the square where both bars meet, in the control's client
  // coordinates (they lie outside the client area); empty when not shown.
  TRect BarRect(TScrollBarKind kind) const;
  TRect PartRect(TScrollBarKind kind, TScrollBarPart part) const;
  TRect CornerRect() const;
  // Whether client point p lies on a bar or the corner.
  bool Contains(TPoint p) const;
  // Whether the bar can scroll (its content does not fit).
  bool Active(TScrollBarKind kind) const;

  // Mouse input in the control's client coordinates, before the control's own handlers; true
  // when the bars took it. A press on a bar (a double click's second press too) is theirs;
  // moves and the release are theirs while they hold a press, and moves over a bar while
  // controlPressed is false (the control holds no press of its own).
  bool MouseDown(TMouseButton button, TShiftState shift, TPoint p);
  bool MouseMove(TShiftState shift, TPoint p, bool controlPressed);
  bool MouseUp(TMouseButton button, TShiftState shift, TPoint p);
  // Whether a press on a bar is held.
  bool Pressed() const { return press_ != spNone; }
  // The timer that repeats a held arrow or track press; null before the first press.
  TTimer* RepeatTimer() const { return timer_.get(); }

  // Draws the shown bars and the corner on canvas, whose coordinates are the control's bounds.
  void Paint(TCanvas& canvas) const;

 private:
  // Geometry in the control's bounds coordinates.
  TRect InnerRect() const;
  TRect BarBounds(TScrollBarKind kind) const;
  TRect PartBounds(TScrollBarKind kind, TScrollBarPart part) const;
  TScrollBarPart PartAt(TScrollBarKind kind, TPoint q) const;
  // The thumb's start and length along the track, or a length of 0 when it has none.
  void Thumb(TScrollBarKind kind, int& start, int& length) const;
  TScrollRange RangeOf(TScrollBarKind kind) const;
  TPoint ToBounds(TPoint clientPoint) const;
  TPoint ToClient(TPoint boundsPoint) const;
  // One step of the pressed part: a line or a page.
  void Step();
  void Repeat();
  void MoveTo(TScrollBarKind kind, int position);
  void PaintBar(TCanvas& canvas, TScrollBarKind kind) const;

  TControl* const control_;
  bool vertical_ = false;
  bool horizontal_ = false;
  // A held press: its bar and part, and where the pointer is now (bounds coordinates).
  TScrollBarKind pressKind_ = sbVertical;
  TScrollBarPart press_ = spNone;
  TPoint pointer_;
  // A thumb drag: how far into the thumb it was taken, where the thumb is drawn now, and the
  // position it stands for.
  int grab_ = 0;
  int dragStart_ = 0;
  int dragPosition_ = 0;
  std::unique_ptr<TTimer> timer_;
};
