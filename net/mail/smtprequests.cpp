// The requests of the engine: connecting, the single commands, the DATA line sender, Abort, and
// the Open and Mail chains. The login (Auth) is in smtplogin.cpp.
#include <cstring>

#include "net/mail/smtpaddress.h"
#include "net/mail/smtpclient.h"
#include "net/mail/smtpheader.h"
#include "net/socket/socklib.h"
#include "rtl/datetime.h"
#include "rtl/scope.h"

namespace {

// The text a request fails with when an argument would break its command line.
std::string BadArgument(const char* what) {
  return std::string("Invalid character (CR, LF or NUL) in ") + what;
}

std::string AddressOf(const std::string& text) {
  std::string name, address;
  ParseAddress(text, name, address);
  return address;
}

std::string SocketFailureLine(WORD error) {
  return "500 " + WinsockErrorText(error) + " (Winsock error #" + std::to_string(error) + ")";
}

}  // namespace

std::string TCustomSmtpClient::HeloName() {
  return SmtpHeloName(SignOn, SignOn.empty() ? WinsockLocalHostName() : std::string());
}

// ---- connecting ----

void TCustomSmtpClient::Connect() {
  CheckReady();
  if (IsConnected) throw SmtpException("SMTP component already connected");
  if (!InChain) BeginRequest(smtpRqConnect);
  RequestDoneFired = false;
  ReceiveLen = 0;
  ResultCode = 0;
  EsmtpAccepted = false;
  FErrorMessage.clear();
  FLastResponse.clear();
  SetState(smtpDnsLookup);
  TAsyncSocket& socket = Socket();
  socket.OnDataSent = nullptr;
  socket.OnDnsLookupDone = [this](rtl::TObject*, WORD Error) { SocketDnsLookupDone(Error); };
  try {
    socket.DnsLookup(Host);
  } catch (const rtl::Exception& E) {
    FLastResponse = "500 " + std::string(E.ClassName()) + ": " + E.Message;
    ReplyCode = ResultCode = kSmtpLocalFailure;
    KeepError(FLastResponse);
    NotifyRequestDone(kSmtpLocalFailure);
  }
}

void TCustomSmtpClient::SocketDnsLookupDone(WORD Error) {
  if (RequestDoneFired || (FState != smtpDnsLookup && FState != smtpAbort)) return;
  TAsyncSocket& socket = Socket();
  if (Error != 0) {
    FLastResponse = SocketFailureLine(Error);
    ReplyCode = kSmtpLocalFailure;
    KeepError(FLastResponse);
    ResultCode = Error;
    NotifySessionConnected(Error);
    NotifySessionClosed(Error);
    NotifyRequestDone(Error);
    return;
  }
  try {
    socket.SetAddr(socket.DnsResult());
    socket.SetLocalAddr(LocalAddr);
    socket.SetProto("tcp");
    socket.SetPort(Port);
    socket.OnSessionConnected = [this](rtl::TObject*, WORD E) { SocketSessionConnected(E); };
    socket.OnDataAvailable = [this](rtl::TObject*, WORD E) { SocketDataAvailable(E); };
    SetState(smtpConnecting);
    socket.LastError = 0;
    socket.Connect();
  } catch (const rtl::Exception& E) {
    FLastResponse = "500 " + std::string(E.ClassName()) + ": " + E.Message;
    ReplyCode = ResultCode = kSmtpLocalFailure;
    KeepError(FLastResponse);
    // A failure without an error code of the socket library still is a failure.
    NotifyRequestDone(socket.LastError != 0 ? socket.LastError : kSmtpLocalFailure);
  }
}

void TCustomSmtpClient::SocketSessionConnected(WORD Error) {
  if (Error != 0) {
    FLastResponse = SocketFailureLine(Error);
    ReplyCode = kSmtpLocalFailure;
    IsConnected = false;
    ResultCode = kSmtpLocalFailure;
    KeepError(FLastResponse);
    NotifyRequestDone(Error);
    Socket().Close();
    SetState(smtpReady);
    return;
  }
  IsConnected = true;
  SetState(smtpWaitingBanner);
}

