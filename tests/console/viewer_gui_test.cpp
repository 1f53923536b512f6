// Screenshots of the record viewer and the details window on a real display (under xvfb-run):
// a day's hosts drawn in the tree and a record's values drawn in the details window.
#include <gtest/gtest.h>

#include "console/frmsyosai.h"
#include "console/frmwatch.h"
#include "platform/ui/testkit/gui/gui.h"
#include "tests/console/viewer_days.h"

namespace {

using uitest::gui::LooksDrawn;
using uitest::gui::RealJapaneseGlyphs;
using uitest::gui::Shot;
using uitest::gui::TextDrawnIn;
using uitest::gui::TGuiApp;
using viewertest::Rec;

// rect (client coordinates of control) in its window's coordinates.
TRect InWindow(const TControl* control, const TRect& rect) {
  const TPoint p = control->ClientToWindow(rect.TopLeft());
  return Bounds(p.X, p.Y, rect.Width(), rect.Height());
}

TEST(ViewerShots, AFilledDayShowsItsHostsAndTheDetailsWindowItsValues) {
  viewertest::TViewerDays days;
  const std::string comment = "\x91\x8d\x96\xb1\x95\x94";  // "総務部" in CP932
  days.Write(0, {Rec("pc-sato", "report.xls"),
                 Rec("pc-ito", "a&b@c.txt", "2026/12/09 09:15:00", comment)});
  TGuiApp kit;
  ASSERT_TRUE(kit.Ready());
  TFrmWatch* form;
  kit.App->CreateForm(form);
  TFrmSyosai* syosai;
  kit.App->CreateForm(syosai);
  form->OnShow = nullptr;  // no hand-over from a service here
  form->PagWatch->SetActivePage(form->TabAdmin);

  TBitmap shot = Shot(form, "viewer");
  ASSERT_FALSE(shot.Empty());
  EXPECT_TRUE(LooksDrawn(shot, form->Color()));
  TTreeNode* root = form->TrePCList->Items()->GetFirstNode();
  ASSERT_NE(root, nullptr);
  ASSERT_EQ(root->Count(), 2);
  for (TTreeNode* node : {root, root->Item(0), root->Item(1)})
    EXPECT_TRUE(TextDrawnIn(shot, InWindow(form->TrePCList, node->DisplayRect(true)), node->Text(),
                            form->TrePCList->Font()->Data(), form->TrePCList->Color()))
        << node->Text();

  // The top row: pc-ito's record, with a Japanese comment and a file name that markup would eat.
  form->GrdWatch->SetCurrentRow(0);
  TBitmap details = Shot(syosai, "details");
  ASSERT_FALSE(details.Empty());
  EXPECT_TRUE(LooksDrawn(details, syosai->Color()));
  const struct {
    TLabel* label;
    std::string text;
  } values[] = {{syosai->LblHostName, "pc-ito"},
                {syosai->LblTime, "09:15:00"},
                {syosai->LblComment, comment},
                {syosai->LblFileName, "a&b@c.txt"}};
  for (const auto& v : values) {
    const TRect whole = Bounds(0, 0, v.label->Width(), v.label->Height());
    EXPECT_TRUE(TextDrawnIn(details, InWindow(v.label, whole), v.text, v.label->Font()->Data(),
                            v.label->Color()))
        << v.label->Name;
  }
  EXPECT_TRUE(RealJapaneseGlyphs(syosai->Font()->Data()));
}

}  // namespace
