// TKStringGrid: a string grid whose data lives in named columns (kgridcolumns.h) instead of a
// cell matrix. Grid row 0 is the header; every public row number is a data row (grid row - 1),
// every public column number a display position among the visible columns. A grid without data
// rows shows one blank row and reports RowCount 0. Rows can be inserted at the top cheaply,
// sorted by key columns, exchanged and moved; each data row carries a user pointer that moves
// with it.
//
// On screen the grid colours the focus row, column and header and the fixed cells, marks sorted
// columns in their headers, shows an ellipsis button in a focus cell that asks for one, sorts
// when a header is clicked (AutoSort), lets a fixed column be sized from its header, and edits
// cells in place with TKSGInplaceEdit (a multi-line box over a multi-line cell).
//
// Ownership: the grid owns its columns, its fonts and the visible-column list; the user pointers
// are the caller's and never freed. Threads: the GUI thread (control.h).
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "console/controls/kgridcolumns.h"
#include "platform/ui/core/grids.h"

// What OnGetCellProps may change for one cell.
struct TKCellProps {
  TFont* Font;
  TColor Color;
  TAlignment Alignment;
};

using TKSelectCellEvent =
    std::function<void(rtl::TObject* Sender, int ACol, int ARow, bool& CanSelect)>;
using TKGetEditTextEvent =
    std::function<void(rtl::TObject* Sender, int ACol, int ARow, std::string& Value)>;
using TKSetEditTextEvent =
    std::function<void(rtl::TObject* Sender, int ACol, int ARow, const std::string& Value)>;
using TKActiveColChangedEvent =
    std::function<void(rtl::TObject* Sender, TKGridColumn* OldCol, TKGridColumn* NewCol)>;
using TKGetCellPropsEvent =
    std::function<void(rtl::TObject* Sender, int ACol, int ARow, TKCellProps& Props)>;
using TKDrawCellEvent = std::function<void(rtl::TObject* Sender, int ACol, int ARow,
                                           const TRect& Rect, TGridDrawState State)>;
using TKDrawHeaderEvent =
    std::function<void(rtl::TObject* Sender, int ACol, const TRect& Rect, TGridDrawState State)>;
using TKContextPopupEvent = std::function<void(rtl::TObject* Sender, int X, int Y)>;
using TKHeaderClickEvent = std::function<void(rtl::TObject* Sender, int ACol)>;
using TKCancelEditEvent =
    std::function<void(rtl::TObject* Sender, int ACol, int ARow, const std::string& Value)>;
using TKMovedEvent = std::function<void(rtl::TObject* Sender, int FromIndex, int ToIndex)>;
// Result comes in as the grid's own comparison of RowA and RowB and may be replaced.
using TKCompareRowsEvent =
    std::function<void(const TKGridColumnList& SortColumns, int RowA, int RowB, int& Result)>;

class TKSGInplaceEdit;
class TKGridButton;

class TKStringGrid : public TCustomGrid {
 public:
  // No columns, no data rows (one blank row shown), DefaultRowHeight 18.
  explicit TKStringGrid(rtl::TComponent* owner);
  ~TKStringGrid() override;

  TKGridColumns* Columns() { return columns_.get(); }
  // Copies columns (see TKGridColumns::Assign).
  void SetColumns(const TKGridColumns& columns) { columns_->Assign(columns); }
  // The visible columns by display position.
  const TKGridColumnList& VisibleColumns() const { return visible_; }

  // ---- rows (data rows; an index outside 0..RowCount()-1 raises EKGridError) ----
  int RowCount() const { return empty_ ? 0 : StoredRows(); }
  // Appends empty rows or deletes rows from value on; a negative value counts as 0.
  void SetRowCount(int value);
  // An empty row at row, 0..RowCount() (else EKGridError), in every column and the user-pointer
  // list; the rows from there move down.
  void InsertRow(int row);
  // Removes rows first..last. Raises EKGridError, changing nothing, when first > last or either
  // lies outside the rows. Removing every row leaves the blank row.
  void DeleteRows(int first, int last);
  void DeleteRow(int row) override { DeleteRows(row, row); }
  void ClearRows();
  // Swaps two rows' cells (texts and words) and user pointers.
  void ExchangeRows(int a, int b);
  // The data row of the focus cell; -1 when there is none.
  int CurrentRow() const { return empty_ ? -1 : Row() - 1; }
  // The display position of the focus column; -1 when no column is visible.
  int CurrentCol() const { return visible_.Count() == 0 ? -1 : Col(); }
  // Moves the focus to row; nothing when row is outside the rows.
  void SetCurrentRow(int row);
  // The caller's pointer of row.
  void* RowData(int row) const;
  void SetRowData(int row, void* data);

