// Transfers over real data connections on 127.0.0.1, driven from a raw control client: byte-exact
// uploads and downloads in both modes, restarts and appends, STOU, ABOR, the PORT and PASV rules,
// time-outs, and paths that must stay inside the session's home.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "net/ftp/ftpsrv.h"
#include "tests/net/ftp/ftp_fixture.h"
#include "tests/support/pump.h"

namespace {

using testsupport::PumpFor;
using testsupport::PumpUntil;

namespace fs = std::filesystem;
using ftptest::DataPeer;
using ftptest::Pattern;
using ftptest::RawClient;
using ftptest::ServerFixture;
using testsupport::ReadFile;

// Passive with the client connecting before its transfer command (as most clients do) or only
// after the "150"; active.
enum class Mode { Passive, PassiveLate, Active };

class FtpTransfer : public ::testing::Test {
 protected:
  void SetUp() override {
    // Records, at the moment the server says an upload is complete, what the file holds.
    fx.Server().OnAnswerToClient = [this](rtl::TObject*, TFtpCtrlSocket* client,
                                          std::string& answer) {
      fx.Answers.push_back(answer);
      if (answer == "226 File received ok") AtReceived.push_back(ReadFile(client->FilePath));
    };
    ASSERT_TRUE(c.Login());
  }

  // Opens the data channel of the next transfer: PASV (and a connection to it, unless the peer
  // connects late), or PORT with a listener.
  bool OpenData(DataPeer& peer, Mode mode) {
    if (mode == Mode::Active)
      return c.Command("PORT " + peer.Listen()) == "200 Port command successful.";
    latePort_ = ftptest::PasvPort(c.Command("PASV"));
    return latePort_ > 0 && (mode == Mode::PassiveLate || peer.Connect(latePort_));
  }
  // After the transfer command: the late peer connects now; the active one is connected to.
  bool DataUp(DataPeer& peer, Mode mode) {
    if (mode == Mode::PassiveLate) return peer.Connect(latePort_);
    return mode != Mode::Active || peer.WaitConnected();
  }

  // Uploads bytes with command (STOR name, APPE name, ...); returns the 150 reply and the closing
  // reply joined by "|".
  std::string Upload(const std::string& command, const std::string& bytes, Mode mode) {
    DataPeer peer;
    if (!OpenData(peer, mode)) return "no data channel";
    const std::string opening = c.Command(command);
    if (opening.rfind("150", 0) != 0) return opening;
    if (!DataUp(peer, mode)) return opening + "|not connected";
    peer.Send(bytes);
    peer.Finish();
    return opening + "|" + c.ReadReply();
  }

  // Downloads with command (RETR name, LIST, ...); the replies joined by "|", the bytes in data.
  std::string Download(const std::string& command, std::string& data, Mode mode) {
    DataPeer peer;
    if (!OpenData(peer, mode)) return "no data channel";
    const std::string opening = c.Command(command);
    if (opening.rfind("150", 0) != 0) return opening;
    if (!DataUp(peer, mode)) return opening + "|not connected";
    const std::string closing = c.ReadReply();
    peer.WaitClosed();
    data = peer.Received();
    return opening + "|" + closing;
  }

  ServerFixture fx;
  RawClient c{fx.Port()};
  std::vector<std::string> AtReceived;

