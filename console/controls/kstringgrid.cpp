#include "console/controls/kstringgrid.h"

#include <algorithm>

#include "console/controls/gridtext.h"
#include "platform/ui/core/application.h"
#include "rtl/cp932.h"

namespace {

constexpr int kDefaultRowHeight = 18;

// Shows the hourglass while it lives, and puts back the cursor that was there.
class THourGlass {
 public:
  THourGlass() : old_(Screen ? Screen->Cursor() : crDefault) {
    if (Screen) Screen->SetCursor(crHourGlass);
  }
  ~THourGlass() {
    if (Screen) Screen->SetCursor(old_);
  }
  THourGlass(const THourGlass&) = delete;
  THourGlass& operator=(const THourGlass&) = delete;

 private:
  const TCursor old_;
};

}  // namespace

TKStringGrid::TKStringGrid(rtl::TComponent* owner)
    : TCustomGrid(owner), columns_(std::make_unique<TKGridColumns>(this)) {
  TFontStyles bold{fsBold};
  activeHeaderFont_.SetStyle(bold);
  activeHeaderFont_.SetColor(clWhite);
  activeFixedFont_.SetColor(clWhite);
  headerFont_.SetStyle(bold);
  TCustomGrid::SetFixedCols(0);
  SetDefaultRowHeight(kDefaultRowHeight);
  ApplyRowCount();
  ApplyColumns();
}

TKStringGrid::~TKStringGrid() {
  destroying_ = true;
  columns_->Clear();
  DestroyComponents();
}

// ---- rows ----

void TKStringGrid::CheckRow(int row) const {
  if (row < 0 || row >= RowCount()) throw EKGridError(kWrongRowIndex);
}

TKGridColumn* TKStringGrid::CheckedColumn(int col) const {
  if (col < 0 || col >= visible_.Count()) throw EKGridError(kWrongColumnIndex);
  return visible_[col];
}

void TKStringGrid::ApplyRowCount() {
  TCustomGrid::SetRowCount(empty_ ? 2 : StoredRows() + 1);
  TCustomGrid::SetFixedRows(1);
}

void TKStringGrid::SetRowCount(int value) {
  value = std::max(0, value);
  const int rows = RowCount();
  if (value == rows) return;
  const bool wasEmpty = empty_;
  if (value > rows) {
    for (int r = rows; r < value; ++r) {
      columns_->InsertRow(r);
      userData_.push_back(nullptr);
    }
    empty_ = false;
    ApplyRowCount();
    Invalidate();
  } else {
    DeleteRows(value, rows - 1);
  }
  if (wasEmpty) ReselectFocusCell();
}

void TKStringGrid::InsertRow(int row) {
  if (row < 0 || row > RowCount()) throw EKGridError(kWrongRowIndex);
  columns_->InsertRow(row);
  userData_.insert(userData_.begin() + row, nullptr);
  empty_ = false;
  ApplyRowCount();
  Invalidate();
}

void TKStringGrid::DeleteRows(int first, int last) {
  if (first > last) throw EKGridError(kWrongRowIndex);
  CheckRow(first);
  CheckRow(last);
  HideEditor();
  HideButton();
  for (int r = last; r >= first; --r)
    columns_->DeleteRow(r);
  userData_.erase(userData_.begin() + first, userData_.begin() + last + 1);
  if (userData_.empty()) empty_ = true;
  ApplyRowCount();
  Invalidate();
}

void TKStringGrid::ClearRows() {
  HideEditor();
  HideButton();
  columns_->ClearRows();
  userData_.clear();
  empty_ = true;
  ApplyRowCount();
  Invalidate();
}

void TKStringGrid::ExchangeRows(int a, int b) {
  CheckRow(a);
  CheckRow(b);
  if (a == b) return;
  for (int i = 0; i < columns_->Count(); ++i) {
    auto& cells = columns_->Items(i)->cells_;
    std::swap(cells[a], cells[b]);
  }
  std::swap(userData_[a], userData_[b]);
  InvalidateRow(a + 1);
  InvalidateRow(b + 1);
}

void TKStringGrid::SetCurrentRow(int row) {
  if (row < 0 || row >= RowCount()) return;
  SetRow(row + 1);
}

void* TKStringGrid::RowData(int row) const {
  CheckRow(row);
  return userData_[row];
}

void TKStringGrid::SetRowData(int row, void* data) {
  CheckRow(row);
  userData_[row] = data;
}

// ---- cells ----

