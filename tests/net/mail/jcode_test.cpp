#include "net/mail/jcode.h"

#include <gtest/gtest.h>

#include <functional>

#include "rtl/cp932.h"
#include "tests/net/mail/tool.h"

namespace net::mail {
namespace {

using testing::DecodeWithPython;
using testing::FindProgram;
using testing::PythonPath;

const std::string kEnter = "\x1b$B";
const std::string kLeave = "\x1b(J";
const std::string kEnd = "\x1b(B";

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes)
    s += static_cast<char>(b);
  return s;
}

// Every two-byte CP932 code of the JIS X 0208 rows (leads 0x81-0x84, 0x88-0x9F, 0xE0-0xEA) that
// CP932 defines, as iconv reads it.
const std::vector<std::string>& JisX0208Chars() {
  static const std::vector<std::string> chars = [] {
    std::vector<std::string> v;
    for (int lead = 0x81; lead <= 0xEA; ++lead) {
      if ((lead > 0x84 && lead < 0x88) || (lead > 0x9F && lead < 0xE0)) continue;
      for (int trail = 0x40; trail <= 0xFC; ++trail) {
        if (trail == 0x7F) continue;
        std::string c = Bytes({lead, trail}), utf8;
        if (rtl::IconvConvert("CP932", "UTF-8", c, utf8)) v.push_back(c);
      }
    }
    return v;
  }();
  return chars;
}

// All of them in one text, 40 to a line, with ASCII letters between some of them, so the
// converters switch modes often.
std::string AllCharsText() {
  std::string text;
  const auto& chars = JisX0208Chars();
  for (size_t i = 0; i < chars.size(); ++i) {
    text += chars[i];
    if (i % 40 == 39) text += "\r\n";
    if (i % 97 == 0) text += "Ab";
  }
  return text;
}

TEST(JisX0208, EveryCharacterRoundTripsAndIconvAgrees) {
  const auto& chars = JisX0208Chars();
  ASSERT_EQ(chars.size(), 6879u);  // the size of JIS X 0208
  for (const auto& c : chars) {
    SCOPED_TRACE(::testing::PrintToString(c));
    std::string jis = SjisToJis(c);
    ASSERT_EQ(jis.size(), 8u);
    ASSERT_EQ(jis.substr(0, 3), kEnter);
    ASSERT_EQ(jis.substr(5), kEnd);
    ASSERT_GE(jis[3], 0x21);
    ASSERT_LE(jis[3], 0x7E);
    ASSERT_GE(jis[4], 0x21);
    ASSERT_LE(jis[4], 0x7E);
    ASSERT_EQ(JisToSjis(jis), c);
  }

  const std::string text = AllCharsText();
  const std::string jis = SjisToJis(text);
  EXPECT_EQ(JisToSjis(jis), text);
  EXPECT_EQ(ConvertJCode(text, jcJis), jis);
  EXPECT_EQ(ConvertJCode(jis, jcSjis), text);
  std::string viaIconv;
  ASSERT_TRUE(rtl::IconvConvert("ISO-2022-JP", "CP932", jis, viaIconv));
  EXPECT_EQ(viaIconv, text);

  const std::string euc = SjisToEuc(text);
  ASSERT_TRUE(rtl::IconvConvert("EUC-JP", "CP932", euc, viaIconv));
  EXPECT_EQ(viaIconv, text);
  EXPECT_EQ(EucToSjis(euc), text);
  EXPECT_EQ(EucToJis(euc), jis);
  EXPECT_EQ(JisToEuc(jis), euc);
}

