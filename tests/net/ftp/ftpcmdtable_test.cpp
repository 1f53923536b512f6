// Splitting a command line, the text replies carry, and the secret comparison of logins.
#include "net/ftp/ftpcmdtable.h"

#include <gtest/gtest.h>

#include <string>

#include "net/ftp/ftplogin.h"

namespace {

TEST(FtpCommandLine, SplitsKeywordAndParameters) {
  struct Case {
    std::string line;
    const char* keyword;
    std::string params;
  } cases[] = {
      {"user alice", "USER", "alice"},
      {" \tNOOP   a b  ", "NOOP", "a b  "},
      {"XMKD", "XMKD", ""},
      {"MD5 file name", "MD5", "file name"},
      {"?", "", "?"},
      {"", "", ""},
      {"CWD\tdir", "CWD", "dir"},
      {"RETR-x", "RETR", "-x"},
      {"\xff\xff"
       "A",
       "",
       "\xff"
       "A"},  // IAC IAC is a data byte
      {"AB\xff\xf4"
       "OR",
       "ABOR", ""},  // IAC IP vanishes
      {"\xff\xf4\xff\xf2"
       "ABOR",
       "ABOR", ""},                 // Telnet synch before ABOR
      {"NOOP x\xff", "NOOP", "x"},  // a lone IAC at the end
      {"NO\xff", "NO", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const TFtpCommandLine r = ParseFtpCommandLine(c.line);
    EXPECT_EQ(r.Keyword, c.keyword);
    EXPECT_EQ(r.Params, c.params);
  }
}

TEST(FtpCommandLine, RepliesCarryNoStrayControlBytes) {
  EXPECT_EQ(FtpSanitizeReply("200 ok"), "200 ok");
  EXPECT_EQ(FtpSanitizeReply("211-a\r\n b\r\n211 END"), "211-a\r\n b\r\n211 END");
  EXPECT_EQ(FtpSanitizeReply("250 a\rb\nc\td\x1b"), "250 a?b?c?d?");
  EXPECT_EQ(FtpSanitizeReply(std::string("257 \"x\0y\"", 9)), "257 \"x?y\"");
  EXPECT_EQ(FtpSanitizeReply("257 \x95\x5c\x81\x7f"), "257 \x95\x5c\x81?");
  EXPECT_EQ(FtpSanitizeReply("x\r"), "x?");
  EXPECT_EQ(FtpUnknownCommand("FOO"), "500 'FOO': command not understood.");
}

TEST(FtpLogin, SecretsCompareWholeTexts) {
  EXPECT_TRUE(FtpSameSecret("rtso7362", "rtso7362"));
  EXPECT_TRUE(FtpSameSecret("", ""));
  EXPECT_FALSE(FtpSameSecret("rtso7362", "rtso736"));
  EXPECT_FALSE(FtpSameSecret("rtso736", "rtso7362"));
  EXPECT_FALSE(FtpSameSecret("Rtso7362", "rtso7362"));
  EXPECT_FALSE(FtpSameSecret(std::string("a\0", 2), "a"));
  EXPECT_FALSE(FtpSameSecret("", "x"));
}

}  // namespace
