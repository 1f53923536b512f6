// A stand-in for the security library that lacks ChangeServiceConfig2W: the other service-control
// functions each fail with a last error of their own (4200 + their place), so a test sees that a
// forwarder hands on what the function gave.
#include "platform/advapi32/winsvc.h"

namespace {

template <typename T>
T Fail(DWORD error, T result) {
  SetLastError(error);
  return result;
}

SC_HANDLE Marker() {
  return reinterpret_cast<SC_HANDLE>(static_cast<uintptr_t>(0x4711));
}

}  // namespace

KW_ADVAPI32_API SC_HANDLE OpenSCManagerA(LPCSTR, LPCSTR, DWORD) {
  return Fail(4201, Marker());
}
KW_ADVAPI32_API SC_HANDLE OpenServiceA(SC_HANDLE, LPCSTR, DWORD) {
  return Fail(4202, Marker());
}
KW_ADVAPI32_API BOOL CloseServiceHandle(SC_HANDLE) {
  return Fail(4203, TRUE);
}
KW_ADVAPI32_API BOOL QueryServiceStatus(SC_HANDLE, LPSERVICE_STATUS) {
  return Fail(4204, FALSE);
}
KW_ADVAPI32_API BOOL StartServiceA(SC_HANDLE, DWORD, LPCSTR*) {
  return Fail(4205, FALSE);
}
