// Alert mail end to end: the collector program with its settings pointing at the aiosmtpd sink
// (and at dovecot for POP-before-SMTP), records sent over TCP, the mails read back from what the
// sink stored (by Python's email package where the content matters), and the events it wrote.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "collector/password.h"
#include "net/mail/jcode.h"
#include "rtl/cp932.h"
#include "tests/collector/program_folder.h"
#include "tests/support/keys.h"
#include "tests/support/mail_reader.h"
#include "tests/support/peers.h"
#include "tests/support/pop3_server.h"
#include "tests/support/smtp_sink.h"
#include "tests/support/wait.h"

namespace collectortest {
namespace {

using testsupport::SmtpSink;
using testsupport::WaitFor;
using Keys = ProgramFolder::Keys;
using Strings = std::vector<std::string>;

std::string Sjis(const std::string& utf8) {
  return rtl::Utf8ToCp932(utf8);
}

// The error event texts of the three failures of an alert mail.
const std::string kFailure = "ChkRecvString System Error Exception : ";
std::string PopFailure() {
  return kFailure + Sjis("Pop Before SMTPのPopサーバ認証に失敗しました。");
}
std::string OpenFailure() {
  return kFailure + Sjis("SMTPサーバのオープンに失敗しました。");
}

// A TCP listener on 127.0.0.1 that takes connections and never says a word (an SMTP server that
// never greets).
class SilentServer {
 public:
  SilentServer() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd_, 4096) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return;
    port_ = ntohs(a.sin_port);
  }
  ~SilentServer() {
    for (int c : held_)
      close(c);
    close(fd_);
  }
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;

  int Port() const { return port_; }
  // Takes the connections that are waiting; how many it holds in all.
  size_t Take() {
    for (int c; (c = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;)
      held_.push_back(c);
    return held_.size();
  }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::vector<int> held_;
};

class AlertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (testsupport::SinkPython().empty()) GTEST_SKIP() << sink_.Error();
  }
  void TearDown() override { folder_.Stop(); }

  // The mail settings with the sink as server; extra keys are added (or replace) after them.
  Keys MailEnv(const Keys& extra = {}, const std::string& smtpPort = "") const {
    return testsupport::MergeKeys({{"SmtpServer", "127.0.0.1"},
                                   {"SmtpPort", smtpPort.empty() ? sink_.Port() : smtpPort},
                                   {"FromMail", "kelvadon@collector.test"},
                                   {"ToMail", "admin@example.test"}},
                                  extra);
  }

  void Start(const Keys& mailEnv, const Keys& mail) {
    folder_.SetMailSettings(mailEnv, mail);
    ASSERT_TRUE(folder_.Start()) << folder_.Read("stderr.log");
  }

  // Sends the records on one connection and closes it.
  void Send(const Strings& records) {
    std::string bytes;
    for (const auto& r : records)
      bytes += r + "\r\n";
    const int fd = testsupport::ConnectTcp(folder_.Port());
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(testsupport::SendAll(fd, bytes));
    close(fd);
  }

  // What read() gives once it holds at least count items (or 60 s passed).
  template <typename Read>
  static auto WaitForCount(Read read, size_t count) {
    decltype(read()) items;
    WaitFor(
        [&] {
          items = read();
          return items.size() >= count;
        },
        60000);
    return items;
  }
  // The mails the sink holds, and the collector's errors, once there are count of them.
  std::vector<SmtpSink::Message> WaitForMails(size_t count) const {
    return WaitForCount([this] { return sink_.Messages(); }, count);
  }
  Strings WaitForErrors(size_t count) const {
    return WaitForCount([this] { return folder_.Errors(); }, count);
  }

  SmtpSink sink_;
  ProgramFolder folder_;
};

// The value of the body line that starts with name ("W=" in the tables' alert text): the text
// part's bytes with the transfer encoding undone, still in ISO-2022-JP.
std::string BodyField(const std::string& data, const std::string& name) {
  const testsupport::Inspected m = testsupport::InspectWithPython(data);
  if (!m.ok) return "<unreadable: " + m.error + ">";
  const std::string body = "\n" + m["part.0.bytes"];
  const size_t at = body.find("\n" + name);
  if (at == std::string::npos) return "<none>";
  const size_t from = at + 1 + name.size();
  return body.substr(from, body.find("\r\n", from) - from);
}

