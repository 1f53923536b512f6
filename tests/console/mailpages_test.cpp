// The mail settings pages on the headless widget set: the main window as the program makes it
// (its hand-over left out: the first show does nothing here), its settings file in a folder of
// the test's, the pages filled, edited and saved through the tool bar as the user does.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "collector/password.h"
#include "console/frmwatch.h"
#include "platform/ui/testkit/testkit.h"
#include "rtl/cp932.h"
#include "rtl/exception.h"
#include "settings/keys.h"
#include "tests/support/files.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;

const std::string kNoFromMail = rtl::Utf8ToCp932("送信元メールアドレスを設定してください。");
const std::string kNoToMail = rtl::Utf8ToCp932("送信先メールアドレスを設定してください。");
const std::string kNoSmtpServer = rtl::Utf8ToCp932("SMTPサーバを設定してください。");

std::string Encrypted(const std::string& password) {
  return EncryptSetting(password, kSettingPassphrase);
}

class MailPages : public ::testing::Test {
 protected:
  void SetUp() override {
    kit_.App.CreateForm(form_);
    ASSERT_EQ(form_, FrmWatch);
    // The hand-over is not part of these tests: the first show only shows the window.
    form_->OnShow = nullptr;
    form_->Show();
    ini_ = folder_.File("KelvadonMan.ini");
  }

  // Writes text as the settings file (none when text is null), then prepares and fills the pages
  // as the first show does.
  void Load(const char* text) {
    if (text) folder_.Write("KelvadonMan.ini", text);
    form_->WatchIni->SetFileName(ini_);
    form_->InitSettingsPage();
    form_->LoadSettings();
  }

  // "設定保存" on the tool bar, as the user clicks it.
  void ClickSave() { uitest::Click(form_->BtnSave, 4, 4); }

  std::string Setting(const settings::KeyDef& key) const {
    return settings::ReadSetting(*form_->WatchIni, key);
  }

  TempDir folder_{"kwmail"};
  uitest::TTestApp kit_;
  TFrmWatch* form_ = nullptr;
  std::string ini_;
};

// Every POP control, group and labels included.
std::vector<TControl*> PopControls(TFrmWatch* f) {
  return {f->GrpPop,       f->EdtPopServer, f->EdtPopPort, f->EdtPopUser,  f->EdtPopPasswd,
          f->LblPopServer, f->LblPopPort,   f->LblPopUser, f->LblPopPasswd};
}

// The rule grid shows no scroll bar although its second column, as wide as the grid, passes the
// edge; the alert text has none either, yet its caret and the wheel bring every line into view.
TEST_F(MailPages, TheRuleGridHasNoBarAndTheAlertTextScrollsWithoutOne) {
  Load(nullptr);
  TStringGrid* rules = form_->GrdRule;
  EXPECT_GT(rules->ColWidths(0) + rules->GridLineWidth + rules->ColWidths(1), rules->ClientWidth())
      << "the columns and the line between them pass the edge";
  EXPECT_FALSE(rules->ControlScrollBars()->Showing(sbHorizontal));
  EXPECT_FALSE(rules->ControlScrollBars()->Showing(sbVertical));
  EXPECT_EQ(rules->ClientRect(), Rect(0, 0, rules->Width(), rules->Height()));

  TMemo* body = form_->MemBody;
  EXPECT_FALSE(body->ControlScrollBars()->Showing(sbVertical));
  form_->PagWatch->SetActivePage(form_->TabMail);
  body->SetFocus();
  std::string text;
  for (int i = 1; i <= 30; ++i)
    text += "line " + std::to_string(i) + "\r\n";
  uitest::Type(form_, text);
  EXPECT_EQ(body->TopLine(), 31 - body->VisibleLines()) << "the caret's line shows";
  uitest::Key(form_, VK_HOME, TShiftState{ssCtrl});
  EXPECT_EQ(body->TopLine(), 0);
  uitest::Wheel(body, 20, 20, -120);
  EXPECT_EQ(body->TopLine(), 3);
}

