// The asynchronous socket: it never blocks its caller. Its handle is in notification mode
// (WSAAsyncSelect) and every network event reaches it as a message posted to a hidden window the
// socket owns, so the owning thread's message loop drives all socket work, one message at a
// time. Sending goes through a queue of fixed-size chunks; receiving is pulled by the
// OnDataAvailable handler. Host-name lookups run in the library and end with a message too.
//
// Ownership and threads: a socket belongs to the thread that created it (ThreadAttach /
// ThreadDetach move it); every call, notification and event runs in that thread. A handler may
// close, abort or Release() its own socket, but must never delete it: Release posts the
// destruction. While one of a socket's handlers runs (and pumps messages inside it), that socket's
// own further notifications are held and delivered, in order, after the handler returns; other
// sockets go on meanwhile.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "net/socket/netlogger.h"
#include "net/socket/socklib.h"
#include "rtl/classes.h"
#include "rtl/set.h"

enum TSocketState {
  wsInvalidState,
  wsOpened,
  wsBound,
  wsConnecting,
  wsSocksConnected,
  wsConnected,
  wsAccepting,
  wsListening,
  wsClosed,
};

enum TSocketSendFlags { wsSendNormal, wsSendUrgent };
enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };
enum TSocketKeepAliveOnOff { wsKeepAliveOff, wsKeepAliveOnCustom, wsKeepAliveOnSystem };
enum TAsyncSocketOption { wsoNoReceiveLoop, wsoTcpNoDelay, wsoSIO_RCVALL };
using TAsyncSocketOptions = rtl::TSet<TAsyncSocketOption>;

// Events; Sender is the socket. ErrCode 0 means success, else a socket error code.
using TDataAvailable = std::function<void(rtl::TObject* Sender, WORD ErrCode)>;
using TDataSent = TDataAvailable;
using TSessionClosed = TDataAvailable;
using TSessionAvailable = TDataAvailable;
using TSessionConnected = TDataAvailable;
using TDnsLookupDone = TDataAvailable;
using TSendData = std::function<void(rtl::TObject* Sender, int BytesSent)>;
using TChangeState =
    std::function<void(rtl::TObject* Sender, TSocketState OldState, TSocketState NewState)>;
using TBgExceptionEvent =
    std::function<void(rtl::TObject* Sender, const rtl::Exception& E, bool& CanClose)>;

// Messages of the hidden window.
constexpr UINT WM_ASYNCSELECT = WM_USER + 1;
constexpr UINT WM_ASYNCGETHOSTBYNAME = WM_USER + 2;
constexpr UINT WM_ASYNCGETHOSTBYADDR = WM_USER + 3;
constexpr UINT WM_CLOSE_DELAYED = WM_USER + 4;
constexpr UINT WM_WSOCKET_RELEASE = WM_USER + 5;
constexpr UINT WM_TRIGGER_EXCEPTION = WM_USER + 6;
constexpr UINT WM_TRIGGER_DATA_AVAILABLE = WM_USER + 20;

// One chunk of a send queue. Pending bytes are Buf[RdCount, WrCount).
class TBuffer {
 public:
  // A size of 0 or less means 1514.
  explicit TBuffer(int size);
  TBuffer(const TBuffer&) = delete;
  TBuffer& operator=(const TBuffer&) = delete;

  void SetBufSize(int size);
  // Copies as much of data as fits after the written part; returns the count (0 when full).
  int Write(const void* data, int len);
  // The first pending byte and, in len, the pending count; null and 0 when nothing is pending.
  const char* Peek(int& len) const;
  // Takes out up to len pending bytes; returns the count. Both counters return to 0 once
  // everything written has been taken out.
  int Remove(int len);

  int BufSize() const { return FBufSize; }
  int WrCount() const { return FWrCount; }
  int RdCount() const { return FRdCount; }

 private:
  std::unique_ptr<char[]> FBuf;
  int FBufSize = 0;
  int FWrCount = 0;
  int FRdCount = 0;
};

class TCustomAsyncSocket : public rtl::TComponent {
 public:
  explicit TCustomAsyncSocket(rtl::TComponent* owner = nullptr);
  ~TCustomAsyncSocket() override;

