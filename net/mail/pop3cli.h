// The asynchronous POP3 client. Every operation is a request: the call checks the state, sends
// one command (or, for Login, starts a chain of them) and returns at once; the end of the request
// is reported exactly once through OnRequestDone, posted to the component's own hidden window, so
// it never fires inside the call that started the request. Server refusals and network errors end
// a request with a non-zero error (500 for a "-" reply, the socket error code for a lookup or
// connect failure, 10004 for a session that closed while the request was pending); misuse raises
// Pop3Exception at the call and starts nothing.
//
// Ownership and threads: the component owns its socket (a TAsyncSocket, line mode off: the
// component cuts lines itself, see pop3lines.h) and its hidden window. Every call, event and
// notification runs on the thread that created it, which must handle its messages; nothing locks.
// An event handler may start the next request or call Abort. OnRequestDone may also destroy the
// component; the events that come from its socket (lines, responses, display, session events,
// state changes) must not, since the socket is never freed under its own handler. While
// OnRequestDone runs (and pumps messages inside it), the component's further OnRequestDone
// messages are held and delivered, in order, after it returns.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "net/mail/pop3commands.h"
#include "net/mail/pop3headers.h"
#include "net/mail/pop3lines.h"
#include "net/mail/pop3reply.h"
#include "net/mail/pop3texts.h"
#include "net/mail/pop3types.h"
#include "net/socket/line.h"
#include "platform/msg/msg.h"

namespace net::mail {

// The hidden window's one message: a request has ended (wParam the TPop3Request, lParam the
// error).
constexpr UINT WM_POP3_REQUEST_DONE = WM_USER + 1;

class TCustomPop3Cli : public rtl::TComponent, public TPop3HeaderFields {
 public:
  explicit TCustomPop3Cli(rtl::TComponent* owner = nullptr);
  ~TCustomPop3Cli() override;

  // ---- published properties (Tag is TComponent's) ----
  std::string Host;  // server name or dotted address
  std::string LocalAddr = "0.0.0.0";
  std::string Port = "pop3";  // service name or number
  std::string UserName;
  std::string PassWord;
  TPop3AuthType AuthType = popAuthNone;
  int MsgLines = 0;  // line count for TOP
  int MsgNum = 0;    // message number argument; also set from LIST, UIDL and LAST replies

  // The first failure text of the current request ("" when none).
  const std::string& ErrorMessage() const { return errorMessage_; }
  // The last line received, without its line end; the line events read their line here.
  const std::string& LastResponse() const { return lastResponse_; }
  TPop3ProtocolState ProtocolState() const { return protocolState_; }
  int MsgCount() const { return msgCount_; }  // from a STAT reply
  int MsgSize() const { return msgSize_; }    // from STAT, LIST and LAST replies
  const std::string& MsgUidl() const { return msgUidl_; }

  // ---- events ----
  TPop3Display OnDisplay;  // "> " + each command sent, "< " + each reply line
  TNotifyEvent OnMessageBegin;
  TNotifyEvent OnMessageEnd;
  TNotifyEvent OnMessageLine;  // one per line of RETR and TOP data, dots unstuffed
  TNotifyEvent OnListBegin;
  TNotifyEvent OnListEnd;
  TNotifyEvent OnListLine;  // MsgNum and MsgSize hold the line's numbers
  TNotifyEvent OnUidlBegin;
  TNotifyEvent OnUidlEnd;
  TNotifyEvent OnUidlLine;     // MsgNum and MsgUidl hold the line's number and id
  TNotifyEvent OnHeaderEnd;    // the empty line after a message's header
  TNotifyEvent OnStateChange;  // State() changed (never fired for the same state again)
  TPop3RequestDone OnRequestDone;
  TPop3Display OnResponse;               // every line received
  TPop3SessionEvent OnSessionConnected;  // greeted
  TPop3SessionEvent OnSessionClosed;

  // ---- what the component is doing ----
  TPop3ClientState State() const { return state_; }
  // The running request, or the last one.
  TPop3Request RequestType() const { return requestType_; }
  // The running (or last) request's result: 0, 500, 426, 10004 or a socket error code.
  WORD RequestResult() const { return requestResult_; }
  // 0 after a positive reply, 500 after a negative one, 426 after a time-out.
  int StatusCode() const { return statusCode_; }
  // The APOP timestamp of the greeting, brackets included ("" when it had none).
  const std::string& Timestamp() const { return timestamp_; }
  bool Connected() const { return connected_; }

