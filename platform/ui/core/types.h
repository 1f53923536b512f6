// The plain value types every window and control class shares: points, rectangles, sizes, the
// shift state of an input event, mouse buttons, key codes, alignments and modal results. Values
// without behaviour beyond arithmetic; safe from any thread.
#pragma once

#include <algorithm>
#include <cstdint>

#include "platform/win/base.h"
#include "rtl/set.h"

struct TPoint {
  int X = 0;
  int Y = 0;
  bool operator==(const TPoint&) const = default;
};

struct TSize {
  int cx = 0;
  int cy = 0;
  bool operator==(const TSize&) const = default;
};

// A rectangle; Right and Bottom lie just outside it (a 10 x 5 rectangle at the origin is
// {0, 0, 10, 5}).
struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;

  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  bool Contains(TPoint p) const { return p.X >= Left && p.X < Right && p.Y >= Top && p.Y < Bottom; }
  TPoint TopLeft() const { return TPoint{Left, Top}; }
  TRect Offset(int dx, int dy) const { return TRect{Left + dx, Top + dy, Right + dx, Bottom + dy}; }
  // Shrunk by dx on the left and right and dy on the top and bottom (grown when negative).
  TRect Inflate(int dx, int dy) const {
    return TRect{Left - dx, Top - dy, Right + dx, Bottom + dy};
  }
  bool operator==(const TRect&) const = default;
};

inline TPoint Point(int x, int y) {
  return TPoint{x, y};
}
inline TRect Rect(int left, int top, int right, int bottom) {
  return TRect{left, top, right, bottom};
}
inline TRect Bounds(int left, int top, int width, int height) {
  return TRect{left, top, left + width, top + height};
}
// The common part of a and b; an empty rectangle at a's top left when they do not meet.
inline TRect IntersectRect(const TRect& a, const TRect& b) {
  TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
          std::min(a.Bottom, b.Bottom)};
  if (r.IsEmpty()) return TRect{a.Left, a.Top, a.Left, a.Top};
  return r;
}

enum TShiftStateItem { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble };
using TShiftState = rtl::TSet<TShiftStateItem>;

enum TMouseButton { mbLeft, mbRight, mbMiddle };

// Virtual key codes, as the input events carry them. Letters and digits are their upper-case
// ASCII codes ('A', '0').
constexpr WORD VK_BACK = 0x08;
constexpr WORD VK_TAB = 0x09;
constexpr WORD VK_RETURN = 0x0D;
constexpr WORD VK_SHIFT = 0x10;
constexpr WORD VK_CONTROL = 0x11;
constexpr WORD VK_MENU = 0x12;
constexpr WORD VK_ESCAPE = 0x1B;
constexpr WORD VK_SPACE = 0x20;
constexpr WORD VK_PRIOR = 0x21;
constexpr WORD VK_NEXT = 0x22;
constexpr WORD VK_END = 0x23;
constexpr WORD VK_HOME = 0x24;
constexpr WORD VK_LEFT = 0x25;
constexpr WORD VK_UP = 0x26;
constexpr WORD VK_RIGHT = 0x27;
constexpr WORD VK_DOWN = 0x28;
constexpr WORD VK_INSERT = 0x2D;
constexpr WORD VK_DELETE = 0x2E;
constexpr WORD VK_APPS = 0x5D;
constexpr WORD VK_F1 = 0x70;
constexpr WORD VK_F2 = 0x71;
constexpr WORD VK_F4 = 0x73;
constexpr WORD VK_F10 = 0x79;

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };
enum TBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };

// The result of a modal form or a message box.
using TModalResult = int;
constexpr TModalResult mrNone = 0;
constexpr TModalResult mrOk = 1;
constexpr TModalResult mrCancel = 2;
constexpr TModalResult mrAbort = 3;
constexpr TModalResult mrRetry = 4;
constexpr TModalResult mrIgnore = 5;
constexpr TModalResult mrYes = 6;
constexpr TModalResult mrNo = 7;
