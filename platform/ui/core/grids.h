// Grids: TCustomGrid (cells of set widths and heights, fixed rows and columns, the focus cell and
// a selection, scrolling by TopRow and LeftCol, scroll bars, column sizing and row and column
// moving by mouse, key navigation, an in-place editor) with virtual operations for what a grid
// shows and allows; TDrawGrid, which publishes them as events; and TStringGrid, which keeps a text
// per cell.
//
// Scroll bars (ScrollBars): each shows while the grid's columns or rows do not all fit, and moves
// LeftCol or TopRow by whole columns and rows (the fixed ones stay) without moving the focus cell;
// the thumb moves the view while dragged only with goThumbTracking. Whether rows fit is kept up to
// date at a constant cost per added row.
//
// Coordinates: a cell is (column, row), both counted from 0 including the fixed ones. Pixel
// positions are client coordinates. Painting calls DrawCell once for every cell that shows,
// fixed ones first, each with its rectangle (without the grid line to its right and bottom) and
// its state; the canvas then holds the cell's colours (selected, fixed or plain) and the grid's
// font. Ownership and threads as for every control (control.h); the grid owns its editor.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/ui/core/scrollbar.h"
#include "platform/ui/core/stdctrls.h"
#include "rtl/exception.h"
#include "rtl/set.h"

RTL_DECLARE_EXCEPTION(EInvalidGridOperation, rtl::Exception);

enum TGridOption {
  goFixedVertLine,
  goFixedHorzLine,
  goVertLine,
  goHorzLine,
  goRangeSelect,
  goDrawFocusSelected,
  goRowSizing,
  goColSizing,
  goRowMoving,
  goColMoving,
  goEditing,
  goTabs,
  goRowSelect,
  goAlwaysShowEditor,
  goThumbTracking
};
using TGridOptions = rtl::TSet<TGridOption>;

enum TGridDrawStateItem { gdSelected, gdFocused, gdFixed };
using TGridDrawState = rtl::TSet<TGridDrawStateItem>;

struct TGridCoord {
  int X = 0;
  int Y = 0;
  bool operator==(const TGridCoord&) const = default;
};

// Columns Left..Right and rows Top..Bottom, all included.
struct TGridRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  bool Contains(int col, int row) const {
    return col >= Left && col <= Right && row >= Top && row <= Bottom;
  }
  bool operator==(const TGridRect&) const = default;
};

class TCustomGrid;

// The editor shown over the focus cell. It hands every change of its text to the grid
// (SetEditText); Escape puts back, and stores, the text the cell had when the editor was shown.
class TInplaceEdit : public TEdit {
 public:
  explicit TInplaceEdit(TCustomGrid* grid);
  TCustomGrid* Grid() const { return grid_; }
  // The cell's text when the editor was last shown.
  const std::string& OriginalText() const { return original_; }

 protected:
  // Runs each time the editor is about to show over the focus cell, before its text is loaded
  // and it is placed: a grid's own editor sets itself up for that cell here.
  virtual void Prepare() {}
  // No edge inside a cell: the edit's margin takes its own colour.
  void PaintNonClient(TCanvas& canvas) override;
  void KeyDown(WORD& Key, TShiftState Shift) override;
  void KeyPress(char& Key) override;
  void TextChanged() override;
  bool WantsKey(WORD key, TShiftState shift) const override;

 private:
  friend class TCustomGrid;
  TCustomGrid* grid_;
  bool loading_ = false;
  std::string original_;  // the cell's text when the editor was shown
};

class TCustomGrid : public TCustomControl {
 public:
  explicit TCustomGrid(rtl::TComponent* owner);
  ~TCustomGrid() override;