  // ---- requests, in the order of the class's virtual operations ----
 protected:
  // The hidden window's procedure: WM_POP3_REQUEST_DONE fires OnRequestDone.
  virtual void WndProc(TMessage& Msg);
  virtual void NotifySessionConnected(WORD Error);
  virtual void NotifyResponse(const std::string& Msg);
  virtual void NotifyStateChange();
  // Ends the current request, or one step of it (see the .cpp for the QUIT and chain rules).
  virtual void NotifyRequestDone(WORD Error);

 public:
  // Looks up Host, connects to Port and reads the greeting (ProtocolState pop3WaitingUser after a
  // positive one, whose "<...>" part is kept as the APOP timestamp). REQUIRES: idle and not
  // connected ("POP3 component not ready", "POP3 component already connected"); a lookup that
  // cannot start raises the socket layer's exception.
  virtual void Connect();
  // Connect, USER, PASS as one request (rqLogin); the first failure ends it. REQUIRES: idle, not
  // connected ("pop3 component already connected").
  virtual void Login();
  // "AUTH LOGIN", "AUTH CRAM-MD5" or "AUTH CRAM-SHA1" and their exchange, by AuthType; with
  // popAuthNone it sends USER. REQUIRES: ProtocolState at most pop3WaitingUser.
  virtual void Auth();
  // The commands. Each raises "-ERR <keyword> command invalid now" (also put in ErrorMessage and
  // shown through OnDisplay) in a protocol state its table entry does not allow, "POP3 component
  // not ready" while another request runs, "POP3 component not connected" before Connect, and
  // "-ERR <keyword> command argument holds CR, LF or NUL" (stored and shown likewise) when the
  // user name or password would break the command line.
  virtual void User();
  virtual void Pass();
  virtual void RPop();
  // "APOP " + UserName + the MD5 digest of timestamp and PassWord. Raises "-ERR Server does not
  // support APOP (no timestamp)" (stored and shown) when the greeting had no timestamp.
  virtual void APop();
  // Sends QUIT and ends when the server closes the session. On an unconnected component it sends
  // nothing and reports nothing.
  virtual void Quit();
  virtual void Stat();
  virtual void List();
  virtual void Retr();
  // Raises "Invalid MsgLines for TOP command" for a negative MsgLines.
  virtual void Top();
  virtual void Dele();
  virtual void Noop();
  virtual void Last();
  virtual void RSet();
  virtual void Uidl();
  // Stops at once: the lookup is cancelled and the connection reset. A single request that was
  // running ends with 10004 and no text, also when no session was up yet (a lookup); QUIT ends
  // with 0, as at every close of its session; a high-level request ends with 426 and "426
  // Operation aborted.". Each is reported through OnRequestDone as usual. The state is psAborting
  // until the connection is gone and psIdle last of all, so an OnStateChange handler may start the
  // next request there.
  virtual void Abort();

 protected:
  void Notification(rtl::TComponent* component, rtl::TOperation operation) override;

  // For the synchronous client: the socket, the number of the latest request (each request that
  // starts on an idle component gets the next number), whether it is still running, and a call
  // made when a request ends, with its number, its error and whether Abort ended it.
  TAsyncSocket* CtrlSocket() const { return socket_; }
  uint32_t RequestSerial() const { return requestSerial_; }
  bool RequestRunning() const { return requestOpen_; }
  using TRequestEndedHook = std::function<void(uint32_t Serial, WORD Error, bool Aborted)>;
  void SetRequestEndedHook(TRequestEndedHook hook) { requestEnded_ = std::move(hook); }
  void SetErrorMessage(const std::string& text) { errorMessage_ = text; }
  void SetStatusCode(int code) { statusCode_ = code; }

 private:
  using THandler = void (TCustomPop3Cli::*)();
  // What a data line is parsed into before its event fires.
  enum class TLineParser { None, List, Uidl };

