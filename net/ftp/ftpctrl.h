// One FTP session: the accepted control connection, its command buffer and line splitting, the
// login state, the home folder and the current folder of its confined virtual tree, its data
// socket and its one transfer (net/ftp/ftptransfer.h), whose facts it also shows under the names
// they have always had here.
//
// Ownership and threads: the server creates one per accepted connection, owns it and frees it
// after its connection has closed; the session owns its DataSocket and its Transfer (which owns
// the DataStream). Everything runs on the thread that owns the server (the socket rules of
// net/socket/asyncsocket.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/ftp/ftplimits.h"
#include "net/ftp/ftpmd5.h"
#include "net/ftp/ftpstream.h"
#include "net/ftp/ftptransfer.h"
#include "net/socket/line.h"
#include "rtl/datetime.h"
#include "rtl/exception.h"
#include "rtl/set.h"

enum TFtpCtrlState {
  ftpcInvalid,
  ftpcWaitingUserCode,
  ftpcWaitingPassword,
  ftpcReady,
  ftpcWaitingAnswer,  // never entered
};

// Server options copied into each session as SessionOptions bits.
enum TFtpsOption { ftpsCwdCheck, ftpsCdupHome };
using TFtpsOptions = rtl::TSet<TFtpsOption>;
constexpr uint8_t kSessionOptionUnc = 1;  // never set: there are no network paths in the tree
constexpr uint8_t kSessionOptionCwdCheck = 2;
constexpr uint8_t kSessionOptionCdupHome = 4;

RTL_DECLARE_EXCEPTION(EFtpCtrlSocketException, rtl::Exception);

using TDisplayEvent = std::function<void(rtl::TObject* Sender, const std::string& Msg)>;
// One received command line without its line end: CmdLen bytes at CmdBuf, inside the session's
// command buffer (valid only during the call; a zero byte follows them).
using TCommandEvent = std::function<void(rtl::TObject* Sender, char* CmdBuf, int CmdLen)>;

// The session's own message: go on reading commands after a hold (posted to its hidden window).
constexpr UINT WM_FTP_RESUME_COMMANDS = WM_USER + 30;

class TFtpCtrlSocket : public TAsyncSocket {
 public:
  explicit TFtpCtrlSocket(rtl::TComponent* owner = nullptr);
  ~TFtpCtrlSocket() override;

  // ---- the command buffer ----
  const char* RcvBuf() const { return FRcvBuf.get(); }
  int RcvCnt() const { return FRcvCnt; }
  int RcvSize() const { return FRcvSize; }
  // Reallocates the buffer (none for 0; a negative size counts as 0; sizes from 1 to 7 are raised
  // to 8, room for the synthetic "OVER" line). Raises EFtpCtrlSocketException "Data in buffer,
  // can't change size" while bytes are held.
  void SetRcvSize(int value);

  // The socket of the session's data connections (owned; the server names it).
  TAsyncSocket* DataSocket() const { return FDataSocket; }
  // The session's transfer: its state, its stream, its passive mode (owned; driven by the server).
  TFtpTransfer& Transfer() { return *transfer_; }
  const TFtpTransfer& Transfer() const { return *transfer_; }

  // ---- session fields ----
  bool Busy = false;  // for the application; the server never touches it
  rtl::TDateTime SessionStarted = 0;
  rtl::TDateTime LastCommandTime = 0;
  int CommandCount = 0;  // lines received
  std::string Banner = "220-FTP Server ready";
  std::string UserName;
  std::string PassWord;
  bool CloseRequest = false;  // close once the send queue is empty
  // The local folder the session's tree hangs from; the application sets it in OnAuthenticate.
  std::string HomeDir = "/tmp/";
  TFtpCtrlState FtpState = ftpcInvalid;
  int UserData = 0;
  std::string PeerAddrCache;
  int ID = 0;
  TDisplayEvent OnDisplay;  // never fired by the server
  TCommandEvent OnCommand;
  bool BinaryMode = false;
  std::string DataAddr;
  std::string DataPort;
  // The file of the last transfer command: its name as the client gave it (slashes turned into
  // backslashes) and its local path. They stay after the transfer.
  std::string FileName;
  std::string FilePath;
  uint8_t CurrentCommand = 0;
  // The offset the next transfer starts at (REST, APPE); 0 again after every transfer.
  int64_t RestartPos = 0;
  std::string FromFileName;
  std::string ToFileName;
  uint8_t SessionOptions = 0;

  // ---- the transfer's facts (read from Transfer()) ----
  bool Aborting() const { return transfer_->Aborting(); }
  bool DataSessionActive() const { return transfer_->Connected(); }
  // The stream the transfer reads or writes; null when none.
  TFtpStream* DataStream() const { return transfer_->Stream(); }
  // Hands the application's own stream to the transfer (which owns it from now on): set in
  // OnBuildDirectory it is the listing sent, in OnValidateGet or OnRetrSessionConnected the data
  // a retrieve sends, in OnValidatePut or OnStorSessionConnected where an upload is written.
  void SetDataStream(std::unique_ptr<TFtpStream> Stream) {
    transfer_->SetStream(std::move(Stream), false);
  }
  bool OwnsStream() const { return transfer_->OwnsStream(); }
  const std::string& TransferResult() const { return transfer_->Result(); }
  bool EndOfData() const { return transfer_->EndOfData(); }
  int64_t ByteCount() const { return transfer_->ByteCount(); }
  bool PassiveMode() const { return transfer_->PassiveMode(); }
  bool PassiveWaiting() const { return transfer_->PassiveWaiting(); }
  bool PassiveAccepted() const { return transfer_->PassiveAccepted(); }

