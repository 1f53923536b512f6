#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/ui/core/application.h"
#include "platform/ui/core/comctrls.h"
#include "platform/ui/core/extctrls.h"
#include "platform/ui/core/stdctrls.h"
#include "platform/ui/testkit/testkit.h"
#include "tests/support/files.h"

namespace {

using uitest::TTestApp;

// A plain form with a 1024 x 768 frame, shown.
class TestForm : public TForm {
 public:
  explicit TestForm(rtl::TComponent* owner) : TForm(owner) { SetBounds(0, 0, 1024, 768); }
};

struct Fixture {
  TTestApp kit;
  TestForm* form;
  Fixture() {
    kit.App.CreateForm(form);
    form->Show();
  }
};

// ---- layout ----

struct Child {
  TAlign align;
  TRect bounds;  // as placed before aligning
  bool visible = true;
};

TEST(Layout, AlignTable) {
  struct Case {
    const char* name;
    std::vector<Child> children;
    std::vector<TRect> expected;
  };
  const Case cases[] = {
      {"top", {{alTop, Bounds(5, 5, 10, 10)}}, {Bounds(0, 0, 100, 10)}},
      {"bottom", {{alBottom, Bounds(5, 5, 10, 10)}}, {Bounds(0, 70, 100, 10)}},
      {"left", {{alLeft, Bounds(5, 5, 20, 10)}}, {Bounds(0, 0, 20, 80)}},
      {"right", {{alRight, Bounds(5, 5, 20, 10)}}, {Bounds(80, 0, 20, 80)}},
      {"client", {{alClient, Bounds(5, 5, 1, 1)}}, {Bounds(0, 0, 100, 80)}},
      {"none keeps its place", {{alNone, Bounds(5, 6, 7, 8)}}, {Bounds(5, 6, 7, 8)}},
      {"sides before client, tops before lefts",
       {{alClient, Bounds(0, 0, 1, 1)},
        {alLeft, Bounds(0, 0, 20, 1)},
        {alTop, Bounds(0, 0, 1, 10)}},
       {Bounds(20, 10, 80, 70), Bounds(0, 10, 20, 70), Bounds(0, 0, 100, 10)}},
      {"two tops stack by their position, not their order",
       {{alTop, Bounds(0, 50, 1, 10)}, {alTop, Bounds(0, 0, 1, 15)}},
       {Bounds(0, 15, 100, 10), Bounds(0, 0, 100, 15)}},
      {"a hidden control takes no room",
       {{alLeft, Bounds(0, 0, 30, 1), false}, {alClient, Bounds(0, 0, 1, 1)}},
       {Bounds(0, 0, 30, 1), Bounds(0, 0, 100, 80)}},
      {"a side wider than what is left is cut",
       {{alLeft, Bounds(0, 0, 70, 1)}, {alRight, Bounds(0, 0, 70, 1)}},
       {Bounds(0, 0, 70, 80), Bounds(70, 0, 30, 80)}},
  };
  for (const Case& c : cases) {
    Fixture f;
    auto* parent = new TPanel(f.form);
    parent->SetBevelOuter(bvNone);
    parent->SetBounds(0, 0, 100, 80);
    parent->SetParent(f.form);
    // As a form is built: the children get their places first, then they are aligned.
    parent->DisableAlign();
    std::vector<TControl*> made;
    for (const Child& ch : c.children) {
      auto* p = new TPanel(f.form);
      p->SetBoundsRect(ch.bounds);
      p->SetVisible(ch.visible);
      p->SetAlign(ch.align);
      p->SetParent(parent);
      made.push_back(p);
    }
    parent->EnableAlign();
    for (size_t i = 0; i < made.size(); ++i)
      EXPECT_EQ(made[i]->BoundsRect(), c.expected[i]) << c.name << ", child " << i;
  }
}

TEST(Layout, AdminPageInAFullSizeForm) {
  Fixture f;
  auto* pages = new TPageControl(f.form);
  pages->SetParent(f.form);
  pages->SetAlign(alClient);
  auto* tab = new TTabSheet(f.form);
  tab->SetPageControl(pages);
  auto* treePanel = new TPanel(f.form);
  treePanel->SetBevelOuter(bvLowered);
  treePanel->SetWidth(201);
  treePanel->SetAlign(alLeft);
  treePanel->SetParent(tab);
  auto* splitter = new TSplitter(f.form);
  splitter->SetWidth(4);
  splitter->SetLeft(300);  // placed after the panel
  splitter->SetParent(tab);
  auto* right = new TPanel(f.form);
  right->SetBevelOuter(bvLowered);
  right->SetAlign(alClient);
  right->SetParent(tab);
  auto* bar = new TPanel(f.form);
  bar->SetHeight(23);
  bar->SetAlign(alTop);
  bar->SetBevelOuter(bvNone);
  bar->SetParent(right);
  auto* grid = new TPanel(f.form);
  grid->SetAlign(alClient);
  grid->SetParent(right);

  const int cw = 1024 - 2 * kFormFrameWidth;
  const int ch = 768 - 2 * kFormFrameWidth - kFormCaptionHeight;
  EXPECT_EQ(f.form->ClientRect(), Rect(0, 0, cw, ch));
  EXPECT_EQ(pages->BoundsRect(), Rect(0, 0, cw, ch));
  const TRect sheet = pages->DisplayRect();
  EXPECT_EQ(tab->BoundsRect(), sheet);
  EXPECT_EQ(treePanel->BoundsRect(), Bounds(0, 0, 201, sheet.Height()));
  EXPECT_EQ(splitter->BoundsRect(), Bounds(201, 0, 4, sheet.Height()));
  EXPECT_EQ(right->BoundsRect(), Bounds(205, 0, sheet.Width() - 205, sheet.Height()));
  // Inside the lowered bevel: the bar on top, the grid filling the rest.
  EXPECT_EQ(bar->BoundsRect(), Bounds(1, 1, right->Width() - 2, 23));
  EXPECT_EQ(grid->BoundsRect(), Bounds(1, 24, right->Width() - 2, right->Height() - 25));

  // The splitter drags the tree panel, no narrower than MinSize.
  uitest::Press(splitter, 1, 10);
  uitest::Move(splitter, 51, 10);
  EXPECT_EQ(treePanel->Width(), 251);
  EXPECT_EQ(splitter->Left(), 251);
  EXPECT_EQ(grid->Width(), right->Width() - 2);
  uitest::Move(splitter, -400, 10);
  EXPECT_EQ(treePanel->Width(), splitter->MinSize);
  uitest::Release(splitter, -400, 10);

  // A larger window gives the room to the client controls.
  f.form->SetBounds(0, 0, 1200, 900);
  EXPECT_EQ(right->Width(), pages->DisplayRect().Width() - splitter->MinSize - 4);
}

// ---- focus and pages ----

// A form filled by a page control with the pages "One" and "Two".
struct PagesFixture : Fixture {
  TPageControl* pages;
  TTabSheet* first;
  TTabSheet* second;
  PagesFixture() {
    pages = new TPageControl(form);
    pages->SetParent(form);
    pages->SetAlign(alClient);
    first = new TTabSheet(form);
    first->SetCaption("One");
    first->SetPageControl(pages);
    second = new TTabSheet(form);
    second->SetCaption("Two");
    second->SetPageControl(pages);
  }
};

TEST(Focus, SetFocusOnAHiddenPageShowsThatPage) {
  PagesFixture f;
  auto [pages, first, second] = std::tuple(f.pages, f.first, f.second);
  auto* edit = new TEdit(f.form);
  edit->SetParent(second);
  ASSERT_EQ(pages->ActivePage(), first);
  EXPECT_FALSE(edit->CanFocus());

  edit->SetFocus();
  EXPECT_EQ(pages->ActivePage(), second);
  EXPECT_TRUE(edit->Focused());
  EXPECT_FALSE(first->Visible());

  // A disabled control shows its page but does not get the focus; the hidden one loses it.
  auto* other = new TEdit(f.form);
  other->SetParent(first);
  other->SetEnabled(false);
  other->SetFocus();
  EXPECT_EQ(pages->ActivePage(), first);
  EXPECT_FALSE(other->Focused());
  EXPECT_FALSE(edit->Focused());
}

TEST(Focus, ClickingATabAsksOnChanging) {
  PagesFixture f;
  auto [pages, first, second] = std::tuple(f.pages, f.first, f.second);
  bool allow = false;
  int changes = 0;
  pages->OnChanging = [&](rtl::TObject*, bool& a) { a = allow; };
  pages->OnChange = [&](rtl::TObject*) { ++changes; };
  TRect tab = pages->TabRect(second);
  uitest::Click(pages, tab.Left + 2, tab.Top + 2);
  EXPECT_EQ(pages->ActivePage(), first);
  allow = true;
  uitest::Click(pages, tab.Left + 2, tab.Top + 2);
  EXPECT_EQ(pages->ActivePage(), second);
  EXPECT_EQ(changes, 1);
}

TEST(Focus, TabWalksTheTabOrderAndEnterClicksTheDefaultButton) {
  Fixture f;
  auto* a = new TEdit(f.form);
  a->SetParent(f.form);
  auto* b = new TEdit(f.form);
  b->SetParent(f.form);
  auto* ok = new TButton(f.form);
  ok->SetParent(f.form);
  ok->Default = true;
  ok->ModalResult = mrOk;
  int clicks = 0;
  ok->OnClick = [&](rtl::TObject*) { ++clicks; };
  b->SetTabOrder(0);
  uitest::Key(f.form, VK_TAB);
  EXPECT_TRUE(b->Focused());
  uitest::Key(f.form, VK_TAB);
  EXPECT_TRUE(a->Focused());
  uitest::Key(f.form, VK_TAB, TShiftState{ssShift});
  EXPECT_TRUE(b->Focused());
  uitest::Key(f.form, VK_RETURN);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(f.form->ModalResult(), mrOk);
}

// ---- text controls ----

TEST(Memo, TextHasCrLfWhateverWasTypedOrSet) {
  const struct {
    const char* input;
    const char* text;
    size_t lines;
  } cases[] = {
      {"a\nb", "a\r\nb", 2},       {"a\rb", "a\r\nb", 2},       {"a\r\nb", "a\r\nb", 2},
      {"a\n\rb", "a\r\n\r\nb", 3}, {"a\r\r\n", "a\r\n\r\n", 2},
  };
  for (const auto& c : cases) {
    Fixture f;
    auto* memo = new TMemo(f.form);
    memo->SetParent(f.form);
    memo->SetText(c.input);
    EXPECT_EQ(memo->Text(), c.text) << "set";
    EXPECT_EQ(memo->Lines().size(), c.lines) << c.input;
    memo->SetText("");
    memo->SetFocus();
    uitest::Type(f.form, c.input);
    EXPECT_EQ(memo->Text(), c.text) << "typed";
  }
  Fixture f;
  auto* memo = new TMemo(f.form);
  memo->SetParent(f.form);
  memo->SetFocus();
  uitest::Type(f.form, "x");
  uitest::Key(f.form, VK_RETURN);  // Enter types a line break in a memo
  uitest::Type(f.form, "y");
  EXPECT_EQ(memo->Text(), "x\r\ny");
}

TEST(Edit, TypingEditingKeysAndLimits) {
  Fixture f;
  auto* edit = new TEdit(f.form);
  edit->SetParent(f.form);
  std::vector<std::string> changes;
  edit->OnChange = [&](rtl::TObject*) { changes.push_back(edit->Text()); };
  edit->SetFocus();
  // "a", a double-byte character, "b"; a line break is dropped in a single-line edit.
  uitest::Type(f.form, "a\x82\xa0\nb");
  EXPECT_EQ(edit->Text(),
            "a\x82\xa0"
            "b");
  uitest::Key(f.form, VK_LEFT);
  uitest::Key(f.form, VK_BACK);  // removes the whole double-byte character
  EXPECT_EQ(edit->Text(), "ab");
  uitest::Key(f.form, VK_HOME);
  uitest::Key(f.form, VK_DELETE);
  EXPECT_EQ(edit->Text(), "b");
  edit->MaxLength = 3;
  uitest::Key(f.form, VK_END);
  uitest::Type(f.form, "\x82\xa0\x82\xa0");  // only one whole character fits
  EXPECT_EQ(edit->Text(), "b\x82\xa0");
  edit->ReadOnly = true;
  uitest::Type(f.form, "z");
  EXPECT_EQ(edit->Text(), "b\x82\xa0");
  EXPECT_EQ(changes.back(), "b\x82\xa0");

  // Ctrl+A, Ctrl+C and Ctrl+V go through the clipboard.
  edit->ReadOnly = false;
  uitest::Key(f.form, 'A', TShiftState{ssCtrl});
  uitest::Key(f.form, 'C', TShiftState{ssCtrl});
  EXPECT_EQ(f.kit.WidgetSet.Clipboard, "b\x82\xa0");
  uitest::Key(f.form, VK_END);
  edit->MaxLength = 0;
  uitest::Key(f.form, 'V', TShiftState{ssCtrl});
  EXPECT_EQ(edit->Text(),
            "b\x82\xa0"
            "b\x82\xa0");

  // A password edit draws only its password characters.
  edit->PasswordChar = '*';
  auto painted = uitest::Paint(f.form);
  EXPECT_EQ(painted->Texts(edit), (std::vector<std::string>{"******"}));
}

// ---- buttons and choices ----

TEST(Choices, CheckBoxRadioButtonsAndComboBox) {
  Fixture f;
  auto* check = new TCheckBox(f.form);
  check->SetParent(f.form);
  int clicks = 0;
  check->OnClick = [&](rtl::TObject*) { ++clicks; };
  uitest::Click(check, 2, 2);
  EXPECT_TRUE(check->Checked());
  check->SetChecked(true);  // no change: no OnClick
  EXPECT_EQ(clicks, 1);

  auto* group = new TGroupBox(f.form);
  group->SetParent(f.form);
  auto* r1 = new TRadioButton(f.form);
  r1->SetParent(group);
  auto* r2 = new TRadioButton(f.form);
  r2->SetParent(group);
  r1->SetChecked(true);
  uitest::Click(r2, 2, 2);
  EXPECT_TRUE(r2->Checked());
  EXPECT_FALSE(r1->Checked());

  auto* combo = new TComboBox(f.form);
  combo->Style = csDropDownList;
  combo->SetParent(f.form);
  combo->Items()->Add("one");
  combo->Items()->Add("two");
  combo->Items()->Add("three");
  std::vector<int> changes;
  combo->OnChange = [&](rtl::TObject*) { changes.push_back(combo->ItemIndex()); };
  combo->SetItemIndex(0);  // code: no OnChange
  combo->SetFocus();
  uitest::Key(f.form, VK_DOWN);
  EXPECT_EQ(combo->Text(), "two");
  uitest::Click(combo, 5, 5);  // drops the list down
  ASSERT_TRUE(combo->DroppedDown());
  uitest::Key(f.form, VK_DOWN);
  uitest::Key(f.form, VK_RETURN);
  EXPECT_FALSE(combo->DroppedDown());
  EXPECT_EQ(changes, (std::vector<int>{1, 2}));
  combo->Choose(2);  // the same item again: no change
  EXPECT_EQ(changes.size(), 2u);
}

// ---- pictures ----

TEST(Image, AnUnreadablePictureLeavesAnEmptyImageOfTheSameSize) {
  Fixture f;
  testsupport::TempDir dir;
  auto* image = new TImage(f.form);
  image->SetParent(f.form);
  image->SetBounds(10, 10, 120, 90);
  int clicks = 0;
  image->OnClick = [&](rtl::TObject*) { ++clicks; };
  const std::string bad = dir.Write("bad.jpg", "\xff\xd8\xff\xe0 not really a picture");
  EXPECT_THROW(image->LoadFromFile(bad), EInvalidGraphic);
  EXPECT_THROW(image->LoadFromFile(dir.File("missing.jpg")), rtl::EInOutError);
  EXPECT_TRUE(image->Picture()->Empty());
  EXPECT_EQ(image->BoundsRect(), Bounds(10, 10, 120, 90));
  uitest::Click(image, 3, 3);
  EXPECT_EQ(clicks, 1);
}

}  // namespace
