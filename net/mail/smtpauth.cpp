#include "net/mail/smtpauth.h"

#include <utility>

#include "net/mail/mime.h"
#include "rtl/cp932.h"

namespace {

struct TMechanism {
  TSmtpAuthType method;
  std::string_view name;
};

// Names as AUTH sends them.
constexpr TMechanism kMechanisms[] = {
    {smtpAuthPlain, "PLAIN"},        {smtpAuthLogin, "LOGIN"}, {smtpAuthCramMD5, "CRAM-MD5"},
    {smtpAuthCramSha1, "CRAM-SHA1"}, {smtpAuthNtlm, "NTLM"},
};

// The automatic choice, in the order applied: a later rule that matches wins.
constexpr TMechanism kChoiceRules[] = {
    {smtpAuthPlain, "PLAIN"},      {smtpAuthLogin, "LOGIN"}, {smtpAuthCramSha1, "CRAM-SHA1"},
    {smtpAuthCramMD5, "CRAM-MD5"}, {smtpAuthNtlm, "NTLM"},   {smtpAuthNtlm, "GSSAPI NTLM"},
};

// What a 504 moves on to.
constexpr std::pair<TSmtpAuthType, TSmtpAuthType> kRefusalWalk[] = {
    {smtpAuthNtlm, smtpAuthCramMD5},
    {smtpAuthCramMD5, smtpAuthCramSha1},
    {smtpAuthCramSha1, smtpAuthLogin},
    {smtpAuthLogin, smtpAuthPlain},
};

// The reply code and its separator come before the keyword.
constexpr size_t kCodeWidth = 4;
constexpr size_t kShortestAuthLine = 9;  // this long or shorter: no mechanism in it
constexpr std::string_view kAuthKeyword = "AUTH";

}  // namespace

std::string_view SmtpAuthName(TSmtpAuthType method) {
  for (const TMechanism& m : kMechanisms)
    if (m.method == method) return m.name;
  return {};
}

void AddSmtpAuthTypes(std::string_view line, rtl::TStringList& types) {
  const std::string text = rtl::UpperCase(rtl::Trim(line));
  if (text.size() <= kShortestAuthLine) return;
  std::string_view rest = std::string_view(text).substr(kCodeWidth);
  if (rest.substr(0, kAuthKeyword.size()) != kAuthKeyword) return;
  rest.remove_prefix(kAuthKeyword.size());
  if (rest[0] != ' ' && rest[0] != '=') return;
  std::string names(rest.substr(1));
  for (char& c : names)
    if (c == '=') c = ' ';
  size_t start = 0;
  while (start <= names.size()) {
    size_t end = names.find(' ', start);
    if (end == std::string::npos) end = names.size();
    const std::string name = rtl::Trim(std::string_view(names).substr(start, end - start));
    if (!name.empty() && types.IndexOf(name) < 0) types.Add(name);
    start = end + 1;
  }
}

TSmtpAuthType ChooseSmtpAuthType(const rtl::TStringList& announced) {
  TSmtpAuthType chosen = smtpAuthNone;
  for (const TMechanism& rule : kChoiceRules)
    if (announced.IndexOf(rule.name) >= 0) chosen = rule.method;
  return chosen == smtpAuthNone ? smtpAuthCramMD5 : chosen;
}

TSmtpAuthType NextSmtpAuthType(TSmtpAuthType refused) {
  for (const auto& [from, to] : kRefusalWalk)
    if (from == refused) return to;
  return smtpAuthNone;
}

std::string SmtpPlainCredentials(std::string_view user, std::string_view password) {
  std::string text(user);
  text += '\0';
  text.append(user);
  text += '\0';
  text.append(password);
  return net::mail::MimeBase64Encode(text);
}
