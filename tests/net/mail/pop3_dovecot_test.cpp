// The synchronous POP3 client against a real server: dovecot, started on loopback by
// tests/peers/pop3_server.sh with a configuration of its own in a temporary folder. Every user
// there has the same three messages (dot lines, a folded Subject, two Cc lines, a 6000-byte line);
// tests that delete messages use a user of their own. What the server should answer is read from
// the Maildir files themselves.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/mail/pop3sync.h"
#include "tests/support/files.h"
#include "tests/support/netns.h"
#include "tests/support/peers.h"
#include "tests/support/pop3_server.h"
#include "tests/support/pump.h"

namespace net::mail {
namespace {

using testsupport::PumpFor;

// One message of a user's Maildir, as the server should give it.
struct Message {
  std::vector<std::string> lines;  // without line ends
  int size = 0;                    // octets with CR LF line ends
};

// The client's time-out in these tests: a refusal "at once" comes in well under half of it.
constexpr int kTimeoutSeconds = 60;

class DovecotTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!testsupport::Pop3Server::CanRun()) {
      skip_ = true;
      return;
    }
    server_ = new testsupport::Pop3Server();
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    if (skip_) GTEST_SKIP() << testsupport::kUsersCannotSwitch;
    ASSERT_EQ(server_->Error(), "");
    cli_.Host = "127.0.0.1";
    cli_.Port = std::to_string(server_->Port());
    cli_.PassWord = "secret";
    cli_.Timeout = kTimeoutSeconds;
    cli_.OnMessageLine = [this](rtl::TObject*) { lines_.push_back(cli_.LastResponse()); };
  }

  // The user's messages in the server's order (their file names' order), read from the Maildir.
  static std::vector<Message> Messages(const std::string& user) {
    std::vector<std::string> files;
    for (const auto& e :
         std::filesystem::directory_iterator(server_->Dir().File("home/" + user + "/Maildir/cur")))
      files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    std::vector<Message> out;
    for (const std::string& f : files) {
      Message m;
      m.lines = testsupport::ReadLines(f);
      const std::string bytes = testsupport::ReadFile(f);
      m.size = static_cast<int>(bytes.size() + std::count(bytes.begin(), bytes.end(), '\n'));
      out.push_back(m);
    }
    return out;
  }

  // A fresh session of user, logged in.
  void LogIn(const std::string& user) {
    cli_.UserName = user;
    ASSERT_TRUE(cli_.SyncLogin()) << cli_.ErrorMessage();
    ASSERT_EQ(cli_.ProtocolState(), pop3Transaction);
  }

  static inline bool skip_ = false;
  static inline testsupport::Pop3Server* server_ = nullptr;

  TSyncPop3Cli cli_;
  std::vector<std::string> lines_;  // LastResponse at each OnMessageLine
};

