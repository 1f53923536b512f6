// The scroll bars of grids, tree views and memos, driven headless: presses on their parts as the
// peer delivers them, the repeat timer fired through the testkit, the wheel.
#include "platform/ui/core/scrollbar.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/core/application.h"
#include "platform/ui/core/grids.h"
#include "platform/ui/core/stdctrls.h"
#include "platform/ui/core/treeview.h"
#include "platform/ui/testkit/testkit.h"

namespace {

using uitest::ClickScrollBar;
using uitest::ScrollBarPoint;
using uitest::TTestApp;

// A shown form with a 320 x 120 string grid of 10 columns (64 wide) and 40 rows (24 high), one
// fixed of each: neither fits, so both bars show and the client area is 304 x 104. Three columns
// and three rows show whole; LeftCol runs 1..7 and TopRow 1..37.
struct GridFixture {
  TTestApp kit;
  TForm* form;
  TStringGrid* grid;
  int dblClicks = 0, popups = 0, resizes = 0;
  GridFixture() {
    kit.App.CreateForm(form);
    form->SetBounds(0, 0, 640, 480);
    grid = new TStringGrid(form);
    grid->SetParent(form);
    grid->SetBounds(0, 0, 320, 120);
    grid->SetColCount(10);
    grid->SetRowCount(40);
    grid->OnDblClick = [this](rtl::TObject*) { ++dblClicks; };
    grid->OnContextPopup = [this](rtl::TObject*, TPoint, bool&) { ++popups; };
    grid->OnResize = [this](rtl::TObject*) { ++resizes; };
    form->Show();
    grid->SetFocus();
  }
  TControlScrollBars* Bars() const { return grid->ControlScrollBars(); }
  void AddOption(TGridOption option) {
    TGridOptions options = grid->Options();
    options.Include(option);
    grid->SetOptions(options);
  }
  TGridCoord Focus() const { return TGridCoord{grid->Col(), grid->Row()}; }
};

TEST(GridScrollBars, ShowWhileTheColumnsOrRowsDoNotFitAndTakeTheirPlaceFromTheClientArea) {
  GridFixture f;
  ASSERT_NE(f.Bars(), nullptr);
  EXPECT_TRUE(f.Bars()->Showing(sbVertical));
  EXPECT_TRUE(f.Bars()->Showing(sbHorizontal));
  EXPECT_EQ(f.grid->ClientRect(), Rect(0, 0, 304, 104));
  EXPECT_EQ(f.Bars()->BarRect(sbVertical), Rect(304, 0, 320, 104));
  EXPECT_EQ(f.Bars()->BarRect(sbHorizontal), Rect(0, 104, 304, 120));
  EXPECT_EQ(f.Bars()->CornerRect(), Rect(304, 104, 320, 120));
  // Arrows at the ends; the thumb is the visible share of the track (3 of 9 column positions,
  // at least kMinThumbSize), at the start.
  EXPECT_EQ(f.Bars()->PartRect(sbHorizontal, spLineBack), Rect(0, 104, 16, 120));
  EXPECT_EQ(f.Bars()->PartRect(sbHorizontal, spLineForward), Rect(288, 104, 304, 120));
  EXPECT_EQ(f.Bars()->PartRect(sbHorizontal, spThumb), Rect(16, 104, 16 + 272 * 3 / 9, 120));
  EXPECT_EQ(f.Bars()->PartRect(sbVertical, spThumb).Height(), kMinThumbSize);

  // Rows that come to fit take the vertical bar away, and the whole client height is the rows'
  // again: a change of the client size, which clamps the view and fires OnResize.
  f.grid->SetTopRow(30);
  const int resizes = f.resizes;
  f.grid->SetRowCount(4);
  EXPECT_FALSE(f.Bars()->Showing(sbVertical));
  EXPECT_EQ(f.grid->ClientRect(), Rect(0, 0, 320, 104));
  EXPECT_EQ(f.grid->TopRow(), 1);
  EXPECT_EQ(f.resizes, resizes + 1);
  f.grid->SetColCount(3);
  EXPECT_FALSE(f.Bars()->Showing(sbHorizontal));
  EXPECT_EQ(f.grid->ClientRect(), Rect(0, 0, 320, 120));
  // A column widened past the edge brings its bar back; so does a smaller grid.
  f.grid->SetColWidths(2, 300);
  EXPECT_TRUE(f.Bars()->Showing(sbHorizontal));
  f.grid->SetColWidths(2, 64);
  f.grid->SetBounds(0, 0, 320, 90);
  EXPECT_TRUE(f.Bars()->Showing(sbVertical));
  EXPECT_FALSE(f.Bars()->Showing(sbHorizontal));

  // ScrollBars decides which bars may show at all.
  f.grid->SetRowCount(40);
  f.grid->SetColCount(10);
  f.grid->SetScrollBars(ssVertical);
  EXPECT_TRUE(f.Bars()->Showing(sbVertical));
  EXPECT_FALSE(f.Bars()->Showing(sbHorizontal));
  f.grid->SetScrollBars(ssNone);
  EXPECT_FALSE(f.Bars()->Showing(sbVertical));
  EXPECT_EQ(f.grid->ClientRect(), Rect(0, 0, 320, 90));
}

TEST(GridScrollBars, ArrowsTrackAndThumbMoveTheViewButNeverTheFocus) {
  GridFixture f;
  const TGridCoord focus = f.Focus();
  // An arrow: one column; at the end it stays.
  for (int left = 2; left <= 7; ++left) {
    ClickScrollBar(f.grid, sbHorizontal, spLineForward);
    EXPECT_EQ(f.grid->LeftCol(), left);
  }
  ClickScrollBar(f.grid, sbHorizontal, spLineForward);
  EXPECT_EQ(f.grid->LeftCol(), 7);
  EXPECT_TRUE(f.grid->CellRect(9, 0).Right <= f.grid->ClientWidth()) << "the last column whole";
  EXPECT_FALSE(f.grid->CellRect(0, 0).IsEmpty()) << "the fixed column stays";
  ClickScrollBar(f.grid, sbHorizontal, spLineBack);
  EXPECT_EQ(f.grid->LeftCol(), 6);

  // The track: a page of the columns that show whole, toward the press.
  f.grid->SetLeftCol(1);
  ClickScrollBar(f.grid, sbHorizontal, spPageForward);
  EXPECT_EQ(f.grid->LeftCol(), 4);
  ClickScrollBar(f.grid, sbHorizontal, spPageBack);
  EXPECT_EQ(f.grid->LeftCol(), 1);

  // The thumb dragged past the end: the last row, which shows whole.
  uitest::DragThumb(f.grid, sbVertical, 500);
  EXPECT_EQ(f.grid->TopRow(), 37);
  const TRect last = f.grid->CellRect(1, 39);
  EXPECT_TRUE(!last.IsEmpty() && last.Bottom <= f.grid->ClientHeight());
  uitest::DragThumb(f.grid, sbVertical, -500);
  EXPECT_EQ(f.grid->TopRow(), 1);
  EXPECT_EQ(f.Focus(), focus);
}

TEST(GridScrollBars, TheThumbMovesTheViewWhileDraggedOnlyWithThumbTracking) {
  for (bool tracking : {false, true}) {
    GridFixture f;
    if (tracking) f.AddOption(goThumbTracking);
    const TPoint p = ScrollBarPoint(f.grid, sbHorizontal, spThumb);
    uitest::Press(f.grid, p.X, p.Y);
    uitest::Move(f.grid, p.X + 60, p.Y, TShiftState{ssLeft});
    // 60 of the track's 272 - 90 pixels of room: 60 * 6 / 182, rounded, is 2 columns.
    EXPECT_EQ(f.grid->LeftCol(), tracking ? 3 : 1) << tracking;
    EXPECT_EQ(f.Bars()->PartRect(sbHorizontal, spThumb).Left, 16 + 60)
        << "the thumb follows the mouse either way";
    uitest::Release(f.grid, p.X + 60, p.Y);
    EXPECT_EQ(f.grid->LeftCol(), 3) << tracking;
  }
}

TEST(GridScrollBars, AHeldPressRepeatsOnItsTimerWhileThePointerStaysOnThePart) {
  GridFixture f;
  const TPoint arrow = ScrollBarPoint(f.grid, sbVertical, spLineForward);
  uitest::Press(f.grid, arrow.X, arrow.Y);
  EXPECT_EQ(f.grid->TopRow(), 2);
  TTimer* timer = f.Bars()->RepeatTimer();
  ASSERT_NE(timer, nullptr);
  EXPECT_TRUE(timer->Enabled());
  EXPECT_EQ(timer->Interval(), kScrollRepeatDelayMs);
  uitest::FireTimer(*timer);
  EXPECT_EQ(f.grid->TopRow(), 3);
  EXPECT_EQ(timer->Interval(), kScrollRepeatIntervalMs);
  uitest::FireTimer(*timer);
  EXPECT_EQ(f.grid->TopRow(), 4);
  // Off the arrow the press waits; back on it, it goes on.
  uitest::Move(f.grid, 100, 50, TShiftState{ssLeft});
  uitest::FireTimer(*timer);
  EXPECT_EQ(f.grid->TopRow(), 4);
  uitest::Move(f.grid, arrow.X, arrow.Y, TShiftState{ssLeft});
  uitest::FireTimer(*timer);
  EXPECT_EQ(f.grid->TopRow(), 5);
  uitest::Release(f.grid, arrow.X, arrow.Y);
  EXPECT_FALSE(timer->Enabled());

  // A held track press pages until the thumb has come under the pointer.
  f.grid->SetTopRow(1);
  const TRect bar = f.Bars()->BarRect(sbVertical);
  const TPoint low{bar.Left + 8, bar.Bottom - 20};
  uitest::Press(f.grid, low.X, low.Y);
  for (int i = 0; i < 40; ++i)
    uitest::FireTimer(*timer);
  EXPECT_TRUE(f.Bars()->PartRect(sbVertical, spThumb).Contains(low)) << "stopped at the pointer";
  const int top = f.grid->TopRow();
  uitest::FireTimer(*timer);
  EXPECT_EQ(f.grid->TopRow(), top);
  uitest::Release(f.grid, low.X, low.Y);
}

TEST(GridScrollBars, TheBarsTakeTheirMouseInputBeforeTheGrid) {
  GridFixture f;
  f.AddOption(goColSizing);
  const TGridCoord focus = f.Focus();
  // A double click on an arrow is two clicks: it scrolls twice and is no double click of the
  // grid's.
  const TPoint arrow = ScrollBarPoint(f.grid, sbHorizontal, spLineForward);
  uitest::DblClick(f.grid, arrow.X, arrow.Y);
  EXPECT_EQ(f.grid->LeftCol(), 3);
  EXPECT_EQ(f.dblClicks, 0);
  // The corner, the right button and a bar's press select nothing and open no menu.
  const TRect corner = f.Bars()->CornerRect();
  uitest::Click(f.grid, corner.Left + 4, corner.Top + 4);
  uitest::Click(f.grid, arrow.X, arrow.Y, mbRight);
  EXPECT_EQ(f.popups, 0);
  EXPECT_EQ(f.grid->LeftCol(), 3);
  // The vertical bar's top arrow lies beside the fixed row, where the grid sizes columns.
  const TPoint top = ScrollBarPoint(f.grid, sbVertical, spLineBack);
  uitest::Move(f.grid, top.X, top.Y);
  EXPECT_EQ(uitest::WindowOf(f.form)->Cursor, crArrow);
  uitest::Move(f.grid, 100, 50);
  EXPECT_EQ(uitest::WindowOf(f.form)->Cursor, crDefault);
  EXPECT_EQ(f.Focus(), focus);

  // A drag that began in the cells keeps its moves and release over a bar.
  uitest::Press(f.grid, 70, 30);
  uitest::Move(f.grid, arrow.X, arrow.Y, TShiftState{ssLeft});
  uitest::Release(f.grid, arrow.X, arrow.Y);
  EXPECT_EQ(f.grid->LeftCol(), 3);
  EXPECT_EQ(f.grid->Row(), 1);
}

TEST(GridScrollBars, KeysTheWheelAndScrollInViewMoveTheThumbs) {
  GridFixture f;
  const int start = f.Bars()->PartRect(sbVertical, spThumb).Top;
  // The wheel moves the focus row, as the platform's grid does; the view follows the focus.
  for (int i = 0; i < 5; ++i)
    uitest::Wheel(f.grid, 100, 50, -120);
  EXPECT_EQ(f.grid->Row(), 6);
  EXPECT_EQ(f.grid->TopRow(), 4);
  EXPECT_GT(f.Bars()->PartRect(sbVertical, spThumb).Top, start);
  // Ctrl+End scrolls the last cell into view: both thumbs at their ends.
  uitest::Key(f.form, VK_END, TShiftState{ssCtrl});
  EXPECT_EQ(f.Bars()->PartRect(sbVertical, spThumb).Bottom,
            f.Bars()->PartRect(sbVertical, spLineForward).Top);
  EXPECT_EQ(f.Bars()->PartRect(sbHorizontal, spThumb).Right,
            f.Bars()->PartRect(sbHorizontal, spLineForward).Left);
}

TEST(GridScrollBars, AFocusCellScrolledOutOfViewEndsItsEdit) {
  GridFixture f;
  f.AddOption(goEditing);
  uitest::Key(f.form, VK_F2);
  ASSERT_TRUE(f.grid->EditorMode());
  uitest::Type(f.form, "kept");
  ClickScrollBar(f.grid, sbHorizontal, spLineForward);  // column 1 goes out of view
  EXPECT_FALSE(f.grid->EditorMode());
  EXPECT_EQ(f.grid->Cells(1, 1), "kept");
  ClickScrollBar(f.grid, sbHorizontal, spLineBack);
  EXPECT_FALSE(f.grid->EditorMode()) << "scrolling back starts no edit";

  // A scroll that keeps the cell in view keeps the edit, and the editor its focus.
  f.grid->SetCol(3);
  uitest::Key(f.form, VK_F2);
  ClickScrollBar(f.grid, sbHorizontal, spLineForward);
  EXPECT_TRUE(f.grid->EditorMode());
  EXPECT_EQ(f.grid->InplaceEditor()->BoundsRect(), f.grid->CellRect(3, 1));
  uitest::Type(f.form, "more");
  EXPECT_EQ(f.grid->Cells(3, 1), "more");
}

// ---- tree views ----

// A shown 200 x 160 tree (rows 16 high) under a root with 60 children.
struct TreeFixture {
  TTestApp kit;
  TForm* form;
  TTreeView* tree;
  TTreeNode* root;
  TreeFixture() {
    kit.App.CreateForm(form);
    form->SetBounds(0, 0, 400, 300);
    tree = new TTreeView(form);
    tree->SetParent(form);
    tree->SetBounds(0, 0, 200, 160);
    root = tree->Items()->Add(nullptr, "All");
    for (int i = 0; i < 60; ++i)
      tree->Items()->AddChild(root, "host-" + std::to_string(i));
    root->Expand(false);
    form->Show();
  }
  TControlScrollBars* Bars() const { return tree->ControlScrollBars(); }
  bool Shows(TTreeNode* node) const {
    const TRect r = node->DisplayRect(false);
    return !r.IsEmpty() && r.Bottom <= tree->ClientHeight();
  }
};

TEST(TreeScrollBars, TheVerticalBarReachesTheLastNodeAndTheWheelStillScrolls) {
  TreeFixture f;
  EXPECT_TRUE(f.Bars()->Showing(sbVertical));
  EXPECT_FALSE(f.Bars()->Showing(sbHorizontal));
  EXPECT_EQ(f.tree->ClientWidth(), 200 - kScrollBarSize);
  TTreeNode* last = f.root->GetLastChild();
  EXPECT_FALSE(f.Shows(last));
  uitest::DragThumb(f.tree, sbVertical, 1000);
  EXPECT_TRUE(f.Shows(last));
  // Row 0 is the root: the last page starts at child 60 - VisibleCount.
  const int lastTop = 60 - f.tree->VisibleCount();
  EXPECT_EQ(f.tree->TopItem(), f.root->Item(lastTop));
  ClickScrollBar(f.tree, sbVertical, spLineBack);
  EXPECT_EQ(f.tree->TopItem(), f.root->Item(lastTop - 1));
  uitest::Wheel(f.tree, 50, 50, 120);
  EXPECT_EQ(f.tree->TopItem(), f.root->Item(lastTop - 4));
  // A press on the bar selects nothing and toggles nothing.
  ClickScrollBar(f.tree, sbVertical, spPageBack);
  EXPECT_EQ(f.tree->Selected(), nullptr);
  EXPECT_TRUE(f.root->Expanded());

  // Collapsed, everything fits: the bar goes.
  f.root->Collapse(false);
  EXPECT_FALSE(f.Bars()->Showing(sbVertical));
  EXPECT_EQ(f.tree->ClientWidth(), 200);
}

TEST(TreeScrollBars, TheHorizontalBarShiftsLabelsButtonsAndHitTests) {
  TreeFixture f;
  TTreeNode* wide = f.tree->Items()->AddChildFirst(f.root, std::string(40, 'w'));
  f.tree->Items()->AddChild(wide, "inner");
  ASSERT_TRUE(f.Bars()->Showing(sbHorizontal));
  // Unscrolled, the label starts two indents in and runs past the edge; x 10 is indent.
  const TRect label = wide->DisplayRect(true);
  EXPECT_EQ(label.Left, 38);
  EXPECT_GT(label.Right, f.tree->ClientWidth());
  EXPECT_TRUE(f.tree->GetHitTestInfoAt(10, label.Top + 2).Contains(htOnIndent));

  // An arrow moves an indent: the button comes under x 10, and a click there opens the node.
  ClickScrollBar(f.tree, sbHorizontal, spLineForward);
  EXPECT_EQ(f.tree->ScrollOffset(), f.tree->Indent());
  EXPECT_EQ(wide->DisplayRect(true).Left, 38 - 19);
  EXPECT_TRUE(f.tree->GetHitTestInfoAt(10, label.Top + 2).Contains(htOnButton));
  uitest::Click(f.tree, 10, label.Top + 8);
  EXPECT_TRUE(wide->Expanded());

  // At the end the widest label ends at the edge, and it is hit where it shows.
  uitest::DragThumb(f.tree, sbHorizontal, 1000);
  EXPECT_EQ(wide->DisplayRect(true).Right, f.tree->ClientWidth());
  EXPECT_EQ(f.tree->ScrollOffset(), label.Right - f.tree->ClientWidth());
  EXPECT_EQ(f.tree->GetNodeAt(10, label.Top + 2), wide);
}

// ---- memos ----

// A shown memo with a vertical bar: client 180 x 85, lines laid out 1 pixel inside, 6 of them
// showing whole (12 pixels each); 12 lines "line01" .. "line12".
struct MemoFixture {
  TTestApp kit;
  TForm* form;
  TMemo* memo;
  MemoFixture() {
    kit.App.CreateForm(form);
    form->SetBounds(0, 0, 400, 300);
    memo = new TMemo(form);
    memo->SetParent(form);
    memo->SetBounds(0, 0, 200, 89);
    memo->SetScrollBars(ssVertical);
    std::string text;
    for (int i = 1; i <= 12; ++i)
      text += std::string(i > 1 ? "\r\n" : "") + "line" + (i < 10 ? "0" : "") + std::to_string(i);
    memo->SetText(text);
    form->Show();
    memo->SetFocus();
  }
  // The caret as (line, byte in the line) of the lines of 8 bytes with their CR LF.
  std::pair<int, int> Caret() const { return {memo->SelStart() / 8, memo->SelStart() % 8}; }
  void Key(WORD key, TShiftState shift = {}) { uitest::Key(form, key, shift); }
};

TEST(MemoLines, CaretKeysMoveByLinesAndTheViewFollows) {
  MemoFixture f;
  EXPECT_EQ(f.memo->ClientRect(), Rect(0, 0, 180, 85));
  EXPECT_EQ(f.memo->VisibleLines(), 6);
  f.memo->SetSelStart(3);
  const struct {
    WORD key;
    TShiftState shift;
    std::pair<int, int> caret;
    int top;
  } steps[] = {
      {VK_DOWN, {}, {1, 3}, 0},
      {VK_NEXT, {}, {7, 3}, 6},  // a page of six lines, the view turned by a page too
      {VK_UP, {}, {6, 3}, 6},
      {VK_UP, {}, {5, 3}, 5},  // above the view: it follows
      {VK_NEXT, {}, {11, 3}, 6},
      {VK_DOWN, {}, {11, 3}, 6},  // the last line: it stays
      {VK_END, {}, {11, 6}, 6},
      {VK_UP, {}, {10, 6}, 6},
      {VK_HOME, {}, {10, 0}, 6},
      {VK_PRIOR, {}, {4, 0}, 0},
      {VK_UP, {}, {3, 0}, 0},
      {VK_END, {ssCtrl}, {11, 6}, 6},  // the text's end
      {VK_HOME, {ssCtrl}, {0, 0}, 0},
  };
  for (const auto& s : steps) {
    f.Key(s.key, s.shift);
    EXPECT_EQ(f.Caret(), s.caret) << s.key;
    EXPECT_EQ(f.memo->TopLine(), s.top) << s.key;
  }
}

TEST(MemoLines, UpAndDownKeepTheCaretsXAcrossShortAndWrappedLines) {
  MemoFixture f;
  f.memo->SetText("abcdef\r\nab\r\nabcdef");
  f.memo->SetSelStart(5);
  f.Key(VK_DOWN);
  EXPECT_EQ(f.memo->SelStart(), 10) << "the end of the short line";
  f.Key(VK_DOWN);
  EXPECT_EQ(f.memo->SelStart(), 17) << "x kept from the first line";

  // Wrapped: the lines are broken at the last blank before the right edge (29 bytes fit in the
  // 178 pixels), and the caret moves by those lines.
  f.memo->SetText(std::string(20, 'a') + " " + std::string(20, 'b') + " " + std::string(20, 'c'));
  const std::vector<TTextSpan> lines = f.memo->DisplayLines();
  ASSERT_EQ(lines, (std::vector<TTextSpan>{{0, 20}, {21, 41}, {42, 62}}));
  f.memo->SetSelStart(4);
  f.Key(VK_DOWN);
  EXPECT_EQ(f.memo->SelStart(), 25);
  f.Key(VK_END);
  EXPECT_EQ(f.memo->SelStart(), 41);
  f.Key(VK_HOME);
  EXPECT_EQ(f.memo->SelStart(), 21);
}

TEST(MemoLines, TheCaretNeverStandsBetweenCrAndLf) {
  MemoFixture f;
  f.memo->SetText("ab\r\ncd");
  f.memo->SetSelStart(3);
  EXPECT_EQ(f.memo->SelStart(), 2);
  f.Key(VK_RIGHT);
  EXPECT_EQ(f.memo->SelStart(), 4);
  f.Key(VK_LEFT);
  EXPECT_EQ(f.memo->SelStart(), 2);
  f.Key(VK_DELETE);  // the line break goes whole
  EXPECT_EQ(f.memo->Text(), "abcd");
  f.memo->SetText("ab\r\ncd");
  f.memo->SetSelStart(4);
  f.Key(VK_BACK);
  EXPECT_EQ(f.memo->Text(), "abcd");
  EXPECT_EQ(f.memo->SelStart(), 2);
}

TEST(MemoLines, TheWheelAndTheBarScrollTheLinesAndTheBarIsInactiveWhileAllShow) {
  MemoFixture f;
  TControlScrollBars* bars = f.memo->ControlScrollBars();
  EXPECT_TRUE(bars->Showing(sbVertical));
  EXPECT_TRUE(bars->Active(sbVertical));
  uitest::Wheel(f.memo, 50, 40, -120);
  EXPECT_EQ(f.memo->TopLine(), 3);
  uitest::Wheel(f.memo, 50, 40, -240);
  EXPECT_EQ(f.memo->TopLine(), 6) << "no further than the last page";
  ClickScrollBar(f.memo, sbVertical, spLineBack);
  EXPECT_EQ(f.memo->TopLine(), 5);
  EXPECT_EQ(f.memo->SelStart(), 0) << "the bar moves the view, not the caret";
  // What is painted is the lines from the top line on.
  auto painted = uitest::Paint(f.form)->Texts(f.memo);
  ASSERT_FALSE(painted.empty());
  EXPECT_EQ(painted.front(), "line06");

  f.memo->SetText("one\r\ntwo");
  EXPECT_EQ(f.memo->TopLine(), 0);
  EXPECT_TRUE(bars->Showing(sbVertical)) << "always shown";
  EXPECT_FALSE(bars->Active(sbVertical));
  ClickScrollBar(f.memo, sbVertical, spLineForward);
  EXPECT_EQ(f.memo->TopLine(), 0);

  // Without a bar the memo still scrolls with the caret and the wheel.
  f.memo->SetScrollBars(ssNone);
  EXPECT_FALSE(bars->Showing(sbVertical));
  EXPECT_EQ(f.memo->ClientWidth(), 196);
  f.memo->SetText("1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n9");
  f.Key(VK_END, TShiftState{ssCtrl});
  EXPECT_EQ(f.memo->TopLine(), 3);
  uitest::Wheel(f.memo, 50, 40, 120);
  EXPECT_EQ(f.memo->TopLine(), 0);
}

}  // namespace
