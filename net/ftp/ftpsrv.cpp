// The server: listener, sessions, the deferred calls on its own window, time-outs, and the
// dispatch of command lines through the command table.
#include "net/ftp/ftpsrv.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string Hex8(const void* p) {
  char buf[17];
  std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)));
  return buf;
}

}  // namespace

// ---- construction ----

TFtpServer::TFtpServer(rtl::TComponent* owner) : rtl::TComponent(owner) {
  FWindowHandle = SocketMakeObjectInstance([this](TMessage& m) { WndProc(m); });
  FServerSocket = new TAsyncSocket(this);
  FServerSocket->Name = "TFtpServer_SrvSocket" + std::to_string(SocketInstanceCount());
  FAcceptGate = new TAcceptGate(this, FServerSocket);
  ClientClass = [](rtl::TComponent* o) { return new TFtpCtrlSocket(o); };
  RegisterCommands();
}

TFtpServer::~TFtpServer() {
  // Sessions and the listener call back into the server: they are cut off and freed while the
  // server is still whole.
  for (TFtpCtrlSocket* c : ClientList) {
    c->OnCommand = nullptr;
    c->OnSessionClosed = nullptr;
    c->OnDataSent = nullptr;
    if (FAcceptGate) FAcceptGate->Budget().Give(c->Descriptors);
  }
  ClientList.clear();
  if (FServerSocket) {
    FServerSocket->OnSessionAvailable = nullptr;
    FServerSocket->OnChangeState = nullptr;
    FServerSocket->OnBgException = nullptr;
  }
  DestroyComponents();
  FServerSocket = nullptr;
  if (FWindowHandle) SocketFreeObjectInstance(FWindowHandle);
  FWindowHandle = 0;
}

void TFtpServer::RegisterCommands() {
  int count = 0;
  const TFtpCommandSpec* specs = FtpCommandSpecs(count);
  for (int i = 0; i < count; ++i)
    AddCommand(specs[i].KeyWord, specs[i].Proc, specs[i].NeedsLogin, specs[i].Code);
}

void TFtpServer::AddCommand(const TFtpString& Keyword, TFtpSrvCommandProc Proc, bool NeedsLogin,
                            int Code) {
  if (static_cast<int>(FCommandTable.size()) >= kFtpMaxCommands)
    throw FtpServerException("Too many command");
  FCommandTable.push_back({Keyword, Proc, NeedsLogin, Code});
}

TNetLogger* TFtpServer::NetLogger() const {
  return FServerSocket ? FServerSocket->NetLogger() : nullptr;
}

void TFtpServer::SetNetLogger(TNetLogger* value) {
  if (FServerSocket) FServerSocket->SetNetLogger(value);
}

void TFtpServer::DebugLog(TLogOption LogOption, const std::string& Msg) {
  if (TNetLogger* l = NetLogger()) l->DoDebugLog(this, LogOption, Msg);
}

bool TFtpServer::CheckLogOptions(TLogOption LogOption) {
  TNetLogger* l = NetLogger();
  return l && static_cast<int>(LogOption) <= 15 && l->LogOptions().Contains(LogOption);
}

void TFtpServer::Notification(rtl::TComponent* component, rtl::TOperation operation) {
  rtl::TComponent::Notification(component, operation);
  if (operation != rtl::TOperation::opRemove) return;
  // Only the pointer is compared: the object is already being torn down.
  if (component == FServerSocket) FServerSocket = nullptr;
  if (component == FAcceptGate) FAcceptGate = nullptr;
  ClientList.erase(std::remove_if(ClientList.begin(), ClientList.end(),
                                  [component](TFtpCtrlSocket* c) {
                                    return static_cast<rtl::TComponent*>(c) == component;
                                  }),
                   ClientList.end());
}

// ---- sessions ----

int TFtpServer::GetClientCount() const {
  return static_cast<int>(ClientList.size());
}

TFtpCtrlSocket* TFtpServer::GetClient(int Index) const {
  if (Index < 0 || Index >= GetClientCount()) return nullptr;
  return ClientList[static_cast<size_t>(Index)];
}

