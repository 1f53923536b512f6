// The FTP server component: it listens, accepts each control connection as a TFtpCtrlSocket,
// splits every command line into keyword and parameters, runs the handler its command table names
// and sends the handler's reply. Everything a handler decides can be vetoed or replaced by the
// application through the published events; without a handler the default is to allow.
//
// Ownership and threads: the server owns its listening socket, its sessions (freed after their
// connections close, through messages posted to the server's own hidden window) and its window.
// Every call, event and handler runs on the thread that created the server, which must handle
// its messages (GetMessage/DispatchMessage or ProcessMessages): time-outs, the login delay,
// closes and frees are messages and timers of that thread. No locks.
#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "net/ftp/ftpcmdtable.h"
#include "net/ftp/ftpctrl.h"
#include "net/ftp/ftplimits.h"
#include "net/ftp/ftplisting.h"
#include "net/ftp/ftppath.h"
#include "net/socket/acceptgate.h"
#include "net/socket/line.h"
#include "rtl/exception.h"

RTL_DECLARE_EXCEPTION(FtpServerException, rtl::Exception);
// A property set outside its range.
RTL_DECLARE_EXCEPTION(ERangeError, rtl::Exception);

using TFtpString = std::string;

// Events; Sender is the server. Parameters passed by reference may be changed by the handler.
using TFtpSrvAuthenticateEvent =
    std::function<void(rtl::TObject* Sender, TFtpCtrlSocket* Client, const TFtpString& UserName,
                       const TFtpString& Password, bool& Authenticated)>;
using TFtpSrvClientConnectEvent =
    std::function<void(rtl::TObject* Sender, TFtpCtrlSocket* Client, WORD AError)>;
using TFtpSrvClientCommandEvent =
    std::function<void(rtl::TObject* Sender, TFtpCtrlSocket* Client, TFtpString& Keyword,
                       TFtpString& Params, TFtpString& Answer)>;
using TFtpSrvAnswerToClientEvent =
    std::function<void(rtl::TObject* Sender, TFtpCtrlSocket* Client, TFtpString& Answer)>;
using TFtpSrvChangeDirectoryEvent = std::function<void(rtl::TObject* Sender, TFtpCtrlSocket* Client,
                                                       const TFtpString& Directory, bool& Allowed)>;
using TFtpSrvBuildDirectoryEvent = std::function<void(rtl::TObject* Sender, TFtpCtrlSocket* Client,
                                                      TFtpString& Directory, bool Detailed)>;
using TFtpSrvValidateXferEvent = std::function<void(rtl::TObject* Sender, TFtpCtrlSocket* Client,
                                                    TFtpString& FilePath, bool& Allowed)>;
using TFtpSrvDataSessionConnectedEvent = std::function<void(
    rtl::TObject* Sender, TFtpCtrlSocket* Client, TAsyncSocket* Data, WORD AError)>;
using TFtpSrvDataAvailableEvent =
    std::function<void(rtl::TObject* Sender, TFtpCtrlSocket* Client, TAsyncSocket* Data, char* Buf,
                       int Len, WORD AError)>;
using TFtpSrvRetrDataSentEvent = TFtpSrvDataSessionConnectedEvent;
using TFtpSrvGetUniqueFileNameEvent =
    std::function<void(rtl::TObject* Sender, TFtpCtrlSocket* Client, TFtpString& FileName)>;
using TFtpSrvGetProcessingEvent =
    std::function<void(rtl::TObject* Sender, TFtpCtrlSocket* Client, bool& DelayedSend)>;
using TFtpSrvBuildFilePathEvent =
    std::function<void(rtl::TObject* Sender, TFtpCtrlSocket* Client, const std::string& Directory,
                       const std::string& FileName, std::string& NewFileName)>;
using TFtpSrvCalculateMd5Event =
    std::function<void(rtl::TObject* Sender, TFtpCtrlSocket* Client, TFtpString& FilePath,
                       TFtpString& Md5Sum, bool& Allowed)>;
// Accepting paused for want of descriptors; Error is the accept's error code (WSAEMFILE,
// WSAENOBUFS). Fired once per pause.
using TFtpSrvAcceptPausedEvent = std::function<void(rtl::TObject* Sender, WORD Error)>;

// Makes a session owned by owner (the server's ClientClass).
using TFtpCtrlSocketClass = std::function<TFtpCtrlSocket*(rtl::TComponent* owner)>;

