// The version and splash windows and the help command on the headless widget set.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "console/frmsplash.h"
#include "console/frmversion.h"
#include "console/frmwatch.h"
#include "console/picture.h"
#include "console/program.h"
#include "platform/msg/timer.h"
#include "platform/ui/testkit/testkit.h"
#include "tests/support/env.h"
#include "tests/support/files.h"

namespace {

using testsupport::TempDir;

// The headless screen is 1280 x 1024 with a 30-pixel panel at the bottom.
constexpr TRect kScreenCentre{400, 377, 880, 647};
constexpr TRect kDesktopCentre{400, 362, 880, 632};

class Windows : public ::testing::Test {
 protected:
  void SetUp() override {
    kit_.App.Title = "KelvadonManager Ver1.36";
    kit_.App.CreateForm(form_);
    form_->OnShow = nullptr;  // no hand-over here
    kit_.App.CreateForm(version_);
  }

  // Clicks the version button while the version window is shown modally: the click on the
  // picture at x, y comes from the loop the window waits in. Returns whether the window was
  // shown as expected when the click came.
  void ShowVersionAndClick(int x, int y) {
    bool clicked = false;
    TTimer click(&kit_.App);
    click.SetInterval(1);
    click.OnTimer = [&](rtl::TObject*) {
      click.SetEnabled(false);
      uitest::THeadlessWindow* w = uitest::WindowOf(version_);
      ASSERT_NE(w, nullptr);
      EXPECT_TRUE(w->Visible);
      EXPECT_TRUE(w->Modal);
      EXPECT_EQ(w->Style.Kind, TWindowKind::Borderless);
      EXPECT_FALSE(w->Style.CloseButton);
      EXPECT_EQ(w->Bounds, kScreenCentre);
      clicked = true;
      uitest::Click(version_->Image1, x, y);
    };
    click.SetEnabled(true);
    uitest::Click(form_->BtnVersion, 4, 4);
    EXPECT_TRUE(clicked);
    EXPECT_FALSE(version_->Visible());
  }

  uitest::TTestApp kit_;
  TFrmWatch* form_ = nullptr;
  TFrmVersion* version_ = nullptr;
};

TEST_F(Windows, TheVersionWindowIsMadeHiddenWithThePicture) {
  EXPECT_EQ(version_, FrmVersion);
  EXPECT_FALSE(version_->Visible());
  EXPECT_EQ(version_->Caption(), "Kelvadon Manager Version");
  EXPECT_EQ(version_->ClientWidth(), console::kPictureWidth);
  EXPECT_EQ(version_->ClientHeight(), console::kPictureHeight);
  const TBitmap& picture = version_->Image1->Picture()->Bitmap();
  EXPECT_EQ(picture.Width(), console::kPictureWidth);
  EXPECT_EQ(picture.Height(), console::kPictureHeight);
  EXPECT_EQ(version_->Image1->BoundsRect(), Rect(0, 0, 480, 270));
}

// Shown modally from the tool bar and from the menu, centred, without a title bar; a click
// anywhere on the picture closes it, also when the picture could not be read.
TEST_F(Windows, TheVersionWindowClosesOnAClickOnItsPicture) {
  ShowVersionAndClick(240, 135);
  ShowVersionAndClick(479, 0);
  // The menu's item does the same.
  bool shown = false;
  TTimer close(&kit_.App);
  close.SetInterval(1);
  close.OnTimer = [&](rtl::TObject*) {
    close.SetEnabled(false);
    shown = version_->Visible();
    uitest::Click(version_->Image1, 1, 1);
  };
  close.SetEnabled(true);
  form_->MnuVersion->Click();
  EXPECT_TRUE(shown);

  EXPECT_FALSE(version_->ShowPicture("not a picture"));
  EXPECT_TRUE(version_->Image1->Picture()->Empty());
  EXPECT_EQ(version_->Image1->BoundsRect(), Rect(0, 0, 480, 270));
  ShowVersionAndClick(240, 135);
  EXPECT_EQ(kit_.WidgetSet.Shown.size(), 0u);
}

// The splash: borderless at the desktop's centre, the busy cursor, the title as its caption.
TEST_F(Windows, TheSplashShowsThePictureWithTheBusyCursor) {
  Screen->SetCursor(crDefault);
  auto* splash = new TFrmBrindlework(&kit_.App);
  splash->AfterConstruction();
  FrmSplash = splash;
  ShowSplash();
  EXPECT_EQ(Screen->Cursor(), crHourGlass);
  EXPECT_EQ(splash->Caption(), "KelvadonManager Ver1.36");
  uitest::THeadlessWindow* w = uitest::WindowOf(splash);
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(w->Visible);
  EXPECT_EQ(w->Style.Kind, TWindowKind::Borderless);
  EXPECT_EQ(w->Bounds, kDesktopCentre);
  EXPECT_EQ(splash->Image1->Picture()->Width(), console::kPictureWidth);
  HideSplash();
  EXPECT_FALSE(w->Visible);
  CloseSplash();
  EXPECT_EQ(FrmSplash, nullptr);
  uitest::Pump();
}

// The help command hands the help page to the desktop's opener, found in PATH; without one,
// nothing is said.
TEST_F(Windows, HelpOpensThePageWithTheDesktopsOpener) {
  TempDir bin("kwhelp");
  TempDir out("kwhelp");
  bin.Write("xdg-open",
            "#!/bin/sh\nprintf '%s\\n' \"$1\" > " + out.File("n.tmp") + "\n/bin/mv " +
                out.File("n.tmp") + " " + out.File("opened") + "\n",
            0755);
  {
    testsupport::ScopedEnv path("PATH", bin.path());
    uitest::Click(form_->BtnHelp, 4, 4);
  }
  const auto opened = testsupport::WaitForFile(out.File("opened"), 30000);
  ASSERT_TRUE(opened);
  EXPECT_EQ(*opened, std::string(console::kHelpAddress) + "\n");

  std::filesystem::remove(out.File("opened"));
  {
    TempDir empty("kwhelp");
    testsupport::ScopedEnv path("PATH", empty.path());
    form_->MnuHelp->Click();
  }
  EXPECT_EQ(kit_.WidgetSet.Shown.size(), 0u);
}

}  // namespace
