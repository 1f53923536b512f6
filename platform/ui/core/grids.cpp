#include "platform/ui/core/grids.h"

#include <algorithm>

#include "platform/ui/core/forms.h"

namespace {

// How near a column's right edge (in the fixed rows) the pointer sizes the column.
constexpr int kSizingGrip = 3;
// The narrowest a column can be dragged.
constexpr int kMinColWidth = 2;

// Rows and columns are laid out alike along their axis: the fixed ones first, then the
// scrolling ones from `first`, each followed by a grid line.
struct Axis {
  const std::vector<int>& sizes;
  int fixed;
  int first;
  int line;
  int space;  // the client extent

  int Count() const { return static_cast<int>(sizes.size()); }
  // The indexes that show, wholly or in part, in order.
  std::vector<int> Shown() const {
    std::vector<int> out;
    int pos = 0;
    for (int i = 0; i < Count() && pos < space; ++i) {
      if (i == fixed) i = std::max(i, first);
      if (i >= Count()) break;
      out.push_back(i);
      pos += sizes[i] + line;
    }
    return out;
  }
  // The start of index, or -1 when it is scrolled out.
  int Offset(int index) const {
    int pos = 0;
    for (int i : Shown()) {
      if (i == index) return pos;
      pos += sizes[i] + line;
    }
    return -1;
  }
  // The index at position v, or -1.
  int At(int v) const {
    int pos = 0;
    for (int i : Shown()) {
      if (v < pos + sizes[i] + line) return i;
      pos += sizes[i] + line;
    }
    return -1;
  }
  int FixedExtent() const {
    int pos = 0;
    for (int i = 0; i < fixed; ++i)
      pos += sizes[i] + line;
    return pos;
  }
  // Whether the scrolling ones first..last all show whole.
  bool Fits(int from, int last) const {
    int pos = FixedExtent();
    for (int i = from; i <= last; ++i)
      pos += sizes[i] + line;
    return pos - line <= space;
  }
  // How many scrolling ones from `first` show whole.
  int WholeCount() const {
    int n = 0;
    while (first + n < Count() && Fits(first, first + n))
      ++n;
    return n;
  }
  // The largest first that still fills the space (the end shows whole at the far edge).
  int MaxFirst() const {
    int from = Count() - 1;
    while (from > fixed && Fits(from - 1, Count() - 1))
      --from;
    return std::max(fixed, from);
  }
  // The first that brings index into view with the least scrolling.
  int FirstShowing(int index) const {
    if (index < first) return index;
    int from = first;
    while (from < index && !Fits(from, index))
      ++from;
    return from;
  }
};

// Sets the count of an axis's sizes, new ones of size fill, keeping their sum: a constant cost
// for each size added or removed.
void ResizeAxis(std::vector<int>& sizes, long long& sum, int count, int fill) {
  while (static_cast<int>(sizes.size()) > count) {
    sum -= sizes.back();
    sizes.pop_back();
  }
  sum += static_cast<long long>(count - static_cast<int>(sizes.size())) * fill;
  sizes.resize(static_cast<size_t>(count), fill);
}

}  // namespace

// ---- TInplaceEdit ----

TInplaceEdit::TInplaceEdit(TCustomGrid* grid) : TEdit(grid), grid_(grid) {
  SetTabStop(false);
  TControl::SetVisible(false);
  SetParent(grid);
}

bool TInplaceEdit::WantsKey(WORD key, TShiftState shift) const {
  return TEdit::WantsKey(key, shift) || key == VK_ESCAPE || key == VK_RETURN ||
         (key == VK_TAB && grid_->Options().Contains(goTabs));
}

void TInplaceEdit::PaintNonClient(TCanvas& canvas) {
  canvas.Brush()->SetStyle(bsSolid);
  canvas.Brush()->SetColor(Color());
  canvas.FillRect(TRect{0, 0, Width(), Height()});
}

void TInplaceEdit::KeyDown(WORD& Key, TShiftState Shift) {
  // Up, down, page keys and Tab move in the grid; Left and Right leave the text at its ends.
  bool toGrid = Key == VK_UP || Key == VK_DOWN || Key == VK_PRIOR || Key == VK_NEXT ||
                Key == VK_TAB || (Key == VK_LEFT && SelStart() == 0 && SelLength() == 0) ||
                (Key == VK_RIGHT && SelStart() == static_cast<int>(Text().size()));
  if (toGrid) {
    grid_->KeyDown(Key, Shift);
    Key = 0;
    return;
  }
  TEdit::KeyDown(Key, Shift);
}

