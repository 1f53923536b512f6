#include "platform/ui/core/comctrls.h"

#include <algorithm>

#include "platform/ui/core/drawtext.h"

namespace {

// Room left and right of a tab's caption, and between its image and caption.
constexpr int kTabPadding = 6;
// The page frame inside the page control, below the tabs.
constexpr int kPageBorder = 4;
// How near a header section's edge the pointer starts a resize.
constexpr int kEdgeGrip = 3;

void Fill(TCanvas* c, const TRect& r, TColor color) {
  c->Brush()->SetStyle(bsSolid);
  c->Brush()->SetColor(color);
  c->FillRect(r);
}

}  // namespace

// ---- TCustomImageList ----

int TCustomImageList::Add(const TBitmap& image) {
  int first = Count();
  if (image.Width() <= Width) {
    images_.push_back(image);
    return first;
  }
  for (int x = 0; x + Width <= image.Width(); x += Width)
    images_.push_back(image.Copy(x, 0, Width, Height));
  return first;
}

int TCustomImageList::AddMasked(const TBitmap& image, uint32_t maskColor) {
  TBitmap masked = image;
  masked.MakeTransparent(maskColor);
  return Add(masked);
}

void TCustomImageList::Delete(int index) {
  if (index >= 0 && index < Count()) images_.erase(images_.begin() + index);
}

void TCustomImageList::Draw(TCanvas* canvas, int x, int y, int index, bool enabled) const {
  if (index < 0 || index >= Count()) return;
  canvas->Draw(x, y, enabled ? images_[index] : images_[index].Disabled());
}

// ---- TTabSheet ----

TTabSheet::TTabSheet(rtl::TComponent* owner) : TWinControl(owner) {
  TControl::SetVisible(false);
}

TTabSheet::~TTabSheet() {
  SetPageControl(nullptr);
}

void TTabSheet::SetPageControl(TPageControl* value) {
  if (value == pageControl_) return;
  if (pageControl_) {
    TPageControl* old = pageControl_;
    auto& pages = old->pages_;
    pages.erase(std::remove(pages.begin(), pages.end(), this), pages.end());
    pageControl_ = nullptr;
    if (old->active_ == this) {
      old->active_ = nullptr;
      if (!old->Destroying()) old->SetActivePage(pages.empty() ? nullptr : pages.front());
    }
    if (!old->Destroying()) old->Invalidate();
  }
  pageControl_ = value;
  SetParent(value);
  if (value) {
    value->pages_.push_back(this);
    if (!value->active_) value->SetActivePage(this);
    value->Realign();
    value->Invalidate();
  }
}

int TTabSheet::PageIndex() const {
  if (!pageControl_) return -1;
  auto& pages = pageControl_->pages_;
  return static_cast<int>(std::find(pages.begin(), pages.end(), this) - pages.begin());
}

void TTabSheet::ShowForFocus() {
  if (pageControl_ && pageControl_->ActivePage() != this) pageControl_->SetActivePage(this);
}

// ---- TPageControl ----

TPageControl::TPageControl(rtl::TComponent* owner) : TWinControl(owner) {
  SetTakesFocus(true);
  SetTabStop(true);
  SetBounds(0, 0, 289, 193);
}

TPageControl::~TPageControl() {
  while (!pages_.empty())
    pages_.back()->SetPageControl(nullptr);
}

void TPageControl::SetActivePage(TTabSheet* page) {
  if (page && page->pageControl_ != this) return;
  if (page == active_) return;
  TTabSheet* old = active_;
  active_ = page;
  if (page) page->Show();
  if (old) old->Hide();
  Realign();
  Invalidate();
}

int TPageControl::ActivePageIndex() const {
  return active_ ? active_->PageIndex() : -1;
}

void TPageControl::SetActivePageIndex(int index) {
  SetActivePage(index >= 0 && index < PageCount() ? pages_[index] : nullptr);
}

void TPageControl::ChangeTo(TTabSheet* page) {
  if (page == active_) return;
  bool allow = true;
  if (OnChanging) OnChanging(this, allow);
  if (!allow) return;
  SetActivePage(page);
  if (OnChange) OnChange(this);
}

TRect TPageControl::DisplayRect() const {
  TRect r = ClientRect();
  return TRect{r.Left + kPageBorder, r.Top + TabHeight + kPageBorder, r.Right - kPageBorder,
               r.Bottom - kPageBorder};
}