  int ColCount() const { return static_cast<int>(colWidths_.size()); }
  void SetColCount(int value);
  int RowCount() const { return static_cast<int>(rowHeights_.size()); }
  void SetRowCount(int value);
  // At most the count less one (a grid keeps one row and column that can take the focus).
  int FixedCols() const { return fixedCols_; }
  void SetFixedCols(int value);
  int FixedRows() const { return fixedRows_; }
  void SetFixedRows(int value);
  int DefaultColWidth() const { return defaultColWidth_; }
  // Sets every column's width.
  void SetDefaultColWidth(int value);
  int DefaultRowHeight() const { return defaultRowHeight_; }
  void SetDefaultRowHeight(int value);
  // REQUIRES for the indexed calls: the index is within the counts (else EInvalidGridOperation
  // "Grid index out of range").
  int ColWidths(int col) const;
  void SetColWidths(int col, int value);
  int RowHeights(int row) const;
  void SetRowHeights(int row, int value);
  int GridLineWidth = 1;
  TColor FixedColor = clBtnFace;
  TGridOptions Options() const { return options_; }
  void SetOptions(TGridOptions value);
  // The scroll bars the grid may show (ssBoth at first).
  TScrollStyle ScrollBars() const { return scrollStyle_; }
  void SetScrollBars(TScrollStyle value);
  // The client area is the bounds less the scroll bars that show.
  TRect NonClientInsets() const override { return scrollBars_.Insets(); }

  // The focus cell. Setting it runs SelectCell first, which may refuse.
  int Col() const { return focus_.X; }
  void SetCol(int value) { FocusCell(value, focus_.Y, true); }
  int Row() const { return focus_.Y; }
  void SetRow(int value) { FocusCell(focus_.X, value, true); }
  TGridRect Selection() const;
  void SetSelection(const TGridRect& value);
  // The first scrolling row and column shown after the fixed ones.
  int TopRow() const { return top_.Y; }
  void SetTopRow(int value);
  int LeftCol() const { return top_.X; }
  void SetLeftCol(int value);
  // Non-fixed rows and columns that show whole.
  int VisibleRowCount() const;
  int VisibleColCount() const;

  // The cell's rectangle without its grid lines; empty when the cell does not show.
  TRect CellRect(int col, int row) const;
  // The cell at client point x, y; -1, -1 outside every cell.
  TGridCoord MouseCoord(int x, int y) const;
  void MouseToCell(int x, int y, int& col, int& row) const;

  bool EditorMode() const;
  void SetEditorMode(bool value);
  // The editor (null until first shown).
  TInplaceEdit* InplaceEditor() const { return editor_; }

  // Moves a row or column with its size (and, in TStringGrid, its cells).
  void MoveRow(int fromIndex, int toIndex);
  void MoveColumn(int fromIndex, int toIndex);
  // Removes a row: moved to the end, then the count shrinks.
  virtual void DeleteRow(int row);
  virtual void DeleteColumn(int col);

  void InvalidateCell(int col, int row);
  void InvalidateRow(int row);
  void InvalidateCol(int col);

  TNotifyEvent OnTopLeftChanged;

  TCursor CursorAt(TPoint p) const override;
  using TControl::Canvas;

 protected:
  // What a grid shows and allows.
  virtual void DrawCell(int ACol, int ARow, const TRect& ARect, TGridDrawState AState) {}
  virtual bool SelectCell(int ACol, int ARow) { return true; }
  virtual bool CanEditShow();
  virtual TInplaceEdit* CreateEditor();
  virtual std::string GetEditText(int ACol, int ARow) { return ""; }
  virtual void SetEditText(int ACol, int ARow, const std::string& Value) {}
  virtual void ColumnMoved(int FromIndex, int ToIndex) {}
  virtual void RowMoved(int FromIndex, int ToIndex) {}
  virtual void ColWidthsChanged() {}
  virtual void RowHeightsChanged() {}
  virtual void SizeChanged(int OldColCount, int OldRowCount) {}
  virtual void TopLeftChanged();

  // Moves the focus (SelectCell may refuse); moveAnchor starts a new selection; show scrolls
  // the cell into view.
  void FocusCell(int col, int row, bool moveAnchor, bool show = true);
  void ShowEditor();
  void HideEditor();
  // The editor's text back into the cell (SetEditText), when it is showing.
  void UpdateText();