void TInplaceEdit::KeyPress(char& Key) {
  if (Key == '\r') {
    grid_->KeyPress(Key);
    Key = 0;
    return;
  }
  if (Key == '\x1b') {
    SetText(original_);
    SelectAll();
    if (!grid_->Options().Contains(goAlwaysShowEditor)) grid_->HideEditor();
    Key = 0;
    return;
  }
  TEdit::KeyPress(Key);
}

void TInplaceEdit::TextChanged() {
  TEdit::TextChanged();
  if (!loading_ && grid_->editorShowing_) grid_->SetEditText(grid_->Col(), grid_->Row(), Text());
}

// ---- TCustomGrid: sizes ----

TCustomGrid::TCustomGrid(rtl::TComponent* owner) : TCustomControl(owner) {
  SetTakesFocus(true);
  SetTabStop(true);
  SetColor(clWindow);
  ResizeAxis(colWidths_, colSum_, 5, defaultColWidth_);
  ResizeAxis(rowHeights_, rowSum_, 5, defaultRowHeight_);
  scrollBars_.OnRange = [this](TScrollBarKind kind) { return ScrollRangeOf(kind); };
  scrollBars_.OnScroll = [this](TScrollBarKind kind, int position) {
    ScrollBarMoved(kind, position);
  };
  SetControlScrollBars(&scrollBars_);
  SetBounds(0, 0, 320, 120);
}

TCustomGrid::~TCustomGrid() {
  DestroyComponents();
}

void TCustomGrid::CheckIndex(int index, int count) const {
  if (index < 0 || index >= count) throw EInvalidGridOperation("Grid index out of range");
}

void TCustomGrid::SetColCount(int value) {
  value = std::max(1, value);
  if (value == ColCount()) return;
  int oldCols = ColCount(), oldRows = RowCount();
  ResizeAxis(colWidths_, colSum_, value, defaultColWidth_);
  if (fixedCols_ > value - 1) fixedCols_ = value - 1;
  UpdateScrollBars();
  ClampFocus();
  SizeChanged(oldCols, oldRows);
  Invalidate();
}

void TCustomGrid::SetRowCount(int value) {
  value = std::max(1, value);
  if (value == RowCount()) return;
  int oldCols = ColCount(), oldRows = RowCount();
  ResizeAxis(rowHeights_, rowSum_, value, defaultRowHeight_);
  if (fixedRows_ > value - 1) fixedRows_ = value - 1;
  UpdateScrollBars();
  ClampFocus();
  SizeChanged(oldCols, oldRows);
  Invalidate();
}

void TCustomGrid::SetFixedCols(int value) {
  if (value < 0 || value > ColCount() - 1)
    throw EInvalidGridOperation("Fixed column count too large");
  fixedCols_ = value;
  ClampFocus();
  Invalidate();
}

void TCustomGrid::SetFixedRows(int value) {
  if (value < 0 || value > RowCount() - 1) throw EInvalidGridOperation("Fixed row count too large");
  fixedRows_ = value;
  ClampFocus();
  Invalidate();
}

void TCustomGrid::SetDefaultColWidth(int value) {
  defaultColWidth_ = value;
  std::fill(colWidths_.begin(), colWidths_.end(), value);
  colSum_ = static_cast<long long>(value) * ColCount();
  UpdateScrollBars();
  ColWidthsChanged();
  PlaceEditor();
  Invalidate();
}

void TCustomGrid::SetDefaultRowHeight(int value) {
  defaultRowHeight_ = value;
  std::fill(rowHeights_.begin(), rowHeights_.end(), value);
  rowSum_ = static_cast<long long>(value) * RowCount();
  UpdateScrollBars();
  RowHeightsChanged();
  PlaceEditor();
  Invalidate();
}

int TCustomGrid::ColWidths(int col) const {
  CheckIndex(col, ColCount());
  return colWidths_[col];
}

