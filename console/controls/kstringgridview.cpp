// TKStringGrid on screen: cell drawing, the ellipsis button, header clicks and the fixed-column
// resize, and in-place editing.
#include <algorithm>
#include <cstdlib>

#include "console/controls/ksginplaceedit.h"
#include "console/controls/kstringgrid.h"
#include "platform/ui/core/drawtext.h"

namespace {

// A left or right aligned text keeps this far from its cell's edge.
constexpr int kTextMargin = 3;
// The sort mark's box spans from 23 to 1 pixels before the header cell's right edge, 2 pixels
// inside its top and bottom; its triangle starts 20 pixels before that edge, its base line
// 10 pixels below the top.
constexpr int kSortBoxLeft = 23;
constexpr int kSortBoxRight = 1;
constexpr int kSortBoxInset = 2;
constexpr int kSortMarkX = 20;
constexpr int kSortMarkY = 10;
// How near a fixed column's right edge in the header the pointer sizes that column.
constexpr int kFixedSizingGrip = 3;
// A header press clicks a column only more than this far inside the column's edges.
constexpr int kHeaderClickInset = 1;
// The ellipsis button: three middle dots, in a Western font whose bytes are Latin-1.
constexpr char kButtonCaption[] = "\xB7\xB7\xB7";
constexpr char kButtonFontName[] = "Arial";
constexpr int kButtonFontSize = 10;
// The button stays away when the cell is not this much wider than the button.
constexpr int kButtonRoom = 3;

TColor OrElse(TColor color, TColor fallback) {
  return color == clNone ? fallback : color;
}

}  // namespace

// The ellipsis button: a push button without a window of its own, over the grid.
class TKGridButton : public TGraphicControl {
 public:
  explicit TKGridButton(TKStringGrid* grid) : TGraphicControl(grid), grid_(grid) {
    SetVisible(false);
    SetParent(grid);
    SetCaption(kButtonCaption);
    Font()->SetName(kButtonFontName);
    Font()->SetSize(kButtonFontSize);
    Font()->SetCharset(ANSI_CHARSET);
  }

  void Click() override {
    TGraphicControl::Click();
    grid_->ButtonClick();
  }

 protected:
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override {
    if (Button == mbLeft) SetDown(true);
    TGraphicControl::MouseDown(Button, Shift, X, Y);
  }
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override {
    if (Button == mbLeft) SetDown(false);
    TGraphicControl::MouseUp(Button, Shift, X, Y);
  }
  void Paint() override {
    TCanvas* c = Canvas();
    TRect r = ClientRect();
    c->Brush()->SetStyle(bsSolid);
    c->Brush()->SetColor(clBtnFace);
    c->FillRect(r);
    Frame3D(*c, r, down_ ? clBtnShadow : clBtnHighlight, down_ ? clBtnHighlight : clBtnShadow, 1);
    c->Brush()->SetStyle(bsClear);
    DrawText(c, Caption(), r, DT_SINGLELINE | DT_CENTER | DT_VCENTER | DT_NOPREFIX);
  }

 private:
  void SetDown(bool value) {
    down_ = value;
    Invalidate();
  }
  TKStringGrid* const grid_;
  bool down_ = false;
};

// ---- drawing ----

