// The data-connection road: PORT and PASV with the passive port range, the one start of the
// transfer commands (STOR, APPE, STOU, RETR, and the listings), their data connection from the
// "150" to the one closing reply, REST, ABOR, and the deferred steps that run from the server's
// window.
//
// The session's TFtpTransfer is pending from its command until its closing reply and says which
// side (upload or download) it is. Every end of a transfer goes through EndTransfer, which asks
// the transfer for its closing reply: the first end gets it, any later one finds the transfer
// idle, so whichever path ends a transfer (the peer's close, an abort, ABOR, a time-out, the
// session's removal), it is answered exactly once.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <random>

#include "net/ftp/ftpsrv.h"
#include "net/ftp/ftptime.h"
#include "rtl/cp932.h"

namespace {

constexpr char kAbortRequested[] = "ABORT requested by client";
constexpr char kTransferInProgress[] = "Transfer in progress";
constexpr char kResumeFailed[] = "Unable to set resume position in local file";
constexpr char kDefaultDataPort[] = "ftp-data";

std::string Backslashed(std::string s) {
  for (char& c : s)
    if (c == '/') c = '\\';
  return s;
}

bool IsBlankOrTab(char c) {
  return c == ' ' || c == '\t';
}

// One number of a PORT argument from pos: blanks, 1 to 3 digits, blanks, then a comma unless it is
// the last number (then the text must end). False for anything else or a value above 255.
bool PortNumber(std::string_view text, size_t& pos, bool last, int& value) {
  while (pos < text.size() && IsBlankOrTab(text[pos]))
    ++pos;
  const size_t start = pos;
  value = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    if (pos - start >= 3) return false;
    value = value * 10 + (text[pos] - '0');
    ++pos;
  }
  if (pos == start || value > 255) return false;
  while (pos < text.size() && IsBlankOrTab(text[pos]))
    ++pos;
  if (last) return pos == text.size();
  if (pos >= text.size() || text[pos] != ',') return false;
  ++pos;
  return true;
}

rtl::fs::TFileKind KindOf(const std::string& path) {
  rtl::fs::TFileInfo info;
  if (rtl::fs::LStat(path, info) != 0) return rtl::fs::TFileKind::Missing;
  return info.Kind;
}

}  // namespace

// ---- the passive port range ----

void TFtpServer::SetPasvPortRangeSize(int value) {
  if (value < 0 || value > 65535)
    throw ERangeError("Invalid PasvPortRangeSize " + std::to_string(value) + ".");
  if (value == FPasvPortRangeSize) return;
  for (size_t i = static_cast<size_t>(value); i < FPasvPortTable.size(); ++i)
    if (FPasvPortTable[i])
      throw FtpServerException("Unable to change PasvPortRangeSize when port is in use.");
  FPasvPortTable.resize(static_cast<size_t>(value), 0);
  FPasvPortRangeSize = value;
}

void TFtpServer::SetPasvPortRangeStart(int value) {
  if (value < 0 || value > 65535)
    throw ERangeError("Invalid PasvPortRangeStart " + std::to_string(value) + ".");
  if (value == FPasvPortRangeStart) return;
  for (uint8_t used : FPasvPortTable)
    if (used) throw FtpServerException("Unable to change PasvPortRangeStart when port is in use.");
  FPasvPortRangeStart = value;
}

std::string TFtpServer::AllocatePasvPort() {
  if (FPasvPortRangeSize == 0 || FPasvPortRangeStart == 0) return "0";
  for (size_t i = 0; i < FPasvPortTable.size(); ++i) {
    const int port = FPasvPortRangeStart + static_cast<int>(i);
    if (port > 65535) break;
    if (FPasvPortTable[i]) continue;
    FPasvPortTable[i] = 1;
    return std::to_string(port);
  }
  return std::string();
}

void TFtpServer::ReleasePasvPort(TFtpCtrlSocket* Client) {
  const int port = Client->Transfer().LeavePassive();
  const int index = port - FPasvPortRangeStart;
  if (port != 0 && index >= 0 && index < static_cast<int>(FPasvPortTable.size()))
    FPasvPortTable[static_cast<size_t>(index)] = 0;
}

// ---- the data socket ----

TFtpCtrlSocket* TFtpServer::SessionOfData(rtl::TObject* Sender) const {
  auto* data = dynamic_cast<TAsyncSocket*>(Sender);
  if (!data) return nullptr;
  auto* client = dynamic_cast<TFtpCtrlSocket*>(data->Owner());
  if (!client || client->DataSocket() != data) return nullptr;
  return FindClient(static_cast<WPARAM>(client->ID), reinterpret_cast<LPARAM>(client));
}

