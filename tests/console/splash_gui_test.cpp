// The splash window on a desktop (Xvfb with openbox) over the hand-over from a running service
// "KelvadonManager" (the test service on a real scmd): painted as soon as the program shows it,
// and, once the question about stopping the service is answered Yes, shown and painted again with
// the question gone before the stop request, all through the wait that handles no messages. The
// service stays stopping until the test has looked at the screen. The console's listeners take
// the fixed ports 4016 and 9021, so the program runs in a network namespace of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "console/frmsplash.h"
#include "console/frmwatch.h"
#include "console/program.h"
#include "platform/msg/timer.h"
#include "platform/ui/fltk/offscreen.h"
#include "platform/ui/fltk/png.h"
#include "platform/ui/fltk/probe.h"
#include "platform/ui/fltk/simulate.h"
#include "platform/ui/testkit/gui/gui.h"
#include "rtl/files.h"
#include "tests/support/env.h"
#include "tests/support/netns.h"
#include "tests/support/service_fixture.h"

namespace {

bool SamePixels(const TBitmap& a, const TBitmap& b) {
  return !a.Empty() && a.Width() == b.Width() && a.Height() == b.Height() &&
         a.Pixels() == b.Pixels();
}

class SplashOnScreen : public testsupport::ServiceTest {
 protected:
  void SetUp() override {
    for (testsupport::FixedPort* port : {&collectorPort_, &ftpPort_})
      if (!port->Take()) GTEST_SKIP() << port->Error();
    ServiceTest::SetUp();
    service_ = Install("KelvadonManager", "--stop-when=" + release_);
    ASSERT_TRUE(service_.h);
    ASSERT_TRUE(StartServiceA(service_, 0, nullptr)) << GetLastError();
    ASSERT_TRUE(WaitState(service_, SERVICE_RUNNING));
    libDir_ = std::make_unique<testsupport::ScopedEnv>(
        "KELVADON_LIBDIR", rtl::ExtractFilePath(rtl::ProgramFileName()));
    rtl::SetProgramDir(folder_.path());
  }

  void TearDown() override {
    std::ofstream(release_).put('\n');  // a failed test leaves no stop waiting
    rtl::SetProgramDir("");
    libDir_.reset();
    service_.reset();
    if (scmd_) ServiceTest::TearDown();
  }

  testsupport::FixedPort collectorPort_{4016};
  testsupport::FixedPort ftpPort_{9021};
  testsupport::TempDir folder_{"kwsplash", 0755};
  const std::string release_ = dir_.File("release-stop");
  testsupport::ScHandle service_;
  std::unique_ptr<testsupport::ScopedEnv> libDir_;
};

TEST_F(SplashOnScreen, PaintedAtOnceAndAgainBeforeTheStopWithTheQuestionGone) {
  uitest::gui::TGuiApp kit;
  ASSERT_TRUE(kit.Ready());
  CreateKelvadonMan(*kit.App);
  ASSERT_NE(FrmSplash, nullptr);
  // The splash's picture as it draws itself, and where it lies on the screen.
  const TBitmap picture = fltkpeer::CaptureForm(*FrmSplash);
  ASSERT_FALSE(picture.Empty());
  const TPoint at = FrmSplash->ClientToScreen(Point(0, 0));
  const TRect rect = Bounds(at.X, at.Y, picture.Width(), picture.Height());
  // Shown and painted at the start, with no loop run since.
  EXPECT_TRUE(
      testsupport::WaitFor([&] { return SamePixels(fltkpeer::GrabScreen(rect), picture); }, 20000));
  uitest::gui::ScreenShot(rect, "start");

  // The question is answered Yes at its box, as Enter there does.
  TTimer answer(kit.App.get());
  answer.SetInterval(20);
  answer.OnTimer = [&](rtl::TObject*) {
    if (kit.App->BoxDepth() == 0) return;
    answer.SetEnabled(false);
    fltkpeer::SendKeyToDisplay(VK_RETURN);
  };
  // While the console waits for the stop (handling nothing), the screen shows the splash whole.
  std::atomic<bool> painted = false;
  TBitmap seen;
  std::thread watcher([&] {
    if (testsupport::WaitFor([&] { return TraceHas("KelvadonManager", "control 1"); }))
      painted = testsupport::WaitFor(
          [&] {
            seen = fltkpeer::GrabScreen(rect);
            return SamePixels(seen, picture);
          },
          20000);
    std::ofstream(release_).put('\n');
  });
  FrmWatch->UnattendedExitAnswer = IDNO;
  FrmWatch->Show();
  watcher.join();
  EXPECT_TRUE(painted) << "the splash was not on the screen during the wait for the stop";
  std::string error;
  if (!seen.Empty()) fltkpeer::WritePng(seen, uitest::gui::ShotPath("stopping"), &error);
  EXPECT_TRUE(FrmWatch->FirstShowDone);
  EXPECT_FALSE(kit.App->Terminated());
  EXPECT_EQ(FrmSplash, nullptr);
  FrmWatch->Close();
}

}  // namespace
