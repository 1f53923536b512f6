// Tree views: nodes in a tree (TTreeNode, owned by the view's TTreeNodes), one row per node whose
// ancestors are all expanded, selection with OnChanging/OnChange, expanding by button, double
// click and keys, sorting by text or by OnCompare, hit testing, and custom drawing in stages:
// for each row CustomDrawItem runs before (cdPrePaint, may skip the default drawing) and after
// (cdPostPaint) the row is drawn, with the row's state (selected, focused, hot, marked).
// Scroll bars show while the rows do not fit the height (a row a line) or the widest row does
// not fit the width (a pixel a step, an indent a line); the labels, buttons and hit tests move
// with the horizontal offset.
//
// Ownership: the node list owns every node; Delete and Clear free them, after OnDeletion (children
// before their parent). A node pointer is valid until its node is deleted. Data is the caller's
// and never freed here. Threads: the GUI thread only (control.h).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/core/comctrls.h"
#include "platform/ui/core/control.h"
#include "platform/ui/core/scrollbar.h"
#include "rtl/set.h"

class TCustomTreeView;
class TTreeNodes;

class TTreeNode : public rtl::TObject {
 public:
  explicit TTreeNode(TTreeNodes* owner) : owner_(owner) {}
  ~TTreeNode() override;

  const std::string& Text() const { return text_; }
  void SetText(const std::string& value);
  int ImageIndex = -1;
  int SelectedIndex = -1;
  void* Data = nullptr;

  TTreeNode* Parent() const { return parent_; }
  int Count() const { return static_cast<int>(children_.size()); }
  // REQUIRES: 0 <= index < Count().
  TTreeNode* Item(int index) const { return children_[index].get(); }
  bool HasChildren() const { return !children_.empty(); }
  // Position among its siblings; depth (0 for top-level nodes).
  int Index() const;
  int Level() const;
  TTreeNode* GetFirstChild() const { return children_.empty() ? nullptr : Item(0); }
  TTreeNode* GetLastChild() const { return children_.empty() ? nullptr : Item(Count() - 1); }
  TTreeNode* GetNextSibling() const;
  TTreeNode* GetPrevSibling() const;
  // The next node depth first (children before siblings), or null.
  TTreeNode* GetNext() const;

  bool Expanded() const { return expanded_; }
  // Asks OnExpanding / OnCollapsing, which may refuse; OnExpanded / OnCollapsed after.
  void SetExpanded(bool value);
  void Expand(bool recurse);
  void Collapse(bool recurse);
  // Every ancestor is expanded (the node has a row).
  bool IsVisible() const;
  // Expands the ancestors and scrolls the node into view.
  void MakeVisible();

  bool Selected() const;
  bool Focused() const;
  bool DropTarget() const;
  // Deletes the node and its children (see TTreeNodes::Delete).
  void Delete();
  // The row (textOnly false) or the label's rectangle in the view's client coordinates; empty
  // when the node has no row on screen.
  TRect DisplayRect(bool textOnly) const;
  TCustomTreeView* TreeView() const;
  TTreeNodes* Owner() const { return owner_; }

 private:
  friend class TTreeNodes;
  friend class TCustomTreeView;
  TTreeNodes* owner_;
  TTreeNode* parent_ = nullptr;
  std::vector<std::unique_ptr<TTreeNode>> children_;
  std::string text_;
  bool expanded_ = false;
};

class TTreeNodes {
 public:
  explicit TTreeNodes(TCustomTreeView* view) : view_(view) {}
  ~TTreeNodes();
  TTreeNodes(const TTreeNodes&) = delete;
  TTreeNodes& operator=(const TTreeNodes&) = delete;

  // A new last sibling of sibling (a top-level node when sibling is null). With the view's
  // SortType on text, the node goes to its sorted place instead.
  TTreeNode* Add(TTreeNode* sibling, const std::string& text);
  TTreeNode* AddObject(TTreeNode* sibling, const std::string& text, void* data);
  TTreeNode* AddFirst(TTreeNode* sibling, const std::string& text);
  // A new last child of parent (top-level when null).
  TTreeNode* AddChild(TTreeNode* parent, const std::string& text);
  TTreeNode* AddChildObject(TTreeNode* parent, const std::string& text, void* data);
  TTreeNode* AddChildFirst(TTreeNode* parent, const std::string& text);
  // A new node just before sibling (at the end of the top level when null).
  TTreeNode* Insert(TTreeNode* sibling, const std::string& text);

