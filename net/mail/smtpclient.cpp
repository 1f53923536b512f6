// The engine's core: the socket and its notifications, reply lines and their evaluation, the start
// and the end of requests, and the hidden window. The requests themselves are in smtprequests.cpp.
#include "net/mail/smtpclient.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "net/mail/smtpauth.h"
#include "net/mail/smtpreply.h"
#include "net/socket/socklib.h"

TCustomSmtpClient::TCustomSmtpClient(rtl::TComponent* owner)
    : rtl::TComponent(owner), random_(std::random_device{}()) {
  FWindowHandle = SocketMakeObjectInstance([this](TMessage& Msg) { WndProc(Msg); });
}

TCustomSmtpClient::~TCustomSmtpClient() {
  *alive_ = false;
  if (socket_) {
    // Nothing of the closing reaches the client being destroyed.
    socket_->OnSessionClosed = nullptr;
    socket_->OnDataAvailable = nullptr;
    socket_->OnDataSent = nullptr;
    socket_->OnSessionConnected = nullptr;
    socket_->OnDnsLookupDone = nullptr;
    socket_.reset();
  }
  SocketFreeObjectInstance(FWindowHandle);
}

TAsyncSocket& TCustomSmtpClient::Socket() {
  if (!socket_) {
    socket_ = CreateSocket();
    socket_->OnSessionClosed = [this](rtl::TObject*, WORD Error) { SocketSessionClosed(Error); };
  }
  return *socket_;
}

std::unique_ptr<TAsyncSocket> TCustomSmtpClient::CreateSocket() {
  auto socket = std::make_unique<TAsyncSocket>();
  socket->SetLineMode(false);
  socket->Name = std::string(ClassName()) + "_Socket" + std::to_string(SocketInstanceCount());
  return socket;
}

void TCustomSmtpClient::SetContentType(TSmtpContentType value) {
  FContentType = value;
  mimeType_ = value == smtpHtml ? "text/html" : "text/plain";
}

// ---- notifications to the owner ----

void TCustomSmtpClient::NotifyDisplay(const std::string& Msg) {
  if (OnDisplay) OnDisplay(this, Msg);
}

void TCustomSmtpClient::NotifyCommand(const std::string& Msg) {
  if (OnCommand) OnCommand(this, Msg);
}

void TCustomSmtpClient::NotifyResponse(const std::string& Msg) {
  if (PrevStep == stepEhlo && FState == smtpWaitingResponse) AddSmtpAuthTypes(Msg, ServerAuthTypes);
  if (OnResponse) OnResponse(this, Msg);
}

void TCustomSmtpClient::NotifyStateChange() {
  if (OnStateChange) OnStateChange(this);
}

void TCustomSmtpClient::NotifyGetData(int32_t LineNum, std::string& Line, bool& More) {
  if (!OnGetData) {
    More = false;
    return;
  }
  char buffer[kSmtpLineBufferSize] = {};
  OnGetData(this, LineNum, buffer, kSmtpLineBufferSize - 1, More);
  buffer[kSmtpLineBufferSize - 1] = '\0';
  Line = buffer;
}

void TCustomSmtpClient::NotifyHeaderLine(char* Msg, int32_t Size) {
  if (OnHeaderLine) OnHeaderLine(this, Msg, Size);
}

void TCustomSmtpClient::NotifyProcessHeader(rtl::TStringList& HdrLines) {
  if (OnProcessHeader) OnProcessHeader(this, HdrLines);
}

void TCustomSmtpClient::NotifySessionConnected(WORD ErrCode) {
  if (OnSessionConnected) OnSessionConnected(this, ErrCode);
}

void TCustomSmtpClient::NotifySessionClosed(WORD ErrCode) {
  if (OnSessionClosed) OnSessionClosed(this, ErrCode);
}

void TCustomSmtpClient::SetState(TSmtpState value) {
  if (FState == value) return;
  FState = value;
  NotifyStateChange();
}

// ---- starting and ending requests ----

void TCustomSmtpClient::CheckReady() const {
  if (FState != smtpReady && FState != smtpInternalReady)
    throw SmtpException("SMTP component not ready");
}

void TCustomSmtpClient::CheckCommandStart() const {
  CheckReady();
  if (!IsConnected) throw SmtpException("SMTP component not connected");
}

