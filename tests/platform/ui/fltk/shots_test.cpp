// Screenshots of forms on a real display (under xvfb-run): the demo form's texts, colours and
// glyphs where its layout puts them, and the unattended screenshot run of the demo program.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/ui/core/application.h"
#include "platform/ui/core/hintwindow.h"
#include "platform/ui/fltk/demo/demoform.h"
#include "platform/ui/fltk/offscreen.h"
#include "platform/ui/fltk/png.h"
#include "platform/ui/fltk/screenshots.h"
#include "platform/ui/testkit/gui/gui.h"
#include "rtl/files.h"
#include "tests/support/files.h"

namespace {

using uitest::gui::ColorAt;
using uitest::gui::InWindow;
using uitest::gui::LooksDrawn;
using uitest::gui::RealJapaneseGlyphs;
using uitest::gui::Shot;
using uitest::gui::TextDrawnIn;
using uitest::gui::TGuiApp;

// The whole control, border included, in window coordinates.
TRect WholeInWindow(const TControl* control) {
  TRect ins = control->NonClientInsets();
  return InWindow(
      control, Rect(-ins.Left, -ins.Top, control->Width() - ins.Left, control->Height() - ins.Top));
}

TEST(FltkShots, TheDemoFormShowsItsTextsColoursAndGlyphsWhereItsLayoutPutsThem) {
  TGuiApp kit;
  ASSERT_TRUE(kit.Ready());
  TDemoForm* form;
  kit.App->CreateForm(form);
  TBitmap shot = Shot(form, "demo");
  ASSERT_FALSE(shot.Empty());
  EXPECT_EQ(shot.Width(), kDemoClientWidth);
  EXPECT_EQ(shot.Height(), kDemoClientHeight + kMenuBarHeight);
  EXPECT_TRUE(LooksDrawn(shot, form->Color()));

  TFontData highlighted = form->Grid->Font()->Data();
  highlighted.Color = clHighlightText;
  struct TextCase {
    const char* where;
    TRect rect;
    std::string text;
    TFontData font;
    TColor background;
  } texts[] = {
      {"console tab", InWindow(form->Pages, form->Pages->TabRect(form->ConsoleSheet)),
       kDemoConsoleTab, form->Pages->Font()->Data(), form->Pages->Color()},
      {"label", WholeInWindow(form->MailLabel), kDemoMailText, form->MailLabel->Font()->Data(),
       form->LeftPanel->Color()},
      {"edit", WholeInWindow(form->MailEdit), kDemoMailText, form->MailEdit->Font()->Data(),
       form->MailEdit->Color()},
      {"selected grid row", InWindow(form->Grid, form->Grid->CellRect(1, 2)), kDemoUserText,
       highlighted, clHighlight},
      {"status panel", WholeInWindow(form->StatusPanel), kDemoUserText,
       form->StatusPanel->Font()->Data(), form->StatusPanel->Color()},
  };
  for (const TextCase& t : texts)
    EXPECT_TRUE(TextDrawnIn(shot, t.rect, t.text, t.font, t.background)) << t.where;

  TPoint panelFloor = form->LeftPanel->ClientToWindow(
      Point(form->LeftPanel->ClientWidth() / 2, form->LeftPanel->ClientHeight() - 10));
  EXPECT_TRUE(ColorAt(shot, panelFloor.X, panelFloor.Y, clBtnFace)) << "panel";
  TRect cell = InWindow(form->Grid, form->Grid->CellRect(2, 2));
  EXPECT_TRUE(ColorAt(shot, cell.Right - 3, cell.Bottom - 3, clHighlight)) << "selected row";

  EXPECT_TRUE(RealJapaneseGlyphs(form->Font()->Data()));
  EXPECT_TRUE(RealJapaneseGlyphs(form->Memo->Font()->Data()));

  form->Pages->SetActivePage(form->MoreSheet);
  TBitmap more = Shot(form, "more");
  EXPECT_TRUE(LooksDrawn(more, form->Color()));
  EXPECT_TRUE(TextDrawnIn(more, WholeInWindow(form->Memo), kDemoMemoLine,
                          form->Memo->Font()->Data(), form->Memo->Color()));
}

// The hint window is a borderless window of its own that leaves the keyboard where it was.
TEST(FltkShots, TheHintWindowShowsItsTextOnTheInfoColourAndTakesNoFocus) {
  TGuiApp kit;
  ASSERT_TRUE(kit.Ready());
  TDemoForm* form;
  kit.App->CreateForm(form);
  ASSERT_FALSE(Shot(form, "before-hint").Empty());
  TCustomForm* active = Screen->ActiveForm();
  TRect r = form->Hint->CalcHintRect(300, kDemoMailText);
  form->Hint->ActivateHint(r.Offset(form->Left() + 40, form->Top() + 60), kDemoMailText);
  TBitmap shot = Shot(form->Hint, "hint");
  ASSERT_FALSE(shot.Empty());
  EXPECT_EQ(shot.Width(), r.Width());
  EXPECT_EQ(shot.Height(), r.Height());
  EXPECT_TRUE(ColorAt(shot, shot.Width() / 2, 2, clInfoBk));
  EXPECT_TRUE(TextDrawnIn(shot, Bounds(0, 0, shot.Width(), shot.Height()), kDemoMailText,
                          form->Hint->Font()->Data(), clInfoBk));
  EXPECT_EQ(Screen->ActiveForm(), active);
}

// Japanese reads in every face: a face without Japanese glyphs (the grids' "MS Sans Serif" start
// fonts, a Western face) takes them from the IPA gothic, and the menu bars are in the desktop's
// Japanese UI font.
TEST(FltkShots, JapaneseInAnyFaceIsDrawnFromRealGlyphs) {
  TGuiApp kit;
  ASSERT_TRUE(kit.Ready());
  TFont sansSerif;  // "MS Sans Serif", 8 pt
  TFont boldSansSerif;
  boldSansSerif.SetStyle(TFontStyles{fsBold});
  TFont arial;
  arial.SetName("Arial");
  arial.SetSize(10);
  const struct {
    const char* what;
    const TFont* font;
  } faces[] = {{"MS Sans Serif", &sansSerif},
               {"MS Sans Serif bold", &boldSansSerif},
               {"Arial", &arial},
               {"the menu font", &Screen->MenuFont()}};
  for (const auto& f : faces)
    EXPECT_TRUE(RealJapaneseGlyphs(f.font->Data())) << f.what;
}

// A short Japanese hint is drawn in real glyphs and measured as it is drawn: its window holds it
// on one line, whole, and its ink ends inside the measured width, clear of the frame.
TEST(FltkShots, AShortJapaneseHintStaysOnOneLine) {
  TGuiApp kit;
  ASSERT_TRUE(kit.Ready());
  THintWindow* hint = kit.App->Hints().Window();
  const TFontData font = hint->Font()->Data();
  EXPECT_TRUE(RealJapaneseGlyphs(font));
  const int lineHeight = kit.App->WidgetSet().Measurer().TextHeight(font);
  const std::string path = std::string("C:\\Users\\") + kDemoComputer + "\\report.xls";
  int n = 0;
  for (const std::string& text : {std::string(kDemoRecord), std::string(kDemoMemoLine), path}) {
    SCOPED_TRACE(text);
    const TRect r = hint->CalcHintRect(300, text);
    EXPECT_EQ(r.Height(), lineHeight + 2) << "one line";
    hint->ActivateHint(r.Offset(40, 60), text);
    const TBitmap shot = Shot(hint, "hint-" + std::to_string(++n));
    ASSERT_FALSE(shot.Empty());
    EXPECT_TRUE(TextDrawnIn(shot, Bounds(0, 0, shot.Width(), shot.Height()), text, font, clInfoBk));
    // The text starts 2 pixels in and the frame lies 4 pixels past its measured end: the two
    // columns before the frame are background (a glyph may reach one pixel past its advance).
    for (int x = shot.Width() - 3; x < shot.Width() - 1; ++x)
      for (int y = 1; y < shot.Height() - 1; ++y)
        ASSERT_TRUE(ColorAt(shot, x, y, clInfoBk)) << "ink beyond the measured width";
    hint->ReleaseHandle();
  }
}

// The mouse goes through a hint: a real click where the hint lies over the demo form's button
// clicks the button.
TEST(FltkShots, AClickOnAHintReachesTheControlBelowIt) {
  TGuiApp kit;
  ASSERT_TRUE(kit.Ready());
  TDemoForm* form;
  kit.App->CreateForm(form);
  int clicks = 0;
  form->Button->OnClick = [&](rtl::TObject*) { ++clicks; };
  ASSERT_FALSE(Shot(form, "before-hint").Empty());
  const TPoint over = form->Button->ClientToScreen(Point(10, 5));
  const TRect r = form->Hint->CalcHintRect(300, kDemoMailText);
  form->Hint->ActivateHint(r.Offset(over.X - 5, over.Y - 5), kDemoMailText);
  ASSERT_FALSE(Shot(form->Hint, "hint-over-button").Empty());
  uitest::gui::ClickOnDisplay(over);
  EXPECT_TRUE(uitest::gui::RunUntil([&] { return clicks == 1; }, 10000));
}

// Texts are converted from CP932 once; bytes that are no CP932 character show as "?".
TEST(FltkShots, BytesThatAreNoCp932CharacterAreDrawnAsQuestionMarks) {
  TGuiApp kit;
  ASSERT_TRUE(kit.Ready());
  TFontData font;
  font.Name = kDemoFontName;
  font.PixelHeight = 14;
  for (const char* bad : {"x\x81", "x\xA0y", "\xFF"}) {
    std::string expected;
    for (const char* p = bad; *p; ++p)
      expected += static_cast<unsigned char>(*p) >= 0x80 ? '?' : *p;
    EXPECT_EQ(fltkpeer::RenderText(bad, font, clWhite).Pixels(),
              fltkpeer::RenderText(expected, font, clWhite).Pixels())
        << expected;
  }
}

TEST(FltkShots, TheScreenshotsVariableMakesTheDemoProgramWriteItsWindowAndEnd) {
  testsupport::TempDir dir;
  std::string program = rtl::ProgramDir() + "kelvadon-uidemo";
  std::string command =
      std::string(fltkpeer::kScreenshotsVariable) + "='" + dir.path() + "' '" + program + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  TBitmap shot;
  std::string error;
  ASSERT_TRUE(fltkpeer::ReadPng(dir.File("01-KelvadonUIdemo.png"), &shot, &error)) << error;
  EXPECT_EQ(shot.Width(), kDemoClientWidth);
  EXPECT_EQ(shot.Height(), kDemoClientHeight + kMenuBarHeight);
  EXPECT_TRUE(LooksDrawn(shot, clBtnFace));
  // Kept beside the tests' own shots for people to look at.
  EXPECT_TRUE(fltkpeer::WritePng(shot, uitest::gui::ShotPath("program"), &error)) << error;
}

}  // namespace