  // ---- kept by the server: time-outs and login throttling (GetTickCount values) ----
  DWORD LoginStartTick = 0;    // connected, or left ftpcReady
  DWORD LastActivityTick = 0;  // last command line
  DWORD DataProgressTick = 0;  // last progress of the data connection
  int LoginFailures = 0;
  bool AnswerDeferred = false;  // the running handler sends its reply later itself
  // Descriptors the session holds in the process's budget: kFtpDescriptorsPerSession once
  // admitted, 1 while it is only told "421".
  int Descriptors = 1;

  // ---- kept by the server: the transfer under way (read from Transfer()) ----
  // A transfer command was accepted (its "150" is out or about to go) and its closing reply has not
  // been sent yet. Exactly one closing reply ends it; until then no other transfer starts.
  bool XferPending() const { return transfer_->Pending(); }
  // The code of that command (CurrentCommand moves on with every later command, XferCommand not).
  uint8_t XferCommand() const { return transfer_->Command(); }
  DWORD XferStartTick() const { return transfer_->StartTick(); }      // when it was accepted
  DWORD PasvStartTick() const { return transfer_->PasvStartTick(); }  // the listener's opening
  // The port of the server's passive range this session holds (0: none).
  int PasvPort() const { return transfer_->PasvPort(); }
  // Why the active data connection could not be made (0: it was).
  WORD DataError() const { return transfer_->DataError(); }
  // FilePath as the client sees it (its virtual path), for replies.
  const std::string& FileShown() const { return transfer_->Shown(); }
  // The local path this session holds open for writing ("" when none): another session may read
  // that file meanwhile, but not write it.
  const std::string& WriteLock() const { return transfer_->WriteLock(); }
  // The transfer buffer: kFtpTransferBufferSize bytes, made at the first transfer.
  char* XferBuffer() { return transfer_->Buffer(); }
  // FromFileName as the client sees it.
  std::string FromFileShown;
  // An MD5 command computing its digest a part at a time, and its parameters.
  std::unique_ptr<TFileMd5> Md5Job;
  std::string Md5Params;

  // ---- folders ----
  // The current folder in the session's virtual tree: "/" at home, else "/name/.../" (always
  // ending in "/"); names as found on disk.
  const std::string& Directory() const { return FDirectory; }
  void SetDirectory(const std::string& value) { BuildDirectory(value); }
  // The real path of HomeDir fixed at login; empty before.
  const std::string& HomeRoot() const { return FHomeRoot; }
  // Fixes the tree at HomeDir: its real path must be a folder that can be listed. On success the
  // current folder is the root "/" and true is returned; else nothing changes and false.
  bool OpenHome();

  // ---- operations ----
  // Fires OnCommand when assigned.
  virtual void TriggerCommand(char* CmdBuf, int CmdLen);
  // Greets the peer: SessionStarted now, LastCommandTime 0, CommandCount 0, FtpState
  // ftpcWaitingUserCode, Banner + CR LF sent.
  virtual void StartConnection();
  // Changes the current folder (the only way it changes): Value is a folder path of the client,
  // absolute from the root or relative to the current folder, resolved by the path layer
  // (net/ftp/ftppath.h; ".." stops at the root). A name that exists must be a folder. Raises
  // EFtpPathError and leaves Directory unchanged on failure. Once the home is open, names are
  // matched on disk; before, the path is only combined.
  virtual void BuildDirectory(const std::string& Value);
  // Queues Answer + CR LF; false (nothing sent) when the connection is gone or the send failed.
  bool SendAnswer(const std::string& Answer);

  // The peer address cached when the handle was adopted; readable after the peer has gone.
  std::string GetPeerAddr() override;
  // Adopts an accepted handle, caches the peer address and keeps urgent data in line
  // (SO_OOBINLINE), so that a Telnet "synch" before ABOR reads as ordinary bytes.
  void SetHSocket(SOCKET value) override;

  // ---- reading commands ----
  // A suspension holds received lines unread (and stops reading) until the matching resume;
  // suspensions nest. StopCommands holds them for good (the session is closing). While more than
  // kFtpMaxUnsentReplyBytes of replies wait to be sent, reading is held too and goes on by itself
  // once they have gone.
  void SuspendCommands() { ++FSuspendCount; }
  void ResumeCommands();
  void StopCommands() { FStopped = true; }
  bool CommandsStopped() const { return FStopped; }
  bool CommandsHeld() const;

  // From now on received bytes are read and dropped instead of parsed, at most budget bytes; the
  // connection is closed once more arrive. Used after "500 Command too long".
  void StartDrain(int budget);
  bool Draining() const { return FDraining; }
  // Reads and drops input already received, at most limit bytes; returns the count dropped.
  int DrainInput(int limit);

 protected:
  bool TriggerDataAvailable(WORD Error) override;
  void TriggerEvent(WORD Error) override;
  void TriggerDataSent(WORD Error) override;
  void WndProc(TMessage& Msg) override;

 private:
  // Hands every complete line held in the buffer to TriggerCommand, one after the other, until
  // reading is held or the connection is gone. A full buffer without a line feed becomes "OVER".
  void ProcessHeldLines();
  void PostResume();

  friend class TFtpServer;  // restores Directory after a refused change

  TAsyncSocket* FDataSocket = nullptr;
  std::unique_ptr<TFtpTransfer> transfer_;
  std::unique_ptr<char[]> FRcvBuf;
  int FRcvCnt = 0;
  int FRcvSize = 0;
  std::string FDirectory = "/";
  std::string FHomeRoot;
  int FSuspendCount = 0;
  bool FStopped = false;
  bool FBackpressure = false;  // reading held for unsent replies
  bool FResumePosted = false;
  bool FDraining = false;
  int FDrainBudget = 0;
};
