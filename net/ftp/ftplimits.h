// The FTP server's hard limits and default time-outs, in one place. The server copies the
// time-outs into fields of its own (tests shorten them); the sizes are fixed.
#pragma once

#include <cstdint>

// Size of a session's command buffer: a command line of 2047 bytes without its line feed is the
// longest accepted; a longer one is answered "500 Command too long" and ends the session.
constexpr int kFtpCommandBufferSize = 2048;

// Transfers move their data through a buffer of their own (never the command buffer): one read of
// an upload and one block of a download are at most this size.
constexpr int kFtpTransferBufferSize = 256 * 1024;

// Entries of the command table.
constexpr int kFtpMaxCommands = 37;

// A session whose replies not yet taken by the system exceed this many bytes stops reading
// commands until they have gone out (a client that sends without reading cannot grow the queue).
constexpr int kFtpMaxUnsentReplyBytes = 64 * 1024;

// Before a session is closed, input still pending is read and dropped, so that the close does not
// turn into a reset that destroys the last reply on its way; at most this many bytes, and after
// "500 Command too long" for at most kFtpDrainTimeMs.
constexpr int kFtpDrainLimitBytes = 64 * 1024;
constexpr uint32_t kFtpDrainTimeMs = 1000;

// A session asked to close waits at most this long for its last replies to go out (a peer that
// reads nothing cannot keep it).
constexpr uint32_t kFtpCloseLingerMs = 10 * 1000;

// A refused PASS is answered after this delay; the session ends after kFtpMaxLoginFailures
// refusals.
constexpr uint32_t kFtpLoginFailDelayMs = 1000;
constexpr int kFtpMaxLoginFailures = 3;

// A session must log in within kFtpLoginTimeoutMs of connecting; a logged-in session that sends
// no command for kFtpIdleTimeoutMs, or whose data connection makes no progress for
// kFtpDataTimeoutMs, is ended with "421 Timeout.".
constexpr uint32_t kFtpLoginTimeoutMs = 60 * 1000;
constexpr uint32_t kFtpIdleTimeoutMs = 300 * 1000;
constexpr uint32_t kFtpDataTimeoutMs = 300 * 1000;

// A transfer command whose data connection is not up within this time gets its closing reply
// ("426 Connection closed; Timeout."); a passive listener that nobody connects to and no transfer
// command uses is closed after the same time.
constexpr uint32_t kFtpDataConnectTimeoutMs = 60 * 1000;

// MD5 digests of files are computed this many bytes at a time, one step per message of the
// server's window, so the other sessions are served between the steps of a large file.
constexpr int64_t kFtpMd5StepBytes = 1024 * 1024;

// A session can hold its control connection, a data connection, a passive listener and a file
// at once: it takes that many descriptors from the process's budget (acceptgate.h), and is only
// told "421 Too many users connected." when the budget has no room for them. The session ceiling
// keeps one descriptor of the budget for that refusal.
constexpr int kFtpDescriptorsPerSession = 4;
