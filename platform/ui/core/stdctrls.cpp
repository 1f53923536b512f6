#include "platform/ui/core/stdctrls.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/ui/core/application.h"
#include "platform/ui/core/drawtext.h"
#include "platform/ui/core/dropdownlist.h"
#include "platform/ui/core/forms.h"
#include "rtl/cp932.h"

namespace {

// The check box's and radio button's mark, and the space between it and the caption.
constexpr int kMarkSize = 13;
constexpr int kMarkGap = 4;

bool IsLead(const std::string& s, size_t i) {
  return rtl::IsLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size();
}

bool IsLineBreakAt(const std::string& s, int pos) {
  return pos >= 0 && pos + 1 < static_cast<int>(s.size()) && s[pos] == '\r' && s[pos + 1] == '\n';
}

// The byte index where the character before pos starts; a CR LF counts as one character.
int PrevChar(const std::string& s, int pos) {
  if (IsLineBreakAt(s, pos - 2)) return pos - 2;
  int i = 0, last = 0;
  while (i < pos) {
    last = i;
    i += IsLead(s, static_cast<size_t>(i)) ? 2 : 1;
  }
  return last;
}

int NextChar(const std::string& s, int pos) {
  if (pos >= static_cast<int>(s.size())) return pos;
  if (IsLineBreakAt(s, pos)) return pos + 2;
  return pos + (IsLead(s, static_cast<size_t>(pos)) ? 2 : 1);
}

// What a double click selects: a run of characters of one kind around pos.
enum TCharKind { ckBlank, ckWord, ckWide, ckSign, ckBreak };

TCharKind KindAt(const std::string& s, size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  if (IsLead(s, i))
    return b == 0x81 && static_cast<unsigned char>(s[i + 1]) == 0x40 ? ckBlank : ckWide;
  if (b == ' ' || b == '\t') return ckBlank;
  if (b == '\r' || b == '\n') return ckBreak;
  // Letters, digits, the underscore and half-width katakana.
  if (std::isalnum(b) || b == '_' || (b >= 0xA1 && b <= 0xDF)) return ckWord;
  return ckSign;
}

// The byte range of the word at byte position pos: the characters of the kind found at pos (or,
// at the end of the text or of a line, just before it) on either side.
TTextSpan WordAt(const std::string& s, int pos) {
  const int n = static_cast<int>(s.size());
  pos = std::clamp(pos, 0, n);
  int at = pos;
  if (at == n || KindAt(s, static_cast<size_t>(at)) == ckBreak) {
    if (at == 0) return TTextSpan{0, 0};
    at = PrevChar(s, at);
  }
  const TCharKind kind = KindAt(s, static_cast<size_t>(at));
  if (kind == ckBreak) return TTextSpan{static_cast<size_t>(pos), static_cast<size_t>(pos)};
  int start = at, end = NextChar(s, at);
  while (start > 0) {
    const int prev = PrevChar(s, start);
    if (KindAt(s, static_cast<size_t>(prev)) != kind) break;
    start = prev;
  }
  while (end < n && KindAt(s, static_cast<size_t>(end)) == kind)
    end = NextChar(s, end);
  return TTextSpan{static_cast<size_t>(start), static_cast<size_t>(end)};
}

// The lines of a multi-line edit scroll this many a notch of the wheel.
constexpr int kWheelLines = 3;

void FillBackground(TCanvas* canvas, const TRect& r, TColor color) {
  canvas->Brush()->SetStyle(bsSolid);
  canvas->Brush()->SetColor(color);
  canvas->FillRect(r);
}

}  // namespace

// ---- TLabel ----

TLabel::TLabel(rtl::TComponent* owner) : TGraphicControl(owner) {
  SetBounds(0, 0, 65, 13);
}

void TLabel::SetAutoSize(bool value) {
  autoSize_ = value;
  AdjustSize();
}

void TLabel::AdjustSize() {
  if (!autoSize_ || WordWrap) return;
  TCanvas* c = Canvas();
  c->SetFont(*Font());
  std::string shown = ShowAccelChar ? StripPrefix(Caption()) : Caption();
  SetBounds(Left(), Top(), c->TextWidth(shown), c->TextHeight(shown));
}

void TLabel::TextChanged() {
  AdjustSize();
  Invalidate();
}

void TLabel::FontChanged() {
  AdjustSize();
  Invalidate();
}