  // ---- state and requests (pop3cli.cpp) ----
  void SetState(TPop3ClientState state);
  void Display(const std::string& text);
  void CheckReady() const;
  // Stores text in ErrorMessage, shows it and raises it.
  [[noreturn]] void Refuse(const std::string& text);
  // A new request starts on an idle component.
  void OpenRequest();
  // The request's last report: idle, and OnRequestDone posted.
  void CloseRequest(WORD Error);
  // Ends the running request with a failure that did not come from the server (an exception
  // inside a step, a closed session).
  void FailRequest(const std::string& text);
  // Runs fn; an exception ends the running request with 500 and its text, so nothing hangs.
  template <typename Fn>
  void Guarded(Fn fn);
  // Ends the running request because its session closed (or was never up), with 10004.
  void EndClosed();
  // Cancels the lookup and resets the connection (state psAborting), reporting nothing itself
  // (inside Abort the close it makes ends the request).
  void StopSession();

  // ---- the socket's notifications (pop3cli.cpp) ----
  void LookupDone(WORD Error);
  void SessionConnected(WORD Error);
  void DataAvailable(WORD Error);
  void SessionClosed(WORD Error);
  void ProcessLine(bool continuation, WORD Error);
  void Greeting(WORD Error);
  void WindowProcedure(TMessage& Msg);

  // ---- commands and replies (pop3requests.cpp) ----
  // The checks of a table command and its start. AUTH gives its mechanism and the exchange that
  // follows a positive reply; other commands continue as their table entry says.
  void RunCommand(TPop3Request rq, const std::string& mechanism = std::string(),
                  THandler exchange = nullptr);
  // Sends one command line: the common start of every command.
  void SendCommand(TPop3Request rq, const char* keyword, const std::string& line, int newState,
                   THandler continuation);
  void ReplyHandler();
  THandler ContinuationOf(TPop3Outcome outcome) const;
  void CountsReply();
  void ListReply();
  void UidlReply();
  void LastReply();
  void MessageReply();
  void AuthLoginUser();
  void AuthLoginPass();
  void CramMd5Reply();
  void CramSha1Reply();
  void CramReply(TPop3Cram kind, const char* malformedText);

  // ---- data mode (pop3requests.cpp) ----
  void EnterData(TLineParser parser, TNotifyEvent* begin, TNotifyEvent* line, TNotifyEvent* end);
  void DataHandler();
  void DataDisconnected();
  bool InDataMode() const;

  // ---- high-level requests (pop3login.cpp) ----
  void HighLevelAsync(TPop3Request rq, TPop3StepSet steps);
  void NextStep();
  void RunStep(TPop3Step step);

  TAsyncSocket* socket_ = nullptr;
  HWND window_ = 0;
  bool connected_ = false;
  TPop3ClientState state_ = psIdle;
  TPop3Request requestType_ = rqConnect;
  bool requestDone_ = false;  // this request (or step) has been reported
  bool quitDone_ = false;     // QUIT has had its reply; the close ends it
  bool aborting_ = false;     // inside Abort: the close it makes ends the request
  TPop3LineSplitter splitter_;
  WORD requestResult_ = 0;
  int statusCode_ = 0;
  std::string timestamp_;

  THandler next_ = nullptr;             // runs on the next received line
  int newState_ = kPop3StateUnchanged;  // protocol state entered on a positive reply
  THandler continuation_ = nullptr;     // runs after a positive reply
  bool withArgument_ = false;           // LIST or UIDL was sent with a message number
  bool continuationLine_ = false;       // the line being handled continues a cut line

  TLineParser lineParser_ = TLineParser::None;
  TNotifyEvent* lineEvent_ = nullptr;
  TNotifyEvent* endEvent_ = nullptr;
  TPop3HeaderScanner headers_;

  TPop3StepSet steps_ = 0;
  TPop3Step currentStep_ = pop3StepConnect;
  WORD highLevelResult_ = 0;
  bool highLevel_ = false;     // a high-level request runs: steps keep its request type
  bool chainRunning_ = false;  // a step's end goes on to the next step

  bool requestOpen_ = false;
  uint32_t requestSerial_ = 0;
  TRequestEndedHook requestEnded_;

  std::string errorMessage_;
  std::string lastResponse_;
  TPop3ProtocolState protocolState_ = pop3Disconnected;
  int msgCount_ = 0;
  int msgSize_ = 0;
  std::string msgUidl_;

  int windowDepth_ = 0;  // OnRequestDone handlers now running
  std::deque<TMessage> heldMessages_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The component the programs create.
class TPop3Cli : public TCustomPop3Cli {
 public:
  using TCustomPop3Cli::TCustomPop3Cli;
};

}  // namespace net::mail
