// The record grid on screen, headless: the colours and places its cells are drawn with, the sort
// mark and the ellipsis button, header clicks and the fixed-column drag, and in-place editing.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "console/controls/ksginplaceedit.h"
#include "console/controls/kstringgrid.h"
#include "platform/ui/core/application.h"
#include "platform/ui/testkit/testkit.h"

namespace {

using uitest::TPaintOp;
using uitest::TTestApp;

// A shown, focused grid with columns a, b and c (64 pixels wide) and three data rows whose cells
// read "a0", "b0", ... "c2"; the focus is on b1 (grid cell 1, 2).
struct ViewFixture {
  TTestApp kit;
  TForm* form;
  TKStringGrid* grid;
  ViewFixture() {
    kit.App.CreateForm(form);
    form->SetBounds(0, 0, 640, 480);
    grid = new TKStringGrid(form);
    grid->SetParent(form);
    grid->SetBounds(0, 0, 400, 300);
    for (const char* name : {"a", "b", "c"}) {
      TKGridColumn* column = grid->Columns()->Add();
      column->SetName(name);
      column->SetCaption(name);
    }
    grid->SetRowCount(3);
    for (int col = 0; col < 3; ++col)
      for (int row = 0; row < 3; ++row)
        grid->SetCellText(col, row, CellName(col, row));
    form->Show();
    grid->SetFocus();
    grid->SetCol(1);
    grid->SetCurrentRow(1);
  }
  static std::string CellName(int col, int row) {
    return std::string(1, static_cast<char>('a' + col)) + std::to_string(row);
  }
  TKGridColumn* Column(int col) { return grid->VisibleColumns()[col]; }
  TKSGInplaceEdit* Editor() { return static_cast<TKSGInplaceEdit*>(grid->InplaceEditor()); }
  bool Editing() { return grid->EditorMode(); }
  std::vector<std::string> Texts(int col) {
    std::vector<std::string> texts;
    for (int row = 0; row < grid->RowCount(); ++row)
      texts.push_back(grid->GetCellText(col, row));
    return texts;
  }
};

void AddOption(TKStringGrid* grid, TGridOption option) {
  TGridOptions options = grid->Options();
  options.Include(option);
  grid->SetOptions(options);
}

// What one cell was drawn with: its last fill of the whole cell and the text drawn in it.
struct TCellPaint {
  TColor fill = clNone;
  const TPaintOp* text = nullptr;
};

TCellPaint PaintedCell(const uitest::TRecordingDevice& painted, TKStringGrid* grid, int col,
                       int row, const std::string& text) {
  TCellPaint cell;
  const TRect rect = grid->CellRect(col, row);
  for (const TPaintOp& op : painted.Ops) {
    if (op.control != grid) continue;
    if (op.kind == TPaintOp::Fill && op.rect == rect) cell.fill = op.color;
    if (op.kind == TPaintOp::Text && op.text == text) cell.text = &op;
  }
  return cell;
}

// The console's record list: its colours and options.
void RecordListLook(TKStringGrid* grid) {
  grid->ActiveHeaderColor = clNone;
  grid->ActiveRowColor = clNone;
  grid->ActiveFixedColor = clNone;
  grid->ActiveHeaderFont()->SetColor(clNone);
  grid->HeaderColor = clBtnFace;
  grid->FixedColor = clBtnFace;
  grid->SelectedColor = clHighlight;
  grid->SelectedFontColor = clHighlightText;
  grid->SetOptions(TGridOptions{goFixedVertLine, goFixedHorzLine, goVertLine, goHorzLine,
                                goRangeSelect, goColSizing, goRowSelect});
}

TEST(KStringGridView, CellsTakeTheirColoursFromTheGridsLook) {
  using Setup = void (*)(TKStringGrid*);
  struct Case {
    const char* what;
    Setup setup;
    int col, row;  // grid cell; row 0 is the header
    TColor fill, text;
  } cases[] = {
      {"plain cell", nullptr, 0, 3, clWindow, clWindowText},
      {"focus row", nullptr, 0, 2, clInfoBk, clWindowText},
      {"focus cell", nullptr, 1, 2, clInfoBk, clWindowText},
      {"focus column, no colour of its own", nullptr, 1, 3, clWindow, clWindowText},
      {"focus column", [](TKStringGrid* g) { g->ActiveColColor = clYellow; }, 1, 3, clYellow,
       clWindowText},
      {"focus row font colour", [](TKStringGrid* g) { g->ActiveRowFontColor = clRed; }, 2, 2,
       clInfoBk, clRed},
      {"column colour", [](TKStringGrid* g) { g->VisibleColumns()[0]->SetColor(clLime); }, 0, 3,
       clLime, clWindowText},
      {"header", nullptr, 0, 0, clBtnFace, clWindowText},
      {"focus header", nullptr, 1, 0, clGray, clWhite},
      {"column header colour",
       [](TKStringGrid* g) { g->VisibleColumns()[0]->SetHeaderColor(clAqua); }, 0, 0, clAqua,
       clWindowText},
      {"no header colour: the column's colour",
       [](TKStringGrid* g) {
         g->HeaderColor = clNone;
         g->VisibleColumns()[2]->SetColor(clLime);
       },
       2, 0, clLime, clWindowText},
      {"no active header colours: the header's",
       [](TKStringGrid* g) {
         g->ActiveHeaderColor = clNone;
         g->ActiveHeaderFont()->SetColor(clNone);
       },
       1, 0, clBtnFace, clWindowText},
      {"fixed cell", [](TKStringGrid* g) { g->SetFixedCols(1); }, 0, 3, clBtnFace, clWindowText},
      {"fixed cell in the focus row", [](TKStringGrid* g) { g->SetFixedCols(1); }, 0, 2, clGray,
       clWhite},
      {"selected, not focused",
       [](TKStringGrid* g) {
         g->SetSelection(TGridRect{2, 3, 1, 2});
       },
       2, 3, clHighlight, clHighlightText},
      {"no selected colours: the column's",
       [](TKStringGrid* g) {
         g->SelectedColor = clNone;
         g->SelectedFontColor = clNone;
         g->VisibleColumns()[2]->SetColor(clLime);
         g->VisibleColumns()[2]->Font()->SetColor(clMaroon);
         g->SetSelection(TGridRect{2, 3, 1, 2});
       },
       2, 3, clLime, clMaroon},
      {"row selection", [](TKStringGrid* g) { AddOption(g, goRowSelect); }, 0, 2, clHighlight,
       clHighlightText},
      {"default look: the toolkit's header",
       [](TKStringGrid* g) {
         g->DefaultLook = true;
         g->HeaderColor = clAqua;
       },
       0, 0, clBtnFace, clWindowText},
      {"default look: no focus row colour", [](TKStringGrid* g) { g->DefaultLook = true; }, 0, 2,
       clWindow, clWindowText},
      {"default look: the toolkit's selection",
       [](TKStringGrid* g) {
         g->DefaultLook = true;
         g->SelectedColor = clRed;
         g->SetSelection(TGridRect{2, 3, 1, 2});
       },
       2, 3, clHighlight, clHighlightText},
      {"record list: focus row", RecordListLook, 0, 2, clHighlight, clHighlightText},
      {"record list: focus header", RecordListLook, 1, 0, clBtnFace, clWindowText},
      {"record list: other row", RecordListLook, 2, 3, clWindow, clWindowText},
  };
  for (const Case& c : cases) {
    ViewFixture f;
    if (c.setup) c.setup(f.grid);
    auto painted = uitest::Paint(f.form);
    const std::string text =
        c.row == 0 ? f.Column(c.col)->Caption() : ViewFixture::CellName(c.col, c.row - 1);
    TCellPaint cell = PaintedCell(*painted, f.grid, c.col, c.row, text);
    EXPECT_EQ(cell.fill, c.fill) << c.what;
    ASSERT_NE(cell.text, nullptr) << c.what;
    EXPECT_EQ(cell.text->font.Color, c.text) << c.what;
  }
}

TEST(KStringGridView, TextsArePlacedByAlignmentAndCentredVertically) {
  ViewFixture f;
  // 6 pixels a byte, 12 high: "a2" is 12 x 12 in a 64 x 18 cell.
  struct Case {
    TAlignment alignment;
    int left;  // from the cell's left edge
  } cases[] = {{taLeftJustify, 3}, {taRightJustify, 64 - 12 - 3}, {taCenter, (64 - 12) / 2}};
  for (const Case& c : cases) {
    f.Column(0)->Alignment = c.alignment;
    auto painted = uitest::Paint(f.form);
    const TRect cell = f.grid->CellRect(0, 3);
    TCellPaint drawn = PaintedCell(*painted, f.grid, 0, 3, "a2");
    ASSERT_NE(drawn.text, nullptr);
    EXPECT_EQ(drawn.text->rect.Left - cell.Left, c.left) << c.alignment;
    EXPECT_EQ(drawn.text->rect.Top - cell.Top, (18 - 12) / 2) << c.alignment;
    // The header caption follows the column's alignment too.
    TCellPaint header = PaintedCell(*painted, f.grid, 0, 0, "a");
    ASSERT_NE(header.text, nullptr);
    EXPECT_EQ(header.text->rect.Left, c.alignment == taLeftJustify    ? 3
                                      : c.alignment == taRightJustify ? 64 - 6 - 3
                                                                      : (64 - 6) / 2);
  }

  // Props from OnGetCellProps win; a multi-line cell shows its storage form.
  f.grid->OnGetCellProps = [](rtl::TObject*, int col, int row, TKCellProps& props) {
    if (col == 2 && row == 2) {
      props.Color = clFuchsia;
      props.Alignment = taRightJustify;
    }
  };
  f.grid->SetCellText(2, 2, "x y\r\nz");
  auto painted = uitest::Paint(f.form);
  TCellPaint cell = PaintedCell(*painted, f.grid, 2, 3, "\"x y\",z");
  EXPECT_EQ(cell.fill, clFuchsia);
  ASSERT_NE(cell.text, nullptr);
  EXPECT_EQ(cell.text->rect.Right, f.grid->CellRect(2, 3).Right - 3);
}

TEST(KStringGridView, AnEmptyGridDrawsNoCellTextsAndAGridWithoutColumnsNothing) {
  ViewFixture f;
  f.grid->ClearRows();
  auto painted = uitest::Paint(f.form);
  EXPECT_EQ(painted->Texts(f.grid), (std::vector<std::string>{"a", "b", "c"}));

  for (int i = 2; i >= 0; --i)
    f.Column(i)->SetVisible(false);
  painted = uitest::Paint(f.form);
  EXPECT_TRUE(painted->Texts(f.grid).empty());
  for (const TPaintOp& op : painted->OpsOf(f.grid))
    EXPECT_NE(op.kind, TPaintOp::Polygon);
}

TEST(KStringGridView, SortMarksSitAtTheRightEndOfTheHeader) {
  ViewFixture f;
  f.Column(0)->SetWidth(100);
  f.grid->SetCol(2);
  struct Mark {
    TColumnSorting order;
    std::vector<TPoint> points;
    TPoint lightFrom, lightTo;
  } marks[] = {
      // x = 100 - 20, y = 0 + 10
      {csAsc,
       {Point(80, 10), Point(80, 9), Point(84, 5), Point(88, 9), Point(88, 10)},
       Point(80, 9),
       Point(84, 5)},
      {csDsc,
       {Point(80, 5), Point(88, 5), Point(88, 6), Point(84, 10), Point(80, 6)},
       Point(80, 6),
       Point(84, 10)},
  };
  for (const Mark& m : marks) {
    f.Column(0)->SetSortOrder(m.order);
    TColor brushAfter = clNone, penAfter = clNone;
    f.grid->OnDrawHeader = [&](rtl::TObject*, int col, const TRect&, TGridDrawState) {
      if (col != 0) return;
      brushAfter = f.grid->Canvas()->Brush()->Color();
      penAfter = f.grid->Canvas()->Pen()->Color();
    };
    auto painted = uitest::Paint(f.form);
    const auto ops = painted->OpsOf(f.grid);
    size_t caption = ops.size(), box = ops.size(), triangle = ops.size(), light = ops.size();
    for (size_t i = 0; i < ops.size(); ++i) {
      const TPaintOp& op = ops[i];
      if (op.kind == TPaintOp::Text && op.text == "a") caption = i;
      if (op.kind == TPaintOp::Fill && op.rect == TRect{77, 2, 99, 16}) box = i;
      if (op.kind == TPaintOp::Polygon) triangle = i;
      if (op.kind == TPaintOp::Line && op.color == clWhite) light = i;
    }
    ASSERT_LT(triangle, ops.size()) << m.order;
    ASSERT_LT(light, ops.size()) << m.order;
    ASSERT_LT(box, ops.size()) << m.order;
    EXPECT_LT(caption, box) << "the box covers the caption";
    EXPECT_EQ(ops[box].color, clBtnFace);
    EXPECT_EQ(ops[triangle].points, m.points) << m.order;
    EXPECT_EQ(ops[triangle].color, clSilver);
    EXPECT_EQ(ops[triangle].outline, clBlack);
    EXPECT_EQ(ops[light].points, (std::vector<TPoint>{m.lightFrom, m.lightTo})) << m.order;
    EXPECT_EQ(brushAfter, clBtnFace) << "brush restored";
    EXPECT_NE(penAfter, clWhite) << "pen restored";
  }
}

TEST(KStringGridView, TheEllipsisButtonShowsInTheFocusCellThatAsksForIt) {
  ViewFixture f;
  f.grid->SetCellFlags(1, 1, kCellButton);
  uitest::Paint(f.form);
  TControl* button = f.grid->EllipsisButton();
  ASSERT_NE(button, nullptr);
  EXPECT_TRUE(button->Visible());
  // Right end of the 64 x 18 cell, a pixel below its top, 16 pixels square.
  const TRect cell = f.grid->CellRect(1, 2);
  EXPECT_EQ(button->BoundsRect(), Bounds(cell.Right - 16, cell.Top + 1, 16, 16));
  // Three middle dots in a Western font.
  auto painted = uitest::Paint(f.form);
  ASSERT_EQ(painted->Texts(button), (std::vector<std::string>{"\xB7\xB7\xB7"}));
  for (const TPaintOp& op : painted->OpsOf(button))
    if (op.kind == TPaintOp::Text) {
      EXPECT_EQ(op.font.Name, "Arial");
      EXPECT_EQ(op.font.Charset, ANSI_CHARSET);
    }

  // Another focus cell takes it away; so do scrolling and clearing.
  f.grid->SetCurrentRow(2);
  EXPECT_FALSE(button->Visible());
  f.grid->SetCurrentRow(1);
  uitest::Paint(f.form);
  EXPECT_TRUE(button->Visible());
  f.grid->ClearRows();
  EXPECT_FALSE(button->Visible());
}

TEST(KStringGridView, TheButtonNeedsAnUnlockedCellWideEnoughForIt) {
  struct Case {
    const char* what;
    uint32_t flags;
    int width;
    bool shown;
  } cases[] = {{"locked", kCellButton | kCellLocked, 64, false},
               {"narrow", kCellButton, 18, false},
               {"just room: 16 + 3", kCellButton, 19, true}};
  for (const Case& c : cases) {
    ViewFixture f;
    f.Column(1)->SetWidth(c.width);
    f.grid->SetCellFlags(1, 1, c.flags);
    uitest::Paint(f.form);
    const TControl* button = f.grid->EllipsisButton();
    EXPECT_EQ(button && button->Visible(), c.shown) << c.what;
  }
}

TEST(KStringGridView, ClickingTheButtonOrEnterFiresOnButtonClick) {
  ViewFixture f;
  f.grid->SetCellFlags(1, 1, kCellButton);
  int clicks = 0;
  bool keepFlag = true;
  f.grid->OnButtonClick = [&](rtl::TObject*) {
    ++clicks;
    if (!keepFlag) f.grid->SetCellFlags(1, 1, 0);
  };
  uitest::Paint(f.form);
  TControl* button = f.grid->EllipsisButton();
  uitest::Click(button, 5, 5);
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(button->Visible()) << "the cell keeps its flag";

  // Enter, even with a default button on the form.
  TButton* ok = new TButton(f.form);
  ok->SetParent(f.form);
  ok->SetBounds(500, 400, 75, 25);
  ok->Default = true;
  int okClicks = 0;
  ok->OnClick = [&](rtl::TObject*) { ++okClicks; };
  f.grid->SetFocus();
  keepFlag = false;
  uitest::Key(f.grid, VK_RETURN);
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(okClicks, 0);
  EXPECT_FALSE(button->Visible()) << "the handler took the flag away";
}

TEST(KStringGridView, HeaderClicksSortAscendingThenDescending) {
  ViewFixture f;
  f.grid->SetCellText(0, 0, "b");
  f.grid->SetCellText(0, 1, "c");
  f.grid->SetCellText(0, 2, "a");
  std::vector<int> clicked;
  f.grid->OnHeaderClick = [&](rtl::TObject*, int col) { clicked.push_back(col); };
  const int row = f.grid->CurrentRow();

  uitest::Click(f.grid, 30, 5);
  EXPECT_EQ(f.Column(0)->SortOrder(), csAsc);
  EXPECT_EQ(f.Texts(0), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(f.grid->CurrentRow(), row) << "a header press selects no cell";
  uitest::Click(f.grid, 30, 5);
  EXPECT_EQ(f.Column(0)->SortOrder(), csDsc);
  EXPECT_EQ(f.Texts(0), (std::vector<std::string>{"c", "b", "a"}));
  uitest::Click(f.grid, 100, 5);  // column b clears a's mark
  EXPECT_EQ(f.Column(0)->SortOrder(), csNone);
  EXPECT_EQ(f.Column(1)->SortOrder(), csAsc);
  EXPECT_EQ(clicked, (std::vector<int>{0, 0, 1}));

  // Released over another column, or below the header: no click.
  uitest::Press(f.grid, 30, 5);
  uitest::Release(f.grid, 160, 5);
  uitest::Press(f.grid, 30, 5);
  uitest::Release(f.grid, 30, 40);
  // Pressed on the line between two columns: no column holds the point.
  uitest::Press(f.grid, 64, 5);
  uitest::Release(f.grid, 64, 5);
  EXPECT_EQ(f.Column(0)->SortOrder(), csNone);
  EXPECT_EQ(clicked.size(), 3u);

  // Without AutoSort a click only reports.
  f.grid->AutoSort = false;
  uitest::Click(f.grid, 30, 5);
  EXPECT_EQ(f.Column(0)->SortOrder(), csNone);
  EXPECT_EQ(f.Column(1)->SortOrder(), csAsc);
  EXPECT_EQ(clicked.back(), 0);
}

TEST(KStringGridView, AHeaderClickOnAPartlyShownColumnScrollsOneColumn) {
  ViewFixture f;
  f.grid->SetBounds(0, 0, 160, 300);  // a and b whole, c cut
  ASSERT_EQ(f.grid->LeftCol(), 0);
  uitest::Click(f.grid, 150, 5);
  EXPECT_EQ(f.Column(2)->SortOrder(), csAsc);
  EXPECT_EQ(f.grid->LeftCol(), 1);
}

TEST(KStringGridView, MovingDuringAHeaderPressHandsItToTheGrid) {
  ViewFixture f;
  AddOption(f.grid, goColMoving);
  std::vector<std::pair<int, int>> moved;
  f.grid->OnColumnMoved = [&](rtl::TObject*, int from, int to) { moved.push_back({from, to}); };
  uitest::Press(f.grid, 30, 5);
  uitest::Move(f.grid, 100, 5);
  uitest::Release(f.grid, 100, 5);
  EXPECT_EQ(moved, (std::vector<std::pair<int, int>>{{0, 1}}));
  EXPECT_EQ(f.Column(0)->Name(), "b");
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(f.Column(i)->SortOrder(), csNone) << "moving is not clicking";
}

TEST(KStringGridView, AFixedColumnIsSizedFromItsHeaderDownToOnePixel) {
  ViewFixture f;
  f.grid->SetFixedCols(1);
  const TKGridColumn* fixed = f.Column(0);
  EXPECT_EQ(f.grid->CursorAt(Point(62, 5)), crHSplit);
  EXPECT_NE(f.grid->CursorAt(Point(62, 30)), crHSplit) << "only in the header";
  EXPECT_NE(f.grid->CursorAt(Point(100, 5)), crHSplit) << "only fixed columns";

  uitest::Press(f.grid, 62, 5);
  uitest::Move(f.grid, 82, 5);
  EXPECT_EQ(fixed->Width(), 84);
  EXPECT_EQ(f.grid->ColWidths(0), 84);
  uitest::Move(f.grid, 0, 5);
  EXPECT_EQ(fixed->Width(), 2);
  uitest::Move(f.grid, -50, 5);
  EXPECT_EQ(fixed->Width(), 1);
  uitest::Release(f.grid, -50, 5);
  uitest::Move(f.grid, 200, 5);
  EXPECT_EQ(fixed->Width(), 1) << "the release ended the drag";
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(f.Column(i)->SortOrder(), csNone);
}

// Editing fixtures: goEditing on.
struct EditFixture : ViewFixture {
  std::vector<std::string> set, cancelled;
  EditFixture() {
    AddOption(grid, goEditing);
    grid->OnSetEditText = [this](rtl::TObject*, int col, int row, const std::string& value) {
      set.push_back(CellName(col, row) + "=" + value);
    };
    grid->OnCancelEdit = [this](rtl::TObject*, int col, int row, const std::string& value) {
      cancelled.push_back(CellName(col, row) + "=" + value);
    };
  }
};

TEST(KStringGridView, AnEditFiresOnSetEditTextAndIsStored) {
  EditFixture f;
  f.grid->OnGetEditText = [](rtl::TObject*, int, int, std::string& text) { text += "!"; };
  uitest::Key(f.grid, VK_F2);
  ASSERT_TRUE(f.Editing());
  EXPECT_EQ(f.Editor()->Text(), "b1!");
  EXPECT_EQ(f.Editor()->SelLength(), 3) << "all selected on show";
  uitest::Type(f.grid, "new");
  uitest::Key(f.grid, VK_RETURN);
  EXPECT_FALSE(f.Editing());
  EXPECT_EQ(f.grid->GetCellText(1, 1), "new");
  EXPECT_EQ(f.set, (std::vector<std::string>{"b1=new"}));
  EXPECT_TRUE(f.cancelled.empty());
}

// A read-only column, a locked or a button cell shows no editor, whether asked by F2, Enter,
// typing or a press; Enter on a locked cell is swallowed.
TEST(KStringGridView, SomeCellsAreNotEdited) {
  struct Case {
    const char* what;
    void (*setup)(EditFixture&);
  } closed[] = {
      {"read-only", [](EditFixture& g) { g.Column(1)->ReadOnly = true; }},
      {"locked", [](EditFixture& g) { g.grid->SetCellFlags(1, 1, kCellLocked); }},
      {"button", [](EditFixture& g) { g.grid->SetCellFlags(1, 1, kCellButton); }},
  };
  for (const Case& c : closed) {
    EditFixture g;
    c.setup(g);
    uitest::Key(g.grid, VK_F2);
    uitest::Key(g.grid, VK_RETURN);
    uitest::Type(g.grid, "x");
    uitest::Click(g.grid, g.grid->CellRect(1, 2).Left + 5, g.grid->CellRect(1, 2).Top + 5);
    EXPECT_FALSE(g.Editing()) << c.what;
    EXPECT_EQ(g.grid->GetCellText(1, 1), "b1") << c.what;
  }
}

TEST(KStringGridView, EscapePutsTheTextBackAndFiresOnCancelEdit) {
  EditFixture f;
  uitest::Key(f.grid, VK_F2);
  uitest::Type(f.grid, "typed");
  EXPECT_EQ(f.grid->GetCellText(1, 1), "typed");
  uitest::Key(f.grid, VK_ESCAPE);
  EXPECT_FALSE(f.Editing());
  EXPECT_EQ(f.grid->GetCellText(1, 1), "b1");
  EXPECT_EQ(f.set, (std::vector<std::string>{"b1=typed"})) << "the restore fires nothing";
  EXPECT_EQ(f.cancelled, (std::vector<std::string>{"b1=b1"}));

  // Ctrl+Escape fires no OnCancelEdit.
  uitest::Key(f.grid, VK_F2);
  uitest::Type(f.grid, "kept");
  uitest::Key(f.grid, VK_ESCAPE, TShiftState{ssCtrl});
  EXPECT_EQ(f.cancelled.size(), 1u);
}

TEST(KStringGridView, AMultiLineCellIsEditedInABoxWhereEnterMakesANewLine) {
  EditFixture f;
  f.grid->SetBounds(0, 0, 400, 90);  // rows at 0, 19, 38, 57: the box must move up
  f.grid->SetCurrentRow(2);
  f.grid->SetCellText(1, 2, "one\r\ntwo");
  uitest::Key(f.grid, VK_F2);
  ASSERT_TRUE(f.Editing());
  TKSGInplaceEdit* editor = f.Editor();
  EXPECT_TRUE(editor->MultiLine());
  EXPECT_EQ(editor->Text(), "one\r\ntwo");
  EXPECT_EQ(editor->Height(), 100);
  EXPECT_EQ(editor->Top(), 0) << "moved up, but not above the grid";

  uitest::Key(f.grid, VK_END);
  uitest::Key(f.grid, VK_RETURN);
  uitest::Type(f.grid, "three");
  uitest::Key(f.grid, VK_DOWN);  // stays in the editor
  EXPECT_TRUE(f.Editing());
  EXPECT_EQ(f.grid->CurrentRow(), 2);
  EXPECT_EQ(f.grid->GetCellText(1, 2), "one\r\ntwo\r\nthree");
  // A typed line feed ends the editing; Ctrl+Enter too.
  char lf = '\n';
  editor->DispatchKeyPress(lf);
  EXPECT_FALSE(f.Editing());
  uitest::Key(f.grid, VK_F2);
  uitest::Key(f.grid, VK_RETURN, TShiftState{ssCtrl});
  EXPECT_FALSE(f.Editing());
  EXPECT_EQ(f.grid->GetCellText(1, 2), "one\r\ntwo\r\nthree");
}

// Twelve lines in a cell: the editor's caret moves by lines, its view follows and so does its bar
// (always shown over a multi-line cell).
TEST(KStringGridView, AMultiLineEditorMovesByLinesAndItsBarFollows) {
  EditFixture f;
  f.grid->SetBounds(0, 0, 400, 200);
  std::string text;
  for (int i = 1; i <= 12; ++i)
    text += std::string(i > 1 ? "\r\n" : "") + "l" + (i < 10 ? "0" : "") + std::to_string(i);
  f.grid->SetCellText(1, 1, text);
  uitest::Key(f.grid, VK_F2);
  ASSERT_TRUE(f.Editing());
  TKSGInplaceEdit* editor = f.Editor();
  TControlScrollBars* bars = editor->ControlScrollBars();
  ASSERT_TRUE(bars->Showing(sbVertical));
  ASSERT_TRUE(bars->Active(sbVertical));
  // 100 high less its border and top inset: 97 pixels, 8 lines of 12.
  EXPECT_EQ(editor->VisibleLines(), 8);
  const auto line = [&] { return editor->SelStart() / 5; };  // "lNN" and CR LF
  uitest::Key(f.grid, VK_HOME, TShiftState{ssCtrl});
  const int thumbTop = bars->PartRect(sbVertical, spThumb).Top;
  const struct {
    WORD key;
    int line, top;
  } steps[] = {{VK_DOWN, 1, 0}, {VK_NEXT, 9, 4},  {VK_DOWN, 10, 4},
               {VK_UP, 9, 4},   {VK_PRIOR, 1, 0}, {VK_UP, 0, 0}};
  for (const auto& s : steps) {
    uitest::Key(f.grid, s.key);
    EXPECT_EQ(line(), s.line) << s.key;
    EXPECT_EQ(editor->TopLine(), s.top) << s.key;
    if (s.key == VK_NEXT) {
      EXPECT_EQ(bars->PartRect(sbVertical, spThumb).Bottom,
                bars->PartRect(sbVertical, spLineForward).Top);
    }
  }
  EXPECT_EQ(bars->PartRect(sbVertical, spThumb).Top, thumbTop);
  EXPECT_TRUE(f.Editing());
  EXPECT_EQ(f.grid->CurrentRow(), 1) << "the keys stayed in the editor";
  // The wheel and the bar scroll the lines; the caret stays.
  uitest::Wheel(editor, 5, 5, -120);
  EXPECT_EQ(editor->TopLine(), 3);
  uitest::ClickScrollBar(editor, sbVertical, spLineForward);
  EXPECT_EQ(editor->TopLine(), 4);
  EXPECT_EQ(line(), 0);
  EXPECT_TRUE(f.Editing());
}

TEST(KStringGridView, CtrlEnterMakesTheCellMultiLineAndOpensTheEditor) {
  EditFixture f;
  uitest::Key(f.grid, VK_RETURN, TShiftState{ssCtrl});
  EXPECT_EQ(f.grid->GetCellFlags(1, 1), kCellMultiLine);
  ASSERT_TRUE(f.Editing());
  EXPECT_TRUE(f.Editor()->MultiLine());
  uitest::Key(f.grid, VK_END);
  uitest::Key(f.grid, VK_RETURN);
  uitest::Type(f.grid, "x");
  EXPECT_EQ(f.grid->GetCellText(1, 1), "b1\r\nx");
}

TEST(KStringGridView, CtrlEnterOnAButtonCellClicksTheButton) {
  EditFixture g;
  g.grid->SetCellFlags(1, 1, kCellButton);
  int clicks = 0;
  g.grid->OnButtonClick = [&](rtl::TObject*) { ++clicks; };
  uitest::Key(g.grid, VK_RETURN, TShiftState{ssCtrl});
  EXPECT_EQ(g.grid->GetCellFlags(1, 1), kCellButton);
  EXPECT_EQ(clicks, 1);
}

TEST(KStringGridView, SelectionChangesInTheEditorFireOnSelChange) {
  EditFixture f;
  int changes = 0;
  f.grid->OnSelChange = [&](rtl::TObject*) { ++changes; };
  uitest::Key(f.grid, VK_F2);
  uitest::Key(f.grid, VK_SHIFT);  // "b1" selected: a change from nothing
  EXPECT_EQ(changes, 1);
  uitest::Move(f.Editor(), 3, 3);
  EXPECT_EQ(changes, 1) << "the same length";
  uitest::Key(f.grid, VK_END);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(f.Editor()->SelLength(), 0);
}

TEST(KStringGridView, ContextPopupReportsScreenPointsBeforeTheDefaultHandling) {
  ViewFixture f;
  f.form->SetBounds(100, 50, 640, 480);
  std::vector<TPoint> points;
  f.grid->OnContextPopup = [&](rtl::TObject*, int x, int y) { points.push_back(Point(x, y)); };
  bool defaultRan = false;
  f.grid->TControl::OnContextPopup = [&](rtl::TObject*, TPoint, bool&) {
    defaultRan = points.size() == 1;
  };
  bool handled = false;
  f.grid->DispatchContextPopup(Point(-1, -1), handled);  // from the keyboard
  EXPECT_TRUE(defaultRan);
  f.grid->DispatchContextPopup(Point(10, 20), handled);
  const TRect focus = f.grid->CellRect(1, 2);
  EXPECT_EQ(points, (std::vector<TPoint>{f.grid->ClientToScreen(focus.TopLeft()),
                                         f.grid->ClientToScreen(Point(10, 20))}));
}

}  // namespace