std::string TKStringGrid::GetCellText(int col, int row) const {
  TKGridColumn* column = CheckedColumn(col);
  CheckRow(row);
  return column->GetRowText(row);
}

void TKStringGrid::SetCellText(int col, int row, const std::string& text) {
  TKGridColumn* column = CheckedColumn(col);
  CheckRow(row);
  column->SetRowText(row, text);
}

uint32_t TKStringGrid::GetCellFlags(int col, int row) const {
  if (empty_ || visible_.Count() == 0) return 0;
  TKGridColumn* column = CheckedColumn(col);
  CheckRow(row);
  return column->cells_[row].word & kCellFlagMask;
}

void TKStringGrid::SetCellFlags(int col, int row, uint32_t flags) {
  TKGridColumn* column = CheckedColumn(col);
  CheckRow(row);
  TKGridColumn::TCell& cell = column->cells_[row];
  flags &= kCellFlagMask;
  if (flags == (cell.word & kCellFlagMask)) return;
  if (column->GetRowText(row).find_first_of("\r\n") != std::string::npos) flags |= kCellMultiLine;
  const uint32_t kind = (cell.word >> kCellKindShift) & kCellKindMask;
  cell.word = (kind << kCellKindShift) | flags;
  InvalidateCell(col, row + 1);
}

// ---- columns ----

void TKStringGrid::ApplyFixedCols() {
  const int cut = visible_.Count() == 0 ? 0 : std::min(requestedFixedCols_, visible_.Count() - 1);
  TCustomGrid::SetFixedCols(std::max(0, cut));
}

void TKStringGrid::SetFixedCols(int value) {
  requestedFixedCols_ = std::max(0, value);
  ApplyFixedCols();
}

void TKStringGrid::ApplyColumns() {
  applyingWidths_ = true;
  // The toolkit grid keeps at least one column; with no visible column it stays blank.
  if (visible_.Count() > ColCount()) TCustomGrid::SetColCount(visible_.Count());
  ApplyFixedCols();
  TCustomGrid::SetColCount(std::max(1, visible_.Count()));
  for (int i = 0; i < visible_.Count(); ++i)
    SetColWidths(i, visible_[i]->width_);
  applyingWidths_ = false;
  Invalidate();
}

void TKStringGrid::RenumberPositions() {
  for (int i = 0; i < visible_.Count(); ++i)
    visible_[i]->position_ = i;
}

void TKStringGrid::RebuildVisibleColumns() {
  visible_.Clear();
  for (int i = 0; i < columns_->Count(); ++i) {
    TKGridColumn* column = columns_->Items(i);
    if (column->visible_) visible_.InsertByPosition(column);
  }
  RenumberPositions();
  ApplyColumns();
}

void TKStringGrid::ReselectFocusCell() {
  TKGridColumn* now =
      visible_.Count() == 0 ? nullptr : visible_[std::min(Col(), visible_.Count() - 1)];
  if (now == active_) return;
  TKGridColumn* old = active_;
  active_ = now;
  if (now) ActiveColChanged(old, now);
}

void TKStringGrid::ColumnAdded(TKGridColumn* column) {
  ApplyFixedCols();
}

void TKStringGrid::ColumnGone(TKGridColumn* column) {
  visible_.Remove(column);
  if (active_ == column) active_ = nullptr;
}

void TKStringGrid::MoveColumnTo(TKGridColumn* column, int position) {
  const int from = visible_.IndexOf(column);
  if (from < 0) return;
  const int to = std::min(position, visible_.Count() - 1);
  visible_.Move(from, to);
  RenumberPositions();
  ApplyColumns();
  ReselectFocusCell();
}

void TKStringGrid::InvalidateColumn(const TKGridColumn* column) {
  const int position = visible_.IndexOf(column);
  if (position >= 0 && position < ColCount()) InvalidateCol(position);
}

void TKStringGrid::Loaded() {
  TCustomGrid::Loaded();
  RebuildVisibleColumns();
  ReselectFocusCell();
}

void TKStringGrid::ActiveColChanged(TKGridColumn* OldCol, TKGridColumn* NewCol) {
  if (OldCol) InvalidateColumn(OldCol);
  if (NewCol) InvalidateColumn(NewCol);
  if (OnActiveColChanged && CanFire()) OnActiveColChanged(this, OldCol, NewCol);
}

