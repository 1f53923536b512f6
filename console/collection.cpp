// TFrmWatch: the console's own collection run. The engine collects exactly as in the service;
// here is what the console does differently: the stored form of a record (its nine fields) and
// its live insertion, the alert rules of GrdRule's rows, the report tick without a restart that
// reloads the chosen day, and failures shown in message boxes. Settings are read from WatchIni
// at every use, so a save on the mail pages applies from the next record or tick.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "collector/alertjob.h"
#include "collector/alertrules.h"
#include "collector/caught.h"
#include "collector/dayfiles.h"
#include "collector/reportjob.h"
#include "console/frmwatch.h"
#include "console/records.h"
#include "settings/keys.h"

namespace {

// Posted to the main window: show the oldest of the texts MessageLater keeps.
constexpr UINT WM_SHOW_LATER_MESSAGE = WM_USER + 2;

// "System Error " + where + the exception's class + " : " + its message.
std::string SystemError(const char* where, const char* ClassName, const std::string& Message) {
  return std::string("System Error ") + where + ClassName + " : " + Message;
}

}  // namespace

// ---- records ----

void TFrmWatch::RecvFileWrite(const std::string& Line) {
  Engine->EventWrite(collector::kCodeRecord, Line);
}

void TFrmWatch::RecordArrived(std::string& Line, rtl::TDateTime When) {
  Line = console::JoinRecordFields(console::SplitRecordLine(Line));
  ShowArrivedRecord(Line);
}

void TFrmWatch::RecordWriteFailed(const char* ClassName, const std::string& Message) {
  const std::string text = SystemError("RecvFileWrite ", ClassName, Message);
  WriteSystemLog(collector::kCodeError, text);
  this->Message(text);
}

// ---- failures ----

void TFrmWatch::HandlerFailed(const char* Word, const char* ClassName, const std::string& Message) {
  const std::string text = std::string(Word) + " " + SystemError("", ClassName, Message);
  if (std::strcmp(Word, "ChkRecvString") == 0) {
    // An alert job has ended (or its queuing failed): the next job does not wait for the box.
    MessageLater(SystemError("", ClassName, Message));
  } else if (std::strcmp(Word, "TimWatchReportTimer") == 0) {
    // The report job has ended: what followed its mail failed.
    MessageLater(SystemError("TimWatchTimer ", ClassName, Message));
  } else {
    // The message box; the listener goes on.
    this->Message(text);
  }
}

void TFrmWatch::LineDropped(const char* Word, const char* ClassName, const std::string& Message) {
  // One error entry, no box: an agent's over-long line is not the user's to answer.
  WriteSystemLog(collector::kCodeError,
                 std::string(Word) + " " + SystemError("", ClassName, Message));
}

void TFrmWatch::MessageLater(const std::string& text) {
  laterMessages_.push_back(text);
  PostMessage(Handle(), WM_SHOW_LATER_MESSAGE, 0, 0);
}

void TFrmWatch::WndProc(TMessage& Msg) {
  if (Msg.Msg != WM_SHOW_LATER_MESSAGE || laterMessages_.empty()) {
    TForm::WndProc(Msg);
    return;
  }
  const std::string text = std::move(laterMessages_.front());
  laterMessages_.pop_front();
  Message(text);
}

// ---- alert mail ----

void TFrmWatch::ChkRecvString(const std::string& Line) {
  collector::TMailEnv env = collector::ReadMailEnv(*WatchIni);
  // A file the console never saved may lack the sender: ours stands in.
  const settings::KeyDef fromMail{settings::kFromMail.Section, settings::kFromMail.Ident,
                                  kDefaultFromMail};
  env.FromMail = settings::ReadSetting(*WatchIni, fromMail);
  if (env.FromMail.empty() || env.SmtpServer.empty()) return;
  std::vector<std::string> fired = collector::FiredRules(*WatchIni, Line, GrdRule->RowCount());
  if (fired.empty()) return;
  Engine->QueueAlert(std::make_unique<collector::TAlertJob>(
      std::move(env), settings::ReadSetting(*WatchIni, settings::kBody), Line, std::move(fired)));
}

// ---- change of day ----

void TFrmWatch::TimWatchTimer(rtl::TObject* Sender) {
  if (!collector::MailConfigured(*WatchIni)) return;
  collector::TCaught caught;
  const bool ok = collector::Succeeds(
      [&] {
        const rtl::TDateTime now = rtl::Now();
        if (std::floor(LastReportDate) >= std::floor(now)) return;  // calendar dates only
        if (!settings::ServiceFlagOn(settings::ReadSetting(*WatchIni, settings::kReportSend))) {
          DayChanged(now);
          return;
        }
        if (reportPending_) return;
        // Behind the alerts queued before it; the day moves on only once it has gone through.
        Engine->MailJobs->AddAlways(std::make_unique<collector::TReportJob>(
            collector::ReadMailEnv(*WatchIni),
            ProgramDir + collector::kRecordFolder + collector::DayFileName(LastReportDate),
            [this](const char* ClassName, const std::string& Message) {
              reportPending_ = false;
              MessageLater(SystemError("TimWatchTimer ", ClassName, Message));
            },
            [this, now] {
              reportPending_ = false;
              DayChanged(now);
            }));
        reportPending_ = true;
      },
      caught);
  if (!ok) Message(SystemError("TimWatchTimer ", caught.ClassName, caught.Message));
}

void TFrmWatch::DayChanged(rtl::TDateTime When) {
  LoadLogFile(LogFileName(std::max(ValHistory->ItemIndex(), 0)), "");
  LastReportDate = When;
}
