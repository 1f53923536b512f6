// The SMTP engine against a scripted server on the test's own thread: the trace and the posted
// request ends, misuse, greetings and replies of every shape, the chains, recipient refusals,
// what DATA puts on the wire, closings and Abort, and arguments that would break a command.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/net/mail/smtp_rig.h"
#include "tests/support/pump.h"

namespace {

using smtptest::End;
using smtptest::FakeSmtpServer;
using smtptest::ProbeClient;
using smtptest::Rig;
using testsupport::PumpFor;
using testsupport::PumpUntil;

TEST(SmtpRequests, TraceStatesAndPostedEnds) {
  Rig r;
  std::vector<TSmtpState> states;
  r.client.OnStateChange = [&](rtl::TObject*) { states.push_back(r.client.State()); };
  std::vector<std::string> commands, responses;
  r.client.OnCommand = [&](rtl::TObject*, const std::string& m) { commands.push_back(m); };
  r.client.OnResponse = [&](rtl::TObject*, const std::string& m) { responses.push_back(m); };
  // Each end starts the next request from OnRequestDone.
  r.client.OnRequestDone = [&](rtl::TObject*, TSmtpRequest rq, WORD code) {
    r.ends.emplace_back(rq, code);
    if (code != 0) return;
    if (rq == smtpRqConnect) r.client.Helo();
    if (rq == smtpRqHelo) r.client.Quit();
  };
  r.client.Connect();
  EXPECT_TRUE(r.ends.empty());  // never inside the call
  ASSERT_TRUE(PumpUntil([&] { return r.ends.size() == 3; }));
  EXPECT_EQ(r.ends, (std::vector<End>{{smtpRqConnect, 0}, {smtpRqHelo, 0}, {smtpRqQuit, 0}}));
  EXPECT_EQ(r.trace, (std::vector<std::string>{"< 220 fake.test ready", "> HELO tester", "< 250 OK",
                                               "> QUIT", "< 221 Bye"}));
  EXPECT_EQ(commands, (std::vector<std::string>{"HELO tester", "QUIT"}));
  EXPECT_EQ(responses, (std::vector<std::string>{"220 fake.test ready", "250 OK", "221 Bye"}));
  EXPECT_EQ(states, (std::vector<TSmtpState>{smtpDnsLookup, smtpConnecting, smtpWaitingBanner,
                                             smtpConnected, smtpReady, smtpWaitingResponse,
                                             smtpReady, smtpWaitingResponse, smtpReady}));
  EXPECT_FALSE(r.client.IsConnected);
  EXPECT_EQ(r.client.LastResponse(), "221 Bye");
}

TEST(SmtpRequests, MisuseRaisesAndStartsNothing) {
  struct Row {
    const char* what;
    std::function<void(Rig&)> prepare;
    std::function<void(Rig&)> start;
    const char* message;
  } rows[] = {
      {"a command without a session", [](Rig&) {}, [](Rig& r) { r.client.Helo(); },
       "SMTP component not connected"},
      {"RCPT without recipients", [](Rig& r) { r.client.RcptName.Clear(); },
       [](Rig& r) { r.client.RcptTo(); }, "RcptName list is empty"},
      {"Connect while connected", [](Rig&) {}, [](Rig& r) { r.client.Connect(); },
       "SMTP component already connected"},
      {"Open while connected", [](Rig&) {}, [](Rig& r) { r.client.Open(); },
       "SMTP component already connected"},
      {"a request while one is pending",
       [](Rig& r) {
         r.Answer("VRFY", {""});
         r.client.Vrfy();
       },
       [](Rig& r) { r.client.Rset(); }, "SMTP component not ready"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Rig r;
    if (std::string(row.what) != "a command without a session") {
      ASSERT_TRUE(r.client.SyncOpen()) << r.client.ErrorMessage();
    }
    row.prepare(r);
    PumpFor(20);
    const size_t commands = r.fake.Commands.size();
    const TSmtpState state = r.client.State();
    try {
      row.start(r);
      ADD_FAILURE() << "no exception";
    } catch (const SmtpException& e) {
      EXPECT_EQ(e.Message, row.message);
    }
    PumpFor(20);
    EXPECT_EQ(r.fake.Commands.size(), commands);
    EXPECT_EQ(r.client.State(), state);
    EXPECT_EQ(r.client.ErrorMessage(), "");
  }
}

TEST(SmtpRequests, Greetings) {
  struct {
    const char* what;
    std::string greeting;
    bool open;  // SyncOpen, else SyncConnect
    bool ok;
    int result;
    std::string error;
    End end;
  } rows[] = {
      {"multi-line",
       "220-first\r\n220-second\r\n220 last\r\n",
       false,
       true,
       0,
       "",
       {smtpRqConnect, 0}},
      {"refused",
       "554 no service here\r\n",
       false,
       false,
       554,
       "554 no service here",
       {smtpRqConnect, 10004}},
      {"refused in Open",
       "554 no service here\r\n",
       true,
       false,
       554,
       "554 no service here",
       {smtpRqOpen, 554}},
      {"without a code", "hello\r\n", false, false, 20600, "hello", {smtpRqConnect, 10004}},
      {"none at all", "", false, false, 0, "426 Timeout", {smtpRqConnect, 10004}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Rig r;
    r.client.Timeout = 1;
    r.fake.Greeting = row.greeting;
    const bool ok = row.open ? r.client.SyncOpen() : r.client.SyncConnect();
    r.Settle();
    EXPECT_EQ(ok, row.ok);
    EXPECT_EQ(r.client.ErrorMessage(), row.error);
    if (row.result != 0) {
      EXPECT_EQ(r.client.ResultCode, row.result);
    }
    EXPECT_EQ(r.ends, std::vector<End>{row.end});  // one end, however many greeting lines
    EXPECT_EQ(r.client.IsConnected, row.ok);
    EXPECT_EQ(r.client.Socket().State(), row.ok ? wsConnected : wsClosed);
    EXPECT_TRUE(r.fake.Commands.empty());
  }
}

TEST(SmtpRequests, Replies) {
  struct {
    const char* what;
    std::string reply;
    bool ok;
    int result;
    std::string error;
    bool open;  // the session afterwards
  } rows[] = {
      {"success", "250 OK\r\n", true, 0, "", true},
      {"multi-line", "250-one\r\n250-two\r\n250 three\r\n", true, 0, "", true},
      {"refusal", "501 bad name\r\n", false, 501, "501 bad name", true},
      {"no digits", "hello there\r\n", false, 20600, "hello there", true},
      {"code out of range", "65536 ok\r\n", false, 20600, "65536 ok", true},
      {"longest line", "250 " + std::string(4091, 'x') + "\r\n", true, 0, "", true},
      {"a byte too long", "250 " + std::string(4092, 'x') + "\r\n", false, 500,
       "500 Reply line longer than 4095 bytes", false},
      {"5000 bytes", "250 " + std::string(4996, 'x') + "\r\n", false, 500,
       "500 Reply line longer than 4095 bytes", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Rig r;
    r.Answer("HELO", {row.reply});
    EXPECT_EQ(r.client.SyncOpen(), row.ok);
    r.Settle();
    EXPECT_EQ(r.client.ResultCode, row.result);
    EXPECT_EQ(r.client.ErrorMessage(), row.error);
    EXPECT_EQ(r.ends, (std::vector<End>{{smtpRqOpen, row.result}}));
    EXPECT_EQ(r.client.IsConnected, row.open);
    EXPECT_EQ(r.client.State(), smtpReady);
  }
}

TEST(SmtpChains, RefusedEhloIsRetriedAsHelo) {
  Rig r;
  r.client.AuthType = smtpAuthLogin;
  r.Answer("EHLO", {"502 not here\r\n"});
  EXPECT_TRUE(r.client.SyncOpen()) << r.client.ErrorMessage();
  r.Settle();
  EXPECT_EQ(r.fake.Commands, (std::vector<std::string>{"EHLO tester", "HELO tester"}));
  EXPECT_FALSE(r.client.EsmtpAccepted);
  EXPECT_EQ(r.ends, (std::vector<End>{{smtpRqOpen, 0}}));
}

TEST(SmtpChains, RefusedRecipients) {
  struct Row {
    const char* what;
    const char* refused;
    TSmtpRcptToErrorAction action;
    bool handler;
    bool ok;
    std::vector<std::string> commands;
    std::vector<std::pair<int, int>> offered;  // (code, index) given to OnRcptToError
  } rows[] = {
      {"middle, no handler",
       "RCPT TO:<b@x.jp>",
       rcptActAbort,
       false,
       false,
       {"MAIL FROM:<from@x.jp>", "RCPT TO:<a@x.jp>", "RCPT TO:<b@x.jp>"},
       {}},
      {"middle, skipped",
       "RCPT TO:<b@x.jp>",
       rcptActSkip,
       true,
       true,
       {"MAIL FROM:<from@x.jp>", "RCPT TO:<a@x.jp>", "RCPT TO:<b@x.jp>", "RCPT TO:<c@x.jp>", "DATA",
        "."},
       {{550, 1}}},
      {"middle, aborted by the handler",
       "RCPT TO:<b@x.jp>",
       rcptActAbort,
       true,
       false,
       {"MAIL FROM:<from@x.jp>", "RCPT TO:<a@x.jp>", "RCPT TO:<b@x.jp>"},
       {{550, 1}}},
      {"the last one is never offered",
       "RCPT TO:<c@x.jp>",
       rcptActSkip,
       true,
       false,
       {"MAIL FROM:<from@x.jp>", "RCPT TO:<a@x.jp>", "RCPT TO:<b@x.jp>", "RCPT TO:<c@x.jp>"},
       {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Rig r;
    r.client.RcptName.Clear();
    r.client.AddRecipients("a@x.jp, b@x.jp, c@x.jp", "", "");
    r.Answer(row.refused, {"550 no such user\r\n"});
    std::vector<std::pair<int, int>> offered;
    if (row.handler) {
      r.client.OnRcptToError = [&](rtl::TObject*, WORD code, int32_t index,
                                   TSmtpRcptToErrorAction& action) {
        offered.emplace_back(code, index);
        action = row.action;
      };
    }
    ASSERT_TRUE(r.client.SyncOpen());
    EXPECT_EQ(r.client.SyncMail(), row.ok);
    EXPECT_EQ(r.CommandsAfterHelo(), row.commands);
    EXPECT_EQ(offered, row.offered);
    if (!row.ok) {
      EXPECT_EQ(r.client.ResultCode, 550);
      EXPECT_EQ(r.client.ErrorMessage(), "550 no such user");
    }
  }
}

TEST(SmtpChains, RetriedRecipientIsSentAgain) {
  Rig r;
  int refusals = 0;
  r.fake.OnCommand = [&](const std::string& c) -> FakeSmtpServer::Answer {
    if (c == "RCPT TO:<a@x.jp>" && refusals++ == 0) return {"451 try again\r\n"};
    return FakeSmtpServer::Standard(c);
  };
  r.client.RcptName.Clear();
  r.client.AddRecipients("a@x.jp;b@x.jp", "", "");
  r.client.OnRcptToError = [](rtl::TObject*, WORD, int32_t, TSmtpRcptToErrorAction& action) {
    action = rcptActRetry;
  };
  ASSERT_TRUE(r.client.SyncOpen());
  EXPECT_TRUE(r.client.SyncMail()) << r.client.ErrorMessage();
  EXPECT_EQ(r.CommandsAfterHelo(),
            (std::vector<std::string>{"MAIL FROM:<from@x.jp>", "RCPT TO:<a@x.jp>",
                                      "RCPT TO:<a@x.jp>", "RCPT TO:<b@x.jp>", "DATA", "."}));
}

// The body part of what came over the wire (after the header's empty line).
std::string BodyOf(const std::string& data) {
  const size_t blank = data.find("\r\n\r\n");
  return blank == std::string::npos ? std::string() : data.substr(blank + 4);
}

TEST(SmtpData, DotStuffingAndLineEnds) {
  Rig r;
  r.client.Allow8bitChars = true;  // 7bit lines as they are
  for (const char* line : {".", ".x", "..x", "plain", "two\rparts", "three\nparts", ".a\r\n.b"})
    r.client.MailMessage.Add(line);
  // The owner's own lines follow the text; a bare CR in one makes two lines.
  int owned = 0;
  r.client.OnGetData = [&](rtl::TObject*, int32_t, char* line, int32_t, bool& more) {
    if (owned++ == 0)
      std::strcpy(line, ".owner\r.bare");
    else
      more = false;
  };
  r.client.OnHeaderLine = [](rtl::TObject*, char* line, int32_t size) {
    if (std::string(line).rfind("X-Mailer:", 0) == 0)
      std::snprintf(line, static_cast<size_t>(size), "X-Mailer: hooked\r\n.X-Dotted: yes");
  };
  ASSERT_TRUE(r.client.SyncOpen());
  ASSERT_TRUE(r.client.SyncMail()) << r.client.ErrorMessage();
  const std::string& data = r.fake.Data;
  EXPECT_EQ(BodyOf(data),
            "..\r\n..x\r\n...x\r\nplain\r\ntwo\r\nparts\r\nthree\r\nparts\r\n..a\r\n..b\r\n"
            "..owner\r\n..bare\r\n");
  EXPECT_NE(data.find("\r\nX-Mailer: hooked\r\n..X-Dotted: yes\r\n\r\n"), std::string::npos);
  for (size_t i = 0; i < data.size(); ++i) {
    if (data[i] == '\r') {
      EXPECT_EQ(data[i + 1], '\n') << i;
    }
    if (data[i] == '\n') {
      EXPECT_EQ(data[i - 1], '\r') << i;
    }
  }
  EXPECT_EQ(r.fake.Commands.back(), ".");
}

TEST(SmtpData, EndsWithoutLines) {
  struct {
    const char* what;
    std::string command;
    FakeSmtpServer::Answer answer;
    bool mail;  // SyncMail, else SyncOpen
    int result;
    End end;
    std::vector<std::string> commands;  // after HELO
  } rows[] = {
      {"DATA refused",
       "DATA",
       {"554 no thanks\r\n"},
       true,
       554,
       {smtpRqMail, 554},
       {"MAIL FROM:<from@x.jp>", "RCPT TO:<to@x.jp>", "DATA"}},
      {"closed before the reply to \".\"",
       ".",
       {"", true},
       true,
       10004,
       {smtpRqMail, 10004},
       {"MAIL FROM:<from@x.jp>", "RCPT TO:<to@x.jp>", "DATA", "."}},
      {"closed before the reply to RCPT",
       "RCPT",
       {"", true},
       true,
       10004,
       {smtpRqMail, 10004},
       {"MAIL FROM:<from@x.jp>", "RCPT TO:<to@x.jp>"}},
      {"closed before the reply to HELO",
       "HELO",
       {"", true},
       false,
       10004,
       {smtpRqOpen, 10004},
       {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Rig r;
    r.Answer(row.command, row.answer);
    if (row.mail) {
      ASSERT_TRUE(r.client.SyncOpen());
    }
    r.Settle();
    r.ends.clear();
    EXPECT_FALSE(row.mail ? r.client.SyncMail() : r.client.SyncOpen());
    r.Settle();
    EXPECT_EQ(r.client.ResultCode, row.result);
    EXPECT_EQ(r.ends, (std::vector<End>{row.end}));
    EXPECT_EQ(r.CommandsAfterHelo(), row.commands);
    if (row.command == "DATA") {
      EXPECT_EQ(r.fake.Data, "");  // no message line after a refused DATA
    }
  }
}

TEST(SmtpAbort, EndsWhatIsPending) {
  struct Row {
    const char* what;
    std::function<void(Rig&)> start;  // on an open session unless it connects
    std::function<bool(Rig&)> started;
    std::vector<End> ends;
    std::string error;
  } rows[] = {
      {"Mail waiting for the reply to \".\"",
       [](Rig& r) { r.client.Mail(); },
       [](Rig& r) { return !r.fake.Commands.empty() && r.fake.Commands.back() == "."; },
       {{smtpRqMail, 426}},
       "426 Operation aborted."},
      {"Data waiting for the reply to \".\"",
       [](Rig& r) { r.client.Data(); },
       [](Rig& r) { return !r.fake.Commands.empty() && r.fake.Commands.back() == "."; },
       {{smtpRqData, 10004}},
       ""},
      {"nothing pending", [](Rig&) {}, [](Rig&) { return true; }, {}, ""},
      {"Connect waiting for the greeting",
       [](Rig& r) { r.client.Connect(); },
       [](Rig& r) { return r.fake.SessionOpen(); },
       {{smtpRqConnect, 10004}},
       ""},
      {"Open waiting for the greeting",
       [](Rig& r) { r.client.Open(); },
       [](Rig& r) { return r.fake.SessionOpen(); },
       {{smtpRqOpen, 426}},
       "426 Operation aborted."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Rig r;
    r.Answer(".", {""});
    const std::string what = row.what;
    if (what.find("greeting") != std::string::npos)
      r.fake.Greeting = "";
    else
      ASSERT_TRUE(r.client.SyncOpen());
    r.Settle();
    r.ends.clear();
    row.start(r);
    ASSERT_TRUE(PumpUntil([&] { return row.started(r); }));
    r.client.Abort();
    EXPECT_EQ(r.client.State(), smtpReady);
    EXPECT_FALSE(r.client.IsConnected);
    r.Settle();
    EXPECT_EQ(r.ends, row.ends);
    EXPECT_EQ(r.client.ErrorMessage(), row.error);
    EXPECT_TRUE(PumpUntil([&] { return !r.fake.SessionOpen(); }));
  }
}

TEST(SmtpChains, StepThatCannotStartEndsTheChainAtOnce) {
  Rig r;
  r.client.Timeout = 30;
  ASSERT_TRUE(r.client.SyncOpen());
  r.client.RcptName.Clear();
  EXPECT_FALSE(r.client.SyncMail());
  EXPECT_EQ(r.client.ResultCode, 500);
  EXPECT_EQ(r.client.ErrorMessage(), "500 SmtpException: RcptName list is empty");
  EXPECT_EQ(r.CommandsAfterHelo(), std::vector<std::string>{"MAIL FROM:<from@x.jp>"});
  EXPECT_EQ(r.client.State(), smtpReady);
}

TEST(SmtpArguments, LineBreaksAndNulFailBeforeAnythingIsSent) {
  struct {
    const char* what;
    std::string sender;
    std::string recipient;
    std::string error;
  } rows[] = {
      {"CR LF in the sender", "from@x.jp\r\nRSET", "to@x.jp",
       "500 Invalid character (CR, LF or NUL) in sender address"},
      {"CR in a recipient", "from@x.jp", "to@x.jp\rDATA",
       "500 Invalid character (CR, LF or NUL) in recipient address"},
      {"NUL in a recipient", "from@x.jp", std::string("to@x.jp\0x", 9),
       "500 Invalid character (CR, LF or NUL) in recipient address"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Rig r;
    ASSERT_TRUE(r.client.SyncOpen());
    r.client.FromName = row.sender;
    r.client.RcptName.Clear();
    r.client.RcptName.Add("ok@x.jp");
    r.client.RcptName.Add(row.recipient);
    EXPECT_FALSE(r.client.SyncMail());
    EXPECT_EQ(r.client.ErrorMessage(), row.error);
    EXPECT_EQ(r.client.ResultCode, 500);
    PumpFor(30);
    EXPECT_TRUE(r.CommandsAfterHelo().empty());
    // The session is still good for a proper mail.
    r.client.FromName = "from@x.jp";
    r.client.RcptName.Clear();
    r.client.RcptName.Add("to@x.jp");
    EXPECT_TRUE(r.client.SyncMail()) << r.client.ErrorMessage();
  }
  Rig r;
  r.client.SignOn = "host\nname";
  EXPECT_FALSE(r.client.SyncOpen());
  EXPECT_EQ(r.client.ErrorMessage(), "500 Invalid character (CR, LF or NUL) in HELO name");
  EXPECT_TRUE(r.fake.Commands.empty());
}

TEST(SmtpStream, MessageToAStreamWithoutASession) {
  Rig r;
  std::ostringstream out;
  r.client.SendMode = smtpToStream;
  r.client.SetStreamTarget(&out);
  r.client.MailMessage.Add("first line");
  r.client.MailMessage.Add(".dotted");
  r.client.Data();
  ASSERT_TRUE(PumpUntil([&] { return !r.ends.empty(); }));
  EXPECT_EQ(r.ends, (std::vector<End>{{smtpRqData, 0}}));
  const std::string text = out.str();
  EXPECT_EQ(text.rfind("From: from@x.jp\r\nTo: to@x.jp\r\n", 0), 0u) << text;
  EXPECT_NE(text.find("\r\n\r\nfirst line\r\n..dotted\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.substr(text.size() - 10), "..dotted\r\n");
  EXPECT_EQ(r.fake.Sessions, 0);
}

}  // namespace
