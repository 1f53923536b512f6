#include "net/socket/asyncsocket.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "rtl/cp932.h"

namespace {

constexpr LONG kConnectMask = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE;  // 59
constexpr LONG kAdoptedMask = FD_READ | FD_WRITE | FD_CLOSE;                           // 35
constexpr LONG kListenStreamMask = FD_ACCEPT | FD_CLOSE;                               // 40
constexpr LONG kListenOtherMask = FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE;           // 43
constexpr int kSockAddrLen = sizeof(WS_sockaddr_in);

std::string Hex8(const void* p) {
  char buf[17];
  std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)));
  return buf;
}

WS_sockaddr* AsAddr(WS_sockaddr_in* a) {
  return reinterpret_cast<WS_sockaddr*>(a);
}

}  // namespace

std::recursive_mutex& SendQueueLock() {
  static auto* m = new std::recursive_mutex;
  return *m;
}

// ---- TBuffer ----

TBuffer::TBuffer(int size) {
  SetBufSize(size);
}

void TBuffer::SetBufSize(int size) {
  if (size <= 0) size = 1514;
  if (size == FBufSize) return;
  std::unique_ptr<char[]> fresh(new char[size]);
  if (FWrCount > FRdCount) std::memcpy(fresh.get(), FBuf.get(), std::min(FWrCount, size));
  FBuf = std::move(fresh);
  FBufSize = size;
}

int TBuffer::Write(const void* data, int len) {
  int n = std::min(len, FBufSize - FWrCount);
  if (n <= 0) return 0;
  std::memcpy(FBuf.get() + FWrCount, data, n);
  FWrCount += n;
  return n;
}

const char* TBuffer::Peek(int& len) const {
  len = FWrCount - FRdCount;
  return len > 0 ? FBuf.get() + FRdCount : nullptr;
}

int TBuffer::Remove(int len) {
  int n = std::max(0, std::min(len, FWrCount - FRdCount));
  FRdCount += n;
  if (FRdCount >= FWrCount) FRdCount = FWrCount = 0;
  return n;
}

// ---- construction and the hidden window ----

TCustomAsyncSocket::TCustomAsyncSocket(rtl::TComponent* owner) : rtl::TComponent(owner) {
  AllocateHiddenWindow();
  ResetDefaults();
  IncSocketInstanceCount();
}

TCustomAsyncSocket::~TCustomAsyncSocket() {
  FDestroying = true;
  *FAlive = false;
  // A destructor never throws: failures while closing are dropped.
  try {
    CancelDnsLookup();
  } catch (...) {
  }
  try {
    if (FState != wsClosed || FHSocket != INVALID_SOCKET) InternalClose(true, 0);
  } catch (...) {
  }
  if (FHSocket != INVALID_SOCKET) DropHandle();
  DecSocketInstanceCount();
  try {
    WinsockUnloadIfUnused();
  } catch (...) {
  }
  DeleteSendQueue();
  DeallocateHiddenWindow();
}

void TCustomAsyncSocket::AllocateHiddenWindow() {
  FWindowHandle = SocketMakeObjectInstance([this](TMessage& m) { WindowProcedure(m); });
  FThreadId = GetCurrentThreadId();
  if (!FWindowHandle) ReportError("Cannot create a hidden window for TAsyncSocket");
}

void TCustomAsyncSocket::DeallocateHiddenWindow() {
  if (!FWindowHandle) return;
  SocketFreeObjectInstance(FWindowHandle);
  FWindowHandle = 0;
}

bool TCustomAsyncSocket::PostToSelf(UINT Msg, WPARAM WParam, LPARAM LParam) {
  return FWindowHandle && PostMessage(FWindowHandle, Msg, WParam, LParam);
}

// A message that arrives while one of this socket's handlers runs (the handler pumps) waits until
// the outermost one returns, so a handler never sees its own socket change under it. The socket
// may be destroyed by the message (release); FAlive tells, and nothing is touched afterwards.
void TCustomAsyncSocket::WindowProcedure(TMessage& Msg) {
  if (FHandlerDepth > 0) {
    FHeld.push_back(Msg);
    return;
  }
  std::shared_ptr<bool> alive = FAlive;
  ++FHandlerDepth;
  GuardedWndProc(Msg);
  if (!*alive) return;
  --FHandlerDepth;
  while (FHandlerDepth == 0 && !FHeld.empty()) {
    TMessage held = FHeld.front();
    FHeld.pop_front();
    ++FHandlerDepth;
    GuardedWndProc(held);
    if (!*alive) return;
    --FHandlerDepth;
  }
}

void TCustomAsyncSocket::GuardedWndProc(TMessage& Msg) {
  try {
    WndProc(Msg);
  } catch (const rtl::Exception& E) {
    HandleBackgroundException(E);
  } catch (const std::exception& e) {
    HandleBackgroundException(rtl::Exception(e.what()));
  }
}

void TCustomAsyncSocket::WndProc(TMessage& Msg) {
  switch (Msg.Msg) {
    case WM_ASYNCSELECT:
      HandleAsyncSelect(Msg);
      break;
    case WM_ASYNCGETHOSTBYNAME:
      HandleLookupByName(Msg);
      break;
    case WM_ASYNCGETHOSTBYADDR:
      HandleLookupByAddr(Msg);
      break;
    case WM_CLOSE_DELAYED:
      Close();
      break;
    case WM_WSOCKET_RELEASE:
      delete this;
      break;
    case WM_TRIGGER_EXCEPTION:
      throw ESocketException("Test exception in AsyncSocket");
    default:
      Msg.Result = 0;
      break;
  }
}

void TCustomAsyncSocket::HandleAsyncSelect(TMessage& Msg) {
  const WORD events = LOWORD(Msg.LParam);
  if (CheckLogOptions(loWsockDump)) {
    std::string line =
        "AsyncSelect CtrlSocket" + std::to_string(Msg.WParam) + ", " + std::to_string(events);
    if (events & FD_CONNECT) line += " FD_CONNECT";
    if (events & FD_READ) line += " FD_READ";
    if (events & FD_WRITE) line += " FD_WRITE";
    if (events & FD_CLOSE) line += " FD_CLOSE";
    if (events & FD_ACCEPT) line += " FD_ACCEPT";
    DebugLog(loProtSpecDump, line);
  }
  if (Msg.WParam == INVALID_SOCKET || Msg.WParam != FHSocket || FPaused) return;
  // Fixed order: connect, read, write, accept, close.
  if (events & FD_CONNECT) DoFdConnect(Msg);
  if ((events & FD_READ) && Msg.WParam == FHSocket) DoFdRead(Msg);
  if ((events & FD_WRITE) && Msg.WParam == FHSocket) DoFdWrite(Msg);
  if ((events & FD_ACCEPT) && Msg.WParam == FHSocket) DoFdAccept(Msg);
  if ((events & FD_CLOSE) && Msg.WParam == FHSocket) DoFdClose(Msg);
}

// ---- per-event handlers ----

