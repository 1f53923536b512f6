// Listings over a data connection and the file commands, from a raw control client against real
// files in the session's home.
#include <time.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "net/ftp/ftpsrv.h"
#include "rtl/fs.h"
#include "tests/net/ftp/ftp_fixture.h"
#include "tests/support/clock.h"

namespace {

namespace fs = std::filesystem;
using ftptest::DataPeer;
using ftptest::RawClient;
using ftptest::ServerFixture;
using testsupport::ReadFile;

int64_t Utc(int y, int mo, int d, int h, int mi, int s) {
  struct tm t = {};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_sec = s;
  return static_cast<int64_t>(timegm(&t));
}

int64_t MTimeOf(const fs::path& p) {
  rtl::fs::TFileInfo info;
  rtl::fs::LStat(p.string(), info);
  return info.MTime;
}

// The session's files are listed in Tokyo time.
class FtpFileCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("TZ")) oldZone_ = old;
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    ASSERT_TRUE(c.Login());
  }
  void TearDown() override {
    if (oldZone_.empty())
      unsetenv("TZ");
    else
      setenv("TZ", oldZone_.c_str(), 1);
    tzset();
  }

  // The listing a command sends over a passive connection; "" with the replies in failure when
  // the command does not end with "226 File sent ok".
  std::string Listing(const std::string& command) {
    DataPeer peer;
    if (!peer.Connect(ftptest::PasvPort(c.Command("PASV")))) return "no data connection";
    const std::string opening = c.Command(command);
    if (opening != "150 Opening data connection for directory list.") return opening;
    const std::string closing = c.ReadReply();
    peer.WaitClosed();
    if (closing != "226 File sent ok") return closing;
    return peer.Received();
  }

  static bool Has(const std::string& listing, const std::string& line) {
    return listing.find(line + "\r\n") != std::string::npos;
  }

  ServerFixture fx;
  RawClient c{fx.Port()};

 private:
  std::string oldZone_;
};

TEST_F(FtpFileCommands, ListShowsUnixLinesWithLocalTimes) {
  // The server's clock in the middle of a year, so that "this year" is the same for the test and
  // the server whenever the test runs.
  const int year = 2024;
  const testsupport::ScopedClock clock(Utc(year, 6, 15, 12, 0, 0));
  // 2 January of this year, 03:04 in Tokyo; and a day of 2020.
  fx.Home().Write("new.txt", "12345");
  fx.Home().Write("old.txt", "");
  fx.Home().Write(".hidden", "h");
  fx.Home().Write("sub/inner.bin", "abc");
  fs::create_symlink("/etc", fx.Home().File("link"));
  ASSERT_EQ(rtl::fs::SetModificationTime(fx.Home().File("new.txt"), Utc(year, 1, 1, 18, 4, 0)), 0);
  ASSERT_EQ(rtl::fs::SetModificationTime(fx.Home().File("old.txt"), Utc(2020, 6, 15, 3, 0, 0)), 0);
  fs::permissions(fx.Home().File("old.txt"), fs::perms::owner_write, fs::perm_options::remove);

  const std::string root = Listing("LIST");
  EXPECT_TRUE(Has(root, "-rw-rw-rw-   1 ftp      ftp            5 Jan 02 03:04 new.txt")) << root;
  EXPECT_TRUE(Has(root, "-r--r--r--   1 ftp      ftp            0 Jun 15  2020 old.txt")) << root;
  EXPECT_NE(root.find(" .\r\n"), std::string::npos) << root;
  EXPECT_EQ(root.find(" ..\r\n"), std::string::npos) << root;  // the home has no parent
  EXPECT_NE(root.find("drw-rw-rw-   1 ftp      ftp            0 "), std::string::npos);
  EXPECT_EQ(root.find("hidden"), std::string::npos) << root;
  EXPECT_EQ(root.find("link"), std::string::npos) << root;
  EXPECT_NE(Listing("LIST -la").find(" .hidden\r\n"), std::string::npos);
  EXPECT_NE(Listing("LIST -a").find(" .hidden\r\n"), std::string::npos);
  EXPECT_EQ(Listing("LIST -l").find(" .hidden\r\n"), std::string::npos);

  // A folder lists its contents, with its "." and "..".
  const std::string sub = Listing("LIST sub");
  EXPECT_NE(sub.find(" inner.bin\r\n"), std::string::npos) << sub;
  EXPECT_NE(sub.find(" ..\r\n"), std::string::npos) << sub;
  EXPECT_EQ(sub.find(" new.txt"), std::string::npos) << sub;
  // A file lists itself; a pattern what matches it; a name that matches nothing says so.
  EXPECT_EQ(Listing("LIST new.txt"),
            "-rw-rw-rw-   1 ftp      ftp            5 Jan 02 03:04 new.txt\r\n");
  const std::string texts = Listing("LIST *.TXT");
  EXPECT_TRUE(Has(texts, "-rw-rw-rw-   1 ftp      ftp            5 Jan 02 03:04 new.txt"));
  EXPECT_EQ(texts.find("sub"), std::string::npos);
  EXPECT_EQ(Listing("LIST nothing"), "/nothing not found\r\n");
  EXPECT_EQ(Listing("LIST sub/*.xyz"), "/sub/*.xyz not found\r\n");
}

