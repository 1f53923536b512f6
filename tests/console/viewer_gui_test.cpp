// Screenshots of the record viewer, the details window and the main window on a real display
// (under xvfb-run): a day's hosts drawn in the tree, a record's values drawn in the details window
// with the hint of a cut one, the main window's menus open and its toolbar's hints.
#include <gtest/gtest.h>

#include "console/frmsyosai.h"
#include "console/frmwatch.h"
#include "platform/ui/core/drawtext.h"
#include "platform/ui/testkit/gui/gui.h"
#include "platform/ui/testkit/testkit.h"
#include "tests/console/viewer_days.h"

namespace {

using uitest::gui::ColorAt;
using uitest::gui::InWindow;
using uitest::gui::LooksDrawn;
using uitest::gui::RealJapaneseGlyphs;
using uitest::gui::Shot;
using uitest::gui::TextDrawnIn;
using uitest::gui::TGuiApp;
using viewertest::Rec;

// Whether a and b differ anywhere inside rect.
bool DifferIn(const TBitmap& a, const TBitmap& b, const TRect& rect) {
  for (int y = rect.Top; y < rect.Bottom && y < a.Height() && y < b.Height(); ++y)
    for (int x = rect.Left; x < rect.Right && x < a.Width() && x < b.Width(); ++x)
      if ((a.Pixel(x, y) | 0xFF000000u) != (b.Pixel(x, y) | 0xFF000000u)) return true;
  return false;
}

// The hint of control as the pointer resting on it at client point p shows it (its show timer
// fired at once, its hide timer stopped while the shot is taken), written as the shot name.
TBitmap HintShot(TControl* control, TPoint p, const std::string& name) {
  uitest::Move(control, p.X, p.Y);
  THintController& hints = Application->Hints();
  uitest::FireTimer(*hints.ShowTimer());
  if (!hints.Window()->Active()) {
    ADD_FAILURE() << control->Name << " shows no hint";
    return TBitmap();
  }
  hints.HideTimer()->SetEnabled(false);
  TBitmap shot = Shot(hints.Window(), name);
  hints.Cancel();
  return shot;
}

// A hint window's text is drawn on one line, whole.
::testing::AssertionResult OneLineHint(const TBitmap& shot, const std::string& text) {
  const TFontData font = Application->Hints().Window()->Font()->Data();
  const int lineHeight = Application->WidgetSet().Measurer().TextHeight(font);
  if (shot.Height() != lineHeight + 2)
    return ::testing::AssertionFailure() << "the hint is " << shot.Height() << " pixels high, "
                                         << "not one line of " << lineHeight;
  return TextDrawnIn(shot, Bounds(0, 0, shot.Width(), shot.Height()), text, font, clInfoBk);
}

// The main window, which loads today's file as it is made, and the details window, as the program
// makes them; without the hand-over of the first show, the viewer's page in front.
struct ViewerWindows {
  TGuiApp kit;
  TFrmWatch* form = nullptr;
  TFrmSyosai* syosai = nullptr;
  ViewerWindows() {
    if (!kit.Ready()) return;
    kit.App->CreateForm(form);
    kit.App->CreateForm(syosai);
    form->OnShow = nullptr;
    form->PagWatch->SetActivePage(form->TabAdmin);
  }
};

TEST(ViewerShots, AFilledDayShowsItsHostsAndTheDetailsWindowItsValues) {
  viewertest::TViewerDays days;
  const std::string comment = "\x91\x8d\x96\xb1\x95\x94";  // "総務部" in CP932
  days.Write(0, {Rec("pc-sato", "report.xls"),
                 Rec("pc-ito", "a&b@c.txt", "2026/12/09 09:15:00", comment)});
  ViewerWindows windows;
  ASSERT_TRUE(windows.kit.Ready());
  TFrmWatch* form = windows.form;
  TFrmSyosai* syosai = windows.syosai;

  TBitmap shot = Shot(form, "viewer");
  ASSERT_FALSE(shot.Empty());
  EXPECT_TRUE(LooksDrawn(shot, form->Color()));
  TTreeNode* root = form->TrePCList->Items()->GetFirstNode();
  ASSERT_NE(root, nullptr);
  ASSERT_EQ(root->Count(), 2);
  for (TTreeNode* node : {root, root->Item(0), root->Item(1)})
    EXPECT_TRUE(TextDrawnIn(shot, InWindow(form->TrePCList, node->DisplayRect(true)), node->Text(),
                            form->TrePCList->Font()->Data(), form->TrePCList->Color()))
        << node->Text();

  // The top row: pc-ito's record, with a Japanese comment and a file name that markup would eat.
  form->GrdWatch->SetCurrentRow(0);
  TBitmap details = Shot(syosai, "details");
  ASSERT_FALSE(details.Empty());
  EXPECT_TRUE(LooksDrawn(details, syosai->Color()));
  const struct {
    TLabel* label;
    std::string text;
  } values[] = {{syosai->LblHostName, "pc-ito"},
                {syosai->LblTime, "09:15:00"},
                {syosai->LblComment, comment},
                {syosai->LblFileName, "a&b@c.txt"}};
  for (const auto& v : values) {
    const TRect whole = Bounds(0, 0, v.label->Width(), v.label->Height());
    EXPECT_TRUE(TextDrawnIn(details, InWindow(v.label, whole), v.text, v.label->Font()->Data(),
                            v.label->Color()))
        << v.label->Name;
  }
  EXPECT_TRUE(RealJapaneseGlyphs(syosai->Font()->Data()));
}

// A long day: 500 records of 60 hosts with 60-byte names and 120-byte paths. The grid and the
// tree show their bars; scrolled to their ends they show the last column, the last record and
// the last host; the details window shows a path by its start and its file name.
TEST(ViewerShots, ScrollALongDayToItsEndsAndReadAPathInTheDetails) {
  viewertest::TViewerDays days;
  std::vector<std::string> lines;
  for (int i = 0; i < 500; ++i) {
    const std::string host = "pc-" + std::to_string(100 + i % 60) + std::string(54, 'h');
    std::string path = "C:\\Users\\kelvadon\\";
    path += std::string(120 - path.size() - 15, 'd') + "\\report-" +
            std::to_string(1000 + i).substr(1) + ".xls";
    lines.push_back(Rec(host, path));
  }
  days.Write(0, lines);
  ViewerWindows windows;
  ASSERT_TRUE(windows.kit.Ready());
  TFrmWatch* form = windows.form;
  TFrmSyosai* syosai = windows.syosai;
  TKStringGrid* grid = form->GrdWatch;
  const TControlScrollBars* gridBars = grid->ControlScrollBars();
  const TControlScrollBars* treeBars = form->TrePCList->ControlScrollBars();

  TBitmap day = Shot(form, "Scroll-day");
  ASSERT_FALSE(day.Empty());
  ASSERT_TRUE(gridBars->Showing(sbVertical) && gridBars->Showing(sbHorizontal));
  ASSERT_TRUE(treeBars->Showing(sbVertical));
  // The bars' faces: an arrow button, the thumb at the start, the corner square.
  for (auto [control, part] : {std::pair{static_cast<TControl*>(grid), spLineForward},
                               std::pair{static_cast<TControl*>(grid), spThumb},
                               std::pair{static_cast<TControl*>(form->TrePCList), spThumb}}) {
    const TRect r = control->ControlScrollBars()->PartRect(sbVertical, part);
    const TPoint p = control->ClientToWindow(Point(r.Left + 4, r.Top + 4));
    EXPECT_TRUE(ColorAt(day, p.X, p.Y, clBtnFace)) << control->Name << " " << part;
  }
  const TRect corner = gridBars->CornerRect();
  const TPoint c = grid->ClientToWindow(Point(corner.Left + 8, corner.Top + 8));
  EXPECT_TRUE(ColorAt(day, c.X, c.Y, clBtnFace)) << "corner";

  // To the ends: the last column, FileName, starts in the grid; the day's first record is the
  // last row; the tree's last host shows.
  uitest::DragThumb(grid, sbHorizontal, 5000);
  uitest::DragThumb(grid, sbVertical, 5000);
  uitest::DragThumb(form->TrePCList, sbVertical, 5000);
  TBitmap end = Shot(form, "Scroll-end");
  ASSERT_FALSE(end.Empty());
  const TRect header = grid->CellRect(8, 0);
  ASSERT_FALSE(header.IsEmpty());
  TFontData bold = grid->HeaderFont()->Data();
  EXPECT_TRUE(TextDrawnIn(end, InWindow(grid, header), "FileName", bold, clBtnFace));
  const TRect lastRow = grid->CellRect(8, 500);
  ASSERT_FALSE(lastRow.IsEmpty());
  EXPECT_LE(lastRow.Bottom, grid->ClientHeight());
  TTreeNode* lastHost = form->TrePCList->Items()->GetFirstNode()->GetLastChild();
  EXPECT_FALSE(lastHost->DisplayRect(false).IsEmpty());

  // The details of the top row: its path shortened to its start, "..." and its file name.
  grid->SetCurrentRow(0);
  TBitmap details = Shot(syosai, "Scroll-details");
  ASSERT_FALSE(details.Empty());
  TLabel* file = syosai->LblFileName;
  TCanvas measure;
  measure.SetFont(*file->Font());
  const std::string shown = PathEllipsisText(measure, file->Caption(), file->Width());
  EXPECT_TRUE(shown.ends_with("...\\report-499.xls")) << shown;
  EXPECT_TRUE(shown.starts_with("C:\\Users\\")) << shown;
  EXPECT_TRUE(TextDrawnIn(details, InWindow(file, Bounds(0, 0, file->Width(), file->Height())),
                          shown, file->Font()->Data(), file->Color()));
  EXPECT_EQ(file->Hint, file->Caption());
}

// The main window as the program shows it: the File and the Help menu open, each with its
// Japanese captions, and each toolbar button's Japanese hint on one line.
TEST(MainWindowShots, EachMenuOpenAndEachToolbarHint) {
  viewertest::TViewerDays days;
  ViewerWindows windows;
  ASSERT_TRUE(windows.kit.Ready());
  TFrmWatch* form = windows.form;
  const TBitmap plain = Shot(form, "main");
  ASSERT_FALSE(plain.Empty());
  const TFontData menuFont = Screen->MenuFont().Data();
  const TRect bar = Bounds(0, 0, plain.Width(), kMenuBarHeight);
  // The bar's captions up to their "(": the accelerator's letter is underlined.
  EXPECT_TRUE(TextDrawnIn(plain, bar, "\x83\x74\x83\x40\x83\x43\x83\x8B", menuFont, clMenu))
      << "ファイル";
  EXPECT_TRUE(TextDrawnIn(plain, bar, "\x83\x77\x83\x8B\x83\x76", menuFont, clMenu)) << "ヘルプ";
  EXPECT_TRUE(RealJapaneseGlyphs(menuFont));
  // The hints first: after a menu has been up, the display reports where its real pointer is,
  // away from the simulated moves, and that ends a hint as a pointer leaving would.
  for (TToolButton* button : {form->BtnSave, form->BtnVersion, form->BtnHelp, form->BtnClose}) {
    const TBitmap hint = HintShot(button, Point(button->Width() / 2, button->Height() / 2),
                                  "toolbar-hint-" + button->Name);
    ASSERT_FALSE(hint.Empty()) << button->Name;
    EXPECT_TRUE(OneLineHint(hint, button->Hint)) << button->Name;
  }
  const struct {
    TMenuItem* item;
    const char* name;
  } menus[] = {{form->MnuFile, "file-menu-open"}, {form->MnuHelpTop, "help-menu-open"}};
  for (const auto& m : menus) {
    const TBitmap open = uitest::gui::MenuShot(form, m.item, m.name);
    ASSERT_FALSE(open.Empty()) << m.name;
    EXPECT_TRUE(LooksDrawn(open, clBtnFace)) << m.name;
    // The menu drops down over the toolbar.
    const TRect toolbar = InWindow(form->ToolBar1, form->ToolBar1->ClientRect());
    EXPECT_TRUE(DifferIn(open, plain, toolbar)) << m.name << ": no menu over the toolbar";
  }
}

// A Japanese path too long for the details window: its label shows the start, "..." and the file
// name, and the hint over it shows the whole path on one line, in real glyphs.
TEST(ViewerShots, TheDetailsWindowsHintOverACutJapanesePath) {
  viewertest::TViewerDays days;
  // "C:\Users\山田\ドキュメント\二〇二六年度の報告書\売上集計表.xls": the last "表" ends in
  // the byte of "\".
  const std::string path =
      "C:\\Users\\\x8e\x52\x93\x63\\\x83\x68\x83\x4c\x83\x85\x83\x81\x83\x93\x83\x67\\"
      "\x93\xf1\x81\x5a\x93\xf1\x98\x5a\x94\x4e\x93\x78\x82\xcc\x95\xf1\x8d\x90\x8f\x91\\"
      "\x94\x84\x8f\xe3\x8f\x57\x8c\x76\x95\x5c.xls";
  days.Write(0, {Rec("pc-yamada", path)});
  ViewerWindows windows;
  ASSERT_TRUE(windows.kit.Ready());
  windows.form->GrdWatch->SetCurrentRow(0);
  TFrmSyosai* syosai = windows.syosai;
  TLabel* file = syosai->LblFileName;
  const TBitmap details = Shot(syosai, "details-cut-path");
  ASSERT_FALSE(details.Empty());
  ASSERT_EQ(file->Hint, path) << "the path is cut";
  TCanvas measure;
  measure.SetFont(*file->Font());
  const std::string shown = PathEllipsisText(measure, path, file->Width());
  EXPECT_TRUE(shown.ends_with("...\\\x94\x84\x8f\xe3\x8f\x57\x8c\x76\x95\x5c.xls")) << shown;
  EXPECT_TRUE(TextDrawnIn(details, InWindow(file, Bounds(0, 0, file->Width(), file->Height())),
                          shown, file->Font()->Data(), file->Color()));
  const TBitmap hint = HintShot(file, Point(10, file->Height() / 2), "details-hint-cut-path");
  ASSERT_FALSE(hint.Empty());
  EXPECT_TRUE(OneLineHint(hint, path));
  EXPECT_TRUE(RealJapaneseGlyphs(Application->Hints().Window()->Font()->Data()));
}

}  // namespace
