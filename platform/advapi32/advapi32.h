// Everything the security library offers under its Windows names: the service API (winsvc.h),
// the security functions (security.h) and the event log (eventlog.h).
#pragma once

#include "platform/advapi32/eventlog.h"
#include "platform/advapi32/security.h"
#include "platform/advapi32/winsvc.h"
