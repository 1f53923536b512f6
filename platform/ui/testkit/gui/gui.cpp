#include "platform/ui/testkit/gui/gui.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "platform/msg/timer.h"
#include "platform/ui/fltk/fltk.h"
#include "platform/ui/fltk/offscreen.h"
#include "platform/ui/fltk/png.h"
#include "platform/ui/fltk/probe.h"
#include "platform/ui/fltk/simulate.h"
#include "platform/ui/fltk/window.h"
#include "rtl/cp932.h"

namespace uitest::gui {

namespace {

std::string Hex(uint32_t rgb) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "#%06X", rgb & 0xFFFFFFu);
  return buf;
}

// 0xRRGGBB of a TColor.
uint32_t RgbOf(TColor c) {
  TColor v = ColorToRGB(c);
  return (uint32_t(GetRValue(v)) << 16) | (uint32_t(GetGValue(v)) << 8) | uint32_t(GetBValue(v));
}

uint32_t PixelRgb(const TBitmap& b, int x, int y) {
  return b.Pixel(x, y) & 0xFFFFFFu;
}

// The part of picture that differs from background (its ink); empty when none does.
TBitmap Ink(const TBitmap& picture, uint32_t background) {
  int left = picture.Width(), top = picture.Height(), right = -1, bottom = -1;
  for (int y = 0; y < picture.Height(); ++y)
    for (int x = 0; x < picture.Width(); ++x)
      if (PixelRgb(picture, x, y) != background) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
  if (right < 0) return TBitmap();
  return picture.Copy(left, top, right - left + 1, bottom - top + 1);
}

bool BlockAt(const TBitmap& shot, const TBitmap& block, int x0, int y0) {
  for (int y = 0; y < block.Height(); ++y)
    for (int x = 0; x < block.Width(); ++x)
      if (PixelRgb(shot, x0 + x, y0 + y) != PixelRgb(block, x, y)) return false;
  return true;
}

bool SamePixels(const TBitmap& a, const TBitmap& b) {
  return a.Width() == b.Width() && a.Height() == b.Height() && a.Pixels() == b.Pixels();
}

// picture written to the current test's shot called name, and read back.
TBitmap Written(const TBitmap& picture, const std::string& name) {
  const std::string path = ShotPath(name);
  std::string error;
  TBitmap read;
  if (!fltkpeer::WritePng(picture, path, &error) || !fltkpeer::ReadPng(path, &read, &error)) {
    ADD_FAILURE() << "screenshot: " << error;
    return TBitmap();
  }
  return read;
}

}  // namespace

TGuiApp::TGuiApp() {
  std::string error;
  WidgetSet = fltkpeer::CreateFltkWidgetSet(&error);
  if (!WidgetSet) {
    ADD_FAILURE() << "no display for a gui test (run it under xvfb-run): " << error;
    return;
  }
  App = std::make_unique<TApplication>(WidgetSet.get());
}

TGuiApp::~TGuiApp() {
  App.reset();
  // Lets FLTK delete the windows the forms left behind.
  if (WidgetSet) WidgetSet->ProcessEvents();
}

TRect InWindow(const TControl* control, const TRect& rect) {
  const TPoint p = control->ClientToWindow(rect.TopLeft());
  return Bounds(p.X, p.Y, rect.Width(), rect.Height());
}

bool RunUntil(const std::function<bool()>& pred, DWORD limitMs) {
  const DWORD start = GetTickCount();
  while (!pred()) {
    if (TickElapsed(start, GetTickCount()) > limitMs) return false;
    Application->WidgetSet().WaitForEvents(20);
    Application->ProcessMessages();
  }
  return true;
}

