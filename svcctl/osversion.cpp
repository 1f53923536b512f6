#include "svcctl/osversion.h"

#include <cstring>

#include "platform/win/win.h"
#include "rtl/exception.h"

namespace {

constexpr DWORD kPlatformNT = 2;  // VER_PLATFORM_WIN32_NT

OSVERSIONINFOA ReadVersion() {
  SetLastError(0);
  OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  if (!GetVersionExA(&info)) {
    const DWORD code = GetLastError();
    throw rtl::EOSError(OSErrorText(code), code);
  }
  return info;
}

}  // namespace

bool IsWinNT() {
  return ReadVersion().dwPlatformId == kPlatformNT;
}

bool IsWin2000OrLater() {
  const OSVERSIONINFOA v = ReadVersion();
  return v.dwPlatformId == kPlatformNT && v.dwMajorVersion > 4;
}

bool IsWin2000Family() {
  const OSVERSIONINFOA v = ReadVersion();
  return v.dwPlatformId == kPlatformNT && v.dwMajorVersion == 5;
}