TEST_F(FtpFileCommands, NlstMlsdAndMlst) {
  fx.Home().Write("a.txt", "aaa");
  fx.Home().Write("sub/b.txt", "b");
  ASSERT_EQ(rtl::fs::SetModificationTime(fx.Home().File("a.txt"), Utc(2021, 2, 3, 4, 5, 6)), 0);
  EXPECT_EQ(Listing("NLST"), ".\r\na.txt\r\nsub\r\n");
  EXPECT_EQ(Listing("NLST sub"), ".\r\n..\r\nb.txt\r\n");
  EXPECT_EQ(Listing("NLST -LA sub"), ".\r\n..\r\nb.txt\r\n");

  const std::string facts = Listing("MLSD");
  EXPECT_NE(facts.find("size=3;type=file;perm=fdrwa;create="), std::string::npos) << facts;
  EXPECT_NE(facts.find(";modify=20210203040506; a.txt\r\n"), std::string::npos) << facts;
  EXPECT_NE(facts.find("size=0;type=dir;perm=fdelcmp;create="), std::string::npos) << facts;
  EXPECT_NE(facts.find("size=0;type=cdir;perm=fdelcmp;"), std::string::npos) << facts;

  const std::string mlst = c.Command("MLST a.txt");
  EXPECT_EQ(mlst.rfind("250-Listing a.txt\n size=3;type=file;perm=fdrwa;create=", 0), 0u) << mlst;
  EXPECT_NE(mlst.find(";modify=20210203040506; a.txt\n250 END"), std::string::npos) << mlst;
  const std::string here = c.Command("MLST");
  EXPECT_EQ(here.rfind("250-Listing *.*\n size=0;type=cdir;", 0), 0u) << here;
  EXPECT_EQ(c.Command("MLST none.txt"), "550 'none.txt': no such file or directory.");
}

// Each command sent alone in the home (files made below) and the reply it must get, in order.
TEST_F(FtpFileCommands, FileCommandsAnswerAsTheyShould) {
  fx.Home().Write("f.txt", "hello");
  fx.Home().Write("d.txt", "delete me");
  fx.Home().Write("full/x", "x");
  fs::create_directories(fx.Home().File("sub"));
  struct Case {
    std::string command;
    std::string reply;
  };
  const std::vector<Case> cases = {
      {"SIZE f.txt", "213 5"},
      {"SIZE F.TXT", "213 5"},  // names are found in either case
      {"SIZE sub", "550 Command failed: File not found."},
      {"SIZE", "501 Syntax error in parameter."},
      {"DELE d.txt", "250 File '/d.txt' deleted."},
      {"DELE d.txt", "550 '/d.txt': no such file or directory."},
      {"DELE sub", "550 '/sub': no such file or directory."},
      {"DELE", "501 Syntax error in parameter."},
      {"RNTO g.txt", "550 '': no such file or directory."},
      {"RNFR none", "550 '/none': no such file or directory."},
      {"RNFR", "501 Syntax error is parameter."},
      {"RNFR f.txt", "350 File exists, ready for destination name."},
      {"RNTO sub", "553 '/sub': file already exists."},
      {"RNTO sub/g.txt", "250 File '/f.txt' renamed to '/sub/g.txt'."},
      {"RNTO again.txt", "550 '/f.txt': no such file or directory."},
      {"MKD newdir", "257 '/newdir': directory created."},
      {"XMKD newdir", "550 '/newdir': can't create directory."},
      {"MKD sub/g.txt", "550 '/sub/g.txt': file or directory already exists."},
      {"MKD", "501 Syntax error in parameter."},
      {"RMD full", "550 '/full': can't remove directory."},
      {"RMD newdir", "250 '/newdir': directory removed."},
      {"XRMD newdir", "550 '/newdir': no such directory."},
      {"RMD /", "550 '/': can't remove directory."},
      {"CWD sub", "250 CWD command successful. \"/sub\" is current directory."},
      {"SIZE g.txt", "213 5"},
      {"RNFR g.txt", "350 File exists, ready for destination name."},
      {"RNTO ../back.txt", "250 File '/sub/g.txt' renamed to '/back.txt'."},
      {"RNTO ../../x", "501 Cannot accept relative path using dot notation"},
      {"CDUP", "250 CWD command successful. \"/\" is current directory."},
      {"CDUP", "250 CWD command successful. \"/\" is current directory."},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.command);
    EXPECT_EQ(c.Command(k.command), k.reply);
  }
  EXPECT_EQ(ReadFile(fx.Home().File("back.txt")), "hello");
  EXPECT_TRUE(fs::is_directory(fx.Home().File("full")));
}

