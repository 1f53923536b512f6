// The columns of TKStringGrid (kstringgrid.h): a collection of named columns, each holding the
// cells of its column for every data row, and the list of visible columns in display order.
// Cells are kept in storage form (gridtext.h) with a 32-bit cell word: bits 0-2 the flags below,
// bits 16-22 the cell kind (0: text).
//
// Ownership: the grid owns its TKGridColumns, which owns its columns; a column frees its cells
// and fonts. A TKGridColumnList only borrows columns. Threads: the GUI thread (control.h).
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/core/graphics.h"
#include "platform/ui/core/types.h"
#include "rtl/classes.h"
#include "rtl/exception.h"

class TKStringGrid;
class TKGridColumns;

// A row or column index outside the grid.
RTL_DECLARE_EXCEPTION(EKGridError, rtl::Exception);
// A column name that another column of the grid already has.
RTL_DECLARE_EXCEPTION(EKGridColumnsError, rtl::Exception);

inline constexpr char kWrongColumnIndex[] = "Wrong column index";
inline constexpr char kWrongRowIndex[] = "Wrong row index";
inline constexpr char kColumnNameExists[] = "Column name \"%s\" already exists";

enum TColumnSorting { csNone, csAsc, csDsc };

// Cell flags (the low bits of the cell word).
constexpr uint32_t kCellMultiLine = 0x1;  // the text has line breaks
constexpr uint32_t kCellButton = 0x2;     // an ellipsis button shows in the focus cell
constexpr uint32_t kCellLocked = 0x4;     // the cell cannot be edited
constexpr uint32_t kCellFlagMask = 0x7;
constexpr int kCellKindShift = 16;
constexpr uint32_t kCellKindMask = 0x7F;  // bits 16-22 once shifted down

// One column: its look, its name and its cells.
class TKGridColumn : public rtl::TCollectionItem {
 public:
  // A column of the grid that owns collection: an empty cell for every existing data row,
  // copies of the grid's Font and HeaderFont, the grid's DefaultColWidth. Made by
  // TKGridColumns::Add.
  explicit TKGridColumn(rtl::TCollection* collection);
  ~TKGridColumn() override;

  TKStringGrid* Grid() const;

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value);
  // The caption, or "TKGridColumn" when the caption is empty.
  std::string DisplayName() const;

  const std::string& Name() const { return name_; }
  // Raises EKGridColumnsError when another column has the name (ASCII letters compared without
  // case); the old name stays then.
  void SetName(const std::string& value);

  int Width() const { return width_; }
  // A visible column sets the grid column's width too.
  void SetWidth(int value);
  bool Visible() const { return visible_; }
  // A change rebuilds the grid's visible-column list.
  void SetVisible(bool value);
  // Moves the column in the collection and to that display position.
  void SetIndex(int value);
  // The column's place among the visible columns; -1 until placed.
  int DisplayPosition() const { return position_; }
  // REQUIRES: value >= 0 (else EKGridError "Wrong column index"). Moves the column to that
  // display position (the last one when value is beyond it); while the form is loading only
  // stores it.
  void SetDisplayPosition(int value);

  TColor Color() const { return color_; }
  void SetColor(TColor value);
  TColor HeaderColor() const { return headerColor_; }
  void SetHeaderColor(TColor value);
  // Setting a font, or any change made to the font object, clears the matching parent flag.
  TFont* Font() { return &font_; }
  void SetFont(const TFont& value) { font_.Assign(value); }
  TFont* HeaderFont() { return &headerFont_; }
  void SetHeaderFont(const TFont& value) { headerFont_.Assign(value); }
  bool ParentFont() const { return parentFont_; }
  // Set true: takes a copy of the grid's Font.
  void SetParentFont(bool value);
  bool ParentHeaderFont() const { return parentHeaderFont_; }
  void SetParentHeaderFont(bool value);

  TColumnSorting SortOrder() const { return sortOrder_; }
  // A change sorts the grid when its AutoSort is on and value is not csNone; else repaints.
  void SetSortOrder(TColumnSorting value);

  bool ReadOnly = false;
  std::string ImeName;
  int ImeMode = 0;
  TAlignment Alignment = taLeftJustify;

  // The text of data row row, converted from storage form. REQUIRES: 0 <= row < the grid's row
  // count (else EKGridError "Wrong row index").
  std::string GetRowText(int row) const;
  // Stores text in storage form; a text with CR or LF sets the cell's multi-line flag.
  // REQUIRES as GetRowText.
  void SetRowText(int row, const std::string& text);

  // Copies the look, name and sorting of source (not its cells).
  void Assign(const TKGridColumn& source);

 private:
  friend class TKGridColumns;
  friend class TKStringGrid;

  struct TCell {
    std::string text;  // storage form
    uint32_t word = 0;
  };

  void CheckRow(int row) const;
  void Repaint() const;
  // Copies a font without clearing the parent flag.
  void CopyFont(TFont& to, const TFont& from);

  std::string caption_;
  int width_ = 64;
  TFont font_;
  TColor color_ = clNone;
  TColor headerColor_ = clNone;
  TFont headerFont_;
  int position_ = -1;
  std::string name_;
  // A deque: the viewer fills every row at row 0, which must stay cheap.
  std::deque<TCell> cells_;
  bool visible_ = true;
  TColumnSorting sortOrder_ = csNone;
  bool parentFont_ = true;
  bool parentHeaderFont_ = true;
  bool copyingFont_ = false;
};

// The grid's columns in creation order.
class TKGridColumns : public rtl::TCollection {
 public:
  explicit TKGridColumns(TKStringGrid* grid);
  TKStringGrid* Grid() const { return grid_; }

  // A new column at the end (see TKGridColumn's constructor), placed after the visible ones.
  TKGridColumn* Add();
  // REQUIRES: 0 <= index < Count() (else rtl::EListError).
  TKGridColumn* Items(int index) const {
    return static_cast<TKGridColumn*>(rtl::TCollection::Items(index));
  }
  // The first column named name (ASCII letters compared without case), or null.
  TKGridColumn* FindByName(std::string_view name) const;

  // Cell stores of every column: an empty cell (word 0) inserted at row, the cell of row
  // removed, every cell removed. REQUIRES: row within the stores.
  virtual void InsertRow(int row);
  virtual void DeleteRow(int row);
  void ClearRows();

  // Copies source's columns (their look, names and sorting; no cells).
  void Assign(const TKGridColumns& source);

 protected:
  void Update(rtl::TCollectionItem* item) override;

 private:
  TKStringGrid* grid_;
};

// Columns ordered by display position (borrowed): the visible columns, and the sort keys while
// the grid sorts.
class TKGridColumnList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  // REQUIRES: 0 <= index < Count().
  TKGridColumn* Items(int index) const { return items_[index]; }
  TKGridColumn* operator[](int index) const { return items_[index]; }
  int IndexOf(const TKGridColumn* column) const;
  // Puts column before the first listed column with a higher display position; at the end when
  // its position is -1 or no listed one is higher.
  void InsertByPosition(TKGridColumn* column);
  void Add(TKGridColumn* column) { items_.push_back(column); }
  void Remove(const TKGridColumn* column);
  void Move(int from, int to);
  void Clear() { items_.clear(); }

 private:
  std::vector<TKGridColumn*> items_;
};
