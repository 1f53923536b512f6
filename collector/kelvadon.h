// The collector service module: the service "KelvadonManager" as a host of the collection engine
// (engine.h). It reads the settings file, opens the engine's listeners at creation, starts the
// FTP server and the report timer when the service starts, stops them when it stops, and writes
// what the engine reports as error events (and, in the foreground, shows every event on the
// terminal). It checks every record against the alert rules of its settings and queues the
// engine's mail jobs; a stop sends what is queued first, within a bounded time. Every handler
// runs on the main thread, one message at a time.
#pragma once

#include <string>

#include "collector/engine.h"
#include "platform/msg/timer.h"
#include "platform/service/svcmgr.h"
#include "rtl/datetime.h"
#include "settings/inifilecompo.h"

class TKelvadonManager : public TService, private TCollectorHost {
 public:
  explicit TKelvadonManager(rtl::TComponent* Owner);
  ~TKelvadonManager() override;

  TServiceController ServiceControllerEntry() override;

  // ---- components (owned) ----
  TIniFileCompo* WatchIni;
  TTimer* TimWatchReport;
  TCollectorEngine* Engine;  // the listeners, the FTP server, intake, discovery, the day files

  // ---- service state ----
  std::string NetSocketFailure;  // why the record listener did not open ("" when it did)
  rtl::TDateTime LastReportDate = 0;

  // ---- handlers ----
  void ServiceCreate(rtl::TObject* Sender);
  void ServiceStart(TService* Sender, bool& Started);
  void ServiceExecute(TService* Sender);
  void ServiceStop(TService* Sender, bool& Stopped);
  void ServiceShutdown(TService* Sender);
  // Once a minute while the service runs: on the first tick of a new calendar date (dates compared,
  // times ignored) with mail set up ("FromMail", "ToMail" and "SmtpServer" non-empty), queues the
  // report mail of LastReportDate's day when "ReportSend" is "1", moves LastReportDate to now and
  // queues the restart. Without mail set up nothing happens and LastReportDate stays. The timer is
  // off while the tick runs.
  void TimWatchReportTimer(rtl::TObject* Sender);

  // Runs the alert rules of section "Mail" for a record (called by EventWrite for code 50):
  // nothing when "ToMail", "FromMail" or "SmtpServer" is empty; else the values of the rules that
  // fire, with the mail settings and the alert text, are queued as one mail job. Raises when the
  // queue is full (the job is not queued).
  void ChkRecvString(const std::string& Line) override;

  // The engine's writer of records and events (see TCollectorEngine::EventWrite).
  void EventWrite(int Code, const std::string& Text) { Engine->EventWrite(Code, Text); }

 private:
  // TCollectorHost: a failure becomes the error event "<Word> System Error <class> : <message>";
  // in the foreground every event is shown on the terminal too.
  void HandlerFailed(const char* Word, const char* ClassName, const std::string& Message) override;
  void EventWritten(int Code, const std::string& Text, rtl::TDateTime When) override;
  // An event the event file could not take: one line on standard error (scmd's log under scmd),
  // "yyyy/mm/dd hh:mm:ss not in the event file: " and the text.
  void EventNotWritten(int Code, const std::string& Text, rtl::TDateTime When) override;
  // True once a stop's time for mail has run out.
  bool Terminating() override;

  // The restart job: the restart event, then the restart helper beside the program, started
  // detached (in the foreground only the event). Nothing once a stop has begun: the service is
  // going anyway, and a stop asked for by someone else must not turn into a restart. Raises
  // rtl::EOSError when the helper cannot be started.
  void RestartService();

  // A stop, or with Shutdown a shutdown, begins (once): its time for mail runs BudgetMs from the
  // tick count Since, and the listeners close. A later call (a shutdown during a stop) only brings
  // the end of that time nearer, when its own end comes earlier.
  void BeginStop(DWORD Since, DWORD BudgetMs, bool Shutdown);
  // STOP_PENDING again, with the time left for mail (and a spare) as the wait hint.
  void ReportStopPending();
  // After the service loop: sends the queued mail within the stop's time, reporting STOP_PENDING
  // after each job, and writes one error event with the number of jobs dropped then.
  void FinishMail();

  bool stopping_ = false;
  bool shutdown_ = false;   // the stop is a shutdown of the machine
  DWORD stopBudgetMs_ = 0;  // the stop's time for mail in all
  DWORD stopDeadline_ = 0;  // tick count at which the stop's time for mail runs out
};

// The program's one module.
extern TKelvadonManager* KelvadonManager;