TRect TPageControl::TabRect(const TTabSheet* page) const {
  TCanvas measure;
  measure.SetFont(*Font());
  int x = 2;
  for (TTabSheet* p : pages_) {
    if (!p->TabVisible) continue;
    int w = measure.TextWidth(StripPrefix(p->Caption())) + 2 * kTabPadding;
    if (Images && p->ImageIndex >= 0) w += Images->Width + kTabPadding / 2;
    if (p == page) return TRect{x, 2, x + w, TabHeight + 2};
    x += w;
  }
  return TRect{};
}

TTabSheet* TPageControl::TabAt(TPoint p) const {
  for (TTabSheet* page : pages_)
    if (page->TabVisible && TabRect(page).Contains(p)) return page;
  return nullptr;
}

void TPageControl::AlignControls(TRect& rect) {
  TRect d = DisplayRect();
  for (TTabSheet* p : pages_)
    p->SetBounds(d.Left, d.Top, d.Width(), d.Height());
  rect = d;
}

void TPageControl::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TWinControl::MouseDown(Button, Shift, X, Y);
  if (Button != mbLeft) return;
  if (TTabSheet* page = TabAt(Point(X, Y))) ChangeTo(page);
}

void TPageControl::KeyDown(WORD& Key, TShiftState Shift) {
  if (Key == VK_TAB && Shift.Contains(ssCtrl) && !pages_.empty()) {
    int n = PageCount(), i = std::max(0, ActivePageIndex());
    for (int step = 1; step <= n; ++step) {
      TTabSheet* p = pages_[(i + (Shift.Contains(ssShift) ? n - step : step)) % n];
      if (p->TabVisible) {
        ChangeTo(p);
        break;
      }
    }
    Key = 0;
  }
}

void TPageControl::Paint() {
  TCanvas* c = Canvas();
  Fill(c, ClientRect(), Color());
  for (TTabSheet* p : pages_) {
    if (!p->TabVisible) continue;
    TRect r = TabRect(p);
    if (p == active_) r = r.Inflate(2, 2);
    TRect frame = r;
    Frame3D(*c, frame, clBtnHighlight, clBtnShadow, 1);
    int x = r.Left + kTabPadding;
    if (Images && p->ImageIndex >= 0) {
      Images->Draw(c, x, r.Top + (r.Height() - Images->Height) / 2, p->ImageIndex);
      x += Images->Width + kTabPadding / 2;
    }
    TRect text{x, r.Top, r.Right, r.Bottom};
    c->Font()->SetColor(IsEnabled() ? Font()->Color() : clGrayText);
    DrawText(c, p->Caption(), text, DT_SINGLELINE | DT_VCENTER);
  }
  TRect page = DisplayRect().Inflate(2, 2);
  Frame3D(*c, page, clBtnHighlight, clBtnShadow, 1);
}

// ---- TToolButton, TToolBar ----

TToolButton::TToolButton(rtl::TComponent* owner) : TGraphicControl(owner) {
  SetBounds(0, 0, 23, 22);
}

void TToolButton::RealignBar() {
  if (auto* bar = dynamic_cast<TToolBar*>(Parent())) bar->Realign();
}

void TToolButton::SetDown(bool value) {
  if (value == down_) return;
  down_ = value;
  Invalidate();
}

void TToolButton::Click() {
  if (Style == tbsSeparator || Style == tbsDivider) return;
  if (Style == tbsCheck) SetDown(!down_);
  TGraphicControl::Click();
}

void TToolButton::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (Button == mbLeft) pressed_ = true, Invalidate();
  TGraphicControl::MouseDown(Button, Shift, X, Y);
}

void TToolButton::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (Button == mbLeft) pressed_ = false, Invalidate();
  TGraphicControl::MouseUp(Button, Shift, X, Y);
}

void TToolButton::Paint() {
  TCanvas* c = Canvas();
  TRect r = ClientRect();
  Fill(c, r, Color());
  if (Style == tbsSeparator || Style == tbsDivider) {
    if (Style == tbsDivider) {
      TRect line{r.Width() / 2 - 1, 2, r.Width() / 2 + 1, r.Bottom - 2};
      Frame3D(*c, line, clBtnShadow, clBtnHighlight, 1);
    }
    return;
  }
  if (pressed_ || down_) {
    TRect frame = r;
    Frame3D(*c, frame, clBtnShadow, clBtnHighlight, 1);
  }
  auto* bar = dynamic_cast<TToolBar*>(Parent());
  if (!bar || !bar->Images) return;
  TCustomImageList* images =
      !IsEnabled() && bar->DisabledImages ? bar->DisabledImages : bar->Images;
  int x = (r.Width() - images->Width) / 2, y = (r.Height() - images->Height) / 2;
  images->Draw(c, x, y, ImageIndex, IsEnabled() || images == bar->DisabledImages);
}

