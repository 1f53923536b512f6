#include "net/socket/line.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "rtl/scope.h"

namespace {

constexpr int kMaxRead = 64 * 1024;

// The line buffer's own timer: a waiting line is offered again at each tick.
constexpr UINT_PTR kLineRetryTimer = 1;

// Counts a running handler for the length of a scope, exceptions included.
class DeliveryScope {
 public:
  explicit DeliveryScope(int& depth) : depth_(depth) { ++depth_; }
  ~DeliveryScope() { --depth_; }
  DeliveryScope(const DeliveryScope&) = delete;
  DeliveryScope& operator=(const DeliveryScope&) = delete;

 private:
  int& depth_;
};

// Index of the first occurrence of needle in hay[from, len), or -1. (The search runs over every
// received byte; string_view's find scans for the needle's first byte with memchr.)
int Find(const char* hay, int len, int from, const std::string& needle) {
  from = std::max(0, from);
  if (from >= len) return -1;
  const size_t i = std::string_view(hay + from, static_cast<size_t>(len - from)).find(needle);
  return i == std::string_view::npos ? -1 : from + static_cast<int>(i);
}

}  // namespace

TCustomLineSocket::TCustomLineSocket(rtl::TComponent* owner) : TCustomSocksSocket(owner) {}

TCustomLineSocket::~TCustomLineSocket() {
  SetWaiting(false);
}

void TCustomLineSocket::FreeBuffer() {
  SetWaiting(false);
  std::vector<char>().swap(FRcvd);
  FRcvdCnt = 0;
  FLineLength = 0;
  FLineOffset = 0;
  FSkipping = false;
  FSearchFrom = 0;
  FHandled = 0;
}

void TCustomLineSocket::SetLineMode(bool Value) {
  if (Value == FLineMode) return;
  DropHandled();  // the held bytes start at the front again, as plain mode reads them
  const bool waited = FWaiting;
  if (waited) {
    // The waiting line's rest is at the front already: it goes on in plain mode.
    SetWaiting(false);
    FLineLength = 0;
  }
  FLineMode = Value;
  FSearchFrom = 0;  // held bytes were not searched in the new mode
  if (FRcvdCnt > 0 || FLineLength > 0) PostToSelf(WM_TRIGGER_DATA_AVAILABLE, 0, 0);
  // What the system holds behind them comes next.
  if (waited) RequestRead();
}

int TCustomLineSocket::SendLine(const std::string& Str) {
  if (Str.empty()) return 0;
  if (LineEnd.empty()) return SendStr(Str);  // nothing to append: the text itself is sent
  AppendToSendQueue(Str.data(), static_cast<int>(Str.size()));
  SendStr(LineEnd);
  return static_cast<int>(Str.size() + LineEnd.size());
}

void TCustomLineSocket::WndProc(TMessage& Msg) {
  if (Msg.Msg == WM_TRIGGER_DATA_AVAILABLE) {
    Retrigger();
    return;
  }
  if (Msg.Msg == WM_TIMER && Msg.WParam == kLineRetryTimer) {
    RetryWaitingLine();
    return;
  }
  TCustomSocksSocket::WndProc(Msg);
}

void TCustomLineSocket::Retrigger() {
  for (int pass = 1; FRcvdCnt > 0 && !FWaiting; ++pass) {
    FLineFound = false;
    const int before = FRcvdCnt;
    TriggerDataAvailable(0);
    if (FRcvdCnt <= 0) break;
    if (pass >= 4 && FLineMode && !FLineFound) break;
    if (FRcvdCnt == before && !FLineFound) break;  // nothing moved: no handler takes these bytes
  }
}

int TCustomLineSocket::GetRcvdCount() {
  if (FLineMode) return FLineLength;
  return TCustomSocksSocket::GetRcvdCount();
}

