#include "net/mail/pop3commands.h"

#include "rtl/cp932.h"

namespace net::mail {

namespace {

using A = TPop3Allowed;
using G = TPop3Argument;
using O = TPop3Outcome;
constexpr int kSame = kPop3StateUnchanged;

// One entry per command request, in the order of TPop3Request.
constexpr TPop3CommandEntry kCommands[] = {
    {rqUser, "USER", A::UpToWaitingUser, pop3WaitingPass, G::UserName, O::Done},
    {rqPass, "PASS", A::UpToWaitingPass, pop3Transaction, G::PassWord, O::Done},
    {rqRpop, "RPOP", A::UpToWaitingPass, pop3Transaction, G::PassWord, O::Done},
    {rqQuit, "QUIT", A::Always, pop3Disconnected, G::None, O::SessionEnd},
    {rqStat, "STAT", A::Transaction, kSame, G::None, O::Counts},
    {rqList, "LIST", A::Transaction, kSame, G::MsgNumIfPositive, O::List},
    {rqRetr, "RETR", A::Transaction, kSame, G::MsgNum, O::Message},
    {rqTop, "TOP", A::Transaction, kSame, G::MsgNumAndLines, O::Message},
    {rqDele, "DELE", A::Transaction, kSame, G::MsgNum, O::Done},
    {rqNoop, "NOOP", A::Transaction, kSame, G::None, O::Done},
    {rqLast, "LAST", A::Transaction, kSame, G::None, O::Last},
    {rqRset, "RSET", A::Transaction, kSame, G::None, O::Done},
    {rqUidl, "UIDL", A::Transaction, kSame, G::MsgNumIfPositive, O::Uidl},
    {rqApop, "APOP", A::WaitingUser, pop3Transaction, G::UserAndDigest, O::Done},
    {rqAuth, "AUTH", A::UpToWaitingUser, pop3WaitingUser, G::Mechanism, O::Exchange},
};

}  // namespace

const TPop3CommandEntry& Pop3Command(TPop3Request rq) {
  for (const TPop3CommandEntry& entry : kCommands)
    if (entry.Request == rq) return entry;
  throw Pop3Exception("No POP3 command for request " + std::to_string(static_cast<int>(rq)));
}

bool Pop3Allows(TPop3Allowed allowed, TPop3ProtocolState state) {
  switch (allowed) {
    case A::Always:
      return true;
    case A::UpToWaitingUser:
      return state <= pop3WaitingUser;
    case A::UpToWaitingPass:
      return state <= pop3WaitingPass;
    case A::WaitingUser:
      return state == pop3WaitingUser;
    case A::Transaction:
      return state == pop3Transaction;
  }
  return false;
}

std::string Pop3CommandLine(const TPop3CommandEntry& entry, const TPop3Arguments& args) {
  std::string line = entry.Keyword;
  switch (entry.Argument) {
    case G::None:
      break;
    case G::UserName:
      line += " " + rtl::Trim(args.UserName);
      break;
    case G::PassWord:
      line += " " + rtl::Trim(args.PassWord);
      break;
    case G::UserAndDigest:
      line += " " + rtl::Trim(args.UserName) + " " + args.Digest;
      break;
    case G::Mechanism:
      line += " " + args.Mechanism;
      break;
    case G::MsgNumIfPositive:
      if (args.MsgNum > 0) line += " " + std::to_string(args.MsgNum);
      break;
    case G::MsgNum:
      line += " " + std::to_string(args.MsgNum);
      break;
    case G::MsgNumAndLines:
      line += " " + std::to_string(args.MsgNum) + " " + std::to_string(args.MsgLines);
      break;
  }
  return line;
}

bool Pop3LineIsSafe(std::string_view line) {
  return line.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

}  // namespace net::mail