TEST(JisX0208, NkfReadsOurJisBack) {
  const std::string nkf = FindProgram("nkf");
  if (nkf.empty()) GTEST_SKIP() << "nkf is not installed";
  const std::string text = AllCharsText();
  bool ok;
  std::string back = testing::Filter(nkf, {"-J", "-s"}, SjisToJis(text), ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(back, text);
}

// Every half-width katakana alone, with the voiced mark and with the semi-voiced mark, between
// blanks, kanji and line ends.
std::string HalfWidthKanaText() {
  std::string text;
  for (int k = 0xA1; k <= 0xDF; ++k) {
    std::string kana = Bytes({k});
    text += kana + " " + kana + "\xde" + "\x8a\xbf" + kana + "\xdf" + "\r\n";
  }
  text += "\xb6\xde\xb7\xde\xb8\xde\xca\xdf\xcb\xdf\xcc\xdf\xb3\xde\xdc\xde\xde\xdf\r\n";
  return text;
}

TEST(HalfWidthKana, FoldsLikeNkf) {
  const std::string nkf = FindProgram("nkf");
  if (nkf.empty()) GTEST_SKIP() << "nkf is not installed";
  const std::string text = HalfWidthKanaText();
  bool ok;
  const std::string nkfJis = testing::Filter(nkf, {"-S", "-j"}, text, ok);
  ASSERT_TRUE(ok);
  const std::string expected = testing::Filter(nkf, {"-J", "-s"}, nkfJis, ok);
  ASSERT_TRUE(ok);
  for (size_t i = 0; i < expected.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(expected[i]);
    ASSERT_FALSE(b >= 0xA1 && b <= 0xDF) << "nkf left a half-width kana at " << i;
    if (rtl::IsLeadByte(b)) ++i;
  }

  const std::string ours = SjisToJis(text);
  EXPECT_EQ(testing::Filter(nkf, {"-J", "-s"}, ours, ok), expected);
  ASSERT_TRUE(ok);
  EXPECT_EQ(JisToSjis(ours), expected);
  std::string oursByIconv, nkfByIconv;
  ASSERT_TRUE(rtl::IconvConvert("ISO-2022-JP", "CP932", ours, oursByIconv));
  ASSERT_TRUE(rtl::IconvConvert("ISO-2022-JP", "CP932", nkfJis, nkfByIconv));
  EXPECT_EQ(oursByIconv, nkfByIconv);
  // The EUC form of the kana (0x8E k) folds the same way.
  EXPECT_EQ(EucToJis(SjisToEuc(text)), ours);
}

TEST(HalfWidthKana, VoicedAndSemiVoicedMarks) {
  const std::pair<std::string, std::string> cases[] = {
      {"\xb6\xde", Bytes({0x25, 0x2C})},
      {"\xca\xdf", Bytes({0x25, 0x51})},
      {"\xb3\xde", Bytes({0x25, 0x74})},
      {"\xca\xde", Bytes({0x25, 0x50})},
      {"\xc2\xde", Bytes({0x25, 0x45})},
      {"\xce\xdf", Bytes({0x25, 0x5D})},
      {"\xb1\xde", Bytes({0x25, 0x22, 0x21, 0x2B})},  // no voiced a: two characters
      {"\xb6\xdf", Bytes({0x25, 0x2B, 0x21, 0x2C})},
      {"\xdc\xde", Bytes({0x25, 0x6F, 0x21, 0x2B})},
      {"\xa1\xa4\xb0", Bytes({0x21, 0x23, 0x21, 0x22, 0x21, 0x3C})},
  };
  for (const auto& [sjis, pairs] : cases) {
    SCOPED_TRACE(::testing::PrintToString(sjis));
    EXPECT_EQ(SjisToJis(sjis), kEnter + pairs + kEnd);
    EXPECT_EQ(EucToJis(SjisToEuc(sjis)), kEnter + pairs + kEnd);
  }
  size_t pos = 0;
  EXPECT_EQ(SjisKanaToJis("\xb6\xde"
                          "x",
                          pos),
            (TBytePair{0x25, 0x2C}));
  EXPECT_EQ(pos, 2u);
  pos = 0;
  EXPECT_EQ(SjisKanaToJis("\xb6x", pos), (TBytePair{0x25, 0x2B}));
  EXPECT_EQ(pos, 1u);
  pos = 0;
  EXPECT_EQ(EucKanaToJis("\x8e\xca\x8e\xdf", pos), (TBytePair{0x25, 0x51}));
  EXPECT_EQ(pos, 4u);
  pos = 0;
  EXPECT_EQ(EucKanaToJis("\x8e\x41", pos), (TBytePair{0x22, 0x2E}));  // not a kana
  EXPECT_EQ(pos, 2u);
}

TEST(DetectJCode, Table) {
  const std::pair<std::string, int> cases[] = {
      {"", jcAscii},
      {"hello", jcAscii},
      {"\x1b(Jabc", jcAscii},
      {"abc\x83", jcAscii},  // the last byte is never examined
      {"\x80\xa0x", jcAscii},
      {"\x05"
       "abc",
       jcBinary},
      {"ab\xff"
       "c",
       jcBinary},
      {"abc\x05", jcAscii},
      {"a\x1b$B%+\x1b(J", jcJis},
      {"\x1b$@%+", jcOldJis},
      {"\x83\x41", jcSjis},
      {"\x8e\x40x", jcSjis},
      {"\x8e\xb1\x8e\xb1", jcEucOrSjis},
      {"\xb4\xc1\xbb\xfa", jcEuc},
      {"\xb1\xf0", jcEuc},
      {"\xb1\xb1", jcEucOrSjis},
      {"\xb1\x41", jcSjis},
      {"\xa4\xe0\x81x", jcSjis},
      {"\xa4\xe0\xfdx", jcEuc},
      {"\xa4\xe0\xa1\xa1", jcEucOrSjis},
      {"\xa4\xe0\x1b$Bxx", jcEucOrSjis},  // the byte that stops the run is used up
      {"\xf0\xa1", jcEuc},
      {"\xe0\x40", jcSjis},
      {"\xe0\xfd", jcEuc},
      {"\xe0\xa1", jcEucOrSjis},
      {std::string(600, 'a') + "\x05"
                               "a",
       jcBinary},
      {"\x83\x41" + std::string(505, 'a') +
           "\x05"
           "a",
       jcBinary},  // inside the first 512
      {"\x83\x41" + std::string(600, 'a') +
           "\x05"
           "a",
       jcSjis},
  };
  for (const auto& [text, code] : cases)
    EXPECT_EQ(DetectJCode(text), code) << ::testing::PrintToString(text);
}

TEST(Converters, KnownOutputs) {
  using Fn = std::function<std::string(std::string_view)>;
  const std::tuple<const char*, Fn, std::string, std::string> cases[] = {
      {"SjisToJis", SjisToJis, "\x83\x4a\x41", kEnter + "%+" + kLeave + "A"},
      {"SjisToJis", SjisToJis, "\x83\x4a", kEnter + "%+" + kEnd},
      {"SjisToJis", SjisToJis, "a\r\n\x83\x41\r\nb", "a\r\n" + kEnter + "%\"" + kLeave + "\r\nb"},
      {"EucToJis", EucToJis,
       "\xa5\xab"
       "A",
       kEnter + "%+" + kLeave + "A"},
      {"JisToSjis", JisToSjis, kEnter + "%+" + kLeave + "x",
       "\x83\x4a"
       "x"},
      {"JisToSjis", JisToSjis, kEnter + kEnter + "%+" + kEnd, "\x83\x4a"},
      {"JisToSjis", JisToSjis, kEnter + "%+\r\n%+" + kEnd, "\x83\x4a\r\n\x83\x4a"},
      {"JisToSjis", JisToSjis, "\x1b$@4A\x1b(J", "\x8a\xbf"},
      {"JisToEuc", JisToEuc, kEnter + "%+" + kEnd + "x",
       "\xa5\xab"
       "x"},
      {"EucToSjis", EucToSjis, "\xa5\xab\x8e\xb1x", "\x83\x4a\xb1x"},
      {"SjisToEuc", SjisToEuc, "\x83\x4a\xb1x", "\xa5\xab\x8e\xb1x"},
  };
  for (const auto& [name, fn, in, out] : cases)
    EXPECT_EQ(fn(in), out) << name << " " << ::testing::PrintToString(in);
}

TEST(ConvertJCode, ByDetectedCodeAndTarget) {
  const std::string sjis = "\x8a\xbf\x8e\x9a";  // two kanji
  const std::string euc = "\xb4\xc1\xbb\xfa";
  const std::string jis = kEnter + "4A;z" + kEnd;
  const std::tuple<std::string, int, std::string> cases[] = {
      {"", jcJis, ""},
      {"plain", jcJis, "plain"},
      {sjis, jcJis, jis},
      {jis, jcJis, jis},  // already JIS: a second conversion changes nothing
      {euc, jcJis, jis},
      {euc, jcSjis, sjis},
      {jis, jcSjis, sjis},
      {jis, jcEuc, euc},
      {sjis, jcEuc, euc},
      {"\x1b$@4A;z\x1b(J", jcSjis, sjis},
      {"\x1b$@4A;z\x1b(J", jcJis, "\x1b$@4A;z\x1b(J"},
      {"\x05" + sjis, jcJis, "\x05" + sjis},  // binary
      {"\xb1\xb1", jcJis, "\xb1\xb1"},        // undecided
      {sjis, 7, sjis},
  };
  for (const auto& [in, target, out] : cases)
    EXPECT_EQ(ConvertJCode(in, target), out) << ::testing::PrintToString(in) << " to " << target;
}

// Each case converts only the first bytes of a longer string: reading past the end would pull in
// the bytes after it and change the result.
TEST(Converters, TruncatedInputStopsAtTheEnd) {
  using Fn = std::function<std::string(std::string_view)>;
  const std::tuple<const char*, Fn, std::string, size_t, std::string> cases[] = {
      {"SjisToJis", SjisToJis, "a\x83\x41", 2, "a" + kEnter + kEnd},
      {"SjisToJis", SjisToJis, "\xb6\xde", 1, kEnter + "%+" + kEnd},
      {"EucToJis", EucToJis, "\x8e\xb6\x8e\xde", 3, kEnter + "%+" + kEnd},
      {"EucToJis", EucToJis, "\x8e\xb6", 1, kEnter + kEnd},
      {"EucToJis", EucToJis, "\xa5\xab", 1, kEnter + kEnd},
      {"JisToSjis", JisToSjis, kEnter + "%+", 4, ""},
      {"JisToSjis", JisToSjis, kEnter + "%+", 2, ""},
      {"JisToEuc", JisToEuc, "x" + kEnter, 3, "x"},
      {"EucToSjis", EucToSjis, "\xa5\xab", 1, ""},
      {"EucToSjis", EucToSjis, "\x8e\xb1", 1, ""},
      {"SjisToEuc", SjisToEuc, "\x83\x4a", 1, ""},
      {"EncodeMimeHeaderJis", EncodeMimeHeaderJis, "A\x83\x41", 2, "A=?ISO-2022-JP?B?GyRCGyhC?="},
      {"DetectJCode", [](std::string_view s) { return std::to_string(DetectJCode(s)); }, "\x1b$B",
       2, "0"},
      {"DetectJCode", [](std::string_view s) { return std::to_string(DetectJCode(s)); },
       "\xa4\xe0\x40\x81", 3, "6"},
  };
  for (const auto& [name, fn, full, n, out] : cases)
    EXPECT_EQ(fn(std::string_view(full).substr(0, n)), out)
        << name << " " << ::testing::PrintToString(full) << " cut to " << n;
}

TEST(EncodeMimeHeaderJis, RunsBecomeSelfContainedWords) {
  const std::pair<std::string, std::string> cases[] = {
      {"Kelvadon Report", "Kelvadon Report"},
      {"", ""},
      {"A\x83\x41 B", "A=?ISO-2022-JP?B?GyRCJSIbKEI=?= B"},
      {"\x83\x41", "=?ISO-2022-JP?B?GyRCJSIbKEI=?="},
      {"\xb1", "=?ISO-2022-JP?B?GyRCJSIbKEI=?="},  // half-width a, as full-width a
  };
  for (const auto& [in, out] : cases)
    EXPECT_EQ(EncodeMimeHeaderJis(in), out) << ::testing::PrintToString(in);
}

TEST(EncodeMimeHeaderJis, PythonDecodesTheSubject) {
  if (PythonPath().empty()) GTEST_SKIP() << "/usr/bin/python3 is not installed";
  const std::string subjects[] = {
      "Kelvadon Report",
      "[Kelvadon] 警告: サーバ(host01)停止 - ﾊﾝｶｸｶﾞﾊﾟ",
      "監視レポート",
      "a漢b字c",
  };
  for (const auto& utf8 : subjects) {
    SCOPED_TRACE(utf8);
    std::string subject = EncodeMimeHeaderJis(rtl::Utf8ToCp932(utf8));
    auto mail =
        DecodeWithPython("Subject: " + subject +
                         "\r\nContent-Type: text/plain; charset=\"ISO-2022-JP\"\r\n\r\nx\r\n");
    ASSERT_TRUE(mail.ok) << mail.error;
    // Half-width katakana come back in their full-width forms.
    std::string expected = rtl::Cp932ToUtf8(JisToSjis(SjisToJis(rtl::Utf8ToCp932(utf8))));
    EXPECT_EQ(mail.subjectModern, expected) << subject;
  }
}

}  // namespace
}  // namespace net::mail