 private:
  int latePort_ = 0;
};

struct SizeCase {
  size_t size;
  Mode mode;
};

TEST_F(FtpTransfer, UploadsAndDownloadsAreByteExactInBothModes) {
  const std::vector<SizeCase> cases = {
      {0, Mode::Passive},
      {1, Mode::Passive},
      {2048, Mode::Passive},
      {2049, Mode::Passive},
      {10 * 1024 * 1024 + 7, Mode::Passive},
      {0, Mode::PassiveLate},
      {2049, Mode::PassiveLate},
      {10 * 1024 * 1024 + 7, Mode::PassiveLate},
      {0, Mode::Active},
      {1, Mode::Active},
      {2049, Mode::Active},
      {10 * 1024 * 1024 + 7, Mode::Active},
  };
  EXPECT_EQ(c.Command("TYPE I"), "200 Type set to I.");
  for (const SizeCase& k : cases) {
    const char* tag = k.mode == Mode::Passive ? "p" : k.mode == Mode::PassiveLate ? "l" : "a";
    const std::string name = "f" + std::to_string(k.size) + tag + ".bin";
    SCOPED_TRACE(name);
    const std::string bytes = Pattern(k.size, static_cast<unsigned>(k.size));
    AtReceived.clear();
    EXPECT_EQ(Upload("STOR " + name, bytes, k.mode),
              "150 Opening data connection for " + name + ".|226 File received ok");
    // The reply came only once the file was complete and closed.
    ASSERT_EQ(AtReceived.size(), 1u);
    EXPECT_TRUE(AtReceived[0] == bytes) << AtReceived[0].size() << " bytes at the reply";
    EXPECT_TRUE(fs::exists(fx.Home().File(name)));  // an upload of no bytes makes its file
    EXPECT_TRUE(ReadFile(fx.Home().File(name)) == bytes);
    EXPECT_EQ(fx.Server().Client(0)->FileName, name);

    std::string back;
    EXPECT_EQ(Download("RETR " + name, back, k.mode),
              "150 Opening data connection for " + name + ".|226 File sent ok");
    EXPECT_TRUE(back == bytes) << back.size() << " bytes came back";
  }
  // An upload of no bytes empties an existing file.
  fx.Home().Write("full.txt", "old contents");
  EXPECT_EQ(Upload("STOR full.txt", "", Mode::Passive),
            "150 Opening data connection for full.txt.|226 File received ok");
  EXPECT_EQ(fs::file_size(fx.Home().File("full.txt")), 0u);
  EXPECT_EQ(c.Command("NOOP"), "200 Ok. Parameter was ''.");
}

TEST_F(FtpTransfer, DataSentAheadOfItsCommandIsKept) {
  // A client that connects, sends everything and closes before its STOR is even read.
  DataPeer peer;
  ASSERT_TRUE(peer.Connect(ftptest::PasvPort(c.Command("PASV"))));
  peer.Send("sent early");
  peer.Finish();
  PumpFor(100);
  EXPECT_EQ(c.Command("STOR early.txt"), "150 Opening data connection for early.txt.");
  EXPECT_EQ(c.ReadReply(), "226 File received ok");
  EXPECT_EQ(ReadFile(fx.Home().File("early.txt")), "sent early");
}

TEST_F(FtpTransfer, SlashesInTheNameBecomeBackslashesInFileName) {
  fs::create_directories(fx.Home().File("sub"));
  EXPECT_EQ(Upload("STOR sub/in.txt", "x", Mode::Passive),
            "150 Opening data connection for sub/in.txt.|226 File received ok");
  EXPECT_EQ(fx.Server().Client(0)->FileName, "sub\\in.txt");
  EXPECT_EQ(ReadFile(fx.Home().File("sub/in.txt")), "x");
}

TEST_F(FtpTransfer, RestartsAndAppends) {
  const std::string whole = Pattern(5000, 7);
  // Resuming an upload: the first 1000 bytes are there, the rest comes from offset 1000.
  fx.Home().Write("resume.bin", whole.substr(0, 1000));
  EXPECT_EQ(c.Command("REST 1000"), "350 REST supported. Ready to resume at byte offset 1000.");
  EXPECT_EQ(Upload("STOR resume.bin", whole.substr(1000), Mode::Passive),
            "150 Opening data connection for resume.bin.|226 File received ok");
  EXPECT_TRUE(ReadFile(fx.Home().File("resume.bin")) == whole);

  // Resuming a download from offset 4000.
  std::string tail;
  EXPECT_EQ(c.Command("REST 4000"), "350 REST supported. Ready to resume at byte offset 4000.");
  EXPECT_EQ(Download("RETR resume.bin", tail, Mode::Active),
            "150 Opening data connection for resume.bin.|226 File sent ok");
  EXPECT_TRUE(tail == whole.substr(4000));

  // The offset applies to one transfer only.
  std::string all;
  EXPECT_EQ(Download("RETR resume.bin", all, Mode::Passive),
            "150 Opening data connection for resume.bin.|226 File sent ok");
  EXPECT_EQ(all.size(), whole.size());

  // A restart beyond the end is refused on either side.
  EXPECT_EQ(c.Command("REST 100"), "350 REST supported. Ready to resume at byte offset 100.");
  EXPECT_EQ(Upload("STOR absent.bin", "data", Mode::Passive),
            "150 Opening data connection for absent.bin.|"
            "426 Connection closed; Unable to set resume position in local file.");
  EXPECT_TRUE(fs::exists(fx.Home().File("absent.bin")));
  EXPECT_EQ(c.Command("REST 6000"), "350 REST supported. Ready to resume at byte offset 6000.");
  EXPECT_EQ(Download("RETR resume.bin", all, Mode::Passive),
            "150 Opening data connection for resume.bin.|"
            "501 Cannot RETR. Unable to set resume position in local file");

  // APPE on a file of 10 bytes appends at offset 10; on a missing file it creates it.
  fx.Home().Write("log.txt", "0123456789");
  EXPECT_EQ(Upload("APPE log.txt", "abc", Mode::Passive),
            "150 APPE supported.  Ready to append file \"log.txt\" at offset 10.|"
            "226 File received ok");
  EXPECT_EQ(ReadFile(fx.Home().File("log.txt")), "0123456789abc");
  EXPECT_EQ(Upload("APPE new.txt", "first", Mode::Active),
            "150 APPE supported.  Ready to append file \"new.txt\" at offset 0.|"
            "226 File received ok");
  EXPECT_EQ(ReadFile(fx.Home().File("new.txt")), "first");

  EXPECT_EQ(c.Command("REST x"), "350 REST supported. Ready to resume at byte offset 0.");
  EXPECT_EQ(c.Command("REST 99999999999999999999"),
            "501 Required byte offset parameter bad or missing.");
}

TEST_F(FtpTransfer, StouMakesAFreshFileAndNamesItsVirtualPath) {
  fs::create_directories(fx.Home().File("sub"));
  EXPECT_EQ(c.Command("CWD sub"), "250 CWD command successful. \"/sub\" is current directory.");
  const std::string reply = Upload("STOU", "unique bytes", Mode::Passive);
  // "150 Opening data connection for /sub/FTPxxxx.|250 '/sub/FTPxxxx': file created."
  ASSERT_EQ(reply.size(), std::string("150 Opening data connection for /sub/FTP0000.|"
                                      "250 '/sub/FTP0000': file created.")
                              .size())
      << reply;
  const std::string name = reply.substr(32, 12);
  ASSERT_EQ(name.substr(0, 8), "/sub/FTP") << reply;
  EXPECT_EQ(reply,
            "150 Opening data connection for " + name + ".|250 '" + name + "': file created.");
  EXPECT_EQ(ReadFile(fx.Home().File(name.substr(1))), "unique bytes");
  EXPECT_EQ(fx.Server().Client(0)->FileName, "\\sub\\" + name.substr(5));
  // Each STOU gets its own file.
  const std::string second = Upload("STOU", "other", Mode::Active);
  EXPECT_NE(second.substr(32, 12), name) << second;
}

TEST_F(FtpTransfer, AborDuringALargeRetrieveEndsItOnceAndTheSessionGoesOn) {
  fx.Home().Write("big.bin", Pattern(64 * 1024 * 1024));
  DataPeer peer;
  ASSERT_TRUE(peer.Connect(ftptest::PasvPort(c.Command("PASV"))));
  peer.Pause();  // the client reads nothing: the server's sending stalls
  EXPECT_EQ(c.Command("RETR big.bin"), "150 Opening data connection for big.bin.");
  PumpFor(100);
  c.Send("ABOR\r\n");
  EXPECT_EQ(c.ReadLine(), "501 Cannot RETR. ABORT requested by client");
  EXPECT_EQ(c.ReadLine(), "225 ABOR command successful.");
  PumpFor(100);
  EXPECT_EQ(c.Pending(), "");
  EXPECT_EQ(c.Command("NOOP"), "200 Ok. Parameter was ''.");
  // The next transfer works.
  std::string data;
  fx.Home().Write("small.txt", "small");
  EXPECT_EQ(Download("RETR small.txt", data, Mode::Passive),
            "150 Opening data connection for small.txt.|226 File sent ok");
  EXPECT_EQ(data, "small");
}

TEST_F(FtpTransfer, AborDuringAnUploadAndBeforeItsConnection) {
  DataPeer peer;
  ASSERT_TRUE(peer.Connect(ftptest::PasvPort(c.Command("PASV"))));
  EXPECT_EQ(c.Command("STOR part.bin"), "150 Opening data connection for part.bin.");
  peer.Send(Pattern(100000));
  ASSERT_TRUE(PumpUntil([&] {
    return fs::exists(fx.Home().File("part.bin")) && fs::file_size(fx.Home().File("part.bin")) > 0;
  }));
  c.Send("ABOR\r\n");
  EXPECT_EQ(c.ReadLine(), "426 Connection closed; ABORT requested by client.");
  EXPECT_EQ(c.ReadLine(), "225 ABOR command successful.");
  EXPECT_TRUE(peer.WaitClosed());

  // A transfer still waiting for its passive connection is given up as well.
  EXPECT_GT(ftptest::PasvPort(c.Command("PASV")), 0);
  EXPECT_EQ(c.Command("STOR never.bin"), "150 Opening data connection for never.bin.");
  c.Send("ABOR\r\n");
  EXPECT_EQ(c.ReadLine(), "426 Connection closed; ABORT requested by client.");
  EXPECT_EQ(c.ReadLine(), "225 ABOR command successful.");
  // No upload reply came: nobody saw "226".
  for (const std::string& a : fx.Answers)
    EXPECT_NE(a, "226 File received ok");
  EXPECT_EQ(c.Command("NOOP"), "200 Ok. Parameter was ''.");
}

TEST_F(FtpTransfer, OneTransferAtATimeAndEachRefusedInItsOwnReply) {
  DataPeer peer;
  ASSERT_TRUE(peer.Connect(ftptest::PasvPort(c.Command("PASV"))));
  EXPECT_EQ(c.Command("STOR one.txt"), "150 Opening data connection for one.txt.");
  EXPECT_EQ(c.Command("STOR two.txt"), "501 Cannot STOR. Transfer in progress");
  EXPECT_EQ(c.Command("RETR one.txt"), "501 Cannot RETR. Transfer in progress");
  EXPECT_EQ(c.Command("LIST"), "451 Failed: Transfer in progress.");
  EXPECT_EQ(c.Command("APPE two.txt"), "550 APPE failed.");
  EXPECT_EQ(c.Command("STOU"), "501 Cannot STOU. Transfer in progress");
  EXPECT_EQ(c.Command("PASV"), "500 PASV exception: 'Transfer in progress'.");
  // The running transfer is untouched and ends normally, under its own name.
  peer.Send("first");
  peer.Finish();
  EXPECT_EQ(c.ReadReply(), "226 File received ok");
  EXPECT_EQ(ReadFile(fx.Home().File("one.txt")), "first");
  EXPECT_EQ(fx.Server().Client(0)->FileName, "one.txt");
  EXPECT_FALSE(fs::exists(fx.Home().File("two.txt")));
}

// PORT, PASV and the data channel rules; each command sent alone and the reply it must get.
TEST_F(FtpTransfer, PortAndPasvRules) {
  struct Case {
    const char* what;
    std::string command;
    std::string reply;
  };
  const std::vector<Case> cases = {
      {"another address", "PORT 127,0,0,2,100,1", "501 Invalid PORT command."},
      {"a privileged port", "PORT 127,0,0,1,3,255", "501 Invalid PORT command."},
      {"port 21", "PORT 127,0,0,1,0,21", "501 Invalid PORT command."},
      {"fewer than six numbers", "PORT 127,0,0,1,4", "501 Invalid PORT command."},
      {"a number above 255", "PORT 127,0,0,1,256,1", "501 Invalid PORT command."},
      {"a letter for a comma", "PORT 127,0,0,1,4x0", "501 Invalid PORT command."},
      {"trailing text", "PORT 127,0,0,1,4,0,9", "501 Invalid PORT command."},
      {"no data channel yet", "STOR x.txt", "501 Cannot STOR. Use PORT or PASV first"},
      {"no data channel for RETR", "RETR x.txt", "501 Cannot RETR. Use PORT or PASV first"},
      {"no data channel for LIST", "LIST", "451 Failed: Use PORT or PASV first."},
      {"the lowest port allowed", "PORT 127,0,0,1,4,0", "200 Port command successful."},
      {"blanks around numbers", "PORT 127, 0 ,0,1,4,1", "200 Port command successful."},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    EXPECT_EQ(c.Command(k.command), k.reply);
  }
}

TEST_F(FtpTransfer, PortAfterPasvEndsPassiveMode) {
  const int pasv = ftptest::PasvPort(c.Command("PASV"));
  ASSERT_GT(pasv, 0);
  DataPeer active;
  EXPECT_EQ(c.Command("PORT " + active.Listen()), "200 Port command successful.");
  // The passive listener is gone.
  DataPeer late;
  EXPECT_FALSE(late.Connect(pasv));
  // The transfer goes to the PORT address.
  fx.Home().Write("a.txt", "active");
  EXPECT_EQ(c.Command("RETR a.txt"), "150 Opening data connection for a.txt.");
  EXPECT_EQ(c.ReadReply(), "226 File sent ok");
  active.WaitClosed();
  EXPECT_EQ(active.Received(), "active");
  // Every active transfer needs its own PORT.
  EXPECT_EQ(c.Command("RETR a.txt"), "501 Cannot RETR. Use PORT or PASV first");
}

TEST_F(FtpTransfer, PassiveConnectionFromAnotherAddressIsDropped) {
  fx.Home().Write("p.txt", "passive");
  const int port = ftptest::PasvPort(c.Command("PASV"));
  ASSERT_GT(port, 0);
  DataPeer stranger;
  if (stranger.Connect(port, "127.0.0.2")) {
    // Accepted by the system, closed by the server at once without a byte.
    EXPECT_TRUE(stranger.WaitClosed());
    EXPECT_EQ(stranger.Received(), "");
  }
  // The listener waits on for the client itself.
  DataPeer client;
  ASSERT_TRUE(client.Connect(port));
  EXPECT_EQ(c.Command("RETR p.txt"), "150 Opening data connection for p.txt.");
  EXPECT_EQ(c.ReadReply(), "226 File sent ok");
  client.WaitClosed();
  EXPECT_EQ(client.Received(), "passive");
}

TEST_F(FtpTransfer, PasvAnnouncesTheControlAddressOrTheConfiguredOne) {
  const std::string reply = c.Command("PASV");
  EXPECT_EQ(reply.rfind("227 Entering Passive Mode (127,0,0,1,", 0), 0u) << reply;
  fx.Server().PasvIpAddr = "10.1.2.3";
  EXPECT_EQ(c.Command("PASV").rfind("227 Entering Passive Mode (10,1,2,3,", 0), 0u);
  fx.Server().PasvIpAddr = "255.255.255.255";
  EXPECT_EQ(c.Command("PASV"), "500 PASV exception: 'Invalid PASV IP Address'.");
}

// Two consecutive ports free right now, or 0.
int FreePortPair() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    TAsyncSocket a;
    a.SetAddr("127.0.0.1");
    a.SetPort("0");
    a.Listen();
    const int base = std::atoi(a.GetSockPort().c_str());
    a.Close();
    if (base <= 0 || base >= 65535) continue;
    TAsyncSocket b;
    b.SetAddr("127.0.0.1");
    b.SetPort(std::to_string(base + 1));
    b.OnError = [](rtl::TObject*) {};
    b.Listen();
    const bool free = b.State() == wsListening;
    if (b.State() != wsClosed) b.Close();
    if (free) return base;
  }
  return 0;
}