// Rule values × records → the mails, in order, named by the rule value each carries. After each
// record a marker record fires Word5: every mail of the row has arrived when its marker has.
class AlertRulesTest : public AlertTest {
 protected:
  struct Row {
    std::string record;
    Strings rules;  // the values of the rules that fire, in the order of their mails
  };

  void Check(const Keys& words, const std::vector<Row>& rows) {
    Keys mail = words;
    mail.emplace_back("Word5", "MARKER");
    mail.emplace_back("Body", "L=%SearchLine%\tW=%Word%");
    Start(MailEnv(), mail);
    size_t seen = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
      const std::string marker = "MARKER " + std::to_string(i);
      Send({rows[i].record, marker});
      const auto mails = WaitForMails(seen + rows[i].rules.size() + 1);
      ASSERT_GE(mails.size(), seen + 1) << rows[i].record;
      Strings rules;
      for (size_t m = seen; m + 1 < mails.size(); ++m)
        rules.push_back(BodyField(mails[m].data, "W="));
      Strings expected;
      for (const std::string& rule : rows[i].rules)
        expected.push_back(net::mail::SjisToJis(rule));
      EXPECT_EQ(rules, expected) << "record: " << rows[i].record;
      EXPECT_EQ(BodyField(mails.back().data, "L="), marker) << "record: " << rows[i].record;
      seen = mails.size();
    }
    EXPECT_EQ(folder_.Errors(), Strings{});
    EXPECT_EQ(folder_.Records().size(), rows.size() * 2);
  }
};

TEST_F(AlertRulesTest, TermsCommasBlanksQuotesAndCase) {
  Check({{"Word1", "Copy,PC01"},
         {"Word2", "gamma delta"},
         {"Word3", "alpha,,beta"},
         {"Word4", "\"eps zeta\""}},
        {
            {"Copy\tPC01", {"Copy,PC01"}},
            {"Copy\tPC02", {}},
            {"COPY\tPC01", {}},
            {"delta, then gamma", {"gamma delta"}},
            {"gamma alone", {}},
            {"alpha beta", {}},
            {"zeta eps", {}},
            {"eps zeta", {"\"eps zeta\""}},
            {"Copy PC01 eps zeta", {"Copy,PC01", "\"eps zeta\""}},
        });
}

// A byte 0 inside a value and a lead byte that ends it: the collector neither hangs nor reads
// past the value (the sanitizer build checks the latter).
TEST_F(AlertRulesTest, TrailingCommaNulAndLoneLeadByte) {
  Check({{"Word1", "omega,"}, {"Word2", std::string("na\0me", 5)}, {"Word3", "abc\x95"}},
        {
            {"omega", {}},
            {"me and na", {std::string("na\0me", 5)}},
            {"xxabc\x95", {"abc\x95"}},
            {"abc", {}},
        });
}

// The mail as Python reads it: subject, addresses, the template's lines with both fields filled,
// Japanese text from ISO-2022-JP, a record's inner TABs kept.
TEST_F(AlertTest, ContentAndRecipients) {
  const std::string record = Sjis(
      "2026/12/10 10:00:00\tCopy\tPC01\t営業部の資料\t10.0.0.1\tyamada\tE:\tUSB DISK\tplan.xlsx");
  Start(MailEnv({{"ToMail", "a@x.test, b@y.test"}}),
        {{"Word1", Sjis("営業部")}, {"Body", Sjis("警告: %Word%\t記録: %SearchLine%\t以上")}});
  Send({record});
  const auto mails = WaitForMails(1);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].envelope, (Strings{"MAIL FROM:<kelvadon@collector.test>", "RCPT TO:<a@x.test>",
                                        "RCPT TO:<b@y.test>"}));
  const testsupport::Inspected m = testsupport::InspectWithPython(mails[0].data);
  ASSERT_TRUE(m.ok) << m.error;
  EXPECT_EQ(m["Subject"], "Kelvadon Report");
  EXPECT_EQ(m["To"], "a@x.test");
  EXPECT_EQ(m["From.0.addr"], "kelvadon@collector.test");
  EXPECT_EQ(m["defects"], "");
  EXPECT_EQ(m["part.0.text"],
            "警告: 営業部\r\n"
            "記録: 2026/12/10 10:00:00\tCopy\tPC01\t営業部の資料\t10.0.0.1\tyamada\tE:\tUSB DISK\t"
            "plan.xlsx\r\n"
            "以上\r\n");
  EXPECT_EQ(folder_.Records(), Strings{record});
  EXPECT_EQ(folder_.Errors(), Strings{});
}

