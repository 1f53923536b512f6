#include "platform/ui/fltk/probe.h"

#include <FL/Fl.H>
#include <FL/x.H>
#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <memory>

#include "platform/ui/fltk/window.h"

namespace fltkpeer {

namespace {

struct DisplayCloser {
  void operator()(Display* d) const { XCloseDisplay(d); }
};
using TOwnDisplay = std::unique_ptr<Display, DisplayCloser>;

TOwnDisplay OpenOwnDisplay() {
  return TOwnDisplay(XOpenDisplay(nullptr));
}

// How far mask's lowest bit lies from bit 0.
int ShiftOf(unsigned long mask) {
  int shift = 0;
  while (mask && !(mask & 1)) {
    mask >>= 1;
    ++shift;
  }
  return shift;
}

uint32_t Channel(unsigned long pixel, unsigned long mask) {
  if (!mask) return 0;
  const unsigned long value = (pixel & mask) >> ShiftOf(mask);
  const unsigned long max = mask >> ShiftOf(mask);
  return static_cast<uint32_t>(value * 255 / max);
}

}  // namespace

TDisplayWindow DisplayWindowOf(const TCustomForm& form) {
  auto* peer = dynamic_cast<TFltkWindowPeer*>(form.WindowPeer());
  Fl_Window* w = peer ? peer->FltkWindow() : nullptr;
  return w && w->shown() ? fl_xid(w) : 0;
}

std::vector<TDisplayWindow> ManagedStacking() {
  std::vector<TDisplayWindow> out;
  TOwnDisplay d = OpenOwnDisplay();
  if (!d) return out;
  const Atom list = XInternAtom(d.get(), "_NET_CLIENT_LIST_STACKING", True);
  if (list == None) return out;
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(d.get(), DefaultRootWindow(d.get()), list, 0, 4096, False, XA_WINDOW,
                         &type, &format, &count, &after, &data) == Success &&
      data && type == XA_WINDOW && format == 32) {
    const auto* windows = reinterpret_cast<const unsigned long*>(data);
    out.assign(windows, windows + count);
  }
  if (data) XFree(data);
  return out;
}

TBitmap GrabScreen(const TRect& rect) {
  TOwnDisplay d = OpenOwnDisplay();
  if (!d || rect.IsEmpty()) return TBitmap();
  const int screen = DefaultScreen(d.get());
  if (rect.Left < 0 || rect.Top < 0 || rect.Right > DisplayWidth(d.get(), screen) ||
      rect.Bottom > DisplayHeight(d.get(), screen))
    return TBitmap();
  XImage* image = XGetImage(d.get(), RootWindow(d.get(), screen), rect.Left, rect.Top,
                            static_cast<unsigned>(rect.Width()),
                            static_cast<unsigned>(rect.Height()), AllPlanes, ZPixmap);
  if (!image) return TBitmap();
  const Visual* visual = DefaultVisual(d.get(), screen);
  TBitmap out(rect.Width(), rect.Height());
  for (int y = 0; y < rect.Height(); ++y)
    for (int x = 0; x < rect.Width(); ++x) {
      const unsigned long p = XGetPixel(image, x, y);
      out.SetPixel(x, y,
                   0xFF000000u | (Channel(p, visual->red_mask) << 16) |
                       (Channel(p, visual->green_mask) << 8) | Channel(p, visual->blue_mask));
    }
  XDestroyImage(image);
  return out;
}

}  // namespace fltkpeer
