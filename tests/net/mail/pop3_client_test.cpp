// The POP3 engine and the synchronous client against a scripted server on loopback: the session's
// trace and states, the greeting's timestamp, the replies and data lines, the failures (refusals,
// closes, silence, aborts, bad arguments, exceptions in handlers) and the waits' time-outs.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "net/mail/mime.h"
#include "net/mail/pop3sync.h"
#include "platform/win/module.h"
#include "platform/wsock32/host.h"
#include "tests/net/mail/pop3_fake.h"
#include "tests/support/fake_resolver.h"
#include "tests/support/installed_resolver.h"
#include "tests/support/peers.h"
#include "tests/support/pump.h"

namespace net::mail {
namespace {

using testing::CloseNow;
using testing::Hear;
using testing::Line;
using testing::Pause;
using testing::Pop3Fake;
using testing::Pop3FakeStep;
using testing::Say;
using testsupport::PumpFor;
using testsupport::PumpUntil;

using Script = std::vector<Pop3FakeStep>;

// Greeting, USER alice, PASS secret, each accepted.
Script Login(const std::string& greeting = "+OK ready") {
  return {Line(greeting), Hear("USER alice"), Line("+OK"), Hear("PASS secret"),
          Line("+OK logged in")};
}

Script operator+(Script a, const Script& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Milliseconds since start.
DWORD Since(DWORD start) {
  return TickElapsed(start, GetTickCount());
}

// The client's time-out in these tests: far longer than any step takes on a loaded machine, so
// that a request ends by its own event ("at once", never "426 Timeout") unless a test shortens it.
constexpr int kTimeoutSeconds = 60;

class Pop3ClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cli_.Host = "127.0.0.1";
    cli_.UserName = "alice";
    cli_.PassWord = "secret";
    cli_.Timeout = kTimeoutSeconds;
    cli_.OnRequestDone = [this](rtl::TObject*, TPop3Request rq, WORD error) {
      done_.push_back(std::to_string(rq) + ":" + std::to_string(error));
    };
    cli_.OnDisplay = [this](rtl::TObject*, const std::string& msg) { display_.push_back(msg); };
    cli_.OnMessageLine = [this](rtl::TObject*) { lines_.push_back(cli_.LastResponse()); };
    cli_.OnStateChange = [this](rtl::TObject*) { states_.push_back(cli_.State()); };
  }

  // Every reply the scripted server expected came as it expected.
  void ExpectScriptKept(Pop3Fake& fake) { EXPECT_EQ(fake.Mismatch(), ""); }

