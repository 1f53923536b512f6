// The SMTP client's hard limits, fixed texts and default time-out, in one place. Sizes are fixed;
// the owner may change the time-out per component (TSyncSmtpCli::Timeout).
#pragma once

#include <cstddef>
#include <cstdint>

// The longest reply line accepted, without its CR LF. Reply lines are cut from a receive buffer of
// kSmtpReceiveBufferSize bytes (the line, its CR LF and a closing zero byte); a longer line ends
// the pending request with 500 and closes the session, since nothing after it can be trusted.
constexpr int kSmtpMaxReplyLine = 4095;
constexpr int kSmtpReceiveBufferSize = kSmtpMaxReplyLine + 3;

// Message lines handed to the owner's hooks (OnGetData, OnHeaderLine) go through a buffer of this
// size: a body line of the owner is at most kSmtpLineBufferSize - 1 bytes. A header line longer
// than that gets a buffer of its own length plus kSmtpLineBufferSize, so no line is ever cut.
constexpr int kSmtpLineBufferSize = 1024;

// The width a message's lines are kept to where they may be broken: folded header lines, wrapped
// text lines and base64 lines.
constexpr int kSmtpLineWidth = 76;

// A text part that holds a line longer than this many bytes is sent quoted-printable.
constexpr int kSmtpMaxTextLine = 998;

// Success codes kept for the pending command (the list ends with 0).
constexpr int kSmtpMaxOkCodes = 16;

// Reply codes outside 1..kSmtpMaxReplyCode, and lines without a code, count as this failure code.
constexpr int kSmtpMaxReplyCode = 65535;
constexpr int kSmtpNoReplyCode = 20600;

// Failure codes of the client's own making.
constexpr int kSmtpLocalFailure = 500;  // socket failure, exception, over-long reply line
constexpr int kSmtpAborted = 426;       // a chain ended by Abort, a synchronous time-out
constexpr int kSmtpSessionClosed = 10004;

// The synchronous client waits at most this long in one MsgWait before it looks at its deadline.
constexpr uint32_t kSmtpWaitSliceMs = 1000;

// Seconds a synchronous request may stay without progress (TSyncSmtpCli::Timeout).
constexpr int kSmtpDefaultTimeout = 15;

// The X-Mailer line names the component and its version.
constexpr int kSmtpVersionMajor = 2;
constexpr int kSmtpVersionMinor = 55;

// The login's own failures. The first two follow "500 "; a malformed challenge text is followed by
// the server's reply. A 334 reply of at most kSmtpShortestChallenge characters holds no challenge.
inline constexpr char kSmtpNoEsmtp[] = "ESMTP not supported.";
inline constexpr char kSmtpNoAuthType[] = "No Authentication Type Selected.";
inline constexpr char kSmtpAuthUndetermined[] = "500 Authentication Type could not be determined.";
inline constexpr char kSmtpBadMd5Challenge[] = "500 Malformed MD5 Challege: ";
inline constexpr char kSmtpBadSha1Challenge[] = "500 Malformed SHA1 Challege: ";
inline constexpr char kSmtpBadNtlmChallenge[] = "500 Malformed NtlmMsg2: ";
constexpr size_t kSmtpShortestChallenge = 4;
