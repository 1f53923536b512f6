// The transfer table: STOR, APPE, STOU and RETR over passive and active data connections, each
// ended normally, by ABOR in the middle, and by a data connection that fails before its first
// byte. Every row names the opening reply and the one closing reply the transfer must get; after
// it nothing else may come, and the session goes on. Then the ends that are easy to get wrong: an
// application's failure without a message, a retrieve refused after it was begun, and deferred
// steps left over from an earlier transfer. Last, the transfer object and its table alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "net/ftp/ftpsrv.h"
#include "net/ftp/ftptransfer.h"
#include "tests/net/ftp/ftp_fixture.h"
#include "tests/support/pump.h"

namespace {

namespace fs = std::filesystem;
using ftptest::DataPeer;
using ftptest::Pattern;
using ftptest::RawClient;
using ftptest::ServerFixture;
using testsupport::PumpFor;
using testsupport::PumpUntil;
using testsupport::ReadFile;

enum class Via { Passive, Active };
enum class Ending { Complete, Abor, DataFails };

struct XferRow {
  std::string name;  // the case's name in the test list
  std::string command;
  bool upload;
  Via via;
  Ending ending;
  std::string opening;
  std::string closing;  // the whole closing reply, or its start when prefix
  bool prefix;
};

// The file each command moves, as the client names it and as the test finds it in the home.
constexpr char kRetrieved[] = "t.bin";  // RETR
constexpr char kStored[] = "s.bin";     // STOR
constexpr char kAppended[] = "a.bin";   // APPE, holding kAppendedStart before
constexpr char kAppendedStart[] = "abc";
constexpr char kUnique[] = "unique.bin";  // the name STOU is given

const std::string kUploadAborted = "426 Connection closed; ABORT requested by client.";
const std::string kUploadBroken = "426 Connection closed; transfer aborted. Error ";

std::vector<XferRow> Rows() {
  struct Command {
    const char* tag;
    std::string line;
    bool upload;
    std::string opening;
    std::string done;
  };
  const std::vector<Command> commands = {
      {"Stor", std::string("STOR ") + kStored, true,
       std::string("150 Opening data connection for ") + kStored + ".", "226 File received ok"},
      {"Appe", std::string("APPE ") + kAppended, true,
       std::string("150 APPE supported.  Ready to append file \"") + kAppended + "\" at offset 3.",
       "226 File received ok"},
      {"Stou", "STOU", true, std::string("150 Opening data connection for /") + kUnique + ".",
       std::string("250 '/") + kUnique + "': file created."},
      {"Retr", std::string("RETR ") + kRetrieved, false,
       std::string("150 Opening data connection for ") + kRetrieved + ".", "226 File sent ok"},
  };
  std::vector<XferRow> rows;
  for (const Command& k : commands) {
    for (Via via : {Via::Passive, Via::Active}) {
      const std::string tag = std::string(k.tag) + (via == Via::Passive ? "Passive" : "Active");
      rows.push_back(
          {tag + "Complete", k.line, k.upload, via, Ending::Complete, k.opening, k.done, false});
      rows.push_back({tag + "Abor", k.line, k.upload, via, Ending::Abor, k.opening,
                      k.upload ? kUploadAborted : "501 Cannot RETR. ABORT requested by client",
                      false});
      // Active: nothing listens at the PORT address. Passive: the client resets the connection
      // the server has accepted, before a byte has moved.
      std::string broken;
      if (k.upload)
        broken = kUploadBroken +
                 WinsockErrorWithCode(via == Via::Active ? WSAECONNREFUSED : WSAECONNRESET);
      else if (via == Via::Active)
        broken = "501 Cannot RETR. Client data socket connection Error - " +
                 WinsockErrorText(WSAECONNREFUSED) + " - 127.0.0.1:";
      else
        broken = "501 Cannot RETR. Error - " + WinsockErrorText(WSAECONNRESET);
      // The port of the address that refused is not known ahead: the rest must match.
      const bool prefix = !k.upload && via == Via::Active;
      rows.push_back(
          {tag + "DataFails", k.line, k.upload, via, Ending::DataFails, k.opening, broken, prefix});
    }
  }
  return rows;
}

void PrintTo(const XferRow& row, std::ostream* os) {
  *os << row.name;
}

bool IsClosingReply(const std::string& answer) {
  for (const char* code : {"226 ", "250 ", "426 ", "451 ", "501 "})
    if (answer.rfind(code, 0) == 0) return true;
  return false;
}

class FtpTransferTable : public ::testing::TestWithParam<XferRow> {
 protected:
  void SetUp() override {
    fx.Server().OnGetUniqueFileName = [](rtl::TObject*, TFtpCtrlSocket*, std::string& name) {
      name = kUnique;
    };
    fx.Home().Write(kAppended, kAppendedStart);
    // Large enough that a client that stops reading holds the retrieve in the middle.
    const size_t size = GetParam().ending == Ending::Complete ? 300000 : 32 * 1024 * 1024;
    retrieved = Pattern(size, 5);
    fx.Home().Write(kRetrieved, retrieved);
    ASSERT_TRUE(c.Login());
    ASSERT_EQ(c.Command("TYPE I"), "200 Type set to I.");
  }