// One session, command after command: what each returns and what it leaves in the properties.
TEST_F(DovecotTest, MailboxCommands) {
  const std::vector<Message> msgs = Messages("alice");
  ASSERT_EQ(msgs.size(), 3u);
  std::vector<std::pair<int, int>> list;  // MsgNum, MsgSize at each OnListLine
  std::vector<std::pair<int, std::string>> uidl;
  int headerEnds = 0;
  cli_.OnListLine = [&](rtl::TObject*) { list.emplace_back(cli_.MsgNum, cli_.MsgSize()); };
  cli_.OnUidlLine = [&](rtl::TObject*) { uidl.emplace_back(cli_.MsgNum, cli_.MsgUidl()); };
  cli_.OnHeaderEnd = [&](rtl::TObject*) { ++headerEnds; };
  cli_.UserName = "alice";

  // The header part of message 1, through its empty line.
  std::vector<std::string> header1(msgs[0].lines.begin(),
                                   std::find(msgs[0].lines.begin(), msgs[0].lines.end(), "") + 1);

  struct Row {
    const char* name;
    std::function<bool()> run;
    bool ok;
    std::function<void()> check;
  } rows[] = {
      {"STAT before login", [&] { return cli_.SyncStat(); }, false,
       [&] { EXPECT_EQ(cli_.ErrorMessage(), "-ERR STAT command invalid now"); }},
      {"login", [&] { return cli_.SyncLogin(); }, true,
       [&] {
         EXPECT_EQ(cli_.ProtocolState(), pop3Transaction);
         // The greeting carries the APOP timestamp.
         EXPECT_EQ(cli_.Timestamp().front(), '<');
         EXPECT_EQ(cli_.Timestamp().back(), '>');
       }},
      {"STAT", [&] { return cli_.SyncStat(); }, true,
       [&] {
         EXPECT_EQ(cli_.MsgCount(), 3);
         EXPECT_EQ(cli_.MsgSize(), msgs[0].size + msgs[1].size + msgs[2].size);
       }},
      {"LIST", [&] { return cli_.MsgNum = 0, cli_.SyncList(); }, true,
       [&] {
         EXPECT_EQ(list, (std::vector<std::pair<int, int>>{
                             {1, msgs[0].size}, {2, msgs[1].size}, {3, msgs[2].size}}));
       }},
      {"LIST 2", [&] { return cli_.MsgNum = 2, cli_.SyncList(); }, true,
       [&] {
         EXPECT_EQ(cli_.MsgNum, 2);
         EXPECT_EQ(cli_.MsgSize(), msgs[1].size);
       }},
      {"UIDL", [&] { return cli_.MsgNum = 0, cli_.SyncUidl(); }, true,
       [&] {
         ASSERT_EQ(uidl.size(), 3u);
         for (int i = 0; i < 3; ++i) {
           EXPECT_EQ(uidl[i].first, i + 1);
           EXPECT_FALSE(uidl[i].second.empty());
         }
         EXPECT_NE(uidl[0].second, uidl[1].second);
       }},
      {"UIDL 2", [&] { return cli_.MsgNum = 2, cli_.SyncUidl(); }, true,
       [&] {
         EXPECT_EQ(cli_.MsgNum, 2);
         EXPECT_EQ(cli_.MsgUidl(), uidl.at(1).second);
       }},
      {"RETR 1", [&] { return cli_.MsgNum = 1, cli_.SyncRetr(); }, true,
       [&] {
         EXPECT_EQ(lines_, msgs[0].lines);  // dots unstuffed: ".", "..", ".x" as stored
         EXPECT_EQ(cli_.HeaderFrom, "Sender <sender@example.com>");
         EXPECT_EQ(cli_.HeaderTo, "alice@example.com");
         EXPECT_EQ(cli_.HeaderSubject, "a foldedsubject line");
         EXPECT_EQ(cli_.HeaderCc, "one@example.comtwo@example.com");
         EXPECT_EQ(cli_.HeaderDate, "Mon, 1 Jan 2024 10:00:00 +0900");
         EXPECT_EQ(cli_.HeaderMessageId, "<m1@example.com>");
         EXPECT_EQ(headerEnds, 1);
       }},
      {"RETR 2", [&] { return cli_.MsgNum = 2, cli_.SyncRetr(); }, true,
       [&] {
         // The 6000-byte line comes in pieces of at most 4093 bytes.
         ASSERT_EQ(lines_.size(), msgs[1].lines.size() + 1);
         EXPECT_EQ(lines_[3].size(), 4093u);
         EXPECT_EQ(lines_[3] + lines_[4], msgs[1].lines[3]);
         EXPECT_EQ(lines_.back(), msgs[1].lines.back());
         EXPECT_EQ(cli_.HeaderSubject, "long line");
         EXPECT_EQ(cli_.HeaderCc, "");
       }},
      {"TOP 1 0", [&] { return cli_.MsgNum = 1, cli_.MsgLines = 0, cli_.SyncTop(); }, true,
       [&] { EXPECT_EQ(lines_, header1); }},
      {"NOOP", [&] { return cli_.SyncNoop(); }, true, [] {}},
      {"RETR 99", [&] { return cli_.MsgNum = 99, cli_.SyncRetr(); }, false,
       [&] {
         EXPECT_EQ(cli_.RequestResult(), 500);
         EXPECT_EQ(cli_.ErrorMessage(), "-ERR There's no message 99.");
       }},
      {"LAST (not offered)", [&] { return cli_.SyncLast(); }, false,
       [&] { EXPECT_EQ(cli_.RequestResult(), 500); }},
      {"QUIT", [&] { return cli_.SyncQuit(); }, true,
       [&] {
         EXPECT_FALSE(cli_.Connected());
         EXPECT_EQ(cli_.ProtocolState(), pop3Disconnected);
       }},
  };
  for (Row& row : rows) {
    SCOPED_TRACE(row.name);
    lines_.clear();
    EXPECT_EQ(row.run(), row.ok) << cli_.ErrorMessage();
    row.check();
  }
}

