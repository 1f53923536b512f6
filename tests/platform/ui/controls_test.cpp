#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/ui/core/application.h"
#include "platform/ui/core/comctrls.h"
#include "platform/ui/core/dropdownlist.h"
#include "platform/ui/core/extctrls.h"
#include "platform/ui/core/grids.h"
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

// A focused one-line edit draws its caret: a one-pixel bar in the text colour at the caret's x,
// over the text's height; unfocused, or with a selection, none. The grid's editor, always shown,
// is one too.
TEST(Edit, AFocusedOneLineEditDrawsItsCaret) {
  Fixture f;
  auto* edit = new TEdit(f.form);
  edit->SetParent(f.form);
  edit->SetBounds(10, 10, 200, 21);
  edit->SetText("abcd");
  auto* grid = new TStringGrid(f.form);
  grid->SetParent(f.form);
  grid->SetBounds(10, 50, 300, 120);
  grid->SetCells(1, 1, "xy");
  grid->SetOptions(TGridOptions{goEditing, goAlwaysShowEditor});  // over cell 1, 1
  auto caretsOf = [&](TCustomEdit* e) {
    std::vector<TRect> bars;
    for (const uitest::TPaintOp& op : uitest::Paint(f.form)->OpsOf(e))
      if (op.kind == uitest::TPaintOp::Fill && op.rect.Width() == 1 && op.color == clWindowText)
        bars.push_back(op.rect);
    return bars;
  };
  EXPECT_TRUE(caretsOf(edit).empty());  // not focused
  edit->SetFocus();
  edit->SetSelStart(2);
  const int top = (edit->ClientHeight() - uitest::kLineHeight) / 2;
  EXPECT_EQ(caretsOf(edit),
            (std::vector<TRect>{Bounds(1 + 2 * uitest::kCharWidth, top, 1, uitest::kLineHeight)}));
  edit->SelectAll();
  EXPECT_TRUE(caretsOf(edit).empty());

  TInplaceEdit* editor = grid->InplaceEditor();
  ASSERT_NE(editor, nullptr);
  ASSERT_TRUE(editor->Visible());
  uitest::Click(editor, 1 + uitest::kCharWidth, 5);  // between "x" and "y"
  ASSERT_TRUE(editor->Focused());
  EXPECT_EQ(editor->SelStart(), 1);
  EXPECT_EQ(caretsOf(editor).size(), 1u);
  EXPECT_TRUE(caretsOf(edit).empty());
}

// A click puts the caret at the nearest character boundary; a double click selects the word
// there: letters and digits, double-byte characters, blanks, other signs each make words of
// their own kind.
TEST(Edit, AClickPlacesTheCaretAndADoubleClickSelectsTheWord) {
  Fixture f;
  auto* edit = new TEdit(f.form);
  edit->SetParent(f.form);
  edit->SetBounds(10, 10, 400, 21);
  // "abc def", "設定保存" (4 double-byte characters), "--x"
  const std::string text = "abc def\x90\xdd\x92\xe8\x95\xdb\x91\xb6--x";
  edit->SetText(text);
  auto xOf = [](int byte) { return 1 + byte * uitest::kCharWidth; };
  const int y = 10;
  uitest::Click(edit, xOf(5) + 2, y);
  EXPECT_TRUE(edit->Focused());
  EXPECT_EQ(edit->SelStart(), 5);
  EXPECT_EQ(edit->SelLength(), 0);
  uitest::Click(edit, xOf(8) - 2, y);  // inside a double-byte character: its nearer edge
  EXPECT_EQ(edit->SelStart(), 7);
  const struct {
    int x;
    std::string word;
  } cases[] = {
      {xOf(1), "abc"},     {xOf(3) + 3, " "},
      {xOf(6), "def"},     {xOf(10), "\x90\xdd\x92\xe8\x95\xdb\x91\xb6"},
      {xOf(15) + 2, "--"}, {xOf(18), "x"},  // past the end: the last word
  };
  for (const auto& c : cases) {
    uitest::DblClick(edit, c.x, y);
    EXPECT_EQ(edit->SelText(), c.word) << c.x;
  }
}

// ---- buttons and choices ----

