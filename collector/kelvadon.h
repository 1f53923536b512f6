// The collector service module: the TCP listener that takes agent records, the UDP socket that
// answers discovery, the FTP server agents upload through, the report timer and the settings
// file, with their handlers. Every handler runs on the main thread, one message at a time; each
// catches its own exceptions and writes them as one error event.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "net/ftp/ftpsrv.h"
#include "net/socket/line.h"
#include "platform/msg/timer.h"
#include "platform/service/svcmgr.h"
#include "rtl/datetime.h"
#include "settings/inifilecompo.h"

class TKelvadonManager : public TService {
 public:
  explicit TKelvadonManager(rtl::TComponent* Owner);
  ~TKelvadonManager() override;

  TServiceController ServiceControllerEntry() override;

  // ---- components (owned) ----
  TIniFileCompo* WatchIni;
  TAsyncSocket* NetSocket;
  TAcceptGate* NetSocketGate;  // NetSocket's accepts, within the process's descriptors
  TAsyncSocket* NetBroadCast;
  TTimer* TimWatchReport;
  TFtpServer* KelvadonFtp;

  // ---- collector state ----
  std::string ProgramDir;              // the program's folder, with a trailing "/"
  std::string CollectorPort = "4016";  // both listeners' port, from the settings file
  std::string NetSocketFailure;        // why NetSocket is not listening ("" when it is)
  // The accepted agent connections. The module owns the sockets (as their owner component), so
  // one still waiting for its release when the module goes is freed with it.
  std::vector<TAsyncSocket*> ClientList;
  TAsyncSocket* LastClient = nullptr;  // the newest connection; cleared when it is released
  ULONG SenderFilter = 0;              // discovery senders answered; 0 is any
  rtl::TDateTime LastReportDate = 0;

  // ---- handlers ----
  void ServiceCreate(rtl::TObject* Sender);
  void ServiceStart(TService* Sender, bool& Started);
  void ServiceExecute(TService* Sender);
  void ServiceStop(TService* Sender, bool& Stopped);
  void NetSocketSessionAvailable(rtl::TObject* Sender, WORD ErrCode);
  void ClientDataAvailable(rtl::TObject* Sender, WORD ErrCode);
  void ClientSessionClosed(rtl::TObject* Sender, WORD ErrCode);
  void ClientLineLimitExceeded(rtl::TObject* Sender, int RcvdLength, bool& ClearData);
  void NetBroadCastDataAvailable(rtl::TObject* Sender, WORD ErrCode);
  void KelvadonFtpAuthenticate(rtl::TObject* Sender, TFtpCtrlSocket* Client,
                               const TFtpString& UserName, const TFtpString& Password,
                               bool& Authenticated);
  // Writes the received-file event when the reply about to be sent tells of a completed upload.
  void KelvadonFtpAnswerToClient(rtl::TObject* Sender, TFtpCtrlSocket* Client, TFtpString& Answer);
  // The collector's own files over FTP: nothing that belongs to the programs (the programs, their
  // libraries, "KelvadonMan.ini") and nothing in "RecvData/" or "Log/" may be written, appended,
  // deleted, renamed, made or have its time set; the settings file and the day files may not be
  // read either (RETR, MD5). FilePath is the local path the server resolved.
  void KelvadonFtpValidateChange(rtl::TObject* Sender, TFtpCtrlSocket* Client, TFtpString& FilePath,
                                 bool& Allowed);
  void KelvadonFtpMakeDirectory(rtl::TObject* Sender, TFtpCtrlSocket* Client,
                                const TFtpString& Directory, bool& Allowed);
  void KelvadonFtpValidateRead(rtl::TObject* Sender, TFtpCtrlSocket* Client, TFtpString& FilePath,
                               bool& Allowed);
  void KelvadonFtpCalculateMd5(rtl::TObject* Sender, TFtpCtrlSocket* Client, TFtpString& FilePath,
                               TFtpString& Md5Sum, bool& Allowed);
  // The FTP server stopped accepting for want of descriptors: one error event per pause.
  void KelvadonFtpAcceptPaused(rtl::TObject* Sender, WORD Error);

  // Appends a record (code 50) to the day's record file, or an information (98) or error (99)
  // event to the day's event file. Never raises: a failure is written as an error event, and a
  // failure while writing an error event is dropped.
  void EventWrite(int Code, const std::string& Text);

 private:
  // Runs body; an exception becomes the error event "<Word> System Error <class> : <message>".
  // Returns that message, or "" when body succeeded.
  std::string Guarded(const char* Word, const std::function<void()>& body);
  // In the foreground, the event entry of code 98 or 99 on the terminal as well.
  void EchoEvent(int Code, const std::string& Text, rtl::TDateTime When);
  void WriteError(const char* Word, const char* ClassName, const std::string& Message);
  // Takes an agent connection out of ClientList (giving its descriptor back) and LastClient, and
  // posts its release.
  void ReleaseClient(TAsyncSocket* Client);

  bool writingError_ = false;
};

// The program's one module.
extern TKelvadonManager* KelvadonManager;