void TCustomSmtpClient::BeginRequest(TSmtpRequest Rq, bool clearError) {
  CurrentRqType = Rq;
  ++requestSerial_;
  if (clearError) FErrorMessage.clear();
}

void TCustomSmtpClient::StartRequest(TSmtpRequest Rq, const std::string& Cmd,
                                     std::initializer_list<int> OkList, THandler Done) {
  CheckCommandStart();
  if (!InChain) CurrentRqType = Rq;
  OkCodes.fill(0);
  std::copy_n(OkList.begin(), std::min<size_t>(OkList.size(), kSmtpMaxOkCodes - 1),
              OkCodes.begin());
  RequestDoneFired = false;
  NextHandler = &TCustomSmtpClient::HandleReply;
  DoneHandler = Done;
  SetState(smtpWaitingResponse);
  SendCommand(Cmd);
}

void TCustomSmtpClient::SendCommand(const std::string& Cmd) {
  NotifyCommand(Cmd);
  NotifyDisplay("> " + Cmd);
  if (Socket().State() == wsConnected) Socket().SendStr(Cmd + "\r\n");
}

void TCustomSmtpClient::KeepError(const std::string& line) {
  if (FErrorMessage.empty()) FErrorMessage = line;
}

void TCustomSmtpClient::FailWithException(const rtl::Exception& E) {
  FLastResponse = "500 " + std::string(E.ClassName()) + ": " + E.Message;
  ReplyCode = ResultCode = kSmtpLocalFailure;
  KeepError(FLastResponse);
  if (!RequestDoneFired) NotifyRequestDone(kSmtpLocalFailure);
}

void TCustomSmtpClient::FailAtOnce(TSmtpRequest Rq, const std::string& text) {
  if (!InChain) BeginRequest(Rq);
  RequestDoneFired = false;
  FLastResponse = "500 " + text;
  ReplyCode = ResultCode = kSmtpLocalFailure;
  KeepError(FLastResponse);
  NotifyRequestDone(kSmtpLocalFailure);
}

void TCustomSmtpClient::NotifyRequestDone(int code) {
  if (RequestDoneFired) return;
  RequestDoneFired = true;
  if (ChainHandler) {
    if (FState != smtpAbort) SetState(smtpInternalReady);
    (this->*ChainHandler)();
    return;
  }
  const TSmtpRequest rq = CurrentRqType;
  const TRequestEnd end{true, code, ResultCode, aborting_ || FState == smtpAbort};
  SetState(smtpReady);
  InChain = false;
  endedSerial_ = requestSerial_;
  lastEnd_ = end;
  for (auto& [serial, watcher] : watchers_)
    if (serial == endedSerial_) *watcher = end;
  // The ended request travels with the message: by the time it is handled, the owner may have
  // started the next one.
  PostMessage(FWindowHandle, WM_SMTP_REQUEST_DONE, static_cast<WPARAM>(rq),
              static_cast<LPARAM>(code));
}

void TCustomSmtpClient::WatchRequest(uint64_t serial, TRequestEnd* end) {
  if (endedSerial_ == serial && serial != 0) *end = lastEnd_;
  watchers_.emplace_back(serial, end);
}

void TCustomSmtpClient::UnwatchRequest(const TRequestEnd* end) {
  std::erase_if(watchers_, [end](const auto& w) { return w.second == end; });
}

void TCustomSmtpClient::WndProc(TMessage& Msg) {
  switch (Msg.Msg) {
    case WM_SMTP_REQUEST_DONE:
      if (OnRequestDone)
        OnRequestDone(this, static_cast<TSmtpRequest>(Msg.WParam), static_cast<WORD>(Msg.LParam));
      break;
    case WM_SMTP_NEXT_LINE:
      SendNextLine();
      break;
    default:
      Msg.Result = 0;
      break;
  }
}

// ---- socket notifications ----

void TCustomSmtpClient::SocketSessionClosed(WORD Error) {
  IsConnected = false;
  NotifySessionClosed(Error);
  if (RequestDoneFired) return;
  if (CurrentRqType == smtpRqQuit) {
    NotifyRequestDone(0);
    return;
  }
  // The pending command has no answer: whatever its last reply said, it did not succeed.
  if (ResultCode == 0) ResultCode = kSmtpSessionClosed;
  NotifyRequestDone(kSmtpSessionClosed);
}

