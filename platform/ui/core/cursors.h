// Mouse cursor shapes. A control's Cursor shows while the mouse is over it; Screen->Cursor, when
// not crDefault, shows over every window of the program instead.
#pragma once

using TCursor = int;

constexpr TCursor crDefault = 0;
constexpr TCursor crNone = -1;
constexpr TCursor crArrow = -2;
constexpr TCursor crCross = -3;
constexpr TCursor crIBeam = -4;
constexpr TCursor crSizeNS = -7;
// The grid's column-sizing cursor (left-right arrows), shown over a column edge that can be
// dragged.
constexpr TCursor crSizeWE = -9;
constexpr TCursor crHourGlass = -11;
// The splitter's cursor (a bar with arrows to both sides).
constexpr TCursor crHSplit = -14;
constexpr TCursor crVSplit = -15;
constexpr TCursor crNo = -18;
constexpr TCursor crHandPoint = -21;