  // The local path of the file an upload row writes.
  std::string UploadedFile() const {
    const std::string& command = GetParam().command;
    if (command == "STOU") return fx.Home().File(kUnique);
    return fx.Home().File(command.substr(5));
  }

  // The data channel of the row: PASV and a connection the server has taken (the round trip of
  // NOOP lets it accept), or PORT to the peer's listener, or to a port where nothing listens.
  bool OpenData() {
    const XferRow& row = GetParam();
    if (row.via == Via::Passive) {
      if (!peer.Connect(ftptest::PasvPort(c.Command("PASV")))) return false;
      return c.Command("NOOP") == "200 Ok. Parameter was ''.";
    }
    std::string port;
    if (row.ending == Ending::DataFails) {
      DataPeer gone;
      port = gone.Listen();
    } else {
      port = peer.Listen();
    }
    return c.Command("PORT " + port) == "200 Port command successful.";
  }

  ServerFixture fx;
  RawClient c{fx.Port()};
  DataPeer peer;
  std::string retrieved;
};

TEST_P(FtpTransferTable, OpensAndClosesWithOneReply) {
  const XferRow& row = GetParam();
  ASSERT_TRUE(OpenData());
  // A retrieve whose connection is to fail is never read.
  if (!row.upload && row.ending == Ending::DataFails && row.via == Via::Passive) peer.Pause();
  const size_t before = fx.Answers.size();
  ASSERT_EQ(c.Command(row.command), row.opening);
  if (row.via == Via::Active && row.ending != Ending::DataFails) {
    ASSERT_TRUE(peer.WaitConnected());
  }
  const std::string sent = Pattern(100000, 11);

  std::string closing;
  switch (row.ending) {
    case Ending::Complete:
      if (row.upload) {
        peer.Send(sent);
        peer.Finish();
      }
      closing = c.ReadReply();
      break;
    case Ending::Abor:
      if (row.upload) {
        const uintmax_t start = fs::exists(UploadedFile()) ? fs::file_size(UploadedFile()) : 0;
        peer.Send(sent);
        ASSERT_TRUE(PumpUntil(
            [&] { return fs::exists(UploadedFile()) && fs::file_size(UploadedFile()) > start; }));
      } else {
        ASSERT_TRUE(PumpUntil([&] { return !peer.Received().empty(); }));
        peer.Pause();  // the server's sending stalls
        PumpFor(50);
      }
      c.Send("ABOR\r\n");
      closing = c.ReadLine();
      EXPECT_EQ(c.ReadLine(), "225 ABOR command successful.");
      break;
    case Ending::DataFails:
      if (row.via == Via::Passive) peer.Reset();
      closing = c.ReadReply();
      break;
  }
  if (row.prefix)
    EXPECT_EQ(closing.rfind(row.closing, 0), 0u) << closing;
  else
    EXPECT_EQ(closing, row.closing);

  // Nothing else comes: the next command gets its own reply, and the server sent one closing
  // reply for the transfer.
  PumpFor(100);
  EXPECT_EQ(c.Pending(), "");
  EXPECT_EQ(c.Command("NOOP"), "200 Ok. Parameter was ''.");
  std::vector<std::string> closings;
  for (size_t i = before; i < fx.Answers.size(); ++i)
    if (IsClosingReply(fx.Answers[i])) closings.push_back(fx.Answers[i]);
  ASSERT_EQ(closings.size(), 1u) << ::testing::PrintToString(closings);
  EXPECT_EQ(closings[0], closing);

  if (row.ending == Ending::Complete) {
    if (row.command.rfind("APPE", 0) == 0) {
      EXPECT_TRUE(ReadFile(UploadedFile()) == kAppendedStart + sent);
    } else if (row.upload) {
      EXPECT_TRUE(ReadFile(UploadedFile()) == sent);
    } else {
      peer.WaitClosed();
      EXPECT_TRUE(peer.Received() == retrieved) << peer.Received().size();
    }
  } else {
    EXPECT_NE(closing.rfind("226 ", 0), 0u);
    EXPECT_NE(closing.rfind("250 ", 0), 0u);
  }
  // The session's next transfer works.
  DataPeer next;
  ASSERT_TRUE(next.Connect(ftptest::PasvPort(c.Command("PASV"))));
  EXPECT_EQ(c.Command("RETR a.bin"), "150 Opening data connection for a.bin.");
  EXPECT_EQ(c.ReadReply(), "226 File sent ok");
  next.WaitClosed();
}

INSTANTIATE_TEST_SUITE_P(Rows, FtpTransferTable, ::testing::ValuesIn(Rows()),
                         [](const ::testing::TestParamInfo<XferRow>& info) {
                           return info.param.name;
                         });

// ---- ends that are easy to get wrong ----

class FtpTransferEnds : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(c.Login()); }

  // The replies after the one at index from.
  std::vector<std::string> AnswersFrom(size_t from) const {
    return std::vector<std::string>(fx.Answers.begin() + static_cast<std::ptrdiff_t>(from),
                                    fx.Answers.end());
  }

  ServerFixture fx;
  RawClient c{fx.Port()};
};

