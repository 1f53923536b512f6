// The one exception of the service-control and security library, ENTException, the three ways of
// raising it, and how an error code becomes text: the system's message for ordinary codes, a
// fixed English table for the network management codes from 2100 on. Pure functions; the last
// error they read is the calling thread's.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win/win.h"
#include "rtl/exception.h"

// A failure of the library: the message, and the system's error code (or the library's own, 0 or
// -1, for its own messages).
class ENTException : public rtl::Exception {
 public:
  ENTException(std::string message, int32_t errorCode) : rtl::Exception(std::move(message)) {
    ErrorCode = errorCode;  // after the base has taken the message
  }
  const char* ClassName() const override { return "ENTException"; }
  int32_t ErrorCode = 0;
};

// Raises ENTException(message, code).
[[noreturn]] void RaiseNTException(const std::string& message, int32_t code);
// Reads the calling thread's last error: 0 raises nothing; any other code raises ENTException
// with SysErrorText(code) and the code. Call it right after the failed call, on its thread.
void RaiseLastNTError();
// 0 raises nothing; any other code raises ENTException with NTErrorMessage(code) and the code.
void RaiseNTErrorCode(DWORD code);

// The code in decimal, ": " and the system's message for it (with its own line end; empty when
// the system has none).
std::string SysErrorText(DWORD code);
// For the network management codes of the table (2102-2690, with gaps): the code, ": " and the
// table's text; for every other code SysErrorText.
std::string NTErrorMessage(DWORD code);

// The table's text for a code, or null when the table has no row for it.
const char* NetManagementText(DWORD code);