// Deferred calls posted to the server's window: wParam is the session's ID, lParam the session.
// Each is dropped unless that session is still in ClientList with that ID.
constexpr UINT MsgCloseRequest = WM_USER + 1;   // close once everything has been sent
constexpr UINT MsgClientClosed = WM_USER + 2;   // remove and free the session
constexpr UINT MsgAbortTransfer = WM_USER + 3;  // shut down and close the data connection
constexpr UINT MsgCloseData = WM_USER + 4;      // shut down the data connection's sending side
constexpr UINT MsgStartSend = WM_USER + 5;      // start sending a retrieved file
constexpr UINT MsgMd5Step = WM_USER + 6;        // the next part of an MD5 command's digest

// A file named in a command: its local path, the path the client sees (for replies) and what it
// is on disk now.
struct TFtpTarget {
  std::string Local;
  std::string Shown;
  rtl::fs::TFileKind Kind = rtl::fs::TFileKind::Missing;
};

// What a listing command sends: LIST's Unix-style lines, NLST's names, MLSD's facts lines.
enum class TFtpListKind { Unix, Names, Facts };

class TFtpServer : public rtl::TComponent {
 public:
  explicit TFtpServer(rtl::TComponent* owner = nullptr);
  ~TFtpServer() override;

  // ---- published properties ----
  std::string Addr = "0.0.0.0";
  std::string Port = "ftp";  // a number or a service name; "0" lets the system choose
  int ListenBackLog = 5;
  std::string Banner = "220 FTP Server ready.";
  TFtpCtrlSocketClass ClientClass;  // makes TFtpCtrlSocket objects by default
  int MaxClients = 0;               // 0: no limit of its own (the descriptor ceiling holds)
  int UserData = 0;
  // The passive port range: PASV listens on the first free port from PasvPortRangeStart on, of
  // PasvPortRangeSize ports; with either 0 the system chooses the port. The setters raise
  // ERangeError for a value outside 0..65535 and FtpServerException when a port that the change
  // would move or drop is in use.
  int PasvPortRangeStart() const { return FPasvPortRangeStart; }
  int PasvPortRangeSize() const { return FPasvPortRangeSize; }
  void SetPasvPortRangeStart(int value);
  void SetPasvPortRangeSize(int value);
  // The address PASV replies announce; empty: the control connection's own local address.
  std::string PasvIpAddr;
  TFtpsOptions Options;
  TNetLogger* NetLogger() const;
  void SetNetLogger(TNetLogger* value);

  // Time-outs and the login delay, in milliseconds (defaults from ftplimits.h).
  DWORD LoginTimeout = kFtpLoginTimeoutMs;
  DWORD IdleTimeout = kFtpIdleTimeoutMs;
  DWORD DataTimeout = kFtpDataTimeoutMs;
  DWORD DataConnectTimeout = kFtpDataConnectTimeoutMs;
  DWORD LoginFailDelay = kFtpLoginFailDelayMs;

  // ---- events ----
  TNotifyEvent OnStart;
  TNotifyEvent OnStop;
  TFtpSrvAuthenticateEvent OnAuthenticate;
  TFtpSrvClientConnectEvent OnClientConnect;
  TFtpSrvClientConnectEvent OnClientDisconnect;
  TFtpSrvClientCommandEvent OnClientCommand;
  TFtpSrvAnswerToClientEvent OnAnswerToClient;
  TFtpSrvChangeDirectoryEvent OnChangeDirectory;
  TFtpSrvChangeDirectoryEvent OnMakeDirectory;
  TFtpSrvBuildDirectoryEvent OnBuildDirectory;
  TFtpSrvBuildDirectoryEvent OnAlterDirectory;
  TFtpSrvValidateXferEvent OnValidatePut;
  TFtpSrvValidateXferEvent OnValidateSize;
  TFtpSrvValidateXferEvent OnValidateDele;
  TFtpSrvValidateXferEvent OnValidateRmd;
  TFtpSrvValidateXferEvent OnValidateRnFr;
  TFtpSrvValidateXferEvent OnValidateRnTo;
  TFtpSrvDataSessionConnectedEvent OnStorSessionConnected;
  TFtpSrvDataSessionConnectedEvent OnStorSessionClosed;
  TFtpSrvDataAvailableEvent OnStorDataAvailable;
  TFtpSrvValidateXferEvent OnValidateGet;
  TFtpSrvDataSessionConnectedEvent OnRetrSessionConnected;
  TFtpSrvDataSessionConnectedEvent OnRetrSessionClosed;
  TFtpSrvRetrDataSentEvent OnRetrDataSent;
  TFtpSrvGetUniqueFileNameEvent OnGetUniqueFileName;
  TFtpSrvGetProcessingEvent OnGetProcessing;
  TFtpSrvBuildFilePathEvent OnBuildFilePath;
  TFtpSrvValidateXferEvent OnValidateMfmt;
  TFtpSrvCalculateMd5Event OnCalculateMd5;
  TFtpSrvAcceptPausedEvent OnAcceptPaused;