TEST_F(FtpTransferEnds, AnEventThatFailsWithoutAMessageStillGetsTheClosingReply) {
  struct Case {
    std::string command;
    std::string closing;
  };
  // An application handler that throws an exception with an empty message.
  const auto fail = [](rtl::TObject*, TFtpCtrlSocket*, TAsyncSocket*, WORD) {
    throw rtl::Exception("");
  };
  fx.Server().OnStorSessionConnected = fail;
  fx.Server().OnRetrSessionConnected = fail;
  fx.Home().Write("r.txt", "data");
  const std::vector<Case> cases = {
      {"STOR s.txt", "426 Connection closed; transfer aborted."},
      {"RETR r.txt", "501 Cannot RETR. transfer aborted"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.command);
    DataPeer peer;
    ASSERT_TRUE(peer.Connect(ftptest::PasvPort(c.Command("PASV"))));
    ASSERT_EQ(c.Command(k.command).substr(0, 4), "150 ");
    EXPECT_EQ(c.ReadReply(), k.closing);
    PumpFor(50);
    EXPECT_EQ(c.Pending(), "");
    EXPECT_EQ(c.Command("NOOP"), "200 Ok. Parameter was ''.");
  }
}

TEST_F(FtpTransferEnds, RetrieveRefusedOnItsWayIsAnsweredOnlyByItsRefusal) {
  fx.Server().DataConnectTimeout = 200;
  fx.Server().OnGetProcessing = [](rtl::TObject*, TFtpCtrlSocket*, bool&) {
    throw rtl::Exception("not now");
  };
  fx.Home().Write("r.txt", "data");
  const int port = ftptest::PasvPort(c.Command("PASV"));
  ASSERT_GT(port, 0);
  const size_t before = fx.Answers.size();
  EXPECT_EQ(c.Command("RETR r.txt"), "501 Cannot RETR. not now");
  // Past the time a begun transfer would wait for its connection: nothing more comes.
  PumpFor(500);
  EXPECT_EQ(c.Pending(), "");
  EXPECT_EQ(AnswersFrom(before), std::vector<std::string>{"501 Cannot RETR. not now"});
  // The refusal ended passive mode, and the session takes its next transfer.
  DataPeer late;
  EXPECT_FALSE(late.Connect(port));
  EXPECT_EQ(c.Command("RETR r.txt"), "501 Cannot RETR. Use PORT or PASV first");
  fx.Server().OnGetProcessing = nullptr;
  DataPeer peer;
  ASSERT_TRUE(peer.Connect(ftptest::PasvPort(c.Command("PASV"))));
  EXPECT_EQ(c.Command("RETR r.txt"), "150 Opening data connection for r.txt.");
  EXPECT_EQ(c.ReadReply(), "226 File sent ok");
  peer.WaitClosed();
  EXPECT_EQ(peer.Received(), "data");
}