void TCustomAsyncSocket::DoFdConnect(TMessage& Msg) {
  if (FState == wsConnected) return;
  const WORD error = HIWORD(Msg.LParam);
  ChangeState(wsConnected);
  TriggerSessionConnected(error);
  if (error != 0 && FState != wsClosed) Close();
}

void TCustomAsyncSocket::DoFdRead(TMessage& Msg) {
  const WORD error = HIWORD(Msg.LParam);
  if (FState != wsConnected) {
    ChangeState(wsConnected);
    TriggerSessionConnected(error);
  }
  ReceiveLoop(error, ComponentOptions);
}

void TCustomAsyncSocket::DoFdWrite(TMessage& Msg) {
  TryToSend();
  if (FAllSent) TriggerDataSent(HIWORD(Msg.LParam));
}

void TCustomAsyncSocket::DoFdAccept(TMessage& Msg) {
  TriggerSessionAvailable(HIWORD(Msg.LParam));
}

void TCustomAsyncSocket::DoFdClose(TMessage& Msg) {
  if (FState == wsConnecting || FHSocket == INVALID_SOCKET) return;
  // Everything still pending is delivered before the close is reported.
  ReceiveLoop(0, ComponentOptions.Without(wsoNoReceiveLoop));
  SessionClosedOnce(HIWORD(Msg.LParam));
  if (FState != wsClosed) Close();
}

void TCustomAsyncSocket::ReceiveLoop(WORD Error, TAsyncSocketOptions Options) {
  while (true) {
    try {
      LastError = 0;
      if (!TriggerDataAvailable(Error)) {
        // Nobody reads: throw the bytes away.
        char discard[1024];
        if (DoRecv(discard, sizeof discard, 0) < 0) {
          LastError = Winsock::WSAGetLastError();
          if (LastError == WSAEWOULDBLOCK) {
            LastError = 0;
            break;
          }
        }
      }
      if (Options.Contains(wsoNoReceiveLoop)) break;
      if (LastError != 0) {
        if (LastError == -1) LastError = 0;  // a handler's "stop"
        break;
      }
      if (FHSocket == INVALID_SOCKET) break;
      ULONG pending = 0;
      if (Winsock::ioctlsocket(FHSocket, WS_FIONREAD, &pending) == SOCKET_ERROR) {
        LastError = Winsock::WSAGetLastError();
        break;
      }
      if (pending == 0) break;
    } catch (...) {
      // An exception inside a pass ends the loop; it is not a background exception.
      break;
    }
  }
}

void TCustomAsyncSocket::DupConnected() {
  ChangeState(wsConnected);
}

// ---- triggers ----

bool TCustomAsyncSocket::TriggerDataAvailable(WORD Error) {
  if (!OnDataAvailable) return false;
  OnDataAvailable(this, Error);
  return true;
}

void TCustomAsyncSocket::TriggerSessionAvailable(WORD Error) {
  if (OnSessionAvailable) OnSessionAvailable(this, Error);
}

void TCustomAsyncSocket::TriggerSessionConnected(WORD Error) {
  TriggerEvent(Error);
}

void TCustomAsyncSocket::TriggerEvent(WORD Error) {
  if (OnSessionConnected) OnSessionConnected(this, Error);
}

void TCustomAsyncSocket::TriggerSessionClosed(WORD Error) {
  if (OnSessionClosed) OnSessionClosed(this, Error);
}

void TCustomAsyncSocket::TriggerDataSent(WORD Error) {
  if (CheckLogOptions(loWsockDump))
    DebugLog(loWsockDump, Hex8(this) + " TriggerDataSent " + std::to_string(FHSocket));
  if (OnDataSent) OnDataSent(this, Error);
}

void TCustomAsyncSocket::TriggerChangeState(TSocketState OldState, TSocketState NewState) {
  if (OnChangeState) OnChangeState(this, OldState, NewState);
}

void TCustomAsyncSocket::TriggerDnsLookupDone(WORD Error) {
  if (OnDnsLookupDone) OnDnsLookupDone(this, Error);
}

void TCustomAsyncSocket::TriggerError() {
  if (OnError) OnError(this);
}

void TCustomAsyncSocket::SessionClosedOnce(WORD Error) {
  if (FCloseInvoked) return;
  FCloseInvoked = true;
  TriggerSessionClosed(Error);
}

void TCustomAsyncSocket::ChangeState(TSocketState NewState) {
  TSocketState old = FState;
  FState = NewState;
  if (old != NewState) TriggerChangeState(old, NewState);
}

// ---- errors ----

void TCustomAsyncSocket::ReportError(const std::string& Msg) {
  if (OnError)
    TriggerError();
  else
    throw ESocketException(Msg);
}

void TCustomAsyncSocket::SocketError(const std::string& ProcName) {
  const int code = Winsock::WSAGetLastError();
  const std::string line = SocketErrorText(code, ProcName);
  if (code == WSAECONNRESET || code == WSAENOTCONN) {
    if (FHSocket != INVALID_SOCKET) {
      Winsock::closesocket(FHSocket);
      FHSocket = INVALID_SOCKET;
    }
    if (FState != wsClosed) SessionClosedOnce(static_cast<WORD>(code));
    ChangeState(wsClosed);
  }
  LastError = code;
  ReportError(line);
}

void TCustomAsyncSocket::HandleBackgroundException(const rtl::Exception& E) {
  bool CanClose = true;
  if (OnBgException) {
    try {
      OnBgException(this, E, CanClose);
    } catch (...) {
    }
  }
  if (CanClose) {
    try {
      Abort();
    } catch (...) {
    }
  }
}

void TCustomAsyncSocket::FailWithHandle(const char* ProcName) {
  const int code = Winsock::WSAGetLastError();
  DropHandle();
  Winsock::WSASetLastError(code);
  SocketError(ProcName);
}

bool TCustomAsyncSocket::ReadBufferSizes() {
  int len = sizeof(int);
  if (WinsockGetSockOpt(FHSocket, WS_SOL_SOCKET, WS_SO_SNDBUF,
                        reinterpret_cast<char*>(&FSocketSndBufSize), &len) != 0) {
    FailWithHandle("getsockopt(SO_SNDBUF)");
    return false;
  }
  len = sizeof(int);
  if (WinsockGetSockOpt(FHSocket, WS_SOL_SOCKET, WS_SO_RCVBUF,
                        reinterpret_cast<char*>(&FSocketRcvBufSize), &len) != 0) {
    FailWithHandle("getsockopt(SO_RCVBUF)");
    return false;
  }
  return true;
}

void TCustomAsyncSocket::DropHandle() {
  if (FHSocket != INVALID_SOCKET) {
    try {
      Winsock::closesocket(FHSocket);
    } catch (...) {
    }
    FHSocket = INVALID_SOCKET;
  }
  FSelectEvent = 0;
  if (FState != wsClosed) ChangeState(wsClosed);
}

// ---- logging ----

