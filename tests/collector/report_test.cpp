// The change of day in the collector module, in this process: the report timer's tick driven with
// an injected clock and the thread's messages pumped, the report mailed to the aiosmtpd sink (and
// read back by Python's email package), and a stand-in restart helper in the program folder that
// only leaves a mark.
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "collector/dayfiles.h"
#include "collector/kelvadon.h"
#include "collector/password.h"
#include "net/mail/jcode.h"
#include "platform/msg/timer.h"
#include "platform/win/errtext.h"
#include "rtl/cp932.h"
#include "rtl/datetime.h"
#include "settings/keys.h"
#include "tests/collector/program_folder.h"
#include "tests/support/mail_reader.h"
#include "tests/support/peers.h"
#include "tests/support/pop3_server.h"
#include "tests/support/pump.h"
#include "tests/support/smtp_sink.h"
#include "tests/support/wait.h"

namespace collectortest {
namespace {

using testsupport::SmtpSink;
using Keys = ProgramFolder::Keys;
using Strings = std::vector<std::string>;

std::string Sjis(const std::string& utf8) {
  return rtl::Utf8ToCp932(utf8);
}

// Local time as the clock's epoch microseconds.
int64_t At(int y, int mo, int d, int h, int mi) {
  return rtl::EpochOfLocal(rtl::TSystemTime{y, mo, d, h, mi, 0, 0, 0});
}

const std::string kRestart = Sjis("サービスプログラムの自動再起動処理を行います。");
const std::string kMailSendError = "TimWatchReportTimer MailSend Error Exception : ";

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_SINK(sink_);
    rtl::SetWallClock([this] { return now_; });
    // The restart helper's stand-in: one line in "marker" per start.
    helper_ = folder_.Dir() + "Rekindler";
    unlink(helper_.c_str());
    std::ofstream(helper_) << "#!/bin/sh\necho started >> \"$(dirname \"$0\")/marker\"\n";
    chmod(helper_.c_str(), 0755);
  }
  void TearDown() override {
    module_.reset();
    rtl::SetWallClock(nullptr);
  }

  // The mail settings with the sink as server; extra keys are added (or replace) after them.
  Keys MailEnv(const Keys& extra = {}) const {
    Keys keys = {{"SmtpServer", "127.0.0.1"},
                 {"SmtpPort", sink_.Port()},
                 {"FromMail", "kelvadon@collector.test"},
                 {"ToMail", "admin@example.test, second@example.test"},
                 {"ReportSend", "1"}};
    for (const auto& [k, v] : extra) {
      bool replaced = false;
      for (auto& kv : keys)
        if (kv.first == k) kv.second = v, replaced = true;
      if (!replaced) keys.emplace_back(k, v);
    }
    return keys;
  }

  // The module as the service makes it at creation, on the program folder with these settings,
  // at the clock's time.
  void Create(const Keys& mailEnv, const Keys& mail = {}) {
    folder_.SetMailSettings(mailEnv, mail);
    module_ = std::make_unique<TKelvadonManager>(nullptr);
    module_->Engine->ProgramDir = folder_.Dir();
    module_->WatchIni->SetFileName(folder_.Dir() + settings::kIniFileName);
    module_->LastReportDate = rtl::Now();
  }

  // One tick of the report timer; returns once every job it queued has run.
  void Tick() {
    module_->TimWatchReportTimer(nullptr);
    EXPECT_TRUE(testsupport::PumpUntil(
        [&] {
          return module_->Engine->MailJobs->Waiting() == 0 && !module_->Engine->MailJobs->Running();
        },
        60000));
  }

  // A record written by the module at the clock's time.
  void Record(const std::string& line) { module_->EventWrite(collector::kCodeRecord, line); }

  // The texts of the events of the clock's day.
  Strings Events() const {
    Strings texts;
    for (const auto& e : EventEntries(folder_.Read("Log/" + collector::DayFileName(rtl::Now()))))
      texts.push_back(e.text);
    return texts;
  }

  // The helper's starts: waits until there are count of them (nothing to wait for when 0).
  size_t Starts(size_t count) const {
    size_t lines = 0;
    testsupport::WaitFor(
        [&] {
          lines = testsupport::ReadLines(folder_.Dir() + "marker").size();
          return lines >= count;
        },
        count == 0 ? 1 : 20000);
    return lines;
  }

  // The report as Python reads it.
  testsupport::Inspected Inspect(const SmtpSink::Message& m) const {
    return testsupport::InspectWithPython(m.data);
  }