// The deferred steps "abort" and "end of data" posted for a transfer that no longer needs them
// (it ended, and the next one began, before they ran) must leave the running transfer alone.
TEST_F(FtpTransferEnds, DeferredStepsLeftFromAnEarlierTransferLeaveTheRunningOneAlone) {
  TFtpCtrlSocket* session = fx.Server().Client(0);
  ASSERT_NE(session, nullptr);
  const auto postLeftovers = [&] {
    for (UINT msg : {MsgAbortTransfer, MsgCloseData})
      PostMessage(fx.Server().WindowHandle(), msg, static_cast<WPARAM>(session->ID),
                  reinterpret_cast<LPARAM>(session));
    PumpFor(100);
  };

  // An upload in the middle.
  DataPeer up;
  ASSERT_TRUE(up.Connect(ftptest::PasvPort(c.Command("PASV"))));
  ASSERT_EQ(c.Command("STOR up.txt"), "150 Opening data connection for up.txt.");
  up.Send("first half, ");
  ASSERT_TRUE(PumpUntil([&] {
    return fs::exists(fx.Home().File("up.txt")) && fs::file_size(fx.Home().File("up.txt")) > 0;
  }));
  postLeftovers();
  up.Send("second half");
  up.Finish();
  EXPECT_EQ(c.ReadReply(), "226 File received ok");
  EXPECT_EQ(ReadFile(fx.Home().File("up.txt")), "first half, second half");

  // A retrieve in the middle: the client has taken a part and reads on afterwards.
  const std::string big = Pattern(8 * 1024 * 1024, 3);
  fx.Home().Write("big.bin", big);
  DataPeer down;
  ASSERT_TRUE(down.Connect(ftptest::PasvPort(c.Command("PASV"))));
  ASSERT_EQ(c.Command("RETR big.bin"), "150 Opening data connection for big.bin.");
  ASSERT_TRUE(PumpUntil([&] { return !down.Received().empty(); }));
  down.Pause();
  postLeftovers();
  down.Resume();
  EXPECT_EQ(c.ReadReply(), "226 File sent ok");
  down.WaitClosed();
  EXPECT_TRUE(down.Received() == big) << down.Received().size();
  EXPECT_EQ(c.Command("NOOP"), "200 Ok. Parameter was ''.");
}

// ---- the transfer object and its table ----

