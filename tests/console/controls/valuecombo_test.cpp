#include "console/controls/valuecombo.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/ui/core/application.h"
#include "platform/ui/testkit/testkit.h"
#include "rtl/cp932.h"

namespace {

TEST(ValComboBox, ValuesAreCopiedNotShared) {
  uitest::TTestApp kit;
  TForm* form;
  kit.App.CreateForm(form);
  auto* box = new TValComboBox(form);
  rtl::TStringList* own = box->Values();
  rtl::TStringList source;
  source.Add("0");
  source.Add("1");
  box->SetValues(source);
  source.SetString(0, "changed");
  source.Add("2");
  EXPECT_EQ(box->Values(), own);
  ASSERT_EQ(box->Values()->Count(), 2);
  EXPECT_EQ((*box->Values())[0], "0");
  box->SetValues(*box->Values());  // itself: unchanged
  EXPECT_EQ(box->Values()->Count(), 2);
}

// The console's day chooser: seven days and the day offsets they stand for.
TEST(ValComboBox, DayChooserKeepsItemsAndValuesInStep) {
  uitest::TTestApp kit;
  TForm* form;
  kit.App.CreateForm(form);
  auto* box = new TValComboBox(form);
  box->SetParent(form);
  box->Style = csDropDownList;
  box->Items()->Add(rtl::Utf8ToCp932("今日"));
  for (int i = 1; i <= 6; ++i)
    box->Items()->Add(rtl::Utf8ToCp932(std::to_string(i) + "日前"));
  for (int i = 0; i <= 6; ++i)
    box->Values()->Add(std::to_string(i));
  box->SetItemIndex(0);
  form->Show();

  ASSERT_EQ(box->Items()->Count(), 7);
  ASSERT_EQ(box->Values()->Count(), 7);
  EXPECT_EQ((*box->Values())[box->ItemIndex()], "0");
  int chosen = -1;
  box->OnChange = [&](rtl::TObject*) { chosen = box->ItemIndex(); };
  box->Choose(3);
  EXPECT_EQ((*box->Items())[chosen], rtl::Utf8ToCp932("3日前"));
  EXPECT_EQ((*box->Values())[chosen], "3");
}

}  // namespace