void TCustomGrid::SetColWidths(int col, int value) {
  CheckIndex(col, ColCount());
  if (colWidths_[col] == value) return;
  colSum_ += value - colWidths_[col];
  colWidths_[col] = value;
  UpdateScrollBars();
  ColWidthsChanged();
  PlaceEditor();
  Invalidate();
}

int TCustomGrid::RowHeights(int row) const {
  CheckIndex(row, RowCount());
  return rowHeights_[row];
}

void TCustomGrid::SetRowHeights(int row, int value) {
  CheckIndex(row, RowCount());
  if (rowHeights_[row] == value) return;
  rowSum_ += value - rowHeights_[row];
  rowHeights_[row] = value;
  UpdateScrollBars();
  RowHeightsChanged();
  PlaceEditor();
  Invalidate();
}

void TCustomGrid::SetOptions(TGridOptions value) {
  if (value == options_) return;
  options_ = value;
  scrollBars_.ThumbTracking = options_.Contains(goThumbTracking);
  if (!options_.Contains(goEditing)) HideEditor();
  if (options_.Contains(goAlwaysShowEditor) && options_.Contains(goEditing)) ShowEditor();
  Invalidate();
}

void TCustomGrid::ClampFocus() {
  auto clamp = [](int v, int lo, int hi) { return std::clamp(v, lo, std::max(lo, hi)); };
  focus_.X = clamp(focus_.X, fixedCols_, ColCount() - 1);
  focus_.Y = clamp(focus_.Y, fixedRows_, RowCount() - 1);
  anchor_.X = clamp(anchor_.X, fixedCols_, ColCount() - 1);
  anchor_.Y = clamp(anchor_.Y, fixedRows_, RowCount() - 1);
  top_.X = clamp(top_.X, fixedCols_, MaxLeftCol());
  top_.Y = clamp(top_.Y, fixedRows_, MaxTopRow());
}

// ---- geometry ----

int TCustomGrid::ColLeft(int col) const {
  return Axis{colWidths_, fixedCols_, top_.X, GridLineWidth, ClientWidth()}.Offset(col);
}

int TCustomGrid::RowTop(int row) const {
  return Axis{rowHeights_, fixedRows_, top_.Y, GridLineWidth, ClientHeight()}.Offset(row);
}

TRect TCustomGrid::CellRect(int col, int row) const {
  if (col < 0 || col >= ColCount() || row < 0 || row >= RowCount()) return TRect{};
  int x = ColLeft(col), y = RowTop(row);
  if (x < 0 || y < 0 || x >= ClientWidth() || y >= ClientHeight()) return TRect{};
  return Bounds(x, y, colWidths_[col], rowHeights_[row]);
}

TGridCoord TCustomGrid::MouseCoord(int x, int y) const {
  if (x < 0 || y < 0 || x >= ClientWidth() || y >= ClientHeight()) return TGridCoord{-1, -1};
  int c = Axis{colWidths_, fixedCols_, top_.X, GridLineWidth, ClientWidth()}.At(x);
  int r = Axis{rowHeights_, fixedRows_, top_.Y, GridLineWidth, ClientHeight()}.At(y);
  if (c < 0 || r < 0) return TGridCoord{-1, -1};
  return TGridCoord{c, r};
}

void TCustomGrid::MouseToCell(int x, int y, int& col, int& row) const {
  TGridCoord c = MouseCoord(x, y);
  col = c.X;
  row = c.Y;
}

int TCustomGrid::VisibleRowCount() const {
  return Axis{rowHeights_, fixedRows_, top_.Y, GridLineWidth, ClientHeight()}.WholeCount();
}

int TCustomGrid::VisibleColCount() const {
  return Axis{colWidths_, fixedCols_, top_.X, GridLineWidth, ClientWidth()}.WholeCount();
}

int TCustomGrid::MaxTopRow() const {
  return Axis{rowHeights_, fixedRows_, top_.Y, GridLineWidth, ClientHeight()}.MaxFirst();
}

int TCustomGrid::MaxLeftCol() const {
  return Axis{colWidths_, fixedCols_, top_.X, GridLineWidth, ClientWidth()}.MaxFirst();
}

void TCustomGrid::SetTopRow(int value) {
  value = std::clamp(value, fixedRows_, std::max(fixedRows_, MaxTopRow()));
  if (value == top_.Y) return;
  top_.Y = value;
  TopLeftChanged();
}

