// The mappings between the service manager's enumerations and the system's numbers.
#include "svcctl/svctypes.h"

#include <iterator>

namespace ntsvc {
namespace {

struct TypeBit {
  TServiceType type;
  DWORD bit;
};
constexpr TypeBit kTypeBits[] = {
    {KERNEL_DRIVER, SERVICE_KERNEL_DRIVER},
    {FILE_SYSTEM_DRIVER, SERVICE_FILE_SYSTEM_DRIVER},
    {ADAPTER, SERVICE_ADAPTER},
    {RECOGNIZER_DRIVER, SERVICE_RECOGNIZER_DRIVER},
    {WIN32_OWN_PROCESS, SERVICE_WIN32_OWN_PROCESS},
    {WIN32_SHARE_PROCESS, SERVICE_WIN32_SHARE_PROCESS},
    {INTERACTIVE_PROCESS, SERVICE_INTERACTIVE_PROCESS},
};

struct ControlBit {
  TServiceControl control;
  DWORD bit;
};
constexpr ControlBit kControlBits[] = {
    {ACCEPT_STOP, SERVICE_ACCEPT_STOP},
    {ACCEPT_PAUSE_CONTINUE, SERVICE_ACCEPT_PAUSE_CONTINUE},
    {ACCEPT_SHUTDOWN, SERVICE_ACCEPT_SHUTDOWN},
};

// The system's number for each TServiceControlCode, by ordinal.
constexpr DWORD kControlCodes[] = {
    SERVICE_CONTROL_STOP,        SERVICE_CONTROL_PAUSE,    SERVICE_CONTROL_CONTINUE,
    SERVICE_CONTROL_INTERROGATE, SERVICE_CONTROL_SHUTDOWN,
};

}  // namespace

TStartType StartTypeFromSystem(DWORD value) {
  return value <= SERVICE_DEMAND_START ? static_cast<TStartType>(value) : DISABLED;
}

DWORD StartTypeToSystem(TStartType value) {
  return value >= SYSTEM_START && value <= DISABLED ? static_cast<DWORD>(value)
                                                    : SERVICE_BOOT_START;
}

TErrorType ErrorTypeFromSystem(DWORD value) {
  switch (value) {
    case SERVICE_ERROR_IGNORE:
    case SERVICE_ERROR_SEVERE:
    case SERVICE_ERROR_CRITICAL:
      return static_cast<TErrorType>(value);
    default:
      return ERROR_NORMAL;
  }
}

DWORD ErrorTypeToSystem(TErrorType value) {
  return static_cast<DWORD>(value);
}

TServiceTypes ServiceTypesFromSystem(DWORD bits) {
  TServiceTypes types;
  for (const TypeBit& t : kTypeBits)
    if (bits & t.bit) types.Include(t.type);
  return types;
}

DWORD ServiceTypesToSystem(TServiceTypes types) {
  DWORD bits = 0;
  for (const TypeBit& t : kTypeBits)
    if (types.Contains(t.type)) bits |= t.bit;
  return bits;
}

TServiceState ServiceStateFromSystem(DWORD value) {
  return value >= SERVICE_STOPPED && value <= SERVICE_PAUSED ? static_cast<TServiceState>(value - 1)
                                                             : STOPPED;
}

TServiceControls ServiceControlsFromSystem(DWORD bits) {
  TServiceControls controls;
  for (const ControlBit& c : kControlBits)
    if (bits & c.bit) controls.Include(c.control);
  return controls;
}

DWORD ControlCodeToSystem(TServiceControlCode code) {
  const auto index = static_cast<size_t>(code);
  return index < std::size(kControlCodes) ? kControlCodes[index] : 0;
}

}  // namespace ntsvc