  void Paint() override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseMove(TShiftState Shift, int X, int Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  bool DoMouseWheel(TShiftState Shift, int WheelDelta, TPoint MousePos) override;
  void KeyDown(WORD& Key, TShiftState Shift) override;
  void KeyPress(char& Key) override;
  void TextInput(const std::string& text) override;
  bool WantsKey(WORD key, TShiftState shift) const override;
  void DoExit() override;
  void Resize() override;

 private:
  friend class TInplaceEdit;
  enum class Drag { None, Select, ColSize, RowMove, ColMove };
  void CheckIndex(int index, int count) const;
  void ClampFocus();
  void ScrollInView(int col, int row);
  // Decides the scroll bars for the present sizes; true when one came or went.
  bool DecideScrollBars();
  // The same, outside a resize: a bar that came or went changes the client size, and what a
  // resize runs then runs.
  void UpdateScrollBars();
  TScrollRange ScrollRangeOf(TScrollBarKind kind) const;
  // A scroll bar moved the view to position (counted from the first scrolling row or column).
  void ScrollBarMoved(TScrollBarKind kind, int position);
  int MaxTopRow() const;
  int MaxLeftCol() const;
  // The column whose right edge lies within a few pixels of x in the fixed rows, or -1.
  int ColSizingEdge(int x, int y) const;
  void PlaceEditor();
  // x of column col's left edge (or -1 when it does not show), and y of row row's top edge.
  int ColLeft(int col) const;
  int RowTop(int row) const;

  std::vector<int> colWidths_;
  std::vector<int> rowHeights_;
  // The sums of colWidths_ and rowHeights_, kept with every change.
  long long colSum_ = 0;
  long long rowSum_ = 0;
  TScrollStyle scrollStyle_ = ssBoth;
  TControlScrollBars scrollBars_{this};
  int fixedCols_ = 1;
  int fixedRows_ = 1;
  int defaultColWidth_ = 64;
  int defaultRowHeight_ = 24;
  TGridOptions options_{goFixedVertLine, goFixedHorzLine, goVertLine, goHorzLine, goRangeSelect};
  TGridCoord focus_{1, 1};
  TGridCoord anchor_{1, 1};
  TGridCoord top_{1, 1};
  TInplaceEdit* editor_ = nullptr;
  bool editorShowing_ = false;
  Drag drag_ = Drag::None;
  int dragIndex_ = -1;
  int dragStart_ = 0;
  int dragStartSize_ = 0;
};

using TDrawCellEvent =
    std::function<void(rtl::TObject* Sender, int ACol, int ARow, TRect Rect, TGridDrawState State)>;
using TSelectCellEvent =
    std::function<void(rtl::TObject* Sender, int ACol, int ARow, bool& CanSelect)>;
using TGetEditEvent =
    std::function<void(rtl::TObject* Sender, int ACol, int ARow, std::string& Value)>;
using TSetEditEvent =
    std::function<void(rtl::TObject* Sender, int ACol, int ARow, const std::string& Value)>;
using TMovedEvent = std::function<void(rtl::TObject* Sender, int FromIndex, int ToIndex)>;

// A grid whose virtual operations fire events.
class TDrawGrid : public TCustomGrid {
 public:
  explicit TDrawGrid(rtl::TComponent* owner) : TCustomGrid(owner) {}
  bool DefaultDrawing = true;
  TDrawCellEvent OnDrawCell;
  TSelectCellEvent OnSelectCell;
  TGetEditEvent OnGetEditText;
  TSetEditEvent OnSetEditText;
  TMovedEvent OnColumnMoved;
  TMovedEvent OnRowMoved;

 protected:
  void DrawCell(int ACol, int ARow, const TRect& ARect, TGridDrawState AState) override;
  bool SelectCell(int ACol, int ARow) override;
  std::string GetEditText(int ACol, int ARow) override;
  void SetEditText(int ACol, int ARow, const std::string& Value) override;
  void ColumnMoved(int FromIndex, int ToIndex) override;
  void RowMoved(int FromIndex, int ToIndex) override;
};

// A grid with a text per cell, kept through size changes and moves.
class TStringGrid : public TDrawGrid {
 public:
  explicit TStringGrid(rtl::TComponent* owner);
  // Cells outside the grid read as empty; writing one is ignored.
  std::string Cells(int col, int row) const;
  void SetCells(int col, int row, const std::string& value);

 protected:
  void DrawCell(int ACol, int ARow, const TRect& ARect, TGridDrawState AState) override;
  std::string GetEditText(int ACol, int ARow) override;
  void SetEditText(int ACol, int ARow, const std::string& Value) override;
  void ColumnMoved(int FromIndex, int ToIndex) override;
  void RowMoved(int FromIndex, int ToIndex) override;
  void SizeChanged(int OldColCount, int OldRowCount) override;

 private:
  std::vector<std::vector<std::string>> cells_;  // [row][col]
};
