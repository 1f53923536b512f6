#include "console/controls/treelist.h"

#include "platform/ui/core/drawtext.h"

namespace {

// Labels end this far before the column limit.
constexpr int kLabelGap = 5;
// A label is cut (and gets a tooltip) when its text needs this much less than the room left.
constexpr int kTooltipSlack = 6;
constexpr int kLabelTextInset = 2;
constexpr int kSubItemInset = 5;
// Column texts in sections narrower than this are clipped to them.
constexpr int kClipBelowWidth = 21;

constexpr UINT kSingleLine = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS;

// A node of a tree list: it owns its TSubItems, so the holder goes with the node whatever
// deletes it.
class TListNode : public TTreeNode {
 public:
  using TTreeNode::TTreeNode;
  std::unique_ptr<TSubItems> SubItems;
};

UINT AlignmentFormat(TAlignment alignment) {
  static constexpr UINT kFormats[] = {DT_LEFT, DT_RIGHT, DT_CENTER};
  return kFormats[alignment];
}

}  // namespace

// ---- TSubItems ----

void TSubItems::SetSortValue(int value) {
  sortValue_ = value;
  TCustomTreeView* view = node_->TreeView();
  if (!view || !view->OnCompare) return;
  if (view->SortType() != stData && view->SortType() != stBoth) return;
  // The toolkit sorts whole trees only: a child's siblings are sorted with the rest, which
  // leaves them in the same order as sorting that level alone.
  view->AlphaSort();
}

void TSubItems::Assign(const rtl::TStringList& source) {
  if (&source == this) return;
  rtl::TStringList::Assign(source);
  if (const auto* other = dynamic_cast<const TSubItems*>(&source)) sortValue_ = other->sortValue_;
}

// ---- TTooltip ----

void TTooltip::Paint() {
  TCanvas* c = Canvas();
  TRect r = ClientRect();
  c->Brush()->SetStyle(bsSolid);
  c->Brush()->SetColor(Color());
  c->FillRect(r);
  c->SetFont(*Font());
  r = r.Offset(1, 0);
  DrawText(c, Caption(), r, DT_WORDBREAK | DT_NOPREFIX);
}

// ---- TTreeList ----

TTreeList::TTreeList(rtl::TComponent* owner)
    : TCustomTreeView(owner), tooltip_(new TTooltip(this)), timer_(new TTimer(this)) {
  timer_->SetEnabled(false);
  timer_->SetInterval(kTooltipMs);
  timer_->OnTimer = [this](rtl::TObject*) { HideTooltip(); };
}

TTreeList::~TTreeList() {
  // The nodes first (with their holders), while the tooltip still exists to be hidden.
  Items()->Clear();
  DestroyComponents();
}

std::unique_ptr<TTreeNode> TTreeList::CreateNode() {
  return std::make_unique<TListNode>(Items());
}

TSubItems* TTreeList::SubItemsOf(const TTreeNode* node) {
  const auto* listNode = dynamic_cast<const TListNode*>(node);
  return listNode ? listNode->SubItems.get() : nullptr;
}

int TTreeList::SortValueOf(const TTreeNode* node) {
  const TSubItems* sub = SubItemsOf(node);
  return sub ? sub->SortValue() : 0;
}

TTreeNode* TTreeList::Attach(TTreeNode* node, int sortValue) {
  auto* listNode = static_cast<TListNode*>(node);
  listNode->SubItems = std::make_unique<TSubItems>(node);
  node->Data = listNode->SubItems.get();
  listNode->SubItems->SetSortValue(sortValue);
  return node;
}

TTreeNode* TTreeList::AddNode(TNodesIF* nodes, TTreeNode* sibling, const std::string& text,
                              int sortValue) {
  return Attach(nodes->Add(sibling, text), sortValue);
}

TTreeNode* TTreeList::AddChildNode(TNodesIF* nodes, TTreeNode* parent, const std::string& text,
                                   int sortValue) {
  return Attach(nodes->AddChild(parent, text), sortValue);
}

void TTreeList::SetHeaderControl(THeaderControl* header) {
  if (header == header_) return;
  if (header_) header_->RemoveFreeNotification(this);
  header_ = header;
  if (header_) header_->FreeNotification(this);
  Invalidate();
}

void TTreeList::Notification(rtl::TComponent* component, rtl::TOperation operation) {
  TCustomTreeView::Notification(component, operation);
  if (operation == rtl::TOperation::opRemove && component == header_) header_ = nullptr;
}

int TTreeList::ColumnLimit() const {
  if (header_ && header_->Sections()->Count() > 0) return header_->Sections()->Items(0)->Width();
  return ClientWidth();
}

int TTreeList::ContentWidth() const {
  return TCustomTreeView::ContentWidth() + kLabelGap;
}

void TTreeList::Delete(TTreeNode* Node) {
  if (Node == tipNode_) {
    HideTooltip();
    tipNode_ = nullptr;
  }
  TCustomTreeView::Delete(Node);
}

// ---- drawing ----

bool TTreeList::CustomDrawItem(TTreeNode* Node, TCustomDrawState State, TCustomDrawStage Stage,
                               bool& PaintImages) {
  if (Stage == cdPrePaint && State.Contains(cdsSelected)) {
    Canvas()->Font()->SetColor(clHighlightText);
    Canvas()->Brush()->SetColor(clHighlight);
  }
  if (Stage == cdPostPaint) DrawExtras(Node, State);
  return TCustomTreeView::CustomDrawItem(Node, State, Stage, PaintImages);
}

