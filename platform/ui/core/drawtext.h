// Formatted text drawing on a canvas: alignment, vertical centring, line and word breaks, the
// "&" prefix and the end ellipsis. Lines break at CR LF, CR or LF and, with DT_WORDBREAK, after
// the last blank that fits or, in a run without blanks, between characters (a double-byte
// character is never split). Nothing draws a background. Same thread as the canvas.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/core/canvas.h"

constexpr UINT DT_TOP = 0x0;
constexpr UINT DT_LEFT = 0x0;
constexpr UINT DT_CENTER = 0x1;
constexpr UINT DT_RIGHT = 0x2;
constexpr UINT DT_VCENTER = 0x4;
constexpr UINT DT_BOTTOM = 0x8;
constexpr UINT DT_WORDBREAK = 0x10;
constexpr UINT DT_SINGLELINE = 0x20;
constexpr UINT DT_NOCLIP = 0x100;
constexpr UINT DT_CALCRECT = 0x400;
constexpr UINT DT_NOPREFIX = 0x800;
constexpr UINT DT_PATH_ELLIPSIS = 0x4000;
constexpr UINT DT_END_ELLIPSIS = 0x8000;

// Draws text into rect with the canvas font (its colour), as format says; DT_VCENTER and
// DT_BOTTOM place the lines within rect's height. Without DT_NOCLIP nothing is drawn outside
// rect. Without DT_NOPREFIX "&" underlines the next character and "&&" is one "&". With
// DT_END_ELLIPSIS a line too wide for rect is cut, ending in "..."; with DT_PATH_ELLIPSIS it is
// shortened as a path (PathEllipsisText). With DT_CALCRECT nothing is drawn: rect's right and
// bottom are set to hold the text. Returns the height of the text.
int DrawText(TCanvas* canvas, std::string_view text, TRect& rect, UINT format);

// The text with "&" prefixes removed ("&&" gives "&"); prefixPos receives the byte index, in the
// result, of the character to underline (-1 when none).
std::string StripPrefix(std::string_view text, int* prefixPos = nullptr);

// The accelerator of a caption: the upper-cased ASCII letter or digit after its single "&", or
// 0 when there is none.
char AcceleratorOf(std::string_view caption);

// The text cut so that text + "..." fits in width pixels of the canvas font ("..." alone when
// nothing fits); the text itself when it fits. Double-byte characters stay whole.
std::string EllipsisText(const TCanvas& canvas, std::string_view text, int width);

// A path shortened to width pixels of the canvas font: as much of its start as fits, "...", and
// its last part from the last "" on (a "" that is the trail byte of a double-byte character
// is no separator); the path itself when it fits. When that last part alone does not fit, or
// the path has no "", the path is cut as EllipsisText cuts it.
std::string PathEllipsisText(const TCanvas& canvas, std::string_view path, int width);

// One display line of a paragraph (a text without line breaks): the bytes [Start, End).
struct TTextSpan {
  size_t Start = 0;
  size_t End = 0;
  bool operator==(const TTextSpan&) const = default;
};
// The lines DT_WORDBREAK breaks paragraph into for width pixels of the canvas font: after the
// last blank that fits (the blanks at the break belong to no line) or, in a run without
// blanks, between characters; every line holds at least one character. An empty paragraph is
// one empty line.
std::vector<TTextSpan> WrapSpans(const TCanvas& canvas, std::string_view paragraph, int width);
