// The kernel32-like core the system is written against: Windows types, error codes and the
// per-thread last error (base.h), libraries by DLL name and the program's folder (module.h), the
// version and computer name (sysinfo.h), system error texts (errtext.h), code-page conversion
// (codepage.h), the process token (token.h), network connection bookkeeping (wnet.h) and
// detached program start (shell.h). Every function reports as its Windows namesake does, through
// its result and the last error, and is safe from any thread.
#pragma once

#include "platform/win/base.h"
#include "platform/win/codepage.h"
#include "platform/win/errtext.h"
#include "platform/win/module.h"
#include "platform/win/shell.h"
#include "platform/win/sysinfo.h"
#include "platform/win/token.h"
#include "platform/win/wnet.h"