// ---- single commands ----

void TCustomSmtpClient::Helo() {
  CheckCommandStart();
  const std::string name = HeloName();
  if (HasLineBreakOrNul(name)) return FailAtOnce(smtpRqHelo, BadArgument("HELO name"));
  if (!InChain) BeginRequest(smtpRqHelo);
  PrevStep = stepHelo;
  StartRequest(smtpRqHelo, "HELO " + name, {250}, nullptr);
}

void TCustomSmtpClient::Ehlo() {
  CheckCommandStart();
  const std::string name = HeloName();
  if (HasLineBreakOrNul(name)) return FailAtOnce(smtpRqEhlo, BadArgument("EHLO name"));
  if (!InChain) BeginRequest(smtpRqEhlo);
  ServerAuthTypes.Clear();
  EsmtpAccepted = false;
  PrevStep = stepEhlo;
  StartRequest(smtpRqEhlo, "EHLO " + name, {250}, &TCustomSmtpClient::EhloDone);
}

void TCustomSmtpClient::EhloDone() {
  if (!IsConnected) return;  // the closing ends the request
  if (ResultCode == 0) EsmtpAccepted = true;
  NotifyRequestDone(ResultCode);
}

void TCustomSmtpClient::Vrfy() {
  CheckCommandStart();
  if (HasLineBreakOrNul(HdrTo)) return FailAtOnce(smtpRqVrfy, BadArgument("VRFY argument"));
  if (!InChain) BeginRequest(smtpRqVrfy);
  PrevStep = stepVrfy;
  StartRequest(smtpRqVrfy, "VRFY " + HdrTo, {250}, nullptr);
}

void TCustomSmtpClient::MailFrom() {
  CheckCommandStart();
  const std::string address = AddressOf(FromName);
  if (HasLineBreakOrNul(address)) return FailAtOnce(smtpRqMailFrom, BadArgument("sender address"));
  if (!InChain) BeginRequest(smtpRqMailFrom);
  PrevStep = stepMailFrom;
  StartRequest(smtpRqMailFrom, "MAIL FROM:<" + address + ">", {250}, nullptr);
}

void TCustomSmtpClient::RcptTo() {
  if (RcptName.Count() == 0) throw SmtpException("RcptName list is empty");
  CheckCommandStart();
  for (int i = 0; i < RcptName.Count(); ++i)
    if (HasLineBreakOrNul(AddressOf(RcptName[i])))
      return FailAtOnce(smtpRqRcptTo, BadArgument("recipient address"));
  if (!InChain) BeginRequest(smtpRqRcptTo);
  ItemIndex = -1;
  RecipientStep();
}

void TCustomSmtpClient::RecipientStep() {
  if (ItemIndex >= 0) SetState(smtpInternalReady);
  if (ItemIndex >= 0 && ResultCode != 0) {
    TSmtpRcptToErrorAction action = rcptActAbort;
    if (OnRcptToError) OnRcptToError(this, static_cast<WORD>(ResultCode), ItemIndex, action);
    if (action == rcptActSkip) {
      ++ItemIndex;
    } else if (action != rcptActRetry) {
      NotifyRequestDone(ResultCode);
      return;
    }
  } else {
    ++ItemIndex;
  }
  // The last recipient's reply ends the request; it is never offered to OnRcptToError.
  const THandler next =
      ItemIndex < RcptName.Count() - 1 ? &TCustomSmtpClient::RecipientStep : nullptr;
  PrevStep = stepRcptTo;
  StartRequest(smtpRqRcptTo, "RCPT TO:<" + AddressOf(RcptName[ItemIndex]) + ">", {250, 251}, next);
}