void TLabel::Paint() {
  TCanvas* c = Canvas();
  TRect r = ClientRect();
  if (!Transparent) FillBackground(c, r, Color());
  UINT format = (ShowAccelChar ? 0 : DT_NOPREFIX) | (WordWrap ? DT_WORDBREAK : 0);
  format |= Alignment == taCenter ? DT_CENTER : Alignment == taRightJustify ? DT_RIGHT : DT_LEFT;
  if (EllipsisPosition == epPathEllipsis) format |= DT_PATH_ELLIPSIS;
  if (EllipsisPosition == epEndEllipsis) format |= DT_END_ELLIPSIS;
  if (Layout != tlTop) {
    TRect calc = r;
    int h = DrawText(c, Caption(), calc, format | DT_CALCRECT);
    r.Top += Layout == tlCenter ? (r.Height() - h) / 2 : r.Height() - h;
  }
  c->Font()->SetColor(IsEnabled() ? Font()->Color() : clGrayText);
  DrawText(c, Caption(), r, format);
}

// ---- TCustomEdit ----

TCustomEdit::TCustomEdit(rtl::TComponent* owner) : TWinControl(owner) {
  SetTakesFocus(true);
  SetTabStop(true);
  SetColor(clWindow);
  Cursor = crIBeam;
  scrollBars_.OnRange = [this](TScrollBarKind kind) { return ScrollRangeOf(kind); };
  scrollBars_.OnScroll = [this](TScrollBarKind, int position) { SetTopLine(position); };
  SetControlScrollBars(&scrollBars_);
}

TRect TCustomEdit::NonClientInsets() const {
  const TRect frame = FrameInsets(), pad = TextPadding(), bars = scrollBars_.Insets();
  return TRect{frame.Left + pad.Left + bars.Left, frame.Top + pad.Top + bars.Top,
               frame.Right + pad.Right + bars.Right, frame.Bottom + pad.Bottom + bars.Bottom};
}

void TCustomEdit::SetSelStart(int value) {
  selStart_ = std::clamp(value, 0, static_cast<int>(Text().size()));
  if (IsLineBreakAt(Text(), selStart_ - 1)) --selStart_;  // never between CR and LF
  selLength_ = 0;
  preferredX_ = -1;
  Invalidate();
}

void TCustomEdit::SetSelLength(int value) {
  selLength_ = std::clamp(value, 0, static_cast<int>(Text().size()) - selStart_);
  preferredX_ = -1;
  Invalidate();
}

std::string TCustomEdit::SelText() const {
  return Text().substr(static_cast<size_t>(selStart_), static_cast<size_t>(selLength_));
}

void TCustomEdit::SelectAll() {
  selStart_ = 0;
  selLength_ = static_cast<int>(Text().size());
  preferredX_ = -1;
  Invalidate();
}

void TCustomEdit::ReplaceSelection(const std::string& text) {
  std::string t = Text();
  t.replace(static_cast<size_t>(selStart_), static_cast<size_t>(selLength_), text);
  int caret = selStart_ + static_cast<int>(text.size());
  editing_ = true;
  SetText(t);
  editing_ = false;
  selStart_ = std::min(caret, static_cast<int>(Text().size()));
  selLength_ = 0;
  preferredX_ = -1;
  ScrollToCaret();
}

// ---- display lines ----

std::vector<TTextSpan> TCustomEdit::DisplayLines() const {
  const std::string& t = Text();
  std::vector<TTextSpan> lines;
  TCanvas measure;
  measure.SetFont(*Font());
  const bool multi = MultiLine();
  const int width = LinesRect().Width();
  size_t start = 0;
  for (;;) {
    size_t end = multi ? t.find_first_of("\r\n", start) : std::string::npos;
    if (end == std::string::npos) end = t.size();
    if (multi && WrapsLines() && width > 0) {
      for (const TTextSpan& span :
           WrapSpans(measure, std::string_view(t).substr(start, end - start), width))
        lines.push_back(TTextSpan{start + span.Start, start + span.End});
    } else {
      lines.push_back(TTextSpan{start, end});
    }
    if (end >= t.size()) break;
    start = end + (IsLineBreakAt(t, static_cast<int>(end)) ? 2 : 1);
  }
  return lines;
}

int TCustomEdit::LineHeight() const {
  TCanvas measure;
  measure.SetFont(*Font());
  return measure.TextHeight("Wg");
}

int TCustomEdit::VisibleLines() const {
  const int h = LineHeight();
  return h > 0 ? std::max(1, LinesRect().Height() / h) : 1;
}

int TCustomEdit::LineOf(const std::vector<TTextSpan>& lines, int pos) {
  auto it = std::upper_bound(lines.begin(), lines.end(), static_cast<size_t>(pos),
                             [](size_t p, const TTextSpan& line) { return p < line.Start; });
  return std::max(0, static_cast<int>(it - lines.begin()) - 1);
}

