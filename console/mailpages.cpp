// The mail settings pages TabMail and TamMailEnv: their controls, the filling from the settings
// file when the window is first shown, and the check and save of "設定保存".
#include "collector/password.h"
#include "console/frmwatch.h"
#include "console/pagetexts.h"
#include "console/texts.h"
#include "platform/ui/core/application.h"
#include "settings/keys.h"

namespace {

// Layout, in pixels.
constexpr int kEditHeight = 21;
constexpr int kRuleGroupHeight = 208;
constexpr int kRuleLabelWidth = 100;  // the rule grid's column 0
constexpr int kGridSlack = 10;        // the rule grid's height beyond its five rows

TGroupBox* AddGroup(rtl::TComponent* owner, TWinControl* parent, const char* name,
                    const char* caption) {
  auto* group = new TGroupBox(owner);
  group->Name = name;
  group->SetParent(parent);
  group->SetCaption(caption);
  return group;
}

TLabel* AddLabel(rtl::TComponent* owner, TWinControl* parent, const char* name, const char* caption,
                 int left, int top) {
  auto* label = new TLabel(owner);
  label->Name = name;
  label->SetParent(parent);
  label->SetCaption(caption);
  label->SetLeft(left);
  label->SetTop(top);
  return label;
}

TEdit* AddEdit(rtl::TComponent* owner, TWinControl* parent, const char* name, int left, int top,
               int width) {
  auto* edit = new TEdit(owner);
  edit->Name = name;
  edit->SetParent(parent);
  edit->SetBounds(left, top, width, kEditHeight);
  edit->SetText("");
  return edit;
}

// A port's edit: narrow, its default text in it, passed over by Tab.
TEdit* AddPortEdit(rtl::TComponent* owner, TWinControl* parent, const char* name, int left, int top,
                   int width, const settings::KeyDef& key) {
  TEdit* edit = AddEdit(owner, parent, name, left, top, width);
  edit->SetText(key.Default);
  edit->SetTabStop(false);
  return edit;
}

TRadioButton* AddRadio(rtl::TComponent* owner, TWinControl* parent, const char* name,
                       const char* caption, int left, int top) {
  auto* radio = new TRadioButton(owner);
  radio->Name = name;
  radio->SetParent(parent);
  radio->SetCaption(caption);
  radio->SetBounds(left, top, 65, 17);
  return radio;
}

}  // namespace

