#include "platform/ui/core/treeview.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/core/application.h"
#include "platform/ui/testkit/testkit.h"

namespace {

using uitest::TTestApp;

// A shown form with a 200 x 160 tree (rows 16 high, indent 19, no images):
//   All            row 0
//     host-a       row 1
//     host-b       row 2
//   Other          row 3 (collapsed, one child)
struct TreeFixture {
  TTestApp kit;
  TForm* form;
  TTreeView* tree;
  TTreeNode *all, *a, *b, *other, *hidden;
  TreeFixture() {
    kit.App.CreateForm(form);
    form->SetBounds(0, 0, 400, 300);
    tree = new TTreeView(form);
    tree->SetParent(form);
    tree->SetBounds(0, 0, 200, 160);
    all = tree->Items()->Add(nullptr, "All");
    a = tree->Items()->AddChild(all, "host-a");
    b = tree->Items()->AddChild(all, "host-b");
    other = tree->Items()->Add(nullptr, "Other");
    hidden = tree->Items()->AddChild(other, "inner");
    all->Expand(false);
    form->Show();
    tree->SetFocus();
  }
};

TEST(TreeView, HitTestAndDisplayRects) {
  TreeFixture f;
  ASSERT_EQ(f.tree->ItemHeight(), 16);
  const struct {
    int x, y;
    THitTests hit;
    TTreeNode* TreeFixture::*node;
  } cases[] = {
      {5, 5, {htOnButton}, nullptr},  // the button left of "All"
      {20, 5, {htOnLabel, htOnItem}, &TreeFixture::all},
      {41, 5, {htOnRight}, nullptr},    // the label ends at 19 + 3 * 6 + 4
      {30, 20, {htOnIndent}, nullptr},  // left of a child without children
      {40, 20, {htOnLabel, htOnItem}, &TreeFixture::a},
      {150, 36, {htOnRight}, nullptr},
      {20, 60, {htOnLabel, htOnItem}, &TreeFixture::other},
      {20, 70, {htNowhere}, nullptr},
      {20, -1, {htAbove}, nullptr},
      {-1, 5, {htToLeft}, nullptr},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(f.tree->GetHitTestInfoAt(c.x, c.y).Bits(), c.hit.Bits()) << c.x << "," << c.y;
    EXPECT_EQ(f.tree->GetNodeAt(c.x, c.y), c.node ? f.*c.node : nullptr) << c.x << "," << c.y;
  }
  EXPECT_EQ(f.a->DisplayRect(false), Rect(0, 16, 200, 32));
  EXPECT_EQ(f.a->DisplayRect(true), Rect(38, 16, 38 + 6 * 6 + 4, 32));
  EXPECT_TRUE(f.hidden->DisplayRect(true).IsEmpty());  // its parent is collapsed
  f.tree->RowSelect = true;
  EXPECT_EQ(f.tree->GetNodeAt(150, 36), f.b);
}

TEST(TreeView, PaintStagesWithItemStates) {
  TreeFixture f;
  f.tree->HotTrack = true;
  f.tree->SetSelected(f.a);
  uitest::Move(f.tree, 45, 40);  // over "host-b"
  ASSERT_EQ(f.tree->HotNode(), f.b);
  std::vector<std::string> log;
  f.tree->OnAdvancedCustomDrawItem = [&](TCustomTreeView*, TTreeNode* node, TCustomDrawState st,
                                         TCustomDrawStage stage, bool&, bool& defaultDraw) {
    std::string s = node->Text() + (stage == cdPrePaint ? " pre" : " post");
    if (st.Contains(cdsSelected)) s += " selected";
    if (st.Contains(cdsFocused)) s += " focused";
    if (st.Contains(cdsHot)) s += " hot";
    if (st.Contains(cdsMarked)) s += " marked";
    log.push_back(s);
    if (node == f.other && stage == cdPrePaint) defaultDraw = false;  // drawn by the handler
  };
  auto painted = uitest::Paint(f.form);
  EXPECT_EQ(log, (std::vector<std::string>{"All pre", "All post", "host-a pre selected focused",
                                           "host-a post selected focused", "host-b pre hot",
                                           "host-b post hot", "Other pre", "Other post"}));
  EXPECT_EQ(painted->Texts(f.tree), (std::vector<std::string>{"All", "host-a", "host-b"}));

  // A drop target draws as selected and marked, and the real selection then does not.
  log.clear();
  f.tree->SetDropTarget(f.other);
  uitest::Paint(f.form);
  EXPECT_EQ(log[2], "host-a pre focused");
  EXPECT_EQ(log[6], "Other pre selected marked");
}

TEST(TreeView, SelectionFollowsClicksKeysAndDeletion) {
  TreeFixture f;
  std::vector<std::string> changes;
  bool allow = true;
  f.tree->OnChanging = [&](rtl::TObject*, TTreeNode*, bool& a) { a = allow; };
  f.tree->OnChange = [&](rtl::TObject*, TTreeNode* n) {
    changes.push_back(n ? n->Text() : "null");
  };
  uitest::Click(f.tree, 40, 20);
  EXPECT_EQ(f.tree->Selected(), f.a);
  allow = false;
  uitest::Key(f.form, VK_DOWN);
  EXPECT_EQ(f.tree->Selected(), f.a);
  allow = true;
  uitest::Key(f.form, VK_DOWN);
  uitest::Key(f.form, VK_DOWN);
  EXPECT_EQ(f.tree->Selected(), f.other);
  uitest::Key(f.form, VK_RIGHT);  // expands
  EXPECT_TRUE(f.other->Expanded());
  uitest::Key(f.form, VK_RIGHT);  // to the first child
  EXPECT_EQ(f.tree->Selected(), f.hidden);
  uitest::Key(f.form, VK_LEFT);  // to the parent
  EXPECT_EQ(f.tree->Selected(), f.other);

  // Collapsing over the selection selects the collapsed node.
  f.tree->SetSelected(f.b);
  f.all->Collapse(false);
  EXPECT_EQ(f.tree->Selected(), f.all);

  // Deleting the selected node selects its next sibling; OnDeletion sees children first; a
  // deleted node is forgotten by the hot-tracking and tooltip state.
  std::vector<std::string> deleted;
  f.tree->OnDeletion = [&](rtl::TObject*, TTreeNode* n) { deleted.push_back(n->Text()); };
  f.tree->HotTrack = true;
  f.all->Expand(false);
  uitest::Move(f.tree, 45, 20);
  ASSERT_EQ(f.tree->HotNode(), f.a);
  f.all->Delete();
  EXPECT_EQ(deleted, (std::vector<std::string>{"host-b", "host-a", "All"}));
  EXPECT_EQ(f.tree->Selected(), f.other);
  EXPECT_EQ(f.tree->HotNode(), nullptr);
  EXPECT_EQ(changes.back(), "Other");
  size_t seen = changes.size();
  f.tree->Items()->Clear();
  EXPECT_EQ(f.tree->Selected(), nullptr);
  EXPECT_EQ(changes.size(), seen);  // no OnChange for a clear
  EXPECT_EQ(f.tree->Items()->Count(), 0);
}

TEST(TreeView, ButtonsDoubleClicksAndSorting) {
  TreeFixture f;
  uitest::Click(f.tree, 5, 53);  // the button of "Other"
  EXPECT_TRUE(f.other->Expanded());
  uitest::DblClick(f.tree, 22, 5);  // double click on "All" collapses it
  EXPECT_FALSE(f.all->Expanded());
  EXPECT_EQ(f.tree->Selected(), f.all);

  f.tree->SetSortType(stText);
  EXPECT_EQ(f.tree->Items()->TopItem(0), f.all);
  TTreeNode* c = f.tree->Items()->AddChild(f.all, "HOST-0");  // case folded: first
  EXPECT_EQ(c->Index(), 0);
  // OnCompare decides when assigned: here by length, longest first.
  f.tree->OnCompare = [](rtl::TObject*, TTreeNode* x, TTreeNode* y, int, int& r) {
    r = static_cast<int>(y->Text().size()) - static_cast<int>(x->Text().size());
  };
  f.tree->AlphaSort();
  EXPECT_EQ(f.tree->Items()->TopItem(0), f.other);
  std::vector<std::string> order;
  for (TTreeNode* n = f.tree->Items()->GetFirstNode(); n; n = n->GetNext())
    order.push_back(n->Text());
  EXPECT_EQ(order,
            (std::vector<std::string>{"Other", "inner", "All", "HOST-0", "host-a", "host-b"}));
}

TEST(HeaderControl, SectionsAndResizing) {
  TTestApp kit;
  TForm* form;
  kit.App.CreateForm(form);
  auto* header = new THeaderControl(form);
  header->SetParent(form);
  const struct {
    const char* text;
    int width;
    TAlignment alignment;
  } sections[] = {
      {"Name", 80, taLeftJustify}, {"Size", 50, taRightJustify}, {"Kind", 60, taCenter}};
  for (const auto& s : sections) {
    THeaderSection* sec = header->Sections()->Add();
    sec->Text = s.text;
    sec->SetWidth(s.width);
    sec->Alignment = s.alignment;
  }
  form->Show();
  EXPECT_EQ(header->Sections()->Items(1)->Left(), 80);
  EXPECT_EQ(header->Sections()->Items(1)->Right(), 130);
  EXPECT_EQ(header->SectionAt(135), header->Sections()->Items(2));
  std::vector<std::string> events;
  header->OnSectionClick = [&](THeaderControl*, THeaderSection* s) {
    events.push_back("click " + s->Text);
  };
  header->OnSectionResize = [&](THeaderControl*, THeaderSection* s) {
    events.push_back("resize " + s->Text + " " + std::to_string(s->Width()));
  };
  uitest::Click(header, 40, 5);
  uitest::Press(header, 130, 5);  // the right edge of "Size"
  uitest::Move(header, 150, 5);
  uitest::Release(header, 150, 5);
  EXPECT_EQ(events, (std::vector<std::string>{"click Name", "resize Size 70"}));
  EXPECT_EQ(header->Sections()->Items(2)->Left(), 150);
  auto painted = uitest::Paint(form);
  EXPECT_EQ(painted->Texts(header), (std::vector<std::string>{"Name", "Size", "Kind"}));
}

}  // namespace