int TCustomEdit::CaretX(const std::vector<TTextSpan>& lines, int pos) const {
  const TTextSpan& line = lines[LineOf(lines, pos)];
  TCanvas measure;
  measure.SetFont(*Font());
  const size_t end = std::min(static_cast<size_t>(pos), line.End);
  return measure.TextWidth(std::string_view(DisplayText()).substr(line.Start, end - line.Start));
}

int TCustomEdit::PositionAt(const TTextSpan& line, int x) const {
  TCanvas measure;
  measure.SetFont(*Font());
  const std::string& t = Text();
  const std::string shown = DisplayText();
  int best = static_cast<int>(line.Start), bestDistance = std::abs(x);
  for (int i = best; i < static_cast<int>(line.End);) {
    i = std::min(NextChar(t, i), static_cast<int>(line.End));
    const int w = measure.TextWidth(std::string_view(shown).substr(line.Start, i - line.Start));
    if (std::abs(w - x) < bestDistance) {
      best = i;
      bestDistance = std::abs(w - x);
    }
  }
  return best;
}

void TCustomEdit::MoveCaret(int pos, bool keepX) {
  const int x = preferredX_;
  SetSelStart(pos);
  if (keepX) preferredX_ = x;
  ScrollToCaret();
}

void TCustomEdit::ClampTopLine() {
  const int last = static_cast<int>(DisplayLines().size()) - VisibleLines();
  topLine_ = std::clamp(topLine_, 0, std::max(0, last));
}

void TCustomEdit::SetTopLine(int value) {
  topLine_ = value;
  ClampTopLine();
  Invalidate();
}

void TCustomEdit::ScrollToCaret() {
  if (!MultiLine()) return;
  const int line = LineOf(DisplayLines(), Caret());
  const int visible = VisibleLines();
  if (line < topLine_) topLine_ = line;
  if (line >= topLine_ + visible) topLine_ = line - visible + 1;
  SetTopLine(topLine_);
}

TScrollRange TCustomEdit::ScrollRangeOf(TScrollBarKind) const {
  const int visible = VisibleLines();
  return TScrollRange{static_cast<int>(DisplayLines().size()) - visible, visible, topLine_, 1};
}

void TCustomEdit::SetEditScrollBars(TScrollStyle style) {
  scrollBars_.Style = style;
  scrollBars_.Always = style;
  scrollBars_.Frame = FrameInsets();
  // Shown always, so nothing is measured to decide.
  if (scrollBars_.Decide([](TScrollBarKind, int, int) { return true; })) ClientAreaChanged();
}

void TCustomEdit::Resize() {
  if (MultiLine()) ClampTopLine();
  TWinControl::Resize();
}

void TCustomEdit::FontChanged() {
  TWinControl::FontChanged();
  if (MultiLine()) ClampTopLine();
}

bool TCustomEdit::DoMouseWheel(TShiftState Shift, int WheelDelta, TPoint MousePos) {
  if (!MultiLine()) return TWinControl::DoMouseWheel(Shift, WheelDelta, MousePos);
  const int notches = WheelDelta / 120;
  if (notches == 0) return false;
  SetTopLine(topLine_ - notches * kWheelLines);
  return true;
}

void TCustomEdit::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TWinControl::MouseDown(Button, Shift, X, Y);
  if (Button != mbLeft) return;
  const std::vector<TTextSpan> lines = DisplayLines();
  const TRect area = LinesRect();
  const int lineHeight = std::max(1, LineHeight());
  const int row = Y < area.Top ? topLine_ : topLine_ + (Y - area.Top) / lineHeight;
  const int line = std::clamp(row, 0, static_cast<int>(lines.size()) - 1);
  const int pos = PositionAt(lines[line], X - area.Left);
  if (!Shift.Contains(ssDouble)) {
    MoveCaret(pos);
    return;
  }
  const TTextSpan word = WordAt(Text(), pos);
  SetSelStart(static_cast<int>(word.Start));
  SetSelLength(static_cast<int>(word.End - word.Start));
}

