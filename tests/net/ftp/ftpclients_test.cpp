// Real FTP clients (Python's ftplib, curl, lftp) against the server on 127.0.0.1, each run as a
// child process while the test's thread serves the messages.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/net/ftp/ftp_fixture.h"

namespace {

using ftptest::RunWhilePumping;
using ftptest::ServerFixture;
using ftptest::ShellQuote;

bool Installed(const char* program) {
  return std::filesystem::exists(program);
}

class FtpClients : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directories(fx.Home().Path() / "sub"); }

  // The replies the server sent, one a line.
  std::string ServerReplies() const {
    std::string all;
    for (const std::string& a : fx.Answers)
      all += a + "\n";
    return all;
  }

  ServerFixture fx;
};

TEST_F(FtpClients, PythonFtplibSession) {
  if (!Installed("/usr/bin/python3")) GTEST_SKIP() << "no /usr/bin/python3";
  std::string out;
  const int rc = RunWhilePumping("timeout 30 /usr/bin/python3 " +
                                     ShellQuote(std::string(FTP_TEST_DIR) + "/ftp_client.py") +
                                     " " + fx.Port() + " tester s3cret session",
                                 out);
  ASSERT_EQ(rc, 0) << out;
  EXPECT_EQ(out,
            "220 FTP Server ready.\n"
            "230 User tester logged in.\n"
            "/\n"
            "250 CWD command successful. \"/sub\" is current directory.\n"
            "/sub\n"
            "250 CWD command successful. \"/\" is current directory.\n"
            "/\n"
            "200 Ok. Parameter was ''.\n"
            "215 UNIX Type: L8 Internet Component Suite\n"
            "211-Extensions supported:|  SIZE|  REST STREAM|  MDTM|"
            "  MDTM YYYYMMDDHHMMSS[+-TZ] filename|  MLST size*;type*;perm*;create*;modify*;|"
            "  MFMT|  MD5|211 END\n"
            "221 Goodbye.\n");
  EXPECT_TRUE(ftptest::PumpUntilNoClients(fx.Server()));
}

TEST_F(FtpClients, PythonWrongPasswordIsRefusedLateAndThreeTimesCloses) {
  if (!Installed("/usr/bin/python3")) GTEST_SKIP() << "no /usr/bin/python3";
  fx.Server().LoginFailDelay = kFtpLoginFailDelayMs;
  std::string out;
  const int rc = RunWhilePumping("timeout 30 /usr/bin/python3 " +
                                     ShellQuote(std::string(FTP_TEST_DIR) + "/ftp_client.py") +
                                     " " + fx.Port() + " tester wrong refused",
                                 out);
  ASSERT_EQ(rc, 0) << out;
  EXPECT_EQ(out,
            "220 FTP Server ready.\n"
            "refused 530 Login incorrect. late\n"
            "refused 530 Login incorrect. late\n"
            "refused 530 Login incorrect. late\n"
            "closed\n");
  EXPECT_TRUE(ftptest::PumpUntilNoClients(fx.Server()));
}

TEST_F(FtpClients, CurlLogsInChangesFolderAndQuotesCommands) {
  if (!Installed("/usr/bin/curl")) GTEST_SKIP() << "no /usr/bin/curl";
  std::string out;
  // A folder URL with no body asked for: curl logs in, walks to the folder and sends the quoted
  // commands, without any transfer.
  const int rc = RunWhilePumping(
      "timeout 30 /usr/bin/curl -sS -I --max-time 20 -u tester:s3cret "
      "-Q NOOP -Q SYST -Q -PWD ftp://127.0.0.1:" +
          fx.Port() + "/sub/",
      out);
  EXPECT_EQ(rc, 0) << out << ServerReplies();
  const std::string replies = ServerReplies();
  EXPECT_NE(replies.find("230 User tester logged in.\n"), std::string::npos) << replies;
  EXPECT_NE(replies.find("250 CWD command successful. \"/sub\" is current directory.\n"),
            std::string::npos)
      << replies;
  EXPECT_NE(replies.find("200 Ok. Parameter was ''.\n"), std::string::npos) << replies;
  EXPECT_NE(replies.find("215 UNIX Type: L8 Internet Component Suite\n"), std::string::npos);
  // The quoted PWD runs after the walk to the folder ("-" puts it behind the transfer part).
  EXPECT_NE(replies.find("257 \"/sub\" is current directory.\n"), std::string::npos) << replies;
  EXPECT_TRUE(ftptest::PumpUntilNoClients(fx.Server()));
}

TEST_F(FtpClients, LftpSession) {
  if (!Installed("/usr/bin/lftp")) GTEST_SKIP() << "no /usr/bin/lftp";
  ftptest::TempDir lftpHome;
  std::string out;
  const std::string script =
      "set cmd:interactive false; set net:max-retries 1; set net:timeout 10; "
      "set ftp:ssl-allow false; "
      "open -u tester,s3cret -p " +
      fx.Port() +
      " 127.0.0.1; "
      "quote PWD; cd sub; quote PWD; cd ..; quote NOOP; quote SYST; quote FEAT; quote CDUP";
  const int rc = RunWhilePumping(
      "HOME=" + ShellQuote(lftpHome.Str()) + " timeout 30 /usr/bin/lftp -c " + ShellQuote(script),
      out);
  EXPECT_EQ(rc, 0) << out << ServerReplies();
  EXPECT_NE(out.find("257 \"/\" is current directory."), std::string::npos) << out;
  EXPECT_NE(out.find("257 \"/sub\" is current directory."), std::string::npos) << out;
  EXPECT_NE(out.find("200 Ok. Parameter was ''."), std::string::npos) << out;
  EXPECT_NE(out.find("215 UNIX Type: L8 Internet Component Suite"), std::string::npos) << out;
  EXPECT_NE(out.find("211 END"), std::string::npos) << out;
  const std::string replies = ServerReplies();
  // lftp ends its session with QUIT when the script is done.
  EXPECT_NE(replies.find("221 Goodbye.\n"), std::string::npos) << replies;
  EXPECT_NE(replies.find("230 User tester logged in.\n"), std::string::npos) << replies;
  EXPECT_NE(replies.find("250 CWD command successful. \"/sub\" is current directory.\n"),
            std::string::npos)
      << replies;
  EXPECT_TRUE(ftptest::PumpUntilNoClients(fx.Server()));
}

}  // namespace
