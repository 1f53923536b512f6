// The collector service module: the service "KelvadonManager" as a host of the collection engine
// (engine.h). It reads the settings file, opens the engine's listeners at creation, starts the
// FTP server and the report timer when the service starts, stops them when it stops, and writes
// what the engine reports as error events (and, in the foreground, shows every event on the
// terminal). Every handler runs on the main thread, one message at a time.
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

  // The engine's writer of records and events (see TCollectorEngine::EventWrite).
  void EventWrite(int Code, const std::string& Text) { Engine->EventWrite(Code, Text); }

 private:
  // TCollectorHost: a failure becomes the error event "<Word> System Error <class> : <message>";
  // in the foreground every event is shown on the terminal too.
  void HandlerFailed(const char* Word, const char* ClassName, const std::string& Message) override;
  void EventWritten(int Code, const std::string& Text, rtl::TDateTime When) override;
};

// The program's one module.
extern TKelvadonManager* KelvadonManager;