int TCustomLineSocket::DoRecv(void* Buffer, int Len, int Flags) {
  if (FLineMode && FLineLength > 0) {
    int n = std::min(Len, FLineLength);
    if (n <= 0) return 0;
    std::memcpy(Buffer, FRcvd.data() + FLineOffset, n);
    FLineOffset += n;
    FLineLength -= n;
    return n;
  }
  // In line mode a handler gets its own line and nothing else: what lies behind it, held or still
  // in the system, belongs to the next lines.
  if (FLineMode && !LineEnd.empty() && FSocksState == 0) return 0;
  if (!FLineMode && FRcvdCnt > 0 && FLineLength == 0) {
    int n = std::min(Len, FRcvdCnt);
    if (n <= 0) return 0;
    std::memcpy(Buffer, FRcvd.data(), n);
    Consume(n);
    return n;
  }
  return TCustomSocksSocket::DoRecv(Buffer, Len, Flags);
}

void TCustomLineSocket::Consume(int n) {
  n = std::min(n, FRcvdCnt);
  if (n <= 0) return;
  std::memmove(FRcvd.data(), FRcvd.data() + n, FRcvdCnt - n);
  FRcvdCnt -= n;
  FRcvd[FRcvdCnt] = '\0';
  FSearchFrom = 0;
}

void TCustomLineSocket::DropHandled() {
  if (FHandled <= 0) return;
  const int n = FHandled;
  FHandled = 0;
  FLineOffset = std::max(0, FLineOffset - n);
  Consume(n);  // (nothing when a close inside a handler has dropped everything already)
}

int TCustomLineSocket::PartialLineEnd() const {
  // The longest tail of the held bytes that is a proper beginning of LineEnd.
  const int endLen = static_cast<int>(LineEnd.size());
  for (int n = std::min(FRcvdCnt, endLen - 1); n > 0; --n)
    if (std::memcmp(FRcvd.data() + FRcvdCnt - n, LineEnd.data(), n) == 0) return n;
  return 0;
}

void TCustomLineSocket::TriggerLineLimitExceeded(int Cnt, bool& ClearData) {
  if (OnLineLimitExceeded) OnLineLimitExceeded(this, Cnt, ClearData);
}

bool TCustomLineSocket::FireDataAvailable() {
  DeliveryScope scope(FDelivering);
  return TCustomSocksSocket::TriggerDataAvailable(0);
}

void TCustomLineSocket::FireLineLimitExceeded(int Cnt, bool& ClearData) {
  DeliveryScope scope(FDelivering);
  TriggerLineLimitExceeded(Cnt, ClearData);
}

void TCustomLineSocket::DeliverLine() {
  // Each call hands the line to the handler; the handler takes it with Receive, in one piece or
  // several. A call that takes nothing ends the delivery for now: the line waits for the next
  // offer instead of being handed out in a loop. (A call that leaves line mode hands the rest of
  // the line to plain mode instead.)
  while (FLineMode && FLineLength > 0) {
    const int before = FLineLength;
    if (!FireDataAvailable()) {
      DropLine();  // no handler: the line goes
    } else if (FLineLength == before && FLineMode) {
      if (FClosing)
        DropLine();  // its last offer
      else
        SetWaiting(true);
      return;
    }
  }
}

void TCustomLineSocket::DropLine() {
  FLineOffset += FLineLength;
  FLineLength = 0;
}

void TCustomLineSocket::SetWaiting(bool Value) {
  if (Value == FWaiting) return;
  FWaiting = Value;
  SetRetryTimer(Value && !FPaused);
}

void TCustomLineSocket::SetRetryTimer(bool On) {
  if (!FWindowHandle) return;
  if (On)
    SetTimer(FWindowHandle, kLineRetryTimer, kLineRetryMs);
  else
    KillTimer(FWindowHandle, kLineRetryTimer);
}

void TCustomLineSocket::RequestRead() {
  if (FHSocket != INVALID_SOCKET && FState == wsConnected)
    PostToSelf(WM_ASYNCSELECT, FHSocket, WSAMAKESELECTREPLY(FD_READ, 0));
}

