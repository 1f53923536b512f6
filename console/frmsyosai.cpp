#include "console/frmsyosai.h"

#include <vector>

#include "console/frmwatch.h"
#include "console/records.h"
#include "console/texts.h"
#include "console/viewertexts.h"
#include "rtl/cp932.h"

TFrmSyosai* FrmSyosai = nullptr;

namespace {

// The layout, in client pixels: the panel with the ten rows and the two arrows, the buttons below.
constexpr int kMargin = 8;
constexpr int kPanelWidth = 433;
constexpr int kPanelHeight = 314;
constexpr int kRowTop = 14;
constexpr int kRowPitch = 29;
constexpr int kCaptionLeft = 12;
constexpr int kValueLeft = 124;
// The values of the rows beside the arrow buttons stop short of them; the rows below reach as far
// in from the panel's right edge as the captions are from its left.
constexpr int kValueWidth = 214;
constexpr int kFirstWideRow = 4;
constexpr int kWideValueWidth = kPanelWidth - kCaptionLeft - kValueLeft;
constexpr int kValueHeight = 14;
// The row of "FileName", shortened as a path.
constexpr int kFileNameRow = 9;
constexpr int kArrowWidth = 75;
constexpr int kArrowHeight = 41;
constexpr int kArrowLeft = kPanelWidth - kArrowWidth - 10;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
// "Date" splits into the date and the time of day.
constexpr size_t kDateChars = 10;
constexpr size_t kTimeChars = 8;

// A black arrow on a transparent 24 x 24 picture, pointing up or down.
TBitmap Arrow(bool up) {
  constexpr int kSize = 24;
  TBitmap b(kSize, kSize, 0x00000000u);
  for (int row = 0; row < 8; ++row) {  // the head: rows of 1, 3, 5 ... pixels
    const int y = up ? 5 + row : kSize - 6 - row;
    for (int x = 12 - row; x <= 12 + row; ++x)
      b.SetPixel(x, y, 0xFF000000u);
  }
  for (int y = 13; y <= 18; ++y) {  // the shaft
    const int yy = up ? y : kSize - 1 - y;
    for (int x = 10; x <= 14; ++x)
      b.SetPixel(x, yy, 0xFF000000u);
  }
  return b;
}

// A value: data text, drawn as it is ("&" is no accelerator) and shortened with an ellipsis when
// it does not fit. While it is cut its hint holds it whole, and shows it whole ("|" too).
class TValueLabel : public TLabel {
 public:
  using TLabel::TLabel;
  std::string ShortHint() const override { return Hint; }
};

template <typename Label = TLabel>
Label* AddLabel(rtl::TComponent* owner, TWinControl* parent, const char* name, int left, int top) {
  auto* label = new Label(owner);
  label->Name = name;
  label->SetParent(parent);
  label->SetLeft(left);
  label->SetTop(top);
  return label;
}

}  // namespace

std::string DatePart(const std::string& date, size_t count, bool head) {
  // The byte offset where each character starts.
  std::vector<size_t> starts;
  for (size_t i = 0; i < date.size(); i += rtl::CharLength(date, i))
    starts.push_back(i);
  if (starts.size() <= count) return date;
  return head ? date.substr(0, starts[count]) : date.substr(starts[starts.size() - count]);
}

