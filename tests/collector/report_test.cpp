// The change of day in the collector module, in this process: the report timer's tick driven with
// an injected clock and the thread's messages pumped, the report mailed to the aiosmtpd sink (and
// read back by Python's email package), and a stand-in restart helper in the program folder that
// only leaves a mark.
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "collector/dayfiles.h"
#include "collector/kelvadon.h"
#include "collector/password.h"
#include "net/mail/jcode.h"
#include "platform/advapi32/winsvc.h"
#include "platform/msg/timer.h"
#include "platform/win/errtext.h"
#include "rtl/cp932.h"
#include "rtl/datetime.h"
#include "settings/keys.h"
#include "tests/collector/program_folder.h"
#include "tests/support/faketime.h"
#include "tests/support/keys.h"
#include "tests/support/mail_reader.h"
#include "tests/support/netns.h"
#include "tests/support/peers.h"
#include "tests/support/pop3_server.h"
#include "tests/support/pump.h"
#include "tests/support/scmd.h"
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
    return testsupport::MergeKeys({{"SmtpServer", "127.0.0.1"},
                                   {"SmtpPort", sink_.Port()},
                                   {"FromMail", "kelvadon@collector.test"},
                                   {"ToMail", "admin@example.test, second@example.test"},
                                   {"ReportSend", "1"}},
                                  extra);
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
        count == 0 ? 1 : testsupport::kWaitLimitMs);
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
  const testsupport::ClosedPort closed;
  Create(MailEnv({{"SmtpPort", std::to_string(closed.Port())}}));
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

// ---- end to end ----

// One record over a fresh connection; waits for the collector's close.
void SendRecord(int port, const std::string& record) {
  const int fd = testsupport::ConnectTcp(port);
  ASSERT_GE(fd, 0);
  testsupport::SendAll(fd, record + "\r\n");
  shutdown(fd, SHUT_WR);
  testsupport::ReadUntilClose(fd, 5000);
  close(fd);
}

// Runs a command, returns its exit code.
int RunCommand(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

SERVICE_STATUS_PROCESS StatusOf(SC_HANDLE service) {
  SERVICE_STATUS_PROCESS st{};
  DWORD needed = 0;
  QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&st), sizeof st,
                       &needed);
  return st;
}