void TCustomEdit::PaintLines(TCanvas* c, bool showSelection) {
  const TRect area = LinesRect();
  const std::string& t = Text();
  const std::vector<TTextSpan> lines = DisplayLines();
  const int lineHeight = c->TextHeight("Wg");
  const TColor textColor = IsEnabled() ? Font()->Color() : clGrayText;
  const size_t selFrom = static_cast<size_t>(selStart_);
  const size_t selTo = selFrom + static_cast<size_t>(selLength_);
  const TRect savedClip = c->ClipRect();
  c->SetClipRect(IntersectRect(savedClip, area));
  int y = area.Top;
  for (int i = topLine_; i < static_cast<int>(lines.size()) && y < area.Bottom; ++i) {
    const TTextSpan& line = lines[i];
    const std::string_view text = std::string_view(t).substr(line.Start, line.End - line.Start);
    c->Brush()->SetStyle(bsClear);
    c->Font()->SetColor(textColor);
    c->TextOut(area.Left, y, text);
    const size_t from = std::clamp(selFrom, line.Start, line.End);
    const size_t to = std::clamp(selTo, line.Start, line.End);
    if (showSelection && from < to) {
      const int x = area.Left + c->TextWidth(text.substr(0, from - line.Start));
      c->Brush()->SetStyle(bsSolid);
      c->Brush()->SetColor(clHighlight);
      c->Font()->SetColor(clHighlightText);
      c->TextOut(x, y, text.substr(from - line.Start, to - from));
    }
    y += lineHeight;
  }
  const int caretLine = LineOf(lines, Caret());
  if (Focused() && selLength_ == 0 && caretLine >= topLine_) {
    const int top = area.Top + (caretLine - topLine_) * lineHeight;
    const int x = area.Left + CaretX(lines, Caret());
    c->Brush()->SetStyle(bsSolid);
    c->Brush()->SetColor(textColor);
    c->FillRect(TRect{x, top, x + 1, top + lineHeight});
  }
  c->SetClipRect(savedClip);
}

void TCustomEdit::TextChanged() {
  if (!editing_) {
    selStart_ = std::min(selStart_, static_cast<int>(Text().size()));
    selLength_ = 0;
    preferredX_ = -1;
    topLine_ = 0;  // a new text shows from its start
  }
  if (MultiLine()) ClampTopLine();
  Invalidate();
  if (OnChange && CanFire()) OnChange(this);
}

void TCustomEdit::CopyToClipboard() {
  if (selLength_ > 0 && CurrentWidgetSet()) CurrentWidgetSet()->SetClipboardText(SelText());
}

void TCustomEdit::CutToClipboard() {
  CopyToClipboard();
  if (!ReadOnly) ClearSelection();
}

void TCustomEdit::PasteFromClipboard() {
  TCustomForm* form = GetParentForm(this);
  if (!ReadOnly && form && CurrentWidgetSet())
    CurrentWidgetSet()->PasteClipboardText(form->PeerTarget());
}

void TCustomEdit::TextInput(const std::string& text) {
  if (ReadOnly) return;
  // Single-byte characters still pass KeyPress, which may change or swallow them.
  std::string accepted;
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsLead(text, i)) {
      accepted.append(text, i, 2);
      ++i;
      continue;
    }
    char k = text[i];
    if (k == '\r' || k == '\n' || k == '\t') {
      accepted += k;
      continue;
    }
    if (OnKeyPress && CanFire()) OnKeyPress(this, k);
    if (k) accepted += k;
  }
  std::string filtered = FilterInput(accepted);
  if (MaxLength > 0) {
    int room = MaxLength - (static_cast<int>(Text().size()) - selLength_);
    size_t keep = 0;
    while (keep < filtered.size()) {
      size_t n = IsLead(filtered, keep) ? 2 : 1;
      if (static_cast<int>(keep + n) > room) break;
      keep += n;
    }
    filtered.resize(keep);
  }
  if (!filtered.empty()) ReplaceSelection(filtered);
}

void TCustomEdit::KeyPress(char& Key) {
  if (Key == '\b' && !ReadOnly) {
    if (selLength_ == 0 && selStart_ > 0) {
      int from = PrevChar(Text(), selStart_);
      selLength_ = selStart_ - from;
      selStart_ = from;
    }
    ClearSelection();
  }
}

bool TCustomEdit::WantsKey(WORD key, TShiftState shift) const {
  return TWinControl::WantsKey(key, shift) || key == VK_HOME || key == VK_END || key == VK_DELETE ||
         (MultiLine() && (key == VK_PRIOR || key == VK_NEXT));
}

