// One session's transfer: the data connection's state from a transfer command's "150" to its one
// closing reply, the passive listener (or the connection taken ahead of the command) it uses, the
// stream it reads or writes, the write lock on an uploaded file, and the table of the transfer
// commands (their replies, their direction, how their stream comes to be).
//
// A transfer is in one state at a time: idle, waiting for its data connection, moving data,
// closing. It leaves idle only through Begin and comes back only through Finish, which hands out
// its closing reply, or through Withdraw, for a command that failed before its "150". A second
// Finish finds it idle and hands out nothing: whichever path ends a transfer first (the data
// connection's close, ABOR, a failure, a time-out, the session's removal) answers it, and no path
// can answer it again.
//
// Ownership and threads: the session (TFtpCtrlSocket) owns its transfer and its data socket. The
// socket stays with the session, which publishes it as DataSocket() and names it; the transfer
// holds it for the session's whole life. The transfer owns its stream (also one the application
// hands over) and its entry in the server's set of write locks. The server drives it: it hooks
// the socket's handlers, posts the deferred steps, fires the events and sends the replies. Every
// call runs on the server's thread; no locks.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "net/ftp/ftpstream.h"
#include "net/socket/line.h"

enum class TFtpXferState {
  Idle,     // no transfer; a passive listener or a connection taken ahead may wait
  Waiting,  // begun: its data connection is not up (not asked for yet, listening or connecting)
  Moving,   // its data connection is up and data moves
  Closing,  // given up (its reason kept) or all data handed over: the connection's close answers
};

// How a transfer's stream comes to be.
enum class TFtpXferStream {
  WriteFile,   // the named file, created or emptied (kept for a restart), once the connection is up
  AppendFile,  // the named file, written from its end (created when missing), once it is up
  NewFile,     // a file of a name not taken yet, created by the command itself
  ReadFile,    // the named file, opened once the connection is up (unless the application gave one)
  Listing,     // a listing, built in memory by the command
};

// One transfer command. In the texts {name} stands for the file as the client named it (for a
// new file, the path it sees), {offset} for where an append starts, {reason} for why the command
// failed or the transfer was given up, {error} for a socket error's text and {error#} for the same
// with its code.
struct TFtpXferEntry {
  uint8_t Code;  // the command's code (ftpcSTOR, ...)
  bool Upload;   // the client sends; else the server does
  TFtpXferStream Stream;
  const char* Busy;     // the reply while another transfer is pending
  const char* Refused;  // the reply when OnValidatePut or OnValidateGet says no ("": not asked)
  const char* Failed;   // the reply when the command fails before its transfer begins
  const char* Opening;  // the "150" reply
  const char* Done;     // closing: everything moved
  const char* Aborted;  // closing: given up for {reason}
  const char* Broken;   // closing: the data connection failed
};

// The entry of a transfer command's code (STOR, APPE, STOU, RETR, LIST, NLST, MLSD); null for any
// other code. A scan of the seven entries.
const TFtpXferEntry* FtpXferEntry(uint8_t Code);

// The values of the placeholders.
struct TFtpXferValues {
  std::string Name;
  int64_t Offset = 0;
  std::string Reason;
  int Error = 0;
};

// Text with its placeholders replaced, in one pass (a value is never read for placeholders).
std::string FtpXferText(const char* Text, const TFtpXferValues& Values);

// Why a transfer ends.
enum class TFtpXferEnd {
  Closed,     // its data connection closed (or was closed for it, or the session goes)
  NeverCame,  // its data connection did not come within the time-out
};

// A transfer's end: its one closing reply, and the error the closed events report.
struct TFtpXferClosing {
  std::string Reply;
  WORD Error = 0;
};

class TFtpTransfer {
 public:
  // REQUIRES: Data is the session's data socket and outlives the transfer.
  explicit TFtpTransfer(TAsyncSocket* Data);
  TFtpTransfer(const TFtpTransfer&) = delete;
  TFtpTransfer& operator=(const TFtpTransfer&) = delete;

  TAsyncSocket* DataSocket() const { return data_; }

  // ---- the transfer ----
  TFtpXferState State() const { return state_; }
  bool Pending() const { return state_ != TFtpXferState::Idle; }
  // The entry of the running transfer, or of the last one; null before the first.
  const TFtpXferEntry* Entry() const { return entry_; }
  uint8_t Command() const { return entry_ ? entry_->Code : 0; }
  bool Upload() const { return entry_ && entry_->Upload; }
  DWORD StartTick() const { return startTick_; }
  // The file as the client sees it ("" for a listing).
  const std::string& Shown() const { return shown_; }
  // The data connection has been asked for (a connect, a listener, or a connection taken).
  bool Linked() const { return linked_; }
  // The data connection is up (also while closing).
  bool Connected() const { return connected_; }
  bool Aborting() const { return aborting_; }
  // Why the transfer was given up ("Transfer Ok" while it was not).
  const std::string& Result() const { return result_; }
  bool EndOfData() const { return endOfData_; }
  // Why the active connect failed (0: it did not).
  WORD DataError() const { return dataError_; }
  int64_t ByteCount() const { return byteCount_; }