// The collector as the service "KelvadonManager" under scmd, everything under libfaketime with
// the wall clock moved so that local midnight comes 50 s after the start (the monotonic clock is
// left alone): time enough for a loaded machine to start the service and store the first record
// before midnight. The first report tick, 60 s after the service started and so after midnight,
// mails the finished day and restarts the service through the real restart helper; an agent
// sending all along loses nothing it sent before the restart began.
TEST(ReportUnderTheServiceManager, MidnightReportAndRestart) {
  SmtpSink sink;
  REQUIRE_SINK(sink);
  if (!testsupport::FakeTimeAvailable()) GTEST_SKIP() << testsupport::kNoFakeTime;
  testsupport::FixedPort ftpPort(ProgramFolder::kFtpPort);
  ASSERT_TRUE(ftpPort.Take()) << ftpPort.Error();

  // The offset that puts local midnight 50 s ahead, and the two days as the services see them.
  const int64_t realNow = rtl::WallClockMicros();
  const rtl::TSystemTime today = rtl::LocalTimeOf(realNow);
  const int64_t midnight = rtl::EpochOfLocal(
      rtl::DateTimeToSystemTime(rtl::EncodeDate(today.Year, today.Month, today.Day) + 1));
  const int64_t offset = (midnight - realNow) / 1000000 - 50;
  const rtl::TDateTime fakeNow = rtl::EpochMicrosToDateTime(realNow + offset * 1000000);
  const std::string dayBefore = collector::DayFileName(fakeNow);
  const std::string dayAfter = collector::DayFileName(fakeNow + 1);

  testsupport::TempDir state("kwscm", 0755);
  setenv("KELVADON_SCM_DIR", state.path().c_str(), 1);
  testsupport::Scmd scmd(SCMD_PATH, state.path(), testsupport::FakeTimeEnv(offset));
  ASSERT_TRUE(scmd.Start()) << scmd.Log();
  ProgramFolder folder;
  folder.SetMailSettings({{"SmtpServer", "127.0.0.1"},
                          {"SmtpPort", sink.Port()},
                          {"FromMail", "kelvadon@collector.test"},
                          {"ToMail", "admin@example.test"},
                          {"ReportSend", "1"}},
                         {});
  ASSERT_EQ(RunCommand(folder.Dir() + "KelvadonService /INSTALL /SILENT"), 0);
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_TRUE(manager);
  SC_HANDLE service = OpenServiceA(manager, "KelvadonManager", SERVICE_ALL_ACCESS);
  ASSERT_TRUE(service) << GetLastError();
  ASSERT_TRUE(StartServiceA(service, 0, nullptr)) << GetLastError();
  ASSERT_TRUE(testsupport::WaitFor([&] {
    return StatusOf(service).dwCurrentState == SERVICE_RUNNING;
  })) << scmd.Log();
  const DWORD firstPid = StatusOf(service).dwProcessId;
  SendRecord(folder.Port(), "before midnight");

  // The agent: numbered lines on one connection until the collector goes away.
  std::atomic<int> sent{0};
  std::atomic<bool> done{false};
  std::thread agent([&] {
    const int fd = testsupport::ConnectTcp(folder.Port());
    if (fd < 0) return;
    while (!done && testsupport::SendAll(fd, "agent " + std::to_string(sent) + "\r\n")) {
      ++sent;
      usleep(20000);
    }
    close(fd);
  });
  // What the agent had sent while the restart event was not yet written: sent before the stop.
  const std::string events = "Log/" + dayAfter;
  int beforeStop = 0;
  ASSERT_TRUE(testsupport::WaitFor(
      [&] {
        const int count = sent;
        if (folder.Read(events).find(kRestart) != std::string::npos) return true;
        beforeStop = count;
        return false;
      },
      150000))
      << scmd.Log();
  ASSERT_TRUE(testsupport::WaitFor(
      [&] {
        const auto st = StatusOf(service);
        return st.dwCurrentState == SERVICE_RUNNING && st.dwProcessId != firstPid;
      },
      60000))
      << scmd.Log();
  done = true;
  agent.join();

  const auto mails = sink.Messages();
  ASSERT_EQ(mails.size(), 1u);
  const auto m = testsupport::InspectWithPython(mails[0].data);
  EXPECT_EQ(m["part.1.filename"], dayBefore);
  // Nothing is written to the finished day's file after midnight: the attachment is all of it.
  const std::string before = folder.Read("RecvData/" + dayBefore);
  EXPECT_EQ(m["part.1.bytes"], before);
  EXPECT_EQ(RecordLines(before).at(0), "before midnight");

  std::set<std::string> stored;
  for (const std::string& day : {dayBefore, dayAfter})
    for (const std::string& line : RecordLines(folder.Read("RecvData/" + day)))
      stored.insert(line);
  EXPECT_GT(beforeStop, 0);
  for (int i = 0; i < beforeStop; ++i)
    EXPECT_TRUE(stored.count("agent " + std::to_string(i))) << "agent line " << i << " lost";

  SendRecord(folder.Port(), "after the restart");
  EXPECT_TRUE(testsupport::WaitFor([&] {
    const auto lines = RecordLines(folder.Read("RecvData/" + dayAfter));
    return std::find(lines.begin(), lines.end(), "after the restart") != lines.end();
  }));
  EXPECT_EQ(sink.Messages().size(), 1u);

  SERVICE_STATUS st{};
  ControlService(service, SERVICE_CONTROL_STOP, &st);
  testsupport::WaitFor([&] { return StatusOf(service).dwCurrentState == SERVICE_STOPPED; });
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  unsetenv("KELVADON_SCM_DIR");
}

}  // namespace
}  // namespace collectortest
