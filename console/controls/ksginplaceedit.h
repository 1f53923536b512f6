// TKSGInplaceEdit: the in-place editor of TKStringGrid (kstringgrid.h). Over a multi-line cell it
// becomes a box of several lines: 100 pixels high (moved up to stay inside the grid), with a
// border and a vertical scroll bar, Enter starting a new line and the caret keys kept inside it.
// It takes the focus column's font and IME settings each time it shows, keeps its selection
// visible while unfocused, and tells the grid (OnSelChange) when the selection length changes.
//
// Ownership: made and owned by its grid (TCustomGrid::CreateEditor). Threads: the GUI thread.
#pragma once

#include <string>

#include "platform/ui/core/grids.h"

class TKStringGrid;

class TKSGInplaceEdit : public TInplaceEdit {
 public:
  explicit TKSGInplaceEdit(TKStringGrid* grid);

  // Whether the editor is set up for a multi-line cell (decided when it last showed). Then its
  // lines wrap at its right edge and its vertical scroll bar shows.
  bool MultiLine() const override { return multiLine_; }
  // Kept from the focus column when shown; the display has no input method to give them to.
  std::string ImeName;
  int ImeMode = 0;

  // Multi-line: as high as kMultiLineHeight, moved up so it ends inside the grid.
  void SetBounds(int left, int top, int width, int height) override;

 protected:
  // The per-cell set-up: multi-line or not, the column's font and IME settings.
  void Prepare() override;
  // Fires the grid's OnSelChange when the selection length differs from the last check.
  virtual void CheckSelChange();

  // The text area: 2 pixels in left and right and 1 at the top; a multi-line editor has its
  // border around that and its scroll bar beside it.
  TRect FrameInsets() const override;
  TRect TextPadding() const override;
  bool WrapsLines() const override { return multiLine_; }
  // One line is centred in the height; several start at the top.
  TRect LinesRect() const override;
  std::string FilterInput(const std::string& text) const override;
  void KeyDown(WORD& Key, TShiftState Shift) override;
  void KeyPress(char& Key) override;
  void KeyUp(WORD& Key, TShiftState Shift) override;
  void MouseMove(TShiftState Shift, int X, int Y) override;
  bool WantsKey(WORD key, TShiftState shift) const override;
  void DoExit() override;
  void Paint() override;
  void PaintNonClient(TCanvas& canvas) override;

 private:
  TKStringGrid* Owner() const;
  void NewLine();

  bool multiLine_ = false;
  int lastSelLength_ = 0;
};