  // ---- published properties ----
  TNetLogger* NetLogger() const { return FNetLogger; }
  virtual void SetNetLogger(TNetLogger* value);
  // Remote address (connect) or local interface (listen); only while closed.
  const std::string& Addr() const { return FAddrStr; }
  void SetAddr(const std::string& value);
  const std::string& Port() const { return FPortStr; }
  virtual void SetPort(const std::string& value);
  const std::string& Proto() const { return FProtoStr; }
  virtual void SetProto(const std::string& value);
  const std::string& LocalAddr() const { return FLocalAddr; }
  void SetLocalAddr(const std::string& value);
  const std::string& LocalPort() const { return FLocalPortStr; }
  void SetLocalPort(const std::string& value);
  std::string PeerAddr() { return GetPeerAddr(); }
  std::string PeerPort() { return GetPeerPort(); }
  const std::string& DnsResult() const { return FDnsResult; }
  const rtl::TStringList& DnsResultList() const { return FDnsResultList; }
  TSocketState State() const { return FState; }
  int64_t ReadCount() const { return FReadCount; }
  int RcvdCount() { return GetRcvdCount(); }
  SOCKET HSocket() const { return FHSocket; }
  HWND WindowHandle() const { return FWindowHandle; }
  DWORD ThreadId() const { return FThreadId; }
  bool AllSent() const { return FAllSent; }
  int BufferedByteCount() const { return FBufferedByteCount; }
  bool Terminated() const { return FTerminated; }
  int SocketSndBufSize() const { return FSocketSndBufSize; }
  int SocketRcvBufSize() const { return FSocketRcvBufSize; }
  SOCKET AcceptedHandle() const { return FAcceptedHandle; }
  int SelectEvent() const { return FSelectEvent; }
  bool Paused() const { return FPaused; }

  TSocketSendFlags SendFlags();
  void SetSendFlags(TSocketSendFlags value);
  static uint8_t GetReqVerLow() { return ::ReqVerLow(); }
  static uint8_t GetReqVerHigh() { return ::ReqVerHigh(); }
  void SetReqVerLow(uint8_t value);
  void SetReqVerHigh(uint8_t value);

  // Plain published fields.
  int LastError = 0;
  bool MultiThreaded = false;
  bool MultiCast = false;
  std::string MultiCastAddrStr;
  int MultiCastIpTTL = 1;
  bool ReuseAddr = false;
  TAsyncSocketOptions ComponentOptions;
  int ListenBacklog = 5;
  int FlushTimeout = 60;  // seconds Flush may wait; 0 or less: no limit
  TSocketLingerOnOff LingerOnOff = wsLingerOn;
  int LingerTimeout = 0;  // seconds
  TSocketKeepAliveOnOff KeepAliveOnOff = wsKeepAliveOnSystem;
  int KeepAliveTime = 30000;     // ms
  int KeepAliveInterval = 1000;  // ms
  int ChunkSize = 1460;

  // ---- events ----
  TSessionAvailable OnSessionAvailable;
  TSessionConnected OnSessionConnected;
  TSessionClosed OnSessionClosed;
  TChangeState OnChangeState;
  TDataAvailable OnDataAvailable;
  TDataSent OnDataSent;
  TSendData OnSendData;
  TDnsLookupDone OnDnsLookupDone;
  TNotifyEvent OnError;
  TBgExceptionEvent OnBgException;

  // ---- operations ----
  virtual void Connect();
  virtual void Close();
  virtual void CloseDelayed();
  virtual void Release();
  virtual void Abort();
  // Sends until the send queue is empty, waiting in the message layer (the thread's messages are
  // handled meanwhile). Raises ESocketException "Flush failed: N bytes not sent" when the
  // connection ends first, when an abort discards the queue meanwhile (N counts what it
  // discarded), when a quit is pending for the thread, or when FlushTimeout seconds pass first
  // (FlushTimeout 0 or less: no limit).
  virtual void Flush();
  // Waits, handling the thread's messages, until the peer has closed the connection (or it is
  // closed here, or the thread's loop is ending). Outside this socket's handlers the close is
  // handled as it comes (OnSessionClosed fires inside the call), and data that arrives meanwhile
  // goes to OnDataAvailable. Inside one of them, where this socket's notifications wait until the
  // handler returns, the close is seen on the handle itself; what arrives meanwhile is held for
  // the handler's return (see HoldArrived), and so is the close, which then fires
  // OnSessionClosed once. A failure of the handle ends the wait with its code in LastError; so
  // does, inside a handler, more arriving than can be held (10055), since a close behind it
  // cannot be seen.
  virtual void WaitForClose();
  virtual void Listen();
  virtual SOCKET Accept();
  // Accept without a report: the accepted handle, or INVALID_SOCKET with the library's error code
  // in Error (and in LastError); WSAEINVAL when the socket is not listening. For listeners to
  // which a failed accept is an ordinary outcome (see TAcceptGate).
  SOCKET TryAccept(int& Error);
  // Adopts a handle (an accepted connection); the socket becomes wsConnected.
  virtual void SetHSocket(SOCKET value);
  virtual void Shutdown(int How);
  virtual void Pause();
  virtual void Resume();
  virtual void ThreadAttach();
  virtual void ThreadDetach();
  virtual void PumpMessages();
  // Processes the calling thread's pending messages once.
  void ProcessMessages();