TEST_F(MailPages, AMissingFileShowsTheDefaults) {
  Load(nullptr);
  EXPECT_EQ(form_->PagWatch->ActivePage(), form_->TabAdmin);
  for (int row = 0; row < 5; ++row) {
    EXPECT_EQ(form_->GrdRule->Cells(0, row),
              rtl::Utf8ToCp932("監視ワード" + std::to_string(row + 1)));
    EXPECT_EQ(form_->GrdRule->Cells(1, row), "");
  }
  EXPECT_EQ(form_->GrdRule->ColWidths(0), 100);
  EXPECT_EQ(form_->GrdRule->ColWidths(1), form_->GrdRule->Width() - 100);
  EXPECT_EQ(form_->GrdRule->Height(), form_->GrdRule->RowHeights(0) * 5 + 10);
  EXPECT_EQ(form_->EdtSmtpPort->Text(), "25");
  EXPECT_EQ(form_->EdtPopPort->Text(), "110");
  EXPECT_FALSE(form_->ChkPopSmtp->Checked());
  for (TControl* c : PopControls(form_))
    EXPECT_FALSE(c->Enabled()) << c->Name;
  EXPECT_TRUE(form_->RdoReportNo->Checked());
  EXPECT_FALSE(form_->RdoReportYes->Checked());
}

// What a file shows; the flags as the console reads them (only "0" is off).
TEST_F(MailPages, TheFileIsShownOnThePages) {
  const std::string file =
      "[Mail]\r\nWord1=usb,copy\r\nWord2=print\r\nWord3=" + rtl::Utf8ToCp932("機密") +
      "\r\nSubject=Alert\r\nBody=line one\tline two\r\n"
      "[MailEnv]\r\nSmtpServer=smtp.example\r\nSmtpPort=2525\r\n"
      "PopBeforeSmtp=\r\nPopServer=pop.example\r\nPopPort=1110\r\n"
      "PopUser=alice\r\nPopPasswd=" +
      Encrypted("se cret") +
      "\r\nFromMail=from@example\r\nToMail=a@example, b@example\r\n"
      "ReportSend=\r\n";
  Load(file.c_str());
  EXPECT_EQ(form_->GrdRule->Cells(1, 0), "usb,copy");
  EXPECT_EQ(form_->GrdRule->Cells(1, 1), "print");
  EXPECT_EQ(form_->GrdRule->Cells(1, 2), rtl::Utf8ToCp932("機密"));
  EXPECT_EQ(form_->GrdRule->Cells(1, 3), "");
  // The editor that is always shown over the current rule shows its text too.
  ASSERT_NE(form_->GrdRule->InplaceEditor(), nullptr);
  EXPECT_TRUE(form_->GrdRule->EditorMode());
  EXPECT_NE(form_->GrdRule->Cells(1, form_->GrdRule->Row()), "");
  EXPECT_EQ(form_->GrdRule->InplaceEditor()->Text(),
            form_->GrdRule->Cells(1, form_->GrdRule->Row()));
  EXPECT_EQ(form_->EdtSubject->Text(), "Alert");
  EXPECT_EQ(form_->MemBody->Lines(), (std::vector<std::string>{"line one", "line two"}));
  EXPECT_EQ(form_->EdtSmtpServer->Text(), "smtp.example");
  EXPECT_EQ(form_->EdtSmtpPort->Text(), "2525");
  EXPECT_TRUE(form_->ChkPopSmtp->Checked());  // "" is not "0"
  for (TControl* c : PopControls(form_))
    EXPECT_TRUE(c->Enabled()) << c->Name;
  EXPECT_EQ(form_->EdtPopServer->Text(), "pop.example");
  EXPECT_EQ(form_->EdtPopPort->Text(), "1110");
  EXPECT_EQ(form_->EdtPopUser->Text(), "alice");
  EXPECT_EQ(form_->EdtPopPasswd->Text(), "se cret");
  form_->PagWatch->SetActivePage(form_->TamMailEnv);
  EXPECT_EQ(uitest::Paint(form_->EdtPopPasswd)->Texts(form_->EdtPopPasswd),
            std::vector<std::string>{"*******"});
  EXPECT_EQ(form_->EdtFromMail->Text(), "from@example");
  EXPECT_EQ(form_->EdtToMail->Text(), "a@example, b@example");
  EXPECT_TRUE(form_->RdoReportYes->Checked());  // "" is not "0"
  EXPECT_FALSE(form_->RdoReportNo->Checked());
}

// Tab walks the server page in the order of its fields, passing over the two ports.
TEST_F(MailPages, TabWalksTheServerPageInOrder) {
  Load("[MailEnv]\r\nPopBeforeSmtp=1\r\n");
  form_->EdtSmtpServer->SetFocus();
  EXPECT_EQ(form_->PagWatch->ActivePage(), form_->TamMailEnv);
  for (TWinControl* next : std::initializer_list<TWinControl*>{
           form_->ChkPopSmtp, form_->EdtPopServer, form_->EdtPopUser, form_->EdtPopPasswd,
           form_->EdtFromMail, form_->EdtToMail}) {
    uitest::Key(form_, VK_TAB);
    EXPECT_EQ(form_->ActiveControl(), next) << next->Name;
  }
}

