// The jobs of a change of day, queued behind the alerts on the mail job queue: the report mail
// that carries the finished day's record file, and the restart of the collector through the
// restart helper. Values: what they act on was read when the day change was seen.
#pragma once

#include <functional>
#include <string>

#include "collector/mailenv.h"
#include "collector/mailqueue.h"
#include "rtl/datetime.h"

namespace collector {

// The notes of a report mail: with the day's record file attached, and without one.
inline constexpr char kReportSent[] = "Kelvadon Send Report.";
inline constexpr char kReportNoFile[] = "LogFile Not Found in Today.";

class TReportJob : public TMailJob {
 public:
  // Called with the class name and message of a failure of the report mail.
  using TFailed = std::function<void(const char* ClassName, const std::string& Message)>;
  // Called once the report mail has gone through (both clients quit).
  using TSucceeded = std::function<void()>;

  // Env as read at the day change; DayFile the record day file of the day that ended. Succeeded
  // may be empty.
  TReportJob(TMailEnv Env, std::string DayFile, TFailed Failed, TSucceeded Succeeded = nullptr);

  const char* Word() const override { return "TimWatchReportTimer"; }
  // Aborts both clients, addresses the mail as every collector mail (AddressMail), logs in to
  // POP3 first when configured, attaches DayFile with the note kReportSent when it exists (else
  // kReportNoFile and nothing attached), opens, mails and quits both clients. A failure of any
  // step aborts both clients and goes to Failed with the failing step's text (as the alert job
  // words them); nothing is raised. Then Succeeded, when the mail went through; what it raises is
  // a failure of the job.
  void Send(TSyncSmtpCli& Smtp, net::mail::TSyncPop3Cli& Pop) override;

 private:
  void SendReport(TSyncSmtpCli& Smtp, net::mail::TSyncPop3Cli& Pop);

  const TMailEnv env_;
  const std::string dayFile_;
  const TFailed failed_;
  const TSucceeded succeeded_;
};

// The restart after a day change, as a job so that it comes after the mail queued before it.
class TRestartJob : public TMailJob {
 public:
  // Restart writes the restart event and starts the restart helper; what it raises is a failure
  // of the job (written under Word()).
  explicit TRestartJob(std::function<void()> Restart) : restart_(std::move(Restart)) {}

  const char* Word() const override { return "TimWatchReportTimer"; }
  void Send(TSyncSmtpCli&, net::mail::TSyncPop3Cli&) override { restart_(); }

 private:
  const std::function<void()> restart_;
};

}  // namespace collector
