// Login: USER, PASS and QUIT, the delayed answer to a refused PASS and the end of a session after
// too many refusals.
#include "net/ftp/ftplogin.h"

#include <algorithm>

#include "net/ftp/ftpsrv.h"

namespace {

// The parameters without blanks and control characters at either end.
std::string TrimControls(std::string_view s) {
  auto weak = [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b <= 0x20 || b == 0x7F;
  };
  size_t from = 0;
  size_t to = s.size();
  while (from < to && weak(s[from]))
    ++from;
  while (to > from && weak(s[to - 1]))
    --to;
  return std::string(s.substr(from, to - from));
}

}  // namespace

bool FtpSameSecret(std::string_view a, std::string_view b) {
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  const size_t n = a.size() > b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(i < a.size() ? a[i] : 0);
    const auto y = static_cast<unsigned char>(i < b.size() ? b[i] : 0);
    diff |= static_cast<unsigned char>(x ^ y);
  }
  return diff == 0;
}

void TFtpServer::CommandUSER(TFtpCtrlSocket* Client, TFtpString&, TFtpString& Params,
                             TFtpString& Answer) {
  Client->UserName = TrimControls(Params);
  // A logged-in session that names a user again is logged out until the next PASS, and has the
  // login time again.
  const bool wasReady = Client->FtpState == ftpcReady;
  Client->FtpState = ftpcWaitingPassword;
  if (wasReady) {
    Client->LoginStartTick = GetTickCount();
    ArmWatch(Client);
  }
  Answer = "331 Password required for " + Client->UserName + ".";
}

void TFtpServer::CommandPASS(TFtpCtrlSocket* Client, TFtpString&, TFtpString& Params,
                             TFtpString& Answer) {
  if (Client->FtpState != ftpcWaitingPassword) {
    Answer = "503 Login with USER first.";
    return;
  }
  Client->CurrentCommand = ftpcPASS;
  Client->PassWord = TrimControls(Params);
  bool Authenticated = true;
  TriggerAuthenticate(Client, Client->UserName, Client->PassWord, Authenticated);
  // A home that cannot be opened is refused like a wrong password: the session would have no tree.
  if (!Authenticated || !Client->OpenHome()) {
    LoginRefused(Client, Answer);
    return;
  }
  Client->FtpState = ftpcReady;
  Client->LastActivityTick = GetTickCount();
  ArmWatch(Client);
  Answer = "230 User " + Client->UserName + " logged in.";
}

// The refusal is answered only after LoginFailDelay, and the session reads no further command
// until then, so guessing costs the client that delay per try, whatever it sends meanwhile.
void TFtpServer::LoginRefused(TFtpCtrlSocket* Client, TFtpString& Answer) {
  Client->FtpState = ftpcWaitingUserCode;
  Client->SuspendCommands();
  Client->AnswerDeferred = true;
  Answer.clear();
  SetTimer(FWindowHandle, TimerId(Client, kLoginDelayTimer), std::max<DWORD>(1, LoginFailDelay));
}

void TFtpServer::AnswerRefusedLogin(TFtpCtrlSocket* Client) {
  SendAnswer(Client, "530 Login incorrect.");
  ++Client->LoginFailures;
  if (Client->LoginFailures >= kFtpMaxLoginFailures) {
    RequestClose(Client, kFtpCloseLingerMs);
    return;
  }
  Client->ResumeCommands();
}

void TFtpServer::CommandQUIT(TFtpCtrlSocket* Client, TFtpString&, TFtpString&, TFtpString& Answer) {
  // The close is posted first, but runs only after this reply has been queued.
  RequestClose(Client, kFtpCloseLingerMs);
  Answer = "221 Goodbye.";
}
