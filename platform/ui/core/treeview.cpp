#include "platform/ui/core/treeview.h"

#include <algorithm>

#include "platform/ui/core/drawtext.h"

namespace {

// Space around a label's text, and between an icon and the label.
constexpr int kLabelPadding = 2;
// The plus/minus box of a node with children.
constexpr int kButtonSize = 9;

int CompareTextFolded(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

}  // namespace

// ---- TTreeNode ----

TTreeNode::~TTreeNode() = default;

void TTreeNode::SetText(const std::string& value) {
  if (value == text_) return;
  text_ = value;
  if (TCustomTreeView* v = TreeView()) v->ContentChanged();
}

int TTreeNode::Index() const {
  auto& list = owner_->SiblingsOf(parent_);
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i].get() == this) return static_cast<int>(i);
  return -1;
}

int TTreeNode::Level() const {
  int n = 0;
  for (TTreeNode* p = parent_; p; p = p->parent_)
    ++n;
  return n;
}

TTreeNode* TTreeNode::GetNextSibling() const {
  auto& list = owner_->SiblingsOf(parent_);
  int i = Index();
  return i + 1 < static_cast<int>(list.size()) ? list[i + 1].get() : nullptr;
}

TTreeNode* TTreeNode::GetPrevSibling() const {
  auto& list = owner_->SiblingsOf(parent_);
  int i = Index();
  return i > 0 ? list[i - 1].get() : nullptr;
}

TTreeNode* TTreeNode::GetNext() const {
  if (!children_.empty()) return children_[0].get();
  for (const TTreeNode* n = this; n; n = n->parent_)
    if (TTreeNode* s = n->GetNextSibling()) return s;
  return nullptr;
}

void TTreeNode::SetExpanded(bool value) {
  if (value == expanded_) return;
  TCustomTreeView* v = TreeView();
  if (value ? !v->CanExpand(this) : !v->CanCollapse(this)) return;
  expanded_ = value;
  // A collapsed branch gives the selection to the node that closed over it.
  if (!value && v->selected_ && v->selected_ != this) {
    for (TTreeNode* p = v->selected_->parent_; p; p = p->parent_)
      if (p == this) {
        v->SetSelected(this);
        break;
      }
  }
  v->ContentChanged();
  if (value) {
    v->Expand(this);
  } else {
    v->Collapse(this);
  }
}

void TTreeNode::Expand(bool recurse) {
  SetExpanded(true);
  if (recurse)
    for (auto& c : children_)
      c->Expand(true);
}

void TTreeNode::Collapse(bool recurse) {
  if (recurse)
    for (auto& c : children_)
      c->Collapse(true);
  SetExpanded(false);
}

bool TTreeNode::IsVisible() const {
  for (TTreeNode* p = parent_; p; p = p->parent_)
    if (!p->expanded_) return false;
  return true;
}

void TTreeNode::MakeVisible() {
  for (TTreeNode* p = parent_; p; p = p->parent_)
    p->Expand(false);
  TreeView()->ScrollTo(this);
}

bool TTreeNode::Selected() const {
  return TreeView()->selected_ == this;
}

bool TTreeNode::Focused() const {
  return Selected() && TreeView()->Focused();
}

bool TTreeNode::DropTarget() const {
  return TreeView()->dropTarget_ == this;
}

void TTreeNode::Delete() {
  owner_->Delete(this);
}

TCustomTreeView* TTreeNode::TreeView() const {
  return owner_->view_;
}

TRect TTreeNode::DisplayRect(bool textOnly) const {
  TCustomTreeView* v = TreeView();
  int row = v->RowOf(this);
  if (row < 0 || row < v->top_) return TRect{};
  int h = v->ItemHeight();
  int y = (row - v->top_) * h;
  if (y >= v->ClientHeight()) return TRect{};
  if (!textOnly) return TRect{0, y, v->ClientWidth(), y + h};
  TCanvas measure;
  measure.SetFont(*v->Font());
  int left = v->ItemLeft(this) + v->IconWidth();
  return TRect{left, y, left + measure.TextWidth(text_) + 2 * kLabelPadding, y + h};
}

// ---- TTreeNodes ----

TTreeNodes::~TTreeNodes() {
  clearing_ = true;
  roots_.clear();
}

