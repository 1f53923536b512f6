#include "platform/ui/fltk/wm.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/x.H>
#include <X11/Xatom.h>
#include <X11/extensions/shape.h>

namespace fltkpeer {

namespace {

constexpr long kNetWmStateAdd = 1;
constexpr long kSourceApplication = 1;

}  // namespace

void SetTransientFor(Fl_Window* window, Fl_Window* owner, bool modal) {
  if (!window || !owner || !window->shown() || !owner->shown()) return;
  const Window xid = fl_xid(window), ownerXid = fl_xid(owner);
  if (!xid || !ownerXid) return;
  XSetTransientForHint(fl_display, xid, ownerXid);
  if (!modal) return;
  const Atom state = XInternAtom(fl_display, "_NET_WM_STATE", False);
  Atom modalState = XInternAtom(fl_display, "_NET_WM_STATE_MODAL", False);
  // The property for a manager that has not taken the window yet, the message for one that has.
  XChangeProperty(fl_display, xid, state, XA_ATOM, 32, PropModeAppend,
                  reinterpret_cast<unsigned char*>(&modalState), 1);
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = xid;
  e.xclient.message_type = state;
  e.xclient.format = 32;
  e.xclient.data.l[0] = kNetWmStateAdd;
  e.xclient.data.l[1] = static_cast<long>(modalState);
  e.xclient.data.l[3] = kSourceApplication;
  XSendEvent(fl_display, RootWindow(fl_display, fl_screen), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &e);
}

void MakeMouseTransparent(Fl_Window* window) {
  if (!window || !window->shown()) return;
  int event = 0, error = 0;
  if (!XShapeQueryExtension(fl_display, &event, &error)) return;
  XShapeCombineRectangles(fl_display, fl_xid(window), ShapeInput, 0, 0, nullptr, 0, ShapeSet,
                          Unsorted);
}

}  // namespace fltkpeer