void TCustomSmtpClient::Quit() {
  CheckReady();
  PrevStep = stepQuit;
  if (IsConnected) {
    if (!InChain) BeginRequest(smtpRqQuit);
    StartRequest(smtpRqQuit, "QUIT", {221}, nullptr);
    return;
  }
  // Without a session there is nothing to say; the last command's result stays.
  if (!InChain) BeginRequest(smtpRqQuit, false);
  CurrentRqType = smtpRqQuit;
  RequestDoneFired = false;
  NotifyRequestDone(0);
}

void TCustomSmtpClient::Rset() {
  CheckCommandStart();
  if (!InChain) BeginRequest(smtpRqRset);
  PrevStep = stepRset;
  StartRequest(smtpRqRset, "RSET", {250}, nullptr);
}

// ---- DATA ----

void TCustomSmtpClient::BuildHeaderLines() {
  TSmtpHeaderFields f;
  f.HdrFrom = HdrFrom;
  f.HdrTo = HdrTo;
  f.HdrCc = HdrCc;
  f.HdrReplyTo = HdrReplyTo;
  f.HdrReturnPath = HdrReturnPath;
  f.HdrSubject = HdrSubject;
  f.HdrSender = HdrSender;
  f.HdrPriority = HdrPriority;
  f.ConfirmReceipt = ConfirmReceipt;
  f.Allow8bitChars = Allow8bitChars;
  f.FoldHeaders = FoldHeaders;
  f.DefaultEncoding = DefaultEncoding;
  f.CharSet = CharSet;
  f.MimeType = mimeType_;
  const int64_t now = rtl::WallClockMicros();
  MessageId = SmtpMessageId(now, random_, WinsockLocalHostName());
  BuildSmtpHeaderLines(f, SmtpDateText(now), MessageId, HeaderLines);
}

void TCustomSmtpClient::Data() {
  // A message in flight keeps its lines: nothing is touched before the checks.
  CheckReady();
  if (SendMode != smtpToStream && !IsConnected) throw SmtpException("SMTP component not connected");
  BodyLineNum = 0;
  MoreBodyLines = true;
  ItemIndex = -1;
  HeaderLines.Clear();
  if (!OwnHeaders) {
    BuildHeaderLines();
    NotifyProcessHeader(HeaderLines);
    HeaderLines.Add("");
  }
  if (!InChain) BeginRequest(smtpRqData);
  PrevStep = stepData;
  if (SendMode == smtpToStream) {
    // No DATA command: the lines only go to the stream target.
    RequestDoneFired = false;
    SetState(smtpInternalReady);
    SendNextLine();
    return;
  }
  StartRequest(smtpRqData, "DATA", {354}, &TCustomSmtpClient::SendNextLine);
}

void TCustomSmtpClient::SendNextLine() {
  const std::shared_ptr<bool> alive = alive_;
  try {
    if (RequestDoneFired) {
      if (socket_) socket_->OnDataSent = nullptr;
      return;
    }
    if (!IsConnected && SendMode != smtpToStream) {
      Socket().OnDataSent = nullptr;
      return;
    }
    // The reply to DATA decides whether any line goes.
    if (ItemIndex < 0 && SendMode != smtpToStream && ResultCode != 0) {
      NotifyRequestDone(ResultCode);
      return;
    }
    SetState(smtpInternalReady);
    ++ItemIndex;
    if (ItemIndex < HeaderLines.Count()) {
      const std::string& line = HeaderLines[ItemIndex];
      const size_t size = line.size() + kSmtpLineBufferSize;
      lineBuffer_.assign(size, '\0');
      std::memcpy(lineBuffer_.data(), line.data(), line.size());
      NotifyHeaderLine(lineBuffer_.data(), static_cast<int32_t>(size));
      lineBuffer_.back() = '\0';
      SendMessageLine(lineBuffer_.c_str(), true);
      return;
    }
    if (MoreBodyLines) {
      ++BodyLineNum;
      std::string line;
      NotifyGetData(BodyLineNum, line, MoreBodyLines);
      if (!*alive) return;
      // The owner may have aborted meanwhile.
      if (RequestDoneFired || (!IsConnected && SendMode != smtpToStream)) return;
      if (MoreBodyLines) {
        if (!line.empty() && line[0] == '.') line.insert(0, ".");
        SendMessageLine(line, false);
        return;
      }
    }
    if (SendMode != smtpToSocket) {
      CloseStreamTarget();
      if (!IsConnected || SendMode == smtpToStream) {
        // Without a DATA command there is no "." to send: the request is done.
        NotifyRequestDone(0);
        return;
      }
    }
    Socket().OnDataSent = nullptr;
    StartRequest(smtpRqData, ".", {250}, nullptr);
  } catch (const rtl::Exception& E) {
    if (*alive) FailBody(E);
  } catch (const std::exception& e) {
    if (*alive) FailBody(rtl::Exception(e.what()));
  }
}