TEST_F(FtpTransfer, PassivePortRangeHandsOutFreesAndRunsOut) {
  const int base = FreePortPair();
  ASSERT_GT(base, 0);
  TFtpServer& s = fx.Server();
  s.SetPasvPortRangeStart(base);
  s.SetPasvPortRangeSize(2);
  RawClient second(fx.Port());
  RawClient third(fx.Port());
  ASSERT_TRUE(second.Login());
  ASSERT_TRUE(third.Login());
  EXPECT_EQ(ftptest::PasvPort(c.Command("PASV")), base);
  EXPECT_EQ(ftptest::PasvPort(second.Command("PASV")), base + 1);
  EXPECT_EQ(third.Command("PASV"), "500 PASV exception: 'No available PASV Ports'.");
  // A port in use cannot be moved or dropped.
  EXPECT_THROW(s.SetPasvPortRangeSize(1), FtpServerException);
  EXPECT_THROW(s.SetPasvPortRangeStart(base + 5), FtpServerException);
  EXPECT_THROW(s.SetPasvPortRangeSize(70000), ERangeError);
  // The end of a transfer frees its port.
  DataPeer peer;
  ASSERT_TRUE(peer.Connect(base));
  fx.Home().Write("r.txt", "range");
  EXPECT_EQ(c.Command("RETR r.txt"), "150 Opening data connection for r.txt.");
  EXPECT_EQ(c.ReadReply(), "226 File sent ok");
  EXPECT_EQ(ftptest::PasvPort(third.Command("PASV")), base);
  // A refused command ends passive mode and frees its port as well.
  EXPECT_EQ(second.Command("RETR ../x"),
            "501 Cannot RETR. Cannot accept relative path using dot notation");
  EXPECT_EQ(ftptest::PasvPort(c.Command("PASV")), base + 1);
}