void TCustomEdit::KeyDown(WORD& Key, TShiftState Shift) {
  const std::string& t = Text();
  if (Shift.Contains(ssCtrl)) {
    switch (Key) {
      case 'A':
        SelectAll();
        return;
      case 'C':
      case VK_INSERT:
        CopyToClipboard();
        return;
      case 'X':
        CutToClipboard();
        return;
      case 'V':
        PasteFromClipboard();
        return;
    }
  }
  if (MultiLine()) {
    const std::vector<TTextSpan> lines = DisplayLines();
    const int line = LineOf(lines, Caret());
    const int last = static_cast<int>(lines.size()) - 1;
    switch (Key) {
      case VK_UP:
      case VK_DOWN:
      case VK_PRIOR:
      case VK_NEXT: {
        const bool page = Key == VK_PRIOR || Key == VK_NEXT;
        const int step = (page ? VisibleLines() : 1) * (Key == VK_UP || Key == VK_PRIOR ? -1 : 1);
        if (preferredX_ < 0) preferredX_ = CaretX(lines, Caret());
        // A page key turns the view by a page as well.
        if (page) topLine_ = std::clamp(topLine_ + step, 0, std::max(0, last));
        MoveCaret(PositionAt(lines[std::clamp(line + step, 0, last)], preferredX_), true);
        return;
      }
      case VK_HOME:
        MoveCaret(Shift.Contains(ssCtrl) ? 0 : static_cast<int>(lines[line].Start));
        return;
      case VK_END:
        MoveCaret(Shift.Contains(ssCtrl) ? static_cast<int>(t.size())
                                         : static_cast<int>(lines[line].End));
        return;
    }
  }
  switch (Key) {
    case VK_LEFT:
      MoveCaret(selLength_ ? selStart_ : PrevChar(t, selStart_));
      break;
    case VK_RIGHT:
      MoveCaret(selLength_ ? Caret() : NextChar(t, selStart_));
      break;
    case VK_HOME:
      MoveCaret(0);
      break;
    case VK_END:
      MoveCaret(static_cast<int>(t.size()));
      break;
    case VK_DELETE:
      if (ReadOnly) break;
      if (selLength_ == 0) selLength_ = NextChar(t, selStart_) - selStart_;
      ClearSelection();
      break;
  }
}

void TCustomEdit::DoEnter() {
  TWinControl::DoEnter();
}

// ---- TEdit ----

TEdit::TEdit(rtl::TComponent* owner) : TCustomEdit(owner) {
  SetBounds(0, 0, 121, 21);
}

std::string TEdit::FilterInput(const std::string& text) const {
  std::string out;
  for (char ch : text)
    if (ch != '\r' && ch != '\n') out += ch;
  return out;
}

void TCustomEdit::PaintNonClient(TCanvas& canvas) {
  TRect r{0, 0, Width(), Height()};
  Frame3D(canvas, r, clBtnShadow, clBtnHighlight, 1);
  Frame3D(canvas, r, cl3DDkShadow, cl3DLight, 1);
}

TRect TEdit::LinesRect() const {
  const int h = LineHeight();
  const int top = (ClientHeight() - h) / 2;
  return TRect{1, top, ClientWidth(), top + h};
}

std::string TEdit::DisplayText() const {
  return PasswordChar ? std::string(Text().size(), PasswordChar) : Text();
}

void TEdit::Paint() {
  TCanvas* c = Canvas();
  FillBackground(c, ClientRect(), IsEnabled() ? Color() : clBtnFace);
  const std::string shown = DisplayText();
  const TRect line = LinesRect();
  const TColor textColor = IsEnabled() ? Font()->Color() : clGrayText;
  c->Brush()->SetStyle(bsClear);
  c->Font()->SetColor(textColor);
  c->TextOut(line.Left, line.Top, shown);
  if (!Focused()) return;
  const std::string_view text(shown);
  const int x = line.Left + c->TextWidth(text.substr(0, SelStart()));
  if (SelLength() > 0) {
    c->Brush()->SetStyle(bsSolid);
    c->Brush()->SetColor(clHighlight);
    c->Font()->SetColor(clHighlightText);
    c->TextOut(x, line.Top, text.substr(SelStart(), SelLength()));
    return;
  }
  FillBackground(c, TRect{x, line.Top, x + 1, line.Bottom}, textColor);
}

// ---- TMemo ----

std::string NormalizeLineBreaks(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char ch = text[i];
    if (ch == '\r') {
      out += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (ch == '\n') {
      out += "\r\n";
    } else {
      out += ch;
    }
  }
  return out;
}

TMemo::TMemo(rtl::TComponent* owner) : TCustomEdit(owner) {
  SetBounds(0, 0, 185, 89);
}

void TMemo::SetScrollBars(TScrollStyle value) {
  scrollStyle_ = value;
  SetEditScrollBars(value == ssVertical || value == ssBoth ? ssVertical : ssNone);
}

std::string TMemo::FilterInput(const std::string& text) const {
  return NormalizeLineBreaks(text);
}

void TMemo::TextChanged() {
  std::string normal = NormalizeLineBreaks(Text());
  if (normal != Text()) {
    SetText(normal);  // comes back here once with the normal text
    return;
  }
  TCustomEdit::TextChanged();
}