  SmtpSink sink_;
  ProgramFolder folder_;
  std::string helper_;
  int64_t now_ = At(2026, 12, 9, 10, 0);
  std::unique_ptr<TKelvadonManager> module_;
};

TEST_F(ReportTest, TheFinishedDaysFileIsMailedThenTheServiceRestarts) {
  Create(MailEnv());
  Record("first\trecord");
  Record(Sjis("二番目\tの記録"));
  const std::string file = folder_.Read("RecvData/20261209.log");
  now_ = At(2026, 12, 10, 0, 1);
  Tick();

  const auto mails = sink_.Messages();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].envelope,
            (Strings{"MAIL FROM:<kelvadon@collector.test>", "RCPT TO:<admin@example.test>",
                     "RCPT TO:<second@example.test>"}));
  const auto m = Inspect(mails[0]);
  ASSERT_TRUE(m.ok) << m.error;
  EXPECT_EQ(m["Subject"], "Kelvadon Report");
  EXPECT_EQ(m["From.0.addr"], "kelvadon@collector.test");
  EXPECT_EQ(m["To"], "admin@example.test");
  EXPECT_EQ(m["parts"], "2");
  EXPECT_EQ(m["part.0.text"].substr(0, 21), "Kelvadon Send Report.");
  EXPECT_EQ(m["part.1.filename"], "20261209.log");
  EXPECT_EQ(m["part.1.bytes"], file);

  EXPECT_EQ(Events(), Strings{kRestart});
  EXPECT_EQ(Starts(1), 1u);
  EXPECT_EQ(module_->LastReportDate, rtl::Now());
}

// Settings × clock: the ticks that do nothing, and those that report the right day.
TEST_F(ReportTest, WhichTickReportsWhichDay) {
  // Mail not set up: no report, no restart, the date kept; set up in memory, the next tick
  // reports the day the module was made on.
  Create(MailEnv({{"SmtpServer", ""}}));
  Record("day one");
  const rtl::TDateTime made = module_->LastReportDate;
  now_ = At(2026, 12, 10, 0, 1);
  Tick();
  EXPECT_EQ(module_->LastReportDate, made);
  EXPECT_EQ(Events(), Strings{});

  // The same date as the module's, then the clock a day back: nothing.
  module_->WatchIni->WriteString("MailEnv", "SmtpServer", "127.0.0.1");
  now_ = At(2026, 12, 9, 23, 59);
  Tick();
  now_ = At(2026, 12, 8, 10, 30);
  Tick();
  EXPECT_EQ(sink_.Messages().size(), 0u);
  EXPECT_EQ(Starts(0), 0u);

  // Two days on: the report carries day one's file.
  now_ = At(2026, 12, 11, 9, 0);
  Tick();
  auto mails = sink_.Messages();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(Inspect(mails[0])["part.1.filename"], "20261209.log");
  EXPECT_EQ(Starts(1), 1u);
  // The same date again: nothing more.
  now_ = At(2026, 12, 11, 23, 59);
  Tick();
  EXPECT_EQ(sink_.Messages().size(), 1u);

  // A day without records: the note without attachment.
  now_ = At(2026, 12, 12, 0, 0);
  Tick();
  mails = sink_.Messages();
  ASSERT_EQ(mails.size(), 2u);
  const auto m = Inspect(mails[1]);
  EXPECT_EQ(m["parts"], "1");
  EXPECT_EQ(m["part.0.text"].substr(0, 27), "LogFile Not Found in Today.");
  EXPECT_EQ(Starts(2), 2u);
}

TEST_F(ReportTest, ReportSendOffOnlyRestarts) {
  Create(MailEnv({{"ReportSend", "0"}}));
  Record("kept here");
  now_ = At(2026, 12, 10, 0, 1);
  Tick();
  EXPECT_EQ(Events(), Strings{kRestart});
  EXPECT_EQ(Starts(1), 1u);
  EXPECT_EQ(sink_.Messages().size(), 0u);
}

// A failed report is one error event; the restart still follows.
TEST_F(ReportTest, AFailedReportStillRestarts) {
  Create(MailEnv({{"SmtpPort", std::to_string(testsupport::FreePort())}}));
  now_ = At(2026, 12, 10, 0, 1);
  Tick();
  EXPECT_EQ(Events(),
            (Strings{kMailSendError + Sjis("SMTPサーバのオープンに失敗しました。"), kRestart}));
  EXPECT_EQ(Starts(1), 1u);
}

