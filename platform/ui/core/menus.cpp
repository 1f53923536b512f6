#include "platform/ui/core/menus.h"

#include <algorithm>

#include "platform/ui/core/application.h"
#include "platform/ui/core/drawtext.h"
#include "rtl/exception.h"

namespace {

// Space left and right of a caption in the bar.
constexpr int kMenuBarPadding = 7;

// Each visible top-level item with its span in the bar.
struct BarItem {
  TMenuItem* item;
  int left, right;
};

std::vector<BarItem> BarLayout(const TMainMenu& menu) {
  TCanvas measure;
  if (Screen) measure.Font()->Assign(Screen->MenuFont());
  std::vector<BarItem> out;
  int x = 0;
  TMenuItem* root = menu.Items();
  for (int i = 0; i < root->Count(); ++i) {
    TMenuItem* item = root->Items(i);
    if (!item->Visible) continue;
    int w = measure.TextWidth(StripPrefix(item->Caption)) + 2 * kMenuBarPadding;
    out.push_back(BarItem{item, x, x + w});
    x += w;
  }
  return out;
}

}  // namespace

TMenuItem::TMenuItem(rtl::TComponent* owner) : rtl::TComponent(owner) {}

TMenuItem::~TMenuItem() {
  while (!items_.empty())
    delete items_.back();
  if (parent_) parent_->Remove(this);
}

void TMenuItem::Add(TMenuItem* item) {
  Insert(Count(), item);
}

void TMenuItem::Insert(int index, TMenuItem* item) {
  if (index < 0 || index > Count()) throw rtl::EListError("Menu index out of bounds");
  if (item->parent_) item->parent_->Remove(item);
  items_.insert(items_.begin() + index, item);
  item->parent_ = this;
}

void TMenuItem::Remove(TMenuItem* item) {
  auto it = std::find(items_.begin(), items_.end(), item);
  if (it == items_.end()) return;
  items_.erase(it);
  item->parent_ = nullptr;
}

int TMenuItem::IndexOf(const TMenuItem* item) const {
  auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

TMenuItem* TMenuItem::FindByAccelerator(char key) const {
  for (TMenuItem* item : items_)
    if (item->Visible && item->Enabled && AcceleratorOf(item->Caption) == key) return item;
  return nullptr;
}

void TMenuItem::Click() {
  if (Enabled && OnClick) OnClick(this);
}

TMenu* TMenuItem::Menu() const {
  const TMenuItem* root = this;
  while (root->parent_)
    root = root->parent_;
  return root->menu_;
}

TMenu::TMenu(rtl::TComponent* owner) : rtl::TComponent(owner), items_(new TMenuItem(nullptr)) {
  items_->menu_ = this;
}

TMenu::~TMenu() {
  delete items_;
}

void TPopupMenu::Popup(int x, int y) {
  popupPoint_ = Point(x, y);
  if (OnPopup) OnPopup(this);
  if (TWidgetSet* ws = CurrentWidgetSet())
    if (TMenuItem* chosen = ws->TrackPopupMenu(*Items(), popupPoint_)) chosen->Click();
}

int MenuBarHeight(const TMainMenu& menu) {
  TMenuItem* root = menu.Items();
  for (int i = 0; i < root->Count(); ++i)
    if (root->Items(i)->Visible) return kMenuBarHeight;
  return 0;
}

void PaintMenuBar(TCanvas& canvas, const TMainMenu& menu, const TRect& bar) {
  canvas.Brush()->SetColor(clMenu);
  canvas.Brush()->SetStyle(bsSolid);
  canvas.FillRect(bar);
  if (Screen) canvas.Font()->Assign(Screen->MenuFont());
  for (const BarItem& b : BarLayout(menu)) {
    canvas.Font()->SetColor(b.item->Enabled ? clMenuText : clGrayText);
    TRect r{bar.Left + b.left, bar.Top, bar.Left + b.right, bar.Bottom};
    DrawText(&canvas, b.item->Caption, r, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
  }
}

TMenuItem* MenuBarItemAt(const TMainMenu& menu, int x) {
  for (const BarItem& b : BarLayout(menu))
    if (x >= b.left && x < b.right) return b.item;
  return nullptr;
}

void ClickMenuBar(const TMainMenu& menu, int x) {
  if (TMenuItem* item = MenuBarItemAt(menu, x)) item->Click();
}
