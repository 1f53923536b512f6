// Screenshot tests on a real display (run under xvfb-run): an application on the FLTK widget
// set, Shot() to write a form's window to build/screenshots/<suite>.<test>-<name>.png (and
// ScreenShot() a part of the screen), real clicks through the display server, and the checks a
// screenshot must pass (drawn at all, a text exactly where the layout puts it, colours
// at known points, Japanese glyphs that are real glyphs). Checks return AssertionResults whose
// messages say what was looked for and where.
//
// Ownership: TGuiApp owns the widget set and the application (in that order). Threads: the
// test's thread, which is the GUI thread.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/ui/core/application.h"
#include "platform/ui/core/control.h"
#include "platform/ui/core/graphics.h"
#include "platform/ui/core/menus.h"

namespace uitest::gui {

// How long Shot() lets the loop run for a window's first expose before the test fails (it goes on
// as soon as the window is drawn; a loaded display server may take a while).
constexpr DWORD kExposeLimitMs = 60000;

// The FLTK application of a test. A display that cannot be opened fails the test (never a skip).
class TGuiApp {
 public:
  TGuiApp();
  ~TGuiApp();
  TGuiApp(const TGuiApp&) = delete;
  TGuiApp& operator=(const TGuiApp&) = delete;

  bool Ready() const { return App != nullptr; }
  std::unique_ptr<TWidgetSet> WidgetSet;
  std::unique_ptr<TApplication> App;
};

// Where Shot() writes (the build's screenshots folder), and the path of the current test's shot
// called name there: ShotDir()/<suite>.<test>-<name>.png, the folder made when missing.
std::string ShotDir();
std::string ShotPath(const std::string& name);

// Shows form when it is not yet visible, runs the loop until its window has been drawn on the
// display, then draws the window offscreen, writes it to ShotDir()/<suite>.<test>-<name>.png,
// reads that file back and returns its pixels (0xFFRRGGBB). Fails the test and returns an empty
// picture when the window never shows or the file cannot be written or read.
TBitmap Shot(TCustomForm* form, const std::string& name);

// Opens item, a top-level item of form's main menu, as a press on the menu bar does, and while its
// menu is up reads what the screen shows over the form's window and the menu, writes that to
// ShotDir()/<suite>.<test>-<name>.png and closes the menu with Escape. Returns the pixels, the
// form's window at the top left; fails the test and returns an empty picture when no menu shows.
// REQUIRES: the form's window has been drawn (a Shot of it taken).
TBitmap MenuShot(TCustomForm* form, TMenuItem* item, const std::string& name);

// rect, given in the client coordinates of control, in its window's coordinates (those of a shot).
TRect InWindow(const TControl* control, const TRect& rect);

// Runs the loop (display events and the thread's messages) until pred() holds or limitMs pass;
// true when it held.
bool RunUntil(const std::function<bool()>& pred, DWORD limitMs = kExposeLimitMs);

// Clicks the left button at screen point p, clicks times intervalMs apart, through the display
// server (xdotool), as a user's mouse does: the window manager sees the clicks too. The events
// arrive when the loop next runs. Fails the test when xdotool cannot be run.
void ClickOnDisplay(TPoint p, int clicks = 1, int intervalMs = 100);

// The screen's pixels in rect as the display shows them (every window, the manager's frames),
// written to ShotDir()/<suite>.<test>-<name>.png and read back; empty (the test failed) when the
// screen cannot be read or the file written.
TBitmap ScreenShot(const TRect& rect, const std::string& name);

// At least three colours, and background (a TColor) does not cover the whole picture.
::testing::AssertionResult LooksDrawn(const TBitmap& shot, TColor background);
// The pixel at x, y has the RGB of color (system colours through the fixed table).
::testing::AssertionResult ColorAt(const TBitmap& shot, int x, int y, TColor color);
// text (CP932) drawn in font on background is found, pixel for pixel, inside rect (window
// coordinates) of shot. The block compared is the text's ink (its box trimmed of background),
// which must span most of the text's measured width (no character read as markup and dropped).
::testing::AssertionResult TextDrawnIn(const TBitmap& shot, const TRect& rect,
                                       std::string_view text, const TFontData& font,
                                       TColor background);
// Japanese in font is drawn from real glyphs: the IPA gothic that lends a face the characters it
// lacks is installed, and a kanji and four kana drawn in font each differ from the box drawn for a
// character no font has, and from one another.
::testing::AssertionResult RealJapaneseGlyphs(const TFontData& font);

}  // namespace uitest::gui