  // Sending (never blocks; the rest goes out as the system allows).
  virtual int Send(const void* Data, int Len);
  virtual int SendStr(const std::string& Str);
  virtual int SendTo(const WS_sockaddr_in& Dest, int DestLen, const void* Data, int Len);
  virtual void AppendToSendQueue(const void* Data, int Len);
  void DeleteSendQueue();
  // Receiving.
  virtual int Receive(void* Buffer, int Len);
  virtual std::string ReceiveStr();
  virtual int ReceiveFrom(void* Buffer, int Len, WS_sockaddr_in& From, int& FromLen);

  // Lookups. One may be pending per socket; a new one replaces it silently. Each ends with one
  // OnDnsLookupDone: from the loop, or inside the call for a dotted address (and for the
  // blocking ReverseDnsLookupSync). CancelDnsLookup ends a pending one with 10004, and nothing of
  // it is reported afterwards.
  virtual void DnsLookup(const std::string& HostName);
  virtual void ReverseDnsLookup(const std::string& HostAddr);
  virtual void ReverseDnsLookupSync(const std::string& HostAddr);
  virtual void CancelDnsLookup();

  // Applies LingerOnOff / LingerTimeout to the open handle.
  void SetLingerOption();
  // The error path of a failed library call (see ReportError).
  void SocketError(const std::string& ProcName);

  virtual std::string GetPeerAddr();
  virtual std::string GetPeerPort();
  virtual int GetPeerName(WS_sockaddr_in& Name, int& NameLen);
  virtual std::string GetSockPort();
  virtual std::string GetSockAddr();
  virtual int GetSockName(WS_sockaddr_in& Name, int& NameLen);

 protected:
  virtual void DebugLog(TLogOption LogOption, const std::string& Msg);
  virtual bool CheckLogOptions(TLogOption LogOption);
  // Message dispatch of the hidden window; derived layers handle their own messages first.
  virtual void WndProc(TMessage& Msg);
  virtual void AllocateHiddenWindow();
  virtual void DeallocateHiddenWindow();
  virtual void TryToSend();
  virtual void ResetDefaults();
  virtual void InternalClose(bool Shut, WORD Error);
  virtual void InternalAbort(WORD Error);
  virtual int GetRcvdCount();
  // Binds to LocalAddr:LocalPort and reads the bound port back; false after a reported failure.
  virtual bool BindSocket();
  virtual int RawSend(const void* Data, int Len);
  // With OnError assigned: fires it and returns (the caller goes on); else raises
  // ESocketException(Msg).
  virtual void ReportError(const std::string& Msg);
  virtual void HandleBackgroundException(const rtl::Exception& E);
  virtual bool TriggerDataAvailable(WORD Error);
  virtual void TriggerSessionAvailable(WORD Error);
  virtual void TriggerSessionConnected(WORD Error);
  virtual void TriggerEvent(WORD Error);
  virtual void TriggerSessionClosed(WORD Error);
  virtual void TriggerDataSent(WORD Error);
  virtual void TriggerChangeState(TSocketState OldState, TSocketState NewState);
  virtual void TriggerDnsLookupDone(WORD Error);
  virtual void TriggerError();
  virtual int DoRecv(void* Buffer, int Len, int Flags);
  // Inside a handler's WaitForClose, with bytes pending in the system: takes them out of the way
  // of the peer's close, to be handed out after the handler returns. True when some were taken;
  // this layer holds nothing (false).
  virtual bool HoldArrived() { return false; }
  virtual int DoRecvFrom(SOCKET Handle, void* Buffer, int Len, int Flags, WS_sockaddr_in& From,
                         int& FromLen);
  virtual void DoFdConnect(TMessage& Msg);
  virtual void DoFdRead(TMessage& Msg);
  virtual void DoFdWrite(TMessage& Msg);
  virtual void DoFdAccept(TMessage& Msg);
  virtual void DoFdClose(TMessage& Msg);
  virtual void DupConnected();

  void Notification(rtl::TComponent* component, rtl::TOperation operation) override;