void TCustomSmtpClient::SendMessageLine(const std::string& line, bool stuffFirst) {
  NotifyDisplay("> " + line);
  // A line end inside the line makes more lines of it, each dot-stuffed, so that no bare CR or LF
  // reaches the wire and no piece of it can end the message.
  std::string wire;
  size_t start = 0;
  bool first = true;
  while (true) {
    size_t end = line.find_first_of("\r\n", start);
    const size_t stop = end == std::string::npos ? line.size() : end;
    std::string_view piece(line.data() + start, stop - start);
    if ((stuffFirst || !first) && !piece.empty() && piece[0] == '.') wire += '.';
    wire.append(piece);
    wire += "\r\n";
    first = false;
    if (end == std::string::npos) break;
    start = end + (line[end] == '\r' && end + 1 < line.size() && line[end + 1] == '\n' ? 2 : 1);
    if (start >= line.size()) break;  // a line end at the very end adds no empty line
  }
  if (SendMode != smtpToStream)
    Socket().OnDataSent = [this](rtl::TObject*, WORD Error) { SocketDataSent(Error); };
  if (SendMode != smtpToSocket && streamTarget_) *streamTarget_ << wire;
  if (SendMode == smtpToStream) {
    PostMessage(FWindowHandle, WM_SMTP_NEXT_LINE, 0, 0);
    return;
  }
  Socket().SendStr(wire);
}

void TCustomSmtpClient::FailBody(const rtl::Exception& E) {
  FLastResponse = "500 " + std::string(E.ClassName()) + ": " + E.Message;
  ReplyCode = ResultCode = kSmtpLocalFailure;
  KeepError(FLastResponse);
  if (socket_) socket_->OnDataSent = nullptr;
  CloseStreamTarget();
  // Never "." after a broken body: the server drops what it got when the session ends.
  if (IsConnected) Socket().Close();
  if (!RequestDoneFired) NotifyRequestDone(kSmtpLocalFailure);
}

void TCustomSmtpClient::CloseStreamTarget() {
  if (!streamTarget_) return;
  streamTarget_->flush();
  streamTarget_ = nullptr;
}

// ---- Abort ----

void TCustomSmtpClient::Abort() {
  const rtl::TFlagScope aborting(aborting_);
  CloseStreamTarget();
  SetState(smtpAbort);
  Socket().Abort();
  IsConnected = false;
  ReceiveLen = 0;
  // A request that no closing ended (no session was up) ends here, so nobody waits for it.
  if (!RequestDoneFired) {
    if (ResultCode == 0) ResultCode = kSmtpSessionClosed;
    NotifyRequestDone(kSmtpSessionClosed);
  }
  SetState(smtpReady);
}

// ---- chains ----

void TCustomSmtpClient::Open() {
  StartChain(smtpRqOpen, AuthType == smtpAuthNone ? TSmtpStepSet{stepConnect, stepHelo}
                                                  : TSmtpStepSet{stepConnect, stepEhlo, stepAuth});
}

