#include "platform/ui/core/dropdownlist.h"

#include <algorithm>

#include "platform/ui/core/application.h"
#include "platform/ui/core/drawtext.h"
#include "platform/ui/core/stdctrls.h"

namespace {

// The frame around the rows, the space before an item's text, the rows a wheel notch scrolls.
constexpr int kFrame = 1;
constexpr int kTextIndent = 2;
constexpr int kWheelRows = 3;

}  // namespace

// ---- TDropDownItems ----

TDropDownItems::TDropDownItems(rtl::TComponent* owner, TComboBox* combo)
    : TCustomControl(owner), combo_(combo) {
  SetColor(clWindow);
  scrollBars_.Style = ssVertical;
  scrollBars_.Frame = TRect{kFrame, kFrame, kFrame, kFrame};
  scrollBars_.OnRange = [this](TScrollBarKind) {
    const int rows = Rows();
    return TScrollRange{std::max(0, combo_->Items()->Count() - rows), rows, topIndex_, 1};
  };
  scrollBars_.OnScroll = [this](TScrollBarKind, int position) { SetTopIndex(position); };
  SetControlScrollBars(&scrollBars_);
}

TRect TDropDownItems::NonClientInsets() const {
  const TRect bars = scrollBars_.Insets();
  return TRect{kFrame + bars.Left, kFrame + bars.Top, kFrame + bars.Right, kFrame + bars.Bottom};
}

int TDropDownItems::ItemHeight() const {
  TCanvas measure;
  measure.SetFont(*Font());
  return measure.TextHeight("Wg") + 2;
}

int TDropDownItems::Rows() const {
  return std::max(1, std::min(combo_->Items()->Count(), combo_->DropDownCount));
}

void TDropDownItems::SetTopIndex(int value) {
  const int top = std::clamp(value, 0, std::max(0, combo_->Items()->Count() - Rows()));
  if (top == topIndex_) return;
  topIndex_ = top;
  Invalidate();
}

int TDropDownItems::ItemAt(TPoint p) const {
  if (!ClientRect().Contains(p)) return -1;
  const int index = topIndex_ + p.Y / ItemHeight();
  return index < combo_->Items()->Count() ? index : -1;
}

void TDropDownItems::ShowHot() {
  const int hot = combo_->HotIndex();
  if (hot >= 0 && hot < topIndex_) SetTopIndex(hot);
  if (hot >= topIndex_ + Rows()) SetTopIndex(hot - Rows() + 1);
  Invalidate();
}

void TDropDownItems::UpdateScrollBar() {
  const int count = combo_->Items()->Count();
  if (scrollBars_.Decide(
          [&](TScrollBarKind kind, int, int) { return kind != sbVertical || count <= Rows(); }))
    ClientAreaChanged();
}

void TDropDownItems::PaintNonClient(TCanvas& canvas) {
  canvas.Brush()->SetStyle(bsSolid);
  canvas.Brush()->SetColor(clWindowFrame);
  canvas.FrameRect(TRect{0, 0, Width(), Height()});
}

void TDropDownItems::Paint() {
  TCanvas* c = Canvas();
  const TRect client = ClientRect();
  c->Brush()->SetStyle(bsSolid);
  c->Brush()->SetColor(Color());
  c->FillRect(client);
  const int h = ItemHeight();
  const rtl::TStringList& items = *combo_->Items();
  for (int i = topIndex_, y = 0; i < items.Count() && y < client.Bottom; ++i, y += h) {
    const TRect row{0, y, client.Right, y + h};
    const bool hot = i == combo_->HotIndex();
    if (hot) {
      c->Brush()->SetColor(clHighlight);
      c->FillRect(row);
    }
    c->Font()->SetColor(hot ? clHighlightText : Font()->Color());
    TRect text{kTextIndent, row.Top, row.Right, row.Bottom};
    DrawText(c, items[i], text, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  }
}

void TDropDownItems::MouseMove(TShiftState Shift, int X, int Y) {
  TCustomControl::MouseMove(Shift, X, Y);
  const int index = ItemAt(Point(X, Y));
  if (index >= 0) combo_->SetHotIndex(index);
}

void TDropDownItems::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TCustomControl::MouseUp(Button, Shift, X, Y);
  if (Button != mbLeft) return;
  const int index = ItemAt(Point(X, Y));
  if (index >= 0) combo_->Choose(index);
}

bool TDropDownItems::DoMouseWheel(TShiftState, int WheelDelta, TPoint) {
  const int notches = WheelDelta / 120;
  if (notches != 0) SetTopIndex(topIndex_ - notches * kWheelRows);
  return true;
}

// ---- TDropDownList ----

TDropDownList::TDropDownList(TComboBox* combo) : TCustomForm(nullptr), combo_(combo) {
  SetBorderStyle(bsNone);
  SetPopup(true);
  items_ = new TDropDownItems(this, combo);
  items_->SetParent(this);
  items_->SetAlign(alClient);
  AfterConstruction();
}

void TDropDownList::Open() {
  items_->SetFont(*combo_->Font());
  const int height = items_->Rows() * items_->ItemHeight() + 2 * kFrame;
  const int width = combo_->Width();
  const TPoint below = combo_->ClientToScreen(Point(0, combo_->Height()));
  const TRect area = Screen->WorkAreaRect();
  int top = below.Y;
  if (top + height > area.Bottom) {
    const int above = combo_->ClientToScreen(Point(0, 0)).Y - height;
    if (above >= area.Top) top = above;
  }
  const int left = std::clamp(below.X, area.Left, std::max(area.Left, area.Right - width));
  SetBounds(left, top, width, height);
  items_->UpdateScrollBar();
  items_->ShowHot();
  Show();
  Invalidate();
}
