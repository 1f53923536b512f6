// The POP3 client's shared vocabulary: its exception, the protocol and internal states, the
// request kinds reported by OnRequestDone, the authentication methods, the steps of a high-level
// request and the event signatures. Plain types; nothing here keeps state.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/win/win.h"
#include "rtl/classes.h"
#include "rtl/exception.h"

namespace net::mail {

// Raised at the call for misuse: a request started in the wrong state, not connected, an invalid
// argument. Server refusals and network errors never raise; they end the request with a non-zero
// error instead.
RTL_DECLARE_EXCEPTION(Pop3Exception, rtl::Exception);

// Where the POP3 dialogue stands (ProtocolState).
enum TPop3ProtocolState {
  pop3Disconnected = 0,
  pop3WaitingUser = 1,
  pop3WaitingPass = 2,
  pop3Transaction = 3,
};

// What the component is doing (announced through OnStateChange).
enum TPop3ClientState {
  psIdle = 0,              // no request running; a new one may start
  psResolving = 1,         // host-name lookup running
  psConnecting = 2,        // TCP connect running
  psGreeted = 3,           // greeting accepted (passes at once to psIdle or psBetweenSteps)
  psBetweenSteps = 4,      // between two commands of one request; a command may start
  psAwaitingGreeting = 5,  // connected, waiting for the server's first line
  psAwaitingReply = 6,     // a command was sent; waiting for its reply or data
  psAborting = 7,          // abort in progress
};

// The request that OnRequestDone reports.
enum TPop3Request {
  rqConnect = 0,
  rqUser = 1,
  rqPass = 2,
  rqRpop = 3,
  rqQuit = 4,
  rqStat = 5,
  rqList = 6,
  rqRetr = 7,
  rqTop = 8,
  rqDele = 9,
  rqNoop = 10,
  rqLast = 11,
  rqRset = 12,
  rqUidl = 13,
  rqApop = 14,
  rqLogin = 15,
  rqAuth = 16,
};

// How Auth logs in: popAuthNone sends USER (PASS is then the caller's next request).
enum TPop3AuthType {
  popAuthNone = 0,
  popAuthLogin = 1,
  popAuthCramMD5 = 2,
  popAuthCramSHA1 = 3,
};

// The steps of a high-level request, as bit numbers of a TPop3StepSet.
enum TPop3Step : uint16_t {
  pop3StepConnect = 1,
  pop3StepUser = 2,
  pop3StepPass = 3,
  pop3StepRpop = 4,
  pop3StepQuit = 5,
  pop3StepApop = 6,
  pop3StepStat = 7,
  pop3StepList = 8,
  pop3StepUidl = 9,
  pop3StepRetr = 10,
  pop3StepTop = 11,
  pop3StepDele = 12,
  pop3StepNoop = 13,
  pop3StepRset = 14,
  pop3StepLast = 15,
};
using TPop3StepSet = uint16_t;

constexpr TPop3StepSet Pop3Step(TPop3Step step) {
  return static_cast<TPop3StepSet>(1u << step);
}

// Events; Sender is the component. Msg is a line as sent or received, without its line end.
using TPop3Display = std::function<void(rtl::TObject* Sender, const std::string& Msg)>;
using TPop3RequestDone = std::function<void(rtl::TObject* Sender, TPop3Request RqType, WORD Error)>;
// A TCP session opened or closed; Error 0 or a socket error code.
using TPop3SessionEvent = std::function<void(rtl::TObject* Sender, WORD Error)>;

}  // namespace net::mail