TEST_F(FtpTransfer, TransfersThatStallAreEndedWithTheirClosingReply) {
  TFtpServer& s = fx.Server();
  s.DataConnectTimeout = 300;
  // A transfer whose passive connection never comes.
  ASSERT_GT(ftptest::PasvPort(c.Command("PASV")), 0);
  EXPECT_EQ(c.Command("STOR late.txt"), "150 Opening data connection for late.txt.");
  EXPECT_EQ(c.ReadLine(), "426 Connection closed; Timeout.");
  // A passive listener that no command uses is closed.
  const int idle = ftptest::PasvPort(c.Command("PASV"));
  ASSERT_GT(idle, 0);
  PumpFor(600);
  DataPeer late;
  EXPECT_FALSE(late.Connect(idle));
  EXPECT_EQ(c.Command("RETR late.txt"), "501 Cannot RETR. Use PORT or PASV first");
  // A connected upload that stops sending.
  s.DataTimeout = 300;
  DataPeer slow;
  ASSERT_TRUE(slow.Connect(ftptest::PasvPort(c.Command("PASV"))));
  EXPECT_EQ(c.Command("STOR slow.txt"), "150 Opening data connection for slow.txt.");
  slow.Send("some");
  EXPECT_EQ(c.ReadLine(), "426 Connection closed; Timeout.");
  EXPECT_EQ(c.Command("NOOP"), "200 Ok. Parameter was ''.");
}