TFtpCtrlSocket* TFtpServer::FindClient(WPARAM Id, LPARAM Object) const {
  for (TFtpCtrlSocket* c : ClientList)
    if (static_cast<WPARAM>(c->ID) == Id && reinterpret_cast<LPARAM>(c) == Object) return c;
  return nullptr;
}

bool TFtpServer::PostToClient(UINT Msg, TFtpCtrlSocket* Client) {
  return FWindowHandle && PostMessage(FWindowHandle, Msg, static_cast<WPARAM>(Client->ID),
                                      reinterpret_cast<LPARAM>(Client));
}

// ---- listening ----

void TFtpServer::Start() {
  if (!FServerSocket) throw FtpServerException("No listening socket");
  if (FServerSocket->State() == wsListening) return;
  FServerSocket->SetPort(Port);
  FServerSocket->SetProto("tcp");
  FServerSocket->SetAddr(Addr);
  FServerSocket->ListenBacklog = ListenBackLog;
  FServerSocket->OnSessionAvailable = [this](rtl::TObject* s, WORD e) { AcceptClient(s, e); };
  FServerSocket->OnChangeState = [this](rtl::TObject* s, TSocketState o, TSocketState n) {
    ListenerStateChanged(s, o, n);
  };
  // A failure while accepting one connection must not close the listener for everyone.
  FServerSocket->OnBgException = [](rtl::TObject*, const rtl::Exception&, bool& CanClose) {
    CanClose = false;
  };
  FServerSocket->ComponentOptions = {wsoNoReceiveLoop};
  const int64_t budget = FAcceptGate ? FAcceptGate->Budget().Total() : 1;
  FSessionCeiling =
      static_cast<int>(std::clamp<int64_t>((budget - 1) / kFtpDescriptorsPerSession, 1, INT32_MAX));
  if (FAcceptGate) FAcceptGate->Reset();
  FServerSocket->Listen();
  if (CheckLogOptions(loProtSpecInfo)) DebugLog(loProtSpecInfo, Name + " started");
}

void TFtpServer::Stop() {
  if (!FServerSocket) return;
  if (FAcceptGate) FAcceptGate->Reset();
  FServerSocket->Close();
  if (CheckLogOptions(loProtSpecInfo)) DebugLog(loProtSpecInfo, Name + " stopped");
}

std::string TFtpServer::BoundPort() const {
  if (!FServerSocket || FServerSocket->State() != wsListening) return std::string();
  return FServerSocket->GetSockPort();
}

void TFtpServer::ListenerStateChanged(rtl::TObject*, TSocketState, TSocketState NewState) {
  if (Destroying()) return;
  if (NewState == wsListening)
    TriggerServerStart();
  else if (NewState == wsClosed)
    TriggerServerStop();
}