TTreeNode* TTreeNodes::InsertNode(TTreeNode* parent, int index, const std::string& text,
                                  void* data) {
  auto node = view_->CreateNode();
  node->owner_ = this;
  node->parent_ = parent;
  node->text_ = text;
  node->Data = data;
  auto& list = SiblingsOf(parent);
  if (view_->sortType_ == stText || view_->sortType_ == stBoth) {
    // Its sorted place, after the nodes that compare equal.
    TTreeNode* raw = node.get();
    index = 0;
    while (index < static_cast<int>(list.size()) &&
           view_->CompareNodes(list[index].get(), raw) <= 0)
      ++index;
  }
  index = std::clamp(index, 0, static_cast<int>(list.size()));
  TTreeNode* raw = node.get();
  list.insert(list.begin() + index, std::move(node));
  view_->ContentChanged();
  return raw;
}

TTreeNode* TTreeNodes::Add(TTreeNode* sibling, const std::string& text) {
  return AddObject(sibling, text, nullptr);
}

TTreeNode* TTreeNodes::AddObject(TTreeNode* sibling, const std::string& text, void* data) {
  TTreeNode* parent = sibling ? sibling->parent_ : nullptr;
  return InsertNode(parent, static_cast<int>(SiblingsOf(parent).size()), text, data);
}

TTreeNode* TTreeNodes::AddFirst(TTreeNode* sibling, const std::string& text) {
  return InsertNode(sibling ? sibling->parent_ : nullptr, 0, text, nullptr);
}

TTreeNode* TTreeNodes::AddChild(TTreeNode* parent, const std::string& text) {
  return AddChildObject(parent, text, nullptr);
}

TTreeNode* TTreeNodes::AddChildObject(TTreeNode* parent, const std::string& text, void* data) {
  return InsertNode(parent, static_cast<int>(SiblingsOf(parent).size()), text, data);
}

TTreeNode* TTreeNodes::AddChildFirst(TTreeNode* parent, const std::string& text) {
  return InsertNode(parent, 0, text, nullptr);
}

TTreeNode* TTreeNodes::Insert(TTreeNode* sibling, const std::string& text) {
  if (!sibling) return Add(nullptr, text);
  return InsertNode(sibling->parent_, sibling->Index(), text, nullptr);
}

void TTreeNodes::Delete(TTreeNode* node) {
  if (!node) return;
  // Children first, newest last: each goes through this same path.
  while (!node->children_.empty())
    Delete(node->children_.back().get());
  if (!clearing_) {
    TTreeNode* next = nullptr;
    if (view_->selected_ == node) {
      next = node->GetNextSibling();
      if (!next) next = node->GetPrevSibling();
      if (!next) next = node->parent_;
    }
    view_->Delete(node);
    view_->NodeGone(node);
    auto& list = SiblingsOf(node->parent_);
    int i = node->Index();
    auto owned = std::move(list[i]);
    list.erase(list.begin() + i);
    if (view_->selected_ == node) {
      view_->selected_ = nullptr;
      if (next) view_->SetSelected(next);
    }
    view_->ContentChanged();
    return;
  }
  view_->Delete(node);
  view_->NodeGone(node);
  auto& list = SiblingsOf(node->parent_);
  list.erase(list.begin() + node->Index());
}

void TTreeNodes::Clear() {
  clearing_ = true;
  try {
    while (!roots_.empty())
      Delete(roots_.back().get());
  } catch (...) {
    clearing_ = false;
    throw;
  }
  clearing_ = false;
  view_->selected_ = nullptr;
  view_->top_ = 0;
  view_->left_ = 0;
  view_->ContentChanged();
}

int TTreeNodes::Count() const {
  int n = 0;
  for (TTreeNode* node = GetFirstNode(); node; node = node->GetNext())
    ++n;
  return n;
}

TTreeNode* TTreeNodes::Item(int index) const {
  TTreeNode* node = GetFirstNode();
  while (node && index-- > 0)
    node = node->GetNext();
  return node;
}

void TTreeNodes::EndUpdate() {
  if (updating_ > 0 && --updating_ == 0) view_->ContentChanged();
}

void TTreeNodes::Sort(std::vector<std::unique_ptr<TTreeNode>>& list, bool recurse) {
  std::stable_sort(list.begin(), list.end(), [this](const auto& a, const auto& b) {
    return view_->CompareNodes(a.get(), b.get()) < 0;
  });
  if (recurse)
    for (auto& n : list)
      Sort(n->children_, true);
}

