// The synchronous SMTP client against the aiosmtpd sink of tests/peers: the collector's sequence
// end to end, every failure with its result, text and what the sink stored, time-outs and slow
// servers, nested use from a timer, the terminating application, and a client on a thread of its
// own.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "net/mail/jcode.h"
#include "net/socket/socklib.h"
#include "platform/msg/timer.h"
#include "platform/win/module.h"
#include "platform/wsock32/host.h"
#include "tests/net/mail/smtp_support.h"
#include "tests/support/fake_resolver.h"
#include "tests/support/files.h"
#include "tests/support/installed_resolver.h"
#include "tests/support/mail_reader.h"
#include "tests/support/peers.h"
#include "tests/support/pump.h"
#include "tests/support/smtp_sink.h"

namespace {

using net::mail::ConvertJCode;
using net::mail::EncodeMimeHeaderJis;
using net::mail::jcJis;
using smtptest::ProbeClient;
using smtptest::Sjis;
using testsupport::InspectWithPython;
using testsupport::SmtpSink;

// The settings the collector and the console store for their SmtpWatch.
void AsSmtpWatch(ProbeClient& smtp) {
  smtp.ShareMode = smtpShareDenyWrite;
  smtp.LocalAddr = "0.0.0.0";
  smtp.AuthType = smtpAuthNone;
  smtp.CharSet = "ISO-2022-JP";
  smtp.DefaultEncoding = smtpEnc7bit;
  smtp.Allow8bitChars = false;
  smtp.SetContentType(smtpPlainText);
  smtp.Timeout = 15;
}

// What the collector does for one mail (its order of calls), with the text already in CP932.
struct CollectorMail {
  std::string sender = "kelvadon@example.jp";
  std::vector<std::string> to = {"admin@example.jp", "second@example.jp"};
  std::string subject = "Kelvadon Report";
  std::vector<std::string> body;
  std::vector<std::string> files;

  bool Send(ProbeClient& smtp, const std::string& port) const {
    smtp.SyncAbort();
    smtp.Host = "127.0.0.1";
    smtp.Port = port;
    smtp.HdrCc.clear();
    smtp.RcptName.Clear();
    smtp.EmailFiles.Clear();
    smtp.MailMessage.Clear();
    smtp.FromName = sender;
    smtp.HdrFrom = sender;
    smtp.HdrTo = to[0];
    for (const auto& address : to)
      smtp.AddRecipients(address, "", "");
    smtp.HdrSubject = EncodeMimeHeaderJis(subject);
    for (const auto& line : body)
      smtp.MailMessage.Add(ConvertJCode(line, jcJis));
    for (const auto& file : files)
      smtp.EmailFiles.Add(file);
    if (!smtp.SyncOpen()) return false;
    if (!smtp.SyncMail()) return false;
    return smtp.SyncQuit();
  }
};

TEST(SyncSmtp, CollectorSequenceEndToEnd) {
  SmtpSink sink;
  REQUIRE_SINK(sink);
  testsupport::TempDir dir("smtpday");
  const std::string day = Sjis("Date\tOperation\tHostName\r\n2024/01/15 12:04:05\tCopy\tPC-01\r\n");
  CollectorMail mail;
  mail.subject = Sjis("Kelvadon 日報");
  mail.body = {Sjis("本日の記録を添付します。"), "PC-01"};
  mail.files = {dir.Write("20240115.log", day)};
  ProbeClient smtp;
  AsSmtpWatch(smtp);
  ASSERT_TRUE(mail.Send(smtp, sink.Port())) << smtp.ErrorMessage();
  EXPECT_FALSE(smtp.IsConnected);

  const auto stored = sink.Messages();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].envelope, (std::vector<std::string>{"MAIL FROM:<kelvadon@example.jp>",
                                                          "RCPT TO:<admin@example.jp>",
                                                          "RCPT TO:<second@example.jp>"}));
  const auto read = InspectWithPython(stored[0].data);
  ASSERT_TRUE(read.ok) << read.error;
  EXPECT_EQ(read["defects"], "");
  EXPECT_EQ(read["Subject"], "Kelvadon 日報");
  EXPECT_EQ(read["To"], "admin@example.jp");
  EXPECT_EQ(read["type"], "multipart/mixed");
  EXPECT_EQ(read["part.0.text"], "本日の記録を添付します。\r\nPC-01\r\n");
  EXPECT_EQ(read["part.1.filename"], "20240115.log");
  EXPECT_EQ(read["part.1.type"], "application/octet-stream");
  EXPECT_EQ(read["part.1.bytes"], day);

  // Without a session Quit answers at once, with the last command's result: no wait at all.
  int polls = 0;
  smtp.Terminating = [&] {
    ++polls;
    return false;
  };
  EXPECT_TRUE(smtp.SyncQuit());
  EXPECT_EQ(polls, 0);

  // The same component sends the next mail.
  smtp.Terminating = nullptr;
  ASSERT_TRUE(mail.Send(smtp, sink.Port())) << smtp.ErrorMessage();
  EXPECT_EQ(sink.Messages().size(), 2u);
}

