// The asynchronous SMTP client engine. Every operation is a request: the caller starts it, the
// client sends one command (or, for Open and Mail, a chain of commands) and the end of the request
// is reported exactly once through OnRequestDone, posted to the client's own hidden window, so it
// always runs later from the message loop and never inside the call that ended the request.
// Nothing blocks: progress comes from the notifications of the client's socket and the server's
// replies. Message composition is TSmtpCli's (net/mail/smtpcli.h), the blocking calls are
// TSyncSmtpCli's (net/mail/syncsmtp.h).
//
// Ownership and threads: the client owns its socket, hidden window and string lists; it belongs to
// the thread that created it, and every call, notification and event runs on that thread. An event
// handler may start the next request from OnRequestDone; it must not destroy the client from inside
// any other of its events.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "net/mail/cram.h"
#include "net/mail/smtplimits.h"
#include "net/mail/smtptypes.h"
#include "net/socket/line.h"
#include "rtl/classes.h"

// Messages of the client's hidden window.
constexpr UINT WM_SMTP_REQUEST_DONE = WM_USER + 1;  // wParam the request, lParam its code
constexpr UINT WM_SMTP_NEXT_LINE = WM_USER + 2;     // the next message line in smtpToStream mode

class TCustomSmtpClient : public rtl::TComponent {
 public:
  explicit TCustomSmtpClient(rtl::TComponent* owner = nullptr);
  ~TCustomSmtpClient() override;
  TCustomSmtpClient(const TCustomSmtpClient&) = delete;
  TCustomSmtpClient& operator=(const TCustomSmtpClient&) = delete;

  // ---- published properties ----
  std::string Host;                   // server name or dotted address
  std::string LocalAddr = "0.0.0.0";  // local address to bind
  std::string Port = "smtp";          // service name or number
  std::string SignOn;                 // name sent with HELO/EHLO; empty: the local host name
  std::string Username;
  std::string Password;
  TSmtpAuthType AuthType = smtpAuthNone;  // also decides what Open does
  bool ConfirmReceipt = false;            // adds Disposition-Notification-To
  std::string FromName;                   // envelope sender ("Name <address>" or an address)
  rtl::TStringList RcptName;              // envelope recipients, one address per entry
  rtl::TStringList MailMessage;           // message text, one line per entry
  // Header values; HdrTo is also the argument of VRFY.
  std::string HdrFrom, HdrTo, HdrCc, HdrReplyTo, HdrReturnPath, HdrSubject, HdrSender;
  TSmtpPriority HdrPriority = smtpPriorityNone;
  std::string CharSet = "iso-8859-1";  // named in Content-Type and in encoded words
  TSmtpSendMode SendMode = smtpToSocket;
  TSmtpDefaultEncoding DefaultEncoding = smtpEnc7bit;
  bool Allow8bitChars = true;    // header and body may carry 8-bit bytes unencoded
  bool FoldHeaders = false;      // fold header lines longer than 76
  bool WrapMessageText = false;  // wrap 7bit and 8bit body lines at 76
  bool OwnHeaders = false;       // the body source supplies every header line itself
  TSmtpShareMode ShareMode = smtpShareDenyWrite;  // stored: this platform has no sharing modes

  // Assigning a list copies its entries.
  void SetRcptName(const rtl::TStringList& value) { RcptName.Assign(value); }
  void SetMailMessage(const rtl::TStringList& value) { MailMessage.Assign(value); }

  TSmtpContentType ContentType() const { return FContentType; }
  // Also sets the MIME type text: "text/plain" or "text/html".
  virtual void SetContentType(TSmtpContentType value);
  TSmtpState State() const { return FState; }
  // The text of the first failure of the current request (cleared when a request starts).
  const std::string& ErrorMessage() const { return FErrorMessage; }
  // The last reply line received, without CR LF.
  const std::string& LastResponse() const { return FLastResponse; }