void TCustomAsyncSocket::SetNetLogger(TNetLogger* value) {
  if (value == FNetLogger) return;
  if (FNetLogger) FNetLogger->RemoveFreeNotification(this);
  FNetLogger = value;
  if (value) value->FreeNotification(this);
}

void TCustomAsyncSocket::Notification(rtl::TComponent* component, rtl::TOperation operation) {
  rtl::TComponent::Notification(component, operation);
  if (operation == rtl::TOperation::opRemove && component == FNetLogger) FNetLogger = nullptr;
}

void TCustomAsyncSocket::DebugLog(TLogOption LogOption, const std::string& Msg) {
  if (FNetLogger) FNetLogger->DoDebugLog(this, LogOption, Msg);
}

bool TCustomAsyncSocket::CheckLogOptions(TLogOption LogOption) {
  return FNetLogger && static_cast<int>(LogOption) <= 15 &&
         FNetLogger->LogOptions().Contains(LogOption);
}

// ---- properties ----

bool TCustomAsyncSocket::CanChange(const char* what) {
  if (FState == wsClosed) return true;
  ReportError(std::string("Cannot change ") + what + " if not closed");
  return false;
}

void TCustomAsyncSocket::AssignText(const std::string& value, std::string& text, bool& assigned,
                                    bool& resolved) {
  if (assigned && value == text) return;
  text = rtl::Trim(value);
  resolved = false;
  assigned = !text.empty();
}

void TCustomAsyncSocket::SetAddr(const std::string& value) {
  if (CanChange("Addr")) AssignText(value, FAddrStr, FAddrAssigned, FAddrResolved);
}

void TCustomAsyncSocket::SetPort(const std::string& value) {
  if (CanChange("Port")) AssignText(value, FPortStr, FPortAssigned, FPortResolved);
}

void TCustomAsyncSocket::SetProto(const std::string& value) {
  if (CanChange("Proto")) AssignText(value, FProtoStr, FProtoAssigned, FProtoResolved);
}

void TCustomAsyncSocket::SetLocalAddr(const std::string& value) {
  if (CanChange("LocalAddr")) FLocalAddr = value.empty() ? "0.0.0.0" : value;
}

void TCustomAsyncSocket::SetLocalPort(const std::string& value) {
  if (!CanChange("LocalPort")) return;
  FLocalPortStr = value;
  FLocalPortResolved = false;
}

TSocketSendFlags TCustomAsyncSocket::SendFlags() {
  switch (FSendFlagsValue) {
    case 0:
      return wsSendNormal;
    case WS_MSG_OOB:
      return wsSendUrgent;
    default:
      ReportError("Invalid internal SendFlags");
      return wsSendNormal;
  }
}

void TCustomAsyncSocket::SetSendFlags(TSocketSendFlags value) {
  switch (value) {
    case wsSendNormal:
      FSendFlagsValue = 0;
      break;
    case wsSendUrgent:
      FSendFlagsValue = WS_MSG_OOB;
      break;
    default:
      ReportError("Invalid SendFlags");
      break;
  }
}

void TCustomAsyncSocket::SetReqVerLow(uint8_t value) {
  if (!::SetReqVerLow(value)) SocketError("SetReqVerLow: WinSock version can't be changed now");
}

void TCustomAsyncSocket::SetReqVerHigh(uint8_t value) {
  if (!::SetReqVerHigh(value)) SocketError("SetReqVerHigh: WinSock version can't be changed now");
}

void TCustomAsyncSocket::ResetDefaults() {
  std::memset(&FSockAddr, 0, sizeof FSockAddr);
  FSockAddr.sin_family = WS_AF_INET;
  FAddrFormat = WS_AF_INET;
  FPortAssigned = false;
  FAddrAssigned = false;
  FAddrResolved = false;
  FPortResolved = false;
  FProtoResolved = false;
  FLocalPortResolved = false;
  FProtoAssigned = true;
  FProtoNum = WS_IPPROTO_TCP;
  FProtoStr = "tcp";
  FSocketType = WS_SOCK_STREAM;
  FLocalPortStr = "0";
  FLocalAddr = "0.0.0.0";
  LingerOnOff = wsLingerOn;
  LingerTimeout = 0;
  FHSocket = INVALID_SOCKET;
  FSelectEvent = 0;
  FState = wsClosed;
  FAllSent = true;
  FPaused = false;
  FReadCount = 0;
  FCloseInvoked = false;
  FlushTimeout = 60;
}

// ---- connect, listen, accept, adopt ----

void TCustomAsyncSocket::Connect() {
  if (FHSocket != INVALID_SOCKET && FState != wsClosed) {
    ReportError("Connect: Socket already in use");
    return;
  }
  if (!FPortAssigned) {
    ReportError("Connect: No Port Specified");
    return;
  }
  if (!FAddrAssigned) {
    ReportError("Connect: No IP Address Specified");
    return;
  }
  if (!FProtoAssigned) {
    ReportError("Connect: No Protocol Specified");
    return;
  }
  try {
    if (!FProtoResolved) {
      FProtoNum = WinsockResolveProto(FProtoStr);
      FSocketType = FProtoNum == WS_IPPROTO_TCP   ? WS_SOCK_STREAM
                    : FProtoNum == WS_IPPROTO_UDP ? WS_SOCK_DGRAM
                                                  : WS_SOCK_RAW;
      FProtoResolved = true;
    }
    ResolveEndpoint(true);
  } catch (const ESocketException& E) {
    ReportError("connect: " + E.Message);
    return;
  }

  if (!OpenHandle("Connect (socket)")) return;
  // From here on a failure closes the handle again, so the socket is back in wsClosed.
  if (!ReadBufferSizes()) return;
  ChangeState(wsOpened);
  if (FState != wsOpened) {
    Winsock::WSASetLastError(WSAEINVAL);
    return FailWithHandle("Connect (Invalid operation in OnChangeState)");
  }

  try {
    if (FSocketType == WS_SOCK_DGRAM) {
      if (!BindSocket()) return DropHandle();
      if (MultiCast) {
        if (MultiCastIpTTL != 1) {
          int ttl = MultiCastIpTTL;
          if (Winsock::setsockopt(FHSocket, WS_IPPROTO_IP, WS_IP_MULTICAST_TTL,
                                  reinterpret_cast<const char*>(&ttl), sizeof ttl) != 0)
            return FailWithHandle("setsockopt(IP_MULTICAST_TTL)");
        }
        if (FLocalAddr != "0.0.0.0") {
          WS_in_addr itf{WinsockResolveHost(FLocalAddr)};
          if (Winsock::setsockopt(FHSocket, WS_IPPROTO_IP, WS_IP_MULTICAST_IF,
                                  reinterpret_cast<const char*>(&itf), sizeof itf) != 0)
            return FailWithHandle("setsockopt(IP_MULTICAST_IF)");
        }
      }
      if (FSockAddr.sin_addr.s_addr == WS_INADDR_BROADCAST) {
        int on = 1;
        if (Winsock::setsockopt(FHSocket, WS_SOL_SOCKET, WS_SO_BROADCAST,
                                reinterpret_cast<const char*>(&on), sizeof on) != 0)
          return FailWithHandle("setsockopt(SO_BROADCAST)");
      }
    } else if (FSocketType == WS_SOCK_STREAM) {
      int on = 1;
      if (Winsock::setsockopt(FHSocket, WS_SOL_SOCKET, WS_SO_REUSEADDR,
                              reinterpret_cast<const char*>(&on), sizeof on) != 0)
        return FailWithHandle("setsockopt(SO_REUSEADDR)");
      if (!SetTcpNoDelayOption()) return;
      SetLingerOption();
      SetKeepAliveOption();
      if ((FLocalPortNum != 0 || FLocalAddr != "0.0.0.0") && !BindSocket()) return DropHandle();
    }
  } catch (const ESocketException& E) {
    DropHandle();
    ReportError("connect: " + E.Message);
    return;
  }

  FSelectEvent = kConnectMask;
  if (Winsock::WSAAsyncSelect(FHSocket, FWindowHandle, WM_ASYNCSELECT, kConnectMask) != 0)
    return FailWithHandle("WSAAsyncSelect");

  if (FSocketType == WS_SOCK_DGRAM) {
    ChangeState(wsConnected);
    TriggerSessionConnected(0);
    return;
  }
  if (CheckLogOptions(loWsockInfo))
    DebugLog(loWsockInfo, "TAsyncSocket will connect to " + FAddrStr + ":" + FPortStr);
  if (Winsock::connect(FHSocket, AsAddr(&FSockAddr), kSockAddrLen) == 0 ||
      Winsock::WSAGetLastError() == WSAEWOULDBLOCK) {
    ChangeState(wsConnecting);
    return;
  }
  LastError = Winsock::WSAGetLastError();
  FailWithHandle("Connect");
}