TKStringGrid::TCellColors TKStringGrid::ResolveColors(const TKGridColumn* column, TColor canvasFont,
                                                      TColor canvasBrush) const {
  TCellColors k;
  const bool plain = DefaultLook;
  k.Base = OrElse(column->color_, Color());
  k.FixedText = plain ? canvasFont : OrElse(fixedFont_.Color(), canvasFont);
  k.HeaderText = plain ? canvasFont : OrElse(column->headerFont_.Color(), canvasFont);
  k.ActiveFixedText = plain ? k.FixedText : OrElse(activeFixedFont_.Color(), k.FixedText);
  k.ActiveHeaderText = plain ? k.HeaderText : OrElse(activeHeaderFont_.Color(), k.HeaderText);
  k.ActiveRowText = plain ? canvasFont : OrElse(ActiveRowFontColor, column->font_.Color());
  k.SelectedText = plain ? canvasFont : OrElse(SelectedFontColor, column->font_.Color());
  k.FixedBack = plain ? canvasBrush : OrElse(TCustomGrid::FixedColor, k.Base);
  k.HeaderBack = OrElse(plain ? canvasBrush : OrElse(column->headerColor_, HeaderColor), k.Base);
  k.ActiveFixedBack = plain ? k.FixedBack : OrElse(ActiveFixedColor, k.FixedBack);
  k.ActiveHeaderBack = plain ? k.HeaderBack : OrElse(ActiveHeaderColor, k.HeaderBack);
  k.ActiveColBack = plain ? k.Base : OrElse(ActiveColColor, k.Base);
  if (plain)
    k.ActiveRowBack = Options().Contains(goRowSelect) ? canvasBrush : k.Base;
  else
    k.ActiveRowBack = OrElse(ActiveRowColor, k.Base);
  k.SelectedBack = plain ? canvasBrush : OrElse(SelectedColor, k.Base);
  return k;
}

void TKStringGrid::DrawCell(int ACol, int ARow, const TRect& ARect, TGridDrawState AState) {
  if (ACol >= visible_.Count()) return;  // also: no column is visible
  TKGridColumn* column = visible_[ACol];
  TCanvas* c = Canvas();
  const TColor canvasFont = c->Font()->Color();
  const TCellColors k = ResolveColors(column, canvasFont, c->Brush()->Color());
  const bool focusRow = ARow == Row(), focusCol = ACol == Col();
  TFont font;
  TColor back, text;
  if (ARow == 0) {
    font.Assign(focusCol ? activeHeaderFont_ : column->headerFont_);
    back = focusCol ? k.ActiveHeaderBack : k.HeaderBack;
    text = focusCol ? k.ActiveHeaderText : k.HeaderText;
  } else if (ACol < TCustomGrid::FixedCols()) {
    font.Assign(focusRow ? activeFixedFont_ : fixedFont_);
    back = focusRow ? k.ActiveFixedBack : k.FixedBack;
    text = focusRow ? k.ActiveFixedText : k.FixedText;
  } else {
    font.Assign(column->font_);
    back = focusCol ? k.ActiveColBack : k.Base;
    text = column->font_.Color();
    const bool rowSelect = Options().Contains(goRowSelect);
    const bool selected = AState.Contains(gdSelected), focused = AState.Contains(gdFocused);
    if (focusRow && !rowSelect) {
      back = k.ActiveRowBack;
      text = k.ActiveRowText;
    } else if ((focusRow && rowSelect) || (selected && !focused) ||
               ((selected || focused) && Options().Contains(goDrawFocusSelected))) {
      back = k.SelectedBack;
      text = k.SelectedText;
    }
  }
  font.SetColor(OrElse(text, canvasFont));

  std::string shown;
  TAlignment alignment = column->Alignment;
  if (ARow == 0) {
    shown = column->caption_;
  } else if (!empty_) {
    TKCellProps props{&font, back, alignment};
    if (OnGetCellProps && CanFire()) OnGetCellProps(this, ACol, ARow - 1, props);
    if (props.Font != &font) font.Assign(*props.Font);
    back = OrElse(props.Color, back);
    alignment = props.Alignment;
    // A multi-line cell shows its storage form: its lines as one comma list.
    const TKGridColumn::TCell& cell = column->cells_[ARow - 1];
    shown = (cell.word & kCellMultiLine) ? cell.text : column->GetRowText(ARow - 1);
  }

  c->SetFont(font);
  c->Brush()->SetStyle(bsSolid);
  c->Brush()->SetColor(back);
  DrawCellText(ARect, shown, alignment);
  if (ARow == 0 && column->sortOrder_ != csNone)
    DrawSortMark(ARect, column->sortOrder_, k.HeaderBack);
  if (CellShowsButton(ACol, ARow)) PlaceButton(ARect);
  if (ARow == 0) {
    if (OnDrawHeader && CanFire()) OnDrawHeader(this, ACol, ARect, AState);
  } else if (!empty_) {
    if (OnDrawCell && CanFire()) OnDrawCell(this, ACol, ARow - 1, ARect, AState);
  }
}