// Addresses separated by ";" stay one item: the To header shows both, and each is a recipient.
// An ASCII text goes out 7 bit: each line loses its leading and trailing blanks and TABs, and a
// record's inner TABs stay.
TEST_F(AlertTest, SemicolonListAndSevenBitText) {
  const std::string record =
      "2026/12/10 10:00:00\tCopy\tPC01\tFIRE\t10.0.0.1\tuser\tE:\tUSB DISK\t";
  Start(MailEnv({{"ToMail", "a@x.test;b@y.test"}}),
        {{"Word1", "FIRE"}, {"Body", "  L=%SearchLine%\t\t end  "}});
  Send({record});
  const auto mails = WaitForMails(1);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].envelope, (Strings{"MAIL FROM:<kelvadon@collector.test>", "RCPT TO:<a@x.test>",
                                        "RCPT TO:<b@y.test>"}));
  const testsupport::Inspected m = testsupport::InspectWithPython(mails[0].data);
  ASSERT_TRUE(m.ok) << m.error;
  EXPECT_EQ(m["To.0.addr"], "a@x.test") << mails[0].data;
  EXPECT_EQ(m["To.1.addr"], "b@y.test") << mails[0].data;
  EXPECT_EQ(m["part.0.cte"], "");
  EXPECT_EQ(m["part.0.text"],
            "L=2026/12/10 10:00:00\tCopy\tPC01\tFIRE\t10.0.0.1\tuser\tE:\tUSB DISK\r\n\r\nend\r\n");
}

// Without "ToMail" no rule is looked at: the stop, which sends what is queued, leaves the server
// without a single connection.
TEST_F(AlertTest, NoRecipientNoConnection) {
  SilentServer server;
  ASSERT_NE(server.Port(), 0);
  Start(MailEnv({{"ToMail", ""}}, std::to_string(server.Port())), {{"Word1", "FIRE"}});
  Send({"FIRE 1", "FIRE 2"});
  EXPECT_EQ(folder_.WaitForRecords(2).size(), 2u);
  const int status = folder_.Stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(server.Take(), 0u);
  EXPECT_EQ(folder_.Errors(), Strings{});
}

// A refused connection fails each job at once, while every record is written, whole and in
// order.
TEST_F(AlertTest, DeadServerLosesNoRecord) {
  const testsupport::ClosedPort closed;
  Start(MailEnv({}, std::to_string(closed.Port())), {{"Word1", "FIRE"}});
  Strings records;
  for (int i = 0; i < 200; ++i)
    records.push_back("2026/12/10 10:00:00\tCopy\tPC" + std::to_string(i) + "\tFIRE\t" +
                      std::string(static_cast<size_t>(i % 50), 'x'));
  Send(records);
  EXPECT_EQ(folder_.WaitForRecords(200), records);
  const Strings errors = WaitForErrors(200);
  EXPECT_EQ(errors, Strings(200, OpenFailure()));
}

// The sink holds its reply to the mail's end for 5 s: records sent meanwhile are written at
// once, one after the other, before the mail is done.
TEST_F(AlertTest, SlowServerDelaysNoRecord) {
  SmtpSink slow({"--hold", "dot=5"});
  ASSERT_NE(slow.Port(), "") << slow.Error();
  Start(MailEnv({}, slow.Port()), {{"Word1", "FIRE"}});
  Send({"FIRE"});
  ASSERT_TRUE(WaitFor([&] { return !slow.Holds().empty(); }));  // the mail waits at its end
  size_t written = 1, duringTheMail = 0;
  while (slow.Messages().empty() && written < 2000) {
    Send({"plain " + std::to_string(written)});
    ++written;
    ASSERT_EQ(folder_.WaitForRecords(written).size(), written);
    if (slow.Messages().empty()) ++duringTheMail;
  }
  EXPECT_GE(duringTheMail, 3u);
  EXPECT_TRUE(WaitFor([&] { return slow.Messages().size() == 1; }));
  EXPECT_EQ(folder_.Errors(), Strings{});
}

