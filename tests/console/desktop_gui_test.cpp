// The console by mouse on a desktop: under Xvfb with a window manager (openbox), with real clicks
// through the display server. The day chooser's list drops down and a clicked day loads its
// file; the version window and the details window stay above the main window when it is
// clicked; each click on the details window's arrows counts; a focused edit shows its caret; the
// menus show their pictures; the mail pages' labels keep clear of their edits.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "console/frmsyosai.h"
#include "console/frmversion.h"
#include "console/frmwatch.h"
#include "platform/ui/core/dropdownlist.h"
#include "platform/ui/fltk/probe.h"
#include "platform/ui/fltk/simulate.h"
#include "platform/ui/testkit/gui/gui.h"
#include "tests/console/viewer_days.h"

namespace {

using uitest::gui::ClickOnDisplay;
using uitest::gui::ColorAt;
using uitest::gui::InWindow;
using uitest::gui::RunUntil;
using uitest::gui::ScreenShot;
using uitest::gui::Shot;
using uitest::gui::TextDrawnIn;
using uitest::gui::TGuiApp;
using viewertest::Rec;

// The main window, the details window and the version window as the program makes them, without
// the hand-over of the first show; the main window shown and drawn.
struct Desktop {
  TGuiApp kit;
  TFrmWatch* form = nullptr;
  TFrmSyosai* syosai = nullptr;
  TFrmVersion* version = nullptr;
  explicit Desktop(const viewertest::TViewerDays&) {
    if (!kit.Ready()) return;
    kit.App->CreateForm(form);
    kit.App->CreateForm(syosai);
    kit.App->CreateForm(version);
    form->OnShow = nullptr;
    form->OnCloseQuery = nullptr;
    form->InitSettingsPage();
    EXPECT_FALSE(Shot(form, "main").Empty());
  }
};

// The centre of control's client area on the screen.
TPoint CentreOnScreen(const TControl* control) {
  return control->ClientToScreen(Point(control->ClientWidth() / 2, control->ClientHeight() / 2));
}

// Where screen rect lies in a screenshot of area.
TRect InShot(const TRect& rect, const TRect& area) {
  return rect.Offset(-area.Left, -area.Top);
}

TEST(DesktopGui, TheDayListDropsDownWithItsSevenDaysAndAClickedDayLoadsItsFile) {
  viewertest::TViewerDays days;
  days.Write(0, {Rec("pc-today", "a.xls")});
  days.Write(2, {Rec("pc-one", "b.xls"), Rec("pc-two", "c.xls"), Rec("pc-one", "d.xls")});
  Desktop d(days);
  ASSERT_TRUE(d.kit.Ready());
  TValComboBox* chooser = d.form->ValHistory;

  ClickOnDisplay(CentreOnScreen(chooser));
  ASSERT_TRUE(RunUntil([&] { return chooser->DroppedDown(); }));
  TDropDownList* list = chooser->DropDownList();
  ASSERT_NE(list, nullptr);
  ASSERT_FALSE(Shot(list, "list").Empty());  // drawn on the display
  // The box and the list below it, as the screen shows them.
  const TPoint box = chooser->ClientToScreen(Point(0, 0));
  const TRect area{box.X - 10, box.Y - 10, list->Left() + list->Width() + 10,
                   list->Top() + list->Height() + 10};
  const TBitmap screen = ScreenShot(area, "daylist");
  ASSERT_FALSE(screen.Empty());
  EXPECT_EQ(list->Top(), chooser->ClientToScreen(Point(0, chooser->Height())).Y);
  TDropDownItems* rows = list->Items();
  ASSERT_EQ(chooser->Items()->Count(), 7);
  for (int i = 0; i < 7; ++i) {
    const TPoint row = rows->ClientToScreen(Point(0, i * rows->ItemHeight()));
    const TRect rect = Bounds(row.X, row.Y, rows->ClientWidth(), rows->ItemHeight());
    const bool hot = i == chooser->HotIndex();
    TFontData font = rows->Font()->Data();
    if (hot) font.Color = clHighlightText;
    EXPECT_TRUE(TextDrawnIn(screen, InShot(rect, area), (*chooser->Items())[i], font,
                            hot ? clHighlight : clWindow))
        << i;
  }

  // "2日前", clicked: its file is loaded.
  const TPoint twoBack = rows->ClientToScreen(Point(20, 2 * rows->ItemHeight() + 4));
  ClickOnDisplay(twoBack);
  ASSERT_TRUE(RunUntil([&] { return d.form->ShownDay == 2; }));
  EXPECT_FALSE(list->Visible());
  EXPECT_EQ(chooser->ItemIndex(), 2);
  EXPECT_EQ(d.form->GrdWatch->RowCount(), 3);
  EXPECT_EQ(d.form->HostList->Count(), 2);
}

// Shows modal modally; once it is drawn, the main window is clicked (where modal does not lie),
// then other, whose rise above everything shows that the window manager has taken both clicks.
// Whether modal's window then lies above the main window's.
bool AboveAfterClicks(Desktop& d, TCustomForm* modal, TCustomForm* other, const std::string& name) {
  bool above = false;
  TTimer step(modal);
  step.SetInterval(10);
  step.OnTimer = [&](rtl::TObject*) {
    step.SetEnabled(false);
    const TPoint onMain = d.form->TrePCList->ClientToScreen(Point(20, 400));
    EXPECT_FALSE(modal->BoundsRect().Contains(onMain));
    if (!Shot(modal, name).Empty()) {
      ClickOnDisplay(onMain);
      ClickOnDisplay(CentreOnScreen(other));
      const fltkpeer::TDisplayWindow top = fltkpeer::DisplayWindowOf(*other);
      std::vector<fltkpeer::TDisplayWindow> stacking;
      EXPECT_TRUE(RunUntil([&] {
        stacking = fltkpeer::ManagedStacking();
        return !stacking.empty() && stacking.back() == top;
      }));
      const auto at = [&](const TCustomForm& f) {
        return std::find(stacking.begin(), stacking.end(), fltkpeer::DisplayWindowOf(f));
      };
      EXPECT_NE(at(*d.form), stacking.end());
      EXPECT_NE(at(*modal), stacking.end());
      above = at(*d.form) < at(*modal) && at(*modal) != stacking.end();
      ScreenShot(Screen ? TRect{0, 0, Screen->Width(), Screen->Height()} : TRect{},
                 name + "-clicked");
    }
    modal->SetModalResult(mrOk);
  };
  modal->ShowModal();
  return above;
}

TEST(DesktopGui, TheVersionWindowAndTheDetailsStayAboveTheMainWindowWhenItIsClicked) {
  viewertest::TViewerDays days;
  days.Write(0, {Rec("pc-a", "a.xls"), Rec("pc-b", "b.xls")});
  Desktop d(days);
  ASSERT_TRUE(d.kit.Ready());
  // A window of its own, away from the main window, to be clicked after it.
  TForm* other;
  d.kit.App->CreateForm(other);
  other->SetBounds(Screen->Width() - 130, Screen->Height() - 100, 120, 90);
  ASSERT_FALSE(Shot(other, "other").Empty());
  d.form->GrdWatch->SetCurrentRow(0);
  for (TCustomForm* modal :
       {static_cast<TCustomForm*>(d.version), static_cast<TCustomForm*>(d.syosai)}) {
    d.form->SetFocus();
    ASSERT_TRUE(RunUntil([&] { return Screen->ActiveForm() == d.form; })) << modal->Name;
    EXPECT_TRUE(AboveAfterClicks(d, modal, other, modal->Name))
        << modal->Name << " fell behind the main window";
  }
}

// Four clicks on the details window's down arrow, close together (double clicks to the display),
// move four rows down; two on the up arrow, two rows up.
TEST(DesktopGui, EachClickOnTheDetailsArrowsMovesOneRow) {
  viewertest::TViewerDays days;
  std::vector<std::string> lines;
  for (int i = 0; i < 8; ++i)
    lines.push_back(Rec("pc-" + std::to_string(i), std::to_string(i) + ".xls"));
  days.Write(0, lines);
  Desktop d(days);
  ASSERT_TRUE(d.kit.Ready());
  TKStringGrid* grid = d.form->GrdWatch;
  grid->SetCurrentRow(0);
  int down = -1, up = -1;
  TTimer step(d.syosai);
  step.SetInterval(10);
  step.OnTimer = [&](rtl::TObject*) {
    step.SetEnabled(false);
    if (!Shot(d.syosai, "details").Empty()) {
      ClickOnDisplay(CentreOnScreen(d.syosai->BtnDown), 4, 150);
      RunUntil([&] { return grid->CurrentRow() == 4; }, 10000);
      down = grid->CurrentRow();
      ClickOnDisplay(CentreOnScreen(d.syosai->BtnUp), 2, 150);
      RunUntil([&] { return grid->CurrentRow() == 2; }, 10000);
      up = grid->CurrentRow();
    }
    d.syosai->SetModalResult(mrOk);
  };
  d.syosai->ShowModal();
  EXPECT_EQ(down, 4);
  EXPECT_EQ(up, 2);
}

// A click into the subject's edit puts the caret there, and a click into a rule cell does in the
// grid's editor: each shows its caret, a bar in the text colour with the edit's colour beside it.
TEST(DesktopGui, AFocusedEditShowsItsCaret) {
  viewertest::TViewerDays days;
  Desktop d(days);
  ASSERT_TRUE(d.kit.Ready());
  d.form->PagWatch->SetActivePage(d.form->TabMail);
  d.form->EdtSubject->SetText("Kelvadon");
  d.form->GrdRule->SetCells(1, 2, "USB");
  ASSERT_FALSE(Shot(d.form, "mail").Empty());
  TEdit* subject = d.form->EdtSubject;
  TTextMeasurer& measure = d.kit.App->WidgetSet().Measurer();
  const int textEnd = 1 + measure.TextWidth(subject->Font()->Data(), "Kelvadon");
  ClickOnDisplay(subject->ClientToScreen(Point(textEnd + 30, subject->ClientHeight() / 2)));
  ASSERT_TRUE(RunUntil([&] { return subject->Focused(); }));
  EXPECT_EQ(subject->SelStart(), 8);
  TBitmap shot = Shot(d.form, "subject-caret");
  const TPoint caret = subject->ClientToWindow(Point(textEnd, subject->ClientHeight() / 2));
  EXPECT_TRUE(ColorAt(shot, caret.X, caret.Y, clWindowText));
  EXPECT_TRUE(ColorAt(shot, caret.X + 2, caret.Y, clWindow));

  // The first click brings the editor to the cell (its text selected), the second, elsewhere in
  // it (not a double click), puts the caret after the text.
  TStringGrid* rules = d.form->GrdRule;
  const TRect cell = rules->CellRect(1, 2);
  const int middle = cell.Top + cell.Height() / 2;
  ClickOnDisplay(rules->ClientToScreen(Point(cell.Left + cell.Width() / 2, middle)));
  ASSERT_TRUE(RunUntil([&] {
    return rules->InplaceEditor() && rules->InplaceEditor()->Focused() && rules->Row() == 2;
  }));
  TInplaceEdit* editor = rules->InplaceEditor();
  ClickOnDisplay(rules->ClientToScreen(Point(cell.Right - 10, middle)));
  ASSERT_TRUE(RunUntil([&] { return editor->SelLength() == 0 && editor->SelStart() == 3; }));
  shot = Shot(d.form, "rule-caret");
  const int ruleEnd = 1 + measure.TextWidth(editor->Font()->Data(), "USB");
  const TPoint bar = editor->ClientToWindow(Point(ruleEnd, editor->ClientHeight() / 2));
  EXPECT_TRUE(ColorAt(shot, bar.X, bar.Y, clWindowText));
  EXPECT_TRUE(ColorAt(shot, bar.X + 2, bar.Y, clWindow));
}

// Whether the opaque pixels of picture show, unchanged, somewhere in shot.
bool PictureIn(const TBitmap& shot, const TBitmap& picture) {
  for (int y = 0; y + picture.Height() <= shot.Height(); ++y)
    for (int x = 0; x + picture.Width() <= shot.Width(); ++x) {
      bool all = true;
      for (int j = 0; j < picture.Height() && all; ++j)
        for (int i = 0; i < picture.Width() && all; ++i) {
          const uint32_t p = picture.Pixel(i, j);
          all = (p >> 24) != 0xFF || (shot.Pixel(x + i, y + j) & 0xFFFFFFu) == (p & 0xFFFFFFu);
        }
      if (all) return true;
    }
  return false;
}

// The help menu, dropped down by a click on its title, shows the pictures of its items (from the
// tool bar's image list); Escape closes it.
TEST(DesktopGui, TheMenusShowTheirPictures) {
  viewertest::TViewerDays days;
  Desktop d(days);
  ASSERT_TRUE(d.kit.Ready());
  TFrmWatch* f = d.form;
  int x = 0;
  while (x < f->ClientWidth() && MenuBarItemAt(*f->MainMenu1, x) != f->MnuHelpTop)
    ++x;
  ASSERT_LT(x, f->ClientWidth());
  const int bar = MenuBarHeight(*f->MainMenu1);
  const TPoint title = f->ClientToScreen(Point(x + 10, bar / 2 - bar));
  const TRect below = Bounds(title.X - 20, title.Y + bar / 2, 300, 100);
  TBitmap shot;
  // The menu runs a loop of its own; the timer runs inside it.
  TTimer look(f);
  look.SetInterval(200);
  int ticks = 0;
  look.OnTimer = [&](rtl::TObject*) {
    const bool found = PictureIn(fltkpeer::GrabScreen(below), f->ImgToolBar->Image(2));
    if (!found && ++ticks < 100) return;
    look.SetEnabled(false);
    shot = ScreenShot(below, "help-menu");
    fltkpeer::SendKeyToDisplay(VK_ESCAPE);
  };
  ClickOnDisplay(title);
  ASSERT_TRUE(RunUntil([&] { return !look.Enabled(); }));
  ASSERT_FALSE(shot.Empty());
  EXPECT_TRUE(PictureIn(shot, f->ImgToolBar->Image(2))) << "the version item's picture";
  EXPECT_TRUE(PictureIn(shot, f->ImgToolBar->Image(3))) << "the help item's picture";
}

// Every label of the mail pages ends at least a few pixels before the edit it names, in the
// fonts the display draws them with.
TEST(DesktopGui, TheMailPagesLabelsKeepClearOfTheirEdits) {
  viewertest::TViewerDays days;
  Desktop d(days);
  ASSERT_TRUE(d.kit.Ready());
  TFrmWatch* f = d.form;
  const struct {
    TLabel* label;
    TEdit* edit;
  } pairs[] = {{f->LblSmtpServer, f->EdtSmtpServer}, {f->LblSmtpPort, f->EdtSmtpPort},
               {f->LblPopServer, f->EdtPopServer},   {f->LblPopPort, f->EdtPopPort},
               {f->LblPopUser, f->EdtPopUser},       {f->LblPopPasswd, f->EdtPopPasswd},
               {f->LblFromMail, f->EdtFromMail},     {f->LblToMail, f->EdtToMail}};
  constexpr int kGap = 4;
  for (const auto& p : pairs) {
    ASSERT_EQ(p.label->Parent(), p.edit->Parent()) << p.label->Name;
    EXPECT_LE(p.label->Left() + p.label->Width() + kGap, p.edit->Left())
        << p.label->Name << " is " << p.label->Width() << " pixels wide";
  }
  // A look at the page, its check box ticked.
  f->ChkPopSmtp->SetChecked(true);
  f->PagWatch->SetActivePage(f->TamMailEnv);
  EXPECT_FALSE(Shot(f, "mailenv").Empty());
}

}  // namespace