void TKStringGrid::DrawCellText(const TRect& rect, const std::string& text, TAlignment alignment) {
  TCanvas* c = Canvas();
  const int width = c->TextWidth(text);
  int x = rect.Left + kTextMargin;
  if (alignment == taRightJustify) x = rect.Right - width - kTextMargin;
  if (alignment == taCenter) x = rect.Left + (rect.Width() - width) / 2;
  // Integer division rounds toward zero, also for a text higher than its cell.
  const int y = rect.Top + (rect.Height() - c->TextHeight(text)) / 2;
  c->TextRect(rect, x, y, text);
}

void TKStringGrid::DrawSortMark(const TRect& rect, TColumnSorting order, TColor background) {
  TCanvas* c = Canvas();
  const TColor oldBrush = c->Brush()->Color(), oldPen = c->Pen()->Color();
  c->Brush()->SetColor(background);
  c->FillRect(TRect{rect.Right - kSortBoxLeft, rect.Top + kSortBoxInset, rect.Right - kSortBoxRight,
                    rect.Bottom - kSortBoxInset});
  const int x = rect.Right - kSortMarkX, y = rect.Top + kSortMarkY;
  std::vector<TPoint> points;
  TPoint from, to;  // the white edge that lights the triangle
  if (order == csAsc) {
    points = {Point(x, y), Point(x, y - 1), Point(x + 4, y - 5), Point(x + 8, y - 1),
              Point(x + 8, y)};
    from = Point(x, y - 1);
    to = Point(x + 4, y - 5);
  } else {
    points = {Point(x, y - 5), Point(x + 8, y - 5), Point(x + 8, y - 4), Point(x + 4, y),
              Point(x, y - 4)};
    from = Point(x, y - 4);
    to = Point(x + 4, y);
  }
  c->Brush()->SetColor(clSilver);
  c->Pen()->SetColor(clBlack);
  c->Polygon(points);
  c->Pen()->SetColor(clWhite);
  c->MoveTo(from.X, from.Y);
  c->LineTo(to.X, to.Y);
  c->Brush()->SetColor(oldBrush);
  c->Pen()->SetColor(oldPen);
}

// ---- the ellipsis button ----

TControl* TKStringGrid::EllipsisButton() const {
  return button_;
}

bool TKStringGrid::CellShowsButton(int col, int row) const {
  if (empty_ || col >= visible_.Count() || row < 1 || col != Col() || row != Row()) return false;
  return (GetCellFlags(col, row - 1) & (kCellButton | kCellLocked)) == kCellButton;
}

void TKStringGrid::PlaceButton(const TRect& rect) {
  if (!button_) button_ = new TKGridButton(this);
  const int size = rect.Height() - 2;
  if (rect.Width() < size + kButtonRoom) {
    HideButton();
    return;
  }
  button_->SetBounds(rect.Right - size, rect.Top + 1, size, size);
  button_->SetVisible(true);
}

void TKStringGrid::HideButton() {
  if (button_) button_->SetVisible(false);
}

void TKStringGrid::ButtonClick() {
  if (OnButtonClick && CanFire()) OnButtonClick(this);
  // The handler may have changed the rows or the flag.
  if (CurrentRow() < 0 || CurrentCol() < 0 ||
      !(GetCellFlags(CurrentCol(), CurrentRow()) & kCellButton))
    HideButton();
  InvalidateCell(Col(), Row());
}

void TKStringGrid::TopLeftChanged() {
  HideButton();
  TCustomGrid::TopLeftChanged();
}

