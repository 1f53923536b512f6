#include "net/socket/socks.h"

#include <algorithm>
#include <cstring>

#include "rtl/cp932.h"

TCustomSocksSocket::TCustomSocksSocket(rtl::TComponent* owner) : TCustomAsyncSocket(owner) {}

void TCustomSocksSocket::ResetDefaults() {
  TCustomAsyncSocket::ResetDefaults();
  FSocksState = 0;
  FSocksServer.clear();
  FSocksPort.clear();
  FSocksLevel = "5";
  FSocksRcvdCnt = 0;
  FSocksRcvdPos = 0;
  FSocksPortAssigned = false;
  FSocksServerAssigned = false;
}

void TCustomSocksSocket::SetSocksServer(const std::string& value) {
  if (FState != wsClosed) {
    ReportError("Can't change socks server if not closed");
    return;
  }
  FSocksServer = rtl::Trim(value);
  FSocksServerAssigned = !FSocksServer.empty();
}

void TCustomSocksSocket::SetSocksPort(const std::string& value) {
  if (FState != wsClosed) {
    ReportError("Can't change socks port if not closed");
    return;
  }
  FSocksPort = rtl::Trim(value);
  FSocksPortAssigned = !FSocksPort.empty();
}

void TCustomSocksSocket::SetSocksLevel(const std::string& value) {
  if (FState != wsClosed) {
    ReportError("Can't change socks level if not closed");
    return;
  }
  if (value != "4" && value != "5" && value != "4A" && value != "4a") {
    ReportError("Invalid socks level. Must be 4, 4A or 5.");
    return;
  }
  FSocksLevel = rtl::UpperCase(value);
}

void TCustomSocksSocket::Listen() {
  if (FSocksServerAssigned) {
    ReportError("Listening is not supported thru socks server");
    return;
  }
  TCustomAsyncSocket::Listen();
}

void TCustomSocksSocket::Connect() {
  if (!FSocksServerAssigned) {
    TCustomAsyncSocket::Connect();
    return;
  }
  if (!rtl::SameText(FProtoStr, "tcp") && FProtoStr != "6") {
    ReportError("TCP is the only protocol supported thru socks server");
    return;
  }
  try {
    // The socket connects to the proxy; the destination port is kept for the request.
    if (!FPortResolved) {
      FSockAddr.sin_port = Winsock::htons(WinsockResolvePort(FSocksPort, "tcp"));
      FPortResolved = true;
    }
    if (!FAddrResolved) {
      FSockAddr.sin_addr.s_addr = WinsockResolveHost(FSocksServer);
      FAddrResolved = true;
    }
    FPortNum = WinsockResolvePort(FPortStr, "tcp");
  } catch (const ESocketException& E) {
    ReportError("Connect: " + E.Message);
    return;
  }
  FSocksState = 1;
  FRcvCnt = 0;
  TCustomAsyncSocket::Connect();
}

void TCustomSocksSocket::TriggerSocksConnected(WORD Error) {
  if (OnSocksConnected) OnSocksConnected(this, Error);
}

void TCustomSocksSocket::TriggerSocksError(int Error, const std::string& Msg) {
  if (OnSocksError) OnSocksError(this, Error, Msg);
}

void TCustomSocksSocket::TriggerSocksAuthState(TSocksAuthState State) {
  if (OnSocksAuthState) OnSocksAuthState(this, State);
}

void TCustomSocksSocket::TriggerSessionConnected(WORD Error) {
  if (FSocksState != 1) {
    TCustomAsyncSocket::TriggerSessionConnected(Error);
    return;
  }
  TriggerSocksConnected(Error);
  if (Error != 0) {
    // The proxy itself could not be reached: an ordinary failed connect.
    FSocksState = 0;
    TCustomAsyncSocket::TriggerSessionConnected(Error);
    return;
  }
  if (FSocksLevel[0] == '4') {
    SocksDoConnect();
    return;
  }
  FSocksAuthNumber = SocksAuthentication == socksAuthenticateUsercode ? 2 : 0;
  const char request[3] = {5, 1, static_cast<char>(FSocksAuthNumber)};
  FRcvCnt = 0;
  Send(request, sizeof request);
}