void TFrmWatch::BuildMailPages() {
  namespace t = console::text;

  // ---- TabMail: the rule grid over the alert text ----
  GrpRule = AddGroup(this, TabMail, "GrpRule", t::kGrpRule);
  GrpRule->SetAlign(alTop);
  GrpRule->SetHeight(kRuleGroupHeight);
  GrdRule = new TStringGrid(this);
  GrdRule->Name = "GrdRule";
  GrdRule->SetParent(GrpRule);
  GrdRule->SetBounds(16, 24, 665, 137);
  GrdRule->SetColCount(2);
  GrdRule->SetRowCount(5);
  GrdRule->SetFixedCols(1);
  GrdRule->SetFixedRows(0);
  GrdRule->SetScrollBars(ssNone);
  GrdRule->Font()->SetName(t::kFontName);
  GrdRule->Font()->SetHeight(-12);
  GrdRule->Font()->SetCharset(SHIFTJIS_CHARSET);
  GrdRule->SetOptions(
      {goFixedVertLine, goFixedHorzLine, goVertLine, goHorzLine, goEditing, goAlwaysShowEditor});

  GrpContent = AddGroup(this, TabMail, "GrpContent", t::kGrpContent);
  GrpContent->SetAlign(alClient);
  LblSubject = AddLabel(this, GrpContent, "LblSubject", t::kLblSubject, 16, 24);
  EdtSubject = AddEdit(this, GrpContent, "EdtSubject", 16, 40, 665);
  LblBody = AddLabel(this, GrpContent, "LblBody", t::kLblBody, 16, 72);
  MemBody = new TMemo(this);
  MemBody->Name = "MemBody";
  MemBody->SetParent(GrpContent);
  MemBody->SetBounds(16, 88, 665, 161);
  MemBody->SetText("");
  LblWords = AddLabel(this, GrpContent, "LblWords", t::kLblWords, 16, 256);

  // ---- TamMailEnv: servers and addresses, controls made in tab order ----
  GrpServer = AddGroup(this, TamMailEnv, "GrpServer", t::kGrpServer);
  GrpServer->SetBounds(8, 8, 641, 273);
  LblSmtpServer = AddLabel(this, GrpServer, "LblSmtpServer", t::kLblSmtpServer, 16, 28);
  EdtSmtpServer = AddEdit(this, GrpServer, "EdtSmtpServer", 136, 24, 417);
  LblSmtpPort = AddLabel(this, GrpServer, "LblSmtpPort", t::kLblPort, 558, 28);
  EdtSmtpPort = AddPortEdit(this, GrpServer, "EdtSmtpPort", 596, 24, 39, settings::kSmtpPort);
  ChkPopSmtp = new TCheckBox(this);
  ChkPopSmtp->Name = "ChkPopSmtp";
  ChkPopSmtp->SetParent(GrpServer);
  ChkPopSmtp->SetCaption(t::kChkPopSmtp);
  ChkPopSmtp->SetBounds(136, 52, 120, 17);
  GrpPop = AddGroup(this, GrpServer, "GrpPop", "");
  GrpPop->SetBounds(136, 72, 417, 89);
  LblPopServer = AddLabel(this, GrpPop, "LblPopServer", t::kLblPopServer, 12, 20);
  EdtPopServer = AddEdit(this, GrpPop, "EdtPopServer", 90, 16, 225);
  LblPopPort = AddLabel(this, GrpPop, "LblPopPort", t::kLblPort, 322, 20);
  EdtPopPort = AddPortEdit(this, GrpPop, "EdtPopPort", 360, 16, 33, settings::kPopPort);
  LblPopUser = AddLabel(this, GrpPop, "LblPopUser", t::kLblPopUser, 12, 54);
  EdtPopUser = AddEdit(this, GrpPop, "EdtPopUser", 90, 50, 113);
  LblPopPasswd = AddLabel(this, GrpPop, "LblPopPasswd", t::kLblPopPasswd, 214, 54);
  EdtPopPasswd = AddEdit(this, GrpPop, "EdtPopPasswd", 280, 50, 113);
  EdtPopPasswd->PasswordChar = '*';
  LblFromMail = AddLabel(this, GrpServer, "LblFromMail", t::kLblFromMail, 16, 180);
  EdtFromMail = AddEdit(this, GrpServer, "EdtFromMail", 136, 176, 415);
  LblToMail = AddLabel(this, GrpServer, "LblToMail", t::kLblToMail, 16, 212);
  EdtToMail = AddEdit(this, GrpServer, "EdtToMail", 136, 208, 415);
  LblToMailNote = AddLabel(this, GrpServer, "LblToMailNote", t::kLblToMailNote, 136, 236);

  GrpReport = AddGroup(this, TamMailEnv, "GrpReport", t::kGrpReport);
  GrpReport->SetBounds(8, 289, 641, 81);
  LblReport = AddLabel(this, GrpReport, "LblReport", t::kLblReport, 16, 36);
  RdoReportNo = AddRadio(this, GrpReport, "RdoReportNo", t::kRdoReportNo, 136, 34);
  RdoReportYes = AddRadio(this, GrpReport, "RdoReportYes", t::kRdoReportYes, 216, 34);
  RdoReportNo->SetChecked(true);

  ChkPopSmtp->OnClick = [this](rtl::TObject* s) { ChkPopSmtpClick(s); };
}

void TFrmWatch::InitSettingsPage() {
  PagWatch->SetActivePage(TabAdmin);
  GrdRule->SetColWidths(0, kRuleLabelWidth);
  for (int row = 0; row < settings::kWordCount; ++row)
    GrdRule->SetCells(0, row, console::text::kRuleLabel[row]);
  GrdRule->SetColWidths(1, GrdRule->Width() - GrdRule->ColWidths(0));
  GrdRule->SetHeight(GrdRule->RowHeights(0) * settings::kWordCount + kGridSlack);
  for (TCustomEdit* edit :
       std::initializer_list<TCustomEdit*>{EdtSubject, MemBody, EdtSmtpServer, EdtPopServer,
                                           EdtPopUser, EdtPopPasswd, EdtFromMail, EdtToMail})
    edit->SetText("");
  RdoReportNo->SetChecked(true);
}

