#include "collector/alertjob.h"

#include "collector/mailsend.h"
#include "collector/messages.h"
#include "net/mail/jcode.h"
#include "net/mail/syncsmtp.h"
#include "rtl/exception.h"
#include "settings/keys.h"

namespace collector {

namespace {

constexpr char kWordField[] = "%Word%";
constexpr char kSearchLineField[] = "%SearchLine%";

// Every occurrence of field in text replaced by value, left to right, without searching the
// replacements again.
std::string ReplaceAll(const std::string& text, std::string_view field, std::string_view value) {
  std::string out;
  size_t from = 0;
  for (size_t at; (at = text.find(field, from)) != std::string::npos; from = at + field.size()) {
    out.append(text, from, at - from);
    out.append(value);
  }
  out.append(text, from);
  return out;
}

}  // namespace

std::string AlertText(std::string_view Body, std::string_view Rule, std::string_view Record) {
  std::string text = settings::BodyFromSetting(Body);
  text = ReplaceAll(text, kWordField, Rule);
  text = ReplaceAll(text, kSearchLineField, Record);
  // Always converted as Shift-JIS: guessing the code could take it for EUC.
  return net::mail::SjisToJis(text);
}

TAlertJob::TAlertJob(TMailEnv Env, std::string Body, std::string Record,
                     std::vector<std::string> Rules)
    : env_(std::move(Env)),
      body_(std::move(Body)),
      record_(std::move(Record)),
      rules_(std::move(Rules)) {}

void TAlertJob::Send(TSyncSmtpCli& Smtp, net::mail::TSyncPop3Cli& Pop) {
  AddressMail(Smtp, env_);
  LoginBeforeSmtp(Pop, env_);

  for (const std::string& rule : rules_) {
    Smtp.SyncAbort();
    Smtp.MailMessage.Clear();
    Smtp.MailMessage.SetText(AlertText(body_, rule, record_));
    if (!Smtp.SyncOpen()) throw rtl::Exception(msg::kSmtpOpenFailed);
    if (!Smtp.SyncMail())
      throw rtl::Exception(msg::kMailToHead + Smtp.HdrTo + msg::kMailFailedTail);
  }
}

}  // namespace collector