  void ChangeState(TSocketState NewState);
  // Fires OnSessionClosed unless it already fired for this connection.
  void SessionClosedOnce(WORD Error);
  // The receive loop run by FD_READ and FD_CLOSE.
  void ReceiveLoop(WORD Error, TAsyncSocketOptions Options);
  // Closes the handle without any notification and forgets it (after a failed set-up).
  void DropHandle();
  // A set-up step failed after the handle was made: drops the handle, then reports the library's
  // error for ProcName through SocketError.
  void FailWithHandle(const char* ProcName);
  // Reads the system's send and receive buffer sizes; false after a reported failure.
  bool ReadBufferSizes();
  // Empties the send queue and makes the handle of a new connection; false after reporting a
  // failure through SocketError(ProcName).
  bool OpenHandle(const char* ProcName);
  // Resolves what is not resolved yet, in this order: the port (into SockAddr), with localPort
  // the local port, then the address (into SockAddr). Raises ESocketException.
  void ResolveEndpoint(bool localPort);
  // True while closed; else reports "Cannot change <what> if not closed".
  bool CanChange(const char* what);
  // Stores a trimmed address, port or protocol text (the same text again, while assigned, is no
  // change) and marks it assigned when not empty and unresolved.
  void AssignText(const std::string& value, std::string& text, bool& assigned, bool& resolved);
  bool BeingDestroyed() const { return FDestroying; }
  // Posts Msg to the own hidden window (dropped when there is none).
  bool PostToSelf(UINT Msg, WPARAM WParam, LPARAM LParam);
  void SetKeepAliveOption();
  // TCP_NODELAY on the handle when ComponentOptions holds wsoTcpNoDelay; false after the failure
  // has been reported.
  bool SetTcpNoDelayOption();

  // ---- fields ----
  std::string FDnsResult;
  rtl::TStringList FDnsResultList;
  int FSendFlagsValue = 0;
  HWND FWindowHandle = 0;
  char FLookupBuffer[1025] = {};
  bool FLookupDoneEarly = false;
  TMessage FLookupDoneMessage = {};
  SOCKET FHSocket = INVALID_SOCKET;
  SOCKET FAcceptedHandle = INVALID_SOCKET;
  std::string FAddrStr;
  bool FAddrResolved = false;
  int FAddrFormat = WS_AF_INET;
  bool FAddrAssigned = false;
  int FProtoNum = WS_IPPROTO_TCP;
  bool FProtoAssigned = true;
  bool FProtoResolved = false;
  bool FLocalPortResolved = false;
  std::string FProtoStr = "tcp";
  std::string FPortStr;
  bool FPortAssigned = false;
  bool FPortResolved = false;
  int FPortNum = 0;
  std::string FLocalPortStr = "0";
  int FLocalPortNum = 0;
  std::string FLocalAddr = "0.0.0.0";
  int FSocketType = WS_SOCK_STREAM;
  std::deque<std::unique_ptr<TBuffer>> FSendQueue;
  bool FAllSent = true;
  int64_t FReadCount = 0;
  bool FPaused = false;
  bool FCloseInvoked = false;
  int FBufferedByteCount = 0;
  HANDLE FDnsLookupHandle = nullptr;
  TSocketState FState = wsClosed;
  bool FTerminated = false;
  int FSelectEvent = 0;
  DWORD FThreadId = 0;
  int FSocketSndBufSize = 0;
  int FSocketRcvBufSize = 0;
  TNetLogger* FNetLogger = nullptr;
  WS_sockaddr_in FSockAddr = {};

 private:
  // The hidden window's procedure: holds this socket's messages while one of its handlers runs.
  void WindowProcedure(TMessage& Msg);
  void GuardedWndProc(TMessage& Msg);
  void HandleAsyncSelect(TMessage& Msg);
  void HandleLookupByName(TMessage& Msg);
  void HandleLookupByAddr(TMessage& Msg);
  void CopyHostEntryAddresses(const WS_hostent* he);
  void CopyHostEntryNames(const WS_hostent* he);
  // Closes the handle; false when the close failed and was reported (the close ends there).
  bool CloseHandle();
  // WaitForClose inside one of this socket's handlers.
  void WaitForPeerClose();

  int FHandlerDepth = 0;
  std::deque<TMessage> FHeld;
  int64_t discardedBytes_ = 0;  // queued bytes that DeleteSendQueue threw away, in all
  std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
  bool FDestroying = false;
};

// The process-wide send-queue lock (re-entrant for its owner thread).
std::recursive_mutex& SendQueueLock();
