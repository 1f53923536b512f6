#include "platform/ui/fltk/menu.h"

#include <FL/Fl.H>
#include <FL/Fl_Menu_Item.H>
#include <FL/Fl_Multi_Label.H>
#include <FL/Fl_RGB_Image.H>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/core/comctrls.h"
#include "platform/ui/fltk/fonts.h"
#include "platform/ui/fltk/text.h"

namespace fltkpeer {

namespace {

// What the items' labels point at while the menu shows: texts, pictures and the labels that put
// a picture before a text (deques keep their addresses).
struct TLabelStore {
  std::deque<std::string> texts;
  std::deque<std::vector<uchar>> pixels;
  std::vector<std::unique_ptr<Fl_RGB_Image>> images;
  std::deque<Fl_Multi_Label> pictured;
};

// The item's picture from its menu's image list (greyed for a disabled item), or null.
Fl_Image* PictureOf(const TMenuItem& item, TLabelStore& store) {
  const TMenu* menu = item.Menu();
  const TCustomImageList* images = menu ? menu->Images : nullptr;
  if (!images || item.ImageIndex < 0 || item.ImageIndex >= images->Count()) return nullptr;
  const TBitmap& original = images->Image(item.ImageIndex);
  const TBitmap bitmap = item.Enabled ? original : original.Disabled();
  if (bitmap.Empty()) return nullptr;
  std::vector<uchar>& rgba = store.pixels.emplace_back();
  rgba.reserve(static_cast<size_t>(bitmap.Width()) * bitmap.Height() * 4);
  for (uint32_t argb : bitmap.Pixels())
    for (int shift : {16, 8, 0, 24})
      rgba.push_back(static_cast<uchar>(argb >> shift));
  store.images.push_back(
      std::make_unique<Fl_RGB_Image>(rgba.data(), bitmap.Width(), bitmap.Height(), 4));
  return store.images.back().get();
}

// The array FLTK reads: each level's items followed by an empty item, a submenu's items right
// after the item that opens it.
void AddLevel(const TMenuItem& parent, std::vector<Fl_Menu_Item>& items, TLabelStore& store) {
  for (int i = 0; i < parent.Count(); ++i) {
    TMenuItem* item = parent.Items(i);
    if (!item->Visible) continue;
    if (item->IsLine()) {
      if (!items.empty() && items.back().text) items.back().flags |= FL_MENU_DIVIDER;
      continue;
    }
    Fl_Image* picture = PictureOf(*item, store);
    // A blank between the picture and the caption.
    std::string label = picture ? " " : "";
    for (char c : Utf8Of(item->Caption)) {
      label += c;
      if (c == '@') label += '@';  // "@@" is a plain "@" in a label
    }
    store.texts.push_back(std::move(label));
    Fl_Menu_Item entry{};
    entry.text = store.texts.back().c_str();
    if (picture) {
      // The picture's own label first: it makes FLTK draw picture labels at all.
      picture->label(&entry);
      Fl_Multi_Label& both = store.pictured.emplace_back();
      both.labela = reinterpret_cast<const char*>(picture);
      both.typea = _FL_IMAGE_LABEL;
      both.labelb = store.texts.back().c_str();
      both.typeb = FL_NORMAL_LABEL;
      both.label(&entry);
    }
    entry.user_data_ = item;
    entry.labelfont_ = UiFontNumber();
    entry.labelsize_ = kUiFontHeight;
    if (!item->Enabled) entry.flags |= FL_MENU_INACTIVE;
    if (item->Checked) entry.flags |= FL_MENU_TOGGLE | FL_MENU_VALUE;
    bool submenu = item->Count() > 0;
    if (submenu) entry.flags |= FL_SUBMENU;
    items.push_back(entry);
    if (submenu) AddLevel(*item, items, store);
  }
  items.push_back(Fl_Menu_Item{});
}

}  // namespace

TMenuItem* TrackMenu(TMenuItem& parent, TPoint p) {
  std::vector<Fl_Menu_Item> items;
  TLabelStore store;
  AddLevel(parent, items, store);
  if (!items.front().text) return nullptr;  // nothing visible
  // FLTK places the menu relative to the window of the current event.
  int dx = Fl::event_x_root() - Fl::event_x(), dy = Fl::event_y_root() - Fl::event_y();
  const Fl_Menu_Item* chosen = items.front().popup(p.X - dx, p.Y - dy);
  return chosen ? static_cast<TMenuItem*>(chosen->user_data()) : nullptr;
}

}  // namespace fltkpeer
