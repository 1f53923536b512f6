#include "net/mail/mime.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <sstream>

#include "net/mail/jcode.h"
#include "rtl/cp932.h"
#include "tests/net/mail/tool.h"
#include "tests/support/files.h"

namespace net::mail {
namespace {

using testing::DecodeWithPython;
using testing::PythonPath;
using testsupport::TempDir;

// The specials of encoded words in header values.
const TCharSet kHdrSpecials = CharSetOf("\"(),.:;<>@[\\]");

TEST(ContentTypeOfFile, ByExtensionIgnoringCase) {
  const std::pair<const char*, const char*> cases[] = {
      {"index.HTM", "text/html"},
      {"index.html", "text/html"},
      {"a.Gif", "image/gif"},
      {"a.bmp", "image/bmp"},
      {"photo.JPG", "image/jpeg"},
      {"photo.jpeg", "image/jpeg"},
      {"/tmp/readme.txt", "text/plain"},
      {"RecvData/20240101.log", "application/octet-stream"},
      {"noextension", "application/octet-stream"},
      {"/some.txt/noextension", "application/octet-stream"},
      {"archive.txt.gz", "application/octet-stream"},
      {"name.", "application/octet-stream"},
  };
  for (const auto& [name, type] : cases)
    EXPECT_EQ(ContentTypeOfFile(name), type) << name;
}

TEST(MimeBase64, EncodeSpanCutsAtMaxCol) {
  std::string bytes;
  for (int i = 0; i < 100; ++i)
    bytes += static_cast<char>(i * 7);
  int pos = 1;
  std::string all;
  std::vector<size_t> sizes;
  for (int guard = 0; guard < 10 && pos <= static_cast<int>(bytes.size()); ++guard) {
    std::string span = MimeBase64EncodeSpan(bytes, 76, pos);
    sizes.push_back(span.size());
    all += span;
  }
  EXPECT_EQ(sizes, (std::vector<size_t>{76, 60}));
  EXPECT_EQ(all, MimeBase64Encode(bytes));
  EXPECT_GT(pos, 100);
}

TEST(MimeBase64, DecodeSkipsLineBreaksAndReadsShortTails) {
  const std::pair<const char*, const char*> cases[] = {
      {"Zm9v\r\nYmFy\r\n", "foobar"},
      {"\r\n\r\nZg==", "f"},
      {"Zm9vYg", "foob"},
      {"Zm9vYmE", "fooba"},
      {"Zm9vY", "foo"},
      {"Zg\r\nZm8\r\n", "ffo"},
      {"", ""},
  };
  for (const auto& [text, bytes] : cases)
    EXPECT_EQ(MimeBase64Decode(text), bytes) << text;
  // Characters outside the alphabet are read, never reported; at most 3 bytes per 4.
  EXPECT_EQ(MimeBase64Decode("\xff\x80\x01~").size(), 3u);
}

// Reads a whole stream with Base64StreamLine; returns the lines.
std::vector<std::string> StreamLines(std::istream& in) {
  std::vector<std::string> lines;
  bool more = true;
  for (int guard = 0; more && guard < 10000; ++guard)
    lines.push_back(Base64StreamLine(in, more));
  EXPECT_FALSE(more);
  return lines;
}

TEST(Base64StreamLine, LinesOf72AndTheEmptyLastLine) {
  for (size_t size : {0, 1, 2, 3, 53, 54, 55, 107, 108, 109, 1000}) {
    SCOPED_TRACE(size);
    std::string data;
    for (size_t i = 0; i < size; ++i)
      data += static_cast<char>(i * 31 + 5);
    std::istringstream in(data);
    std::vector<std::string> lines = StreamLines(in);
    ASSERT_EQ(lines.size(), size / 54 + 1);
    std::string all;
    for (size_t i = 0; i < lines.size(); ++i) {
      if (i + 1 < lines.size()) {
        EXPECT_EQ(lines[i].size(), 72u);
      }
      all += lines[i];
    }
    EXPECT_EQ(lines.back().empty(), size % 54 == 0);
    EXPECT_EQ(all, MimeBase64Encode(data));
  }
}

TEST(AttachmentStream, FileIsReadAndFreed) {
  TempDir dir;
  std::string data(200, '\0');
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>(255 - i);
  auto path = dir.Write("a.bin", data);
  std::unique_ptr<std::istream> stream = OpenAttachmentStream(path, fmOpenRead | fmShareDenyWrite);
  ASSERT_TRUE(stream);
  std::string all;
  for (const auto& line : StreamLines(*stream))
    all += line;
  EXPECT_EQ(MimeBase64Decode(all), data);
  CloseAttachmentStream(stream);
  EXPECT_EQ(stream, nullptr);
  CloseAttachmentStream(stream);  // nothing to free
}

TEST(AttachmentStream, MissingFileOrFolderRaisesEFOpenError) {
  TempDir dir;
  for (std::string name : {dir.File("missing.txt"), dir.path()}) {
    try {
      OpenAttachmentStream(name, fmOpenRead);
      ADD_FAILURE() << "opened " << name;
    } catch (const rtl::Exception& e) {
      EXPECT_STREQ(e.ClassName(), "EFOpenError");
      EXPECT_EQ(e.Message.rfind("Cannot open file \"" + name + "\". ", 0), 0u) << e.Message;
    }
  }
}

// The reason is the system's own text; a symbolic link to a file is followed like any name.
TEST(AttachmentStream, OpenErrorTextsAndLinks) {
  TempDir dir;
  const std::string file = dir.Write("a.txt", "abc");
  std::filesystem::create_symlink(file, dir.File("link"));
  std::filesystem::create_directory_symlink(dir.path(), dir.File("folderlink"));
  const struct {
    std::string name;
    std::string reason;  // "" when it opens
  } cases[] = {
      {dir.File("missing.txt"), "No such file or directory"},
      {dir.path(), "Is a directory"},
      {dir.File("folderlink"), "Is a directory"},
      {file + "/x", "Not a directory"},
      {dir.File("link"), ""},
  };
  for (const auto& c : cases) {
    try {
      std::unique_ptr<std::istream> stream = OpenAttachmentStream(c.name, fmOpenRead);
      EXPECT_EQ(c.reason, "") << c.name << " opened";
      bool more;
      EXPECT_EQ(Base64StreamLine(*stream, more), MimeBase64Encode("abc"));
    } catch (const EFOpenError& e) {
      EXPECT_EQ(e.Message, "Cannot open file \"" + c.name + "\". " + c.reason);
    }
  }
}

// A file that opens but cannot be read (the process's own memory at address 0) ends the lines
// with EReadError instead of passing for the end of the data.
TEST(AttachmentStream, ReadErrorRaisesEReadError) {
  std::unique_ptr<std::istream> stream;
  try {
    stream = OpenAttachmentStream("/proc/self/mem", fmOpenRead);
  } catch (const rtl::Exception& e) {
    GTEST_SKIP() << "no /proc/self/mem here: " << e.Message;
  }
  bool more = true;
  try {
    Base64StreamLine(*stream, more);
    ADD_FAILURE() << "read error not reported";
  } catch (const rtl::Exception& e) {
    EXPECT_STREQ(e.ClassName(), "EReadError");
    EXPECT_EQ(e.Message, "Stream read error");
  }
}

struct PieceCase {
  std::string text;
  std::string delimiter;
  std::string breaks;
  std::string quotes;
  int maxLen;
  std::vector<std::string> pieces;
};

TEST(NextPiece, CutsAtTheLastBreakWithinMaxLen) {
  const PieceCase cases[] = {
      // Address lists: width 1, so every break outside quotes ends an item.
      {"\"a, b\" <x@y>, c@d; e@f", "\r\n", ",;", "\"'", 1, {"\"a, b\" <x@y>,", " c@d;", " e@f"}},
      {"abc\r\n\tdef", "\r\n\t", " ", "", 76, {"abc", "def"}},
      {"abc\r\n", "\r\n", "", "", 76, {"abc"}},
      {"abXyCD", "xY", "", "", 76, {"ab", "CD"}},
      {"a\r\nb", "", "", "", 76, {"a\r\nb"}},
      // The trail byte 0x5C of a double-byte character is no break.
      {"\x83\x5c"
       "a\\b",
       "",
       "\\",
       "",
       1,
       {"\x83\x5c"
        "a\\",
        "b"}},
      {"aaaa bbbb cccc", "", " ", "", 10, {"aaaa bbbb ", "cccc"}},
      {"aaaa bbbb", "", " ", "", 9, {"aaaa bbbb"}},
      {"aaaa bbbbb", "", " ", "", 9, {"aaaa ", "bbbbb"}},
      {"abcdefgh ij", "", " ", "", 4, {"abcdefgh ", "ij"}},
      {"\"a b c\" d", "", " ", "\"", 2, {"\"a b c\" ", "d"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<std::string> pieces;
    int pos = 1;
    for (int guard = 0; guard < 100 && pos <= static_cast<int>(c.text.size()); ++guard)
      pieces.push_back(
          NextPiece(c.text, c.delimiter, CharSetOf(c.breaks), pos, CharSetOf(c.quotes), c.maxLen));
    EXPECT_EQ(pieces, c.pieces);
  }
}

TEST(NextPiece, RestOfTextEndsWithTheLargestPos) {
  int pos = 3;
  EXPECT_EQ(NextPiece("ab cd", "\r\n", CharSetOf(" "), pos, TCharSet(), 76), " cd");
  EXPECT_EQ(pos, INT_MAX);
  EXPECT_EQ(NextPiece("ab cd", "\r\n", CharSetOf(" "), pos, TCharSet(), 76), "");
  EXPECT_EQ(pos, INT_MAX);
  // A lead byte that is the last byte of the text.
  pos = 1;
  EXPECT_EQ(NextPiece("ab\x83", "", TCharSet(), pos, TCharSet(), 1), "ab\x83");
}

TEST(NeedsEncoding, AnyByteOutsidePrintableAsciiAndLineControls) {
  const std::pair<std::string, bool> cases[] = {
      {"", false},
      {"plain text ~\t\r\n", false},
      {"\x1b$B%+\x1b(B", true},
      {"del\x7f", true},
      {"\x83\x41", true},
      {std::string(1, '\0'), true},
      {"bell\x07", true},
      {"\xb1", true},
  };
  for (const auto& [text, needs] : cases)
    EXPECT_EQ(NeedsEncoding(text), needs) << text;
}

TEST(QpEncodeSpan, SoftBreaksAndEncodedBytes) {
  struct Case {
    std::string text;
    int maxLen;
    std::string specials;
    bool fold;
    bool underscore;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"abcdefghijkl", 10, "", true, false, {"abcdefghi=", "jkl"}},
      {"aaaaaa\x01", 10, "", true, false, {"aaaaaa=01"}},
      {"aaaaaaa\x01", 10, "", true, false, {"aaaaaaa=", "=01"}},
      {"line\r\n", 75, "", true, false, {"line=0D=0A"}},
      {"a=b?c d_e", 76, "?", false, true, {"a=3Db=3Fc d_e"}},
      {"a b\xe9", 76, " ", false, true, {"a_b=E9"}},
      {"a b", 76, " ", false, false, {"a=20b"}},
      {std::string(100, 'x'), 10, "", false, false, {std::string(100, 'x')}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<std::string> lines;
    int pos = 1;
    for (int guard = 0; guard < 100 && pos <= static_cast<int>(c.text.size()); ++guard)
      lines.push_back(
          QpEncodeSpan(c.text, c.maxLen, CharSetOf(c.specials), c.fold, pos, c.underscore));
    EXPECT_EQ(lines, c.lines);
  }
}

TEST(HdrEncodeInLine, RefusesBadCharSetAndEncType) {
  const std::tuple<std::string, char, std::string> cases[] = {
      {"abc", 'B', "Function 'HdrEncodeInLine', invalid CharSet: abc"},
      {"", 'Q', "Function 'HdrEncodeInLine', invalid CharSet: "},
      {"utf-8", 'X', "Function 'HdrEncodeInLine', invalid EncType: X"},
      {"utf-8", 'b', "Function 'HdrEncodeInLine', invalid EncType: b"},
  };
  for (const auto& [charset, type, message] : cases) {
    try {
      HdrEncodeInLine("text", kHdrSpecials, type, false, 76, charset);
      ADD_FAILURE() << message;
    } catch (const rtl::Exception& e) {
      EXPECT_EQ(e.Message, message);
      EXPECT_STREQ(e.ClassName(), "Exception");
    }
  }
}

TEST(HdrEncodeInLine, WordsAndFolding) {
  const std::tuple<std::string, char, bool, int, std::string, std::string> cases[] = {
      {"abc", 'B', false, 0, "ISO-2022-JP", "=?iso-2022-jp?B?YWJj?="},
      {"abcdefghi", 'B', true, 25, "UTF-8", "=?utf-8?B?YWJjZGVmZ2hp?="},
      {"abcdefghijkl", 'B', true, 25, "UTF-8", "=?utf-8?B?YWJjZGVmZ2hp?=\r\n\t=?utf-8?B?amts?="},
      // MaxCol below 25 counts as 25 when folding.
      {"abcdefghijkl", 'B', true, 5, "UTF-8", "=?utf-8?B?YWJjZGVmZ2hp?=\r\n\t=?utf-8?B?amts?="},
      {"a b=c?d_e(f)\x83\x41", 'Q', false, 0, "Shift_JIS",
       "=?shift_jis?Q?a_b=3Dc=3Fd=5Fe=28f=29=83A?="},
      {"abcdefghijklmnop", 'Q', true, 25, "UTF-8",
       "=?utf-8?Q?abcdefghijkl?=\r\n\t=?utf-8?Q?mnop?="},
  };
  for (const auto& [text, type, fold, maxCol, charset, words] : cases)
    EXPECT_EQ(HdrEncodeInLine(text, kHdrSpecials, type, fold, maxCol, charset), words) << text;
}

// Splits folded encoded words at CR LF TAB.
std::vector<std::string> Words(const std::string& folded) {
  std::vector<std::string> words;
  size_t start = 0;
  while (true) {
    size_t end = folded.find("\r\n\t", start);
    words.push_back(folded.substr(start, end - start));
    if (end == std::string::npos) return words;
    start = end + 3;
  }
}

TEST(HdrEncodeInLine, EveryWordHoldsInputWhenThePrefixLeavesNoRoom) {
  const std::string charset = "x-a-very-long-character-set-name";
  for (char type : {'B', 'Q'}) {
    std::string folded = HdrEncodeInLine("abcdefg", kHdrSpecials, type, true, 25, charset);
    std::vector<std::string> words = Words(folded);
    EXPECT_EQ(words.size(), type == 'B' ? 3u : 7u) << folded;
    for (const auto& w : words)
      EXPECT_GT(w.size(), charset.size() + 7) << folded;
  }
}

// Encoded words and a quoted-printable body, read back by Python's email package.
class PythonReadsOurMail : public ::testing::Test {
 protected:
  void SetUp() override {
    if (PythonPath().empty()) GTEST_SKIP() << "/usr/bin/python3 is not installed";
  }

  // A message with the given Subject value and the body in ISO-2022-JP, quoted-printable the way
  // the mail client sends a text part: one stream of lines of at most 75 characters.
  static std::string Message(const std::string& subject, const std::string& bodyJis) {
    std::string msg = "Subject: " + subject + "\r\nMime-Version: 1.0\r\n" +
                      "Content-Type: text/plain; charset=\"ISO-2022-JP\"\r\n" +
                      "Content-Transfer-Encoding: quoted-printable\r\n\r\n";
    int pos = 1;
    for (int guard = 0; guard < 10000 && pos <= static_cast<int>(bodyJis.size()); ++guard) {
      std::string line = QpEncodeSpan(bodyJis, 75, TCharSet(), true, pos, false);
      EXPECT_LE(line.size(), 75u);
      msg += line + "\r\n";
    }
    return msg;
  }
};

TEST_F(PythonReadsOurMail, EncodedWordsInEveryFormAndCharSet) {
  const std::string japanese =
      "警告：サーバ監視レポート（テスト）です。長い件名を折り返して送ります。ＡＢＣ abc";
  const std::string ascii = "Alert: a=b? c_d (test) <x@y> \"quoted\", [1]; done.";
  const std::string latin = "caf\xc3\xa9 na\xc3\xafve r\xc3\xa9sum\xc3\xa9 d\xc3\xa9j\xc3\xa0 vu";
  struct Case {
    std::string utf8;
    std::string charset;
    char type;
    bool fold;
    int maxCol;
  };
  const Case cases[] = {
      {japanese, "ISO-2022-JP", 'B', false, 0}, {japanese, "ISO-2022-JP", 'B', true, 66},
      {japanese, "ISO-2022-JP", 'Q', true, 66}, {japanese, "Shift_JIS", 'B', true, 40},
      {japanese, "Shift_JIS", 'Q', false, 0},   {japanese, "UTF-8", 'Q', true, 30},
      {ascii, "US-ASCII", 'Q', true, 30},       {latin, "UTF-8", 'B', true, 25},
  };
  const std::string body = "本文です。\r\nSecond line, ascii only.\r\n" + japanese + "\r\n";
  const std::string bodyJis = SjisToJis(rtl::Utf8ToCp932(body));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.charset + " " + c.type + (c.fold ? " folded" : ""));
    std::string bytes = c.utf8;
    if (c.charset != "UTF-8" && c.charset != "US-ASCII") bytes = rtl::Utf8ToCp932(c.utf8);
    if (c.charset == "ISO-2022-JP") bytes = SjisToJis(bytes);
    std::string subject = HdrEncodeInLine(bytes, kHdrSpecials, c.type, c.fold, c.maxCol, c.charset);
    std::vector<std::string> words = Words(subject);
    if (c.fold) {
      EXPECT_GT(words.size(), 1u) << subject;
      for (const auto& w : words)
        EXPECT_LE(static_cast<int>(w.size()), c.maxCol) << subject;
    } else {
      EXPECT_EQ(words.size(), 1u);
    }
    auto mail = DecodeWithPython(Message(subject, bodyJis));
    ASSERT_TRUE(mail.ok) << mail.error;
    EXPECT_EQ(mail.subjectClassic, c.utf8) << subject;
    // A single word is self-contained, so the strict parser agrees.
    if (!c.fold) {
      EXPECT_EQ(mail.subjectModern, c.utf8) << subject;
    }
    EXPECT_EQ(mail.body, body + "\r\n");  // the line end after the last encoded line
  }
}

TEST_F(PythonReadsOurMail, QuotedPrintableOfEveryByte) {
  // Every byte value in a body that is not text: Python must get each byte back.
  std::string bytes;
  for (int round = 0; round < 3; ++round)
    for (int b = 0; b < 256; ++b)
      bytes += static_cast<char>(b);
  std::string msg =
      "Subject: x\r\nContent-Type: text/plain; charset=\"latin-1\"\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n\r\n";
  int pos = 1;
  for (int guard = 0; guard < 10000 && pos <= static_cast<int>(bytes.size()); ++guard) {
    std::string line = QpEncodeSpan(bytes, 75, TCharSet(), true, pos, false);
    ASSERT_LE(line.size(), 75u);
    msg += line + "\r\n";
  }
  auto mail = DecodeWithPython(msg);
  ASSERT_TRUE(mail.ok) << mail.error;
  std::string expected;  // the bytes as latin-1 text in UTF-8, then the last line's end
  for (unsigned char b : bytes) {
    if (b < 0x80) {
      expected += static_cast<char>(b);
    } else {
      expected += static_cast<char>(0xC0 | (b >> 6));
      expected += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  EXPECT_EQ(mail.body, expected + "\r\n");
}

struct FoldCase {
  std::string line;
  std::vector<std::string> entries;
};

TEST(FoldHdrLine, FoldsOnlyLinesOver76Columns) {
  const std::string line76 = "Subject: " + std::string(30, 'a') + " " + std::string(36, 'b');
  ASSERT_EQ(line76.size(), 76u);
  const FoldCase cases[] = {
      {line76, {line76}},
      {line76 + "c", {"Subject: " + std::string(30, 'a'), "\t" + std::string(36, 'b') + "c"}},
      {"To: aaaa@example.com, bbbb@example.com, cccc@example.com, dddd@example.com, "
       "eeee@example.com",
       {"To: aaaa@example.com, bbbb@example.com, cccc@example.com, dddd@example.com,",
        "\teeee@example.com"}},
      {"Subject: =?x?B?AAAA?=\r\n\t=?x?B?BBBB?=", {"Subject: =?x?B?AAAA?=", "\t=?x?B?BBBB?="}},
      // Blanks alone never make a continuation line (it would read as the end of the header).
      {"Subject: abc" + std::string(100, ' '), {"Subject: abc"}},
      {"Subject:", {"Subject:"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    rtl::TStringList list;
    list.Add("Before: 1");
    FoldHdrLine(list, c.line);
    std::vector<std::string> got;
    for (int i = 1; i < list.Count(); ++i)
      got.push_back(list[i]);
    EXPECT_EQ(got, c.entries);
  }
}

TEST(FoldHdrLine, LongListStaysWithin76Columns) {
  std::string line = "To:";
  for (int i = 0; i < 40; ++i)
    line += " user" + std::to_string(i) + "@example.com,";
  rtl::TStringList list;
  FoldHdrLine(list, line);
  std::string joined;
  for (int i = 0; i < list.Count(); ++i) {
    EXPECT_LE(list[i].size(), 77u) << list[i];  // a TAB and at most 76 columns
    EXPECT_EQ(list[i][0] == '\t', i > 0);
    joined += (i ? " " + list[i].substr(1) : list[i]);
  }
  EXPECT_GT(list.Count(), 5);
  EXPECT_EQ(joined, line);
}

TEST(FoldHdrValue, JoinsTrimmedPiecesWithCrLfTab) {
  EXPECT_EQ(FoldHdrValue("a long file name with blanks.txt", CharSetOf(" "), 10),
            "a long\r\n\tfile name\r\n\twith\r\n\tblanks.txt");
  EXPECT_EQ(FoldHdrValue("short.txt", CharSetOf(" "), 63), "short.txt");
  EXPECT_EQ(FoldHdrValue("x\r\n\ty", CharSetOf(" "), 63), "x\r\n\ty");
}

}  // namespace
}  // namespace net::mail