TEST_F(MailPages, APasswordThatCannotBeDecipheredShowsEmpty) {
  Load("[MailEnv]\r\nPopBeforeSmtp=1\r\nPopPasswd=abcde\r\n");
  EXPECT_EQ(form_->EdtPopPasswd->Text(), "");
}

// The check before saving: the server, the sender and the recipients all given or all empty. A
// refusal says what is missing, shows its edit with the focus, and writes nothing.
TEST_F(MailPages, TheCheckBeforeSavingRefusesAnIncompleteMailSetting) {
  const char* const kOld = "[MailEnv]\r\nSmtpServer=old\r\nFromMail=old@example\r\n";
  struct Case {
    const char* server;
    const char* from;
    const char* to;
    const std::string* message;  // null: accepted
    TEdit* TFrmWatch::*focus;
  } cases[] = {
      {"", "", "", nullptr, nullptr},
      {"smtp.example", "", "to@example", &kNoFromMail, &TFrmWatch::EdtFromMail},
      {"smtp.example", "", "", &kNoFromMail, &TFrmWatch::EdtFromMail},
      {"smtp.example", "from@example", "", &kNoToMail, &TFrmWatch::EdtToMail},
      {"", "from@example", "to@example", &kNoSmtpServer, &TFrmWatch::EdtSmtpServer},
      {"", "", "to@example", &kNoSmtpServer, &TFrmWatch::EdtSmtpServer},
      // A blank is text.
      {" ", "", "", &kNoFromMail, &TFrmWatch::EdtFromMail},
      {"smtp.example", " ", " ", nullptr, nullptr},
      {"smtp.example", "from@example", "to@example", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("server \"") + c.server + "\" from \"" + c.from + "\" to \"" + c.to +
                 "\"");
    Load(kOld);
    form_->PagWatch->SetActivePage(form_->TabMail);
    form_->EdtSmtpServer->SetText(c.server);
    form_->EdtFromMail->SetText(c.from);
    form_->EdtToMail->SetText(c.to);
    if (c.message) kit_.WidgetSet.ExpectBox(*c.message, IDOK);
    ClickSave();
    EXPECT_EQ(kit_.WidgetSet.PendingBoxes(), 0u);
    if (c.message) {
      EXPECT_EQ(ReadFile(ini_), kOld);
      EXPECT_EQ(Setting(settings::kSmtpServer), "old");
      EXPECT_EQ(form_->ActiveControl(), form_->*c.focus);
      EXPECT_EQ(form_->PagWatch->ActivePage(), form_->TamMailEnv);
    } else {
      EXPECT_EQ(Setting(settings::kSmtpServer), c.server);
      EXPECT_EQ(Setting(settings::kFromMail), c.from);
      EXPECT_EQ(Setting(settings::kToMail), c.to);
      const std::string written = ReadFile(ini_);
      EXPECT_NE(written.find(std::string("\r\nSmtpServer=") + c.server + "\r\n"), std::string::npos)
          << written;
    }
  }
}

// A save rewrites the keys in place, adds the missing ones in the order written, keeps every
// other line and section, and ends every line in CR LF. The values are in the console's settings
// at once.
TEST_F(MailPages, TheSavedFileByteForByte) {
  Load(
      "; kept only while loading\r\n"
      "[KelvadonManager]\r\nPort=4123\r\nOwn=kept\r\n"
      "[MailEnv]\r\nToMail=old@example\r\nUnknown=stays\r\nSmtpServer=old\r\n"
      "[Other]\r\nKey=value\r\n");
  const char* rules[] = {"usb", "", "secret,copy", "", "x"};
  for (int row = 0; row < 5; ++row)
    form_->GrdRule->SetCells(1, row, rules[row]);
  form_->EdtSubject->SetText("Subject");
  form_->MemBody->SetText("Found %Word%\r\nin %SearchLine%");
  form_->EdtSmtpServer->SetText("smtp.example");
  form_->EdtSmtpPort->SetText("587");
  form_->ChkPopSmtp->SetChecked(true);
  form_->EdtPopServer->SetText("pop.example");
  form_->EdtPopPort->SetText("995");
  form_->EdtPopUser->SetText("bob");
  form_->EdtPopPasswd->SetText("p@ss");
  form_->EdtFromMail->SetText("from@example");
  form_->EdtToMail->SetText("a@example,b@example");
  form_->PagWatch->SetActivePage(form_->TamMailEnv);
  uitest::Click(form_->RdoReportYes, 2, 2);
  ClickSave();

  const std::string password = Encrypted("p@ss");
  EXPECT_EQ(ReadFile(ini_),
            "[KelvadonManager]\r\nPort=4123\r\nOwn=kept\r\n\r\n"
            "[MailEnv]\r\nToMail=a@example,b@example\r\nUnknown=stays\r\n"
            "SmtpServer=smtp.example\r\nSmtpPort=587\r\nPopBeforeSmtp=1\r\n"
            "PopServer=pop.example\r\nPopPort=995\r\nPopUser=bob\r\nPopPasswd=" +
                password +
                "\r\nFromMail=from@example\r\nReportSend=1\r\n\r\n"
                "[Other]\r\nKey=value\r\n\r\n"
                "[Mail]\r\nWord1=usb\r\nWord2=\r\nWord3=secret,copy\r\nWord4=\r\nWord5=x\r\n"
                "Subject=Subject\r\nBody=Found %Word%\tin %SearchLine%\r\n\r\n");
  // What the collector reads.
  EXPECT_EQ(DecryptSetting(Setting(settings::kPopPasswd), kSettingPassphrase), "p@ss");
  EXPECT_EQ(Setting(settings::kWord[2]), "secret,copy");
  EXPECT_EQ(Setting(settings::kPort), "4123");

  // And read back, the body has its two lines again.
  Load(nullptr);
  EXPECT_EQ(form_->MemBody->Text(), "Found %Word%\r\nin %SearchLine%");
  EXPECT_EQ(form_->EdtPopPasswd->Text(), "p@ss");
  EXPECT_TRUE(form_->RdoReportYes->Checked());
}