  // ---- events ----
  TSmtpDisplay OnDisplay;   // "> " + each command and message line, "< " + each reply line
  TSmtpDisplay OnCommand;   // each command line just before it is sent
  TSmtpDisplay OnResponse;  // each reply line as received
  TSmtpRequestDone OnRequestDone;
  // After the greeting (0), or with the error when the host cannot be looked up.
  TSessionConnected OnSessionConnected;
  TSessionClosed OnSessionClosed;
  TSmtpRcptToErrorEvent OnRcptToError;  // a refused recipient that is not the last one
  TSmtpGetDataEvent OnGetData;          // the next body line
  TSmtpHeaderLineEvent OnHeaderLine;
  TSmtpProcessHeaderEvent OnProcessHeader;
  // Not published: called whenever State changes.
  TNotifyEvent OnStateChange;

  // ---- requests ----
  // Each returns at once; the outcome arrives through OnRequestDone (0: success). Each raises
  // SmtpException, starting nothing, when State is not smtpReady ("SMTP component not ready") or,
  // for a command, when there is no session ("SMTP component not connected").
  // Connect: resolves Host, connects to Port and waits for the greeting 220 ("SMTP component
  // already connected" while connected).
  virtual void Connect();
  virtual void Helo();  // "HELO " + name; 250
  virtual void Ehlo();  // "EHLO " + name; 250; EsmtpAccepted on success
  // Logs in with AuthType; 235. Needs a successful EHLO: without one it ends at once with 500
  // ("500 ESMTP not supported."), as it does with smtpAuthNone ("500 No Authentication Type
  // Selected."). Every command of the exchange is reported as smtpRqAuth. A refused opening ends
  // the request with the reply code; under smtpAuthAutoSelect a 504 moves on to the next method
  // (net/mail/smtpauth.h), its line staying in ErrorMessage even when a later method succeeds,
  // and any other refusal gives the ErrorMessage "500 Authentication Type could not be
  // determined.". A 334 without a challenge (CRAM-MD5, CRAM-SHA1, NTLM) ends the
  // request with 500 and "500 Malformed ... " + the reply.
  virtual void Auth();
  virtual void Vrfy();      // "VRFY " + HdrTo; 250
  virtual void MailFrom();  // "MAIL FROM:<" + address of FromName + ">"; 250
  // "RCPT TO:<" + address + ">" for each RcptName entry; 250 or 251. Raises "RcptName list is
  // empty" without recipients. A refused recipient that is not the last is offered to
  // OnRcptToError (abort, retry or skip); without a handler it ends the request.
  virtual void RcptTo();
  // "DATA" (354), the header lines, the body lines, "." (250).
  virtual void Data();
  // "QUIT" (221); the request ends, with 0, when the server closes the session. Without a
  // session it ends at once with 0.
  virtual void Quit();
  virtual void Rset();  // "RSET"; 250
  // Closes the connection at once. Not a request: a pending single request ends with 10004, a
  // pending chain with 426 "426 Operation aborted.", and nothing is reported when idle.
  virtual void Abort();
  // Chain: Connect and HELO; or, when AuthType is not smtpAuthNone, Connect, EHLO and AUTH (a
  // refused EHLO is retried as HELO, without AUTH). Reported as smtpRqOpen.
  virtual void Open();
  // Chain: MAIL FROM, RCPT TO, DATA; reported as smtpRqMail. Ends at once with 500, sending
  // nothing, when the sender or a recipient holds a CR, LF or zero byte.
  virtual void Mail();

  // Appends the addresses of To, Cc and Bcc to RcptName: items end at "," or ";" outside double
  // quotes, are trimmed, and empty ones are dropped.
  void AddRecipients(const std::string& To, const std::string& Cc, const std::string& Bcc);

  // The connection (made on first use by CreateSocket; owned by the client).
  TAsyncSocket& Socket();
  HWND WindowHandle() const { return FWindowHandle; }
  // The Message-ID of the last message sent.
  const std::string& MessageIdText() const { return MessageId; }