// ---- mouse ----

int TKStringGrid::HeaderColumnAt(int x) const {
  for (int col = 0; col < visible_.Count() && col < ColCount(); ++col) {
    const TRect r = CellRect(col, 0);
    if (!r.IsEmpty() && x - r.Left > kHeaderClickInset && r.Right - x > kHeaderClickInset)
      return col;
  }
  return -1;
}

int TKStringGrid::FixedEdgeAt(int x, int y) const {
  if (!InHeader(y)) return -1;
  for (int col = 0; col < TCustomGrid::FixedCols() && col < visible_.Count(); ++col) {
    const TRect r = CellRect(col, 0);
    if (!r.IsEmpty() && std::abs(x - r.Right) <= kFixedSizingGrip) return col;
  }
  return -1;
}

TCursor TKStringGrid::CursorAt(TPoint p) const {
  const TCursor cursor = TCustomGrid::CursorAt(p);
  if (cursor == crSizeWE) return cursor;
  if (fixedSizing_ >= 0 || FixedEdgeAt(p.X, p.Y) >= 0) return crHSplit;
  return cursor;
}

void TKStringGrid::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  headerPress_ = -1;
  if (Button == mbLeft && InHeader(Y)) {
    if (TCustomGrid::CursorAt(Point(X, Y)) == crSizeWE) {
      TCustomGrid::MouseDown(Button, Shift, X, Y);
      return;
    }
    fixedSizing_ = FixedEdgeAt(X, Y);
    if (fixedSizing_ >= 0) {
      fixedSizingX_ = X;
      fixedSizingWidth_ = ColWidths(fixedSizing_);
      return;
    }
    // A click waits for the release; the toolkit grid gets the press only if the mouse moves.
    headerPress_ = HeaderColumnAt(X);
    headerPressAt_ = Point(X, Y);
    headerPressShift_ = Shift;
    return;
  }
  if (Button == mbLeft && CurrentRow() >= 0 && MouseCoord(X, Y) == TGridCoord{Col(), Row()} &&
      (GetCellFlags(CurrentCol(), CurrentRow()) & kCellLocked))
    return;  // a locked focus cell ignores presses
  TCustomGrid::MouseDown(Button, Shift, X, Y);
}

void TKStringGrid::MouseMove(TShiftState Shift, int X, int Y) {
  if (fixedSizing_ >= 0) {
    // The column follows the mouse, but never gets narrower than one pixel.
    const int width = std::max(1, fixedSizingWidth_ + X - fixedSizingX_);
    if (fixedSizing_ < visible_.Count()) visible_[fixedSizing_]->SetWidth(width);
    TCustomControl::MouseMove(Shift, X, Y);
    return;
  }
  if (headerPress_ >= 0) {
    headerPress_ = -1;
    TCustomGrid::MouseDown(mbLeft, headerPressShift_, headerPressAt_.X, headerPressAt_.Y);
  }
  TCustomGrid::MouseMove(Shift, X, Y);
}

void TKStringGrid::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  const int pressed = Button == mbLeft ? headerPress_ : -1;
  if (Button == mbLeft) {
    headerPress_ = -1;
    fixedSizing_ = -1;
  }
  TCustomGrid::MouseUp(Button, Shift, X, Y);
  if (pressed >= 0 && InHeader(Y) && HeaderColumnAt(X) == pressed) HeaderClick(pressed);
}

void TKStringGrid::HeaderClick(int col) {
  TKGridColumn* column = visible_[col];
  if (AutoSort) {
    const TColumnSorting order = column->sortOrder_ == csAsc ? csDsc : csAsc;
    for (int i = 0; i < columns_->Count(); ++i)
      columns_->Items(i)->SetSortOrder(csNone);
    column->SetSortOrder(order);
  }
  if (OnHeaderClick && CanFire()) OnHeaderClick(this, col);
  InvalidateCol(col);
  if (col > LeftCol() + VisibleColCount() - 1) SetLeftCol(LeftCol() + 1);
}