bool TCustomAsyncSocket::OpenHandle(const char* ProcName) {
  DeleteSendQueue();
  FHSocket = Winsock::socket(WS_AF_INET, FSocketType, FProtoNum);
  if (FHSocket == INVALID_SOCKET) {
    SocketError(ProcName);
    return false;
  }
  FCloseInvoked = false;  // a new connection begins
  return true;
}

void TCustomAsyncSocket::ResolveEndpoint(bool localPort) {
  if (!FPortResolved) {
    FPortNum = WinsockResolvePort(FPortStr, FProtoStr);
    FSockAddr.sin_port = Winsock::htons(static_cast<USHORT>(FPortNum));
    FPortResolved = true;
  }
  if (localPort && !FLocalPortResolved) {
    FLocalPortNum = WinsockResolvePort(FLocalPortStr, FProtoStr);
    FLocalPortResolved = true;
  }
  if (!FAddrResolved) {
    FSockAddr.sin_addr.s_addr = WinsockResolveHost(FAddrStr);
    FAddrResolved = true;
  }
}

bool TCustomAsyncSocket::BindSocket() {
  WS_sockaddr_in local = {};
  local.sin_family = WS_AF_INET;
  local.sin_port = Winsock::htons(static_cast<USHORT>(FLocalPortNum));
  local.sin_addr.s_addr = WinsockResolveHost(FLocalAddr);
  if (Winsock::bind(FHSocket, AsAddr(&local), kSockAddrLen) != 0) {
    ReportError("Bind socket failed - " + WinsockErrorWithCode(Winsock::WSAGetLastError()));
    return false;
  }
  int len = kSockAddrLen;
  if (Winsock::getsockname(FHSocket, AsAddr(&local), &len) != 0) {
    ReportError("Winsock get socket name failed - " +
                WinsockErrorWithCode(Winsock::WSAGetLastError()));
    return false;
  }
  FLocalPortNum = Winsock::ntohs(local.sin_port);
  FLocalPortStr = std::to_string(FLocalPortNum);
  return true;
}

void TCustomAsyncSocket::Listen() {
  if (!FPortAssigned) {
    Winsock::WSASetLastError(WSAEINVAL);
    SocketError("listen: port not assigned");
    return;
  }
  if (!FProtoAssigned) {
    Winsock::WSASetLastError(WSAEINVAL);
    SocketError("listen: protocol not assigned");
    return;
  }
  if (!FAddrAssigned) {
    Winsock::WSASetLastError(WSAEINVAL);
    SocketError("listen: address not assigned");
    return;
  }
  try {
    if (!FProtoResolved) {
      if (rtl::SameText(std::string_view(FProtoStr).substr(0, 4), "raw_")) {
        FSocketType = WS_SOCK_RAW;
        FProtoNum = WinsockResolveProto(FProtoStr.substr(4, 10));
      } else {
        FProtoNum = WinsockResolveProto(FProtoStr);
        FSocketType = FProtoNum == WS_IPPROTO_UDP ? WS_SOCK_DGRAM : WS_SOCK_STREAM;
      }
      FProtoResolved = true;
    }
    ResolveEndpoint(false);
  } catch (const ESocketException& E) {
    ReportError("Listen: " + E.Message);
    return;
  }

  if (!OpenHandle("socket")) return;
  // A failure after the handle exists closes it again: no half-made listener stays behind.
  if (FSocketType == WS_SOCK_DGRAM && ReuseAddr) {
    int on = 1;
    if (Winsock::setsockopt(FHSocket, WS_SOL_SOCKET, WS_SO_REUSEADDR,
                            reinterpret_cast<const char*>(&on), sizeof on) != 0)
      return FailWithHandle("setsockopt(SO_REUSEADDR)");
  }
  if (Winsock::bind(FHSocket, AsAddr(&FSockAddr), kSockAddrLen) != 0) return FailWithHandle("Bind");
  ChangeState(wsBound);

  if (FSocketType == WS_SOCK_STREAM) {
    if (Winsock::listen(FHSocket, ListenBacklog) != 0) return FailWithHandle("Listen");
    ChangeState(wsListening);
  } else if (FSocketType == WS_SOCK_DGRAM || FSocketType == WS_SOCK_RAW) {
    if (FSocketType == WS_SOCK_DGRAM && MultiCast) {
      WS_ip_mreq mreq = {};
      try {
        mreq.imr_multiaddr.s_addr = WinsockInetAddr(MultiCastAddrStr);
        mreq.imr_interface.s_addr = WinsockResolveHost(FAddrStr);
      } catch (const ESocketException& E) {
        DropHandle();
        ReportError("Listen: " + E.Message);
        return;
      }
      if (Winsock::setsockopt(FHSocket, WS_IPPROTO_IP, WS_IP_ADD_MEMBERSHIP,
                              reinterpret_cast<const char*>(&mreq), sizeof mreq) != 0)
        return FailWithHandle("setsockopt(IP_ADD_MEMBERSHIP)");
    }
    if (FSocketType == WS_SOCK_RAW && ComponentOptions.Contains(wsoSIO_RCVALL)) {
      ULONG on = 1;
      DWORD returned = 0;
      if (WinsockIoctl(FHSocket, SIO_RCVALL, &on, sizeof on, nullptr, 0, &returned, nullptr,
                       nullptr) != 0)
        return FailWithHandle("WSAIoctl(SIO_RCVALL)");
    }
    ChangeState(wsListening);
    ChangeState(wsConnected);
    TriggerSessionConnected(0);
    if (FHSocket == INVALID_SOCKET) return;  // the handler closed it
  } else {
    return FailWithHandle("Listen: unexpected protocol.");
  }

  FSelectEvent = FSocketType == WS_SOCK_STREAM ? kListenStreamMask : kListenOtherMask;
  if (Winsock::WSAAsyncSelect(FHSocket, FWindowHandle, WM_ASYNCSELECT, FSelectEvent) != 0)
    FailWithHandle("WSAASyncSelect");
}

