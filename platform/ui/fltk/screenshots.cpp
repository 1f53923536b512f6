#include "platform/ui/fltk/screenshots.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "platform/ui/core/forms.h"
#include "platform/ui/fltk/offscreen.h"
#include "platform/ui/fltk/png.h"
#include "platform/ui/fltk/window.h"

namespace fltkpeer {

std::string ScreenshotDir() {
  const char* dir = std::getenv(kScreenshotsVariable);
  return dir ? dir : "";
}

bool WriteScreenshot(TCustomForm& form, const std::string& path, std::string* error) {
  TBitmap shot = CaptureForm(form);
  if (shot.Empty()) {
    *error = "the form is not shown on the display";
    return false;
  }
  return WritePng(shot, path, error);
}

namespace {
int g_written = 0;
}  // namespace

int AutomaticScreenshots() {
  return g_written;
}

void WriteAutomaticScreenshot(TFltkWindowPeer& peer) {
  static int count = 0;
  std::string name;
  for (unsigned char c : peer.Caption())
    if (std::isalnum(c)) name += static_cast<char>(c);
  if (name.empty()) name = "window";
  char number[16];
  std::snprintf(number, sizeof number, "%02d-", ++count);
  std::string path = ScreenshotDir() + "/" + number + name + ".png";
  std::string error;
  if (WritePng(CapturePeer(peer), path, &error))
    ++g_written;
  else
    std::fprintf(stderr, "screenshot not written: %s\n", error.c_str());
}

}  // namespace fltkpeer
