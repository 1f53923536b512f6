// The engine's components, life cycle and day-file writer. The handlers are in intake.cpp
// (records and discovery) and ftphooks.cpp (the FTP server's hooks).
#include "collector/engine.h"

#include "collector/caught.h"
#include "collector/dayfiles.h"
#include "collector/maillimits.h"
#include "rtl/exception.h"

TCollectorEngine::TCollectorEngine(rtl::TComponent* Owner, TCollectorHost& Host)
    : rtl::TComponent(Owner), host_(Host) {
  NetSocket = new TAsyncSocket(this);
  // Agents log on in bursts: the queue takes as many connections as the system allows.
  NetSocket->ListenBacklog = kLargestListenBacklog;
  NetSocket->OnSessionAvailable = [this](rtl::TObject* s, WORD e) {
    NetSocketSessionAvailable(s, e);
  };
  NetSocketGate = new TAcceptGate(this, NetSocket);
  NetBroadCast = new TAsyncSocket(this);
  NetBroadCast->OnDataAvailable = [this](rtl::TObject* s, WORD e) {
    NetBroadCastDataAvailable(s, e);
  };

  KelvadonFtp = new TFtpServer(this);
  KelvadonFtp->Addr = "0.0.0.0";
  KelvadonFtp->Port = "9021";
  KelvadonFtp->ListenBackLog = kLargestListenBacklog;
  KelvadonFtp->Banner = "220 KelvadonManager FTP Server ready.";
  KelvadonFtp->MaxClients = 0;
  KelvadonFtp->SetPasvPortRangeStart(16384);
  KelvadonFtp->SetPasvPortRangeSize(0);
  KelvadonFtp->OnAuthenticate = [this](rtl::TObject* s, TFtpCtrlSocket* c, const TFtpString& u,
                                       const TFtpString& p,
                                       bool& a) { KelvadonFtpAuthenticate(s, c, u, p, a); };
  KelvadonFtp->OnAnswerToClient = [this](rtl::TObject* s, TFtpCtrlSocket* c, TFtpString& a) {
    KelvadonFtpAnswerToClient(s, c, a);
  };
  // The collector's own files are out of the agents' reach.
  auto change = [this](rtl::TObject* s, TFtpCtrlSocket* c, TFtpString& f, bool& a) {
    KelvadonFtpValidateChange(s, c, f, a);
  };
  KelvadonFtp->OnValidatePut = change;
  KelvadonFtp->OnValidateDele = change;
  KelvadonFtp->OnValidateRmd = change;
  KelvadonFtp->OnValidateRnFr = change;
  KelvadonFtp->OnValidateRnTo = change;
  KelvadonFtp->OnValidateMfmt = change;
  KelvadonFtp->OnMakeDirectory = [this](rtl::TObject* s, TFtpCtrlSocket* c, const TFtpString& d,
                                        bool& a) { KelvadonFtpMakeDirectory(s, c, d, a); };
  KelvadonFtp->OnValidateGet = [this](rtl::TObject* s, TFtpCtrlSocket* c, TFtpString& f, bool& a) {
    KelvadonFtpValidateRead(s, c, f, a);
  };
  KelvadonFtp->OnCalculateMd5 = [this](rtl::TObject* s, TFtpCtrlSocket* c, TFtpString& f,
                                       TFtpString& m,
                                       bool& a) { KelvadonFtpCalculateMd5(s, c, f, m, a); };
  KelvadonFtp->OnAcceptPaused = [this](rtl::TObject* s, WORD e) { KelvadonFtpAcceptPaused(s, e); };

  SmtpWatch = new TSyncSmtpCli(this);
  SmtpWatch->ShareMode = smtpShareDenyWrite;
  SmtpWatch->LocalAddr = "0.0.0.0";
  SmtpWatch->Port = "smtp";
  SmtpWatch->AuthType = smtpAuthNone;
  SmtpWatch->ConfirmReceipt = false;
  SmtpWatch->HdrPriority = smtpPriorityNone;
  SmtpWatch->CharSet = "ISO-2022-JP";
  SmtpWatch->SendMode = smtpToSocket;
  SmtpWatch->DefaultEncoding = smtpEnc7bit;
  SmtpWatch->Allow8bitChars = false;
  SmtpWatch->FoldHeaders = false;
  SmtpWatch->WrapMessageText = false;
  SmtpWatch->SetContentType(smtpPlainText);
  SmtpWatch->OwnHeaders = false;
  SmtpWatch->Timeout = collector::kMailTimeoutSeconds;
  SmtpWatch->MultiThreaded = false;
  SmtpWatch->Terminating = [this] { return host_.Terminating(); };

  PopWatch = new net::mail::TSyncPop3Cli(this);
  PopWatch->LocalAddr = "0.0.0.0";
  PopWatch->Port = "pop3";
  PopWatch->Timeout = collector::kMailTimeoutSeconds;
  PopWatch->MultiThreaded = false;
  PopWatch->Terminating = [this] { return host_.Terminating(); };

  MailJobs = std::make_unique<collector::TMailJobQueue>(
      [this](collector::TMailJob& job) { RunMailJob(job); });
}

