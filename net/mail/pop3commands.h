// The POP3 command table: for every command the client sends, its keyword, the protocol states in
// which it may start, what follows the keyword, the protocol state a positive reply leads to and
// what the client does with that reply. Also the line builder with its check that no argument
// smuggles a line end onto the wire, and the fixed order of a high-level request's steps. Plain
// data and pure functions, safe from any thread.
#pragma once

#include <string>
#include <string_view>

#include "net/mail/pop3types.h"

namespace net::mail {

// The protocol states in which a command may start.
enum class TPop3Allowed {
  Always,           // QUIT
  UpToWaitingUser,  // USER, AUTH: pop3Disconnected or pop3WaitingUser
  UpToWaitingPass,  // PASS, RPOP: up to pop3WaitingPass
  WaitingUser,      // APOP: exactly pop3WaitingUser
  Transaction,      // the mailbox commands: pop3Transaction
};

// What follows the keyword (after one blank).
enum class TPop3Argument {
  None,
  UserName,          // UserName trimmed
  PassWord,          // PassWord trimmed
  UserAndDigest,     // UserName trimmed, a blank, the APOP digest
  Mechanism,         // the AUTH mechanism
  MsgNumIfPositive,  // MsgNum when above 0, else nothing (and no blank)
  MsgNum,            // MsgNum
  MsgNumAndLines,    // MsgNum, a blank, MsgLines
};

// What a positive reply leads to.
enum class TPop3Outcome {
  Done,        // the request ends with 0
  Counts,      // STAT: MsgCount and MsgSize from the reply
  List,        // with an argument MsgNum and MsgSize from the reply, else LIST data lines
  Uidl,        // with an argument MsgNum and MsgUidl from the reply, else UIDL data lines
  Message,     // RETR, TOP: the message's lines
  Last,        // LAST: MsgNum and MsgSize from the reply
  Exchange,    // AUTH: the mechanism's exchange goes on
  SessionEnd,  // QUIT: the request ends when the server closes the session
};

// The protocol state a positive reply leaves as it is.
constexpr int kPop3StateUnchanged = -1;

struct TPop3CommandEntry {
  TPop3Request Request;
  const char*
      Keyword;  // sent first; also names the command in "-ERR <keyword> command invalid now"
  TPop3Allowed Allowed;
  int NewState;  // a TPop3ProtocolState entered on a positive reply, or kPop3StateUnchanged
  TPop3Argument Argument;
  TPop3Outcome Outcome;
};

// The entry of a command request. REQUIRES: rq is not rqConnect or rqLogin (they send no
// command of their own); raises Pop3Exception otherwise.
const TPop3CommandEntry& Pop3Command(TPop3Request rq);

// True when a command with this rule may start in state.
bool Pop3Allows(TPop3Allowed allowed, TPop3ProtocolState state);

// What a command's argument is made of.
struct TPop3Arguments {
  std::string UserName;
  std::string PassWord;
  std::string Digest;     // APOP
  std::string Mechanism;  // AUTH
  int MsgNum = 0;
  int MsgLines = 0;
};

// The command line without its line end: keyword, and for an argument a blank and the argument
// (numbers in decimal without padding; user name and password trimmed of bytes 0x00-0x20 at both
// ends).
std::string Pop3CommandLine(const TPop3CommandEntry& entry, const TPop3Arguments& args);

// True when line holds no CR, LF or NUL, so that it goes out as exactly one command line.
bool Pop3LineIsSafe(std::string_view line);

// The steps of a high-level request are taken in this order, whatever order their bits have.
inline constexpr TPop3Step kPop3StepOrder[] = {
    pop3StepConnect, pop3StepUser, pop3StepPass, pop3StepRpop, pop3StepDele,
    pop3StepNoop,    pop3StepList, pop3StepRset, pop3StepApop, pop3StepRetr,
    pop3StepTop,     pop3StepStat, pop3StepUidl, pop3StepLast, pop3StepQuit,
};

}  // namespace net::mail
