// Colours. A TColor is either an RGB value (0x00BBGGRR), a system colour (clBtnFace, clHighlight,
// ...; the high byte 0x80 and an index) that stands for an entry of one fixed table, or one of
// the two markers clNone ("no colour": take another) and clDefault. The table is the same on
// every display, so a form looks the same wherever it runs and tests can name the colours they
// expect. Pure values and functions, safe from any thread.
#pragma once

#include <cstdint>

using TColor = int32_t;

constexpr TColor RGBColor(int r, int g, int b) {
  return static_cast<TColor>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}

// Markers.
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;

// Fixed colours.
constexpr TColor clBlack = RGBColor(0, 0, 0);
constexpr TColor clMaroon = RGBColor(128, 0, 0);
constexpr TColor clGreen = RGBColor(0, 128, 0);
constexpr TColor clOlive = RGBColor(128, 128, 0);
constexpr TColor clNavy = RGBColor(0, 0, 128);
constexpr TColor clPurple = RGBColor(128, 0, 128);
constexpr TColor clTeal = RGBColor(0, 128, 128);
constexpr TColor clGray = RGBColor(128, 128, 128);
constexpr TColor clSilver = RGBColor(192, 192, 192);
constexpr TColor clRed = RGBColor(255, 0, 0);
constexpr TColor clLime = RGBColor(0, 255, 0);
constexpr TColor clYellow = RGBColor(255, 255, 0);
constexpr TColor clBlue = RGBColor(0, 0, 255);
constexpr TColor clFuchsia = RGBColor(255, 0, 255);
constexpr TColor clAqua = RGBColor(0, 255, 255);
constexpr TColor clWhite = RGBColor(255, 255, 255);

// System colours: 0x80000000 | index into the table.
constexpr TColor SystemColor(int index) {
  return static_cast<TColor>(0x80000000u | static_cast<uint32_t>(index));
}
constexpr TColor clScrollBar = SystemColor(0);
constexpr TColor clBackground = SystemColor(1);
constexpr TColor clActiveCaption = SystemColor(2);
constexpr TColor clInactiveCaption = SystemColor(3);
constexpr TColor clMenu = SystemColor(4);
constexpr TColor clWindow = SystemColor(5);
constexpr TColor clWindowFrame = SystemColor(6);
constexpr TColor clMenuText = SystemColor(7);
constexpr TColor clWindowText = SystemColor(8);
constexpr TColor clCaptionText = SystemColor(9);
constexpr TColor clActiveBorder = SystemColor(10);
constexpr TColor clInactiveBorder = SystemColor(11);
constexpr TColor clAppWorkSpace = SystemColor(12);
constexpr TColor clHighlight = SystemColor(13);
constexpr TColor clHighlightText = SystemColor(14);
constexpr TColor clBtnFace = SystemColor(15);
constexpr TColor clBtnShadow = SystemColor(16);
constexpr TColor clGrayText = SystemColor(17);
constexpr TColor clBtnText = SystemColor(18);
constexpr TColor clInactiveCaptionText = SystemColor(19);
constexpr TColor clBtnHighlight = SystemColor(20);
constexpr TColor cl3DDkShadow = SystemColor(21);
constexpr TColor cl3DLight = SystemColor(22);
constexpr TColor clInfoText = SystemColor(23);
constexpr TColor clInfoBk = SystemColor(24);

constexpr bool IsSystemColor(TColor c) {
  return (static_cast<uint32_t>(c) & 0xFF000000u) == 0x80000000u;
}

// The RGB value (0x00BBGGRR) of c: system colours from the fixed table (an index beyond it gives
// black); clNone and clDefault give black too, so callers test for them first.
TColor ColorToRGB(TColor c);

constexpr int GetRValue(TColor rgb) {
  return rgb & 0xFF;
}
constexpr int GetGValue(TColor rgb) {
  return (rgb >> 8) & 0xFF;
}
constexpr int GetBValue(TColor rgb) {
  return (rgb >> 16) & 0xFF;
}