TCollectorEngine::~TCollectorEngine() {
  // Connections still open go with the engine; their descriptors go back to the process.
  NetSocketGate->Budget().Give(static_cast<int>(ClientList.size()));
  ClientList.clear();
  LastClient = nullptr;
  // Jobs still queued go unsent (a host that stops sends them first).
  MailJobs.reset();
  // The components call back into the engine: they go while it is still whole.
  DestroyComponents();
}

void TCollectorEngine::OpenNetSocket() {
  NetSocket->SetAddr("0.0.0.0");
  NetSocket->SetPort(CollectorPort);
  NetSocket->SetProto("tcp");
  NetSocket->Listen();
}

void TCollectorEngine::OpenNetBroadCast() {
  SenderFilter = 0;  // the listen address 0.0.0.0: every sender is answered
  NetBroadCast->SetAddr("0.0.0.0");
  NetBroadCast->SetPort(CollectorPort);
  NetBroadCast->SetProto("udp");
  NetBroadCast->Listen();
}

void TCollectorEngine::Stop() {
  NetBroadCast->Close();
  NetSocketGate->Reset();
  NetSocket->Close();
  KelvadonFtp->Stop();
  KelvadonFtp->DisconnectAll();
  // Closing a connection takes it out of ClientList (ClientSessionClosed).
  const std::vector<TAsyncSocket*> clients = ClientList;
  for (TAsyncSocket* client : clients) {
    Guarded("ClientDataAvailable", [&] { client->ReadArrived(); });
    Guarded("ClientSessionClosed", [&] { client->Close(); });
  }
}

using collector::Succeeds;
using collector::TCaught;

std::string TCollectorEngine::Failed(const char* Word, const TCaught& caught) {
  host_.HandlerFailed(Word, caught.ClassName, caught.Message);
  return caught.Message;
}

void TCollectorEngine::RunMailJob(collector::TMailJob& Job) {
  TCaught caught;
  if (Succeeds([&] { Job.Send(*SmtpWatch, *PopWatch); }, caught)) return;
  // Nothing of the failed mail stays open for the next job.
  SmtpWatch->SyncAbort();
  PopWatch->SyncAbort();
  host_.HandlerFailed(Job.Word(), caught.ClassName, caught.Message);
}

void TCollectorEngine::QueueAlert(std::unique_ptr<collector::TMailJob> Job) {
  if (!MailJobs->Add(std::move(Job)))
    throw rtl::Exception("mail queue full (" + std::to_string(collector::kMaxWaitingMailJobs) +
                         " jobs waiting): the alert for this record is not sent");
}

void TCollectorEngine::EventWrite(int Code, std::string Text) {
  // Both clock reads come first: a record goes to the file of the day it arrived.
  const rtl::TDateTime now = rtl::Now();
  const bool record = Code == collector::kCodeRecord;
  // The rules only queue mail: the record is written at once, in the order records arrive.
  if (record) {
    // The host may give the record the form it stores.
    Guarded("RecordArrived", [&] { host_.RecordArrived(Text, now); });
    Guarded("ChkRecvString", [&] { host_.ChkRecvString(Text); });
  }
  if (Code == collector::kCodeInfo || Code == collector::kCodeError)
    host_.EventWritten(Code, Text, now);
  TCaught caught;
  const bool written = Succeeds(
      [&] {
        if (record)
          collector::AppendRecordLine(ProgramDir, Text, now);
        else
          collector::AppendEventEntry(ProgramDir, Code, Text, now);
      },
      caught);
  if (written) return;
  // An event the file could not take goes to the host, which has another way out for it.
  if (Code == collector::kCodeInfo || Code == collector::kCodeError)
    host_.EventNotWritten(Code, Text, now);
  // The failure of an error event is not reported again: that would repeat without end.
  if (Code == collector::kCodeError || writingError_) return;
  writingError_ = true;
  if (record)
    host_.RecordWriteFailed(caught.ClassName, caught.Message);
  else
    host_.HandlerFailed("EventWrite", caught.ClassName, caught.Message);
  writingError_ = false;
}