void TKStringGrid::DoContextPopup(TPoint MousePos, bool& Handled) {
  if (OnContextPopup && CanFire()) {
    TPoint p = MousePos;
    if (p.X == -1 && p.Y == -1) {  // from the keyboard: the focus cell's corner
      const TRect r = CellRect(Col(), Row());
      p = Point(r.Left, r.Top);
    }
    p = ClientToScreen(p);
    OnContextPopup(this, p.X, p.Y);
  }
  TCustomGrid::DoContextPopup(MousePos, Handled);
}

// ---- keys and editing ----

bool TKStringGrid::WantsKey(WORD key, TShiftState shift) const {
  if (key == VK_RETURN && CurrentRow() >= 0 && CurrentCol() >= 0 &&
      (GetCellFlags(CurrentCol(), CurrentRow()) & (kCellButton | kCellLocked)))
    return true;
  return TCustomGrid::WantsKey(key, shift);
}

void TKStringGrid::KeyDown(WORD& Key, TShiftState Shift) {
  if (Key == VK_RETURN && Shift.Contains(ssCtrl)) {
    CtrlEnter();
    Key = 0;
    return;
  }
  if (Key == VK_ESCAPE && !Shift.Contains(ssCtrl) && CancelEdit()) {
    Key = 0;
    return;
  }
  TCustomGrid::KeyDown(Key, Shift);
}

void TKStringGrid::KeyPress(char& Key) {
  if (Key == '\r' && CurrentRow() >= 0 && CurrentCol() >= 0) {
    if (CellShowsButton(Col(), Row())) {
      Key = 0;
      ButtonClick();
      return;
    }
    if (GetCellFlags(CurrentCol(), CurrentRow()) & kCellLocked) {
      Key = 0;
      return;
    }
  }
  TCustomGrid::KeyPress(Key);
}

void TKStringGrid::CtrlEnter() {
  if (CurrentRow() >= 0 && CurrentCol() >= 0 && !CellShowsButton(Col(), Row()))
    SetCellFlags(CurrentCol(), CurrentRow(),
                 GetCellFlags(CurrentCol(), CurrentRow()) | kCellMultiLine);
  char enter = '\r';
  KeyPress(enter);
}

TInplaceEdit* TKStringGrid::CreateEditor() {
  return new TKSGInplaceEdit(this);
}

bool TKStringGrid::CanEditShow() {
  if (empty_ || visible_.Count() == 0 || !TCustomGrid::CanEditShow()) return false;
  if (Col() >= visible_.Count() || visible_[Col()]->ReadOnly) return false;
  return (GetCellFlags(Col(), Row() - 1) & (kCellButton | kCellLocked)) == 0;
}

std::string TKStringGrid::GetEditText(int ACol, int ARow) {
  if (empty_ || ACol >= visible_.Count() || ARow < 1) return "";
  std::string text = GetCellText(ACol, ARow - 1);
  if (OnGetEditText && CanFire()) OnGetEditText(this, ACol, ARow - 1, text);
  return text;
}

void TKStringGrid::SetEditText(int ACol, int ARow, const std::string& Value) {
  if (empty_ || ACol >= visible_.Count() || ARow < 1) return;
  if (!cancelling_ && OnSetEditText && CanFire()) OnSetEditText(this, ACol, ARow - 1, Value);
  SetCellText(ACol, ARow - 1, Value);
}

bool TKStringGrid::CancelEdit() {
  TInplaceEdit* editor = InplaceEditor();
  if (!EditorMode() || Options().Contains(goAlwaysShowEditor)) return false;
  // Every change went into the cell as it was typed: the text the cell had when the editor
  // showed is put back.
  cancelling_ = true;
  editor->SetText(editor->OriginalText());
  cancelling_ = false;
  HideEditor();
  if (OnCancelEdit && CanFire()) OnCancelEdit(this, Col(), Row() - 1, editor->Text());
  return true;
}