  TSyncPop3Cli cli_;
  std::vector<std::string> done_;     // "request:error", one per OnRequestDone
  std::vector<std::string> display_;  // OnDisplay texts
  std::vector<std::string> lines_;    // LastResponse at each OnMessageLine
  std::vector<int> states_;           // State() at each OnStateChange
};

TEST_F(Pop3ClientTest, LoginTraceStatesAndQuit) {
  Pop3Fake fake(Login("+OK POP3 ready") +
                Script{Hear("QUIT"), Line("+OK bye"), Pause(300), CloseNow()});
  cli_.Port = fake.Port();
  cli_.Login();
  EXPECT_TRUE(done_.empty());  // never inside the call
  ASSERT_TRUE(cli_.WaitUntilReady());
  EXPECT_EQ(cli_.ProtocolState(), pop3Transaction);
  EXPECT_EQ(display_, (std::vector<std::string>{"< +OK POP3 ready", "> USER alice", "< +OK",
                                                "> PASS secret", "< +OK logged in"}));
  // Each state once per change: resolving, connecting, awaiting greeting, greeted, then the two
  // commands between steps, and idle.
  EXPECT_EQ(states_, (std::vector<int>{psResolving, psConnecting, psAwaitingGreeting, psGreeted,
                                       psBetweenSteps, psAwaitingReply, psBetweenSteps,
                                       psAwaitingReply, psBetweenSteps, psIdle}));
  PumpFor(50);
  EXPECT_EQ(done_, std::vector<std::string>{"15:0"});  // rqLogin, once

  // QUIT ends when the server has closed, not at its reply.
  const DWORD start = GetTickCount();
  EXPECT_TRUE(cli_.SyncQuit());
  EXPECT_GE(Since(start), 250u);
  EXPECT_FALSE(cli_.Connected());
  EXPECT_EQ(cli_.ProtocolState(), pop3Disconnected);
  PumpFor(50);
  EXPECT_EQ(done_, (std::vector<std::string>{"15:0", "4:0"}));

  // Unconnected: at once, the last request's success, and nothing reported.
  EXPECT_TRUE(cli_.SyncQuit());
  PumpFor(100);
  EXPECT_EQ(done_.size(), 2u);
  ExpectScriptKept(fake);
  EXPECT_EQ(fake.Heard(), (std::vector<std::string>{"USER alice", "PASS secret", "QUIT"}));
}

TEST_F(Pop3ClientTest, ApopWithTheTimestampOfTheGreeting) {
  Pop3Fake fake({Line("+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>"), Hear("APOP"),
                 Line("+OK mrose's maildrop has 2 messages (320 octets)")});
  cli_.Port = fake.Port();
  cli_.UserName = "mrose";
  cli_.PassWord = "tanstaaf";
  ASSERT_TRUE(cli_.SyncConnect());
  EXPECT_EQ(cli_.Timestamp(), "<1896.697170952@dbc.mtview.ca.us>");
  EXPECT_EQ(cli_.ProtocolState(), pop3WaitingUser);
  ASSERT_TRUE(cli_.SyncAPop());
  EXPECT_EQ(cli_.ProtocolState(), pop3Transaction);
  EXPECT_EQ(fake.Heard(), std::vector<std::string>{"APOP mrose c4c9334bac560ecc979e58001b3e22fb"});
}

TEST_F(Pop3ClientTest, ApopWithoutTimestampRaises) {
  Pop3Fake fake({Line("+OK no stamp here")});
  cli_.Port = fake.Port();
  ASSERT_TRUE(cli_.SyncConnect());
  EXPECT_EQ(cli_.Timestamp(), "");
  const std::string text = "-ERR Server does not support APOP (no timestamp)";
  try {
    cli_.APop();
    ADD_FAILURE() << "APop did not raise";
  } catch (const Pop3Exception& e) {
    EXPECT_EQ(e.Message, text);
  }
  EXPECT_EQ(cli_.ErrorMessage(), text);
  EXPECT_EQ(display_.back(), text);
  EXPECT_FALSE(cli_.SyncAPop());
  EXPECT_EQ(cli_.State(), psIdle);
  EXPECT_TRUE(cli_.Connected());
  PumpFor(100);
  EXPECT_TRUE(fake.Heard().empty());
}

// How a login ends when the server refuses or goes away: the result, its text, the request's
// code, where the session is left (a refusal leaves it open for the caller to end), and what the
// server heard (nothing after a refusal).
TEST_F(Pop3ClientTest, LoginFailures) {
  struct Row {
    const char* name;
    Script script;
    std::string error;
    int result;
    TPop3ProtocolState state;
    std::vector<std::string> heard;
  } rows[] = {
      {"refused greeting", {Line("-ERR busy")}, "-ERR busy", 500, pop3Disconnected, {}},
      {"USER refused",
       {Line("+OK"), Hear("USER"), Line("-ERR no such user")},
       "-ERR no such user",
       500,
       pop3WaitingUser,
       {"USER alice"}},
      {"PASS refused",
       {Line("+OK"), Hear("USER"), Line("+OK"), Hear("PASS"),
        Line("-ERR [AUTH] Authentication failed.")},
       "-ERR [AUTH] Authentication failed.",
       500,
       pop3WaitingPass,
       {"USER alice", "PASS secret"}},
      {"closed where the PASS reply is due",
       {Line("+OK"), Hear("USER"), Line("+OK"), Hear("PASS"), CloseNow()},
       "",
       10004,
       pop3Disconnected,
       {"USER alice", "PASS secret"}},
      {"closed before the greeting", {CloseNow()}, "", 10004, pop3Disconnected, {}},
  };
  for (Row& row : rows) {
    SCOPED_TRACE(row.name);
    done_.clear();
    Pop3Fake fake(row.script);
    cli_.Port = fake.Port();
    EXPECT_FALSE(cli_.SyncLogin());
    EXPECT_EQ(cli_.ErrorMessage(), row.error);  // never "426 Timeout": it ended at once
    EXPECT_EQ(cli_.RequestResult(), row.result);
    EXPECT_EQ(cli_.ProtocolState(), row.state);
    EXPECT_EQ(cli_.Connected(), row.state != pop3Disconnected);
    PumpFor(50);
    EXPECT_EQ(done_, std::vector<std::string>{"15:" + std::to_string(row.result)});
    cli_.SyncAbort();
    ASSERT_TRUE(PumpUntil([&] { return fake.ClientClosed() || fake.ScriptDone(); }));
    PumpFor(50);
    EXPECT_EQ(fake.Heard(), row.heard);
  }
}

// How a single request ends when its session closes or is aborted: OnRequestDone's code, the
// request's result and ErrorMessage. A close ends it with 10004, keeping a refusal's result and
// text; an abort with 10004 and no text, also while the lookup runs and no session is up; a
// synchronous call whose request something else aborted fails with "426 Operation aborted.".
TEST_F(Pop3ClientTest, SingleRequestEndings) {
  testsupport::FakeResolver resolver;
  resolver.gated = "gated.test";
  const testsupport::InstalledResolver installed(&resolver);
  ASSERT_TRUE(installed.Installed());
  HWND timer = AllocateHWnd([&](TMessage& m) {
    if (m.Msg != WM_TIMER) return;
    KillTimer(timer, m.WParam);
    cli_.Abort();
  });
  const Script noopNoReply = Login() + Script{Hear("NOOP")};
  struct Row {
    const char* name;
    Script script;
    TPop3Request rq;
    std::function<void(Pop3Fake&)> run;
    int result;
    std::string error;
  } rows[] = {
      {"refused greeting",
       {Line("-ERR busy")},
       rqConnect,
       [&](Pop3Fake&) { EXPECT_FALSE(cli_.SyncConnect()); },
       500,
       "-ERR busy"},
      {"closed while its reply is due", Login() + Script{Hear("NOOP"), CloseNow()}, rqNoop,
       [&](Pop3Fake&) {
         ASSERT_TRUE(cli_.SyncLogin());
         EXPECT_FALSE(cli_.SyncNoop());
       },
       10004, ""},
      {"aborted while its reply is due", noopNoReply, rqNoop,
       [&](Pop3Fake& fake) {
         ASSERT_TRUE(cli_.SyncLogin());
         cli_.Noop();
         ASSERT_TRUE(PumpUntil([&] { return fake.Heard().size() == 3; }, 60000));
         cli_.Abort();
       },
       10004, ""},
      // Data cut off by an abort is no unexpected disconnection.
      {"aborted in the middle of its data",
       Login() + Script{Hear("RETR"), Line("+OK"), Line("one")}, rqRetr,
       [&](Pop3Fake&) {
         ASSERT_TRUE(cli_.SyncLogin());
         cli_.MsgNum = 1;
         cli_.Retr();
         ASSERT_TRUE(PumpUntil([&] { return !lines_.empty(); }, 60000));
         cli_.Abort();
       },
       10004, ""},
      {"aborted in its lookup",
       {},
       rqConnect,
       [&](Pop3Fake&) {
         cli_.Host = "gated.test";
         cli_.Connect();
         ASSERT_TRUE(resolver.WaitEntered());
         cli_.Abort();
         resolver.Open();  // the answer that comes now is not reported
       },
       10004,
       ""},
      {"aborted by a handler while the call waits", noopNoReply, rqNoop,
       [&](Pop3Fake&) {
         ASSERT_TRUE(cli_.SyncLogin());
         SetTimer(timer, 1, 100);
         EXPECT_FALSE(cli_.SyncNoop());
       },
       10004, "426 Operation aborted."},
  };
  for (Row& row : rows) {
    SCOPED_TRACE(row.name);
    Pop3Fake fake(row.script);
    cli_.Host = "127.0.0.1";
    cli_.Port = fake.Port();
    row.run(fake);
    ASSERT_TRUE(PumpUntil([&] { return !done_.empty() && cli_.State() == psIdle; }, 60000));
    PumpFor(100);  // nothing more is reported
    EXPECT_EQ(done_.back(), std::to_string(row.rq) + ":10004");
    EXPECT_EQ(done_.size(), row.rq == rqConnect ? 1u : 2u);  // (after the login's own)
    EXPECT_EQ(cli_.RequestResult(), row.result);
    EXPECT_EQ(cli_.ErrorMessage(), row.error);
    cli_.SyncAbort();
    done_.clear();
  }
  DeallocateHWnd(timer);
}

TEST_F(Pop3ClientTest, LookupAndConnectFailures) {
  testsupport::FakeResolver none;  // knows no name
  const testsupport::InstalledResolver installed(&none);
  ASSERT_TRUE(installed.Installed());
  const testsupport::ClosedPort closed;
  struct Row {
    std::string host, port, error;
    int result;
  } rows[] = {
      {"nowhere.test", "110", "-ERR Host not found (Winsock error #11001)", 11001},
      {"127.0.0.1", std::to_string(closed.Port()), "-ERR Connection refused (Winsock error #10061)",
       10061},
      {"127.0.0.1", "no-such-service", "", 500},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.host + ":" + row.port);
    done_.clear();
    cli_.Host = row.host;
    cli_.Port = row.port;
    EXPECT_FALSE(cli_.SyncLogin());
    if (!row.error.empty()) {
      EXPECT_EQ(cli_.ErrorMessage(), row.error);
    }
    EXPECT_EQ(cli_.RequestResult(), row.result);
    PumpFor(50);
    EXPECT_EQ(done_, std::vector<std::string>{"15:" + std::to_string(row.result)});
  }
  // The service name that does not resolve: the socket layer's exception, class and message.
  EXPECT_EQ(cli_.ErrorMessage().rfind("-ERR ESocketException: ", 0), 0u) << cli_.ErrorMessage();
}