void TFtpServer::ClearDataHandlers(TAsyncSocket* Data) {
  Data->OnSessionAvailable = nullptr;
  Data->OnSessionConnected = nullptr;
  Data->OnSessionClosed = nullptr;
  Data->OnDataAvailable = nullptr;
  Data->OnDataSent = nullptr;
}

// A listener keeps its accept handler: the close handler hooked on it answers a transfer that is
// given up before its connection came.
void TFtpServer::HookDataHandlers(TFtpCtrlSocket* Client) {
  TAsyncSocket* data = Client->DataSocket();
  const TFtpTransfer& xfer = Client->Transfer();
  if (!xfer.Pending()) {
    // A passive connection that came before its command: nothing is read (the bytes wait in the
    // system) until the command hooks its side. Its loss ends passive mode.
    data->OnSessionConnected = nullptr;
    data->OnDataAvailable = [](rtl::TObject*, WORD) {};
    data->OnDataSent = nullptr;
    data->OnSessionClosed = [this](rtl::TObject* s, WORD) {
      TFtpCtrlSocket* c = SessionOfData(s);
      if (!c || c->Transfer().Pending()) return;
      c->Transfer().SetAccepted(false);
      if (c->Transfer().PassiveMode()) ReleasePasvPort(c);
    };
    return;
  }
  if (xfer.Upload()) {
    data->OnSessionConnected = [this](rtl::TObject* s, WORD e) {
      ClientStorSessionConnected(s, e);
    };
    data->OnSessionClosed = [this](rtl::TObject* s, WORD e) { ClientStorSessionClosed(s, e); };
    data->OnDataAvailable = [this](rtl::TObject* s, WORD e) { ClientStorDataAvailable(s, e); };
    data->OnDataSent = nullptr;
  } else {
    data->OnSessionConnected = [this](rtl::TObject* s, WORD e) {
      ClientRetrSessionConnected(s, e);
    };
    data->OnSessionClosed = [this](rtl::TObject* s, WORD e) { ClientRetrSessionClosed(s, e); };
    data->OnDataAvailable = nullptr;  // a download reads nothing: what comes is dropped
    data->OnDataSent = [this](rtl::TObject* s, WORD e) { ClientRetrDataSent(s, e); };
  }
}

void TFtpServer::KickRead(TAsyncSocket* Data) {
  // Bytes that arrived while nobody read them raised no further notification; one is made up so
  // they are read now (a close that came behind them is reported after them).
  if (Data->State() == wsConnected && Data->HSocket() != INVALID_SOCKET)
    PostMessage(Data->WindowHandle(), WM_ASYNCSELECT, static_cast<WPARAM>(Data->HSocket()),
                WSAMAKESELECTREPLY(FD_READ, 0));
}

void TFtpServer::ConnectActive(TFtpCtrlSocket* Client) {
  TAsyncSocket* data = Client->DataSocket();
  ClearDataHandlers(data);
  if (data->State() != wsClosed) data->Close();
  data->SetProto("tcp");
  data->SetAddr(Client->DataAddr);
  data->SetPort(Client->DataPort);
  HookDataHandlers(Client);
  data->LingerOnOff = wsLingerOff;
  data->LingerTimeout = 0;
  // From the control connection's own address, on a port the system chooses.
  const std::string local = Client->GetSockAddr();
  data->SetLocalAddr(local == "error" ? "0.0.0.0" : local);
  data->SetLocalPort("0");
  data->ComponentOptions = {wsoNoReceiveLoop};
  data->ChunkSize = kFtpTransferBufferSize;
  data->Connect();
}

void TFtpServer::OpenDataConnection(TFtpCtrlSocket* Client) {
  TFtpTransfer& xfer = Client->Transfer();
  xfer.Link();
  if (!xfer.PassiveMode()) {
    ConnectActive(Client);
    return;
  }
  HookDataHandlers(Client);
  if (!xfer.PassiveAccepted()) return;  // awaited: PasvSessionAvailable takes it
  // An upload reads what was sent ahead; a download drops it (left unread, it would hold back
  // the close).
  KickRead(Client->DataSocket());
  DataConnectedNow(Client);
}

void TFtpServer::DataConnectedNow(TFtpCtrlSocket* Client) {
  if (Client->Transfer().Upload())
    ClientStorSessionConnected(Client->DataSocket(), 0);
  else
    ClientRetrSessionConnected(Client->DataSocket(), 0);
}

