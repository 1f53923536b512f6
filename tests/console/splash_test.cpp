// The splash window over the hand-over from a running service "KelvadonManager" (the test service
// on a real scmd): hidden while the question about stopping the service is open, and gone once
// the main window is usable. The console's listeners take the fixed ports 4016 and 9021, so the
// program runs in a network namespace of its own.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "console/frmsplash.h"
#include "console/frmwatch.h"
#include "console/program.h"
#include "platform/ui/testkit/testkit.h"
#include "rtl/files.h"
#include "tests/console/questions.h"
#include "tests/support/env.h"
#include "tests/support/netns.h"
#include "tests/support/service_fixture.h"

namespace {

using consoletest::kRunningQuestion;

class Splash : public testsupport::ServiceTest {
 protected:
  void SetUp() override {
    for (testsupport::FixedPort* port : {&collectorPort_, &ftpPort_})
      if (!port->Take()) GTEST_SKIP() << port->Error();
    ServiceTest::SetUp();
    service_ = Install("KelvadonManager");
    ASSERT_TRUE(service_.h);
    ASSERT_TRUE(StartServiceA(service_, 0, nullptr)) << GetLastError();
    ASSERT_TRUE(WaitState(service_, SERVICE_RUNNING));
    // The libraries loaded by name stay the build's, beside this program.
    libDir_ = std::make_unique<testsupport::ScopedEnv>(
        "KELVADON_LIBDIR", rtl::ExtractFilePath(rtl::ProgramFileName()));
    programDir_ = std::make_unique<uitest::ScopedProgramDir>(folder_.path());
    kit_ = std::make_unique<uitest::TTestApp>();
  }

  void TearDown() override {
    kit_.reset();
    programDir_.reset();
    libDir_.reset();
    service_.reset();
    if (scmd_) ServiceTest::TearDown();
  }

  // The console made and shown as the program does it, the question answered with answer; true
  // when the splash was there, hidden, while the question was open.
  bool HiddenAtTheQuestion(int answer) {
    bool hidden = false;
    kit_->WidgetSet.ExpectBox(uitest::TBoxScript{kRunningQuestion, {}, answer, [&] {
                                                   hidden = FrmSplash && !FrmSplash->Visible();
                                                   return true;
                                                 }});
    CreateKelvadonMan(kit_->App);
    EXPECT_NE(FrmSplash, nullptr);
    FrmWatch->Show();
    EXPECT_EQ(kit_->WidgetSet.PendingBoxes(), 0u);
    return hidden;
  }

  testsupport::FixedPort collectorPort_{4016};
  testsupport::FixedPort ftpPort_{9021};
  testsupport::TempDir folder_{"kwsplash", 0755};
  testsupport::ScHandle service_;
  std::unique_ptr<testsupport::ScopedEnv> libDir_;
  std::unique_ptr<uitest::ScopedProgramDir> programDir_;
  std::unique_ptr<uitest::TTestApp> kit_;
};

TEST_F(Splash, HiddenDuringTheQuestionAndGoneOnceTheConsoleIsUsable) {
  EXPECT_TRUE(HiddenAtTheQuestion(IDYES));
  EXPECT_TRUE(FrmWatch->FirstShowDone);
  EXPECT_FALSE(kit_->App.Terminated());
  EXPECT_EQ(FrmSplash, nullptr);
  EXPECT_EQ(Screen->Cursor(), crDefault);
}

TEST_F(Splash, HiddenDuringTheQuestionWhenTheAnswerIsNo) {
  EXPECT_TRUE(HiddenAtTheQuestion(IDNO));
  EXPECT_TRUE(kit_->App.Terminated() || !FrmWatch->Visible());
  EXPECT_TRUE(FrmSplash == nullptr || !FrmSplash->Visible());
}

}  // namespace
