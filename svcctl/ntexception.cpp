#include "svcctl/ntexception.h"

#include <cstring>

void RaiseNTException(const std::string& message, int32_t code) {
  throw ENTException(message, code);
}

void RaiseLastNTError() {
  const DWORD code = GetLastError();
  if (code != 0) RaiseNTException(SysErrorText(code), static_cast<int32_t>(code));
}

void RaiseNTErrorCode(DWORD code) {
  if (code != 0) RaiseNTException(NTErrorMessage(code), static_cast<int32_t>(code));
}

std::string SysErrorText(DWORD code) {
  char buffer[1024];
  std::memset(buffer, 0, sizeof buffer);
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                 buffer, sizeof buffer, nullptr);
  return std::to_string(code) + ": " + std::string(buffer, strnlen(buffer, sizeof buffer));
}

std::string NTErrorMessage(DWORD code) {
  if (const char* text = NetManagementText(code))
    return std::to_string(code) + ": " + (*text ? text : "Unknown error");
  return SysErrorText(code);
}