void TCustomLineSocket::Pause() {
  TCustomSocksSocket::Pause();
  if (FWaiting) SetRetryTimer(false);  // a paused socket's handler is offered nothing
}

void TCustomLineSocket::Resume() {
  TCustomSocksSocket::Resume();
  // The registration made again reads what the system holds, the waiting line offered first.
  if (FWaiting) SetRetryTimer(true);
}

void TCustomLineSocket::OfferWaitingLine() {
  FLineOffset = 0;
  try {
    // Offered as from the start: a handler that declines again leaves it waiting.
    SetWaiting(false);
    DeliverLine();
  } catch (...) {
    // The handler had this line: its rest goes, as for a line handed out the first time.
    Consume(FLineOffset + FLineLength);
    FLineLength = 0;
    FLineOffset = 0;
    throw;
  }
  if (FRcvd.empty()) return;  // closed inside the handler
  Consume(FLineOffset);       // what the handler took (all of it when the line was dropped)
  FLineOffset = 0;
  if (FWaiting) return;
  FLineLength = 0;
  if (FLineMode)
    HandOutLines(0);
  else
    DeliverPlain();  // the handler left line mode inside the line
}

void TCustomLineSocket::RetryWaitingLine() {
  if (!FWaiting) {
    SetWaiting(false);
    return;
  }
  if (FPaused) return;  // (a tick held for one of this socket's handlers, which then paused)
  try {
    OfferWaitingLine();
  } catch (...) {
    // As in the receive loop, a handler's exception ends the pass and is dropped.
  }
  if (!FWaiting) RequestRead();
}

void TCustomLineSocket::DeliverPlain() {
  while (!FLineMode && FRcvdCnt > 0) {
    const int before = FRcvdCnt;
    if (!FireDataAvailable() || FRcvdCnt == before) break;
  }
}

void TCustomLineSocket::SkipOverLongLine() {
  const int endLen = static_cast<int>(LineEnd.size());
  int i = Find(FRcvd.data(), FRcvdCnt, 0, LineEnd);
  if (i >= 0) {
    Consume(i + endLen);
    FSkipping = false;
    return;
  }
  // Keep only what could be the start of a line end split across reads.
  Consume(FRcvdCnt - std::min(FRcvdCnt, endLen - 1));
}

int TCustomLineSocket::ReadMore(int count) {
  if (static_cast<int>(FRcvd.size()) < FRcvdCnt + count + 1) FRcvd.resize(FRcvdCnt + count + 1);
  int got = TCustomSocksSocket::DoRecv(FRcvd.data() + FRcvdCnt, count, 0);
  if (got < 0) LastError = Winsock::WSAGetLastError();
  if (got < 1) return 0;
  FReadCount += got;
  FRcvd[FRcvdCnt + got] = '\0';
  if (LineEdit)
    EditLine(got);
  else if (LineEcho)
    Send(FRcvd.data() + FRcvdCnt, got);
  return got;
}

bool TCustomLineSocket::TriggerDataAvailable(WORD Error) {
  if (!FLineMode || LineEnd.empty() || FSocksState != 0)
    return TCustomSocksSocket::TriggerDataAvailable(Error);

  if (FWaiting) {
    // A notification while a line waits: the line is offered again. Until it is taken nothing
    // more is read, and the receive loop is told to stop (-1), since the bytes left in the system
    // are left there on purpose.
    OfferWaitingLine();
    if (FWaiting || FRcvd.empty()) {
      LastError = -1;
      return true;
    }
  }

  int count = TCustomSocksSocket::GetRcvdCount();
  if (count < 0) return true;
  if (count == 0) count = 255;
  // One pass takes at most kMaxRead bytes: a flooding peer cannot make one notification hold its
  // thread for a whole socket buffer of lines (the rest comes with the next pass).
  count = std::min(count, kMaxRead);
  const int got = ReadMore(count);
  if (got == 0 && FRcvdCnt == 0) return true;
  // Only the new bytes (with a line end that may have begun in the held ones) need searching,
  // unless held bytes were never searched in line mode. (Editing may have moved the held end.)
  const int endLen = static_cast<int>(LineEnd.size());
  int searchFrom = std::min(FSearchFrom, std::max(0, FRcvdCnt - endLen));
  FRcvdCnt += got;

  if (FSkipping) {
    SkipOverLongLine();
    if (FSkipping) return true;
    searchFrom = 0;
  }
  HandOutLines(searchFrom);
  return true;
}

