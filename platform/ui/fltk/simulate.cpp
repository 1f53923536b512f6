#include "platform/ui/fltk/simulate.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>

#include "platform/ui/fltk/keys.h"
#include "platform/ui/fltk/window.h"

namespace fltkpeer {

namespace {

Fl_Window* WindowOf(TCustomForm& form) {
  auto* peer = dynamic_cast<TFltkWindowPeer*>(form.WindowPeer());
  return peer ? peer->FltkWindow() : nullptr;
}

int FltkKeyOf(WORD vk) {
  for (int key = 0; key <= 0xFFFF; ++key)
    if (VirtualKeyOf(key) == vk) return key;
  return 0;
}

char g_noText[] = "";

}  // namespace

void SendKey(TCustomForm& form, WORD vk) {
  Fl_Window* w = WindowOf(form);
  if (!w) return;
  Fl::focus(w);
  Fl::e_keysym = FltkKeyOf(vk);
  Fl::e_state = 0;
  Fl::e_text = g_noText;
  Fl::e_length = 0;
  Fl::handle(FL_KEYDOWN, w);
}

void SendUnhandledEscape(TCustomForm& form) {
  Fl_Window* w = WindowOf(form);
  if (!w) return;
  Fl::e_number = FL_SHORTCUT;
  Fl::e_keysym = FL_Escape;
  w->do_callback();
}

void SendCloseButton(TCustomForm& form) {
  if (Fl_Window* w = WindowOf(form)) Fl::handle(FL_CLOSE, w);
}

}  // namespace fltkpeer
