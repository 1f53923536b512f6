#include "net/socket/line.h"

#include <algorithm>
#include <cstring>

namespace {

// Index of the first occurrence of needle in hay[from, len), or -1.
int Find(const char* hay, int len, int from, const std::string& needle) {
  const int n = static_cast<int>(needle.size());
  for (int i = std::max(0, from); i + n <= len; ++i)
    if (std::memcmp(hay + i, needle.data(), n) == 0) return i;
  return -1;
}

}  // namespace

TCustomLineSocket::TCustomLineSocket(rtl::TComponent* owner) : TCustomSocksSocket(owner) {}

TCustomLineSocket::~TCustomLineSocket() = default;

void TCustomLineSocket::FreeBuffer() {
  std::vector<char>().swap(FRcvd);
  FRcvdCnt = 0;
  FLineLength = 0;
  FLineOffset = 0;
  FSkipping = false;
}

void TCustomLineSocket::SetLineMode(bool Value) {
  if (Value == FLineMode) return;
  FLineMode = Value;
  if (FRcvdCnt > 0 || FLineLength > 0) PostToSelf(WM_TRIGGER_DATA_AVAILABLE, 0, 0);
}

int TCustomLineSocket::SendLine(const std::string& Str) {
  if (Str.empty()) return 0;
  AppendToSendQueue(Str.data(), static_cast<int>(Str.size()));
  SendStr(LineEnd);
  return static_cast<int>(Str.size() + LineEnd.size());
}

void TCustomLineSocket::WndProc(TMessage& Msg) {
  if (Msg.Msg == WM_TRIGGER_DATA_AVAILABLE) {
    Retrigger();
    return;
  }
  TCustomSocksSocket::WndProc(Msg);
}

void TCustomLineSocket::Retrigger() {
  for (int pass = 1; FRcvdCnt > 0; ++pass) {
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
}

void TCustomLineSocket::TriggerLineLimitExceeded(int Cnt, bool& ClearData) {
  if (OnLineLimitExceeded) OnLineLimitExceeded(this, Cnt, ClearData);
}

void TCustomLineSocket::DeliverLine() {
  // Each call hands the line to the handler; the handler takes it with Receive, in one piece or
  // several. A call that takes nothing ends the delivery: the line is dropped, as without a
  // handler, instead of calling forever.
  while (FLineMode && FLineLength > 0) {
    const int before = FLineLength;
    if (!TCustomSocksSocket::TriggerDataAvailable(0) || FLineLength == before) FLineLength = 0;
  }
}

void TCustomLineSocket::DeliverPlain() {
  while (!FLineMode && FRcvdCnt > 0) {
    const int before = FRcvdCnt;
    if (!TCustomSocksSocket::TriggerDataAvailable(0) || FRcvdCnt == before) break;
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

bool TCustomLineSocket::TriggerDataAvailable(WORD Error) {
  if (!FLineMode || LineEnd.empty() || FSocksState != 0)
    return TCustomSocksSocket::TriggerDataAvailable(Error);

  int count = TCustomSocksSocket::GetRcvdCount();
  if (count < 0) return true;
  if (count == 0) count = 255;
  if (static_cast<int>(FRcvd.size()) < FRcvdCnt + count + 1) FRcvd.resize(FRcvdCnt + count + 1);

  int got = TCustomSocksSocket::DoRecv(FRcvd.data() + FRcvdCnt, count, 0);
  if (got < 0) LastError = Winsock::WSAGetLastError();
  if (got < 1) {
    if (FRcvdCnt == 0) return true;
    got = 0;
  } else {
    FReadCount += got;
  }
  FRcvd[FRcvdCnt + got] = '\0';

  if (got > 0) {
    if (LineEdit)
      EditLine(got);
    else if (LineEcho)
      Send(FRcvd.data() + FRcvdCnt, got);
  }

  const int endLen = static_cast<int>(LineEnd.size());
  int searchFrom = std::max(0, FRcvdCnt - endLen);
  FRcvdCnt += got;

  if (FSkipping) {
    SkipOverLongLine();
    if (FSkipping) return true;
    searchFrom = 0;
  }

  while (FLineMode) {
    int i = Find(FRcvd.data(), FRcvdCnt, searchFrom, LineEnd);
    if (i < 0) break;
    const int lineLen = i + endLen;
    FLineLength = lineLen;
    FLineOffset = 0;
    FLineReceivedFlag = true;
    FLineFound = true;
    bool deliver = true;
    if (LineLimit > 0 && lineLen > LineLimit) {
      // A line over the limit is dropped whole, even when its end came with it.
      bool clear = true;
      TriggerLineLimitExceeded(lineLen, clear);
      deliver = !clear;
    }
    if (deliver) DeliverLine();
    if (FLineMode || FLineLength == 0) {
      FLineLength = 0;
      Consume(lineLen);
    } else {
      // The handler switched line mode off inside the line: the part it took goes, the rest of
      // the line and everything behind it follow in plain mode.
      Consume(FLineOffset);
      FLineLength = 0;
      DeliverPlain();
    }
    FLineOffset = 0;
    searchFrom = 0;
  }

  if (FLineMode && LineLimit > 0 && FRcvdCnt > LineLimit) {
    FLineClearData = true;
    TriggerLineLimitExceeded(FRcvdCnt, FLineClearData);
    if (FLineClearData) {
      // Drop what is held and everything up to this line's end, however it arrives.
      FLineLength = 0;
      FRcvdCnt = 0;
      FRcvd[0] = '\0';
      FLineClearData = false;
      FSkipping = true;
    }
  }
  return true;
}

void TCustomLineSocket::EditLine(int& Len) {
  const int start = FRcvdCnt;
  const char* in = FRcvd.data() + start;
  bool edited = false;
  for (int k = 0; k < Len && !edited; ++k) edited = in[k] == 8 || in[k] == 9;
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

void TCustomLineSocket::TriggerSessionClosed(WORD Error) {
  FLineReceivedFlag = true;
  if (!FRcvd.empty()) {
    // What is held without a line end becomes one last line (not the rest of an over-long one).
    if (FLineMode && FRcvdCnt > 0 && !FLineClearData && !FSkipping) {
      FLineLength = FRcvdCnt;
      FLineOffset = 0;
      DeliverLine();
    }
    FreeBuffer();
  }
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