TEST_F(Pop3ClientTest, MessageDataAndReplyNumbers) {
  const std::string a4093(4093, 'a');
  Pop3Fake fake(Login() + Script{
                              Hear("STAT"),
                              Line("+OK 99999999999 99999999999"),
                              Hear("LAST"),
                              Line("+OK 5"),
                              Hear("LIST 2"),
                              Line("+OK 2 200"),
                              Hear("UIDL 2"),
                              Line("+OK 2 QhdPYR:00WBw1Ph7x7"),
                              Hear("RETR 2"),
                              Line("+OK 320 octets"),
                              Line("Subject: one"),
                              Line(" two"),
                              Line(""),
                              Line(".."),
                              Line(".x"),
                              Line("..."),
                              Line(a4093 + "."),  // its last piece is "." and ends nothing
                              Say("LF only\n"),
                              Line("."),
                          });
  cli_.Port = fake.Port();
  int headerEnds = 0;
  cli_.OnHeaderEnd = [&](rtl::TObject*) { ++headerEnds; };
  ASSERT_TRUE(cli_.SyncLogin());
  ASSERT_TRUE(cli_.SyncStat());
  EXPECT_EQ(cli_.MsgCount(), INT_MAX);
  EXPECT_EQ(cli_.MsgSize(), INT_MAX);
  ASSERT_TRUE(cli_.SyncLast());  // one number: both 0
  EXPECT_EQ(cli_.MsgNum, 0);
  EXPECT_EQ(cli_.MsgSize(), 0);
  cli_.MsgNum = 2;
  ASSERT_TRUE(cli_.SyncList());
  EXPECT_EQ(cli_.MsgNum, 2);
  EXPECT_EQ(cli_.MsgSize(), 200);
  ASSERT_TRUE(cli_.SyncUidl());
  EXPECT_EQ(cli_.MsgUidl(), "QhdPYR:00WBw1Ph7x7");
  ASSERT_TRUE(cli_.SyncRetr());
  EXPECT_EQ(lines_, (std::vector<std::string>{"Subject: one", " two", "", ".", ".x", "..", a4093,
                                              ".", "LF only"}));
  EXPECT_EQ(cli_.HeaderSubject, "onetwo");
  EXPECT_EQ(headerEnds, 1);
  EXPECT_EQ(cli_.LastResponse(), "");
  ExpectScriptKept(fake);
}