// ---- TCustomTreeView ----

TCustomTreeView::TCustomTreeView(rtl::TComponent* owner) : TCustomControl(owner), items_(this) {
  SetTakesFocus(true);
  SetTabStop(true);
  SetColor(clWindow);
  scrollBars_.Style = ssBoth;
  scrollBars_.OnRange = [this](TScrollBarKind kind) { return ScrollRangeOf(kind); };
  scrollBars_.OnScroll = [this](TScrollBarKind kind, int position) {
    if (kind == sbVertical) {
      top_ = position;
      ClampTop();
    } else {
      SetScrollOffset(position);
    }
    Invalidate();
  };
  SetControlScrollBars(&scrollBars_);
  SetBounds(0, 0, 121, 97);
}

TCustomTreeView::~TCustomTreeView() {
  items_.Clear();
}

void TCustomTreeView::SetIndent(int value) {
  indent_ = std::max(0, value);
  ContentChanged();
}

void TCustomTreeView::SetImages(TCustomImageList* value) {
  if (images_) RemoveFreeNotification(images_);
  images_ = value;
  if (images_) FreeNotification(images_);
  ContentChanged();
}

void TCustomTreeView::Notification(rtl::TComponent* component, rtl::TOperation operation) {
  TCustomControl::Notification(component, operation);
  if (operation == rtl::TOperation::opRemove && component == images_) images_ = nullptr;
}

void TCustomTreeView::SetSortType(TSortType value) {
  sortType_ = value;
  if (value == stText || value == stBoth) AlphaSort();
}

void TCustomTreeView::AlphaSort() {
  items_.Sort(items_.roots_, true);
  Invalidate();
}

int TCustomTreeView::CompareNodes(TTreeNode* n1, TTreeNode* n2) {
  if (OnCompare) {
    int result = 0;
    OnCompare(this, n1, n2, 0, result);
    return result;
  }
  return CompareTextFolded(n1->Text(), n2->Text());
}

std::unique_ptr<TTreeNode> TCustomTreeView::CreateNode() {
  return std::make_unique<TTreeNode>(&items_);
}

bool TCustomTreeView::CanChange(TTreeNode* Node) {
  bool allow = true;
  if (OnChanging && CanFire()) OnChanging(this, Node, allow);
  return allow;
}

void TCustomTreeView::Change(TTreeNode* Node) {
  if (OnChange && CanFire()) OnChange(this, Node);
}

bool TCustomTreeView::CanExpand(TTreeNode* Node) {
  bool allow = true;
  if (OnExpanding) OnExpanding(this, Node, allow);
  return allow;
}

bool TCustomTreeView::CanCollapse(TTreeNode* Node) {
  bool allow = true;
  if (OnCollapsing) OnCollapsing(this, Node, allow);
  return allow;
}

void TCustomTreeView::Expand(TTreeNode* Node) {
  if (OnExpanded) OnExpanded(this, Node);
}

void TCustomTreeView::Collapse(TTreeNode* Node) {
  if (OnCollapsed) OnCollapsed(this, Node);
}

void TCustomTreeView::Delete(TTreeNode* Node) {
  if (OnDeletion && CanFire()) OnDeletion(this, Node);
}

void TCustomTreeView::NodeGone(TTreeNode* node) {
  if (dropTarget_ == node) dropTarget_ = nullptr;
  if (hot_ == node) hot_ = nullptr;
  if (toolTip_ == node) toolTip_ = nullptr;
}

void TCustomTreeView::SetSelected(TTreeNode* node) {
  if (node == selected_) return;
  if (!CanChange(node)) return;
  selected_ = node;
  if (node) node->MakeVisible();
  Invalidate();
  Change(node);
}

void TCustomTreeView::SetDropTarget(TTreeNode* node) {
  if (node == dropTarget_) return;
  dropTarget_ = node;
  Invalidate();
}

std::vector<TTreeNode*> TCustomTreeView::Rows() const {
  std::vector<TTreeNode*> rows;
  std::function<void(const std::vector<std::unique_ptr<TTreeNode>>&)> walk =
      [&](const std::vector<std::unique_ptr<TTreeNode>>& list) {
        for (auto& n : list) {
          rows.push_back(n.get());
          if (n->expanded_) walk(n->children_);
        }
      };
  walk(items_.roots_);
  return rows;
}

