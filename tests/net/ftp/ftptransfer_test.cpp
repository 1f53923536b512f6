// The transfer table: STOR, APPE, STOU and RETR over passive and active data connections, each
// ended normally, by ABOR in the middle, and by a data connection that fails before its first
// byte. Every row names the opening reply and the one closing reply the transfer must get; after
// it nothing else may come, and the session goes on.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "net/ftp/ftpsrv.h"
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
  if (row.via == Via::Active && row.ending != Ending::DataFails) ASSERT_TRUE(peer.WaitConnected());
  const std::string sent = Pattern(100000, 11);

  std::string closing;
  switch (row.ending) {
    case Ending::Complete:
      if (row.upload) {
        peer.Send(sent);
        peer.Finish();
      }
      closing = c.ReadReply(30000);
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
      closing = c.ReadReply(10000);
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
    if (row.command.rfind("APPE", 0) == 0)
      EXPECT_TRUE(ReadFile(UploadedFile()) == kAppendedStart + sent);
    else if (row.upload)
      EXPECT_TRUE(ReadFile(UploadedFile()) == sent);
    peer.WaitClosed();
    if (!row.upload) EXPECT_TRUE(peer.Received() == retrieved) << peer.Received().size();
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

}  // namespace