TEST(FtpTransferObject, TheTableHasEveryTransferCommandAndNoOther) {
  struct Case {
    uint8_t code;
    bool upload;
    TFtpXferStream stream;
  };
  const std::vector<Case> cases = {
      {ftpcSTOR, true, TFtpXferStream::WriteFile}, {ftpcAPPE, true, TFtpXferStream::AppendFile},
      {ftpcSTOU, true, TFtpXferStream::NewFile},   {ftpcRETR, false, TFtpXferStream::ReadFile},
      {ftpcLIST, false, TFtpXferStream::Listing},  {ftpcNLST, false, TFtpXferStream::Listing},
      {ftpcMLSD, false, TFtpXferStream::Listing},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(static_cast<int>(k.code));
    const TFtpXferEntry* e = FtpXferEntry(k.code);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->Code, k.code);
    EXPECT_EQ(e->Upload, k.upload);
    EXPECT_EQ(e->Stream, k.stream);
    EXPECT_EQ(std::string(e->Opening).substr(0, 4), "150 ");
  }
  for (uint8_t other : {ftpcPORT, ftpcCWD, ftpcMLST, ftpcSIZE, ftpcMD5})
    EXPECT_EQ(FtpXferEntry(other), nullptr) << static_cast<int>(other);
}

TEST(FtpTransferObject, TextsFillTheirPlaceholdersOnce) {
  TFtpXferValues v;
  v.Name = "{reason}.txt";  // a name that looks like a placeholder stays a name
  v.Offset = 42;
  v.Reason = "Timeout";
  v.Error = WSAECONNRESET;
  struct Case {
    const char* text;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"150 Opening data connection for {name}.", "150 Opening data connection for {reason}.txt."},
      {"at offset {offset}.", "at offset 42."},
      {"426 Connection closed; {reason}.", "426 Connection closed; Timeout."},
      {"Error - {error}", "Error - " + WinsockErrorText(WSAECONNRESET)},
      {"Error {error#}", "Error " + WinsockErrorWithCode(WSAECONNRESET)},
      {"{unknown} {name", "{unknown} {name"},
  };
  for (const Case& k : cases)
    EXPECT_EQ(FtpXferText(k.text, v), k.expected) << k.text;
}

// Each way a transfer ends, and the one closing reply it gets; a second end gets nothing.
TEST(FtpTransferObject, EveryEndGivesOneClosingReply) {
  enum Step { Connect, DataEnd, FailTimeout, ConnectRefused };
  struct Case {
    const char* what;
    uint8_t code;
    std::vector<Step> steps;
    TFtpXferEnd how;
    WORD error;
    std::string reply;
  };
  const std::vector<Case> cases = {
      {"upload closed by its peer",
       ftpcSTOR,
       {Connect},
       TFtpXferEnd::Closed,
       0,
       "226 File received ok"},
      {"new file closed by its peer",
       ftpcSTOU,
       {Connect},
       TFtpXferEnd::Closed,
       0,
       "250 '/shown.bin': file created."},
      {"upload given up",
       ftpcAPPE,
       {Connect, FailTimeout},
       TFtpXferEnd::Closed,
       0,
       "426 Connection closed; Timeout."},
      {"upload whose connect was refused",
       ftpcSTOR,
       {ConnectRefused},
       TFtpXferEnd::Closed,
       0,
       "426 Connection closed; transfer aborted. Error " + WinsockErrorWithCode(WSAECONNREFUSED)},
      {"upload of a session that goes",
       ftpcSTOR,
       {Connect},
       TFtpXferEnd::Closed,
       WSAENOTCONN,
       "426 Connection closed; transfer aborted. Error " + WinsockErrorWithCode(WSAENOTCONN)},
      {"download of everything",
       ftpcRETR,
       {Connect, DataEnd},
       TFtpXferEnd::Closed,
       0,
       "226 File sent ok"},
      {"download closed before its last block",
       ftpcRETR,
       {Connect},
       TFtpXferEnd::Closed,
       0,
       "501 Cannot RETR. Error - " + WinsockErrorText(WSAECONNABORTED)},
      {"listing closed before it began",
       ftpcLIST,
       {},
       TFtpXferEnd::Closed,
       0,
       "501 Cannot RETR. Error - " + WinsockErrorText(WSAECONNABORTED)},
      {"download given up",
       ftpcRETR,
       {Connect, FailTimeout},
       TFtpXferEnd::Closed,
       0,
       "501 Cannot RETR. Timeout"},
      {"download whose connection never came",
       ftpcRETR,
       {},
       TFtpXferEnd::NeverCame,
       0,
       "426 Connection closed; Timeout."},
  };
  TAsyncSocket data;
  TFtpTransfer xfer(&data);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    ASSERT_FALSE(xfer.Pending());
    xfer.Begin(*FtpXferEntry(k.code), "/shown.bin", 1);
    EXPECT_EQ(xfer.State(), TFtpXferState::Waiting);
    for (Step step : k.steps) {
      switch (step) {
        case Connect:
          xfer.SetConnected(true);
          EXPECT_EQ(xfer.State(), TFtpXferState::Moving);
          break;
        case DataEnd:
          xfer.DataEnded();
          EXPECT_EQ(xfer.State(), TFtpXferState::Closing);
          break;
        case FailTimeout:
          xfer.Fail("Timeout");
          EXPECT_EQ(xfer.State(), TFtpXferState::Closing);
          break;
        case ConnectRefused:
          xfer.SetDataError(WSAECONNREFUSED);
          xfer.SetConnected(false);
          EXPECT_EQ(xfer.State(), TFtpXferState::Waiting);
          break;
      }
    }
    TFtpXferClosing closing;
    ASSERT_TRUE(xfer.Finish(k.how, k.error, closing));
    EXPECT_EQ(closing.Reply, k.reply);
    EXPECT_EQ(xfer.State(), TFtpXferState::Idle);
    EXPECT_FALSE(xfer.Connected());
    TFtpXferClosing again;
    EXPECT_FALSE(xfer.Finish(TFtpXferEnd::Closed, 0, again));
    EXPECT_EQ(again.Reply, "");
  }
}