SOCKET TCustomAsyncSocket::Accept() {
  int error = 0;
  const SOCKET handle = TryAccept(error);
  if (handle == INVALID_SOCKET) {
    Winsock::WSASetLastError(error);
    SocketError(FState != wsListening ? "not a listening socket" : "Accept");
  }
  return handle;
}

SOCKET TCustomAsyncSocket::TryAccept(int& Error) {
  Error = 0;
  if (FState != wsListening) {
    Error = WSAEINVAL;
  } else {
    int len = kSockAddrLen;
    FAcceptedHandle = Winsock::accept(FHSocket, AsAddr(&FSockAddr), &len);
    if (FAcceptedHandle != INVALID_SOCKET) return FAcceptedHandle;
    Error = Winsock::WSAGetLastError();
  }
  LastError = Error;
  return INVALID_SOCKET;
}

void TCustomAsyncSocket::SetHSocket(SOCKET value) {
  if (value == 0 || value == INVALID_SOCKET) {
    Winsock::WSASetLastError(WSAEINVAL);
    SocketError("Dup");
    return;
  }
  if (FState != wsClosed) {
    if (Winsock::closesocket(FHSocket) != 0) {
      FHSocket = INVALID_SOCKET;
      SocketError("Dup (closesocket)");
      return;
    }
    ChangeState(wsClosed);
  }
  FHSocket = value;
  FCloseInvoked = false;
  if (!ReadBufferSizes()) return;
  SetLingerOption();
  if (!SetTcpNoDelayOption()) return;
  FSelectEvent = kAdoptedMask;
  if (Winsock::WSAAsyncSelect(FHSocket, FWindowHandle, WM_ASYNCSELECT, kAdoptedMask) != 0)
    return FailWithHandle("WSAAsyncSelect");
  DupConnected();
}

bool TCustomAsyncSocket::SetTcpNoDelayOption() {
  if (!ComponentOptions.Contains(wsoTcpNoDelay)) return true;
  int on = 1;
  if (Winsock::setsockopt(FHSocket, WS_IPPROTO_TCP, WS_TCP_NODELAY,
                          reinterpret_cast<const char*>(&on), sizeof on) == 0)
    return true;
  FailWithHandle("setsockopt(IPPROTO_TCP, TCP_NODELAY)");
  return false;
}

void TCustomAsyncSocket::SetLingerOption() {
  if (LingerOnOff == wsLingerNoSet) return;
  if (FHSocket == INVALID_SOCKET) {
    ReportError("Cannot set linger option at this time");
    return;
  }
  WS_linger l = {static_cast<USHORT>(LingerOnOff == wsLingerOn ? 1 : 0),
                 static_cast<USHORT>(LingerTimeout)};
  if (Winsock::setsockopt(FHSocket, WS_SOL_SOCKET, WS_SO_LINGER, reinterpret_cast<const char*>(&l),
                          sizeof l) != 0)
    SocketError("setsockopt(SO_LINGER)");
}

void TCustomAsyncSocket::SetKeepAliveOption() {
  if (KeepAliveOnOff == wsKeepAliveOff) return;
  if (KeepAliveOnOff == wsKeepAliveOnSystem) {
    int on = 1;
    if (Winsock::setsockopt(FHSocket, WS_SOL_SOCKET, WS_SO_KEEPALIVE,
                            reinterpret_cast<const char*>(&on), sizeof on) != 0)
      SocketError("setsockopt(SO_KEEPALIVE)");
    return;
  }
  tcp_keepalive in = {1, static_cast<ULONG>(KeepAliveTime), static_cast<ULONG>(KeepAliveInterval)};
  tcp_keepalive out = {};
  DWORD returned = 0;
  if (WinsockIoctl(FHSocket, SIO_KEEPALIVE_VALS, &in, sizeof in, &out, sizeof out, &returned,
                   nullptr, nullptr) != 0)
    SocketError("AsyncSocket_WSAIoctl(SIO_KEEPALIVE_VALS)");
}

// ---- closing ----

void TCustomAsyncSocket::Close() {
  InternalClose(true, 0);
}

void TCustomAsyncSocket::CloseDelayed() {
  PostToSelf(WM_CLOSE_DELAYED, 0, 0);
}

void TCustomAsyncSocket::Release() {
  PostToSelf(WM_WSOCKET_RELEASE, 0, 0);
}

void TCustomAsyncSocket::Abort() {
  InternalAbort(0);
}

void TCustomAsyncSocket::InternalAbort(WORD Error) {
  CancelDnsLookup();
  DeleteSendQueue();
  // An abort resets the connection: linger on with a zero time makes the close abortive.
  if (FState == wsConnected && FProtoNum == WS_IPPROTO_TCP && FHSocket != INVALID_SOCKET) {
    LingerOnOff = wsLingerOn;
    LingerTimeout = 0;
    SetLingerOption();
  }
  InternalClose(false, Error);
}

void TCustomAsyncSocket::InternalClose(bool Shut, WORD Error) {
  if (FHSocket == INVALID_SOCKET) {
    if (FState != wsClosed) {
      ChangeState(wsClosed);
      ResetDefaults();
    }
    return;
  }
  if (FState == wsClosed) {
    // A handle without a connection (a set-up that never finished): just let it go.
    DropHandle();
    return;
  }
  if (Shut) {
    Shutdown(SD_SEND);
    // A graceful close must not become a reset through the default linger (on, 0 seconds).
    if (LingerOnOff == wsLingerOn && LingerTimeout == 0) {
      WS_linger off = {0, 0};
      Winsock::setsockopt(FHSocket, WS_SOL_SOCKET, WS_SO_LINGER,
                          reinterpret_cast<const char*>(&off), sizeof off);
    }
  }
  if (!CloseHandle()) return;
  ChangeState(wsClosed);
  if (!FDestroying) SessionClosedOnce(Error);
  try {
    ResetDefaults();
  } catch (...) {
  }
}

