// The console's own collection run: the console made as the program makes it and shown, taking
// the collection over from a stopped "KelvadonManager" on a real scmd, in a program folder of its
// own, on the headless widget set whose scripted boxes answer its messages. Agents are real peers
// on loopback, alerts and reports go to the aiosmtpd sink, the clock is injected and the report
// timer's ticks are fired directly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "collector/dayfiles.h"
#include "collector/messages.h"
#include "collector/password.h"
#include "console/frmwatch.h"
#include "console/program.h"
#include "platform/ui/testkit/testkit.h"
#include "rtl/cp932.h"
#include "rtl/datetime.h"
#include "rtl/files.h"
#include "settings/keys.h"
#include "tests/console/console_folder.h"
#include "tests/support/faketime.h"
#include "tests/support/keys.h"
#include "tests/support/peers.h"
#include "tests/support/pop3_server.h"
#include "tests/support/pump.h"
#include "tests/support/smtp_sink.h"

namespace {

using testsupport::PumpUntil;
using testsupport::SmtpSink;
using Strings = std::vector<std::string>;
using testsupport::Keys;

using consoletest::kCollectorPort;
constexpr char kServiceName[] = "KelvadonManager";
// How long a peer, a record or a mail may take on a loaded machine.
constexpr DWORD kLimitMs = 60000;

int64_t At(int y, int mo, int d, int h, int mi) {
  return rtl::EpochOfLocal(rtl::TSystemTime{y, mo, d, h, mi, 0, 0, 0});
}

const std::string kToday = rtl::Utf8ToCp932("今日");
// A line without a TAB is stored as its "FileName" after eight empty fields.
const std::string kNoTabs(8, '\t');
const std::string kErrorHeading = rtl::Utf8ToCp932("システムエラーが発生しました。");

// Runs peer on a thread of its own while this thread handles the console's messages.
void Beside(const std::function<void()>& peer) {
  std::atomic<bool> done{false};
  std::thread t([&] {
    peer();
    done = true;
  });
  PumpUntil([&] { return done.load(); }, kLimitMs);
  t.join();
}

// The lines of a record day file below its header (line ends CR LF).
Strings RecordLines(const std::string& file) {
  Strings lines;
  size_t from = 0;
  for (size_t end; (end = file.find("\r\n", from)) != std::string::npos; from = end + 2)
    lines.push_back(file.substr(from, end - from));
  if (!lines.empty()) lines.erase(lines.begin());
  return lines;
}

class ConsoleRun : public consoletest::ConsoleInFolder {
 protected:
  void SetUp() override {
    oldClock_ = rtl::SetWallClock([this] { return now_.load(); });
    ConsoleInFolder::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    service_ = Install(kServiceName);  // stopped: the console takes over without a question
  }

  void TearDown() override {
    if (agent_ >= 0) close(agent_);
    ConsoleInFolder::TearDown();
    rtl::SetWallClock(oldClock_);
  }

  // The console's settings file with sections "MailEnv" and "Mail" holding these keys.
  void Settings(const Keys& mailEnv, const Keys& mail = {}) {
    std::string text = "[MailEnv]\r\n";
    for (const auto& [k, v] : mailEnv)
      text += k + "=" + v + "\r\n";
    text += "[Mail]\r\n";
    for (const auto& [k, v] : mail)
      text += k + "=" + v + "\r\n";
    folder_.Write(rtl::ExtractFileName(IniFile()), text);
  }
  // Mail set up with server as the SMTP server, extra keys added or replacing.
  static Keys MailEnv(const std::string& port, const Keys& extra = {}) {
    return testsupport::MergeKeys({{"SmtpServer", "127.0.0.1"},
                                   {"SmtpPort", port},
                                   {"FromMail", "console@kelvadon.test"},
                                   {"ToMail", "admin@example.test"}},
                                  extra);
  }

  // The console as the program makes it, shown: it collects.
  void StartConsole() {
    CreateKelvadonMan(kit_->App);
    ASSERT_NE(FrmWatch, nullptr);
    FrmWatch->Show();
    ASSERT_TRUE(FrmWatch->FirstShowDone);
    ASSERT_FALSE(kit_->App.Terminated());
  }