std::vector<std::string> TMemo::Lines() const {
  std::vector<std::string> lines;
  const std::string& t = Text();
  size_t start = 0;
  while (start < t.size()) {
    size_t end = t.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(t.substr(start));
      break;
    }
    lines.push_back(t.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

void TMemo::SetLines(const std::vector<std::string>& lines) {
  std::string t;
  for (const std::string& l : lines)
    t += l + "\r\n";
  SetText(t);
}

void TMemo::AddLine(const std::string& line) {
  std::string t = Text();
  if (!t.empty() && !t.ends_with("\r\n")) t += "\r\n";
  SetText(t + line + "\r\n");
}

bool TMemo::WantsKey(WORD key, TShiftState shift) const {
  return TCustomEdit::WantsKey(key, shift) || (key == VK_RETURN && WantReturns) ||
         (key == VK_TAB && WantTabs);
}

void TMemo::KeyPress(char& Key) {
  if (Key == '\r' && WantReturns && !ReadOnly) {
    TextInput("\r\n");
    return;
  }
  TCustomEdit::KeyPress(Key);
}

void TMemo::Paint() {
  TCanvas* c = Canvas();
  FillBackground(c, ClientRect(), Color());
  PaintLines(c, Focused());
}

// ---- TButton ----

TButton::TButton(rtl::TComponent* owner) : TWinControl(owner) {
  SetTakesFocus(true);
  SetTabStop(true);
  SetDoubleClicks(false);
  SetBounds(0, 0, 75, 25);
}

void TButton::Click() {
  if (ModalResult != mrNone)
    if (TCustomForm* form = GetParentForm(this)) form->SetModalResult(ModalResult);
  TWinControl::Click();
}

void TButton::KeyDown(WORD& Key, TShiftState Shift) {
  if (Key == VK_SPACE || Key == VK_RETURN) {
    Key = 0;
    Click();
  }
}

void TButton::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (Button == mbLeft) {
    down_ = true;
    Invalidate();
  }
  TWinControl::MouseDown(Button, Shift, X, Y);
}

void TButton::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (Button == mbLeft) {
    down_ = false;
    Invalidate();
  }
  TWinControl::MouseUp(Button, Shift, X, Y);
}