void TCustomGrid::SetLeftCol(int value) {
  value = std::clamp(value, fixedCols_, std::max(fixedCols_, MaxLeftCol()));
  if (value == top_.X) return;
  top_.X = value;
  TopLeftChanged();
}

void TCustomGrid::TopLeftChanged() {
  PlaceEditor();
  Invalidate();
  if (OnTopLeftChanged && CanFire()) OnTopLeftChanged(this);
}

void TCustomGrid::ScrollInView(int col, int row) {
  if (row >= fixedRows_)
    SetTopRow(
        Axis{rowHeights_, fixedRows_, top_.Y, GridLineWidth, ClientHeight()}.FirstShowing(row));
  if (col >= fixedCols_ && !options_.Contains(goRowSelect))
    SetLeftCol(
        Axis{colWidths_, fixedCols_, top_.X, GridLineWidth, ClientWidth()}.FirstShowing(col));
}

void TCustomGrid::SetScrollBars(TScrollStyle value) {
  if (value == scrollStyle_) return;
  scrollStyle_ = value;
  UpdateScrollBars();
}

bool TCustomGrid::DecideScrollBars() {
  scrollBars_.Style = scrollStyle_;
  scrollBars_.ThumbTracking = options_.Contains(goThumbTracking);
  const long long line = GridLineWidth;
  return scrollBars_.Decide([&](TScrollBarKind kind, int width, int height) {
    if (kind == sbVertical) return rowSum_ + line * (RowCount() - 1) <= height;
    return colSum_ + line * (ColCount() - 1) <= width;
  });
}

void TCustomGrid::UpdateScrollBars() {
  if (DecideScrollBars()) ClientAreaChanged();
}

TScrollRange TCustomGrid::ScrollRangeOf(TScrollBarKind kind) const {
  if (kind == sbVertical)
    return TScrollRange{MaxTopRow() - fixedRows_, VisibleRowCount(), top_.Y - fixedRows_, 1};
  return TScrollRange{MaxLeftCol() - fixedCols_, VisibleColCount(), top_.X - fixedCols_, 1};
}

void TCustomGrid::ScrollBarMoved(TScrollBarKind kind, int position) {
  if (kind == sbVertical) {
    SetTopRow(fixedRows_ + position);
  } else {
    SetLeftCol(fixedCols_ + position);
  }
  // The focus cell scrolled out of view ends its edit, as a click on another cell would.
  if (editorShowing_ && !options_.Contains(goAlwaysShowEditor) &&
      CellRect(focus_.X, focus_.Y).IsEmpty()) {
    UpdateText();
    HideEditor();
  }
}

void TCustomGrid::Resize() {
  DecideScrollBars();  // a bar that comes or goes is part of this change of size
  ClampFocus();
  PlaceEditor();
  TCustomControl::Resize();
}

// ---- selection ----

TGridRect TCustomGrid::Selection() const {
  TGridRect r{std::min(anchor_.X, focus_.X), std::min(anchor_.Y, focus_.Y),
              std::max(anchor_.X, focus_.X), std::max(anchor_.Y, focus_.Y)};
  if (options_.Contains(goRowSelect)) {
    r.Left = fixedCols_;
    r.Right = ColCount() - 1;
  }
  return r;
}

void TCustomGrid::SetSelection(const TGridRect& value) {
  anchor_ = TGridCoord{value.Left, value.Top};
  focus_ = TGridCoord{value.Right, value.Bottom};
  ClampFocus();
  Invalidate();
}

void TCustomGrid::FocusCell(int col, int row, bool moveAnchor, bool show) {
  if (col < fixedCols_ || row < fixedRows_ || col >= ColCount() || row >= RowCount()) return;
  if (col == focus_.X && row == focus_.Y) {
    if (moveAnchor && !(anchor_ == focus_)) {
      anchor_ = focus_;
      Invalidate();
    }
    return;
  }
  if (!SelectCell(col, row)) return;
  UpdateText();
  bool wasShowing = editorShowing_;
  HideEditor();
  InvalidateRow(focus_.Y);
  focus_ = TGridCoord{col, row};
  if (moveAnchor || !options_.Contains(goRangeSelect)) anchor_ = focus_;
  if (show) ScrollInView(col, row);
  Invalidate();
  if (options_.Contains(goAlwaysShowEditor) || (wasShowing && options_.Contains(goEditing)))
    ShowEditor();
}

