#include "platform/ui/fltk/menu.h"

#include <FL/Fl.H>
#include <FL/Fl_Menu_Item.H>

#include <deque>
#include <string>
#include <vector>

#include "platform/ui/fltk/fonts.h"
#include "platform/ui/fltk/text.h"

namespace fltkpeer {

namespace {

// The array FLTK reads: each level's items followed by an empty item, a submenu's items right
// after the item that opens it. The labels live in `labels` (a deque keeps their addresses).
void AddLevel(const TMenuItem& parent, std::vector<Fl_Menu_Item>& items,
              std::deque<std::string>& labels) {
  for (int i = 0; i < parent.Count(); ++i) {
    TMenuItem* item = parent.Items(i);
    if (!item->Visible) continue;
    if (item->IsLine()) {
      if (!items.empty() && items.back().text) items.back().flags |= FL_MENU_DIVIDER;
      continue;
    }
    std::string label;
    for (char c : Utf8Of(item->Caption)) {
      label += c;
      if (c == '@') label += '@';  // "@@" is a plain "@" in a label
    }
    labels.push_back(std::move(label));
    Fl_Menu_Item entry{};
    entry.text = labels.back().c_str();
    entry.user_data_ = item;
    entry.labelfont_ = UiFontNumber();
    entry.labelsize_ = kUiFontHeight;
    if (!item->Enabled) entry.flags |= FL_MENU_INACTIVE;
    if (item->Checked) entry.flags |= FL_MENU_TOGGLE | FL_MENU_VALUE;
    bool submenu = item->Count() > 0;
    if (submenu) entry.flags |= FL_SUBMENU;
    items.push_back(entry);
    if (submenu) AddLevel(*item, items, labels);
  }
  items.push_back(Fl_Menu_Item{});
}

}  // namespace

TMenuItem* TrackMenu(TMenuItem& parent, TPoint p) {
  std::vector<Fl_Menu_Item> items;
  std::deque<std::string> labels;
  AddLevel(parent, items, labels);
  if (!items.front().text) return nullptr;  // nothing visible
  // FLTK places the menu relative to the window of the current event.
  int dx = Fl::event_x_root() - Fl::event_x(), dy = Fl::event_y_root() - Fl::event_y();
  const Fl_Menu_Item* chosen = items.front().popup(p.X - dx, p.Y - dy);
  return chosen ? static_cast<TMenuItem*>(chosen->user_data()) : nullptr;
}

}  // namespace fltkpeer