void TFtpServer::AcceptClient(rtl::TObject*, WORD Error) {
  if (Error != 0)
    throw FtpServerException("Session Available Error - " + WinsockErrorWithCode(Error));
  if (!FServerSocket || !FAcceptGate) return;
  // A refused accept is an ordinary outcome here: the peer gave up, or the process has no
  // descriptors to spare, which pauses accepting and is told to the application once.
  int acceptError = 0;
  const SOCKET handle = FAcceptGate->Accept(acceptError);
  if (handle == INVALID_SOCKET) {
    if (acceptError != 0 && FAcceptGate->Paused()) TriggerAcceptPaused(acceptError);
    return;
  }

  ++ClientNum;
  TFtpCtrlSocket* Client = ClientClass ? ClientClass(this) : new TFtpCtrlSocket(this);
  ClientList.push_back(Client);
  const std::string num = std::to_string(ClientNum);
  Client->Name = Name + "_ClientSocket" + num;
  Client->DataSocket()->Name = Name + "_DataSocket" + num;
  Client->ID = ClientNum;
  Client->Banner = Banner;
  try {
    Client->SetHSocket(handle);
  } catch (const rtl::Exception&) {
    ClientList.erase(std::remove(ClientList.begin(), ClientList.end(), Client), ClientList.end());
    delete Client;
    FAcceptGate->SessionEnded(1);
    return;
  }
  Client->OnCommand = [this](rtl::TObject* s, char* b, int n) { ProcessCommandLine(s, b, n); };
  Client->OnSessionClosed = [this](rtl::TObject* s, WORD e) { ClientClosed(s, e); };
  Client->OnDataSent = [this](rtl::TObject* s, WORD e) { ControlDataSent(s, e); };
  Client->SetNetLogger(NetLogger());
  Client->DataSocket()->SetNetLogger(NetLogger());
  Client->SessionOptions = 0;
  if (Options.Contains(ftpsCdupHome)) Client->SessionOptions |= kSessionOptionCdupHome;
  if (Options.Contains(ftpsCwdCheck)) Client->SessionOptions |= kSessionOptionCwdCheck;
  if (CheckLogOptions(loProtSpecDump))
    DebugLog(loProtSpecDump, Hex8(Client) + " Client Connect Error - " + WinsockErrorText(Error) +
                                 " " + std::to_string(Client->HSocket()));

  TriggerClientConnect(Client, Error);

  if (!FindClient(static_cast<WPARAM>(Client->ID), reinterpret_cast<LPARAM>(Client)) ||
      Client->State() != wsConnected)
    return;
  const DWORD now = GetTickCount();
  Client->LoginStartTick = now;
  Client->LastActivityTick = now;
  const int limit = MaxClients > 0 ? std::min(MaxClients, FSessionCeiling) : FSessionCeiling;
  const int more = kFtpDescriptorsPerSession - Client->Descriptors;
  if (ClientCount() > limit || !FAcceptGate || !FAcceptGate->Budget().Take(more)) {
    Client->Banner = "421 Too many users connected.";
    Client->StartConnection();
    RequestClose(Client, kFtpCloseLingerMs);
    return;
  }
  Client->Descriptors += more;
  Client->StartConnection();
  ArmWatch(Client);
}

void TFtpServer::ClientClosed(rtl::TObject* Sender, WORD) {
  auto* Client = static_cast<TFtpCtrlSocket*>(Sender);
  Client->StopCommands();
  // Never freed inside its own notification: the removal runs from the server's window.
  PostToClient(MsgClientClosed, Client);
}

void TFtpServer::ControlDataSent(rtl::TObject* Sender, WORD) {
  auto* Client = static_cast<TFtpCtrlSocket*>(Sender);
  if (!Client->CloseRequest) return;
  Client->CloseRequest = false;
  PostToClient(MsgCloseRequest, Client);
}

void TFtpServer::RequestClose(TFtpCtrlSocket* Client, DWORD GraceMs) {
  Client->StopCommands();
  KillTimer(FWindowHandle, TimerId(Client, kWatchTimer));
  KillTimer(FWindowHandle, TimerId(Client, kLoginDelayTimer));
  SetTimer(FWindowHandle, TimerId(Client, kCloseTimer), std::max<DWORD>(1, GraceMs));
  PostToClient(MsgCloseRequest, Client);
}

void TFtpServer::EndSession(TFtpCtrlSocket* Client, const TFtpString& Answer) {
  if (!Answer.empty()) SendAnswer(Client, Answer);
  RequestClose(Client, kFtpCloseLingerMs);
}

void TFtpServer::CloseRequestNow(TFtpCtrlSocket* Client) {
  if (!Client->AllSent()) {
    Client->CloseRequest = true;
    return;
  }
  // Input left unread at the close would make the system reset the connection, and a reset can
  // destroy the last reply before the peer has read it: what is pending is read first.
  Client->DrainInput(kFtpDrainLimitBytes);
  if (Client->State() != wsClosed) Client->Close();
}