void TCustomSmtpClient::Mail() {
  CheckReady();
  // Every argument is checked before anything is sent.
  if (HasLineBreakOrNul(AddressOf(FromName)))
    return FailAtOnce(smtpRqMail, BadArgument("sender address"));
  for (int i = 0; i < RcptName.Count(); ++i)
    if (HasLineBreakOrNul(AddressOf(RcptName[i])))
      return FailAtOnce(smtpRqMail, BadArgument("recipient address"));
  StartChain(smtpRqMail, TSmtpStepSet{stepMailFrom, stepRcptTo, stepData});
}

void TCustomSmtpClient::StartChain(TSmtpRequest Rq, TSmtpStepSet Steps) {
  if (IsConnected && Steps.Contains(stepConnect))
    throw SmtpException("SMTP component already connected");
  CheckReady();
  BeginRequest(Rq);
  ResultCode = 0;
  StepSet = Steps;
  PrevStep = stepNone;
  ChainResult = 0;
  InChain = true;
  FLastResponse.clear();
  FErrorMessage.clear();
  RunNextStep();
}

void TCustomSmtpClient::RunNextStep() {
  if (FState == smtpAbort) {
    StepSet = TSmtpStepSet();
    ChainResult = ResultCode = kSmtpAborted;
    FErrorMessage = "426 Operation aborted.";
  }
  ChainHandler = &TCustomSmtpClient::RunNextStep;
  if (ResultCode != 0) {
    if (PrevStep == stepEhlo && IsConnected) {
      StepSet = TSmtpStepSet{stepHelo};  // retry with HELO; the rest of the chain is dropped
    } else {
      ChainResult = ResultCode;
      // Nothing more goes on a closed session.
      StepSet = StepSet.Contains(stepQuit) && PrevStep != stepQuit && IsConnected
                    ? TSmtpStepSet{stepQuit}
                    : TSmtpStepSet();
    }
  }
  static constexpr TSmtpStep kOrder[] = {stepConnect,  stepHelo,   stepEhlo, stepAuth, stepVrfy,
                                         stepMailFrom, stepRcptTo, stepData, stepQuit};
  for (TSmtpStep step : kOrder) {
    if (!StepSet.Contains(step)) continue;
    PrevStep = step;
    StepSet.Exclude(step);
    try {
      StartStep(step);
    } catch (const rtl::Exception& E) {
      // A step that cannot start ends the chain with its reason.
      FLastResponse = "500 " + std::string(E.ClassName()) + ": " + E.Message;
      ReplyCode = ResultCode = ChainResult = kSmtpLocalFailure;
      KeepError(FLastResponse);
      EndChain();
    } catch (const std::exception& e) {
      FLastResponse = "500 Exception: " + std::string(e.what());
      ReplyCode = ResultCode = ChainResult = kSmtpLocalFailure;
      KeepError(FLastResponse);
      EndChain();
    }
    return;
  }
  EndChain();
}

void TCustomSmtpClient::StartStep(TSmtpStep step) {
  switch (step) {
    case stepConnect:
      return Connect();
    case stepHelo:
      return Helo();
    case stepEhlo:
      return Ehlo();
    case stepAuth:
      return Auth();
    case stepVrfy:
      return Vrfy();
    case stepMailFrom:
      return MailFrom();
    case stepRcptTo:
      return RcptTo();
    case stepData:
      return Data();
    case stepQuit:
      return Quit();
    default:
      return;
  }
}

void TCustomSmtpClient::EndChain() {
  StepSet = TSmtpStepSet();
  ChainHandler = nullptr;
  RequestDoneFired = false;
  NotifyRequestDone(ChainResult);
}

void TCustomSmtpClient::AddRecipients(const std::string& To, const std::string& Cc,
                                      const std::string& Bcc) {
  for (const std::string& item : SplitAddressList(To + ";" + Cc + ";" + Bcc))
    RcptName.Add(item);
}