// ---- state of a transfer ----

std::string TFtpServer::DataChannelMissing(TFtpCtrlSocket* Client) const {
  if (Client->PassiveMode()) return std::string();
  // The default data port is a privileged one, which active connections never use: every active
  // transfer needs its own PORT.
  if (Client->DataAddr.empty() || Client->DataPort.empty() || Client->DataPort == kDefaultDataPort)
    return "Use PORT or PASV first";
  return std::string();
}

void TFtpServer::EndTransfer(TFtpCtrlSocket* Client, TFtpXferEnd How, WORD Error) {
  TFtpTransfer& xfer = Client->Transfer();
  const bool upload = xfer.Upload();
  TFtpXferClosing closing;
  if (!xfer.Finish(How, Error, closing)) return;  // answered already
  if (xfer.PassiveMode()) ReleasePasvPort(Client);
  Client->RestartPos = 0;
  Client->DataPort = kDefaultDataPort;
  if (How == TFtpXferEnd::NeverCame) {
    SendAnswer(Client, closing.Reply);
    return;
  }
  ArmWatch(Client);
  TAsyncSocket* data = Client->DataSocket();
  // The application's failure in an event does not cost the transfer its reply.
  if (upload) {
    try {
      TriggerStorSessionClosed(Client, data, closing.Error);
    } catch (const rtl::Exception&) {
    }
    SendAnswer(Client, closing.Reply);
  } else {
    SendAnswer(Client, closing.Reply);
    try {
      TriggerRetrSessionClosed(Client, data, closing.Error);
    } catch (const rtl::Exception&) {
    }
  }
}

void TFtpServer::FinishTransfer(TFtpCtrlSocket* Client, WORD Error) {
  if (!Client->XferPending()) return;
  if (Client->Transfer().Upload())
    ClientStorSessionClosed(Client->DataSocket(), Error);
  else
    ClientRetrSessionClosed(Client->DataSocket(), Error);
}

// Ends the transfer with Why: a data connection that is up (or being made) is closed, and its
// close handler answers; a transfer still waiting for its connection is answered directly.
void TFtpServer::FailTransfer(TFtpCtrlSocket* Client, const std::string& Why) {
  if (!Client->XferPending()) return;
  Client->Transfer().Fail(Why);
  TAsyncSocket* data = Client->DataSocket();
  try {
    if (data->State() != wsClosed) data->Close();
  } catch (const rtl::Exception&) {
  }
  if (!Client->XferPending()) return;
  ClearDataHandlers(data);
  FinishTransfer(Client, 0);
}

// Gives the transfer up with Why inside a handler of its data socket: the connection is shut
// down and closed from the server's window, and its close handler answers.
void TFtpServer::PostAbort(TFtpCtrlSocket* Client, const std::string& Why) {
  Client->Transfer().Fail(Why);
  PostToClient(MsgAbortTransfer, Client);
}

// The transfer's connection did not come in time.
void TFtpServer::CancelPendingTransfer(TFtpCtrlSocket* Client) {
  if (!Client->XferPending()) return;
  TAsyncSocket* data = Client->DataSocket();
  ClearDataHandlers(data);
  try {
    if (data->State() != wsClosed) data->Close();
  } catch (const rtl::Exception&) {
  }
  EndTransfer(Client, TFtpXferEnd::NeverCame, 0);
}

void TFtpServer::DropPassive(TFtpCtrlSocket* Client) {
  TAsyncSocket* data = Client->DataSocket();
  ClearDataHandlers(data);
  try {
    if (data->State() != wsClosed) data->Close();
  } catch (const rtl::Exception&) {
  }
  Client->Transfer().SetAccepted(false);
  ReleasePasvPort(Client);
}

// A transfer command that was refused ends passive mode: its listener (or the connection a client
// made ahead of the command) is closed without a further reply, and the port goes back.
void TFtpServer::PassiveCleanup(TFtpCtrlSocket* Client, const TFtpString& Answer) {
  if (Client->XferPending() || !Client->PassiveMode() || Answer.compare(0, 2, "15") == 0) return;
  DropPassive(Client);
}

// ---- PORT and PASV ----

