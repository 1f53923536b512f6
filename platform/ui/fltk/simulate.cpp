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

// A key press that types nothing, dispatched by FLTK as if window w had received it.
void PressKey(Fl_Window* w, WORD vk) {
  Fl::e_keysym = FltkKeyOf(vk);
  Fl::e_state = 0;
  Fl::e_text = g_noText;
  Fl::e_length = 0;
  Fl::handle(FL_KEYDOWN, w);
}

}  // namespace

void SendKey(TCustomForm& form, WORD vk) {
  Fl_Window* w = WindowOf(form);
  if (!w) return;
  Fl::focus(w);
  PressKey(w, vk);
}

void SendKeyToDisplay(WORD vk) {
  if (Fl_Window* w = Fl::grab() ? Fl::grab() : Fl::first_window()) PressKey(w, vk);
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

void SendCloseButtonToDisplay() {
  if (Fl_Window* w = Fl::first_window()) Fl::handle(FL_CLOSE, w);
}

}  // namespace fltkpeer