  // Lines sent by one agent connection (each with CR LF).
  void Send(const Strings& lines) {
    if (agent_ < 0) agent_ = testsupport::ConnectTcp(kCollectorPort);
    ASSERT_GE(agent_, 0);
    std::string bytes;
    for (const std::string& line : lines)
      bytes += line + "\r\n";
    ASSERT_TRUE(testsupport::SendAll(agent_, bytes));
  }
  // An agent's upload of source as "agent.txt" (curl beside the loop); curl's exit status.
  static int Upload(const std::string& source) {
    int status = -1;
    Beside([&] {
      status = std::system(("timeout 60 /usr/bin/curl -s --max-time 30 -T " + source +
                            " ftp://127.0.0.1:" + std::to_string(consoletest::kFtpPort) +
                            "/agent.txt --user Brindlework:rtso7362")
                               .c_str());
    });
    return status;
  }
  std::string RecordFile() const {
    return folder_.File(collector::kRecordFolder + collector::DayFileName(rtl::Now()));
  }
  std::string EventFile() const {
    return folder_.File(collector::kEventFolder + collector::DayFileName(rtl::Now()));
  }
  Strings Records() const { return RecordLines(testsupport::ReadFile(RecordFile())); }
  // Today's records once there are count of them.
  Strings WaitForRecords(size_t count) {
    PumpUntil([&] { return Records().size() >= count; }, kLimitMs);
    return Records();
  }
  size_t ErrorEntries() const {
    const std::string events = testsupport::ReadFile(EventFile());
    size_t n = 0;
    for (size_t at = 0; (at = events.find(kErrorHeading, at)) != std::string::npos; ++at)
      ++n;
    return n;
  }
  // Every mail job queued so far has run.
  bool MailDone() {
    return PumpUntil(
        [] {
          return FrmWatch->Engine->MailJobs->Waiting() == 0 &&
                 !FrmWatch->Engine->MailJobs->Running();
        },
        kLimitMs);
  }

  void ExpectBox(const std::string& text) { ConsoleInFolder::ExpectBox(text, IDOK); }

  // The grid's column of that name, newest record first.
  static Strings Column(const char* name) {
    Strings texts;
    TKGridColumn* column = FrmWatch->GrdWatch->Columns()->FindByName(name);
    for (int r = 0; r < FrmWatch->GrdWatch->RowCount(); ++r)
      texts.push_back(column->GetRowText(r));
    return texts;
  }