void TFtpServer::CommandPORT(TFtpCtrlSocket* Client, TFtpString&, TFtpString& Params,
                             TFtpString& Answer) {
  int n[6];
  size_t pos = 0;
  for (int i = 0; i < 6; ++i) {
    if (!PortNumber(Params, pos, i == 5, n[i])) {
      Answer = "501 Invalid PORT command.";
      return;
    }
  }
  const std::string addr = std::to_string(n[0]) + "." + std::to_string(n[1]) + "." +
                           std::to_string(n[2]) + "." + std::to_string(n[3]);
  const int port = n[4] * 256 + n[5];
  // Data goes only to the client itself, and never to a privileged port of it; a running transfer
  // keeps its connection.
  if (addr != Client->PeerAddrCache || port < 1024 || Client->XferPending()) {
    Answer = "501 Invalid PORT command.";
    return;
  }
  if (Client->PassiveMode()) DropPassive(Client);
  Client->DataAddr = addr;
  Client->DataPort = std::to_string(port);
  Answer = "200 Port command successful.";
}

void TFtpServer::CommandPASV(TFtpCtrlSocket* Client, TFtpString&, TFtpString&, TFtpString& Answer) {
  if (Client->XferPending()) {
    Answer = std::string("500 PASV exception: '") + kTransferInProgress + "'.";
    return;
  }
  TAsyncSocket* data = Client->DataSocket();
  try {
    // The listener is bound to the address the client reached us on, never to every interface.
    const std::string local = Client->GetSockAddr();
    if (local == "error") throw FtpServerException("Cannot read the local address");
    if (Client->PassiveMode()) DropPassive(Client);
    ClearDataHandlers(data);
    if (data->State() != wsClosed) data->Close();
    data->SetAddr(local);
    const std::string port = AllocatePasvPort();
    if (port.empty()) throw FtpServerException("No available PASV Ports");
    Client->Transfer().HoldPasvPort(std::stoi(port));
    data->SetPort(port);
    data->SetProto("tcp");
    data->OnSessionAvailable = [this](rtl::TObject* s, WORD e) { PasvSessionAvailable(s, e); };
    data->ComponentOptions = {wsoNoReceiveLoop};
    data->Listen();
    const std::string bound = data->GetSockPort();
    const int boundPort = bound == "error" ? 0 : std::atoi(bound.c_str());
    if (boundPort <= 0) throw FtpServerException("Cannot read the passive port");
    const std::string shown = PasvIpAddr.empty() ? local : PasvIpAddr;
    const ULONG a = WinsockInetAddr(shown);  // network order
    if (a == WS_INADDR_NONE) throw FtpServerException("Invalid PASV IP Address");
    const auto* b = reinterpret_cast<const unsigned char*>(&a);
    Answer = "227 Entering Passive Mode (" + std::to_string(b[0]) + "," + std::to_string(b[1]) +
             "," + std::to_string(b[2]) + "," + std::to_string(b[3]) + "," +
             std::to_string(boundPort / 256) + "," + std::to_string(boundPort % 256) + ").";
    Client->Transfer().EnterPassive(GetTickCount());
    ArmWatch(Client);
  } catch (const rtl::Exception& E) {
    Answer = "500 PASV exception: '" + E.Message + "'.";
    ClearDataHandlers(data);
    try {
      if (data->State() != wsClosed) data->Close();
    } catch (...) {
    }
    ReleasePasvPort(Client);  // the port goes back to the range
  }
}

void TFtpServer::PasvSessionAvailable(rtl::TObject* Sender, WORD Error) {
  TFtpCtrlSocket* Client = SessionOfData(Sender);
  if (!Client || Error != 0) return;
  TAsyncSocket* data = Client->DataSocket();
  // A refused accept (the peer gave up meanwhile) leaves the listener waiting.
  SOCKET handle = INVALID_SOCKET;
  TNotifyEvent savedOnError = std::move(data->OnError);
  data->OnError = [](rtl::TObject*) {};
  try {
    handle = data->Accept();
  } catch (const rtl::Exception&) {
    handle = INVALID_SOCKET;
  }
  data->OnError = std::move(savedOnError);
  if (handle == INVALID_SOCKET) return;
  // Only the client itself may connect; anyone else is dropped and the listener waits on.
  WS_sockaddr_in peer = {};
  int len = sizeof peer;
  if (Winsock::getpeername(handle, reinterpret_cast<WS_sockaddr*>(&peer), &len) != 0 ||
      WinsockInetNtoa(peer.sin_addr) != Client->PeerAddrCache) {
    Winsock::closesocket(handle);
    return;
  }
  data->OnSessionAvailable = nullptr;
  data->OnSessionClosed = nullptr;
  data->Close();  // the listener
  HookDataHandlers(Client);
  data->LingerOnOff = wsLingerOff;
  data->LingerTimeout = 0;
  data->ComponentOptions = {wsoNoReceiveLoop};
  data->ChunkSize = kFtpTransferBufferSize;
  try {
    data->SetHSocket(handle);
  } catch (const rtl::Exception& E) {
    if (Client->XferPending())
      FailTransfer(Client, E.Message);
    else
      DropPassive(Client);
    return;
  }
  const bool waiting = Client->PassiveWaiting();
  Client->Transfer().SetAccepted(true);
  if (waiting) DataConnectedNow(Client);
}