// ---- editor ----

bool TCustomGrid::CanEditShow() {
  return options_.Contains(goEditing) && !options_.Contains(goRowSelect) &&
         RowCount() > fixedRows_ && ColCount() > fixedCols_;
}

TInplaceEdit* TCustomGrid::CreateEditor() {
  return new TInplaceEdit(this);
}

bool TCustomGrid::EditorMode() const {
  return editorShowing_;
}

void TCustomGrid::SetEditorMode(bool value) {
  if (value) {
    ShowEditor();
  } else {
    UpdateText();
    HideEditor();
  }
}

void TCustomGrid::ShowEditor() {
  if (!CanEditShow()) return;
  if (!editor_) editor_ = CreateEditor();
  editor_->Prepare();
  editor_->loading_ = true;
  editor_->original_ = GetEditText(focus_.X, focus_.Y);
  editor_->SetText(editor_->original_);
  editor_->loading_ = false;
  editorShowing_ = true;
  PlaceEditor();
  editor_->TControl::SetVisible(true);
  editor_->SelectAll();
  if (Focused() || editor_->Focused()) editor_->SetFocus();
}

void TCustomGrid::HideEditor() {
  if (!editorShowing_) return;
  editorShowing_ = false;
  bool hadFocus = editor_->Focused();
  editor_->TControl::SetVisible(false);
  if (hadFocus) SetFocus();
}

void TCustomGrid::UpdateText() {
  // Every change already went to SetEditText; nothing is pending here.
}

void TCustomGrid::PlaceEditor() {
  if (!editor_ || !editorShowing_) return;
  TRect r = CellRect(focus_.X, focus_.Y);
  if (r.IsEmpty()) {
    editor_->SetBounds(0, 0, 0, 0);
  } else {
    editor_->SetBoundsRect(r);
  }
}

void TCustomGrid::DoExit() {
  TCustomControl::DoExit();
  InvalidateCell(focus_.X, focus_.Y);
}

// ---- moves ----

void TCustomGrid::MoveRow(int fromIndex, int toIndex) {
  CheckIndex(fromIndex, RowCount());
  CheckIndex(toIndex, RowCount());
  if (fromIndex == toIndex) return;
  UpdateText();
  HideEditor();
  int h = rowHeights_[fromIndex];
  rowHeights_.erase(rowHeights_.begin() + fromIndex);
  rowHeights_.insert(rowHeights_.begin() + toIndex, h);
  RowMoved(fromIndex, toIndex);
  Invalidate();
}

void TCustomGrid::MoveColumn(int fromIndex, int toIndex) {
  CheckIndex(fromIndex, ColCount());
  CheckIndex(toIndex, ColCount());
  if (fromIndex == toIndex) return;
  UpdateText();
  HideEditor();
  int w = colWidths_[fromIndex];
  colWidths_.erase(colWidths_.begin() + fromIndex);
  colWidths_.insert(colWidths_.begin() + toIndex, w);
  ColumnMoved(fromIndex, toIndex);
  Invalidate();
}

void TCustomGrid::DeleteRow(int row) {
  MoveRow(row, RowCount() - 1);
  SetRowCount(RowCount() - 1);
}

void TCustomGrid::DeleteColumn(int col) {
  MoveColumn(col, ColCount() - 1);
  SetColCount(ColCount() - 1);
}

void TCustomGrid::InvalidateCell(int col, int row) {
  TRect r = CellRect(col, row);
  if (!r.IsEmpty()) InvalidateRect(r.Inflate(1, 1));
}

void TCustomGrid::InvalidateRow(int row) {
  TRect r = CellRect(0, row);
  if (r.IsEmpty() && fixedCols_ == 0) r = CellRect(top_.X, row);
  if (!r.IsEmpty()) InvalidateRect(TRect{0, r.Top - 1, ClientWidth(), r.Bottom + 1});
}

void TCustomGrid::InvalidateCol(int col) {
  TRect r = CellRect(col, 0);
  if (!r.IsEmpty()) InvalidateRect(TRect{r.Left - 1, 0, r.Right + 1, ClientHeight()});
}

// ---- painting ----

