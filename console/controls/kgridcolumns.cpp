#include "console/controls/kgridcolumns.h"

#include <algorithm>

#include "console/controls/gridtext.h"
#include "console/controls/kstringgrid.h"
#include "rtl/cp932.h"

namespace {

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

// ---- TKGridColumn ----

TKGridColumn::TKGridColumn(rtl::TCollection* collection) : rtl::TCollectionItem(collection) {
  TKStringGrid* grid = Grid();
  width_ = grid->DefaultColWidth();
  CopyFont(font_, *grid->Font());
  CopyFont(headerFont_, grid->headerFont_);
  cells_.resize(static_cast<size_t>(grid->StoredRows()));
  font_.OnChange = [this](rtl::TObject*) {
    if (!copyingFont_) parentFont_ = false;
    Repaint();
  };
  headerFont_.OnChange = [this](rtl::TObject*) {
    if (!copyingFont_) parentHeaderFont_ = false;
    Repaint();
  };
}

TKGridColumn::~TKGridColumn() {
  font_.OnChange = nullptr;
  headerFont_.OnChange = nullptr;
  Grid()->ColumnGone(this);
}

TKStringGrid* TKGridColumn::Grid() const {
  return static_cast<TKGridColumns*>(Collection())->Grid();
}

void TKGridColumn::CopyFont(TFont& to, const TFont& from) {
  copyingFont_ = true;
  to.Assign(from);
  copyingFont_ = false;
}

void TKGridColumn::Repaint() const {
  Grid()->InvalidateColumn(this);
}

void TKGridColumn::SetCaption(const std::string& value) {
  caption_ = value;
  Grid()->Invalidate();
}

std::string TKGridColumn::DisplayName() const {
  return caption_.empty() ? "TKGridColumn" : caption_;
}

void TKGridColumn::SetName(const std::string& value) {
  if (value == name_) return;
  const TKGridColumns* columns = static_cast<TKGridColumns*>(Collection());
  for (int i = 0; i < columns->Count(); ++i) {
    const TKGridColumn* other = columns->Items(i);
    if (other != this && rtl::SameText(other->name_, value)) {
      const std::string_view format = kColumnNameExists;
      const size_t at = format.find("%s");
      throw EKGridColumnsError(std::string(format.substr(0, at)) + value +
                               std::string(format.substr(at + 2)));
    }
  }
  name_ = value;
}

void TKGridColumn::SetWidth(int value) {
  width_ = value;
  TKStringGrid* grid = Grid();
  const int position = grid->visible_.IndexOf(this);
  if (position >= 0 && position < grid->ColCount()) grid->SetColWidths(position, value);
}

void TKGridColumn::SetVisible(bool value) {
  if (value == visible_) return;
  visible_ = value;
  TKStringGrid* grid = Grid();
  grid->RebuildVisibleColumns();
  grid->active_ = nullptr;
  grid->ReselectFocusCell();
}

void TKGridColumn::SetIndex(int value) {
  rtl::TCollectionItem::SetIndex(value);
  SetDisplayPosition(value);
}

void TKGridColumn::SetDisplayPosition(int value) {
  if (value < 0) throw EKGridError(kWrongColumnIndex);
  TKStringGrid* grid = Grid();
  if (grid->Loading() || !visible_) {
    position_ = value;
    return;
  }
  grid->MoveColumnTo(this, value);
}

void TKGridColumn::SetColor(TColor value) {
  color_ = value;
  Repaint();
}

void TKGridColumn::SetHeaderColor(TColor value) {
  headerColor_ = value;
  Repaint();
}

void TKGridColumn::SetParentFont(bool value) {
  if (value && !Grid()->Loading()) CopyFont(font_, *Grid()->Font());
  parentFont_ = value;
}

void TKGridColumn::SetParentHeaderFont(bool value) {
  if (value && !Grid()->Loading()) CopyFont(headerFont_, Grid()->headerFont_);
  parentHeaderFont_ = value;
}

void TKGridColumn::SetSortOrder(TColumnSorting value) {
  if (value == sortOrder_) return;
  sortOrder_ = value;
  TKStringGrid* grid = Grid();
  if (grid->AutoSort && value != csNone)
    grid->SortBusy();
  else
    grid->Invalidate();
}

void TKGridColumn::CheckRow(int row) const {
  if (row < 0 || row >= static_cast<int>(cells_.size())) throw EKGridError(kWrongRowIndex);
}

std::string TKGridColumn::GetRowText(int row) const {
  CheckRow(row);
  return CommaTextToLines(cells_[row].text);
}

void TKGridColumn::SetRowText(int row, const std::string& text) {
  CheckRow(row);
  TCell& cell = cells_[row];
  cell.text = LinesToCommaText(text);
  if (HasLineBreak(text)) cell.word |= kCellMultiLine;
  TKStringGrid* grid = Grid();
  if (grid->CurrentRow() == row && grid->visible_.IndexOf(this) == grid->Col())
    grid->InvalidateCell(grid->Col(), grid->Row());
}

void TKGridColumn::Assign(const TKGridColumn& source) {
  SetCaption(source.caption_);
  SetName(source.name_);
  SetWidth(source.width_);
  color_ = source.color_;
  headerColor_ = source.headerColor_;
  CopyFont(font_, source.font_);
  CopyFont(headerFont_, source.headerFont_);
  parentFont_ = source.parentFont_;
  parentHeaderFont_ = source.parentHeaderFont_;
  ReadOnly = source.ReadOnly;
  ImeName = source.ImeName;
  ImeMode = source.ImeMode;
  Alignment = source.Alignment;
  sortOrder_ = source.sortOrder_;
  if (visible_ != source.visible_) SetVisible(source.visible_);
}

// ---- TKGridColumns ----

TKGridColumns::TKGridColumns(TKStringGrid* grid)
    : rtl::TCollection([](rtl::TCollection* c) { return std::make_unique<TKGridColumn>(c); }),
      grid_(grid) {}

TKGridColumn* TKGridColumns::Add() {
  auto* column = static_cast<TKGridColumn*>(rtl::TCollection::Add());
  grid_->ColumnAdded(column);
  return column;
}

TKGridColumn* TKGridColumns::FindByName(std::string_view name) const {
  for (int i = 0; i < Count(); ++i)
    if (rtl::SameText(Items(i)->name_, name)) return Items(i);
  return nullptr;
}

void TKGridColumns::InsertRow(int row) {
  for (int i = 0; i < Count(); ++i) {
    auto& cells = Items(i)->cells_;
    cells.insert(cells.begin() + row, TKGridColumn::TCell{});
  }
}

void TKGridColumns::DeleteRow(int row) {
  for (int i = 0; i < Count(); ++i) {
    auto& cells = Items(i)->cells_;
    cells.erase(cells.begin() + row);
  }
}

void TKGridColumns::ClearRows() {
  for (int i = 0; i < Count(); ++i)
    Items(i)->cells_.clear();
}

void TKGridColumns::Assign(const TKGridColumns& source) {
  if (&source == this) return;
  BeginUpdate();
  Clear();
  for (int i = 0; i < source.Count(); ++i)
    Add()->Assign(*source.Items(i));
  EndUpdate();
}

void TKGridColumns::Update(rtl::TCollectionItem* item) {
  // Columns came, went or moved in the collection.
  if (!item && !grid_->destroying_) {
    grid_->RebuildVisibleColumns();
    grid_->ReselectFocusCell();
  }
}

// ---- TKGridColumnList ----

int TKGridColumnList::IndexOf(const TKGridColumn* column) const {
  auto it = std::find(items_.begin(), items_.end(), column);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TKGridColumnList::InsertByPosition(TKGridColumn* column) {
  auto at = items_.end();
  if (column->DisplayPosition() >= 0) {
    at = std::find_if(items_.begin(), items_.end(), [column](const TKGridColumn* c) {
      return c->DisplayPosition() > column->DisplayPosition();
    });
  }
  items_.insert(at, column);
}

void TKGridColumnList::Remove(const TKGridColumn* column) {
  const int i = IndexOf(column);
  if (i >= 0) items_.erase(items_.begin() + i);
}

void TKGridColumnList::Move(int from, int to) {
  TKGridColumn* column = items_[from];
  items_.erase(items_.begin() + from);
  items_.insert(items_.begin() + to, column);
}