// The rest of a cut reply line is shown, but never taken as the reply to the next command.
TEST_F(Pop3ClientTest, PiecesOfALongReplyAnswerNothing) {
  Pop3Fake fake(Login() + Script{Hear("NOOP"), Line("+OK" + std::string(4090, 'x') + "-ERR late"),
                                 Hear("STAT"), Line("+OK 1 2")});
  cli_.Port = fake.Port();
  std::vector<std::string> responses;
  cli_.OnResponse = [&](rtl::TObject*, const std::string& msg) { responses.push_back(msg); };
  ASSERT_TRUE(cli_.SyncLogin());
  ASSERT_TRUE(cli_.SyncNoop());
  ASSERT_TRUE(PumpUntil([&] { return responses.size() == 5; }));
  EXPECT_EQ(responses[4], "-ERR late");
  EXPECT_EQ(display_.back(), "< -ERR late");
  ASSERT_TRUE(cli_.SyncStat());
  EXPECT_EQ(cli_.MsgCount(), 1);
  EXPECT_EQ(cli_.MsgSize(), 2);
}

TEST_F(Pop3ClientTest, CloseInTheMiddleOfRetr) {
  Pop3Fake fake(Login() +
                Script{Hear("RETR 1"), Line("+OK"), Line("line one"), Line(".."), CloseNow()});
  cli_.Port = fake.Port();
  bool ended = false;
  cli_.OnMessageEnd = [&](rtl::TObject*) { ended = true; };
  cli_.MsgNum = 1;
  ASSERT_TRUE(cli_.SyncLogin());
  EXPECT_FALSE(cli_.SyncRetr());
  EXPECT_EQ(cli_.ErrorMessage(), "-ERR Disconneced unexpectedly");
  EXPECT_EQ(cli_.RequestResult(), 500);
  EXPECT_EQ(display_.back(), "-ERR Disconneced unexpectedly");
  EXPECT_EQ(lines_, (std::vector<std::string>{"line one", "."}));
  EXPECT_FALSE(ended);
  EXPECT_EQ(cli_.ProtocolState(), pop3Disconnected);
  PumpFor(50);
  EXPECT_EQ(done_.back(), "7:500");
}

