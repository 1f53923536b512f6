#include "rtl/cp932.h"

#include <gtest/gtest.h>

#include <string>

namespace rtl {
namespace {

// CP932 bytes of a few characters. Their trail bytes are the ones that break byte-naive code:
// "ソ" ends in "\" (0x5C), "ア" in "A", "ヂ" in "a", "＝" in a byte that is also a lead byte.
constexpr char kSo[] = "\x83\x5C";      // ソ
constexpr char kA[] = "\x83\x41";       // ア
constexpr char kDi[] = "\x83\x61";      // ヂ
constexpr char kEquals[] = "\x81\x81";  // ＝
constexpr char kHalfA[] = "\xB1";       // ｱ (single byte)

TEST(Cp932, LeadBytes) {
  for (int b = 0; b < 256; ++b) {
    bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    EXPECT_EQ(IsLeadByte(static_cast<unsigned char>(b)), lead) << "byte " << b;
  }
}

TEST(Cp932, TrailBytePositions) {
  struct Case {
    std::string text;
    std::string trails;  // 'T' where the byte is a trail byte
  } cases[] = {
      {"a" + std::string(kSo) + "b", "..T."},
      {std::string(kEquals) + kEquals, ".T.T"},  // a trail that looks like a lead
      {std::string(kHalfA) + kA, "..T"},
      {"\x83", "."},  // a lead byte cut off at the end
  };
  for (const auto& c : cases) {
    for (size_t i = 0; i < c.text.size(); ++i)
      EXPECT_EQ(IsTrailByteAt(c.text, i), c.trails[i] == 'T') << c.trails << " at " << i;
    EXPECT_FALSE(IsTrailByteAt(c.text, c.text.size()));
  }
}

TEST(Cp932, TrimRemovesOnlyControlAndSpaceBytes) {
  const std::string blanks("\0\t\r\n \x1F\x20", 7);
  const std::string body = std::string(kHalfA) + " x " + kSo;  // bytes above 0x7F stay
  EXPECT_EQ(Trim(blanks + body + blanks), body);
  EXPECT_EQ(TrimLeft(blanks + body + blanks), body + blanks);
  EXPECT_EQ(TrimRight(blanks + body + blanks), blanks + body);
  EXPECT_EQ(Trim(blanks), "");
  EXPECT_EQ(Trim("\x81\x40"), "\x81\x40");  // the ideographic space is a character, not a blank
}

TEST(Cp932, CaseFoldingLeavesTrailBytes) {
  struct Case {
    std::string in, upper, lower;
  } cases[] = {
      {"Abc-xyZ", "ABC-XYZ", "abc-xyz"},
      {std::string(kA) + "A", std::string(kA) + "A", std::string(kA) + "a"},
      {std::string(kDi) + "a", std::string(kDi) + "A", std::string(kDi) + "a"},
      {std::string(kEquals) + kA + "q", std::string(kEquals) + kA + "Q",
       std::string(kEquals) + kA + "q"},
      {std::string(kHalfA) + "z", std::string(kHalfA) + "Z", std::string(kHalfA) + "z"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UpperCase(c.in), c.upper) << c.in;
    EXPECT_EQ(LowerCase(c.in), c.lower) << c.in;
  }
}

TEST(Cp932, Comparisons) {
  EXPECT_TRUE(SameText("Kelvadon.INI", "kelvadon.ini"));
  EXPECT_TRUE(SameText(std::string(kSo) + "abc", std::string(kSo) + "ABC"));
  // Trail bytes are compared as they are: ア (83 41) and ヂ (83 61) differ.
  EXPECT_FALSE(SameText(kA, kDi));
  EXPECT_LT(CompareText("apple", "Banana"), 0);
  EXPECT_GT(CompareText("abcd", "ABC"), 0);
  EXPECT_EQ(CompareText("", ""), 0);
  // Bytes compare as unsigned: a double-byte character sorts after ASCII.
  EXPECT_GT(CompareStr(kA, "z"), 0);
  EXPECT_GT(CompareText(kA, "z"), 0);
  EXPECT_LT(CompareStr("B", "a"), 0);
  EXPECT_EQ(CompareStr("same", "same"), 0);
  EXPECT_LT(CompareStr("same", "samex"), 0);
}

TEST(Cp932, ConvertsToAndFromUtf8) {
  struct Case {
    std::string cp932, utf8;
  } cases[] = {
      {"\\~", "\\~"},  // CP932, not Shift-JIS: no yen sign, no overline
      {kSo, "ソ"},
      {"\x83\x56\x83\x58\x83\x65\x83\x80", "システム"},
      {std::string(kHalfA) + "C:" + kEquals, "ｱC:＝"},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Cp932ToUtf8(c.cp932), c.utf8);
    EXPECT_EQ(Utf8ToCp932(c.utf8), c.cp932);
    std::string out;
    ASSERT_TRUE(IconvConvert("CP932", "UTF-8", c.cp932, out));
    EXPECT_EQ(out, c.utf8);
  }
}

TEST(Cp932, ConvertsTextLongerThanOneBuffer) {
  std::string cp932, utf8;
  for (int i = 0; i < 5000; ++i) {
    cp932 += kSo;
    cp932 += static_cast<char>('a' + i % 26);
    utf8 += "ソ";
    utf8 += static_cast<char>('a' + i % 26);
  }
  EXPECT_EQ(Cp932ToUtf8(cp932), utf8);
  EXPECT_EQ(Utf8ToCp932(utf8), cp932);
}

TEST(Cp932, BadInputBecomesOneQuestionMarkPerCharacter) {
  struct Case {
    bool toUtf8;
    std::string in, out;
  } cases[] = {
      {true, "a\x83", "a?"},  // lead byte cut off
      {true,
       "a\x80"
       "b",
       "a?b"},  // not a CP932 byte
      {true,
       "a\x85\x40"
       "b",
       "a?b"},  // well-formed pair with no character
      {true,
       "\x83\x20"
       "b",
       "? b"},  // a lead byte before a byte that cannot trail
      {false,
       "a\xF0\x9F\x98\x80"
       "b",
       "a?b"},  // a character CP932 lacks
      {false,
       "a\xE3\x82"
       "b",
       "a?b"},  // a cut-off UTF-8 sequence
      {false,
       "a\xFF"
       "b",
       "a?b"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.toUtf8 ? Cp932ToUtf8(c.in) : Utf8ToCp932(c.in), c.out) << c.in;
    std::string out;
    EXPECT_FALSE(
        IconvConvert(c.toUtf8 ? "CP932" : "UTF-8", c.toUtf8 ? "UTF-8" : "CP932", c.in, out));
  }
  std::string out;
  EXPECT_FALSE(IconvConvert("NO-SUCH-CODE", "UTF-8", "a", out));
}

}  // namespace
}  // namespace rtl
