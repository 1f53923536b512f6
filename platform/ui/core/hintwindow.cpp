#include "platform/ui/core/hintwindow.h"

#include <algorithm>

#include "platform/ui/core/application.h"
#include "platform/ui/core/drawtext.h"

namespace {
// The hint's offset below the pointer.
constexpr int kHintOffsetY = 20;
}  // namespace

THintWindow::THintWindow(rtl::TComponent* owner) : TCustomForm(owner) {
  SetBorderStyle(bsNone);
  SetPopup(true);
  // A press meant for what lies under the hint reaches it.
  SetMouseTransparent(true);
  SetColor(clInfoBk);
  SetUiFont(*Font());
  AfterConstruction();
}

TRect THintWindow::CalcHintRect(int maxWidth, const std::string& hint) const {
  TCanvas measure;
  measure.SetFont(*Font());
  TRect r{0, 0, maxWidth, 0};
  DrawText(&measure, hint, r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  return TRect{0, 0, r.Right + 6, r.Bottom + 2};
}

void THintWindow::ActivateHint(const TRect& rect, const std::string& hint) {
  SetCaption(hint);
  SetBounds(rect.Left, rect.Top, rect.Width(), rect.Height());
  Show();
  Invalidate();
}

void THintWindow::Paint() {
  TCanvas* c = Canvas();
  TRect r = ClientRect();
  c->Brush()->SetStyle(bsSolid);
  c->Brush()->SetColor(Color());
  c->FillRect(r);
  Frame3D(*c, r, clWindowFrame, clWindowFrame, 1);
  c->Font()->SetColor(clInfoText);
  r = r.Inflate(-2, 0);
  DrawText(c, Caption(), r, DT_WORDBREAK | DT_NOPREFIX);
}

THintController::THintController(rtl::TComponent* owner)
    : window_(new THintWindow(owner)),
      showTimer_(new TTimer(owner)),
      hideTimer_(new TTimer(owner)) {
  showTimer_->SetEnabled(false);
  hideTimer_->SetEnabled(false);
  showTimer_->OnTimer = [this](rtl::TObject*) { ShowHintNow(); };
  hideTimer_->OnTimer = [this](rtl::TObject*) { Cancel(); };
}

THintController::~THintController() {
  delete showTimer_;
  delete hideTimer_;
  delete window_;
}

void THintController::MouseOver(TControl* control, TPoint p) {
  point_ = p;
  if (control == control_) return;
  Cancel();
  if (!control || !Application || !Application->ShowHint || !control->ShowHint() ||
      control->ShortHint().empty())
    return;
  control_ = control;
  showTimer_->SetInterval(static_cast<UINT>(Application->HintPause));
  showTimer_->SetEnabled(true);
}

void THintController::Cancel() {
  showTimer_->SetEnabled(false);
  hideTimer_->SetEnabled(false);
  control_ = nullptr;
  if (window_->Visible()) window_->ReleaseHandle();
}

void THintController::Forget(TControl* control) {
  for (TControl* c = control_; c; c = c->Parent())
    if (c == control) {
      Cancel();
      return;
    }
}

void THintController::ShowHintNow() {
  showTimer_->SetEnabled(false);
  if (!control_) return;
  std::string text = control_->ShortHint();
  // As wide as the screen allows before its lines break (a cut value's hint holds it on one
  // line), moved left where it would reach past the screen's right edge.
  const TRect area = Screen->WorkAreaRect();
  TRect r = window_->CalcHintRect(area.Width(), text).Offset(point_.X, point_.Y + kHintOffsetY);
  r = r.Offset(std::max(area.Left - r.Left, std::min(0, area.Right - r.Right)), 0);
  window_->ActivateHint(r, text);
  hideTimer_->SetInterval(static_cast<UINT>(Application->HintHidePause));
  hideTimer_->SetEnabled(true);
}