  // Where smtpToStream and smtpCopyToStream put the message lines (each ended by CR LF): borrowed,
  // until the message is done ("closed": flushed and forgotten) or aborted. Set one for each
  // message. Without one those modes only pace (or only send) the lines.
  void SetStreamTarget(std::ostream* target) { streamTarget_ = target; }

 protected:
  // Continuations of a pending command (methods of the client, none when null).
  using THandler = void (TCustomSmtpClient::*)();

  // ---- virtual operations, in their order ----
  // Makes the socket: a TAsyncSocket without line mode, named after the client.
  virtual std::unique_ptr<TAsyncSocket> CreateSocket();
  virtual void NotifyDisplay(const std::string& Msg);
  virtual void NotifyCommand(const std::string& Msg);
  virtual void NotifyResponse(const std::string& Msg);
  // Ends the pending request with code (at most once per request): a running chain goes on with
  // its next step; else State becomes smtpReady and OnRequestDone is posted.
  virtual void NotifyRequestDone(int code);
  virtual void NotifyStateChange();
  // The next body line into Line; More cleared when there is none. This one asks OnGetData through
  // a buffer of kSmtpLineBufferSize bytes.
  virtual void NotifyGetData(int32_t LineNum, std::string& Line, bool& More);
  // A header line, zero-terminated in a buffer of Size bytes, may be changed in place.
  virtual void NotifyHeaderLine(char* Msg, int32_t Size);
  virtual void NotifyProcessHeader(rtl::TStringList& HdrLines);
  virtual void NotifySessionConnected(WORD ErrCode);
  virtual void NotifySessionClosed(WORD ErrCode);
  // Shows and sends one command line (sent only while the socket is connected).
  virtual void SendCommand(const std::string& Cmd);
  // Starts the next step of a chain, or ends the chain when none is left.
  virtual void RunNextStep();
  virtual void WndProc(TMessage& Msg);

  // The class name the socket is named after.
  virtual const char* ClassName() const { return "TCustomSmtpClient"; }
  // The MIME type text of ContentType.
  const std::string& MimeTypeText() const { return mimeType_; }

  // Raises "SMTP component not ready" unless State is smtpReady or smtpInternalReady.
  void CheckReady() const;
  // Raises as StartRequest would for a command, changing nothing.
  void CheckCommandStart() const;
  // Starts a command: checks, takes the success codes (0-terminated), clears RequestDoneFired,
  // sets the reply handler and the continuation, State smtpWaitingResponse, and sends Cmd.
  void StartRequest(TSmtpRequest Rq, const std::string& Cmd, std::initializer_list<int> OkList,
                    THandler Done);
  // A request of the owner begins (not a step of a chain): its type, a new serial number and,
  // with clearError, an empty ErrorMessage.
  void BeginRequest(TSmtpRequest Rq, bool clearError = true);
  // Stores line as ErrorMessage unless one is kept already.
  void KeepError(const std::string& line);
  // Fails the pending request with 500 and "500 " + class + ": " + message.
  void FailWithException(const rtl::Exception& E);
  // Starts a request that fails at once: reported as Rq with 500 and "500 " + text.
  void FailAtOnce(TSmtpRequest Rq, const std::string& text);
  void SetState(TSmtpState value);

  // One request's end, as a synchronous caller sees it.
  struct TRequestEnd {
    bool Ended = false;
    int Code = 0;          // the code reported to OnRequestDone
    int Result = 0;        // ResultCode at the end
    bool Aborted = false;  // ended by Abort
  };
  // The serial number of the request begun last (0: none yet); a chain counts as one request.
  uint64_t RequestSerial() const { return requestSerial_; }
  // Fills *end when the request with that serial ends (at once when it already has), until
  // UnwatchRequest. REQUIRES: end stays valid until then.
  void WatchRequest(uint64_t serial, TRequestEnd* end);
  void UnwatchRequest(const TRequestEnd* end);

