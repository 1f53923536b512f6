// The POP3 component's core: construction, the state, the request's life (open, report, close),
// the socket's notifications (lookup, connect, receive, close), the greeting and Abort.
#include "net/mail/pop3cli.h"

#include <utility>

#include "net/socket/socklib.h"
#include "rtl/scope.h"

namespace net::mail {

namespace {

// "-ERR " + the socket error's text + " (Winsock error #" + code + ")".
std::string SocketFailureText(WORD error) {
  return "-ERR " + WinsockErrorText(error) + " (Winsock error #" + std::to_string(error) + ")";
}

}  // namespace

TCustomPop3Cli::TCustomPop3Cli(rtl::TComponent* owner) : rtl::TComponent(owner) {
  window_ = AllocateHWnd([this](TMessage& m) { WindowProcedure(m); });
  socket_ = new TAsyncSocket(this);
  socket_->OnSessionClosed = [this](rtl::TObject*, WORD error) {
    Guarded([&] { SessionClosed(error); });
  };
}

TCustomPop3Cli::~TCustomPop3Cli() {
  *alive_ = false;
  if (TAsyncSocket* s = socket_) {
    s->OnSessionClosed = nullptr;
    s->OnSessionConnected = nullptr;
    s->OnDataAvailable = nullptr;
    s->OnDnsLookupDone = nullptr;
    socket_ = nullptr;
    delete s;
  }
  DeallocateHWnd(window_);
}

void TCustomPop3Cli::Notification(rtl::TComponent* component, rtl::TOperation operation) {
  rtl::TComponent::Notification(component, operation);
  if (operation == rtl::TOperation::opRemove && component == socket_) socket_ = nullptr;
}

// ---- state ----

void TCustomPop3Cli::SetState(TPop3ClientState state) {
  if (state == state_) return;
  state_ = state;
  NotifyStateChange();
}

void TCustomPop3Cli::NotifyStateChange() {
  if (OnStateChange) OnStateChange(this);
}

void TCustomPop3Cli::NotifySessionConnected(WORD Error) {
  if (OnSessionConnected) OnSessionConnected(this, Error);
}

void TCustomPop3Cli::NotifyResponse(const std::string& Msg) {
  if (OnResponse) OnResponse(this, Msg);
}

void TCustomPop3Cli::Display(const std::string& text) {
  if (OnDisplay) OnDisplay(this, text);
}

void TCustomPop3Cli::CheckReady() const {
  if (state_ != psIdle && state_ != psBetweenSteps) throw Pop3Exception(kPop3NotReady);
}

void TCustomPop3Cli::Refuse(const std::string& text) {
  errorMessage_ = text;
  Display(text);
  throw Pop3Exception(text);
}

// ---- a request's life ----

void TCustomPop3Cli::OpenRequest() {
  requestOpen_ = true;
  ++requestSerial_;
  errorMessage_.clear();
}

// A request ends in three steps: the QUIT rule, the once-only rule, then either the chain's next
// step or the report. QUIT is special: its reply only arms the end, and the session's close
// completes it (a close that comes without a reply completes it too, see SessionClosed).
void TCustomPop3Cli::NotifyRequestDone(WORD Error) {
  if (requestType_ == rqQuit) {
    if (!quitDone_) {
      quitDone_ = true;
      return;
    }
    quitDone_ = false;
    Error = requestResult_;  // 0, unless the server refused QUIT or it was aborted
  }
  if (requestDone_) return;
  requestDone_ = true;
  if (chainRunning_) {
    if (state_ != psAborting) SetState(psBetweenSteps);
    NextStep();
    return;
  }
  CloseRequest(Error);
}

// The request is over before the state says idle, so that an OnStateChange handler may start
// the next one; the report names this request whatever starts meanwhile. Inside Abort the state
// stays psAborting: Abort sets it idle once its close is complete.
void TCustomPop3Cli::CloseRequest(WORD Error) {
  const TPop3Request rq = requestType_;
  const uint32_t serial = requestSerial_;
  const bool wasOpen = requestOpen_;
  const bool aborted = aborting_ || state_ == psAborting;
  requestOpen_ = false;
  highLevel_ = false;
  if (!aborting_) SetState(psIdle);
  if (wasOpen && requestEnded_) requestEnded_(serial, Error, aborted);
  PostMessage(window_, WM_POP3_REQUEST_DONE, static_cast<WPARAM>(rq), Error);
}

void TCustomPop3Cli::FailRequest(const std::string& text) {
  if (!requestOpen_) return;
  if (errorMessage_.empty()) errorMessage_ = text;
  if (requestResult_ == 0) requestResult_ = kPop3Refused;
  statusCode_ = kPop3Refused;
  next_ = nullptr;
  if (requestType_ == rqQuit) quitDone_ = true;  // ends now, not at the close
  requestDone_ = false;
  NotifyRequestDone(requestResult_);
}

template <typename Fn>
void TCustomPop3Cli::Guarded(Fn fn) {
  std::string text;
  try {
    fn();
    return;
  } catch (const std::exception& e) {
    text = e.what();
  } catch (...) {
    text = "Unknown exception";
  }
  try {
    FailRequest(text);
  } catch (...) {
    // A handler failed again while the request was ending: close it all the same, so that
    // nothing waits for it and nothing escapes into the socket layer.
    if (requestOpen_) {
      chainRunning_ = false;
      requestDone_ = true;
      try {
        CloseRequest(requestResult_ ? requestResult_ : kPop3Refused);
      } catch (...) {
      }
    }
  }
}

void TCustomPop3Cli::WndProc(TMessage& Msg) {
  if (Msg.Msg == WM_POP3_REQUEST_DONE) {
    if (OnRequestDone)
      OnRequestDone(this, static_cast<TPop3Request>(Msg.WParam), static_cast<WORD>(Msg.LParam));
    return;
  }
  Msg.Result = 0;
}

// A message that arrives while OnRequestDone runs (its handler pumps) waits until the outermost
// handler returns, so the handler of one request never runs inside the handler of another. The
// handler may destroy the component: alive tells, and nothing is touched afterwards.
void TCustomPop3Cli::WindowProcedure(TMessage& Msg) {
  heldMessages_.push_back(Msg);
  if (windowDepth_ > 0) return;
  const std::shared_ptr<bool> alive = alive_;
  while (!heldMessages_.empty()) {
    TMessage m = heldMessages_.front();
    heldMessages_.pop_front();
    ++windowDepth_;
    try {
      WndProc(m);
      if (!*alive) return;
    } catch (...) {
      if (!*alive) throw;
      --windowDepth_;
      // The rest goes out through the queue, after this failure has reached the loop.
      for (const TMessage& held : heldMessages_)
        PostMessage(window_, held.Msg, held.WParam, held.LParam);
      heldMessages_.clear();
      throw;
    }
    --windowDepth_;
  }
}

// ---- connecting ----

void TCustomPop3Cli::Connect() {
  CheckReady();
  if (connected_) throw Pop3Exception(kPop3AlreadyConnected);
  if (!socket_) throw Pop3Exception(kPop3NotReady);
  if (!highLevel_) {
    requestType_ = rqConnect;
    OpenRequest();
  }
  requestDone_ = false;
  splitter_.Clear();
  requestResult_ = 0;
  timestamp_.clear();
  errorMessage_.clear();
  quitDone_ = false;
  next_ = nullptr;
  socket_->OnDataSent = nullptr;
  socket_->OnDnsLookupDone = [this](rtl::TObject*, WORD error) {
    Guarded([&] { LookupDone(error); });
  };
  SetState(psResolving);
  try {
    socket_->DnsLookup(Host);
  } catch (const std::exception& e) {
    // The request never started: nothing is reported for it, the caller hears the exception.
    if (errorMessage_.empty()) errorMessage_ = e.what();
    if (!highLevel_) requestOpen_ = false;
    StopSession();
    SetState(psIdle);
    throw;
  }
}

void TCustomPop3Cli::LookupDone(WORD Error) {
  if (state_ != psResolving) return;  // aborted meanwhile
  if (Error != 0) {
    lastResponse_ = SocketFailureText(Error);
    statusCode_ = kPop3Refused;
    requestResult_ = Error;
    if (errorMessage_.empty()) errorMessage_ = lastResponse_;
    NotifyRequestDone(Error);
    return;
  }
  try {
    socket_->SetAddr(socket_->DnsResult());
    socket_->SetProto("tcp");
    socket_->SetPort(Port);
    socket_->SetLocalAddr(LocalAddr);
    socket_->OnSessionConnected = [this](rtl::TObject*, WORD error) {
      Guarded([&] { SessionConnected(error); });
    };
    socket_->OnDataAvailable = [this](rtl::TObject*, WORD error) {
      Guarded([&] { DataAvailable(error); });
    };
    SetState(psConnecting);
    socket_->Connect();
  } catch (const rtl::Exception& E) {
    lastResponse_ = std::string("-ERR ") + E.ClassName() + ": " + E.Message;
    statusCode_ = kPop3Refused;
    requestResult_ = kPop3Refused;
    if (errorMessage_.empty()) errorMessage_ = lastResponse_;
    NotifyRequestDone(kPop3Refused);
  }
}

void TCustomPop3Cli::SessionConnected(WORD Error) {
  if (state_ != psConnecting) return;
  if (Error != 0) {
    lastResponse_ = SocketFailureText(Error);
    connected_ = false;
    statusCode_ = kPop3Refused;
    requestResult_ = Error;
    if (errorMessage_.empty()) errorMessage_ = lastResponse_;
    NotifyRequestDone(Error);
    socket_->Close();
    SetState(psIdle);
    return;
  }
  connected_ = true;
  SetState(psAwaitingGreeting);
}

// ---- receiving ----

// Reads what the room allows, hands on every complete line (or piece of an over-long one), and
// reads again while a read filled the room. A handler that closes or aborts the session ends the
// reading: what is still held belongs to a session that is gone.
void TCustomPop3Cli::DataAvailable(WORD Error) {
  for (;;) {
    const int room = splitter_.Room();
    const int n = socket_->Receive(splitter_.WritePos(), room);
    if (n <= 0) return;
    splitter_.Commit(n);
    std::string line;
    bool continuation = false;
    while (splitter_.NextLine(line, continuation)) {
      lastResponse_ = std::move(line);
      Guarded([&] { ProcessLine(continuation, Error); });
      if (!socket_ || socket_->State() != wsConnected) return;
    }
    if (n < room) return;
  }
}

void TCustomPop3Cli::ProcessLine(bool continuation, WORD Error) {
  NotifyResponse(lastResponse_);
  // The rest of a cut line is data or nothing: it never answers a command.
  if (continuation && !InDataMode()) {
    Display("< " + lastResponse_);
    return;
  }
  switch (state_) {
    case psAwaitingGreeting:
      Greeting(Error);
      break;
    case psAwaitingReply:
      if (!next_) throw Pop3Exception(kPop3NoHandler);
      continuationLine_ = continuation;
      (this->*next_)();
      break;
    default:
      Display("< " + lastResponse_);
      break;
  }
}

void TCustomPop3Cli::Greeting(WORD Error) {
  Display("< " + lastResponse_);
  if (state_ != psAwaitingGreeting) return;  // the display handler aborted
  if (!Pop3Positive(lastResponse_)) {
    if (errorMessage_.empty()) errorMessage_ = lastResponse_;
    statusCode_ = kPop3Refused;
    requestResult_ = kPop3Refused;
    socket_->Close();  // the request ends through the session's close
    return;
  }
  timestamp_ = Pop3GreetingTimestamp(lastResponse_);
  protocolState_ = pop3WaitingUser;
  SetState(psGreeted);
  NotifySessionConnected(Error);
  NotifyRequestDone(0);
}

// ---- closing ----

void TCustomPop3Cli::SessionClosed(WORD Error) {
  const uint32_t serial = requestSerial_;
  const bool inData = InDataMode();
  connected_ = false;
  if (OnSessionClosed) OnSessionClosed(this, Error);
  // Unless the handler aborted or started something new, the pending request ends here; so does
  // one whose Abort made this close.
  const bool pending = aborting_ || (state_ != psAborting && state_ != psIdle);
  if (requestOpen_ && requestSerial_ == serial && pending) {
    if (inData && !aborting_) {
      DataDisconnected();
    } else if (requestType_ == rqQuit) {
      quitDone_ = true;  // answered or not, the close (an abort's too) completes QUIT
      NotifyRequestDone(0);
    } else {
      EndClosed();
    }
  }
  if (!connected_) protocolState_ = pop3Disconnected;
}

// Cancels the lookup and resets the connection. Their failures (the socket layer raises for a
// handle it cannot close) do not stop an abort: the session is gone either way.
void TCustomPop3Cli::StopSession() {
  SetState(psAborting);
  next_ = nullptr;
  if (socket_) {
    try {
      socket_->CancelDnsLookup();
    } catch (const std::exception&) {
    }
    try {
      socket_->Abort();
    } catch (const std::exception&) {
    }
  }
  connected_ = false;
}

// The request ends with 10004 ("the session closed"); its result keeps a failure it already
// holds (a refused greeting's 500). A chain between steps ends as well.
void TCustomPop3Cli::EndClosed() {
  if (requestResult_ == 0) requestResult_ = kPop3ClosedCode;
  if (requestType_ == rqQuit) quitDone_ = true;  // ends now, with the result
  requestDone_ = false;
  NotifyRequestDone(kPop3ClosedCode);
}

void TCustomPop3Cli::Abort() {
  {
    const rtl::TFlagScope aborting(aborting_);
    StopSession();  // a session that was up closes here, and its close ends the request
    // A request that no close ended (no session was up: the lookup) ends here, so nobody waits
    // for it. (Nothing new can start meanwhile: the state says psAborting.)
    if (requestOpen_) EndClosed();
  }
  // Idle only now, with the socket's close complete (the socket resets its settings after its
  // close handler returns, which would undo a connect begun inside it): an OnStateChange handler
  // may start the next request here, and nothing of this Abort touches it.
  SetState(psIdle);
}

}  // namespace net::mail
