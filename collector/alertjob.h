// The alert job: the mails of one record that fired alert rules, one mail per fired rule, in rule
// order, through the collector's SMTP client, after a POP3 login when "PopBeforeSmtp" is "1".
// A value: everything it sends was read when its record arrived.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "collector/mailenv.h"
#include "collector/mailqueue.h"

namespace collector {

// The text of an alert mail, as the client sends it: the stored alert text Body with every TAB
// as CR LF, every "%Word%" replaced by Rule (the rule's value as stored), then every
// "%SearchLine%" by Record (letter case counts; replaced text is not searched again), converted
// from Shift-JIS to ISO-2022-JP.
std::string AlertText(std::string_view Body, std::string_view Rule, std::string_view Record);

class TAlertJob : public TMailJob {
 public:
  // Env and Body (the stored "Body") as read at the record; Rules the values of the rules that
  // fired, in rule order.
  TAlertJob(TMailEnv Env, std::string Body, std::string Record, std::vector<std::string> Rules);

  const char* Word() const override { return "ChkRecvString"; }
  // Sets the client's fields once (sender, recipients, subject, server), logs in to POP3 when
  // configured (the session stays open), then for each rule aborts any session left open, sets
  // the text, opens and mails (no QUIT: the next abort ends the connection). Raises
  // rtl::Exception with the failing step's text: the POP3 login, the open, or the mail naming
  // the To address; the rules after a failing one are not sent.
  void Send(TSyncSmtpCli& Smtp, net::mail::TSyncPop3Cli& Pop) override;

 private:
  const TMailEnv env_;
  const std::string body_;
  const std::string record_;
  const std::vector<std::string> rules_;
};

}  // namespace collector
