// Line mode: with LineMode on, received bytes are collected in the socket's own buffer and
// OnDataAvailable fires once for each complete line (a run of bytes ending with LineEnd); inside
// the handler Receive hands out that line, line end included, in as many pieces as the handler
// asks for, and then nothing more (0) until the next line. A line that grows past LineLimit is
// dropped whole, through its line end, unless the OnLineLimitExceeded handler clears ClearData.
// A line that a handler call takes nothing of waits: it is offered again every kLineRetryMs and at
// each new notification, until a call takes it; meanwhile nothing more is read from the system,
// so a handler that does not take its lines holds the peer back (the system's buffers fill) and
// costs neither memory nor processor time. Whatever ends the wait (a take, a switch of LineMode,
// the close) lets reading go on; while the socket is paused the line is not offered. At the close
// each line still held is offered once more, in order, then what is held without a line end;
// what is declined then is dropped (its bytes with it), as a line is when no handler is set. A line
// whose handler raises, or during which the handler closes the socket, is not handed out again;
// what was held behind it goes with the closed connection. With LineMode off everything passes
// through. The synchronous layer adds a wait that pumps messages until a flag is set.
#pragma once

#include <string>
#include <vector>

#include "net/socket/socks.h"

using TLineLimitEvent = std::function<void(rtl::TObject* Sender, int RcvdLength, bool& ClearData)>;

// How often a line that its handler did not take is offered again.
constexpr UINT kLineRetryMs = 100;

class TCustomLineSocket : public TCustomSocksSocket {
 public:
  explicit TCustomLineSocket(rtl::TComponent* owner = nullptr);
  ~TCustomLineSocket() override;

  bool LineMode() const { return FLineMode; }
  // A change with bytes held or a line pending posts the re-trigger message, so held bytes are
  // delivered in the new mode; a change while a line waits also reads on from the system.
  virtual void SetLineMode(bool Value);
  std::string LineEnd = "\r\n";
  int LineLimit = 65536;  // 0 or less: no limit
  bool LineEcho = false;
  bool LineEdit = false;
  int Timeout = 0;  // ms, for WaitUntilReady; 0 means none
  TLineLimitEvent OnLineLimitExceeded;

  // True once a line was found or the session closed.
  bool LineReceivedFlag() const { return FLineReceivedFlag; }
  void SetLineReceivedFlag(bool v) { FLineReceivedFlag = v; }
  // Bytes of the current line not yet handed out.
  int LineLength() const { return FLineLength; }

  // Queues Str and then sends LineEnd; returns their length together (0, sending nothing, for an
  // empty Str).
  virtual int SendLine(const std::string& Str);

  // While paused, a waiting line is not offered again; Resume goes on with it.
  void Pause() override;
  void Resume() override;

  // Reads what has already arrived, without waiting for more, and hands out its complete lines as
  // notifications would (their handlers run inside the call, and their exceptions pass through).
  // Reads at most what was there when it began, so a peer that keeps sending cannot hold it.
  // What is left without a line end stays held: a Close after it hands it out as the last line.
  // Cost: one read per kMaxRead bytes (64 KiB) that have arrived.
  void ReadArrived();

 protected:
  void WndProc(TMessage& Msg) override;
  bool TriggerDataAvailable(WORD Error) override;
  int DoRecv(void* Buffer, int Len, int Flags) override;
  int GetRcvdCount() override;
  void TriggerSessionClosed(WORD Error) override;
  // The peer's close: what the system still holds is read and each line offered once.
  void DoFdClose(TMessage& Msg) override;
  // Inside a handler's WaitForClose: what has arrived moves into the line buffer, to be handed
  // out once the handler has returned (in the mode then set). False when nothing was pending or
  // the buffer holds as much as it may.
  bool HoldArrived() override;

  virtual void TriggerLineLimitExceeded(int Cnt, bool& ClearData);
  // Backspace and tab editing of the Len new bytes behind the held ones.
  virtual void EditLine(int& Len);