void TCustomGrid::Paint() {
  TCanvas* c = Canvas();
  c->Brush()->SetStyle(bsSolid);
  c->Brush()->SetColor(Color());
  c->FillRect(ClientRect());
  const TGridRect sel = Selection();
  const bool focused = Focused() || (editor_ && editor_->Focused());
  // The rows and columns that show: the fixed ones, then from TopRow / LeftCol.
  const std::vector<int> rows =
      Axis{rowHeights_, fixedRows_, top_.Y, GridLineWidth, ClientHeight()}.Shown();
  const std::vector<int> cols =
      Axis{colWidths_, fixedCols_, top_.X, GridLineWidth, ClientWidth()}.Shown();
  for (int pass = 0; pass < 2; ++pass) {  // fixed cells first
    for (int row : rows)
      for (int col : cols) {
        bool fixed = col < fixedCols_ || row < fixedRows_;
        if (fixed != (pass == 0)) continue;
        TRect r = CellRect(col, row);
        TGridDrawState state;
        bool isFocus = col == focus_.X && row == focus_.Y;
        if (fixed) {
          state.Include(gdFixed);
        } else {
          if (isFocus && focused) state.Include(gdFocused);
          bool inSel = sel.Contains(col, row);
          if (inSel && (!(isFocus && focused) || options_.Contains(goDrawFocusSelected) ||
                        options_.Contains(goRowSelect)))
            state.Include(gdSelected);
        }
        c->SetFont(*Font());
        c->Brush()->SetStyle(bsSolid);
        if (state.Contains(gdSelected)) {
          c->Brush()->SetColor(clHighlight);
          c->Font()->SetColor(clHighlightText);
        } else {
          c->Brush()->SetColor(fixed ? FixedColor : Color());
        }
        DrawCell(col, row, r, state);
        // Grid lines right and below the cell.
        bool vert = options_.Contains(fixed ? goFixedVertLine : goVertLine);
        bool horz = options_.Contains(fixed ? goFixedHorzLine : goHorzLine);
        c->Brush()->SetColor(fixed ? clBlack : clSilver);
        if (vert && GridLineWidth > 0)
          c->FillRect(TRect{r.Right, r.Top, r.Right + GridLineWidth, r.Bottom + GridLineWidth});
        if (horz && GridLineWidth > 0)
          c->FillRect(TRect{r.Left, r.Bottom, r.Right + GridLineWidth, r.Bottom + GridLineWidth});
        if (state.Contains(gdFocused) && !options_.Contains(goRowSelect) && !editorShowing_)
          c->DrawFocusRect(r);
      }
  }
}

// ---- mouse ----

int TCustomGrid::ColSizingEdge(int x, int y) const {
  if (!options_.Contains(goColSizing)) return -1;
  int fixedHeight = 0;
  for (int r = 0; r < fixedRows_; ++r)
    fixedHeight += rowHeights_[r] + GridLineWidth;
  if (y >= fixedHeight) return -1;
  for (int col = 0; col < ColCount(); ++col) {
    int left = ColLeft(col);
    if (left < 0) continue;
    int edge = left + colWidths_[col];
    if (x >= edge - kSizingGrip && x <= edge + kSizingGrip) return col;
  }
  return -1;
}

TCursor TCustomGrid::CursorAt(TPoint p) const {
  if (drag_ == Drag::ColSize || ColSizingEdge(p.X, p.Y) >= 0) return crSizeWE;
  return Cursor;
}

void TCustomGrid::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TCustomControl::MouseDown(Button, Shift, X, Y);
  if (Button != mbLeft || Shift.Contains(ssDouble)) return;
  int edge = ColSizingEdge(X, Y);
  if (edge >= 0) {
    drag_ = Drag::ColSize;
    dragIndex_ = edge;
    dragStart_ = X;
    dragStartSize_ = colWidths_[edge];
    return;
  }
  TGridCoord cell = MouseCoord(X, Y);
  if (cell.X < 0) return;
  if (cell.X < fixedCols_ && cell.Y >= fixedRows_ && options_.Contains(goRowMoving)) {
    drag_ = Drag::RowMove;
    dragIndex_ = cell.Y;
    return;
  }
  if (cell.Y < fixedRows_ && cell.X >= fixedCols_ && options_.Contains(goColMoving)) {
    drag_ = Drag::ColMove;
    dragIndex_ = cell.X;
    return;
  }
  if (cell.X < fixedCols_ || cell.Y < fixedRows_) return;
  bool again = cell.X == focus_.X && cell.Y == focus_.Y;
  bool extend = Shift.Contains(ssShift) && options_.Contains(goRangeSelect);
  FocusCell(cell.X, cell.Y, !extend);
  drag_ = Drag::Select;
  // A press on the focus cell shows the editor.
  if (again && options_.Contains(goEditing) && !editorShowing_) ShowEditor();
}