// ---- the start of every transfer ----

TFtpTarget TFtpServer::UniqueTarget(TFtpCtrlSocket* Client) {
  TFtpString unique;
  TriggerGetUniqueFileName(Client, unique);
  TFtpTarget target;
  if (!unique.empty()) {
    target = ResolveTarget(Client, unique);
    if (target.Kind == rtl::fs::TFileKind::Missing) return target;
  }
  // Otherwise "FTP" and four hexadecimal digits, a name not yet taken in the current folder.
  static thread_local std::minstd_rand random{std::random_device{}()};
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[16];
    std::snprintf(name, sizeof name, "FTP%04X", static_cast<unsigned>(random() & 0xFFFF));
    target = ResolveTarget(Client, name);
    if (target.Kind == rtl::fs::TFileKind::Missing) return target;
  }
  throw FtpServerException("No unique file name available");
}

// Order and cost: the steps run in the order the replies depend on (name, the application's
// word, data channel, the file or listing the command makes itself); a name costs a walk of the
// path layer, a listing a scan of its folder, STOU up to 100 looks for a free name.
void TFtpServer::StartTransfer(TFtpCtrlSocket* Client, const TFtpString& Params, TFtpString& Answer,
                               const TFtpXferEntry& Entry) {
  TFtpTransfer& xfer = Client->Transfer();
  if (xfer.Pending()) {
    Answer = Entry.Busy;
    return;
  }
  TFtpXferValues values;
  values.Name = Params;
  try {
    // What the transfer moves: a stream left from before is the application's, or none.
    xfer.DisownStream();
    TFtpTarget target;
    switch (Entry.Stream) {
      case TFtpXferStream::ReadFile:
        xfer.DropStream();  // the application may give one from OnValidateGet on
        [[fallthrough]];
      case TFtpXferStream::WriteFile:
      case TFtpXferStream::AppendFile:
        Client->FileName = Backslashed(Params);
        target = ResolveTarget(Client, Params);
        break;
      case TFtpXferStream::NewFile:
        target = UniqueTarget(Client);
        values.Name = target.Shown;
        Client->FileName = Backslashed(target.Shown);
        break;
      case TFtpXferStream::Listing:
        xfer.DropStream();
        PrepareListing(Client, Params, Entry.Code);
        break;
    }
    std::string path = target.Local;
    if (Entry.Stream != TFtpXferStream::Listing) {
      bool Allowed = true;
      if (Entry.Upload)
        TriggerValidatePut(Client, path, Allowed);
      else
        TriggerValidateGet(Client, path, Allowed);
      if (!Allowed) {
        Answer = Entry.Refused;
        PassiveCleanup(Client, Answer);
        return;
      }
    }
    const std::string missing = DataChannelMissing(Client);
    if (!missing.empty()) throw FtpServerException(missing);
    if (Entry.Stream == TFtpXferStream::AppendFile) {
      // The offset is known before the connection may already be there (and open the file).
      Client->RestartPos = std::max<int64_t>(0, FileSizeOf(path));
    } else if (Entry.Stream == TFtpXferStream::NewFile) {
      if (FWriteLocks.count(path)) throw rtl::EInOutError(rtl::fs::ErrorText(EBUSY), EBUSY);
      // Made here, and only if the name is still free: two STOU never share a file.
      xfer.SetStream(std::make_unique<TFtpFileStream>(path, rtl::fs::TOpenMode::CreateNew), true);
      xfer.HoldWriteLock(FWriteLocks, path);
      Client->RestartPos = 0;
    }
    values.Offset = Client->RestartPos;
    Client->FilePath = path;
    xfer.Begin(Entry, target.Shown, GetTickCount());
    // Hooked now, so that a connection taken ahead that goes away is seen at once.
    HookDataHandlers(Client);
    if (Entry.Upload) OpenDataConnection(Client);
    Answer = FtpXferText(Entry.Opening, values);
    if (!Entry.Upload) {
      bool DelayedSend = false;
      if (Entry.Stream == TFtpXferStream::ReadFile && OnGetProcessing)
        OnGetProcessing(this, Client, DelayedSend);
      // The connection is opened once this reply is on its way.
      if (!DelayedSend) StartSendLater(Client);
    }
    ArmWatch(Client);
  } catch (const rtl::Exception& E) {
    if (xfer.Pending()) {
      // The "150" never went out: this reply answers the command, not a closing one.
      ClearDataHandlers(Client->DataSocket());
      xfer.Withdraw();
    } else if (Entry.Stream == TFtpXferStream::NewFile) {
      xfer.CloseStream();
    } else if (Entry.Stream == TFtpXferStream::Listing) {
      xfer.DropStream();
    }
    values.Reason = E.Message;
    Answer = FtpXferText(Entry.Failed, values);
  }
  PassiveCleanup(Client, Answer);
}