bool TCustomAsyncSocket::CloseHandle() {
  int result = Winsock::closesocket(FHSocket);
  // The library never blocks in closesocket; should it ever ask to be called again, wait in the
  // message layer instead of spinning.
  for (int tries = 0; result != 0 && Winsock::WSAGetLastError() == WSAEWOULDBLOCK && tries < 100;
       ++tries) {
    MsgWait(10);
    PumpMessages();
    result = Winsock::closesocket(FHSocket);
  }
  FHSocket = INVALID_SOCKET;
  if (result == 0) return true;
  const int code = Winsock::WSAGetLastError();
  LastError = code;
  if (code == WSANOTINITIALISED) return true;  // the library is gone: closed all the same
  Winsock::WSASetLastError(code);
  SocketError("Disconnect (closesocket)");
  return false;
}

void TCustomAsyncSocket::Shutdown(int How) {
  if (CheckLogOptions(loWsockInfo))
    DebugLog(loWsockInfo, Hex8(this) + " TCustomAsyncSocket.Shutdown " + std::to_string(How) + " " +
                              std::to_string(FHSocket));
  if (FHSocket != INVALID_SOCKET) Winsock::shutdown(FHSocket, How);
}

void TCustomAsyncSocket::WaitForClose() {
  if (FHandlerDepth > 0) {
    WaitForPeerClose();
    return;
  }
  while (FHSocket != INVALID_SOCKET && FState != wsClosed) {
    PumpMessages();
    if (FHSocket == INVALID_SOCKET || FState == wsClosed) break;
    ULONG pending = 0;
    if (Winsock::ioctlsocket(FHSocket, WS_FIONREAD, &pending) == SOCKET_ERROR) break;
    if (pending > 0) {
      TriggerDataAvailable(0);
      if (LastError == -1) LastError = 0;  // (a layer's "stop reading", as in the receive loop)
    }
    if (QuitPending() || FTerminated) break;  // a waiting quit would end every wait at once
    // Wait for the close (or more data) in the message layer, not by spinning.
    MsgWait(100);
  }
}

// This socket's FD_CLOSE waits with its other messages until the handler returns, so the close is
// read off the handle: a one-byte peek gives 0 once the peer has closed and everything before the
// close has been read, "would block" while the connection is open. A peek also re-arms FD_READ,
// which the library posts (and the handler's return takes) at most once per peek. Cost: one peek
// per message that wakes the thread, at least every 100 ms.
void TCustomAsyncSocket::WaitForPeerClose() {
  while (FHSocket != INVALID_SOCKET && FState != wsClosed) {
    char byte;
    const int r = Winsock::recv(FHSocket, &byte, 1, WS_MSG_PEEK);
    if (r == 0) return;
    if (r < 0) {
      const int code = Winsock::WSAGetLastError();
      if (code != WSAEWOULDBLOCK) {
        LastError = code;
        return;
      }
    } else if (HoldArrived()) {
      continue;  // the peer's close may be right behind them
    } else {
      LastError = WSAENOBUFS;
      return;
    }
    if (QuitPending() || FTerminated) return;
    MsgWait(100);
    PumpMessages();
  }
}

// ---- pausing, threads, pumping ----

void TCustomAsyncSocket::Pause() {
  FPaused = true;
  if (FHSocket != INVALID_SOCKET) Winsock::WSAAsyncSelect(FHSocket, FWindowHandle, 0, 0);
}

void TCustomAsyncSocket::Resume() {
  FPaused = false;
  if (FHSocket != INVALID_SOCKET)
    Winsock::WSAAsyncSelect(FHSocket, FWindowHandle, WM_ASYNCSELECT, FSelectEvent);
}

void TCustomAsyncSocket::ThreadDetach() {
  if (GetCurrentThreadId() != FThreadId) {
    ReportError("Cannot detach from other thread");
    return;
  }
  if (FHSocket != INVALID_SOCKET) Winsock::WSAAsyncSelect(FHSocket, FWindowHandle, 0, 0);
  DeallocateHiddenWindow();
}

void TCustomAsyncSocket::ThreadAttach() {
  if (FWindowHandle) {
    ReportError("Cannot attach when not detached");
    return;
  }
  AllocateHiddenWindow();
  if (FHSocket != INVALID_SOCKET)
    Winsock::WSAAsyncSelect(FHSocket, FWindowHandle, WM_ASYNCSELECT, FSelectEvent);
}