  // ---- cells (column: display position, checked first) ----
  std::string GetCellText(int col, int row) const;
  void SetCellText(int col, int row, const std::string& text);
  // The flag bits; 0 when the grid is empty or no column is visible.
  uint32_t GetCellFlags(int col, int row) const;
  // Sets the flag bits (kCellMultiLine is kept on while the text has a line break).
  void SetCellFlags(int col, int row, uint32_t flags);

  // Sorts the data rows by the visible columns whose SortOrder is csAsc or csDsc, taken in
  // display order (texts compared with ASCII letters folded; csDsc reverses; OnCompareRows may
  // decide). Not stable.
  void Sort();

  // ---- look ----
  // The requested number of fixed columns; the grid shows at most the visible columns less one.
  int FixedCols() const { return requestedFixedCols_; }
  void SetFixedCols(int value);
  TColor ActiveHeaderColor = clGray;
  TColor ActiveColColor = clNone;
  TColor ActiveRowColor = clInfoBk;
  TColor ActiveRowFontColor = clNone;
  TColor ActiveFixedColor = clGray;
  TColor HeaderColor = clBtnFace;
  TColor SelectedColor = clHighlight;
  TColor SelectedFontColor = clHighlightText;
  TFont* ActiveHeaderFont() { return &activeHeaderFont_; }
  TFont* ActiveFixedFont() { return &activeFixedFont_; }
  TFont* FixedFont() { return &fixedFont_; }
  // The header font new columns start with.
  TFont* HeaderFont() { return &headerFont_; }
  bool AutoSort = true;
  bool DefaultLook = false;
  // The column of the focus cell, or null.
  TKGridColumn* ActiveColumn() const { return active_; }
  // The ellipsis button (a control without a window of its own, owned by the grid); null until
  // a cell first shows it.
  TControl* EllipsisButton() const;

  TKSelectCellEvent OnSelectCell;
  TKGetEditTextEvent OnGetEditText;
  TKSetEditTextEvent OnSetEditText;
  TKActiveColChangedEvent OnActiveColChanged;
  TKGetCellPropsEvent OnGetCellProps;
  TKDrawCellEvent OnDrawCell;
  TKDrawHeaderEvent OnDrawHeader;
  TNotifyEvent OnButtonClick;
  TKContextPopupEvent OnContextPopup;
  TKHeaderClickEvent OnHeaderClick;
  TKCancelEditEvent OnCancelEdit;
  TNotifyEvent OnSelChange;
  TKMovedEvent OnColumnMoved;
  TKMovedEvent OnRowMoved;
  TKCompareRowsEvent OnCompareRows;

  void Loaded() override;
  // Over a fixed column's right edge in the header: the split cursor (that column can be sized).
  TCursor CursorAt(TPoint p) const override;

 protected:
  // Repaints both columns and fires OnActiveColChanged.
  virtual void ActiveColChanged(TKGridColumn* OldCol, TKGridColumn* NewCol);