TEST_F(FtpFileCommands, FileTimesSetAndReadBack) {
  fx.Home().Write("t.txt", "t");
  const fs::path file = fx.Home().File("t.txt");
  struct Case {
    std::string command;
    std::string reply;
    int64_t mtime;  // expected afterwards, or 0 when unchanged
  };
  const std::vector<Case> cases = {
      // MFMT takes the time as UTC.
      {"MFMT 20200102030405 t.txt", "213 Date/time changed OK", Utc(2020, 1, 2, 3, 4, 5)},
      {"MDTM t.txt", "213 20200102030405.000", 0},
      // MDTM without a zone takes it as local (Tokyo) time...
      {"MDTM 20200102030405 t.txt", "253 Date/time changed OK", Utc(2020, 1, 1, 18, 4, 5)},
      {"MDTM t.txt", "213 20200101180405.000", 0},
      // ... with one as UTC, the minutes added.
      {"MDTM 20200102030405+060 t.txt", "253 Date/time changed OK", Utc(2020, 1, 2, 4, 4, 5)},
      // A summer date in a zone with daylight saving is not needed: whole seconds are kept.
      {"MFMT 20230704235959 t.txt", "213 Date/time changed OK", Utc(2023, 7, 4, 23, 59, 59)},
      {"MDTM 20200102030405", "550 '/': no such file or directory.", 0},
      {"MDTM", "501 Syntax error in MDTM/MFMT parameter.", 0},
      {"MFMT t.txt", "501 Syntax error in MDTM/MFMT parameter.", 0},
      {"MFMT 20201301000000 t.txt", "501 Syntax error in MDTM/MFMT parameter.", 0},
      {"MDTM none.txt", "550 '/none.txt': no such file or directory.", 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.command);
    EXPECT_EQ(c.Command(k.command), k.reply);
    if (k.mtime != 0) {
      EXPECT_EQ(MTimeOf(file), k.mtime);
    }
  }
  fx.Server().OnValidateMfmt = [](rtl::TObject*, TFtpCtrlSocket*, std::string&, bool& allowed) {
    allowed = false;
  };
  EXPECT_EQ(c.Command("MFMT 20100101000000 t.txt"), "501 Permission Denied");
  EXPECT_EQ(MTimeOf(file), Utc(2023, 7, 4, 23, 59, 59));
}

// The digest of a file as md5sum computes it, upper-cased.
std::string ReferenceMd5(const fs::path& file) {
  FILE* p = popen(("md5sum " + ftptest::ShellQuote(file.string())).c_str(), "r");
  if (!p) return "";
  char buf[128] = {};
  const bool got = std::fgets(buf, sizeof buf, p) != nullptr;
  pclose(p);
  if (!got) return "";
  std::string hex(buf, 32);
  for (char& ch : hex)
    ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return hex;
}

TEST_F(FtpFileCommands, Md5OfFilesWithoutHoldingUpOtherSessions) {
  fx.Home().Write("abc.txt", "abc");
  EXPECT_EQ(c.Command("MD5 abc.txt"), "251 \"abc.txt\" 900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(c.Command("MD5 none.txt"), "550 'none.txt': no such file.");
  fs::create_directories(fx.Home().File("sub"));
  EXPECT_EQ(c.Command("MD5 sub"), "550 'sub': no such file.");

  // A large file takes many steps; another session is served in between.
  const fs::path big = fx.Home().Write("big.bin", ftptest::Pattern(48 * 1024 * 1024 + 3));
  const std::string reference = ReferenceMd5(big);
  ASSERT_EQ(reference.size(), 32u);
  RawClient other(fx.Port());
  ASSERT_TRUE(other.Login());
  // The other session's command is sent the moment the digest starts.
  fx.Server().OnClientCommand = [&](rtl::TObject*, TFtpCtrlSocket*, std::string& keyword,
                                    std::string&, std::string&) {
    if (keyword == "MD5") other.Send("NOOP meanwhile\r\n");
  };
  fx.Answers.clear();
  c.Send("MD5 big.bin\r\nNOOP after\r\n");
  EXPECT_EQ(other.ReadLine(), "200 Ok. Parameter was 'meanwhile'.");
  EXPECT_EQ(c.ReadLine(), "251 \"big.bin\" " + reference);
  // The session's own next command waited for the digest.
  EXPECT_EQ(c.ReadLine(), "200 Ok. Parameter was 'after'.");
  ASSERT_EQ(fx.Answers.size(), 3u);
  EXPECT_EQ(fx.Answers[0], "200 Ok. Parameter was 'meanwhile'.");

  fx.Server().OnClientCommand = nullptr;
  fx.Server().OnCalculateMd5 = [](rtl::TObject*, TFtpCtrlSocket*, std::string&, std::string&,
                                  bool& allowed) { allowed = false; };
  EXPECT_EQ(c.Command("MD5 abc.txt"), "500 Cannot RETR.");
}

}  // namespace
