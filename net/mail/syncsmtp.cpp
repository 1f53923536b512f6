#include "net/mail/syncsmtp.h"

#include <algorithm>

TSyncSmtpCli::TSyncSmtpCli(rtl::TComponent* owner) : TSmtpCli(owner) {}

void TSyncSmtpCli::PushDeadline() {
  if (Timeout > 0) TimeStop = GetTickCount() + static_cast<DWORD>(Timeout) * 1000;
}

void TSyncSmtpCli::NotifyGetData(int32_t LineNum, std::string& Line, bool& More) {
  TSmtpCli::NotifyGetData(LineNum, Line, More);
  PushDeadline();
}

void TSyncSmtpCli::NotifyResponse(const std::string& Msg) {
  PushDeadline();
  TSmtpCli::NotifyResponse(Msg);
}

bool TSyncSmtpCli::WaitRequestEnd() {
  TRequestEnd end;
  WatchRequest(RequestSerial(), &end);
  struct Unwatch {
    TSyncSmtpCli* client;
    const TRequestEnd* end;
    ~Unwatch() { client->UnwatchRequest(end); }
  } unwatch{this, &end};
  PushDeadline();
  while (!end.Ended) {
    const DWORD now = GetTickCount();
    if (ApplicationTerminating(Terminating) || (Timeout > 0 && TickBefore(TimeStop, now))) {
      Abort();
      FErrorMessage = "426 Timeout";
      ReplyCode = kSmtpAborted;
      return false;
    }
    DWORD wait = kSmtpWaitSliceMs;
    if (Timeout > 0) wait = std::min<DWORD>(wait, TickBefore(now, TimeStop) ? TimeStop - now : 0);
    MsgWait(wait);
    if (MultiThreaded)
      Socket().ProcessMessages();
    else
      ::ProcessMessages();
  }
  if (end.Aborted) {
    // Someone else (a handler run inside this wait) aborted the request.
    FErrorMessage = "426 Operation aborted.";
    return false;
  }
  return end.Code == 0 && end.Result == 0;
}

bool TSyncSmtpCli::RunSync(void (TCustomSmtpClient::*Operation)()) {
  const uint64_t before = RequestSerial();
  try {
    (this->*Operation)();
  } catch (const rtl::Exception&) {
    return false;
  } catch (const std::exception&) {
    return false;
  }
  // Abort starts no request: the last command's result stands.
  if (RequestSerial() == before) return ResultCode == 0;
  return WaitRequestEnd();
}

bool TSyncSmtpCli::SyncConnect() {
  return RunSync(&TCustomSmtpClient::Connect);
}
bool TSyncSmtpCli::SyncHelo() {
  return RunSync(&TCustomSmtpClient::Helo);
}
bool TSyncSmtpCli::SyncEhlo() {
  return RunSync(&TCustomSmtpClient::Ehlo);
}
bool TSyncSmtpCli::SyncAuth() {
  return RunSync(&TCustomSmtpClient::Auth);
}
bool TSyncSmtpCli::SyncVrfy() {
  return RunSync(&TCustomSmtpClient::Vrfy);
}
bool TSyncSmtpCli::SyncMailFrom() {
  return RunSync(&TCustomSmtpClient::MailFrom);
}
bool TSyncSmtpCli::SyncRcptTo() {
  return RunSync(&TCustomSmtpClient::RcptTo);
}
bool TSyncSmtpCli::SyncData() {
  return RunSync(&TCustomSmtpClient::Data);
}
bool TSyncSmtpCli::SyncQuit() {
  return RunSync(&TCustomSmtpClient::Quit);
}
bool TSyncSmtpCli::SyncRset() {
  return RunSync(&TCustomSmtpClient::Rset);
}
bool TSyncSmtpCli::SyncAbort() {
  return RunSync(&TCustomSmtpClient::Abort);
}
bool TSyncSmtpCli::SyncOpen() {
  return RunSync(&TCustomSmtpClient::Open);
}
bool TSyncSmtpCli::SyncMail() {
  return RunSync(&TCustomSmtpClient::Mail);
}