TEST_F(Pop3ClientTest, QuitEndings) {
  struct Row {
    const char* name;
    Script end;
    bool ok;
    std::string error;
    std::string done;
  } rows[] = {
      {"closed without a reply", {Hear("QUIT"), CloseNow()}, true, "", "4:0"},
      {"refused, then closed",
       {Hear("QUIT"), Line("-ERR some deleted messages not removed"), CloseNow()},
       false,
       "-ERR some deleted messages not removed",
       "4:500"},
  };
  for (Row& row : rows) {
    SCOPED_TRACE(row.name);
    done_.clear();
    Pop3Fake fake(Login() + row.end);
    cli_.Port = fake.Port();
    ASSERT_TRUE(cli_.SyncLogin());
    EXPECT_EQ(cli_.SyncQuit(), row.ok);
    EXPECT_EQ(cli_.ErrorMessage(), row.error);  // not "426 Timeout"
    EXPECT_FALSE(cli_.Connected());
    PumpFor(50);
    EXPECT_EQ(done_, (std::vector<std::string>{"15:0", row.done}));
  }

  // An abort closes the session as well: the QUIT it ends has done its work.
  done_.clear();
  Pop3Fake fake(Login() + Script{Hear("QUIT")});
  cli_.Port = fake.Port();
  ASSERT_TRUE(cli_.SyncLogin());
  cli_.Quit();
  ASSERT_TRUE(PumpUntil([&] { return fake.Heard().size() == 3; }, 60000));
  cli_.Abort();
  ASSERT_TRUE(PumpUntil([&] { return done_.size() == 2; }, 60000));
  EXPECT_EQ(done_.back(), "4:0");
  EXPECT_EQ(cli_.ErrorMessage(), "");
  EXPECT_FALSE(cli_.Connected());
}

TEST_F(Pop3ClientTest, AuthExchanges) {
  const std::string challenge = "+ " + MimeBase64Encode("what do ya want for nothing?");
  struct Row {
    const char* name;
    TPop3AuthType type;
    Script script;
    bool ok;
    std::string error;
    std::string done;
  } rows[] = {
      {"CRAM-SHA1",
       popAuthCramSHA1,
       {Line("+OK"), Hear("AUTH CRAM-SHA1"), Line(challenge),
        Hear(MimeBase64Encode("tim effcdf6ae5eb2fa2d27416d5f184df9c259a7c79")), Line("+OK")},
       true,
       "",
       "2:0"},
      {"LOGIN",
       popAuthLogin,
       {Line("+OK"), Hear("AUTH LOGIN"), Line("+ VXNlcm5hbWU6"), Hear(MimeBase64Encode("tim")),
        Line("+ UGFzc3dvcmQ6"), Hear(MimeBase64Encode("Jefe")), Line("+OK")},
       true,
       "",
       "2:0"},
      {"no authentication: USER",
       popAuthNone,
       {Line("+OK"), Hear("USER tim"), Line("+OK")},
       true,
       "",
       "16:0"},
      {"CRAM-SHA1 without a challenge",
       popAuthCramSHA1,
       {Line("+OK"), Hear("AUTH CRAM-SHA1"), Line("+ ")},
       false,
       "-ERR Malformed SHA1 Challenge: + ",
       "16:500"},
      {"CRAM-MD5 without a challenge",
       popAuthCramMD5,
       {Line("+OK"), Hear("AUTH CRAM-MD5"), Line("+")},
       false,
       "500 Malformed MD5 Challenge: +",
       "16:500"},
      {"CRAM-SHA1 refused",
       popAuthCramSHA1,
       {Line("+OK"), Hear("AUTH CRAM-SHA1"), Line("-ERR Unsupported authentication mechanism.")},
       false,
       "-ERR Unsupported authentication mechanism.",
       "16:500"},
  };
  for (Row& row : rows) {
    SCOPED_TRACE(row.name);
    Pop3Fake fake(row.script);
    cli_.Port = fake.Port();
    cli_.UserName = "tim";
    cli_.PassWord = "Jefe";
    cli_.AuthType = row.type;
    ASSERT_TRUE(cli_.SyncConnect());
    PumpFor(20);
    done_.clear();
    cli_.Auth();
    EXPECT_EQ(cli_.WaitUntilReady(), row.ok);
    EXPECT_EQ(cli_.ErrorMessage(), row.error);
    EXPECT_EQ(
        cli_.ProtocolState(),
        row.ok ? (row.type == popAuthNone ? pop3WaitingPass : pop3Transaction) : pop3WaitingUser);
    PumpFor(50);
    EXPECT_EQ(done_, std::vector<std::string>{row.done});
    ExpectScriptKept(fake);
    cli_.SyncAbort();
  }
  // Auth after login is a misuse.
  Pop3Fake fake(Login());
  cli_.Port = fake.Port();
  cli_.UserName = "alice";
  cli_.PassWord = "secret";
  ASSERT_TRUE(cli_.SyncLogin());
  EXPECT_THROW(cli_.Auth(), Pop3Exception);
  EXPECT_EQ(cli_.ErrorMessage(), "-ERR AUTH command invalid now");
}

