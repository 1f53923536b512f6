#include "net/ftp/ftpctrl.h"

#include <algorithm>
#include <cstring>

#include "net/ftp/ftppath.h"

namespace {

constexpr char kOverLine[] = "OVER\r\n";
constexpr int kOverLineLen = 6;
constexpr int kMinRcvSize = 8;
constexpr int kDrainBlock = 1024;

}  // namespace

TFtpCtrlSocket::TFtpCtrlSocket(rtl::TComponent* owner) : TAsyncSocket(owner) {
  FDataSocket = new TAsyncSocket(this);
  FDataSocket->Name = "DataSocket";
  transfer_ = std::make_unique<TFtpTransfer>(FDataSocket);
  SetRcvSize(kFtpCommandBufferSize);
  // Each reply goes out when it is written: a reply that follows another before the client has
  // answered (226 after 150) would otherwise wait for the client's delayed acknowledgement,
  // about 40 ms per transfer.
  ComponentOptions.Include(wsoTcpNoDelay);
}

TFtpCtrlSocket::~TFtpCtrlSocket() {
  FRcvCnt = 0;
  SetRcvSize(0);
  transfer_.reset();
  Md5Job.reset();
  delete FDataSocket;
  FDataSocket = nullptr;
}

void TFtpCtrlSocket::SetRcvSize(int value) {
  if (FRcvCnt != 0) throw EFtpCtrlSocketException("Data in buffer, can't change size");
  if (value < 0) value = 0;
  if (value > 0 && value < kMinRcvSize) value = kMinRcvSize;
  if (value == FRcvSize) return;
  FRcvBuf.reset(value > 0 ? new char[value] : nullptr);
  if (FRcvBuf) FRcvBuf[0] = '\0';
  FRcvSize = value;
}

// ---- folders ----

bool TFtpCtrlSocket::OpenHome() {
  std::string real;
  if (HomeDir.empty() || rtl::fs::RealPath(HomeDir, real) != 0) return false;
  rtl::fs::TFileInfo info;
  if (rtl::fs::LStat(real, info) != 0 || info.Kind != rtl::fs::TFileKind::Directory) return false;
  std::vector<std::string> names;
  if (rtl::fs::ListDirectory(real, names) != 0) return false;
  FHomeRoot = real;
  FDirectory = "/";
  return true;
}

void TFtpCtrlSocket::BuildDirectory(const std::string& Value) {
  if (Value == FDirectory) return;
  std::vector<std::string> names = CombineFtpPath(FDirectory, Value, TFtpDotDot::StopAtRoot);
  if (!FHomeRoot.empty()) {
    TFtpLocation loc = LocateFtpPath(FHomeRoot, names);
    if (loc.Kind == rtl::fs::TFileKind::Regular) throw EFtpPathError(kFtpPathNotDirectory);
    names = std::move(loc.Names);
  }
  FDirectory = FtpPathText(names, true);
}

// ---- connection ----

void TFtpCtrlSocket::StartConnection() {
  SessionStarted = rtl::Now();
  LastCommandTime = 0;
  CommandCount = 0;
  FtpState = ftpcWaitingUserCode;
  SendAnswer(Banner);
}

bool TFtpCtrlSocket::SendAnswer(const std::string& Answer) {
  if (State() != wsConnected) return false;
  try {
    SendStr(Answer + "\r\n");
  } catch (const rtl::Exception&) {
    return false;
  }
  return true;
}

std::string TFtpCtrlSocket::GetPeerAddr() {
  return PeerAddrCache;
}

void TFtpCtrlSocket::SetHSocket(SOCKET value) {
  TAsyncSocket::SetHSocket(value);
  if (State() != wsConnected) return;
  PeerAddrCache = TAsyncSocket::GetPeerAddr();
  int on = 1;
  Winsock::setsockopt(HSocket(), WS_SOL_SOCKET, WS_SO_OOBINLINE, reinterpret_cast<const char*>(&on),
                      sizeof on);
}

void TFtpCtrlSocket::TriggerEvent(WORD Error) {
  if (State() == wsConnected) PeerAddrCache = TAsyncSocket::GetPeerAddr();
  TAsyncSocket::TriggerEvent(Error);
}

void TFtpCtrlSocket::TriggerCommand(char* CmdBuf, int CmdLen) {
  if (OnCommand) OnCommand(this, CmdBuf, CmdLen);
}

// ---- reading commands ----

bool TFtpCtrlSocket::CommandsHeld() const {
  return FStopped || FSuspendCount > 0 || FDraining ||
         BufferedByteCount() > kFtpMaxUnsentReplyBytes;
}

