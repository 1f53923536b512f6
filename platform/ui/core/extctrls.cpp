#include "platform/ui/core/extctrls.h"

#include <algorithm>

#include "platform/ui/core/drawtext.h"

// ---- TPanel ----

TPanel::TPanel(rtl::TComponent* owner) : TWinControl(owner) {
  SetBounds(0, 0, 185, 41);
}

void TPanel::Changed() {
  Realign();
  Invalidate();
}

void TPanel::SetBevelOuter(TBevelCut value) {
  bevelOuter_ = value;
  Changed();
}

void TPanel::SetBevelInner(TBevelCut value) {
  bevelInner_ = value;
  Changed();
}

void TPanel::SetBevelWidth(int value) {
  bevelWidth_ = std::max(1, value);
  Changed();
}

void TPanel::SetBorderWidth(int value) {
  borderWidth_ = std::max(0, value);
  Changed();
}

TRect TPanel::AlignRect() const {
  int inset = borderWidth_;
  if (bevelOuter_ != bvNone) inset += bevelWidth_;
  if (bevelInner_ != bvNone) inset += bevelWidth_;
  return ClientRect().Inflate(-inset, -inset);
}

void TPanel::Paint() {
  TCanvas* c = Canvas();
  TRect r = ClientRect();
  auto bevel = [&](TBevelCut cut) {
    if (cut == bvNone) return;
    TColor light = cut == bvLowered ? clBtnShadow : clBtnHighlight;
    TColor dark = cut == bvLowered ? clBtnHighlight : clBtnShadow;
    Frame3D(*c, r, light, dark, bevelWidth_);
  };
  bevel(bevelOuter_);
  r = r.Inflate(-borderWidth_, -borderWidth_);
  bevel(bevelInner_);
  c->Brush()->SetStyle(bsSolid);
  c->Brush()->SetColor(Color());
  c->FillRect(r);
  if (!Caption().empty()) {
    UINT align = Alignment == taCenter ? DT_CENTER : Alignment == taRightJustify ? DT_RIGHT : 0;
    c->Font()->SetColor(IsEnabled() ? Font()->Color() : clGrayText);
    DrawText(c, Caption(), r, DT_SINGLELINE | DT_VCENTER | align);
  }
}

// ---- TSplitter ----

TSplitter::TSplitter(rtl::TComponent* owner) : TGraphicControl(owner) {
  SetBounds(0, 0, 3, 100);
  SetAlign(alLeft);
  Cursor = crHSplit;
}

TControl* TSplitter::FindControl() const {
  TWinControl* p = Parent();
  if (!p) return nullptr;
  for (int i = 0; i < p->ControlCount(); ++i) {
    TControl* c = p->Controls(i);
    if (c == this || !c->Visible() || c->Align() != Align()) continue;
    bool touches = false;
    switch (Align()) {
      case alLeft:
        touches = c->Left() + c->Width() == Left();
        break;
      case alRight:
        touches = c->Left() == Left() + Width();
        break;
      case alTop:
        touches = c->Top() + c->Height() == Top();
        break;
      case alBottom:
        touches = c->Top() == Top() + Height();
        break;
      default:
        break;
    }
    if (touches) return c;
  }
  return nullptr;
}

void TSplitter::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TGraphicControl::MouseDown(Button, Shift, X, Y);
  if (Button != mbLeft) return;
  sizing_ = FindControl();
  if (!sizing_) return;
  downAt_ = Point(Left() + X, Top() + Y);
  startSize_ = Horizontal() ? sizing_->Width() : sizing_->Height();
  // What the other aligned controls leave: the client part not taken by anything but the
  // sized control and alClient ones, less MinSize for the rest.
  TWinControl* p = Parent();
  int total = Horizontal() ? p->ClientWidth() : p->ClientHeight();
  int taken = 0;
  for (int i = 0; i < p->ControlCount(); ++i) {
    TControl* c = p->Controls(i);
    if (c == sizing_ || !c->Visible() || c->Align() == alClient || c->Align() == alNone) continue;
    bool sameAxis = Horizontal() ? (c->Align() == alLeft || c->Align() == alRight)
                                 : (c->Align() == alTop || c->Align() == alBottom);
    if (sameAxis) taken += Horizontal() ? c->Width() : c->Height();
  }
  maxSize_ = std::max(MinSize, total - taken - MinSize);
}

void TSplitter::MouseMove(TShiftState Shift, int X, int Y) {
  TGraphicControl::MouseMove(Shift, X, Y);
  if (!sizing_) return;
  TPoint at{Left() + X, Top() + Y};
  int delta = Horizontal() ? at.X - downAt_.X : at.Y - downAt_.Y;
  if (Align() == alRight || Align() == alBottom) delta = -delta;
  int size = std::clamp(startSize_ + delta, MinSize, maxSize_);
  if (Horizontal()) {
    sizing_->SetWidth(size);
  } else {
    sizing_->SetHeight(size);
  }
}

void TSplitter::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TGraphicControl::MouseUp(Button, Shift, X, Y);
  if (!sizing_ || Button != mbLeft) return;
  sizing_ = nullptr;
  if (OnMoved) OnMoved(this);
}

void TSplitter::Paint() {
  TCanvas* c = Canvas();
  TRect r = ClientRect();
  c->Brush()->SetStyle(bsSolid);
  c->Brush()->SetColor(Color());
  c->FillRect(r);
  if (Beveled) Frame3D(*c, r, clBtnHighlight, clBtnShadow, 1);
}

// ---- TImage ----

TImage::TImage(rtl::TComponent* owner) : TGraphicControl(owner) {
  SetBounds(0, 0, 105, 105);
}

void TImage::PictureChanged() {
  if (AutoSize && !picture_.Empty()) SetBounds(Left(), Top(), picture_.Width(), picture_.Height());
  Invalidate();
}

void TImage::LoadFromFile(const std::string& fileName) {
  try {
    picture_.LoadFromFile(fileName);
  } catch (...) {
    Invalidate();
    throw;
  }
  PictureChanged();
}

void TImage::Paint() {
  TCanvas* c = Canvas();
  if (!Transparent) {
    c->Brush()->SetStyle(bsSolid);
    c->Brush()->SetColor(Color());
    c->FillRect(ClientRect());
  }
  if (picture_.Empty()) return;
  const TBitmap& b = picture_.Bitmap();
  if (Stretch && (b.Width() != ClientWidth() || b.Height() != ClientHeight())) {
    // Nearest pixel: the console's pictures are shown at their size or scaled down a little.
    TBitmap scaled(ClientWidth(), ClientHeight(), 0);
    for (int y = 0; y < scaled.Height(); ++y)
      for (int x = 0; x < scaled.Width(); ++x)
        scaled.SetPixel(x, y,
                        b.Pixel(x * b.Width() / scaled.Width(), y * b.Height() / scaled.Height()));
    c->Draw(0, 0, scaled);
    return;
  }
  int x = Center ? (ClientWidth() - b.Width()) / 2 : 0;
  int y = Center ? (ClientHeight() - b.Height()) / 2 : 0;
  c->Draw(x, y, b);
}
