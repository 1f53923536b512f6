// The steps every mail of the collector shares, alert or report: the envelope and headers from
// the mail settings, and the POP3 login that "Pop Before SMTP" asks for. They act on the clients
// they are given (borrowed) on the clients' thread.
#pragma once

#include "collector/mailenv.h"

class TSyncSmtpCli;
namespace net::mail {
class TSyncPop3Cli;
}

namespace collector {

// Empties the recipients, the attachments, the text and the Cc header; the sender and From
// header become "FromMail", the To header the first item of the comma list "ToMail" and every
// item a recipient; the subject is "Kelvadon Report" (ISO-2022-JP encoded word); the server is
// "SmtpServer" on "SmtpPort".
void AddressMail(TSyncSmtpCli& Smtp, const TMailEnv& Env);

// When "PopBeforeSmtp" is "1": aborts what Pop holds and logs in to "PopServer" on "PopPort" as
// "PopUser" with the stored password decrypted (the session stays open). Raises rtl::Exception
// with the POP3 failure text when the login fails. Otherwise nothing.
void LoginBeforeSmtp(net::mail::TSyncPop3Cli& Pop, const TMailEnv& Env);

}  // namespace collector