  void DrawCell(int ACol, int ARow, const TRect& ARect, TGridDrawState AState) override;
  bool SelectCell(int ACol, int ARow) override;
  // Makes a TKSGInplaceEdit.
  TInplaceEdit* CreateEditor() override;
  bool CanEditShow() override;
  std::string GetEditText(int ACol, int ARow) override;
  void SetEditText(int ACol, int ARow, const std::string& Value) override;
  void ColumnMoved(int FromIndex, int ToIndex) override;
  void RowMoved(int FromIndex, int ToIndex) override;
  void ColWidthsChanged() override;
  void RowHeightsChanged() override;
  void FontChanged() override;
  // Fires OnContextPopup first (at the focus cell's top left when the keyboard asked).
  void DoContextPopup(TPoint MousePos, bool& Handled) override;
  // Hides the ellipsis button.
  void TopLeftChanged() override;
  // Header presses: column sizing (the toolkit's, or a fixed column's own), else a click.
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseMove(TShiftState Shift, int X, int Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  // Ctrl+Enter marks the focus cell multi-line; Enter clicks its button, or is swallowed by a
  // locked cell.
  void KeyDown(WORD& Key, TShiftState Shift) override;
  void KeyPress(char& Key) override;
  bool WantsKey(WORD key, TShiftState shift) const override;

 private:
  friend class TKGridColumn;
  friend class TKGridColumns;
  friend class TKSGInplaceEdit;
  friend class TKGridButton;

  // The colours a cell may take, resolved from the grid's and its column's properties.
  struct TCellColors {
    TColor Base, FixedText, HeaderText, ActiveFixedText, ActiveHeaderText, ActiveRowText,
        SelectedText, FixedBack, HeaderBack, ActiveFixedBack, ActiveHeaderBack, ActiveColBack,
        ActiveRowBack, SelectedBack;
  };

  // Rows the columns hold (0 while empty).
  int StoredRows() const { return static_cast<int>(userData_.size()); }
  void CheckRow(int row) const;
  TKGridColumn* CheckedColumn(int col) const;
  // The toolkit grid's rows: the header and the data rows, or the blank row.
  void ApplyRowCount();
  // The toolkit grid's columns and widths from the visible-column list.
  void ApplyColumns();
  void ApplyFixedCols();
  // Clears the visible-column list and fills it again from the columns.
  void RebuildVisibleColumns();
  // Runs the cell selection for the focus column (after the columns changed).
  void ReselectFocusCell();
  void RenumberPositions();
  // A column is going: it leaves the visible list and stops being the active one.
  void ColumnGone(TKGridColumn* column);
  void ColumnAdded(TKGridColumn* column);
  void MoveColumnTo(TKGridColumn* column, int position);
  void InvalidateColumn(const TKGridColumn* column);
  int CompareRows(const TKGridColumnList& keys, int a, int b);
  void QuickSort(const TKGridColumnList& keys, int left, int right);
  // Sort with the hourglass shown.
  void SortBusy();

  // ---- drawing, mouse and editing (kstringgridview.cpp) ----
  // canvasFont and canvasBrush are the colours the toolkit grid set up for the cell.
  TCellColors ResolveColors(const TKGridColumn* column, TColor canvasFont,
                            TColor canvasBrush) const;
  // Fills rect with the background and draws text in it, placed by alignment, cut at its edges.
  void DrawCellText(const TRect& rect, const std::string& text, TAlignment alignment);
  // The sort order's triangle over the right end of a header cell.
  void DrawSortMark(const TRect& rect, TColumnSorting order, TColor background);
  // Whether grid cell col, row shows the ellipsis button: the focus cell, with the button flag
  // and without the locked flag.
  bool CellShowsButton(int col, int row) const;
  // Puts the button at the right end of cell rect (hidden when the cell is too narrow).
  void PlaceButton(const TRect& rect);
  void HideButton();
  // OnButtonClick; the button stays only while the cell keeps its button flag.
  void ButtonClick();
  // A click on the header of display position col: sorting (AutoSort), OnHeaderClick, and
  // one column of scrolling when the column does not show whole.
  void HeaderClick(int col);
  // Escape in the editor: puts the cell's text back, hides the editor and fires OnCancelEdit.
  // False (nothing done) when the editor is not showing or is always shown.
  bool CancelEdit();
  // Ctrl+Enter: the focus cell becomes multi-line (unless it shows a button), then Enter.
  void CtrlEnter();
  // The display position whose header span holds x more than a pixel inside both edges, or -1.
  int HeaderColumnAt(int x) const;
  // The fixed column whose right edge lies within a few pixels of x, y in the header, or -1.
  int FixedEdgeAt(int x, int y) const;
  bool InHeader(int y) const { return y < TCustomGrid::FixedRows() * DefaultRowHeight(); }

  std::unique_ptr<TKGridColumns> columns_;
  TKGridColumnList visible_;
  std::deque<void*> userData_;
  TKGridColumn* active_ = nullptr;
  bool empty_ = true;
  int requestedFixedCols_ = 0;
  TFont activeHeaderFont_;
  TFont activeFixedFont_;
  TFont fixedFont_;
  TFont headerFont_;
  // While the column widths are applied, the toolkit's width changes are not copied back.
  bool applyingWidths_ = false;
  bool destroying_ = false;
  // While Escape puts the text back, the editor's change is stored without OnSetEditText.
  bool cancelling_ = false;
  TKGridButton* button_ = nullptr;
  // A header press waiting to become a click: the column, and the press to hand to the toolkit
  // grid when the mouse moves first.
  int headerPress_ = -1;
  TPoint headerPressAt_;
  TShiftState headerPressShift_;
  // A fixed column being sized from its header: the column, where the drag began, its width.
  int fixedSizing_ = -1;
  int fixedSizingX_ = 0;
  int fixedSizingWidth_ = 0;
};
