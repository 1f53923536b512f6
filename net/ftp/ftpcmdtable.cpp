#include "net/ftp/ftpcmdtable.h"

#include "net/ftp/ftplimits.h"
#include "net/ftp/ftpsrv.h"

namespace {

constexpr unsigned char kIac = 255;

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool IsAsciiAlnum(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// Keywords are compared in this order; handlers shared by two keywords (MKD and XMKD, MDTM and
// MFMT) appear twice.
const TFtpCommandSpec kCommands[] = {
    {"PORT", &TFtpServer::CommandPORT, true, ftpcPORT},
    {"STOR", &TFtpServer::CommandSTOR, true, ftpcSTOR},
    {"RETR", &TFtpServer::CommandRETR, true, ftpcRETR},
    {"CWD", &TFtpServer::CommandCWD, true, ftpcCWD},
    {"XPWD", &TFtpServer::CommandXPWD, true, ftpcXPWD},
    {"PWD", &TFtpServer::CommandPWD, true, ftpcPWD},
    {"USER", &TFtpServer::CommandUSER, false, ftpcUSER},
    // PASS checks its own state (it needs ftpcWaitingPassword) and stores its code itself.
    {"PASS", &TFtpServer::CommandPASS, false, kFtpNoCommandCode},
    {"LIST", &TFtpServer::CommandLIST, true, ftpcLIST},
    {"NLST", &TFtpServer::CommandNLST, true, ftpcNLST},
    {"TYPE", &TFtpServer::CommandTYPE, true, ftpcTYPE},
    {"SYST", &TFtpServer::CommandSYST, true, ftpcSYST},
    {"QUIT", &TFtpServer::CommandQUIT, false, ftpcQUIT},
    {"DELE", &TFtpServer::CommandDELE, true, ftpcDELE},
    {"SIZE", &TFtpServer::CommandSIZE, true, ftpcSIZE},
    {"REST", &TFtpServer::CommandREST, true, ftpcREST},
    {"RNFR", &TFtpServer::CommandRNFR, true, ftpcRNFR},
    {"RNTO", &TFtpServer::CommandRNTO, true, ftpcRNTO},
    {"MKD", &TFtpServer::CommandMKD, true, ftpcMKD},
    {"RMD", &TFtpServer::CommandRMD, true, ftpcRMD},
    {"ABOR", &TFtpServer::CommandABOR, false, kFtpNoCommandCode},
    {"PASV", &TFtpServer::CommandPASV, true, kFtpNoCommandCode},
    {"NOOP", &TFtpServer::CommandNOOP, false, ftpcNOOP},
    {"CDUP", &TFtpServer::CommandCDUP, true, ftpcCDUP},
    {"APPE", &TFtpServer::CommandAPPE, true, ftpcAPPE},
    {"STRU", &TFtpServer::CommandSTRU, false, ftpcSTRU},
    {"XMKD", &TFtpServer::CommandMKD, true, ftpcMKD},
    {"XRMD", &TFtpServer::CommandRMD, true, ftpcRMD},
    {"MDTM", &TFtpServer::CommandMDTM, true, ftpcMDTM},
    {"MODE", &TFtpServer::CommandMODE, true, kFtpNoCommandCode},
    {"OVER", &TFtpServer::CommandOVER, false, kFtpNoCommandCode},
    {"STOU", &TFtpServer::CommandSTOU, true, ftpcSTOU},
    {"FEAT", &TFtpServer::CommandFEAT, true, ftpcFEAT},
    {"MLST", &TFtpServer::CommandMLST, true, ftpcMLST},
    {"MLSD", &TFtpServer::CommandMLSD, true, ftpcMLSD},
    {"MFMT", &TFtpServer::CommandMDTM, true, ftpcMFMT},
    {"MD5", &TFtpServer::CommandMD5, true, ftpcMD5},
};
static_assert(sizeof kCommands / sizeof kCommands[0] == kFtpMaxCommands);

}  // namespace

const TFtpCommandSpec* FtpCommandSpecs(int& count) {
  count = static_cast<int>(sizeof kCommands / sizeof kCommands[0]);
  return kCommands;
}

TFtpCommandLine ParseFtpCommandLine(std::string_view line) {
  std::string text;
  text.reserve(line.size());
  for (size_t i = 0; i < line.size(); ++i) {
    if (static_cast<unsigned char>(line[i]) != kIac) {
      text.push_back(line[i]);
      continue;
    }
    // IAC IAC is a data byte 255; IAC with a command byte is a Telnet command, dropped.
    if (i + 1 < line.size() && static_cast<unsigned char>(line[i + 1]) == kIac)
      text.push_back(static_cast<char>(kIac));
    ++i;
  }
  TFtpCommandLine r;
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i]))
    ++i;
  const size_t start = i;
  while (i < text.size() && IsAsciiAlnum(text[i]))
    ++i;
  r.Keyword = text.substr(start, i - start);
  for (char& c : r.Keyword)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  while (i < text.size() && IsBlank(text[i]))
    ++i;
  r.Params = text.substr(i);
  return r;
}

std::string FtpUnknownCommand(std::string_view keyword) {
  return "500 '" + std::string(keyword) + "': command not understood.";
}

std::string FtpSanitizeReply(std::string_view answer) {
  std::string out(answer);
  for (size_t i = 0; i < out.size(); ++i) {
    const auto b = static_cast<unsigned char>(out[i]);
    if (b >= 0x20 && b != 0x7F) continue;
    if (b == '\r' && i + 1 < out.size() && out[i + 1] == '\n') {
      ++i;  // a line break of a multi-line reply
      continue;
    }
    out[i] = '?';
  }
  return out;
}
