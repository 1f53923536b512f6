// Messages the SMTP client composes, sent to a scripted server and read back by Python's email
// package: the collector's Japanese mail, Date and Message-ID, attachments of every size and name,
// and the text part's transfer encodings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "net/mail/jcode.h"
#include "tests/net/mail/smtp_fake.h"
#include "tests/net/mail/smtp_support.h"
#include "tests/support/files.h"
#include "tests/support/mail_reader.h"

namespace {

using net::mail::ConvertJCode;
using net::mail::EncodeMimeHeaderJis;
using net::mail::jcJis;
using smtptest::FakeSmtpServer;
using smtptest::ProbeClient;
using smtptest::ScopedClock;
using smtptest::ScopedZone;
using smtptest::Sjis;
using testsupport::InspectWithPython;

// A client set up as the collector's SmtpWatch, aimed at a scripted server.
struct Composer {
  FakeSmtpServer fake;
  ProbeClient client;

  Composer() {
    client.Host = "127.0.0.1";
    client.Port = fake.Port();
    client.CharSet = "ISO-2022-JP";
    client.Allow8bitChars = false;
    client.Timeout = 10;
    client.FromName = "kelvadon@example.jp";
    client.HdrFrom = "kelvadon@example.jp";
    client.HdrTo = "admin@example.jp";
    client.RcptName.Add("admin@example.jp");
  }
  // Sends the message and returns it as the server got it, dot-stuffing undone.
  std::string Send() {
    if (!client.IsConnected) {
      EXPECT_TRUE(client.SyncOpen()) << client.ErrorMessage();
    }
    EXPECT_TRUE(client.SyncMail()) << client.ErrorMessage();
    return smtptest::Unstuffed(fake.Data);
  }
};

size_t LongestLine(const std::string& data) {
  size_t longest = 0, start = 0;
  while (start < data.size()) {
    size_t end = data.find("\r\n", start);
    if (end == std::string::npos) end = data.size();
    longest = std::max(longest, end - start);
    start = end + 2;
  }
  return longest;
}

TEST(SmtpCompose, CollectorMailReadsBackInJapanese) {
  Composer c;
  c.client.HdrTo = "\"" + ConvertJCode(Sjis("管理者"), jcJis) + "\" <admin@example.jp>";
  c.client.HdrSubject = EncodeMimeHeaderJis(Sjis("Kelvadon 警告ＵＳＢ検出"));
  const std::vector<std::string> body = {"ＵＳＢメモリの使用を検出しました。",
                                         "ホスト名: PC-01 (192.168.1.5)", "",
                                         "以上、ご確認ください。"};
  std::string expected;
  for (const auto& line : body) {
    c.client.MailMessage.Add(ConvertJCode(Sjis(line), jcJis));
    expected += line + "\r\n";
  }
  const std::string data = c.Send();
  EXPECT_NE(data.find("=1B$B"), std::string::npos);  // the escape byte, quoted-printable
  EXPECT_LE(LongestLine(data), 76u);

  const auto mail = InspectWithPython(data);
  ASSERT_TRUE(mail.ok) << mail.error;
  EXPECT_EQ(mail["headers"],
            "From,To,Subject,Sender,Mime-Version,Content-Type,Content-Transfer-Encoding,Date,"
            "Message-ID,X-Mailer");
  EXPECT_EQ(mail["defects"], "");
  EXPECT_EQ(mail["Subject"], "Kelvadon 警告ＵＳＢ検出");
  EXPECT_EQ(mail["To.0.name"], "管理者");
  EXPECT_EQ(mail["To.0.addr"], "admin@example.jp");
  EXPECT_EQ(mail["From.0.addr"], "kelvadon@example.jp");
  EXPECT_EQ(mail["Sender"], "kelvadon@example.jp");
  EXPECT_EQ(mail["X-Mailer"], "Kelvadon SMTP Component V2.55");
  EXPECT_EQ(mail["type"], "text/plain");
  EXPECT_EQ(mail["part.0.cte"], "quoted-printable");
  EXPECT_EQ(mail["part.0.text"], expected);
}

TEST(SmtpCompose, DateAndMessageIdReadBack) {
  struct {
    const char* zone;
    std::string offset;
  } rows[] = {{"Asia/Tokyo", "540"}, {"America/New_York", "-300"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.zone);
    ScopedZone zone(row.zone);
    ScopedClock clock(1705287845);  // 2024-01-15 03:04:05 UTC
    Composer c;
    std::vector<std::string> ids;
    for (int i = 0; i < 2; ++i) {
      const auto mail = InspectWithPython(c.Send());
      ASSERT_TRUE(mail.ok) << mail.error;
      EXPECT_EQ(mail["Date.offset"], row.offset);
      EXPECT_EQ(mail["Date.utc"], "2024-01-15T03:04:05");
      const std::string id = mail["Message-ID"];
      EXPECT_TRUE(std::regex_match(id, std::regex(R"(<20240115030405000\.[0-9A-F]{16}@.+>)")))
          << id;
      EXPECT_EQ(id, "<" + c.client.MessageIdText() + ">");
      ids.push_back(id);
    }
    EXPECT_NE(ids[0], ids[1]);
  }
}

// count bytes that take every value, in an order that shows shifted or lost bytes.
std::string Binary(size_t count) {
  std::string s;
  for (size_t i = 0; i < count; ++i)
    s += static_cast<char>((i * 7 + i / 256) & 0xFF);
  return s;
}

TEST(SmtpCompose, AttachmentsDecodeToTheirBytes) {
  testsupport::TempDir dir("smtpfiles");
  Composer c;
  c.client.MailMessage.Add("See the files.");
  const size_t sizes[] = {0, 54 * 3, 54 * 3 + 1, 54 * 40 + 53};
  for (size_t size : sizes)
    c.client.EmailFiles.Add(dir.Write("file" + std::to_string(size) + ".bin", Binary(size)));
  const std::string data = c.Send();
  const std::string boundary = c.client.Boundary;
  EXPECT_EQ(boundary.rfind("= Multipart Boundary ", 0), 0u);
  EXPECT_EQ(data.substr(data.size() - boundary.size() - 6), "--" + boundary + "--\r\n");
  EXPECT_LE(LongestLine(data), 76u);

  const auto mail = InspectWithPython(data);
  ASSERT_TRUE(mail.ok) << mail.error;
  EXPECT_EQ(mail["defects"], "");
  EXPECT_EQ(mail["type"], "multipart/mixed");
  ASSERT_EQ(mail["parts"], "5");
  EXPECT_EQ(mail["part.0.text"], "See the files.\r\n");
  for (size_t i = 0; i < std::size(sizes); ++i) {
    const std::string part = "part." + std::to_string(i + 1);
    SCOPED_TRACE(part);
    EXPECT_EQ(mail[part + ".filename"], "file" + std::to_string(sizes[i]) + ".bin");
    EXPECT_EQ(mail[part + ".type"], "application/octet-stream");
    EXPECT_EQ(mail[part + ".cte"], "base64");
    EXPECT_EQ(mail[part + ".bytes"], Binary(sizes[i]));
  }
}

TEST(SmtpCompose, AttachmentNamesAndSkippedFiles) {
  struct Row {
    const char* what;
    std::vector<std::string> files;  // UTF-8 names
    std::string charSet;
    int skip;  // index refused by OnBeforeFileOpen, -1 for none
    std::vector<std::pair<std::string, std::string>> parts;  // (name, type) read back
  } rows[] = {
      {"a double quote and a backslash",
       {"say \"hi\" \\ bye.log"},
       "ISO-2022-JP",
       -1,
       {{"say \"hi\" \\ bye.log", "application/octet-stream"}}},
      {"a Japanese name", {"報告書.txt"}, "Shift_JIS", -1, {{"報告書.txt", "text/plain"}}},
      {"the last file skipped",
       {"kept.log", "skipped.log"},
       "ISO-2022-JP",
       1,
       {{"kept.log", "application/octet-stream"}}},
      {"the only file skipped", {"skipped.log"}, "ISO-2022-JP", 0, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    testsupport::TempDir dir("smtpfiles");
    Composer c;
    c.client.CharSet = row.charSet;
    c.client.MailMessage.Add("Files.");
    for (const auto& name : row.files)
      c.client.EmailFiles.Add(dir.Write(Sjis(name), "content of " + name));
    c.client.OnBeforeFileOpen = [&](rtl::TObject*, int32_t index, const std::string&,
                                    TSmtpBeforeOpenFileAction& action) {
      if (index == row.skip) action = bofaSkip;
    };
    const std::string data = c.Send();
    EXPECT_EQ(data.substr(data.size() - c.client.Boundary.size() - 6),
              "--" + c.client.Boundary + "--\r\n");
    const auto mail = InspectWithPython(data);
    ASSERT_TRUE(mail.ok) << mail.error;
    EXPECT_EQ(mail["defects"], "");
    ASSERT_EQ(mail["parts"], std::to_string(row.parts.size() + 1));
    for (size_t i = 0; i < row.parts.size(); ++i) {
      const std::string part = "part." + std::to_string(i + 1);
      EXPECT_EQ(mail[part + ".filename"], row.parts[i].first);
      EXPECT_EQ(mail[part + ".type"], row.parts[i].second);
      EXPECT_EQ(mail[part + ".bytes"], "content of " + row.parts[i].first);
    }
  }
}

TEST(SmtpCompose, TextPartEncodings) {
  const std::string jis = ConvertJCode(Sjis("日本語の行です"), jcJis);
  struct Row {
    const char* what;
    std::vector<std::string> lines;
    bool allow8bit;
    std::string cte;     // the part's Content-Transfer-Encoding as Python reads it
    std::string onWire;  // a line the data must hold
    std::string text;    // the decoded text (UTF-8)
  } rows[] = {
      {"a line of 998 bytes stays 7bit",
       {std::string(998, 'a')},
       true,
       "",
       std::string(998, 'a'),
       std::string(998, 'a') + "\r\n"},
      {"a line of 1200 bytes goes quoted-printable",
       {"short", std::string(1200, 'b')},
       true,
       "quoted-printable",
       "short=0D=0Abbbb",
       "short\r\n" + std::string(1200, 'b') + "\r\n"},
      {"a JIS line keeps its escape in 7bit",
       {jis, "  next  "},
       true,
       "",
       "\r\n" + jis + "\r\n",
       "日本語の行です\r\nnext\r\n"},
      {"JIS without 8-bit bytes goes quoted-printable",
       {jis},
       false,
       "quoted-printable",
       "=1B$BF|K",
       "日本語の行です\r\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Composer c;
    c.client.Allow8bitChars = row.allow8bit;
    for (const auto& l : row.lines)
      c.client.MailMessage.Add(l);
    const std::string data = c.Send();
    EXPECT_NE(data.find(row.onWire), std::string::npos);
    EXPECT_LE(LongestLine(data), 998u);
    const auto mail = InspectWithPython(data);
    ASSERT_TRUE(mail.ok) << mail.error;
    EXPECT_EQ(mail["part.0.cte"], row.cte);
    EXPECT_EQ(mail["part.0.text"], row.text);
    EXPECT_EQ(mail["defects"], "");
  }
}

TEST(SmtpCompose, HeaderHooksAndPriority) {
  Composer c;
  c.client.HdrPriority = smtpPriorityLow;
  c.client.ConfirmReceipt = true;
  c.client.OnProcessHeader = [](rtl::TObject*, rtl::TStringList& lines) {
    lines.Add("X-Collector: PC-01");
  };
  c.client.OnHeaderLine = [](rtl::TObject*, char* line, int32_t size) {
    if (std::string(line) == "Mime-Version: 1.0") std::snprintf(line, size, "MIME-Version: 1.0");
  };
  const auto mail = InspectWithPython(c.Send());
  ASSERT_TRUE(mail.ok) << mail.error;
  EXPECT_EQ(mail["headers"],
            "From,To,Subject,Sender,MIME-Version,Content-Type,Date,X-Priority,Priority,X-MSMail-"
            "Priority,Message-ID,Disposition-Notification-To,"
            "X-Mailer,X-Collector");
  EXPECT_EQ(mail["X-Priority"], "4");
  EXPECT_EQ(mail["Priority"], "non-urgent");
  EXPECT_EQ(mail["Disposition-Notification-To"], "kelvadon@example.jp");
  EXPECT_EQ(mail["X-Collector"], "PC-01");
}

}  // namespace
