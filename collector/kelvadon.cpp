#include "collector/kelvadon.h"

#include <cmath>

#include "collector/alertjob.h"
#include "collector/alertrules.h"
#include "collector/dayfiles.h"
#include "collector/maillimits.h"
#include "collector/messages.h"
#include "collector/reportjob.h"
#include "net/socket/socklib.h"
#include "platform/win/errtext.h"
#include "platform/win/shell.h"
#include "rtl/files.h"
#include "settings/keys.h"

TKelvadonManager* KelvadonManager = nullptr;

namespace {

// The restart helper, beside the program: it stops this service and starts it again.
constexpr char kRestartHelper[] = "Rekindler";

// What a stop's wait hint adds to the time left for mail: the rest of the stop.
constexpr DWORD kStopWaitHintSpareMs = 5000;

// Text for standard error: each line break becomes lineBreak, and other control bytes (an agent's
// file name, say) never get there.
std::string ErrorOutputText(const std::string& Text, const char* lineBreak) {
  std::string text;
  for (char c : Text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '\r') continue;
    if (c == '\n')
      text += lineBreak;
    else
      text += (b < 0x20 && c != '\t') || b == 0x7F ? '?' : c;
  }
  return text;
}

// True when port is a number that comes to 0 as the socket layer reads it ("0", "00").
bool NamesPortZero(const std::string& port) {
  return !port.empty() && SocketIsDigit(port[0]) && SocketAtoi(port) == 0;
}

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

  TimWatchReport = new TTimer(this);
  TimWatchReport->SetEnabled(false);
  TimWatchReport->SetInterval(60000);
  TimWatchReport->OnTimer = [this](rtl::TObject* s) { TimWatchReportTimer(s); };

  Engine = new TCollectorEngine(this, *this);

  OnCreate = [this](rtl::TObject* s) { ServiceCreate(s); };
  OnStart = [this](TService* s, bool& started) { ServiceStart(s, started); };
  OnExecute = [this](TService* s) { ServiceExecute(s); };
  OnStop = [this](TService* s, bool& stopped) { ServiceStop(s, stopped); };
  OnShutdown = [this](TService* s) { ServiceShutdown(s); };
}

TKelvadonManager::~TKelvadonManager() {
  // The components call back into this module: they go while it is still whole.
  DestroyComponents();
  if (KelvadonManager == this) KelvadonManager = nullptr;
}

TServiceController TKelvadonManager::ServiceControllerEntry() {
  KelvadonManager = this;
  return &ServiceControlHandler;
}

void TKelvadonManager::HandlerFailed(const char* Word, const char* ClassName,
                                     const std::string& Message) {
  Engine->EventWrite(collector::kCodeError,
                     std::string(Word) + " System Error " + ClassName + " : " + Message);
}

void TKelvadonManager::EventWritten(int Code, const std::string& Text, rtl::TDateTime When) {
  if (!Foreground()) return;
  // The text's lines indented under the heading.
  ForegroundLine(collector::EventEntryHead(Code, When) + "\n  " + ErrorOutputText(Text, "\n  "));
}

void TKelvadonManager::EventNotWritten(int Code, const std::string& Text, rtl::TDateTime When) {
  // One line, with the time the entry would have had.
  ErrorOutputLine(collector::EventStamp(When) +
                  " not in the event file: " + ErrorOutputText(Text, " "));
}

// ---- life cycle ----

void TKelvadonManager::ServiceCreate(rtl::TObject* Sender) {
  KelvadonManager = this;
  // What the handlers rely on exists whatever fails below.
  Engine->ProgramDir = rtl::ProgramDir();
  LastReportDate = rtl::Now();

  Engine->Guarded("ServiceCreate", [&] {
    SetPriorityClass(GetCurrentProcess(), IDLE_PRIORITY_CLASS);
    rtl::TFormatSettings& fs = rtl::FormatSettings();
    fs.ShortDateFormat = "yyyy/mm/dd";
    fs.LongDateFormat = "yyyy/mm/dd";
    fs.DateSeparator = '/';
    // Loaded once: a change to the file takes effect at the next start.
    WatchIni->SetFileName(Engine->ProgramDir + settings::kIniFileName);
    Engine->CollectorPort = WatchIni->ReadString(settings::kPort.Section, settings::kPort.Ident,
                                                 settings::kPort.Default);
  });
  // Port 0 would have the system pick any free port, which no agent knows: it is refused as a
  // port that does not exist is, and neither listener opens.
  if (NamesPortZero(Engine->CollectorPort)) {
    NetSocketFailure = std::string("Invalid Port: the setting ") + settings::kPort.Ident + " of [" +
                       settings::kPort.Section + "] is 0";
    HandlerFailed("ServiceCreate", "ESocketException", NetSocketFailure);
    return;
  }
  // Each listener on its own: one that cannot open leaves the other working.
  NetSocketFailure = Engine->Guarded("ServiceCreate", [&] { Engine->OpenNetSocket(); });
  Engine->Guarded("ServiceCreate", [&] { Engine->OpenNetBroadCast(); });
}

void TKelvadonManager::ServiceStart(TService* Sender, bool& Started) {
  std::string port;  // the port being opened, named on the terminal when that fails
  std::string reason = Engine->Guarded("ServiceStart", [&] {
    // A collector that cannot take records must not report itself running (the reason is
    // already in the event file, from ServiceCreate).
    if (Engine->NetSocket->State() != wsListening) {
      port = "TCP port " + Engine->CollectorPort + " (records)";
      throw ESocketException("NetSocket is not listening on port " + Engine->CollectorPort);
    }
    port = "TCP port " + Engine->KelvadonFtp->Port + " (FTP)";
    Engine->KelvadonFtp->Start();
    port.clear();
    TimWatchReport->SetEnabled(true);
    EventWrite(collector::kCodeInfo, "Service Started");
  });
  if (reason.empty()) return;
  Started = false;
  if (Engine->NetSocket->State() != wsListening && !NetSocketFailure.empty())
    reason = NetSocketFailure;
  ForegroundLine("cannot start: " +
                 (port.empty() ? reason : port + " cannot be opened: " + reason));
}