void TButton::Paint() {
  TCanvas* c = Canvas();
  TRect r = ClientRect();
  FillBackground(c, r, clBtnFace);
  if (Default || Focused()) Frame3D(*c, r, clWindowFrame, clWindowFrame, 1);
  Frame3D(*c, r, down_ ? clBtnShadow : clBtnHighlight, down_ ? clBtnHighlight : clBtnShadow, 1);
  c->Font()->SetColor(IsEnabled() ? Font()->Color() : clGrayText);
  DrawText(c, Caption(), r, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
  if (Focused()) c->DrawFocusRect(r.Inflate(-2, -2));
}

void TBitBtn::Paint() {
  TButton::Paint();
  if (Glyph.Empty()) return;
  TCanvas* c = Canvas();
  int textWidth = c->TextWidth(StripPrefix(Caption()));
  int total = Glyph.Width() + (Caption().empty() ? 0 : kMarkGap + textWidth);
  int x = (ClientWidth() - total) / 2;
  c->Draw(x, (ClientHeight() - Glyph.Height()) / 2, IsEnabled() ? Glyph : Glyph.Disabled());
}

// ---- TCheckBox, TRadioButton ----

namespace {

void PaintMarkAndCaption(TControl* control, TCanvas* c, bool round, TCheckBoxState state) {
  TRect r = control->ClientRect();
  FillBackground(c, r, control->Color());
  TRect mark = Bounds(0, (r.Height() - kMarkSize) / 2, kMarkSize, kMarkSize);
  if (round) {
    // A round mark: an octagon in the window colour, and a smaller one in the text colour for
    // the chosen button.
    auto octagon = [&](int inset, TColor colour) {
      const int a = mark.Left + inset, b = mark.Top + inset, n = kMarkSize - 1 - 2 * inset;
      const int d = (n + 1) / 3;
      c->Pen()->SetColor(inset == 0 ? clBtnShadow : colour);
      c->Brush()->SetStyle(bsSolid);
      c->Brush()->SetColor(colour);
      c->Polygon({Point(a + d, b), Point(a + n - d, b), Point(a + n, b + d),
                  Point(a + n, b + n - d), Point(a + n - d, b + n), Point(a + d, b + n),
                  Point(a, b + n - d), Point(a, b + d)});
    };
    octagon(0, state == cbGrayed ? clBtnFace : clWindow);
    if (state != cbUnchecked) octagon(4, clWindowText);
  } else {
    TRect inner = mark;
    Frame3D(*c, inner, clBtnShadow, clBtnHighlight, 1);
    FillBackground(c, inner, state == cbGrayed ? clBtnFace : clWindow);
    if (state != cbUnchecked) {
      // The tick: down from the left, up to the right, three pixels thick.
      c->Pen()->SetColor(state == cbGrayed ? clGrayText : clWindowText);
      c->Pen()->SetWidth(1);
      c->Pen()->SetStyle(psSolid);
      const int x = inner.Left + 2, y = inner.Top + 3;
      for (int dy = 0; dy < 3; ++dy)
        c->Polyline({Point(x, y + dy + 1), Point(x + 2, y + dy + 3), Point(x + 7, y + dy - 2)});
    }
  }
  TRect text{kMarkSize + kMarkGap, 0, r.Right, r.Bottom};
  c->Font()->SetColor(control->IsEnabled() ? control->Font()->Color() : clGrayText);
  DrawText(c, control->Caption(), text, DT_SINGLELINE | DT_VCENTER);
}

}  // namespace

TCheckBox::TCheckBox(rtl::TComponent* owner) : TWinControl(owner) {
  SetTakesFocus(true);
  SetTabStop(true);
  SetBounds(0, 0, 97, 17);
}

void TCheckBox::SetState(TCheckBoxState value) {
  if (value == state_) return;
  state_ = value;
  Invalidate();
  TWinControl::Click();
}

void TCheckBox::Click() {
  switch (state_) {
    case cbUnchecked:
      SetState(cbChecked);
      break;
    case cbChecked:
      SetState(AllowGrayed ? cbGrayed : cbUnchecked);
      break;
    case cbGrayed:
      SetState(cbUnchecked);
      break;
  }
}

void TCheckBox::KeyDown(WORD& Key, TShiftState) {
  if (Key == VK_SPACE) {
    Key = 0;
    Click();
  }
}

void TCheckBox::Paint() {
  PaintMarkAndCaption(this, Canvas(), false, state_);
}

TRadioButton::TRadioButton(rtl::TComponent* owner) : TWinControl(owner) {
  SetTakesFocus(true);
  SetBounds(0, 0, 113, 17);
}

void TRadioButton::SetChecked(bool value) {
  if (value == checked_) return;
  checked_ = value;
  Invalidate();
  if (value && Parent()) {
    for (int i = 0; i < Parent()->ControlCount(); ++i)
      if (auto* r = dynamic_cast<TRadioButton*>(Parent()->Controls(i)); r && r != this)
        r->SetChecked(false);
  }
  TWinControl::Click();
}

void TRadioButton::Paint() {
  PaintMarkAndCaption(this, Canvas(), true, checked_ ? cbChecked : cbUnchecked);
}

// ---- TGroupBox ----

TGroupBox::TGroupBox(rtl::TComponent* owner) : TWinControl(owner) {
  SetBounds(0, 0, 185, 105);
}

TRect TGroupBox::AlignRect() const {
  TCanvas measure;
  measure.SetFont(*Font());
  TRect r = ClientRect();
  return TRect{r.Left + 2, r.Top + measure.TextHeight("0") + 2, r.Right - 2, r.Bottom - 2};
}

void TGroupBox::Paint() {
  TCanvas* c = Canvas();
  FillBackground(c, ClientRect(), Color());
  int h = c->TextHeight("0");
  TRect frame{0, h / 2, ClientWidth(), ClientHeight()};
  Frame3D(*c, frame, clBtnShadow, clBtnHighlight, 1);
  Frame3D(*c, frame, clBtnHighlight, clBtnShadow, 1);
  if (!Caption().empty()) {
    TRect text{8, 0, ClientWidth() - 8, h};
    TRect calc = text;
    DrawText(c, Caption(), calc, DT_SINGLELINE | DT_CALCRECT);
    FillBackground(c, calc.Inflate(2, 0), Color());
    c->Font()->SetColor(IsEnabled() ? Font()->Color() : clGrayText);
    DrawText(c, Caption(), text, DT_SINGLELINE);
  }
}

// ---- TComboBox ----

TComboBox::TComboBox(rtl::TComponent* owner) : TWinControl(owner) {
  SetTakesFocus(true);
  SetTabStop(true);
  SetColor(clWindow);
  SetBounds(0, 0, 145, 21);
}

TComboBox::~TComboBox() {
  if (Screen) Screen->DropDownClosed(this);
}

void TComboBox::SetItemIndex(int value) {
  if (value < -1 || value >= items_.Count()) return;
  itemIndex_ = value;
  SetText(value >= 0 ? items_[value] : std::string());
  Invalidate();
}

void TComboBox::SetDroppedDown(bool value) {
  if (value == dropped_) return;
  if (value && !Showing()) return;
  dropped_ = value;
  hot_ = value ? itemIndex_ : -1;
  Invalidate();
  if (value) {
    if (!list_) list_ = std::make_unique<TDropDownList>(this);
    list_->Open();
    if (Screen) Screen->DropDownOpened(this, list_.get(), [this] { SetDroppedDown(false); });
    if (OnDropDown && CanFire()) OnDropDown(this);
  } else {
    if (Screen) Screen->DropDownClosed(this);
    if (list_) list_->Hide();
    if (OnCloseUp && CanFire()) OnCloseUp(this);
  }
}

void TComboBox::SetHotIndex(int index) {
  if (index < -1 || index >= items_.Count() || index == hot_) return;
  hot_ = index;
  if (list_ && dropped_) list_->Items()->ShowHot();
}

void TComboBox::Choose(int index) {
  SetDroppedDown(false);
  if (index < 0 || index >= items_.Count() || index == itemIndex_) return;
  SetItemIndex(index);
  if (OnChange && CanFire()) OnChange(this);
}

bool TComboBox::WantsKey(WORD key, TShiftState shift) const {
  return TWinControl::WantsKey(key, shift) || (dropped_ && (key == VK_RETURN || key == VK_ESCAPE));
}

void TComboBox::KeyDown(WORD& Key, TShiftState Shift) {
  int n = items_.Count();
  if (Key == VK_F4 || (Shift.Contains(ssAlt) && Key == VK_DOWN)) {
    SetDroppedDown(!dropped_);
    return;
  }
  if (dropped_) {
    if (Key == VK_UP || Key == VK_DOWN) {
      SetHotIndex(std::clamp(hot_ + (Key == VK_UP ? -1 : 1), 0, std::max(0, n - 1)));
    } else if (Key == VK_RETURN) {
      Choose(hot_);
    } else if (Key == VK_ESCAPE) {
      SetDroppedDown(false);
    }
    Key = 0;
    return;
  }
  // Closed, the arrows choose at once.
  if ((Key == VK_UP || Key == VK_DOWN) && n > 0) {
    Choose(std::clamp(itemIndex_ + (Key == VK_UP ? -1 : 1), 0, n - 1));
    Key = 0;
  }
}

void TComboBox::DoExit() {
  SetDroppedDown(false);
  TWinControl::DoExit();
}

int TComboBox::ListItemAt(TPoint p) const {
  if (!list_ || !dropped_) return -1;
  const TDropDownItems* rows = list_->Items();
  return rows->ItemAt(rows->ScreenToClient(ClientToScreen(p)));
}

void TComboBox::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TWinControl::MouseDown(Button, Shift, X, Y);
  if (Button == mbLeft) SetDroppedDown(!dropped_);
}

