// The drop-down list of a combo box: a popup form of its own (no border, never the keyboard's)
// just below the box, or above it when the work area has no room below, as wide as the box. It
// shows DropDownCount rows at most, with a scroll bar when there are more items. The box's hot
// item is drawn highlighted; the pointer over a row makes that item hot, and a click on it chooses
// it (TComboBox::Choose). The box opens and closes the list and keeps the keyboard, whose arrows
// move the hot item (the list follows it into view).
//
// Ownership: the combo box owns its list and outlives it. Threads: the GUI thread only.
#pragma once

#include "platform/ui/core/control.h"
#include "platform/ui/core/forms.h"
#include "platform/ui/core/scrollbar.h"

class TComboBox;

// The rows, in the list's frame. Tests click and paint it.
class TDropDownItems : public TCustomControl {
 public:
  TDropDownItems(rtl::TComponent* owner, TComboBox* combo);
  // The height of a row, the first item shown, how many rows show, and the item at client point
  // p (-1 where there is none).
  int ItemHeight() const;
  int TopIndex() const { return topIndex_; }
  void SetTopIndex(int value);
  int Rows() const;
  int ItemAt(TPoint p) const;
  // Scrolls so the hot item shows.
  void ShowHot();
  // The one-pixel frame, and the scroll bar inside it when one is needed.
  TRect NonClientInsets() const override;
  // Decides the scroll bar for the items the box has now.
  void UpdateScrollBar();

 protected:
  void Paint() override;
  void PaintNonClient(TCanvas& canvas) override;
  void MouseMove(TShiftState Shift, int X, int Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  bool DoMouseWheel(TShiftState Shift, int WheelDelta, TPoint MousePos) override;

 private:
  TComboBox* const combo_;
  int topIndex_ = 0;
  TControlScrollBars scrollBars_{this};
};

class TDropDownList : public TCustomForm {
 public:
  explicit TDropDownList(TComboBox* combo);
  TDropDownItems* Items() const { return items_; }
  // Sizes and places the list for the box's items and font, then shows it.
  void Open();

 private:
  TComboBox* const combo_;
  TDropDownItems* items_;
};