void TCustomSocksSocket::SocksFail(int Error, const std::string& Msg) {
  TriggerSocksError(Error, Msg);
  FSocksState = 0;
  TCustomAsyncSocket::TriggerSessionConnected(static_cast<WORD>(Error));
  InternalClose(true, static_cast<WORD>(Error));
}

void TCustomSocksSocket::SocksDoConnect() {
  FSocksState = 3;
  FRcvCnt = 0;
  std::string req;
  const USHORT port = Winsock::htons(static_cast<USHORT>(FPortNum));
  if (FSocksLevel[0] == '4') {
    if (SocksUsercode.size() > 255 || FAddrStr.size() > 255) {
      SocksFail(socksInternalError, "socks request too long");
      return;
    }
    ULONG addr;
    if (FSocksLevel == "4A") {
      addr = Winsock::htonl(1);  // 0.0.0.1: the proxy resolves the name sent behind
    } else {
      try {
        addr = WinsockResolveHost(FAddrStr);
      } catch (const rtl::Exception& E) {
        SocksFail(socksHostResolutionFailed, std::string(E.ClassName()) + " " + E.Message);
        return;
      }
    }
    req.push_back(4);
    req.push_back(1);
    req.append(reinterpret_cast<const char*>(&port), 2);
    req.append(reinterpret_cast<const char*>(&addr), 4);
    req += SocksUsercode;
    req.push_back('\0');
    if (FSocksLevel == "4A") {
      req += FAddrStr;
      req.push_back('\0');
    }
  } else {
    if (FAddrStr.size() > 255) {
      SocksFail(socksInternalError, "socks destination name too long");
      return;
    }
    req = {5, 1, 0, 3, static_cast<char>(FAddrStr.size())};
    req += FAddrStr;
    req.append(reinterpret_cast<const char*>(&port), 2);
  }
  Send(req.data(), static_cast<int>(req.size()));
}

void TCustomSocksSocket::SocksDoAuthenticate() {
  if (SocksUsercode.size() > 255 || SocksPassword.size() > 255) {
    SocksFail(socksInternalError, "socks user code or password too long");
    return;
  }
  FSocksState = 2;
  FRcvCnt = 0;
  TriggerSocksAuthState(socksAuthStart);
  std::string req;
  req.push_back(1);
  req.push_back(static_cast<char>(SocksUsercode.size()));
  req += SocksUsercode;
  req.push_back(static_cast<char>(SocksPassword.size()));
  req += SocksPassword;
  Send(req.data(), static_cast<int>(req.size()));
}

bool TCustomSocksSocket::ReadReply(int want) {
  want = std::min(want, static_cast<int>(sizeof FRcvBuf));
  if (FRcvCnt < want) {
    int n = TCustomAsyncSocket::Receive(FRcvBuf + FRcvCnt, want - FRcvCnt);
    if (n > 0) FRcvCnt += n;
  }
  return FRcvCnt >= want;
}

void TCustomSocksSocket::SocksConnected() {
  FSocksState = 0;
  TCustomAsyncSocket::TriggerSessionConnected(0);
  // Data that came with the reply is delivered at once.
  if (FHSocket != INVALID_SOCKET) TriggerDataAvailable(0);
}

void TCustomSocksSocket::ReplyMethods() {
  if (FSocksLevel[0] == '4') {
    SocksFail(socksProtocolError, "TAsyncSocket logic error");
    return;
  }
  if (!ReadReply(2)) return;
  if (FRcvBuf[0] != 5) {
    SocksFail(socksVersionError, "socks version error");
    return;
  }
  if (FRcvBuf[1] == 0) {
    if (FSocksAuthNumber != 0) TriggerSocksAuthState(socksAuthNotRequired);
    SocksDoConnect();
  } else if (FRcvBuf[1] == 2) {
    SocksDoAuthenticate();
  } else {
    SocksFail(socksAuthMethodError, "authentification method not acceptable");
  }
}

void TCustomSocksSocket::ReplyAuthentication() {
  if (!ReadReply(2)) {
    if (FRcvCnt >= 1 && FRcvBuf[0] != 1) SocksFail(socksVersionError, "socks version error");
    return;
  }
  if (FRcvBuf[0] != 1) {
    SocksFail(socksVersionError, "socks version error");
    return;
  }
  if (FRcvBuf[1] != 0) {
    SocksFail(socksAuthenticationFailed, "socks authentication failed");
    return;
  }
  TriggerSocksAuthState(socksAuthSuccess);
  SocksDoConnect();
}