 private:
  // Fires OnDataAvailable for the current line until it is taken. A call that takes nothing leaves
  // the line waiting (at the close: drops it); with no handler the line is dropped.
  void DeliverLine();
  // The current line is dropped: it counts as taken, so its bytes leave the buffer with it.
  void DropLine();
  // Hands out every complete line held, from searchFrom on (relative to the lines handled), until
  // one waits; then checks the unfinished tail against LineLimit.
  void HandOutLines(int searchFrom);
  // Offers the waiting line (its rest at the front of the buffer) again and, once it is taken,
  // the lines held behind it.
  void OfferWaitingLine();
  // The retry timer's tick: the waiting line is offered again; once nothing waits, what the system
  // holds is read again (through a notification posted to the own window).
  void RetryWaitingLine();
  // Starts or stops the waiting of the current line, with its retry timer.
  void SetWaiting(bool Value);
  void SetRetryTimer(bool On);
  // Nothing is read from the system while a line waits, so the notification that came meanwhile
  // was spent without a read and none re-armed: once the wait ends, a read is asked for through a
  // notification posted to the own window.
  void RequestRead();
  // Reads up to count bytes behind the held ones, edited or echoed as set; returns how many came
  // (0 for none or a failure, whose code is in LastError).
  int ReadMore(int count);
  // With line mode switched off by a handler: hands out the held bytes in plain mode.
  void DeliverPlain();
  // How many of the last held bytes may be the beginning of a line end split across reads.
  int PartialLineEnd() const;
  // Drops the first n held bytes.
  void Consume(int n);
  // Drops the FHandled bytes of lines already handled from the front of the buffer.
  void DropHandled();
  // Fires OnDataAvailable (through the SOCKS layer) or OnLineLimitExceeded as part of a delivery:
  // a close inside the handler then hands out no last line.
  bool FireDataAvailable();
  void FireLineLimitExceeded(int Cnt, bool& ClearData);
  // While a line over the limit is being skipped: drops held bytes through its line end (all but
  // a possible split line end when none has come yet).
  void SkipOverLongLine();
  void Retrigger();
  void FreeBuffer();

  std::vector<char> FRcvd;  // held bytes (FRcvdCnt of them), followed by a zero byte
  int FRcvdCnt = 0;
  bool FLineMode = false;
  int FLineLength = 0;  // bytes of the current line still to hand out
  int FLineOffset = 0;  // where they start in the buffer (the handler may take a line in pieces)
  bool FLineReceivedFlag = false;
  bool FLineFound = false;
  bool FLineClearData = false;
  bool FSkipping = false;  // dropping an over-long line through its line end
  bool FWaiting = false;   // the current line was declined: its rest is at the front, unread
  bool FClosing = false;   // the session is closing: each line is offered once
  int FSearchFrom = 0;     // held bytes before this index were searched without finding a line end
  // While one read's lines are handed out: the bytes of the lines already handled, still at the
  // front of the buffer (FLineOffset counts them). 0 whenever no line of a read is being handled.
  int FHandled = 0;
  int FDelivering = 0;  // handlers of this socket's line engine now running
  DWORD FTimeStop = 0;

  friend class TCustomSyncSocket;
};

// The synchronous layer: waits by pumping the thread's messages.
class TCustomSyncSocket : public TCustomLineSocket {
 public:
  explicit TCustomSyncSocket(rtl::TComponent* owner = nullptr) : TCustomLineSocket(owner) {}

  // Clears DoneFlag, calls Proc when set, then WaitUntilReady(DoneFlag).
  virtual int Synchronize(const std::function<void()>& Proc, bool& DoneFlag);
  // Pumps messages until DoneFlag is set: 0, or 12001 on time-out (Timeout > 0) or when the
  // thread's loop is ending. Waits in the message layer, never spins.
  virtual int WaitUntilReady(bool& DoneFlag);
};

// The socket component the programs create.
class TAsyncSocket : public TCustomSyncSocket {
 public:
  explicit TAsyncSocket(rtl::TComponent* owner = nullptr) : TCustomSyncSocket(owner) {}
};
