#include "platform/ui/core/grids.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/core/application.h"
#include "platform/ui/testkit/testkit.h"

namespace {

using uitest::TTestApp;

// A grid that records its virtual calls and can refuse cells.
class ProbeGrid : public TCustomGrid {
 public:
  explicit ProbeGrid(rtl::TComponent* owner) : TCustomGrid(owner) {}
  std::map<std::pair<int, int>, std::vector<TGridDrawState>> drawn;
  std::map<std::pair<int, int>, TRect> rects;
  int refuseRow = -1;
  std::vector<std::pair<int, int>> asked;

 protected:
  void DrawCell(int c, int r, const TRect& rect, TGridDrawState state) override {
    drawn[{c, r}].push_back(state);
    rects[{c, r}] = rect;
  }
  bool SelectCell(int c, int r) override {
    asked.push_back({c, r});
    return r != refuseRow;
  }
};

// A shown form with a 320 x 120 grid of 4 columns (64 wide) and 20 rows (24 high), lines 1 px:
// four columns and five rows show, the fifth in part.
struct GridFixture {
  TTestApp kit;
  TForm* form;
  ProbeGrid* grid;
  GridFixture() {
    kit.App.CreateForm(form);
    form->SetBounds(0, 0, 640, 480);
    grid = new ProbeGrid(form);
    grid->SetParent(form);
    grid->SetBounds(0, 0, 320, 120);
    grid->SetColCount(4);
    grid->SetRowCount(20);
    form->Show();
    grid->SetFocus();
  }
  void Paint() {
    grid->drawn.clear();
    uitest::Paint(form);
  }
};

TEST(Grid, DrawCellOncePerVisibleCellWithItsState) {
  GridFixture f;
  f.Paint();
  std::map<std::pair<int, int>, std::vector<TGridDrawState>> expected;
  for (int r = 0; r < 5; ++r)
    for (int c = 0; c < 4; ++c) {
      TGridDrawState s;
      if (r == 0 || c == 0) s.Include(gdFixed);
      if (r == 1 && c == 1) s.Include(gdFocused);  // focused, not drawn selected
      expected[{c, r}] = {s};
    }
  EXPECT_EQ(f.grid->drawn, expected);
  EXPECT_EQ(f.grid->rects[std::make_pair(2, 3)], Bounds(130, 75, 64, 24));

  // Row select and a focus-selected option mark the focus cell selected as well; a scrolled grid
  // draws its fixed row and then the rows from TopRow.
  f.grid->SetOptions(TGridOptions{goRowSelect});
  f.grid->SetTopRow(10);
  f.Paint();
  EXPECT_EQ(f.grid->drawn.size(), 20u);
  EXPECT_TRUE(f.grid->drawn.count({2, 13}));
  EXPECT_FALSE(f.grid->drawn.count({2, 1}));
  EXPECT_EQ(f.grid->drawn[std::make_pair(0, 10)], std::vector<TGridDrawState>{{gdFixed}});
  EXPECT_EQ(f.grid->drawn[std::make_pair(2, 10)], std::vector<TGridDrawState>{TGridDrawState{}});
  f.grid->SetRow(11);
  f.Paint();
  EXPECT_EQ(f.grid->drawn[std::make_pair(2, 11)], (std::vector<TGridDrawState>{{gdSelected}}));
  EXPECT_EQ(f.grid->drawn[std::make_pair(1, 11)],
            (std::vector<TGridDrawState>{{gdSelected, gdFocused}}));
}

TEST(Grid, MouseToCellAndCellRect) {
  GridFixture f;
  const struct {
    int x, y;
    TGridCoord cell;
  } cases[] = {
      {0, 0, {0, 0}},      {64, 24, {0, 0}},    // the grid line belongs to the cell before it
      {65, 25, {1, 1}},    {200, 110, {3, 4}},  // a row that shows in part
      {300, 10, {-1, -1}},                      // right of the last column
      {-1, 5, {-1, -1}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(f.grid->MouseCoord(c.x, c.y), c.cell) << c.x << "," << c.y;
  EXPECT_TRUE(f.grid->CellRect(1, 12).IsEmpty());  // scrolled out
  f.grid->SetTopRow(12);
  EXPECT_EQ(f.grid->CellRect(1, 12), Bounds(65, 25, 64, 24));
  EXPECT_EQ(f.grid->MouseCoord(70, 30), (TGridCoord{1, 12}));
}

TEST(Grid, SelectCellRefusalKeepsTheFocus) {
  GridFixture f;
  f.grid->refuseRow = 3;
  uitest::Click(f.grid, 140, 80);  // cell (2, 3)
  EXPECT_EQ(f.grid->Col(), 1);
  EXPECT_EQ(f.grid->Row(), 1);
  EXPECT_EQ(f.grid->asked.back(), std::make_pair(2, 3));
  uitest::Click(f.grid, 140, 55);  // cell (2, 2)
  EXPECT_EQ(f.grid->Row(), 2);
  uitest::Key(f.form, VK_DOWN);  // to row 3: refused
  EXPECT_EQ(f.grid->Row(), 2);
  f.grid->SetRow(3);
  EXPECT_EQ(f.grid->Row(), 2);
  f.grid->refuseRow = -1;
  uitest::Key(f.form, VK_DOWN);
  EXPECT_EQ(f.grid->Row(), 3);
}

TEST(Grid, KeysScrollTheFocusIntoView) {
  GridFixture f;
  const struct {
    WORD key;
    TShiftState shift;
    int row;
    int top;
  } steps[] = {
      {VK_DOWN, {}, 2, 1},        {VK_NEXT, {}, 5, 3},  // three whole rows a page
      {VK_END, {ssCtrl}, 19, 17}, {VK_UP, {}, 18, 17}, {VK_HOME, {ssCtrl}, 1, 1},
  };
  for (const auto& s : steps) {
    uitest::Key(f.form, s.key, s.shift);
    EXPECT_EQ(f.grid->Row(), s.row) << s.key;
    EXPECT_EQ(f.grid->TopRow(), s.top) << s.key;
  }
}

TEST(Grid, ColumnSizingByDragShowsTheSizingCursor) {
  GridFixture f;
  f.grid->SetOptions(TGridOptions{goColSizing, goRangeSelect});
  uitest::Move(f.grid, 129, 10);  // the right edge of column 1, in the fixed row
  EXPECT_EQ(uitest::WindowOf(f.form)->Cursor, crSizeWE);
  uitest::Move(f.grid, 100, 50);
  EXPECT_EQ(uitest::WindowOf(f.form)->Cursor, crDefault);
  uitest::Press(f.grid, 129, 10);
  uitest::Move(f.grid, 149, 10);
  uitest::Release(f.grid, 149, 10);
  EXPECT_EQ(f.grid->ColWidths(1), 84);
  EXPECT_EQ(f.grid->Col(), 1);  // sizing selects nothing
  EXPECT_THROW(f.grid->ColWidths(4), EInvalidGridOperation);
}

struct StringGridFixture {
  TTestApp kit;
  TForm* form;
  TStringGrid* grid;
  std::vector<std::string> stored;
  StringGridFixture() {
    kit.App.CreateForm(form);
    form->SetBounds(0, 0, 640, 480);
    grid = new TStringGrid(form);
    grid->SetParent(form);
    grid->SetBounds(0, 0, 320, 120);
    grid->SetColCount(3);
    grid->SetRowCount(5);
    for (int r = 0; r < 5; ++r)
      grid->SetCells(1, r, "r" + std::to_string(r));
    grid->OnSetEditText = [this](rtl::TObject*, int c, int r, const std::string& v) {
      stored.push_back(std::to_string(c) + "," + std::to_string(r) + "=" + v);
    };
    form->Show();
    grid->SetFocus();
  }
};

TEST(StringGrid, TheEditorStoresItsTextAndEscapePutsTheOldOneBack) {
  StringGridFixture f;
  f.grid->SetOptions(TGridOptions{goEditing, goRangeSelect});
  uitest::Key(f.form, VK_F2);
  ASSERT_TRUE(f.grid->EditorMode());
  EXPECT_EQ(f.grid->InplaceEditor()->Text(), "r1");
  EXPECT_EQ(f.grid->InplaceEditor()->BoundsRect(), f.grid->CellRect(1, 1));
  uitest::Type(f.form, "new");  // replaces the selected text
  uitest::Key(f.form, VK_RETURN);
  EXPECT_FALSE(f.grid->EditorMode());
  EXPECT_EQ(f.grid->Cells(1, 1), "new");
  EXPECT_EQ(f.stored.back(), "1,1=new");

  // Typing on a cell starts the editor with what was typed; Escape restores the cell.
  uitest::Key(f.form, VK_DOWN);
  uitest::Type(f.form, "x");
  ASSERT_TRUE(f.grid->EditorMode());
  EXPECT_EQ(f.grid->Cells(1, 2), "x");
  uitest::Key(f.form, VK_ESCAPE);
  EXPECT_FALSE(f.grid->EditorMode());
  EXPECT_EQ(f.grid->Cells(1, 2), "r2");

  // Moving with the editor open stores the text and opens the editor on the new cell.
  uitest::Key(f.form, VK_F2);
  uitest::Type(f.form, "y");
  uitest::Key(f.form, VK_DOWN);
  EXPECT_EQ(f.grid->Cells(1, 2), "y");
  EXPECT_EQ(f.grid->Row(), 3);
  EXPECT_TRUE(f.grid->EditorMode());
  EXPECT_EQ(f.grid->InplaceEditor()->Text(), "r3");
}

TEST(StringGrid, RowMovesAndSizeChangesKeepTheCells) {
  StringGridFixture f;
  f.grid->SetOptions(TGridOptions{goRowMoving});
  std::vector<std::pair<int, int>> moves;
  f.grid->OnRowMoved = [&](rtl::TObject*, int from, int to) { moves.push_back({from, to}); };
  // Drag the fixed cell of row 1 down to row 3.
  TRect from = f.grid->CellRect(0, 1), to = f.grid->CellRect(0, 3);
  uitest::Press(f.grid, from.Left + 3, from.Top + 3);
  uitest::Move(f.grid, to.Left + 3, to.Top + 3);
  uitest::Release(f.grid, to.Left + 3, to.Top + 3);
  EXPECT_EQ(moves, (std::vector<std::pair<int, int>>{{1, 3}}));
  std::vector<std::string> col;
  for (int r = 0; r < 5; ++r)
    col.push_back(f.grid->Cells(1, r));
  EXPECT_EQ(col, (std::vector<std::string>{"r0", "r2", "r3", "r1", "r4"}));

  f.grid->DeleteRow(2);
  EXPECT_EQ(f.grid->RowCount(), 4);
  EXPECT_EQ(f.grid->Cells(1, 2), "r1");
  f.grid->SetRowCount(6);
  EXPECT_EQ(f.grid->Cells(1, 5), "");
  EXPECT_EQ(f.grid->Cells(7, 7), "");  // outside: empty, no fault

  // The string grid draws each visible cell's text.
  auto painted = uitest::Paint(f.form);
  std::vector<std::string> texts = painted->Texts(f.grid);
  EXPECT_NE(std::find(texts.begin(), texts.end(), "r4"), texts.end());
}

TEST(StringGrid, DoubleClickAndContextPopup) {
  StringGridFixture f;
  int dbl = 0;
  TPoint popupAt{-9, -9};
  f.grid->OnDblClick = [&](rtl::TObject*) { ++dbl; };
  f.grid->OnContextPopup = [&](rtl::TObject*, TPoint p, bool&) { popupAt = p; };
  uitest::DblClick(f.grid, 100, 60);
  EXPECT_EQ(dbl, 1);
  EXPECT_EQ(f.grid->Row(), 2);
  uitest::Click(f.grid, 90, 30, mbRight);
  EXPECT_EQ(popupAt, Point(90, 30));
}

}  // namespace