void TFtpServer::RemoveClient(TFtpCtrlSocket* Client) {
  // A transfer under way (or still waiting for its connection) is finished and answered first.
  try {
    FinishTransfer(Client, WSAENOTCONN);
  } catch (...) {
  }
  KillClientTimers(Client);
  try {
    if (Client->PassiveMode()) ReleasePasvPort(Client);
    Client->Transfer().ReleaseWriteLock();
    Client->Md5Job.reset();
  } catch (...) {
  }
  ClientList.erase(std::remove(ClientList.begin(), ClientList.end(), Client), ClientList.end());
  try {
    TriggerClientDisconnect(Client, 0);
  } catch (...) {
  }
  Client->OnCommand = nullptr;
  Client->OnSessionClosed = nullptr;
  Client->OnDataSent = nullptr;
  Client->StopCommands();
  try {
    if (Client->State() != wsClosed) Client->Close();
  } catch (...) {
  }
  if (FAcceptGate) FAcceptGate->SessionEnded(Client->Descriptors);
  // Freed by its own window once no handler of it runs any more.
  Client->Release();
}

void TFtpServer::DisconnectAll() {
  while (!ClientList.empty())
    RemoveClient(ClientList.front());
}

// ---- the server's window: deferred calls and timers ----

UINT_PTR TFtpServer::TimerId(const TFtpCtrlSocket* Client, TimerKind Kind) {
  return static_cast<UINT_PTR>(Client->ID) * 4 + Kind;
}

void TFtpServer::KillClientTimers(TFtpCtrlSocket* Client) {
  for (TimerKind k : {kWatchTimer, kLoginDelayTimer, kCloseTimer})
    KillTimer(FWindowHandle, TimerId(Client, k));
}

void TFtpServer::WndProc(TMessage& Msg) {
  // Nothing may escape into the message loop, which has no one to hand it to; a deferred call
  // that fails has nothing left to answer.
  try {
    if (Msg.Msg == WM_TIMER) {
      HandleTimer(static_cast<UINT_PTR>(Msg.WParam));
      return;
    }
    if (Msg.Msg < MsgCloseRequest || Msg.Msg > MsgMd5Step) return;
    TFtpCtrlSocket* Client = FindClient(Msg.WParam, Msg.LParam);
    if (!Client) return;  // a session that has gone (or an object reused since)
    switch (Msg.Msg) {
      case MsgCloseRequest:
        CloseRequestNow(Client);
        break;
      case MsgClientClosed:
        RemoveClient(Client);
        break;
      case MsgAbortTransfer:
        AbortTransfer(Client);
        break;
      case MsgCloseData:
        CloseData(Client);
        break;
      case MsgStartSend:
        OpenRetrConnection(Client);
        break;
      case MsgMd5Step:
        Md5Step(Client);
        break;
    }
  } catch (...) {
  }
}

void TFtpServer::HandleTimer(UINT_PTR Id) {
  const auto kind = static_cast<TimerKind>(Id % 4);
  const UINT_PTR sessionId = Id / 4;
  TFtpCtrlSocket* Client = nullptr;
  for (TFtpCtrlSocket* c : ClientList)
    if (static_cast<UINT_PTR>(c->ID) == sessionId) Client = c;
  if (!Client || kind != kWatchTimer) KillTimer(FWindowHandle, Id);
  if (!Client) return;
  switch (kind) {
    case kWatchTimer:
      ArmWatch(Client);
      break;
    case kLoginDelayTimer:
      AnswerRefusedLogin(Client);
      break;
    case kCloseTimer:
      // The peer has not taken the last replies in time: the close does not wait any longer.
      if (Client->State() != wsClosed) Client->Close();
      break;
  }
}

