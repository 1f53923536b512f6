// The FTP command table: which keyword runs which handler of TFtpServer, whether the handler needs
// a logged-in session, and the code it leaves in the session's CurrentCommand. Also the parser
// that turns one received line into keyword and parameters. Plain data and functions, safe from
// any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class TFtpServer;
class TFtpCtrlSocket;

// A command handler: a member of TFtpServer (virtual handlers dispatch as usual). It sets Answer,
// the one reply the dispatcher sends.
using TFtpSrvCommandProc = void (TFtpServer::*)(TFtpCtrlSocket* Client, std::string& Keyword,
                                                std::string& Params, std::string& Answer);

// CurrentCommand values.
enum : uint8_t {
  ftpcPORT = 0,
  ftpcSTOR = 1,
  ftpcRETR = 2,
  ftpcCWD = 3,
  ftpcXPWD = 4,
  ftpcPWD = 5,
  ftpcUSER = 6,
  ftpcPASS = 7,
  ftpcLIST = 8,
  ftpcRMD = 9,
  ftpcTYPE = 10,
  ftpcSYST = 11,
  ftpcQUIT = 12,
  ftpcDELE = 13,
  ftpcRNFR = 14,
  ftpcMKD = 15,
  ftpcRNTO = 16,
  ftpcNOOP = 17,
  ftpcNLST = 18,
  ftpcCDUP = 20,
  ftpcSIZE = 21,
  ftpcREST = 22,
  ftpcAPPE = 23,
  ftpcSTRU = 24,
  ftpcMDTM = 25,
  ftpcSTOU = 26,
  ftpcFEAT = 27,
  ftpcMLST = 28,
  ftpcMLSD = 29,
  ftpcMFMT = 30,
  ftpcMD5 = 31,
};
// An entry whose handler leaves CurrentCommand alone.
constexpr int kFtpNoCommandCode = -1;

// The login gate's reply: a handler that needs a login answers it, and does nothing else, unless
// the session is ftpcReady.
inline constexpr char kFtpLoginFirst[] = "530 Please login with USER and PASS.";

struct TFtpSrvCommandTableItem {
  std::string KeyWord;
  TFtpSrvCommandProc Proc = nullptr;
  bool NeedsLogin = false;
  int Code = kFtpNoCommandCode;  // stored in CurrentCommand before the handler runs
};

// The server's table, in registration order (the order in which keywords are compared).
struct TFtpCommandSpec {
  const char* KeyWord;
  TFtpSrvCommandProc Proc;
  bool NeedsLogin;
  int Code;
};
// Returns the kFtpMaxCommands entries and their count in count.
const TFtpCommandSpec* FtpCommandSpecs(int& count);

// One command line split: the line with Telnet IAC sequences handled (IAC IAC is one byte 255,
// IAC and any other byte are both dropped, a lone IAC at the end is dropped), leading tabs and
// blanks skipped, the keyword the following run of ASCII letters and digits upper-cased, then
// tabs and blanks skipped, and Params the rest of the line unchanged.
struct TFtpCommandLine {
  std::string Keyword;
  std::string Params;
};
TFtpCommandLine ParseFtpCommandLine(std::string_view line);

// The reply to a keyword nobody handles: "500 '<keyword>': command not understood.".
std::string FtpUnknownCommand(std::string_view keyword);

// Reply text as it goes on the wire: every control byte (and DEL) that is not part of a CR LF pair
// becomes "?", so an echoed name can neither end the reply early nor smuggle a line of its own.
std::string FtpSanitizeReply(std::string_view answer);