// Each click on a push button counts, also two close together (a double click to the display).
TEST(Button, ADoubleClickIsTwoClicks) {
  Fixture f;
  auto* button = new TButton(f.form);
  button->SetParent(f.form);
  auto* bit = new TBitBtn(f.form);
  bit->SetParent(f.form);
  bit->SetTop(40);
  for (TButton* b : std::initializer_list<TButton*>{button, bit}) {
    int clicks = 0, doubles = 0;
    b->OnClick = [&](rtl::TObject*) { ++clicks; };
    b->OnDblClick = [&](rtl::TObject*) { ++doubles; };
    uitest::DblClick(b, 5, 5);
    EXPECT_EQ(clicks, 2) << b->Name;
    EXPECT_EQ(doubles, 0);
  }
}

// A ticked check box shows a tick: pen lines in the text colour inside its mark, no filled
// square; a grayed one shows it in grey.
TEST(Choices, ATickedCheckBoxShowsATick) {
  Fixture f;
  auto* check = new TCheckBox(f.form);
  check->SetParent(f.form);
  check->AllowGrayed = true;
  const TRect mark = Bounds(0, (check->ClientHeight() - 13) / 2, 13, 13);
  auto marks = [&](TColor color) {
    int lines = 0, fills = 0;
    for (const uitest::TPaintOp& op : uitest::Paint(f.form)->OpsOf(check)) {
      if (op.color != color || IntersectRect(op.rect, mark) != op.rect) continue;
      lines += op.kind == uitest::TPaintOp::Line;
      fills += op.kind == uitest::TPaintOp::Fill;
    }
    return std::pair{lines, fills};
  };
  EXPECT_EQ(marks(clWindowText), std::pair(0, 0));
  check->SetState(cbChecked);
  auto [lines, fills] = marks(clWindowText);
  EXPECT_GE(lines, 2);
  EXPECT_EQ(fills, 0);
  check->SetState(cbGrayed);
  EXPECT_GE(marks(clGrayText).first, 2);
}

// The combo box's list drops down in a popup window of its own just below the box, as wide as
// the box, with a row for each item up to DropDownCount; the hot item is highlighted. A click on
// an item or Enter on the hot one chooses; a click elsewhere or Escape closes it without a choice.
class ComboList : public ::testing::Test {
 protected:
  void SetUp() override {
    combo = new TComboBox(f.form);
    combo->Style = csDropDownList;
    combo->SetParent(f.form);
    combo->SetBounds(20, 30, 145, 21);
    for (const char* item : {"today", "1 back", "2 back", "3 back", "4 back", "5 back", "6 back"})
      combo->Items()->Add(item);
    combo->SetItemIndex(0);
    combo->OnChange = [this](rtl::TObject*) { changes.push_back(combo->ItemIndex()); };
    other = new TButton(f.form);
    other->SetParent(f.form);
    other->SetBounds(400, 30, 75, 25);
    other->OnClick = [this](rtl::TObject*) { ++otherClicks; };
  }
  // Opens the list with a click on the box; its rows.
  TDropDownItems* Open() {
    uitest::Click(combo, 5, 5);
    EXPECT_TRUE(combo->DroppedDown());
    EXPECT_NE(combo->DropDownList(), nullptr);
    return combo->DropDownList() ? combo->DropDownList()->Items() : nullptr;
  }
  bool ListShown() const { return combo->DropDownList() && combo->DropDownList()->Visible(); }

  Fixture f;
  TComboBox* combo;
  TButton* other;
  std::vector<int> changes;
  int otherClicks = 0;
};

TEST_F(ComboList, OpensBelowTheBoxAndShowsItsItemsWithTheHotOneHighlighted) {
  TDropDownItems* rows = Open();
  ASSERT_NE(rows, nullptr);
  ASSERT_TRUE(ListShown());
  uitest::THeadlessWindow* w = uitest::WindowOf(combo->DropDownList());
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->Style.Kind, TWindowKind::Popup);
  EXPECT_TRUE(w->Visible);
  const TPoint below = combo->ClientToScreen(Point(0, combo->Height()));
  const int rowHeight = rows->ItemHeight();
  EXPECT_EQ(w->Bounds, Bounds(below.X, below.Y, combo->Width(), 7 * rowHeight + 2));
  EXPECT_EQ(uitest::Paint(rows)->Texts(rows),
            (std::vector<std::string>{"today", "1 back", "2 back", "3 back", "4 back", "5 back",
                                      "6 back"}));
  // The pointer over a row makes it hot: that row is filled with the highlight.
  uitest::Move(rows, 10, 3 * rowHeight + 2);
  EXPECT_EQ(combo->HotIndex(), 3);
  std::vector<TRect> highlighted;
  for (const uitest::TPaintOp& op : uitest::Paint(rows)->OpsOf(rows))
    if (op.kind == uitest::TPaintOp::Fill && op.color == clHighlight)
      highlighted.push_back(op.rect);
  EXPECT_EQ(highlighted,
            (std::vector<TRect>{TRect{0, 3 * rowHeight, rows->ClientWidth(), 4 * rowHeight}}));
  // A second click on the box closes it.
  uitest::Click(combo, 5, 5);
  EXPECT_FALSE(combo->DroppedDown());
  EXPECT_FALSE(ListShown());
  EXPECT_TRUE(changes.empty());
}

