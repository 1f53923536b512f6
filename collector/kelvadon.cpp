#include "collector/kelvadon.h"

#include "collector/dayfiles.h"
#include "rtl/files.h"
#include "settings/keys.h"

TKelvadonManager* KelvadonManager = nullptr;

namespace {

// Handed to the service manager: forwards every control code to the module.
void ServiceControlHandler(DWORD CtrlCode) {
  if (KelvadonManager) KelvadonManager->Controller(CtrlCode);
}

}  // namespace

TKelvadonManager::TKelvadonManager(rtl::TComponent* Owner) : TService(Owner) {
  Name = "KelvadonManager";
  DisplayName = "KelvadonManager";
  StartType = stAuto;
  ErrorControl = ecNormal;
  AllowStop = true;
  AllowPause = true;
  WaitHint = 5000;

  WatchIni = new TIniFileCompo(this);
  WatchIni->AutoUpdate = false;
  WatchIni->UpdateAtOnce = true;
  WatchIni->SetCaseSensitive(false);
  WatchIni->SetDefaultFolder(dfUser);

  NetSocket = new TAsyncSocket(this);
  // Agents log on in bursts: the queue takes as many connections as the system allows.
  NetSocket->ListenBacklog = kLargestListenBacklog;
  NetSocket->OnSessionAvailable = [this](rtl::TObject* s, WORD e) {
    NetSocketSessionAvailable(s, e);
  };
  NetSocketGate = new TAcceptGate(this, NetSocket);
  NetBroadCast = new TAsyncSocket(this);
  NetBroadCast->OnDataAvailable = [this](rtl::TObject* s, WORD e) {
    NetBroadCastDataAvailable(s, e);
  };

  TimWatchReport = new TTimer(this);
  TimWatchReport->SetEnabled(false);
  TimWatchReport->SetInterval(60000);

  KelvadonFtp = new TFtpServer(this);
  KelvadonFtp->Addr = "0.0.0.0";
  KelvadonFtp->Port = "9021";
  KelvadonFtp->ListenBackLog = kLargestListenBacklog;
  KelvadonFtp->Banner = "220 KelvadonManager FTP Server ready.";
  KelvadonFtp->MaxClients = 0;
  KelvadonFtp->SetPasvPortRangeStart(16384);
  KelvadonFtp->SetPasvPortRangeSize(0);
  KelvadonFtp->OnAuthenticate = [this](rtl::TObject* s, TFtpCtrlSocket* c, const TFtpString& u,
                                       const TFtpString& p,
                                       bool& a) { KelvadonFtpAuthenticate(s, c, u, p, a); };
  KelvadonFtp->OnAnswerToClient = [this](rtl::TObject* s, TFtpCtrlSocket* c, TFtpString& a) {
    KelvadonFtpAnswerToClient(s, c, a);
  };
  // The collector's own files are out of the agents' reach.
  auto change = [this](rtl::TObject* s, TFtpCtrlSocket* c, TFtpString& f, bool& a) {
    KelvadonFtpValidateChange(s, c, f, a);
  };
  KelvadonFtp->OnValidatePut = change;
  KelvadonFtp->OnValidateDele = change;
  KelvadonFtp->OnValidateRmd = change;
  KelvadonFtp->OnValidateRnFr = change;
  KelvadonFtp->OnValidateRnTo = change;
  KelvadonFtp->OnValidateMfmt = change;
  KelvadonFtp->OnMakeDirectory = [this](rtl::TObject* s, TFtpCtrlSocket* c, const TFtpString& d,
                                        bool& a) { KelvadonFtpMakeDirectory(s, c, d, a); };
  KelvadonFtp->OnValidateGet = [this](rtl::TObject* s, TFtpCtrlSocket* c, TFtpString& f, bool& a) {
    KelvadonFtpValidateRead(s, c, f, a);
  };
  KelvadonFtp->OnCalculateMd5 = [this](rtl::TObject* s, TFtpCtrlSocket* c, TFtpString& f,
                                       TFtpString& m,
                                       bool& a) { KelvadonFtpCalculateMd5(s, c, f, m, a); };
  KelvadonFtp->OnAcceptPaused = [this](rtl::TObject* s, WORD e) { KelvadonFtpAcceptPaused(s, e); };

  OnCreate = [this](rtl::TObject* s) { ServiceCreate(s); };
  OnStart = [this](TService* s, bool& started) { ServiceStart(s, started); };
  OnExecute = [this](TService* s) { ServiceExecute(s); };
  OnStop = [this](TService* s, bool& stopped) { ServiceStop(s, stopped); };
}

TKelvadonManager::~TKelvadonManager() {
  // Connections still open go with the module; their descriptors go back to the process.
  NetSocketGate->Budget().Give(static_cast<int>(ClientList.size()));
  ClientList.clear();
  // The components call back into this module: they go while it is still whole.
  DestroyComponents();
  if (KelvadonManager == this) KelvadonManager = nullptr;
}

TServiceController TKelvadonManager::ServiceControllerEntry() {
  KelvadonManager = this;
  return &ServiceControlHandler;
}

void TKelvadonManager::WriteError(const char* Word, const char* ClassName,
                                  const std::string& Message) {
  EventWrite(collector::kCodeError,
             std::string(Word) + " System Error " + ClassName + " : " + Message);
}