void TFtpCtrlSocket::ResumeCommands() {
  if (FSuspendCount > 0) --FSuspendCount;
  if (FSuspendCount == 0) PostResume();
}

void TFtpCtrlSocket::PostResume() {
  if (FResumePosted) return;
  FResumePosted = PostToSelf(WM_FTP_RESUME_COMMANDS, 0, 0);
}

void TFtpCtrlSocket::StartDrain(int budget) {
  FDraining = true;
  FDrainBudget = budget;
}

int TFtpCtrlSocket::DrainInput(int limit) {
  char block[kDrainBlock];
  int dropped = 0;
  while (dropped < limit && HSocket() != INVALID_SOCKET) {
    const int n = Receive(block, std::min(kDrainBlock, limit - dropped));
    if (n <= 0) break;
    dropped += n;
  }
  return dropped;
}

// Receiving follows the buffer rules: at most RcvSize - RcvCnt - 1 bytes are read behind the held
// ones (a zero byte always follows them), then every complete line is delivered in arrival order.
// While reading is held nothing is read, so the system keeps the rest and the peer slows down; the
// receive loop is told to stop (LastError -1) instead of asking again.
bool TFtpCtrlSocket::TriggerDataAvailable(WORD Error) {
  if (FDraining) {
    FDrainBudget -= DrainInput(FDrainBudget);
    if (FDrainBudget <= 0 && State() == wsConnected) Close();
    return true;
  }
  if (CommandsHeld()) {
    if (!FStopped && BufferedByteCount() > kFtpMaxUnsentReplyBytes) FBackpressure = true;
    LastError = -1;
    return true;
  }
  const int room = FRcvSize - FRcvCnt - 1;
  if (room <= 0) {
    LastError = -1;
    return true;
  }
  const int n = Receive(FRcvBuf.get() + FRcvCnt, room);
  if (n <= 0) return true;
  FRcvCnt += n;
  FRcvBuf[FRcvCnt] = '\0';
  ProcessHeldLines();
  return true;
}

void TFtpCtrlSocket::ProcessHeldLines() {
  while (FRcvCnt > 0) {
    if (CommandsHeld()) {
      if (!FStopped && BufferedByteCount() > kFtpMaxUnsentReplyBytes) FBackpressure = true;
      LastError = -1;
      return;
    }
    if (State() != wsConnected) return;
    char* buf = FRcvBuf.get();
    char* lf = static_cast<char*>(std::memchr(buf, '\n', static_cast<size_t>(FRcvCnt)));
    if (!lf) {
      if (FRcvCnt < FRcvSize - 1) return;  // wait for the rest of the line
      // A full buffer without a line feed: the line is too long for any command.
      std::memcpy(buf, kOverLine, kOverLineLen + 1);
      FRcvCnt = kOverLineLen;
      lf = buf + kOverLineLen - 1;
    }
    const int lineLen = static_cast<int>(lf - buf);
    *lf = '\0';
    LastCommandTime = rtl::Now();
    LastActivityTick = GetTickCount();
    ++CommandCount;
    int deliver = lineLen;
    if (lineLen > 1 && buf[lineLen - 1] == '\r') {
      buf[lineLen - 1] = '\0';
      --deliver;
    }
    TriggerCommand(buf, deliver);
    // The handler may have closed the session; the buffer is still ours (the session is only
    // freed after this notification has returned).
    if (!FRcvBuf) return;
    const int taken = lineLen + 1;
    const int rest = FRcvCnt - taken;
    if (rest > 0) std::memmove(buf, buf + taken, static_cast<size_t>(rest));
    FRcvCnt = std::max(0, rest);
    buf[FRcvCnt] = '\0';
  }
}

void TFtpCtrlSocket::TriggerDataSent(WORD Error) {
  if (FBackpressure && BufferedByteCount() <= kFtpMaxUnsentReplyBytes) {
    FBackpressure = false;
    PostResume();
  }
  TAsyncSocket::TriggerDataSent(Error);
}

void TFtpCtrlSocket::WndProc(TMessage& Msg) {
  if (Msg.Msg != WM_FTP_RESUME_COMMANDS) {
    TAsyncSocket::WndProc(Msg);
    return;
  }
  FResumePosted = false;
  if (CommandsHeld() || State() != wsConnected) return;
  ProcessHeldLines();
  // Reading again also re-arms the read notification, which stayed off while nothing was read.
  if (!CommandsHeld() && State() == wsConnected) TriggerDataAvailable(0);
}
