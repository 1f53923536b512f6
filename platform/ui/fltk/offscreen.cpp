#include "platform/ui/fltk/offscreen.h"

#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <functional>
#include <vector>

#include "platform/ui/fltk/fonts.h"
#include "platform/ui/fltk/paint.h"
#include "platform/ui/fltk/probe.h"
#include "platform/ui/fltk/window.h"

namespace fltkpeer {

namespace {

// Runs draw with FLTK drawing into a fresh w x h pixmap, and returns the pixels drawn.
TBitmap DrawOffscreen(int w, int h, const std::function<void()>& draw) {
  if (w <= 0 || h <= 0) return TBitmap();
  Fl_Offscreen pixmap = fl_create_offscreen(w, h);
  std::vector<uchar> rgb(static_cast<size_t>(w) * h * 3);
  fl_begin_offscreen(pixmap);
  draw();
  fl_read_image(rgb.data(), 0, 0, w, h);
  fl_end_offscreen();
  fl_delete_offscreen(pixmap);
  TBitmap out(w, h);
  const uchar* p = rgb.data();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x, p += 3)
      out.SetPixel(x, y, 0xFF000000u | (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2]);
  return out;
}

}  // namespace

TBitmap CapturePeer(TFltkWindowPeer& peer) {
  int w = peer.Width(), h = peer.Height();
  return DrawOffscreen(w, h, [&] {
    TFltkPaintDevice device;
    peer.Target().PeerPaint(device, Bounds(0, 0, w, h));
  });
}

TBitmap CaptureForm(TCustomForm& form) {
  auto* peer = dynamic_cast<TFltkWindowPeer*>(form.WindowPeer());
  return peer ? CapturePeer(*peer) : TBitmap();
}

TBitmap RenderText(std::string_view text, const TFontData& font, TColor background) {
  TFltkMeasurer measurer;
  int w = measurer.TextWidth(font, text), h = measurer.TextHeight(font);
  return DrawOffscreen(w, h, [&] {
    TFltkPaintDevice device;
    device.SetTarget(nullptr, TPoint{}, Bounds(0, 0, w, h));
    device.FillRect(Bounds(0, 0, w, h), background);
    device.Text(0, 0, text, font);
  });
}

TRect PoppedUpMenuRect() {
  Fl::flush();
  Fl_Window* menu = Fl::grab();
  if (!menu || !menu->shown() || !menu->visible() || menu->damage()) return TRect();
  return Bounds(menu->x(), menu->y(), menu->w(), menu->h());
}

TBitmap ReadScreen(const TRect& rect) {
  XSync(fl_display, False);  // what this program drew is on the screen before another looks
  return GrabScreen(IntersectRect(rect, Bounds(0, 0, DisplayWidth(fl_display, fl_screen),
                                               DisplayHeight(fl_display, fl_screen))));
}

}  // namespace fltkpeer