  // ---- internal state ----
  bool IsConnected = false;  // the TCP session is up
  // The EHLO started last succeeded. While its reply comes in, NotifyResponse fills
  // ServerAuthTypes from it.
  bool EsmtpAccepted = false;
  TSmtpRequest CurrentRqType = smtpRqConnect;
  bool RequestDoneFired = true;  // nothing is pending
  int ReplyCode = 0;             // code of the last evaluated reply line
  int ResultCode = 0;            // outcome of the last command: 0, a reply code, 500, 426, an error
  char ReceiveBuffer[kSmtpReceiveBufferSize] = {};
  int ReceiveLen = 0;
  std::array<int, kSmtpMaxOkCodes> OkCodes = {};
  THandler NextHandler = nullptr;
  THandler DoneHandler = nullptr;
  THandler ChainHandler = nullptr;
  TSmtpStepSet StepSet;
  TSmtpStep PrevStep = stepNone;
  int ChainResult = 0;
  bool InChain = false;
  rtl::TStringList ServerAuthTypes;  // what the last EHLO reply announced: upper case, each once
  TSmtpAuthType AuthMethod = smtpAuthNone;  // the method the login is trying
  int ItemIndex = 0;  // the recipient being sent, or the header line being sent
  rtl::TStringList HeaderLines;
  int BodyLineNum = 0;
  bool MoreBodyLines = false;
  std::string MessageId;  // MessageIdText

  std::string FErrorMessage;
  std::string FLastResponse;
  TSmtpState FState = smtpReady;
  TSmtpContentType FContentType = smtpPlainText;
  HWND FWindowHandle = 0;

 private:
  // Socket notifications.
  void SocketDnsLookupDone(WORD Error);
  void SocketSessionConnected(WORD Error);
  void SocketDataAvailable(WORD Error);
  void SocketSessionClosed(WORD Error);
  void SocketDataSent(WORD Error);
  // Cuts the received bytes into reply lines and evaluates them; false once the session was closed
  // on the way (the rest of the buffer is not read).
  bool ProcessReceived();
  void EvaluateGreeting(const std::string& line);
  // Evaluates the reply of the pending command (the NextHandler).
  void HandleReply();
  void RecipientStep();
  void EhloDone();
  // The login (smtplogin.cpp): the opening command of AuthMethod, its reply, and the follow-ups of
  // each method, sent from smtpInternalReady.
  void StartAuthMethod();
  void AuthOpened();
  void AuthFollowUp(const std::string& Cmd, int OkCode, THandler Done);
  void LoginUserStep();
  void LoginPasswordStep();
  void CramStep(net::mail::TCramKind kind, const char* malformedText);
  void NtlmStep();
  // True, after ending the request with 500 and malformedText + the reply, when the reply to the
  // opening holds no challenge.
  bool ChallengeMissing(const char* malformedText);
  // The line sender of DATA: one message line per call.
  void SendNextLine();
  void SendMessageLine(const std::string& line, bool stuffFirst);
  // The message body failed: the session is closed without ".", the request fails.
  void FailBody(const rtl::Exception& E);
  void CloseStreamTarget();
  void StartChain(TSmtpRequest Rq, TSmtpStepSet Steps);
  void StartStep(TSmtpStep step);
  void EndChain();
  void FailLine(const std::string& line);
  // The name sent with HELO and EHLO.
  std::string HeloName();
  // Fills HeaderLines with the message's header lines (a new Message-ID included).
  void BuildHeaderLines();

  std::string mimeType_ = "text/plain";
  std::mt19937 random_;  // for Message-IDs, seeded once
  std::unique_ptr<TAsyncSocket> socket_;
  std::ostream* streamTarget_ = nullptr;
  std::string lineBuffer_;  // the header-line hook's buffer
  uint64_t requestSerial_ = 0;
  uint64_t endedSerial_ = 0;
  TRequestEnd lastEnd_;
  std::vector<std::pair<uint64_t, TRequestEnd*>> watchers_;
  bool aborting_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
