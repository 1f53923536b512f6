// The mail settings of section "MailEnv" as one value, read from the settings at each record, so
// that a queued mail goes out with the settings of the moment its record arrived. Values and a
// pure reader; safe from any thread.
#pragma once

#include <string>

class TIniFileCompo;

namespace collector {

struct TMailEnv {
  std::string ToMail;      // a comma list: the first item is the To header, every item a recipient
  std::string FromMail;    // sender, also the From header
  std::string SmtpServer;  // host
  std::string SmtpPort;    // "25" when missing
  std::string PopBeforeSmtp;  // "1": log in to POP3 before the mail
  std::string PopServer;
  std::string PopPort;  // "110" when missing
  std::string PopUser;
  std::string PopPasswd;  // as stored (EncryptSetting's text)

  // Mail is set up: "ToMail", "FromMail" and "SmtpServer" are all non-empty.
  bool Configured() const { return !ToMail.empty() && !FromMail.empty() && !SmtpServer.empty(); }
};

// The keys of section "MailEnv" from ini, each with its default when missing.
TMailEnv ReadMailEnv(const TIniFileCompo& ini);

// Whether ini sets mail up (TMailEnv::Configured), reading only "ToMail", "FromMail" and
// "SmtpServer": the test made for every record.
bool MailConfigured(const TIniFileCompo& ini);

}  // namespace collector