TToolBar::TToolBar(rtl::TComponent* owner) : TWinControl(owner) {
  SetBounds(0, 0, 150, 29);
  SetAlign(alTop);
}

int TToolBar::ButtonCount() const {
  int n = 0;
  for (int i = 0; i < ControlCount(); ++i)
    if (dynamic_cast<TToolButton*>(Controls(i))) ++n;
  return n;
}

TToolButton* TToolBar::Buttons(int index) const {
  for (int i = 0; i < ControlCount(); ++i)
    if (auto* b = dynamic_cast<TToolButton*>(Controls(i)); b && index-- == 0) return b;
  return nullptr;
}

void TToolBar::AlignControls(TRect& rect) {
  int x = rect.Left;
  for (int i = 0; i < ControlCount(); ++i) {
    auto* b = dynamic_cast<TToolButton*>(Controls(i));
    if (!b || !b->Visible()) continue;
    bool separator = b->Style == tbsSeparator || b->Style == tbsDivider;
    int w = separator ? b->Width() : ButtonWidth;
    b->SetBounds(x, rect.Top, w, ButtonHeight);
    x += w;
  }
  TWinControl::AlignControls(rect);
}

// ---- THeaderControl ----

void THeaderSection::SetWidth(int value) {
  value = std::clamp(value, MinWidth, std::max(MinWidth, MaxWidth));
  if (value == width_) return;
  width_ = value;
  Changed();
}

int THeaderSection::Left() const {
  int x = 0;
  auto* c = Collection();
  for (int i = 0; i < Index(); ++i)
    x += static_cast<THeaderSection*>(c->Items(i))->Width();
  return x;
}

THeaderSections::THeaderSections(THeaderControl* header)
    : rtl::TCollection([](rtl::TCollection* c) { return std::make_unique<THeaderSection>(c); }),
      header_(header) {}

void THeaderSections::Update(rtl::TCollectionItem*) {
  header_->Invalidate();
}

THeaderControl::THeaderControl(rtl::TComponent* owner) : TWinControl(owner), sections_(this) {
  SetBounds(0, 0, 200, 17);
  SetAlign(alTop);
}

THeaderSection* THeaderControl::SectionAt(int x) const {
  for (int i = 0; i < sections_.Count(); ++i) {
    THeaderSection* s = sections_.Items(i);
    if (x >= s->Left() && x < s->Right()) return s;
  }
  return nullptr;
}

THeaderSection* THeaderControl::EdgeAt(int x) const {
  for (int i = sections_.Count() - 1; i >= 0; --i) {
    THeaderSection* s = sections_.Items(i);
    if (x >= s->Right() - kEdgeGrip && x <= s->Right() + kEdgeGrip) return s;
  }
  return nullptr;
}

TCursor THeaderControl::CursorAt(TPoint p) const {
  return sizing_ || EdgeAt(p.X) ? crSizeWE : Cursor;
}

void THeaderControl::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TWinControl::MouseDown(Button, Shift, X, Y);
  if (Button != mbLeft) return;
  if ((sizing_ = EdgeAt(X)) != nullptr) {
    sizeStartX_ = X;
    sizeStartWidth_ = sizing_->Width();
    return;
  }
  pressed_ = SectionAt(X);
}

void THeaderControl::MouseMove(TShiftState Shift, int X, int Y) {
  TWinControl::MouseMove(Shift, X, Y);
  if (!sizing_) return;
  sizing_->SetWidth(sizeStartWidth_ + X - sizeStartX_);
  if (OnSectionTrack) OnSectionTrack(this, sizing_);
}

void THeaderControl::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TWinControl::MouseUp(Button, Shift, X, Y);
  if (Button != mbLeft) return;
  if (THeaderSection* s = sizing_) {
    sizing_ = nullptr;
    if (OnSectionResize) OnSectionResize(this, s);
    return;
  }
  THeaderSection* s = pressed_;
  pressed_ = nullptr;
  if (s && s == SectionAt(X) && OnSectionClick) OnSectionClick(this, s);
}

void THeaderControl::Paint() {
  TCanvas* c = Canvas();
  Fill(c, ClientRect(), Color());
  for (int i = 0; i < sections_.Count(); ++i) {
    THeaderSection* s = sections_.Items(i);
    TRect r{s->Left(), 0, s->Right(), ClientHeight()};
    Frame3D(*c, r, clBtnHighlight, clBtnShadow, 1);
    UINT align = s->Alignment == taCenter         ? DT_CENTER
                 : s->Alignment == taRightJustify ? DT_RIGHT
                                                  : 0;
    r = r.Inflate(-3, 0);
    c->Font()->SetColor(Font()->Color());
    DrawText(c, s->Text, r, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS | align);
  }
}