TEST_F(ReportTest, AWrongPop3PasswordIsTheLoginFailure) {
  if (!testsupport::Pop3Server::CanRun()) GTEST_SKIP() << testsupport::kUsersCannotSwitch;
  testsupport::Pop3Server pop;
  ASSERT_TRUE(pop.Started()) << pop.Error();
  Create(MailEnv({{"PopBeforeSmtp", "1"},
                  {"PopServer", "127.0.0.1"},
                  {"PopPort", std::to_string(pop.Port())},
                  {"PopUser", "alice"},
                  {"PopPasswd", EncryptSetting("wrong", kSettingPassphrase)}}));
  now_ = At(2026, 12, 10, 0, 1);
  Tick();
  EXPECT_EQ(
      Events(),
      (Strings{kMailSendError + Sjis("Pop Before SMTPのPopサーバ認証に失敗しました。"), kRestart}));
  EXPECT_EQ(sink_.Messages().size(), 0u);
  EXPECT_EQ(Starts(1), 1u);
}

// A missing helper is an error event after the restart event; the date has moved all the same.
TEST_F(ReportTest, AMissingHelperIsAnErrorEvent) {
  unlink(helper_.c_str());
  Create(MailEnv({{"ReportSend", "0"}}));
  now_ = At(2026, 12, 10, 0, 1);
  Tick();
  EXPECT_EQ(Events(),
            (Strings{kRestart, "TimWatchReportTimer System Error EOSError : " + OSErrorText(2)}));
  EXPECT_EQ(module_->LastReportDate, rtl::Now());
}

// In the foreground nothing can bring the collector back: the event only.
TEST_F(ReportTest, TheForegroundWritesTheEventOnly) {
  sigset_t mask;
  pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  char program[] = "KelvadonService", foreground[] = "-FOREGROUND";
  char* argv[] = {program, foreground};
  Application().Initialize(2, argv);
  Create(MailEnv({{"ReportSend", "0"}}));
  now_ = At(2026, 12, 10, 0, 1);
  Tick();
  Application().Initialize(1, argv);
  pthread_sigmask(SIG_SETMASK, &mask, nullptr);
  EXPECT_EQ(Events(), Strings{kRestart});
  testsupport::PumpFor(1000);
  EXPECT_EQ(Starts(0), 0u);
}

// The report waits behind the alerts queued before it, and records keep being written while the
// server holds the report's data.
TEST_F(ReportTest, AlertsGoFirstAndRecordsFlowDuringTheReport) {
  SmtpSink slow({"--hold", "dot=5"});
  REQUIRE_SINK(slow);
  Create(MailEnv({{"SmtpPort", slow.Port()}}), {{"Word1", "FIRE"}});
  module_->Engine->CollectorPort = "0";
  module_->Engine->OpenNetSocket();
  const int port = std::stoi(module_->Engine->NetSocket->GetSockPort());
  Record("FIRE before midnight");
  now_ = At(2026, 12, 10, 0, 1);
  module_->TimWatchReportTimer(nullptr);

  // An agent sends while the alert and then the report wait on the server.
  constexpr int kRecords = 200;
  std::thread agent([port] {
    const int fd = testsupport::ConnectTcp(port);
    for (int i = 0; i < kRecords; ++i)
      testsupport::SendAll(fd, "during " + std::to_string(i) + "\r\n");
    shutdown(fd, SHUT_WR);
    testsupport::ReadUntilClose(fd, 30000);
    close(fd);
  });
  auto written = [&] { return RecordLines(folder_.Read("RecvData/20261210.log")).size(); };
  // The jobs run inside this thread's message handling: a timer looks from in there.
  bool allWrittenDuringMail = false;
  TTimer probe;
  probe.SetInterval(50);
  probe.OnTimer = [&](rtl::TObject*) {
    if (module_->Engine->MailJobs->Running() && written() == kRecords) allWrittenDuringMail = true;
  };
  probe.SetEnabled(true);
  EXPECT_TRUE(testsupport::PumpUntil(
      [&] {
        return module_->Engine->MailJobs->Waiting() == 0 && !module_->Engine->MailJobs->Running();
      },
      60000));
  EXPECT_TRUE(allWrittenDuringMail);
  agent.join();

  const auto mails = slow.Messages();
  ASSERT_EQ(mails.size(), 2u);
  EXPECT_EQ(Inspect(mails[0])["parts"], "1");  // the alert
  EXPECT_EQ(Inspect(mails[1])["part.1.filename"], "20261209.log");
  EXPECT_EQ(written(), static_cast<size_t>(kRecords));
  EXPECT_EQ(Starts(1), 1u);
}

}  // namespace
}  // namespace collectortest