void TCustomGrid::MouseMove(TShiftState Shift, int X, int Y) {
  TCustomControl::MouseMove(Shift, X, Y);
  if (drag_ == Drag::ColSize) {
    SetColWidths(dragIndex_, std::max(kMinColWidth, dragStartSize_ + X - dragStart_));
  } else if (drag_ == Drag::Select && options_.Contains(goRangeSelect)) {
    TGridCoord cell = MouseCoord(X, Y);
    if (cell.X >= fixedCols_ && cell.Y >= fixedRows_) FocusCell(cell.X, cell.Y, false);
  }
}

void TCustomGrid::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  Drag drag = drag_;
  drag_ = Drag::None;
  if (Button == mbLeft) {
    TGridCoord cell = MouseCoord(X, Y);
    if (drag == Drag::RowMove && cell.Y >= fixedRows_ && cell.Y != dragIndex_) {
      MoveRow(dragIndex_, cell.Y);
    } else if (drag == Drag::ColMove && cell.X >= fixedCols_ && cell.X != dragIndex_) {
      MoveColumn(dragIndex_, cell.X);
    }
  }
  TCustomControl::MouseUp(Button, Shift, X, Y);
}

bool TCustomGrid::DoMouseWheel(TShiftState Shift, int WheelDelta, TPoint MousePos) {
  int steps = WheelDelta / 120;
  if (steps == 0) return false;
  FocusCell(focus_.X, std::clamp(focus_.Y - steps, fixedRows_, RowCount() - 1), true);
  return true;
}

// ---- keys ----

bool TCustomGrid::WantsKey(WORD key, TShiftState shift) const {
  return TCustomControl::WantsKey(key, shift) || key == VK_PRIOR || key == VK_NEXT ||
         key == VK_HOME || key == VK_END || (key == VK_TAB && options_.Contains(goTabs)) ||
         (key == VK_RETURN && options_.Contains(goEditing));
}

void TCustomGrid::KeyDown(WORD& Key, TShiftState Shift) {
  int col = focus_.X, row = focus_.Y;
  const int page = std::max(1, VisibleRowCount());
  const bool ctrl = Shift.Contains(ssCtrl);
  switch (Key) {
    case VK_UP:
      --row;
      break;
    case VK_DOWN:
      ++row;
      break;
    case VK_LEFT:
      options_.Contains(goRowSelect) ? void() : void(--col);
      break;
    case VK_RIGHT:
      options_.Contains(goRowSelect) ? void() : void(++col);
      break;
    case VK_PRIOR:
      row -= page;
      break;
    case VK_NEXT:
      row += page;
      break;
    case VK_HOME:
      if (ctrl) row = fixedRows_;
      col = fixedCols_;
      break;
    case VK_END:
      if (ctrl) row = RowCount() - 1;
      col = ColCount() - 1;
      break;
    case VK_TAB:
      if (!options_.Contains(goTabs)) return;
      col += Shift.Contains(ssShift) ? -1 : 1;
      if (col >= ColCount()) col = fixedCols_, ++row;
      if (col < fixedCols_) col = ColCount() - 1, --row;
      break;
    case VK_F2:
      ShowEditor();
      Key = 0;
      return;
    default:
      return;
  }
  Key = 0;
  col = std::clamp(col, fixedCols_, ColCount() - 1);
  row = std::clamp(row, fixedRows_, RowCount() - 1);
  bool extend = Shift.Contains(ssShift) && options_.Contains(goRangeSelect) && Key != VK_TAB;
  FocusCell(col, row, !extend);
}

void TCustomGrid::KeyPress(char& Key) {
  if (Key != '\r' || !options_.Contains(goEditing)) return;
  Key = 0;
  if (editorShowing_) {
    UpdateText();
    if (!options_.Contains(goAlwaysShowEditor)) HideEditor();
  } else {
    ShowEditor();
  }
}