TEST_F(ComboList, AClickOnAnItemOrEnterOnTheHotOneChooses) {
  TDropDownItems* rows = Open();
  ASSERT_NE(rows, nullptr);
  uitest::Click(rows, 10, 2 * rows->ItemHeight() + 3);
  EXPECT_FALSE(ListShown());
  EXPECT_EQ(combo->ItemIndex(), 2);
  EXPECT_EQ(combo->Text(), "2 back");
  Open();
  EXPECT_EQ(combo->HotIndex(), 2);
  uitest::Key(f.form, VK_DOWN);
  uitest::Key(f.form, VK_DOWN);
  uitest::Key(f.form, VK_RETURN);
  EXPECT_FALSE(ListShown());
  EXPECT_EQ(changes, (std::vector<int>{2, 4}));
  // A press on the box dragged onto an item and let go there chooses it too.
  uitest::Press(combo, 5, 5);
  ASSERT_TRUE(ListShown());
  const TPoint onItem = combo->ScreenToClient(rows->ClientToScreen(Point(10, 5)));
  uitest::Move(combo, onItem.X, onItem.Y, TShiftState{ssLeft});
  EXPECT_EQ(combo->HotIndex(), 0);
  uitest::Release(combo, onItem.X, onItem.Y);
  EXPECT_FALSE(ListShown());
  EXPECT_EQ(changes, (std::vector<int>{2, 4, 0}));
}

TEST_F(ComboList, AClickElsewhereOrEscapeClosesItWithoutAChoice) {
  Open();
  uitest::Key(f.form, VK_DOWN);
  uitest::Click(other, 5, 5);
  EXPECT_FALSE(combo->DroppedDown());
  EXPECT_FALSE(ListShown());
  EXPECT_EQ(otherClicks, 1);  // the click reaches what it was meant for
  Open();
  uitest::Key(f.form, VK_DOWN);
  uitest::Key(f.form, VK_ESCAPE);
  EXPECT_FALSE(ListShown());
  Open();
  f.form->PeerTarget().PeerActivated(false);  // the window lost the keyboard
  EXPECT_FALSE(ListShown());
  EXPECT_TRUE(changes.empty());
  EXPECT_EQ(combo->ItemIndex(), 0);
}

TEST_F(ComboList, MoreItemsThanDropDownCountScrollAndNoRoomBelowOpensAbove) {
  combo->DropDownCount = 4;
  TDropDownItems* rows = Open();
  ASSERT_NE(rows, nullptr);
  EXPECT_EQ(rows->Rows(), 4);
  EXPECT_TRUE(rows->ControlScrollBars()->Showing(sbVertical));
  EXPECT_EQ(uitest::Paint(rows)->Texts(rows).size(), 4u);
  for (int i = 0; i < 5; ++i)
    uitest::Key(f.form, VK_DOWN);
  EXPECT_EQ(combo->HotIndex(), 5);
  EXPECT_EQ(rows->TopIndex(), 2);
  uitest::Key(f.form, VK_ESCAPE);
  // At the bottom of the work area the list opens above the box.
  const TRect area = Screen->WorkAreaRect();
  f.form->SetTop(area.Bottom - f.form->Height());
  combo->SetTop(f.form->ClientHeight() - combo->Height());
  ASSERT_GT(combo->ClientToScreen(Point(0, combo->Height())).Y + 4 * rows->ItemHeight(),
            area.Bottom - 2);
  Open();
  uitest::THeadlessWindow* w = uitest::WindowOf(combo->DropDownList());
  EXPECT_EQ(w->Bounds.Bottom, combo->ClientToScreen(Point(0, 0)).Y);
}

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