TEST(SyncSmtp, FailuresAtTheServer) {
  struct Row {
    const char* what;
    std::vector<std::string> switches;
    std::function<void(ProbeClient&, testsupport::TempDir&)> prepare;
    bool openOk;  // SyncOpen's result; SyncMail follows only when it succeeded
    bool mailOk;
    std::string error;  // ErrorMessage begins with it
    bool connected;
    std::vector<std::string> envelope;  // of the one message stored, empty: none stored
  } rows[] = {
      {"HELO refused",
       {"--refuse", "helo"},
       nullptr,
       false,
       false,
       "550 5.7.1 HELO refused",
       true,
       {}},
      {"MAIL refused",
       {"--refuse", "mail"},
       nullptr,
       true,
       false,
       "553 5.1.8 Sender refused",
       true,
       {}},
      {"a middle recipient refused",
       {"--refuse", "rcpt=b@x.jp"},
       nullptr,
       true,
       false,
       "550 5.1.1 Recipient refused",
       true,
       {}},
      {"a middle recipient skipped",
       {"--refuse", "rcpt=b@x.jp"},
       [](ProbeClient& smtp, testsupport::TempDir&) {
         smtp.OnRcptToError = [](rtl::TObject*, WORD, int32_t, TSmtpRcptToErrorAction& action) {
           action = rcptActSkip;
         };
       },
       true,
       true,
       "550 5.1.1 Recipient refused",
       true,
       {"MAIL FROM:<from@x.jp>", "RCPT TO:<a@x.jp>", "RCPT TO:<c@x.jp>"}},
      {"DATA refused",
       {"--refuse", "data"},
       nullptr,
       true,
       false,
       "554 5.5.1 DATA refused",
       true,
       {}},
      {"the message refused",
       {"--refuse", "dot"},
       nullptr,
       true,
       false,
       "552 5.3.4 Message refused",
       true,
       {}},
      {"an attachment gone before sending",
       {},
       [](ProbeClient& smtp, testsupport::TempDir& dir) {
         const std::string path = dir.Write("gone.log", "data");
         smtp.EmailFiles.Add(path);
         std::remove(path.c_str());
       },
       true,
       false,
       "500 EFOpenError: Cannot open file",
       false,
       {}},
      {"silence after \".\"",
       {"--hold", "dot=30"},
       [](ProbeClient& smtp, testsupport::TempDir&) { smtp.Timeout = 1; },
       true,
       false,
       "426 Timeout",
       false,
       {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    SmtpSink sink(row.switches);
    REQUIRE_SINK(sink);
    testsupport::TempDir dir("smtpfail");
    ProbeClient smtp;
    AsSmtpWatch(smtp);
    smtp.Host = "127.0.0.1";
    smtp.Port = sink.Port();
    smtp.FromName = smtp.HdrFrom = "from@x.jp";
    smtp.HdrTo = "a@x.jp";
    smtp.AddRecipients("a@x.jp, b@x.jp, c@x.jp", "", "");
    smtp.MailMessage.Add("Hello.");
    if (row.prepare) row.prepare(smtp, dir);
    EXPECT_EQ(smtp.SyncOpen(), row.openOk);
    if (row.openOk) {
      EXPECT_EQ(smtp.SyncMail(), row.mailOk);
    }
    EXPECT_EQ(smtp.ErrorMessage().rfind(row.error, 0), 0u) << smtp.ErrorMessage();
    if (row.error == "426 Timeout") {
      EXPECT_EQ(smtp.ReplyCode, 426);
    }
    EXPECT_EQ(smtp.IsConnected, row.connected);
    EXPECT_EQ(smtp.State(), smtpReady);
    const auto stored = sink.Messages();
    if (row.envelope.empty()) {
      EXPECT_TRUE(stored.empty());
    } else {
      ASSERT_EQ(stored.size(), 1u);
      EXPECT_EQ(stored[0].envelope, row.envelope);
    }
  }
}

TEST(SyncSmtp, FailuresToConnect) {
  testsupport::FakeResolver resolver;
  const testsupport::InstalledResolver installed(&resolver);
  ASSERT_TRUE(installed.Installed());
  const testsupport::ClosedPort closed;
  struct {
    const char* what;
    std::string host;
    std::string port;
    int result;
    std::string error;
  } rows[] = {
      {"nobody listens", "127.0.0.1", std::to_string(closed.Port()), 500,
       "500 Connection refused (Winsock error #10061)"},
      {"an unknown host", "nowhere.test", "25", 11001, "500 Host not found (Winsock error #11001)"},
      {"no host", "", "25", 500, "500 ESocketException: DNS lookup: invalid host name."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ProbeClient smtp;
    smtp.Host = row.host;
    smtp.Port = row.port;
    std::vector<int> ends;
    smtp.OnRequestDone = [&](rtl::TObject*, TSmtpRequest, WORD code) { ends.push_back(code); };
    EXPECT_FALSE(smtp.SyncOpen());
    testsupport::PumpFor(20);
    EXPECT_EQ(smtp.ResultCode, row.result);
    EXPECT_EQ(smtp.ErrorMessage(), row.error);
    EXPECT_EQ(ends, std::vector<int>{row.result});
    EXPECT_FALSE(smtp.IsConnected);
    EXPECT_EQ(smtp.State(), smtpReady);
  }
}

TEST(SyncSmtp, SlowSteadyUploadDoesNotTimeOut) {
  SmtpSink sink({"--pace", "600000"});
  REQUIRE_SINK(sink);
  testsupport::TempDir dir("smtpslow");
  std::string bytes(2 * 1024 * 1024, '\0');
  std::mt19937 random(3);
  for (char& b : bytes)
    b = static_cast<char>(random());
  ProbeClient smtp;
  AsSmtpWatch(smtp);
  smtp.Timeout = 2;  // far less than the upload takes at the sink's pace
  smtp.Host = "127.0.0.1";
  smtp.Port = sink.Port();
  smtp.FromName = smtp.HdrFrom = smtp.HdrTo = "a@x.jp";
  smtp.RcptName.Add("a@x.jp");
  smtp.EmailFiles.Add(dir.Write("big.bin", bytes));
  ASSERT_TRUE(smtp.SyncOpen());
  // A small send buffer, as over a real network: on loopback the system would take megabytes at
  // once, and the client could not see the server's pace at all.
  int size = 16 * 1024;
  ASSERT_EQ(Winsock::setsockopt(smtp.Socket().HSocket(), WS_SOL_SOCKET, WS_SO_SNDBUF,
                                reinterpret_cast<const char*>(&size), sizeof size),
            0);
  const DWORD start = GetTickCount();
  ASSERT_TRUE(smtp.SyncMail()) << smtp.ErrorMessage();
  EXPECT_GT(TickElapsed(start, GetTickCount()), 2000u * 2);  // it really was slow
  EXPECT_TRUE(smtp.SyncQuit());
  const auto stored = sink.Messages();
  ASSERT_EQ(stored.size(), 1u);
  const auto read = InspectWithPython(stored[0].data);
  ASSERT_TRUE(read.ok) << read.error;
  EXPECT_TRUE(read["part.1.bytes"] == bytes);
}

TEST(SyncSmtp, NestedUseThatAbortsFailsTheCall) {
  SmtpSink sink({"--hold", "dot=20"});
  REQUIRE_SINK(sink);
  ProbeClient smtp;
  AsSmtpWatch(smtp);
  smtp.Host = "127.0.0.1";
  smtp.Port = sink.Port();
  smtp.FromName = smtp.HdrFrom = smtp.HdrTo = "a@x.jp";
  smtp.RcptName.Add("a@x.jp");
  smtp.MailMessage.Add("Hello.");
  ASSERT_TRUE(smtp.SyncOpen());
  // While SyncMail waits for the reply to ".", a timer handler drops the session and opens a new
  // one, which succeeds: the mail itself did not.
  bool nestedOpen = false;
  TTimer timer;
  timer.SetInterval(300);
  timer.OnTimer = [&](rtl::TObject*) {
    timer.SetEnabled(false);
    smtp.SyncAbort();
    nestedOpen = smtp.SyncOpen();
  };
  EXPECT_FALSE(smtp.SyncMail());
  EXPECT_TRUE(nestedOpen);
  EXPECT_EQ(smtp.ErrorMessage(), "426 Operation aborted.");
  EXPECT_TRUE(smtp.IsConnected);
  EXPECT_TRUE(smtp.SyncQuit());
  EXPECT_TRUE(sink.Messages().empty());
}

TEST(SyncSmtp, OpenWhileOpenFailsWithoutText) {
  SmtpSink sink;
  REQUIRE_SINK(sink);
  ProbeClient smtp;
  smtp.Host = "127.0.0.1";
  smtp.Port = sink.Port();
  ASSERT_TRUE(smtp.SyncOpen());
  EXPECT_FALSE(smtp.SyncOpen());
  EXPECT_EQ(smtp.ErrorMessage(), "");
  EXPECT_TRUE(smtp.IsConnected);
  EXPECT_EQ(smtp.State(), smtpReady);
  EXPECT_TRUE(smtp.SyncQuit());
}

TEST(SyncSmtp, TerminatingApplicationEndsTheWait) {
  struct {
    const char* what;
    bool ownTest;  // the owner's test, else the default (a quit message pending)
  } rows[] = {{"the default test", false}, {"the owner's test", true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    SmtpSink sink({"--hold", "dot=30"});
    REQUIRE_SINK(sink);
    ProbeClient smtp;
    smtp.Host = "127.0.0.1";
    smtp.Port = sink.Port();
    smtp.Timeout = 0;  // no time-out: only the end of the application stops the wait
    smtp.FromName = smtp.HdrFrom = smtp.HdrTo = "a@x.jp";
    smtp.RcptName.Add("a@x.jp");
    bool terminating = false;
    if (row.ownTest) smtp.Terminating = [&] { return terminating; };
    ASSERT_TRUE(smtp.SyncOpen());
    TTimer timer;
    timer.SetInterval(300);
    timer.OnTimer = [&](rtl::TObject*) {
      timer.SetEnabled(false);
      if (row.ownTest)
        terminating = true;
      else
        PostQuitMessage(0);
    };
    EXPECT_FALSE(smtp.SyncMail());
    EXPECT_EQ(smtp.ErrorMessage(), "426 Timeout");
    EXPECT_FALSE(smtp.IsConnected);
    MSG msg;
    while (PeekMessage(&msg, 0, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
  }
}

// A mail sent from inside another socket's handler (a record line that starts it) goes out while
// that socket's next line waits for the handler to end.
TEST(SyncSmtp, MailFromInsideAnotherSocketsHandler) {
  SmtpSink sink;
  REQUIRE_SINK(sink);
  ProbeClient smtp;
  AsSmtpWatch(smtp);
  smtp.Host = "127.0.0.1";
  smtp.Port = sink.Port();
  smtp.FromName = smtp.HdrFrom = smtp.HdrTo = "a@x.jp";
  smtp.RcptName.Add("a@x.jp");
  std::vector<std::string> events;
  std::unique_ptr<TAsyncSocket> session;
  TAsyncSocket listener;
  listener.SetProto("tcp");
  listener.SetAddr("127.0.0.1");
  listener.SetPort("0");
  listener.OnSessionAvailable = [&](rtl::TObject*, WORD) {
    const SOCKET h = listener.Accept();
    session = std::make_unique<TAsyncSocket>();
    session->SetLineMode(true);
    session->OnDataAvailable = [&](rtl::TObject*, WORD) {
      std::string line = session->ReceiveStr();
      line = line.substr(0, line.find('\r'));
      events.push_back(line);
      if (line != "one") return;
      smtp.MailMessage.Clear();
      smtp.MailMessage.Add("record " + line);
      const bool ok = smtp.SyncOpen() && smtp.SyncMail() && smtp.SyncQuit();
      events.push_back(ok ? "mailed" : "failed: " + smtp.ErrorMessage());
    };
    session->SetHSocket(h);
  };
  listener.Listen();
  const int agent = testsupport::ConnectTcp(std::stoi(listener.GetSockPort()));
  ASSERT_GE(agent, 0);
  ASSERT_TRUE(testsupport::SendAll(agent, "one\r\ntwo\r\n"));
  EXPECT_TRUE(testsupport::PumpUntil([&] { return events.size() == 3; }, 20000));
  EXPECT_EQ(events, (std::vector<std::string>{"one", "mailed", "two"}));
  close(agent);
  ASSERT_EQ(sink.Messages().size(), 1u);
  EXPECT_NE(sink.Messages()[0].data.find("record one"), std::string::npos);
  session.reset();
}

TEST(SyncSmtp, MultiThreadedClientOnAThreadWithoutLoop) {
  SmtpSink sink;
  REQUIRE_SINK(sink);
  const std::string port = sink.Port();
  std::atomic<bool> sent{false};
  std::string error;
  std::thread worker([&] {
    ProbeClient smtp;
    AsSmtpWatch(smtp);
    smtp.MultiThreaded = true;
    CollectorMail mail;
    mail.body = {"From a worker thread."};
    sent = mail.Send(smtp, port);
    error = smtp.ErrorMessage();
  });
  worker.join();
  EXPECT_TRUE(sent) << error;
  const auto stored = sink.Messages();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_NE(stored[0].data.find("From a worker thread."), std::string::npos);
}

}  // namespace