  // ---- operations ----
  // Listens on Addr:Port unless already listening (OnStart fires when it is). Errors of the
  // socket layer propagate (ESocketException).
  void Start();
  // Stops listening (OnStop fires); sessions stay open.
  void Stop();
  // Removes and frees every session at once, each as if its connection had closed (a transfer in
  // progress is answered first).
  void DisconnectAll();

  // The port the listener is bound to (the real one when Port is "0"); empty while not listening.
  std::string BoundPort() const;
  HWND WindowHandle() const { return FWindowHandle; }
  TAsyncSocket* ServerSocket() const { return FServerSocket; }

  int ClientCount() const { return GetClientCount(); }
  TFtpCtrlSocket* Client(int Index) const { return GetClient(Index); }
  virtual int GetClientCount() const;
  // The session at Index, or null outside the list.
  virtual TFtpCtrlSocket* GetClient(int Index) const;

  // The most sessions at once that the process's descriptor budget leaves room for, less the one
  // descriptor kept for refusing the next (fixed at Start). Sessions of other listeners of the
  // process may leave room for fewer.
  int SessionCeiling() const { return FSessionCeiling; }
  TAcceptGate* AcceptGate() const { return FAcceptGate; }

  // Appends one entry to the command table; raises FtpServerException "Too many command" when it
  // is full.
  void AddCommand(const TFtpString& Keyword, TFtpSrvCommandProc Proc, bool NeedsLogin = true,
                  int Code = kFtpNoCommandCode);
  int CommandCount() const { return static_cast<int>(FCommandTable.size()); }
  const TFtpSrvCommandTableItem& CommandTable(int Index) const { return FCommandTable.at(Index); }

  // Sends one reply: OnAnswerToClient sees (and may change) it first; an exception there sends
  // the reply as it was. Never raises.
  virtual void SendAnswer(TFtpCtrlSocket* Client, const TFtpString& Answer);

  // The local path of a file named in a command, seen from the virtual folder Directory of
  // Client: OnBuildFilePath may supply it (used as given); else the path layer resolves it inside
  // the session's tree (".." above the root refused). Raises EFtpPathError.
  virtual std::string ResolveFilePath(TFtpCtrlSocket* Client, const std::string& Directory,
                                      const std::string& FileName);
  // The same for the path layer's full answer (local path, virtual path, kind).
  TFtpLocation LocateFile(TFtpCtrlSocket* Client, const std::string& FileName);
  // A file named in a command of Client: the local path as ResolveFilePath gives it, the path the
  // client sees, and its kind (read without following a link). Raises EFtpPathError.
  TFtpTarget ResolveTarget(TFtpCtrlSocket* Client, const std::string& FileName);

  // Posts MsgStartSend for the session (the retrieve starts after the queued reply).
  virtual void StartSendLater(TFtpCtrlSocket* Client);
  // The data connection moved: its no-progress time-out starts again.
  void NoteDataProgress(TFtpCtrlSocket* Client);