void ClickOnDisplay(TPoint p, int clicks, int intervalMs) {
  const std::string x = std::to_string(p.X), y = std::to_string(p.Y), n = std::to_string(clicks),
                    delay = std::to_string(intervalMs);
  const char* argv[] = {"xdotool", "mousemove", x.c_str(),     y.c_str(), "click", "--repeat",
                        n.c_str(), "--delay",   delay.c_str(), "1",       nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, "xdotool", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
    ADD_FAILURE() << "xdotool cannot be run (scripts/setup installs it)";
    return;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    ADD_FAILURE() << "xdotool failed to click at (" << p.X << ", " << p.Y << ")";
}

TBitmap ScreenShot(const TRect& rect, const std::string& name) {
  TBitmap grabbed = fltkpeer::GrabScreen(rect);
  if (grabbed.Empty()) {
    ADD_FAILURE() << "the screen cannot be read at (" << rect.Left << ", " << rect.Top << ")-("
                  << rect.Right << ", " << rect.Bottom << ")";
    return TBitmap();
  }
  return Written(grabbed, name);
}

std::string ShotDir() {
  return KELVADON_SCREENSHOT_DIR;
}

std::string ShotPath(const std::string& name) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::error_code ec;
  std::filesystem::create_directories(ShotDir(), ec);
  return ShotDir() + "/" + info->test_suite_name() + "." + info->name() + "-" + name + ".png";
}

TBitmap Shot(TCustomForm* form, const std::string& name) {
  if (!form->Visible()) form->Show();
  auto* peer = dynamic_cast<fltkpeer::TFltkWindowPeer*>(form->WindowPeer());
  if (!peer) {
    ADD_FAILURE() << "the form has no window on the display";
    return TBitmap();
  }
  DWORD start = GetTickCount();
  while (!peer->Exposed()) {
    if (TickElapsed(start, GetTickCount()) > kExposeLimitMs) {
      ADD_FAILURE() << "the window was never drawn on the display";
      return TBitmap();
    }
    Application->WidgetSet().WaitForEvents(100);
    Application->ProcessMessages();
  }
  return Written(fltkpeer::CapturePeer(*peer), name);
}

TBitmap MenuShot(TCustomForm* form, TMenuItem* item, const std::string& name) {
  const TMainMenu* menu = form->Menu();
  int x = 0;
  while (menu && x < form->ClientWidth() && MenuBarItemAt(*menu, x) != item)
    ++x;
  if (!menu || x >= form->ClientWidth()) {
    ADD_FAILURE() << "the item is not on the form's menu bar";
    return TBitmap();
  }
  // The form's window: its client area with the menu bar above it.
  const TPoint client = form->ClientToScreen(Point(0, 0));
  const TRect window = Bounds(client.X, client.Y - MenuBarHeight(*menu), form->ClientWidth(),
                              form->ClientHeight() + MenuBarHeight(*menu));
  TBitmap screen;
  bool gaveUp = false;
  const DWORD start = GetTickCount();
  // Polled inside the menu's own loop, where timers keep firing.
  TTimer poll;
  poll.SetInterval(50);
  poll.OnTimer = [&](rtl::TObject*) {
    const TRect shown = fltkpeer::PoppedUpMenuRect();
    if (shown.IsEmpty()) {
      if (TickElapsed(start, GetTickCount()) <= kExposeLimitMs) return;
      gaveUp = true;
    } else {
      screen = fltkpeer::ReadScreen(
          Rect(std::min(window.Left, shown.Left), std::min(window.Top, shown.Top),
               std::max(window.Right, shown.Right), std::max(window.Bottom, shown.Bottom)));
    }
    poll.SetEnabled(false);
    fltkpeer::SendKeyToDisplay(VK_ESCAPE);
  };
  poll.SetEnabled(true);
  const TPoint press{x + 1, MenuBarHeight(*menu) / 2};
  form->PeerTarget().PeerMouseDown(mbLeft, {}, press);
  form->PeerTarget().PeerMouseUp(mbLeft, {}, press);
  poll.SetEnabled(false);
  if (gaveUp || screen.Empty()) {
    ADD_FAILURE() << "the menu of \"" << item->Caption << "\" never showed";
    return TBitmap();
  }
  return Written(screen, name);
}

