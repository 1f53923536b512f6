#include "console/controls/treelist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/ui/core/application.h"
#include "platform/ui/testkit/testkit.h"

namespace {

using uitest::TTestApp;

// A shown form with a 120-pixel wide tree list (rows 16 high, indent 19, no images):
//   All Computer                       row 0
//     a-very-long-host-name-here      row 1, cut at the client width
//     short                           row 2
struct TreeFixture {
  TTestApp kit;
  TForm* form;
  TTreeList* tree;
  TTreeNode *root, *cut, *fits;
  TreeFixture() {
    kit.App.CreateForm(form);
    form->SetBounds(0, 0, 400, 300);
    tree = new TTreeList(form);
    tree->SetParent(form);
    tree->SetBounds(0, 0, 120, 160);
    root = tree->AddNode(tree->Items(), nullptr, "All Computer");
    cut = tree->AddChildNode(tree->Items(), root, "a-very-long-host-name-here");
    fits = tree->AddChildNode(tree->Items(), root, "short");
    root->Expand(false);
    form->Show();
  }
  void MoveOverLabel(TTreeNode* node) {
    const TRect r = node->DisplayRect(true);
    uitest::Move(tree, r.Left + 3, r.Top + 3);
  }
};

TEST(TreeList, AddedNodesCarryHoldersThatGoWithThem) {
  TreeFixture f;
  for (TTreeNode* node : {f.root, f.cut, f.fits}) {
    TSubItems* sub = TTreeList::SubItemsOf(node);
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(sub->Node(), node);
    EXPECT_EQ(node->Data, sub);
  }
  // The tree view's own operations attach nothing: no column texts, sort value 0.
  TTreeNode* plain = f.tree->Items()->AddChild(f.root, "plain");
  EXPECT_EQ(TTreeList::SubItemsOf(plain), nullptr);
  EXPECT_EQ(TTreeList::SortValueOf(plain), 0);

  // A handler of the deletion still finds the holder; afterwards it is gone with the node (the
  // sanitizer build's leak check sees every holder freed, also by Clear and the tree's end).
  std::vector<std::string> seen;
  f.tree->OnDeletion = [&](rtl::TObject*, TTreeNode* node) {
    if (TSubItems* sub = TTreeList::SubItemsOf(node)) seen.push_back(sub->Node()->Text());
  };
  f.fits->Delete();
  EXPECT_EQ(seen, std::vector<std::string>{"short"});
  f.tree->OnDeletion = nullptr;  // seen goes before the tree
  f.tree->AddChildNode(f.tree->Items(), f.root, "later");
}

TEST(TreeList, SortValuesOrderSiblingsWhenSortingByData) {
  TreeFixture f;
  f.tree->OnCompare = [](rtl::TObject*, TTreeNode* a, TTreeNode* b, int, int& result) {
    result = TTreeList::SortValueOf(a) - TTreeList::SortValueOf(b);
  };
  f.tree->SetSortType(stData);
  TTreeNode* parent = f.tree->AddNode(f.tree->Items(), f.root, "days");
  for (int v : {3, 1, 2})
    f.tree->AddChildNode(f.tree->Items(), parent, "d" + std::to_string(v), v);
  auto order = [&] {
    std::vector<std::string> texts;
    for (int i = 0; i < parent->Count(); ++i)
      texts.push_back(parent->Item(i)->Text());
    return texts;
  };
  EXPECT_EQ(order(), (std::vector<std::string>{"d1", "d2", "d3"}));
  TTreeList::SubItemsOf(parent->Item(0))->SetSortValue(9);
  EXPECT_EQ(order(), (std::vector<std::string>{"d2", "d3", "d1"}));
  f.tree->Items()->AddChild(parent, "plain");  // no holder: sorts as 0
  TTreeList::SubItemsOf(parent->Item(0))->SetSortValue(5);
  EXPECT_EQ(order(), (std::vector<std::string>{"plain", "d3", "d2", "d1"}));
}

TEST(TreeList, SubItemsAssignCopiesStringsAndSortValue) {
  TreeFixture f;
  TSubItems* a = TTreeList::SubItemsOf(f.cut);
  TSubItems* b = TTreeList::SubItemsOf(f.fits);
  a->Add("x");
  a->Add("y");
  a->SetSortValue(7);
  b->Assign(*a);
  EXPECT_EQ(b->Count(), 2);
  EXPECT_EQ(b->SortValue(), 7);
  EXPECT_EQ(b->Node(), f.fits);
  rtl::TStringList plain;
  plain.Add("z");
  b->Assign(plain);
  EXPECT_EQ(b->Count(), 1);
  EXPECT_EQ(b->SortValue(), 7);
}

TEST(TreeList, HeaderControlGivesColumnsAndIsForgottenWhenFreed) {
  TreeFixture f;
  EXPECT_EQ(f.tree->ColumnLimit(), f.tree->ClientWidth());
  auto* header = new THeaderControl(f.form);
  header->SetParent(f.form);
  for (int w : {60, 30, 30})
    header->Sections()->Add()->SetWidth(w);
  f.tree->SetHeaderControl(header);
  EXPECT_EQ(f.tree->ColumnLimit(), 60);

  TSubItems* sub = TTreeList::SubItemsOf(f.root);
  sub->Add("c1");
  sub->Add("c2");
  TTreeList::SubItemsOf(f.cut)->Add("o1");  // fewer texts than columns
  f.tree->Items()->AddChild(f.root, "plain");
  std::vector<int> skipped;
  f.tree->OnCustomDrawSubItem = [&](rtl::TObject*, TCanvas*, TTreeNode* node, int index,
                                    TCustomDrawState, const TRect& r, bool& defaultDraw) {
    if (node == f.fits) {
      defaultDraw = false;
      skipped.push_back(index);
    }
  };
  TTreeList::SubItemsOf(f.fits)->Add("h1");
  auto painted = uitest::Paint(f.form);
  auto texts = painted->Texts(f.tree);
  auto has = [&](const std::string& t) {
    return std::find(texts.begin(), texts.end(), t) != texts.end();
  };
  EXPECT_TRUE(has("c1"));
  EXPECT_TRUE(has("c2"));
  EXPECT_TRUE(has("o1"));
  EXPECT_FALSE(has("h1"));
  EXPECT_EQ(skipped, std::vector<int>{0});
  // The cut label ends in an ellipsis before the first column.
  EXPECT_TRUE(std::any_of(texts.begin(), texts.end(), [](const std::string& t) {
    return t.size() > 3 && t.compare(t.size() - 3, 3, "...") == 0;
  }));

  delete header;
  EXPECT_EQ(f.tree->HeaderControl(), nullptr);
  EXPECT_EQ(f.tree->ColumnLimit(), f.tree->ClientWidth());
  uitest::Paint(f.form);
}

TEST(TreeList, TooltipShowsACutLabelUntilItsTimerFires) {
  TreeFixture f;
  f.MoveOverLabel(f.fits);
  EXPECT_FALSE(f.tree->Tooltip()->Active());

  f.MoveOverLabel(f.cut);
  ASSERT_TRUE(f.tree->Tooltip()->Active());
  EXPECT_EQ(f.tree->TooltipNode(), f.cut);
  EXPECT_EQ(f.tree->Tooltip()->Caption(), "a-very-long-host-name-here");
  const TRect label = f.cut->DisplayRect(true);
  const TPoint at = f.tree->ClientToScreen(TPoint{label.Left, label.Top});
  // The label is 16 high and the text 12: the tooltip moves down by (16 - 12) / 2 - 1.
  EXPECT_EQ(f.tree->Tooltip()->BoundsRect(),
            (TRect{at.X, at.Y + 1, at.X + 26 * uitest::kCharWidth + 5, at.Y + 13}));
  EXPECT_TRUE(f.tree->TooltipTimer()->Enabled());
  EXPECT_EQ(f.tree->TooltipTimer()->Interval(), TTreeList::kTooltipMs);

  uitest::FireTimer(*f.tree->TooltipTimer());
  EXPECT_FALSE(f.tree->Tooltip()->Active());
  EXPECT_FALSE(f.tree->TooltipTimer()->Enabled());
  f.MoveOverLabel(f.cut);  // still the same node: it stays hidden
  EXPECT_FALSE(f.tree->Tooltip()->Active());

  f.MoveOverLabel(f.fits);  // leaving for a label that fits forgets the node
  EXPECT_EQ(f.tree->TooltipNode(), nullptr);
  f.MoveOverLabel(f.cut);
  EXPECT_TRUE(f.tree->Tooltip()->Active());

  // Deleting the node forgets it and hides its tooltip.
  f.cut->Delete();
  EXPECT_EQ(f.tree->TooltipNode(), nullptr);
  EXPECT_FALSE(f.tree->Tooltip()->Active());
}

// Scrolled to its end the widest label ends 5 pixels before the edge: it is no longer cut and
// has no tooltip. The label, its cut and its tooltip move with the offset.
TEST(TreeList, AHorizontalScrollShiftsTheLabelsCutAndTooltip) {
  TreeFixture f;
  TControlScrollBars* bars = f.tree->ControlScrollBars();
  ASSERT_TRUE(bars->Showing(sbHorizontal));
  EXPECT_FALSE(bars->Showing(sbVertical));
  const auto drawnCut = [&] {
    const std::vector<std::string> texts = uitest::Paint(f.form)->Texts(f.tree);
    return std::count_if(texts.begin(), texts.end(),
                         [](const std::string& t) { return t.ends_with("..."); });
  };
  EXPECT_EQ(drawnCut(), 1);

  uitest::ClickScrollBar(f.tree, sbHorizontal, spLineForward);
  const TRect label = f.cut->DisplayRect(true);
  EXPECT_EQ(label.Left, 2 * 19 - f.tree->Indent());
  uitest::Move(f.tree, label.Left + 3, label.Top + 3);
  ASSERT_TRUE(f.tree->Tooltip()->Active());
  const TPoint at = f.tree->ClientToScreen(label.TopLeft());
  EXPECT_EQ(f.tree->Tooltip()->BoundsRect().TopLeft(), Point(at.X, at.Y + 1));

  uitest::DragThumb(f.tree, sbHorizontal, 500);
  const TRect end = f.cut->DisplayRect(true);
  EXPECT_EQ(end.Right, f.tree->ClientWidth() - 5);
  EXPECT_EQ(drawnCut(), 0);
  uitest::Move(f.tree, end.Right - 3, end.Top + 3);
  EXPECT_FALSE(f.tree->Tooltip()->Active());
  EXPECT_EQ(f.tree->GetNodeAt(end.Right - 3, end.Top + 3), f.cut);
}

}  // namespace