TEST_F(DovecotTest, WrongPasswordFailsAtOnce) {
  cli_.UserName = "alice";
  cli_.PassWord = "wrong";
  const DWORD start = GetTickCount();
  EXPECT_FALSE(cli_.SyncLogin());
  EXPECT_LT(TickElapsed(start, GetTickCount()), kTimeoutSeconds * 1000u / 2)
      << "the refusal waited for the time-out";
  EXPECT_EQ(cli_.ErrorMessage(), "-ERR [AUTH] Authentication failed.");
  EXPECT_EQ(cli_.RequestResult(), 500);
  EXPECT_FALSE(cli_.SyncAbort());  // ends the open session; the last request failed
  EXPECT_FALSE(cli_.Connected());
}

// DELE and RSET lose nothing; DELE and QUIT remove the message for the next session.
TEST_F(DovecotTest, DeleteThenResetOrQuit) {
  struct Row {
    const char* user;
    bool reset;
    int after;
  } rows[] = {{"bob", true, 3}, {"carol", false, 2}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.user);
    LogIn(row.user);
    cli_.MsgNum = 1;
    ASSERT_TRUE(cli_.SyncDele());
    ASSERT_TRUE(cli_.SyncStat());
    EXPECT_EQ(cli_.MsgCount(), 2);
    if (row.reset) {
      ASSERT_TRUE(cli_.SyncRSet());
      ASSERT_TRUE(cli_.SyncStat());
      EXPECT_EQ(cli_.MsgCount(), 3);
    }
    ASSERT_TRUE(cli_.SyncQuit());
    LogIn(row.user);
    ASSERT_TRUE(cli_.SyncStat());
    EXPECT_EQ(cli_.MsgCount(), row.after);
    ASSERT_TRUE(cli_.SyncQuit());
  }
}

// The other ways in: APOP with the greeting's timestamp, AUTH LOGIN and CRAM-MD5; CRAM-SHA1 is
// not offered.
TEST_F(DovecotTest, OtherLogins) {
  struct Row {
    const char* name;
    TPop3AuthType type;  // popAuthNone: APOP
    bool ok;
  } rows[] = {
      {"APOP", popAuthNone, true},
      {"AUTH LOGIN", popAuthLogin, true},
      {"AUTH CRAM-MD5", popAuthCramMD5, true},
      {"AUTH CRAM-SHA1", popAuthCramSHA1, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    cli_.UserName = "dave";
    cli_.AuthType = row.type;
    ASSERT_TRUE(cli_.SyncConnect()) << cli_.ErrorMessage();
    if (row.type == popAuthNone) {
      EXPECT_EQ(cli_.SyncAPop(), row.ok) << cli_.ErrorMessage();
    } else {
      cli_.Auth();
      EXPECT_EQ(cli_.WaitUntilReady(), row.ok) << cli_.ErrorMessage();
    }
    if (row.ok) {
      EXPECT_EQ(cli_.ProtocolState(), pop3Transaction);
      ASSERT_TRUE(cli_.SyncStat());
      EXPECT_EQ(cli_.MsgCount(), 3);
      EXPECT_TRUE(cli_.SyncQuit());
    } else {
      EXPECT_EQ(cli_.RequestResult(), 500);
      EXPECT_EQ(cli_.ErrorMessage().rfind("-ERR ", 0), 0u) << cli_.ErrorMessage();
      EXPECT_EQ(cli_.ProtocolState(), pop3WaitingUser);
      cli_.SyncAbort();
    }
  }
}

}  // namespace
}  // namespace net::mail