void TFtpServer::CommandSTOR(TFtpCtrlSocket* Client, TFtpString&, TFtpString& Params,
                             TFtpString& Answer) {
  StartTransfer(Client, Params, Answer, *FtpXferEntry(ftpcSTOR));
}

void TFtpServer::CommandAPPE(TFtpCtrlSocket* Client, TFtpString&, TFtpString& Params,
                             TFtpString& Answer) {
  StartTransfer(Client, Params, Answer, *FtpXferEntry(ftpcAPPE));
}

void TFtpServer::CommandSTOU(TFtpCtrlSocket* Client, TFtpString&, TFtpString& Params,
                             TFtpString& Answer) {
  StartTransfer(Client, Params, Answer, *FtpXferEntry(ftpcSTOU));
}

void TFtpServer::CommandRETR(TFtpCtrlSocket* Client, TFtpString&, TFtpString& Params,
                             TFtpString& Answer) {
  StartTransfer(Client, Params, Answer, *FtpXferEntry(ftpcRETR));
}

// ---- uploads ----

// Opens the file an upload writes: a new or emptied file, or the existing one for a restart or an
// append, positioned at RestartPos. A failure ends the transfer with its message.
void TFtpServer::OpenStorStream(TFtpCtrlSocket* Client) {
  TFtpTransfer& xfer = Client->Transfer();
  if (xfer.Stream() || Client->FilePath.empty() || xfer.Aborting()) return;
  try {
    // Another session writing the same file would mix the two uploads.
    if (FWriteLocks.count(Client->FilePath))
      throw rtl::EInOutError(rtl::fs::ErrorText(EBUSY), EBUSY);
    int64_t size = FileSizeOf(Client->FilePath);
    const bool append = xfer.Entry()->Stream == TFtpXferStream::AppendFile;
    std::unique_ptr<TFtpFileStream> stream;
    if (append && size >= 0) {
      stream = std::make_unique<TFtpFileStream>(Client->FilePath, rtl::fs::TOpenMode::ReadWrite);
    } else if (!append && Client->RestartPos > 0 && size >= 0) {
      stream = std::make_unique<TFtpFileStream>(Client->FilePath, rtl::fs::TOpenMode::Write);
    } else {
      stream = std::make_unique<TFtpFileStream>(Client->FilePath, rtl::fs::TOpenMode::Create);
      size = 0;
    }
    if (size >= Client->RestartPos) size = stream->Seek(Client->RestartPos);
    if (size != Client->RestartPos) throw FtpServerException(kResumeFailed);
    xfer.SetStream(std::move(stream), true);
    xfer.HoldWriteLock(FWriteLocks, Client->FilePath);
  } catch (const rtl::Exception& E) {
    PostAbort(Client, E.Message);
  }
}

void TFtpServer::ClientStorSessionConnected(rtl::TObject* Sender, WORD Error) {
  TFtpCtrlSocket* Client = SessionOfData(Sender);
  if (!Client || !Client->XferPending()) return;
  TFtpTransfer& xfer = Client->Transfer();
  if (Error != 0) {
    // The connect failed; the close that follows answers with this error.
    xfer.SetDataError(Error);
    xfer.SetConnected(false);
    return;
  }
  xfer.SetConnected(true);
  xfer.ResetByteCount();
  NoteDataProgress(Client);
  ArmWatch(Client);
  if (xfer.Aborting()) return;
  try {
    TriggerStorSessionConnected(Client, Client->DataSocket(), Error);
  } catch (const rtl::Exception& E) {
    PostAbort(Client, E.Message);
    return;
  }
  // Opened now, not at the first data: an upload of no bytes still creates (or empties) its file.
  OpenStorStream(Client);
}

