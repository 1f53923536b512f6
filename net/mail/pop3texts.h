// The fixed texts of the POP3 client: what it raises, what it stores in ErrorMessage and
// LastResponse, and what it shows through OnDisplay. Written exactly as callers and logs know
// them (including "Disconneced").
#pragma once

namespace net::mail {

inline constexpr char kPop3NotReady[] = "POP3 component not ready";
inline constexpr char kPop3NotConnected[] = "POP3 component not connected";
inline constexpr char kPop3AlreadyConnected[] = "POP3 component already connected";
// A high-level request whose first step connects, started on an open session.
inline constexpr char kPop3ChainAlreadyConnected[] = "pop3 component already connected";
inline constexpr char kPop3NoHandler[] = "Program error: FNext is nil";
inline constexpr char kPop3NoApop[] = "-ERR Server does not support APOP (no timestamp)";
inline constexpr char kPop3BadTopLines[] = "Invalid MsgLines for TOP command";
inline constexpr char kPop3Disconnected[] = "-ERR Disconneced unexpectedly";
inline constexpr char kPop3Aborted[] = "426 Operation aborted.";
inline constexpr char kPop3Timeout[] = "426 Timeout";
// Followed by the server's reply to AUTH CRAM-MD5 / CRAM-SHA1 when it carries no challenge.
inline constexpr char kPop3BadMd5Challenge[] = "500 Malformed MD5 Challenge: ";
inline constexpr char kPop3BadSha1Challenge[] = "-ERR Malformed SHA1 Challenge: ";
// "-ERR " + keyword + one of these.
inline constexpr char kPop3InvalidNow[] = " command invalid now";
inline constexpr char kPop3BadArgument[] = " command argument holds CR, LF or NUL";

// Request results besides 0 (success) and socket error codes.
constexpr int kPop3Refused = 500;       // a "-" reply, a malformed challenge, a local failure
constexpr int kPop3AbortedCode = 426;   // aborted, or the synchronous wait timed out
constexpr int kPop3ClosedCode = 10004;  // the session closed while the request was pending

}  // namespace net::mail
