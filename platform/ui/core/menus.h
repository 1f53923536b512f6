// Menus: items with "&" captions, images, check marks and OnClick; the main menu shown as a bar
// at the top of its form, and popup menus. Items are components owned by their menu's owner and
// kept in a tree by their parent item, which frees the children it still holds.
// Threads: the GUI thread only.
#pragma once

#include <vector>

#include "platform/ui/core/canvas.h"
#include "rtl/classes.h"

class TCustomImageList;
class TMenu;

constexpr int kMenuBarHeight = 19;

class TMenuItem : public rtl::TComponent {
 public:
  explicit TMenuItem(rtl::TComponent* owner);
  ~TMenuItem() override;

  // "&File"; "-" makes a separator.
  std::string Caption;
  bool Enabled = true;
  bool Visible = true;
  bool Checked = false;
  int ImageIndex = -1;
  std::string Hint;
  TNotifyEvent OnClick;

  int Count() const { return static_cast<int>(items_.size()); }
  // REQUIRES: 0 <= index < Count().
  TMenuItem* Items(int index) const { return items_[index]; }
  TMenuItem* Parent() const { return parent_; }
  // The menu the item is in (through its parents), or null; its Images hold the item's picture.
  TMenu* Menu() const;
  // Takes item into this item's children (out of its old parent).
  void Add(TMenuItem* item);
  void Insert(int index, TMenuItem* item);
  void Remove(TMenuItem* item);
  int IndexOf(const TMenuItem* item) const;
  bool IsLine() const { return Caption == "-"; }
  // The item with accelerator key among the visible, enabled children, or null.
  TMenuItem* FindByAccelerator(char key) const;

  // Fires OnClick when the item is enabled.
  virtual void Click();

 private:
  friend class TMenu;
  TMenuItem* parent_ = nullptr;
  TMenu* menu_ = nullptr;  // set on a menu's root item
  std::vector<TMenuItem*> items_;
};

class TMenu : public rtl::TComponent {
 public:
  explicit TMenu(rtl::TComponent* owner);
  ~TMenu() override;
  // The invisible root whose children are the menu's items.
  TMenuItem* Items() const { return items_; }
  TCustomImageList* Images = nullptr;

 private:
  TMenuItem* items_;
};

class TMainMenu : public TMenu {
 public:
  using TMenu::TMenu;
};

class TPopupMenu : public TMenu {
 public:
  using TMenu::TMenu;
  // Shows the menu at screen point x, y. Headless peers show nothing; the last place is kept.
  void Popup(int x, int y);
  TPoint PopupPoint() const { return popupPoint_; }
  TNotifyEvent OnPopup;

 private:
  TPoint popupPoint_{-1, -1};
};

// The menu bar: its height (0 when no item is visible), its painting in bar, and a click at x.
int MenuBarHeight(const TMainMenu& menu);
void PaintMenuBar(TCanvas& canvas, const TMainMenu& menu, const TRect& bar);
// The top-level item whose caption spans x, or null; ClickMenuBar clicks it.
TMenuItem* MenuBarItemAt(const TMainMenu& menu, int x);
void ClickMenuBar(const TMainMenu& menu, int x);
