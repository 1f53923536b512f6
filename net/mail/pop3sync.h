// The synchronous POP3 client: each Sync call starts the request of the same name (through the
// virtual table, so a subclass's override runs) and returns only when that request has ended,
// True when it ended with 0. While it waits it handles the calling thread's messages, so timers
// and sockets of the same thread (other components, the caller's own listeners) go on meanwhile.
// A wait gives up after Timeout seconds without a received line, or when the application is
// terminating: it aborts the request and returns False with ErrorMessage "426 Timeout" and
// StatusCode 426. A request that something else aborts meanwhile (a handler run inside the wait)
// makes the call return False with ErrorMessage "426 Operation aborted.". Every exception of the
// call is swallowed (False); ErrorMessage holds a text only where the engine or the wait put one.
//
// Ownership and threads: as TPop3Cli; the waits run on the owning thread. A Sync call may be made
// from inside another component's or socket's handler; one made from inside this component's own
// line events waits in vain (its socket's notifications are held until that handler returns).
#pragma once

#include <cstdint>
#include <vector>

#include "net/mail/mailwait.h"
#include "net/mail/pop3cli.h"
#include "net/mail/pop3limits.h"

namespace net::mail {

class TSyncPop3Cli : public TPop3Cli {
 public:
  explicit TSyncPop3Cli(rtl::TComponent* owner = nullptr);

  // ---- published properties ----
  // Seconds without a received line after which a wait gives up; 0 or less waits without limit.
  int Timeout = kPop3DefaultTimeoutSeconds;
  // While waiting, handle only the socket's own loop's messages instead of the thread's.
  bool MultiThreaded = false;
  // The owner's test of whether the application is terminating (see mailwait.h); without one a
  // quit request pending on the thread counts.
  TTerminatingTest Terminating;

  // Waits for the running request to end: True when it ended with 0. With no request running it
  // returns at once whether the last one succeeded.
  virtual bool WaitUntilReady();
  virtual bool SyncConnect();
  // Connect, USER, PASS: the POP-before-SMTP login. AuthType plays no part.
  virtual bool SyncLogin();
  virtual bool SyncUser();
  virtual bool SyncPass();
  virtual bool SyncRPop();
  virtual bool SyncAPop();
  // Returns when the server has closed the session; at once (the last request's success) when
  // the component is not connected.
  virtual bool SyncQuit();
  virtual bool SyncStat();
  virtual bool SyncList();
  virtual bool SyncRetr();
  virtual bool SyncTop();
  virtual bool SyncDele();
  virtual bool SyncNoop();
  virtual bool SyncLast();
  virtual bool SyncRSet();
  virtual bool SyncUidl();
  // Aborts what runs; the value is whether the request that was running (or the last one)
  // succeeded.
  virtual bool SyncAbort();

 protected:
  // Every received line moves the deadline on.
  void NotifyResponse(const std::string& Msg) override;

 private:
  // One wait for the request numbered serial; filled when that request ends.
  struct TWait {
    uint32_t serial = 0;
    bool ended = false;
    WORD error = 0;
    bool aborted = false;
  };

  // Calls op and waits; False for any exception.
  bool Synchronize(void (TCustomPop3Cli::*op)());
  void RestartDeadline();
  // Milliseconds of Timeout, within what tick counts can measure.
  DWORD TimeoutMs() const;

  DWORD deadline_ = 0;
  std::vector<TWait*> waits_;  // the waits now running, innermost last
};

}  // namespace net::mail