// A server that never greets holds the first job; the queue takes 1000 more and refuses the
// rest, one error event each; every record is written. A stop then gives the mail 20 s, ends
// the waiting job and counts the jobs it drops.
TEST_F(AlertTest, QueueCapAndStop) {
  SilentServer server;
  ASSERT_NE(server.Port(), 0);
  Start(MailEnv({}, std::to_string(server.Port())), {{"Word1", "FIRE"}});
  Send({"FIRE first"});
  ASSERT_TRUE(WaitFor([&] { return server.Take() >= 1; }));
  Strings records = {"FIRE first"};
  for (int i = 0; i < 1100; ++i)
    records.push_back("FIRE " + std::to_string(i));
  Send(Strings(records.begin() + 1, records.end()));
  EXPECT_EQ(folder_.WaitForRecords(records.size()), records);
  const std::string full = kFailure + "mail queue full";
  const int status = folder_.Stop(60000);  // the stop gives the mail 20 s
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  size_t refused = 0, failed = 0, dropped = 0, other = 0;
  const std::string droppedHead = "ServiceStop System Error Exception : ";
  for (const std::string& e : folder_.Errors()) {
    if (e.starts_with(full))
      ++refused;
    else if (e == OpenFailure())
      ++failed;
    else if (e.starts_with(droppedHead) && e.find(" queued mail jobs dropped") != std::string::npos)
      dropped += std::stoul(e.substr(droppedHead.size()));
    else
      ++other;
  }
  const size_t accepted = failed + dropped - 1;  // the first record's job is not of the 1100
  EXPECT_EQ(accepted + refused, 1100u);
  EXPECT_LE(accepted, 1000u);
  EXPECT_GE(failed, 1u);  // the job that waited on the server ended with the stop
  EXPECT_GE(dropped, 1u);
  EXPECT_EQ(other, 0u);
}

// POP-before-SMTP against dovecot: the login comes with the mail (once per job), a record that
// fires nothing logs in nowhere, and a wrong password is one error event per job and no mail.
class PopBeforeSmtpTest : public AlertTest {
 protected:
  void SetUp() override {
    AlertTest::SetUp();
    if (IsSkipped()) return;
    if (!testsupport::Pop3Server::CanRun()) GTEST_SKIP() << testsupport::kUsersCannotSwitch;
    ASSERT_TRUE(pop_.Started()) << pop_.Error();
  }
  Keys PopEnv(const std::string& password) const {
    return MailEnv({{"PopBeforeSmtp", "1"},
                    {"PopServer", "127.0.0.1"},
                    {"PopPort", std::to_string(pop_.Port())},
                    {"PopUser", "alice"},
                    {"PopPasswd", EncryptSetting(password, kSettingPassphrase)}});
  }
  size_t Logins() const {
    const std::string log = pop_.Log();
    size_t n = 0;
    for (size_t at = 0; (at = log.find("Login: user=<alice>", at)) != std::string::npos; ++at)
      ++n;
    return n;
  }
  testsupport::Pop3Server pop_;
};

TEST_F(PopBeforeSmtpTest, LoginBeforeTheMailOnlyForAJob) {
  Start(PopEnv("secret"), {{"Word1", "FIRE"}});
  Send({"nothing to see", "FIRE"});
  ASSERT_EQ(WaitForMails(1).size(), 1u);
  // dovecot's log process may write the login a moment after the mail went out.
  EXPECT_TRUE(WaitFor([&] { return Logins() >= 1; }));
  EXPECT_EQ(Logins(), 1u);
  folder_.Stop();
  EXPECT_EQ(Logins(), 1u);
  EXPECT_EQ(folder_.Errors(), Strings{});
}

TEST_F(PopBeforeSmtpTest, WrongPasswordOneEventPerJob) {
  Start(PopEnv("wrong"), {{"Word1", "FIRE"}, {"Word2", "AGAIN"}});
  Send({"FIRE AGAIN", "quiet", "FIRE"});
  EXPECT_EQ(WaitForErrors(2), Strings(2, PopFailure()));
  folder_.Stop();
  EXPECT_EQ(folder_.Errors(), Strings(2, PopFailure()));
  EXPECT_EQ(sink_.Messages().size(), 0u);
}

}  // namespace
}  // namespace collectortest