  std::atomic<int64_t> now_{At(2026, 12, 10, 10, 0)};
  rtl::WallClock oldClock_;
  int agent_ = -1;
};

// ---- records ----

// Every record is stored as its nine fields joined with TAB, and one of a host is shown on top
// of today's grid as it arrives; a line over the line limit is dropped with one error entry and
// no box, and the agent's next line is taken.
TEST_F(ConsoleRun, RecordsAreStoredAsNineFieldsAndShownAsTheyArrive) {
  StartConsole();
  const struct {
    const char* sent;
    const char* stored;
  } cases[] = {
      {"a\tb\tc", "a\tb\t\t\t\t\t\t\tc"},
      {"1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t11\t12", "1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t11\t12"},
      {"", "\t\t\t\t\t\t\t\t"},
      {"d\to\tPC9\tc", "d\to\tPC9\t\t\t\t\t\tc"},
      {"2026/12/10 10:00:00\tCopy\tPC01\tdesk\t10.0.0.1\tuser\tE:\tUSB\tf.txt",
       "2026/12/10 10:00:00\tCopy\tPC01\tdesk\t10.0.0.1\tuser\tE:\tUSB\tf.txt"},
  };
  Strings sent, stored;
  for (const auto& c : cases) {
    sent.push_back(c.sent);
    stored.push_back(c.stored);
  }
  sent.insert(sent.begin() + 2, std::string(70000, 'x'));  // over the 65536-byte limit
  Send(sent);
  EXPECT_EQ(WaitForRecords(stored.size()), stored);
  EXPECT_EQ(ErrorEntries(), 1u);
  EXPECT_NE(testsupport::ReadFile(EventFile())
                .find("ClientDataAvailable System Error ESocketException : line over 65536 "
                      "bytes dropped"),
            std::string::npos)
      << testsupport::ReadFile(EventFile());
  // Records of a host are shown newest first; the others have no host to be shown under.
  EXPECT_EQ(Column("FileName"), (Strings{"f.txt", "c", "9\t10\t11\t12"}));
  EXPECT_EQ(Column("HostName"), (Strings{"PC01", "PC9", "3"}));
  EXPECT_EQ(Boxes(), Strings{});
}

// A record that cannot be written: its error entry and the same text in a box; the listener
// goes on, and the next record is stored once the folder is back.
TEST_F(ConsoleRun, AFailedRecordWriteIsAnErrorEntryAndABox) {
  StartConsole();
  std::filesystem::remove(folder_.File("RecvData"));
  const std::string failure = "System Error RecvFileWrite EInOutError : Path not found";
  bool restored = false;
  kit_->WidgetSet.ExpectBox(uitest::TBoxScript{failure, {}, IDOK, [&] {
                                                 if (!restored)
                                                   std::filesystem::create_directory(
                                                       folder_.File("RecvData"));
                                                 restored = true;
                                                 return true;
                                               }});
  Send({"lost", "kept"});
  EXPECT_EQ(WaitForRecords(1), Strings{kNoTabs + "kept"});
  EXPECT_EQ(Boxes(), Strings{failure});
  const std::string events = testsupport::ReadFile(EventFile());
  EXPECT_NE(events.find(kErrorHeading + "\r\n" + failure + "\r\n\r\n\r\n"), std::string::npos)
      << events;
  EXPECT_EQ(ErrorEntries(), 1u);
}

// Connections that come and go leave nothing behind; discovery gets its one reply; an upload
// is the received-file event.
TEST_F(ConsoleRun, ConnectionsDiscoveryAndUploads) {
  StartConsole();
  TDescriptorBudget& budget = FrmWatch->Engine->NetSocketGate->Budget();
  const int64_t available = budget.Available();
  Beside([] {
    for (int i = 0; i < 1000; ++i) {
      const int fd = testsupport::ConnectTcp(kCollectorPort);
      if (fd < 0) return;
      close(fd);
    }
  });
  EXPECT_TRUE(PumpUntil([] { return FrmWatch->ClientList.empty(); }, kLimitMs));
  EXPECT_EQ(FrmWatch->LastClient, nullptr);
  EXPECT_EQ(budget.Available(), available);

  std::vector<testsupport::Reply> replies;
  Beside([&] {
    replies = testsupport::AskUdp(kCollectorPort, "Are You Kelvadon Manager?", kLimitMs);
  });
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].bytes, "Yes I am Kelvadon Manager.");
  EXPECT_EQ(replies[0].bytes.size(), 26u);

  testsupport::TempDir agent("kwagent");
  const std::string source = agent.Write("upload.txt", "uploaded bytes\n");
  EXPECT_EQ(Upload(source), 0);
  // One entry: its heading, the two lines of the event, two empty lines.
  const std::string events = testsupport::ReadFile(EventFile());
  EXPECT_EQ(events.rfind(rtl::FormatDateTime("yyyy/mm/dd hh:mm:ss", rtl::Now()) + " " +
                             rtl::Utf8ToCp932("システムインフォメーション\r\nKelvadon Manager "
                                              "Create Vellistrand ファイルを受信しました。") +
                             "\r\n> 127.0.0.1 ",
                         0),
            0u)
      << events;
  EXPECT_TRUE(events.ends_with("agent.txt\r\n\r\n\r\n")) << events;
  EXPECT_EQ(Boxes(), Strings{});
}

// ---- alerts ----

std::string Sender(const SmtpSink::Message& m) {
  return m.envelope.empty() ? std::string() : m.envelope.front();
}

const std::string kFired =
    "2026/12/10 10:00:00\tCopy\tPC01\tFIRE\t10.0.0.1\tuser\tE:\tUSB DISK\tf.txt";

