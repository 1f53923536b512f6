// The POP3 client's building blocks on their own: the command table and its line builder, the
// reply readers, the APOP and CRAM answers, header scanning and the receive buffer's line cutting.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "net/mail/mime.h"
#include "net/mail/pop3commands.h"
#include "net/mail/pop3headers.h"
#include "net/mail/pop3lines.h"
#include "net/mail/pop3reply.h"

namespace net::mail {
namespace {

TEST(Pop3CommandTable, LinesStatesAndOutcomes) {
  TPop3Arguments args;
  args.UserName = " alice \t";
  args.PassWord = "\tsecret ";
  args.Digest = "c4c9334bac560ecc979e58001b3e22fb";
  args.Mechanism = "CRAM-MD5";
  args.MsgNum = 7;
  args.MsgLines = 0;
  struct Row {
    TPop3Request rq;
    std::string line;
    TPop3Allowed allowed;
    int newState;
  } rows[] = {
      {rqUser, "USER alice", TPop3Allowed::UpToWaitingUser, pop3WaitingPass},
      {rqPass, "PASS secret", TPop3Allowed::UpToWaitingPass, pop3Transaction},
      {rqRpop, "RPOP secret", TPop3Allowed::UpToWaitingPass, pop3Transaction},
      {rqApop, "APOP alice c4c9334bac560ecc979e58001b3e22fb", TPop3Allowed::WaitingUser,
       pop3Transaction},
      {rqAuth, "AUTH CRAM-MD5", TPop3Allowed::UpToWaitingUser, pop3WaitingUser},
      {rqQuit, "QUIT", TPop3Allowed::Always, pop3Disconnected},
      {rqStat, "STAT", TPop3Allowed::Transaction, kPop3StateUnchanged},
      {rqList, "LIST 7", TPop3Allowed::Transaction, kPop3StateUnchanged},
      {rqUidl, "UIDL 7", TPop3Allowed::Transaction, kPop3StateUnchanged},
      {rqRetr, "RETR 7", TPop3Allowed::Transaction, kPop3StateUnchanged},
      {rqTop, "TOP 7 0", TPop3Allowed::Transaction, kPop3StateUnchanged},
      {rqDele, "DELE 7", TPop3Allowed::Transaction, kPop3StateUnchanged},
      {rqNoop, "NOOP", TPop3Allowed::Transaction, kPop3StateUnchanged},
      {rqRset, "RSET", TPop3Allowed::Transaction, kPop3StateUnchanged},
      {rqLast, "LAST", TPop3Allowed::Transaction, kPop3StateUnchanged},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    const TPop3CommandEntry& entry = Pop3Command(row.rq);
    EXPECT_EQ(entry.Request, row.rq);
    EXPECT_EQ(Pop3CommandLine(entry, args), row.line);
    EXPECT_EQ(entry.Allowed, row.allowed);
    EXPECT_EQ(entry.NewState, row.newState);
  }
  EXPECT_THROW(Pop3Command(rqLogin), Pop3Exception);

  // LIST and UIDL name a message only when MsgNum is above 0.
  args.MsgNum = 0;
  EXPECT_EQ(Pop3CommandLine(Pop3Command(rqList), args), "LIST");
  EXPECT_EQ(Pop3CommandLine(Pop3Command(rqUidl), args), "UIDL");
  args.MsgNum = -3;
  EXPECT_EQ(Pop3CommandLine(Pop3Command(rqUidl), args), "UIDL");
  EXPECT_EQ(Pop3CommandLine(Pop3Command(rqRetr), args), "RETR -3");
}

TEST(Pop3CommandTable, WhichProtocolStatesAllowWhat) {
  const TPop3ProtocolState states[] = {pop3Disconnected, pop3WaitingUser, pop3WaitingPass,
                                       pop3Transaction};
  struct Row {
    TPop3Allowed allowed;
    bool in[4];
  } rows[] = {
      {TPop3Allowed::Always, {true, true, true, true}},
      {TPop3Allowed::UpToWaitingUser, {true, true, false, false}},
      {TPop3Allowed::UpToWaitingPass, {true, true, true, false}},
      {TPop3Allowed::WaitingUser, {false, true, false, false}},
      {TPop3Allowed::Transaction, {false, false, false, true}},
  };
  for (const Row& row : rows)
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(Pop3Allows(row.allowed, states[i]), row.in[i])
          << "rule " << static_cast<int>(row.allowed) << ", state " << i;
}

TEST(Pop3CommandTable, LinesWithALineEndOrNulAreUnsafe) {
  EXPECT_TRUE(Pop3LineIsSafe("USER alice"));
  EXPECT_FALSE(Pop3LineIsSafe("USER bob\rPASS x"));
  EXPECT_FALSE(Pop3LineIsSafe("USER bob\nPASS x"));
  EXPECT_FALSE(Pop3LineIsSafe(std::string("USER bo\0b", 9)));
  // Trimming takes line ends at either end away before the check.
  TPop3Arguments args;
  args.UserName = "alice\r\n";
  EXPECT_EQ(Pop3CommandLine(Pop3Command(rqUser), args), "USER alice");
}

TEST(Pop3CommandTable, StepsRunInTheirFixedOrder) {
  std::vector<int> order;
  for (TPop3Step s : kPop3StepOrder)
    order.push_back(s);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 12, 13, 8, 14, 6, 10, 11, 7, 9, 15, 5}));
  EXPECT_EQ(Pop3Step(pop3StepQuit), 1u << 5);
}