  // ---- command handlers (the table's entries) ----
  virtual void CommandUSER(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  virtual void CommandPASS(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  virtual void CommandQUIT(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  virtual void CommandNOOP(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  virtual void CommandLIST(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  virtual void CommandNLST(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  virtual void CommandDELE(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  virtual void CommandSIZE(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  virtual void CommandREST(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  virtual void CommandRNFR(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  virtual void CommandRNTO(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  virtual void CommandPORT(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  virtual void CommandSTOR(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  virtual void CommandRETR(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  virtual void CommandTYPE(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  virtual void CommandCWD(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                          TFtpString& Answer);
  // The body shared by CWD and CDUP.
  virtual void ChangeDirectory(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                               TFtpString& Answer);
  virtual void CommandMKD(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                          TFtpString& Answer);
  virtual void CommandRMD(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                          TFtpString& Answer);
  virtual void CommandCDUP(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  virtual void CommandXPWD(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  virtual void CommandPWD(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                          TFtpString& Answer);
  virtual void CommandSYST(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  virtual void CommandABOR(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  virtual void CommandPASV(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  virtual void CommandAPPE(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  virtual void CommandSTRU(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  // MDTM and MFMT (told apart by Keyword).
  virtual void CommandMDTM(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  virtual void CommandMODE(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  // The line that overflowed the command buffer.
  virtual void CommandOVER(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  virtual void CommandSTOU(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  virtual void CommandFEAT(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  virtual void CommandMLST(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  virtual void CommandMLSD(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                           TFtpString& Answer);
  virtual void CommandMD5(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                          TFtpString& Answer);

 protected:
  virtual void DebugLog(TLogOption LogOption, const std::string& Msg);
  // True when a logger is set and its options hold LogOption (options above 15 never).
  virtual bool CheckLogOptions(TLogOption LogOption);

  // Socket notifications.
  virtual void AcceptClient(rtl::TObject* Sender, WORD Error);
  virtual void ListenerStateChanged(rtl::TObject* Sender, TSocketState OldState,
                                    TSocketState NewState);
  // One received command line of a session (its OnCommand).
  virtual void ProcessCommandLine(rtl::TObject* Sender, char* CmdBuf, int CmdLen);
  virtual void ClientClosed(rtl::TObject* Sender, WORD Error);
  // A session's send queue became empty.
  virtual void ControlDataSent(rtl::TObject* Sender, WORD Error);

  // The deferred calls (run from the server's window, the session checked first).
  virtual void CloseRequestNow(TFtpCtrlSocket* Client);
  // Removal: a transfer in progress is finished through the data socket's close handler (error
  // 10057), the passive port released, the session taken out of ClientList, OnClientDisconnect
  // fired and the session freed.
  virtual void RemoveClient(TFtpCtrlSocket* Client);

  // ---- the data connection road ----
  // A transfer runs from its command's "150" to exactly one closing reply ("226", "250", "426" or
  // "501"), which the session's TFtpTransfer hands out once (net/ftp/ftptransfer.h) and the close
  // handler of its side (ClientStorSessionClosed or ClientRetrSessionClosed) sends once the data
  // connection has closed or the transfer was given up. Every failure on the way is kept in the
  // transfer as its reason, and the closing reply reports it. The data socket's handlers find
  // their session as the socket's owner.

  // The one start of every transfer command (STOR, APPE, STOU, RETR, LIST, NLST, MLSD), driven by
  // its entry of the transfer table: refused while another transfer is pending; the file named
  // (or made, or the listing built) and the application asked (OnValidatePut for an upload,
  // OnValidateGet for RETR); the data channel checked; the transfer begun and its "150" set as
  // Answer. An upload asks for its data connection at once, a download once its "150" is on its
  // way (RETR lets OnGetProcessing put that off). A failure before the "150" is the command's own
  // reply (the entry's Refused or Failed), and a refused command ends passive mode.
  virtual void StartTransfer(TFtpCtrlSocket* Client, const TFtpString& Params, TFtpString& Answer,
                             const TFtpXferEntry& Entry);

  // Deferred steps: shut down and close the data connection (the close handler answers); shut
  // down its sending side after the last block; start a retrieve or listing after its "150".
  virtual void AbortTransfer(TFtpCtrlSocket* Client);
  virtual void CloseData(TFtpCtrlSocket* Client);
  virtual void OpenRetrConnection(TFtpCtrlSocket* Client);
  // Hands the session's passive port back to the range and ends passive mode.
  virtual void ReleasePasvPort(TFtpCtrlSocket* Client);
  // The next free port of the range as text: "0" without a range, "" when every port is in use.
  virtual std::string AllocatePasvPort();
  // A transfer that made no progress for DataTimeout.
  virtual void DataTimedOut(TFtpCtrlSocket* Client);

  // Asks for the pending transfer's data connection: the passive one (taken at once when it is
  // there already, else awaited) or a connect to the address of the last PORT.
  virtual void OpenDataConnection(TFtpCtrlSocket* Client);
  // The data socket's handlers; Sender is the data socket.
  virtual void PasvSessionAvailable(rtl::TObject* Sender, WORD Error);
  virtual void ClientStorSessionConnected(rtl::TObject* Sender, WORD Error);
  virtual void ClientStorDataAvailable(rtl::TObject* Sender, WORD Error);
  virtual void ClientStorSessionClosed(rtl::TObject* Sender, WORD Error);
  virtual void ClientRetrSessionConnected(rtl::TObject* Sender, WORD Error);
  virtual void ClientRetrDataSent(rtl::TObject* Sender, WORD Error);
  virtual void ClientRetrSessionClosed(rtl::TObject* Sender, WORD Error);
  // Reads the next block of DataStream and sends it; at the end asks for the close.
  virtual void SendNextBlock(TFtpCtrlSocket* Client, TAsyncSocket* Data);

  // The listing commands' common body (LIST and NLST; MLSD with the facts kind).
  virtual void CommandDirectory(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                                TFtpString& Answer, TFtpListKind Kind);
  // The stream the listing command of Code (LIST, NLST or MLSD) sends: the application's
  // (OnBuildDirectory), else the listing built in memory (BuildListing, then OnAlterDirectory),
  // at its start.
  virtual void PrepareListing(TFtpCtrlSocket* Client, const TFtpString& Params, uint8_t Code);
  // Writes the listing Params asks for into the session's DataStream.
  virtual void BuildListing(TFtpCtrlSocket* Client, const TFtpString& Params, TFtpListKind Kind);
  // The next part of a running MD5 command; its reply once the digest is ready.
  virtual void Md5Step(TFtpCtrlSocket* Client);

  // Fire the events of the same name.
  virtual void TriggerServerStart();
  virtual void TriggerServerStop();
  virtual void TriggerAuthenticate(TFtpCtrlSocket* Client, const TFtpString& UserName,
                                   const TFtpString& PassWord, bool& Authenticated);
  virtual void TriggerChangeDirectory(TFtpCtrlSocket* Client, const TFtpString& Directory,
                                      bool& Allowed);
  virtual void TriggerMakeDirectory(TFtpCtrlSocket* Client, const TFtpString& Directory,
                                    bool& Allowed);
  virtual void TriggerBuildDirectory(TFtpCtrlSocket* Client, TFtpString& Params, bool Detailed);
  virtual void TriggerAlterDirectory(TFtpCtrlSocket* Client, TFtpString& Params, bool Detailed);
  virtual void TriggerAnswerToClient(TFtpCtrlSocket* Client, TFtpString& Answer);
  virtual void TriggerClientConnect(TFtpCtrlSocket* Client, WORD Error);
  virtual void TriggerClientDisconnect(TFtpCtrlSocket* Client, WORD Error);
  virtual void TriggerClientCommand(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                                    TFtpString& Answer);
  virtual void TriggerStorSessionConnected(TFtpCtrlSocket* Client, TAsyncSocket* Data, WORD Error);
  virtual void TriggerStorSessionClosed(TFtpCtrlSocket* Client, TAsyncSocket* Data, WORD Error);
  virtual void TriggerValidatePut(TFtpCtrlSocket* Client, TFtpString& FilePath, bool& Allowed);
  virtual void TriggerValidateSize(TFtpCtrlSocket* Client, TFtpString& FilePath, bool& Allowed);
  virtual void TriggerValidateDele(TFtpCtrlSocket* Client, TFtpString& FilePath, bool& Allowed);
  virtual void TriggerValidateRmd(TFtpCtrlSocket* Client, TFtpString& FilePath, bool& Allowed);
  virtual void TriggerValidateRnFr(TFtpCtrlSocket* Client, TFtpString& FilePath, bool& Allowed);
  virtual void TriggerValidateRnTo(TFtpCtrlSocket* Client, TFtpString& FilePath, bool& Allowed);
  virtual void TriggerRetrSessionConnected(TFtpCtrlSocket* Client, TAsyncSocket* Data, WORD Error);
  virtual void TriggerRetrSessionClosed(TFtpCtrlSocket* Client, TAsyncSocket* Data, WORD Error);
  virtual void TriggerValidateGet(TFtpCtrlSocket* Client, TFtpString& FilePath, bool& Allowed);
  virtual void TriggerStorDataAvailable(TFtpCtrlSocket* Client, TAsyncSocket* Data, char* Buf,
                                        int Len, WORD Error);
  virtual void TriggerRetrDataSent(TFtpCtrlSocket* Client, TAsyncSocket* Data, WORD Error);
  virtual void TriggerGetUniqueFileName(TFtpCtrlSocket* Client, TFtpString& FileName);
  virtual void TriggerBuildFilePath(TFtpCtrlSocket* Client, const std::string& Directory,
                                    const std::string& FileName, std::string& NewFileName);
  virtual void TriggerValidateMfmt(TFtpCtrlSocket* Client, TFtpString& FilePath, bool& Allowed);
  virtual void TriggerCalculateMd5(TFtpCtrlSocket* Client, TFtpString& FilePath, TFtpString& Md5Sum,
                                   bool& Allowed);
  virtual void TriggerAcceptPaused(WORD Error);

  void Notification(rtl::TComponent* component, rtl::TOperation operation) override;

  // Ends a session from the server's side: Answer is sent (when not empty), reading stops and the
  // session closes once the reply has gone out.
  void EndSession(TFtpCtrlSocket* Client, const TFtpString& Answer);
  // Stops reading the session's commands and asks for its close; the close waits for the replies
  // already queued, at most GraceMs.
  void RequestClose(TFtpCtrlSocket* Client, DWORD GraceMs);
  // Posts a deferred call for the session; false when the window is gone.
  bool PostToClient(UINT Msg, TFtpCtrlSocket* Client);
  // The live session with that ID and object, or null.
  TFtpCtrlSocket* FindClient(WPARAM Id, LPARAM Object) const;

  std::vector<TFtpCtrlSocket*> ClientList;
  int ClientNum = 0;

 private:
  // Per-session timers on the server's window; their ids carry the session's ID.
  enum TimerKind : UINT_PTR { kWatchTimer = 1, kLoginDelayTimer = 2, kCloseTimer = 3 };
  static UINT_PTR TimerId(const TFtpCtrlSocket* Client, TimerKind Kind);
  void WndProc(TMessage& Msg);
  void HandleTimer(UINT_PTR Id);
  // Sets the watch timer to the session's nearest deadline (login, idle or data), or acts on a
  // deadline that has passed.
  void ArmWatch(TFtpCtrlSocket* Client);
  void KillClientTimers(TFtpCtrlSocket* Client);
  void LoginRefused(TFtpCtrlSocket* Client, TFtpString& Answer);
  void AnswerRefusedLogin(TFtpCtrlSocket* Client);
  void RegisterCommands();

  // The transfer road's own steps.
  TFtpCtrlSocket* SessionOfData(rtl::TObject* Sender) const;
  void HookDataHandlers(TFtpCtrlSocket* Client);
  void ClearDataHandlers(TAsyncSocket* Data);
  void ConnectActive(TFtpCtrlSocket* Client);
  // The connection of the pending transfer is up: its side's connected handler runs.
  void DataConnectedNow(TFtpCtrlSocket* Client);
  std::string DataChannelMissing(TFtpCtrlSocket* Client) const;
  TFtpTarget UniqueTarget(TFtpCtrlSocket* Client);
  void DropPassive(TFtpCtrlSocket* Client);
  void PassiveCleanup(TFtpCtrlSocket* Client, const TFtpString& Answer);
  void FailTransfer(TFtpCtrlSocket* Client, const std::string& Why);
  void PostAbort(TFtpCtrlSocket* Client, const std::string& Why);
  void FinishTransfer(TFtpCtrlSocket* Client, WORD Error);
  // The end of every transfer: the transfer's one closing reply sent, the events of its side fired
  // (NeverCame: none), and what the session keeps for one transfer (passive port, RestartPos,
  // DataPort) made ready for the next. Nothing when no transfer is pending.
  void EndTransfer(TFtpCtrlSocket* Client, TFtpXferEnd How, WORD Error);
  void CancelPendingTransfer(TFtpCtrlSocket* Client);
  void OpenStorStream(TFtpCtrlSocket* Client);
  void KickRead(TAsyncSocket* Data);

  TAsyncSocket* FServerSocket = nullptr;
  TAcceptGate* FAcceptGate = nullptr;  // owned; the listener's accepts
  HWND FWindowHandle = 0;
  int FPasvPortRangeStart = 0;
  int FPasvPortRangeSize = 0;
  std::vector<uint8_t> FPasvPortTable;  // one byte per port of the range: 1 in use
  std::set<std::string> FWriteLocks;    // local paths open for writing by some session
  std::vector<TFtpSrvCommandTableItem> FCommandTable;
  int FSessionCeiling = 0;
};
