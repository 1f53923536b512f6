// The data-connection road: the deferred steps of a transfer (abort, closing the sending side,
// starting a retrieve after its reply), the passive port, the no-progress time-out, and the
// commands that move files or list folders. Those commands answer as unknown ones (after the
// login gate) until the transfers are in place.
#include "net/ftp/ftpsrv.h"

void TFtpServer::StartSendLater(TFtpCtrlSocket* Client) {
  PostToClient(MsgStartSend, Client);
}

void TFtpServer::AbortTransfer(TFtpCtrlSocket* Client) {
  TAsyncSocket* data = Client->DataSocket();
  if (!data) return;
  if (Client->PassiveMode) ReleasePasvPort(Client);
  data->Shutdown(2);
  data->Close();
}

void TFtpServer::CloseData(TFtpCtrlSocket* Client) {
  TAsyncSocket* data = Client->DataSocket();
  if (!data) return;
  if (Client->PassiveMode) ReleasePasvPort(Client);
  data->Shutdown(1);
}

void TFtpServer::OpenRetrConnection(TFtpCtrlSocket*) {}

void TFtpServer::ReleasePasvPort(TFtpCtrlSocket* Client) {
  Client->PassiveMode = false;
}

void TFtpServer::DataTimedOut(TFtpCtrlSocket* Client) {
  Client->TransferResult = "Timeout";
  Client->Aborting = true;
  PostToClient(MsgAbortTransfer, Client);
}

#define KELVADON_FTP_NOT_YET_SERVED(Handler)                                  \
  void TFtpServer::Handler(TFtpCtrlSocket*, TFtpString& Keyword, TFtpString&, \
                           TFtpString& Answer) {                              \
    Answer = FtpUnknownCommand(Keyword);                                      \
  }

KELVADON_FTP_NOT_YET_SERVED(CommandPORT)
KELVADON_FTP_NOT_YET_SERVED(CommandSTOR)
KELVADON_FTP_NOT_YET_SERVED(CommandRETR)
KELVADON_FTP_NOT_YET_SERVED(CommandLIST)
KELVADON_FTP_NOT_YET_SERVED(CommandNLST)
KELVADON_FTP_NOT_YET_SERVED(CommandDELE)
KELVADON_FTP_NOT_YET_SERVED(CommandSIZE)
KELVADON_FTP_NOT_YET_SERVED(CommandREST)
KELVADON_FTP_NOT_YET_SERVED(CommandRNFR)
KELVADON_FTP_NOT_YET_SERVED(CommandRNTO)
KELVADON_FTP_NOT_YET_SERVED(CommandMKD)
KELVADON_FTP_NOT_YET_SERVED(CommandRMD)
KELVADON_FTP_NOT_YET_SERVED(CommandABOR)
KELVADON_FTP_NOT_YET_SERVED(CommandPASV)
KELVADON_FTP_NOT_YET_SERVED(CommandAPPE)
KELVADON_FTP_NOT_YET_SERVED(CommandMDTM)
KELVADON_FTP_NOT_YET_SERVED(CommandSTOU)
KELVADON_FTP_NOT_YET_SERVED(CommandMLST)
KELVADON_FTP_NOT_YET_SERVED(CommandMLSD)
KELVADON_FTP_NOT_YET_SERVED(CommandMD5)

#undef KELVADON_FTP_NOT_YET_SERVED
