// TTreeList: a tree view that shows further texts of each node in the columns of a separate
// header control, cuts a node's label with an ellipsis where it would run into those columns, and
// shows a cut label whole in a tooltip while the mouse rests on it (hidden again after
// kTooltipMs). Labels, their cut and the tooltip move with the horizontal scroll. Every node added
// through AddNode or AddChildNode carries a TSubItems: its column texts and an integer sort value.
//
// Ownership: each node owns its TSubItems, which goes with the node on every path (Delete,
// Clear, the tree's end). The header control is borrowed; the tree forgets it when it is freed.
// The tooltip window and its timer belong to the tree. Threads: the GUI thread (control.h).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/msg/timer.h"
#include "platform/ui/core/comctrls.h"
#include "platform/ui/core/hintwindow.h"
#include "platform/ui/core/treeview.h"
#include "rtl/classes.h"

class TTreeList;

// The tree's node collection. The toolkit's tree view keeps a collection of its own class, so
// this is that class under the tree list's name.
using TNodesIF = TTreeNodes;

// A node's column texts (entry i shows in header section i + 1), its sort value and its node.
class TSubItems : public rtl::TStringList {
 public:
  explicit TSubItems(TTreeNode* node) : node_(node) {}

  TTreeNode* Node() const { return node_; }
  int SortValue() const { return sortValue_; }
  // Stores value; when the tree sorts by data (stData or stBoth) and has OnCompare, sorts the
  // node's siblings again.
  void SetSortValue(int value);

  // The strings of source, and from another TSubItems its sort value too.
  void Assign(const rtl::TStringList& source);

 private:
  TTreeNode* node_;
  int sortValue_ = 0;
};

// The window that shows a cut label: its text one pixel in from the left, broken at words.
class TTooltip : public THintWindow {
 public:
  using THintWindow::THintWindow;

 protected:
  void Paint() override;
};

using TTLCustomDrawSubItemEvent =
    std::function<void(rtl::TObject* Sender, TCanvas* Canvas, TTreeNode* Node, int SubItem,
                       TCustomDrawState State, const TRect& Rect, bool& DefaultDraw)>;

class TTreeList : public TCustomTreeView {
 public:
  // A shown tooltip hides after this long; the node stays remembered, so it shows again only
  // after the mouse has left that node.
  static constexpr UINT kTooltipMs = 5000;

  explicit TTreeList(rtl::TComponent* owner);
  ~TTreeList() override;

  // A node after sibling's last sibling (top level for null), with a new TSubItems of sortValue.
  TTreeNode* AddNode(TNodesIF* nodes, TTreeNode* sibling, const std::string& text,
                     int sortValue = 0);
  // A last child of parent, with a new TSubItems of sortValue.
  TTreeNode* AddChildNode(TNodesIF* nodes, TTreeNode* parent, const std::string& text,
                          int sortValue = 0);

  // The node's TSubItems; null for a node added by the tree view's own operations.
  static TSubItems* SubItemsOf(const TTreeNode* node);
  // The node's sort value; 0 when it has no TSubItems.
  static int SortValueOf(const TTreeNode* node);

  THeaderControl* HeaderControl() const { return header_; }
  // Borrows header (null: no columns, the client width is the column limit) and repaints.
  void SetHeaderControl(THeaderControl* header);

  // Labels are cut at this x less 5: the first header section's width, or the client width.
  int ColumnLimit() const;

  // The tooltip: its window, the node it shows (null when none is remembered), its timer.
  TTooltip* Tooltip() const { return tooltip_; }
  TTreeNode* TooltipNode() const { return tipNode_; }
  TTimer* TooltipTimer() const { return timer_; }

  TTLCustomDrawSubItemEvent OnCustomDrawSubItem;

 protected:
  void Notification(rtl::TComponent* component, rtl::TOperation operation) override;
  bool CustomDrawItem(TTreeNode* Node, TCustomDrawState State, TCustomDrawStage Stage,
                      bool& PaintImages) override;
  void MouseMove(TShiftState Shift, int X, int Y) override;
  void MouseLeave() override;
  void Delete(TTreeNode* Node) override;
  std::unique_ptr<TTreeNode> CreateNode() override;
  // The widest label and the gap kept before the column limit: scrolled to its end, no label
  // is cut.
  int ContentWidth() const override;

 private:
  // Attaches a new TSubItems to node and sets its sort value.
  TTreeNode* Attach(TTreeNode* node, int sortValue);
  // The label's rectangle cut to the column limit, and the other extras of a painted row.
  void DrawExtras(TTreeNode* node, TCustomDrawState state);
  void ShowTooltip(TTreeNode* node);
  void HideTooltip();

  TTooltip* tooltip_;
  TTimer* timer_;
  TTreeNode* tipNode_ = nullptr;
  THeaderControl* header_ = nullptr;
};
