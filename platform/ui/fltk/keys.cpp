#include "platform/ui/fltk/keys.h"

#include <FL/Enumerations.H>
#include <FL/Fl.H>

namespace fltkpeer {

namespace {

struct KeyMapping {
  int fltk;
  WORD vk;
};

// Keys that type no letter or digit.
constexpr KeyMapping kKeys[] = {
    {FL_BackSpace, VK_BACK},    {FL_Tab, VK_TAB},           {FL_Enter, VK_RETURN},
    {FL_KP_Enter, VK_RETURN},   {FL_Shift_L, VK_SHIFT},     {FL_Shift_R, VK_SHIFT},
    {FL_Control_L, VK_CONTROL}, {FL_Control_R, VK_CONTROL}, {FL_Alt_L, VK_MENU},
    {FL_Alt_R, VK_MENU},        {FL_Escape, VK_ESCAPE},     {' ', VK_SPACE},
    {FL_Page_Up, VK_PRIOR},     {FL_Page_Down, VK_NEXT},    {FL_End, VK_END},
    {FL_Home, VK_HOME},         {FL_Left, VK_LEFT},         {FL_Up, VK_UP},
    {FL_Right, VK_RIGHT},       {FL_Down, VK_DOWN},         {FL_Insert, VK_INSERT},
    {FL_Delete, VK_DELETE},     {FL_Menu, VK_APPS},
};

}  // namespace

WORD VirtualKeyOf(int key) {
  if (key >= 'a' && key <= 'z') return static_cast<WORD>(key - 'a' + 'A');
  if (key >= '0' && key <= '9') return static_cast<WORD>(key);
  if (key >= FL_F + 1 && key <= FL_F + 12) return static_cast<WORD>(VK_F1 + key - FL_F - 1);
  for (const KeyMapping& k : kKeys)
    if (k.fltk == key) return k.vk;
  return 0;
}

TShiftState CurrentShiftState() {
  int s = Fl::event_state();
  TShiftState out;
  if (s & FL_SHIFT) out.Include(ssShift);
  if (s & FL_ALT) out.Include(ssAlt);
  if (s & FL_CTRL) out.Include(ssCtrl);
  if (s & FL_BUTTON1) out.Include(ssLeft);
  if (s & FL_BUTTON3) out.Include(ssRight);
  if (s & FL_BUTTON2) out.Include(ssMiddle);
  return out;
}

}  // namespace fltkpeer