// Misuse raises at the call and starts nothing.
TEST_F(Pop3ClientTest, MisuseRaises) {
  struct Row {
    const char* name;
    void (TCustomPop3Cli::*op)();
    std::string text;
  } unconnected[] = {
      {"Stat before login", &TCustomPop3Cli::Stat, "-ERR STAT command invalid now"},
      {"Top before login", &TCustomPop3Cli::Top, "-ERR TOP command invalid now"},
      {"User unconnected", &TCustomPop3Cli::User, "POP3 component not connected"},
      {"Pass unconnected", &TCustomPop3Cli::Pass, "POP3 component not connected"},
      {"APop unconnected", &TCustomPop3Cli::APop, "-ERR APOP command invalid now"},
  };
  for (const Row& row : unconnected) {
    SCOPED_TRACE(row.name);
    try {
      (cli_.*row.op)();
      ADD_FAILURE() << "no exception";
    } catch (const Pop3Exception& e) {
      EXPECT_EQ(e.Message, row.text);
    }
    EXPECT_EQ(cli_.State(), psIdle);
  }
  EXPECT_EQ(cli_.ErrorMessage(), "-ERR APOP command invalid now");
  EXPECT_FALSE(cli_.SyncStat());
  EXPECT_EQ(cli_.ErrorMessage(), "-ERR STAT command invalid now");

  Pop3Fake fake(Login() + Script{Hear("NOOP")});  // and no reply
  cli_.Port = fake.Port();
  ASSERT_TRUE(cli_.SyncLogin());
  cli_.MsgLines = -1;
  EXPECT_THROW(cli_.Top(), Pop3Exception);
  EXPECT_FALSE(cli_.SyncLogin());  // "pop3 component already connected"
  EXPECT_THROW(cli_.Connect(), Pop3Exception);
  cli_.Noop();
  try {
    cli_.Stat();
    ADD_FAILURE() << "no exception";
  } catch (const Pop3Exception& e) {
    EXPECT_EQ(e.Message, "POP3 component not ready");
  }
  try {
    cli_.Login();
    ADD_FAILURE() << "no exception";
  } catch (const Pop3Exception& e) {
    EXPECT_EQ(e.Message, "pop3 component already connected");
  }
  EXPECT_TRUE(cli_.SyncAbort() == false);  // the NOOP it aborted
  ASSERT_TRUE(PumpUntil([&] { return fake.ClientClosed(); }));
  EXPECT_EQ(fake.Heard(), (std::vector<std::string>{"USER alice", "PASS secret", "NOOP"}));
}

// A user name or password that would break the command line never reaches the server.
TEST_F(Pop3ClientTest, ArgumentsWithLineEndsFailBeforeSending) {
  struct Row {
    std::string user, pass, error;
    std::vector<std::string> heard;
  } rows[] = {
      {"bob\rPASS x", "secret", "-ERR USER command argument holds CR, LF or NUL", {}},
      {std::string("bo\0b", 4), "secret", "-ERR USER command argument holds CR, LF or NUL", {}},
      {"alice", "se\ncret", "-ERR PASS command argument holds CR, LF or NUL", {"USER alice"}},
  };
  for (Row& row : rows) {
    SCOPED_TRACE(row.error);
    Pop3Fake fake({Line("+OK"), Hear("USER"), Line("+OK")});
    cli_.Port = fake.Port();
    cli_.UserName = row.user;
    cli_.PassWord = row.pass;
    EXPECT_FALSE(cli_.SyncLogin());
    EXPECT_EQ(cli_.ErrorMessage(), row.error);
    EXPECT_EQ(cli_.RequestResult(), 500);
    cli_.SyncAbort();
    // Once the server has seen the close, it has recorded every line the client sent.
    ASSERT_TRUE(PumpUntil([&] { return fake.ClientClosed(); }));
    EXPECT_EQ(fake.Heard(), row.heard);
  }
}

// A handler that raises inside a step ends the request with 500 and the exception's text.
TEST_F(Pop3ClientTest, ExceptionsInHandlersEndTheRequest) {
  Pop3Fake fake(Login() + Script{Hear("RETR"), Line("+OK"), Line("one"), Line("two"), Line(".")});
  cli_.Port = fake.Port();
  cli_.OnDisplay = [](rtl::TObject*, const std::string& msg) {
    if (msg == "> PASS secret") throw std::runtime_error("display failed");
  };
  EXPECT_FALSE(cli_.SyncLogin());
  EXPECT_EQ(cli_.ErrorMessage(), "display failed");
  EXPECT_EQ(cli_.RequestResult(), 500);
  PumpFor(50);
  EXPECT_EQ(done_, std::vector<std::string>{"15:500"});

  // The PASS line was never sent; send it now and fail in a data line instead.
  cli_.OnDisplay = nullptr;
  ASSERT_TRUE(cli_.SyncPass());
  cli_.OnMessageLine = [](rtl::TObject*) { throw std::runtime_error("line failed"); };
  EXPECT_FALSE(cli_.SyncRetr());
  EXPECT_EQ(cli_.ErrorMessage(), "line failed");  // at once, not "426 Timeout"
  EXPECT_EQ(cli_.State(), psIdle);
}