TFrmSyosai::TFrmSyosai(rtl::TComponent* Owner) : TForm(Owner) {
  Name = "FrmSyosai";
  SetCaption(console::text::kSyosaiCaption);
  Position = poScreenCenter;
  SetBorderStyle(bsDialog);
  BorderIcons = TBorderIcons{biSystemMenu, biHelp};
  Font()->SetName(console::text::kFontName);
  Font()->SetHeight(-12);
  SetWidth(457);
  SetHeight(402);

  PnlSyosai = new TPanel(this);
  PnlSyosai->Name = "PnlSyosai";
  PnlSyosai->SetParent(this);
  PnlSyosai->SetBounds(kMargin, kMargin, kPanelWidth, kPanelHeight);
  PnlSyosai->SetBevelOuter(bvLowered);
  PnlSyosai->SetCaption("");
  TLabel** values[] = {&LblDate,      &LblTime,     &LblOperation, &LblHostName,   &LblComment,
                       &LblIPAddress, &LblUserName, &LblDriveName, &LblDeviceName, &LblFileName};
  static const char* const kValueNames[] = {
      "LblDate",      "LblTime",     "LblOperation", "LblHostName",   "LblComment",
      "LblIPAddress", "LblUserName", "LblDriveName", "LblDeviceName", "LblFileName"};
  for (int i = 0; i < 10; ++i) {
    const int top = kRowTop + i * kRowPitch;
    TLabel* caption = AddLabel(this, PnlSyosai, ("LblCaption" + std::to_string(i + 1)).c_str(),
                               kCaptionLeft, top);
    caption->SetCaption(console::text::kSyosaiRows[i]);
    TLabel* value = AddLabel<TValueLabel>(this, PnlSyosai, kValueNames[i], kValueLeft, top);
    value->SetAutoSize(false);
    value->SetBounds(kValueLeft, top, i < kFirstWideRow ? kValueWidth : kWideValueWidth,
                     kValueHeight);
    value->ShowAccelChar = false;  // data: an "&" is shown, never taken for an accelerator
    value->EllipsisPosition = i == kFileNameRow ? epPathEllipsis : epEndEllipsis;
    value->SetShowHint(true);
    value->SetCaption("");
    *values[i] = value;
  }

  BtnUp = new TBitBtn(this);
  BtnUp->Name = "BtnUp";
  BtnUp->SetParent(PnlSyosai);
  BtnUp->SetBounds(kArrowLeft, kRowTop, kArrowWidth, kArrowHeight);
  BtnUp->SetCaption("");
  BtnUp->Glyph = Arrow(true);
  BtnDown = new TBitBtn(this);
  BtnDown->Name = "BtnDown";
  BtnDown->SetParent(PnlSyosai);
  BtnDown->SetBounds(kArrowLeft, kRowTop + kArrowHeight + 8, kArrowWidth, kArrowHeight);
  BtnDown->SetCaption("");
  BtnDown->Glyph = Arrow(false);

  const int buttonsTop = kMargin + kPanelHeight + 12;
  const int buttonsLeft = kMargin + kPanelWidth - 2 * kButtonWidth - 8;
  BtnOk = new TButton(this);
  BtnOk->Name = "BtnOk";
  BtnOk->SetParent(this);
  BtnOk->SetBounds(buttonsLeft, buttonsTop, kButtonWidth, kButtonHeight);
  BtnOk->SetCaption("OK");
  BtnOk->ModalResult = mrOk;
  BtnOk->Default = true;
  BtnCancel = new TButton(this);
  BtnCancel->Name = "BtnCancel";
  BtnCancel->SetParent(this);
  BtnCancel->SetBounds(buttonsLeft + kButtonWidth + 8, buttonsTop, kButtonWidth, kButtonHeight);
  BtnCancel->SetCaption("Cancel");
  BtnCancel->ModalResult = mrCancel;
  BtnCancel->Cancel = true;

  OnShow = [this](rtl::TObject* s) { FormShow(s); };
  BtnUp->OnClick = [this](rtl::TObject* s) { BtnUpClick(s); };
  BtnDown->OnClick = [this](rtl::TObject* s) { BtnDownClick(s); };
  FrmSyosai = this;
}

TKStringGrid* TFrmSyosai::Grid() {
  return FrmWatch != nullptr ? FrmWatch->GrdWatch : nullptr;
}

void TFrmSyosai::ShowCurrentRow() {
  TKStringGrid* grid = Grid();
  const int row = grid != nullptr ? grid->CurrentRow() : -1;
  if (row < 0) return;
  const auto text = [&](int field) {
    TKGridColumn* column = grid->Columns()->FindByName(console::kRecordFields[field]);
    return column != nullptr ? column->GetRowText(row) : std::string();
  };
  const std::string date = text(0);
  ShowValue(LblDate, DatePart(date, kDateChars, true));
  ShowValue(LblTime, DatePart(date, kTimeChars, false));
  TLabel* const rest[] = {LblOperation, LblHostName,  LblComment,    LblIPAddress,
                          LblUserName,  LblDriveName, LblDeviceName, LblFileName};
  for (int i = 1; i < console::kRecordFieldCount; ++i)
    ShowValue(rest[i - 1], text(i));
}

void TFrmSyosai::ShowValue(TLabel* label, const std::string& value) {
  label->SetCaption(value);
  TCanvas measure;
  measure.SetFont(*label->Font());
  label->Hint = measure.TextWidth(value) > label->ClientWidth() ? value : std::string();
}

void TFrmSyosai::FormShow(rtl::TObject* Sender) {
  ShowCurrentRow();
}

void TFrmSyosai::StepTo(int row) {
  Grid()->SetCurrentRow(row);
  ShowCurrentRow();
}

void TFrmSyosai::BtnUpClick(rtl::TObject* Sender) {
  TKStringGrid* grid = Grid();
  if (grid != nullptr && grid->CurrentRow() > 0) StepTo(grid->CurrentRow() - 1);
}

void TFrmSyosai::BtnDownClick(rtl::TObject* Sender) {
  TKStringGrid* grid = Grid();
  if (grid != nullptr && grid->CurrentRow() >= 0 && grid->CurrentRow() < grid->RowCount() - 1)
    StepTo(grid->CurrentRow() + 1);
}