int TCustomTreeView::RowOf(const TTreeNode* node) const {
  if (!node->IsVisible()) return -1;
  std::vector<TTreeNode*> rows = Rows();
  auto it = std::find(rows.begin(), rows.end(), node);
  return it == rows.end() ? -1 : static_cast<int>(it - rows.begin());
}

int TCustomTreeView::ItemHeight() const {
  TCanvas measure;
  measure.SetFont(*Font());
  int h = measure.TextHeight("Wg") + 2 * kLabelPadding;
  if (images_) h = std::max(h, images_->Height + 1);
  return h;
}

int TCustomTreeView::VisibleCount() const {
  int h = ItemHeight();
  return h > 0 ? ClientHeight() / h : 0;
}

int TCustomTreeView::IconWidth() const {
  return images_ ? images_->Width + kLabelPadding : 0;
}

int TCustomTreeView::ItemLeft(const TTreeNode* node) const {
  return (node->Level() + (ShowRoot ? 1 : 0)) * indent_ - left_;
}

int TCustomTreeView::ContentWidth() const {
  TCanvas measure;
  measure.SetFont(*Font());
  int widest = 0;
  for (const TTreeNode* node : Rows())
    widest = std::max(widest, ItemLeft(node) + left_ + IconWidth() +
                                  measure.TextWidth(node->Text()) + 2 * kLabelPadding);
  return widest;
}

void TCustomTreeView::ContentChanged() {
  if (items_.updating_ > 0) return;
  if (!Destroying() && DecideScrollBars()) ClientAreaChanged();
  ClampTop();
  Invalidate();
}

bool TCustomTreeView::DecideScrollBars() {
  const int rows = static_cast<int>(Rows().size());
  const int h = ItemHeight();
  const int width = ContentWidth();
  return scrollBars_.Decide([&](TScrollBarKind kind, int w, int hh) {
    return kind == sbVertical ? rows * h <= hh : width <= w;
  });
}

TScrollRange TCustomTreeView::ScrollRangeOf(TScrollBarKind kind) const {
  if (kind == sbVertical) {
    const int visible = std::max(1, VisibleCount());
    return TScrollRange{static_cast<int>(Rows().size()) - visible, visible, top_, 1};
  }
  return TScrollRange{ContentWidth() - ClientWidth(), ClientWidth(), left_, std::max(1, indent_)};
}

void TCustomTreeView::SetScrollOffset(int value) {
  value = std::clamp(value, 0, std::max(0, ContentWidth() - ClientWidth()));
  if (value == left_) return;
  left_ = value;
  Invalidate();
}

void TCustomTreeView::Resize() {
  DecideScrollBars();  // a bar that comes or goes is part of this change of size
  ClampTop();
  TCustomControl::Resize();
}

void TCustomTreeView::FontChanged() {
  TCustomControl::FontChanged();
  ContentChanged();
}

TTreeNode* TCustomTreeView::TopItem() const {
  std::vector<TTreeNode*> rows = Rows();
  return top_ < static_cast<int>(rows.size()) ? rows[top_] : nullptr;
}

void TCustomTreeView::SetTopItem(TTreeNode* node) {
  int row = node ? RowOf(node) : -1;
  if (row < 0) return;
  top_ = row;
  ClampTop();
  Invalidate();
}

void TCustomTreeView::ClampTop() {
  int rows = static_cast<int>(Rows().size());
  top_ = std::clamp(top_, 0, std::max(0, rows - std::max(1, VisibleCount())));
  left_ = std::clamp(left_, 0, std::max(0, ContentWidth() - ClientWidth()));
}

void TCustomTreeView::ScrollTo(TTreeNode* node) {
  int row = RowOf(node);
  if (row < 0) return;
  int visible = std::max(1, VisibleCount());
  if (row < top_) top_ = row;
  if (row >= top_ + visible) top_ = row - visible + 1;
  ClampTop();
  Invalidate();
}

