// The restart helper's data module: one service manager, NtsWatch, and the three steps that
// restart the collector service "KelvadonManager" (query, stop, start). Each step raises
// ENTException when a system call fails; its handles are closed on the way out. RestartMain runs
// the whole restart and reports a failure. One thread, no message loop.
#pragma once

#include <memory>

#include "svcctl/servicemanager.h"
#include "svcctl/svctypes.h"

// The service the helper restarts.
inline constexpr char kRestartServiceName[] = "KelvadonManager";
// The manager access of the stop and start steps: SC_MANAGER_CONNECT, SC_MANAGER_ENUMERATE_SERVICE.
constexpr uint32_t kRestartManagerAccess = 5;
// After the stop request: a fixed wait, then a poll for STOPPED, bounded.
constexpr int kStopWaitMs = 2000;
constexpr int kStopPollMs = 250;
constexpr int kStopPollLimitMs = 30000;

class TDm : public rtl::TComponent {
 public:
  explicit TDm(rtl::TComponent* owner = nullptr);

  // The service's state. The service handle stays open for the next step; the manager is closed.
  ntsvc::TServiceState RestartQueryState();
  // Sends Code, waits kStopWaitMs, then polls every kStopPollMs (up to kStopPollLimitMs) until
  // the service is STOPPED; closes the service and the manager.
  void RestartStopService(ntsvc::TServiceControlCode Code);
  // Starts the service with no arguments; closes what is open.
  void RestartStartService();

  // Owned by the module.
  TNTServiceManager* NtsWatch;
};

// Query, stop when RUNNING, start. Returns the exit code: 0, or 1 after the report of an
// exception on stderr and as an error event of the source "Rekindler".
int RestartMain();
