// KelvadonMan: the management console on the display. It reads no argument.
//
// With KELVADON_SCREENSHOTS=DIR set it runs unattended: once the main window has been shown (the
// hand-over done) it writes the window once per page as DIR/TFrmWatch-<page>.png, then ends as
// after the exit answer No. It answers no message box: a box is written to stderr instead and
// makes the exit code 1, as does a shot not written within kUnattendedLimitMs.
#include <cstdio>
#include <memory>
#include <string>

#include "console/frmwatch.h"
#include "console/program.h"
#include "platform/msg/timer.h"
#include "platform/ui/core/application.h"
#include "platform/ui/fltk/fltk.h"
#include "platform/ui/fltk/screenshots.h"
#include "rtl/cp932.h"
#include "rtl/fs.h"

namespace {

constexpr DWORD kUnattendedLimitMs = 30000;
constexpr UINT kCheckIntervalMs = 50;

int g_failures = 0;

// A box of the unattended run: already answered as closed without a button.
class TAnsweredBox : public TBoxPeer {
 public:
  explicit TAnsweredBox(int answer) : answer_(answer) {}
  int Result() override { return answer_; }

 private:
  int answer_;
};

// The display's widget set, but for message boxes, which go to stderr.
class TUnattendedWidgetSet : public TWidgetSet {
 public:
  explicit TUnattendedWidgetSet(std::unique_ptr<TWidgetSet> inner) : inner_(std::move(inner)) {}
  std::unique_ptr<TWindowPeer> CreateWindowPeer(TPeerTarget& target,
                                                const TWindowStyle& style) override {
    return inner_->CreateWindowPeer(target, style);
  }
  TTextMeasurer& Measurer() override { return inner_->Measurer(); }
  std::unique_ptr<TBoxPeer> CreateMessageBox(const TMessageBoxRequest& request) override {
    ++g_failures;
    std::fprintf(stderr, "KelvadonMan: a message box in the unattended run: %s\n",
                 rtl::Cp932ToUtf8(request.Text).c_str());
    return std::make_unique<TAnsweredBox>(request.CloseResult);
  }
  TRect ScreenRect() override { return inner_->ScreenRect(); }
  TRect WorkArea() override { return inner_->WorkArea(); }
  void ProcessEvents() override { inner_->ProcessEvents(); }
  void WaitForEvents(DWORD ms) override { inner_->WaitForEvents(ms); }
  void SetClipboardText(const std::string& text) override { inner_->SetClipboardText(text); }
  void PasteClipboardText(TPeerTarget& target) override { inner_->PasteClipboardText(target); }
  void Beep() override { inner_->Beep(); }
  TMenuItem* TrackPopupMenu(TMenuItem& parent, TPoint p) override { return nullptr; }

 private:
  std::unique_ptr<TWidgetSet> inner_;
};

// Writes every page of the main window once; false while the window cannot be drawn yet.
bool WritePages(const std::string& dir) {
  TPageControl* pages = FrmWatch->PagWatch;
  TTabSheet* active = pages->ActivePage();
  for (int i = 0; i < pages->PageCount(); ++i) {
    TTabSheet* page = pages->Pages(i);
    pages->SetActivePage(page);
    std::string error;
    if (!fltkpeer::WriteScreenshot(*FrmWatch, dir + "/TFrmWatch-" + page->Name + ".png", &error)) {
      pages->SetActivePage(active);
      return false;
    }
  }
  pages->SetActivePage(active);
  return true;
}

}  // namespace

int main() {
  // The day files are shared with the service, which runs as root.
  rtl::fs::UseSharedFileMask();
  std::string error;
  std::unique_ptr<TWidgetSet> widgetSet = fltkpeer::CreateFltkWidgetSet(&error);
  if (!widgetSet) {
    std::fprintf(stderr, "KelvadonMan: %s\n", error.c_str());
    return 1;
  }
  const std::string shots = fltkpeer::ScreenshotDir();
  if (!shots.empty()) widgetSet = std::make_unique<TUnattendedWidgetSet>(std::move(widgetSet));
  {
    TApplication app(widgetSet.get());
    if (!CreateKelvadonMan(app)) return 1;
    TTimer watch(&app);
    watch.SetEnabled(false);
    const DWORD start = GetTickCount();
    if (!shots.empty()) {
      FrmWatch->UnattendedExitAnswer = IDNO;
      watch.OnTimer = [&](rtl::TObject*) {
        if (FrmWatch && FrmWatch->FirstShowDone && !app.Terminated() && FrmWatch->Visible() &&
            WritePages(shots)) {
          watch.SetEnabled(false);
          FrmWatch->Close();
        } else if (TickElapsed(start, GetTickCount()) > kUnattendedLimitMs) {
          std::fprintf(stderr, "KelvadonMan: the main window's pages were not written\n");
          ++g_failures;
          watch.SetEnabled(false);
          app.Terminate();
        }
      };
      watch.SetInterval(kCheckIntervalMs);
      watch.SetEnabled(true);
    }
    app.Run();
  }
  return g_failures > 0 ? 1 : 0;
}
