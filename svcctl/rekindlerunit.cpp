// The restart helper's steps and its program block.
#include "svcctl/rekindlerunit.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "platform/advapi32/eventlog.h"
#include "rtl/exception.h"
#include "rtl/messages.h"

namespace {

constexpr char kModuleName[] = "Rekindler";

void SleepMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Runs body, then always cleanup; an exception of body passes on, cleanup's only when body ended
// normally (as nested try/finally blocks do).
template <typename Body, typename Cleanup>
void Finally(Body body, Cleanup cleanup) {
  try {
    body();
  } catch (...) {
    try {
      cleanup();
    } catch (...) {
    }
    throw;
  }
  cleanup();
}

// The run-time's report of an exception nothing handled.
std::string Report(const char* className, const std::string& message) {
  const char* ending = !message.empty() && message.back() > '.' ? "." : "";
  const int size =
      std::snprintf(nullptr, 0, rtl::msg::kExceptionReportFormat, className, kModuleName,
                    reinterpret_cast<void*>(&RestartMain), message.c_str(), ending);
  std::string text(static_cast<size_t>(size > 0 ? size : 0) + 1, '\0');
  std::snprintf(text.data(), text.size(), rtl::msg::kExceptionReportFormat, className, kModuleName,
                reinterpret_cast<void*>(&RestartMain), message.c_str(), ending);
  text.pop_back();
  return text;
}

// To stderr and, as one error event, to the event log (stdio is /dev/null when the collector
// starts the helper).
void ShowReport(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
  if (HANDLE source = RegisterEventSourceA(nullptr, kModuleName)) {
    const char* strings[] = {text.c_str()};
    ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(source);
  }
}

}  // namespace

TDm::TDm(rtl::TComponent* owner) : rtl::TComponent(owner), NtsWatch(new TNTServiceManager(this)) {
  NtsWatch->Name = "NtsWatch";
  // The stored values.
  NtsWatch->BeginLoading();
  NtsWatch->SetActiveManager(false);
  NtsWatch->SetActiveService(false);
  NtsWatch->SetManagerAccess(kDefaultManagerAccess);
  NtsWatch->SetServiceAccess(kDefaultServiceAccess);
  NtsWatch->EndLoading();
}

ntsvc::TServiceState TDm::RestartQueryState() {
  ntsvc::TServiceState state = ntsvc::STOPPED;
  Finally(
      [&] {
        NtsWatch->SetActiveManager(false);
        NtsWatch->SetServiceName(kRestartServiceName);
        NtsWatch->SetActiveManager(true);
        NtsWatch->SetActiveService(true);
        state = NtsWatch->QueryStatus()->CurrentState;
      },
      [&] { NtsWatch->SetActiveManager(false); });
  return state;
}

void TDm::RestartStopService(ntsvc::TServiceControlCode Code) {
  Finally(
      [&] {
        Finally(
            [&] {
              NtsWatch->SetManagerAccess(kRestartManagerAccess);
              NtsWatch->SetActiveManager(true);
              NtsWatch->SetServiceName(kRestartServiceName);
              NtsWatch->SetActiveService(true);
              NtsWatch->Control(Code);
              SleepMs(kStopWaitMs);
              // A stop may take longer than the fixed wait: the start must not come too early.
              for (int waited = 0; waited < kStopPollLimitMs; waited += kStopPollMs) {
                if (NtsWatch->QueryStatus()->CurrentState == ntsvc::STOPPED) break;
                SleepMs(kStopPollMs);
              }
            },
            [&] { NtsWatch->SetActiveService(false); });
      },
      [&] { NtsWatch->SetActiveManager(false); });
}

void TDm::RestartStartService() {
  Finally(
      [&] {
        Finally(
            [&] {
              NtsWatch->SetManagerAccess(kRestartManagerAccess);
              NtsWatch->SetServiceName(kRestartServiceName);
              NtsWatch->SetActiveManager(true);
              NtsWatch->SetActiveService(true);
              NtsWatch->StartService();
            },
            [&] { NtsWatch->SetActiveService(false); });
      },
      [&] { NtsWatch->SetActiveManager(false); });
}

int RestartMain() {
  try {
    TDm dm;
    if (dm.RestartQueryState() == ntsvc::RUNNING) dm.RestartStopService(ntsvc::CONTROL_STOP);
    dm.RestartStartService();
    return 0;
  } catch (const rtl::Exception& e) {
    ShowReport(Report(e.ClassName(), e.Message));
  } catch (const std::exception& e) {
    ShowReport(Report("Exception", e.what()));
  }
  return 1;
}
