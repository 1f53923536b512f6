#include "console/controls/ksginplaceedit.h"

#include <algorithm>

#include "console/controls/kstringgrid.h"
#include "platform/ui/core/application.h"

namespace {

// The height of the editor over a multi-line cell.
constexpr int kMultiLineHeight = 100;
// The frame around the multi-line editor.
constexpr int kBorder = 1;
// The text area's distance from the left and right edges, and from the top.
constexpr int kTextInsetX = 2;
constexpr int kTextInsetTop = 1;

}  // namespace

TKSGInplaceEdit::TKSGInplaceEdit(TKStringGrid* grid) : TInplaceEdit(grid) {}

TKStringGrid* TKSGInplaceEdit::Owner() const {
  return static_cast<TKStringGrid*>(Grid());
}

void TKSGInplaceEdit::Prepare() {
  TKStringGrid* grid = Owner();
  multiLine_ = grid->CurrentRow() >= 0 && grid->CurrentCol() >= 0 &&
               (grid->GetCellFlags(grid->CurrentCol(), grid->CurrentRow()) & kCellMultiLine);
  if (TKGridColumn* column = grid->ActiveColumn()) {
    SetFont(*column->Font());
    ImeName = column->ImeName;
    ImeMode = column->ImeMode;
  }
  lastSelLength_ = 0;
  SetEditScrollBars(multiLine_ ? ssVertical : ssNone);
}

void TKSGInplaceEdit::SetBounds(int left, int top, int width, int height) {
  if (multiLine_ && width > 0) {
    height = kMultiLineHeight;
    const int bottom = Grid()->ClientHeight();
    if (top + height > bottom) top = std::max(0, bottom - height);
  }
  TInplaceEdit::SetBounds(left, top, width, height);
}

TRect TKSGInplaceEdit::FrameInsets() const {
  return multiLine_ ? TRect{kBorder, kBorder, kBorder, kBorder} : TRect{};
}

TRect TKSGInplaceEdit::TextPadding() const {
  return TRect{kTextInsetX, kTextInsetTop, kTextInsetX, 0};
}

TRect TKSGInplaceEdit::LinesRect() const {
  if (multiLine_) return ClientRect();
  TCanvas measure;
  measure.SetFont(*Font());
  const int lineHeight = measure.TextHeight("Wg");
  const int top = std::max(0, (ClientHeight() - lineHeight) / 2);
  return TRect{0, top, ClientWidth(), top + lineHeight};
}

std::string TKSGInplaceEdit::FilterInput(const std::string& text) const {
  return multiLine_ ? NormalizeLineBreaks(text) : TInplaceEdit::FilterInput(text);
}

void TKSGInplaceEdit::NewLine() {
  if (!ReadOnly) ReplaceSelection("\r\n");
}

bool TKSGInplaceEdit::WantsKey(WORD key, TShiftState shift) const {
  return TInplaceEdit::WantsKey(key, shift) ||
         (multiLine_ && (key == VK_UP || key == VK_DOWN || key == VK_PRIOR || key == VK_NEXT));
}

void TKSGInplaceEdit::KeyDown(WORD& Key, TShiftState Shift) {
  TKStringGrid* grid = Owner();
  if (Key == VK_ESCAPE && !Shift.Contains(ssCtrl) && grid->CancelEdit()) {
    Key = 0;
    return;
  }
  if (Key == VK_RETURN && Shift.Contains(ssCtrl)) {
    grid->CtrlEnter();
    Key = 0;
    return;
  }
  if (multiLine_) {
    // Enter makes a new line and the caret keys stay here rather than moving the grid's focus.
    if (Key == VK_RETURN) {
      NewLine();
      Key = 0;
      return;
    }
    if (Key == VK_UP || Key == VK_DOWN || Key == VK_PRIOR || Key == VK_NEXT) {
      TEdit::KeyDown(Key, Shift);
      return;
    }
  }
  TInplaceEdit::KeyDown(Key, Shift);
}

void TKSGInplaceEdit::KeyPress(char& Key) {
  if (multiLine_) {
    // CR and LF trade places: a line feed starts a new line, a carriage return ends the editing.
    if (Key == '\r' || Key == '\n') Key = Key == '\r' ? '\n' : '\r';
    if (Key == '\n') {
      NewLine();
      Key = 0;
      return;
    }
  }
  TInplaceEdit::KeyPress(Key);
}

void TKSGInplaceEdit::CheckSelChange() {
  if (SelLength() == lastSelLength_) return;
  lastSelLength_ = SelLength();
  TKStringGrid* grid = Owner();
  if (grid->OnSelChange && CanFire()) grid->OnSelChange(grid);
}

void TKSGInplaceEdit::KeyUp(WORD& Key, TShiftState Shift) {
  TInplaceEdit::KeyUp(Key, Shift);
  CheckSelChange();
}

void TKSGInplaceEdit::MouseMove(TShiftState Shift, int X, int Y) {
  TInplaceEdit::MouseMove(Shift, X, Y);
  CheckSelChange();
}

void TKSGInplaceEdit::DoExit() {
  TInplaceEdit::DoExit();
  TCustomForm* form = GetParentForm(Grid());
  if (form && Screen && Screen->ActiveForm() == form) Grid()->Invalidate();
}

void TKSGInplaceEdit::PaintNonClient(TCanvas& canvas) {
  TRect r = Bounds(0, 0, Width(), Height());
  canvas.Brush()->SetStyle(bsSolid);
  canvas.Brush()->SetColor(Color());
  canvas.FillRect(r);
  if (!multiLine_) return;
  canvas.Brush()->SetColor(clWindowFrame);
  canvas.FrameRect(r);
}

// The selection highlighted whether or not the editor has the focus.
void TKSGInplaceEdit::Paint() {
  TCanvas* c = Canvas();
  c->Brush()->SetStyle(bsSolid);
  c->Brush()->SetColor(Color());
  c->FillRect(ClientRect());
  PaintLines(c, true);
}