TEST(Pop3Reply, NumberReaders) {
  EXPECT_TRUE(Pop3Positive("+OK"));
  EXPECT_TRUE(Pop3Positive("+"));
  EXPECT_FALSE(Pop3Positive(""));
  EXPECT_FALSE(Pop3Positive("-ERR +OK"));
  EXPECT_FALSE(Pop3Positive(" +OK"));

  EXPECT_EQ(Pop3ReadNumber(" \t\r\n42x"), 42);
  EXPECT_EQ(Pop3ReadNumber("x42"), 0);
  EXPECT_EQ(Pop3ReadNumber("2147483647"), 2147483647);
  EXPECT_EQ(Pop3ReadNumber("2147483648"), 2147483647);
  EXPECT_EQ(Pop3ReadNumber("99999999999999999999999"), 2147483647);

  struct Row {
    const char* text;
    bool ok;
    int first, second;
  } rows[] = {
      {"+OK 2 320", true, 2, 320},
      {"1 120", true, 1, 120},
      {"+OK 99999999999 99999999999", true, 2147483647, 2147483647},
      {"+OK 3 messages (6375 octets)", true, 3, 0},  // a word where the size should be
      {"+OK\t4\t\t55 extra", true, 4, 55},
      {"+OK 5", false, 0, 0},  // LAST's one number
      {"+OK 5 ", false, 0, 0},
      {"+OK", false, 0, 0},
      {"", false, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    int a = -1, b = -1;
    EXPECT_EQ(Pop3TwoNumbers(row.text, a, b), row.ok);
    EXPECT_EQ(a, row.first);
    EXPECT_EQ(b, row.second);
  }
}

TEST(Pop3Reply, NumberAndId) {
  struct Row {
    const char* text;
    bool ok;
    int number;
    const char* id;
  } rows[] = {
      {"+OK 2 QhdPYR:00WBw1Ph7x7", true, 2, "QhdPYR:00WBw1Ph7x7"},
      {"1 whqtswO00WBw418f9t5JxYwZ", true, 1, "whqtswO00WBw418f9t5JxYwZ"},
      {"3   id\twith tab", true, 3, "id"},
      {"4\tid", true, 4, ""},  // only blanks separate
      {"5", true, 5, ""},
      {"+OK no numbers", false, 0, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    int n = -1;
    std::string id = "old";
    EXPECT_EQ(Pop3NumberAndId(row.text, n, id), row.ok);
    EXPECT_EQ(n, row.number);
    EXPECT_EQ(id, row.id);
  }
}

TEST(Pop3Reply, GreetingTimestamp) {
  struct Row {
    const char* greeting;
    const char* timestamp;
  } rows[] = {
      {"+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>",
       "<1896.697170952@dbc.mtview.ca.us>"},
      {"+OK hello <a@b> and <c@d> more", "<a@b>"},
      {"+OK > before <x> after", "<x>"},
      {"+OK no timestamp", ""},
      {"+OK open < but never closed", ""},
  };
  for (const Row& row : rows)
    EXPECT_EQ(Pop3GreetingTimestamp(row.greeting), row.timestamp) << row.greeting;
}

TEST(Pop3Reply, ApopAndCramAnswers) {
  // RFC 1939's example.
  EXPECT_EQ(Pop3ApopDigest("<1896.697170952@dbc.mtview.ca.us>", "tanstaaf"),
            "c4c9334bac560ecc979e58001b3e22fb");
  // The password is taken as it is, blanks included.
  EXPECT_NE(Pop3ApopDigest("<1896.697170952@dbc.mtview.ca.us>", "tanstaaf "),
            "c4c9334bac560ecc979e58001b3e22fb");
  // RFC 2195's CRAM-MD5 example.
  const std::string challenge =
      "+ " + MimeBase64Encode("<1896.697170952@postoffice.reston.mci.net>");
  EXPECT_EQ(Pop3CramAnswer(TPop3Cram::Md5, challenge, "tim", "tanstaaftanstaaf"),
            "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw");
  // RFC 2202's second HMAC-SHA1 case as a challenge.
  EXPECT_EQ(
      MimeBase64Decode(Pop3CramAnswer(
          TPop3Cram::Sha1, "+ " + MimeBase64Encode("what do ya want for nothing?"), "tim", "Jefe")),
      "tim effcdf6ae5eb2fa2d27416d5f184df9c259a7c79");
}

TEST(Pop3Headers, FieldsFromHeaderLines) {
  TPop3HeaderFields f;
  f.HeaderSubject = "left from before";
  TPop3HeaderScanner s;
  s.Start();
  f.ClearHeaderFields();
  const std::vector<std::string> header = {
      "From: Sender <s@example.com>",
      "TO:to@example.com",
      "Subject: a",
      " b",
      "\tc",
      "X-Other: ignored",
      " and its continuation too",
      "no colon here",
      "Cc  : one@example.com",
      "cc: two@example.com",
      "Date: Mon, 1 Jan 2024 10:00:00 +0900",
      "Message-ID: <m@x>",
      "Reply-To: r@x",
      "In-Reply-To: <p@x>",
      "Return-Path: <rp@x>",
  };
  for (const std::string& line : header)
    EXPECT_FALSE(s.Scan(line, f)) << line;
  EXPECT_TRUE(s.InHeader());
  EXPECT_TRUE(s.Scan("", f));
  EXPECT_FALSE(s.InHeader());
  EXPECT_EQ(f.HeaderFrom, "Sender <s@example.com>");
  EXPECT_EQ(f.HeaderTo, "to@example.com");
  EXPECT_EQ(f.HeaderSubject, "abc");
  EXPECT_EQ(f.HeaderCc, "one@example.comtwo@example.com");
  EXPECT_EQ(f.HeaderDate, "Mon, 1 Jan 2024 10:00:00 +0900");
  EXPECT_EQ(f.HeaderMessageId, "<m@x>");
  EXPECT_EQ(f.HeaderReplyTo, "r@x");
  EXPECT_EQ(f.HeaderInReplyTo, "<p@x>");
  EXPECT_EQ(f.HeaderReturnPath, "<rp@x>");
}

// However many lines a field is made of, it keeps at most 10000 bytes.
TEST(Pop3Headers, FieldsStayWithinTheirLimit) {
  TPop3HeaderFields f;
  TPop3HeaderScanner s;
  s.Start();
  s.Scan("Subject: " + std::string(12000, 's'), f);
  EXPECT_EQ(f.HeaderSubject.size(), 10000u);
  s.Scan("Cc: " + std::string(6000, 'a'), f);
  for (int i = 0; i < 100; ++i) {
    s.Scan("Cc: " + std::string(6000, 'b'), f);
    s.Scan(" " + std::string(6000, 'c'), f);
  }
  EXPECT_EQ(f.HeaderCc, std::string(6000, 'a') + std::string(4000, 'b'));
}

// Feeds bytes in reads of at most chunk bytes and collects the lines, continuations marked "+".
std::vector<std::string> Split(const std::string& bytes, size_t chunk) {
  TPop3LineSplitter sp;
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < bytes.size()) {
    const size_t n = std::min({chunk, bytes.size() - pos, static_cast<size_t>(sp.Room())});
    std::copy_n(bytes.data() + pos, n, sp.WritePos());
    sp.Commit(static_cast<int>(n));
    pos += n;
    std::string line;
    bool cont = false;
    while (sp.NextLine(line, cont))
      out.push_back((cont ? "+" : "") + line);
  }
  EXPECT_LT(sp.Held(), kPop3LineCut);
  return out;
}

TEST(Pop3Lines, LineEndsAndCuts) {
  const std::string a4093(4093, 'a'), a4092(4092, 'a');
  struct Row {
    const char* name;
    std::string bytes;
    std::vector<std::string> lines;
  } rows[] = {
      {"CR LF and LF", "one\r\ntwo\nthree\r\n", {"one", "two", "three"}},
      {"empty lines", "\r\n\n.\r\n", {"", "", "."}},
      {"a lone CR stays", "a\rb\r\n", {"a\rb"}},
      {"no end yet", "partial", {}},
      {"4093 bytes fit", a4093 + "\r\nnext\r\n", {a4093, "next"}},
      {"4093 bytes, LF only", a4093 + "\nnext\n", {a4093, "next"}},
      {"4094 bytes ending in a dot", a4093 + ".\r\n.\r\n", {a4093, "+.", "."}},
      {"9000 bytes",
       std::string(9000, 'b') + "\r\n",
       {std::string(4093, 'b'), "+" + std::string(4093, 'b'), "+" + std::string(814, 'b')}},
      {"CR at the cut", a4092 + "\r\nnext\r\n", {a4092, "next"}},
      {"CR at the cut, not a line end", a4092 + "\rX\r\n", {a4092, "+\rX"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    for (size_t chunk : {size_t{1}, size_t{7}, size_t{4096}}) {
      SCOPED_TRACE(chunk);
      EXPECT_EQ(Split(row.bytes, chunk), row.lines);
    }
  }
}

}  // namespace
}  // namespace net::mail