void TFrmWatch::LoadSettings() {
  using namespace settings;
  const TIniFileCompo& ini = *WatchIni;
  for (int row = 0; row < kWordCount; ++row)
    GrdRule->SetCells(1, row, ReadSetting(ini, kWord[row]));
  // The editor that is always shown holds the text its cell had before: it takes the new one.
  if (GrdRule->EditorMode()) GrdRule->SetEditorMode(true);
  EdtSubject->SetText(ReadSetting(ini, kSubject));
  MemBody->SetText(BodyFromSetting(ReadSetting(ini, kBody)));
  EdtSmtpServer->SetText(ReadSetting(ini, kSmtpServer));
  EdtSmtpPort->SetText(ReadSetting(ini, kSmtpPort));
  ChkPopSmtp->SetChecked(ConsoleFlagOn(ReadSetting(ini, kPopBeforeSmtp)));
  ChkPopSmtpClick(ChkPopSmtp);
  EdtPopServer->SetText(ReadSetting(ini, kPopServer));
  EdtPopPort->SetText(ReadSetting(ini, kPopPort));
  EdtPopUser->SetText(ReadSetting(ini, kPopUser));
  EdtPopPasswd->SetText(DecryptSetting(ReadSetting(ini, kPopPasswd), kSettingPassphrase));
  EdtFromMail->SetText(ReadSetting(ini, kFromMail));
  EdtToMail->SetText(ReadSetting(ini, kToMail));
  if (ConsoleFlagOn(ReadSetting(ini, kReportSend)))
    RdoReportYes->SetChecked(true);
  else
    RdoReportNo->SetChecked(true);
}

void TFrmWatch::ChkPopSmtpClick(rtl::TObject* Sender) {
  const bool on = ChkPopSmtp->Checked();
  for (TControl* c :
       std::initializer_list<TControl*>{GrpPop, EdtPopServer, EdtPopPort, EdtPopUser, EdtPopPasswd,
                                        LblPopServer, LblPopPort, LblPopUser, LblPopPasswd})
    c->SetEnabled(on);
}

bool TFrmWatch::CheckMailSettings() {
  namespace t = console::text;
  auto refuse = [](const char* text, TEdit* edit) {
    ShowMessage(text);
    edit->SetFocus();
    return true;
  };
  if (!EdtSmtpServer->Text().empty()) {
    if (EdtFromMail->Text().empty()) return refuse(t::kNoFromMail, EdtFromMail);
    if (EdtToMail->Text().empty()) return refuse(t::kNoToMail, EdtToMail);
    return false;
  }
  // No server: mail is off, unless an address says otherwise.
  if (EdtFromMail->Text().empty() && EdtToMail->Text().empty()) return false;
  return refuse(t::kNoSmtpServer, EdtSmtpServer);
}

void TFrmWatch::SaveSettings() {
  using namespace settings;
  if (CheckMailSettings()) return;
  // Every value goes to memory first and the file is written once at the end. Written key by
  // key, a file that cannot be written would fail at the first key and leave the rest of the
  // save out of the settings the console's own collection reads; this way a failure leaves all
  // the new values in memory and the old file whole. A save that succeeds writes the same file.
  struct TDeferWrites {
    TIniFileCompo& ini;
    const bool atOnce = ini.UpdateAtOnce;
    explicit TDeferWrites(TIniFileCompo& i) : ini(i) { ini.UpdateAtOnce = false; }
    ~TDeferWrites() { ini.UpdateAtOnce = atOnce; }
  };
  {
    TDeferWrites defer(*WatchIni);
    TIniFileCompo& ini = *WatchIni;
    for (int row = 0; row < kWordCount; ++row)
      WriteSetting(ini, kWord[row], GrdRule->Cells(1, row));
    WriteSetting(ini, kSubject, EdtSubject->Text());
    WriteSetting(ini, kBody, BodyToSetting(MemBody->Text()));
    WriteSetting(ini, kSmtpServer, EdtSmtpServer->Text());
    WriteSetting(ini, kSmtpPort, EdtSmtpPort->Text());
    WriteSetting(ini, kPopBeforeSmtp, FlagText(ChkPopSmtp->Checked()));
    // The POP keys keep their last saved values while POP before SMTP is off.
    if (ChkPopSmtp->Checked()) {
      WriteSetting(ini, kPopServer, EdtPopServer->Text());
      WriteSetting(ini, kPopPort, EdtPopPort->Text());
      WriteSetting(ini, kPopUser, EdtPopUser->Text());
      WriteSetting(ini, kPopPasswd, EncryptSetting(EdtPopPasswd->Text(), kSettingPassphrase));
    }
    WriteSetting(ini, kFromMail, EdtFromMail->Text());
    WriteSetting(ini, kToMail, EdtToMail->Text());
    WriteSetting(ini, kReportSend, FlagText(!RdoReportNo->Checked()));
  }
  WatchIni->UpdateFile();
}

void TFrmWatch::BtnSaveClick(rtl::TObject* Sender) {
  // A failure reaches the toolkit, which shows its message.
  SaveSettings();
}