void TCustomLineSocket::HandOutLines(int searchFrom) {
  const int endLen = static_cast<int>(LineEnd.size());
  // The lines handled here leave the front of the buffer in one move when the loop ends (see
  // FHandled): a move per line would copy the rest of a large read once for every line in it.
  while (FLineMode) {
    int i = Find(FRcvd.data(), FRcvdCnt, FHandled + searchFrom, LineEnd);
    if (i < 0) break;
    const int textLen = i - FHandled;
    const int lineLen = textLen + endLen;
    FLineLength = lineLen;
    FLineOffset = FHandled;
    FLineReceivedFlag = true;
    FLineFound = true;
    try {
      bool deliver = true;
      if (LineLimit > 0 && textLen > LineLimit) {
        // A line over the limit is dropped whole, even when its end came with it. The limit is
        // on the line's text: its line end does not count.
        bool clear = true;
        FireLineLimitExceeded(lineLen, clear);
        deliver = !clear;
      }
      if (deliver) DeliverLine();
      if (FWaiting) {
        // The rest of this line waits at the front of the buffer, the held bytes behind it.
        Consume(FLineOffset);
        FHandled = 0;
        FLineOffset = 0;
        return;
      }
    } catch (...) {
      // The handler had this line: it is not handed out again by the next read.
      FLineLength = 0;
      FLineOffset = 0;
      FHandled += lineLen;
      DropHandled();
      throw;
    }
    if (FLineMode || FLineLength == 0) {
      FLineLength = 0;
      FHandled += lineLen;
    } else {
      // The handler switched line mode off inside the line (which dropped the lines before it):
      // the part it took goes, the rest of the line follows in plain mode.
      Consume(FLineOffset);
      FLineLength = 0;
    }
    FLineOffset = 0;
    // With line mode switched off by the handler, everything held follows in plain mode now.
    if (!FLineMode) {
      DropHandled();
      DeliverPlain();
    }
    searchFrom = 0;
  }
  DropHandled();

  if (FLineMode && LineLimit > 0 && FRcvdCnt - PartialLineEnd() > LineLimit) {
    FLineClearData = true;
    FireLineLimitExceeded(FRcvdCnt, FLineClearData);
    if (FLineClearData) {
      FLineClearData = false;
      if (FRcvdCnt > 0) {  // (a close inside the handler has dropped everything already)
        // Drop what is held and everything up to this line's end, however it arrives. The last
        // bytes may begin a line end split across reads: they stay for the next search.
        Consume(FRcvdCnt - std::min(FRcvdCnt, endLen - 1));
        FLineLength = 0;
        FSkipping = true;
      }
    }
  }
  if (FLineMode) FSearchFrom = std::max(0, FRcvdCnt - endLen);
}

void TCustomLineSocket::ReadArrived() {
  int left = TCustomSocksSocket::GetRcvdCount();
  while (left > 0 && HSocket() != INVALID_SOCKET) {
    const int64_t before = FReadCount;
    TriggerDataAvailable(0);
    const int64_t got = FReadCount - before;
    if (got <= 0) break;  // not read here (not line mode, or a line waits)
    left -= static_cast<int>(std::min<int64_t>(got, left));
  }
  if (LastError == -1) LastError = 0;
}

