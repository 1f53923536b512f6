// The mail pages, the splash and the version window on a real display (under xvfb-run): each
// written as a screenshot, with the group captions drawn where the layout puts them and the
// product picture's pixels in the windows that show it.
#include <gtest/gtest.h>

#include <string>

#include "console/frmsplash.h"
#include "console/frmversion.h"
#include "console/frmwatch.h"
#include "console/picture.h"
#include "platform/ui/testkit/gui/gui.h"
#include "tests/support/files.h"

namespace {

using uitest::gui::InWindow;
using uitest::gui::LooksDrawn;
using uitest::gui::RealJapaneseGlyphs;
using uitest::gui::Shot;
using uitest::gui::TextDrawnIn;
using uitest::gui::TGuiApp;

// The band along the top of a group box where its caption is drawn.
TRect CaptionBand(const TGroupBox* group) {
  constexpr int kBandHeight = 20;
  return InWindow(group, Rect(0, 0, group->ClientWidth(), kBandHeight));
}

// The pixels of shot over the picture's, at points spread over it: all of them the picture's.
::testing::AssertionResult ShowsThePicture(const TBitmap& shot, const TImage* image) {
  const TBitmap& picture = const_cast<TImage*>(image)->Picture()->Bitmap();
  if (picture.Empty()) return ::testing::AssertionFailure() << "no picture";
  const TPoint origin = image->ClientToWindow(Point(0, 0));
  for (int y = 5; y < picture.Height(); y += 37)
    for (int x = 5; x < picture.Width(); x += 41) {
      const uint32_t want = picture.Pixel(x, y) | 0xFF000000u;
      const uint32_t got = shot.Pixel(origin.X + x, origin.Y + y) | 0xFF000000u;
      if (want != got)
        return ::testing::AssertionFailure()
               << "pixel " << x << "," << y << ": " << std::hex << got << " instead of " << want;
    }
  return ::testing::AssertionSuccess();
}

TEST(MailPagesGui, BothMailPagesDrawTheirGroupsAndTexts) {
  testsupport::TempDir folder("kwmailgui");
  folder.Write("KelvadonMan.ini",
               "[Mail]\r\nWord1=usb\r\nBody=line one\tline two\r\n"
               "[MailEnv]\r\nSmtpServer=smtp.example\r\nPopBeforeSmtp=0\r\nReportSend=1\r\n");
  TGuiApp kit;
  ASSERT_TRUE(kit.Ready());
  TFrmWatch* form;
  kit.App->CreateForm(form);
  // No hand-over here, and no exit question.
  form->OnShow = nullptr;
  form->OnCloseQuery = nullptr;
  form->WatchIni->SetFileName(folder.File("KelvadonMan.ini"));
  form->InitSettingsPage();
  form->LoadSettings();
  struct Page {
    TTabSheet* sheet;
    std::vector<TGroupBox*> groups;
  } pages[] = {{form->TabMail, {form->GrpRule, form->GrpContent}},
               {form->TamMailEnv, {form->GrpServer, form->GrpReport}}};
  for (const Page& page : pages) {
    form->PagWatch->SetActivePage(page.sheet);
    const TBitmap shot = Shot(form, page.sheet->Name);
    ASSERT_FALSE(shot.Empty()) << page.sheet->Name;
    EXPECT_TRUE(LooksDrawn(shot, form->Color())) << page.sheet->Name;
    for (TGroupBox* group : page.groups)
      EXPECT_TRUE(TextDrawnIn(shot, CaptionBand(group), group->Caption(), group->Font()->Data(),
                              group->Color()))
          << group->Name;
  }
  EXPECT_TRUE(RealJapaneseGlyphs(form->GrdRule->Font()->Data()));
}

TEST(MailPagesGui, TheSplashAndTheVersionWindowShowThePicture) {
  TGuiApp kit;
  ASSERT_TRUE(kit.Ready());
  auto* splash = new TFrmBrindlework(kit.App.get());
  splash->AfterConstruction();
  TFrmVersion* version;
  kit.App->CreateForm(version);
  const struct {
    TForm* form;
    TImage* image;
  } windows[] = {{splash, splash->Image1}, {version, version->Image1}};
  for (const auto& w : windows) {
    const TBitmap shot = Shot(w.form, w.form->Name);
    ASSERT_FALSE(shot.Empty()) << w.form->Name;
    EXPECT_EQ(shot.Width(), console::kPictureWidth) << w.form->Name;
    EXPECT_EQ(shot.Height(), console::kPictureHeight) << w.form->Name;
    EXPECT_TRUE(ShowsThePicture(shot, w.image)) << w.form->Name;
    w.form->Hide();
  }
}

}  // namespace
