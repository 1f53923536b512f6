// The SMTP login: what an EHLO reply announces, the automatic choice, the walk on 504 and every
// refusal against a scripted server (which also plays NTLM), then each method and the automatic
// choice against aiosmtpd's own authentication.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/mail/mime.h"
#include "net/mail/ntlm.h"
#include "net/mail/smtpauth.h"
#include "rtl/crypto.h"
#include "tests/net/mail/smtp_rig.h"
#include "tests/support/smtp_sink.h"

namespace {

using net::mail::MimeBase64Decode;
using net::mail::MimeBase64Encode;
using smtptest::End;
using smtptest::Entries;
using smtptest::FakeSmtpServer;
using smtptest::ProbeClient;
using smtptest::Rig;
using testsupport::SmtpSink;

// An AUTH command cut after its mechanism (the credentials and messages are looked at apart).
std::string Shown(const std::string& command) {
  if (command.rfind("AUTH ", 0) != 0) return command;
  return command.substr(0, command.find(' ', 5));
}

// The commands after EHLO, AUTH commands shown by their mechanism.
std::vector<std::string> AfterEhlo(const Rig& r) {
  std::vector<std::string> after;
  bool seen = false;
  for (const auto& c : r.fake.Commands) {
    if (seen) after.push_back(Shown(c));
    seen = seen || c.rfind("EHLO", 0) == 0;
  }
  return after;
}

TEST(SmtpAuth, AnnouncedMechanisms) {
  struct Case {
    std::vector<std::string> lines;
    std::vector<std::string> types;
  };
  const Case cases[] = {
      {{"250-AUTH LOGIN PLAIN"}, {"LOGIN", "PLAIN"}},
      {{"250-AUTH=LOGIN PLAIN"}, {"LOGIN", "PLAIN"}},
      {{" 250-auth=login  cram-md5\t"}, {"LOGIN", "CRAM-MD5"}},
      {{"250-AUTH LOGIN", "250-AUTH=LOGIN PLAIN", "250 AUTH PLAIN NTLM"},
       {"LOGIN", "PLAIN", "NTLM"}},
      {{"250-AUTH GSSAPI=NTLM"}, {"GSSAPI", "NTLM"}},
      {{"250 AUTH= \r"}, {}},  // trimmed, 9 characters: too short to hold a name
      {{"250 AUTH=X"}, {"X"}},
      {{"250-AUTHX LOGIN", "250-SIZE 1000", "250-XAUTH LOGIN", "250"}, {}},
  };
  for (const Case& c : cases) {
    rtl::TStringList types;
    for (const auto& line : c.lines)
      AddSmtpAuthTypes(line, types);
    EXPECT_EQ(Entries(types), c.types) << c.lines[0];
  }
}

TEST(SmtpAuth, AutomaticChoice) {
  struct Case {
    std::vector<std::string> announced;
    TSmtpAuthType chosen;
  };
  const Case cases[] = {
      {{}, smtpAuthCramMD5},
      {{"GSSAPI", "XOAUTH2"}, smtpAuthCramMD5},
      {{"PLAIN"}, smtpAuthPlain},
      {{"LOGIN", "PLAIN"}, smtpAuthLogin},
      {{"CRAM-SHA1", "PLAIN", "LOGIN"}, smtpAuthCramSha1},
      {{"CRAM-MD5", "CRAM-SHA1", "LOGIN", "PLAIN"}, smtpAuthCramMD5},
      {{"NTLM", "CRAM-MD5"}, smtpAuthNtlm},
  };
  for (const Case& c : cases) {
    rtl::TStringList announced;
    for (const auto& name : c.announced)
      announced.Add(name);
    EXPECT_EQ(ChooseSmtpAuthType(announced), c.chosen) << testing::PrintToString(c.announced);
  }
}

TEST(SmtpAuth, EhloReplyFillsTheAnnouncedList) {
  Rig r;
  r.Answer("EHLO", {"250-fake.test\r\n250-AUTH LOGIN PLAIN\r\n250-SIZE 100\r\n"
                    "250 auth=login cram-md5\r\n"});
  r.Answer("HELO", {"250 AUTH NTLM\r\n"});
  ASSERT_TRUE(r.client.SyncConnect());
  ASSERT_TRUE(r.client.SyncEhlo());
  EXPECT_EQ(Entries(r.client.ServerAuthTypes),
            (std::vector<std::string>{"LOGIN", "PLAIN", "CRAM-MD5"}));
  // Only the EHLO reply is read.
  ASSERT_TRUE(r.client.SyncHelo());
  EXPECT_EQ(Entries(r.client.ServerAuthTypes),
            (std::vector<std::string>{"LOGIN", "PLAIN", "CRAM-MD5"}));
}

// The automatic choice walks on at each 504: the order on the wire, the PLAIN credentials, and
// the first refusal's line in ErrorMessage although the login succeeded.
TEST(SmtpAuth, RefusedMechanismsAreWalked) {
  struct Case {
    const char* ehlo;
    std::vector<std::string> tried;
  };
  const Case cases[] = {
      {"250 fake.test\r\n", {"AUTH CRAM-MD5", "AUTH CRAM-SHA1", "AUTH LOGIN", "AUTH PLAIN"}},
      {"250-fake.test\r\n250 AUTH NTLM\r\n",
       {"AUTH NTLM", "AUTH CRAM-MD5", "AUTH CRAM-SHA1", "AUTH LOGIN", "AUTH PLAIN"}},
      {"250-fake.test\r\n250 AUTH=LOGIN\r\n", {"AUTH LOGIN", "AUTH PLAIN"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ehlo);
    Rig r;
    r.client.AuthType = smtpAuthAutoSelect;
    r.client.Username = "user";
    r.client.Password = "secret";
    r.client.FromName = "Sender <from@x.jp>";  // PLAIN never takes it
    r.Answer("EHLO", {c.ehlo});
    r.Answer("AUTH", {"504 5.5.4 Unrecognized authentication type\r\n"});
    r.Answer("AUTH PLAIN ", {"235 2.7.0 Authentication successful\r\n"});
    ASSERT_TRUE(r.client.SyncOpen()) << r.client.ErrorMessage();
    r.Settle();
    EXPECT_EQ(AfterEhlo(r), c.tried);
    EXPECT_EQ(MimeBase64Decode(r.fake.Commands.back().substr(11)),
              std::string("user\0user\0secret", 16));
    EXPECT_EQ(r.client.ErrorMessage(), "504 5.5.4 Unrecognized authentication type");
    EXPECT_EQ(r.ends, (std::vector<End>{{smtpRqOpen, 0}}));
  }
}

// Every way a login fails: its result, its text, and that nothing more is sent after it.
TEST(SmtpAuth, Refusals) {
  const std::string undetermined = "500 Authentication Type could not be determined.";
  struct Case {
    const char* what;
    TSmtpAuthType type;
    std::vector<std::pair<std::string, std::string>> answers;  // prefix, reply
    std::vector<std::string> sent;
    int code;
    std::string error;
  };
  const Case cases[] = {
      {"a fixed method refused",
       smtpAuthLogin,
       {{"AUTH", "504 not that\r\n"}},
       {"AUTH LOGIN"},
       504,
       "504 not that"},
      {"automatic, refused otherwise than with 504",
       smtpAuthAutoSelect,
       {{"AUTH", "535 denied\r\n"}},
       {"AUTH CRAM-MD5"},
       535,
       undetermined},
      {"automatic, everything refused: the first refusal's line",
       smtpAuthAutoSelect,
       {{"AUTH", "504 not that\r\n"}, {"AUTH CRAM-MD5", "504 not CRAM-MD5\r\n"}},
       {"AUTH CRAM-MD5", "AUTH CRAM-SHA1", "AUTH LOGIN", "AUTH PLAIN"},
       504,
       "504 not CRAM-MD5"},
      {"automatic, 504 then refused otherwise",
       smtpAuthAutoSelect,
       {{"AUTH CRAM-MD5", "504 not that\r\n"}, {"AUTH CRAM-SHA1", "535 denied\r\n"}},
       {"AUTH CRAM-MD5", "AUTH CRAM-SHA1"},
       535,
       undetermined},
      {"automatic, PLAIN with a wrong password",
       smtpAuthAutoSelect,
       {{"EHLO", "250 AUTH PLAIN\r\n"}, {"AUTH", "535 5.7.8 invalid\r\n"}},
       {"AUTH PLAIN"},
       535,
       undetermined},
      {"LOGIN's user name refused",
       smtpAuthLogin,
       {{"AUTH LOGIN", "334 VXNlcm5hbWU6\r\n"}, {"dXNlcg==", "535 no such user\r\n"}},
       {"AUTH LOGIN", "dXNlcg=="},
       535,
       "535 no such user"},
      {"LOGIN's password refused",
       smtpAuthLogin,
       {{"AUTH LOGIN", "334 VXNlcm5hbWU6\r\n"},
        {"dXNlcg==", "334 UGFzc3dvcmQ6\r\n"},
        {"c2VjcmV0", "535 wrong\r\n"}},
       {"AUTH LOGIN", "dXNlcg==", "c2VjcmV0"},
       535,
       "535 wrong"},
      {"CRAM-MD5 without a challenge",
       smtpAuthCramMD5,
       {{"AUTH", "334\r\n"}},
       {"AUTH CRAM-MD5"},
       500,
       "500 Malformed MD5 Challege: 334"},
      {"CRAM-SHA1 without a challenge",
       smtpAuthCramSha1,
       {{"AUTH", "334 \r\n"}},
       {"AUTH CRAM-SHA1"},
       500,
       "500 Malformed SHA1 Challege: 334 "},
      {"NTLM without a challenge",
       smtpAuthNtlm,
       {{"AUTH", "334\r\n"}},
       {"AUTH NTLM"},
       500,
       "500 Malformed NtlmMsg2: 334"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Rig r;
    r.client.AuthType = c.type;
    r.client.Username = "user";
    r.client.Password = "secret";
    for (const auto& [prefix, reply] : c.answers)
      r.Answer(prefix, {reply});
    ASSERT_TRUE(r.client.SyncConnect());
    ASSERT_TRUE(r.client.SyncEhlo());
    EXPECT_FALSE(r.client.SyncAuth());
    r.Settle();
    EXPECT_EQ(AfterEhlo(r), c.sent);
    EXPECT_EQ(r.client.ResultCode, c.code);
    EXPECT_EQ(r.client.ErrorMessage(), c.error);
    EXPECT_EQ(r.ends.back(), (End{smtpRqAuth, c.code}));
    EXPECT_EQ(r.client.State(), smtpReady);
    EXPECT_TRUE(r.client.IsConnected);
  }
}

TEST(SmtpAuth, NothingIsSentWithoutEhloOrMethod) {
  struct Case {
    const char* ehlo;
    TSmtpAuthType type;
    const char* error;
  };
  const Case cases[] = {
      {"502 not here\r\n", smtpAuthLogin, "500 ESMTP not supported."},
      {"250 AUTH LOGIN\r\n", smtpAuthNone, "500 No Authentication Type Selected."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    Rig r;
    r.client.AuthType = c.type;
    r.Answer("EHLO", {c.ehlo});
    ASSERT_TRUE(r.client.SyncConnect());
    r.client.SyncEhlo();
    EXPECT_FALSE(r.client.SyncAuth());
    r.Settle();
    EXPECT_EQ(r.fake.Commands.back().rfind("EHLO", 0), 0u);
    EXPECT_EQ(r.client.ErrorMessage(), c.error);
    EXPECT_EQ(r.ends.back(), (End{smtpRqAuth, 500}));
  }
}

// A second EHLO that is refused leaves no login possible.
TEST(SmtpAuth, OnlyTheLastEhloCounts) {
  Rig r;
  r.client.AuthType = smtpAuthPlain;
  int ehlos = 0;
  r.fake.OnCommand = [&](const std::string& command) -> FakeSmtpServer::Answer {
    if (command.rfind("EHLO", 0) == 0) return {++ehlos == 1 ? "250 OK\r\n" : "502 no\r\n"};
    return FakeSmtpServer::Standard(command);
  };
  ASSERT_TRUE(r.client.SyncConnect());
  ASSERT_TRUE(r.client.SyncEhlo());
  EXPECT_FALSE(r.client.SyncEhlo());
  EXPECT_FALSE(r.client.SyncAuth());
  EXPECT_EQ(r.client.ErrorMessage(), "500 ESMTP not supported.");
}

// The NTLM exchange alone (two commands, one request) and as the last step of Open.
TEST(SmtpAuth, NtlmExchange) {
  // A bare challenge message: signature, type 2, the challenge; no names.
  std::string type2("NTLMSSP\0\2\0\0\0", 12);
  type2.resize(48, '\0');
  type2.replace(24, 8, "\x01\x23\x45\x67\x89\xab\xcd\xef");
  const std::pair<bool, std::vector<End>> runs[] = {
      {false, {{smtpRqConnect, 0}, {smtpRqEhlo, 0}, {smtpRqAuth, 0}}},
      {true, {{smtpRqOpen, 0}}},
  };
  for (const auto& [open, ends] : runs) {
    SCOPED_TRACE(open ? "Open" : "Auth");
    Rig r;
    r.client.AuthType = smtpAuthNtlm;
    r.client.Username = "User";
    r.client.Password = "Password";
    r.Answer("AUTH NTLM ", {"334 " + MimeBase64Encode(type2) + "\r\n"});
    r.Answer("TlRMTVNTUAADAAAA", {"235 2.7.0 Accepted\r\n"});  // "NTLMSSP\0" type 3
    if (open) {
      ASSERT_TRUE(r.client.SyncOpen()) << r.client.ErrorMessage();
    } else {
      ASSERT_TRUE(r.client.SyncConnect());
      ASSERT_TRUE(r.client.SyncEhlo());
      ASSERT_TRUE(r.client.SyncAuth()) << r.client.ErrorMessage();
    }
    r.Settle();
    EXPECT_EQ(r.ends, ends);
    ASSERT_EQ(r.fake.Commands.size(), 3u);
    EXPECT_EQ(r.fake.Commands[1], "AUTH NTLM " + net::mail::BuildNtlmNegotiate("", ""));

    const std::string type3 = MimeBase64Decode(r.fake.Commands[2]);
    ASSERT_EQ(type3.size(), 64u + 8 + 48);
    EXPECT_EQ(type3.substr(0, 12), std::string("NTLMSSP\0\3\0\0\0", 12));
    EXPECT_EQ(type3.substr(60, 4), std::string("\x05\x82\0\0", 4));            // flags
    EXPECT_EQ(type3.substr(28, 8), std::string("\0\0\0\0\x40\0\0\0", 8));      // no domain
    EXPECT_EQ(type3.substr(36, 8), std::string("\x08\0\x08\0\x40\0\0\0", 8));  // user at 64
    EXPECT_EQ(type3.substr(64, 8), std::string("U\0s\0e\0r\0", 8));
    EXPECT_EQ(type3.substr(44, 8), std::string("\0\0\0\0\x48\0\0\0", 8));  // no host
    EXPECT_EQ(type3.substr(52, 8), std::string(8, '\0'));                  // no session key
    EXPECT_EQ(type3.substr(12, 8), std::string("\x18\0\x18\0\x48\0\0\0", 8));
    EXPECT_EQ(type3.substr(20, 8), std::string("\x18\0\x18\0\x60\0\0\0", 8));
    EXPECT_EQ(rtl::HexLower(type3.substr(96, 24)),
              "67c43011f30298a2ad35ece64f16331c44bdbed927841f94");
  }
}

// Longer than an HMAC block, so CRAM hashes it into its key first.
const std::string kPassword = "a pass phrase that is longer than the sixty-four bytes of a block";

// The sink takes "tim" with kPassword and leaves out the mechanisms excluded.
std::vector<std::string> AuthSwitches(const std::vector<std::string>& excluded) {
  std::vector<std::string> switches = {"--auth", "tim:" + kPassword};
  for (const auto& m : excluded)
    switches.insert(switches.end(), {"--auth-exclude", m});
  return switches;
}

void AimAt(ProbeClient& client, const SmtpSink& sink, TSmtpAuthType type,
           const std::string& password = kPassword) {
  client.Host = "127.0.0.1";
  client.Port = sink.Port();
  client.SignOn = "tester";
  client.Timeout = 10;
  client.AuthType = type;
  client.Username = "tim";
  client.Password = password;
}

TEST(SmtpAuthSink, EachMethodLogsIn) {
  ASSERT_GT(kPassword.size(), 64u);
  const std::pair<TSmtpAuthType, std::string> cases[] = {
      {smtpAuthPlain, "PLAIN\ttim\t" + kPassword},
      {smtpAuthLogin, "LOGIN\ttim\t" + kPassword},
      {smtpAuthCramMD5, "CRAM-MD5\ttim\t"},
      {smtpAuthCramSha1, "CRAM-SHA1\ttim\t"},
  };
  for (const auto& [type, attempt] : cases) {
    SCOPED_TRACE(attempt);
    SmtpSink sink(AuthSwitches({}));
    REQUIRE_SINK(sink);
    ProbeClient client;
    AimAt(client, sink, type);
    ASSERT_TRUE(client.SyncOpen()) << client.ErrorMessage();
    EXPECT_TRUE(client.EsmtpAccepted);
    EXPECT_TRUE(client.SyncQuit());
    EXPECT_EQ(sink.AuthLog(), std::vector<std::string>{attempt + "\tok"});
  }
}

TEST(SmtpAuthSink, AutomaticChoiceFollowsTheAnnouncement) {
  struct Case {
    std::vector<std::string> excluded;
    const char* used;
  };
  const Case cases[] = {
      {{}, "CRAM-MD5"},
      {{"CRAM-MD5"}, "CRAM-SHA1"},
      {{"CRAM-MD5", "CRAM-SHA1"}, "LOGIN"},  // LOGIN and PLAIN announced
      {{"CRAM-MD5", "CRAM-SHA1", "LOGIN"}, "PLAIN"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.used);
    SmtpSink sink(AuthSwitches(c.excluded));
    REQUIRE_SINK(sink);
    ProbeClient client;
    AimAt(client, sink, smtpAuthAutoSelect);
    ASSERT_TRUE(client.SyncOpen()) << client.ErrorMessage();
    const auto log = sink.AuthLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].substr(0, log[0].find('\t')), c.used);
    EXPECT_EQ(log[0].substr(log[0].rfind('\t') + 1), "ok");
  }
}

TEST(SmtpAuthSink, WrongPassword) {
  struct Case {
    TSmtpAuthType type;
    std::vector<std::string> excluded;
    std::string error;
  };
  const std::string refused = "535 5.7.8 Authentication credentials invalid";
  const Case cases[] = {
      {smtpAuthLogin, {}, refused},
      {smtpAuthCramMD5, {}, refused},
      {smtpAuthAutoSelect,
       {"LOGIN", "CRAM-MD5", "CRAM-SHA1"},
       "500 Authentication Type could not be determined."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    SmtpSink sink(AuthSwitches(c.excluded));
    REQUIRE_SINK(sink);
    ProbeClient client;
    AimAt(client, sink, c.type, "wrong");
    EXPECT_FALSE(client.SyncOpen());
    EXPECT_EQ(client.ResultCode, 535);
    EXPECT_EQ(client.ErrorMessage(), c.error);
    ASSERT_EQ(sink.AuthLog().size(), 1u);
    EXPECT_NE(sink.AuthLog()[0].find("\trefused"), std::string::npos);
  }
}

}  // namespace