bool TCustomLineSocket::HoldArrived() {
  if (FSocksState != 0) return false;
  // As much as a line may hold, and one read more.
  const int room = kMaxRead + std::max(LineLimit, kMaxRead) - FRcvdCnt;
  const int count = std::min(TCustomSocksSocket::GetRcvdCount(), room);
  if (count <= 0) return false;
  const int got = ReadMore(count);
  if (got == 0) return false;
  FRcvdCnt += got;
  // Handed out once the handler has returned (this socket's messages wait until then).
  PostToSelf(WM_TRIGGER_DATA_AVAILABLE, 0, 0);
  return true;
}

void TCustomLineSocket::EditLine(int& Len) {
  const int start = FRcvdCnt;
  const char* in = FRcvd.data() + start;
  bool edited = false;
  for (int k = 0; k < Len && !edited; ++k)
    edited = in[k] == 8 || in[k] == 9;
  if (!edited) {
    if (LineEcho) Send(in, Len);
    return;
  }
  // Edited text goes to a buffer of its own: tabs can make it longer than what came in.
  std::string out(FRcvd.data(), start);
  int lowest = start;
  for (int k = 0; k < Len; ++k) {
    const char c = in[k];
    if (c == 8) {
      if (LineEcho && !out.empty()) SendStr("\b \b");
      if (!out.empty()) out.pop_back();
      lowest = std::min(lowest, static_cast<int>(out.size()));
    } else if (c == 9) {
      do {
        out.push_back(' ');
        if (LineEcho) SendStr(" ");
      } while (out.size() % 8 != 0);
    } else {
      if (LineEcho) Send(&c, 1);
      out.push_back(c);
    }
  }
  if (FRcvd.size() < out.size() + 1) FRcvd.resize(out.size() + 1);
  std::memcpy(FRcvd.data(), out.data(), out.size());
  FRcvd[out.size()] = '\0';
  FRcvdCnt = lowest;
  Len = static_cast<int>(out.size()) - lowest;
}

void TCustomLineSocket::DoFdClose(TMessage& Msg) {
  // The receive loop of the close reads what is left; each line is offered once.
  const rtl::TFlagScope closing(FClosing);
  TCustomSocksSocket::DoFdClose(Msg);
}

void TCustomLineSocket::TriggerSessionClosed(WORD Error) {
  FLineReceivedFlag = true;
  // Nothing when the close comes from inside a handler of the line engine: that handler had its
  // line, and what lay behind it goes with the connection.
  if (!FRcvd.empty() && FLineMode && FRcvdCnt > 0 && FDelivering == 0) {
    const rtl::TFlagScope closing(FClosing);
    try {
      // Each line still held is offered once more, in order; then what is held without a line
      // end becomes one last line (not the rest of an over-long one).
      if (FWaiting) OfferWaitingLine();
      if (FLineMode && !FSkipping) HandOutLines(0);
      if (FLineMode && FRcvdCnt > 0 && !FLineClearData && !FSkipping) {
        FLineLength = FRcvdCnt;
        FLineOffset = 0;
        DeliverLine();
      }
    } catch (...) {
      // As for any line, a handler's exception is dropped; the close is still reported.
    }
  }
  if (!FRcvd.empty()) FreeBuffer();
  TCustomSocksSocket::TriggerSessionClosed(Error);
}

// ---- synchronous layer ----

int TCustomSyncSocket::Synchronize(const std::function<void()>& Proc, bool& DoneFlag) {
  DoneFlag = false;
  if (Proc) Proc();
  return WaitUntilReady(DoneFlag);
}

int TCustomSyncSocket::WaitUntilReady(bool& DoneFlag) {
  constexpr int kTimeout = 12001;
  FTimeStop = GetTickCount() + static_cast<DWORD>(Timeout);
  while (!DoneFlag) {
    if (Timeout > 0 && !TickBefore(GetTickCount(), FTimeStop)) return kTimeout;
    if (QuitPending() || FTerminated) return kTimeout;
    DWORD wait = 100;
    if (Timeout > 0) wait = std::min<DWORD>(wait, FTimeStop - GetTickCount());
    MsgWait(wait);
    PumpMessages();
  }
  return 0;
}