void TCustomAsyncSocket::ProcessMessages() {
  MSG msg;
  while (PeekMessage(&msg, 0, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Not dispatched; put back for the outer loop, which must end too.
      FTerminated = true;
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    DispatchMessage(&msg);
  }
}

void TCustomAsyncSocket::PumpMessages() {
  if (MultiThreaded)
    ProcessMessages();
  else
    ::ProcessMessages();
}

// ---- sending ----

void TCustomAsyncSocket::DeleteSendQueue() {
  std::lock_guard<std::recursive_mutex> l(SendQueueLock());
  discardedBytes_ += FBufferedByteCount;
  FSendQueue.clear();
  FBufferedByteCount = 0;
}

void TCustomAsyncSocket::AppendToSendQueue(const void* Data, int Len) {
  if (Len <= 0 || !Data) return;
  std::lock_guard<std::recursive_mutex> l(SendQueueLock());
  if (FSendQueue.empty()) FSendQueue.push_back(std::make_unique<TBuffer>(ChunkSize));
  FBufferedByteCount += Len;
  const char* p = static_cast<const char*>(Data);
  int left = Len;
  while (true) {
    int n = FSendQueue.back()->Write(p, left);
    p += n;
    left -= n;
    if (left <= 0) break;
    FSendQueue.push_back(std::make_unique<TBuffer>(ChunkSize));
  }
  FAllSent = false;
}

int TCustomAsyncSocket::Send(const void* Data, int Len) {
  if (FState != wsConnected && FState != wsSocksConnected) {
    Winsock::WSASetLastError(WSAENOTCONN);
    SocketError("Send");
    return -1;
  }
  FAllSent = false;
  int result = Len;
  if (Len <= 0)
    result = 0;
  else
    AppendToSendQueue(Data, Len);
  TryToSend();
  // OnDataSent never fires inside Send: it comes from the loop.
  if (FAllSent && FHSocket != INVALID_SOCKET)
    PostToSelf(WM_ASYNCSELECT, FHSocket, WSAMAKESELECTREPLY(FD_WRITE, 0));
  return result;
}

int TCustomAsyncSocket::SendStr(const std::string& Str) {
  if (Str.empty()) return 0;
  return Send(Str.data(), static_cast<int>(Str.size()));
}

int TCustomAsyncSocket::SendTo(const WS_sockaddr_in& Dest, int DestLen, const void* Data, int Len) {
  WS_sockaddr_in to = Dest;
  int r = Winsock::sendto(FHSocket, static_cast<const char*>(Data), Len, FSendFlagsValue,
                          AsAddr(&to), DestLen);
  if (r > 0 && OnSendData) OnSendData(this, r);
  if (FAllSent && FSocketType == WS_SOCK_DGRAM && FHSocket != INVALID_SOCKET)
    PostToSelf(WM_ASYNCSELECT, FHSocket, WSAMAKESELECTREPLY(FD_WRITE, 0));
  return r;
}

int TCustomAsyncSocket::RawSend(const void* Data, int Len) {
  int r;
  if (FSocketType == WS_SOCK_DGRAM)
    r = Winsock::sendto(FHSocket, static_cast<const char*>(Data), Len, FSendFlagsValue,
                        AsAddr(&FSockAddr), kSockAddrLen);
  else
    r = Winsock::send(FHSocket, static_cast<const char*>(Data), Len, FSendFlagsValue);
  if (r > 0 && OnSendData) OnSendData(this, r);
  return r;
}

void TCustomAsyncSocket::TryToSend() {
  std::unique_lock<std::recursive_mutex> lock(SendQueueLock());
  if (FHSocket == INVALID_SOCKET || FSendQueue.empty()) {
    FAllSent = true;
    return;
  }
  while (!FSendQueue.empty()) {
    TBuffer& chunk = *FSendQueue.front();
    int len = 0;
    const char* p = chunk.Peek(len);
    if (len > 0) {
      int n = RawSend(p, len);
      if (n > 0) {
        FBufferedByteCount = std::max(0, FBufferedByteCount - n);
        chunk.Remove(n);
        if (n == len) continue;
        break;  // the system took part; FD_WRITE resumes
      }
      if (n == 0) break;
      const int code = Winsock::WSAGetLastError();
      if (code == WSAEINVAL || code == WSAENOTSOCK || code == WSAECONNABORTED ||
          code == WSAECONNRESET || code == WSAENOTCONN) {
        if (CheckLogOptions(loWsockErr))
          DebugLog(loWsockErr, Name + " Winsock Send failed - " + WinsockErrorWithCode(code));
        const bool reported = FCloseInvoked;
        FCloseInvoked = true;
        Close();
        if (!reported) TriggerSessionClosed(static_cast<WORD>(code));
        break;
      }
      if (code == WSAEWOULDBLOCK) break;
      lock.unlock();
      SocketError("TryToSend failed");
      return;
    }
    if (FSendQueue.size() > 1) {
      FSendQueue.pop_front();
      continue;
    }
    FAllSent = true;  // the last chunk stays, empty, for the next Send
    break;
  }
}

void TCustomAsyncSocket::Flush() {
  // Each round sends what the system takes, then waits for a message (FD_WRITE once the system
  // has room again, handled here or held for this socket's handler) or a second at most. Bytes
  // that an abort discards meanwhile (Abort, or a handler's exception) were not sent either, and
  // end the wait; so does a quit posted to the thread, since every wait would return at once
  // from then on. The socket may be released by a message handled meanwhile: FAlive tells.
  const std::shared_ptr<bool> alive = FAlive;
  const DWORD start = GetTickCount();
  const DWORD limit = FlushTimeout > 0 ? static_cast<DWORD>(FlushTimeout) * 1000 : 0;
  const int64_t discardedBefore = discardedBytes_;
  int64_t unsent = FBufferedByteCount;
  for (;;) {
    if (FHSocket != INVALID_SOCKET) TryToSend();
    const int64_t discarded = discardedBytes_ - discardedBefore;
    unsent = FBufferedByteCount + discarded;
    if (unsent == 0 || discarded > 0 || FHSocket == INVALID_SOCKET) break;
    if (QuitPending() || FTerminated) break;
    const DWORD elapsed = TickElapsed(start, GetTickCount());
    if (limit > 0 && elapsed >= limit) break;
    MsgWait(limit > 0 ? std::min<DWORD>(limit - elapsed, 1000) : 1000);
    PumpMessages();
    if (!*alive) break;
  }
  if (unsent > 0)
    throw ESocketException("Flush failed: " + std::to_string(unsent) + " bytes not sent");
}

// ---- receiving ----

int TCustomAsyncSocket::Receive(void* Buffer, int Len) {
  int r = DoRecv(Buffer, Len, 0);
  if (r < 0)
    LastError = Winsock::WSAGetLastError();
  else
    FReadCount += r;
  return r;
}

std::string TCustomAsyncSocket::ReceiveStr() {
  int n = GetRcvdCount();
  if (n < 0) return std::string();
  if (n == 0) n = 255;
  std::string s(static_cast<size_t>(n), '\0');
  int r = Receive(s.data(), n);
  if (r < 1) return std::string();
  s.resize(static_cast<size_t>(r));
  return s;
}

int TCustomAsyncSocket::ReceiveFrom(void* Buffer, int Len, WS_sockaddr_in& From, int& FromLen) {
  int r = DoRecvFrom(FHSocket, Buffer, Len, 0, From, FromLen);
  if (r < 0)
    LastError = Winsock::WSAGetLastError();
  else
    FReadCount += r;
  return r;
}

int TCustomAsyncSocket::DoRecv(void* Buffer, int Len, int Flags) {
  return Winsock::recv(FHSocket, static_cast<char*>(Buffer), Len, Flags);
}

int TCustomAsyncSocket::DoRecvFrom(SOCKET Handle, void* Buffer, int Len, int Flags,
                                   WS_sockaddr_in& From, int& FromLen) {
  return Winsock::recvfrom(Handle, static_cast<char*>(Buffer), Len, Flags, AsAddr(&From), &FromLen);
}

int TCustomAsyncSocket::GetRcvdCount() {
  ULONG n = 0;
  if (Winsock::ioctlsocket(FHSocket, WS_FIONREAD, &n) == SOCKET_ERROR) {
    SocketError("ioctlSocket");
    return -1;
  }
  return static_cast<int>(n);
}

// ---- addresses ----

int TCustomAsyncSocket::GetPeerName(WS_sockaddr_in& Name, int& NameLen) {
  if (FState != wsConnected) return -1;
  return Winsock::getpeername(FHSocket, AsAddr(&Name), &NameLen);
}

std::string TCustomAsyncSocket::GetPeerAddr() {
  // A datagram socket has no peer; asking the system would report "not connected" and close it.
  if (FState != wsConnected || FSocketType == WS_SOCK_DGRAM) return "error";
  WS_sockaddr_in a = {};
  int len = kSockAddrLen;
  if (Winsock::getpeername(FHSocket, AsAddr(&a), &len) != 0) {
    SocketError("GetPeerAddr");
    return "error";
  }
  return WinsockInetNtoa(a.sin_addr);
}

std::string TCustomAsyncSocket::GetPeerPort() {
  if (FState != wsConnected || FSocketType == WS_SOCK_DGRAM) return "error";
  WS_sockaddr_in a = {};
  int len = kSockAddrLen;
  if (Winsock::getpeername(FHSocket, AsAddr(&a), &len) != 0) {
    SocketError("GetPeerPort");
    return "error";
  }
  return std::to_string(WinsockNtohs(a.sin_port));
}

int TCustomAsyncSocket::GetSockName(WS_sockaddr_in& Name, int& NameLen) {
  return Winsock::getsockname(FHSocket, AsAddr(&Name), &NameLen);
}

std::string TCustomAsyncSocket::GetSockAddr() {
  if (FState != wsBound && FState != wsConnected && FState != wsListening) return "error";
  WS_sockaddr_in a = {};
  int len = kSockAddrLen;
  if (Winsock::getsockname(FHSocket, AsAddr(&a), &len) != 0) return "error";
  return WinsockInetNtoa(a.sin_addr);
}

std::string TCustomAsyncSocket::GetSockPort() {
  if (FState != wsBound && FState != wsConnected && FState != wsListening) return "error";
  WS_sockaddr_in a = {};
  int len = kSockAddrLen;
  if (Winsock::getsockname(FHSocket, AsAddr(&a), &len) != 0) return "error";
  return std::to_string(WinsockNtohs(a.sin_port));
}

// ---- host-name lookup ----

void TCustomAsyncSocket::DnsLookup(const std::string& HostName) {
  if (HostName.empty()) {
    ReportError("DNS lookup: invalid host name.");
    TriggerDnsLookupDone(WSAEINVAL);
    return;
  }
  if (FDnsLookupHandle) {
    Winsock::WSACancelAsyncRequest(FDnsLookupHandle);
    FDnsLookupHandle = nullptr;
  }
  FDnsResult.clear();
  FDnsResultList.Clear();
  if (IsDottedQuad(HostName)) {
    ULONG a = WinsockInetAddr(HostName);
    if (a != WS_INADDR_NONE) {
      FDnsResult = WinsockInetNtoa(WS_in_addr{a});
      FDnsResultList.Add(FDnsResult);
      TriggerDnsLookupDone(0);
      return;
    }
  }
  if (!FWindowHandle) {
    ReportError("DNS Lookup: Window not assigned");
    return;
  }
  FLookupDoneEarly = false;
  FDnsLookupHandle = Winsock::WSAAsyncGetHostByName(
      FWindowHandle, WM_ASYNCGETHOSTBYNAME, HostName.c_str(), FLookupBuffer, sizeof FLookupBuffer);
  if (!FDnsLookupHandle) {
    ReportError(HostName + ": can't start DNS lookup - " +
                WinsockErrorWithCode(Winsock::WSAGetLastError()));
    return;
  }
  if (FLookupDoneEarly) {
    FLookupDoneEarly = false;
    HandleLookupByName(FLookupDoneMessage);
  }
}

void TCustomAsyncSocket::HandleLookupByName(TMessage& Msg) {
  if (!FDnsLookupHandle) {
    FLookupDoneMessage = Msg;
    FLookupDoneEarly = true;
    return;
  }
  if (reinterpret_cast<HANDLE>(Msg.WParam) != FDnsLookupHandle) return;
  FDnsLookupHandle = nullptr;
  const WORD error = HIWORD(Msg.LParam);
  if (error == 0) CopyHostEntryAddresses(reinterpret_cast<const WS_hostent*>(FLookupBuffer));
  TriggerDnsLookupDone(error);
}

void TCustomAsyncSocket::CopyHostEntryAddresses(const WS_hostent* he) {
  if (he->h_addr_list) {
    for (char** p = he->h_addr_list; *p; ++p) {
      WS_in_addr a;
      std::memcpy(&a.s_addr, *p, sizeof a.s_addr);
      FDnsResultList.Add(WinsockInetNtoa(a));
    }
  }
  if (FDnsResultList.Count() > 0) FDnsResult = FDnsResultList[0];
}

void TCustomAsyncSocket::CopyHostEntryNames(const WS_hostent* he) {
  FDnsResult = he->h_name ? he->h_name : "";
  FDnsResultList.Add(FDnsResult);
  if (he->h_aliases)
    for (char** p = he->h_aliases; *p; ++p)
      if (**p) FDnsResultList.Add(*p);
}

void TCustomAsyncSocket::ReverseDnsLookup(const std::string& HostAddr) {
  if (HostAddr.empty() || HostAddr.size() > 256) {
    ReportError("Reverse DNS Lookup: Invalid host name.");
    TriggerDnsLookupDone(WSAEINVAL);
    return;
  }
  if (FDnsLookupHandle) {
    Winsock::WSACancelAsyncRequest(FDnsLookupHandle);
    FDnsLookupHandle = nullptr;
  }
  FDnsResult.clear();
  FDnsResultList.Clear();
  ULONG a = WinsockInetAddr(HostAddr);
  if (!FWindowHandle) {
    ReportError("Reverse DNS Lookup: Window not assigned");
    return;
  }
  FDnsLookupHandle = Winsock::WSAAsyncGetHostByAddr(
      FWindowHandle, WM_ASYNCGETHOSTBYADDR, reinterpret_cast<const char*>(&a), sizeof a, WS_AF_INET,
      FLookupBuffer, sizeof FLookupBuffer);
  if (!FDnsLookupHandle)
    ReportError(HostAddr + ": can't start reverse DNS lookup - " +
                WinsockErrorWithCode(Winsock::WSAGetLastError()));
}

void TCustomAsyncSocket::HandleLookupByAddr(TMessage& Msg) {
  if (!FDnsLookupHandle || reinterpret_cast<HANDLE>(Msg.WParam) != FDnsLookupHandle) return;
  FDnsLookupHandle = nullptr;
  const WORD error = HIWORD(Msg.LParam);
  if (error == 0) CopyHostEntryNames(reinterpret_cast<const WS_hostent*>(FLookupBuffer));
  TriggerDnsLookupDone(error);
}

void TCustomAsyncSocket::ReverseDnsLookupSync(const std::string& HostAddr) {
  if (HostAddr.empty() || HostAddr.size() > 256) {
    ReportError("Reverse DNS Lookup: Invalid host name.");
    TriggerDnsLookupDone(WSAEINVAL);
    return;
  }
  if (FDnsLookupHandle) {
    Winsock::WSACancelAsyncRequest(FDnsLookupHandle);
    FDnsLookupHandle = nullptr;
  }
  FDnsResult.clear();
  FDnsResultList.Clear();
  ULONG a = WinsockInetAddr(HostAddr);
  const WS_hostent* he =
      Winsock::gethostbyaddr(reinterpret_cast<const char*>(&a), sizeof a, WS_AF_INET);
  if (!he) {
    TriggerDnsLookupDone(static_cast<WORD>(Winsock::WSAGetLastError()));
    return;
  }
  CopyHostEntryNames(he);
  TriggerDnsLookupDone(0);
}

void TCustomAsyncSocket::CancelDnsLookup() {
  if (!FDnsLookupHandle) return;
  // The library refuses (10022) a lookup that has already finished and whose answer is still
  // queued for the window. That lookup is cancelled all the same: its answer no longer matches
  // the cleared handle and is ignored, so the caller hears 10004 instead of nothing.
  if (Winsock::WSACancelAsyncRequest(FDnsLookupHandle) != 0 &&
      Winsock::WSAGetLastError() != WSAEINVAL) {
    FDnsLookupHandle = nullptr;
    SocketError("WSACancelAsyncRequest");
    return;
  }
  FDnsLookupHandle = nullptr;
  if (!FDestroying) TriggerDnsLookupDone(WSAEINTR);
}