TEST_F(FtpTransfer, TwoSessionsNeverWriteTheSameFileAtOnce) {
  RawClient other(fx.Port());
  ASSERT_TRUE(other.Login());
  DataPeer first;
  ASSERT_TRUE(first.Connect(ftptest::PasvPort(c.Command("PASV"))));
  EXPECT_EQ(c.Command("STOR shared.txt"), "150 Opening data connection for shared.txt.");
  first.Send("first writer");
  // The first writer is under way: its bytes are in the file.
  ASSERT_TRUE(PumpUntil([&] { return ReadFile(fx.Home().File("shared.txt")) == "first writer"; }));
  DataPeer second;
  ASSERT_TRUE(second.Connect(ftptest::PasvPort(other.Command("PASV"))));
  EXPECT_EQ(other.Command("STOR shared.txt"), "150 Opening data connection for shared.txt.");
  EXPECT_EQ(other.ReadReply(), "426 Connection closed; Device or resource busy.");
  first.Finish();
  EXPECT_EQ(c.ReadReply(), "226 File received ok");
  EXPECT_EQ(ReadFile(fx.Home().File("shared.txt")), "first writer");
}

// Names that reach outside the home, or through a link, or that are no plain file.
TEST_F(FtpTransfer, PathsStayInsideTheHome) {
  fs::create_directories(fx.Home().File("sub"));
  fs::create_symlink("/etc/passwd", fx.Home().File("link"));
  fs::create_directory_symlink("/etc", fx.Home().File("out"));
  ASSERT_EQ(mkfifo(fx.Home().File("fifo").c_str(), 0600), 0);
  struct Case {
    std::string command;
    std::string reply;
  };
  const std::vector<Case> cases = {
      {"RETR ../../etc/passwd", "501 Cannot RETR. Cannot accept relative path using dot notation"},
      {"RETR /../etc/passwd", "501 Cannot RETR. Cannot accept relative path using dot notation"},
      {"STOR sub/../../kw-xfer-escape.bin",
       "501 Cannot STOR. Cannot accept relative path using dot notation"},
      {"RETR link", "501 Cannot RETR. No permission"},
      {"STOR link", "501 Cannot STOR. No permission"},
      {"RETR out/passwd", "501 Cannot RETR. No permission"},
      {"STOR out/x", "501 Cannot STOR. No permission"},
      {"RETR fifo", "501 Cannot RETR. No permission"},
      {"RETR c:/windows/win.ini", "501 Cannot RETR. Invalid directory name syntax"},
      {"DELE link", "501 No permission"},
      {"SIZE ../x", "550 Command failed: Cannot accept relative path using dot notation."},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.command);
    DataPeer peer;
    ASSERT_TRUE(peer.Connect(ftptest::PasvPort(c.Command("PASV"))));
    EXPECT_EQ(c.Command(k.command), k.reply);
  }
  EXPECT_TRUE(fs::is_symlink(fx.Home().File("link")));
  EXPECT_FALSE(fs::exists(fs::path(fx.Home().path()).parent_path() / "kw-xfer-escape.bin"));
}