// Each state has its deadline: the login before it is done; then, while a transfer's data
// connection is up, its progress; while a transfer waits for its connection, the connection; else
// the next command. A passive listener that no transfer uses has a deadline of its own. The timer
// is set for the nearest one; one that has passed is acted on and the rest looked at again.
void TFtpServer::ArmWatch(TFtpCtrlSocket* Client) {
  const UINT_PTR id = TimerId(Client, kWatchTimer);
  enum Kind { kLogin, kIdle, kData, kConnect, kListener };
  struct Deadline {
    Kind kind;
    DWORD since;
    DWORD limit;
  };
  // Each action removes its own condition, so the rounds are bounded.
  for (int round = 0; round < 4; ++round) {
    if (Client->CommandsStopped()) {
      KillTimer(FWindowHandle, id);
      return;
    }
    Deadline list[2];
    int count = 0;
    if (Client->FtpState != ftpcReady)
      list[count++] = {kLogin, Client->LoginStartTick, LoginTimeout};
    else if (Client->DataSessionActive())
      list[count++] = {kData, Client->DataProgressTick, DataTimeout};
    else if (Client->XferPending())
      list[count++] = {kConnect, Client->XferStartTick(), DataConnectTimeout};
    else
      list[count++] = {kIdle, Client->LastActivityTick, IdleTimeout};
    if (Client->FtpState == ftpcReady && Client->PassiveMode() && !Client->XferPending() &&
        !Client->PassiveAccepted())
      list[count++] = {kListener, Client->PasvStartTick(), DataConnectTimeout};
    const DWORD now = GetTickCount();
    DWORD wait = 0xFFFFFFFF;
    const Deadline* due = nullptr;
    for (int i = 0; i < count && !due; ++i) {
      const DWORD elapsed = TickElapsed(list[i].since, now);
      if (elapsed >= list[i].limit)
        due = &list[i];
      else
        wait = std::min(wait, list[i].limit - elapsed);
    }
    if (!due) {
      SetTimer(FWindowHandle, id, std::max<DWORD>(1, wait));
      return;
    }
    switch (due->kind) {
      case kLogin:
      case kIdle:
        KillTimer(FWindowHandle, id);
        EndSession(Client, "421 Timeout.");
        return;
      case kData:
        NoteDataProgress(Client);
        DataTimedOut(Client);
        break;
      case kConnect:
        CancelPendingTransfer(Client);
        break;
      case kListener:
        DropPassive(Client);
        break;
    }
  }
  SetTimer(FWindowHandle, id, std::max<DWORD>(1, IdleTimeout));
}

void TFtpServer::NoteDataProgress(TFtpCtrlSocket* Client) {
  // A moving transfer is activity of the session too: the idle time-out starts after it.
  Client->DataProgressTick = GetTickCount();
  Client->LastActivityTick = Client->DataProgressTick;
}

// ---- replies and dispatch ----

void TFtpServer::SendAnswer(TFtpCtrlSocket* Client, const TFtpString& Answer) {
  try {
    TFtpString text = Answer;
    try {
      TriggerAnswerToClient(Client, text);
    } catch (...) {
      text = Answer;  // the hook failed: the reply still goes out, as it was
    }
    Client->SendAnswer(FtpSanitizeReply(text));
  } catch (...) {
  }
}

void TFtpServer::ProcessCommandLine(rtl::TObject* Sender, char* CmdBuf, int CmdLen) {
  auto* Client = static_cast<TFtpCtrlSocket*>(Sender);
  if (!FindClient(static_cast<WPARAM>(Client->ID), reinterpret_cast<LPARAM>(Client))) return;
  TFtpString Keyword;
  TFtpString Params;
  TFtpString Answer;
  Client->AnswerDeferred = false;
  try {
    TFtpCommandLine line =
        ParseFtpCommandLine(std::string_view(CmdBuf, static_cast<size_t>(CmdLen)));
    Keyword = std::move(line.Keyword);
    Params = std::move(line.Params);
    TriggerClientCommand(Client, Keyword, Params, Answer);
    if (!Answer.empty()) {
      SendAnswer(Client, Answer);
      return;
    }
    if (Keyword.empty()) {
      SendAnswer(Client, FtpUnknownCommand(Params));
      return;
    }
    for (const TFtpSrvCommandTableItem& item : FCommandTable) {
      if (item.KeyWord != Keyword) continue;
      if (item.NeedsLogin && Client->FtpState != ftpcReady) {
        Answer = kFtpLoginFirst;
      } else {
        if (item.Code != kFtpNoCommandCode)
          Client->CurrentCommand = static_cast<uint8_t>(item.Code);
        (this->*item.Proc)(Client, Keyword, Params, Answer);
      }
      if (Client->AnswerDeferred)
        Client->AnswerDeferred = false;  // the handler sends it later itself
      else
        SendAnswer(Client, Answer);
      return;
    }
    SendAnswer(Client, FtpUnknownCommand(Keyword));
  } catch (const rtl::Exception& E) {
    if (Client->AnswerDeferred) return;
    SendAnswer(Client, "501 " + E.Message);
  }
}

