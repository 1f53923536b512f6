// The limits of the collector's mail, each named once: the job queue's length, the time a stop or
// a shutdown gives the mail still queued, and the mail clients' time-out.
#pragma once

#include <cstddef>

#include "platform/win/base.h"

namespace collector {

// Jobs that may wait behind the one being sent; a job beyond them is refused (and its record is
// written all the same).
inline constexpr size_t kMaxWaitingMailJobs = 1000;

// What a stop gives the queued mail in all, from the stop request on: jobs still waiting then are
// dropped (counted in one error event), and a mail under way gives up its wait.
inline constexpr DWORD kStopMailBudgetMs = 20000;

// On a shutdown of the machine the service manager kills what still runs kShutdownKillMs after it
// asked for the shutdown. The mail's time, counted from the shutdown's arrival, ends
// kShutdownMarginMs before that: the dropped jobs' event, STOPPED and the exit come in that time.
inline constexpr DWORD kShutdownKillMs = 20000;
inline constexpr DWORD kShutdownMarginMs = 4000;
inline constexpr DWORD kShutdownMailBudgetMs = kShutdownKillMs - kShutdownMarginMs;

// Seconds a mail client waits without progress (SmtpWatch, PopWatch).
inline constexpr int kMailTimeoutSeconds = 15;

}  // namespace collector
