// The data-connection road: PORT and PASV with the passive port range, the transfer commands
// (STOR, APPE, STOU, RETR), their data connection from the "150" to the one closing reply, REST,
// ABOR, and the deferred steps that run from the server's window.
//
// A transfer is pending from its command until its closing reply; XferPending says so and
// XferCommand says which side (upload or download) it is. Both close handlers start by checking
// XferPending and clear it, so whichever path ends a transfer (the peer's close, an abort, ABOR,
// a time-out, the session's removal), it is answered exactly once.
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

bool IsStorCode(uint8_t code) {
  return code == ftpcSTOR || code == ftpcAPPE || code == ftpcSTOU;
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
  const int index = Client->PasvPort - FPasvPortRangeStart;
  if (Client->PasvPort != 0 && index >= 0 && index < static_cast<int>(FPasvPortTable.size()))
    FPasvPortTable[static_cast<size_t>(index)] = 0;
  Client->PasvPort = 0;
  Client->PassiveMode = false;
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
  if (!Client->XferPending) {
    // A passive connection that came before its command: nothing is read (the bytes wait in the
    // system) until the command hooks its side. Its loss ends passive mode.
    data->OnSessionConnected = nullptr;
    data->OnDataAvailable = [](rtl::TObject*, WORD) {};
    data->OnDataSent = nullptr;
    data->OnSessionClosed = [this](rtl::TObject* s, WORD) {
      TFtpCtrlSocket* c = SessionOfData(s);
      if (!c || c->XferPending) return;
      c->PassiveAccepted = false;
      if (c->PassiveMode) ReleasePasvPort(c);
    };
    return;
  }
  if (IsStorCode(Client->XferCommand)) {
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

void TFtpServer::ArmPassiveStor(TFtpCtrlSocket* Client) {
  HookDataHandlers(Client);
  if (Client->PassiveAccepted) KickRead(Client->DataSocket());
}

void TFtpServer::ArmPassiveRetr(TFtpCtrlSocket* Client) {
  HookDataHandlers(Client);
  // Whatever the client sent ahead is dropped; left unread, it would hold back the close.
  if (Client->PassiveAccepted) KickRead(Client->DataSocket());
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

// ---- state of a transfer ----

std::string TFtpServer::DataChannelMissing(TFtpCtrlSocket* Client) const {
  if (Client->PassiveMode) return std::string();
  // The default data port is a privileged one, which active connections never use: every active
  // transfer needs its own PORT.
  if (Client->DataAddr.empty() || Client->DataPort.empty() || Client->DataPort == kDefaultDataPort)
    return "Use PORT or PASV first";
  return std::string();
}

void TFtpServer::BeginTransfer(TFtpCtrlSocket* Client, uint8_t code) {
  Client->XferPending = true;
  Client->XferCommand = code;
  Client->XferStartTick = GetTickCount();
  Client->Aborting = false;
  Client->TransferResult = "Transfer Ok";
  Client->DataError = 0;
  Client->EndOfData = false;
  Client->ByteCount = 0;
}

void TFtpServer::ReleaseWriteLock(TFtpCtrlSocket* Client) {
  if (Client->WriteLock.empty()) return;
  FWriteLocks.erase(Client->WriteLock);
  Client->WriteLock.clear();
}

void TFtpServer::CloseDataStream(TFtpCtrlSocket* Client) {
  if (Client->DataStream) {
    try {
      Client->DataStream->Close();
    } catch (const rtl::Exception& E) {
      // Data that could not be written after all: the upload failed.
      if (!Client->Aborting) {
        Client->TransferResult = E.Message;
        Client->Aborting = true;
      }
    }
    Client->DataStream.reset();
  }
  Client->OwnsStream = false;
  ReleaseWriteLock(Client);
}

void TFtpServer::EndTransferState(TFtpCtrlSocket* Client) {
  if (Client->PassiveMode) ReleasePasvPort(Client);
  Client->DataSessionActive = false;
  Client->PassiveWaiting = false;
  Client->PassiveAccepted = false;
  Client->RestartPos = 0;
  Client->DataPort = kDefaultDataPort;
  CloseDataStream(Client);
  Client->XferPending = false;
}

void TFtpServer::FinishTransfer(TFtpCtrlSocket* Client, WORD Error) {
  if (!Client->XferPending) return;
  if (IsStorCode(Client->XferCommand))
    ClientStorSessionClosed(Client->DataSocket(), Error);
  else
    ClientRetrSessionClosed(Client->DataSocket(), Error);
}

// Ends the transfer with Why: a data connection that is up (or being made) is closed, and its
// close handler answers; a transfer still waiting for its connection is answered directly.
void TFtpServer::FailTransfer(TFtpCtrlSocket* Client, const std::string& Why) {
  if (!Client->XferPending) return;
  Client->TransferResult = Why;
  Client->Aborting = true;
  TAsyncSocket* data = Client->DataSocket();
  try {
    if (data->State() != wsClosed) data->Close();
  } catch (const rtl::Exception&) {
  }
  if (!Client->XferPending) return;
  ClearDataHandlers(data);
  FinishTransfer(Client, 0);
}

void TFtpServer::CancelPendingTransfer(TFtpCtrlSocket* Client, const std::string& Reply) {
  if (!Client->XferPending) return;
  TAsyncSocket* data = Client->DataSocket();
  ClearDataHandlers(data);
  try {
    if (data->State() != wsClosed) data->Close();
  } catch (const rtl::Exception&) {
  }
  EndTransferState(Client);
  SendAnswer(Client, Reply);
}

void TFtpServer::DropPassive(TFtpCtrlSocket* Client) {
  TAsyncSocket* data = Client->DataSocket();
  ClearDataHandlers(data);
  try {
    if (data->State() != wsClosed) data->Close();
  } catch (const rtl::Exception&) {
  }
  Client->PassiveWaiting = false;
  Client->PassiveAccepted = false;
  ReleasePasvPort(Client);
}

// A transfer command that was refused ends passive mode: its listener (or the connection a client
// made ahead of the command) is closed without a further reply, and the port goes back.
void TFtpServer::PassiveCleanup(TFtpCtrlSocket* Client, const TFtpString& Answer) {
  if (Client->XferPending || !Client->PassiveMode || Answer.compare(0, 2, "15") == 0) return;
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
  if (addr != Client->PeerAddrCache || port < 1024 || Client->XferPending) {
    Answer = "501 Invalid PORT command.";
    return;
  }
  if (Client->PassiveMode) DropPassive(Client);
  Client->DataAddr = addr;
  Client->DataPort = std::to_string(port);
  Answer = "200 Port command successful.";
}

void TFtpServer::CommandPASV(TFtpCtrlSocket* Client, TFtpString&, TFtpString&, TFtpString& Answer) {
  if (Client->XferPending) {
    Answer = std::string("500 PASV exception: '") + kTransferInProgress + "'.";
    return;
  }
  TAsyncSocket* data = Client->DataSocket();
  try {
    // The listener is bound to the address the client reached us on, never to every interface.
    const std::string local = Client->GetSockAddr();
    if (local == "error") throw FtpServerException("Cannot read the local address");
    if (Client->PassiveMode) DropPassive(Client);
    ClearDataHandlers(data);
    if (data->State() != wsClosed) data->Close();
    data->SetAddr(local);
    const std::string port = AllocatePasvPort();
    if (port.empty()) throw FtpServerException("No available PASV Ports");
    Client->PasvPort = std::stoi(port);
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
    Client->PassiveMode = true;
    Client->PassiveWaiting = false;
    Client->PassiveAccepted = false;
    Client->PasvStartTick = GetTickCount();
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
    if (Client->XferPending)
      FailTransfer(Client, E.Message);
    else
      DropPassive(Client);
    return;
  }
  Client->PassiveAccepted = true;
  if (!Client->PassiveWaiting) return;
  Client->PassiveWaiting = false;
  if (IsStorCode(Client->XferCommand))
    ClientStorSessionConnected(data, 0);
  else
    ClientRetrSessionConnected(data, 0);
}

// ---- uploads ----

void TFtpServer::OpenStorConnection(TFtpCtrlSocket* Client, uint8_t code) {
  BeginTransfer(Client, code);
  try {
    if (Client->PassiveMode) {
      ArmPassiveStor(Client);
      if (Client->PassiveAccepted)
        ClientStorSessionConnected(Client->DataSocket(), 0);
      else
        Client->PassiveWaiting = true;
    } else {
      ConnectActive(Client);
    }
  } catch (...) {
    // Nothing was started: the command itself reports the failure.
    ClearDataHandlers(Client->DataSocket());
    Client->XferPending = false;
    CloseDataStream(Client);
    throw;
  }
  ArmWatch(Client);
}

// Opens the file an upload writes: a new or emptied file, or the existing one for a restart or an
// append, positioned at RestartPos. A failure ends the transfer with its message.
void TFtpServer::OpenStorStream(TFtpCtrlSocket* Client) {
  if (Client->DataStream || Client->FilePath.empty() || Client->Aborting) return;
  try {
    // Another session writing the same file would mix the two uploads.
    if (FWriteLocks.count(Client->FilePath))
      throw rtl::EInOutError(rtl::fs::ErrorText(EBUSY), EBUSY);
    int64_t size = FileSizeOf(Client->FilePath);
    std::unique_ptr<TFtpFileStream> stream;
    if (Client->XferCommand == ftpcAPPE && size >= 0) {
      stream = std::make_unique<TFtpFileStream>(Client->FilePath, rtl::fs::TOpenMode::ReadWrite);
    } else if (Client->XferCommand != ftpcAPPE && Client->RestartPos > 0 && size >= 0) {
      stream = std::make_unique<TFtpFileStream>(Client->FilePath, rtl::fs::TOpenMode::Write);
    } else {
      stream = std::make_unique<TFtpFileStream>(Client->FilePath, rtl::fs::TOpenMode::Create);
      size = 0;
    }
    if (size >= Client->RestartPos) size = stream->Seek(Client->RestartPos);
    if (size != Client->RestartPos) throw FtpServerException(kResumeFailed);
    Client->DataStream = std::move(stream);
    Client->OwnsStream = true;
    Client->WriteLock = Client->FilePath;
    FWriteLocks.insert(Client->WriteLock);
  } catch (const rtl::Exception& E) {
    Client->TransferResult = E.Message;
    Client->Aborting = true;
    PostToClient(MsgAbortTransfer, Client);
  }
}

void TFtpServer::ClientStorSessionConnected(rtl::TObject* Sender, WORD Error) {
  TFtpCtrlSocket* Client = SessionOfData(Sender);
  if (!Client || !Client->XferPending) return;
  if (Error != 0) {
    // The connect failed; the close that follows answers with this error.
    Client->DataError = Error;
    Client->DataSessionActive = false;
    return;
  }
  Client->DataSessionActive = true;
  Client->ByteCount = 0;
  NoteDataProgress(Client);
  ArmWatch(Client);
  if (Client->Aborting) return;
  try {
    TriggerStorSessionConnected(Client, Client->DataSocket(), Error);
  } catch (const rtl::Exception& E) {
    Client->TransferResult = E.Message;
    Client->Aborting = true;
    PostToClient(MsgAbortTransfer, Client);
    return;
  }
  // Opened now, not at the first data: an upload of no bytes still creates (or empties) its file.
  OpenStorStream(Client);
}

void TFtpServer::ClientStorDataAvailable(rtl::TObject* Sender, WORD Error) {
  TFtpCtrlSocket* Client = SessionOfData(Sender);
  if (!Client) return;
  TAsyncSocket* data = Client->DataSocket();
  char* buf = Client->XferBuffer();
  const int len = data->Receive(buf, kFtpTransferBufferSize);
  if (len <= 0) return;
  if (!Client->XferPending || Client->Aborting) return;  // dropped
  NoteDataProgress(Client);
  try {
    TriggerStorDataAvailable(Client, data, buf, len, Error);
    if (!Client->OwnsStream) OpenStorStream(Client);
    if (Client->Aborting || !Client->DataStream) return;
    Client->ByteCount += len;
    Client->DataStream->Write(buf, len);
  } catch (const rtl::Exception& E) {
    Client->TransferResult = E.Message;
    Client->Aborting = true;
    PostToClient(MsgAbortTransfer, Client);
  }
}

void TFtpServer::ClientStorSessionClosed(rtl::TObject* Sender, WORD Error) {
  TFtpCtrlSocket* Client = SessionOfData(Sender);
  if (!Client || !Client->XferPending || !IsStorCode(Client->XferCommand)) return;
  TAsyncSocket* data = Client->DataSocket();
  const WORD error = Error != 0 ? Error : Client->DataError;
  // The file is closed before the reply: whoever reacts to "226 File received ok" finds it whole.
  EndTransferState(Client);
  ArmWatch(Client);
  if (Client->Aborting && Client->TransferResult.empty()) return;  // ended without a reply
  try {
    TriggerStorSessionClosed(Client, data, error);
  } catch (const rtl::Exception&) {
    // The application's failure does not cost the transfer its reply.
  }
  std::string answer;
  if (Client->Aborting)
    answer = "426 Connection closed; " + Client->TransferResult + ".";
  else if (error != 0)
    answer = "426 Connection closed; transfer aborted. Error " + WinsockErrorWithCode(error);
  else if (Client->XferCommand == ftpcSTOU)
    answer = "250 '" + Client->FileShown + "': file created.";
  else
    answer = "226 File received ok";
  SendAnswer(Client, answer);
}

void TFtpServer::CommandSTOR(TFtpCtrlSocket* Client, TFtpString&, TFtpString& Params,
                             TFtpString& Answer) {
  if (Client->XferPending) {
    Answer = std::string("501 Cannot STOR. ") + kTransferInProgress;
    return;
  }
  try {
    Client->FileName = Backslashed(Params);
    Client->OwnsStream = false;
    const TFtpTarget target = ResolveTarget(Client, Params);
    std::string path = target.Local;
    bool Allowed = true;
    TriggerValidatePut(Client, path, Allowed);
    if (!Allowed) {
      Answer = "501 Permission Denied";
    } else {
      const std::string missing = DataChannelMissing(Client);
      if (!missing.empty()) throw FtpServerException(missing);
      Client->FilePath = path;
      Client->FileShown = target.Shown;
      OpenStorConnection(Client, ftpcSTOR);
      Answer = "150 Opening data connection for " + Params + ".";
    }
  } catch (const rtl::Exception& E) {
    Answer = "501 Cannot STOR. " + E.Message;
  }
  PassiveCleanup(Client, Answer);
}

void TFtpServer::CommandAPPE(TFtpCtrlSocket* Client, TFtpString&, TFtpString& Params,
                             TFtpString& Answer) {
  if (Client->XferPending) {
    Answer = "550 APPE failed.";
    return;
  }
  try {
    Client->FileName = Backslashed(Params);
    Client->OwnsStream = false;
    const TFtpTarget target = ResolveTarget(Client, Params);
    std::string path = target.Local;
    bool Allowed = true;
    TriggerValidatePut(Client, path, Allowed);
    if (!Allowed) {
      Answer = "500 Cannot APPE.";
    } else {
      if (!DataChannelMissing(Client).empty()) throw FtpServerException("no data connection");
      Client->FilePath = path;
      Client->FileShown = target.Shown;
      // The offset is known before the connection may already be there (and open the file).
      Client->RestartPos = std::max<int64_t>(0, FileSizeOf(path));
      OpenStorConnection(Client, ftpcAPPE);
      Answer = "150 APPE supported.  Ready to append file \"" + Params + "\" at offset " +
               std::to_string(Client->RestartPos) + ".";
    }
  } catch (const rtl::Exception&) {
    Answer = "550 APPE failed.";
  }
  PassiveCleanup(Client, Answer);
}

void TFtpServer::CommandSTOU(TFtpCtrlSocket* Client, TFtpString&, TFtpString&, TFtpString& Answer) {
  if (Client->XferPending) {
    Answer = std::string("501 Cannot STOU. ") + kTransferInProgress;
    return;
  }
  try {
    TFtpString Unique;
    TriggerGetUniqueFileName(Client, Unique);
    TFtpTarget target;
    bool chosen = false;
    if (!Unique.empty()) {
      target = ResolveTarget(Client, Unique);
      chosen = target.Kind == rtl::fs::TFileKind::Missing;
    }
    // Otherwise "FTP" and four hexadecimal digits, a name not yet taken in the current folder.
    static thread_local std::minstd_rand random{std::random_device{}()};
    for (int attempt = 0; !chosen && attempt < 100; ++attempt) {
      char name[16];
      std::snprintf(name, sizeof name, "FTP%04X", static_cast<unsigned>(random() & 0xFFFF));
      target = ResolveTarget(Client, name);
      chosen = target.Kind == rtl::fs::TFileKind::Missing;
    }
    if (!chosen) throw FtpServerException("No unique file name available");
    Unique = target.Shown;
    Client->FileName = Backslashed(Unique);
    Client->OwnsStream = false;
    std::string path = target.Local;
    bool Allowed = true;
    TriggerValidatePut(Client, path, Allowed);
    if (!Allowed) {
      Answer = "501 Permission Denied";
    } else {
      const std::string missing = DataChannelMissing(Client);
      if (!missing.empty()) throw FtpServerException(missing);
      if (FWriteLocks.count(path)) throw rtl::EInOutError(rtl::fs::ErrorText(EBUSY), EBUSY);
      // Made here, and only if the name is still free: two STOU never share a file.
      auto stream = std::make_unique<TFtpFileStream>(path, rtl::fs::TOpenMode::CreateNew);
      Client->FilePath = path;
      Client->FileShown = Unique;
      Client->DataStream = std::move(stream);
      Client->OwnsStream = true;
      Client->WriteLock = path;
      FWriteLocks.insert(path);
      Client->RestartPos = 0;
      OpenStorConnection(Client, ftpcSTOU);
      Answer = "150 Opening data connection for " + Unique + ".";
    }
  } catch (const rtl::Exception& E) {
    if (!Client->XferPending) CloseDataStream(Client);
    Answer = "501 Cannot STOU. " + E.Message;
  }
  PassiveCleanup(Client, Answer);
}

// ---- downloads ----

void TFtpServer::CommandRETR(TFtpCtrlSocket* Client, TFtpString&, TFtpString& Params,
                             TFtpString& Answer) {
  if (Client->XferPending) {
    Answer = std::string("501 Cannot RETR. ") + kTransferInProgress;
    return;
  }
  try {
    Client->OwnsStream = false;
    Client->DataStream.reset();
    Client->FileName = Backslashed(Params);
    const TFtpTarget target = ResolveTarget(Client, Params);
    std::string path = target.Local;
    bool Allowed = true;
    TriggerValidateGet(Client, path, Allowed);
    if (!Allowed) {
      Answer = "500 Cannot RETR.";
    } else {
      const std::string missing = DataChannelMissing(Client);
      if (!missing.empty()) throw FtpServerException(missing);
      Client->FilePath = path;
      Client->FileShown = target.Shown;
      BeginTransfer(Client, ftpcRETR);
      Answer = "150 Opening data connection for " + Params + ".";
      bool DelayedSend = false;
      if (OnGetProcessing) OnGetProcessing(this, Client, DelayedSend);
      // The connection is opened once this reply is on its way.
      if (!DelayedSend) StartSendLater(Client);
      ArmWatch(Client);
    }
  } catch (const rtl::Exception& E) {
    Answer = "501 Cannot RETR. " + E.Message;
  }
  PassiveCleanup(Client, Answer);
}

void TFtpServer::StartSendLater(TFtpCtrlSocket* Client) {
  PostToClient(MsgStartSend, Client);
}

void TFtpServer::OpenRetrConnection(TFtpCtrlSocket* Client) {
  // A transfer given up meanwhile (ABOR, a time-out) or already under way starts nothing.
  if (!Client->XferPending || IsStorCode(Client->XferCommand)) return;
  TAsyncSocket* data = Client->DataSocket();
  if (Client->DataSessionActive || Client->PassiveWaiting || data->State() == wsConnecting) return;
  Client->EndOfData = false;
  try {
    if (Client->PassiveMode) {
      ArmPassiveRetr(Client);
      if (Client->PassiveAccepted)
        ClientRetrSessionConnected(data, 0);
      else
        Client->PassiveWaiting = true;
    } else {
      ConnectActive(Client);
    }
  } catch (const rtl::Exception& E) {
    FailTransfer(Client, E.Message);
  }
  ArmWatch(Client);
}

void TFtpServer::ClientRetrSessionConnected(rtl::TObject* Sender, WORD Error) {
  TFtpCtrlSocket* Client = SessionOfData(Sender);
  if (!Client || !Client->XferPending || IsStorCode(Client->XferCommand)) return;
  TAsyncSocket* data = Client->DataSocket();
  Client->DataSessionActive = Error == 0;
  if (Client->Aborting) return;
  if (Error != 0) {
    // The close that follows the failed connect answers with this.
    Client->TransferResult = "Client data socket connection Error - " + WinsockErrorText(Error) +
                             " - " + Client->DataAddr + ":" + Client->DataPort;
    Client->Aborting = true;
    PostToClient(MsgAbortTransfer, Client);
    return;
  }
  NoteDataProgress(Client);
  ArmWatch(Client);
  try {
    TriggerRetrSessionConnected(Client, data, Error);
    if (!Client->OwnsStream && !Client->FilePath.empty() && !Client->DataStream) {
      if (KindOf(Client->FilePath) != rtl::fs::TFileKind::Regular) {
        Client->TransferResult = "File not found: \"" + Client->FileShown + "\"";
        Client->Aborting = true;
        PostToClient(MsgAbortTransfer, Client);
        return;
      }
      auto stream = std::make_unique<TFtpFileStream>(Client->FilePath, rtl::fs::TOpenMode::Read);
      // A restart beyond the end would send nothing and call it a success.
      if (Client->RestartPos > stream->Size() ||
          stream->Seek(Client->RestartPos) != Client->RestartPos)
        throw FtpServerException(kResumeFailed);
      Client->DataStream = std::move(stream);
      Client->OwnsStream = true;
    }
  } catch (const rtl::Exception& E) {
    Client->TransferResult = E.Message;
    Client->Aborting = true;
    PostToClient(MsgAbortTransfer, Client);
    return;
  }
  Client->ByteCount = 0;
  SendNextBlock(Client, data);
}

// One block in flight at a time: the next is read when the system has taken the previous one.
void TFtpServer::SendNextBlock(TFtpCtrlSocket* Client, TAsyncSocket* Data) {
  try {
    char* buf = Client->XferBuffer();
    const int64_t n =
        Client->DataStream ? Client->DataStream->Read(buf, kFtpTransferBufferSize) : 0;
    if (n > 0) {
      Client->ByteCount += n;
      Data->Send(buf, static_cast<int>(n));
    } else if (!Client->EndOfData) {
      Client->EndOfData = true;
      PostToClient(MsgCloseData, Client);
    }
  } catch (const rtl::Exception& E) {
    if (!Client->XferPending) return;
    Client->TransferResult = E.Message;
    Client->Aborting = true;
    PostToClient(MsgAbortTransfer, Client);
  }
}

void TFtpServer::ClientRetrDataSent(rtl::TObject* Sender, WORD Error) {
  TFtpCtrlSocket* Client = SessionOfData(Sender);
  if (!Client || !Client->XferPending || Client->Aborting || Client->EndOfData) return;
  NoteDataProgress(Client);
  try {
    TriggerRetrDataSent(Client, Client->DataSocket(), Error);
    if (Error != 0) throw FtpServerException("Send Error - " + WinsockErrorText(Error));
  } catch (const rtl::Exception& E) {
    // Reported once, by the closing reply.
    Client->TransferResult = E.Message;
    Client->Aborting = true;
    PostToClient(MsgAbortTransfer, Client);
    return;
  }
  SendNextBlock(Client, Client->DataSocket());
}

void TFtpServer::ClientRetrSessionClosed(rtl::TObject* Sender, WORD Error) {
  TFtpCtrlSocket* Client = SessionOfData(Sender);
  if (!Client || !Client->XferPending || IsStorCode(Client->XferCommand)) return;
  TAsyncSocket* data = Client->DataSocket();
  WORD error = Error != 0 ? Error : Client->DataError;
  // A peer that closed before the last block was handed over did not get the whole file.
  if (error == 0 && !Client->Aborting && !Client->EndOfData && Client->DataSessionActive)
    error = WSAECONNABORTED;
  EndTransferState(Client);
  ArmWatch(Client);
  if (Client->Aborting && Client->TransferResult.empty()) return;  // ended without a reply
  if (Client->Aborting)
    SendAnswer(Client, "501 Cannot RETR. " + Client->TransferResult);
  else if (error != 0)
    SendAnswer(Client, "501 Cannot RETR. Error - " + WinsockErrorText(error));
  else
    SendAnswer(Client, "226 File sent ok");
  try {
    TriggerRetrSessionClosed(Client, data, error);
  } catch (const rtl::Exception&) {
  }
}

// ---- deferred steps ----

void TFtpServer::AbortTransfer(TFtpCtrlSocket* Client) {
  if (!Client->XferPending) return;
  TAsyncSocket* data = Client->DataSocket();
  if (Client->PassiveMode) ReleasePasvPort(Client);
  data->Shutdown(2);
  if (data->State() != wsClosed) data->Close();  // its close handler answers
  if (!Client->XferPending) return;
  ClearDataHandlers(data);
  FinishTransfer(Client, 0);
}

void TFtpServer::CloseData(TFtpCtrlSocket* Client) {
  if (!Client->XferPending) return;
  if (Client->PassiveMode) ReleasePasvPort(Client);
  // The peer's close after our end of data then ends the transfer.
  Client->DataSocket()->Shutdown(1);
}

void TFtpServer::DataTimedOut(TFtpCtrlSocket* Client) {
  if (!Client->XferPending) return;
  Client->TransferResult = "Timeout";
  Client->Aborting = true;
  PostToClient(MsgAbortTransfer, Client);
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