void TKStringGrid::ColumnMoved(int FromIndex, int ToIndex) {
  if (FromIndex >= visible_.Count() || ToIndex >= visible_.Count()) return;
  visible_.Move(FromIndex, ToIndex);
  RenumberPositions();
  if (OnColumnMoved && CanFire()) OnColumnMoved(this, FromIndex, ToIndex);
  Invalidate();
}

void TKStringGrid::RowMoved(int FromIndex, int ToIndex) {
  if (empty_ || FromIndex < 1 || ToIndex < 1) return;
  // Grid rows F to T: data row F - 1 ends at data row T - 1.
  const int from = FromIndex - 1, to = ToIndex - 1;
  const int insertAt = FromIndex > ToIndex ? to : ToIndex;
  for (int i = 0; i < columns_->Count(); ++i) {
    auto& cells = columns_->Items(i)->cells_;
    TKGridColumn::TCell cell = std::move(cells[from]);
    cells.erase(cells.begin() + from);
    cells.insert(cells.begin() + to, std::move(cell));
  }
  void* data = userData_[from];
  userData_.erase(userData_.begin() + from);
  userData_.insert(userData_.begin() + to, data);
  if (OnRowMoved && CanFire()) OnRowMoved(this, from, insertAt);
  Invalidate();
}

void TKStringGrid::ColWidthsChanged() {
  if (applyingWidths_) return;
  // The user sized a column: the columns take the grid's widths.
  for (int i = 0; i < visible_.Count() && i < ColCount(); ++i)
    visible_[i]->width_ = ColWidths(i);
}

void TKStringGrid::RowHeightsChanged() {
  // One row's new height becomes every row's height.
  for (int r = 0; r < TCustomGrid::RowCount(); ++r) {
    const int h = RowHeights(r);
    if (h != DefaultRowHeight()) {
      SetDefaultRowHeight(h);
      return;
    }
  }
}

void TKStringGrid::FontChanged() {
  TCustomGrid::FontChanged();
  for (int i = 0; i < columns_->Count(); ++i) {
    TKGridColumn* column = columns_->Items(i);
    if (column->parentFont_) column->CopyFont(column->font_, *Font());
  }
}

// ---- selection and editing ----

bool TKStringGrid::SelectCell(int ACol, int ARow) {
  if (visible_.Count() == 0 || ACol >= visible_.Count()) {
    active_ = nullptr;
    return false;
  }
  if (!empty_) {
    bool allow = true;
    if (OnSelectCell && CanFire()) OnSelectCell(this, ACol, ARow - 1, allow);
    if (!allow) return false;
    InvalidateRow(Row());
    InvalidateRow(ARow);
    HideButton();
  }
  TKGridColumn* column = visible_[ACol];
  if (column != active_) {
    TKGridColumn* old = active_;
    active_ = column;
    ActiveColChanged(old, column);
  }
  return true;
}

// ---- sorting ----

int TKStringGrid::CompareRows(const TKGridColumnList& keys, int a, int b) {
  int result = 0;
  for (int k = 0; k < keys.Count() && result == 0; ++k) {
    const TKGridColumn* column = keys[k];
    result = rtl::CompareText(column->GetRowText(a), column->GetRowText(b));
    if (column->sortOrder_ == csDsc) result = -result;
  }
  if (OnCompareRows && keys.Count() > 0) OnCompareRows(keys, a, b, result);
  return result;
}

void TKStringGrid::QuickSort(const TKGridColumnList& keys, int left, int right) {
  if (left >= right) return;
  int i = left, j = right, pivot = (left + right) / 2;
  while (i <= j) {
    // Both scans stay within left..right.
    while (i < right && CompareRows(keys, i, pivot) < 0)
      ++i;
    while (j > left && CompareRows(keys, j, pivot) > 0)
      --j;
    if (i < j) {
      ExchangeRows(i, j);
      if (pivot == i)
        pivot = j;
      else if (pivot == j)
        pivot = i;
      ++i;
      --j;
    } else if (i == j) {
      if (i < right)
        ++i;
      else
        --j;
    } else {
      break;
    }
  }
  QuickSort(keys, left, j);
  QuickSort(keys, i, right);
}

void TKStringGrid::Sort() {
  TKGridColumnList keys;
  for (int i = 0; i < visible_.Count(); ++i)
    if (visible_[i]->sortOrder_ != csNone) keys.Add(visible_[i]);
  if (keys.Count() > 0) QuickSort(keys, 0, RowCount() - 1);
  Invalidate();
}

void TKStringGrid::SortBusy() {
  THourGlass busy;
  Sort();
}