void TCustomSmtpClient::SocketDataAvailable(WORD Error) {
  const int room = kSmtpReceiveBufferSize - 1 - ReceiveLen;
  if (room <= 0) return;
  const int n = Socket().Receive(ReceiveBuffer + ReceiveLen, room);
  if (n <= 0) return;
  ReceiveLen += n;
  ReceiveBuffer[ReceiveLen] = '\0';
  ProcessReceived();
}

bool TCustomSmtpClient::ProcessReceived() {
  const std::shared_ptr<bool> alive = alive_;
  while (ReceiveLen > 0) {
    const size_t found =
        std::string_view(ReceiveBuffer, static_cast<size_t>(ReceiveLen)).find("\r\n");
    if (found == std::string_view::npos) break;
    const int len = static_cast<int>(found);
    FLastResponse.assign(ReceiveBuffer, static_cast<size_t>(len));
    std::memmove(ReceiveBuffer, ReceiveBuffer + len + 2, static_cast<size_t>(ReceiveLen - len - 2));
    ReceiveLen -= len + 2;
    ReceiveBuffer[ReceiveLen] = '\0';
    const std::string line = FLastResponse;
    try {
      NotifyResponse(line);
      switch (FState) {
        case smtpWaitingBanner:
          EvaluateGreeting(line);
          break;
        case smtpWaitingResponse:
          if (!NextHandler) throw SmtpException("Program error: FNext is nil");
          (this->*NextHandler)();
          break;
        default:
          NotifyDisplay("< " + line);
          break;
      }
    } catch (const rtl::Exception& E) {
      if (!*alive) return false;
      FailWithException(E);
    } catch (const std::exception& e) {
      if (!*alive) return false;
      FailWithException(rtl::Exception(e.what()));
    }
    if (!*alive) return false;
    if (!IsConnected) {
      // The session went on the way (a refused greeting): the rest is not read.
      ReceiveLen = 0;
      return false;
    }
  }
  if (ReceiveLen >= kSmtpReceiveBufferSize - 1)
    FailLine("500 Reply line longer than " + std::to_string(kSmtpMaxReplyLine) + " bytes");
  return true;
}

void TCustomSmtpClient::FailLine(const std::string& line) {
  ReceiveLen = 0;
  FLastResponse = line;
  ReplyCode = ResultCode = kSmtpLocalFailure;
  KeepError(line);
  // Nothing after such a line can be trusted: the session ends, and the pending request with it.
  if (IsConnected) Socket().Close();
  if (!RequestDoneFired) NotifyRequestDone(kSmtpLocalFailure);
}

void TCustomSmtpClient::EvaluateGreeting(const std::string& line) {
  NotifyDisplay("< " + line);
  const TSmtpReplyCode reply = ReadSmtpReplyCode(line);
  if (reply.Continued) return;
  ReplyCode = reply.Code;
  if (reply.Code != 220) {
    KeepError(line);
    ResultCode = reply.Code;
    // The request ends on the closing of the session.
    Socket().Close();
    return;
  }
  SetState(smtpConnected);
  NotifySessionConnected(0);
  NotifyRequestDone(0);
}

void TCustomSmtpClient::HandleReply() {
  NotifyDisplay("< " + FLastResponse);
  const TSmtpReplyCode reply = ReadSmtpReplyCode(FLastResponse);
  if (reply.Continued) return;
  ReplyCode = reply.Code;
  if (OkCodes[0] != 0) {
    ResultCode = ReplyCode;
    for (int i = 0; i < kSmtpMaxOkCodes && OkCodes[i] != 0; ++i) {
      if (OkCodes[i] == ReplyCode) {
        ResultCode = 0;
        break;
      }
    }
  } else {
    ResultCode = ReplyCode < 500 ? 0 : ReplyCode;
  }
  if (ResultCode != 0) KeepError(FLastResponse);
  if (DoneHandler) {
    const THandler done = DoneHandler;
    DoneHandler = nullptr;
    (this->*done)();
    return;
  }
  if (CurrentRqType == smtpRqQuit && IsConnected) return;  // ends with the closing
  NotifyRequestDone(ResultCode);
}

void TCustomSmtpClient::SocketDataSent(WORD Error) {
  SetState(smtpInternalReady);
  SendNextLine();
}
