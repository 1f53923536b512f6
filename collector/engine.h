// The collection engine: what the collector service and the console both run while they collect.
// It holds the TCP listener agents send their records to, the UDP socket that answers their
// discovery question, the FTP server they upload files through (its one account, the event for a
// received file and the protection of the programs' own files), the record and event day files,
// and the mail clients with the queue of mail jobs that go through them, with the handlers of
// all of them. It knows no service framework and no window: a host
// (the service module, later the console's main window) owns it, opens and closes its listeners
// as its life cycle says, and supplies one seam, TCollectorHost, for what the engine reports.
//
// Ownership and threads: the engine owns its components and the agents' connections. Every call,
// event and handler runs on the thread that created the engine, which must handle its messages,
// one at a time. Each handler catches its own exceptions and hands them to the host.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "collector/caught.h"
#include "collector/mailqueue.h"
#include "net/ftp/ftpsrv.h"
#include "net/mail/pop3sync.h"
#include "net/mail/syncsmtp.h"
#include "net/socket/acceptgate.h"
#include "net/socket/line.h"
#include "rtl/datetime.h"

// What the engine asks of its host.
class TCollectorHost {
 public:
  // A handler failed with an exception: Word is the handler's name ("ClientDataAvailable"),
  // ClassName and Message are the exception's. The service writes the error event
  // "<Word> System Error <ClassName> : <Message>".
  virtual void HandlerFailed(const char* Word, const char* ClassName,
                             const std::string& Message) = 0;
  // An information (98) or error (99) event has just been written, or tried, at When. The
  // service run in the foreground shows it on the terminal as well.
  virtual void EventWritten(int Code, const std::string& Text, rtl::TDateTime When) {}
  // That event could not be written to the event file (the failure itself is reported next, as
  // an error event, unless the event was one). The service writes it to its standard error, so
  // that it is still found. Must not write events.
  virtual void EventNotWritten(int Code, const std::string& Text, rtl::TDateTime When) {}
  // A record (code 50) is about to be written: the host checks it against its alert rules and
  // queues the mail job of the rules that fire. An exception is a failure of "ChkRecvString";
  // the record is written all the same.
  virtual void ChkRecvString(const std::string& Line) {}
  // A record (code 50) has arrived at When and is about to be checked and written: the console
  // shows it in its live view and may give Line the form it stores (the service leaves it). An
  // exception is a failure of "RecordArrived"; the record is checked and written all the same, as
  // Line stands then.
  virtual void RecordArrived(std::string& Line, rtl::TDateTime When) {}
  // A record (code 50) could not be written to its day file. Default: a failure of "EventWrite".
  virtual void RecordWriteFailed(const char* ClassName, const std::string& Message) {
    HandlerFailed("EventWrite", ClassName, Message);
  }
  // A line over the line limit was dropped whole (Word is the handler, Message says so).
  // Default: a failure of Word, as HandlerFailed.
  virtual void LineDropped(const char* Word, const char* ClassName, const std::string& Message) {
    HandlerFailed(Word, ClassName, Message);
  }
  // The mail clients' test of whether the application is terminating: a mail's wait gives up
  // when it is true. Default: a quit request is pending on the thread.
  virtual bool Terminating() { return QuitPending(); }

 protected:
  ~TCollectorHost() = default;
};

class TCollectorEngine : public rtl::TComponent {
 public:
  // The host is borrowed and must outlive the engine.
  TCollectorEngine(rtl::TComponent* Owner, TCollectorHost& Host);
  ~TCollectorEngine() override;

  // ---- components (owned), with their handlers wired ----
  TAsyncSocket* NetSocket;     // agents' records (TCP), on CollectorPort
  TAcceptGate* NetSocketGate;  // NetSocket's accepts, within the process's descriptors
  TAsyncSocket* NetBroadCast;  // discovery (UDP), on CollectorPort
  TFtpServer* KelvadonFtp;     // agents' uploads, on port 9021
  // Alert and report mail: the SMTP client (charset ISO-2022-JP, 7 bit, plain text) and the
  // POP3 client of POP-before-SMTP, both with the host's terminating test and a 15 s time-out.
  TSyncSmtpCli* SmtpWatch;
  net::mail::TSyncPop3Cli* PopWatch;
  // The mail jobs, sent one at a time through SmtpWatch and PopWatch; a failed job is written as
  // "<job's word> System Error <class> : <message>" after both clients are aborted.
  std::unique_ptr<collector::TMailJobQueue> MailJobs;

  // ---- state ----
  std::string ProgramDir;              // the base of every file, with a trailing "/"
  std::string CollectorPort = "4016";  // both listeners' port
  // The accepted agent connections, owned by the engine (as their owner component): one still
  // waiting for its release when the engine goes is freed with it.
  std::vector<TAsyncSocket*> ClientList;
  TAsyncSocket* LastClient = nullptr;  // the newest connection; cleared when it is released
  ULONG SenderFilter = 0;              // discovery senders answered; 0 is any

  // ---- life cycle (each raises what its socket or server raises) ----
  // NetSocket listens on 0.0.0.0:CollectorPort.
  void OpenNetSocket();
  // SenderFilter := 0 (the listen address 0.0.0.0: every sender is answered); NetBroadCast
  // listens on 0.0.0.0:CollectorPort.
  void OpenNetBroadCast();
  // Closes NetBroadCast and NetSocket, stops the FTP server and frees its sessions. Then every
  // agent connection's lines that have already arrived are stored (without waiting for more), a
  // last one without its line end too, as at a close by the agent, and the connection is closed:
  // a stop loses nothing that reached the collector.
  void Stop();

  // Runs body; an exception goes to the host's HandlerFailed with Word. Returns the exception's
  // message, or "" when body succeeded.
  template <typename Body>
  std::string Guarded(const char* Word, Body&& body) {
    collector::TCaught caught;
    if (collector::Succeeds(body, caught)) return std::string();
    return Failed(Word, caught);
  }

  // Appends a record (code 50) to the day's record file, or an information (98) or error (99)
  // event to the day's event file. A record is first handed to the host's RecordArrived, which
  // may give it its stored form, and ChkRecvString (after the clock is read, so it goes to the
  // file of the day it arrived). Never raises: a failure is handed to the host (RecordWriteFailed
  // for a record, else as a failure of "EventWrite"), except while an error event is being
  // written (that would repeat without end); an event that is not written also goes to the
  // host's EventNotWritten.
  void EventWrite(int Code, std::string Text);

  // Queues the alert job of a record (for the host's ChkRecvString). Raises rtl::Exception when
  // the queue is full; the job is dropped then.
  void QueueAlert(std::unique_ptr<collector::TMailJob> Job);

  // ---- handlers ----
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
  // The FTP server stopped accepting for want of descriptors: one failure per pause.
  void KelvadonFtpAcceptPaused(rtl::TObject* Sender, WORD Error);

 private:
  // Hands a failure of Word to the host; returns its message.
  std::string Failed(const char* Word, const collector::TCaught& caught);
  // Takes an agent connection out of ClientList (giving its descriptor back) and LastClient, and
  // posts its release.
  void ReleaseClient(TAsyncSocket* Client);
  // Sends one mail job; a failure aborts both clients and goes to the host.
  void RunMailJob(collector::TMailJob& Job);

  TCollectorHost& host_;
  bool writingError_ = false;
};
