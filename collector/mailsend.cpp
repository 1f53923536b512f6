#include "collector/mailsend.h"

#include <string>
#include <vector>

#include "collector/alertrules.h"
#include "collector/messages.h"
#include "collector/password.h"
#include "net/mail/jcode.h"
#include "net/mail/pop3sync.h"
#include "net/mail/syncsmtp.h"
#include "rtl/exception.h"
#include "settings/keys.h"

namespace collector {

namespace {

constexpr char kMailSubject[] = "Kelvadon Report";

}  // namespace

void AddressMail(TSyncSmtpCli& Smtp, const TMailEnv& Env) {
  Smtp.RcptName.Clear();
  Smtp.EmailFiles.Clear();
  Smtp.MailMessage.Clear();
  Smtp.HdrCc.clear();
  Smtp.FromName = Env.FromMail;
  Smtp.HdrFrom = Env.FromMail;
  const std::vector<std::string> to = CommaList(Env.ToMail);
  Smtp.HdrTo = to.empty() ? std::string() : to.front();
  for (const std::string& address : to)
    Smtp.AddRecipients(address, "", "");
  Smtp.HdrSubject = net::mail::EncodeMimeHeaderJis(kMailSubject);
  Smtp.Host = Env.SmtpServer;
  Smtp.Port = Env.SmtpPort;
}

void LoginBeforeSmtp(net::mail::TSyncPop3Cli& Pop, const TMailEnv& Env) {
  if (!settings::ServiceFlagOn(Env.PopBeforeSmtp)) return;
  Pop.SyncAbort();
  Pop.Host = Env.PopServer;
  Pop.Port = Env.PopPort;
  Pop.UserName = Env.PopUser;
  Pop.PassWord = DecryptSetting(Env.PopPasswd, kSettingPassphrase);
  if (!Pop.SyncLogin()) throw rtl::Exception(msg::kPopLoginFailed);
}

}  // namespace collector