void TFtpServer::ClientStorDataAvailable(rtl::TObject* Sender, WORD Error) {
  TFtpCtrlSocket* Client = SessionOfData(Sender);
  if (!Client) return;
  TFtpTransfer& xfer = Client->Transfer();
  TAsyncSocket* data = Client->DataSocket();
  char* buf = xfer.Buffer();
  const int len = data->Receive(buf, kFtpTransferBufferSize);
  if (len <= 0) return;
  if (!xfer.Pending() || xfer.Aborting()) return;  // dropped
  NoteDataProgress(Client);
  try {
    TriggerStorDataAvailable(Client, data, buf, len, Error);
    if (!xfer.OwnsStream()) OpenStorStream(Client);
    if (xfer.Aborting() || !xfer.Stream()) return;
    xfer.CountBytes(len);
    xfer.Stream()->Write(buf, len);
  } catch (const rtl::Exception& E) {
    PostAbort(Client, E.Message);
  }
}

void TFtpServer::ClientStorSessionClosed(rtl::TObject* Sender, WORD Error) {
  TFtpCtrlSocket* Client = SessionOfData(Sender);
  if (!Client || !Client->XferPending() || !Client->Transfer().Upload()) return;
  EndTransfer(Client, TFtpXferEnd::Closed, Error);
}

// ---- downloads ----

void TFtpServer::StartSendLater(TFtpCtrlSocket* Client) {
  PostToClient(MsgStartSend, Client);
}

void TFtpServer::OpenRetrConnection(TFtpCtrlSocket* Client) {
  TFtpTransfer& xfer = Client->Transfer();
  // A transfer given up meanwhile (ABOR, a time-out) or already under way starts nothing.
  if (!xfer.Pending() || xfer.Upload() || xfer.Linked() || xfer.Aborting()) return;
  try {
    OpenDataConnection(Client);
  } catch (const rtl::Exception& E) {
    FailTransfer(Client, E.Message);
  }
  ArmWatch(Client);
}

void TFtpServer::ClientRetrSessionConnected(rtl::TObject* Sender, WORD Error) {
  TFtpCtrlSocket* Client = SessionOfData(Sender);
  if (!Client || !Client->XferPending() || Client->Transfer().Upload()) return;
  TFtpTransfer& xfer = Client->Transfer();
  TAsyncSocket* data = Client->DataSocket();
  xfer.SetConnected(Error == 0);
  if (xfer.Aborting()) return;
  if (Error != 0) {
    // The close that follows the failed connect answers with this.
    PostAbort(Client, "Client data socket connection Error - " + WinsockErrorText(Error) + " - " +
                          Client->DataAddr + ":" + Client->DataPort);
    return;
  }
  NoteDataProgress(Client);
  ArmWatch(Client);
  try {
    TriggerRetrSessionConnected(Client, data, Error);
    if (!xfer.OwnsStream() && !Client->FilePath.empty() && !xfer.Stream()) {
      if (KindOf(Client->FilePath) != rtl::fs::TFileKind::Regular) {
        PostAbort(Client, "File not found: \"" + xfer.Shown() + "\"");
        return;
      }
      auto stream = std::make_unique<TFtpFileStream>(Client->FilePath, rtl::fs::TOpenMode::Read);
      // A restart beyond the end would send nothing and call it a success.
      if (Client->RestartPos > stream->Size() ||
          stream->Seek(Client->RestartPos) != Client->RestartPos)
        throw FtpServerException(kResumeFailed);
      xfer.SetStream(std::move(stream), true);
    }
  } catch (const rtl::Exception& E) {
    PostAbort(Client, E.Message);
    return;
  }
  xfer.ResetByteCount();
  SendNextBlock(Client, data);
}

// One block in flight at a time: the next is read when the system has taken the previous one.
void TFtpServer::SendNextBlock(TFtpCtrlSocket* Client, TAsyncSocket* Data) {
  TFtpTransfer& xfer = Client->Transfer();
  try {
    char* buf = xfer.Buffer();
    const int64_t n = xfer.Stream() ? xfer.Stream()->Read(buf, kFtpTransferBufferSize) : 0;
    if (n > 0) {
      xfer.CountBytes(n);
      Data->Send(buf, static_cast<int>(n));
    } else if (!xfer.EndOfData()) {
      xfer.DataEnded();
      PostToClient(MsgCloseData, Client);
    }
  } catch (const rtl::Exception& E) {
    if (!xfer.Pending()) return;
    PostAbort(Client, E.Message);
  }
}

