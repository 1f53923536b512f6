// Screenshots of the record viewer and the details window on a real display (under xvfb-run):
// a day's hosts drawn in the tree and a record's values drawn in the details window.
#include <gtest/gtest.h>

#include "console/frmsyosai.h"
#include "console/frmwatch.h"
#include "platform/ui/core/drawtext.h"
#include "platform/ui/testkit/gui/gui.h"
#include "platform/ui/testkit/testkit.h"
#include "tests/console/viewer_days.h"

namespace {

using uitest::gui::ColorAt;
using uitest::gui::LooksDrawn;
using uitest::gui::RealJapaneseGlyphs;
using uitest::gui::Shot;
using uitest::gui::TextDrawnIn;
using uitest::gui::TGuiApp;
using viewertest::Rec;

// rect (client coordinates of control) in its window's coordinates.
TRect InWindow(const TControl* control, const TRect& rect) {
  const TPoint p = control->ClientToWindow(rect.TopLeft());
  return Bounds(p.X, p.Y, rect.Width(), rect.Height());
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

}  // namespace