THitTests TCustomTreeView::GetHitTestInfoAt(int x, int y) const {
  THitTests hit;
  if (y < 0) hit.Include(htAbove);
  if (y >= ClientHeight()) hit.Include(htBelow);
  if (x < 0) hit.Include(htToLeft);
  if (x >= ClientWidth()) hit.Include(htToRight);
  if (!hit.Empty()) return hit;
  std::vector<TTreeNode*> rows = Rows();
  int row = top_ + y / ItemHeight();
  if (row >= static_cast<int>(rows.size())) return THitTests{htNowhere};
  TTreeNode* node = rows[row];
  int left = ItemLeft(node);
  TRect label = node->DisplayRect(true);
  if (x < left - indent_) {
    hit.Include(htOnIndent);
  } else if (x < left) {
    hit.Include(node->HasChildren() && ShowButtons ? htOnButton : htOnIndent);
  } else if (x < left + IconWidth()) {
    hit.Include(htOnIcon);
    hit.Include(htOnItem);
  } else if (x < label.Right) {
    hit.Include(htOnLabel);
    hit.Include(htOnItem);
  } else {
    hit.Include(htOnRight);
  }
  return hit;
}

TTreeNode* TCustomTreeView::GetNodeAt(int x, int y) const {
  THitTests hit = GetHitTestInfoAt(x, y);
  if (hit.Contains(htAbove) || hit.Contains(htBelow) || hit.Contains(htNowhere) ||
      hit.Contains(htToLeft) || hit.Contains(htToRight))
    return nullptr;
  if (!hit.Contains(htOnItem) && !RowSelect) return nullptr;
  std::vector<TTreeNode*> rows = Rows();
  return rows[top_ + y / ItemHeight()];
}

// ---- painting ----

bool TCustomTreeView::CustomDrawItem(TTreeNode* Node, TCustomDrawState State,
                                     TCustomDrawStage Stage, bool& PaintImages) {
  bool defaultDraw = true;
  if (OnAdvancedCustomDrawItem && CanFire())
    OnAdvancedCustomDrawItem(this, Node, State, Stage, PaintImages, defaultDraw);
  return defaultDraw;
}

void TCustomTreeView::Paint() {
  TCanvas* c = Canvas();
  c->Brush()->SetStyle(bsSolid);
  c->Brush()->SetColor(Color());
  c->FillRect(ClientRect());
  std::vector<TTreeNode*> rows = Rows();
  const int h = ItemHeight();
  const bool focused = Focused();
  for (int i = top_; i < static_cast<int>(rows.size()); ++i) {
    int y = (i - top_) * h;
    if (y >= ClientHeight()) break;
    TTreeNode* node = rows[i];
    TCustomDrawState state;
    bool showSelected = node == selected_ && (focused || !HideSelection) && !dropTarget_;
    if (showSelected || node == dropTarget_) state.Include(cdsSelected);
    if (node == dropTarget_) state.Include(cdsMarked);
    if (node == selected_ && focused) state.Include(cdsFocused);
    if (HotTrack && node == hot_) state.Include(cdsHot);
    c->SetFont(*Font());
    c->Brush()->SetStyle(bsSolid);
    c->Brush()->SetColor(Color());
    if (state.Contains(cdsSelected)) {
      c->Brush()->SetColor(focused || node == dropTarget_ ? clHighlight : clBtnFace);
      c->Font()->SetColor(focused || node == dropTarget_ ? clHighlightText : Font()->Color());
    } else if (state.Contains(cdsHot)) {
      c->Font()->SetColor(clHighlight);
      TFontStyles st = c->Font()->Style();
      st.Include(fsUnderline);
      c->Font()->SetStyle(st);
    }
    bool paintImages = true;
    if (CustomDrawItem(node, state, cdPrePaint, paintImages)) {
      int left = ItemLeft(node);
      // The button of a node with children.
      if (ShowButtons && node->HasChildren() && (ShowRoot || node->Level() > 0)) {
        TCanvas& cv = *c;
        TColor brush = cv.Brush()->Color();
        TRect box = Bounds(left - indent_ + (indent_ - kButtonSize) / 2, y + (h - kButtonSize) / 2,
                           kButtonSize, kButtonSize);
        TRect frame = box;
        Frame3D(cv, frame, clGray, clGray, 1);
        cv.Pen()->SetColor(clWindowText);
        int mid = box.Top + kButtonSize / 2;
        cv.MoveTo(box.Left + 2, mid);
        cv.LineTo(box.Right - 2, mid);
        if (!node->expanded_) {
          int cx = box.Left + kButtonSize / 2;
          cv.MoveTo(cx, box.Top + 2);
          cv.LineTo(cx, box.Bottom - 2);
        }
        cv.Brush()->SetColor(brush);
      }
      if (paintImages && images_) {
        int index =
            node == selected_ && node->SelectedIndex >= 0 ? node->SelectedIndex : node->ImageIndex;
        images_->Draw(c, left, y + (h - images_->Height) / 2, index);
      }
      TRect label = node->DisplayRect(true);
      if (RowSelect && state.Contains(cdsSelected)) label = TRect{0, y, ClientWidth(), y + h};
      if (state.Contains(cdsSelected)) c->FillRect(label);
      c->Brush()->SetStyle(bsClear);
      TRect text = node->DisplayRect(true).Inflate(-kLabelPadding, 0);
      DrawText(c, node->Text(), text, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_NOCLIP);
      if (state.Contains(cdsFocused)) c->DrawFocusRect(label);
    }
    CustomDrawItem(node, state, cdPostPaint, paintImages);
  }
}