::testing::AssertionResult LooksDrawn(const TBitmap& shot, TColor background) {
  if (shot.Empty()) return ::testing::AssertionFailure() << "the screenshot is empty";
  std::set<uint32_t> colours;
  size_t plain = 0;
  uint32_t bg = RgbOf(background);
  for (uint32_t p : shot.Pixels()) {
    colours.insert(p & 0xFFFFFFu);
    if ((p & 0xFFFFFFu) == bg) ++plain;
  }
  if (colours.size() < 3)
    return ::testing::AssertionFailure() << "only " << colours.size() << " colour(s) drawn";
  if (plain == shot.Pixels().size())
    return ::testing::AssertionFailure() << "the background " << Hex(bg) << " covers everything";
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult ColorAt(const TBitmap& shot, int x, int y, TColor color) {
  if (x < 0 || y < 0 || x >= shot.Width() || y >= shot.Height())
    return ::testing::AssertionFailure() << "(" << x << ", " << y << ") lies outside the "
                                         << shot.Width() << " x " << shot.Height() << " shot";
  uint32_t got = PixelRgb(shot, x, y), want = RgbOf(color);
  if (got != want)
    return ::testing::AssertionFailure()
           << "(" << x << ", " << y << ") is " << Hex(got) << ", not " << Hex(want);
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult TextDrawnIn(const TBitmap& shot, const TRect& rect,
                                       std::string_view text, const TFontData& font,
                                       TColor background) {
  TBitmap block = Ink(fltkpeer::RenderText(text, font, background), RgbOf(background));
  if (block.Empty())
    return ::testing::AssertionFailure() << "\"" << text << "\" draws nothing on its own";
  // Drawn as given, the ink spans most of the measured width; a text read for "@" symbols or
  // "&" shortcuts loses characters.
  int measured = Application->WidgetSet().Measurer().TextWidth(font, text);
  if (block.Width() * 4 < measured * 3)
    return ::testing::AssertionFailure()
           << "\"" << text << "\" draws " << block.Width() << " pixels of ink for " << measured
           << " measured: characters are lost";
  TRect area = IntersectRect(rect, Bounds(0, 0, shot.Width(), shot.Height()));
  for (int y = area.Top; y + block.Height() <= area.Bottom; ++y)
    for (int x = area.Left; x + block.Width() <= area.Right; ++x)
      if (BlockAt(shot, block, x, y)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "\"" << text << "\" (" << block.Width() << " x " << block.Height()
         << " pixels of ink) is not drawn inside (" << rect.Left << ", " << rect.Top << ")-("
         << rect.Right << ", " << rect.Bottom << ")";
}

::testing::AssertionResult RealJapaneseGlyphs(const TFontData& font) {
  // The face every other face takes its Japanese from.
  TFontData ui = font;
  ui.Name = kUiFontName;
  const std::string wanted = fltkpeer::FontNameOf(ui).substr(1);
  const std::string family = fltkpeer::ResolvedFamilyOf(ui);
  if (family != wanted)
    return ::testing::AssertionFailure() << "fontconfig resolves \"" << wanted << "\" to \""
                                         << family << "\": install fonts-ipafont-gothic";
  // A kanji and four kana (CP932), each against the others and against a user-defined character
  // (F0 40), which no installed font draws: a face that draws them as boxes draws them alike.
  const char* const characters[] = {"\x8A\xC7", "\x82\xA0", "\x82\xA2", "\x82\xA4", "\x82\xA6"};
  const TBitmap missing = fltkpeer::RenderText("\xF0\x40", font, clWhite);
  const std::string face = rtl::Cp932ToUtf8(font.Name);
  std::vector<TBitmap> drawn;
  for (const char* c : characters) {
    drawn.push_back(fltkpeer::RenderText(c, font, clWhite));
    char hex[8];
    std::snprintf(hex, sizeof hex, "%02X %02X", uint8_t(c[0]), uint8_t(c[1]));
    if (Ink(drawn.back(), 0xFFFFFF).Empty())
      return ::testing::AssertionFailure()
             << "CP932 " << hex << " in \"" << face << "\" draws nothing";
    if (SamePixels(drawn.back(), missing))
      return ::testing::AssertionFailure()
             << "CP932 " << hex << " in \"" << face << "\" is drawn as the box of a missing glyph";
    for (size_t i = 0; i + 1 < drawn.size(); ++i)
      if (SamePixels(drawn[i], drawn.back()))
        return ::testing::AssertionFailure()
               << "CP932 " << hex << " in \"" << face << "\" is drawn like another character";
  }
  return ::testing::AssertionSuccess();
}

}  // namespace uitest::gui
