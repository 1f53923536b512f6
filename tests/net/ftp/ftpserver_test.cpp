// The server over real sockets on 127.0.0.1, driven byte by byte from a raw control client.
#include "net/ftp/ftpsrv.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/net/ftp/ftp_fixture.h"
#include "tests/support/pump.h"

namespace {

using testsupport::PumpFor;
using testsupport::PumpUntil;

using ftptest::RawClient;
using ftptest::ServerFixture;

class FtpServerTest : public ::testing::Test {
 protected:
  ServerFixture fx;
};

TEST_F(FtpServerTest, GreetsAndAnswersLinesInArrivalOrder) {
  RawClient c(fx.Port());
  EXPECT_EQ(c.ReadLine(), "220 FTP Server ready.");
  // Two commands in one segment, then one split over two sends, then one ended by LF alone.
  c.Send("NOOP 1\r\nNOOP 2\r\n");
  EXPECT_EQ(c.ReadLine(), "200 Ok. Parameter was '1'.");
  EXPECT_EQ(c.ReadLine(), "200 Ok. Parameter was '2'.");
  c.Send("NO");
  PumpFor(50);
  EXPECT_TRUE(c.Pending().empty());
  c.Send("OP 3\r\n");
  EXPECT_EQ(c.ReadLine(), "200 Ok. Parameter was '3'.");
  c.Send("noop 4\n");
  EXPECT_EQ(c.ReadLine(), "200 Ok. Parameter was '4'.");
}

// Each line, sent alone, and the reply it must get (the session is not logged in).
struct LineCase {
  const char* what;
  std::string line;
  std::string reply;
};

TEST_F(FtpServerTest, ParsesKeywordsParametersAndTelnetBytes) {
  const std::vector<LineCase> cases = {
      {"blanks around the keyword, trailing blanks kept", "  NOOP   x  \r\n",
       "200 Ok. Parameter was 'x  '."},
      {"IAC IAC is one byte 255",
       "NOOP a\xff\xff"
       "b\r\n",
       "200 Ok. Parameter was 'a\xff"
       "b'."},
      {"IAC and a command byte vanish", "N\xff\xf4OOP z\r\n", "200 Ok. Parameter was 'z'."},
      {"a lone question mark", "?\r\n", "500 '?': command not understood."},
      {"an empty line (a bare line feed)", "\n", "500 '': command not understood."},
      {"an unknown keyword", "HELLO there\r\n", "500 'HELLO': command not understood."},
      {"control bytes are echoed as ?", std::string("NOOP a\x01z\x7f\rq\r\n"),
       "200 Ok. Parameter was 'a?z??q'."},
      {"a line that is only CR keeps it, echoed as ?", "\r\n", "500 '?': command not understood."},
      {"STRU works before login", "STRU F\r\n", "200 Ok. STRU parameter 'F' ignored."},
      {"PASS before USER", "PASS x\r\n", "503 Login with USER first."},
      {"CWD before login", "CWD /\r\n", "530 Please login with USER and PASS."},
      {"PWD before login", "PWD\r\n", "530 Please login with USER and PASS."},
      {"LIST before login", "LIST\r\n", "530 Please login with USER and PASS."},
      {"FEAT before login", "FEAT\r\n", "530 Please login with USER and PASS."},
      {"ABOR needs no login", "ABOR\r\n", "225 ABOR command successful."},
  };
  RawClient c(fx.Port());
  ASSERT_EQ(c.ReadLine(), "220 FTP Server ready.");
  for (const LineCase& k : cases) {
    SCOPED_TRACE(k.what);
    c.Send(k.line);
    EXPECT_EQ(c.ReadLine(), k.reply);
  }
}

TEST_F(FtpServerTest, LoggedInSessionRunsItsFolderAndModeCommands) {
  std::filesystem::create_directories(fx.Home().File("sub/deeper"));
  RawClient c(fx.Port());
  ASSERT_TRUE(c.Login());
  EXPECT_EQ(c.Command("PWD"), "257 \"/\" is current directory.");
  EXPECT_EQ(c.Command("CWD sub/deeper"),
            "250 CWD command successful. \"/sub/deeper\" is current directory.");
  EXPECT_EQ(c.Command("XPWD"), "257 \"/sub/deeper\" is current directory.");
  EXPECT_EQ(c.Command("CDUP"), "250 CWD command successful. \"/sub\" is current directory.");
  EXPECT_EQ(c.Command("SYST"), "215 UNIX Type: L8 Internet Component Suite");
  EXPECT_EQ(c.Command("TYPE I"), "200 Type set to I.");
  EXPECT_TRUE(fx.Server().Client(0)->BinaryMode);
  EXPECT_EQ(c.Command("TYPE a n"), "200 Type set to a n.");
  EXPECT_FALSE(fx.Server().Client(0)->BinaryMode);
  EXPECT_EQ(c.Command("TYPE E"), "500 'TYPE E': command not understood.");
  EXPECT_EQ(c.Command("MODE"), "501 Missing argument for MODE");
  EXPECT_EQ(c.Command("MODE s"), "200 MODE Ok");
  EXPECT_EQ(c.Command("MODE B"), "502 MODE other than S not supported");
  EXPECT_EQ(c.Command("FEAT"),
            "211-Extensions supported:\n  SIZE\n  REST STREAM\n  MDTM\n"
            "  MDTM YYYYMMDDHHMMSS[+-TZ] filename\n  MLST size*;type*;perm*;create*;modify*;\n"
            "  MFMT\n  MD5\n211 END");
  EXPECT_EQ(c.Command("SIZE x"), "550 Command failed: File not found.");
  EXPECT_EQ(c.Command("QUIT"), "221 Goodbye.");
  EXPECT_TRUE(c.WaitClosed());
  EXPECT_TRUE(PumpUntil([&] { return fx.Server().ClientCount() == 0; }));
  EXPECT_EQ(fx.Disconnects, 1);
}

TEST_F(FtpServerTest, UserAgainLogsOutUntilNextPass) {
  RawClient c(fx.Port());
  ASSERT_TRUE(c.Login());
  EXPECT_EQ(c.Command("USER someone"), "331 Password required for someone.");
  EXPECT_EQ(c.Command("PWD"), "530 Please login with USER and PASS.");
}

TEST_F(FtpServerTest, LineOfBufferSizeIsRefusedAndSessionEnds) {
  {
    // 2046 bytes and the line feed fit: an ordinary (unknown) command.
    RawClient c(fx.Port());
    ASSERT_EQ(c.ReadLine(), "220 FTP Server ready.");
    c.Send(std::string(2046, 'A') + "\n");
    EXPECT_EQ(c.ReadLine(), "500 '" + std::string(2046, 'A') + "': command not understood.");
    EXPECT_TRUE(c.Connected());
  }
  RawClient c(fx.Port());
  ASSERT_EQ(c.ReadLine(), "220 FTP Server ready.");
  // 2047 bytes without a line feed, and more behind them that is never read as commands.
  c.Send(std::string(2047, 'B'));
  c.Send(std::string(5000, 'C') + "\r\nNOOP\r\n");
  EXPECT_EQ(c.ReadLine(), "500 Command too long");
  EXPECT_TRUE(c.WaitClosed());
  EXPECT_EQ(c.Pending(), "");
}

TEST_F(FtpServerTest, MaxClientsPlusOneIsTurnedAway) {
  fx.Server().MaxClients = 1;
  RawClient first(fx.Port());
  ASSERT_EQ(first.ReadLine(), "220 FTP Server ready.");
  RawClient second(fx.Port());
  EXPECT_EQ(second.ReadLine(), "421 Too many users connected.");
  EXPECT_TRUE(second.WaitClosed());
  EXPECT_EQ(second.Pending(), "");
  EXPECT_EQ(first.Command("NOOP"), "200 Ok. Parameter was ''.");
  EXPECT_TRUE(PumpUntil([&] { return fx.Server().ClientCount() == 1; }));
}

TEST_F(FtpServerTest, SessionsTimeOutBeforeAndAfterLogin) {
  // Long enough for the NOOP below to be answered first on a loaded machine.
  fx.Server().LoginTimeout = 2000;
  fx.Server().IdleTimeout = 300;
  RawClient waiting(fx.Port());
  ASSERT_EQ(waiting.ReadLine(), "220 FTP Server ready.");
  // Commands do not extend the time to log in.
  waiting.Send("NOOP\r\n");
  EXPECT_EQ(waiting.ReadLine(), "200 Ok. Parameter was ''.");
  EXPECT_EQ(waiting.ReadLine(), "421 Timeout.");
  EXPECT_TRUE(waiting.WaitClosed());

  fx.Server().LoginTimeout = 60000;
  RawClient idle(fx.Port());
  ASSERT_TRUE(idle.Login());
  EXPECT_EQ(idle.ReadLine(), "421 Timeout.");
  EXPECT_TRUE(idle.WaitClosed());
}

TEST_F(FtpServerTest, RefusedPassIsAnsweredLateAndThirdRefusalEndsSession) {
  fx.Server().LoginFailDelay = 300;
  RawClient c(fx.Port());
  ASSERT_EQ(c.ReadLine(), "220 FTP Server ready.");
  for (int attempt = 1; attempt <= 3; ++attempt) {
    SCOPED_TRACE(attempt);
    EXPECT_EQ(c.Command("USER tester"), "331 Password required for tester.");
    // A command sent right behind the refused PASS is answered only after the refusal.
    const DWORD sent = GetTickCount();
    c.Send("PASS wrong\r\nNOOP behind\r\n");
    EXPECT_EQ(c.ReadLine(), "530 Login incorrect.");
    EXPECT_GE(TickElapsed(sent, GetTickCount()), 250u);
    if (attempt < 3) {
      EXPECT_EQ(c.ReadLine(), "200 Ok. Parameter was 'behind'.");
    }
  }
  EXPECT_TRUE(c.WaitClosed());
  EXPECT_EQ(c.Pending(), "");
}

TEST_F(FtpServerTest, HomeThatCannotBeOpenedRefusesTheLogin) {
  fx.Server().OnAuthenticate = [](rtl::TObject*, TFtpCtrlSocket* client, const std::string&,
                                  const std::string&,
                                  bool&) { client->HomeDir = "/nonexistent/kelvadon/home/"; };
  RawClient c(fx.Port());
  ASSERT_EQ(c.ReadLine(), "220 FTP Server ready.");
  c.Command("USER tester");
  EXPECT_EQ(c.Command("PASS s3cret"), "530 Login incorrect.");
  EXPECT_EQ(c.Command("PWD"), "530 Please login with USER and PASS.");
}

TEST_F(FtpServerTest, EventsMayReplaceOrVetoButNeverLoseAReply) {
  fx.Server().OnClientCommand = [](rtl::TObject*, TFtpCtrlSocket*, std::string& keyword,
                                   std::string& params, std::string& answer) {
    if (keyword == "HELP") answer = "214 No help here.";
    if (keyword == "NOOP" && params == "lower") keyword = "noop";
  };
  int hookCalls = 0;
  fx.Server().OnAnswerToClient = [&](rtl::TObject*, TFtpCtrlSocket*, std::string& answer) {
    ++hookCalls;
    answer = "999 changed";
    throw rtl::Exception("hook failed");
  };
  RawClient c(fx.Port());
  ASSERT_EQ(c.ReadLine(), "220 FTP Server ready.");
  EXPECT_EQ(c.Command("HELP"), "214 No help here.");
  EXPECT_EQ(c.Command("NOOP lower"), "500 'noop': command not understood.");
  EXPECT_EQ(hookCalls, 2);

  fx.Server().OnAnswerToClient = nullptr;
  fx.Server().OnClientCommand = nullptr;
  fx.Server().OnChangeDirectory = [](rtl::TObject*, TFtpCtrlSocket*, const std::string& dir,
                                     bool& allowed) { allowed = dir != "/locked"; };
  std::filesystem::create_directories(fx.Home().File("locked"));
  c.Command("USER tester");
  ASSERT_EQ(c.Command("PASS s3cret"), "230 User tester logged in.");
  EXPECT_EQ(c.Command("CWD locked"), "501 CWD failed. No permission");
  EXPECT_EQ(c.Command("PWD"), "257 \"/\" is current directory.");
}

TEST_F(FtpServerTest, UrgentTelnetSynchBeforeAborIsReadInLine) {
  RawClient c(fx.Port());
  ASSERT_EQ(c.ReadLine(), "220 FTP Server ready.");
  // IAC IP, then IAC DM with the DM byte sent urgent, then the command: with urgent data kept in
  // line the Telnet bytes all vanish and the keyword arrives whole.
  c.Send("\xff\xf4\xff");
  c.SendUrgent("\xf2");
  c.Send("ABOR\r\n");
  EXPECT_EQ(c.ReadLine(), "225 ABOR command successful.");
}

// System buffers of the given size, small ones so that replies pile up in the server's own queue.
void SetBuffer(SOCKET s, int option, int size) {
  Winsock::setsockopt(s, WS_SOL_SOCKET, option, reinterpret_cast<const char*>(&size), sizeof size);
}

TEST_F(FtpServerTest, ClientThatDoesNotReadStopsTheServerReadingUntilItDoes) {
  fx.Server().OnClientConnect = [](rtl::TObject*, TFtpCtrlSocket* client, WORD) {
    SetBuffer(client->HSocket(), WS_SO_SNDBUF, 4096);
    // One small reply per pipelined command: without this each waits for the peer's delayed
    // acknowledgement once the backlog is gone.
    int on = 1;
    Winsock::setsockopt(client->HSocket(), WS_IPPROTO_TCP, WS_TCP_NODELAY,
                        reinterpret_cast<const char*>(&on), sizeof on);
  };
  RawClient c(fx.Port());
  SetBuffer(c.Handle(), WS_SO_RCVBUF, 4096);
  ASSERT_EQ(c.ReadLine(), "220 FTP Server ready.");
  c.Pause();
  const std::string param(1000, 'p');
  constexpr int kCommands = 400;
  std::string burst;
  for (int i = 0; i < kCommands; ++i)
    burst += "NOOP " + param + "\r\n";
  c.Send(burst);
  // The server stops reading once its unsent replies pass the limit, so its queue stays bounded
  // however much the client sends: once it has passed the limit, it grows no further.
  int most = 0;
  const auto track = [&] {
    if (fx.Server().ClientCount() == 1)
      most = std::max(most, fx.Server().Client(0)->BufferedByteCount());
  };
  EXPECT_TRUE(PumpUntil([&] {
    track();
    return most > kFtpMaxUnsentReplyBytes;
  })) << most;
  PumpUntil(
      [&] {
        track();
        return false;
      },
      500);
  EXPECT_LE(most, kFtpMaxUnsentReplyBytes + 2048);
  // Normal buffers again, so the rest flows without small-window stalls.
  SetBuffer(c.Handle(), WS_SO_RCVBUF, 1 << 20);
  if (fx.Server().ClientCount() == 1)
    SetBuffer(fx.Server().Client(0)->HSocket(), WS_SO_SNDBUF, 1 << 20);
  c.Resume();
  const std::string reply = "200 Ok. Parameter was '" + param + "'.";
  int got = 0;
  while (got < kCommands) {
    std::string line = c.ReadLine();
    if (line != reply) break;
    ++got;
  }
  EXPECT_EQ(got, kCommands);
  EXPECT_EQ(c.Command("NOOP end"), "200 Ok. Parameter was 'end'.");
}

TEST_F(FtpServerTest, DisconnectAllFreesEverySessionAtOnce) {
  RawClient a(fx.Port());
  RawClient b(fx.Port());
  ASSERT_EQ(a.ReadLine(), "220 FTP Server ready.");
  ASSERT_EQ(b.ReadLine(), "220 FTP Server ready.");
  ASSERT_EQ(fx.Server().ClientCount(), 2);
  fx.Server().DisconnectAll();
  EXPECT_EQ(fx.Server().ClientCount(), 0);
  EXPECT_EQ(fx.Disconnects, 2);
  EXPECT_TRUE(a.WaitClosed());
  EXPECT_TRUE(b.WaitClosed());
  // The server still accepts after its sessions went.
  RawClient c(fx.Port());
  EXPECT_EQ(c.ReadLine(), "220 FTP Server ready.");
}

TEST_F(FtpServerTest, DeferredCallsForGoneSessionsAreDropped) {
  TFtpCtrlSocket* session = nullptr;
  {
    RawClient c(fx.Port());
    ASSERT_EQ(c.ReadLine(), "220 FTP Server ready.");
    session = fx.Server().Client(0);
    const WPARAM id = static_cast<WPARAM>(session->ID);
    const LPARAM obj = reinterpret_cast<LPARAM>(session);
    // A stale ID with the live object, and the live ID with another object: both ignored.
    PostMessage(fx.Server().WindowHandle(), MsgCloseRequest, id + 1, obj);
    PostMessage(fx.Server().WindowHandle(), MsgCloseRequest, id, obj + 8);
    EXPECT_EQ(c.Command("NOOP"), "200 Ok. Parameter was ''.");
    EXPECT_TRUE(c.Connected());
  }
  ASSERT_TRUE(PumpUntil([&] { return fx.Server().ClientCount() == 0; }));
  // Every deferred call about the freed session is dropped.
  for (UINT msg = MsgCloseRequest; msg <= MsgStartSend; ++msg)
    PostMessage(fx.Server().WindowHandle(), msg, 1, reinterpret_cast<LPARAM>(session));
  PumpFor(50);
  EXPECT_EQ(fx.Server().ClientCount(), 0);
}

TEST_F(FtpServerTest, StartStopAndTheCommandTable) {
  TFtpServer& s = fx.Server();
  int starts = 0;
  int stops = 0;
  s.OnStart = [&](rtl::TObject*) { ++starts; };
  s.OnStop = [&](rtl::TObject*) { ++stops; };
  RawClient kept(fx.Port());
  ASSERT_EQ(kept.ReadLine(), "220 FTP Server ready.");
  s.Stop();
  EXPECT_EQ(stops, 1);
  EXPECT_EQ(s.BoundPort(), "");
  // Sessions outlive Stop.
  EXPECT_EQ(kept.Command("NOOP"), "200 Ok. Parameter was ''.");
  s.Start();
  EXPECT_EQ(starts, 1);
  s.Start();  // already listening: nothing happens
  EXPECT_EQ(starts, 1);
  RawClient fresh(s.BoundPort());
  EXPECT_EQ(fresh.ReadLine(), "220 FTP Server ready.");

  ASSERT_EQ(s.CommandCount(), 37);
  EXPECT_EQ(s.CommandTable(0).KeyWord, "PORT");
  EXPECT_EQ(s.CommandTable(36).KeyWord, "MD5");
  EXPECT_EQ(s.CommandTable(26).Proc, s.CommandTable(18).Proc);  // XMKD runs MKD's handler
  try {
    s.AddCommand("XTRA", &TFtpServer::CommandNOOP);
    ADD_FAILURE() << "a 38th command was accepted";
  } catch (const FtpServerException& e) {
    EXPECT_STREQ(e.what(), "Too many command");
  }
}

}  // namespace