// Unchecking "Pop Before SMTP" greys the POP controls out and keeps their texts; the save writes
// the flag "0" and leaves the POP keys as they were.
TEST_F(MailPages, PopBeforeSmtpOffKeepsThePopKeys) {
  const std::string pop =
      "PopServer=pop.example\r\nPopPort=110\r\nPopUser=alice\r\nPopPasswd=" + Encrypted("old") +
      "\r\n";
  Load(("[MailEnv]\r\nPopBeforeSmtp=1\r\n" + pop).c_str());
  form_->PagWatch->SetActivePage(form_->TamMailEnv);
  form_->EdtPopServer->SetText("typed.example");
  uitest::Click(form_->ChkPopSmtp, 2, 2);
  EXPECT_FALSE(form_->ChkPopSmtp->Checked());
  for (TControl* c : PopControls(form_))
    EXPECT_FALSE(c->Enabled()) << c->Name;
  EXPECT_EQ(form_->EdtPopServer->Text(), "typed.example");
  EXPECT_EQ(form_->EdtPopPasswd->Text(), "old");
  ClickSave();
  const std::string written = ReadFile(ini_);
  EXPECT_NE(written.find("[MailEnv]\r\nPopBeforeSmtp=0\r\n" + pop), std::string::npos) << written;

  uitest::Click(form_->ChkPopSmtp, 2, 2);
  for (TControl* c : PopControls(form_))
    EXPECT_TRUE(c->Enabled()) << c->Name;
}

// A settings file that cannot be written: the toolkit's box with the failure, and every new
// value in the console's settings all the same; the old file stays whole.
TEST_F(MailPages, AFileThatCannotBeWrittenGivesTheExceptionBox) {
  Load(nullptr);
  std::filesystem::create_directory(ini_);  // where the file should be
  std::string failure;
  try {
    form_->WatchIni->UpdateFile();
  } catch (const rtl::Exception& e) {
    failure = e.Message;
  }
  ASSERT_FALSE(failure.empty());
  form_->GrdRule->SetCells(1, 4, "rule five");
  form_->EdtSmtpServer->SetText("smtp.example");
  form_->EdtFromMail->SetText("from@example");
  form_->EdtToMail->SetText("to@example");
  kit_.WidgetSet.ExpectBox(failure, IDOK);
  ClickSave();
  EXPECT_EQ(kit_.WidgetSet.PendingBoxes(), 0u);
  EXPECT_TRUE(std::filesystem::is_directory(ini_));
  EXPECT_EQ(Setting(settings::kWord[4]), "rule five");
  EXPECT_EQ(Setting(settings::kToMail), "to@example");
  EXPECT_EQ(Setting(settings::kReportSend), "0");
  EXPECT_TRUE(form_->WatchIni->UpdateAtOnce);
}

// The menu's "設定保存(&S)" saves as the tool bar does.
TEST_F(MailPages, TheMenuSavesToo) {
  Load(nullptr);
  form_->EdtSubject->SetText("from the menu");
  form_->MnuSave->Click();
  EXPECT_NE(ReadFile(ini_).find("\r\nSubject=from the menu\r\n"), std::string::npos);
}

}  // namespace
