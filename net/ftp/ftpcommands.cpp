// The session commands that need no data connection: changing and showing the folder, and the
// commands that only set or report a mode (TYPE, STRU, MODE, SYST, FEAT, NOOP), and the answer to
// a line too long for the command buffer.
#include "net/ftp/ftpsrv.h"
#include "rtl/cp932.h"

namespace {

// The folder as the client sees it: its virtual path, without the trailing "/" except at the root.
std::string ShownFolder(const std::string& directory) {
  if (directory.size() > 1 && directory.back() == '/')
    return directory.substr(0, directory.size() - 1);
  return directory;
}

}  // namespace

void TFtpServer::CommandCWD(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                            TFtpString& Answer) {
  ChangeDirectory(Client, Keyword, Params, Answer);
}

void TFtpServer::CommandCDUP(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                             TFtpString& Answer) {
  Params = "..";
  ChangeDirectory(Client, Keyword, Params, Answer);
}

// The tree never reaches above the home folder, so the "stay below home" option holds by itself;
// what is left to decide is the application's veto and, with ftpsCwdCheck, that the folder exists.
void TFtpServer::ChangeDirectory(TFtpCtrlSocket* Client, TFtpString&, TFtpString& Params,
                                 TFtpString& Answer) {
  const std::string old = Client->Directory();
  try {
    Client->SetDirectory(rtl::Trim(Params));
    const std::string shown = ShownFolder(Client->Directory());
    bool Allowed = true;
    TriggerChangeDirectory(Client, shown, Allowed);
    if (!Allowed) {
      Client->FDirectory = old;
      Answer = "501 CWD failed. No permission";
      return;
    }
    if ((Client->SessionOptions & kSessionOptionCwdCheck) && Client->Directory() != "/") {
      const TFtpLocation loc = LocateFtpPath(Client->HomeRoot(), SplitFtpPath(Client->Directory()));
      if (loc.Kind != rtl::fs::TFileKind::Directory) {
        Client->FDirectory = old;
        Answer = "550 CWD Failed to change directory to " + shown;
        return;
      }
    }
    Answer = "250 CWD command successful. \"" + shown + "\" is current directory.";
  } catch (const rtl::Exception& E) {
    Client->FDirectory = old;
    Answer = "501 CWD failed. " + E.Message;
  }
}

void TFtpServer::CommandPWD(TFtpCtrlSocket* Client, TFtpString&, TFtpString&, TFtpString& Answer) {
  Answer = "257 \"" + ShownFolder(Client->Directory()) + "\" is current directory.";
}

void TFtpServer::CommandXPWD(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                             TFtpString& Answer) {
  CommandPWD(Client, Keyword, Params, Answer);
}

void TFtpServer::CommandTYPE(TFtpCtrlSocket* Client, TFtpString&, TFtpString& Params,
                             TFtpString& Answer) {
  const std::string type = rtl::UpperCase(rtl::Trim(Params));
  if (type == "A" || type == "A N" || type == "I") {
    Answer = "200 Type set to " + Params + ".";
    // Transfers copy bytes unchanged in either type.
    Client->BinaryMode = type == "I";
  } else {
    Answer = "500 'TYPE " + Params + "': command not understood.";
  }
}

void TFtpServer::CommandSYST(TFtpCtrlSocket*, TFtpString&, TFtpString&, TFtpString& Answer) {
  Answer = "215 UNIX Type: L8 Internet Component Suite";
}

void TFtpServer::CommandNOOP(TFtpCtrlSocket*, TFtpString&, TFtpString& Params, TFtpString& Answer) {
  Answer = "200 Ok. Parameter was '" + Params + "'.";
}

void TFtpServer::CommandSTRU(TFtpCtrlSocket*, TFtpString&, TFtpString& Params, TFtpString& Answer) {
  Answer = "200 Ok. STRU parameter '" + Params + "' ignored.";
}

void TFtpServer::CommandMODE(TFtpCtrlSocket*, TFtpString&, TFtpString& Params, TFtpString& Answer) {
  if (Params.empty())
    Answer = "501 Missing argument for MODE";
  else if (Params == "S" || Params == "s")
    Answer = "200 MODE Ok";
  else
    Answer = "502 MODE other than S not supported";
}

void TFtpServer::CommandFEAT(TFtpCtrlSocket*, TFtpString&, TFtpString&, TFtpString& Answer) {
  Answer =
      "211-Extensions supported:\r\n"
      "  SIZE\r\n"
      "  REST STREAM\r\n"
      "  MDTM\r\n"
      "  MDTM YYYYMMDDHHMMSS[+-TZ] filename\r\n"
      "  MLST size*;type*;perm*;create*;modify*;\r\n"
      "  MFMT\r\n"
      "  MD5\r\n"
      "211 END";
}

// The buffer filled up without a line end. The reply goes out, everything the client still sends
// is read and dropped (a bounded amount, for a bounded time) and the session closes.
void TFtpServer::CommandOVER(TFtpCtrlSocket* Client, TFtpString&, TFtpString&, TFtpString& Answer) {
  Client->StartDrain(kFtpDrainLimitBytes);
  RequestClose(Client, kFtpDrainTimeMs);
  Answer = "500 Command too long";
}