// A nested use (a timer handler) that aborts the request makes the waiting call fail, even when
// it starts and finishes another request before the wait looks again.
TEST_F(Pop3ClientTest, AbortFromATimerHandler) {
  for (bool reconnect : {false, true}) {
    SCOPED_TRACE(reconnect ? "then reconnects" : "aborts");
    Pop3Fake fake({Line("+OK"), Hear("USER")});  // USER gets no reply
    Pop3Fake second({Line("+OK second")});
    cli_.Port = fake.Port();
    bool nested = false;
    HWND timer = AllocateHWnd([&](TMessage& m) {
      if (m.Msg != WM_TIMER) return;
      KillTimer(timer, 1);
      cli_.Abort();
      if (reconnect) {
        cli_.Port = second.Port();
        nested = cli_.SyncConnect();
      }
    });
    SetTimer(timer, 1, 300);
    EXPECT_FALSE(cli_.SyncLogin());
    EXPECT_EQ(cli_.ErrorMessage(), "426 Operation aborted.");  // whatever the nested use left
    EXPECT_EQ(nested, reconnect);
    DeallocateHWnd(timer);
    cli_.SyncAbort();
  }
}

// Abort ends the running request through the close it makes; the idle state comes once that
// close is complete, so a handler of OnStateChange may start the next request there: a Connect to
// another server, which the rest of Abort leaves alone.
TEST_F(Pop3ClientTest, ConnectStartedWhenAbortReachesIdleGoesOn) {
  Pop3Fake fake(Login() + Script{Hear("NOOP")});  // NOOP gets no reply
  Pop3Fake second({Line("+OK second")});
  cli_.Port = fake.Port();
  ASSERT_TRUE(cli_.SyncLogin());
  cli_.Noop();
  ASSERT_TRUE(PumpUntil([&] { return fake.Heard().size() == 3; }));
  bool reconnect = true;
  cli_.OnStateChange = [&](rtl::TObject*) {
    states_.push_back(cli_.State());
    if (cli_.State() != psIdle || !reconnect) return;
    reconnect = false;
    cli_.Port = second.Port();
    cli_.Connect();
  };
  PumpFor(50);
  states_.clear();
  done_.clear();
  cli_.Abort();
  ASSERT_TRUE(PumpUntil([&] { return done_.size() >= 2; }));
  PumpFor(50);
  EXPECT_EQ(done_, (std::vector<std::string>{"10:10004", "0:0"}));  // NOOP aborted, then Connect
  EXPECT_EQ(states_, (std::vector<int>{psAborting, psIdle, psResolving, psConnecting,
                                       psAwaitingGreeting, psGreeted, psIdle}));
  EXPECT_TRUE(cli_.Connected());
  EXPECT_EQ(cli_.ProtocolState(), pop3WaitingUser);
  EXPECT_EQ(cli_.LastResponse(), "+OK second");
  cli_.SyncAbort();
}

TEST_F(Pop3ClientTest, SilenceTimesOutAfterTheLastLine) {
  Pop3Fake fake({Line("+OK"), Hear("USER"), Pause(700), Line("+OK"), Hear("PASS")});
  cli_.Port = fake.Port();
  cli_.Timeout = 1;
  // The second "+OK" comes 700 ms or more after the first; the time-out counts from it, as the
  // client received it (a loaded machine may deliver it late).
  int lines = 0;
  DWORD lastLine = 0;
  cli_.OnResponse = [&](rtl::TObject*, const std::string&) {
    ++lines;
    lastLine = GetTickCount();
  };
  const DWORD start = GetTickCount();
  EXPECT_FALSE(cli_.SyncLogin());
  EXPECT_EQ(lines, 2);
  EXPECT_GE(Since(start), 1690u);
  EXPECT_GE(Since(lastLine), 990u);  // tick counts may round the second down by a few ms
  EXPECT_EQ(cli_.ErrorMessage(), "426 Timeout");
  EXPECT_EQ(cli_.StatusCode(), 426);
  EXPECT_EQ(cli_.State(), psIdle);
  EXPECT_FALSE(cli_.Connected());
  EXPECT_TRUE(PumpUntil([&] { return fake.ClientClosed(); }));
}

