// The login request: the method chosen, its opening command ("AUTH " + name, with PLAIN's
// credentials or NTLM's negotiate message), the walk to the next method on 504 under the automatic
// choice, and each method's follow-ups. Every follow-up is a command of the same request, started
// from smtpInternalReady and reported as smtpRqAuth.
#include "net/mail/cram.h"
#include "net/mail/mime.h"
#include "net/mail/ntlm.h"
#include "net/mail/smtpauth.h"
#include "net/mail/smtpclient.h"

using net::mail::MimeBase64Encode;

void TCustomSmtpClient::Auth() {
  CheckCommandStart();
  PrevStep = stepAuth;
  if (!EsmtpAccepted) return FailAtOnce(smtpRqAuth, kSmtpNoEsmtp);
  const TSmtpAuthType method =
      AuthType == smtpAuthAutoSelect ? ChooseSmtpAuthType(ServerAuthTypes) : AuthType;
  if (SmtpAuthName(method).empty()) return FailAtOnce(smtpRqAuth, kSmtpNoAuthType);
  if (!InChain) BeginRequest(smtpRqAuth);
  AuthMethod = method;
  StartAuthMethod();
}

void TCustomSmtpClient::StartAuthMethod() {
  std::string command = "AUTH " + std::string(SmtpAuthName(AuthMethod));
  if (AuthMethod == smtpAuthPlain) command += " " + SmtpPlainCredentials(Username, Password);
  if (AuthMethod == smtpAuthNtlm) command += " " + net::mail::BuildNtlmNegotiate("", "");
  // PLAIN is done with its opening; the others go on after a 334.
  StartRequest(smtpRqAuth, command, {AuthMethod == smtpAuthPlain ? 235 : 334},
               &TCustomSmtpClient::AuthOpened);
}

void TCustomSmtpClient::AuthOpened() {
  if (ResultCode != 0) {
    if (AuthType != smtpAuthAutoSelect) return NotifyRequestDone(ResultCode);
    const TSmtpAuthType next = ResultCode == 504 ? NextSmtpAuthType(AuthMethod) : smtpAuthNone;
    if (next == smtpAuthNone) {
      // A 504 to the last method keeps the server's line; any other refusal says the choice
      // failed.
      if (ResultCode != 504) FErrorMessage = kSmtpAuthUndetermined;
      return NotifyRequestDone(ResultCode);
    }
    // The refusal only moves the walk on: it is not the request's failure (its line stays in
    // ErrorMessage, the first refusal's as with every request, whatever the walk ends with).
    ResultCode = 0;
    AuthMethod = next;
    SetState(smtpInternalReady);
    return StartAuthMethod();
  }
  switch (AuthMethod) {
    case smtpAuthLogin:
      return LoginUserStep();
    case smtpAuthCramMD5:
      return CramStep(net::mail::TCramKind::Md5, kSmtpBadMd5Challenge);
    case smtpAuthCramSha1:
      return CramStep(net::mail::TCramKind::Sha1, kSmtpBadSha1Challenge);
    case smtpAuthNtlm:
      return NtlmStep();
    default:
      return NotifyRequestDone(ResultCode);
  }
}

void TCustomSmtpClient::AuthFollowUp(const std::string& Cmd, int OkCode, THandler Done) {
  SetState(smtpInternalReady);
  StartRequest(smtpRqAuth, Cmd, {OkCode}, Done);
}

void TCustomSmtpClient::LoginUserStep() {
  AuthFollowUp(MimeBase64Encode(Username), 334, &TCustomSmtpClient::LoginPasswordStep);
}

void TCustomSmtpClient::LoginPasswordStep() {
  if (ResultCode != 0) return NotifyRequestDone(ResultCode);
  // Its reply ends the request.
  AuthFollowUp(MimeBase64Encode(Password), 235, nullptr);
}

bool TCustomSmtpClient::ChallengeMissing(const char* malformedText) {
  if (FLastResponse.size() > kSmtpShortestChallenge) return false;
  FLastResponse = malformedText + FLastResponse;
  ReplyCode = ResultCode = kSmtpLocalFailure;
  KeepError(FLastResponse);
  NotifyRequestDone(kSmtpLocalFailure);
  return true;
}

void TCustomSmtpClient::CramStep(net::mail::TCramKind kind, const char* malformedText) {
  if (ChallengeMissing(malformedText)) return;
  const std::string_view challenge = std::string_view(FLastResponse).substr(kSmtpShortestChallenge);
  AuthFollowUp(CramAnswer(kind, challenge, Username, Password), 235, nullptr);
}

void TCustomSmtpClient::NtlmStep() {
  if (ChallengeMissing(kSmtpBadNtlmChallenge)) return;
  const net::mail::TNTLM_Msg2_Info info =
      net::mail::ParseNtlmChallenge(std::string_view(FLastResponse).substr(kSmtpShortestChallenge));
  AuthFollowUp(net::mail::BuildNtlmAuthenticate("", "", Username, info.Challenge, Password), 235,
               nullptr);
}