void TKelvadonManager::ServiceExecute(TService* Sender) {
  while (!ServiceThread()->Terminated())
    ServiceThread()->ProcessRequests(true);
  FinishMail();
}

// A stop may be handled inside a mail's wait (the wait handles the thread's messages): it only
// closes the listeners and starts the clock; the queued mail is sent once the service loop ends.
void TKelvadonManager::ServiceStop(TService* Sender, bool& Stopped) {
  BeginStop(ControlArrived(), collector::kStopMailBudgetMs, false);
}

// The shutdown's time for mail is counted from its arrival, as the service manager counts its own.
void TKelvadonManager::ServiceShutdown(TService* Sender) {
  BeginStop(ControlArrived(), collector::kShutdownMailBudgetMs, true);
}

void TKelvadonManager::BeginStop(DWORD Since, DWORD BudgetMs, bool Shutdown) {
  const DWORD deadline = Since + BudgetMs;
  if (stopping_) {
    // A shutdown during a stop: the time for mail ends at the earlier of the two ends.
    if (static_cast<int32_t>(deadline - stopDeadline_) >= 0) return;
    shutdown_ = Shutdown;
    stopBudgetMs_ = BudgetMs;
    stopDeadline_ = deadline;
    ReportStopPending();
    return;
  }
  stopping_ = true;
  shutdown_ = Shutdown;
  stopBudgetMs_ = BudgetMs;
  stopDeadline_ = deadline;
  TimWatchReport->SetEnabled(false);
  // The queued mail goes out after the service loop, within the stop's time.
  Engine->MailJobs->Hold();
  Engine->Stop();
  ReportStopPending();
}

void TKelvadonManager::ReportStopPending() {
  const auto left = static_cast<int32_t>(stopDeadline_ - GetTickCount());
  WaitHint = static_cast<DWORD>(left > 0 ? left : 0) + kStopWaitHintSpareMs;
  ReportStatus();
}

bool TKelvadonManager::Terminating() {
  return stopping_ && static_cast<int32_t>(GetTickCount() - stopDeadline_) >= 0;
}

void TKelvadonManager::FinishMail() {
  BeginStop(GetTickCount(), collector::kStopMailBudgetMs, false);
  if (Engine->MailJobs->Waiting() == 0) return;
  // STOP_PENDING is reported again after each job, with what is left of the time as its hint.
  const size_t dropped = Engine->MailJobs->RunRemaining([this] { return Terminating(); },
                                                        [this] { ReportStopPending(); });
  if (dropped > 0)
    HandlerFailed(shutdown_ ? "ServiceShutdown" : "ServiceStop", "Exception",
                  std::to_string(dropped) + " queued mail jobs dropped: the " +
                      (shutdown_ ? "shutdown's " : "stop's ") +
                      std::to_string(stopBudgetMs_ / 1000) + " s for mail ran out");
}

// ---- alert mail ----

void TKelvadonManager::ChkRecvString(const std::string& Line) {
  if (!collector::MailConfigured(*WatchIni)) return;
  std::vector<std::string> fired = collector::FiredRules(*WatchIni, Line);
  if (fired.empty()) return;
  auto job = std::make_unique<collector::TAlertJob>(
      collector::ReadMailEnv(*WatchIni), settings::ReadSetting(*WatchIni, settings::kBody), Line,
      std::move(fired));
  Engine->QueueAlert(std::move(job));
}

// ---- change of day ----

void TKelvadonManager::TimWatchReportTimer(rtl::TObject* Sender) {
  if (!collector::MailConfigured(*WatchIni)) return;
  TimWatchReport->SetEnabled(false);
  Engine->Guarded("TimWatchReportTimer", [&] {
    const rtl::TDateTime now = rtl::Now();
    if (std::floor(LastReportDate) >= std::floor(now)) return;  // calendar dates only
    // The day's jobs come after the alerts queued before them, and are never refused.
    if (settings::ServiceFlagOn(settings::ReadSetting(*WatchIni, settings::kReportSend))) {
      Engine->MailJobs->AddAlways(std::make_unique<collector::TReportJob>(
          collector::ReadMailEnv(*WatchIni),
          Engine->ProgramDir + collector::kRecordFolder + collector::DayFileName(LastReportDate),
          [this](const char* ClassName, const std::string& Message) {
            EventWrite(collector::kCodeError, std::string("TimWatchReportTimer MailSend Error ") +
                                                  ClassName + " : " + Message);
          }));
    }
    LastReportDate = now;
    Engine->MailJobs->AddAlways(
        std::make_unique<collector::TRestartJob>([this] { RestartService(); }));
  });
  TimWatchReport->SetEnabled(!stopping_);
}

void TKelvadonManager::RestartService() {
  if (stopping_) return;
  EventWrite(collector::kCodeInfo, collector::msg::kRestartEvent);
  if (Application().Foreground()) return;
  const std::string helper = Engine->ProgramDir + kRestartHelper;
  const auto started = reinterpret_cast<UINT_PTR>(
      ShellExecuteA(0, nullptr, helper.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (started <= 32) {
    const DWORD error = GetLastError();
    throw rtl::EOSError(OSErrorText(error), error);
  }
}
