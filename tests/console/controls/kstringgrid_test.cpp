#include "console/controls/kstringgrid.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "console/controls/delimtable.h"
#include "console/controls/gridtext.h"
#include "platform/ui/core/application.h"
#include "platform/ui/testkit/testkit.h"
#include "rtl/cp932.h"
#include "tests/console/controls/records_fixture.h"

namespace {

using uitest::TTestApp;

// A shown form with a 400 x 300 grid; Add gives it named columns.
struct GridFixture {
  TTestApp kit;
  TForm* form;
  TKStringGrid* grid;
  GridFixture() {
    kit.App.CreateForm(form);
    form->SetBounds(0, 0, 640, 480);
    grid = new TKStringGrid(form);
    grid->SetParent(form);
    grid->SetBounds(0, 0, 400, 300);
    form->Show();
    grid->SetFocus();
  }
  TKGridColumn* Add(const std::string& name) {
    TKGridColumn* c = grid->Columns()->Add();
    c->SetName(name);
    c->SetCaption(name);
    return c;
  }
  // Fills column col with one row per text, top to bottom, the way the viewer does: each new row
  // inserted at row 0.
  void Fill(const std::string& column, const std::vector<std::string>& texts) {
    for (auto it = texts.rbegin(); it != texts.rend(); ++it) {
      grid->InsertRow(0);
      grid->Columns()->FindByName(column)->SetRowText(0, *it);
    }
  }
  std::vector<std::string> Column(int col) {
    std::vector<std::string> texts;
    for (int r = 0; r < grid->RowCount(); ++r)
      texts.push_back(grid->GetCellText(col, r));
    return texts;
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (int i = 0; i < grid->VisibleColumns().Count(); ++i)
      names.push_back(grid->VisibleColumns()[i]->Name());
    return names;
  }
};

// The text of the error f raises, or "" when it raises none.
template <class E, class F>
std::string ErrorOf(F f) {
  try {
    f();
  } catch (const E& e) {
    return e.Message;
  }
  return "";
}

TEST(KStringGrid, NewGridIsEmptyButShowsOneBlankRow) {
  GridFixture f;
  EXPECT_EQ(f.grid->RowCount(), 0);
  EXPECT_EQ(f.grid->CurrentRow(), -1);
  EXPECT_EQ(f.grid->CurrentCol(), -1);
  EXPECT_EQ(f.grid->TCustomGrid::RowCount(), 2);
  EXPECT_EQ(f.grid->DefaultRowHeight(), 18);
  EXPECT_EQ(f.grid->ActiveColumn(), nullptr);

  TKGridColumn* a = f.Add("a");
  EXPECT_EQ(f.grid->ActiveColumn(), a);
  EXPECT_EQ(f.grid->CurrentCol(), 0);
  EXPECT_EQ(f.grid->GetCellFlags(0, 0), 0u);  // empty: no flags, no error
  EXPECT_EQ(ErrorOf<EKGridError>([&] { f.grid->GetCellText(0, 0); }), "Wrong row index");
  EXPECT_EQ(f.grid->TCustomGrid::RowCount(), 2);
}

TEST(KStringGrid, RowsInsertedAtTheTopPushTheOthersDown) {
  GridFixture f;
  f.Add("a");
  int one = 1, two = 2;
  f.grid->InsertRow(0);
  f.grid->SetCellText(0, 0, "first");
  f.grid->SetRowData(0, &one);
  f.grid->InsertRow(0);
  f.grid->SetCellText(0, 0, "second");
  f.grid->SetRowData(0, &two);
  EXPECT_EQ(f.Column(0), (std::vector<std::string>{"second", "first"}));
  EXPECT_EQ(f.grid->RowData(1), &one);
  EXPECT_EQ(f.grid->TCustomGrid::RowCount(), 3);
  EXPECT_EQ(f.grid->CurrentRow(), 0);

  // A column added now has an empty cell in every row.
  f.Add("b");
  EXPECT_EQ(f.Column(1), (std::vector<std::string>{"", ""}));
  EXPECT_EQ(f.grid->ColCount(), 2);

  f.grid->ClearRows();
  EXPECT_EQ(f.grid->RowCount(), 0);
  EXPECT_EQ(f.grid->TCustomGrid::RowCount(), 2);
  f.grid->SetRowCount(3);
  EXPECT_EQ(f.Column(0), (std::vector<std::string>{"", "", ""}));
  f.grid->SetRowCount(1);
  EXPECT_EQ(f.grid->RowCount(), 1);
}

TEST(KStringGrid, ColumnNamesAreUniqueWithoutRegardToAsciiCase) {
  GridFixture f;
  TKGridColumn* date = f.Add("Date");
  TKGridColumn* host = f.Add("Host");
  EXPECT_EQ(ErrorOf<EKGridColumnsError>([&] { host->SetName("DATE"); }),
            "Column name \"DATE\" already exists");
  EXPECT_EQ(host->Name(), "Host");
  EXPECT_EQ(f.grid->Columns()->FindByName("hOST"), host);
  EXPECT_EQ(f.grid->Columns()->FindByName("date"), date);
  EXPECT_EQ(f.grid->Columns()->FindByName("Dates"), nullptr);

  // Double-byte names differ in their trail bytes "A" and "a", which are never folded.
  const std::string a = rtl::Utf8ToCp932("ア"), di = rtl::Utf8ToCp932("ヂ");
  date->SetName(a);
  EXPECT_NO_THROW(host->SetName(di));
  EXPECT_EQ(f.grid->Columns()->FindByName(di), host);
}

TEST(KStringGrid, FixedColumnsAreCutToTheVisibleOnes) {
  GridFixture f;
  f.grid->SetFixedCols(3);
  TKGridColumn* a = f.Add("a");
  TKGridColumn* b = f.Add("b");
  EXPECT_EQ(f.grid->FixedCols(), 3);
  EXPECT_EQ(f.grid->TCustomGrid::FixedCols(), 1);
  f.Add("c");
  f.Add("d");
  f.Add("e");
  EXPECT_EQ(f.grid->TCustomGrid::FixedCols(), 3);
  a->SetVisible(false);
  EXPECT_EQ(f.grid->TCustomGrid::FixedCols(), 3);
  for (int i = 1; i < 5; ++i)
    f.grid->Columns()->Items(i)->SetVisible(false);
  EXPECT_EQ(f.grid->TCustomGrid::FixedCols(), 0);
  EXPECT_EQ(f.grid->CurrentCol(), -1);
  b->SetVisible(true);
  EXPECT_EQ(f.grid->TCustomGrid::FixedCols(), 0);
}

TEST(KStringGrid, BadIndicesRaiseAndChangeNothing) {
  GridFixture f;
  f.Add("a");
  f.Fill("a", {"r0", "r1", "r2"});
  const std::vector<std::string> rows = f.Column(0);
  struct Case {
    const char* what;
    std::function<void()> call;
    const char* error;
  } cases[] = {
      {"column beyond the visible ones", [&] { f.grid->GetCellText(1, 0); }, "Wrong column index"},
      {"column checked before row", [&] { f.grid->SetCellText(-1, 9, "x"); }, "Wrong column index"},
      {"row past the end", [&] { f.grid->GetCellText(0, 3); }, "Wrong row index"},
      {"negative row", [&] { f.grid->SetCellFlags(0, -1, kCellLocked); }, "Wrong row index"},
      {"first above last", [&] { f.grid->DeleteRows(2, 1); }, "Wrong row index"},
      {"last past the end", [&] { f.grid->DeleteRows(0, 3); }, "Wrong row index"},
      {"negative first", [&] { f.grid->DeleteRow(-1); }, "Wrong row index"},
      {"exchange past the end", [&] { f.grid->ExchangeRows(0, 3); }, "Wrong row index"},
      {"insert past the end", [&] { f.grid->InsertRow(4); }, "Wrong row index"},
      {"column read past its rows", [&] { f.grid->Columns()->Items(0)->GetRowText(3); },
       "Wrong row index"},
      {"negative display position", [&] { f.grid->Columns()->Items(0)->SetDisplayPosition(-1); },
       "Wrong column index"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ErrorOf<EKGridError>(c.call), c.error) << c.what;
    EXPECT_EQ(f.Column(0), rows) << c.what;
  }
  f.grid->SetCurrentRow(1);
  f.grid->SetCurrentRow(3);  // ignored
  f.grid->SetCurrentRow(-1);
  EXPECT_EQ(f.grid->CurrentRow(), 1);
  f.grid->SetRowCount(-5);
  EXPECT_EQ(f.grid->RowCount(), 0);
  EXPECT_EQ(f.grid->CurrentRow(), -1);
}

TEST(KStringGrid, RowsMoveWholeWithTheirFlagsAndPointers) {
  GridFixture f;
  f.Add("a");
  f.Add("b");
  f.Fill("a", {"0", "1", "2", "3"});
  int data[4];
  for (int r = 0; r < 4; ++r)
    f.grid->SetRowData(r, &data[r]);
  f.grid->SetCellFlags(1, 0, kCellLocked | kCellButton);

  f.grid->ExchangeRows(0, 2);
  EXPECT_EQ(f.Column(0), (std::vector<std::string>{"2", "1", "0", "3"}));
  EXPECT_EQ(f.grid->GetCellFlags(1, 2), kCellLocked | kCellButton);
  EXPECT_EQ(f.grid->RowData(2), &data[0]);

  std::vector<std::pair<int, int>> moved;
  f.grid->OnRowMoved = [&](rtl::TObject*, int from, int to) { moved.push_back({from, to}); };
  f.grid->MoveRow(1, 3);  // grid rows: data row 0 goes down to data row 2
  EXPECT_EQ(f.Column(0), (std::vector<std::string>{"1", "0", "2", "3"}));
  EXPECT_EQ(f.grid->RowData(2), &data[2]);
  f.grid->MoveRow(4, 1);  // data row 3 up to the top
  EXPECT_EQ(f.Column(0), (std::vector<std::string>{"3", "1", "0", "2"}));
  EXPECT_EQ(moved, (std::vector<std::pair<int, int>>{{0, 3}, {3, 0}}));

  f.grid->DeleteRows(1, 2);
  EXPECT_EQ(f.Column(0), (std::vector<std::string>{"3", "2"}));
  EXPECT_EQ(f.grid->RowData(1), &data[2]);
  f.grid->DeleteRows(0, 1);
  EXPECT_EQ(f.grid->RowCount(), 0);
  EXPECT_EQ(f.grid->TCustomGrid::RowCount(), 2);
}

TEST(KStringGrid, MultiLineTextsKeepTheirLinesAndShowInStorageForm) {
  GridFixture f;
  f.Add("a");
  f.Fill("a", {"x"});
  f.grid->SetCellText(0, 0, "one two\r\nthree");
  EXPECT_EQ(f.grid->GetCellText(0, 0), "one two\r\nthree");
  EXPECT_EQ(f.grid->GetCellFlags(0, 0), kCellMultiLine);
  // The flag stays on while the text has a break, whatever is asked.
  f.grid->SetCellFlags(0, 0, kCellButton);
  EXPECT_EQ(f.grid->GetCellFlags(0, 0), kCellMultiLine | kCellButton);
  auto painted = uitest::Paint(f.form);
  const auto texts = painted->Texts(f.grid);
  EXPECT_NE(std::find(texts.begin(), texts.end(), "\"one two\",three"), texts.end());
}

TEST(KStringGrid, VisibleColumnsFollowVisibilityIndexAndPosition) {
  GridFixture f;
  TKGridColumn* a = f.Add("a");
  TKGridColumn* b = f.Add("b");
  TKGridColumn* c = f.Add("c");
  a->SetWidth(30);
  b->SetWidth(40);
  c->SetWidth(50);
  b->SetVisible(false);
  EXPECT_EQ(f.Names(), (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(f.grid->ColCount(), 2);
  EXPECT_EQ(f.grid->ColWidths(1), 50);
  b->SetVisible(true);
  EXPECT_EQ(f.Names(), (std::vector<std::string>{"a", "b", "c"}));

  c->SetDisplayPosition(0);
  EXPECT_EQ(f.Names(), (std::vector<std::string>{"c", "a", "b"}));
  EXPECT_EQ(f.grid->ColWidths(0), 50);
  EXPECT_EQ(a->DisplayPosition(), 1);

  b->SetIndex(0);
  EXPECT_EQ(f.grid->Columns()->Items(0), b);
  EXPECT_EQ(f.Names(), (std::vector<std::string>{"b", "c", "a"}));

  std::vector<std::pair<int, int>> moved;
  f.grid->OnColumnMoved = [&](rtl::TObject*, int from, int to) { moved.push_back({from, to}); };
  f.grid->MoveColumn(0, 2);
  EXPECT_EQ(f.Names(), (std::vector<std::string>{"c", "a", "b"}));
  EXPECT_EQ(b->DisplayPosition(), 2);
  EXPECT_EQ(moved, (std::vector<std::pair<int, int>>{{0, 2}}));

  // Removing a column takes it out of the visible ones.
  f.grid->Columns()->Delete(a->Index());
  EXPECT_EQ(f.Names(), (std::vector<std::string>{"c", "b"}));
}

TEST(KStringGrid, UserResizesAreCopiedBack) {
  GridFixture f;
  TKGridColumn* a = f.Add("a");
  f.Add("b");
  f.Fill("a", {"1", "2", "3"});
  f.grid->SetOptions(TGridOptions{goFixedVertLine, goFixedHorzLine, goColSizing});
  uitest::Press(f.grid, 64, 5);  // the right edge of column 0, in the header
  uitest::Move(f.grid, 100, 5);
  uitest::Release(f.grid, 100, 5);
  EXPECT_EQ(a->Width(), 100);

  f.grid->SetRowHeights(2, 30);
  EXPECT_EQ(f.grid->DefaultRowHeight(), 30);
  EXPECT_EQ(f.grid->RowHeights(3), 30);
}

TEST(KStringGrid, ActiveColumnFollowsTheFocus) {
  GridFixture f;
  using Change = std::pair<TKGridColumn*, TKGridColumn*>;
  std::vector<Change> changes;
  f.grid->OnActiveColChanged = [&](rtl::TObject*, TKGridColumn* from, TKGridColumn* to) {
    changes.push_back({from, to});
  };
  TKGridColumn* a = f.Add("a");
  TKGridColumn* b = f.Add("b");
  f.Fill("a", {"1", "2"});
  f.grid->SetCol(1);
  EXPECT_EQ(f.grid->ActiveColumn(), b);
  EXPECT_EQ(f.grid->CurrentCol(), 1);
  EXPECT_EQ(changes, (std::vector<Change>{{nullptr, a}, {a, b}}));

  bool refuse = true;
  f.grid->OnSelectCell = [&](rtl::TObject*, int, int row, bool& allow) {
    allow = !(refuse && row == 1);
  };
  f.grid->SetCurrentRow(1);
  EXPECT_EQ(f.grid->CurrentRow(), 0);
  refuse = false;
  f.grid->SetCurrentRow(1);
  EXPECT_EQ(f.grid->CurrentRow(), 1);
}

TEST(KStringGrid, SortOrderSortsAtOnceAsText) {
  GridFixture f;
  TKGridColumn* n = f.Add("n");
  f.Fill("n", {"9", "b", "10", "A", "9"});
  n->SetSortOrder(csAsc);
  EXPECT_EQ(f.Column(0), (std::vector<std::string>{"10", "9", "9", "A", "b"}));
  n->SetSortOrder(csDsc);
  EXPECT_EQ(f.Column(0), (std::vector<std::string>{"b", "A", "9", "9", "10"}));
  f.grid->ExchangeRows(0, 4);
  n->SetSortOrder(csNone);  // only repaints
  EXPECT_EQ(f.Column(0), (std::vector<std::string>{"10", "A", "9", "9", "b"}));

  // OnCompareRows has the last word; a failing comparison leaves the hourglass off.
  f.grid->OnCompareRows = [](const TKGridColumnList& keys, int, int, int& result) {
    EXPECT_EQ(keys.Count(), 1);
    result = -result;
  };
  n->SetSortOrder(csAsc);
  EXPECT_EQ(f.Column(0), (std::vector<std::string>{"b", "A", "9", "9", "10"}));
  f.grid->OnCompareRows = [](const TKGridColumnList&, int, int, int&) {
    throw rtl::Exception("compare failed");
  };
  EXPECT_THROW(n->SetSortOrder(csDsc), rtl::Exception);
  EXPECT_EQ(Screen->Cursor(), crDefault);
}

// The fixture's records in the grid as the viewer puts them there.
struct RecordGrid : GridFixture {
  TDelimTable table;
  RecordGrid() {
    table.Separator = "\t";
    table.QuoteChar = "";
    EXPECT_TRUE(table.LoadFromFile(controlstest::FixturePath()));
    for (int i = 0; i < table.FieldNames().Count(); ++i)
      Add(table.FieldNames()[i]);
    f_rows = table.RecordCount();
    for (bool more = table.First(); more; more = table.Next()) {
      grid->InsertRow(0);
      for (int i = 0; i < table.FieldNames().Count(); ++i) {
        const std::string& name = table.FieldNames()[i];
        grid->Columns()->FindByName(name)->SetRowText(0, table.GetFieldValue(name));
      }
      grid->SetRowData(0, const_cast<rtl::TStringList*>(table.GetRecord(table.RecNo())));
    }
  }
  // Every row still shows the record its pointer names.
  void ExpectRowsWhole() {
    ASSERT_EQ(grid->RowCount(), f_rows);
    for (int r = 0; r < grid->RowCount(); ++r) {
      auto* record = static_cast<rtl::TStringList*>(grid->RowData(r));
      for (int c = 0; c < grid->VisibleColumns().Count(); ++c) {
        TKGridColumn* column = grid->VisibleColumns()[c];
        // A lone CR reads back from a cell as CR LF.
        const std::string value =
            CommaTextToLines(LinesToCommaText(record->Strings(column->Index())));
        ASSERT_EQ(column->GetRowText(r), value) << r << " " << c;
      }
    }
  }
  int f_rows = 0;
};

TEST(KStringGrid, FixtureRowsSortByOneKeyAndByTwoInDisplayOrder) {
  RecordGrid f;
  ASSERT_EQ(f.grid->RowCount(), static_cast<int>(controlstest::FixtureLines().size()));
  // Rows were inserted at the top, so the last record is the first row.
  EXPECT_EQ(f.grid->GetCellText(0, 0),
            controlstest::FixtureValues(controlstest::FixtureLines().back())[0]);

  TKGridColumns* columns = f.grid->Columns();
  TKGridColumn* host = columns->FindByName("HostName");
  TKGridColumn* op = columns->FindByName("Operation");
  host->SetSortOrder(csAsc);
  f.ExpectRowsWhole();
  for (int r = 1; r < f.grid->RowCount(); ++r)
    EXPECT_LE(rtl::CompareText(host->GetRowText(r - 1), host->GetRowText(r)), 0) << r;
  EXPECT_EQ(host->GetRowText(0), "");  // the record without a host comes first

  // Two keys: Operation (position 1) before HostName (position 2), then HostName moved first.
  f.grid->AutoSort = false;
  op->SetSortOrder(csDsc);
  auto expectOrder = [&](TKGridColumn* first, TKGridColumn* second) {
    for (int r = 1; r < f.grid->RowCount(); ++r) {
      int a = rtl::CompareText(first->GetRowText(r - 1), first->GetRowText(r));
      if (first->SortOrder() == csDsc) a = -a;
      int b = rtl::CompareText(second->GetRowText(r - 1), second->GetRowText(r));
      if (second->SortOrder() == csDsc) b = -b;
      ASSERT_TRUE(a < 0 || (a == 0 && b <= 0)) << "row " << r;
    }
  };
  f.grid->Sort();
  f.ExpectRowsWhole();
  expectOrder(op, host);
  host->SetDisplayPosition(0);
  f.grid->Sort();
  f.ExpectRowsWhole();
  expectOrder(host, op);
}

}  // namespace
