// The SMTP login's tables and texts: the mechanisms a server announces in its EHLO reply, the
// automatic choice among them, the order tried when the server refuses a mechanism (504), and the
// PLAIN credentials. Pure functions, safe from any thread. The exchange itself is the client's
// Auth request (net/mail/smtpclient.h, smtplogin.cpp).
#pragma once

#include <string>
#include <string_view>

#include "net/mail/smtptypes.h"
#include "rtl/classes.h"

// The mechanism's name as AUTH writes it ("PLAIN", "LOGIN", "CRAM-MD5", "CRAM-SHA1", "NTLM");
// empty for smtpAuthNone, smtpAuthAutoSelect and values outside the enumeration.
std::string_view SmtpAuthName(TSmtpAuthType method);

// Reads one line of an EHLO reply: a line that, trimmed and upper-cased, is longer than 9
// characters and has "AUTH " or "AUTH=" after its first 4 adds each name it lists ("=" counts as
// a blank) to types, unless types holds it already. Other lines add nothing.
void AddSmtpAuthTypes(std::string_view line, rtl::TStringList& types);

// The automatic choice: the rules PLAIN, LOGIN, CRAM-SHA1, CRAM-MD5, NTLM (or "GSSAPI NTLM") are
// applied in that order to what the server announced, a later rule overriding an earlier one;
// with none of them announced, CRAM-MD5.
TSmtpAuthType ChooseSmtpAuthType(const rtl::TStringList& announced);

// Under the automatic choice, the mechanism tried after the server refused this one with 504:
// NTLM, CRAM-MD5, CRAM-SHA1, LOGIN, PLAIN; smtpAuthNone after PLAIN (nothing left to try).
TSmtpAuthType NextSmtpAuthType(TSmtpAuthType refused);

// The Base64 argument of AUTH PLAIN: user NUL user NUL password (the user name is the
// authentication identity; no separate authorisation identity is asked for).
std::string SmtpPlainCredentials(std::string_view user, std::string_view password);