  // Fires OnDeletion for the node's children, then for it, and frees them. A selected node
  // passes the selection to its next sibling, else its previous sibling, else its parent
  // (OnChange fires).
  void Delete(TTreeNode* node);
  // Deletes every node; the selection becomes null without OnChange.
  void Clear();

  // All nodes, depth first.
  int Count() const;
  TTreeNode* Item(int index) const;
  TTreeNode* GetFirstNode() const { return roots_.empty() ? nullptr : roots_[0].get(); }
  int TopCount() const { return static_cast<int>(roots_.size()); }
  TTreeNode* TopItem(int index) const { return roots_[index].get(); }
  TCustomTreeView* Owner() const { return view_; }

  void BeginUpdate() { ++updating_; }
  void EndUpdate();

 private:
  friend class TTreeNode;
  friend class TCustomTreeView;
  TTreeNode* InsertNode(TTreeNode* parent, int index, const std::string& text, void* data);
  std::vector<std::unique_ptr<TTreeNode>>& SiblingsOf(TTreeNode* parent) {
    return parent ? parent->children_ : roots_;
  }
  void Sort(std::vector<std::unique_ptr<TTreeNode>>& list, bool recurse);

  TCustomTreeView* view_;
  std::vector<std::unique_ptr<TTreeNode>> roots_;
  int updating_ = 0;
  bool clearing_ = false;
};

enum TSortType { stNone, stData, stText, stBoth };
enum TCustomDrawStage { cdPrePaint, cdPostPaint, cdPreErase, cdPostErase };
enum TCustomDrawStateItem {
  cdsSelected,
  cdsGrayed,
  cdsDisabled,
  cdsChecked,
  cdsFocused,
  cdsDefault,
  cdsHot,
  cdsMarked,
  cdsIndeterminate
};
using TCustomDrawState = rtl::TSet<TCustomDrawStateItem>;
enum THitTest {
  htAbove,
  htBelow,
  htNowhere,
  htOnItem,
  htOnButton,
  htOnIcon,
  htOnIndent,
  htOnLabel,
  htOnRight,
  htOnStateIcon,
  htToLeft,
  htToRight
};
using THitTests = rtl::TSet<THitTest>;

using TTVChangedEvent = std::function<void(rtl::TObject* Sender, TTreeNode* Node)>;
using TTVChangingEvent =
    std::function<void(rtl::TObject* Sender, TTreeNode* Node, bool& AllowChange)>;
using TTVExpandingEvent =
    std::function<void(rtl::TObject* Sender, TTreeNode* Node, bool& AllowExpansion)>;
using TTVExpandedEvent = std::function<void(rtl::TObject* Sender, TTreeNode* Node)>;
using TTVCompareEvent = std::function<void(rtl::TObject* Sender, TTreeNode* Node1, TTreeNode* Node2,
                                           int Data, int& Compare)>;
using TTVAdvancedCustomDrawItemEvent =
    std::function<void(TCustomTreeView* Sender, TTreeNode* Node, TCustomDrawState State,
                       TCustomDrawStage Stage, bool& PaintImages, bool& DefaultDraw)>;

class TCustomTreeView : public TCustomControl {
 public:
  explicit TCustomTreeView(rtl::TComponent* owner);
  ~TCustomTreeView() override;

  TTreeNodes* Items() { return &items_; }
  TTreeNode* Selected() const { return selected_; }
  // CanChange (OnChanging) may refuse; then Change (OnChange). The node is made visible.
  void SetSelected(TTreeNode* node);
  // The client area is the bounds less the scroll bars that show.
  TRect NonClientInsets() const override { return scrollBars_.Insets(); }
  // How far the rows are scrolled to the left, in pixels.
  int ScrollOffset() const { return left_; }
  void SetScrollOffset(int value);
  // The first row shown.
  TTreeNode* TopItem() const;
  void SetTopItem(TTreeNode* node);
  TTreeNode* DropTarget() const { return dropTarget_; }
  void SetDropTarget(TTreeNode* node);
  // The node under the pointer while HotTrack is on, or null.
  TTreeNode* HotNode() const { return hot_; }
  // The node whose cut-off label the tooltip shows (ToolTips on), or null.
  TTreeNode* ToolTipNode() const { return toolTip_; }