TEST(FtpTransferObject, StreamAndWriteLockGoWithTheTransfer) {
  testsupport::TempDir dir;
  const std::string path = dir.File("w.bin");
  std::set<std::string> locks;
  TAsyncSocket data;
  TFtpTransfer xfer(&data);
  // Finish closes the file before it answers, and the lock goes with it.
  xfer.SetStream(std::make_unique<TFtpFileStream>(path, rtl::fs::TOpenMode::Create), true);
  xfer.HoldWriteLock(locks, path);
  xfer.Begin(*FtpXferEntry(ftpcSTOR), "/w.bin", 1);
  EXPECT_TRUE(xfer.OwnsStream());
  EXPECT_EQ(xfer.WriteLock(), path);
  EXPECT_EQ(locks.count(path), 1u);
  xfer.SetConnected(true);
  xfer.Stream()->Write("abc", 3);
  TFtpXferClosing closing;
  ASSERT_TRUE(xfer.Finish(TFtpXferEnd::Closed, 0, closing));
  EXPECT_EQ(closing.Reply, "226 File received ok");
  EXPECT_EQ(ReadFile(path), "abc");
  EXPECT_EQ(xfer.Stream(), nullptr);
  EXPECT_EQ(xfer.WriteLock(), "");
  EXPECT_TRUE(locks.empty());
  // A command that fails before its "150" withdraws the transfer: no reply, nothing held.
  xfer.SetStream(std::make_unique<TFtpFileStream>(path, rtl::fs::TOpenMode::Write), true);
  xfer.HoldWriteLock(locks, path);
  xfer.Begin(*FtpXferEntry(ftpcSTOU), "/w.bin", 2);
  xfer.Withdraw();
  EXPECT_FALSE(xfer.Pending());
  EXPECT_EQ(xfer.Stream(), nullptr);
  EXPECT_TRUE(locks.empty());
  EXPECT_FALSE(xfer.Finish(TFtpXferEnd::Closed, 0, closing));
}

}  // namespace