// ---- input ----

void TCustomTreeView::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TCustomControl::MouseDown(Button, Shift, X, Y);
  if (Shift.Contains(ssDouble)) return;
  THitTests hit = GetHitTestInfoAt(X, Y);
  if (Button == mbLeft && hit.Contains(htOnButton)) {
    std::vector<TTreeNode*> rows = Rows();
    TTreeNode* node = rows[top_ + Y / ItemHeight()];
    node->SetExpanded(!node->Expanded());
    return;
  }
  if (TTreeNode* node = GetNodeAt(X, Y)) SetSelected(node);
}

void TCustomTreeView::MouseMove(TShiftState Shift, int X, int Y) {
  TCustomControl::MouseMove(Shift, X, Y);
  TTreeNode* node = GetNodeAt(X, Y);
  if (HotTrack && node != hot_) {
    hot_ = node;
    Invalidate();
  }
  // A label cut off at the right edge shows whole in the tooltip.
  TTreeNode* tip = nullptr;
  if (ToolTips && node && node->DisplayRect(true).Right > ClientWidth()) tip = node;
  toolTip_ = tip;
}

void TCustomTreeView::MouseLeave() {
  if (hot_) Invalidate();
  hot_ = nullptr;
  toolTip_ = nullptr;
}

void TCustomTreeView::DblClick() {
  TCustomControl::DblClick();
  if (selected_ && selected_->HasChildren()) selected_->SetExpanded(!selected_->Expanded());
}

bool TCustomTreeView::DoMouseWheel(TShiftState, int WheelDelta, TPoint) {
  top_ -= WheelDelta / 120 * 3;
  ClampTop();
  Invalidate();
  return true;
}

void TCustomTreeView::KeyDown(WORD& Key, TShiftState Shift) {
  std::vector<TTreeNode*> rows = Rows();
  if (rows.empty()) return;
  int row = selected_ ? RowOf(selected_) : -1;
  int last = static_cast<int>(rows.size()) - 1;
  int page = std::max(1, VisibleCount() - 1);
  auto go = [&](int r) { SetSelected(rows[std::clamp(r, 0, last)]); };
  switch (Key) {
    case VK_UP:
      go(row - 1);
      break;
    case VK_DOWN:
      go(row + 1);
      break;
    case VK_PRIOR:
      go(row - page);
      break;
    case VK_NEXT:
      go(row + page);
      break;
    case VK_HOME:
      go(0);
      break;
    case VK_END:
      go(last);
      break;
    case VK_LEFT:
      if (!selected_) return;
      if (selected_->Expanded() && selected_->HasChildren()) {
        selected_->Collapse(false);
      } else if (selected_->Parent()) {
        SetSelected(selected_->Parent());
      }
      break;
    case VK_RIGHT:
      if (!selected_ || !selected_->HasChildren()) return;
      if (!selected_->Expanded()) {
        selected_->Expand(false);
      } else {
        SetSelected(selected_->GetFirstChild());
      }
      break;
    default:
      return;
  }
  Key = 0;
}

void TCustomTreeView::KeyPress(char& Key) {
  if (!selected_) return;
  if (Key == '+') selected_->Expand(false);
  if (Key == '-') selected_->Collapse(false);
}