  int Indent() const { return indent_; }
  void SetIndent(int value);
  bool ReadOnly = false;
  bool ToolTips = true;
  bool RowSelect = false;
  bool HotTrack = false;
  bool HideSelection = true;
  bool ShowButtons = true;
  bool ShowLines = true;
  bool ShowRoot = true;
  TCustomImageList* Images() const { return images_; }
  void SetImages(TCustomImageList* value);
  TSortType SortType() const { return sortType_; }
  // Setting text or both sorts the whole tree at once.
  void SetSortType(TSortType value);
  // Sorts every level by text (or OnCompare).
  void AlphaSort();

  // The height of every row.
  int ItemHeight() const;
  // Rows on screen that show whole.
  int VisibleCount() const;

  TTreeNode* GetNodeAt(int x, int y) const;
  THitTests GetHitTestInfoAt(int x, int y) const;

  TTVChangedEvent OnChange;
  TTVChangingEvent OnChanging;
  TTVExpandingEvent OnExpanding;
  TTVExpandingEvent OnCollapsing;
  TTVExpandedEvent OnExpanded;
  TTVExpandedEvent OnCollapsed;
  TTVExpandedEvent OnDeletion;
  TTVCompareEvent OnCompare;
  TTVAdvancedCustomDrawItemEvent OnAdvancedCustomDrawItem;

 protected:
  virtual bool CanChange(TTreeNode* Node);
  virtual void Change(TTreeNode* Node);
  virtual bool CanExpand(TTreeNode* Node);
  virtual bool CanCollapse(TTreeNode* Node);
  virtual void Expand(TTreeNode* Node);
  virtual void Collapse(TTreeNode* Node);
  // The node is about to be freed (OnDeletion).
  virtual void Delete(TTreeNode* Node);
  // Negative, 0 or positive as n1 sorts before, with or after n2: OnCompare when assigned, else
  // the texts with ASCII letters folded.
  virtual int CompareNodes(TTreeNode* n1, TTreeNode* n2);
  // One drawing stage of one row; false skips the default drawing (cdPrePaint). The default
  // fires OnAdvancedCustomDrawItem.
  virtual bool CustomDrawItem(TTreeNode* Node, TCustomDrawState State, TCustomDrawStage Stage,
                              bool& PaintImages);
  // Makes the nodes the list holds (a derived view may make its own kind).
  virtual std::unique_ptr<TTreeNode> CreateNode();
  // The width the rows need unscrolled: the right end of the widest label.
  virtual int ContentWidth() const;
  // The rows or their sizes changed: the scroll bars are decided again (not while the node list
  // is being updated) and the view is kept within its range.
  void ContentChanged();

  void Paint() override;
  void Resize() override;
  void FontChanged() override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseMove(TShiftState Shift, int X, int Y) override;
  void MouseLeave() override;
  void DblClick() override;
  void KeyDown(WORD& Key, TShiftState Shift) override;
  void KeyPress(char& Key) override;
  bool DoMouseWheel(TShiftState Shift, int WheelDelta, TPoint MousePos) override;
  void Notification(rtl::TComponent* component, rtl::TOperation operation) override;

 private:
  friend class TTreeNode;
  friend class TTreeNodes;
  // The nodes that have rows, in order.
  std::vector<TTreeNode*> Rows() const;
  int RowOf(const TTreeNode* node) const;
  // x of the node's icon (or label when there are no images).
  int ItemLeft(const TTreeNode* node) const;
  int IconWidth() const;
  void NodeGone(TTreeNode* node);
  void ScrollTo(TTreeNode* node);
  void ClampTop();
  bool DecideScrollBars();
  TScrollRange ScrollRangeOf(TScrollBarKind kind) const;

  TTreeNodes items_;
  TTreeNode* selected_ = nullptr;
  TTreeNode* dropTarget_ = nullptr;
  TTreeNode* hot_ = nullptr;
  TTreeNode* toolTip_ = nullptr;
  int top_ = 0;   // index of the first row shown
  int left_ = 0;  // the horizontal scroll, pixels
  int indent_ = 19;
  TCustomImageList* images_ = nullptr;
  TSortType sortType_ = stNone;
  TControlScrollBars scrollBars_{this};
};

class TTreeView : public TCustomTreeView {
 public:
  using TCustomTreeView::TCustomTreeView;
};