std::string TKelvadonManager::Guarded(const char* Word, const std::function<void()>& body) {
  try {
    body();
    return std::string();
  } catch (const rtl::Exception& E) {
    WriteError(Word, E.ClassName(), E.Message);
    return E.Message;
  } catch (const std::exception& e) {
    WriteError(Word, "Exception", e.what());
    return e.what();
  }
}

// ---- life cycle ----

void TKelvadonManager::ServiceCreate(rtl::TObject* Sender) {
  KelvadonManager = this;
  // What the handlers rely on exists whatever fails below.
  ProgramDir = rtl::ProgramDir();
  LastReportDate = rtl::Now();
  ClientList.clear();

  Guarded("ServiceCreate", [&] {
    SetPriorityClass(GetCurrentProcess(), IDLE_PRIORITY_CLASS);
    rtl::TFormatSettings& fs = rtl::FormatSettings();
    fs.ShortDateFormat = "yyyy/mm/dd";
    fs.LongDateFormat = "yyyy/mm/dd";
    fs.DateSeparator = '/';
    // Loaded once: a change to the file takes effect at the next start.
    WatchIni->SetFileName(ProgramDir + settings::kIniFileName);
    CollectorPort = WatchIni->ReadString(settings::kPort.Section, settings::kPort.Ident,
                                         settings::kPort.Default);
  });
  // Each listener on its own: one that cannot open leaves the other working.
  NetSocketFailure = Guarded("ServiceCreate", [&] {
    NetSocket->SetAddr("0.0.0.0");
    NetSocket->SetPort(CollectorPort);
    NetSocket->SetProto("tcp");
    NetSocket->Listen();
  });
  SenderFilter = 0;  // the listen address 0.0.0.0: every sender is answered
  Guarded("ServiceCreate", [&] {
    NetBroadCast->SetAddr("0.0.0.0");
    NetBroadCast->SetPort(CollectorPort);
    NetBroadCast->SetProto("udp");
    NetBroadCast->Listen();
  });
}

void TKelvadonManager::ServiceStart(TService* Sender, bool& Started) {
  std::string port;  // the port being opened, named on the terminal when that fails
  std::string reason = Guarded("ServiceStart", [&] {
    // A collector that cannot take records must not report itself running (the reason is
    // already in the event file, from ServiceCreate).
    if (NetSocket->State() != wsListening) {
      port = "TCP port " + CollectorPort + " (records)";
      throw ESocketException("NetSocket is not listening on port " + CollectorPort);
    }
    port = "TCP port " + KelvadonFtp->Port + " (FTP)";
    KelvadonFtp->Start();
    port.clear();
    TimWatchReport->SetEnabled(true);
    EventWrite(collector::kCodeInfo, "Service Started");
  });
  if (reason.empty()) return;
  Started = false;
  if (NetSocket->State() != wsListening && !NetSocketFailure.empty()) reason = NetSocketFailure;
  ForegroundLine("cannot start: " +
                 (port.empty() ? reason : port + " cannot be opened: " + reason));
}

void TKelvadonManager::ServiceExecute(TService* Sender) {
  while (!ServiceThread()->Terminated())
    ServiceThread()->ProcessRequests(true);
}

void TKelvadonManager::ServiceStop(TService* Sender, bool& Stopped) {
  // Agent connections already accepted stay open; they end with their peers or the process.
  NetBroadCast->Close();
  NetSocketGate->Reset();
  NetSocket->Close();
  KelvadonFtp->Stop();
  KelvadonFtp->DisconnectAll();
}

// ---- day files ----

void TKelvadonManager::EchoEvent(int Code, const std::string& Text, rtl::TDateTime When) {
  if (!Foreground() || (Code != collector::kCodeInfo && Code != collector::kCodeError)) return;
  // The text's lines indented under the heading; other control bytes (an agent's file name, say)
  // never reach the terminal.
  std::string text;
  for (char c : Text) {
    if (c == '\r') continue;
    const auto b = static_cast<unsigned char>(c);
    text += (b < 0x20 && c != '\n' && c != '\t') || b == 0x7F ? '?' : c;
    if (c == '\n') text += "  ";
  }
  ForegroundLine(collector::EventEntryHead(Code, When) + "\n  " + text);
}

void TKelvadonManager::EventWrite(int Code, const std::string& Text) {
  // Both clock reads come first: a record goes to the file of the day it arrived.
  const rtl::TDateTime now = rtl::Now();
  EchoEvent(Code, Text, now);
  std::string failure;
  try {
    if (Code == collector::kCodeRecord)
      collector::AppendRecordLine(ProgramDir, Text, now);
    else
      collector::AppendEventEntry(ProgramDir, Code, Text, now);
    return;
  } catch (const rtl::Exception& E) {
    failure = std::string("EventWrite System Error ") + E.ClassName() + " : " + E.Message;
  } catch (const std::exception& e) {
    failure = std::string("EventWrite System Error Exception : ") + e.what();
  }
  // The failure of an error event is not reported again: that would repeat without end.
  if (Code == collector::kCodeError || writingError_) return;
  writingError_ = true;
  EventWrite(collector::kCodeError, failure);
  writingError_ = false;
}
