// The SMTP client's texts without a network: reply codes, addresses, the header lines, the Date
// and the Message-ID, and the lines of the text part and of an attachment's part header.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "net/mail/smtpaddress.h"
#include "net/mail/smtpbody.h"
#include "net/mail/smtpheader.h"
#include "net/mail/smtpreply.h"
#include "tests/net/mail/smtp_support.h"

namespace {

using smtptest::Entries;
using smtptest::ScopedZone;
using smtptest::Sjis;

TEST(SmtpReplyCode, CodesContinuationsAndNonsense) {
  struct {
    const char* line;
    int code;
    bool continued;
  } rows[] = {
      {"250 OK", 250, false},
      {"220-first line", 220, true},
      {" \t\r\n354 go ahead", 354, false},
      {"+235 fine", 235, false},
      {"-250 signed", 250, false},
      {"250", 250, false},
      {"65535 highest", 65535, false},
      // A code no 16-bit field can hold, none at all, or 0 counts as 20600, never as success.
      {"65536 ok", 20600, false},
      {"99999999999999999999999 ok", 20600, false},
      {"0 zero", 20600, false},
      {"hello there", 20600, false},
      {"", 20600, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    const TSmtpReplyCode r = ReadSmtpReplyCode(row.line);
    EXPECT_EQ(r.Code, row.code);
    EXPECT_EQ(r.Continued, row.continued);
  }
}

TEST(SmtpAddress, ParseAddressSplitsNameAndAddress) {
  struct {
    const char* text;
    const char* name;
    const char* address;
  } rows[] = {
      {"yamada@example.com", "", "yamada@example.com"},
      {"Taro Yamada <taro@example.jp>", "Taro Yamada", "taro@example.jp"},
      {"\"Yamada, Taro\" <taro@example.jp>", "Yamada, Taro", "taro@example.jp"},
      {"  'Single' <s@example.jp>", "Single", "s@example.jp"},
      {"\"Quoted\" q@example.jp", "Quoted", "q@example.jp"},
      {"john doe@example.com", "john", "doe@example.com"},
      {"<only@example.jp>", "", "only@example.jp"},
      {"Open <open@example.jp", "Open", "open@example.jp"},
      {"", "", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    std::string name = "old", address = "old";
    ParseAddress(row.text, name, address);
    EXPECT_EQ(name, row.name);
    EXPECT_EQ(address, row.address);
  }
}

TEST(SmtpAddress, RecipientListsAndHeloNames) {
  struct {
    const char* text;
    std::vector<std::string> items;
  } rows[] = {
      {"a@x.jp, b@y.jp;c@z.jp", {"a@x.jp", "b@y.jp", "c@z.jp"}},
      {"\"Doe, J\" <j@x.jp>; k@y.jp", {"\"Doe, J\" <j@x.jp>", "k@y.jp"}},
      {";;  ,a@x.jp,", {"a@x.jp"}},
      {"", {}},
  };
  for (const auto& row : rows)
    EXPECT_EQ(SplitAddressList(row.text), row.items) << row.text;

  TCustomSmtpClient client;
  client.AddRecipients("a@x.jp, b@y.jp", "", "c@z.jp");
  EXPECT_EQ(Entries(client.RcptName), (std::vector<std::string>{"a@x.jp", "b@y.jp", "c@z.jp"}));

  EXPECT_EQ(SmtpHeloName("", "my host name"), "my_host_name");
  EXPECT_EQ(SmtpHeloName("sign on", "host"), "sign_on");
  EXPECT_FALSE(HasLineBreakOrNul("a@x.jp"));
  EXPECT_TRUE(HasLineBreakOrNul("a@x.jp\r\nRSET"));
  EXPECT_TRUE(HasLineBreakOrNul("a@x\n"));
  EXPECT_TRUE(HasLineBreakOrNul(std::string("a\0b", 3)));
  EXPECT_EQ(QuotedHeaderText("a\"b\\c\r\nd"), "\"a\\\"b\\\\c  d\"");
}

TSmtpHeaderFields CollectorFields() {
  TSmtpHeaderFields f;
  f.HdrFrom = "sender@example.com";
  f.HdrTo = "first@example.com";
  f.HdrSubject = "=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=";
  f.Allow8bitChars = false;
  f.CharSet = "ISO-2022-JP";
  return f;
}

std::vector<std::string> HeaderOf(const TSmtpHeaderFields& f) {
  rtl::TStringList lines;
  BuildSmtpHeaderLines(f, "DATE", "ID@host", lines);
  return Entries(lines);
}

TEST(SmtpHeader, CollectorMessageHeaderInOrder) {
  EXPECT_EQ(HeaderOf(CollectorFields()), (std::vector<std::string>{
                                             "From: sender@example.com",
                                             "To: first@example.com",
                                             "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=",
                                             "Sender: sender@example.com",
                                             "Mime-Version: 1.0",
                                             "Content-Type: text/plain; charset=\"ISO-2022-JP\"",
                                             "Date: DATE",
                                             "Message-ID: <ID@host>",
                                             "X-Mailer: Kelvadon SMTP Component V2.55",
                                         }));
}

TEST(SmtpHeader, EveryHeaderInItsPlace) {
  TSmtpHeaderFields f;
  f.HdrReplyTo = "r@x.jp";
  f.HdrReturnPath = "p@x.jp";
  f.HdrFrom = "Me <me@x.jp>";
  f.HdrTo = "a@x.jp, b@x.jp";
  f.HdrCc = "  c@x.jp  ";
  f.HdrSubject = "  Hello\r\nthere  ";
  f.HdrSender = "s@x.jp";
  f.HdrPriority = smtpPriorityHigh;
  f.ConfirmReceipt = true;
  f.MimeType = "text/html";
  f.CharSet = "utf-8";
  EXPECT_EQ(HeaderOf(f), (std::vector<std::string>{
                             "Reply-To: r@x.jp",
                             "Return-Path: p@x.jp",
                             "From: Me <me@x.jp>",
                             "To: a@x.jp, b@x.jp",
                             "Cc: c@x.jp",
                             "Subject: Hello  there",
                             "Sender: s@x.jp",
                             "Mime-Version: 1.0",
                             "Content-Type: text/html; charset=\"utf-8\"",
                             "Date: DATE",
                             "X-Priority: 2",
                             "Priority: urgent",
                             "X-MSMail-Priority: High",
                             "Message-ID: <ID@host>",
                             "Disposition-Notification-To: Me <me@x.jp>",
                             "X-Mailer: Kelvadon SMTP Component V2.55",
                         }));
}

TEST(SmtpHeader, PriorityLines) {
  struct {
    TSmtpPriority priority;
    std::vector<std::string> lines;
  } rows[] = {
      {smtpPriorityNone, {}},
      {smtpPriorityHighest, {"X-Priority: 1", "Priority: urgent", "X-MSMail-Priority: High"}},
      {smtpPriorityHigh, {"X-Priority: 2", "Priority: urgent", "X-MSMail-Priority: High"}},
      {smtpPriorityNormal, {"X-Priority: 3", "Priority: Normal", "X-MSMail-Priority: Normal"}},
      {smtpPriorityLow, {"X-Priority: 4", "Priority: non-urgent", "X-MSMail-Priority: Low"}},
      {smtpPriorityLowest, {"X-Priority: 5", "Priority: non-urgent", "X-MSMail-Priority: Low"}},
  };
  for (const auto& row : rows) {
    TSmtpHeaderFields f;
    f.HdrPriority = row.priority;
    std::vector<std::string> lines;
    for (const std::string& l : HeaderOf(f))
      if (l.find("Priority") != std::string::npos) lines.push_back(l);
    EXPECT_EQ(lines, row.lines) << row.priority;
  }
}

TEST(SmtpHeader, SubjectAndAddressRules) {
  TSmtpHeaderFields f;
  f.Allow8bitChars = false;
  f.CharSet = "ISO-2022-JP";
  // An empty subject still has its line.
  EXPECT_EQ(HeaderOf(f)[0], "Subject:");

  // Without 8-bit bytes: display names are quoted with their quotes and backslashes escaped, or
  // become encoded words when they need encoding; every item ends up "name <address>".
  rtl::TStringList lines;
  AddAddressHeader(
      f, "To:", "Taro Yamada <taro@x.jp>, \"Doe, J\" <j@x.jp>; plain@x.jp,Jo \"JJ\" O\\N <o@x.jp>",
      lines);
  EXPECT_EQ(Entries(lines), (std::vector<std::string>{
                                "To: \"Taro Yamada\" <taro@x.jp>,\"Doe, J\" <j@x.jp>,plain@x.jp,"
                                "\"Jo \\\"JJ\\\" O\\\\N\" <o@x.jp>"}));
  lines.Clear();
  AddAddressHeader(f, "To:", "\"\x1b$B;3ED\x1b(B\" <y@x.jp>", lines);
  ASSERT_EQ(lines.Count(), 1);
  EXPECT_EQ(lines[0].rfind("To: =?iso-2022-jp?Q?=1B$B=3B3ED=1B", 0), 0u) << lines[0];
  EXPECT_EQ(lines[0].substr(lines[0].size() - 11), "?= <y@x.jp>");

  // A subject that needs encoding becomes encoded words in the charset.
  f.CharSet = "Shift_JIS";
  f.HdrSubject = Sjis("テスト") + " 1";
  EXPECT_EQ(HeaderOf(f)[0], "Subject: =?shift_jis?Q?=83e=83X=83g_1?=");

  // Folding: a long list is cut at its breaks into lines of at most 76 columns.
  f.Allow8bitChars = true;
  f.FoldHeaders = true;
  lines.Clear();
  AddAddressHeader(f, "To:",
                   "first.person@example.com, second.person@example.com, "
                   "third.person@example.com, fourth.person@example.com",
                   lines);
  ASSERT_GT(lines.Count(), 1);
  EXPECT_EQ(lines[0].rfind("To: first.person@example.com,", 0), 0u);
  for (int i = 0; i < lines.Count(); ++i) {
    EXPECT_LE(lines[i].size(), 76u) << lines[i];
    if (i > 0) {
      EXPECT_EQ(lines[i][0], '\t');
    }
  }
}

TEST(SmtpHeader, DateInEnglishWithTheZoneOffset) {
  struct {
    const char* zone;
    int64_t epoch;
    const char* text;
  } rows[] = {
      {"Asia/Tokyo", 1705287845, "Mon, 15 Jan 2024 12:04:05 +0900"},
      {"America/New_York", 1705287845, "Sun, 14 Jan 2024 22:04:05 -0500"},
      {"America/New_York", 1720108809, "Thu, 4 Jul 2024 12:00:09 -0400"},
      {"Asia/Kolkata", 1705287845, "Mon, 15 Jan 2024 08:34:05 +0530"},
      {"America/St_Johns", 1705287845, "Sun, 14 Jan 2024 23:34:05 -0330"},
      {"UTC", 1705287845, "Mon, 15 Jan 2024 03:04:05 -0000"},
  };
  for (const auto& row : rows) {
    ScopedZone zone(row.zone);
    EXPECT_EQ(SmtpDateText(row.epoch * 1000000), row.text) << row.zone;
  }
  EXPECT_EQ(SmtpZoneSuffix(false, -540), "-0000");
}

TEST(SmtpHeader, MessageIdsAreWellFormedAndUnique) {
  ScopedZone zone("Asia/Tokyo");
  std::mt19937 random(7);
  const std::regex form(R"(20240115030405000\.[0-9A-F]{16}@host\.test)");
  std::set<std::string> ids;
  for (int i = 0; i < 200; ++i) {
    const std::string id = SmtpMessageId(1705287845LL * 1000000, random, "host.test");
    EXPECT_TRUE(std::regex_match(id, form)) << id;
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 200u);
}

TEST(SmtpBody, MailTextHasOnlyCrLfLineEnds) {
  rtl::TStringList lines;
  lines.Add("a");
  lines.Add("b\r\nc");
  lines.Add("d\re");
  lines.Add("f\ng");
  EXPECT_EQ(SmtpMailText(lines), "a\r\nb\r\nc\r\nd\r\ne\r\nf\r\ng\r\n");
  EXPECT_FALSE(HasLineLongerThan("x\r\n" + std::string(998, 'y') + "\r\n", 998));
  EXPECT_TRUE(HasLineLongerThan("x\r\n" + std::string(999, 'y') + "\r\n", 998));
  EXPECT_TRUE(HasLineLongerThan(std::string(999, 'y'), 998));
}

std::vector<std::string> TextLines(const std::string& text, TSmtpDefaultEncoding encoding,
                                   bool wrap = false) {
  std::vector<std::string> lines;
  int pos = 1;
  for (int guard = 0; pos > 0 && guard < 1000; ++guard)
    lines.push_back(NextTextLine(text, pos, encoding, wrap));
  return lines;
}

TEST(SmtpBody, TextLinesPerEncoding) {
  // 7bit and 8bit lines lose blanks and control bytes at their ends, but an ISO-2022-JP line keeps
  // the escape sequence it starts with.
  const std::string jis = "\x1b$B$3$s$K$A$O\x1b(B";
  EXPECT_EQ(TextLines("  a line \x01\r\n" + jis + "  \r\n\t\r\n", smtpEnc7bit),
            (std::vector<std::string>{"a line", jis, ""}));
  EXPECT_EQ(TextLines("x\r\n", smtpEnc8bit), (std::vector<std::string>{"x"}));

  // Wrapping cuts after the last break within 76 columns.
  std::string words;
  for (int i = 0; i < 30; ++i)
    words += "word" + std::to_string(i % 10) + " ";
  const std::vector<std::string> wrapped = TextLines(words + "\r\n", smtpEnc7bit, true);
  ASSERT_GT(wrapped.size(), 1u);
  std::string joined;
  for (const auto& l : wrapped) {
    EXPECT_LE(l.size(), 76u);
    joined += l + " ";
  }
  EXPECT_EQ(joined, words);

  // Quoted-printable: lines of at most 75 characters, line ends encoded, cut lines ending in "=".
  const std::vector<std::string> qp =
      TextLines("a=b\r\n" + std::string(100, 'x') + "\r\n", smtpEncQuotedPrintable);
  ASSERT_EQ(qp.size(), 2u);
  EXPECT_EQ(qp[0].rfind("a=3Db=0D=0Axxx", 0), 0u);
  EXPECT_EQ(qp[0].back(), '=');
  EXPECT_LE(qp[0].size(), 75u);
  EXPECT_EQ(qp[1].substr(qp[1].size() - 7), "=0D=0A=");

  // Base64: 76 characters a line.
  const std::vector<std::string> b64 = TextLines(std::string(100, 'z'), smtpEncBase64);
  ASSERT_EQ(b64.size(), 2u);
  EXPECT_EQ(b64[0].size(), 76u);
  EXPECT_EQ(b64[1].size(), 60u);
  EXPECT_EQ(b64[1].substr(56), "eg==");
}

TEST(SmtpBody, AttachmentNamesAndPartHeader) {
  struct {
    std::string name;
    bool allow8bit, fold;
    std::string expected;
  } rows[] = {
      {"report.log", false, false, "report.log"},
      {"say \"hi\".txt", false, false, "say \\\"hi\\\".txt"},
      {"a\\b.txt", false, false, "a\\\\b.txt"},
      {"line\r\nbreak.txt", false, false, "line  break.txt"},
      {Sjis("テスト.txt"), false, false, "=?shift_jis?Q?=83e=83X=83g=2Etxt?="},
      {Sjis("テスト.txt"), true, false, Sjis("テスト.txt")},
      {"a long file name made of many words so that it needs folding at last.txt", false, true,
       "a long file name made of many words so that it needs folding\r\n\tat last.txt"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(SmtpAttachmentName(row.name, row.allow8bit, row.fold, 'Q', "Shift_JIS"), row.expected)
        << row.name;

  rtl::TStringList lines;
  AddAttachmentPartHeader("= B", "application/octet-stream", "day.log", lines);
  EXPECT_EQ(Entries(lines), (std::vector<std::string>{
                                "--= B",
                                "Content-Type: application/octet-stream;",
                                "\tname=\"day.log\"",
                                "Content-Transfer-Encoding: base64",
                                "Content-Disposition: attachment;",
                                "\tfilename=\"day.log\"",
                            }));
}

}  // namespace
