// kelvadon-uidemo: shows the demo form on the display. With KELVADON_SCREENSHOTS set it runs
// unattended: the window is written there once it has been drawn, and the program ends (exit
// code 1 when that did not happen within kUnattendedLimitMs).
#include <cstdio>

#include "platform/msg/timer.h"
#include "platform/ui/core/application.h"
#include "platform/ui/fltk/demo/demoform.h"
#include "platform/ui/fltk/fltk.h"
#include "platform/ui/fltk/screenshots.h"

namespace {
constexpr DWORD kUnattendedLimitMs = 20000;
constexpr UINT kCheckIntervalMs = 50;
}  // namespace

int main() {
  std::string error;
  std::unique_ptr<TWidgetSet> widgetSet = fltkpeer::CreateFltkWidgetSet(&error);
  if (!widgetSet) {
    std::fprintf(stderr, "kelvadon-uidemo: %s\n", error.c_str());
    return 1;
  }
  int exitCode = 0;
  {
    TApplication app(widgetSet.get());
    app.Title = "Kelvadon UI demo";
    TDemoForm* form;
    app.CreateForm(form);
    TTimer watch(&app);
    const DWORD start = GetTickCount();
    if (!fltkpeer::ScreenshotDir().empty()) {
      watch.OnTimer = [&](rtl::TObject*) {
        if (fltkpeer::AutomaticScreenshots() > 0) {
          app.Terminate();
        } else if (TickElapsed(start, GetTickCount()) > kUnattendedLimitMs) {
          std::fprintf(stderr, "kelvadon-uidemo: the window was never drawn\n");
          exitCode = 1;
          app.Terminate();
        }
      };
      watch.SetInterval(kCheckIntervalMs);
    } else {
      watch.SetEnabled(false);
    }
    app.Run();
  }
  return exitCode;
}
