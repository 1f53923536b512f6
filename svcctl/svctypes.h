// The service manager's view of a service's configuration and status: its enumerations, how each
// maps to and from the system's numbers (tables in svctypes.cpp), and the status snapshot. The
// types live in namespace ntsvc, beside the service framework's own TStartType and TServiceType
// (platform/service), since programs link both. Pure functions; values.
#pragma once

#include <cstdint>
#include <string>

#include "platform/advapi32/winsvc.h"
#include "rtl/classes.h"
#include "rtl/set.h"

namespace ntsvc {

enum TStartType { BOOT_START, SYSTEM_START, AUTO_START, DEMAND_START, DISABLED };
enum TErrorType { ERROR_IGNORE, ERROR_NORMAL, ERROR_SEVERE, ERROR_CRITICAL };
enum TServiceType {
  KERNEL_DRIVER,
  FILE_SYSTEM_DRIVER,
  ADAPTER,
  RECOGNIZER_DRIVER,
  WIN32_OWN_PROCESS,
  WIN32_SHARE_PROCESS,
  INTERACTIVE_PROCESS,
};
using TServiceTypes = rtl::TSet<TServiceType>;
enum TServiceState {
  STOPPED,
  START_PENDING,
  STOP_PENDING,
  RUNNING,
  CONTINUE_PENDING,
  PAUSE_PENDING,
  PAUSED,
};
enum TServiceControl { ACCEPT_STOP, ACCEPT_PAUSE_CONTINUE, ACCEPT_SHUTDOWN };
using TServiceControls = rtl::TSet<TServiceControl>;
enum TServiceControlCode {
  CONTROL_STOP,
  CONTROL_PAUSE,
  CONTROL_CONTINUE,
  CONTROL_INTERROGATE,
  CONTROL_SHUTDOWN,
};

// System start type 0-3 as the same member, anything else DISABLED.
TStartType StartTypeFromSystem(DWORD value);
// SYSTEM_START..DISABLED as 1-4, BOOT_START as 0.
DWORD StartTypeToSystem(TStartType value);
// System error control 0, 2, 3 as the same member, anything else (1 included) ERROR_NORMAL.
TErrorType ErrorTypeFromSystem(DWORD value);
DWORD ErrorTypeToSystem(TErrorType value);
// Each known type bit as its member; unknown bits are dropped, both ways.
TServiceTypes ServiceTypesFromSystem(DWORD bits);
DWORD ServiceTypesToSystem(TServiceTypes types);
// System state − 1; an unknown state reads STOPPED.
TServiceState ServiceStateFromSystem(DWORD value);
// The accepted-control bits STOP, PAUSE_CONTINUE, SHUTDOWN; others are dropped.
TServiceControls ServiceControlsFromSystem(DWORD bits);
// The system control 1-5 for a known code, else 0.
DWORD ControlCodeToSystem(TServiceControlCode code);

// A snapshot of a service's status, made by one query and owned by whoever asked for it.
class TServiceStatusClass : public rtl::TObject {
 public:
  std::string ServiceName;
  std::string DisplayName;
  TServiceTypes ServiceType;
  TServiceState CurrentState = STOPPED;
  TServiceControls ControlsAccepted;
  uint32_t Win32ExitCode = 0;
  uint32_t ServiceSpecificExitCode = 0;
  uint32_t CheckPoint = 0;
  uint32_t WaitHint = 0;
};

}  // namespace ntsvc
