// The POP3 client's hard limits and its default time-out, in one place. Plain constants.
#pragma once

#include <cstdint>

namespace net::mail {

// The receive buffer of a session. A line is taken whole when its text (without its line end) is
// at most kPop3LineCut bytes; a longer line is handed on in pieces of at most kPop3LineCut bytes
// (see pop3lines.h), so the buffer never grows.
constexpr int kPop3ReceiveBufferSize = 4096;
constexpr int kPop3LineCut = 4093;

// A header field taken from a retrieved message (HeaderSubject, HeaderCc, ...) keeps at most this
// many bytes, however many lines or continuation lines make it up.
constexpr int kPop3HeaderValueLimit = 10000;

// The synchronous client gives up a request after this many seconds without a received line.
constexpr int kPop3DefaultTimeoutSeconds = 15;

// While it waits, the synchronous client blocks at most this long at a time before it looks at
// its deadline and at the application's state again.
constexpr uint32_t kPop3WaitSliceMs = 1000;

// The longest time-out the synchronous client measures (about 24 days: tick counts are compared
// within half their range); a larger Timeout counts as this.
constexpr uint32_t kPop3LongestTimeoutMs = 0x7FFFFFFF;

}  // namespace net::mail