void TCustomGrid::TextInput(const std::string& text) {
  // Typing over a cell starts editing it with what was typed.
  if (!editorShowing_ && options_.Contains(goEditing) && !text.empty() &&
      static_cast<unsigned char>(text[0]) >= 0x20) {
    ShowEditor();
    if (editorShowing_) {
      editor_->SelectAll();
      editor_->DispatchText(text);
      return;
    }
  }
  TCustomControl::TextInput(text);
}

// ---- TDrawGrid ----

void TDrawGrid::DrawCell(int ACol, int ARow, const TRect& ARect, TGridDrawState AState) {
  if (DefaultDrawing) Canvas()->FillRect(ARect);
  if (OnDrawCell && CanFire()) OnDrawCell(this, ACol, ARow, ARect, AState);
}

bool TDrawGrid::SelectCell(int ACol, int ARow) {
  bool can = true;
  if (OnSelectCell && CanFire()) OnSelectCell(this, ACol, ARow, can);
  return can;
}

std::string TDrawGrid::GetEditText(int ACol, int ARow) {
  std::string value;
  if (OnGetEditText) OnGetEditText(this, ACol, ARow, value);
  return value;
}

void TDrawGrid::SetEditText(int ACol, int ARow, const std::string& Value) {
  if (OnSetEditText) OnSetEditText(this, ACol, ARow, Value);
}

void TDrawGrid::ColumnMoved(int FromIndex, int ToIndex) {
  if (OnColumnMoved) OnColumnMoved(this, FromIndex, ToIndex);
}

void TDrawGrid::RowMoved(int FromIndex, int ToIndex) {
  if (OnRowMoved) OnRowMoved(this, FromIndex, ToIndex);
}

// ---- TStringGrid ----

TStringGrid::TStringGrid(rtl::TComponent* owner) : TDrawGrid(owner) {
  SizeChanged(0, 0);
}

std::string TStringGrid::Cells(int col, int row) const {
  if (row < 0 || row >= static_cast<int>(cells_.size()) || col < 0 ||
      col >= static_cast<int>(cells_[row].size()))
    return "";
  return cells_[row][col];
}

void TStringGrid::SetCells(int col, int row, const std::string& value) {
  if (row < 0 || row >= static_cast<int>(cells_.size()) || col < 0 ||
      col >= static_cast<int>(cells_[row].size()))
    return;
  if (cells_[row][col] == value) return;
  cells_[row][col] = value;
  InvalidateCell(col, row);
}

void TStringGrid::SizeChanged(int, int) {
  cells_.resize(static_cast<size_t>(RowCount()));
  for (auto& row : cells_)
    row.resize(static_cast<size_t>(ColCount()));
}

void TStringGrid::DrawCell(int ACol, int ARow, const TRect& ARect, TGridDrawState AState) {
  if (DefaultDrawing) Canvas()->TextRect(ARect, ARect.Left + 2, ARect.Top + 2, Cells(ACol, ARow));
  if (OnDrawCell && CanFire()) OnDrawCell(this, ACol, ARow, ARect, AState);
}

std::string TStringGrid::GetEditText(int ACol, int ARow) {
  std::string value = Cells(ACol, ARow);
  if (OnGetEditText) OnGetEditText(this, ACol, ARow, value);
  return value;
}

void TStringGrid::SetEditText(int ACol, int ARow, const std::string& Value) {
  SetCells(ACol, ARow, Value);
  TDrawGrid::SetEditText(ACol, ARow, Value);
}

void TStringGrid::ColumnMoved(int FromIndex, int ToIndex) {
  for (auto& row : cells_) {
    std::string s = std::move(row[FromIndex]);
    row.erase(row.begin() + FromIndex);
    row.insert(row.begin() + ToIndex, std::move(s));
  }
  TDrawGrid::ColumnMoved(FromIndex, ToIndex);
}

void TStringGrid::RowMoved(int FromIndex, int ToIndex) {
  auto row = std::move(cells_[FromIndex]);
  cells_.erase(cells_.begin() + FromIndex);
  cells_.insert(cells_.begin() + ToIndex, std::move(row));
  TDrawGrid::RowMoved(FromIndex, ToIndex);
}
