// The limits of the collector's mail, each named once: the job queue's length, the time a stop
// gives the mail still queued, and the mail clients' time-out.
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

// Seconds a mail client waits without progress (SmtpWatch, PopWatch).
inline constexpr int kMailTimeoutSeconds = 15;

}  // namespace collector