void TFtpServer::ClientRetrDataSent(rtl::TObject* Sender, WORD Error) {
  TFtpCtrlSocket* Client = SessionOfData(Sender);
  // Only while data moves: not before the download started (its handlers are hooked from its
  // command on), nor once it was given up or its last block handed over.
  if (!Client || Client->Transfer().State() != TFtpXferState::Moving) return;
  NoteDataProgress(Client);
  try {
    TriggerRetrDataSent(Client, Client->DataSocket(), Error);
    if (Error != 0) throw FtpServerException("Send Error - " + WinsockErrorText(Error));
  } catch (const rtl::Exception& E) {
    // Reported once, by the closing reply.
    PostAbort(Client, E.Message);
    return;
  }
  SendNextBlock(Client, Client->DataSocket());
}

void TFtpServer::ClientRetrSessionClosed(rtl::TObject* Sender, WORD Error) {
  TFtpCtrlSocket* Client = SessionOfData(Sender);
  if (!Client || !Client->XferPending() || Client->Transfer().Upload()) return;
  EndTransfer(Client, TFtpXferEnd::Closed, Error);
}

// ---- deferred steps ----

// Acts only on a transfer that has been given up: a request left over from an earlier transfer
// finds the next one not given up and leaves it alone.
void TFtpServer::AbortTransfer(TFtpCtrlSocket* Client) {
  if (!Client->XferPending() || !Client->Aborting()) return;
  TAsyncSocket* data = Client->DataSocket();
  if (Client->PassiveMode()) ReleasePasvPort(Client);
  data->Shutdown(2);
  if (data->State() != wsClosed) data->Close();  // its close handler answers
  if (!Client->XferPending()) return;
  ClearDataHandlers(data);
  FinishTransfer(Client, 0);
}

// Acts only on a download that has handed over its last block, for the same reason.
void TFtpServer::CloseData(TFtpCtrlSocket* Client) {
  if (!Client->XferPending() || !Client->EndOfData()) return;
  if (Client->PassiveMode()) ReleasePasvPort(Client);
  // The peer's close after our end of data then ends the transfer.
  Client->DataSocket()->Shutdown(1);
}

void TFtpServer::DataTimedOut(TFtpCtrlSocket* Client) {
  if (!Client->XferPending()) return;
  PostAbort(Client, "Timeout");
}

// ---- REST and ABOR ----

void TFtpServer::CommandREST(TFtpCtrlSocket* Client, TFtpString&, TFtpString& Params,
                             TFtpString& Answer) {
  try {
    // The digits are read as DigitsToInt64 does, but a value past the signed 64-bit range is
    // refused, however far past it (wrapping could make it look like a valid offset).
    size_t i = 0;
    while (i < Params.size() && Params[i] == ' ')
      ++i;
    bool tooLarge = false;
    uint64_t value = 0;
    for (; i < Params.size() && Params[i] >= '0' && Params[i] <= '9'; ++i) {
      const auto digit = static_cast<uint64_t>(Params[i] - '0');
      if (value > (static_cast<uint64_t>(INT64_MAX) - digit) / 10) tooLarge = true;
      value = value * 10 + digit;
    }
    const int64_t offset = tooLarge ? -1 : DigitsToInt64(Params);
    if (offset < 0) {
      Client->RestartPos = 0;
      Answer = "501 Required byte offset parameter bad or missing.";
      return;
    }
    Client->RestartPos = offset;
    Answer = "350 REST supported. Ready to resume at byte offset " + std::to_string(offset) + ".";
  } catch (const rtl::Exception& E) {
    Client->RestartPos = 0;
    Answer = "501 Syntax error in parameter: " + E.Message + ".";
  }
}

// A transfer under way, or still waiting for its connection, is given up; its closing reply goes
// out before this command's own.
void TFtpServer::CommandABOR(TFtpCtrlSocket* Client, TFtpString&, TFtpString&, TFtpString& Answer) {
  FailTransfer(Client, kAbortRequested);
  Answer = "225 ABOR command successful.";
}

// ---- files named in commands ----

TFtpTarget TFtpServer::ResolveTarget(TFtpCtrlSocket* Client, const std::string& FileName) {
  TFtpTarget target;
  std::string built;
  TriggerBuildFilePath(Client, Client->Directory(), FileName, built);
  if (!built.empty()) {
    // The application's own path; the client is shown the name it gave.
    target.Local = built;
    target.Shown = FileName;
    target.Kind = KindOf(built);
    return target;
  }
  const TFtpLocation loc = LocateFile(Client, FileName);
  target.Local = loc.Local;
  target.Shown = loc.Virtual();
  target.Kind = loc.Kind;
  return target;
}