// ---- files named in commands ----

TFtpLocation TFtpServer::LocateFile(TFtpCtrlSocket* Client, const std::string& FileName) {
  if (Client->HomeRoot().empty()) throw EFtpPathError(kFtpPathNoPermission);
  return LocateFtpPath(Client->HomeRoot(),
                       CombineFtpPath(Client->Directory(), FileName, TFtpDotDot::Refuse));
}

std::string TFtpServer::ResolveFilePath(TFtpCtrlSocket* Client, const std::string& Directory,
                                        const std::string& FileName) {
  std::string result;
  TriggerBuildFilePath(Client, Directory, FileName, result);
  if (!result.empty()) return result;
  if (Client->HomeRoot().empty()) throw EFtpPathError(kFtpPathNoPermission);
  return LocateFtpPath(Client->HomeRoot(), CombineFtpPath(Directory, FileName, TFtpDotDot::Refuse))
      .Local;
}

// ---- events ----

void TFtpServer::TriggerServerStart() {
  if (OnStart) OnStart(this);
}
void TFtpServer::TriggerServerStop() {
  if (OnStop) OnStop(this);
}
void TFtpServer::TriggerAuthenticate(TFtpCtrlSocket* Client, const TFtpString& UserName,
                                     const TFtpString& PassWord, bool& Authenticated) {
  if (OnAuthenticate) OnAuthenticate(this, Client, UserName, PassWord, Authenticated);
}
void TFtpServer::TriggerChangeDirectory(TFtpCtrlSocket* Client, const TFtpString& Directory,
                                        bool& Allowed) {
  if (OnChangeDirectory) OnChangeDirectory(this, Client, Directory, Allowed);
}
void TFtpServer::TriggerMakeDirectory(TFtpCtrlSocket* Client, const TFtpString& Directory,
                                      bool& Allowed) {
  if (OnMakeDirectory) OnMakeDirectory(this, Client, Directory, Allowed);
}
void TFtpServer::TriggerBuildDirectory(TFtpCtrlSocket* Client, TFtpString& Params, bool Detailed) {
  if (OnBuildDirectory) OnBuildDirectory(this, Client, Params, Detailed);
}
void TFtpServer::TriggerAlterDirectory(TFtpCtrlSocket* Client, TFtpString& Params, bool Detailed) {
  if (OnAlterDirectory) OnAlterDirectory(this, Client, Params, Detailed);
}
void TFtpServer::TriggerAnswerToClient(TFtpCtrlSocket* Client, TFtpString& Answer) {
  if (OnAnswerToClient) OnAnswerToClient(this, Client, Answer);
}
void TFtpServer::TriggerClientConnect(TFtpCtrlSocket* Client, WORD Error) {
  if (OnClientConnect) OnClientConnect(this, Client, Error);
}
void TFtpServer::TriggerClientDisconnect(TFtpCtrlSocket* Client, WORD Error) {
  if (OnClientDisconnect) OnClientDisconnect(this, Client, Error);
}
void TFtpServer::TriggerClientCommand(TFtpCtrlSocket* Client, TFtpString& Keyword,
                                      TFtpString& Params, TFtpString& Answer) {
  if (OnClientCommand) OnClientCommand(this, Client, Keyword, Params, Answer);
}
void TFtpServer::TriggerStorSessionConnected(TFtpCtrlSocket* Client, TAsyncSocket* Data,
                                             WORD Error) {
  if (OnStorSessionConnected) OnStorSessionConnected(this, Client, Data, Error);
}
void TFtpServer::TriggerStorSessionClosed(TFtpCtrlSocket* Client, TAsyncSocket* Data, WORD Error) {
  if (OnStorSessionClosed) OnStorSessionClosed(this, Client, Data, Error);
}
void TFtpServer::TriggerValidatePut(TFtpCtrlSocket* Client, TFtpString& FilePath, bool& Allowed) {
  if (OnValidatePut) OnValidatePut(this, Client, FilePath, Allowed);
}
void TFtpServer::TriggerValidateSize(TFtpCtrlSocket* Client, TFtpString& FilePath, bool& Allowed) {
  if (OnValidateSize) OnValidateSize(this, Client, FilePath, Allowed);
}
void TFtpServer::TriggerValidateDele(TFtpCtrlSocket* Client, TFtpString& FilePath, bool& Allowed) {
  if (OnValidateDele) OnValidateDele(this, Client, FilePath, Allowed);
}
void TFtpServer::TriggerValidateRmd(TFtpCtrlSocket* Client, TFtpString& FilePath, bool& Allowed) {
  if (OnValidateRmd) OnValidateRmd(this, Client, FilePath, Allowed);
}
void TFtpServer::TriggerValidateRnFr(TFtpCtrlSocket* Client, TFtpString& FilePath, bool& Allowed) {
  if (OnValidateRnFr) OnValidateRnFr(this, Client, FilePath, Allowed);
}
void TFtpServer::TriggerValidateRnTo(TFtpCtrlSocket* Client, TFtpString& FilePath, bool& Allowed) {
  if (OnValidateRnTo) OnValidateRnTo(this, Client, FilePath, Allowed);
}
void TFtpServer::TriggerRetrSessionConnected(TFtpCtrlSocket* Client, TAsyncSocket* Data,
                                             WORD Error) {
  if (OnRetrSessionConnected) OnRetrSessionConnected(this, Client, Data, Error);
}
void TFtpServer::TriggerRetrSessionClosed(TFtpCtrlSocket* Client, TAsyncSocket* Data, WORD Error) {
  if (OnRetrSessionClosed) OnRetrSessionClosed(this, Client, Data, Error);
}
void TFtpServer::TriggerValidateGet(TFtpCtrlSocket* Client, TFtpString& FilePath, bool& Allowed) {
  if (OnValidateGet) OnValidateGet(this, Client, FilePath, Allowed);
}
void TFtpServer::TriggerStorDataAvailable(TFtpCtrlSocket* Client, TAsyncSocket* Data, char* Buf,
                                          int Len, WORD Error) {
  if (OnStorDataAvailable) OnStorDataAvailable(this, Client, Data, Buf, Len, Error);
}
void TFtpServer::TriggerRetrDataSent(TFtpCtrlSocket* Client, TAsyncSocket* Data, WORD Error) {
  if (OnRetrDataSent) OnRetrDataSent(this, Client, Data, Error);
}
void TFtpServer::TriggerGetUniqueFileName(TFtpCtrlSocket* Client, TFtpString& FileName) {
  if (OnGetUniqueFileName) OnGetUniqueFileName(this, Client, FileName);
}
void TFtpServer::TriggerBuildFilePath(TFtpCtrlSocket* Client, const std::string& Directory,
                                      const std::string& FileName, std::string& NewFileName) {
  if (OnBuildFilePath) OnBuildFilePath(this, Client, Directory, FileName, NewFileName);
}
void TFtpServer::TriggerValidateMfmt(TFtpCtrlSocket* Client, TFtpString& FilePath, bool& Allowed) {
  if (OnValidateMfmt) OnValidateMfmt(this, Client, FilePath, Allowed);
}
void TFtpServer::TriggerAcceptPaused(WORD Error) {
  if (OnAcceptPaused) OnAcceptPaused(this, Error);
}
void TFtpServer::TriggerCalculateMd5(TFtpCtrlSocket* Client, TFtpString& FilePath,
                                     TFtpString& Md5Sum, bool& Allowed) {
  if (OnCalculateMd5) OnCalculateMd5(this, Client, FilePath, Md5Sum, Allowed);
}