void TTreeList::DrawExtras(TTreeNode* node, TCustomDrawState state) {
  TCanvas* c = Canvas();
  const TRect whole = node->DisplayRect(true);
  const TRect row = node->DisplayRect(false);
  TRect label = whole;
  const bool cut = label.Right > ColumnLimit() - kLabelGap;
  if (cut) label.Right = ColumnLimit() - kLabelGap;
  const bool hot = state.Contains(cdsHot);
  const bool focused = Focused();
  const bool selected = (state.Contains(cdsSelected) && (!DropTarget() || DropTarget() == node)) ||
                        node == DropTarget();

  c->SetFont(*Font());
  c->Brush()->SetStyle(bsSolid);
  if (hot) {
    TFontStyles style = c->Font()->Style();
    style.Include(fsUnderline);
    c->Font()->SetStyle(style);
  }
  auto drawLabel = [&](TColor textColor) {
    c->Font()->SetColor(textColor);
    c->Brush()->SetStyle(bsClear);
    TRect r{label.Left + kLabelTextInset, label.Top, label.Right, label.Bottom};
    DrawText(c, node->Text(), r, kSingleLine);
    c->Brush()->SetStyle(bsSolid);
  };
  auto fill = [&](const TRect& r, TColor color) {
    c->Brush()->SetColor(color);
    c->FillRect(r);
  };
  const TRect rightOfLabel{label.Right, row.Top, row.Right, row.Bottom};

  TColor columnBack = Color(), columnText = Font()->Color();
  if (!selected) {
    if (RowSelect) fill(rightOfLabel, Color());
    if (cut) {
      fill(whole, Color());  // the uncut text must not run on into the columns
      if (focused && node == Selected() && !RowSelect) c->DrawFocusRect(label);
      drawLabel(hot ? clGrayText : Font()->Color());
    }
    if (hot && RowSelect) columnText = clGrayText;
  } else {
    const TColor back = focused ? clHighlight : clBtnFace;
    if (cut) {
      fill(whole, Color());
      fill(RowSelect ? TRect{label.Left, row.Top, row.Right, row.Bottom} : label, back);
      if (focused && node == Selected() && (!RowSelect || ShowLines)) c->DrawFocusRect(label);
      drawLabel(focused ? clHighlightText : clBtnText);
    } else if (RowSelect) {
      fill(rightOfLabel, back);
    }
    if (RowSelect) {
      columnBack = back;
      columnText = focused ? clHighlightText : clBtnText;
    }
  }

  // Column texts: nothing without a header control, or for a node without TSubItems.
  const TSubItems* sub = SubItemsOf(node);
  if (!header_ || !sub) return;
  THeaderSections* sections = header_->Sections();
  for (int i = 1; i < sections->Count() && i - 1 < sub->Count(); ++i) {
    const THeaderSection* section = sections->Items(i);
    TRect r{section->Left(), label.Top, section->Right(), label.Bottom};
    bool defaultDraw = true;
    if (OnCustomDrawSubItem && CanFire())
      OnCustomDrawSubItem(this, c, node, i - 1, state, r, defaultDraw);
    if (!defaultDraw) continue;
    c->SetFont(*Font());
    c->Font()->SetColor(columnText);
    fill(r, columnBack);
    c->Brush()->SetStyle(bsClear);
    r = r.Inflate(-kSubItemInset, 0);
    const UINT clip = section->Width() < kClipBelowWidth ? 0 : DT_NOCLIP;
    DrawText(c, sub->Strings(i - 1), r, kSingleLine | clip | AlignmentFormat(section->Alignment));
    c->Brush()->SetStyle(bsSolid);
  }
}

// ---- tooltip ----

void TTreeList::MouseMove(TShiftState Shift, int X, int Y) {
  TCustomTreeView::MouseMove(Shift, X, Y);
  if (!ToolTips) return;
  TTreeNode* node = GetNodeAt(X, Y);
  const THitTests hit = GetHitTestInfoAt(X, Y);
  if (node && !hit.Contains(htOnLabel) && !hit.Contains(htOnIcon)) node = nullptr;
  if (node) {
    TCanvas measure;
    measure.SetFont(*Font());
    const int room = ColumnLimit() - node->DisplayRect(true).Left - kTooltipSlack;
    if (measure.TextWidth(node->Text()) >= room) {
      if (node != tipNode_) ShowTooltip(node);
      return;
    }
  }
  // Off every cut label: the tooltip goes, and the node is forgotten so that it shows again
  // when the mouse comes back.
  HideTooltip();
  tipNode_ = nullptr;
}

void TTreeList::MouseLeave() {
  TCustomTreeView::MouseLeave();
  HideTooltip();
  tipNode_ = nullptr;
}

void TTreeList::ShowTooltip(TTreeNode* node) {
  HideTooltip();
  const TRect label = node->DisplayRect(true);
  TCanvas measure;
  measure.SetFont(*Font());
  const int textWidth = measure.TextWidth(node->Text());
  const int textHeight = measure.TextHeight(node->Text());
  const TPoint at = ClientToScreen(TPoint{label.Left, label.Top});
  int top = at.Y;
  const int half = (label.Height() - textHeight) / 2;
  if (half > 1) top += half - 1;
  tooltip_->SetFont(*Font());
  tooltip_->SetColor(Color());
  tooltip_->ActivateHint(TRect{at.X, top, at.X + textWidth + 5, top + textHeight}, node->Text());
  tipNode_ = node;
  timer_->SetEnabled(true);
}

void TTreeList::HideTooltip() {
  timer_->SetEnabled(false);
  if (tooltip_->Active()) tooltip_->ReleaseHandle();
}
