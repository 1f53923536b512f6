#include "platform/ui/fltk/box.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <vector>

#include "platform/ui/fltk/fonts.h"
#include "platform/ui/fltk/paint.h"
#include "platform/ui/fltk/text.h"
#include "platform/ui/fltk/window.h"
#include "platform/ui/fltk/wm.h"

namespace fltkpeer {

namespace {

// The box's measures, in pixels.
constexpr int kMargin = 12;
constexpr int kIconSize = 32;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 23;
constexpr int kButtonGap = 6;
constexpr int kMinTextWidth = 160;
// The caption shows whole in the window manager's title bar: the box is at least as wide as the
// caption measured in the UI font at the title font's height (a bold face of about 11 pixels)
// with some slack, plus what the bar takes beside it (the window's icon and its buttons).
constexpr int kTitleFontHeight = 13;
constexpr int kTitleBarRoom = 120;

struct IconLook {
  UINT icon;
  TColor color;
  const char* mark;
};
constexpr IconLook kIcons[] = {
    {0x10, clRed, "X"},  // MB_ICONERROR
    {0x20, clBlue, "?"},
    {0x30, RGBColor(224, 160, 0), "!"},
    {0x40, clBlue, "i"},
};

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines(1);
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines.emplace_back();
    } else {
      lines.back() += c;
    }
  }
  return lines;
}

}  // namespace

class BoxWindow : public Fl_Double_Window {
 public:
  BoxWindow(TFltkBoxPeer* peer, const TMessageBoxRequest& request, const TRect& area)
      : Fl_Double_Window(0, 0, 1, 1), peer_(peer), request_(request) {
    SelectUiFont(kUiFontHeight);
    lineHeight_ = fl_height();
    for (const std::string& line : SplitLines(request.Text)) {
      lines_.push_back(Utf8Of(line));
      textWidth_ = std::max(textWidth_, static_cast<int>(fl_width(lines_.back().c_str()) + 0.5));
    }
    textWidth_ = std::max(textWidth_, kMinTextWidth);
    for (const IconLook& i : kIcons)
      if (i.icon == request.Icon) icon_ = &i;
    int iconSpace = icon_ ? kIconSize + kMargin : 0;
    int textHeight = std::max(static_cast<int>(lines_.size()) * lineHeight_, icon_ ? kIconSize : 0);
    int n = static_cast<int>(request.Buttons.size());
    int rowWidth = n * kButtonWidth + (n - 1) * kButtonGap;
    SelectUiFont(kTitleFontHeight);
    const std::string& caption = Utf8Of(request.Caption);
    const int titleWidth = static_cast<int>(fl_width(caption.c_str()) + 0.5) + kTitleBarRoom;
    SelectUiFont(kUiFontHeight);
    int width = std::max(std::max(iconSpace + textWidth_, rowWidth) + 2 * kMargin, titleWidth);
    int height = kMargin + textHeight + kMargin + kButtonHeight + kMargin;
    size_range(width, height, width, height);
    resize(area.Left + (area.Width() - width) / 2, area.Top + (area.Height() - height) / 2, width,
           height);
    begin();
    int x = (width - rowWidth) / 2;
    for (int i = 0; i < n; ++i) {
      auto* b = new Fl_Button(x + i * (kButtonWidth + kButtonGap), height - kMargin - kButtonHeight,
                              kButtonWidth, kButtonHeight);
      b->copy_label(Utf8Of(request.Buttons[i].Caption).c_str());
      b->labelfont(UiFontNumber());
      b->labelsize(kUiFontHeight);
      b->callback(OnButton, this);
      buttons_.push_back(b);
    }
    end();
    copy_label(Utf8Of(request.Caption).c_str());
    callback(OnClose, this);
    set_modal();
    BeginModal(this);
    show();
    // Kept above the window it belongs to (FLTK guesses one; the request names it).
    if (auto* owner = dynamic_cast<TFltkWindowPeer*>(request.Owner))
      SetTransientFor(this, owner->FltkWindow(), true);
    if (!buttons_.empty()) buttons_[request.DefaultButton % buttons_.size()]->take_focus();
  }

  ~BoxWindow() override { EndModal(this); }

  void Detach() {
    peer_ = nullptr;
    EndModal(this);
  }

  void draw() override {
    Fl_Double_Window::draw();  // background and buttons
    int x = kMargin;
    if (icon_) {
      SetColor(icon_->color);
      fl_pie(x, kMargin, kIconSize, kIconSize, 0, 360);
      fl_color(FL_WHITE);
      fl_font(FL_HELVETICA_BOLD, kIconSize * 2 / 3);
      fl_draw(icon_->mark, x + (kIconSize - static_cast<int>(fl_width(icon_->mark))) / 2,
              kMargin + kIconSize - (kIconSize - fl_height()) / 2 - fl_descent());
      x += kIconSize + kMargin;
    }
    SelectUiFont(kUiFontHeight);
    SetColor(clWindowText);
    int y = kMargin + lineHeight_ - fl_descent();
    for (const std::string& line : lines_) {
      fl_draw(line.data(), static_cast<int>(line.size()), x, y);
      y += lineHeight_;
    }
  }

  int handle(int event) override {
    if (event == FL_KEYDOWN && (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter)) {
      // Enter chooses the button that has the keyboard, else the default one.
      for (size_t i = 0; i < buttons_.size(); ++i)
        if (Fl::focus() == buttons_[i]) return Answer(request_.Buttons[i].Result);
      if (buttons_.empty()) return Answer(request_.CloseResult);
      return Answer(request_.Buttons[request_.DefaultButton % buttons_.size()].Result);
    }
    return Fl_Double_Window::handle(event);
  }

 private:
  int Answer(int result) {
    if (peer_ && peer_->result_ == 0) peer_->result_ = result;
    return 1;
  }

  static void OnButton(Fl_Widget* w, void* data) {
    auto* self = static_cast<BoxWindow*>(data);
    for (size_t i = 0; i < self->buttons_.size(); ++i)
      if (self->buttons_[i] == w) self->Answer(self->request_.Buttons[i].Result);
  }

  // The close box answers CloseResult; Escape, which FLTK also hands to the callback, does
  // nothing.
  static void OnClose(Fl_Widget*, void* data) {
    auto* self = static_cast<BoxWindow*>(data);
    if (Fl::event() != FL_CLOSE) return;
    self->Answer(self->request_.CloseResult);
  }

  TFltkBoxPeer* peer_;
  const TMessageBoxRequest request_;
  std::vector<std::string> lines_;
  std::vector<Fl_Button*> buttons_;
  const IconLook* icon_ = nullptr;
  int lineHeight_ = 0;
  int textWidth_ = 0;
};

TFltkBoxPeer::TFltkBoxPeer(const TMessageBoxRequest& request, const TRect& area)
    : window_(new BoxWindow(this, request, area)) {}

TFltkBoxPeer::~TFltkBoxPeer() {
  window_->Detach();
  window_->hide();
  Fl::delete_widget(window_);
}

}  // namespace fltkpeer