// The rules of GrdRule's rows that fire give one mail each, in rule order, from "FromMail", or
// from the console's own address when the file has no "FromMail".
TEST_F(ConsoleRun, FiredRulesMailInRuleOrderFromTheSenderOrTheDefault) {
  SmtpSink sink;
  REQUIRE_SINK(sink);
  const struct {
    const char* what;
    Keys mailEnv;
    std::string from;
  } cases[] = {
      {"FromMail set", MailEnv(sink.Port()), "MAIL FROM:<console@kelvadon.test>"},
      {"FromMail missing",
       {{"SmtpServer", "127.0.0.1"}, {"SmtpPort", sink.Port()}, {"ToMail", "admin@example.test"}},
       std::string("MAIL FROM:<") + TFrmWatch::kDefaultFromMail + ">"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const size_t before = sink.Messages().size();
    kit_.reset();  // one console at a time
    kit_ = std::make_unique<uitest::TTestApp>();
    Settings(c.mailEnv, {{"Word1", "FIRE"},
                         {"Word2", "absent"},
                         {"Word4", "USB"},
                         {"Body", "%Word%=%SearchLine%"}});
    StartConsole();
    Send({kFired});
    ASSERT_TRUE(PumpUntil([&] { return sink.Messages().size() == before + 2; }, kLimitMs));
    const std::vector<SmtpSink::Message> mails = sink.Messages();
    EXPECT_EQ(Sender(mails[before]), c.from);
    EXPECT_NE(mails[before].data.find("FIRE=" + kFired), std::string::npos) << mails[before].data;
    EXPECT_NE(mails[before + 1].data.find("USB=" + kFired), std::string::npos);
    EXPECT_EQ(Boxes(), Strings{});
    close(agent_);
    agent_ = -1;
  }
}

// Without "ToMail" each record that fires a rule ends in one error box, once its job has ended;
// every record is stored.
TEST_F(ConsoleRun, AnEmptyToMailGivesABoxPerFiringRecord) {
  SmtpSink sink;
  REQUIRE_SINK(sink);
  Settings(MailEnv(sink.Port(), {{"ToMail", ""}}), {{"Word1", "FIRE"}, {"Word2", "USB"}});
  const std::string failure = std::string("System Error Exception : ") +
                              collector::msg::kMailToHead + collector::msg::kMailFailedTail;
  ExpectBox(failure);
  ExpectBox(failure);
  StartConsole();
  Send({"FIRE one", "quiet", "FIRE and USB"});
  EXPECT_EQ(WaitForRecords(3),
            (Strings{kNoTabs + "FIRE one", kNoTabs + "quiet", kNoTabs + "FIRE and USB"}));
  EXPECT_TRUE(MailDone());
  EXPECT_TRUE(PumpUntil([&] { return kit_->WidgetSet.PendingBoxes() == 0; }, kLimitMs));
  EXPECT_EQ(Boxes(), (Strings{failure, failure}));
  EXPECT_EQ(sink.Messages().size(), 0u);
  EXPECT_EQ(ErrorEntries(), 0u);
}

// POP before SMTP: one login right before each alert job's mail; a wrong password is one box
// per job, and the records are stored all the same.
TEST_F(ConsoleRun, PopBeforeSmtpLogsInForEachAlertJob) {
  if (!testsupport::Pop3Server::CanRun()) GTEST_SKIP() << testsupport::kUsersCannotSwitch;
  testsupport::Pop3Server pop;
  ASSERT_TRUE(pop.Started()) << pop.Error();
  SmtpSink sink;
  REQUIRE_SINK(sink);
  const auto logins = [&] {
    const std::string log = pop.Log();
    size_t n = 0;
    for (size_t at = 0; (at = log.find("Login: user=<alice>", at)) != std::string::npos; ++at)
      ++n;
    return n;
  };
  const std::string refused =
      std::string("System Error Exception : ") + collector::msg::kPopLoginFailed;
  const struct {
    const char* password;
    size_t mails;
    Strings boxes;
  } cases[] = {{"secret", 1, {}}, {"wrong", 0, {refused}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.password);
    const size_t mailsBefore = sink.Messages().size();
    const size_t loginsBefore = logins();
    kit_.reset();  // one console at a time
    kit_ = std::make_unique<uitest::TTestApp>();
    Settings(MailEnv(sink.Port(), {{"PopBeforeSmtp", "1"},
                                   {"PopServer", "127.0.0.1"},
                                   {"PopPort", std::to_string(pop.Port())},
                                   {"PopUser", "alice"},
                                   {"PopPasswd", EncryptSetting(c.password, kSettingPassphrase)}}),
             {{"Word1", "FIRE"}});
    for (const std::string& box : c.boxes)
      ExpectBox(box);
    StartConsole();
    Send({"quiet", "FIRE"});
    EXPECT_EQ(WaitForRecords(2).size(), 2u);
    EXPECT_TRUE(MailDone());
    EXPECT_TRUE(PumpUntil([&] { return kit_->WidgetSet.PendingBoxes() == 0; }, kLimitMs));
    EXPECT_EQ(sink.Messages().size() - mailsBefore, c.mails);
    EXPECT_EQ(Boxes(), c.boxes);
    if (c.mails == 1) {
      // dovecot's log process may write the login a moment after the mail went out.
      EXPECT_TRUE(testsupport::WaitFor([&] { return logins() - loginsBefore >= 1; }, kLimitMs));
      EXPECT_EQ(logins() - loginsBefore, 1u);
    }
    close(agent_);
    agent_ = -1;
    std::filesystem::remove(RecordFile());
  }
}

// A failed alert's box stays open until the next record's mail has reached the server: the next
// job does not wait for the user. The settings the mail pages keep apply from the next record.
TEST_F(ConsoleRun, AFailedAlertsBoxDoesNotHoldTheNextMail) {
  SmtpSink sink;
  REQUIRE_SINK(sink);
  const testsupport::ClosedPort closed;
  Settings(MailEnv(std::to_string(closed.Port())), {{"Word1", "FIRE"}});
  bool switched = false;
  kit_->WidgetSet.ExpectBox(uitest::TBoxScript{
      std::string("System Error Exception : ") + collector::msg::kSmtpOpenFailed, {}, IDOK, [&] {
        if (!switched) {
          switched = true;
          settings::WriteSetting(*FrmWatch->WatchIni, settings::kSmtpPort, sink.Port());
          Send({"FIRE second"});
        }
        return sink.Messages().size() == 1;
      }});
  StartConsole();
  Send({"FIRE first"});
  EXPECT_TRUE(PumpUntil([&] { return kit_->WidgetSet.PendingBoxes() == 0; }, kLimitMs));
  EXPECT_EQ(sink.Messages().size(), 1u);
  EXPECT_EQ(Records(), (Strings{kNoTabs + "FIRE first", kNoTabs + "FIRE second"}));
  EXPECT_EQ(ErrorEntries(), 0u);
}

// The sink holds its reply to the mail's end for 5 s: the record that fired is on top of today's
// grid before its mail reaches the sink, and records sent meanwhile are stored at once, one after
// the other, before the mail is done (an agent beside the console's loop, which waits inside the
// mail).
TEST_F(ConsoleRun, ARecordIsShownAndStoredBeforeItsAlertGoesOut) {
  SmtpSink slow({"--hold", "dot=5"});
  REQUIRE_SINK(slow);
  Settings(MailEnv(slow.Port()), {{"Word1", "FIRE"}});
  StartConsole();
  ASSERT_EQ(FrmWatch->ValHistory->ItemIndex(), 0);
  ASSERT_EQ(FrmWatch->ValHistory->Items()->Strings(0), kToday);
  ASSERT_EQ(FrmWatch->TrePCList->Selected(), nullptr);
  Send({kFired});
  ASSERT_TRUE(PumpUntil([] { return Column("FileName") == Strings{"f.txt"}; }, kLimitMs));
  EXPECT_TRUE(slow.Messages().empty());
  size_t written = 1, duringTheMail = 0;
  const int agent = agent_;
  Beside([&] {
    // The mail waits at its end (the console's loop runs inside it meanwhile).
    if (!testsupport::WaitFor([&] { return !slow.Holds().empty(); }, kLimitMs)) return;
    while (slow.Messages().empty() && written < 2000) {
      const std::string line = "plain " + std::to_string(written);
      if (!testsupport::SendAll(agent, line + "\r\n")) return;
      ++written;
      if (!testsupport::WaitFor([&] { return Records().size() == written; }, kLimitMs)) return;
      if (slow.Messages().empty()) ++duringTheMail;
    }
  });
  EXPECT_GE(duringTheMail, 3u);
  EXPECT_EQ(Records().size(), written);
  EXPECT_TRUE(PumpUntil([&] { return slow.Messages().size() == 1; }, kLimitMs));
  EXPECT_EQ(Boxes(), Strings{});
}

// ---- the change of day ----

class ConsoleDay : public ConsoleRun {
 protected:
  // At 23:50 the console collects one record of the day; then the clock passes midnight.
  void StartBeforeMidnight(const Keys& mailEnv) {
    now_ = At(2026, 12, 9, 23, 50);
    Settings(mailEnv);
    StartConsole();
    started_ = FrmWatch->LastReportDate;
    Send({kFired});
    ASSERT_EQ(WaitForRecords(1).size(), 1u);
    ASSERT_EQ(Column("FileName"), Strings{"f.txt"});
    now_ = At(2026, 12, 10, 0, 10);
  }
  // One tick of TimWatch; returns once the jobs it queued have run.
  void Tick() {
    uitest::FireTimer(*FrmWatch->TimWatch);
    EXPECT_TRUE(MailDone());
  }
  rtl::TDateTime started_ = 0;
};

// "ReportSend" "1": the report carries yesterday's file; then "今日" shows the new day.
TEST_F(ConsoleDay, TheReportMailsYesterdaysFileAndTodayShowsTheNewDay) {
  SmtpSink sink;
  REQUIRE_SINK(sink);
  StartBeforeMidnight(MailEnv(sink.Port(), {{"ReportSend", "1"}}));
  Tick();
  ASSERT_EQ(sink.Messages().size(), 1u);
  const std::string data = sink.Messages()[0].data;
  EXPECT_NE(data.find("20261209.log"), std::string::npos) << data;
  EXPECT_EQ(Column("FileName"), Strings{});
  EXPECT_EQ(FrmWatch->LastReportDate, rtl::Now());
  // The same day again: nothing more.
  Tick();
  EXPECT_EQ(sink.Messages().size(), 1u);
  Send({"today\tCopy\tPC02\t\t\t\t\t\tnew.txt"});
  EXPECT_TRUE(PumpUntil([] { return Column("FileName") == Strings{"new.txt"}; }, kLimitMs));
  EXPECT_FALSE(std::filesystem::exists(EventFile()));
  EXPECT_EQ(Boxes(), Strings{});
}

// A failing server: a box on each tick until a report gets through; the date stays till then,
// and no second report is queued while one waits.
TEST_F(ConsoleDay, AFailedReportIsTriedAgainOnEachTick) {
  SmtpSink sink;
  REQUIRE_SINK(sink);
  const testsupport::ClosedPort closed;
  StartBeforeMidnight(MailEnv(std::to_string(closed.Port()), {{"ReportSend", "1"}}));
  const std::string failure =
      std::string("System Error TimWatchTimer Exception : ") + collector::msg::kSmtpOpenFailed;
  for (int tick = 0; tick < 2; ++tick) {
    ExpectBox(failure);
    Tick();
    EXPECT_TRUE(PumpUntil([&] { return kit_->WidgetSet.PendingBoxes() == 0; }, kLimitMs));
    EXPECT_EQ(FrmWatch->LastReportDate, started_);
    EXPECT_EQ(Column("FileName"), Strings{"f.txt"});
  }
  settings::WriteSetting(*FrmWatch->WatchIni, settings::kSmtpPort, sink.Port());
  uitest::FireTimer(*FrmWatch->TimWatch);
  uitest::FireTimer(*FrmWatch->TimWatch);
  EXPECT_EQ(FrmWatch->Engine->MailJobs->Waiting(), 1u);
  EXPECT_TRUE(MailDone());
  EXPECT_EQ(sink.Messages().size(), 1u);
  EXPECT_EQ(FrmWatch->LastReportDate, rtl::Now());
  EXPECT_EQ(Column("FileName"), Strings{});
  EXPECT_EQ(Boxes(), (Strings{failure, failure}));
  EXPECT_FALSE(std::filesystem::exists(EventFile()));
}

// Without mail set up a change of day changes nothing; with mail but no report the new day is
// shown at once.
TEST_F(ConsoleDay, WithoutMailNothingChangesAndWithoutReportTheDayMovesAtOnce) {
  SmtpSink sink;
  REQUIRE_SINK(sink);
  StartBeforeMidnight(
      {{"SmtpServer", "127.0.0.1"}, {"SmtpPort", sink.Port()}, {"FromMail", "a@b"}});
  Tick();
  EXPECT_EQ(FrmWatch->LastReportDate, started_);
  EXPECT_EQ(Column("FileName"), Strings{"f.txt"});

  settings::WriteSetting(*FrmWatch->WatchIni, settings::kToMail, "admin@example.test");
  Tick();
  EXPECT_EQ(FrmWatch->LastReportDate, rtl::Now());
  EXPECT_EQ(Column("FileName"), Strings{});
  EXPECT_EQ(sink.Messages().size(), 0u);
  EXPECT_EQ(Boxes(), Strings{});
}

// ---- the service and the console ----

// The service program, copied with its libraries into the program folder and run there in the
// foreground, with env added to the test's environment.
class ServiceProgram {
 public:
  ServiceProgram(const std::string& dir,
                 const std::vector<std::pair<std::string, std::string>>& env)
      : dir_(dir + "/") {
    const std::string bin = rtl::ExtractFilePath(rtl::ProgramFileName());
    std::filesystem::copy_file(bin + "KelvadonService", dir_ + "KelvadonService");
    for (const auto& e : std::filesystem::directory_iterator(bin)) {
      const std::string name = e.path().filename();
      if (name.starts_with("lib") && name.ends_with(".so"))
        std::filesystem::copy_file(e.path(), dir_ + name);
    }
    pid_ = fork();
    if (pid_ != 0) return;
    if (chdir(dir_.c_str()) != 0) _exit(127);
    for (const auto& [name, value] : env)
      setenv(name.c_str(), value.c_str(), 1);
    const int fd = open((dir_ + "stderr.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) dup2(fd, 2);
    close_range(3, ~0U, 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const std::string program = dir_ + "KelvadonService";
    execl(program.c_str(), program.c_str(), "-FOREGROUND", static_cast<char*>(nullptr));
    _exit(127);
  }
  ~ServiceProgram() { Stop(); }
  // Up once its record port accepts.
  bool Started() const {
    return pid_ > 0 && testsupport::WaitFor(
                           [] {
                             const int fd = testsupport::ConnectTcp(kCollectorPort);
                             if (fd >= 0) close(fd);
                             return fd >= 0;
                           },
                           kLimitMs);
  }
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGINT);
    if (!testsupport::WaitFor([&] { return waitpid(pid_, nullptr, WNOHANG) == pid_; }, kLimitMs)) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }

 private:
  std::string dir_;
  pid_t pid_ = -1;
};

// The same nine-field records and the same upload, sent first to the service and then to the
// console on the same folder, give the same lines. The service's wall clock is moved to the
// console's day, so both write the same day files whatever the machine's time.
TEST_F(ConsoleRun, TheServiceAndTheConsoleWriteTheSameLines) {
  if (!testsupport::FakeTimeAvailable()) GTEST_SKIP() << testsupport::kNoFakeTime;
  const Strings records = {
      kFired, "2026/12/10 10:00:01\tDelete\tPC02\t\t10.0.0.2\t\tF:\t\t",
      rtl::Utf8ToCp932("2026/12/10 10:00:02\tCopy\tPC03\t日本語\t10.0.0.3\tユーザー\tG:\tUSB\t"
                       "ファイル.txt")};
  testsupport::TempDir agent("kwagent");
  const std::string source = agent.Write("upload.txt", "uploaded bytes\n");
  // The event entries, each without the stamp "yyyy/mm/dd hh:mm:ss" that opens its heading (the
  // two programs write at different moments).
  const auto eventTexts = [&] {
    Strings texts;
    const std::string events = testsupport::ReadFile(EventFile());
    const std::string tail = "\r\n\r\n\r\n";
    const size_t stamp = sizeof("yyyy/mm/dd hh:mm:ss") - 1;
    for (size_t from = 0, end; (end = events.find(tail, from)) != std::string::npos;
         from = end + tail.size()) {
      const std::string entry = events.substr(from, end - from);
      texts.push_back(entry.substr(std::min(entry.size(), stamp)));
    }
    return texts;
  };
  {
    ServiceProgram service(folder_.path(), testsupport::FakeTimeEnvAt(now_));
    ASSERT_TRUE(service.Started()) << testsupport::ReadFile(folder_.File("stderr.log"));
    Send(records);
    ASSERT_TRUE(testsupport::WaitFor([&] { return Records().size() == records.size(); }, kLimitMs));
    EXPECT_EQ(Upload(source), 0);
    close(agent_);
    agent_ = -1;
    service.Stop();
  }
  const Strings serviceEvents = eventTexts();
  StartConsole();
  Send(records);
  const Strings all = WaitForRecords(2 * records.size());
  ASSERT_EQ(all.size(), 2 * records.size());
  EXPECT_EQ(Strings(all.begin() + records.size(), all.end()), records);
  EXPECT_EQ(Strings(all.begin(), all.begin() + records.size()), records);
  EXPECT_EQ(Upload(source), 0);
  const Strings events = eventTexts();
  ASSERT_EQ(events.size(), serviceEvents.size() + 1) << testing::PrintToString(events);
  EXPECT_EQ(events.back(), serviceEvents.back());
  EXPECT_NE(events.back().find("agent.txt"), std::string::npos);
}

}  // namespace