// With Timeout 0 a silent server is waited for until the application terminates: by the owner's
// test, or by a quit request pending on the thread when the owner supplied none.
TEST_F(Pop3ClientTest, TerminatingApplicationEndsTheWait) {
  for (bool ownersTest : {true, false}) {
    SCOPED_TRACE(ownersTest ? "the owner's test" : "a pending quit");
    Pop3Fake fake({Line("+OK"), Hear("USER")});
    cli_.Port = fake.Port();
    cli_.Timeout = 0;
    cli_.MultiThreaded = ownersTest;  // either way of pumping
    bool terminating = false;
    if (ownersTest) cli_.Terminating = [&] { return terminating; };
    HWND timer = AllocateHWnd([&](TMessage& m) {
      if (m.Msg != WM_TIMER) return;
      KillTimer(timer, 1);
      if (ownersTest)
        terminating = true;
      else
        PostQuitMessage(0);
    });
    SetTimer(timer, 1, 1200);
    const DWORD start = GetTickCount();
    EXPECT_FALSE(cli_.SyncLogin());
    EXPECT_GE(Since(start), 1100u);
    EXPECT_EQ(cli_.ErrorMessage(), "426 Timeout");
    EXPECT_EQ(cli_.StatusCode(), 426);
    EXPECT_FALSE(cli_.Connected());
    DeallocateHWnd(timer);
    MSG quit;
    EXPECT_EQ(PeekMessage(&quit, 0, WM_QUIT, WM_QUIT, PM_REMOVE) != 0, !ownersTest);
    cli_.Terminating = nullptr;
    cli_.MultiThreaded = false;
  }
}

TEST_F(Pop3ClientTest, SlowDataThatKeepsComingDoesNotTimeOut) {
  Script data{Hear("RETR"), Line("+OK")};
  for (int i = 0; i < 6; ++i)
    data = data + Script{Pause(400), Line("line " + std::to_string(i))};
  Pop3Fake fake(Login() + data + Script{Line(".")});
  cli_.Port = fake.Port();
  cli_.Timeout = 1;
  ASSERT_TRUE(cli_.SyncLogin());
  EXPECT_TRUE(cli_.SyncRetr()) << cli_.ErrorMessage();
  EXPECT_EQ(lines_.size(), 6u);
}

// OnRequestDone never runs inside another OnRequestDone of the same component: a request started
// and waited for inside the handler is reported after the handler returns.
TEST_F(Pop3ClientTest, RequestDoneHandlersDoNotNest) {
  Pop3Fake fake({Line("+OK"), Hear("USER"), Line("+OK")});
  cli_.Port = fake.Port();
  std::vector<std::string> order;
  cli_.OnRequestDone = [&](rtl::TObject*, TPop3Request rq, WORD error) {
    order.push_back("begin " + std::to_string(rq));
    if (rq == rqConnect) order.push_back(cli_.SyncUser() ? "user ok" : "user failed");
    order.push_back("end " + std::to_string(rq));
  };
  cli_.Connect();
  ASSERT_TRUE(PumpUntil([&] { return order.size() == 5; }));
  EXPECT_EQ(order, (std::vector<std::string>{"begin 0", "user ok", "end 0", "begin 1", "end 1"}));
}

// A synchronous login made inside another socket's data handler (as the collector's alert mail
// does inside its record handler) works; that socket's next line waits until the handler returns.
TEST_F(Pop3ClientTest, SyncLoginInsideAnotherSocketsHandler) {
  Pop3Fake pop({Line("+OK"), Hear("USER"), Line("+OK"), Hear("PASS"), Pause(300), Line("+OK")});
  Pop3Fake records({Line("first"), Pause(100), Line("second")});
  cli_.Port = pop.Port();
  TAsyncSocket other;
  other.SetLineMode(true);
  other.SetAddr("127.0.0.1");
  other.SetPort(records.Port());
  std::vector<std::string> order;
  other.OnDataAvailable = [&](rtl::TObject*, WORD) {
    std::string line = other.ReceiveStr();
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
      line.pop_back();
    order.push_back("begin " + line);
    if (line == "first") order.push_back(cli_.SyncLogin() ? "login ok" : "login failed");
    order.push_back("end " + line);
  };
  other.Connect();
  ASSERT_TRUE(PumpUntil([&] { return order.size() == 5; }));
  EXPECT_EQ(order, (std::vector<std::string>{"begin first", "login ok", "end first", "begin second",
                                             "end second"}));
}

// The owner may free the component when it hears that the request has ended.
TEST_F(Pop3ClientTest, FreedInsideOnRequestDone) {
  Pop3Fake fake({Line("+OK")});
  auto* cli = new TPop3Cli;
  cli->Host = "127.0.0.1";
  cli->Port = fake.Port();
  bool freed = false;
  cli->OnRequestDone = [&](rtl::TObject*, TPop3Request, WORD) {
    bool* noted = &freed;  // this handler goes with the component
    delete cli;
    *noted = true;
  };
  cli->Connect();
  EXPECT_TRUE(PumpUntil([&] { return freed; }));
  EXPECT_TRUE(PumpUntil([&] { return fake.ClientClosed(); }));
}

TEST_F(Pop3ClientTest, QuitOnAnUnconnectedComponentReportsNothing) {
  cli_.Quit();
  EXPECT_EQ(cli_.State(), psIdle);
  PumpFor(100);
  EXPECT_TRUE(done_.empty());
  EXPECT_TRUE(cli_.SyncQuit());
  EXPECT_TRUE(cli_.SyncAbort());
}

}  // namespace
}  // namespace net::mail