TEST_F(FtpTransfer, RetrieveOfWhatIsNoFileEndsWithTheReasonOnce) {
  fs::create_directories(fx.Home().File("folder"));
  std::string data;
  EXPECT_EQ(Download("RETR nothing.txt", data, Mode::Passive),
            "150 Opening data connection for nothing.txt.|"
            "501 Cannot RETR. File not found: \"/nothing.txt\"");
  EXPECT_EQ(Download("RETR folder", data, Mode::Active),
            "150 Opening data connection for folder.|"
            "501 Cannot RETR. File not found: \"/folder\"");
  EXPECT_EQ(c.Command("NOOP"), "200 Ok. Parameter was ''.");
}

TEST_F(FtpTransfer, ActiveConnectionThatFailsIsNoSuccess) {
  // A PORT to a port where nothing listens.
  std::string port;
  {
    DataPeer gone;
    port = gone.Listen();
  }
  EXPECT_EQ(c.Command("PORT " + port), "200 Port command successful.");
  EXPECT_EQ(c.Command("STOR fail.txt"), "150 Opening data connection for fail.txt.");
  const std::string closing = c.ReadReply();
  EXPECT_EQ(closing.rfind("426 Connection closed; transfer aborted. Error ", 0), 0u) << closing;
  EXPECT_EQ(c.Command("PORT " + port), "200 Port command successful.");
  fx.Home().Write("f.txt", "x");
  EXPECT_EQ(c.Command("RETR f.txt"), "150 Opening data connection for f.txt.");
  const std::string retr = c.ReadReply();
  EXPECT_EQ(retr.rfind("501 Cannot RETR. Client data socket connection Error - ", 0), 0u) << retr;
  EXPECT_EQ(c.Command("NOOP"), "200 Ok. Parameter was ''.");
}

TEST_F(FtpTransfer, SessionGoneMidUploadIsAnsweredAndFreed) {
  DataPeer peer;
  ASSERT_TRUE(peer.Connect(ftptest::PasvPort(c.Command("PASV"))));
  EXPECT_EQ(c.Command("STOR cut.txt"), "150 Opening data connection for cut.txt.");
  peer.Send("partial");
  PumpFor(50);
  fx.Server().DisconnectAll();
  ASSERT_FALSE(fx.Answers.empty());
  EXPECT_EQ(fx.Answers.back(),
            "426 Connection closed; transfer aborted. Error " + WinsockErrorWithCode(10057));
  EXPECT_EQ(fx.Server().ClientCount(), 0);
}

}  // namespace
