// The POP3 component's commands: the checks and start common to all of them (driven by the
// command table), the standard reply handler and what follows a positive reply (numbers, data
// lines, the AUTH exchanges), and data mode with its header scanning.
#include "net/mail/pop3cli.h"

#include "net/mail/mime.h"

namespace net::mail {

// ---- starting commands ----

void TCustomPop3Cli::RunCommand(TPop3Request rq, const std::string& mechanism, THandler exchange) {
  const TPop3CommandEntry& entry = Pop3Command(rq);
  const std::string keyword = entry.Keyword;
  if (!Pop3Allows(entry.Allowed, protocolState_)) Refuse("-ERR " + keyword + kPop3InvalidNow);
  if (rq == rqTop && MsgLines < 0) throw Pop3Exception(kPop3BadTopLines);
  if (rq == rqApop && timestamp_.empty()) Refuse(kPop3NoApop);

  TPop3Arguments args;
  args.UserName = UserName;
  args.PassWord = PassWord;
  if (rq == rqApop) args.Digest = Pop3ApopDigest(timestamp_, PassWord);
  args.Mechanism = mechanism;
  args.MsgNum = MsgNum;
  args.MsgLines = MsgLines;
  const std::string line = Pop3CommandLine(entry, args);

  CheckReady();
  if (!connected_) throw Pop3Exception(kPop3NotConnected);
  if (entry.Allowed == TPop3Allowed::Transaction) {
    headers_.Start();
    ClearHeaderFields();
  }
  withArgument_ = args.MsgNum > 0;
  SendCommand(rq, keyword.c_str(), line, entry.NewState,
              exchange ? exchange : ContinuationOf(entry.Outcome));
}

// Every command line goes out here: the last checks, the request's bookkeeping, then the line.
void TCustomPop3Cli::SendCommand(TPop3Request rq, const char* keyword, const std::string& line,
                                 int newState, THandler continuation) {
  CheckReady();
  if (!connected_ || !socket_) throw Pop3Exception(kPop3NotConnected);
  if (!Pop3LineIsSafe(line)) Refuse(std::string("-ERR ") + keyword + kPop3BadArgument);
  if (!highLevel_) requestType_ = rq;
  if (!requestOpen_) OpenRequest();
  requestDone_ = false;
  next_ = &TCustomPop3Cli::ReplyHandler;
  newState_ = newState;
  continuation_ = continuation;
  SetState(psAwaitingReply);
  Display("> " + line);
  socket_->SendStr(line + "\r\n");
}

TCustomPop3Cli::THandler TCustomPop3Cli::ContinuationOf(TPop3Outcome outcome) const {
  switch (outcome) {
    case TPop3Outcome::Counts:
      return &TCustomPop3Cli::CountsReply;
    case TPop3Outcome::List:
      return &TCustomPop3Cli::ListReply;
    case TPop3Outcome::Uidl:
      return &TCustomPop3Cli::UidlReply;
    case TPop3Outcome::Message:
      return &TCustomPop3Cli::MessageReply;
    case TPop3Outcome::Last:
      return &TCustomPop3Cli::LastReply;
    case TPop3Outcome::Done:
    case TPop3Outcome::Exchange:  // Auth names its own continuation
    case TPop3Outcome::SessionEnd:
      return nullptr;
  }
  return nullptr;
}

void TCustomPop3Cli::User() {
  RunCommand(rqUser);
}

void TCustomPop3Cli::Pass() {
  RunCommand(rqPass);
}

void TCustomPop3Cli::RPop() {
  RunCommand(rqRpop);
}

void TCustomPop3Cli::APop() {
  RunCommand(rqApop);
}

void TCustomPop3Cli::Stat() {
  RunCommand(rqStat);
}

void TCustomPop3Cli::List() {
  RunCommand(rqList);
}

void TCustomPop3Cli::Retr() {
  RunCommand(rqRetr);
}

void TCustomPop3Cli::Top() {
  RunCommand(rqTop);
}

void TCustomPop3Cli::Dele() {
  RunCommand(rqDele);
}

void TCustomPop3Cli::Noop() {
  RunCommand(rqNoop);
}

void TCustomPop3Cli::Last() {
  RunCommand(rqLast);
}

void TCustomPop3Cli::RSet() {
  RunCommand(rqRset);
}

void TCustomPop3Cli::Uidl() {
  RunCommand(rqUidl);
}

void TCustomPop3Cli::Quit() {
  CheckReady();
  quitDone_ = false;
  if (connected_) {
    RunCommand(rqQuit);
    return;
  }
  // Nothing to close: no command, and (outside a chain) no report, since a QUIT is reported when
  // its session closes.
  if (!highLevel_) requestType_ = rqQuit;
  requestDone_ = false;
  NotifyRequestDone(0);
}

void TCustomPop3Cli::Auth() {
  static constexpr struct {
    TPop3AuthType type;
    const char* mechanism;
    THandler exchange;
  } kMechanisms[] = {
      {popAuthLogin, "LOGIN", &TCustomPop3Cli::AuthLoginUser},
      {popAuthCramMD5, "CRAM-MD5", &TCustomPop3Cli::CramMd5Reply},
      {popAuthCramSHA1, "CRAM-SHA1", &TCustomPop3Cli::CramSha1Reply},
  };
  const TPop3CommandEntry& entry = Pop3Command(rqAuth);
  if (!Pop3Allows(entry.Allowed, protocolState_))
    Refuse(std::string("-ERR ") + entry.Keyword + kPop3InvalidNow);
  for (const auto& m : kMechanisms) {
    if (m.type != AuthType) continue;
    RunCommand(rqAuth, m.mechanism, m.exchange);
    return;
  }
  User();
  if (!highLevel_) requestType_ = rqAuth;
}

// ---- replies ----

// The first reply line of a command.
void TCustomPop3Cli::ReplyHandler() {
  Display("< " + lastResponse_);
  if (state_ != psAwaitingReply) return;  // the display handler aborted
  const bool positive = Pop3Positive(lastResponse_);
  statusCode_ = positive ? 0 : kPop3Refused;
  if (!positive) {
    requestResult_ = kPop3Refused;
    if (errorMessage_.empty()) errorMessage_ = lastResponse_;
    next_ = nullptr;
    NotifyRequestDone(kPop3Refused);
    return;
  }
  requestResult_ = 0;
  if (newState_ != kPop3StateUnchanged) protocolState_ = static_cast<TPop3ProtocolState>(newState_);
  if (const THandler continuation = continuation_) {
    continuation_ = nullptr;
    (this->*continuation)();
    return;
  }
  next_ = nullptr;
  NotifyRequestDone(0);
}

void TCustomPop3Cli::CountsReply() {
  Pop3TwoNumbers(lastResponse_, msgCount_, msgSize_);
  next_ = nullptr;
  NotifyRequestDone(requestResult_);
}

void TCustomPop3Cli::ListReply() {
  if (!withArgument_) {
    EnterData(TLineParser::List, &OnListBegin, &OnListLine, &OnListEnd);
    return;
  }
  Pop3TwoNumbers(lastResponse_, MsgNum, msgSize_);
  next_ = nullptr;
  NotifyRequestDone(requestResult_);
}

void TCustomPop3Cli::UidlReply() {
  if (!withArgument_) {
    EnterData(TLineParser::Uidl, &OnUidlBegin, &OnUidlLine, &OnUidlEnd);
    return;
  }
  Pop3NumberAndId(lastResponse_, MsgNum, msgUidl_);
  next_ = nullptr;
  NotifyRequestDone(requestResult_);
}

// A reply of one number ("+OK 3") leaves both MsgNum and MsgSize 0, as the two-number reader
// gives them.
void TCustomPop3Cli::LastReply() {
  Pop3TwoNumbers(lastResponse_, MsgNum, msgSize_);
  next_ = nullptr;
  NotifyRequestDone(requestResult_);
}

void TCustomPop3Cli::MessageReply() {
  EnterData(TLineParser::None, &OnMessageBegin, &OnMessageLine, &OnMessageEnd);
}

// ---- AUTH exchanges ----

// LOGIN: the server's prompts are not read; the user name, then the password, go in Base64.
void TCustomPop3Cli::AuthLoginUser() {
  SetState(psBetweenSteps);
  SendCommand(rqUser, "AUTH", MimeBase64Encode(UserName), kPop3StateUnchanged,
              &TCustomPop3Cli::AuthLoginPass);
}

void TCustomPop3Cli::AuthLoginPass() {
  SetState(psBetweenSteps);
  SendCommand(rqPass, "AUTH", MimeBase64Encode(PassWord), pop3Transaction, nullptr);
}

void TCustomPop3Cli::CramMd5Reply() {
  CramReply(TPop3Cram::Md5, kPop3BadMd5Challenge);
}

void TCustomPop3Cli::CramSha1Reply() {
  CramReply(TPop3Cram::Sha1, kPop3BadSha1Challenge);
}

void TCustomPop3Cli::CramReply(TPop3Cram kind, const char* malformedText) {
  if (lastResponse_.size() <= 2) {
    lastResponse_ = malformedText + lastResponse_;
    statusCode_ = kPop3Refused;
    requestResult_ = kPop3Refused;
    if (errorMessage_.empty()) errorMessage_ = lastResponse_;
    next_ = nullptr;
    NotifyRequestDone(kPop3Refused);
    return;
  }
  SetState(psBetweenSteps);
  SendCommand(rqPass, "AUTH", Pop3CramAnswer(kind, lastResponse_, UserName, PassWord),
              pop3Transaction, nullptr);
}

// ---- data mode ----

bool TCustomPop3Cli::InDataMode() const {
  return state_ == psAwaitingReply && next_ == &TCustomPop3Cli::DataHandler;
}

void TCustomPop3Cli::EnterData(TLineParser parser, TNotifyEvent* begin, TNotifyEvent* line,
                               TNotifyEvent* end) {
  lineParser_ = parser;
  lineEvent_ = line;
  endEvent_ = end;
  if (*begin) (*begin)(this);
  if (state_ != psAwaitingReply) return;  // the handler aborted
  next_ = &TCustomPop3Cli::DataHandler;
}

// One line of multi-line data. The rest of a cut line (continuationLine_) is data and nothing
// else: it never ends the data, is never unstuffed, scanned as a header or parsed.
void TCustomPop3Cli::DataHandler() {
  if (!connected_) {
    DataDisconnected();
    return;
  }
  if (!continuationLine_) {
    if (lastResponse_ == ".") {
      if (*endEvent_) (*endEvent_)(this);
      lastResponse_.clear();
      next_ = nullptr;
      NotifyRequestDone(0);
      return;
    }
    if (lastResponse_.size() > 1 && lastResponse_[0] == '.' && lastResponse_[1] == '.')
      lastResponse_.erase(0, 1);
    if (headers_.InHeader() && headers_.Scan(lastResponse_, *this) && OnHeaderEnd)
      OnHeaderEnd(this);
    switch (lineParser_) {
      case TLineParser::List:
        Pop3TwoNumbers(lastResponse_, MsgNum, msgSize_);
        break;
      case TLineParser::Uidl:
        Pop3NumberAndId(lastResponse_, MsgNum, msgUidl_);
        break;
      case TLineParser::None:
        break;
    }
  }
  if (*lineEvent_) (*lineEvent_)(this);
}

// The session is gone before the data's end: the request fails with 500.
void TCustomPop3Cli::DataDisconnected() {
  errorMessage_ = kPop3Disconnected;
  requestResult_ = kPop3Refused;
  statusCode_ = kPop3Refused;
  Display(kPop3Disconnected);
  next_ = nullptr;
  NotifyRequestDone(kPop3Refused);
}

}  // namespace net::mail
