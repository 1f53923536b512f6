#include "collector/reportjob.h"

#include "collector/caught.h"
#include "collector/mailsend.h"
#include "collector/messages.h"
#include "net/mail/jcode.h"
#include "net/mail/pop3sync.h"
#include "net/mail/syncsmtp.h"
#include "rtl/exception.h"
#include "rtl/files.h"

namespace collector {

TReportJob::TReportJob(TMailEnv Env, std::string DayFile, TFailed Failed, TSucceeded Succeeded)
    : env_(std::move(Env)),
      dayFile_(std::move(DayFile)),
      failed_(std::move(Failed)),
      succeeded_(std::move(Succeeded)) {}

void TReportJob::Send(TSyncSmtpCli& Smtp, net::mail::TSyncPop3Cli& Pop) {
  TCaught caught;
  if (Succeeds([&] { SendReport(Smtp, Pop); }, caught)) {
    if (succeeded_) succeeded_();
    return;
  }
  Smtp.SyncAbort();
  Pop.SyncAbort();
  failed_(caught.ClassName, caught.Message);
}

void TReportJob::SendReport(TSyncSmtpCli& Smtp, net::mail::TSyncPop3Cli& Pop) {
  Smtp.SyncAbort();
  Pop.SyncAbort();
  AddressMail(Smtp, env_);
  LoginBeforeSmtp(Pop, env_);

  const bool found = rtl::FileExists(dayFile_);
  if (found) Smtp.EmailFiles.Add(dayFile_);
  // Always converted as Shift-JIS, as the alert text is.
  Smtp.MailMessage.SetText(net::mail::SjisToJis(found ? kReportSent : kReportNoFile));

  if (!Smtp.SyncOpen()) throw rtl::Exception(msg::kSmtpOpenFailed);
  if (!Smtp.SyncMail()) throw rtl::Exception(msg::kMailToHead + Smtp.HdrTo + msg::kMailFailedTail);
  Smtp.SyncQuit();
  Pop.SyncQuit();
}

}  // namespace collector