  // Idle -> Waiting, with Shown as the file the replies name. The stream and the write lock the
  // command set up stay; the rest starts afresh. REQUIRES: !Pending().
  void Begin(const TFtpXferEntry& Entry, const std::string& Shown, DWORD Now);
  void Link() { linked_ = true; }
  // The data connection came up (Waiting -> Moving) or went down without a transfer of data.
  void SetConnected(bool Up);
  void SetDataError(WORD Error) { dataError_ = Error; }
  // Gives the transfer up: Reason is what its closing reply says (a later reason replaces it).
  // Any state but Idle -> Closing; nothing when idle.
  void Fail(const std::string& Reason);
  // A download has handed over its last block: -> Closing.
  void DataEnded();
  void ResetByteCount() { byteCount_ = 0; }
  void CountBytes(int64_t Count) { byteCount_ += Count; }
  // Ends the transfer and returns, in Closing, its one closing reply: the stream is closed first
  // (a failure to close is the transfer's failure) and the write lock released; the state is
  // Idle. How says why: Closed gives the entry's Done, Aborted or Broken text (Error, or the
  // failed connect's error, for a broken connection; a download closed before its last block is
  // broken too), NeverCame "426 Connection closed; Timeout.". False, and nothing, when no transfer
  // is pending: it was answered already.
  bool Finish(TFtpXferEnd How, WORD Error, TFtpXferClosing& Closing);
  // Back to Idle without a closing reply: the command failed before its "150" went out, and its
  // own failure reply answers it. The stream is closed and the write lock released.
  void Withdraw();

  // ---- passive mode ----
  bool PassiveMode() const { return passive_; }
  // A connection to the passive listener has been taken (it may have come before the command).
  bool PassiveAccepted() const { return accepted_; }
  // A begun transfer waits on the passive listener.
  bool PassiveWaiting() const {
    return state_ == TFtpXferState::Waiting && linked_ && passive_ && !accepted_;
  }
  // The port of the server's passive range held (0: none).
  int PasvPort() const { return pasvPort_; }
  DWORD PasvStartTick() const { return pasvStartTick_; }
  void HoldPasvPort(int Port) { pasvPort_ = Port; }
  // The passive listener is up.
  void EnterPassive(DWORD Now);
  // Ends passive mode; returns the port of the range to hand back (0: none).
  int LeavePassive();
  void SetAccepted(bool Accepted) { accepted_ = Accepted; }

  // ---- the stream ----
  TFtpStream* Stream() const { return stream_.get(); }
  // The server opened the stream (else the application handed it over, or there is none).
  bool OwnsStream() const { return ownsStream_; }
  void SetStream(std::unique_ptr<TFtpStream> Stream, bool Owned);
  void DisownStream() { ownsStream_ = false; }
  // Forgets the stream unclosed (a listing or retrieve starting afresh).
  void DropStream();
  // Closes the stream and releases the write lock; a failure to close gives the transfer up with
  // its message, unless it was given up already.
  void CloseStream();

  // ---- the write lock ----
  // The local path this transfer holds open for writing ("": none).
  const std::string& WriteLock() const { return writeLock_; }
  // Enters Path in Locks, the server's set of paths open for writing, until CloseStream,
  // Finish or Withdraw. REQUIRES: Path is not in Locks; no lock held; Locks outlives the hold.
  void HoldWriteLock(std::set<std::string>& Locks, const std::string& Path);
  void ReleaseWriteLock();

  // The transfer buffer: kFtpTransferBufferSize bytes, made at the first use.
  char* Buffer();

 private:
  // Closing's texts, from the state at the end.
  std::string ClosingReply(WORD Error) const;
  // Back to Idle: the connection facts of the transfer cleared, the stream closed.
  void Reset();

  TAsyncSocket* data_;
  TFtpXferState state_ = TFtpXferState::Idle;
  const TFtpXferEntry* entry_ = nullptr;
  std::string shown_;
  DWORD startTick_ = 0;
  bool linked_ = false;
  bool connected_ = false;
  bool aborting_ = false;
  std::string result_;
  bool endOfData_ = false;
  WORD dataError_ = 0;
  int64_t byteCount_ = 0;
  bool passive_ = false;
  bool accepted_ = false;
  int pasvPort_ = 0;
  DWORD pasvStartTick_ = 0;
  std::unique_ptr<TFtpStream> stream_;
  bool ownsStream_ = false;
  std::set<std::string>* locks_ = nullptr;
  std::string writeLock_;
  std::unique_ptr<char[]> buffer_;
};
