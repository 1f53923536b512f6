// TSyncSmtpCli: blocking calls over the SMTP client. Each Sync call starts the asynchronous request
// of the same name and returns only when that request has ended, True when it ended with success.
// It waits in the message layer (MsgWait, at most kSmtpWaitSliceMs at a time) and handles the
// thread's messages meanwhile, so the client's socket, and the timers and other sockets of the
// same thread, go on while the caller waits: a timer or socket handler may run inside a Sync call.
//
// Ownership and threads: as TCustomSmtpClient (net/mail/smtpclient.h); a Sync call belongs to the
// thread that owns the client.
#pragma once

#include "net/mail/mailwait.h"
#include "net/mail/smtpcli.h"

class TSyncSmtpCli : public TSmtpCli {
 public:
  explicit TSyncSmtpCli(rtl::TComponent* owner = nullptr);

  // Seconds a request may stay without progress (no reply line received, no message line
  // produced); 0 or less waits without limit.
  int Timeout = kSmtpDefaultTimeout;
  // True: handle only what the thread's own queue holds through the socket (a thread without an
  // application loop); false: the application's processing of pending messages. Both handle the
  // calling thread's messages.
  bool MultiThreaded = false;
  // Whether the application is terminating (net/mail/mailwait.h); unset: a quit request is
  // pending on the thread.
  TTerminatingTest Terminating;

  // Waits until the request started last has ended; True when it ended with 0 and its last
  // command succeeded (ResultCode 0). False when it failed, or when a nested call aborted it
  // (ErrorMessage "426 Operation aborted."). On time-out, or when the application is terminating,
  // the session is aborted, ErrorMessage is "426 Timeout", ReplyCode 426, and the result False.
  virtual bool WaitRequestEnd();

  // Each starts its request and waits for its end (WaitRequestEnd). A request that cannot start
  // (SmtpException: not ready, not connected, already connected, no recipients) gives False at
  // once, with ErrorMessage unchanged.
  virtual bool SyncConnect();
  virtual bool SyncHelo();
  virtual bool SyncEhlo();
  virtual bool SyncAuth();
  virtual bool SyncVrfy();
  virtual bool SyncMailFrom();
  virtual bool SyncRcptTo();
  virtual bool SyncData();
  // Without a session: at once, with the result of the last command.
  virtual bool SyncQuit();
  virtual bool SyncRset();
  // Aborts the session; the result is that of the last command.
  virtual bool SyncAbort();
  virtual bool SyncOpen();
  virtual bool SyncMail();

 protected:
  const char* ClassName() const override { return "TSyncSmtpCli"; }
  // Each message line produced pushes the deadline on, so the time-out bounds silence, not the
  // length of a message.
  void NotifyGetData(int32_t LineNum, std::string& Line, bool& More) override;
  // So does each reply line received.
  void NotifyResponse(const std::string& Msg) override;

  DWORD TimeStop = 0;  // the tick count at which the pending wait gives up

 private:
  bool RunSync(void (TCustomSmtpClient::*Operation)());
  void PushDeadline();
};