void TComboBox::MouseMove(TShiftState Shift, int X, int Y) {
  TWinControl::MouseMove(Shift, X, Y);
  // A press on the box dragged over the list makes the item under the pointer hot.
  if (!MouseCaptured()) return;
  const int index = ListItemAt(Point(X, Y));
  if (index >= 0) SetHotIndex(index);
}

void TComboBox::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  TWinControl::MouseUp(Button, Shift, X, Y);
  // ... and let go there, chooses it.
  if (Button != mbLeft) return;
  const int index = ListItemAt(Point(X, Y));
  if (index >= 0) Choose(index);
}

void TComboBox::Paint() {
  TCanvas* c = Canvas();
  TRect r = ClientRect();
  FillBackground(c, r, IsEnabled() ? Color() : clBtnFace);
  TRect text{2, 0, r.Right - 18, r.Bottom};
  if (Focused() && Style == csDropDownList) {
    FillBackground(c, text, clHighlight);
    c->Font()->SetColor(clHighlightText);
  } else {
    c->Font()->SetColor(IsEnabled() ? Font()->Color() : clGrayText);
  }
  DrawText(c, Text(), text, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  TRect button{r.Right - 17, 1, r.Right - 1, r.Bottom - 1};
  FillBackground(c, button, clBtnFace);
  c->Brush()->SetColor(clBtnText);
  int cx = button.Left + button.Width() / 2, cy = button.Top + button.Height() / 2;
  c->Polygon({Point(cx - 3, cy - 1), Point(cx + 3, cy - 1), Point(cx, cy + 2)});
}