void TCustomSocksSocket::ReplyConnect4() {
  if (!ReadReply(8)) return;
  if (FRcvBuf[0] != 0) {
    SocksFail(socksVersionError, "socks version error");
    return;
  }
  switch (FRcvBuf[1]) {
    case 90:
      FRcvCnt = 0;
      SocksConnected();
      return;
    case 91:
      SocksFail(socksRejectedOrFailed, "request rejected or failed");
      return;
    case 92:
      SocksFail(socksConnectionRefused, "connection refused");
      return;
    case 93:
      SocksFail(socksAuthenticationFailed, "authentification failed");
      return;
    default:
      SocksFail(socksUnassignedError, "unassigned error #" + std::to_string(FRcvBuf[1]));
      return;
  }
}

void TCustomSocksSocket::ReplyConnect5() {
  static const char* const kReplyTexts[] = {
      "general SOCKS server failure", "connection not allowed by ruleset",
      "network unreachable",          "host unreachable",
      "connection refused",           "time to live expired",
      "command not supported",        "address type not supported"};
  // Version, reply code, reserved, address type: then the address decides the length.
  if (!ReadReply(2)) return;
  if (FRcvBuf[0] != 5) {
    SocksFail(socksVersionError, "socks version error");
    return;
  }
  if (FRcvBuf[1] != 0) {
    int code = FRcvBuf[1];
    if (code >= 1 && code <= 8)
      SocksFail(socksGeneralFailure + code - 1, kReplyTexts[code - 1]);
    else
      SocksFail(socksUnassignedError, "unassigned error #" + std::to_string(code));
    return;
  }
  if (!ReadReply(5)) return;
  int total = FRcvBuf[3] == 1 ? 10 : FRcvBuf[3] == 3 ? 7 + FRcvBuf[4] : 5;
  if (!ReadReply(total)) return;
  if (FRcvBuf[3] == 1) {
    WS_in_addr a;
    std::memcpy(&a.s_addr, FRcvBuf + 4, 4);
    FBoundAddr = WinsockInetNtoa(a);
  } else if (FRcvBuf[3] == 3) {
    FBoundAddr.assign(reinterpret_cast<const char*>(FRcvBuf + 5), FRcvBuf[4]);
  } else {
    SocksFail(socksUnknownAddressType, "address type not supported");
    return;
  }
  USHORT port;
  std::memcpy(&port, FRcvBuf + total - 2, 2);
  FBoundPort = std::to_string(Winsock::ntohs(port));
  // Anything read behind the reply is handed out before the system's data.
  FSocksRcvdCnt = FRcvCnt - total;
  FSocksRcvdPos = total;
  SocksConnected();
}

bool TCustomSocksSocket::TriggerDataAvailable(WORD Error) {
  if (FSocksState == 0) return TCustomAsyncSocket::TriggerDataAvailable(Error);
  if (Error != 0) {
    SocksFail(Error, "data receive error");
    return true;
  }
  switch (FSocksState) {
    case 1:
      ReplyMethods();
      break;
    case 2:
      ReplyAuthentication();
      break;
    case 3:
      if (FSocksLevel[0] == '4')
        ReplyConnect4();
      else
        ReplyConnect5();
      break;
  }
  return true;
}

void TCustomSocksSocket::TriggerSessionClosed(WORD Error) {
  if (FSocksState == 2) TriggerSocksAuthState(socksAuthFailure);
  TCustomAsyncSocket::TriggerSessionClosed(Error);
}

int TCustomSocksSocket::GetRcvdCount() {
  if (FSocksRcvdCnt > 0) return FSocksRcvdCnt;
  return TCustomAsyncSocket::GetRcvdCount();
}

int TCustomSocksSocket::DoRecv(void* Buffer, int Len, int Flags) {
  if (FSocksRcvdCnt <= 0) return TCustomAsyncSocket::DoRecv(Buffer, Len, Flags);
  int n = std::min(Len, FSocksRcvdCnt);
  if (n <= 0) return 0;
  std::memcpy(Buffer, FRcvBuf + FSocksRcvdPos, n);
  FSocksRcvdPos += n;
  FSocksRcvdCnt -= n;
  return n;
}
